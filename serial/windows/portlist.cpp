// The console tool's port list on Windows: the serial-port device map, with
// the USB ids and serial number of each port that sits on a USB device
// (found through SetupAPI by the device's "PortName", as the window program
// finds the Tarvik-USB reader).
#include "serial/line.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const wchar_t DeviceMapPath[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Room for a hardware-id list and an instance id; longer ones are skipped.
constexpr DWORD HardwareIdBytes = 1024;
constexpr DWORD InstanceIdUnits = 512;
constexpr DWORD PortNameUnits = 64;

// Port names and registry strings are ASCII; anything else is kept as its
// low byte, as the window program narrows them.
std::string narrow(const wchar_t *wide, std::size_t units)
{
    std::string text;
    for (std::size_t i = 0; i < units && wide[i] != L'\0'; ++i)
        text += static_cast<char>(wide[i] & 0xFF);
    return text;
}

std::string upper(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The port names of the device map, in registry order. No map: no ports.
std::vector<std::string> deviceMapPorts()
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, DeviceMapPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    DWORD valueCount = 0, longestName = 0, largestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount, &longestName,
                         &largestData, nullptr, nullptr) == ERROR_SUCCESS) {
        std::wstring name(longestName + 1, L'\0');
        // One unit more than the data, so unterminated data still ends.
        std::wstring data(largestData / sizeof(wchar_t) + 2, L'\0');
        for (DWORD index = 0; index < valueCount; ++index) {
            DWORD nameLength = longestName + 1;
            DWORD dataBytes = largestData;
            DWORD type = REG_NONE;
            if (RegEnumValueW(key, index, &name[0], &nameLength, nullptr, &type, reinterpret_cast<BYTE *>(&data[0]),
                              &dataBytes) != ERROR_SUCCESS ||
                type != REG_SZ)
                continue;
            data[dataBytes / sizeof(wchar_t)] = L'\0';
            std::string port = narrow(data.c_str(), data.size());
            if (!port.empty())
                names.push_back(port);
        }
    }
    RegCloseKey(key);
    return names;
}

// The 4 hex digits after `tag` ("VID_") in an id, case ignored; -1 if none.
int hexAfter(const std::string &id, const char *tag)
{
    std::string upperId = upper(id);
    std::size_t at = upperId.find(tag);
    if (at == std::string::npos)
        return -1;
    std::string digits = upperId.substr(at + std::strlen(tag), 4);
    if (digits.size() != 4 || digits.find_first_not_of("0123456789ABCDEF") != std::string::npos)
        return -1;
    return static_cast<int>(std::strtol(digits.c_str(), nullptr, 16));
}

// The last part of an instance id "USB\VID_2E3C&PID_5750\A1B2C3" is the
// device's serial number when it has one; Windows makes up a part with '&'
// in it ("5&1f2e3d&0&2") for devices that have none.
std::string serialFromInstance(const std::string &instanceId)
{
    std::size_t slash = instanceId.rfind('\\');
    if (slash == std::string::npos)
        return std::string();
    std::string last = instanceId.substr(slash + 1);
    if (last.empty() || last.find('&') != std::string::npos)
        return std::string();
    return last;
}

struct UsbPort {
    int vendorId;
    int productId;
    std::string serialNumber;
};

// Present USB devices that have a COM port, by upper-case port name.
std::map<std::string, UsbPort> usbPorts()
{
    std::map<std::string, UsbPort> ports;
    HDEVINFO devices = SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (devices == INVALID_HANDLE_VALUE)
        return ports;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD member = 0; SetupDiEnumDeviceInfo(devices, member, &device); ++member) {
        wchar_t hardwareIds[HardwareIdBytes / sizeof(wchar_t) + 1] = {};
        if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_HARDWAREID, nullptr,
                                               reinterpret_cast<BYTE *>(hardwareIds), HardwareIdBytes, nullptr))
            continue;
        std::string firstId = narrow(hardwareIds, HardwareIdBytes / sizeof(wchar_t));
        int vendorId = hexAfter(firstId, "VID_");
        int productId = hexAfter(firstId, "PID_");
        if (vendorId < 0 || productId < 0)
            continue;

        // A device whose key cannot be opened has no port we can name;
        // unlike the window program's search, the others are still listed.
        HKEY deviceKey = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (deviceKey == INVALID_HANDLE_VALUE)
            continue;
        wchar_t portName[PortNameUnits + 1] = {};
        DWORD type = REG_NONE;
        DWORD bytes = PortNameUnits * sizeof(wchar_t);
        LONG result = RegQueryValueExW(deviceKey, L"PortName", nullptr, &type, reinterpret_cast<BYTE *>(portName),
                                       &bytes);
        RegCloseKey(deviceKey);
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        portName[bytes / sizeof(wchar_t) < PortNameUnits ? bytes / sizeof(wchar_t) : PortNameUnits] = L'\0';
        std::string port = narrow(portName, PortNameUnits);
        if (port.empty())
            continue;

        wchar_t instanceId[InstanceIdUnits] = {};
        std::string serialNumber;
        if (SetupDiGetDeviceInstanceIdW(devices, &device, instanceId, InstanceIdUnits, nullptr))
            serialNumber = serialFromInstance(narrow(instanceId, InstanceIdUnits));
        // With several devices on one name the last one enumerated wins, as
        // in the window program's lookup.
        ports[upper(port)] = UsbPort{vendorId, productId, serialNumber};
    }
    SetupDiDestroyDeviceInfoList(devices);
    return ports;
}

// COMn by number, then anything else by name.
bool portOrder(const PortInfo &a, const PortInfo &b)
{
    auto number = [](const std::string &name) -> long {
        if (name.size() < 4 || upper(name.substr(0, 3)) != "COM" ||
            name.find_first_not_of("0123456789", 3) != std::string::npos || name.size() > 12)
            return -1;
        return std::strtol(name.c_str() + 3, nullptr, 10);
    };
    long na = number(a.name), nb = number(b.name);
    if ((na < 0) != (nb < 0))
        return na >= 0;
    if (na != nb)
        return na < nb;
    return a.name < b.name;
}

}  // namespace

std::vector<PortInfo> listSerialPorts()
{
    std::vector<PortInfo> ports;
    std::map<std::string, UsbPort> usb = usbPorts();
    auto add = [&](const std::string &name) {
        for (const PortInfo &known : ports)
            if (upper(known.name) == upper(name))
                return;
        PortInfo info;
        info.name = name;
        auto found = usb.find(upper(name));
        if (found != usb.end()) {
            info.vendorId = found->second.vendorId;
            info.productId = found->second.productId;
            info.serialNumber = found->second.serialNumber;
        }
        ports.push_back(info);
    };
    for (const std::string &name : deviceMapPorts())
        add(name);
    // A USB port the device map does not (yet) list is still a port to try.
    for (const auto &entry : usb)
        add(entry.first);
    std::sort(ports.begin(), ports.end(), portOrder);
    return ports;
}
