// The reader transactions: first the rules themselves, driven with a
// scripted clock (exact times, no sleeping), then the console tool's driver
// over a scripted line.
#include "cli/drive.h"
#include "protocol/transaction.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <string>
#include <thread>
#include <vector>

namespace {

// ---- The rules, with a scripted clock ------------------------------------

// What a device sends after one command: chunks at times after the command
// went out, and whether the line then fails.
struct Chunk {
    double afterMs;
    std::string bytes;
};
struct Answer {
    std::vector<Chunk> chunks;
    double hangUpAfterMs = -1;  // the line fails at this time (after the command)
};

// At 19200 baud 8N1 a character takes 10/19200 s.
constexpr double CharacterMs = 10.0 * 1000.0 / 19200.0;

// `text` as a paced device sends it: one character after another from `startMs`.
std::vector<Chunk> paced(const std::string &text, double startMs)
{
    std::vector<Chunk> chunks;
    for (std::size_t i = 0; i < text.size(); ++i)
        chunks.push_back({startMs + CharacterMs * static_cast<double>(i + 1), std::string(1, text[i])});
    return chunks;
}

struct Result {
    std::vector<std::string> sent;
    TxOutcome outcome;
    double endMs = 0;
};

// Runs a transaction against answers given in order, one per command sent;
// a command with no answer left meets silence. `stopAtMs` asks it to stop.
Result run(TxOperation operation, const SettingsValues &profile, std::vector<Answer> answers, double stopAtMs = -1,
        int timeoutMs = 1000)
{
    ReaderTransaction tx(operation, profile, timeoutMs, false);
    Result r;
    double now = 0;
    std::deque<Chunk> pending;
    double hangUpAt = -1;
    bool stopped = false;
    TxAction action = tx.start(now);
    for (int guard = 0; action != TxAction::Done && guard < 100000; ++guard) {
        if (action == TxAction::Send) {
            r.sent.emplace_back(reinterpret_cast<const char *>(tx.out()), static_cast<std::size_t>(tx.outLength()));
            pending.clear();
            hangUpAt = -1;
            if (!answers.empty()) {
                for (const Chunk &c : answers.front().chunks)
                    pending.push_back({now + c.afterMs, c.bytes});
                if (answers.front().hangUpAfterMs >= 0)
                    hangUpAt = now + answers.front().hangUpAfterMs;
                answers.erase(answers.begin());
            }
        }
        double next = tx.deadline();
        int event = 0;  // 0 timer, 1 bytes, 2 hang-up, 3 stop
        if (!pending.empty() && pending.front().afterMs <= next) {
            next = pending.front().afterMs;
            event = 1;
        }
        if (hangUpAt >= 0 && hangUpAt < next) {
            next = hangUpAt;
            event = 2;
        }
        if (!stopped && stopAtMs >= 0 && stopAtMs < next) {
            next = stopAtMs;
            event = 3;
        }
        EXPECT_GE(next, now) << "time went back";
        now = next;
        if (event == 1) {
            std::string bytes = pending.front().bytes;
            pending.pop_front();
            action = tx.received(reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<int>(bytes.size()),
                                 now);
        } else if (event == 2) {
            action = tx.lineFailed(now, "hang-up: the device went away");
            hangUpAt = -1;
        } else if (event == 3) {
            stopped = true;
            action = tx.stop();
        } else {
            action = tx.timer(now);
        }
    }
    r.outcome = tx.outcome();
    r.endMs = now;
    return r;
}

const std::string LnxRead = "AT+READS_LNX";
const std::string UsbRead = "AT+READS_USB";

std::string settingsReply(const std::string &command, const std::string &payload)
{
    return command + " - OK! >> " + payload + "\r\n";
}

SettingsValues fromPayload(ReaderType kind, const std::string &payload)
{
    return settingsFromPayload(kind, reinterpret_cast<const unsigned char *>(payload.data()));
}

SettingsValues kindOnly(ReaderType kind)
{
    SettingsValues s;
    s.kind = kind;
    return s;
}

const SettingsValues LnxTarget = fromPayload(ReaderType::Lnx, "1.00W261SF");
const std::string LnxHeld = "1.00TMX1AO";
const std::string Ack = "AT+W261SF - OK!\r\n";

// Devices that must never be written: each answers the read with something
// that is not one whole reply of a reader of the kind.
TEST(Transaction, NoisyDevicesAreNeverWritten)
{
    std::string stream;
    for (int i = 0; i < 20; ++i)
        stream += settingsReply(LnxRead, LnxHeld);
    struct Device {
        const char *what;
        ReaderType kind;
        std::vector<Chunk> chunks;
        ReaderStatus status;
        const char *error;
    } devices[] = {
        // A stream of captured replies, paced as a 19200 baud line sends it:
        // every reply in it looks whole until the next byte comes.
        {"chattering stream", ReaderType::Lnx, paced(stream, 3), ReaderStatus::NoReader, "noise follows the reply"},
        {"chatter behind the payload", ReaderType::Lnx, paced(LnxRead + " - OK! >> 1.00TMX1AO chatter", 3),
         ReaderStatus::NoReader, "noise follows the reply"},
        {"chatter a moment after the line end", ReaderType::Lnx,
         {{5, settingsReply(LnxRead, LnxHeld)}, {5 + ReplyQuietMs - 1, "x"}}, ReaderStatus::NoReader,
         "noise follows the reply"},
        {"firmware 1.000", ReaderType::Lnx, paced(settingsReply(LnxRead, "1.000TMX1AO"), 3), ReaderStatus::NoReader,
         "noise follows the reply"},
        {"a Usb payload answering the Lnx read", ReaderType::Lnx, paced(settingsReply(LnxRead, "1.00WHDH5EM"), 3),
         ReaderStatus::NoReader, "noise follows the reply"},
        {"Lnx letters answering the Usb read", ReaderType::Usb, paced(settingsReply(UsbRead, LnxHeld), 3),
         ReaderStatus::WrongReader, "does not send; nothing written"},
        {"a payload one letter short", ReaderType::Lnx, paced(settingsReply(LnxRead, "1.00TMX1A"), 3),
         ReaderStatus::WrongReader, "does not send; nothing written"},
        {"a payload one letter short, no line end", ReaderType::Lnx,
         paced(LnxRead + " - OK! >> 1.00TMX1A", 3), ReaderStatus::WrongReader, "are 9 bytes, not 10"},
        {"a letter the table does not know", ReaderType::Lnx, paced(settingsReply(LnxRead, "1.00TMX1ZO"), 3),
         ReaderStatus::WrongReader, "does not send; nothing written"},
        {"firmware 1.01", ReaderType::Lnx, paced(settingsReply(LnxRead, "1.01TMX1AO"), 3), ReaderStatus::WrongReader,
         "firmware 1.01 is not supported"},
        {"a bare acknowledgement", ReaderType::Lnx, {{4, LnxRead + " - OK!\r\n"}}, ReaderStatus::WrongReader,
         "without settings"},
        {"a refusal", ReaderType::Lnx, {{4, LnxRead + " - UNKNOWN CMD!\r\n"}}, ReaderStatus::WrongReader,
         "\" - UNKNOWN CMD!\" to AT+READS_LNX"},
        {"sixty-four bytes without a marker", ReaderType::Lnx, {{4, std::string(80, 'Z')}}, ReaderStatus::NoReader,
         "64 bytes without a complete reply"},
        {"silence", ReaderType::Lnx, {}, ReaderStatus::NoReader, "no reply within 1000 ms"},
    };
    for (const Device &d : devices) {
        SettingsValues target = d.kind == ReaderType::Lnx ? LnxTarget : fromPayload(ReaderType::Usb, "1.00AHDD4EX");
        Result r = run(TxOperation::Apply, target, {{d.chunks}});
        EXPECT_EQ(r.sent, std::vector<std::string>{d.kind == ReaderType::Lnx ? LnxRead : UsbRead}) << d.what;
        EXPECT_FALSE(r.outcome.wrote) << d.what;
        EXPECT_FALSE(r.outcome.hasBefore) << d.what;
        EXPECT_EQ(r.outcome.status, d.status) << d.what << ": " << r.outcome.error;
        EXPECT_NE(std::string(r.outcome.error).find(d.error), std::string::npos) << d.what << ": " << r.outcome.error;
    }
}

TEST(Transaction, AReplyIsWholeWhenTheLineThenStaysQuiet)
{
    const std::string reply = settingsReply(LnxRead, LnxHeld);
    struct Case {
        const char *what;
        std::vector<Chunk> chunks;
        double doneAtMs;
    } cases[] = {
        {"in one chunk", {{7, reply}}, 7 + ReplyQuietMs},
        {"in three chunks 30 ms apart", {{5, reply.substr(0, 10)}, {35, reply.substr(10, 15)}, {65, reply.substr(25)}},
         65 + ReplyQuietMs},
        {"the line end 15 ms after the payload", {{5, reply.substr(0, reply.size() - 2)}, {20, "\r\n"}},
         20 + ReplyQuietMs},
        {"paced at 19200 baud", paced(reply, 2), 2 + CharacterMs * static_cast<double>(reply.size()) + ReplyQuietMs},
        {"without a line end", {{5, reply.substr(0, reply.size() - 2)}}, 5 + ReplyQuietMs},
    };
    for (const Case &c : cases) {
        Result r = run(TxOperation::Read, kindOnly(ReaderType::Lnx), {{c.chunks}});
        EXPECT_EQ(r.outcome.status, ReaderStatus::Read) << c.what << ": " << r.outcome.error;
        EXPECT_EQ(r.outcome.before, fromPayload(ReaderType::Lnx, LnxHeld)) << c.what;
        EXPECT_STREQ(r.outcome.firmware, "1.00") << c.what;
        EXPECT_DOUBLE_EQ(r.endMs, c.doneAtMs) << c.what;
    }
}

TEST(Transaction, ApplyWritesReadsBackAndNamesWhatDiffers)
{
    struct Case {
        std::string readBack;
        ReaderStatus status;
        const char *error;
    } cases[] = {
        {"1.00W261SF", ReaderStatus::Verified, ""},
        {"1.00W261AF", ReaderStatus::Mismatch, "read back after the write: standby is off, not static"},
        {"1.01W261SF", ReaderStatus::Mismatch, "the read-back carries firmware 1.01"},
    };
    for (const Case &c : cases) {
        Result r = run(TxOperation::Apply, LnxTarget,
                    {{{{4, settingsReply(LnxRead, LnxHeld)}}}, {{{3, Ack}}}, {{{4, settingsReply(LnxRead, c.readBack)}}}});
        EXPECT_EQ(r.sent, (std::vector<std::string>{LnxRead, "AT+W261SF", LnxRead}));
        EXPECT_EQ(r.outcome.status, c.status) << r.outcome.error;
        EXPECT_STREQ(r.outcome.error, c.error);
        EXPECT_TRUE(r.outcome.wrote);
        EXPECT_EQ(r.outcome.before, fromPayload(ReaderType::Lnx, LnxHeld));
    }
    Result refused = run(TxOperation::Apply, LnxTarget,
                      {{{{4, settingsReply(LnxRead, LnxHeld)}}}, {{{3, "AT+W261SF - UNKNOWN CMD!\r\n"}}}});
    EXPECT_EQ(refused.outcome.status, ReaderStatus::Refused);
    EXPECT_STREQ(refused.outcome.error, "the reader refused the write AT+W261SF (\" - UNKNOWN CMD!\")");
    EXPECT_EQ(refused.sent.size(), 2u);

    Result same = run(TxOperation::Apply, LnxTarget, {{{{4, settingsReply(LnxRead, "1.00W261SF")}}}});
    EXPECT_EQ(same.outcome.status, ReaderStatus::Unchanged);
    EXPECT_EQ(same.sent.size(), 1u);
}

// After a write the outcome is never a guess: anything but a clean
// acknowledgement and read-back leaves the state unknown.
TEST(Transaction, AWriteWithoutCleanAcknowledgementOrReadBackIsLinkLost)
{
    const Answer read = {{{4, settingsReply(LnxRead, LnxHeld)}}};
    std::vector<std::vector<Answer>> scripts = {
        {read, {{}, 2}},                                          // gone before the acknowledgement
        {read, {{{1, "AT+W2"}}, 3}},                              // gone inside it
        {read, {}},                                               // never acknowledged
        {read, {{{3, Ack + "junk"}}}},                            // noise behind it
        {read, {{{3, Ack}}, ReplyQuietMs / 2}},                   // gone inside its quiet time
        {read, {{{3, Ack}}}, {{{1, "AT+READS_LNX - OK! >> 1.0"}}, 5}},  // gone during the read-back
    };
    for (std::size_t i = 0; i < scripts.size(); ++i) {
        Result r = run(TxOperation::Apply, LnxTarget, scripts[i]);
        EXPECT_EQ(r.outcome.status, ReaderStatus::LinkLost) << "script " << i << ": " << r.outcome.error;
        EXPECT_TRUE(r.outcome.wrote) << i;
        EXPECT_NE(std::string(r.outcome.error).find("run verify"), std::string::npos) << r.outcome.error;
    }
}

TEST(Transaction, AnUnplugInsideTheQuietTimeKeepsAWholeReplyButWritesNothing)
{
    const Answer unplugged = {{{4, settingsReply(LnxRead, LnxHeld)}}, 4 + ReplyQuietMs / 2};
    Result read = run(TxOperation::Read, kindOnly(ReaderType::Lnx), {unplugged});
    EXPECT_EQ(read.outcome.status, ReaderStatus::Read) << read.outcome.error;
    EXPECT_EQ(read.outcome.before, fromPayload(ReaderType::Lnx, LnxHeld));

    Result apply = run(TxOperation::Apply, LnxTarget, {unplugged});
    EXPECT_EQ(apply.sent.size(), 1u);
    EXPECT_FALSE(apply.outcome.wrote);
    EXPECT_EQ(apply.outcome.status, ReaderStatus::NoReader);
    EXPECT_TRUE(apply.outcome.hasBefore);
    EXPECT_NE(std::string(apply.outcome.error).find("nothing written"), std::string::npos);

    // Cut off before the reply was whole: no reader.
    Result cut = run(TxOperation::Read, kindOnly(ReaderType::Lnx), {{{{4, LnxRead + " - OK! >> 1.00TM"}}, 6}});
    EXPECT_EQ(cut.outcome.status, ReaderStatus::NoReader);
    EXPECT_STREQ(cut.outcome.error, "no Tarvik-LNA_LNB reader: hang-up: the device went away");
}

TEST(Transaction, AStopBeforeTheWriteEndsAtOnceAndAfterItFinishes)
{
    // Stopped while a silent port is waited for: skipped at that moment.
    Result silent = run(TxOperation::Apply, LnxTarget, {}, 120);
    EXPECT_EQ(silent.outcome.status, ReaderStatus::Skipped);
    EXPECT_DOUBLE_EQ(silent.endMs, 120);
    EXPECT_FALSE(silent.outcome.wrote);

    // Stopped inside the quiet time of the read: still nothing written.
    Result beforeWrite = run(TxOperation::Apply, LnxTarget, {{{{4, settingsReply(LnxRead, LnxHeld)}}}}, 10);
    EXPECT_EQ(beforeWrite.sent.size(), 1u);
    EXPECT_EQ(beforeWrite.outcome.status, ReaderStatus::Skipped);

    // Stopped once the write went out: acknowledgement and read-back follow.
    const double writeSentAt = 4 + ReplyQuietMs;
    Result afterWrite = run(TxOperation::Apply, LnxTarget,
                         {{{{4, settingsReply(LnxRead, LnxHeld)}}}, {{{30, Ack}}}, {{{4, settingsReply(LnxRead, "1.00W261SF")}}}},
                         writeSentAt + 1);
    EXPECT_EQ(afterWrite.sent.size(), 3u);
    EXPECT_EQ(afterWrite.outcome.status, ReaderStatus::Verified) << afterWrite.outcome.error;
}

// ---- The console tool's driver, over a scripted line -----------------------

// One command the line expects and how the reader answers it.
struct Step {
    std::vector<std::string> reply;  // chunks, each delivered by one read
    bool hangUpAfterReply = false;   // then the line fails (device gone)
    bool writeFails = false;
};

class ScriptedLine : public SerialLine {
public:
    explicit ScriptedLine(std::vector<Step> steps, std::string stale = "")
        : steps_(steps.begin(), steps.end())
    {
        if (!stale.empty())
            pending_.push_back(stale);
    }

    bool write(const unsigned char *bytes, std::size_t count, LineStatus &status) override
    {
        written.emplace_back(reinterpret_cast<const char *>(bytes), count);
        if (steps_.empty()) {
            pending_.clear();
            hungUp_ = false;
            return true;  // nobody answers
        }
        Step step = steps_.front();
        steps_.pop_front();
        if (step.writeFails) {
            status.error = LineError::Io;
            status.message = "fake: write failed";
            return false;
        }
        for (const std::string &chunk : step.reply)
            pending_.push_back(chunk);
        hungUp_ = step.hangUpAfterReply;
        return true;
    }

    long read(unsigned char *buffer, std::size_t capacity, int timeoutMs, LineStatus &status) override
    {
        if (!pending_.empty()) {
            std::string &chunk = pending_.front();
            std::size_t n = std::min(capacity, chunk.size());
            std::copy(chunk.begin(), chunk.begin() + static_cast<long>(n), buffer);
            chunk.erase(0, n);
            if (chunk.empty())
                pending_.pop_front();
            return static_cast<long>(n);
        }
        if (hungUp_) {
            status.error = LineError::HangUp;
            status.message = "fake: hang-up";
            return -1;
        }
        // Silence lasts as long as the caller is willing to wait.
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        if (timeoutMs > 0)
            ++silentReads;
        return 0;
    }

    void discardInput() override
    {
        discarded += static_cast<int>(pending_.size());
        pending_.clear();
    }

    std::vector<std::string> written;
    int discarded = 0;
    int silentReads = 0;

private:
    std::deque<Step> steps_;
    std::deque<std::string> pending_;
    bool hungUp_ = false;
};

constexpr int TimeoutMs = 400;

std::string lnxReply(const std::string &letters) { return settingsReply(LnxRead, "1.00" + letters); }

TEST(Drive, RunsTheTransactionOverTheLineAndDropsStaleInputFirst)
{
    ScriptedLine line({{{lnxReply("TMX1AO")}}, {{Ack}}, {{lnxReply("W261SF")}}}, " - UNKNOWN CMD!");
    auto start = std::chrono::steady_clock::now();
    ReaderReport r = applyProfile(line, LnxTarget, TimeoutMs, false);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, ReaderStatus::Verified) << r.error;
    EXPECT_EQ(line.written, (std::vector<std::string>{LnxRead, "AT+W261SF", LnxRead}));
    EXPECT_EQ(line.discarded, 1);
    EXPECT_EQ(r.firmware, "1.00");
    EXPECT_TRUE(r.wrote);
    // Each reply ended after its quiet time, not after the time-out.
    EXPECT_LT(took, std::chrono::milliseconds(TimeoutMs));

    ScriptedLine failing({{{lnxReply("TMX1AO")}}, {{}, false, true}});
    ReaderReport lost = applyProfile(failing, LnxTarget, TimeoutMs, false);
    EXPECT_EQ(lost.status, ReaderStatus::LinkLost);
    EXPECT_NE(lost.error.find("fake: write failed"), std::string::npos) << lost.error;
}

// The stop flag is seen within one wait slice, however long the time-out.
TEST(Drive, AStopEndsASilentWaitAtOnce)
{
    std::atomic<bool> stop(false);
    ScriptedLine line(std::vector<Step>{Step{}});
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop = true;
    });
    auto start = std::chrono::steady_clock::now();
    ReaderReport r = applyProfile(line, LnxTarget, 5000, false, &stop);
    auto took = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_EQ(r.status, ReaderStatus::Skipped);
    EXPECT_LT(took, std::chrono::milliseconds(100 + 4 * DriveSliceMs));

    ScriptedLine untouched(std::vector<Step>{Step{}});
    ReaderReport before = readReader(untouched, ReaderType::Lnx, TimeoutMs, &stop);
    EXPECT_EQ(before.status, ReaderStatus::Skipped);
    EXPECT_TRUE(untouched.written.empty());
}

}  // namespace
