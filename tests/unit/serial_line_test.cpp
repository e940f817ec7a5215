// The console tool's serial line on Windows against simulated readers on
// pseudo-terminals (serial_sim_run.sh names the ports), and its port list
// against device-map values and USB devices each test writes itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "serial/line.h"
#include "serial/ports.h"
#include "tests/unit/serial_registry.h"

// The window program's port list control, which the reader search does
// not touch.
HWND portList;

namespace {

using namespace serialtest;

const char LnxCommand[] = "AT+READS_LNX";
const char LnxReply[] = "AT+READS_LNX - OK! >> 1.00TMX1AO\r\n";
const char Reply70[] = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_+*=/<>!";

std::string environment(const char *name)
{
    char value[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(value, length) : std::string();
}

// Milliseconds on the performance counter: GetTickCount64 reads a tick the
// system refreshes now and then, which on a loaded machine can lag behind.
ULONGLONG nowMs()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<ULONGLONG>(count.QuadPart / (frequency.QuadPart / 1000));
}

bool send(SerialLine &line, const std::string &text, LineStatus &status)
{
    return line.write(reinterpret_cast<const unsigned char *>(text.data()), text.size(), status);
}

// Reads until `length` bytes came or a read of `timeoutMs` stays empty.
std::string collect(SerialLine &line, std::size_t length, int timeoutMs, std::size_t capacity = 64)
{
    std::string bytes;
    std::vector<unsigned char> buffer(capacity);
    while (bytes.size() < length) {
        LineStatus status;
        long got = line.read(buffer.data(), buffer.size(), timeoutMs, status);
        EXPECT_GE(got, 0) << status.message;
        EXPECT_LE(got, static_cast<long>(capacity));
        if (got <= 0)
            break;
        bytes.append(reinterpret_cast<const char *>(buffer.data()), static_cast<std::size_t>(got));
    }
    return bytes;
}

// Whether the folder lists the entry (the link itself, wherever it points).
bool linkExists(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

class SerialLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (environment("VELMORA_SIM_LOGS").empty())
            GTEST_SKIP() << "no simulated readers: run through serial_sim_run.sh";
    }
};

TEST_F(SerialLineTest, ExchangesACommandAndReturnsAsSoonAsTheReplyIsThere)
{
    for (const char *name : {"COM7", "com7", "\\\\.\\COM7"}) {
        SCOPED_TRACE(name);
        LineStatus status;
        status.error = LineError::Io;
        std::unique_ptr<SerialLine> line = openSerialLine(name, status);
        ASSERT_NE(line, nullptr) << status.message;
        EXPECT_EQ(status.error, LineError::None);
        ASSERT_TRUE(send(*line, LnxCommand, status)) << status.message;
        ULONGLONG start = nowMs();
        // A long time-out: the reply must end the wait, not the time-out.
        std::string reply = collect(*line, std::strlen(LnxReply), 3000);
        ULONGLONG elapsed = nowMs() - start;
        EXPECT_EQ(reply, LnxReply);
        EXPECT_LT(elapsed, 2000u) << "a read waited for its time-out although bytes were there";
    }
}

TEST_F(SerialLineTest, SilentPortReadsNothingAfterItsTimeOut)
{
    LineStatus status;
    std::unique_ptr<SerialLine> line = openSerialLine("COM23", status);
    ASSERT_NE(line, nullptr) << status.message;
    ASSERT_TRUE(send(*line, LnxCommand, status));
    unsigned char buffer[64];
    for (int timeoutMs : {150, 400}) {
        ULONGLONG start = nowMs();
        EXPECT_EQ(line->read(buffer, sizeof buffer, timeoutMs, status), 0);
        ULONGLONG elapsed = nowMs() - start;
        // Slack both ways: the machine is shared.
        EXPECT_GE(elapsed + 20, static_cast<ULONGLONG>(timeoutMs));
        EXPECT_LT(elapsed, static_cast<ULONGLONG>(timeoutMs) + 1500);
    }
    EXPECT_EQ(status.error, LineError::None);
}

TEST_F(SerialLineTest, ReplyLongerThanTheBufferComesInPieces)
{
    LineStatus status;
    std::unique_ptr<SerialLine> line = openSerialLine("COM22", status);
    ASSERT_NE(line, nullptr) << status.message;
    ASSERT_TRUE(send(*line, LnxCommand, status));
    EXPECT_EQ(collect(*line, std::strlen(Reply70), 1000, 16), Reply70);
}

TEST_F(SerialLineTest, DiscardDropsAReplyThatWasNotRead)
{
    LineStatus status;
    std::unique_ptr<SerialLine> line = openSerialLine("COM21", status);
    ASSERT_NE(line, nullptr) << status.message;
    ASSERT_TRUE(send(*line, LnxCommand, status));
    // The simulator answers 15 ms after the command; give it time to land.
    Sleep(300);
    line->discardInput();
    unsigned char buffer[64];
    EXPECT_EQ(line->read(buffer, sizeof buffer, 200, status), 0) << "stale bytes survived the discard";
    // The line still works afterwards.
    ASSERT_TRUE(send(*line, LnxCommand, status));
    EXPECT_EQ(collect(*line, 20, 1000), "ABCDEFGHIJKLMNOPQRST");
}

TEST_F(SerialLineTest, OpenFailuresSayWhatIsWrong)
{
    struct Case {
        const char *port;
        LineError error;
        const char *says;
    } cases[] = {
        {"COM40", LineError::NoSuchPort, "COM40: no such serial port"},
        {"COM41", LineError::NotASerialPort, "COM41: not a serial port"},
        {"", LineError::NoSuchPort, "not a port name"},
        {"C:\\Windows\\win.ini", LineError::NoSuchPort, "not a port name"},
        {"..\\COM7", LineError::NoSuchPort, "not a port name"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.port);
        LineStatus status;
        std::unique_ptr<SerialLine> line = openSerialLine(c.port, status);
        EXPECT_EQ(line, nullptr);
        EXPECT_EQ(status.error, c.error);
        EXPECT_NE(status.message.find(c.says), std::string::npos) << status.message;
    }
}

TEST_F(SerialLineTest, WriteAfterTheAdapterWasPulledIsAHangUp)
{
    LineStatus status;
    std::unique_ptr<SerialLine> line = openSerialLine("COM24", status);
    ASSERT_NE(line, nullptr) << status.message;
    ASSERT_TRUE(send(*line, "UNPLUG", status)) << status.message;
    // The simulator pulls the port out a little after the command; its link
    // in dosdevices goes with it.
    std::string link = environment("VELMORA_SIM_DOSDEVICES") + "\\com24";
    for (int i = 0; i < 500 && linkExists(link); i++)
        Sleep(10);
    ASSERT_FALSE(linkExists(link)) << "the port was not unplugged";
    EXPECT_FALSE(send(*line, LnxCommand, status)) << "a write succeeded on a port that is gone";
    EXPECT_EQ(status.error, LineError::HangUp) << status.message;
    EXPECT_NE(status.message.find("COM24"), std::string::npos) << status.message;
}

// ---- the port list

class PortListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clearDeviceMap();
        removeTestDevices();
    }
    void TearDown() override
    {
        clearDeviceMap();
        removeTestDevices();
    }
};

const PortInfo *findPort(const std::vector<PortInfo> &ports, const std::string &name)
{
    for (const PortInfo &port : ports)
        if (port.name == name)
            return &port;
    return nullptr;
}

TEST_F(PortListTest, ListsTheDeviceMapInNumericOrderWithUsbIds)
{
    setDeviceMap({{L"\\Device\\Serial2", "COM10"}, {L"\\Device\\Serial0", "COM3"}, {L"\\Device\\Serial1", "COM1"},
                  {L"\\Device\\tarvik0", "COM12"}, {L"\\Device\\other0", "COM5"}});
    // A string that is no port name and a value of another type: the first
    // is listed after the COM ports, the second skipped.
    setMapPort(L"\\Device\\odd", wide("XYZ"));
    DWORD number = 4;
    setMapValue(L"\\Device\\dword", REG_DWORD, &number, sizeof number);
    addUsbDevice(reader(L"TV0012345", L"COM12"));
    addUsbDevice({L"VID_FFFF&PID_0001", L"5&1f2e3d&0&2", {"USB\\VID_FFFF&PID_0001&REV_0100"}, true, L"COM5",
                  REG_SZ});

    std::vector<PortInfo> ports = listSerialPorts();
    std::vector<std::string> names;
    for (const PortInfo &port : ports)
        names.push_back(port.name);
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM3", "COM5", "COM10", "COM12", "XYZ"}));

    const PortInfo *readerPort = findPort(ports, "COM12");
    ASSERT_NE(readerPort, nullptr);
    EXPECT_EQ(readerPort->vendorId, 0x2E3C);
    EXPECT_EQ(readerPort->productId, 0x5750);
    EXPECT_EQ(readerPort->serialNumber, "TV0012345");

    const PortInfo *other = findPort(ports, "COM5");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->vendorId, 0xFFFF);
    EXPECT_EQ(other->productId, 0x0001);
    EXPECT_EQ(other->serialNumber, "") << "an instance id Windows made up is no serial number";

    for (const char *plain : {"COM1", "COM3", "COM10"}) {
        const PortInfo *port = findPort(ports, plain);
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(port->vendorId, -1) << plain;
        EXPECT_EQ(port->productId, -1) << plain;
    }
}

// The console tool's list and the window program's search read one device
// list: they must agree on which port is the Tarvik-USB reader's.
TEST_F(PortListTest, BothProgramsAgreeOnWhichDeviceIsTheReader)
{
    struct Case {
        const char *hardwareId;
        bool reader;
    };
    const Case cases[] = {
        {"USB\\VID_2E3C&PID_5750&REV_0200", true},
        {"USB\\Vid_2e3c&Pid_5750&Rev_0200", true},
        {"USB\\VID_2E3C&PID_5750&REV_0200&MI_00", true},
        {"USB\\VID_2E3C&PID_5750&REV_0300", false},
        {"usb\\vid_2e3c&pid_5750&rev_0200", false},
        {"USB\\VID_2E3C&PID_5751&REV_0200", false},
    };
    setDeviceMap({{L"\\Device\\Serial0", "COM1"}});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.hardwareId);
        removeTestDevices();
        addUsbDevice(reader(L"TV3", L"COM12", c.hardwareId));

        std::vector<PortInfo> ports = listSerialPorts();
        const PortInfo *port = findPort(ports, "COM12");
        ASSERT_NE(port, nullptr) << "every USB port is listed";
        EXPECT_EQ(port->vendorId, 0x2E3C);
        EXPECT_EQ(port->tarvikUsb, c.reader);
        EXPECT_FALSE(findPort(ports, "COM1")->tarvikUsb);

        char found[PortNameCapacity] = "none";
        EXPECT_EQ(findTarvikUsbPort(found), c.reader);
        EXPECT_STREQ(found, c.reader ? "COM12" : "none");
    }
}

TEST_F(PortListTest, UsbPortMissingFromTheMapIsStillListed)
{
    setDeviceMap({{L"\\Device\\Serial0", "COM1"}});
    addUsbDevice(reader(L"TV1", L"COM14"));
    std::vector<PortInfo> ports = listSerialPorts();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[1].name, "COM14");
    EXPECT_EQ(ports[1].vendorId, 0x2E3C);
}

TEST_F(PortListTest, NoDeviceMapNoUsbMeansNoPorts)
{
    clearDeviceMap();
    EXPECT_TRUE(listSerialPorts().empty());
}

TEST_F(PortListTest, DevicesWithoutAUsablePortNameAreSkipped)
{
    setDeviceMap({{L"\\Device\\Serial0", "COM1"}});
    // No PortName, a PortName of the wrong type, a device key that cannot
    // be opened; then the reader itself, which must still be found.
    addUsbDevice({L"VID_0001&PID_0001", L"a", {"USB\\VID_0001&PID_0001"}, true, nullptr, REG_SZ});
    addUsbDevice({L"VID_0001&PID_0001", L"b", {"USB\\VID_0001&PID_0001"}, true, L"COM8", REG_EXPAND_SZ});
    addUsbDevice({L"VID_0001&PID_0001", L"c", {"USB\\VID_0001&PID_0001"}, false, L"COM9", REG_SZ});
    addUsbDevice(reader(L"TV2", L"COM12"));
    std::vector<PortInfo> ports = listSerialPorts();
    std::vector<std::string> names;
    for (const PortInfo &port : ports)
        names.push_back(port.name);
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM12"}));
}

}  // namespace
