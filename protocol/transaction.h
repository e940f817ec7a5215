// The reader transactions of the console tool and the browser page (read;
// apply with read-back; verify) as a state machine over bytes and time. It
// does no I/O: the caller sends what it is told to, feeds it the bytes that
// arrive and the clock, and tells it when the line fails. No threads, no
// exceptions, no allocation.
//
// When a reply counts as whole: the block read so far must hold a complete
// reply (a refusal; an acknowledgement; or a settings reply with at least
// the kind's payload), and then the line must stay quiet for ReplyQuietMs.
// Only a CR LF may follow the reply. A port that keeps sending behind a
// reply, or a payload longer or shorter than the kind's, is no reader to be
// written to.
#ifndef VELMORA_PROTOCOL_TRANSACTION_H
#define VELMORA_PROTOCOL_TRANSACTION_H

#include "protocol/settings_table.h"
#include "protocol/wire.h"

// Quiet time that closes a reply: at 19200 baud a character takes about
// 0.52 ms, so a few characters' pause is 2 to 3 ms; USB-serial adapters pass
// bytes on in bursts up to 16 ms apart (the usual latency timer). 20 ms
// covers both and is still short beside a reader's answer time.
constexpr int ReplyQuietMs = 20;
// The most bytes one reply may take, echo included (the window program reads
// one block of this size); more is a device that keeps sending.
constexpr int ReplyBlockLimit = ReplyBufferSize;

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
constexpr int ReaderStatusCount = 9;

const char *readerStatusName(ReaderStatus status);

// Why a transaction ended short of its goal, so that a caller can word the
// cause as the window program does.
enum class TxReason {
    None = 0,          // it reached its goal (or was stopped)
    Silent = 1,        // no byte came back
    Garbled = 2,       // bytes that make no complete reply
    Refusal = 3,       // the reader answered " - UNKNOWN CMD!"
    Unrecognised = 4,  // an answer of the wrong form: a bare acknowledgement or
                       // settings cut short where settings were due,
                       // settings where an acknowledgement was due
    Firmware = 5,      // a firmware version that is not supported
    NotIdentified = 6, // settings with letters the kind does not send
    LineLost = 7,      // the line failed
};

enum class TxOperation { Read = 0, Apply = 1, Verify = 2 };
enum class TxAction { Send = 1, Wait = 2, Done = 3 };

constexpr int TxFirmwareSize = 4 * FirmwareVersionLength + 1;  // each byte may be "\xNN"
constexpr int TxErrorSize = 320;

// What a transaction found and did.
struct TxOutcome {
    ReaderType kind = ReaderType::Lnx;
    ReaderStatus status = ReaderStatus::NoReader;
    char firmware[TxFirmwareSize] = {};  // as the reader reported it, escaped; empty when none came
    bool hasBefore = false;
    SettingsValues before;
    bool hasAfter = false;
    SettingsValues after;
    bool wrote = false;             // a write command went out
    TxReason reason = TxReason::None;
    char error[TxErrorSize] = {};  // for people; empty on success
};

class ReaderTransaction {
public:
    // `profile` gives the kind, and for apply and verify the settings (which
    // must be complete). With `dryRun` an apply stops before writing.
    ReaderTransaction(TxOperation operation, const SettingsValues &profile, int timeoutMs, bool dryRun);
    ReaderTransaction() : ReaderTransaction(TxOperation::Read, SettingsValues(), 0, false) {}

    // Each call returns the next action: Send (drop stale input, send out(),
    // then wait), Wait (until bytes arrive or deadline()), or Done.
    TxAction start(double nowMs);
    TxAction received(const unsigned char *bytes, int count, double nowMs);
    TxAction timer(double nowMs);
    // `message` says what failed, for people (may be null).
    TxAction lineFailed(double nowMs, const char *message);
    // Asks the transaction to end: before any write it ends at once as
    // skipped (Done); after a write it goes on to the acknowledgement and
    // read-back, and the answer is Wait: carry on as before (a Send handed
    // out is still to be sent).
    TxAction stop();

    // The action last handed out.
    TxAction action() const { return action_; }
    const unsigned char *out() const { return out_; }
    int outLength() const { return outLength_; }
    double deadline() const { return deadline_; }
    const TxOutcome &outcome() const { return outcome_; }

private:
    enum class Step { NotStarted, AwaitRead, AwaitAck, AwaitReadBack, Finished };
    enum class Judgement { NeedMore, Whole, Noise };

    TxAction send(const unsigned char *bytes, int length, Step next, double nowMs);
    TxAction finish(ReaderStatus status);
    TxAction conclude(double nowMs, bool lineGone);
    Judgement judge() const;
    void describeFailure(class FixedText &text, bool lineGone) const;
    TxReason failureReason(bool lineGone) const;
    TxAction fail(ReaderStatus status, TxReason reason);

    TxOperation operation_;
    SettingsValues profile_;
    int timeoutMs_;
    bool dryRun_;
    Step step_ = Step::NotStarted;
    TxAction action_ = TxAction::Wait;

    unsigned char out_[UsbWriteCommandLength > ReadCommandLength ? UsbWriteCommandLength : ReadCommandLength] = {};
    int outLength_ = 0;
    unsigned char written_[UsbWriteCommandLength] = {};  // the write command, for messages
    int writtenLength_ = 0;

    unsigned char block_[ReplyBlockLimit] = {};
    int count_ = 0;
    bool overflow_ = false;
    double sentAt_ = 0;
    double deadline_ = 0;
    char lineMessage_[160] = {};

    TxOutcome outcome_;
};

#endif
