// The port list from the serial-port device map, and the Tarvik-USB reader's
// port found by its USB hardware id. Nothing here tells the user anything:
// the callers decide.
#include "serial/ports.h"

#include <setupapi.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "protocol/usb_ids.h"
#include "serial/portnumber.h"
#include "ui/panel.h"

namespace {

const wchar_t DeviceMapPath[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM\\";

// Room for the longest USB hardware-id list we look at, and for a
// "PortName" of up to 19 characters and its terminator.
constexpr DWORD HardwareIdBytes = 1024;
constexpr DWORD HardwareIdUnits = HardwareIdBytes / sizeof(wchar_t);
constexpr DWORD PortNameBytes = 40;
constexpr DWORD PortNameUnits = PortNameBytes / sizeof(wchar_t);

// Both reader ids are this long; a device id that goes on after them
// still matches.
constexpr size_t HardwareIdCompared = 30;
constexpr size_t HardwareIdCapacity = 80;

// The serial-port device map, opened, with buffers for any of its values.
struct DeviceMap {
    HKEY key;
    DWORD valueCount;
    DWORD nameCapacity;  // characters, terminator included
    DWORD dataBytes;     // largest value data
    wchar_t *name;
    wchar_t *data;       // dataBytes + one terminator, at least
};

bool openDeviceMap(DeviceMap *map)
{
    map->key = nullptr;
    map->name = nullptr;
    map->data = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, DeviceMapPath, 0, KEY_READ, &map->key) != ERROR_SUCCESS)
        return false;

    DWORD valueCount = 0, longestName = 0, largestData = 0;
    if (RegQueryInfoKeyW(map->key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount,
                         &longestName, &largestData, nullptr, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(map->key);
        return false;
    }
    map->valueCount = valueCount;
    map->nameCapacity = longestName + 1;
    map->dataBytes = largestData;
    map->name = static_cast<wchar_t *>(std::calloc(map->nameCapacity, sizeof(wchar_t)));
    map->data = static_cast<wchar_t *>(std::calloc(1, 2 * static_cast<size_t>(largestData) + 2));
    if (map->name == nullptr || map->data == nullptr) {
        std::free(map->data);
        std::free(map->name);
        RegCloseKey(map->key);
        return false;
    }
    return true;
}

void closeDeviceMap(DeviceMap *map)
{
    std::free(map->data);
    std::free(map->name);
    RegCloseKey(map->key);
}

// The port name of value `index`, or nullptr when the value cannot be read or
// is not a string. Data without a terminator ends at its stored length.
const wchar_t *readPortValue(DeviceMap *map, DWORD index)
{
    DWORD nameLength = map->nameCapacity;
    DWORD type = REG_NONE;
    DWORD dataLength = map->dataBytes;
    LONG result = RegEnumValueW(map->key, index, map->name, &nameLength, nullptr, &type,
                                reinterpret_cast<BYTE *>(map->data), &dataLength);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return nullptr;
    map->data[dataLength / sizeof(wchar_t)] = L'\0';
    return map->data;
}

// The low byte of each UTF-16 unit, up to the terminator or `units` units;
// `narrow` must hold units + 1 characters.
void narrowText(const wchar_t *wide, size_t units, char *narrow)
{
    size_t i = 0;
    for (; i < units && wide[i] != L'\0'; ++i)
        narrow[i] = static_cast<char>(wide[i] & 0xFF);
    narrow[i] = '\0';
}

// "USB\" prefix "VID_" vendor prefix "PID_" ... as the reader ids are spelt.
void buildHardwareId(char *id, const char *vid, const char *pid, const char *rev,
                     const char *vendor, const char *product, const char *revision)
{
    std::memset(id, 0, HardwareIdCapacity);
    std::snprintf(id, HardwareIdCapacity, "USB\\%s%s&%s%s&%s%s", vid, vendor, pid, product, rev, revision);
}

void selectFirstEntry(HWND list)
{
    SendMessageW(list, CB_SETCURSEL, 0, 0);
}

// The name the sorted list shows for a port number.
void formatPortName(int number, char (&text)[PortNameCapacity])
{
    std::snprintf(text, sizeof text, "COM%d", number);
}

// Empties the list and adds the names of the port numbers in order.
void showPortNumbers(HWND list, const std::vector<int> &numbers)
{
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (size_t i = 0; i < numbers.size(); ++i) {
        char text[PortNameCapacity];
        formatPortName(numbers[i], text);
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
}

}  // namespace

bool getPortListText(HWND list, int index, char *buffer, int capacity)
{
    if (buffer == nullptr || capacity < 1)
        return false;
    buffer[0] = '\0';
    LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR)
        return false;
    // An entry too long for the buffer reads as empty rather than overflow it.
    if (length < 0 || length >= capacity)
        return true;
    if (SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer)) == CB_ERR) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

namespace {

// What fillPortList followed by sortPortList leaves in a list, read from the
// device map alone: the string values, each as the list gives it back (a name
// too long for a port name reads as empty), in numeric order. False, with no
// numbers, when the map is missing or holds no value at all.
bool readSortedPortNumbers(std::vector<int> &numbers)
{
    numbers.clear();
    DeviceMap map;
    if (!openDeviceMap(&map))
        return false;
    for (DWORD index = 0; index < map.valueCount; ++index) {
        const wchar_t *portName = readPortValue(&map, index);
        if (portName == nullptr)
            continue;
        char text[PortNameCapacity];
        if (WideCharToMultiByte(CP_ACP, 0, portName, -1, text, PortNameCapacity, nullptr, nullptr) == 0)
            text[0] = '\0';
        numbers.push_back(parsePortNumber(text));
    }
    DWORD valueCount = map.valueCount;
    closeDeviceMap(&map);
    if (!numbers.empty())
        std::qsort(numbers.data(), numbers.size(), sizeof numbers[0], comparePortNumbers);
    return valueCount > 0;
}

// Whether the list holds exactly the names of these port numbers, in order.
bool listShowsPortNumbers(HWND list, const std::vector<int> &numbers)
{
    if (SendMessageW(list, CB_GETCOUNT, 0, 0) != static_cast<LRESULT>(numbers.size()))
        return false;
    for (size_t i = 0; i < numbers.size(); ++i) {
        char shown[PortNameCapacity];
        char expected[PortNameCapacity];
        formatPortName(numbers[i], expected);
        if (!getPortListText(list, static_cast<int>(i), shown, PortNameCapacity) ||
            std::strcmp(shown, expected) != 0)
            return false;
    }
    return true;
}

}  // namespace

bool fillPortList(HWND list)
{
    DeviceMap map;
    if (!openDeviceMap(&map))
        return false;

    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (DWORD index = 0; index < map.valueCount; ++index) {
        const wchar_t *portName = readPortValue(&map, index);
        if (portName != nullptr)
            SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(portName));
    }
    DWORD valueCount = map.valueCount;
    closeDeviceMap(&map);

    if (valueCount == 0)
        return false;
    selectFirstEntry(list);
    return true;
}

int comparePortNumbers(const void *first, const void *second)
{
    // The difference, held to the range of int so that far-apart numbers
    // keep the sign of their order.
    long long difference = static_cast<long long>(*static_cast<const int *>(first)) -
                           *static_cast<const int *>(second);
    if (difference > INT_MAX)
        return INT_MAX;
    if (difference < INT_MIN)
        return INT_MIN;
    return static_cast<int>(difference);
}

void sortPortList(HWND list)
{
    int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    if (count <= 0) {
        SendMessageW(list, CB_RESETCONTENT, 0, 0);
        selectFirstEntry(list);
        return;
    }

    // Every entry is kept: the device map's order is arbitrary, so any cut
    // would drop ports at random.
    std::vector<int> numbers;
    numbers.reserve(static_cast<size_t>(count));
    for (int index = 0; index < count; ++index) {
        char text[PortNameCapacity];
        getPortListText(list, index, text, PortNameCapacity);
        numbers.push_back(parsePortNumber(text));
    }
    std::qsort(numbers.data(), numbers.size(), sizeof numbers[0], comparePortNumbers);
    showPortNumbers(list, numbers);
    selectFirstEntry(list);
}

void refreshPortList()
{
    EnableWindow(portList, TRUE);
    std::vector<int> numbers;
    if (readSortedPortNumbers(numbers)) {
        // A search refreshes the list after every port that did not answer,
        // and the ports have mostly stayed the same: the list is rebuilt
        // only when they have not.
        if (!listShowsPortNumbers(portList, numbers))
            showPortNumbers(portList, numbers);
        selectFirstEntry(portList);
        return;
    }
    // The one empty entry stands for "no ports".
    SendMessageW(portList, CB_RESETCONTENT, 0, 0);
    SendMessageA(portList, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(""));
    selectFirstEntry(portList);
}

void selectPortByName(HWND list, const char *name, int *index)
{
    if (name == nullptr)
        return;
    int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    for (int position = 0; position < count; ++position) {
        char text[PortNameCapacity];
        if (!getPortListText(list, position, text, PortNameCapacity))
            continue;
        if (std::strcmp(text, name) == 0) {
            SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
            if (index != nullptr)
                *index = position;
            return;
        }
    }
}

bool isPortPresent(const char *name)
{
    if (name == nullptr)
        return false;
    DeviceMap map;
    if (!openDeviceMap(&map))
        return false;

    // Any string of the map fits: at most one character per data byte.
    char *narrow = static_cast<char *>(std::malloc(static_cast<size_t>(map.dataBytes) + 1));
    bool present = false;
    if (narrow != nullptr) {
        for (DWORD index = 0; index < map.valueCount && !present; ++index) {
            const wchar_t *portName = readPortValue(&map, index);
            if (portName == nullptr)
                continue;
            narrowText(portName, map.dataBytes / sizeof(wchar_t), narrow);
            present = std::strcmp(narrow, name) == 0;
        }
        std::free(narrow);
    }
    closeDeviceMap(&map);
    return present;
}

bool findUsbReaderPort(char *portName,
                       const char *vendorUpper, const char *productUpper, const char *revisionUpper,
                       const char *vendorMixed, const char *productMixed, const char *revisionMixed)
{
    char upperId[HardwareIdCapacity];
    char mixedId[HardwareIdCapacity];
    buildHardwareId(upperId, "VID_", "PID_", "REV_", vendorUpper, productUpper, revisionUpper);
    buildHardwareId(mixedId, "Vid_", "Pid_", "Rev_", vendorMixed, productMixed, revisionMixed);

    HDEVINFO devices = SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE)
        return false;

    bool found = false;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD member = 0; SetupDiEnumDeviceInfo(devices, member, &device); ++member) {
        wchar_t hardwareIds[HardwareIdUnits] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_HARDWAREID, nullptr,
                                               reinterpret_cast<BYTE *>(hardwareIds), HardwareIdBytes,
                                               nullptr))
            continue;

        // Only the reader's own device is looked at further: any other may
        // have no device key at all (one without a driver is common), and
        // must not hide a reader enumerated after it.
        char firstId[HardwareIdUnits + 1];
        narrowText(hardwareIds, HardwareIdUnits, firstId);
        if (std::strncmp(upperId, firstId, HardwareIdCompared) != 0 &&
            std::strncmp(mixedId, firstId, HardwareIdCompared) != 0)
            continue;

        HKEY deviceKey = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (deviceKey == INVALID_HANDLE_VALUE)
            continue;

        // One unit more than the query may fill, so an unterminated value
        // still ends inside the buffer.
        wchar_t port[PortNameUnits + 1] = {};
        DWORD type = REG_NONE;
        DWORD portBytes = PortNameBytes;
        LONG result = RegQueryValueExW(deviceKey, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(port),
                                       &portBytes);
        if (result == ERROR_SUCCESS)
            port[portBytes / sizeof(wchar_t)] = L'\0';
        if (result != ERROR_SUCCESS || type != REG_SZ || _wcsnicmp(port, L"COM", 3) != 0 ||
            _wtoi(port + 3) == 0) {
            RegCloseKey(deviceKey);
            continue;
        }

        // The last matching device wins, so the loop goes on.
        static_assert(PortNameUnits < PortNameCapacity, "a PortName value fits a port name buffer");
        narrowText(port, PortNameUnits, portName);
        found = true;
        RegCloseKey(deviceKey);
    }

    SetupDiDestroyDeviceInfoList(devices);
    return found;
}

bool findTarvikUsbPort(char *portName)
{
    return findUsbReaderPort(portName, TarvikUsbVendorUpper, TarvikUsbProductUpper, TarvikUsbRevisionUpper,
                             TarvikUsbVendorMixed, TarvikUsbProductMixed, TarvikUsbRevisionMixed);
}
