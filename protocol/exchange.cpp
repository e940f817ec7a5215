// Command/reply exchange over a serial line, and the transactions on it.
#include "protocol/exchange.h"

#include <chrono>
#include <cstring>

namespace {

const char PayloadIntroducer[] = " >> ";
constexpr int PayloadIntroducerLength = 4;

bool isReadCommand(const unsigned char *command, int length)
{
    return length == ReadCommandLength && std::memcmp(command, "AT+READS_", 9) == 0;
}

// The shortest prefix of the block that classifies as `kind`: the end of the
// marker that decided it (for a settings reply, where the payload starts).
// 0 when no prefix does.
int markerEnd(const unsigned char *block, int count, ReplyKind kind)
{
    unsigned char scratch[ReplyBufferSize];
    for (int n = 1; n <= count; ++n) {
        std::memcpy(scratch, block, static_cast<size_t>(n));
        if (classifyReply(scratch, n) == kind)
            return n;
    }
    return 0;
}

enum class Completeness { Complete, NeedMore };

// Whether the block so far is a whole reply. `kind` is its classification.
Completeness judge(const unsigned char *block, int count, ReplyKind kind, bool expectSettings, int payloadLength)
{
    switch (kind) {
    case ReplyKind::UnknownCommand:
        return Completeness::Complete;
    case ReplyKind::SettingsReply: {
        int start = markerEnd(block, count, kind);
        return count - start >= payloadLength ? Completeness::Complete : Completeness::NeedMore;
    }
    case ReplyKind::WriteAck: {
        if (!expectSettings)
            return Completeness::Complete;
        // "OK!" so far, and what follows could still become " >> ".
        int end = markerEnd(block, count, kind);
        int behind = count - end;
        if (behind < PayloadIntroducerLength &&
            std::memcmp(block + end, PayloadIntroducer, static_cast<size_t>(behind)) == 0)
            return Completeness::NeedMore;
        return Completeness::Complete;
    }
    default:
        return Completeness::NeedMore;
    }
}

}  // namespace

ExchangeResult exchange(SerialLine &line, const unsigned char *command, int length, ReaderType kind,
                        int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    ExchangeResult result;
    const bool expectSettings = isReadCommand(command, length);
    const int payloadLength = kind == ReaderType::Usb ? UsbPayloadLength : LnxPayloadLength;

    line.discardInput();
    if (!line.write(command, static_cast<std::size_t>(length), result.line)) {
        result.outcome = ExchangeOutcome::LineFailed;
        return result;
    }

    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    unsigned char block[ReplyBufferSize];
    int count = 0;
    ReplyKind kind_ = ReplyKind::Unrecognized;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0)
            left = 0;
        long got = 0;
        if (left > 0 || count == 0) {
            got = line.read(block + count, sizeof block - static_cast<std::size_t>(count), static_cast<int>(left),
                            result.line);
            if (got < 0) {
                result.outcome = ExchangeOutcome::LineFailed;
                result.received = count;
                return result;
            }
        }
        count += static_cast<int>(got);
        if (got > 0) {
            unsigned char scratch[ReplyBufferSize];
            std::memcpy(scratch, block, static_cast<size_t>(count));
            kind_ = classifyReply(scratch, count);
            if (judge(block, count, kind_, expectSettings, payloadLength) == Completeness::Complete)
                break;
            if (count == static_cast<int>(sizeof block))
                break;  // a full block and still no whole reply: noise
            continue;
        }
        if (Clock::now() >= deadline)
            break;
    }

    result.received = count;
    if (count == 0) {
        result.outcome = ExchangeOutcome::Silent;
        return result;
    }
    unsigned char scratch[ReplyBufferSize];
    std::memcpy(scratch, block, static_cast<size_t>(count));
    kind_ = classifyReply(scratch, count);
    Completeness done = judge(block, count, kind_, expectSettings, payloadLength);
    // A bare acknowledgement that never grew into a settings reply is one.
    if (kind_ == ReplyKind::WriteAck)
        done = Completeness::Complete;
    if (kind_ == ReplyKind::Unrecognized || done != Completeness::Complete) {
        result.outcome = ExchangeOutcome::Garbled;
        return result;
    }
    // A reader says nothing more than a line end behind its reply; a port
    // that goes on sending (a stream of captured replies, a chattering
    // device) is no reader to be written to. What has already arrived is
    // looked at, without waiting for more.
    int end = markerEnd(block, count, kind_);
    if (kind_ == ReplyKind::SettingsReply)
        end += payloadLength;
    unsigned char behind[ReplyBufferSize];
    int behindCount = 0;
    for (int i = end; i < count; ++i)
        behind[behindCount++] = block[i];
    LineStatus ignored;
    long more = line.read(behind + behindCount, sizeof behind - static_cast<std::size_t>(behindCount), 0, ignored);
    if (more > 0)
        behindCount += static_cast<int>(more);
    for (int i = 0; i < behindCount; ++i) {
        if (behind[i] != '\r' && behind[i] != '\n') {
            result.outcome = ExchangeOutcome::Garbled;
            result.noiseBehind = true;
            return result;
        }
    }
    result.outcome = ExchangeOutcome::Reply;
    result.kind = kind_;
    if (kind_ == ReplyKind::SettingsReply)
        std::memcpy(result.payload, scratch, static_cast<size_t>(payloadLength));
    return result;
}

const char *readerStatusName(ReaderStatus status)
{
    switch (status) {
    case ReaderStatus::Read: return "read";
    case ReaderStatus::Unchanged: return "unchanged";
    case ReaderStatus::Verified: return "verified";
    case ReaderStatus::Mismatch: return "mismatch";
    case ReaderStatus::NoReader: return "no_reader";
    case ReaderStatus::WrongReader: return "wrong_reader";
    case ReaderStatus::Refused: return "refused";
    case ReaderStatus::LinkLost: return "link_lost";
    case ReaderStatus::Skipped: return "skipped";
    }
    return "?";
}

int readerStatusExitCode(ReaderStatus status)
{
    switch (status) {
    case ReaderStatus::Read:
    case ReaderStatus::Unchanged:
    case ReaderStatus::Verified: return 0;
    case ReaderStatus::NoReader: return 3;
    case ReaderStatus::WrongReader: return 4;
    case ReaderStatus::Refused:
    case ReaderStatus::Mismatch: return 5;
    case ReaderStatus::LinkLost: return 6;
    case ReaderStatus::Skipped: return 130;
    }
    return 1;
}

namespace {

std::string printable(const unsigned char *bytes, int count)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < count; ++i) {
        unsigned char c = bytes[i];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            text += static_cast<char>(c);
        } else {
            text += "\\x";
            text += hex[c >> 4];
            text += hex[c & 15];
        }
    }
    return text;
}

std::string commandText(const unsigned char *command, int length)
{
    return printable(command, length);
}

// Why an exchange gave no usable reply, for people.
std::string failureText(const ExchangeResult &r, int timeoutMs)
{
    switch (r.outcome) {
    case ExchangeOutcome::LineFailed: return r.line.message;
    case ExchangeOutcome::Silent: return "no reply within " + std::to_string(timeoutMs) + " ms";
    case ExchangeOutcome::Garbled:
        if (r.noiseBehind)
            return "noise follows the reply: the port sends without being asked";
        if (r.received >= ReplyBufferSize)
            return std::to_string(r.received) + " bytes without a complete reply: noise, not a reader";
        return "no complete reply within " + std::to_string(timeoutMs) + " ms (" + std::to_string(r.received) +
               " bytes of noise or a reply cut short)";
    case ExchangeOutcome::Reply:
        switch (r.kind) {
        case ReplyKind::UnknownCommand: return "the reader answered \" - UNKNOWN CMD!\"";
        case ReplyKind::WriteAck: return "the reader answered \" - OK!\" without settings";
        case ReplyKind::SettingsReply: return "the reader sent settings where an acknowledgement was due";
        default: return "the reply was not understood";
        }
    }
    return "?";
}

std::string settingsDifference(const SettingsValues &held, const SettingsValues &wanted)
{
    std::string text;
    for (int f = 0; f < settingFieldCount(wanted.kind); ++f) {
        if (held.value[f] == wanted.value[f])
            continue;
        const SettingField &field = settingField(wanted.kind, f);
        if (!text.empty())
            text += ", ";
        text += field.key;
        text += " is ";
        text += held.value[f] >= 0 ? field.values[held.value[f]].name : "not recognised";
        text += ", not ";
        text += wanted.value[f] >= 0 ? field.values[wanted.value[f]].name : "?";
    }
    return text;
}

}  // namespace

ReaderReport readReader(SerialLine &line, ReaderType kind, int timeoutMs)
{
    ReaderReport report;
    report.kind = kind;
    ExchangeResult r = exchange(line, readCommand(kind), ReadCommandLength, kind, timeoutMs);
    const std::string command = commandText(readCommand(kind), ReadCommandLength);
    if (r.outcome != ExchangeOutcome::Reply) {
        report.status = ReaderStatus::NoReader;
        report.error = "no " + std::string(readerProductName(kind)) + " reader: " + failureText(r, timeoutMs);
        return report;
    }
    if (r.kind != ReplyKind::SettingsReply) {
        report.status = ReaderStatus::WrongReader;
        report.error = "not a " + std::string(readerProductName(kind)) + " reader: " + failureText(r, timeoutMs) +
                       " to " + command;
        return report;
    }
    report.firmware = printable(r.payload, FirmwareVersionLength);
    if (checkFirmwareVersion(kind, r.payload) != 0) {
        report.status = ReaderStatus::WrongReader;
        report.error = "firmware " + report.firmware + " is not supported (1.00 is); nothing written";
        return report;
    }
    report.status = ReaderStatus::Read;
    report.hasBefore = true;
    report.before = settingsFromPayload(kind, r.payload);
    return report;
}

ReaderReport applyProfile(SerialLine &line, const SettingsValues &profile, int timeoutMs, bool dryRun)
{
    ReaderReport report = readReader(line, profile.kind, timeoutMs);
    if (report.status != ReaderStatus::Read)
        return report;
    if (report.before == profile) {
        report.status = ReaderStatus::Unchanged;
        report.hasAfter = true;
        report.after = report.before;
        return report;
    }
    if (dryRun)
        return report;

    WriteCommand command = writeCommandFor(profile);
    report.wrote = true;
    ExchangeResult w = exchange(line, command.bytes, command.length, profile.kind, timeoutMs);
    if (w.outcome == ExchangeOutcome::Reply && w.kind == ReplyKind::UnknownCommand) {
        report.status = ReaderStatus::Refused;
        report.error = "the reader refused the write " + commandText(command.bytes, command.length) +
                       " (\" - UNKNOWN CMD!\")";
        return report;
    }
    if (w.outcome != ExchangeOutcome::Reply || w.kind != ReplyKind::WriteAck) {
        report.status = ReaderStatus::LinkLost;
        report.error = "no acknowledgement of the write: " + failureText(w, timeoutMs) +
                       "; the reader's state is unknown: run verify";
        return report;
    }

    ExchangeResult b = exchange(line, readCommand(profile.kind), ReadCommandLength, profile.kind, timeoutMs);
    if (b.outcome != ExchangeOutcome::Reply || b.kind != ReplyKind::SettingsReply) {
        report.status = ReaderStatus::LinkLost;
        report.error = "the write was acknowledged but the read-back failed: " + failureText(b, timeoutMs) +
                       "; run verify";
        return report;
    }
    report.hasAfter = true;
    report.after = settingsFromPayload(profile.kind, b.payload);
    if (checkFirmwareVersion(profile.kind, b.payload) != 0) {
        report.status = ReaderStatus::Mismatch;
        report.error = "the read-back carries firmware " + printable(b.payload, FirmwareVersionLength);
        return report;
    }
    if (report.after == profile) {
        report.status = ReaderStatus::Verified;
    } else {
        report.status = ReaderStatus::Mismatch;
        report.error = "read back after the write: " + settingsDifference(report.after, profile);
    }
    return report;
}

ReaderReport verifyProfile(SerialLine &line, const SettingsValues &profile, int timeoutMs)
{
    ReaderReport report = readReader(line, profile.kind, timeoutMs);
    if (report.status != ReaderStatus::Read)
        return report;
    if (report.before == profile) {
        report.status = ReaderStatus::Verified;
    } else {
        report.status = ReaderStatus::Mismatch;
        report.error = settingsDifference(report.before, profile);
    }
    return report;
}
