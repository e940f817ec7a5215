// Runs a reader transaction over a serial line with the steady clock: the
// console tool's I/O around the transaction rules of protocol/transaction.h.
#ifndef VELMORA_CLI_DRIVE_H
#define VELMORA_CLI_DRIVE_H

#include <atomic>
#include <string>

#include "protocol/transaction.h"
#include "serial/line.h"

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

// The longest single wait, so that a stop is seen at once.
constexpr int DriveSliceMs = 50;

// A failure of this program itself (an exception, `what` or nullptr) while
// a reader was served: link_lost once a write went out, as the reader's
// state is then unknown; no_reader before.
void reportInternalFailure(ReaderReport &report, const char *what);

// Runs `transaction` to its end. When `stop` becomes true, a transaction
// that has written nothing ends at once as skipped; one that has written
// finishes its acknowledgement and read-back. An exception on the way ends
// it as reportInternalFailure() says.
ReaderReport drive(SerialLine &line, ReaderTransaction &transaction, const std::atomic<bool> *stop = nullptr);

// Reads the settings: status Read, or why not.
ReaderReport readReader(SerialLine &line, ReaderType kind, int timeoutMs, const std::atomic<bool> *stop = nullptr);
// Reads, checks firmware and kind, and writes `profile` unless the reader
// already holds it; then reads back. With `dryRun` it stops before writing.
ReaderReport applyProfile(SerialLine &line, const SettingsValues &profile, int timeoutMs, bool dryRun,
                          const std::atomic<bool> *stop = nullptr);
// Reads and compares: Verified or Mismatch, or why not.
ReaderReport verifyProfile(SerialLine &line, const SettingsValues &profile, int timeoutMs,
                           const std::atomic<bool> *stop = nullptr);

#endif
