// The serial-port device map and the USB devices with a COM port, read the
// same way for the window program and the console tool.
#include "serial/windows/devices.h"

#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "protocol/usb_ids.h"

namespace {

const wchar_t DeviceMapPath[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM\\";

// Room for the longest hardware-id list we look at.
constexpr DWORD HardwareIdBytes = HardwareIdUnits * sizeof(wchar_t);

// Both spellings of the reader's id are this long; an id that goes on after
// them still matches.
constexpr size_t HardwareIdCompared = 30;

// The 4 hex digits after `tag` ("VID_") in an id, the tag and the digits in
// any case; -1 when there are none.
int hexAfter(const char *id, const char *tag)
{
    size_t tagLength = std::strlen(tag);
    for (const char *at = id; *at != '\0'; ++at) {
        if (_strnicmp(at, tag, tagLength) != 0)
            continue;
        int value = 0;
        for (size_t i = 0; i < 4; ++i) {
            char c = at[tagLength + i];
            int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
            if (digit < 0)
                return -1;
            value = value * 16 + digit;
        }
        return value;
    }
    return -1;
}

// The last part of an instance id "USB\VID_2E3C&PID_5750\A1B2C3" is the
// device's serial number when it has one; Windows makes up a part with '&'
// in it ("5&1f2e3d&0&2") for devices that have none.
void serialFromInstance(const char *instanceId, char *serial, size_t capacity)
{
    serial[0] = '\0';
    const char *slash = std::strrchr(instanceId, '\\');
    if (slash == nullptr || slash[1] == '\0' || std::strchr(slash + 1, '&') != nullptr)
        return;
    if (std::strlen(slash + 1) < capacity)
        std::strcpy(serial, slash + 1);
}

}  // namespace

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

const wchar_t *readDeviceMapPort(DeviceMap *map, DWORD index)
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

void narrowText(const wchar_t *wide, size_t units, char *narrow)
{
    size_t i = 0;
    for (; i < units && wide[i] != L'\0'; ++i)
        narrow[i] = static_cast<char>(wide[i] & 0xFF);
    narrow[i] = '\0';
}

void tarvikHardwareIds(char *upper, char *mixed)
{
    std::memset(upper, 0, TarvikHardwareIdCapacity);
    std::memset(mixed, 0, TarvikHardwareIdCapacity);
    std::snprintf(upper, TarvikHardwareIdCapacity, "USB\\VID_%04X&PID_%04X&REV_%04X", TarvikUsbVendorId,
                  TarvikUsbProductId, TarvikUsbRevision);
    std::snprintf(mixed, TarvikHardwareIdCapacity, "USB\\Vid_%04x&Pid_%04x&Rev_%04x", TarvikUsbVendorId,
                  TarvikUsbProductId, TarvikUsbRevision);
}

bool isTarvikUsbHardwareId(const char *firstId)
{
    char upper[TarvikHardwareIdCapacity];
    char mixed[TarvikHardwareIdCapacity];
    tarvikHardwareIds(upper, mixed);
    return std::strncmp(upper, firstId, HardwareIdCompared) == 0 ||
           std::strncmp(mixed, firstId, HardwareIdCompared) == 0;
}

bool forEachUsbSerialDevice(bool (*visit)(const UsbSerialDevice &device, void *context), void *context)
{
    HDEVINFO devices = SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE)
        return false;

    // One record for all devices: it is large, and the window program's
    // stack is no place to spend it on each turn.
    UsbSerialDevice *found = static_cast<UsbSerialDevice *>(std::calloc(1, sizeof(UsbSerialDevice)));
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD member = 0; found != nullptr && SetupDiEnumDeviceInfo(devices, member, &device); ++member) {
        // One unit more than the query may fill, so a list cut short still
        // ends inside the buffer.
        wchar_t hardwareIds[HardwareIdBytes / sizeof(wchar_t) + 1] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_HARDWAREID, nullptr,
                                               reinterpret_cast<BYTE *>(hardwareIds), HardwareIdBytes, nullptr))
            continue;

        HKEY deviceKey = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (deviceKey == INVALID_HANDLE_VALUE)
            continue;
        wchar_t port[UsbPortNameUnits + 1] = {};
        DWORD type = REG_NONE;
        DWORD portBytes = UsbPortNameUnits * sizeof(wchar_t);
        LONG result = RegQueryValueExW(deviceKey, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(port),
                                       &portBytes);
        RegCloseKey(deviceKey);
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        port[portBytes / sizeof(wchar_t)] = L'\0';

        narrowText(hardwareIds, HardwareIdUnits, found->hardwareId);
        found->vendorId = hexAfter(found->hardwareId, "VID_");
        found->productId = hexAfter(found->hardwareId, "PID_");
        found->tarvikReader = isTarvikUsbHardwareId(found->hardwareId);
        narrowText(port, UsbPortNameUnits, found->portName);
        found->portNameBytes = portBytes;

        wchar_t instanceId[HardwareIdUnits] = {};
        char narrowId[HardwareIdUnits + 1];
        found->serialNumber[0] = '\0';
        if (SetupDiGetDeviceInstanceIdW(devices, &device, instanceId, HardwareIdUnits, nullptr)) {
            narrowText(instanceId, HardwareIdUnits, narrowId);
            serialFromInstance(narrowId, found->serialNumber, sizeof found->serialNumber);
        }
        if (!visit(*found, context))
            break;
    }
    std::free(found);
    SetupDiDestroyDeviceInfoList(devices);
    return true;
}
