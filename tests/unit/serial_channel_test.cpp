// The serial channel against simulated readers on pseudo-terminals (see
// serial_sim_run.sh for the ports). The bytes a reader received are read
// back from the simulator's logs.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "serial/channel.h"
#include "tests/support/box_recorder.h"

namespace {

constexpr std::uint32_t BaudRate = 19200;
constexpr int Sentinel = -559038737;  // 0xdeadbeef: proves a count was not written

const char LnxCommand[] = "AT+READS_LNX";
const char UsbCommand[] = "AT+READS_USB";
const char LnxReply[] = "AT+READS_LNX - OK! >> 1.00TMX1AO\r\n";
const char UsbReply[] = "AT+READS_USB - OK! >> 1.00WHDH5EM\r\n";
const char Reply20[] = "ABCDEFGHIJKLMNOPQRST";
const char Reply70[] = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_+*=/<>!";

std::string environment(const char *name)
{
    char value[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(value, length) : std::string();
}

// Everything the simulated port has received so far.
std::string received(const char *port)
{
    // "\\?\" because a file named COM7.rx would otherwise be the port COM7.
    std::string path = "\\\\?\\" + environment("VELMORA_SIM_LOGS") + "\\" + port + ".rx";
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[256];
    DWORD count = 0;
    while (ReadFile(file, chunk, sizeof chunk, &count, nullptr) && count > 0)
        bytes.append(chunk, count);
    CloseHandle(file);
    return bytes;
}

// What the port receives from now on, waited for until it is `length`
// bytes long (or two seconds passed).
class Reception {
public:
    explicit Reception(const char *port) : port_(port), start_(received(port).size()) {}

    std::string wait(size_t length) const
    {
        std::string bytes;
        for (int i = 0; i < 200; i++) {
            bytes = received(port_).substr(start_);
            if (bytes.size() >= length)
                break;
            Sleep(10);
        }
        return bytes;
    }

private:
    const char *port_;
    size_t start_;
};

bool writeText(const char *text)
{
    return SerialChannel::write(reinterpret_cast<const unsigned char *>(text), static_cast<int>(std::strlen(text)));
}

std::string bytesOf(const unsigned char *buffer, int count)
{
    return std::string(reinterpret_cast<const char *>(buffer), static_cast<size_t>(count));
}

// Sends a command and waits until the reader got it and its answer, if any,
// had time to arrive.
void sendCommand(const char *port, const char *command, DWORD answerMs = 200)
{
    Reception reception(port);
    ASSERT_TRUE(writeText(command));
    EXPECT_EQ(reception.wait(std::strlen(command)), command);
    Sleep(answerMs);
}

class SerialChannelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        mainWindow = CreateWindowExW(0, L"Static", L"serial channel test", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                                     nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        uiLanguage = UiLanguage::English;
        selectTextTable();
    }

    static void TearDownTestSuite()
    {
        DestroyWindow(mainWindow);
        mainWindow = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(mainWindow, nullptr);
        if (environment("VELMORA_SIM_LOGS").empty())
            GTEST_SKIP() << "no simulated readers: run through serial_sim_run.sh";
    }

    void TearDown() override
    {
        SerialChannel::close();
        uiLanguage = UiLanguage::English;
        selectTextTable();
    }

    void expectBox(const RecordedBox &box, const std::wstring &text, const std::wstring &caption)
    {
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, caption);
        EXPECT_EQ(box.picture, -1) << "the stock error icon";
        EXPECT_EQ(box.owner, mainWindow);
        EXPECT_EQ(box.buttonCount, 1);
    }
};

TEST_F(SerialChannelTest, OpensPortsBelowAndAboveTenAndExchangesBytes)
{
    struct Case {
        const char *port;
        const char *command;
        const char *reply;
    } cases[] = {{"COM7", LnxCommand, LnxReply}, {"COM12", UsbCommand, UsbReply}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.port);
        BoxRecorder boxes;
        ASSERT_TRUE(SerialChannel::open(c.port, BaudRate));
        EXPECT_TRUE(SerialChannel::isOpen());

        sendCommand(c.port, c.command);
        unsigned char buffer[64] = {};
        int count = Sentinel;
        ASSERT_TRUE(SerialChannel::read(buffer, 64, &count));
        EXPECT_EQ(bytesOf(buffer, count), c.reply);
        EXPECT_TRUE(boxes.boxes().empty());
        SerialChannel::close();
    }
}

TEST_F(SerialChannelTest, ReplyEndsAtTheFirstSilentCall)
{
    BoxRecorder boxes;
    ASSERT_TRUE(SerialChannel::open("COM21", BaudRate));
    sendCommand("COM21", LnxCommand);

    unsigned char buffer[64] = {};
    int count = Sentinel;
    DWORD start = GetTickCount();
    ASSERT_TRUE(SerialChannel::read(buffer, 64, &count));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(bytesOf(buffer, count), Reply20);
    EXPECT_EQ(buffer[20], 0) << "nothing stored beyond the reply";
    // The 20 queued bytes come at once; one read call then waits out its
    // 60 ms. A second silent call would make it 120 ms.
    EXPECT_GE(elapsed, 40u);
    EXPECT_LT(elapsed, 110u);
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(SerialChannelTest, ReplyLongerThanTheBufferStaysQueued)
{
    struct Case {
        const char *port;
        const char *command;
        const char *reply;
        int capacity;
    } cases[] = {
        {"COM22", "X", Reply70, 64},
        {"COM21", "X", Reply20, 20},
        {"COM21", "X", Reply20, 1},
        {"COM7", LnxCommand, LnxReply, 30},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.port << ", capacity " << c.capacity);
        BoxRecorder boxes;
        ASSERT_TRUE(SerialChannel::open(c.port, BaudRate));
        sendCommand(c.port, c.command, 300);

        std::string whole;
        unsigned char buffer[64];
        int count = Sentinel;
        DWORD start = GetTickCount();
        ASSERT_TRUE(SerialChannel::read(buffer, c.capacity, &count));
        DWORD elapsed = GetTickCount() - start;
        EXPECT_EQ(count, c.capacity);
        EXPECT_LT(elapsed, 40u) << "a full buffer ends the read without waiting for silence";
        whole += bytesOf(buffer, count);

        // The rest comes with the following reads, nothing lost.
        while (whole.size() < std::strlen(c.reply)) {
            count = Sentinel;
            ASSERT_TRUE(SerialChannel::read(buffer, c.capacity, &count));
            ASSERT_GE(count, 1);
            ASSERT_LE(count, c.capacity);
            whole += bytesOf(buffer, count);
        }
        EXPECT_EQ(whole, c.reply);
        count = Sentinel;
        EXPECT_FALSE(SerialChannel::read(buffer, c.capacity, &count));
        EXPECT_EQ(count, Sentinel);
        EXPECT_TRUE(boxes.boxes().empty());
        SerialChannel::close();
    }
}

// What a read left queued is dropped, so the next command's reply starts
// with its own first byte.
TEST_F(SerialChannelTest, DiscardDropsWhatWasNotRead)
{
    BoxRecorder boxes;
    SerialChannel::discardInput();  // nothing open: nothing to say
    ASSERT_TRUE(SerialChannel::open("COM22", BaudRate));
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE(round);
        sendCommand("COM22", "X", 300);
        unsigned char buffer[64];
        int count = Sentinel;
        ASSERT_TRUE(SerialChannel::read(buffer, 64, &count));
        EXPECT_EQ(bytesOf(buffer, count), std::string(Reply70, 64));
        SerialChannel::discardInput();
        count = Sentinel;
        EXPECT_FALSE(SerialChannel::read(buffer, 64, &count));
        EXPECT_EQ(count, Sentinel);
    }
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(SerialChannelTest, SilenceIsFalseWithoutABox)
{
    struct Case {
        const char *port;
        const char *command;  // nullptr: nothing sent
    } cases[] = {{"COM23", LnxCommand}, {"COM7", nullptr}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.port);
        BoxRecorder boxes;
        ASSERT_TRUE(SerialChannel::open(c.port, BaudRate));
        if (c.command != nullptr)
            sendCommand(c.port, c.command);

        unsigned char buffer[64];
        std::memset(buffer, 0xA5, sizeof buffer);
        int count = Sentinel;
        DWORD start = GetTickCount();
        EXPECT_FALSE(SerialChannel::read(buffer, 64, &count));
        DWORD elapsed = GetTickCount() - start;
        EXPECT_EQ(count, Sentinel);
        EXPECT_EQ(buffer[0], 0xA5);
        EXPECT_GE(elapsed, 40u);
        EXPECT_LT(elapsed, 200u);
        EXPECT_TRUE(boxes.boxes().empty());
        EXPECT_TRUE(SerialChannel::isOpen()) << "silence does not close the port";
        SerialChannel::close();
    }
}

TEST_F(SerialChannelTest, PortThatCannotBeOpenedLeavesNoHandle)
{
    std::string tooLong = "COM7" + std::string(40, '0');
    struct Case {
        const char *what;
        const char *port;
    } cases[] = {
        {"no device behind the name", "COM40"},
        {"a plain file, not a serial port", "COM41"},
        {"no such port", "COM99"},
        {"empty name", ""},
        {"name longer than any port name", tooLong.c_str()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        BoxRecorder boxes;
        // Whatever was open before, a failed open leaves nothing open.
        ASSERT_TRUE(SerialChannel::open("COM7", BaudRate));
        EXPECT_FALSE(SerialChannel::open(c.port, BaudRate));
        EXPECT_FALSE(SerialChannel::isOpen());
        EXPECT_TRUE(boxes.boxes().empty());
    }

    // The plain file is not held: an exclusive open of it succeeds.
    std::string file = environment("VELMORA_SIM_DOSDEVICES") + "\\com41";
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

TEST_F(SerialChannelTest, SecondCloseDoesNothing)
{
    BoxRecorder boxes;
    ASSERT_TRUE(SerialChannel::open("COM7", BaudRate));
    SerialChannel::close();
    EXPECT_FALSE(SerialChannel::isOpen());
    SerialChannel::close();
    EXPECT_FALSE(SerialChannel::isOpen());
    EXPECT_TRUE(boxes.boxes().empty());

    // The port was given back and opens again.
    ASSERT_TRUE(SerialChannel::open("COM7", BaudRate));
    sendCommand("COM7", LnxCommand);
    unsigned char buffer[64] = {};
    int count = 0;
    EXPECT_TRUE(SerialChannel::read(buffer, 64, &count));
    EXPECT_EQ(bytesOf(buffer, count), LnxReply);
}

TEST_F(SerialChannelTest, ReadAndWriteOnAClosedChannelShowErrorSix)
{
    struct Case {
        bool reading;
        UiLanguage language;
        const wchar_t *text;
        const wchar_t *caption;
    } cases[] = {
        {true, UiLanguage::English, L"Error [6] when reading from a COM port!", L"Message"},
        {false, UiLanguage::English, L"Error [6] when writing to the COM port!", L"Message"},
        {true, UiLanguage::Russian, L"Ошибка [6] при считывание из COM-порта!", L"Сообщение"},
        {false, UiLanguage::Russian, L"Ошибка [6] при записи в COM-порт!", L"Сообщение"},
    };
    // Open and close first, so "closed" is the state after a close.
    ASSERT_TRUE(SerialChannel::open("COM7", BaudRate));
    Reception reception("COM7");
    SerialChannel::close();
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.reading ? "read" : "write"));
        uiLanguage = c.language;
        selectTextTable();
        BoxRecorder boxes;
        if (c.reading) {
            unsigned char buffer[64];
            int count = Sentinel;
            EXPECT_FALSE(SerialChannel::read(buffer, 64, &count));
            EXPECT_EQ(count, Sentinel);
        } else {
            EXPECT_FALSE(writeText(LnxCommand));
        }
        ASSERT_EQ(boxes.boxes().size(), 1u);
        expectBox(boxes.boxes()[0], c.text, c.caption);
    }
    Sleep(100);
    EXPECT_EQ(reception.wait(0), "") << "nothing reached the port";
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

TEST_F(SerialChannelTest, FailedWriteShowsTheSystemError)
{
    ASSERT_TRUE(SerialChannel::open("COM24", BaudRate));
    // The simulated adapter is pulled out on this command, under the open
    // handle: its link in dosdevices goes with it.
    {
        BoxRecorder boxes;
        Reception reception("COM24");
        ASSERT_TRUE(writeText("UNPLUG"));
        EXPECT_EQ(reception.wait(6), "UNPLUG");
        EXPECT_TRUE(boxes.boxes().empty());
    }
    std::string link = environment("VELMORA_SIM_DOSDEVICES") + "\\com24";
    ASSERT_TRUE(linkExists(link)) << link;
    for (int i = 0; i < 500 && linkExists(link); i++)
        Sleep(10);
    ASSERT_FALSE(linkExists(link)) << "the port was not unplugged";

    BoxRecorder boxes;
    EXPECT_FALSE(writeText(LnxCommand));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    expectBox(boxes.boxes()[0], L"Error [21] when writing to the COM port!", L"Message");
    EXPECT_TRUE(SerialChannel::isOpen()) << "closing is the caller's business";
}

// The fields of a DCB, for a readable comparison.
#define DCB_FIELDS(X)                                                                                           \
    X(BaudRate) X(fBinary) X(fParity) X(fOutxCtsFlow) X(fOutxDsrFlow) X(fDtrControl) X(fDsrSensitivity)         \
    X(fTXContinueOnXoff) X(fOutX) X(fInX) X(fErrorChar) X(fNull) X(fRtsControl) X(fAbortOnError) X(XonLim)       \
    X(XoffLim) X(ByteSize) X(Parity) X(StopBits) X(XonChar) X(XoffChar) X(ErrorChar) X(EofChar) X(EvtChar)

void expectSameDcb(const DCB &actual, const DCB &expected)
{
#define COMPARE_FIELD(field) EXPECT_EQ(static_cast<long>(actual.field), static_cast<long>(expected.field)) << #field;
    DCB_FIELDS(COMPARE_FIELD)
#undef COMPARE_FIELD
}

bool readDcb(const char *path, DCB *line)
{
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    std::memset(line, 0, sizeof *line);
    line->DCBlength = sizeof *line;
    bool ok = GetCommState(handle, line) != FALSE;
    CloseHandle(handle);
    return ok;
}

TEST_F(SerialChannelTest, OpenChangesOnlyTheLineSettings)
{
    const char path[] = "\\\\.\\COM23";
    // A driver state far from 8N1, with hardware and software flow control.
    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DCB line = {};
    line.DCBlength = sizeof line;
    ASSERT_TRUE(GetCommState(handle, &line));
    line.BaudRate = CBR_9600;
    line.ByteSize = 7;
    line.Parity = EVENPARITY;
    line.StopBits = TWOSTOPBITS;
    line.fOutxCtsFlow = TRUE;
    line.fRtsControl = RTS_CONTROL_HANDSHAKE;
    line.fOutX = TRUE;
    line.fInX = TRUE;
    line.XonChar = 0x01;
    line.XoffChar = 0x02;
    ASSERT_TRUE(SetCommState(handle, &line));
    CloseHandle(handle);

    DCB before;
    ASSERT_TRUE(readDcb(path, &before));
    EXPECT_EQ(before.BaudRate, static_cast<DWORD>(CBR_9600));
    EXPECT_TRUE(before.fOutxCtsFlow) << "the driver keeps hardware flow control";
    EXPECT_TRUE(before.fOutX);
    EXPECT_EQ(before.XonChar, 0x01);

    ASSERT_TRUE(SerialChannel::open("COM23", BaudRate));
    DCB after;
    // The state as the channel left it; the driver keeps it after a close.
    SerialChannel::close();
    ASSERT_TRUE(readDcb(path, &after));

    DCB expected = before;
    expected.BaudRate = BaudRate;
    expected.ByteSize = 8;
    expected.Parity = NOPARITY;
    expected.StopBits = ONESTOPBIT;
    expectSameDcb(after, expected);
}

}  // namespace
