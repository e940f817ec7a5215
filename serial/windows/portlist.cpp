// The console tool's port list on Windows: the serial-port device map, with
// the USB ids and serial number of each port that sits on a USB device, as
// the window program sees them.
#include "serial/line.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "serial/windows/devices.h"

namespace {

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
    DeviceMap map;
    if (!openDeviceMap(&map))
        return names;
    std::string port(map.dataBytes / sizeof(wchar_t) + 1, '\0');
    for (DWORD index = 0; index < map.valueCount; ++index) {
        const wchar_t *data = readDeviceMapPort(&map, index);
        if (data == nullptr)
            continue;
        narrowText(data, map.dataBytes / sizeof(wchar_t), &port[0]);
        if (port[0] != '\0')
            names.push_back(port.c_str());
    }
    closeDeviceMap(&map);
    return names;
}

// Present USB devices that have a COM port, by upper-case port name. With
// several devices on one name the last one enumerated wins, as in the
// window program's lookup.
bool addUsbPort(const UsbSerialDevice &device, void *context)
{
    auto &ports = *static_cast<std::map<std::string, PortInfo> *>(context);
    if (device.portName[0] == '\0' || device.vendorId < 0 || device.productId < 0)
        return true;
    PortInfo info;
    info.name = device.portName;
    info.vendorId = device.vendorId;
    info.productId = device.productId;
    info.serialNumber = device.serialNumber;
    info.tarvikUsb = device.tarvikReader;
    ports[upper(info.name)] = info;
    return true;
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
    std::map<std::string, PortInfo> usb;
    forEachUsbSerialDevice(addUsbPort, &usb);
    auto add = [&](const std::string &name) {
        for (const PortInfo &known : ports)
            if (upper(known.name) == upper(name))
                return;
        auto found = usb.find(upper(name));
        PortInfo info = found != usb.end() ? found->second : PortInfo();
        info.name = name;
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
