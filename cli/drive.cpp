// The console tool's I/O around the reader transactions.
#include "cli/drive.h"

#include <chrono>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

bool stopped(const std::atomic<bool> *stop)
{
    return stop != nullptr && stop->load();
}

// The transaction's exchanges over the line, until it is done.
void exchange(SerialLine &line, ReaderTransaction &transaction, const std::atomic<bool> *stop)
{
    const Clock::time_point origin = Clock::now();
    auto now = [origin] {
        return std::chrono::duration<double, std::milli>(Clock::now() - origin).count();
    };

    TxAction action = stopped(stop) ? transaction.stop() : transaction.start(now());
    while (action != TxAction::Done) {
        if (stopped(stop) && transaction.stop() == TxAction::Done)
            break;
        LineStatus status;
        if (action == TxAction::Send) {
            line.discardInput();
            if (!line.write(transaction.out(), static_cast<std::size_t>(transaction.outLength()), status)) {
                action = transaction.lineFailed(now(), status.message.c_str());
                continue;
            }
        }
        const double left = transaction.deadline() - now();
        if (left <= 0) {
            action = transaction.timer(now());
            continue;
        }
        const int wait = static_cast<int>(std::ceil(left < DriveSliceMs ? left : DriveSliceMs));
        unsigned char bytes[ReplyBlockLimit];
        const long got = line.read(bytes, sizeof bytes, wait, status);
        if (got < 0)
            action = transaction.lineFailed(now(), status.message.c_str());
        else if (got > 0)
            action = transaction.received(bytes, static_cast<int>(got), now());
        else
            action = transaction.timer(now());
    }
}

}  // namespace

void reportInternalFailure(ReaderReport &report, const char *what)
{
    report.status = report.wrote ? ReaderStatus::LinkLost : ReaderStatus::NoReader;
    report.error = what ? std::string("internal failure: ") + what : "internal failure";
}

ReaderReport drive(SerialLine &line, ReaderTransaction &transaction, const std::atomic<bool> *stop)
{
    // Only the transaction knows whether a write went out: a failure on
    // the way is reported here, where it does.
    bool failed = false;
    std::string failure;
    bool described = false;
    try {
        exchange(line, transaction, stop);
    } catch (const std::exception &e) {
        failed = described = true;
        failure = e.what();
    } catch (...) {
        failed = true;
    }

    const TxOutcome &o = transaction.outcome();
    ReaderReport report;
    report.kind = o.kind;
    report.status = o.status;
    report.firmware = o.firmware;
    report.hasBefore = o.hasBefore;
    report.before = o.before;
    report.hasAfter = o.hasAfter;
    report.after = o.after;
    report.wrote = o.wrote;
    report.error = o.error;
    if (failed)
        reportInternalFailure(report, described ? failure.c_str() : nullptr);
    return report;
}

ReaderReport readReader(SerialLine &line, ReaderType kind, int timeoutMs, const std::atomic<bool> *stop)
{
    SettingsValues wanted;
    wanted.kind = kind;
    ReaderTransaction transaction(TxOperation::Read, wanted, timeoutMs, false);
    return drive(line, transaction, stop);
}

ReaderReport applyProfile(SerialLine &line, const SettingsValues &profile, int timeoutMs, bool dryRun,
                          const std::atomic<bool> *stop)
{
    ReaderTransaction transaction(TxOperation::Apply, profile, timeoutMs, dryRun);
    return drive(line, transaction, stop);
}

ReaderReport verifyProfile(SerialLine &line, const SettingsValues &profile, int timeoutMs,
                           const std::atomic<bool> *stop)
{
    ReaderTransaction transaction(TxOperation::Verify, profile, timeoutMs, false);
    return drive(line, transaction, stop);
}
