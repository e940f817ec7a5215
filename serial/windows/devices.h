// The serial devices Windows knows of, for both programs: the serial-port
// device map and the USB devices that have a COM port, with the one rule for
// which of them is a Tarvik-USB reader. Nothing here shows anything to the
// user and nothing needs the C++ library beyond the C parts: the window
// program stays small.
#ifndef VELMORA_SERIAL_WINDOWS_DEVICES_H
#define VELMORA_SERIAL_WINDOWS_DEVICES_H

#include <windows.h>

// The serial-port device map, opened, with buffers for any of its values.
struct DeviceMap {
    HKEY key;
    DWORD valueCount;
    DWORD nameCapacity;  // characters, terminator included
    DWORD dataBytes;     // largest value data
    wchar_t *name;
    wchar_t *data;       // dataBytes + one terminator, at least
};

// False when the map is missing or cannot be read; nothing is then held.
bool openDeviceMap(DeviceMap *map);
void closeDeviceMap(DeviceMap *map);
// The port name of value `index` (0 to valueCount - 1), or nullptr when the
// value cannot be read or is not a string. Data without a terminator ends
// at its stored length. Valid until the next call.
const wchar_t *readDeviceMapPort(DeviceMap *map, DWORD index);

// The low byte of each UTF-16 unit, up to the terminator or `units` units;
// `narrow` must hold units + 1 characters. Port names and hardware ids are
// ASCII: nothing is converted.
void narrowText(const wchar_t *wide, size_t units, char *narrow);

// Room for a USB device's "PortName" and serial number with terminators;
// longer ones are skipped (port) or left out (serial number).
constexpr int UsbPortNameUnits = 64;
constexpr int UsbSerialNumberUnits = 128;
// Room for the narrowed first hardware id.
constexpr int HardwareIdUnits = 512;

// A present USB device with a string "PortName" in its device key.
struct UsbSerialDevice {
    char hardwareId[HardwareIdUnits + 1];  // the first id of the list, narrowed
    int vendorId;                          // from "VID_" in any case; -1 if none
    int productId;                         // from "PID_"; -1 if none
    bool tarvikReader;                     // isTarvikUsbHardwareId(hardwareId)
    char portName[UsbPortNameUnits + 1];   // narrowed, as stored ("COM7", "com7")
    DWORD portNameBytes;                   // the value's stored size, terminator included if stored
    char serialNumber[UsbSerialNumberUnits + 1];  // empty when Windows made one up
};

// Calls `visit` for each present USB device with a port, in enumeration
// order; a false return from `visit` stops. Devices without a readable
// hardware id, device key or "PortName" are passed over: one without a
// driver must not hide a reader enumerated after it. False when the device
// list could not be had at all.
bool forEachUsbSerialDevice(bool (*visit)(const UsbSerialDevice &device, void *context), void *context);

// The rule for the Tarvik-USB reader: the device's first hardware id begins
// with "USB\VID_2E3C&PID_5750&REV_0200" as Windows spells it, or with the
// mixed-case spelling "USB\Vid_2e3c&Pid_5750&Rev_0200" some drivers report.
// Another revision, or an id in any other case, is not the reader.
bool isTarvikUsbHardwareId(const char *firstId);

// The two spellings, built from the reader's USB ids; `upper` and `mixed`
// must hold TarvikHardwareIdCapacity characters.
constexpr int TarvikHardwareIdCapacity = 80;
void tarvikHardwareIds(char *upper, char *mixed);

#endif
