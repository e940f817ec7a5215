// The one serial connection to a reader.
#ifndef VELMORA_SERIAL_CHANNEL_H
#define VELMORA_SERIAL_CHANNEL_H

#include <cstdint>

namespace SerialChannel {

// Opens "\\.\" + portName exclusively at the given baud rate in the
// readers' frame, with the fixed time-outs. False leaves no handle and shows
// nothing.
bool open(const char *portName, std::uint32_t baudRate);

// Reads one byte per call until the line is silent or the buffer is full.
// False when nothing arrived (silently) or the read failed (error box);
// `received` is then left untouched.
bool read(unsigned char *buffer, int capacity, int *received);

// Writes all bytes; a short write is false without a box, a failed call
// shows the error box.
bool write(const unsigned char *bytes, int length);

// Drops whatever has arrived and not been read: a reply's tail, or bytes a
// reader sent unasked, would otherwise be taken for the next command's reply.
void discardInput();

// Closes the handle if one is held; a second close does nothing.
void close();

// Whether a handle is held (for tests and the device-change recovery).
bool isOpen();

}  // namespace SerialChannel

#endif
