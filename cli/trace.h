// --trace: every byte in both directions, time-stamped, per port, as hex and
// as printable text, one line per burst (the bytes of one write, or bytes
// arriving one after another without a wait between them):
//   2026-12-07T16:50:01.123Z /dev/ttyUSB0 > 41 54 2B |AT+|
// ">" is to the reader, "<" from it. Lines of ports served at once interleave.
// Lines beginning with "#" are notes: the run's header and each port's
// outcome.
#ifndef VELMORA_CLI_TRACE_H
#define VELMORA_CLI_TRACE_H

#include <atomic>
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
    void record(const std::string &stamp, const std::string &port, char direction, const unsigned char *bytes,
                std::size_t count);
    void note(const std::string &text);
    // Set once a line could not be written: the trace is incomplete.
    bool failed() const { return failed_; }
    const std::string &failure() const { return failure_; }

private:
    void put(const std::string &line);
    std::mutex lock_;
    std::FILE *file_ = nullptr;
    std::atomic<bool> failed_{false};
    std::string failure_;
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
    void flushBurst();
    std::unique_ptr<SerialLine> line_;
    TraceFile &trace_;
    std::string port_;
    std::string burst_;       // bytes received and not yet traced
    std::string burstStamp_;  // when the first of them came
};

// "2026-12-07T16:50:01.123Z", now.
std::string utcTimestamp();
// Bytes as text safe on one line of a terminal or a file: control
// characters, backslashes and bytes that are not UTF-8 as \xNN.
std::string escapedText(const std::string &bytes);
// Whether `bytes` are UTF-8 throughout (as JSON strings must be).
bool isUtf8(const std::string &bytes);

#endif
