// The byte trace of --trace.
#include "cli/trace.h"

#include "protocol/line_format.h"

#include <chrono>
#include <ctime>

std::string utcTimestamp()
{
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    long millis = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm;
#ifdef _WIN32
    gmtime_s(&tm, &seconds);
#else
    gmtime_r(&seconds, &tm);
#endif
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
    return text;
}

TraceFile::~TraceFile()
{
    if (file_)
        std::fclose(file_);
}

bool TraceFile::open(const std::string &path)
{
    file_ = std::fopen(path.c_str(), "wb");
    return file_ != nullptr;
}

void TraceFile::record(const std::string &port, char direction, const unsigned char *bytes, std::size_t count)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string line = utcTimestamp() + " " + port + " " + direction;
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        line += ' ';
        line += hex[bytes[i] >> 4];
        line += hex[bytes[i] & 15];
        text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
    }
    line += " |" + text + "|\n";
    std::lock_guard<std::mutex> hold(lock_);
    if (file_) {
        std::fwrite(line.data(), 1, line.size(), file_);
        std::fflush(file_);
    }
}

bool TracingLine::write(const unsigned char *bytes, std::size_t count, LineStatus &status)
{
    bool ok = line_->write(bytes, count, status);
    // Recorded even when the write failed part-way: it may have gone out.
    trace_.record(port_, '>', bytes, count);
    return ok;
}

long TracingLine::read(unsigned char *buffer, std::size_t capacity, int timeoutMs, LineStatus &status)
{
    long got = line_->read(buffer, capacity, timeoutMs, status);
    if (got > 0)
        trace_.record(port_, '<', buffer, static_cast<std::size_t>(got));
    return got;
}

// Stale input is read rather than only dropped, so that the trace holds
// every byte the reader sent, line ends behind a reply included.
void TracingLine::drain()
{
    unsigned char scratch[DrainChunkBytes];
    LineStatus ignored;
    long got;
    // Bounded like the line's own discarding: a chattering device must
    // not keep the tool here.
    for (int i = 0; i < DrainReadLimit && (got = line_->read(scratch, sizeof scratch, 0, ignored)) > 0; ++i)
        trace_.record(port_, '<', scratch, static_cast<std::size_t>(got));
}

void TracingLine::discardInput()
{
    drain();
    line_->discardInput();
}

TracingLine::~TracingLine()
{
    drain();
}
