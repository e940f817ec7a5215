// The run policy (exit codes, statuses, repeated ports, summary) and the
// system services the console tool keeps its records with.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "cli/batch.h"
#include "cli/sha256.h"
#include "cli/trace.h"
#include "serial/host.h"

namespace {

PortJob job(ReaderStatus status, bool probed = false, LineError openError = LineError::None,
            const char *firmware = "")
{
    PortJob j;
    j.port = "/dev/ttyS0";
    j.probed = probed;
    j.openError = openError;
    j.report.status = status;
    j.report.firmware = firmware;
    return j;
}

TEST(Batch, ExitCodeOfARun)
{
    const PortJob verified = job(ReaderStatus::Verified);
    const PortJob emptyProbe = job(ReaderStatus::NoReader, true);
    const PortJob busyProbe = job(ReaderStatus::NoReader, true, LineError::Busy);
    const PortJob otherFirmwareProbe = job(ReaderStatus::WrongReader, true, LineError::None, "1.01");
    const PortJob silentProbe = job(ReaderStatus::WrongReader, true);
    const PortJob noDescriptor = job(ReaderStatus::NoReader, true, LineError::OutOfResources);
    const PortJob skipped = job(ReaderStatus::Skipped);
    struct Case {
        std::vector<PortJob> jobs;
        RunEnd end;
        int code;
    };
    const Case cases[] = {
        {{verified, emptyProbe, silentProbe}, {}, 0},
        {{emptyProbe, silentProbe}, {}, 3},  // --all found nothing
        {{verified, busyProbe}, {}, 3},      // a reader may be behind it
        {{verified, otherFirmwareProbe}, {}, 4},
        {{job(ReaderStatus::Mismatch), job(ReaderStatus::LinkLost), verified}, {}, 6},
        {{verified, noDescriptor}, {}, 7},
        {{verified, skipped}, {0, true}, 8},
        {{job(ReaderStatus::LinkLost), noDescriptor}, {0, true}, 8},
        // A signal cut the run short: whatever else happened.
        {{verified, skipped}, {2, false}, 130},
        {{verified, verified}, {15, false}, 143},
        {{job(ReaderStatus::Refused), skipped}, {1, true}, 129},
    };
    for (const Case &c : cases)
        EXPECT_EQ(runExitCode(c.jobs, c.end), c.code) << &c - cases;
    EXPECT_STREQ(jobStatusName(noDescriptor), "port_error");
    EXPECT_FALSE(quietlyEmpty(noDescriptor));
    // Every code the program returns is in the table --help shows.
    for (int code : {0, 2, 3, 4, 5, 6, 7, 8, 129, 130, 141, 143})
        EXPECT_NE(exitCodeHelp().find("  " + std::to_string(code) + " "), std::string::npos) << code;
}

TEST(Batch, PortsPlannedForEachKind)
{
    PortInfo plain, usbReader, otherUsb;
    plain.name = "/dev/ttyS0";
    usbReader.name = "/dev/ttyACM0";
    usbReader.vendorId = TarvikUsbVendorId;
    usbReader.productId = TarvikUsbProductId;
    usbReader.tarvikUsb = true;
    usbReader.serialNumber = "T-0042";
    otherUsb.name = "/dev/ttyUSB0";
    otherUsb.vendorId = 0x0403;
    otherUsb.productId = TarvikUsbProductId;
    const std::vector<PortInfo> system = {plain, usbReader, otherUsb};
    auto ports = [](const std::vector<PortJob> &jobs) {
        std::string names;
        for (const PortJob &j : jobs)
            names += j.port + (j.probed ? "?" : "") + (j.serialNumber.empty() ? "" : "#" + j.serialNumber) + " ";
        return names;
    };
    // The Lnx read never goes to the port that is the Usb reader.
    EXPECT_EQ(ports(planAll(ReaderType::Lnx, system)), "/dev/ttyS0? /dev/ttyUSB0? ");
    EXPECT_EQ(ports(planAll(ReaderType::Usb, system)), "/dev/ttyACM0#T-0042 ");
    // A named port finds its serial number through any name of the device.
    auto identity = [](const std::string &port) {
        return port == "/dev/serial/by-id/usb-Tarvik_USB_T-0042-if00" || port == "ttyACM0" ? "/dev/ttyACM0" : port;
    };
    EXPECT_EQ(ports(planNamed({"/dev/serial/by-id/usb-Tarvik_USB_T-0042-if00", "ttyACM0", "/dev/ttyS0"}, system,
                              identity)),
              "/dev/serial/by-id/usb-Tarvik_USB_T-0042-if00#T-0042 ttyACM0#T-0042 /dev/ttyS0 ");
}

TEST(Batch, APortNamedAgainIsAskedOnceAndSaysSo)
{
    std::vector<PortJob> jobs;
    for (const char *name : {"ttyS0", "/dev/ttyS0", "ttyS1", "ttyS0"}) {
        jobs.push_back(job(ReaderStatus::NoReader));
        jobs.back().port = name;
    }
    auto identity = [](const std::string &port) { return port.find('/') == 0 ? port : "/dev/" + port; };
    std::vector<std::string> notes = dropRepeatedPorts(jobs, identity);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].port, "ttyS0");
    EXPECT_EQ(jobs[1].port, "ttyS1");
    EXPECT_EQ(notes, (std::vector<std::string>{"/dev/ttyS0: the same port as ttyS0: asked once",
                                               "ttyS0: named more than once: asked once"}));
}

TEST(Batch, SummaryCountsEachStatusInOrderOfFirstAppearance)
{
    std::vector<PortJob> jobs = {job(ReaderStatus::Verified), job(ReaderStatus::NoReader, true),
                                 job(ReaderStatus::Verified), job(ReaderStatus::Unchanged),
                                 job(ReaderStatus::WrongReader, true)};
    EXPECT_EQ(summaryLine(jobs), "2 verified, 2 no reader, 1 unchanged");
}

TEST(Sha256, KnownDigests)
{
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Padding that spills into a second block.
    EXPECT_EQ(sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Trace, EscapedTextKeepsUtf8AndShowsEveryOtherByte)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"port-\xc3\xa9", "port-\xc3\xa9"},  // é stays
        {"port-\xff", "port-\\xFF"},
        {"a\nb\x1b[2J", "a\\x0Ab\\x1B[2J"},
        {"back\\slash", "back\\x5Cslash"},
        {"\xc3", "\\xC3"},                      // cut short
        {"\xc0\xaf", "\\xC0\\xAF"},             // overlong
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},    // a UTF-16 half
        {std::string("n\0l", 3), "n\\x00l"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(escapedText(c.first), c.second) << c.second;
}

// One reading of UTF-8 for the trace, the messages and the JSON names.
TEST(Trace, IsUtf8AcceptsWholeCharactersOnly)
{
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"/dev/ttyUSB0", true},
        {std::string("n\0l\x01", 4), true},         // control characters are UTF-8
        {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", true},  // two, three and four bytes
        {"\xf4\x8f\xbf\xbf", true},                 // U+10FFFF
        {"port-\xff", false},
        {"\xc3", false},                            // cut short
        {"\xe2\x82", false},                        // cut short
        {"\xc3(", false},                           // not followed on
        {"\x80", false},                            // a stray continuation
        {"\xc0\xaf", false},                        // overlong
        {"\xe0\x80\xaf", false},                    // overlong
        {"\xf0\x80\x80\xaf", false},                // overlong
        {"\xed\xa0\x80", false},                    // a UTF-16 half
        {"\xf4\x90\x80\x80", false},                // beyond U+10FFFF
        {"\xf8\x88\x80\x80\x80", false},            // five bytes
    };
    for (const auto &c : cases) {
        EXPECT_EQ(isUtf8(c.first), c.second) << escapedText(c.first);
        // What is UTF-8 is shown with no byte escaped but control characters.
        if (c.second && c.first.find_first_of(std::string("\0\x01", 2)) == std::string::npos)
            EXPECT_EQ(escapedText(c.first), c.first);
    }
}

class HostFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/velmora-host-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
    std::string dir;
};

// Two runs appending to one log at once: every line whole, whatever its
// length.
TEST_F(HostFiles, RecordsOfTwoWritersNeverMix)
{
    const std::string path = dir + "/site.log";
    constexpr int Lines = 200;
    auto writer = [&path](char fill) {
        AppendFile log;
        std::string error;
        ASSERT_TRUE(log.open(path, error)) << error;
        const std::string line = std::string(20000, fill) + "\n";
        for (int i = 0; i < Lines; ++i)
            ASSERT_TRUE(log.append(line, error)) << error;
    };
    std::thread first(writer, 'a');
    std::thread second(writer, 'b');
    first.join();
    second.join();
    std::ifstream in(path);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        ++count;
        ASSERT_EQ(line.size(), 20000u);
        EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos) << "line " << count << " is mixed";
    }
    EXPECT_EQ(count, 2 * Lines);
}

TEST_F(HostFiles, AFullDiskIsAFailedRecord)
{
    AppendFile log;
    std::string error;
    ASSERT_TRUE(log.open("/dev/full", error));
    EXPECT_FALSE(log.append("{\"status\": \"verified\"}\n", error));
    EXPECT_NE(error.find("No space"), std::string::npos) << error;
}

TEST_F(HostFiles, OnlyARegularFileIsReplaced)
{
    const std::string fifo = dir + "/fifo", link = dir + "/link", target = dir + "/target";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(target) << "kept";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    std::string error;
    EXPECT_FALSE(replaceFile(fifo, "x", error));
    EXPECT_FALSE(replaceFile(link, "x", error));
    EXPECT_EQ(pathKind(fifo), PathKind::Other);
    EXPECT_EQ(pathKind(link), PathKind::Other);
    std::string text;
    std::ifstream(target) >> text;
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(std::system(("test $(ls " + dir + " | wc -l) -eq 3").c_str()), 0);
}

TEST_F(HostFiles, SameFileSeesThroughLinksAndSpellings)
{
    const std::string file = dir + "/p.json";
    std::ofstream(file) << "{}";
    ASSERT_EQ(symlink(file.c_str(), (dir + "/link").c_str()), 0);
    EXPECT_TRUE(sameFile(file, dir + "/link"));
    EXPECT_TRUE(sameFile(file, dir + "/./p.json"));
    EXPECT_TRUE(sameFile(dir + "/new.txt", dir + "/../" + dir.substr(5) + "/new.txt"));
    EXPECT_FALSE(sameFile(file, dir + "/new.txt"));
    EXPECT_FALSE(sameFile(dir + "/new.txt", dir + "/other.txt"));
    EXPECT_EQ(pathKind(file), PathKind::Regular);
    EXPECT_EQ(pathKind(dir + "/link"), PathKind::Other);
    EXPECT_EQ(pathKind("/dev/null"), PathKind::Other);
    EXPECT_EQ(pathKind(dir + "/new.txt"), PathKind::Missing);
}

TEST_F(HostFiles, ReplacingAFileLeavesNoTemporaryBehindOrBeside)
{
    const std::string file = dir + "/p.json";
    std::ofstream(file + ".tmp") << "another program's";
    std::string error;
    ASSERT_TRUE(replaceFile(file, "one", error)) << error;
    ASSERT_TRUE(replaceFile(file, "two", error)) << error;
    std::string text;
    std::ifstream(file) >> text;
    EXPECT_EQ(text, "two");
    std::ifstream(file + ".tmp") >> text;
    EXPECT_EQ(text, "another");
    EXPECT_EQ(std::system(("test $(ls " + dir + " | wc -l) -eq 2").c_str()), 0);
}

// A profile replaced keeps the permissions its owner gave it; a new one
// gets what the umask allows, as any file the user makes.
TEST_F(HostFiles, AReplacedFileKeepsItsPermissionsANewOneFollowsTheUmask)
{
    struct Case {
        mode_t umask;
        int existing;  // the file's mode before, -1: no file yet
        mode_t after;
    };
    const Case cases[] = {
        {022, 0600, 0600},
        {077, 0640, 0640},
        {022, 0444, 0444},
        {077, -1, 0600},
        {022, -1, 0644},
        {002, -1, 0664},
    };
    for (const Case &c : cases) {
        const std::string file = dir + "/p.json";
        unlink(file.c_str());
        if (c.existing >= 0) {
            std::ofstream(file) << "old";
            ASSERT_EQ(chmod(file.c_str(), static_cast<mode_t>(c.existing)), 0);
        }
        mode_t saved = umask(c.umask);
        std::string error;
        bool replaced = replaceFile(file, "new", error);
        umask(saved);
        ASSERT_TRUE(replaced) << error;
        struct stat info;
        ASSERT_EQ(stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.after) << std::oct << "umask " << c.umask << ", before " << c.existing;
        std::string text;
        std::ifstream(file) >> text;
        EXPECT_EQ(text, "new");
    }
}

// With no descriptor left, a port is not opened and that is not "no such
// port" or anything else that would hide a reader.
TEST(Host, NoDescriptorLeftIsOutOfResources)
{
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    int highest = dup(0);
    ASSERT_GE(highest, 0);
    close(highest);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(highest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    LineStatus status;
    std::unique_ptr<SerialLine> line = openSerialLine("/dev/ptmx", status);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(line, nullptr);
    EXPECT_EQ(status.error, LineError::OutOfResources) << status.message;
    EXPECT_NE(status.message.find("too many open files"), std::string::npos) << status.message;
}

}  // namespace
