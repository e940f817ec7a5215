// The readers' line format in a Windows DCB, for the window program's
// channel and the console tool's line alike.
#ifndef VELMORA_SERIAL_WINDOWS_LINE_FORMAT_H
#define VELMORA_SERIAL_WINDOWS_LINE_FORMAT_H

#include <windows.h>

#include "protocol/line_format.h"

// Only speed and frame change: flow control and the rest of the DCB stay as
// the driver reports them.
inline void setReaderLineFormat(DCB &line, DWORD baudRate = ReaderBaudRate)
{
    static_assert(ReaderParity == 'N' && (ReaderStopBits == 1 || ReaderStopBits == 2), "a frame a DCB can hold");
    line.BaudRate = baudRate;
    line.ByteSize = static_cast<BYTE>(ReaderDataBits);
    line.Parity = NOPARITY;
    line.StopBits = ReaderStopBits == 1 ? ONESTOPBIT : TWOSTOPBITS;
}

#endif
