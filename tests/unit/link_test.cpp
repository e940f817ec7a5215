// The reader transactions in-process on a real main window and port list,
// over a stand-in serial channel whose ports answer from a table. The port
// list comes from the real serial-port device map of the bench's prefix.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "protocol/win32/link.h"
#include "protocol/wire.h"
#include "res/resource_ids.h"
#include "serial/channel.h"
#include "serial/ports.h"
#include "tests/support/box_recorder.h"
#include "tests/unit/link_window.h"
#include "ui/messages.h"
#include "ui/panel.h"

namespace {

// ---- The stand-in channel ----

struct FakePort {
    bool opens = true;
    bool writes = true;
    std::string reply;       // to a read command; empty: the reader stays silent
    std::string writeReply;  // to any other command; empty: the same as `reply`
    std::string lastCommand;
};

std::map<std::string, FakePort> fakePorts;
std::string heldPort;                // the open port, empty when closed
std::vector<std::string> channelLog;  // "open COM3", "write COM3 AT+...", "read COM3", "close COM3"
std::function<void(const std::string &)> onFakeWrite;
bool inputDiscarded;  // since the last command: nothing stale can pass for its reply
const BoxRecorder *boxesSoFar;  // lets the log say how many boxes came before a close

}  // namespace

namespace SerialChannel {

bool open(const char *portName, std::uint32_t baudRate)
{
    channelLog.push_back(std::string("open ") + portName);
    EXPECT_EQ(baudRate, 19200u);
    EXPECT_TRUE(heldPort.empty()) << "opened " << portName << " while " << heldPort << " is open";
    auto port = fakePorts.find(portName);
    if (port == fakePorts.end() || !port->second.opens)
        return false;
    heldPort = portName;
    return true;
}

bool read(unsigned char *buffer, int capacity, int *received)
{
    channelLog.push_back("read " + heldPort);
    if (heldPort.empty())
        return false;
    const FakePort &port = fakePorts[heldPort];
    bool readCommand = port.lastCommand.compare(0, 8, "AT+READS") == 0;
    const std::string &reply = readCommand || port.writeReply.empty() ? port.reply : port.writeReply;
    if (reply.empty())
        return false;
    int count = static_cast<int>(reply.size()) < capacity ? static_cast<int>(reply.size()) : capacity;
    std::memcpy(buffer, reply.data(), static_cast<size_t>(count));
    *received = count;
    return true;
}

bool write(const unsigned char *bytes, int length)
{
    std::string port = heldPort;
    channelLog.push_back("write " + port + " " + std::string(reinterpret_cast<const char *>(bytes), length));
    EXPECT_TRUE(inputDiscarded) << "stale input left before " << channelLog.back();
    inputDiscarded = false;
    if (port.empty() || !fakePorts[port].writes)
        return false;
    fakePorts[port].lastCommand.assign(reinterpret_cast<const char *>(bytes), static_cast<size_t>(length));
    if (onFakeWrite)
        onFakeWrite(port);
    return true;
}

void discardInput()
{
    inputDiscarded = true;
}

void close()
{
    if (heldPort.empty())
        return;
    std::string entry = "close " + heldPort;
    if (boxesSoFar != nullptr)
        entry += " after " + std::to_string(boxesSoFar->boxes().size()) + " boxes";
    channelLog.push_back(entry);
    heldPort.clear();
}

bool isOpen()
{
    return !heldPort.empty();
}

}  // namespace SerialChannel

namespace {

// ---- The serial-port device map ----

const wchar_t SerialMapKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

HKEY openSerialMap()
{
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, SerialMapKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    return key;
}

void clearSerialMap()
{
    HKEY key = openSerialMap();
    ASSERT_NE(key, nullptr);
    wchar_t name[256];
    for (;;) {
        DWORD length = 256;
        if (RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        RegDeleteValueW(key, name);
    }
    RegCloseKey(key);
}

std::wstring valueNameOf(const std::string &port)
{
    return L"\\Device\\VelmoraLinkTest" + widen(port.c_str());
}

void addSerialPort(const std::string &port)
{
    HKEY key = openSerialMap();
    ASSERT_NE(key, nullptr);
    std::wstring data = widen(port.c_str());
    RegSetValueExW(key, valueNameOf(port).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void removeSerialPort(const std::string &port)
{
    HKEY key = openSerialMap();
    RegDeleteValueW(key, valueNameOf(port).c_str());
    RegCloseKey(key);
}

// ---- Reading the window ----

std::wstring versionText()
{
    wchar_t text[32] = L"";
    GetWindowTextW(versionValue, text, 32);
    return text;
}

std::vector<std::string> portListEntries()
{
    std::vector<std::string> entries;
    int count = static_cast<int>(SendMessageW(portList, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; i++) {
        char name[PortNameCapacity] = "";
        getPortListText(portList, i, name, PortNameCapacity);
        entries.push_back(name);
    }
    return entries;
}

int selectedEntry()
{
    return static_cast<int>(SendMessageW(portList, CB_GETCURSEL, 0, 0));
}

bool isTimerRunning(TimerId id)
{
    // KillTimer fails for a timer that is not running; one that is gets
    // restarted so the test's state stays as it was.
    if (!KillTimer(mainWindow, static_cast<UINT_PTR>(id)))
        return false;
    UINT period = id == TimerId::Search ? SearchPeriodMs : ReplyWaitPeriodMs;
    SetTimer(mainWindow, static_cast<UINT_PTR>(id), period, nullptr);
    return true;
}

// A box as the user sees it: its text and picture, with the common parts
// (caption and owner) checked on the way.
struct Box {
    std::wstring text;
    int picture;
    bool operator==(const Box &other) const { return text == other.text && picture == other.picture; }
};

std::ostream &operator<<(std::ostream &stream, const Box &box)
{
    std::string narrow;
    for (wchar_t c : box.text)
        narrow += c == L'\n' ? std::string("\\n") : c == L'\r' ? std::string("\\r") : std::string(1, char(c));
    return stream << "{\"" << narrow << "\", " << box.picture << "}";
}

// The ports opened so far, in order, as "open COMn".
std::vector<std::string> openedPorts()
{
    std::vector<std::string> opened;
    for (const std::string &entry : channelLog)
        if (entry.compare(0, 5, "open ") == 0)
            opened.push_back(entry);
    return opened;
}

std::vector<Box> shown(const BoxRecorder &recorder)
{
    std::vector<Box> boxes;
    for (const RecordedBox &box : recorder.boxes()) {
        EXPECT_EQ(box.caption, L"Message");
        EXPECT_EQ(box.owner, mainWindow);
        boxes.push_back({box.text, box.picture});
    }
    return boxes;
}

Box box(TextId id, int picture)
{
    return {EnglishTexts[id], picture};
}

const Box SettingsRead = box(TxtSettingsRead, IDI_MSG_SUCCESS);
const Box SettingsWritten = box(TxtSettingsWritten, IDI_MSG_SUCCESS);
const Box NoReply = box(TxtNoReply, IDI_MSG_RETRY);
const Box Unrecognized = box(TxtReplyUnrecognized, IDI_MSG_ERROR);
const Box InvalidCommand = box(TxtInvalidCommand, IDI_MSG_ERROR);
const Box FirmwareUnsupported = box(TxtFirmwareUnsupported, IDI_MSG_ERROR);
const Box LnxNotFound = box(TxtLnxNotFound, IDI_MSG_ERROR);
const Box UsbNotFound = box(TxtUsbNotFound, IDI_MSG_ERROR);
const Box SelectPortHint = box(TxtSelectPortHint, IDI_MSG_HINT);
const Box NoPorts = box(TxtNoPorts, IDI_MSG_WARNING);

// Replies as a reader might send them, with an echo of the command before
// the first marker.
const char LnxSettingsReply[] = "AT+READS_LNX - OK! >> 1.00W260SF\r\n";
const char LnxOldFirmwareReply[] = "AT+READS_LNX - OK! >> 1.01W260SF\r\n";
const char UsbSettingsReply[] = "AT+READS_USB - OK! >> 1.00ATMX3XM\r\n";
const char UsbOldFirmwareReply[] = "AT+READS_USB - OK! >> 0.99ATMX3XM\r\n";
const char WriteAckReply[] = "AT+TMX1DO - OK!\r\n";
const char RefusalReply[] = "AT+XYZ - UNKNOWN CMD!\r\n";
const char GarbageReply[] = "\x7f\x01 hello - ok!";

class Link : public ::testing::Test {
protected:
    void SetUp() override { start(ReaderType::Lnx); }

    void start(ReaderType type)
    {
        clearSerialMap();
        fakePorts.clear();
        heldPort.clear();
        channelLog.clear();
        onFakeWrite = nullptr;
        boxesSoFar = nullptr;
        inputDiscarded = false;
        linkState = LinkState{};
        progressTicks = 0;
        createTestMainWindow(type);
        ASSERT_NE(mainWindow, nullptr);
    }

    void TearDown() override
    {
        boxesSoFar = nullptr;
        onFakeWrite = nullptr;
        destroyTestMainWindow();
        linkState = LinkState{};
        progressTicks = 0;
        heldPort.clear();
        clearSerialMap();
    }

    void restartOn(ReaderType type)
    {
        TearDown();
        start(type);
    }

    // The link as after a successful open of `port`.
    void openPort(const std::string &port)
    {
        heldPort = port;
        std::strcpy(linkState.currentPort, port.c_str());
        linkState.portOpen = true;
        EnableWindow(portList, FALSE);
    }

    static void setPorts(const std::vector<std::string> &ports)
    {
        for (const std::string &port : ports)
            addSerialPort(port);
    }
};

// ---- resetLink ----

TEST_F(Link, ResetClosesTheOpenPortAndReturnsToIdle)
{
    setPorts({"COM10", "COM3", "COM1"});
    fakePorts["COM3"] = {};
    openPort("COM3");
    linkState.portChosen = linkState.probing = linkState.firmwareSupported = true;
    SetWindowTextW(versionValue, L"1.00");

    resetLink();

    EXPECT_EQ(channelLog, std::vector<std::string>{"close COM3"});
    EXPECT_FALSE(linkState.portOpen);
    EXPECT_FALSE(linkState.portChosen);
    EXPECT_FALSE(linkState.probing);
    EXPECT_FALSE(linkState.firmwareSupported);
    EXPECT_STREQ(linkState.currentPort, "COM3");  // the name stays for later messages
    EXPECT_EQ(versionText(), L"x.xx");
    EXPECT_TRUE(IsWindowEnabled(portList));
    EXPECT_EQ(portListEntries(), (std::vector<std::string>{"COM1", "COM3", "COM10"}));
    EXPECT_EQ(selectedEntry(), 0);
}

TEST_F(Link, ResetWithNothingOpenClosesNothing)
{
    linkState.portChosen = true;
    resetLink();
    EXPECT_TRUE(channelLog.empty());
    EXPECT_FALSE(linkState.portChosen);
    EXPECT_EQ(portListEntries(), std::vector<std::string>{""});
    EXPECT_EQ(versionText(), L"x.xx");
}

// ---- receiveReply ----

TEST_F(Link, EachReplyIsReportedByWhetherThePortWasChosenOrProbed)
{
    const struct {
        const char *name;
        ReaderType type;
        const char *reply;
        bool portChosen, probing;
        ReplyKind kind;
        std::vector<Box> boxes;
        bool stillOpen;
        const char *close;  // with the boxes shown before it; nullptr: no close
        bool firmwareSupported;  // afterwards; set before unless a settings reply should set it
    } cases[] = {
        {"silent", ReaderType::Lnx, "", false, false, ReplyKind::Unrecognized, {}, false, "close COM3 after 0 boxes",
         false},
        {"silent, chosen", ReaderType::Lnx, "", true, false, ReplyKind::Unrecognized, {NoReply}, false,
         "close COM3 after 1 boxes", false},
        {"silent, probed", ReaderType::Lnx, "", false, true, ReplyKind::Unrecognized, {}, false,
         "close COM3 after 0 boxes", false},
        {"garbage", ReaderType::Lnx, GarbageReply, false, false, ReplyKind::Unrecognized, {Unrecognized}, true,
         nullptr, true},
        {"garbage, chosen", ReaderType::Lnx, GarbageReply, true, false, ReplyKind::Unrecognized,
         {Unrecognized, NoReply}, false, "close COM3 after 1 boxes", false},
        {"garbage, probed", ReaderType::Lnx, GarbageReply, true, true, ReplyKind::Unrecognized, {}, true, nullptr,
         true},
        {"refused", ReaderType::Lnx, RefusalReply, false, false, ReplyKind::UnknownCommand, {InvalidCommand}, true,
         nullptr, true},
        {"refused, chosen", ReaderType::Usb, RefusalReply, true, false, ReplyKind::UnknownCommand,
         {InvalidCommand, NoReply}, false, "close COM3 after 1 boxes", false},
        {"refused, probed", ReaderType::Lnx, RefusalReply, false, true, ReplyKind::UnknownCommand, {}, true, nullptr,
         true},
        {"write acknowledged", ReaderType::Lnx, WriteAckReply, true, false, ReplyKind::WriteAck, {SettingsWritten},
         true, nullptr, true},
        {"write acknowledged, probed", ReaderType::Lnx, WriteAckReply, false, true, ReplyKind::WriteAck,
         {SettingsWritten}, true, nullptr, true},
        {"Lnx settings", ReaderType::Lnx, LnxSettingsReply, true, false, ReplyKind::SettingsReply, {SettingsRead},
         true, nullptr, true},
        {"Lnx settings, old firmware", ReaderType::Lnx, LnxOldFirmwareReply, true, true, ReplyKind::SettingsReply,
         {SettingsRead, FirmwareUnsupported}, true, nullptr, false},
        {"Usb settings", ReaderType::Usb, UsbSettingsReply, false, false, ReplyKind::SettingsReply, {SettingsRead},
         true, nullptr, true},
        {"Usb settings, old firmware", ReaderType::Usb, UsbOldFirmwareReply, false, false, ReplyKind::SettingsReply,
         {SettingsRead, FirmwareUnsupported}, false, "close COM3 after 2 boxes", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        restartOn(c.type);
        setPorts({"COM3", "COM4"});
        refreshPortList();
        fakePorts["COM3"].reply = c.reply;
        openPort("COM3");
        linkState.portChosen = c.portChosen;
        linkState.probing = c.probing;
        linkState.firmwareSupported = c.kind == ReplyKind::SettingsReply ? !c.firmwareSupported : true;
        BoxRecorder recorder;
        boxesSoFar = &recorder;

        EXPECT_EQ(receiveReply(), c.kind);

        EXPECT_EQ(shown(recorder), c.boxes);
        EXPECT_EQ(linkState.portOpen, c.stillOpen);
        EXPECT_EQ(heldPort.empty(), !c.stillOpen);
        std::vector<std::string> expectedLog{"read COM3"};
        if (c.close != nullptr)
            expectedLog.push_back(c.close);
        EXPECT_EQ(channelLog, expectedLog);
        // A reset, or a box offering the ports again, leaves the list usable.
        EXPECT_EQ(IsWindowEnabled(portList) != FALSE, !c.stillOpen);
        if (!c.stillOpen) {
            EXPECT_FALSE(linkState.portChosen);
            EXPECT_FALSE(linkState.probing);
        }
        EXPECT_EQ(linkState.firmwareSupported, c.firmwareSupported);
    }
}

TEST_F(Link, SupportedSettingsAppearOnThePanel)
{
    fakePorts["COM3"].reply = LnxSettingsReply;
    openPort("COM3");
    BoxRecorder recorder;
    receiveReply();
    EXPECT_EQ(versionText(), L"1.00");
    EXPECT_TRUE(isRadioChecked(ID_IF_WIEGAND26));
    EXPECT_TRUE(isRadioChecked(ID_IND_INVERSE));
    EXPECT_TRUE(isRadioChecked(ID_STANDBY_STATIC));
    EXPECT_TRUE(isRadioChecked(ID_TOUCH_POLL_OFF));

    restartOn(ReaderType::Usb);
    fakePorts["COM3"].reply = UsbSettingsReply;
    openPort("COM3");
    receiveReply();
    EXPECT_EQ(versionText(), L"1.00");
    EXPECT_TRUE(isRadioChecked(ID_MODE_ALL_OS));
    EXPECT_TRUE(isRadioChecked(ID_OUT_TOUCH_MEMORY));
    EXPECT_TRUE(isRadioChecked(ID_BYTES_3));
    EXPECT_TRUE(isRadioChecked(ID_CARDS_MIFARE_PAY));
}

TEST_F(Link, UnsupportedLnxFirmwareKeepsPortPanelAndVersion)
{
    fakePorts["COM3"].reply = LnxOldFirmwareReply;
    openPort("COM3");
    SetWindowTextW(versionValue, L"1.00");
    BoxRecorder recorder;
    receiveReply();
    EXPECT_EQ(versionText(), L"1.00");
    EXPECT_TRUE(isRadioChecked(ID_IF_TOUCH_MEMORY));  // still the page defaults
    EXPECT_TRUE(isRadioChecked(ID_STANDBY_OFF));
    EXPECT_TRUE(linkState.portOpen);
    EXPECT_FALSE(linkState.firmwareSupported);
}

TEST_F(Link, ReplyOnAClosedChannelIsSilenceAndResets)
{
    // The device-change recovery may close the port under a pending wait.
    linkState.portOpen = true;
    linkState.portChosen = true;
    BoxRecorder recorder;
    EXPECT_EQ(receiveReply(), ReplyKind::Unrecognized);
    EXPECT_EQ(shown(recorder), std::vector<Box>{NoReply});
    EXPECT_FALSE(linkState.portOpen);
}

// ---- open, read and write commands ----

TEST_F(Link, PickedPortIsOpenedAndReadAndCountsAsChosen)
{
    setPorts({"COM2", "COM5"});
    refreshPortList();
    fakePorts["COM5"] = {};
    SendMessageW(portList, CB_SETCURSEL, 1, 0);
    onPortListCommand(CBN_SELCHANGE);

    EXPECT_EQ(channelLog, (std::vector<std::string>{"open COM5", "write COM5 AT+READS_LNX"}));
    EXPECT_STREQ(linkState.currentPort, "COM5");
    EXPECT_EQ(linkState.currentPortIndex, 1);
    EXPECT_TRUE(linkState.portOpen);
    EXPECT_TRUE(linkState.portChosen);
    EXPECT_FALSE(IsWindowEnabled(portList));
    EXPECT_NE(progressPopup, nullptr);
    EXPECT_FALSE(IsWindowEnabled(mainWindow));
    EXPECT_TRUE(isTimerRunning(TimerId::Read));
}

TEST_F(Link, PickedPortThatWillNotOpenIsReportedAndNotChosen)
{
    setPorts({"COM2", "COM5"});
    refreshPortList();
    fakePorts["COM5"].opens = false;
    SendMessageW(portList, CB_SETCURSEL, 1, 0);
    BoxRecorder recorder;
    onPortListCommand(CBN_SELCHANGE);

    EXPECT_EQ(shown(recorder), (std::vector<Box>{{L"Error opening [COM5]!", IDI_MSG_ERROR}}));
    EXPECT_EQ(channelLog, std::vector<std::string>{"open COM5"});
    EXPECT_FALSE(linkState.portOpen);
    EXPECT_FALSE(linkState.portChosen);  // as if nothing had been picked
    EXPECT_TRUE(IsWindowEnabled(portList));
    EXPECT_EQ(selectedEntry(), 0);  // refilled
    EXPECT_EQ(progressPopup, nullptr);
    EXPECT_FALSE(isTimerRunning(TimerId::Read));
}

TEST_F(Link, PickingTheEmptyEntrySaysThereAreNoPorts)
{
    refreshPortList();
    ASSERT_EQ(portListEntries(), std::vector<std::string>{""});
    BoxRecorder recorder;
    onPortListCommand(CBN_SELCHANGE);
    EXPECT_EQ(shown(recorder), std::vector<Box>{NoPorts});
    EXPECT_TRUE(channelLog.empty());
    EXPECT_FALSE(linkState.portChosen);
}

TEST_F(Link, ASelectionChangeWithNothingSelectedSaysThereAreNoPorts)
{
    setPorts({"COM5"});
    refreshPortList();
    fakePorts["COM5"] = {};
    SendMessageW(portList, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    ASSERT_EQ(SendMessageW(portList, CB_GETCURSEL, 0, 0), CB_ERR);
    BoxRecorder recorder;
    onPortListCommand(CBN_SELCHANGE);
    EXPECT_EQ(shown(recorder), std::vector<Box>{NoPorts});
    EXPECT_TRUE(channelLog.empty());
    EXPECT_FALSE(linkState.portChosen);
}

TEST_F(Link, OnlyASelectionChangeOfThePortListActs)
{
    setPorts({"COM5"});
    refreshPortList();
    fakePorts["COM5"] = {};
    BoxRecorder recorder;
    for (WORD code : {WORD(CBN_DROPDOWN), WORD(CBN_CLOSEUP), WORD(CBN_SETFOCUS), WORD(CBN_SELENDOK)})
        onPortListCommand(code);
    EXPECT_TRUE(channelLog.empty());
    EXPECT_TRUE(recorder.boxes().empty());
    EXPECT_FALSE(linkState.portChosen);
}

TEST_F(Link, LongPortNamesAreOpenedWhole)
{
    setPorts({"COM4096"});
    refreshPortList();
    fakePorts["COM4096"] = {};
    onPortListCommand(CBN_SELCHANGE);
    EXPECT_EQ(channelLog, (std::vector<std::string>{"open COM4096", "write COM4096 AT+READS_LNX"}));
}

TEST_F(Link, FailedReadCommandResetsWithoutAWait)
{
    fakePorts["COM3"].writes = false;
    openPort("COM3");
    onReadCommand();
    EXPECT_EQ(channelLog, (std::vector<std::string>{"write COM3 AT+READS_LNX", "close COM3"}));
    EXPECT_FALSE(linkState.portOpen);
    EXPECT_EQ(progressPopup, nullptr);
    EXPECT_TRUE(IsWindowEnabled(mainWindow));
    EXPECT_FALSE(isTimerRunning(TimerId::Read));
}

TEST_F(Link, ReadAndWriteWithoutAPortStartASearchWithoutReset)
{
    for (auto command : {onReadCommand, onWriteCommand}) {
        restartOn(ReaderType::Lnx);
        linkState.portChosen = true;
        SetWindowTextW(versionValue, L"1.00");
        command();
        EXPECT_TRUE(channelLog.empty());
        EXPECT_TRUE(isTimerRunning(TimerId::Search));
        EXPECT_NE(progressPopup, nullptr);
        EXPECT_FALSE(IsWindowEnabled(mainWindow));
        EXPECT_TRUE(linkState.portChosen);  // no reset
        EXPECT_EQ(versionText(), L"1.00");
    }
}

TEST_F(Link, SearchCommandResetsFirst)
{
    fakePorts["COM3"] = {};
    openPort("COM3");
    SetWindowTextW(versionValue, L"1.00");
    onSearchCommand();
    EXPECT_EQ(channelLog, std::vector<std::string>{"close COM3"});
    EXPECT_EQ(versionText(), L"x.xx");
    EXPECT_TRUE(isTimerRunning(TimerId::Search));
    EXPECT_FALSE(IsWindowEnabled(mainWindow));
}

TEST_F(Link, WriteSendsThePanelsChoices)
{
    const struct {
        ReaderType type;
        std::vector<std::pair<int, int>> checks;  // {first id of the group, id checked}
        const char *written;
    } cases[] = {
        {ReaderType::Lnx, {}, "AT+TMX1AO"},
        {ReaderType::Lnx,
         {{ID_IF_TOUCH_MEMORY, ID_IF_WIEGAND44}, {ID_IND_DIRECT, ID_IND_INVERSE}, {ID_STANDBY_DYNAMIC,
                                                                                    ID_STANDBY_STATIC},
          {ID_TOUCH_POLL_ON, ID_TOUCH_POLL_OFF}},
         "AT+W440SF"},
        {ReaderType::Usb, {}, "AT+WHDH5EM"},
        {ReaderType::Usb,
         {{ID_MODE_WINDOWS, ID_MODE_ALL_OS}, {ID_FMT_HEX, ID_FMT_DEC}, {ID_BYTES_5, ID_BYTES_3},
          {ID_CARDS_ALL, ID_CARDS_HID_EM}},
         "AT+AHDD3EX"},
        {ReaderType::Usb, {{ID_OUT_HEX_DEC, ID_OUT_TOUCH_MEMORY}, {ID_BYTES_5, ID_BYTES_2}}, "AT+WTMX2EM"},
    };
    const std::map<int, int> lastOfGroup = {{ID_IF_TOUCH_MEMORY, ID_IF_WIEGAND44}, {ID_IND_DIRECT, ID_IND_INVERSE},
                                            {ID_STANDBY_DYNAMIC, ID_STANDBY_OFF}, {ID_TOUCH_POLL_ON, ID_TOUCH_POLL_OFF},
                                            {ID_MODE_WINDOWS, ID_MODE_ALL_OS}, {ID_OUT_HEX_DEC, ID_OUT_TOUCH_MEMORY},
                                            {ID_FMT_HEX, ID_FMT_DEC}, {ID_BYTES_5, ID_BYTES_2},
                                            {ID_CARDS_ALL, ID_CARDS_MIFARE_PAY}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.written);
        restartOn(c.type);
        fakePorts["COM3"] = {true, true, c.type == ReaderType::Lnx ? LnxSettingsReply : UsbSettingsReply,
                             WriteAckReply};
        openPort("COM3");
        for (const auto &check : c.checks)
            CheckRadioButton(mainWindow, check.first, lastOfGroup.at(check.first), check.second);
        BoxRecorder recorder;
        onWriteCommand();
        std::string read = c.type == ReaderType::Lnx ? "write COM3 AT+READS_LNX" : "write COM3 AT+READS_USB";
        EXPECT_EQ(channelLog, std::vector<std::string>{read});
        // The read that identifies the reader, then the write, both behind
        // the write popup with the window disabled.
        for (int step = 0; step < 2; step++) {
            EXPECT_TRUE(isTimerRunning(TimerId::Write));
            EXPECT_FALSE(isTimerRunning(TimerId::Read));
            EXPECT_NE(progressPopup, nullptr);
            EXPECT_FALSE(IsWindowEnabled(mainWindow));
            onProgressTimer(static_cast<UINT_PTR>(TimerId::Write));
            onProgressTimer(static_cast<UINT_PTR>(TimerId::Write));
        }
        EXPECT_EQ(channelLog, (std::vector<std::string>{read, "read COM3", std::string("write COM3 ") + c.written,
                                                        "read COM3"}));
        EXPECT_EQ(shown(recorder), std::vector<Box>{SettingsWritten});
        EXPECT_TRUE(IsWindowEnabled(mainWindow));
    }
}

// Only a read reply that proves a reader of the tab's kind with our firmware
// and known settings lets the write go out; otherwise the user is told why,
// nothing is written and the panel keeps the choices.
TEST_F(Link, WriteGoesOnlyToAReaderItsReadIdentifies)
{
    const struct {
        const char *name;
        ReaderType type;
        const char *readReply;
        bool portChosen;
        std::vector<Box> boxes;
        bool stillOpen;
    } cases[] = {
        {"Lnx reader", ReaderType::Lnx, LnxSettingsReply, true, {SettingsWritten}, true},
        {"Usb reader", ReaderType::Usb, UsbSettingsReply, false, {SettingsWritten}, true},
        {"Lnx, other firmware", ReaderType::Lnx, LnxOldFirmwareReply, true, {FirmwareUnsupported}, true},
        {"Usb, other firmware", ReaderType::Usb, UsbOldFirmwareReply, false, {FirmwareUnsupported}, false},
        {"a setting not known", ReaderType::Lnx, "AT+READS_LNX - OK! >> 1.00W26?SF\r\n", true, {Unrecognized},
         true},
        {"a Usb reader's settings", ReaderType::Lnx, "AT+READS_LNX - OK! >> 1.00ATMX3XM\r\n", true,
         {Unrecognized}, true},
        {"cut short", ReaderType::Lnx, "AT+READS_LNX - OK! >> 1.00W2", false, {Unrecognized}, true},
        {"garbage", ReaderType::Usb, GarbageReply, false, {Unrecognized}, true},
        {"garbage, chosen", ReaderType::Lnx, GarbageReply, true, {Unrecognized, NoReply}, false},
        {"refused", ReaderType::Usb, RefusalReply, false, {InvalidCommand}, true},
        {"an acknowledgement", ReaderType::Lnx, WriteAckReply, false, {Unrecognized}, true},
        {"silent, chosen", ReaderType::Lnx, "", true, {NoReply}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        restartOn(c.type);
        fakePorts["COM3"] = {true, true, c.readReply, WriteAckReply};
        openPort("COM3");
        linkState.portChosen = c.portChosen;
        int choice = c.type == ReaderType::Lnx ? ID_IF_WIEGAND44 : ID_BYTES_2;
        CheckRadioButton(mainWindow, c.type == ReaderType::Lnx ? ID_IF_TOUCH_MEMORY : ID_BYTES_5,
                         c.type == ReaderType::Lnx ? ID_IF_WIEGAND44 : ID_BYTES_2, choice);
        std::string written = c.type == ReaderType::Lnx ? "write COM3 AT+W441AO" : "write COM3 AT+WHDH2EM";
        BoxRecorder recorder;

        onWriteCommand();
        for (int tick = 0; tick < 4; tick++)
            onProgressTimer(static_cast<UINT_PTR>(TimerId::Write));

        bool wrote = c.boxes == std::vector<Box>{SettingsWritten};
        EXPECT_EQ(shown(recorder), c.boxes);
        EXPECT_EQ(std::count(channelLog.begin(), channelLog.end(), written), wrote ? 1 : 0);
        EXPECT_EQ(linkState.portOpen, c.stillOpen);
        EXPECT_TRUE(isRadioChecked(choice));
        EXPECT_FALSE(isTimerRunning(TimerId::Write));
        EXPECT_TRUE(IsWindowEnabled(mainWindow));
    }
}

// The window is enabled during the read a Usb search starts. A click then
// sends nothing while the reply is awaited: READ is already answered by it,
// and WRITE takes it as the reader's identification, then writes the
// choices of the click; the reader's settings never replace them.
TEST_F(Link, AClickWhileAReplyIsAwaitedSendsNothingUntilItCame)
{
    restartOn(ReaderType::Usb);
    fakePorts["COM7"] = {true, true, UsbSettingsReply, WriteAckReply};
    openPort("COM7");
    onReadCommand();
    EnableWindow(mainWindow, TRUE);
    onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));
    BoxRecorder recorder;

    onReadCommand();
    CheckRadioButton(mainWindow, ID_BYTES_5, ID_BYTES_2, ID_BYTES_3);
    onWriteCommand();
    onWriteCommand();
    EXPECT_EQ(channelLog, std::vector<std::string>{"write COM7 AT+READS_USB"});
    EXPECT_FALSE(IsWindowEnabled(mainWindow));
    EXPECT_TRUE(isTimerRunning(TimerId::Read));

    onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));
    EXPECT_TRUE(recorder.boxes().empty());
    EXPECT_EQ(channelLog.back(), "write COM7 AT+WHDH3EM");
    EXPECT_TRUE(isTimerRunning(TimerId::Write));
    EXPECT_FALSE(IsWindowEnabled(mainWindow));
    onReadCommand();
    onWriteCommand();
    onProgressTimer(static_cast<UINT_PTR>(TimerId::Write));
    onProgressTimer(static_cast<UINT_PTR>(TimerId::Write));

    EXPECT_EQ(shown(recorder), std::vector<Box>{SettingsWritten});
    EXPECT_EQ(channelLog, (std::vector<std::string>{"write COM7 AT+READS_USB", "read COM7", "write COM7 AT+WHDH3EM",
                                                    "read COM7"}));
    EXPECT_TRUE(isRadioChecked(ID_OUT_HEX_DEC));  // not the reader's Touch Memory
    EXPECT_TRUE(isRadioChecked(ID_BYTES_3));
    EXPECT_TRUE(IsWindowEnabled(mainWindow));
}

// WRITE with no port open finds the reader and writes to it what the panel
// held at the click; without a reader nothing is written and the panel
// keeps the choices.
TEST_F(Link, WriteWithoutAPortWritesThePanelOnceTheReaderIsFound)
{
    for (bool readerThere : {true, false}) {
        SCOPED_TRACE(readerThere ? "reader on COM2" : "no reader");
        restartOn(ReaderType::Lnx);
        setPorts({"COM1", "COM2"});
        fakePorts["COM1"] = {};
        fakePorts["COM2"] = {true, true, readerThere ? LnxSettingsReply : "", WriteAckReply};
        CheckRadioButton(mainWindow, ID_IF_TOUCH_MEMORY, ID_IF_WIEGAND44, ID_IF_WIEGAND44);
        CheckRadioButton(mainWindow, ID_STANDBY_DYNAMIC, ID_STANDBY_OFF, ID_STANDBY_STATIC);
        BoxRecorder recorder;

        onWriteCommand();
        for (int tick = 0; tick < 100; tick++)
            onProgressTimer(static_cast<UINT_PTR>(TimerId::Search));
        for (int tick = 0; tick < 4; tick++)
            onProgressTimer(static_cast<UINT_PTR>(TimerId::Write));

        if (readerThere) {
            EXPECT_EQ(shown(recorder), (std::vector<Box>{{L"Tarvik-LNA_LNB reader found!\n\r->[COM2]",
                                                          IDI_MSG_SUCCESS},
                                                         SettingsWritten}));
            std::vector<std::string> tail(channelLog.end() - 4, channelLog.end());
            EXPECT_EQ(tail, (std::vector<std::string>{"write COM2 AT+READS_LNX", "read COM2",
                                                      "write COM2 AT+W441SO", "read COM2"}));
            EXPECT_TRUE(linkState.portOpen);
            // The reader in use is shown, though its settings are not.
            EXPECT_EQ(versionText(), L"1.00");
        } else {
            EXPECT_EQ(shown(recorder), (std::vector<Box>{LnxNotFound, SelectPortHint}));
            EXPECT_EQ(versionText(), L"x.xx");
            for (const std::string &entry : channelLog)
                EXPECT_EQ(entry.find("AT+W"), std::string::npos) << entry;
        }
        // Nothing the search read went on the panel.
        EXPECT_TRUE(isRadioChecked(ID_IF_WIEGAND44));
        EXPECT_TRUE(isRadioChecked(ID_STANDBY_STATIC));
        EXPECT_TRUE(isRadioChecked(ID_IND_DIRECT));
        EXPECT_FALSE(isTimerRunning(TimerId::Write));
        EXPECT_TRUE(IsWindowEnabled(mainWindow));
    }
}

// ---- the progress timers ----

TEST_F(Link, ReadWaitReceivesTheReplyOnItsSecondTick)
{
    fakePorts["COM3"].reply = LnxSettingsReply;
    openPort("COM3");
    onReadCommand();
    HWND popup = progressPopup;
    ASSERT_NE(popup, nullptr);
    ASSERT_FALSE(IsWindowEnabled(mainWindow));
    BoxRecorder recorder;

    onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));
    EXPECT_EQ(progressTicks, 1);
    EXPECT_EQ(SendMessageW(popup, PBM_GETPOS, 0, 0), 1);
    EXPECT_TRUE(recorder.boxes().empty());
    EXPECT_EQ(channelLog, std::vector<std::string>{"write COM3 AT+READS_LNX"});

    onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));
    EXPECT_EQ(progressTicks, 0);
    EXPECT_FALSE(IsWindow(popup));
    EXPECT_EQ(progressPopup, nullptr);
    EXPECT_FALSE(isTimerRunning(TimerId::Read));
    EXPECT_TRUE(IsWindowEnabled(mainWindow));
    EXPECT_EQ(shown(recorder), std::vector<Box>{SettingsRead});
    EXPECT_EQ(channelLog, (std::vector<std::string>{"write COM3 AT+READS_LNX", "read COM3"}));
}

TEST_F(Link, SearchRunsOnTheHundredthTick)
{
    onSearchCommand();
    HWND popup = progressPopup;
    ASSERT_NE(popup, nullptr);
    BoxRecorder recorder;
    for (int tick = 1; tick < 100; tick++)
        onProgressTimer(static_cast<UINT_PTR>(TimerId::Search));
    EXPECT_EQ(progressTicks, 99);
    EXPECT_EQ(SendMessageW(popup, PBM_GETPOS, 0, 0), 99);
    EXPECT_TRUE(recorder.boxes().empty());
    EXPECT_FALSE(IsWindowEnabled(mainWindow));

    onProgressTimer(static_cast<UINT_PTR>(TimerId::Search));
    EXPECT_EQ(progressTicks, 0);
    EXPECT_FALSE(IsWindow(popup));
    EXPECT_FALSE(isTimerRunning(TimerId::Search));
    EXPECT_EQ(shown(recorder), std::vector<Box>{NoPorts});  // the bench's map is empty
    EXPECT_TRUE(IsWindowEnabled(mainWindow));
}

TEST_F(Link, ResetEndsTheWaitInProgress)
{
    for (TimerId wait : {TimerId::Search, TimerId::Read, TimerId::Write}) {
        SCOPED_TRACE(static_cast<int>(wait));
        restartOn(ReaderType::Lnx);
        fakePorts["COM3"].reply = LnxSettingsReply;
        openPort("COM3");
        if (wait == TimerId::Search)
            startProgress(TimerId::Search, SearchPeriodMs);
        else if (wait == TimerId::Read)
            onReadCommand();
        else
            onWriteCommand();
        HWND popup = progressPopup;
        onProgressTimer(static_cast<UINT_PTR>(wait));
        ASSERT_FALSE(IsWindowEnabled(mainWindow));

        resetLink();
        EXPECT_FALSE(isTimerRunning(wait));
        EXPECT_FALSE(IsWindow(popup));
        EXPECT_EQ(progressPopup, nullptr);
        EXPECT_EQ(progressTicks, 0);
        EXPECT_TRUE(IsWindowEnabled(mainWindow));  // nothing else will enable it

        BoxRecorder recorder;
        for (int tick = 0; tick < 100; tick++)
            onProgressTimer(static_cast<UINT_PTR>(wait));
        EXPECT_TRUE(recorder.boxes().empty());
        EXPECT_EQ(channelLog.back(), "close COM3");
    }
}

TEST_F(Link, OtherTimersAreNotCounted)
{
    for (UINT_PTR id : {UINT_PTR(0), UINT_PTR(4), UINT_PTR(5)})
        onProgressTimer(id);
    EXPECT_EQ(progressTicks, 0);
}

// ---- runSearch and the Lnx search ----

TEST_F(Link, SearchWithoutPortsLeavesTheEmptyEntry)
{
    BoxRecorder recorder;
    runSearch();
    EXPECT_EQ(shown(recorder), std::vector<Box>{NoPorts});
    EXPECT_EQ(portListEntries(), std::vector<std::string>{""});
    EXPECT_EQ(selectedEntry(), 0);
    EXPECT_TRUE(IsWindowEnabled(portList));
    EXPECT_TRUE(channelLog.empty());
}

TEST_F(Link, LnxSearchFindsTheReaderOnTheSecondPort)
{
    setPorts({"COM4", "COM1", "COM9"});
    fakePorts["COM1"] = {};  // silent
    fakePorts["COM4"].reply = LnxSettingsReply;
    fakePorts["COM9"].reply = LnxSettingsReply;
    BoxRecorder recorder;
    runSearch();

    EXPECT_EQ(shown(recorder),
              (std::vector<Box>{SettingsRead, {L"Tarvik-LNA_LNB reader found!\n\r->[COM4]", IDI_MSG_SUCCESS}}));
    EXPECT_EQ(channelLog, (std::vector<std::string>{"open COM1", "write COM1 AT+READS_LNX", "read COM1",
                                                    "close COM1", "open COM4", "write COM4 AT+READS_LNX",
                                                    "read COM4"}));
    EXPECT_TRUE(linkState.portOpen);
    EXPECT_TRUE(linkState.portChosen);
    EXPECT_FALSE(linkState.probing);
    EXPECT_TRUE(linkState.firmwareSupported);
    EXPECT_STREQ(linkState.currentPort, "COM4");
    EXPECT_EQ(linkState.currentPortIndex, 1);
    EXPECT_EQ(selectedEntry(), 1);
    EXPECT_FALSE(IsWindowEnabled(portList));
    EXPECT_TRUE(IsWindowEnabled(mainWindow));
    EXPECT_EQ(versionText(), L"1.00");
    EXPECT_TRUE(isRadioChecked(ID_IF_WIEGAND26));
}

TEST_F(Link, LnxSearchPassesStrangersSilently)
{
    setPorts({"COM1", "COM2", "COM3", "COM4", "COM5"});
    fakePorts["COM1"].opens = false;
    fakePorts["COM2"].reply = GarbageReply;
    fakePorts["COM3"].reply = RefusalReply;
    fakePorts["COM4"].writes = false;
    fakePorts["COM5"].reply = LnxOldFirmwareReply;
    BoxRecorder recorder;
    runSearch();

    EXPECT_EQ(shown(recorder), (std::vector<Box>{SettingsRead, FirmwareUnsupported, LnxNotFound, SelectPortHint}));
    EXPECT_EQ(channelLog,
              (std::vector<std::string>{"open COM1", "open COM2", "write COM2 AT+READS_LNX", "read COM2",
                                        "close COM2", "open COM3", "write COM3 AT+READS_LNX", "read COM3",
                                        "close COM3", "open COM4", "write COM4 AT+READS_LNX", "close COM4",
                                        "open COM5", "write COM5 AT+READS_LNX", "read COM5", "close COM5"}));
    EXPECT_FALSE(linkState.portOpen);
    EXPECT_FALSE(linkState.portChosen);
    EXPECT_FALSE(linkState.probing);
    EXPECT_TRUE(IsWindowEnabled(portList));
    EXPECT_TRUE(IsWindowEnabled(mainWindow));
    EXPECT_EQ(versionText(), L"x.xx");
    EXPECT_EQ(selectedEntry(), 0);
}

TEST_F(Link, LnxSearchReportsAWriteAcknowledgementAndGoesOn)
{
    setPorts({"COM1", "COM2"});
    fakePorts["COM1"].reply = WriteAckReply;
    fakePorts["COM2"].reply = LnxSettingsReply;
    BoxRecorder recorder;
    runSearch();
    EXPECT_EQ(shown(recorder), (std::vector<Box>{SettingsWritten, SettingsRead,
                                                 {L"Tarvik-LNA_LNB reader found!\n\r->[COM2]", IDI_MSG_SUCCESS}}));
    EXPECT_STREQ(linkState.currentPort, "COM2");
}

TEST_F(Link, SearchAfterAFailedPickIsAnOrdinaryOne)
{
    for (auto command : {onReadCommand, onWriteCommand}) {
        restartOn(ReaderType::Lnx);
        setPorts({"COM1", "COM2", "COM5"});
        refreshPortList();
        fakePorts["COM1"] = {};  // silent
        fakePorts["COM2"].reply = LnxSettingsReply;
        fakePorts["COM5"].opens = false;
        SendMessageW(portList, CB_SETCURSEL, 2, 0);
        BoxRecorder recorder;
        onPortListCommand(CBN_SELCHANGE);
        command();
        for (int tick = 1; tick <= 100; tick++)
            onProgressTimer(static_cast<UINT_PTR>(TimerId::Search));
        // The silent COM1 passes without a box, as in any search. A search
        // for a write leaves the panel alone and reads the reader once more
        // before writing.
        bool forWrite = command == onWriteCommand;
        std::vector<Box> boxes = {{L"Error opening [COM5]!", IDI_MSG_ERROR}, SettingsRead,
                                  {L"Tarvik-LNA_LNB reader found!\n\r->[COM2]", IDI_MSG_SUCCESS}};
        std::vector<std::string> log = {"open COM5", "open COM1", "write COM1 AT+READS_LNX", "read COM1",
                                        "close COM1", "open COM2", "write COM2 AT+READS_LNX", "read COM2"};
        if (forWrite) {
            boxes.erase(boxes.begin() + 1);
            log.push_back("write COM2 AT+READS_LNX");
        }
        EXPECT_EQ(shown(recorder), boxes);
        EXPECT_EQ(channelLog, log);
    }
}

TEST_F(Link, LnxSearchTriesEveryPort)
{
    std::vector<std::string> ports;
    for (int n = 1; n <= 60; n++) {
        ports.push_back("COM" + std::to_string(n));
        fakePorts[ports.back()].opens = false;
    }
    setPorts(ports);
    BoxRecorder recorder;
    runSearch();
    std::vector<std::string> opened;
    for (const std::string &port : ports)
        opened.push_back("open " + port);
    EXPECT_EQ(channelLog, opened);
    EXPECT_EQ(shown(recorder), (std::vector<Box>{LnxNotFound, SelectPortHint}));
}

// Ports that come and go during a search change the list each reset
// refills; the search goes on with the first listed port numbered above the
// one it has just tried, whatever position that port now has.
TEST_F(Link, LnxSearchGoesOnAfterThePortJustTried)
{
    const struct {
        const char *name;
        std::vector<std::string> vanish;  // while COM1 is probed
        std::vector<std::string> appear;
        std::vector<std::string> opened;
    } cases[] = {
        {"the probed port", {"COM1"}, {}, {"open COM1", "open COM3", "open COM5"}},
        {"the probed port and the next", {"COM1", "COM3"}, {}, {"open COM1", "open COM5"}},
        {"a new port before the probed one", {}, {"COM0"}, {"open COM1", "open COM3", "open COM5"}},
        {"a new port after the probed one", {"COM1"}, {"COM2"}, {"open COM1", "open COM2", "open COM3",
                                                                 "open COM5"}},
        {"the probed port back under a lower number", {"COM1"}, {"COM0"}, {"open COM1", "open COM3",
                                                                           "open COM5"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        restartOn(ReaderType::Lnx);
        setPorts({"COM1", "COM3", "COM5"});
        for (const char *port : {"COM0", "COM1", "COM2", "COM3", "COM5"})
            fakePorts[port] = {};  // all silent
        onFakeWrite = [&](const std::string &port) {
            if (port != "COM1")
                return;
            for (const std::string &gone : c.vanish)
                removeSerialPort(gone);
            for (const std::string &added : c.appear)
                addSerialPort(added);
        };
        BoxRecorder recorder;
        runSearch();

        EXPECT_EQ(openedPorts(), c.opened);
        EXPECT_EQ(shown(recorder), (std::vector<Box>{LnxNotFound, SelectPortHint}));
        onFakeWrite = nullptr;
    }
}

// Ports that vanish during a search shorten the list that each reset
// refills; the search must not go on with names that are no longer listed.
TEST_F(Link, LnxSearchStopsAtTheEndOfAShrunkenList)
{
    const struct {
        const char *name;
        std::vector<std::string> vanishOnFirstWrite;
        std::vector<std::string> opened;
    } cases[] = {
        {"all but the first", {"COM2", "COM3"}, {"open COM1"}},
        {"the middle one", {"COM2"}, {"open COM1", "open COM3"}},
        {"all of them", {"COM1", "COM2", "COM3"}, {"open COM1"}},
        {"none", {}, {"open COM1", "open COM2", "open COM3"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        restartOn(ReaderType::Lnx);
        setPorts({"COM1", "COM2", "COM3"});
        for (const char *port : {"COM1", "COM2", "COM3"})
            fakePorts[port] = {};  // all silent
        bool vanished = false;
        onFakeWrite = [&](const std::string &) {
            if (vanished)
                return;
            vanished = true;
            for (const std::string &port : c.vanishOnFirstWrite)
                removeSerialPort(port);
        };
        BoxRecorder recorder;
        runSearch();

        EXPECT_EQ(openedPorts(), c.opened);
        EXPECT_EQ(shown(recorder), (std::vector<Box>{LnxNotFound, SelectPortHint}));
        EXPECT_FALSE(linkState.portOpen);
        EXPECT_TRUE(IsWindowEnabled(mainWindow));
        onFakeWrite = nullptr;
    }
}

// ---- the Usb search ----

TEST_F(Link, UsbSearchWithoutTheReaderGivesUp)
{
    restartOn(ReaderType::Usb);
    setPorts({"COM1", "COM2"});
    fakePorts["COM1"].reply = UsbSettingsReply;
    std::strcpy(linkState.currentPort, "COM2");
    BoxRecorder recorder;
    runSearch();
    EXPECT_EQ(shown(recorder), (std::vector<Box>{UsbNotFound, SelectPortHint}));
    EXPECT_TRUE(channelLog.empty());  // no port is tried
    EXPECT_STREQ(linkState.currentPort, "COM2");
    EXPECT_TRUE(IsWindowEnabled(portList));
    EXPECT_EQ(portListEntries(), (std::vector<std::string>{"COM1", "COM2"}));
}

// The Tarvik-USB reader as Wine's SetupAPI finds it: a present USB device
// described in the registry, with its port in the device key.
class UsbReaderDevice {
public:
    explicit UsbReaderDevice(const wchar_t *portName)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, InstanceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            return;
        const wchar_t hardwareIds[] = L"USB\\VID_2E3C&PID_5750&REV_0200\0USB\\VID_2E3C&PID_5750\0";
        RegSetValueExW(key, L"HardwareID", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(hardwareIds),
                       sizeof hardwareIds);
        const wchar_t portsClass[] = L"{4d36e978-e325-11ce-bfc1-08002be10318}";
        RegSetValueExW(key, L"ClassGUID", 0, REG_SZ, reinterpret_cast<const BYTE *>(portsClass),
                       sizeof portsClass);
        HKEY parameters = nullptr;
        RegCreateKeyExW(key, L"Device Parameters", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &parameters, nullptr);
        RegSetValueExW(parameters, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE *>(portName),
                       static_cast<DWORD>((wcslen(portName) + 1) * sizeof(wchar_t)));
        RegCloseKey(parameters);
        RegCloseKey(key);
    }
    ~UsbReaderDevice()
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, InstanceKey);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, DeviceKey);
    }

private:
    static constexpr const wchar_t *DeviceKey = L"System\\CurrentControlSet\\Enum\\USB\\VID_2E3C&PID_5750";
    static constexpr const wchar_t *InstanceKey =
        L"System\\CurrentControlSet\\Enum\\USB\\VID_2E3C&PID_5750\\VelmoraLinkTest";
};

TEST_F(Link, UsbSearchFindsTheReaderAndReadsItWithTheWindowEnabled)
{
    restartOn(ReaderType::Usb);
    UsbReaderDevice reader(L"COM7");
    char probe[PortNameCapacity] = "";
    if (!findTarvikUsbPort(probe))
        GTEST_SKIP() << "this Wine does not list the simulated USB device";

    setPorts({"COM3", "COM7"});
    fakePorts["COM3"].reply = UsbSettingsReply;
    fakePorts["COM7"].reply = UsbSettingsReply;
    onSearchCommand();
    BoxRecorder recorder;
    for (int tick = 1; tick <= 100; tick++)
        onProgressTimer(static_cast<UINT_PTR>(TimerId::Search));

    EXPECT_EQ(shown(recorder),
              (std::vector<Box>{{L"Tarvik-USB reader found!\n\r->[COM7]", IDI_MSG_SUCCESS}}));
    EXPECT_EQ(channelLog, (std::vector<std::string>{"open COM7", "write COM7 AT+READS_USB"}));
    EXPECT_STREQ(linkState.currentPort, "COM7");
    EXPECT_EQ(linkState.currentPortIndex, 1);
    EXPECT_EQ(selectedEntry(), 1);
    EXPECT_TRUE(linkState.portOpen);
    EXPECT_FALSE(linkState.portChosen);  // found, not picked
    EXPECT_FALSE(IsWindowEnabled(portList));
    EXPECT_TRUE(IsWindowEnabled(mainWindow));  // during the read wait
    EXPECT_TRUE(isTimerRunning(TimerId::Read));
    ASSERT_NE(progressPopup, nullptr);

    onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));
    onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));
    EXPECT_EQ(shown(recorder).back(), SettingsRead);
    EXPECT_TRUE(isRadioChecked(ID_MODE_ALL_OS));

    // Silence on the next read resets without a box: the port was not picked.
    recorder.clear();
    fakePorts["COM7"].reply.clear();
    onReadCommand();
    onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));
    onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));
    EXPECT_TRUE(recorder.boxes().empty());
    EXPECT_FALSE(linkState.portOpen);
    EXPECT_TRUE(IsWindowEnabled(portList));
}

TEST_F(Link, SearchDuringTheUsbReadWaitEndsThatWait)
{
    restartOn(ReaderType::Usb);
    UsbReaderDevice reader(L"COM7");
    char probe[PortNameCapacity] = "";
    if (!findTarvikUsbPort(probe))
        GTEST_SKIP() << "this Wine does not list the simulated USB device";

    setPorts({"COM7"});
    fakePorts["COM7"].reply = UsbSettingsReply;
    onSearchCommand();
    BoxRecorder recorder;
    for (int tick = 1; tick <= 100; tick++)
        onProgressTimer(static_cast<UINT_PTR>(TimerId::Search));
    ASSERT_TRUE(isTimerRunning(TimerId::Read));
    ASSERT_TRUE(IsWindowEnabled(mainWindow));
    onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));

    // SEARCH in that second: the read wait is over, its ticks do nothing.
    onSearchCommand();
    EXPECT_FALSE(isTimerRunning(TimerId::Read));
    EXPECT_TRUE(isTimerRunning(TimerId::Search));
    EXPECT_EQ(progressTicks, 0);
    for (int tick = 1; tick <= 99; tick++) {
        onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));
        onProgressTimer(static_cast<UINT_PTR>(TimerId::Search));
    }
    EXPECT_EQ(progressTicks, 99);
    EXPECT_EQ(channelLog, (std::vector<std::string>{"open COM7", "write COM7 AT+READS_USB", "close COM7"}));
    onProgressTimer(static_cast<UINT_PTR>(TimerId::Search));
    onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));
    onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));

    const Box found = {L"Tarvik-USB reader found!\n\r->[COM7]", IDI_MSG_SUCCESS};
    EXPECT_EQ(shown(recorder), (std::vector<Box>{found, found, SettingsRead}));
    EXPECT_EQ(channelLog, (std::vector<std::string>{"open COM7", "write COM7 AT+READS_USB", "close COM7",
                                                    "open COM7", "write COM7 AT+READS_USB", "read COM7"}));
    EXPECT_TRUE(linkState.portOpen);
    EXPECT_EQ(progressPopup, nullptr);
    EXPECT_TRUE(IsWindowEnabled(mainWindow));
}

TEST_F(Link, SilenceAfterALnxSearchOffersThePortsAgain)
{
    setPorts({"COM1", "COM2"});
    fakePorts["COM2"].reply = LnxSettingsReply;
    BoxRecorder recorder;
    runSearch();
    ASSERT_TRUE(linkState.portChosen);
    recorder.clear();

    fakePorts["COM2"].reply.clear();
    onReadCommand();
    onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));
    onProgressTimer(static_cast<UINT_PTR>(TimerId::Read));
    EXPECT_EQ(shown(recorder), std::vector<Box>{NoReply});
    EXPECT_FALSE(linkState.portOpen);
    EXPECT_TRUE(IsWindowEnabled(portList));
    EXPECT_EQ(selectedEntry(), 0);
    EXPECT_EQ(versionText(), L"x.xx");
}

}  // namespace
