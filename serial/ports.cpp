// The port list from the serial-port device map, and the Tarvik-USB reader's
// port found by its USB hardware id. Nothing here tells the user anything:
// the callers decide.
#include "serial/ports.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "serial/portnumber.h"
#include "serial/windows/devices.h"
#include "ui/panel.h"

namespace {

// Port numbers in a block of their own: every port is kept, however many
// the system has.
struct PortNumbers {
    int *numbers;
    size_t count;
};

// Room for `capacity` numbers (at least one); false when memory ran out.
bool reserveNumbers(PortNumbers &list, size_t capacity)
{
    list.count = 0;
    list.numbers = static_cast<int *>(std::malloc((capacity > 0 ? capacity : 1) * sizeof(int)));
    return list.numbers != nullptr;
}

void releaseNumbers(PortNumbers &list)
{
    std::free(list.numbers);
    list.numbers = nullptr;
    list.count = 0;
}

void sortNumbers(PortNumbers &list)
{
    if (list.count > 1)
        std::qsort(list.numbers, list.count, sizeof list.numbers[0], comparePortNumbers);
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
void showPortNumbers(HWND list, const PortNumbers &numbers)
{
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (size_t i = 0; i < numbers.count; ++i) {
        char text[PortNameCapacity];
        formatPortName(numbers.numbers[i], text);
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
// numbers, when the map is missing, holds no value at all or memory ran out.
// The caller releases the numbers.
bool readSortedPortNumbers(PortNumbers &numbers)
{
    numbers.numbers = nullptr;
    numbers.count = 0;
    DeviceMap map;
    if (!openDeviceMap(&map))
        return false;
    if (!reserveNumbers(numbers, map.valueCount)) {
        closeDeviceMap(&map);
        return false;
    }
    for (DWORD index = 0; index < map.valueCount; ++index) {
        const wchar_t *portName = readDeviceMapPort(&map, index);
        if (portName == nullptr)
            continue;
        char text[PortNameCapacity];
        if (WideCharToMultiByte(CP_ACP, 0, portName, -1, text, PortNameCapacity, nullptr, nullptr) == 0)
            text[0] = '\0';
        numbers.numbers[numbers.count++] = parsePortNumber(text);
    }
    DWORD valueCount = map.valueCount;
    closeDeviceMap(&map);
    sortNumbers(numbers);
    return valueCount > 0;
}

// Whether the list holds exactly the names of these port numbers, in order.
bool listShowsPortNumbers(HWND list, const PortNumbers &numbers)
{
    if (SendMessageW(list, CB_GETCOUNT, 0, 0) != static_cast<LRESULT>(numbers.count))
        return false;
    for (size_t i = 0; i < numbers.count; ++i) {
        char shown[PortNameCapacity];
        char expected[PortNameCapacity];
        formatPortName(numbers.numbers[i], expected);
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
        const wchar_t *portName = readDeviceMapPort(&map, index);
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
    // would drop ports at random. Short of memory the list stays as it is.
    PortNumbers numbers;
    if (reserveNumbers(numbers, static_cast<size_t>(count))) {
        for (int index = 0; index < count; ++index) {
            char text[PortNameCapacity];
            getPortListText(list, index, text, PortNameCapacity);
            numbers.numbers[numbers.count++] = parsePortNumber(text);
        }
        sortNumbers(numbers);
        showPortNumbers(list, numbers);
        releaseNumbers(numbers);
    }
    selectFirstEntry(list);
}

void refreshPortList()
{
    EnableWindow(portList, TRUE);
    PortNumbers numbers;
    if (readSortedPortNumbers(numbers)) {
        // A search refreshes the list after every port that did not answer,
        // and the ports have mostly stayed the same: the list is rebuilt
        // only when they have not.
        if (!listShowsPortNumbers(portList, numbers))
            showPortNumbers(portList, numbers);
        releaseNumbers(numbers);
        selectFirstEntry(portList);
        return;
    }
    releaseNumbers(numbers);
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
            const wchar_t *portName = readDeviceMapPort(&map, index);
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

namespace {

// The reader's "PortName" is taken when its stored value fits this many
// bytes (19 characters and a terminator, or 20 without); a longer one is
// passed over, as it always was.
constexpr DWORD ReaderPortNameBytes = 40;
static_assert(ReaderPortNameBytes / sizeof(wchar_t) < PortNameCapacity,
              "a reader's port name fits a port name buffer");

// The last Tarvik-USB reader enumerated whose port is COM and a number.
bool takeReaderPort(const UsbSerialDevice &device, void *context)
{
    const char *port = device.portName;
    if (device.tarvikReader && _strnicmp(port, "COM", 3) == 0 && std::atoi(port + 3) != 0 &&
        device.portNameBytes <= ReaderPortNameBytes)
        std::strcpy(static_cast<char *>(context), port);
    return true;
}

}  // namespace

bool findTarvikUsbPort(char *portName)
{
    char found[PortNameCapacity] = "";
    forEachUsbSerialDevice(takeReaderPort, found);
    if (found[0] == '\0')
        return false;
    std::strcpy(portName, found);
    return true;
}
