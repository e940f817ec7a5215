// Commands and replies of the Tarvik readers, and the two settings records.
#include "protocol/wire.h"

#include <cstring>

namespace {

const unsigned char LnxReadCommand[ReadCommandLength] = {
    'A', 'T', '+', 'R', 'E', 'A', 'D', 'S', '_', 'L', 'N', 'X'};
const unsigned char UsbReadCommand[ReadCommandLength] = {
    'A', 'T', '+', 'R', 'E', 'A', 'D', 'S', '_', 'U', 'S', 'B'};

// Both reader kinds currently run the same firmware release.
const char LnxSupportedVersion[FirmwareVersionLength] = {'1', '.', '0', '0'};
const char UsbSupportedVersion[FirmwareVersionLength] = {'1', '.', '0', '0'};

const char Separator[] = " - ";
const char Acknowledgement[] = "OK!";
const char Refusal[] = "UNKNOWN CMD!";
const char PayloadIntroducer[] = " >> ";

constexpr int SeparatorLength = 3;
constexpr int AcknowledgementLength = 3;
constexpr int RefusalLength = 12;
constexpr int PayloadIntroducerLength = 4;

// True when `length` bytes at `at` lie within the count and equal `text`.
bool matchesAt(const unsigned char *buffer, int count, int at, const char *text, int length)
{
    if (at < 0 || at > count - length)
        return false;
    return std::memcmp(buffer + at, text, static_cast<size_t>(length)) == 0;
}

// Compares the keyword behind its first letter, which the caller has already
// seen at `first`. Returns -1 when all of it matches, -2 when the count cuts
// it off, otherwise the position of the first byte that differs.
int matchKeywordTail(const unsigned char *buffer, int count, int first, const char *keyword, int length)
{
    for (int i = 1; i < length; ++i) {
        int at = first + i;
        if (at >= count)
            return -2;
        if (buffer[at] != static_cast<unsigned char>(keyword[i]))
            return at;
    }
    return -1;
}

void putLetters(WriteCommand &command, int &at, const char *letters)
{
    for (; *letters != '\0'; ++letters)
        command.bytes[at++] = static_cast<unsigned char>(*letters);
}

}  // namespace

const unsigned char *readCommand(ReaderType type)
{
    return type == ReaderType::Usb ? UsbReadCommand : LnxReadCommand;
}

ReplyKind classifyReply(unsigned char *buffer, int count)
{
    if (buffer == nullptr || count <= 0)
        return ReplyKind::Unrecognized;

    int p = 0;
    while (p < count) {
        if (!matchesAt(buffer, count, p, Separator, SeparatorLength)) {
            ++p;
            continue;
        }
        int k = p + SeparatorLength;
        if (k >= count)
            return ReplyKind::Unrecognized;

        if (buffer[k] == 'O') {
            int r = matchKeywordTail(buffer, count, k, Acknowledgement, AcknowledgementLength);
            if (r == -2)
                return ReplyKind::Unrecognized;
            if (r >= 0) {
                p = r + 1;
                continue;
            }
            int introducer = k + AcknowledgementLength;
            if (!matchesAt(buffer, count, introducer, PayloadIntroducer, PayloadIntroducerLength))
                return ReplyKind::WriteAck;
            int payload = introducer + PayloadIntroducerLength;
            // With nothing behind the introducer the buffer is left alone; the
            // version check then fails on whatever the block begins with.
            if (payload < count)
                std::memmove(buffer, buffer + payload, static_cast<size_t>(count - payload));
            return ReplyKind::SettingsReply;
        }

        if (buffer[k] == 'U') {
            int r = matchKeywordTail(buffer, count, k, Refusal, RefusalLength);
            if (r == -2)
                return ReplyKind::Unrecognized;
            if (r >= 0) {
                p = r + 1;
                continue;
            }
            return ReplyKind::UnknownCommand;
        }

        p = k + 1;
    }
    return ReplyKind::Unrecognized;
}

int checkFirmwareVersion(ReaderType type, const unsigned char *payload)
{
    const char *supported;
    switch (type) {
    case ReaderType::Lnx: supported = LnxSupportedVersion; break;
    case ReaderType::Usb: supported = UsbSupportedVersion; break;
    default: return -1;
    }
    return std::memcmp(payload, supported, FirmwareVersionLength) == 0 ? 0 : -1;
}

LnxSettings decodeLnxSettings(const unsigned char *payload)
{
    LnxSettings s;
    std::memcpy(s.firmwareVersion, payload, FirmwareVersionLength);

    s.readerInterface = LnxInterface::NotRecognized;
    if (payload[4] == 'T' && payload[5] == 'M' && payload[6] == 'X')
        s.readerInterface = LnxInterface::TouchMemory;
    else if (payload[4] == 'W' && payload[5] == '2' && payload[6] == '6')
        s.readerInterface = LnxInterface::Wiegand26;
    else if (payload[4] == 'W' && payload[5] == '4' && payload[6] == '4')
        s.readerInterface = LnxInterface::Wiegand44;

    switch (payload[7]) {
    case '1': s.indicationControl = IndicationControl::Direct; break;
    case '0': s.indicationControl = IndicationControl::Inverse; break;
    default: s.indicationControl = IndicationControl::NotRecognized; break;
    }

    switch (payload[8]) {
    case 'D': s.standbyIndication = StandbyIndication::Dynamic; break;
    case 'S': s.standbyIndication = StandbyIndication::Static; break;
    case 'A': s.standbyIndication = StandbyIndication::Off; break;
    default: s.standbyIndication = StandbyIndication::NotRecognized; break;
    }

    switch (payload[9]) {
    case 'O': s.touchButtonPoll = TouchButtonPoll::On; break;
    case 'F': s.touchButtonPoll = TouchButtonPoll::Off; break;
    default: s.touchButtonPoll = TouchButtonPoll::NotRecognized; break;
    }
    return s;
}

UsbSettings decodeUsbSettings(const unsigned char *payload)
{
    UsbSettings s;
    std::memcpy(s.firmwareVersion, payload, FirmwareVersionLength);

    switch (payload[4]) {
    case 'W': s.operatingMode = OperatingMode::Windows; break;
    case 'A': s.operatingMode = OperatingMode::AllOs; break;
    default: s.operatingMode = OperatingMode::NotRecognized; break;
    }

    // Format and type are read together: "HD" fixes the format even when the
    // type letter behind it is unknown.
    if (payload[5] == 'H' && payload[6] == 'D') {
        s.outputFormat = OutputFormat::HexOrDec;
        if (payload[7] == 'H')
            s.outputType = OutputType::Hex;
        else if (payload[7] == 'D')
            s.outputType = OutputType::Dec;
        else
            s.outputType = OutputType::NotRecognized;
    } else if (payload[5] == 'T' && payload[6] == 'M' && payload[7] == 'X') {
        s.outputFormat = OutputFormat::TouchMemory;
        s.outputType = OutputType::Absent;
    } else {
        s.outputFormat = OutputFormat::NotRecognized;
        s.outputType = OutputType::Absent;
    }

    if (payload[8] >= '2' && payload[8] <= '5')
        s.idByteCount = payload[8] - '0';
    else
        s.idByteCount = 0;

    s.cardsToRead = CardsToRead::NotRecognized;
    if (payload[9] == 'E' && payload[10] == 'M')
        s.cardsToRead = CardsToRead::All;
    else if (payload[9] == 'E' && payload[10] == 'X')
        s.cardsToRead = CardsToRead::HidEm;
    else if (payload[9] == 'X' && payload[10] == 'M')
        s.cardsToRead = CardsToRead::MifarePay;
    return s;
}

// A field marked NotRecognized cannot come from the panel; should one reach
// the encoder anyway, it is sent as the page's default choice rather than as
// a byte the reader would refuse.
WriteCommand encodeWriteCommand(const LnxSettings &settings)
{
    WriteCommand command = {};
    int at = 0;
    putLetters(command, at, "AT+");

    switch (settings.readerInterface) {
    case LnxInterface::Wiegand26: putLetters(command, at, "W26"); break;
    case LnxInterface::Wiegand44: putLetters(command, at, "W44"); break;
    default: putLetters(command, at, "TMX"); break;
    }
    putLetters(command, at, settings.indicationControl == IndicationControl::Inverse ? "0" : "1");
    switch (settings.standbyIndication) {
    case StandbyIndication::Dynamic: putLetters(command, at, "D"); break;
    case StandbyIndication::Static: putLetters(command, at, "S"); break;
    default: putLetters(command, at, "A"); break;
    }
    putLetters(command, at, settings.touchButtonPoll == TouchButtonPoll::Off ? "F" : "O");

    command.length = at;
    return command;
}

WriteCommand encodeWriteCommand(const UsbSettings &settings)
{
    WriteCommand command = {};
    int at = 0;
    putLetters(command, at, "AT+");

    putLetters(command, at, settings.operatingMode == OperatingMode::AllOs ? "A" : "W");
    // Touch Memory carries no type, so whatever outputType holds is ignored.
    if (settings.outputFormat == OutputFormat::TouchMemory)
        putLetters(command, at, "TMX");
    else if (settings.outputFormat == OutputFormat::HexOrDec && settings.outputType == OutputType::Dec)
        putLetters(command, at, "HDD");
    else
        putLetters(command, at, "HDH");

    const char digit[2] = {
        static_cast<char>(settings.idByteCount >= 2 && settings.idByteCount <= 5 ? '0' + settings.idByteCount
                                                                                 : '5'),
        '\0'};
    putLetters(command, at, digit);

    switch (settings.cardsToRead) {
    case CardsToRead::HidEm: putLetters(command, at, "EX"); break;
    case CardsToRead::MifarePay: putLetters(command, at, "XM"); break;
    default: putLetters(command, at, "EM"); break;
    }

    command.length = at;
    return command;
}
