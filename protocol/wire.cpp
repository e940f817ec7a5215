// Commands and replies of the Tarvik readers, and the two settings records.
#include "protocol/wire.h"

#include "protocol/settings_table.h"

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

// The letters of every value live in the settings table; the decoders and
// encoders here only add what the records carry beyond it.

LnxSettings decodeLnxSettings(const unsigned char *payload)
{
    LnxSettings s = lnxRecordFrom(settingsFromPayload(ReaderType::Lnx, payload));
    std::memcpy(s.firmwareVersion, payload, FirmwareVersionLength);
    return s;
}

UsbSettings decodeUsbSettings(const unsigned char *payload)
{
    UsbSettings s = usbRecordFrom(settingsFromPayload(ReaderType::Usb, payload));
    std::memcpy(s.firmwareVersion, payload, FirmwareVersionLength);
    // Format and type are read together, but "HD" fixes the format even when
    // the type letter behind it is unknown.
    if (s.outputFormat == OutputFormat::NotRecognized && payload[5] == 'H' && payload[6] == 'D') {
        s.outputFormat = OutputFormat::HexOrDec;
        s.outputType = OutputType::NotRecognized;
    }
    return s;
}

namespace {

// A field marked NotRecognized cannot come from the panel; should one reach
// the encoder anyway, it is sent as the page's default choice rather than as
// a byte the reader would refuse.
WriteCommand encodeWithDefaults(SettingsValues settings)
{
    SettingsValues defaults = defaultSettings(settings.kind);
    for (int f = 0; f < settingFieldCount(settings.kind); ++f)
        if (settings.value[f] < 0)
            settings.value[f] = defaults.value[f];
    return writeCommandFor(settings);
}

}  // namespace

WriteCommand encodeWriteCommand(const LnxSettings &settings)
{
    return encodeWithDefaults(settingsFromRecord(settings));
}

WriteCommand encodeWriteCommand(const UsbSettings &settings)
{
    // Touch Memory carries no type, so whatever outputType holds is ignored
    // (the table's lookup does that); a format with an unknown type is sent
    // as HEX.
    return encodeWithDefaults(settingsFromRecord(settings));
}
