// A failure of the console tool itself while a reader is talked to: the
// report says whether the reader may have been written.
#include "cli/drive.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

// A Tarvik-LNA_LNB reader holding other settings than the profile, over a
// line that fails in this program (an exception) at one step.
class FailingLine : public SerialLine {
public:
    enum class Where { Write, ReadAfter };
    FailingLine(Where where, int command, bool standard) : where_(where), command_(command), standard_(standard) {}

    bool write(const unsigned char *bytes, std::size_t count, LineStatus &) override
    {
        commands.emplace_back(reinterpret_cast<const char *>(bytes), count);
        pending_.clear();
        if (where_ == Where::Write && commands.size() == static_cast<std::size_t>(command_))
            fail();
        // The read is answered; anything after it meets silence.
        if (commands.size() == 1)
            pending_ = commands.front() + " - OK! >> 1.00TMX1AO\r\n";
        return true;
    }

    long read(unsigned char *buffer, std::size_t capacity, int timeoutMs, LineStatus &) override
    {
        if (where_ == Where::ReadAfter && commands.size() == static_cast<std::size_t>(command_))
            fail();
        if (pending_.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            return 0;
        }
        std::size_t n = std::min(capacity, pending_.size());
        pending_.copy(reinterpret_cast<char *>(buffer), n);
        pending_.erase(0, n);
        return static_cast<long>(n);
    }

    void discardInput() override {}

    std::vector<std::string> commands;

private:
    void fail()
    {
        if (standard_)
            throw std::runtime_error("no memory left");
        throw 7;
    }
    Where where_;
    int command_;
    bool standard_;
    std::string pending_;
};

TEST(DriveFailure, AReaderWrittenIsLinkLostOneNotWrittenNoReader)
{
    const SettingsValues profile = settingsFromPayload(ReaderType::Lnx, reinterpret_cast<const unsigned char *>("1.00W261SF"));
    struct Case {
        FailingLine::Where where;
        int command;  // 1: the read, 2: the write
        bool standard;
        ReaderStatus status;
        const char *error;
    };
    const Case cases[] = {
        {FailingLine::Where::Write, 1, true, ReaderStatus::NoReader, "internal failure: no memory left"},
        {FailingLine::Where::ReadAfter, 1, false, ReaderStatus::NoReader, "internal failure"},
        // Handed to the line, the write may have gone out.
        {FailingLine::Where::Write, 2, true, ReaderStatus::LinkLost, "internal failure: no memory left"},
        {FailingLine::Where::ReadAfter, 2, false, ReaderStatus::LinkLost, "internal failure"},
    };
    for (const Case &c : cases) {
        FailingLine line(c.where, c.command, c.standard);
        ReaderReport r = applyProfile(line, profile, 400, false);
        SCOPED_TRACE(std::to_string(c.command) + (c.where == FailingLine::Where::Write ? " write" : " read after"));
        ASSERT_EQ(line.commands.size(), static_cast<std::size_t>(c.command));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.wrote, c.command == 2);
        if (c.command == 2) {
            EXPECT_EQ(line.commands[1], "AT+W261SF");
            EXPECT_TRUE(r.hasBefore);  // what it held before is still told
        }
    }
}

}  // namespace
