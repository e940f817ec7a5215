// How the readers talk: one speed and one frame for every program.
#ifndef VELMORA_PROTOCOL_LINE_FORMAT_H
#define VELMORA_PROTOCOL_LINE_FORMAT_H

#include <cstdio>

constexpr int ReaderBaudRate = 19200;
constexpr int ReaderDataBits = 8;
constexpr char ReaderParity = 'N';  // none
constexpr int ReaderStopBits = 1;

// "19200 8N1", for messages about the line; `text` holds 16 characters.
constexpr int LineFormatTextCapacity = 16;
inline void formatLineFormat(char (&text)[LineFormatTextCapacity])
{
    std::snprintf(text, sizeof text, "%d %d%c%d", ReaderBaudRate, ReaderDataBits, ReaderParity, ReaderStopBits);
}

// Serial drivers that keep a stale reply hand it over in reads of this
// size; a port is drained by at most this many such reads, so that a device
// that never stops sending cannot hold the caller.
constexpr int DrainChunkBytes = 256;
constexpr int DrainReadLimit = 64;

#endif
