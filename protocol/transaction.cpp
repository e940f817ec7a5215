// The reader transactions as a state machine over bytes and time.
#include "protocol/transaction.h"

#include <cstring>

#include "protocol/fixed_text.h"

namespace {

int payloadLength(ReaderType kind)
{
    return kind == ReaderType::Usb ? UsbPayloadLength : LnxPayloadLength;
}

// What may stand behind a reply: the reader's own line end, or part of it
// while it is still arriving.
bool onlyLineEnd(const unsigned char *tail, int count)
{
    if (count == 0)
        return true;
    if (count == 1)
        return tail[0] == '\r' || tail[0] == '\n';
    return count == 2 && tail[0] == '\r' && tail[1] == '\n';
}

// " - OK!" and " - UNKNOWN CMD!", for messages.
void quoteMarker(FixedText &text, const char *keyword)
{
    text.add("\"").add(ReplySeparator).add(keyword).add("\"");
}

void settingsDifference(FixedText &text, const SettingsValues &held, const SettingsValues &wanted)
{
    bool first = true;
    for (int f = 0; f < settingFieldCount(wanted.kind); ++f) {
        if (held.value[f] == wanted.value[f])
            continue;
        const SettingField &field = settingField(wanted.kind, f);
        if (!first)
            text.add(", ");
        first = false;
        text.add(field.key).add(" is ");
        text.add(held.value[f] >= 0 ? field.values[held.value[f]].name : "not recognised");
        text.add(", not ").add(wanted.value[f] >= 0 ? field.values[wanted.value[f]].name : "?");
    }
}

}  // namespace

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

ReaderTransaction::ReaderTransaction(TxOperation operation, const SettingsValues &profile, int timeoutMs, bool dryRun)
    : operation_(operation), profile_(profile), timeoutMs_(timeoutMs), dryRun_(dryRun)
{
    outcome_.kind = profile.kind;
}

TxAction ReaderTransaction::start(double nowMs)
{
    if (step_ != Step::NotStarted)
        return action_;
    return send(readCommand(profile_.kind), ReadCommandLength, Step::AwaitRead, nowMs);
}

TxAction ReaderTransaction::send(const unsigned char *bytes, int length, Step next, double nowMs)
{
    std::memcpy(out_, bytes, static_cast<size_t>(length));
    outLength_ = length;
    count_ = 0;
    overflow_ = false;
    sentAt_ = nowMs;
    deadline_ = nowMs + timeoutMs_;
    step_ = next;
    action_ = TxAction::Send;
    return action_;
}

TxAction ReaderTransaction::finish(ReaderStatus status)
{
    outcome_.status = status;
    step_ = Step::Finished;
    outLength_ = 0;
    action_ = TxAction::Done;
    return action_;
}

TxAction ReaderTransaction::fail(ReaderStatus status, TxReason reason)
{
    outcome_.reason = reason;
    return finish(status);
}

TxAction ReaderTransaction::received(const unsigned char *bytes, int count, double nowMs)
{
    if (step_ == Step::NotStarted || step_ == Step::Finished)
        return action_;
    if (bytes == nullptr || count <= 0)
        return timer(nowMs);  // nothing came: the quiet time goes on
    for (int i = 0; i < count; ++i) {
        if (count_ == ReplyBlockLimit) {
            overflow_ = true;
            break;
        }
        block_[count_++] = bytes[i];
    }
    action_ = TxAction::Wait;
    Judgement j = judge();
    if (j == Judgement::NeedMore && count_ >= ReplyBlockLimit) {
        overflow_ = true;
        j = Judgement::Noise;
    }
    if (j == Judgement::Noise)
        return conclude(nowMs, false);
    // A whole reply waits for the line to stay quiet; anything else for the
    // rest of the time the reader has.
    deadline_ = j == Judgement::Whole ? nowMs + ReplyQuietMs : sentAt_ + timeoutMs_;
    return action_;
}

TxAction ReaderTransaction::timer(double nowMs)
{
    if (step_ == Step::NotStarted || step_ == Step::Finished)
        return action_;
    if (nowMs < deadline_) {
        action_ = TxAction::Wait;
        return action_;
    }
    return conclude(nowMs, false);
}

TxAction ReaderTransaction::lineFailed(double nowMs, const char *message)
{
    FixedText(lineMessage_, sizeof lineMessage_).add(message ? message : "the line failed");
    if (step_ == Step::Finished)
        return action_;
    if (step_ == Step::NotStarted) {
        FixedText(outcome_.error, TxErrorSize).add(lineMessage_);
        return fail(ReaderStatus::NoReader, TxReason::LineLost);
    }
    // A reply already whole is taken even when the line fails inside its
    // quiet time; nothing more is sent.
    return conclude(nowMs, true);
}

TxAction ReaderTransaction::stop()
{
    if (step_ == Step::Finished)
        return action_;
    if (outcome_.wrote)
        return TxAction::Wait;
    FixedText(outcome_.error, TxErrorSize).add("interrupted before anything was written");
    return finish(ReaderStatus::Skipped);
}

ReaderTransaction::Judgement ReaderTransaction::judge() const
{
    if (overflow_)
        return Judgement::Noise;
    ReplyParts parts = findReplyParts(block_, count_);
    int end;
    switch (parts.kind) {
    case ReplyKind::Unrecognized:
        return Judgement::NeedMore;
    case ReplyKind::UnknownCommand:
        end = parts.markerEnd;
        break;
    case ReplyKind::WriteAck: {
        end = parts.markerEnd;
        if (step_ != Step::AwaitAck) {
            // Settings are due: what follows "OK!" may still become " >> ".
            int behind = count_ - end;
            if (behind < PayloadIntroducerLength &&
                std::memcmp(block_ + end, PayloadIntroducer, static_cast<size_t>(behind)) == 0)
                return Judgement::NeedMore;
        }
        break;
    }
    case ReplyKind::SettingsReply:
        end = parts.payloadStart + payloadLength(profile_.kind);
        if (count_ < end)
            return Judgement::NeedMore;
        break;
    default:
        return Judgement::NeedMore;
    }
    return onlyLineEnd(block_ + end, count_ - end) ? Judgement::Whole : Judgement::Noise;
}

void ReaderTransaction::describeFailure(FixedText &text, bool lineGone) const
{
    Judgement j = judge();
    if (lineGone) {
        text.add(lineMessage_);
    } else if (j == Judgement::Noise && findReplyParts(block_, count_).kind == ReplyKind::Unrecognized) {
        text.add(static_cast<long>(count_)).add(" bytes without a complete reply: noise, not a reader");
    } else if (j == Judgement::Noise) {
        text.add("noise follows the reply: the port sends without being asked");
    } else if (count_ == 0) {
        text.add("no reply within ").add(static_cast<long>(timeoutMs_)).add(" ms");
    } else {
        text.add("no complete reply within ").add(static_cast<long>(timeoutMs_)).add(" ms (");
        text.add(static_cast<long>(count_)).add(" bytes of noise or a reply cut short)");
    }
}

TxReason ReaderTransaction::failureReason(bool lineGone) const
{
    if (lineGone)
        return TxReason::LineLost;
    return count_ == 0 ? TxReason::Silent : TxReason::Garbled;
}

TxAction ReaderTransaction::conclude(double nowMs, bool lineGone)
{
    Judgement j = judge();
    ReplyParts parts = findReplyParts(block_, count_);
    const char *product = readerProductName(profile_.kind);

    if (j != Judgement::Whole) {
        if (step_ == Step::AwaitRead) {
            // Settings cut short and then silence: a device that answers like
            // a reader of another kind or model, not a line that failed.
            if (!lineGone && !overflow_ && j == Judgement::NeedMore && parts.kind == ReplyKind::SettingsReply &&
                count_ > parts.payloadStart) {
                FixedText text(outcome_.error, TxErrorSize);
                text.add("not a ").add(product).add(" reader: its settings \"");
                text.bytes(block_ + parts.payloadStart, count_ - parts.payloadStart);
                text.add("\" are ").add(static_cast<long>(count_ - parts.payloadStart));
                text.add(" bytes, not ").add(static_cast<long>(payloadLength(profile_.kind)));
                text.add("; nothing written");
                return fail(ReaderStatus::WrongReader, TxReason::Unrecognised);
            }
            FixedText text(outcome_.error, TxErrorSize);
            text.add("no ").add(product).add(" reader: ");
            describeFailure(text, lineGone);
            return fail(ReaderStatus::NoReader, failureReason(lineGone));
        }
        FixedText text(outcome_.error, TxErrorSize);
        if (step_ == Step::AwaitAck) {
            text.add("no acknowledgement of the write: ");
            describeFailure(text, lineGone);
            text.add("; the reader's state is unknown: run verify");
        } else {
            text.add("the write was acknowledged but the read-back failed: ");
            describeFailure(text, lineGone);
            text.add("; run verify");
        }
        return fail(ReaderStatus::LinkLost, failureReason(lineGone));
    }

    const unsigned char *payload = parts.kind == ReplyKind::SettingsReply ? block_ + parts.payloadStart : nullptr;
    switch (step_) {
    case Step::AwaitRead: {
        if (parts.kind != ReplyKind::SettingsReply) {
            FixedText text(outcome_.error, TxErrorSize);
            text.add("not a ").add(product).add(" reader: the reader answered ");
            quoteMarker(text, parts.kind == ReplyKind::UnknownCommand ? ReplyRefusal : ReplyAcknowledgement);
            if (parts.kind == ReplyKind::WriteAck)
                text.add(" without settings");
            text.add(" to ").bytes(readCommand(profile_.kind), ReadCommandLength);
            return fail(ReaderStatus::WrongReader, parts.kind == ReplyKind::UnknownCommand ? TxReason::Refusal
                                                                                        : TxReason::Unrecognised);
        }
        FixedText(outcome_.firmware, TxFirmwareSize).bytes(payload, FirmwareVersionLength);
        if (checkFirmwareVersion(profile_.kind, payload) != 0) {
            FixedText(outcome_.error, TxErrorSize)
                .add("firmware ").add(outcome_.firmware).add(" is not supported (")
                .add(supportedFirmwareVersion(profile_.kind)).add(" is); nothing written");
            return fail(ReaderStatus::WrongReader, TxReason::Firmware);
        }
        if (!readerIdentified(profile_.kind, payload)) {
            FixedText text(outcome_.error, TxErrorSize);
            text.add("not a ").add(product).add(" reader: its settings \"");
            text.bytes(payload, payloadLength(profile_.kind)).add("\" hold letters a ").add(product);
            text.add(" reader does not send; nothing written");
            return fail(ReaderStatus::WrongReader, TxReason::NotIdentified);
        }
        outcome_.hasBefore = true;
        outcome_.before = settingsFromPayload(profile_.kind, payload);
        if (operation_ == TxOperation::Read)
            return finish(ReaderStatus::Read);
        if (operation_ == TxOperation::Verify) {
            if (outcome_.before == profile_)
                return finish(ReaderStatus::Verified);
            FixedText text(outcome_.error, TxErrorSize);
            settingsDifference(text, outcome_.before, profile_);
            return finish(ReaderStatus::Mismatch);
        }
        if (outcome_.before == profile_) {
            outcome_.hasAfter = true;
            outcome_.after = outcome_.before;
            return finish(ReaderStatus::Unchanged);
        }
        if (dryRun_)
            return finish(ReaderStatus::Read);
        if (lineGone) {
            FixedText(outcome_.error, TxErrorSize).add(lineMessage_).add("; nothing written");
            return fail(ReaderStatus::NoReader, TxReason::LineLost);
        }
        WriteCommand command = writeCommandFor(profile_);
        std::memcpy(written_, command.bytes, static_cast<size_t>(command.length));
        writtenLength_ = command.length;
        outcome_.wrote = true;
        return send(command.bytes, command.length, Step::AwaitAck, nowMs);
    }
    case Step::AwaitAck: {
        if (parts.kind == ReplyKind::UnknownCommand) {
            FixedText text(outcome_.error, TxErrorSize);
            text.add("the reader refused the write ").bytes(written_, writtenLength_).add(" (");
            quoteMarker(text, ReplyRefusal);
            text.add(")");
            return fail(ReaderStatus::Refused, TxReason::Refusal);
        }
        if (parts.kind != ReplyKind::WriteAck) {
            FixedText(outcome_.error, TxErrorSize)
                .add("no acknowledgement of the write: the reader sent settings where an acknowledgement was due")
                .add("; the reader's state is unknown: run verify");
            return fail(ReaderStatus::LinkLost, TxReason::Unrecognised);
        }
        if (lineGone) {
            FixedText(outcome_.error, TxErrorSize)
                .add("the write was acknowledged but the read-back failed: ").add(lineMessage_).add("; run verify");
            return fail(ReaderStatus::LinkLost, TxReason::LineLost);
        }
        return send(readCommand(profile_.kind), ReadCommandLength, Step::AwaitReadBack, nowMs);
    }
    case Step::AwaitReadBack: {
        if (parts.kind != ReplyKind::SettingsReply) {
            FixedText text(outcome_.error, TxErrorSize);
            text.add("the write was acknowledged but the read-back failed: the reader answered ");
            quoteMarker(text, parts.kind == ReplyKind::UnknownCommand ? ReplyRefusal : ReplyAcknowledgement);
            text.add("; run verify");
            return fail(ReaderStatus::LinkLost, parts.kind == ReplyKind::UnknownCommand ? TxReason::Refusal
                                                                                     : TxReason::Unrecognised);
        }
        outcome_.hasAfter = true;
        outcome_.after = settingsFromPayload(profile_.kind, payload);
        if (checkFirmwareVersion(profile_.kind, payload) != 0) {
            char firmware[TxFirmwareSize];
            FixedText(firmware, sizeof firmware).bytes(payload, FirmwareVersionLength);
            FixedText(outcome_.error, TxErrorSize).add("the read-back carries firmware ").add(firmware);
            return fail(ReaderStatus::Mismatch, TxReason::Firmware);
        }
        if (outcome_.after == profile_)
            return finish(ReaderStatus::Verified);
        FixedText text(outcome_.error, TxErrorSize);
        text.add("read back after the write: ");
        settingsDifference(text, outcome_.after, profile_);
        return finish(ReaderStatus::Mismatch);
    }
    default:
        return action_;
    }
}
