// The read, apply and verify transactions against a scripted line: what is
// written, in what order, and what each reply (or its absence) makes of it.
#include "protocol/exchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int TimeoutMs = 40;

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

const std::string Echo = "AT+READS_LNX";
std::string lnxReply(const std::string &letters) { return Echo + " - OK! >> 1.00" + letters + "\r\n"; }
const std::string Ack = "AT+W261SF - OK!\r\n";
const std::string Refusal = " - UNKNOWN CMD!\r\n";

SettingsValues lnxProfile(const char *letters)
{
    std::string payload = std::string("1.00") + letters;
    return settingsFromPayload(ReaderType::Lnx, reinterpret_cast<const unsigned char *>(payload.data()));
}

const SettingsValues Profile = lnxProfile("W261SF");

TEST(Apply, WritesReadsBackAndVerifies)
{
    ScriptedLine line({{{lnxReply("TMX1AO")}}, {{Ack}}, {{lnxReply("W261SF")}}});
    ReaderReport r = applyProfile(line, Profile, TimeoutMs, false);
    EXPECT_EQ(r.status, ReaderStatus::Verified) << r.error;
    EXPECT_EQ(line.written, (std::vector<std::string>{"AT+READS_LNX", "AT+W261SF", "AT+READS_LNX"}));
    EXPECT_EQ(r.before, lnxProfile("TMX1AO"));
    EXPECT_EQ(r.after, Profile);
    EXPECT_EQ(r.firmware, "1.00");
    // Each reply was complete when it was: no exchange waited out its time.
    EXPECT_EQ(line.silentReads, 0);
}

TEST(Apply, AReaderThatHoldsTheProfileIsNotWritten)
{
    ScriptedLine line({{{lnxReply("W261SF")}}});
    ReaderReport r = applyProfile(line, Profile, TimeoutMs, false);
    EXPECT_EQ(r.status, ReaderStatus::Unchanged);
    EXPECT_EQ(line.written, (std::vector<std::string>{"AT+READS_LNX"}));
    EXPECT_FALSE(r.wrote);
}

TEST(Apply, DryRunWritesNothing)
{
    ScriptedLine line({{{lnxReply("TMX1AO")}}});
    ReaderReport r = applyProfile(line, Profile, TimeoutMs, true);
    EXPECT_EQ(r.status, ReaderStatus::Read);
    EXPECT_EQ(line.written, (std::vector<std::string>{"AT+READS_LNX"}));
}

TEST(Apply, AReadBackThatDiffersIsAMismatchNamingTheField)
{
    ScriptedLine line({{{lnxReply("TMX1AO")}}, {{Ack}}, {{lnxReply("W261AF")}}});
    ReaderReport r = applyProfile(line, Profile, TimeoutMs, false);
    EXPECT_EQ(r.status, ReaderStatus::Mismatch);
    EXPECT_EQ(readerStatusExitCode(r.status), 5);
    EXPECT_NE(r.error.find("standby is off, not static"), std::string::npos) << r.error;
}

TEST(Apply, ARefusedWriteIsReportedAndNotReadBack)
{
    ScriptedLine line({{{lnxReply("TMX1AO")}}, {{Refusal}}});
    ReaderReport r = applyProfile(line, Profile, TimeoutMs, false);
    EXPECT_EQ(r.status, ReaderStatus::Refused);
    EXPECT_EQ(readerStatusExitCode(r.status), 5);
    EXPECT_EQ(line.written.size(), 2u);
}

TEST(Apply, AReaderThatRefusesTheReadIsNeverWritten)
{
    ScriptedLine line({{{Echo + Refusal}}});
    ReaderReport r = applyProfile(line, Profile, TimeoutMs, false);
    EXPECT_EQ(r.status, ReaderStatus::WrongReader);
    EXPECT_EQ(readerStatusExitCode(r.status), 4);
    EXPECT_EQ(line.written, (std::vector<std::string>{"AT+READS_LNX"}));
}

TEST(Apply, OtherFirmwareIsNeverWritten)
{
    ScriptedLine line({{{Echo + " - OK! >> 1.01TMX1AO\r\n"}}});
    ReaderReport r = applyProfile(line, Profile, TimeoutMs, false);
    EXPECT_EQ(r.status, ReaderStatus::WrongReader);
    EXPECT_EQ(r.firmware, "1.01");
    EXPECT_NE(r.error.find("firmware 1.01 is not supported"), std::string::npos) << r.error;
    EXPECT_EQ(line.written.size(), 1u);
}

TEST(Apply, ASilentPortIsNoReaderAndIsNeverWritten)
{
    ScriptedLine line(std::vector<Step>{Step{}});
    ReaderReport r = applyProfile(line, Profile, TimeoutMs, false);
    EXPECT_EQ(r.status, ReaderStatus::NoReader);
    EXPECT_EQ(readerStatusExitCode(r.status), 3);
    EXPECT_EQ(line.written.size(), 1u);
}

TEST(Apply, TheLineLostAfterTheWriteLeavesTheStateUnknown)
{
    // Gone before the acknowledgement, gone during the read-back, and an
    // acknowledgement that never comes.
    std::vector<std::vector<Step>> scripts = {
        {{{lnxReply("TMX1AO")}}, {{}, true}},
        {{{lnxReply("TMX1AO")}}, {{"AT+W2"}, true}},
        {{{lnxReply("TMX1AO")}}, {{Ack}}, {{"AT+READS_LNX - OK! >> 1.0"}, true}},
        {{{lnxReply("TMX1AO")}}, {{}}},
        {{{lnxReply("TMX1AO")}}, {{}, false, true}},
    };
    for (std::size_t i = 0; i < scripts.size(); ++i) {
        ScriptedLine line(scripts[i]);
        ReaderReport r = applyProfile(line, Profile, TimeoutMs, false);
        EXPECT_EQ(r.status, ReaderStatus::LinkLost) << "script " << i << ": " << r.error;
        EXPECT_EQ(readerStatusExitCode(r.status), 6);
        EXPECT_NE(r.error.find("verify"), std::string::npos) << r.error;
        EXPECT_TRUE(r.wrote);
    }
}

TEST(Read, AReplyCutAtEveryPositionIsNeverTakenForSettings)
{
    const std::string whole = lnxReply("W261SF");
    // The reply ends with the payload's last letter; "\r\n" is not needed.
    const std::size_t needed = whole.size() - 2;
    for (std::size_t cut = 0; cut < needed; ++cut) {
        ScriptedLine line({{{whole.substr(0, cut)}}});
        ReaderReport r = readReader(line, ReaderType::Lnx, TimeoutMs);
        EXPECT_NE(r.status, ReaderStatus::Read) << "cut at " << cut;
        EXPECT_FALSE(r.hasBefore) << "cut at " << cut;
        // Cut inside "OK!": not a reader's answer; a bare "OK!": a reader,
        // but not one that answers the read with settings.
        EXPECT_TRUE(r.status == ReaderStatus::NoReader || r.status == ReaderStatus::WrongReader) << cut;
    }
    ScriptedLine line({{{whole.substr(0, needed)}}});
    EXPECT_EQ(readReader(line, ReaderType::Lnx, TimeoutMs).status, ReaderStatus::Read);
}

TEST(Read, AReplyInPiecesIsCollectedWithoutWaitingOutTheTime)
{
    const std::string whole = lnxReply("W441DF");
    std::vector<std::string> bytes;
    for (char c : whole)
        bytes.emplace_back(1, c);
    ScriptedLine line({{bytes}});
    ReaderReport r = readReader(line, ReaderType::Lnx, TimeoutMs);
    EXPECT_EQ(r.status, ReaderStatus::Read);
    EXPECT_EQ(r.before, lnxProfile("W441DF"));
    EXPECT_EQ(line.silentReads, 0);
}

TEST(Read, InputLeftFromBeforeIsDiscardedBeforeTheCommand)
{
    ScriptedLine line({{{lnxReply("W441DF")}}}, " - UNKNOWN CMD!");
    ReaderReport r = readReader(line, ReaderType::Lnx, TimeoutMs);
    EXPECT_EQ(r.status, ReaderStatus::Read) << r.error;
    EXPECT_EQ(line.discarded, 1);
}

TEST(Read, SixtyFourBytesOfNoiseEndTheExchangeAsNoReader)
{
    ScriptedLine line({{{std::string(200, 'Z')}}});
    auto start = std::chrono::steady_clock::now();
    ReaderReport r = readReader(line, ReaderType::Lnx, 5000);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, ReaderStatus::NoReader);
    EXPECT_NE(r.error.find("64 bytes"), std::string::npos) << r.error;
    // It gave up at the full block, long before the 5 s time-out.
    EXPECT_LT(took, std::chrono::milliseconds(2500));
}

TEST(Apply, APortThatGoesOnSendingBehindAReplyIsNeverWritten)
{
    const std::string reply = lnxReply("TMX1AO");
    for (std::vector<std::string> chunks :
         {std::vector<std::string>{reply + "0123"}, std::vector<std::string>{reply, "AT+READS_LNX - OK!"},
          std::vector<std::string>{reply.substr(0, reply.size() - 2), "\r\n\xff"}}) {
        ScriptedLine line({{chunks}, {{Ack}}, {{lnxReply("W261SF")}}});
        ReaderReport r = applyProfile(line, Profile, TimeoutMs, false);
        EXPECT_EQ(r.status, ReaderStatus::NoReader) << chunks[0];
        EXPECT_NE(r.error.find("noise follows the reply"), std::string::npos) << r.error;
        EXPECT_EQ(line.written.size(), 1u);
    }
}

TEST(Read, AnUnsupportedFirmwareOrKindIsAWrongReader)
{
    ScriptedLine usbLine({{{"AT+READS_USB - OK! >> 1.00WHDH5EM"}}});
    ReaderReport r = readReader(usbLine, ReaderType::Usb, TimeoutMs);
    EXPECT_EQ(r.status, ReaderStatus::Read);
    EXPECT_EQ(usbLine.written, (std::vector<std::string>{"AT+READS_USB"}));

    ScriptedLine bareAck({{{"AT+READS_LNX - OK!\r\n"}}});
    EXPECT_EQ(readReader(bareAck, ReaderType::Lnx, TimeoutMs).status, ReaderStatus::WrongReader);
}

TEST(Verify, ComparesWithoutWriting)
{
    ScriptedLine same({{{lnxReply("W261SF")}}});
    EXPECT_EQ(verifyProfile(same, Profile, TimeoutMs).status, ReaderStatus::Verified);
    ScriptedLine other({{{lnxReply("W261SO")}}});
    ReaderReport r = verifyProfile(other, Profile, TimeoutMs);
    EXPECT_EQ(r.status, ReaderStatus::Mismatch);
    EXPECT_EQ(r.error, "touch_poll is on, not off");
    EXPECT_EQ(other.written.size(), 1u);
}

}  // namespace
