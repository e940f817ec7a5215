// Registry contents for the serial tests: the serial-port device map and
// USB devices as SetupAPI finds them under Wine.
#ifndef VELMORA_TESTS_SERIAL_REGISTRY_H
#define VELMORA_TESTS_SERIAL_REGISTRY_H

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace serialtest {

inline const wchar_t DeviceMapPath[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
inline const wchar_t UsbEnumPath[] = L"System\\CurrentControlSet\\Enum\\USB";
inline const wchar_t PortsClass[] = L"{4d36e978-e325-11ce-bfc1-08002be10318}";
inline const char ReaderId[] = "USB\\VID_2E3C&PID_5750&REV_0200";

// Every enumerator the tests create devices under; removed before and after
// each test. Wine enumerates them in name order, as the registry keeps them.
inline const wchar_t *const TestEnumerators[] = {
    L"VID_0001&PID_0001",
    L"VID_2E3C&PID_5750",
    L"VID_FFFF&PID_0001",
};

inline std::wstring wide(const std::string &narrow)
{
    return std::wstring(narrow.begin(), narrow.end());
}

// ---- the serial-port device map

inline HKEY openDeviceMap()
{
    // HARDWARE is volatile, so the map can only come back as a volatile key.
    HKEY key = nullptr;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, DeviceMapPath, 0, nullptr, REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    EXPECT_EQ(result, ERROR_SUCCESS);
    return key;
}

inline void clearDeviceMap()
{
    HKEY key = openDeviceMap();
    for (;;) {
        wchar_t name[512];
        DWORD length = 512;
        if (RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (RegDeleteValueW(key, name) != ERROR_SUCCESS) {
            ADD_FAILURE() << "cannot clear the device map";
            break;
        }
    }
    RegCloseKey(key);
}

inline void deleteDeviceMap()
{
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, DeviceMapPath), ERROR_SUCCESS);
}

inline void setMapValue(const std::wstring &name, DWORD type, const void *data, DWORD size)
{
    HKEY key = openDeviceMap();
    EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE *>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
}

inline void setMapPort(const std::wstring &name, const std::wstring &port)
{
    setMapValue(name, REG_SZ, port.c_str(), static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t)));
}

inline void deleteMapValue(const std::wstring &name)
{
    HKEY key = openDeviceMap();
    EXPECT_EQ(RegDeleteValueW(key, name.c_str()), ERROR_SUCCESS);
    RegCloseKey(key);
}

struct MapPort {
    const wchar_t *valueName;
    const char *port;
};

// The map holds exactly these ports afterwards.
inline void setDeviceMap(const std::vector<MapPort> &ports)
{
    clearDeviceMap();
    for (const MapPort &port : ports)
        setMapPort(port.valueName, wide(port.port));
}

// ---- USB devices

struct UsbDevice {
    const wchar_t *enumerator;
    const wchar_t *instance;
    std::vector<std::string> hardwareIds;  // empty: no HardwareID value
    bool deviceParameters;                 // false: the device key cannot be opened
    const wchar_t *portName;               // nullptr: no PortName value
    DWORD portNameType;
};

// The Tarvik-USB reader, or a device that differs in its first id.
inline UsbDevice reader(const wchar_t *instance, const wchar_t *port, const char *id = ReaderId)
{
    return {L"VID_2E3C&PID_5750", instance, {id, "USB\\VID_2E3C&PID_5750"}, true, port, REG_SZ};
}

inline std::wstring devicePath(const UsbDevice &device)
{
    return std::wstring(UsbEnumPath) + L"\\" + device.enumerator + L"\\" + device.instance;
}

inline HKEY createKey(const std::wstring &path)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    return key;
}

inline void setString(HKEY key, const wchar_t *name, DWORD type, const wchar_t *text)
{
    EXPECT_EQ(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE *>(text),
                             static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

inline void addUsbDevice(const UsbDevice &device)
{
    HKEY key = createKey(devicePath(device));
    if (!device.hardwareIds.empty()) {
        std::wstring list;
        for (const std::string &id : device.hardwareIds)
            list += wide(id) + L'\0';
        list += L'\0';
        EXPECT_EQ(RegSetValueExW(key, L"HardwareID", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(list.data()),
                                 static_cast<DWORD>(list.size() * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    setString(key, L"ClassGUID", REG_SZ, PortsClass);
    RegCloseKey(key);
    if (device.deviceParameters) {
        HKEY parameters = createKey(devicePath(device) + L"\\Device Parameters");
        if (device.portName != nullptr)
            setString(parameters, L"PortName", device.portNameType, device.portName);
        RegCloseKey(parameters);
    }
}

inline void removeTestDevices()
{
    for (const wchar_t *enumerator : TestEnumerators) {
        std::wstring path = std::wstring(UsbEnumPath) + L"\\" + enumerator;
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    }
}

// ---- the combo box, read independently of the code under test

inline std::vector<std::string> entries(HWND list)
{
    std::vector<std::string> texts;
    int count = static_cast<int>(SendMessageA(list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; i++) {
        LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, i, 0);
        std::string text(static_cast<size_t>(length) + 1, '\0');
        SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(std::strlen(text.c_str()));
        texts.push_back(text);
    }
    return texts;
}

inline void setEntries(HWND list, const std::vector<std::string> &texts)
{
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (const std::string &text : texts)
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

inline int selection(HWND list)
{
    return static_cast<int>(SendMessageA(list, CB_GETCURSEL, 0, 0));
}

using Texts = std::vector<std::string>;

}  // namespace serialtest

#endif
