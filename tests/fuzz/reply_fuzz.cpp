// The reply classifier on any block a reader or an adapter could deliver:
// the first input byte gives the count (0 to 64), the rest fills the 64-byte
// receive buffer, bytes behind the count included. A settings reply then
// goes through the version check, both decoders and both encoders, as the
// read transaction does.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "protocol/wire.h"

namespace {

// The classification rules written out step by step, independently of the
// implementation: separator, then "OK!" with or without " >> ", or
// "UNKNOWN CMD!"; a failed keyword resumes the scan behind its first
// differing byte; nothing at or behind the count matches.
ReplyKind referenceClassify(unsigned char *buffer, int count)
{
    if (count <= 0)
        return ReplyKind::Unrecognized;
    auto is = [&](int at, char c) { return at < count && buffer[at] == static_cast<unsigned char>(c); };
    auto keyword = [&](int first, const char *word, int &resume) {
        // 1 all matched, 0 a byte differs (resume set), -1 cut off by the count.
        for (int i = 1; word[i] != '\0'; ++i) {
            if (first + i >= count)
                return -1;
            if (buffer[first + i] != static_cast<unsigned char>(word[i])) {
                resume = first + i + 1;
                return 0;
            }
        }
        return 1;
    };

    int p = 0;
    while (p < count) {
        if (!(is(p, ' ') && is(p + 1, '-') && is(p + 2, ' '))) {
            ++p;
            continue;
        }
        const int k = p + 3;
        int resume = 0;
        if (is(k, 'O')) {
            const int matched = keyword(k, "OK!", resume);
            if (matched < 0)
                return ReplyKind::Unrecognized;
            if (matched == 0) {
                p = resume;
                continue;
            }
            const int n = k + 3;
            if (!(is(n, ' ') && is(n + 1, '>') && is(n + 2, '>') && is(n + 3, ' ')))
                return ReplyKind::WriteAck;
            if (n + 4 < count)
                std::memmove(buffer, buffer + n + 4, static_cast<size_t>(count - (n + 4)));
            return ReplyKind::SettingsReply;
        }
        if (is(k, 'U')) {
            const int matched = keyword(k, "UNKNOWN CMD!", resume);
            if (matched < 0)
                return ReplyKind::Unrecognized;
            if (matched == 0) {
                p = resume;
                continue;
            }
            return ReplyKind::UnknownCommand;
        }
        p = k + 1;
    }
    return ReplyKind::Unrecognized;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int count = data[0] % (ReplyBufferSize + 1);
    const std::size_t filled = size - 1 < ReplyBufferSize ? size - 1 : ReplyBufferSize;

    // Exactly 64 bytes on the heap, zero-filled before the "read" as the
    // receive buffer is, so the sanitizer sees any access beyond it.
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[ReplyBufferSize]());
    std::memcpy(buffer.get(), data + 1, filled);
    unsigned char received[ReplyBufferSize];
    std::memcpy(received, buffer.get(), ReplyBufferSize);

    // The same block in a buffer of exactly `count` bytes: any read at or
    // behind the count is an overflow.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[count > 0 ? count : 1]);
    std::memcpy(exact.get(), received, static_cast<size_t>(count));

    // And once more with every byte behind the count changed: the result
    // must not depend on them.
    unsigned char flipped[ReplyBufferSize];
    std::memcpy(flipped, received, ReplyBufferSize);
    for (int i = count; i < ReplyBufferSize; ++i)
        flipped[i] = static_cast<unsigned char>(~flipped[i]);

    unsigned char expected[ReplyBufferSize];
    std::memcpy(expected, received, ReplyBufferSize);
    const ReplyKind expectedKind = referenceClassify(expected, count);

    const ReplyKind kind = classifyReply(buffer.get(), count);
    check(kind == expectedKind, "reply: kind as the rules say");
    check(std::memcmp(buffer.get(), expected, ReplyBufferSize) == 0, "reply: buffer as the rules leave it");

    check(classifyReply(exact.get(), count) == kind, "reply: same kind in an exact buffer");
    check(std::memcmp(exact.get(), buffer.get(), static_cast<size_t>(count)) == 0,
          "reply: same payload move in an exact buffer");

    // The classification that moves nothing: same kind, the payload where
    // the moving one took it from.
    const ReplyParts parts = findReplyParts(received, count);
    check(parts.kind == kind, "reply: parts of the same kind");
    if (kind == ReplyKind::SettingsReply && parts.payloadStart < count)
        check(std::memcmp(buffer.get(), received + parts.payloadStart, static_cast<size_t>(count - parts.payloadStart)) == 0,
              "reply: the payload starts where the parts say");

    check(classifyReply(flipped, count) == kind, "reply: bytes behind the count do not count");
    check(std::memcmp(flipped, buffer.get(), static_cast<size_t>(count)) == 0,
          "reply: same payload move whatever lies behind the count");
    for (int i = count; i < ReplyBufferSize; ++i)
        check(buffer[i] == received[i], "reply: bytes behind the count untouched");

    if (kind != ReplyKind::SettingsReply)
        return 0;

    // What the read transaction does next, on the start of the buffer.
    const bool supported = std::memcmp(buffer.get(), "1.00", FirmwareVersionLength) == 0;
    check(checkFirmwareVersion(ReaderType::Lnx, buffer.get()) == (supported ? 0 : -1), "reply: lnx version check");
    check(checkFirmwareVersion(ReaderType::Usb, buffer.get()) == (supported ? 0 : -1), "reply: usb version check");
    check(checkFirmwareVersion(static_cast<ReaderType>(2), buffer.get()) == -1, "reply: no version for no reader");
    checkLnxPayload(buffer.get());
    checkUsbPayload(buffer.get());
    return 0;
}
