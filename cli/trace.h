// --trace: every byte in both directions, time-stamped, per port, as hex and
// as printable text, one line per read or write:
//   2026-12-07T16:50:01.123Z /dev/ttyUSB0 > 41 54 2B |AT+|
// ">" is to the reader, "<" from it. Lines of ports served at once interleave.
#ifndef VELMORA_CLI_TRACE_H
#define VELMORA_CLI_TRACE_H

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "serial/line.h"

class TraceFile {
public:
    ~TraceFile();
    // Opens (truncating) before any port is touched; false when it cannot.
    bool open(const std::string &path);
    void record(const std::string &port, char direction, const unsigned char *bytes, std::size_t count);

private:
    std::mutex lock_;
    std::FILE *file_ = nullptr;
};

// A line that reports what passes through it to a trace file.
class TracingLine : public SerialLine {
public:
    TracingLine(std::unique_ptr<SerialLine> line, TraceFile &trace, std::string port)
        : line_(std::move(line)), trace_(trace), port_(std::move(port)) {}
    ~TracingLine() override;
    bool write(const unsigned char *bytes, std::size_t count, LineStatus &status) override;
    long read(unsigned char *buffer, std::size_t capacity, int timeoutMs, LineStatus &status) override;
    void discardInput() override;

private:
    void drain();
    std::unique_ptr<SerialLine> line_;
    TraceFile &trace_;
    std::string port_;
};

// "2026-12-07T16:50:01.123Z", now.
std::string utcTimestamp();

#endif
