// The console tool's serial line on Windows: a COM port opened the way the
// window program opens it (\\.\COMn, exclusive, the readers' format), with read
// time-outs that return as soon as anything has arrived.
#include "serial/line.h"

#include <windows.h>

#include "serial/windows/line_format.h"

#include <cctype>
#include <string>

namespace {


// A write may take 10 ms per byte (about twice the line's 5.2 ms) plus half
// a second before it counts as stuck.
constexpr DWORD WritePerByteMs = 10;
constexpr DWORD WriteConstantMs = 500;

// A read that has bytes returns once the line pauses this long: two byte
// times at the readers' speed, well below any pause the reader makes.
constexpr DWORD ReadGapMs = 2;

// "\\.\" lets CreateFile reach every COM port; without it COM10 and above
// would be taken for file names.
const char DevicePrefix[] = "\\\\.\\";

// The name as the user gave it, without a "\\.\" they may have typed.
std::string bareName(const std::string &port)
{
    if (port.compare(0, 4, DevicePrefix) == 0)
        return port.substr(4);
    return port;
}

std::string withError(const std::string &text, DWORD error)
{
    return text + " (Windows error " + std::to_string(error) + ")";
}

// What a failed ReadFile/WriteFile means for the user: the adapter was
// pulled out, or something else went wrong.
LineError ioErrorKind(DWORD error)
{
    switch (error) {
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
        return LineError::HangUp;
    default:
        return LineError::Io;
    }
}

void fail(LineStatus &status, LineError error, const std::string &message)
{
    status.error = error;
    status.message = message;
}

class WindowsLine : public SerialLine {
public:
    WindowsLine(HANDLE handle, std::string name) : handle_(handle), name_(std::move(name)) {}
    ~WindowsLine() override { CloseHandle(handle_); }

    bool write(const unsigned char *bytes, std::size_t count, LineStatus &status) override
    {
        std::size_t sent = 0;
        while (sent < count) {
            DWORD written = 0;
            DWORD chunk = static_cast<DWORD>(count - sent > 4096 ? 4096 : count - sent);
            if (!WriteFile(handle_, bytes + sent, chunk, &written, nullptr)) {
                DWORD error = GetLastError();
                LineError kind = ioErrorKind(error);
                fail(status, kind,
                     withError(name_ + (kind == LineError::HangUp ? ": the port went away while writing"
                                                                  : ": writing failed"),
                               error));
                return false;
            }
            if (written == 0) {
                // The write time-out ran out: the line does not take bytes.
                fail(status, LineError::Io, name_ + ": writing timed out (the port takes no data)");
                return false;
            }
            sent += written;
        }
        return true;
    }

    long read(unsigned char *buffer, std::size_t capacity, int timeoutMs, LineStatus &status) override
    {
        if (capacity == 0)
            return 0;
        if (!setReadTimeout(timeoutMs, status))
            return -1;
        DWORD got = 0;
        DWORD wanted = static_cast<DWORD>(capacity > 0x10000 ? 0x10000 : capacity);
        if (!ReadFile(handle_, buffer, wanted, &got, nullptr)) {
            DWORD error = GetLastError();
            LineError kind = ioErrorKind(error);
            fail(status, kind,
                 withError(name_ + (kind == LineError::HangUp ? ": the port went away while reading"
                                                              : ": reading failed"),
                           error));
            return -1;
        }
        return static_cast<long>(got);
    }

    void discardInput() override
    {
        // What the driver holds, and what is in our own process: nothing is
        // buffered here, so the driver's queue is all there is.
        PurgeComm(handle_, PURGE_RXCLEAR | PURGE_RXABORT);
    }

    // Each read gets its own regime; changed only when the time-out does.
    bool setReadTimeout(int timeoutMs, LineStatus &status)
    {
        DWORD wait = timeoutMs <= 0 ? 0 : static_cast<DWORD>(timeoutMs);
        if (configured_ && wait == readTimeout_)
            return true;
        COMMTIMEOUTS timeouts = {};
        if (wait == 0) {
            // Return at once with whatever has arrived.
            timeouts.ReadIntervalTimeout = MAXDWORD;
        } else {
            // Wait at most `wait` ms in all; once bytes come, return at the
            // first gap of ReadGapMs, so a reply is handed over while it is
            // still fresh and the caller decides whether it is complete.
            timeouts.ReadIntervalTimeout = ReadGapMs;
            timeouts.ReadTotalTimeoutConstant = wait;
        }
        timeouts.WriteTotalTimeoutMultiplier = WritePerByteMs;
        timeouts.WriteTotalTimeoutConstant = WriteConstantMs;
        if (!SetCommTimeouts(handle_, &timeouts)) {
            DWORD error = GetLastError();
            fail(status, ioErrorKind(error), withError(name_ + ": cannot set the read time-out", error));
            configured_ = false;
            return false;
        }
        configured_ = true;
        readTimeout_ = wait;
        return true;
    }

private:
    HANDLE handle_;
    std::string name_;
    bool configured_ = false;
    DWORD readTimeout_ = 0;
};

}  // namespace

std::unique_ptr<SerialLine> openSerialLine(const std::string &port, LineStatus &status)
{
    status = LineStatus{};
    std::string name = bareName(port);
    if (name.empty() || name.find_first_of("\\/:") != std::string::npos) {
        fail(status, LineError::NoSuchPort, "\"" + port + "\": not a port name (COM1, COM2, ...)");
        return nullptr;
    }
    std::string path = DevicePrefix + name;
    // Share mode 0: nobody else may talk to the reader while we do.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_NAME:
            fail(status, LineError::NoSuchPort, withError(name + ": no such serial port", error));
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            // Windows answers "access denied" for a COM port another
            // program has open.
            fail(status, LineError::Busy, withError(name + ": in use by another program", error));
            break;
        default:
            fail(status, LineError::Io, withError(name + ": cannot open", error));
            break;
        }
        return nullptr;
    }

    auto line = std::make_unique<WindowsLine>(handle, name);
    // Only the line format changes: flow control and the rest stay as the
    // driver reports them, as the window program leaves them.
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        DWORD error = GetLastError();
        fail(status, LineError::NotASerialPort, withError(name + ": not a serial port", error));
        return nullptr;
    }
    setReaderLineFormat(dcb);
    if (!SetCommState(handle, &dcb)) {
        DWORD error = GetLastError();
        char format[LineFormatTextCapacity];
        formatLineFormat(format);
        fail(status, LineError::NotASerialPort, withError(name + ": cannot set " + format, error));
        return nullptr;
    }
    if (!line->setReadTimeout(0, status))
        return nullptr;
    return line;
}
