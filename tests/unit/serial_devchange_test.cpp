// The device-change recovery with the real channel, port list, registry and
// reader link, and stand-ins that record what it asks of the message boxes
// and the progress popup. Ports come from the simulator (see serial_sim_run.sh); the device
// map and USB devices are written here.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "prefs/preferences.h"
#include "prefs/texts.h"
#include "protocol/win32/link.h"
#include "serial/channel.h"
#include "serial/devchange.h"
#include "serial/ports.h"
#include "tests/unit/serial_registry.h"
#include "tests/unit/serial_standins.h"
#include "ui/panel.h"

namespace {

using namespace serialtest;

constexpr WPARAM DevNodesChanged = 0x0007;
constexpr UINT_PTR DeviceChangeTimer = 4;

const char LnxCommand[] = "AT+READS_LNX";
// The version a read left on the panel; a reset of the link shows "x.xx".
const wchar_t ReadVersion[] = L"1.00";
const wchar_t IdleVersion[] = L"x.xx";
const char LnxReply[] = "AT+READS_LNX - OK! >> 1.00TMX1AO\r\n";

// Ticks of the device-change timer, in GetTickCount time.
std::vector<DWORD> timerTicks;

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == DeviceChangeTimer) {
        timerTicks.push_back(GetTickCount());
        onDeviceChangeTimer();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void pumpMessages(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
}

bool simulatorRuns()
{
    return GetEnvironmentVariableA("VELMORA_SIM_LOGS", nullptr, 0) > 0;
}

void setCurrentPort(const char *name)
{
    std::strncpy(linkState.currentPort, name, PortNameCapacity - 1);
    linkState.currentPort[PortNameCapacity - 1] = '\0';
}

// The link as the reader transactions leave it after a successful read.
void openLink(const char *openedPort, const char *currentPort)
{
    ASSERT_TRUE(SerialChannel::open(openedPort, ReaderBaudRate));
    SetWindowTextW(versionValue, ReadVersion);
    linkState.portOpen = true;
    linkState.portChosen = true;
    linkState.probing = false;
    linkState.firmwareSupported = true;
    setCurrentPort(currentPort);
}

class DeviceChange : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"SerialDeviceChangeTest";
        RegisterClassW(&windowClass);
    }

    void SetUp() override
    {
        mainWindow = CreateWindowExW(0, L"SerialDeviceChangeTest", L"device change test", WS_OVERLAPPEDWINDOW, 0, 0,
                                     300, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(mainWindow, nullptr);
        portList = CreateWindowExW(0, L"Combobox", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST, 10,
                                   10, 150, 200, mainWindow, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(portList, nullptr);
        versionValue = CreateWindowExW(0, L"Static", ReadVersion, WS_CHILD | WS_VISIBLE, 10, 40, 40, 20, mainWindow,
                                       nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(versionValue, nullptr);
        uiLanguage = UiLanguage::English;
        selectTextTable();
        readerType = ReaderType::Lnx;
        linkState = LinkState{};
        deviceChangePending = false;
        timerTicks.clear();
        clearStandinRecords();
        clearDeviceMap();
        removeTestDevices();
    }

    void TearDown() override
    {
        SerialChannel::close();
        KillTimer(mainWindow, DeviceChangeTimer);
        deviceChangePending = false;
        clearDeviceMap();
        removeTestDevices();
        DestroyWindow(mainWindow);
        mainWindow = nullptr;
        portList = nullptr;
        versionValue = nullptr;
    }

    std::wstring shownVersion()
    {
        wchar_t text[16] = L"";
        GetWindowTextW(versionValue, text, 16);
        return text;
    }

    // The reader link was reset (its port closed, its flags cleared and the
    // version shown idle), or left as it was.
    void expectLinkReset(bool reset)
    {
        if (!reset) {
            EXPECT_EQ(shownVersion(), ReadVersion) << "the link was reset";
            return;
        }
        EXPECT_EQ(shownVersion(), IdleVersion);
        EXPECT_FALSE(SerialChannel::isOpen());
        EXPECT_FALSE(linkState.portOpen);
        EXPECT_FALSE(linkState.portChosen);
        EXPECT_FALSE(linkState.firmwareSupported);
    }

    void expectErrorMessage(const std::wstring &text)
    {
        ASSERT_EQ(shownMessages.size(), 1u);
        EXPECT_EQ(shownMessages[0].text, text);
        EXPECT_EQ(shownMessages[0].caption, TextTable[TxtMessageCaption]);
        EXPECT_EQ(shownMessages[0].owner, mainWindow);
        EXPECT_EQ(shownMessages[0].flags, 0u) << "OK button only";
        EXPECT_EQ(shownMessages[0].icon, MsgIcon::Error);
    }

    void expectSearchStarted(bool started)
    {
        if (!started) {
            EXPECT_TRUE(startedProgress.empty());
            return;
        }
        ASSERT_EQ(startedProgress.size(), 1u);
        EXPECT_EQ(startedProgress[0].timerId, TimerId::Search);
        EXPECT_EQ(startedProgress[0].periodMs, 10u);
    }
};

TEST_F(DeviceChange, OnlyDevNodesChangedArmsTheTimer)
{
    const WPARAM others[] = {0x8000, 0x8001, 0x8003, 0x8004, 0x8006, 0x0017, 0x0018, 0x0019};
    for (WPARAM code : others) {
        SCOPED_TRACE(code);
        onDeviceChange(code);
        EXPECT_FALSE(deviceChangePending);
        EXPECT_FALSE(KillTimer(mainWindow, DeviceChangeTimer)) << "no timer armed";
    }
    onDeviceChange(DevNodesChanged);
    EXPECT_TRUE(deviceChangePending);
    EXPECT_TRUE(KillTimer(mainWindow, DeviceChangeTimer));
}

TEST_F(DeviceChange, BurstOfChangesGivesOneRecoveryTwoSecondsAfterTheFirst)
{
    setDeviceMap({{L"A", "COM1"}});
    refreshPortList();

    DWORD first = GetTickCount();
    onDeviceChange(DevNodesChanged);
    for (int i = 0; i < 4; i++) {
        pumpMessages(200);
        onDeviceChange(DevNodesChanged);
        EXPECT_TRUE(deviceChangePending);
    }
    pumpMessages(3000 - (GetTickCount() - first));

    ASSERT_EQ(timerTicks.size(), 1u);
    DWORD delay = timerTicks[0] - first;
    EXPECT_GE(delay, 1950u);
    EXPECT_LE(delay, 2300u);
    EXPECT_FALSE(deviceChangePending);
    EXPECT_FALSE(KillTimer(mainWindow, DeviceChangeTimer)) << "a one-shot";
    // Nothing changed: the list was refreshed, and that is all.
    EXPECT_EQ(entries(portList), Texts({"COM1"}));
    expectSearchStarted(false);
    EXPECT_TRUE(shownMessages.empty());
    expectLinkReset(false);

    // The next change arms a fresh timer.
    onDeviceChange(DevNodesChanged);
    EXPECT_TRUE(deviceChangePending);
}

TEST_F(DeviceChange, IdleLnxTabSearchesWhenAPortArrives)
{
    struct Case {
        const char *what;
        std::vector<MapPort> before;
        std::vector<MapPort> after;
        Texts list;
        bool search;
    } cases[] = {
        {"first port after none", {}, {{L"A", "COM4"}}, {"COM4"}, true},
        {"second port", {{L"A", "COM1"}}, {{L"A", "COM1"}, {L"B", "COM5"}}, {"COM1", "COM5"}, true},
        {"new port sorts first", {{L"B", "COM3"}}, {{L"A", "COM1"}, {L"B", "COM3"}}, {"COM1", "COM3"}, true},
        {"one port swapped for another", {{L"A", "COM1"}, {L"B", "COM3"}}, {{L"A", "COM1"}, {L"C", "COM4"}},
         {"COM1", "COM4"}, false},
        {"port removed", {{L"A", "COM1"}, {L"B", "COM3"}}, {{L"A", "COM1"}}, {"COM1"}, false},
        {"last port removed", {{L"A", "COM1"}}, {}, {""}, false},
        {"nothing changed", {{L"A", "COM1"}}, {{L"A", "COM1"}}, {"COM1"}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        clearStandinRecords();
        setDeviceMap(c.before);
        refreshPortList();
        setDeviceMap(c.after);
        EnableWindow(portList, FALSE);
        onDeviceChange(DevNodesChanged);

        onDeviceChangeTimer();

        EXPECT_FALSE(deviceChangePending);
        EXPECT_FALSE(KillTimer(mainWindow, DeviceChangeTimer)) << "the timer was killed";
        EXPECT_EQ(entries(portList), c.list);
        EXPECT_EQ(selection(portList), 0);
        EXPECT_TRUE(IsWindowEnabled(portList));
        expectSearchStarted(c.search);
        EXPECT_TRUE(shownMessages.empty());
        expectLinkReset(false);
    }
}

TEST_F(DeviceChange, IdleUsbTabSearchesWhenTheReaderArrives)
{
    readerType = ReaderType::Usb;
    struct Case {
        const char *what;
        std::vector<UsbDevice> devices;
        const char *currentPort;
        bool search;
    } cases[] = {
        {"the reader", {reader(L"A", L"COM7")}, "COM7", true},
        {"the reader after a device without a driver",
         {{L"VID_0001&PID_0001", L"A", {"USB\\VID_0001&PID_0001&REV_0100"}, false, nullptr, REG_SZ},
          reader(L"A", L"COM7")},
         "COM7", true},
        {"another device", {reader(L"A", L"COM7", "USB\\VID_2E3C&PID_5750&REV_0300")}, "COM3", false},
        {"nothing", {}, "COM3", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        clearStandinRecords();
        removeTestDevices();
        setDeviceMap({{L"A", "COM3"}, {L"B", "COM7"}});
        setEntries(portList, {"COM3"});
        setCurrentPort("COM3");
        for (const UsbDevice &device : c.devices)
            addUsbDevice(device);

        onDeviceChangeTimer();

        EXPECT_STREQ(linkState.currentPort, c.currentPort);
        EXPECT_EQ(entries(portList), Texts({"COM3", "COM7"})) << "the list is refreshed either way";
        expectSearchStarted(c.search);
        EXPECT_TRUE(shownMessages.empty());
        expectLinkReset(false);
    }
}

TEST_F(DeviceChange, OpenPortStillListedIsReopenedSilently)
{
    if (!simulatorRuns())
        GTEST_SKIP() << "no simulated readers: run through serial_sim_run.sh";
    setDeviceMap({{L"A", "COM7"}});
    setEntries(portList, {"untouched"});
    openLink("COM7", "COM7");

    DWORD start = GetTickCount();
    onDeviceChangeTimer();
    DWORD elapsed = GetTickCount() - start;

    EXPECT_GE(elapsed, 990u) << "a second's pause before the reopen";
    EXPECT_LT(elapsed, 1500u);
    EXPECT_TRUE(SerialChannel::isOpen());
    EXPECT_TRUE(linkState.portOpen);
    EXPECT_TRUE(linkState.portChosen);
    EXPECT_TRUE(linkState.firmwareSupported);
    EXPECT_STREQ(linkState.currentPort, "COM7");
    EXPECT_EQ(entries(portList), Texts({"untouched"}));
    EXPECT_TRUE(shownMessages.empty());
    expectLinkReset(false);
    expectSearchStarted(false);

    // The fresh handle talks to the reader.
    ASSERT_TRUE(SerialChannel::write(reinterpret_cast<const unsigned char *>(LnxCommand), 12));
    Sleep(200);
    unsigned char buffer[64] = {};
    int count = 0;
    ASSERT_TRUE(SerialChannel::read(buffer, 64, &count));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), count), LnxReply);
}

TEST_F(DeviceChange, OpenPortThatCannotBeReopenedIsReported)
{
    if (!simulatorRuns())
        GTEST_SKIP() << "no simulated readers: run through serial_sim_run.sh";
    struct Case {
        UiLanguage language;
        const wchar_t *text;
    } cases[] = {
        {UiLanguage::English, L"Error opening [COM41]!"},
        {UiLanguage::Russian, L"Ошибка при открытие [COM41]!"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.language));
        clearStandinRecords();
        uiLanguage = c.language;
        selectTextTable();
        // COM41 stays listed but is a plain file: the reopen fails.
        setDeviceMap({{L"A", "COM41"}, {L"B", "COM1"}});
        openLink("COM7", "COM41");

        onDeviceChangeTimer();

        expectErrorMessage(c.text);
        expectLinkReset(true);
        EXPECT_EQ(entries(portList), Texts({"COM1", "COM41"}));
        expectSearchStarted(false);
    }
}

TEST_F(DeviceChange, OpenPortThatLeftTheDeviceMapIsReported)
{
    if (!simulatorRuns())
        GTEST_SKIP() << "no simulated readers: run through serial_sim_run.sh";
    struct Case {
        const char *what;
        ReaderType tab;
        UiLanguage language;
        bool deleteMap;
        const wchar_t *text;
    } cases[] = {
        {"Lnx tab", ReaderType::Lnx, UiLanguage::English, false, L"The connection is broken.\n\r(COM7 disabled!)"},
        {"Lnx tab in Russian", ReaderType::Lnx, UiLanguage::Russian, false,
         L"Соединение нарушено.\n\r(COM7 отключен!)"},
        {"Usb tab", ReaderType::Usb, UiLanguage::English, false, L"Connection broken.\n\r(Tarvik-USB disabled!)"},
        {"device map gone", ReaderType::Lnx, UiLanguage::English, true,
         L"The connection is broken.\n\r(COM7 disabled!)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        clearStandinRecords();
        readerType = c.tab;
        uiLanguage = c.language;
        selectTextTable();
        setDeviceMap({{L"A", "COM1"}});
        if (c.deleteMap)
            deleteDeviceMap();
        openLink("COM7", "COM7");

        onDeviceChangeTimer();

        expectErrorMessage(c.text);
        expectLinkReset(true);
        EXPECT_EQ(entries(portList), c.deleteMap ? Texts({""}) : Texts({"COM1"}));
        expectSearchStarted(false);
    }
}

}  // namespace
