// The port list, the device-map check and the USB reader lookup, against a
// real combo box and registry contents each test writes itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "serial/ports.h"
#include "tests/unit/serial_registry.h"
#include "ui/panel.h"

namespace {

using namespace serialtest;

// "COM12" followed by letters up to `length` characters.
std::string longName(size_t length)
{
    std::string name = "COM12";
    while (name.size() < length)
        name += static_cast<char>('a' + name.size() % 26);
    return name;
}

bool findReader(char *port)
{
    return findTarvikUsbPort(port);
}

class PortDiscovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        owner = CreateWindowExW(0, L"Static", L"serial ports test", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(owner, nullptr);
        portList = CreateWindowExW(0, L"Combobox", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST, 10,
                                   10, 150, 200, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(portList, nullptr);
        clearDeviceMap();
        removeTestDevices();
    }

    void TearDown() override
    {
        clearDeviceMap();
        removeTestDevices();
        DestroyWindow(owner);
        portList = nullptr;
    }

    HWND owner = nullptr;
};

// ---- the port list

TEST_F(PortDiscovery, RefreshListsThePortsInNumericOrder)
{
    struct Case {
        const char *what;
        std::vector<MapPort> map;
        Texts expected;
    } cases[] = {
        {"registry order COM10, COM3, COM1", {{L"A", "COM10"}, {L"B", "COM3"}, {L"C", "COM1"}},
         {"COM1", "COM3", "COM10"}},
        {"one port", {{L"A", "COM4"}}, {"COM4"}},
        {"duplicates stay", {{L"A", "COM3"}, {L"B", "COM2"}, {L"C", "COM3"}}, {"COM2", "COM3", "COM3"}},
        {"only the number counts", {{L"A", "COM5x"}, {L"B", "XYZ"}, {L"C", "COM"}, {L"D", "LPT7"}},
         {"COM0", "COM0", "COM5", "COM7"}},
        {"leading zeros and blanks", {{L"A", "COM007"}, {L"B", "COM 12"}}, {"COM7", "COM12"}},
        {"numbers far apart keep their order",
         {{L"A", "COM99999999999"}, {L"B", "COM1"}, {L"C", "COM-99999999999"}},
         {"COM-2147483648", "COM1", "COM2147483647"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        setDeviceMap(c.map);
        EnableWindow(portList, FALSE);
        setEntries(portList, {"stale"});

        refreshPortList();

        EXPECT_EQ(entries(portList), c.expected);
        EXPECT_EQ(selection(portList), 0);
        EXPECT_TRUE(IsWindowEnabled(portList));
    }
}

TEST_F(PortDiscovery, RefreshRebuildsTheListOnlyWhenThePortsChanged)
{
    // A tag on every entry survives a refresh that leaves the entries alone
    // and is gone from a list that was rebuilt.
    const LRESULT Tag = 0x5EED;
    struct Case {
        const char *what;
        std::vector<MapPort> map;
        bool numberValue;  // and a value that is no string
        Texts expected;
        bool rebuilt;
    } cases[] = {
        {"unchanged", {{L"A", "COM10"}, {L"B", "COM3"}}, false, {"COM3", "COM10"}, false},
        {"same ports in another registry order", {{L"A", "COM3"}, {L"B", "COM10"}}, false, {"COM3", "COM10"}, false},
        {"spelt differently, same numbers", {{L"A", "COM010"}, {L"B", "COM3"}}, false, {"COM3", "COM10"}, false},
        {"a value that is no string", {{L"A", "COM10"}, {L"B", "COM3"}}, true, {"COM3", "COM10"}, false},
        {"a port added", {{L"A", "COM10"}, {L"B", "COM3"}, {L"C", "COM4"}}, false, {"COM3", "COM4", "COM10"}, true},
        {"a port gone", {{L"A", "COM10"}}, false, {"COM10"}, true},
        {"a port renumbered", {{L"A", "COM11"}, {L"B", "COM3"}}, false, {"COM3", "COM11"}, true},
        {"a port listed twice", {{L"A", "COM10"}, {L"B", "COM3"}, {L"C", "COM3"}}, false, {"COM3", "COM3", "COM10"},
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        setDeviceMap({{L"A", "COM10"}, {L"B", "COM3"}});
        refreshPortList();
        for (int i = 0; i < 2; i++)
            SendMessageA(portList, CB_SETITEMDATA, i, Tag);
        SendMessageA(portList, CB_SETCURSEL, 1, 0);
        EnableWindow(portList, FALSE);

        setDeviceMap(c.map);
        if (c.numberValue) {
            const DWORD number = 7;
            setMapValue(L"Z", REG_DWORD, &number, sizeof number);
        }
        refreshPortList();

        EXPECT_EQ(entries(portList), c.expected);
        EXPECT_EQ(selection(portList), 0);
        EXPECT_TRUE(IsWindowEnabled(portList));
        EXPECT_EQ(SendMessageA(portList, CB_GETITEMDATA, 0, 0) != Tag, c.rebuilt);
    }

    // A list someone else filled is rebuilt even when it holds the same
    // names: one entry too many, or the empty entry that stands for no ports.
    setDeviceMap({{L"A", "COM3"}});
    setEntries(portList, {"COM3", "COM3"});
    refreshPortList();
    EXPECT_EQ(entries(portList), Texts({"COM3"}));
    setEntries(portList, {""});
    refreshPortList();
    EXPECT_EQ(entries(portList), Texts({"COM3"}));
}

TEST_F(PortDiscovery, FillKeepsRegistryOrderAndSortKeepsEveryPort)
{
    // Value names in registry order carry COM60, COM59, ... COM1.
    std::vector<std::string> ports;
    for (int i = 0; i < 60; i++) {
        wchar_t name[32];
        wsprintfW(name, L"\\Device\\Serial%02d", i);
        std::string port = "COM" + std::to_string(60 - i);
        setMapPort(name, wide(port));
        ports.push_back(port);
    }

    ASSERT_TRUE(fillPortList(portList));
    EXPECT_EQ(entries(portList), ports);
    EXPECT_EQ(selection(portList), 0);

    sortPortList(portList);
    Texts expected;
    for (int number = 1; number <= 60; number++)
        expected.push_back("COM" + std::to_string(number));
    EXPECT_EQ(entries(portList), expected);
    EXPECT_EQ(selection(portList), 0);
}

TEST_F(PortDiscovery, NoDeviceMapLeavesOneEmptyEntry)
{
    deleteDeviceMap();
    setEntries(portList, {"COM1", "COM2"});
    SendMessageA(portList, CB_SETCURSEL, 1, 0);

    EXPECT_FALSE(fillPortList(portList));
    EXPECT_EQ(entries(portList), Texts({"COM1", "COM2"}));
    EXPECT_EQ(selection(portList), 1);

    EnableWindow(portList, FALSE);
    refreshPortList();
    EXPECT_EQ(entries(portList), Texts({""}));
    EXPECT_EQ(selection(portList), 0);
    EXPECT_TRUE(IsWindowEnabled(portList));
}

TEST_F(PortDiscovery, EmptyDeviceMapEmptiesTheList)
{
    setEntries(portList, {"COM1"});
    EXPECT_FALSE(fillPortList(portList));
    EXPECT_EQ(entries(portList), Texts());

    refreshPortList();
    EXPECT_EQ(entries(portList), Texts({""}));
    EXPECT_EQ(selection(portList), 0);
}

TEST_F(PortDiscovery, ValuesThatAreNotStringsAreSkipped)
{
    const DWORD number = 3;
    const BYTE binary[] = {'C', 0, 'O', 0, 'M', 0, '4', 0, 0, 0};
    const wchar_t multi[] = L"COM5\0COM6\0";
    const wchar_t expand[] = L"COM8";
    setMapValue(L"A", REG_DWORD, &number, sizeof number);
    setMapValue(L"B", REG_BINARY, binary, sizeof binary);
    setMapValue(L"C", REG_MULTI_SZ, multi, sizeof multi);
    setMapValue(L"D", REG_EXPAND_SZ, expand, sizeof expand);
    setEntries(portList, {"COM1"});

    EXPECT_TRUE(fillPortList(portList));
    EXPECT_EQ(entries(portList), Texts());
    sortPortList(portList);
    EXPECT_EQ(entries(portList), Texts());
    EXPECT_EQ(selection(portList), CB_ERR);

    // With one string among them only that one is listed.
    setMapPort(L"E", L"COM9");
    refreshPortList();
    EXPECT_EQ(entries(portList), Texts({"COM9"}));
    EXPECT_FALSE(isPortPresent("COM4"));
    EXPECT_FALSE(isPortPresent("COM8"));
}

TEST_F(PortDiscovery, StringWithoutTerminatorEndsAtItsLength)
{
    // Written in two steps so the value holds "COM23" and then "COM4" with
    // no terminator: leftovers of the longer value must not show through.
    const wchar_t first[] = L"COM23";
    const wchar_t second[] = L"COM4X";
    setMapValue(L"A", REG_SZ, first, sizeof first);
    setMapValue(L"B", REG_SZ, second, 4 * sizeof(wchar_t));

    ASSERT_TRUE(fillPortList(portList));
    EXPECT_EQ(entries(portList), Texts({"COM23", "COM4"}));
    EXPECT_TRUE(isPortPresent("COM4"));
}

TEST_F(PortDiscovery, LongPortNames)
{
    // Names up to 31 characters are read whole; a longer entry reads as
    // empty (number 0) rather than overflow the name buffer.
    struct Case {
        size_t length;
        const char *sorted;
    } cases[] = {{7, "COM12"}, {31, "COM12"}, {32, "COM0"}, {100, "COM0"}, {255, "COM0"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        clearDeviceMap();
        std::string name = longName(c.length);
        setMapPort(L"A", wide(name));
        setMapPort(L"B", L"COM3");

        ASSERT_TRUE(fillPortList(portList));
        EXPECT_EQ(entries(portList), Texts({name, "COM3"}));
        EXPECT_TRUE(isPortPresent(name.c_str()));
        EXPECT_FALSE(isPortPresent(name.substr(0, c.length - 1).c_str()));

        sortPortList(portList);
        if (std::strcmp(c.sorted, "COM0") == 0)
            EXPECT_EQ(entries(portList), Texts({"COM0", "COM3"}));
        else
            EXPECT_EQ(entries(portList), Texts({"COM3", c.sorted}));
    }
    clearDeviceMap();
    setMapPort(L"A", L"COM1234");
    refreshPortList();
    EXPECT_EQ(entries(portList), Texts({"COM1234"}));
}

TEST_F(PortDiscovery, GetPortListTextNeverOverflows)
{
    setEntries(portList, {"COM1", "COM1234", std::string(40, 'x')});
    struct Case {
        int index;
        int capacity;
        bool result;
        const char *text;
    } cases[] = {
        {0, 32, true, "COM1"},      {1, 8, true, "COM1234"}, {1, 7, true, ""},
        {2, 32, true, ""},          {2, 41, true, "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
        {3, 32, false, ""},         {-1, 32, false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "index " << c.index << ", capacity " << c.capacity);
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(getPortListText(portList, c.index, buffer, c.capacity), c.result);
        EXPECT_STREQ(buffer, c.text);
        for (int i = c.capacity; i < static_cast<int>(sizeof buffer); i++)
            ASSERT_EQ(buffer[i], '#') << "written past the capacity at " << i;
    }
}

TEST_F(PortDiscovery, ComparePortNumbersOrdersAscending)
{
    struct Case {
        int first, second;
        int sign;
    } cases[] = {{12, 3, 1},      {3, 12, -1},       {5, 5, 0},        {0, 0, 0},
                 {INT_MAX, -1, 1}, {INT_MIN, 1, -1}, {INT_MAX, INT_MIN, 1}, {INT_MIN, INT_MAX, -1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << " vs " << c.second);
        int result = comparePortNumbers(&c.first, &c.second);
        EXPECT_EQ((result > 0) - (result < 0), c.sign);
    }
    int twelve = 12, three = 3;
    EXPECT_EQ(comparePortNumbers(&twelve, &three), 9);
    EXPECT_EQ(comparePortNumbers(&three, &twelve), -9);
}

TEST_F(PortDiscovery, SelectPortByNameMatchesExactly)
{
    struct Case {
        const char *name;
        int selected;
        int index;
    } cases[] = {
        {"COM3", 1, 1}, {"COM10", 2, 2}, {"COM1", 0, 0},
        {"com3", 2, -7}, {"COM99", 2, -7}, {"COM", 2, -7}, {"COM3 ", 2, -7},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        setEntries(portList, {"COM1", "COM3", "COM10"});
        SendMessageA(portList, CB_SETCURSEL, 2, 0);
        int index = -7;
        selectPortByName(portList, c.name, &index);
        EXPECT_EQ(selection(portList), c.selected);
        EXPECT_EQ(index, c.index);
    }

    // The first of equal entries; an empty list changes nothing.
    setEntries(portList, {"COM2", "COM3", "COM3"});
    int index = -7;
    selectPortByName(portList, "COM3", &index);
    EXPECT_EQ(index, 1);
    setEntries(portList, {});
    index = -7;
    selectPortByName(portList, "COM3", &index);
    EXPECT_EQ(index, -7);
}

// ---- the device-map check

TEST_F(PortDiscovery, IsPortPresentFollowsTheDeviceMap)
{
    setDeviceMap({{L"A", "COM10"}, {L"B", "COM3"}});
    struct Case {
        const char *name;
        bool present;
    } cases[] = {{"COM3", true}, {"COM10", true}, {"com3", false}, {"COM1", false},
                 {"COM", false}, {"", false},     {"COM30", false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isPortPresent(c.name), c.present);
    }

    deleteMapValue(L"B");
    EXPECT_FALSE(isPortPresent("COM3"));
    EXPECT_TRUE(isPortPresent("COM10"));

    clearDeviceMap();
    EXPECT_FALSE(isPortPresent("COM10"));
    deleteDeviceMap();
    EXPECT_FALSE(isPortPresent("COM10"));
}

// ---- the Tarvik-USB reader

TEST_F(PortDiscovery, FindUsbReaderPort)
{
    const wchar_t unterminated[] = L"COM71234567890123456X";  // 20 characters count
    struct Case {
        const char *what;
        std::vector<UsbDevice> devices;
        bool found;
        const char *port;
    } cases[] = {
        {"no device", {}, false, "unchanged"},
        {"upper-case id", {reader(L"A", L"COM7")}, true, "COM7"},
        {"mixed-case id", {reader(L"A", L"COM7", "USB\\Vid_2e3c&Pid_5750&Rev_0200")}, true, "COM7"},
        {"port name in lower case", {reader(L"A", L"com7")}, true, "com7"},
        {"four-digit port", {reader(L"A", L"COM4096")}, true, "COM4096"},
        {"id that goes on after the revision", {reader(L"A", L"COM7", "USB\\VID_2E3C&PID_5750&REV_02001")},
         true, "COM7"},
        {"other revision", {reader(L"A", L"COM7", "USB\\VID_2E3C&PID_5750&REV_0300")}, false, "unchanged"},
        {"id all in lower case", {reader(L"A", L"COM7", "usb\\vid_2e3c&pid_5750&rev_0200")}, false,
         "unchanged"},
        {"id without the revision", {reader(L"A", L"COM7", "USB\\VID_2E3C&PID_5750")}, false, "unchanged"},
        {"port COM0", {reader(L"A", L"COM0")}, false, "unchanged"},
        {"port without a number", {reader(L"A", L"COMx")}, false, "unchanged"},
        {"port that is not COM", {reader(L"A", L"LPT7")}, false, "unchanged"},
        {"no PortName", {reader(L"A", nullptr)}, false, "unchanged"},
        {"PortName not REG_SZ",
         {{L"VID_2E3C&PID_5750", L"A", {ReaderId}, true, L"COM7", REG_EXPAND_SZ}}, false, "unchanged"},
        {"PortName longer than 19 characters", {reader(L"A", L"COM71234567890123456789")}, false, "unchanged"},
        {"last match wins", {reader(L"A", L"COM7"), reader(L"B", L"COM8")}, true, "COM8"},
        {"a skipped device does not stop the search",
         {{L"VID_0001&PID_0001", L"A", {}, false, nullptr, REG_SZ}, reader(L"A", L"COM7")}, true, "COM7"},
        {"other devices around the reader",
         {{L"VID_0001&PID_0001", L"A", {"USB\\VID_0001&PID_0001&REV_0100"}, true, L"COM3", REG_SZ},
          reader(L"A", L"COM7"),
          {L"VID_FFFF&PID_0001", L"A", {"USB\\VID_FFFF&PID_0001&REV_0100"}, true, L"COM9", REG_SZ}},
         true, "COM7"},
        {"device key missing after the reader",
         {reader(L"A", L"COM7"), {L"VID_FFFF&PID_0001", L"A", {"USB\\VID_FFFF&PID_0001"}, false, nullptr, REG_SZ}},
         true, "COM7"},
        {"device key missing before the reader",
         {{L"VID_0001&PID_0001", L"A", {"USB\\VID_0001&PID_0001"}, false, nullptr, REG_SZ}, reader(L"A", L"COM7")},
         true, "COM7"},
        {"reader's id on a device without a device key, before the reader",
         {{L"VID_2E3C&PID_5750", L"A", {ReaderId}, false, nullptr, REG_SZ}, reader(L"B", L"COM7")}, true, "COM7"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        removeTestDevices();
        for (const UsbDevice &device : c.devices)
            addUsbDevice(device);

        char port[PortNameCapacity] = "unchanged";
        EXPECT_EQ(findReader(port), c.found);
        EXPECT_STREQ(port, c.port);
    }

    // A PortName of 20 characters stored without a terminator is taken
    // whole, and nothing beyond it.
    removeTestDevices();
    UsbDevice device = reader(L"A", nullptr);
    addUsbDevice(device);
    HKEY key = createKey(devicePath(device) + L"\\Device Parameters");
    ASSERT_EQ(RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE *>(unterminated),
                             20 * sizeof(wchar_t)),
              ERROR_SUCCESS);
    RegCloseKey(key);
    char port[PortNameCapacity];
    std::memset(port, '#', sizeof port);
    EXPECT_TRUE(findReader(port));
    EXPECT_STREQ(port, "COM71234567890123456");
}

}  // namespace
