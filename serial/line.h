// A serial line to one reader for the console tool: the readers' speed and
// frame (protocol/line_format.h), raw bytes, opened for this process alone.
// Portable interface; serial/unix/ and serial/windows/ implement it, each in
// line.cpp (the line) and portlist.cpp (the ports the system has).
#ifndef VELMORA_SERIAL_LINE_H
#define VELMORA_SERIAL_LINE_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

enum class LineError {
    None,
    NoSuchPort,        // the name names nothing
    NotASerialPort,    // it exists but is not a tty / COM port
    PermissionDenied,  // message says how to get access (the dialout group)
    Busy,              // another program holds it
    HangUp,            // the device went away under the open line
    OutOfResources,    // this process may open no more files: nothing is known of the port
    Io,                // any other failure of the system call
};

struct LineStatus {
    LineError error = LineError::None;
    std::string message;  // for people: names the port and the cause
};

class SerialLine {
public:
    virtual ~SerialLine() = default;
    // Sends every byte; false (and `status` set) when the line failed.
    virtual bool write(const unsigned char *bytes, std::size_t count, LineStatus &status) = 0;
    // Waits at most `timeoutMs` for input and returns what has arrived, up to
    // `capacity` bytes: 0 when nothing came in time, -1 (and `status` set)
    // when the line failed.
    virtual long read(unsigned char *buffer, std::size_t capacity, int timeoutMs, LineStatus &status) = 0;
    // Drops whatever arrived before now and was not read.
    virtual void discardInput() = 0;
};

// Opens a port by the name a user types: "/dev/ttyUSB0" or "ttyUSB0" on
// Linux, "COM3" on Windows. Null (and `status` set) on failure.
std::unique_ptr<SerialLine> openSerialLine(const std::string &port, LineStatus &status);

struct PortInfo {
    std::string name;          // what openSerialLine takes: /dev/ttyUSB0, COM3
    int vendorId = -1;         // USB ids, -1 when the port is not on USB
    int productId = -1;
    std::string serialNumber;  // the USB serial number, empty when unknown
    bool tarvikUsb = false;    // the port is a Tarvik-USB reader's
};

// The serial ports the system has, sorted by name (numerically for COMn).
std::vector<PortInfo> listSerialPorts();

#endif
