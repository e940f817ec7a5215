// Commands and replies of the Tarvik readers, and the two settings records.
#include "protocol/wire.h"

#include "protocol/settings_table.h"

#include <cstring>

namespace {

// "AT+READS_" and the kind's three letters.
struct ReadCommandBytes {
    unsigned char bytes[ReadCommandLength];
};

constexpr ReadCommandBytes readCommandOf(const char (&kind)[4])
{
    static_assert(ReadCommandPrefixLength + 3 == ReadCommandLength, "prefix and kind make the command");
    ReadCommandBytes command = {};
    for (int i = 0; i < ReadCommandPrefixLength; ++i)
        command.bytes[i] = static_cast<unsigned char>(ReadCommandPrefix[i]);
    for (int i = 0; i < 3; ++i)
        command.bytes[ReadCommandPrefixLength + i] = static_cast<unsigned char>(kind[i]);
    return command;
}

constexpr ReadCommandBytes LnxReadCommand = readCommandOf("LNX");
constexpr ReadCommandBytes UsbReadCommand = readCommandOf("USB");

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
    return type == ReaderType::Usb ? UsbReadCommand.bytes : LnxReadCommand.bytes;
}

ReplyParts findReplyParts(const unsigned char *buffer, int count)
{
    ReplyParts parts;
    if (buffer == nullptr || count <= 0)
        return parts;

    int p = 0;
    while (p < count) {
        if (!matchesAt(buffer, count, p, ReplySeparator, ReplySeparatorLength)) {
            ++p;
            continue;
        }
        int k = p + ReplySeparatorLength;
        if (k >= count)
            return parts;

        if (buffer[k] == 'O') {
            int r = matchKeywordTail(buffer, count, k, ReplyAcknowledgement, ReplyAcknowledgementLength);
            if (r == -2)
                return parts;
            if (r >= 0) {
                p = r + 1;
                continue;
            }
            parts.markerStart = p;
            int introducer = k + ReplyAcknowledgementLength;
            if (!matchesAt(buffer, count, introducer, PayloadIntroducer, PayloadIntroducerLength)) {
                parts.kind = ReplyKind::WriteAck;
                parts.markerEnd = introducer;
                return parts;
            }
            parts.kind = ReplyKind::SettingsReply;
            parts.markerEnd = introducer + PayloadIntroducerLength;
            parts.payloadStart = parts.markerEnd;
            return parts;
        }

        if (buffer[k] == 'U') {
            int r = matchKeywordTail(buffer, count, k, ReplyRefusal, ReplyRefusalLength);
            if (r == -2)
                return parts;
            if (r >= 0) {
                p = r + 1;
                continue;
            }
            parts.kind = ReplyKind::UnknownCommand;
            parts.markerStart = p;
            parts.markerEnd = k + ReplyRefusalLength;
            return parts;
        }

        p = k + 1;
    }
    return parts;
}

ReplyKind classifyReply(unsigned char *buffer, int count)
{
    ReplyParts parts = findReplyParts(buffer, count);
    // With nothing behind the introducer the buffer is left alone; the
    // version check then fails on whatever the block begins with.
    if (parts.kind == ReplyKind::SettingsReply && parts.payloadStart < count)
        std::memmove(buffer, buffer + parts.payloadStart, static_cast<size_t>(count - parts.payloadStart));
    return parts.kind;
}

const char *supportedFirmwareVersion(ReaderType type)
{
    // Each kind could have its own release; today both run the same one.
    (void)type;
    return SupportedFirmwareVersion;
}

int checkFirmwareVersion(ReaderType type, const unsigned char *payload)
{
    if (type != ReaderType::Lnx && type != ReaderType::Usb)
        return -1;
    return std::memcmp(payload, supportedFirmwareVersion(type), FirmwareVersionLength) == 0 ? 0 : -1;
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
// a byte the reader would refuse. Defaults by field, in wire order.
const char *const LnxDefaults[] = {"touch_memory", "direct", "off", "on"};
const char *const UsbDefaults[] = {"windows", "hex", "5", "all"};

WriteCommand encodeWithDefaults(SettingsValues settings, const char *const *defaults)
{
    for (int f = 0; f < settingFieldCount(settings.kind); ++f)
        if (settings.value[f] < 0)
            settings.value[f] = findSettingValue(settingField(settings.kind, f), defaults[f]);
    return writeCommandFor(settings);
}

}  // namespace

WriteCommand encodeWriteCommand(const LnxSettings &settings)
{
    return encodeWithDefaults(settingsFromRecord(settings), LnxDefaults);
}

WriteCommand encodeWriteCommand(const UsbSettings &settings)
{
    // Touch Memory carries no type, so whatever outputType holds is ignored
    // (the table's lookup does that); a format with an unknown type is sent
    // as HEX.
    return encodeWithDefaults(settingsFromRecord(settings), UsbDefaults);
}
