// One command and its reply over a serial line, and the read, apply and
// verify transactions of the console tool built on it. Portable: the line
// is whatever serial/line.h gives.
#ifndef VELMORA_PROTOCOL_EXCHANGE_H
#define VELMORA_PROTOCOL_EXCHANGE_H

#include <string>

#include "protocol/settings_table.h"
#include "protocol/wire.h"
#include "serial/line.h"

enum class ExchangeOutcome {
    Reply,     // classified: see `kind` (and `payload` for a settings reply)
    Silent,    // nothing arrived in time
    Garbled,   // bytes arrived but no complete reply (cut short, noise)
    LineFailed,  // the line failed: see `line`
};

struct ExchangeResult {
    ExchangeOutcome outcome = ExchangeOutcome::Silent;
    ReplyKind kind = ReplyKind::Unrecognized;
    unsigned char payload[UsbPayloadLength] = {};  // valid for a settings reply
    int received = 0;  // bytes collected
    bool noiseBehind = false;  // Garbled: more than a line end followed the reply
    LineStatus line;
};

// Drops stale input, sends the command in one write and collects the reply
// until it can be classified (a settings reply only once the full payload of
// `kind` has come), a whole block of 64 bytes has come without a reply, or
// `timeoutMs` has passed since the command was sent.
ExchangeResult exchange(SerialLine &line, const unsigned char *command, int length, ReaderType kind,
                        int timeoutMs);

enum class ReaderStatus {
    Read,
    Unchanged,
    Verified,
    Mismatch,
    NoReader,
    WrongReader,
    Refused,
    LinkLost,
    Skipped,
};

const char *readerStatusName(ReaderStatus status);
// 0 for read/unchanged/verified, 3 no reader, 4 wrong reader, 5 refused or
// mismatch, 6 link lost, 130 skipped (interrupted).
int readerStatusExitCode(ReaderStatus status);

struct ReaderReport {
    ReaderType kind = ReaderType::Lnx;
    ReaderStatus status = ReaderStatus::NoReader;
    std::string firmware;  // as the reader reported it, empty when none came
    bool hasBefore = false;
    SettingsValues before;
    bool hasAfter = false;
    SettingsValues after;
    bool wrote = false;  // a write command went out
    std::string error;   // for people; empty on success
};

// Reads the settings: status Read, or why not.
ReaderReport readReader(SerialLine &line, ReaderType kind, int timeoutMs);
// Reads, checks firmware and kind, and writes `profile` unless the reader
// already holds it; then reads back. With `dryRun` it stops before writing.
ReaderReport applyProfile(SerialLine &line, const SettingsValues &profile, int timeoutMs, bool dryRun);
// Reads and compares: Verified or Mismatch, or why not.
ReaderReport verifyProfile(SerialLine &line, const SettingsValues &profile, int timeoutMs);

#endif
