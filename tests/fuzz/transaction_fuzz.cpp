// The reader transactions fed any bytes, in any pieces, at any times, with
// line failures and stops anywhere: a write goes out only behind one whole,
// quiet reply that proves a reader of the kind, and the outcome always says
// truly whether anything was written.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "protocol/transaction.h"

namespace {

struct Harness {
    Harness(TxOperation op, const SettingsValues &profile, bool dryRun)
        : tx(op, profile, 300, dryRun), operation(op)
    {
    }

    ReaderTransaction tx;
    TxOperation operation;
    double now = 0;
    TxAction action = TxAction::Wait;
    unsigned char block[1024] = {};
    int count = 0;
    double lastByteAt = 0;
    int sends = 0;
    bool writeSent = false;

    void sent()
    {
        const unsigned char *out = tx.out();
        const int length = tx.outLength();
        const bool isRead = length == ReadCommandLength && std::memcmp(out, ReadCommandPrefix, ReadCommandPrefixLength) == 0;
        if (!isRead) {
            check(operation == TxOperation::Apply && !writeSent, "write: only once, only by apply");
            check(sends == 1, "write: right behind the read");
            // What came after the read command: one whole reply, then quiet.
            check(count <= ReplyBlockLimit, "write: the reply fits one block");
            ReplyParts parts = findReplyParts(block, count);
            check(parts.kind == ReplyKind::SettingsReply, "write: behind a settings reply");
            const ReaderType kind = tx.outcome().kind;
            const int payload = kind == ReaderType::Usb ? UsbPayloadLength : LnxPayloadLength;
            check(count - parts.payloadStart >= payload, "write: the whole payload came");
            check(readerIdentified(kind, block + parts.payloadStart), "write: the payload proves the reader");
            const int tail = count - parts.payloadStart - payload;
            check(tail == 0 || (tail <= 2 && block[count - tail] == '\r' && (tail == 1 || block[count - 1] == '\n')) ||
                      (tail == 1 && block[count - 1] == '\n'),
                  "write: nothing but a line end behind the reply");
            check(now - lastByteAt >= ReplyQuietMs, "write: the line stayed quiet");
            writeSent = true;
        }
        ++sends;
        count = 0;
    }

    void step(TxAction next)
    {
        action = next;
        if (action == TxAction::Send)
            sent();
    }

    // Time passes to `until`, with the timer firing at every deadline.
    void wait(double until)
    {
        while (action != TxAction::Done && tx.deadline() <= until) {
            now = tx.deadline() > now ? tx.deadline() : now;
            step(tx.timer(now));
        }
        if (until > now)
            now = until;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const ReaderType kind = (data[0] & 1) ? ReaderType::Usb : ReaderType::Lnx;
    const TxOperation operation = static_cast<TxOperation>(((data[0] >> 1) & 3) % 3);
    const bool dryRun = (data[0] & 8) != 0;
    const char *target = kind == ReaderType::Usb ? "1.00AHDD4EX" : "1.00W261SF";
    const SettingsValues profile = settingsFromPayload(kind, reinterpret_cast<const unsigned char *>(target));

    Harness h(operation, profile, dryRun);
    h.step(h.tx.start(0));

    std::size_t i = 1;
    while (h.action != TxAction::Done && i + 2 <= size) {
        const int type = data[i] % 4;
        const double delay = data[i + 1] / 4.0;  // 0 to 64 ms, in quarters
        i += 2;
        h.wait(h.now + delay);
        if (h.action == TxAction::Done)
            break;
        if (type == 0 && i < size) {
            const int length = data[i] % 64;
            ++i;
            const int take = static_cast<int>(size - i) < length ? static_cast<int>(size - i) : length;
            for (int k = 0; k < take && h.count < static_cast<int>(sizeof h.block); ++k)
                h.block[h.count++] = data[i + static_cast<std::size_t>(k)];
            if (take > 0)
                h.lastByteAt = h.now;
            h.step(h.tx.received(data + i, take, h.now));
            i += static_cast<std::size_t>(take);
        } else if (type == 1) {
            h.step(h.tx.lineFailed(h.now, "gone"));
        } else if (type == 2) {
            TxAction answer = h.tx.stop();
            check(answer == TxAction::Done || h.writeSent, "stop: ends at once before a write");
            if (answer == TxAction::Done)
                h.action = answer;
        }
    }
    // Left alone, every transaction ends: each wait has its deadline.
    for (int n = 0; n < 16 && h.action != TxAction::Done; ++n)
        h.wait(h.tx.deadline());
    check(h.action == TxAction::Done, "the transaction ends");

    const TxOutcome &o = h.tx.outcome();
    check(o.wrote == h.writeSent, "wrote says whether a write went out");
    const ReaderStatus s = o.status;
    if (s == ReaderStatus::Refused || s == ReaderStatus::LinkLost)
        check(o.wrote, "refused and link lost only after a write");
    if (s == ReaderStatus::Skipped)
        check(!o.wrote, "skipped only before a write");
    if (o.wrote)
        check(s == ReaderStatus::Verified || s == ReaderStatus::Mismatch || s == ReaderStatus::Refused ||
                  s == ReaderStatus::LinkLost,
              "a write ends proven, refused or unknown");
    if (s == ReaderStatus::Verified)
        check((o.hasAfter && o.after == profile) || (!o.wrote && o.hasBefore && o.before == profile),
              "verified holds the profile");
    if (o.hasBefore)
        check(settingsComplete(o.before), "settings reported were all recognised");
    const bool fine = s == ReaderStatus::Read || s == ReaderStatus::Unchanged || s == ReaderStatus::Verified;
    check(std::memchr(o.error, '\0', sizeof o.error) != nullptr, "the error text is terminated");
    check(fine == (o.error[0] == '\0'), "an error text exactly when something is wrong");
    return 0;
}
