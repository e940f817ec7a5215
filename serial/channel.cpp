// The one serial connection to a reader: synchronous, one byte per read call.
#include "serial/channel.h"

#include <windows.h>

#include <cstdio>

#include "app/app.h"
#include "prefs/texts.h"
#include "serial/ports.h"
#include "serial/windows/line_format.h"

namespace SerialChannel {

namespace {

// The open port, or INVALID_HANDLE_VALUE. Written by open and close only.
HANDLE port = INVALID_HANDLE_VALUE;

// Every read asks for one byte, so a read call gives up after
// 10 + 50 = 60 ms of silence: that silence is what ends a reply.
constexpr DWORD ReadIntervalMs = 50;
constexpr DWORD ReadPerByteMs = 10;
constexpr DWORD ReadConstantMs = 50;
// A command of n bytes may take 10 ms per byte plus 50 ms before it counts
// as stuck (a short write).
constexpr DWORD WritePerByteMs = 10;
constexpr DWORD WriteConstantMs = 50;

// "\\.\" lets CreateFile reach every COM port; without it COM10 and above
// would be taken for file names.
constexpr char DevicePrefix[] = "\\\\.\\";

constexpr size_t ErrorTextCapacity = 256;

void showIoError(DWORD error, TextId when)
{
    wchar_t text[ErrorTextCapacity];
    formatText(text, ErrorTextCapacity, L"%ls [%d] %ls", TextTable[TxtError],
               static_cast<int>(error), TextTable[when]);
    MessageBoxW(mainWindow, text, TextTable[TxtMessageCaption], MB_OK | MB_ICONERROR);
}

bool configure(HANDLE handle, std::uint32_t baudRate)
{
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = ReadIntervalMs;
    timeouts.ReadTotalTimeoutMultiplier = ReadPerByteMs;
    timeouts.ReadTotalTimeoutConstant = ReadConstantMs;
    timeouts.WriteTotalTimeoutMultiplier = WritePerByteMs;
    timeouts.WriteTotalTimeoutConstant = WriteConstantMs;
    if (!SetCommTimeouts(handle, &timeouts))
        return false;

    DCB line = {};
    line.DCBlength = sizeof line;
    if (!GetCommState(handle, &line))
        return false;
    setReaderLineFormat(line, baudRate);
    return SetCommState(handle, &line) != FALSE;
}

}  // namespace

bool open(const char *portName, std::uint32_t baudRate)
{
    // Nobody opens over an open port; should it happen, the old handle is
    // not leaked.
    close();
    if (portName == nullptr)
        return false;

    char path[sizeof DevicePrefix + PortNameCapacity];
    int length = std::snprintf(path, sizeof path, "%s%s", DevicePrefix, portName);
    // A name cut short would name another port.
    if (length < 0 || static_cast<size_t>(length) >= sizeof path)
        return false;

    HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    if (!configure(handle, baudRate)) {
        CloseHandle(handle);
        return false;
    }
    port = handle;
    return true;
}

bool read(unsigned char *buffer, int capacity, int *received)
{
    if (port == INVALID_HANDLE_VALUE) {
        // As the system answers a read on a handle that is not there.
        showIoError(ERROR_INVALID_HANDLE, TxtWhenReading);
        return false;
    }
    if (buffer == nullptr || capacity < 1 || received == nullptr)
        return false;

    int stored = 0;
    for (;;) {
        unsigned char byte = 0;
        DWORD got = 0;
        if (!ReadFile(port, &byte, 1, &got, nullptr)) {
            DWORD error = GetLastError();
            showIoError(error, TxtWhenReading);
            return false;
        }
        if (got == 0) {
            // A silent line: the reply, if any, is complete.
            if (stored == 0)
                return false;
            *received = stored;
            return true;
        }
        buffer[stored++] = byte;
        if (stored == capacity) {
            // Anything further stays queued for the next read.
            *received = stored;
            return true;
        }
    }
}

bool write(const unsigned char *bytes, int length)
{
    if (port == INVALID_HANDLE_VALUE) {
        showIoError(ERROR_INVALID_HANDLE, TxtWhenWriting);
        return false;
    }
    if (bytes == nullptr || length < 0)
        return false;

    DWORD written = 0;
    if (!WriteFile(port, bytes, static_cast<DWORD>(length), &written, nullptr)) {
        DWORD error = GetLastError();
        showIoError(error, TxtWhenWriting);
        return false;
    }
    return written == static_cast<DWORD>(length);
}

void discardInput()
{
    if (port != INVALID_HANDLE_VALUE)
        PurgeComm(port, PURGE_RXCLEAR);
}

void close()
{
    if (port == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(port);
    port = INVALID_HANDLE_VALUE;
}

bool isOpen()
{
    return port != INVALID_HANDLE_VALUE;
}

}  // namespace SerialChannel
