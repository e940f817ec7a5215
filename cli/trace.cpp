// The byte trace of --trace.
#include "cli/trace.h"

#include "protocol/line_format.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "serial/host.h"

std::string utcTimestamp()
{
    using namespace std::chrono;
    auto now = system_clock::now();
    long millis = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm = utcCalendar(system_clock::to_time_t(now));
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
    return text;
}

namespace {

// The length of the UTF-8 character that starts at bytes[i]; 0 when none
// does (a stray or cut-short sequence, an overlong form, a UTF-16 half,
// beyond U+10FFFF).
std::size_t utf8Length(const std::string &bytes, std::size_t i)
{
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length <= 1)
        return length;
    if (i + length > bytes.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80)
            return 0;
    unsigned char d = static_cast<unsigned char>(bytes[i + 1]);
    bool whole = length == 2   ? c >= 0xC2
                 : length == 3 ? !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d >= 0xA0)
                               : c <= 0xF4 && !(c == 0xF0 && d < 0x90) && !(c == 0xF4 && d >= 0x90);
    return whole ? length : 0;
}

}  // namespace

bool isUtf8(const std::string &bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t length = utf8Length(bytes, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string escapedText(const std::string &bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    std::size_t i = 0;
    while (i < bytes.size()) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        std::size_t length = utf8Length(bytes, i);
        if (length > 1) {
            text.append(bytes, i, length);
            i += length;
        } else if (length == 1 && c >= 0x20 && c != 0x7F && c != '\\') {
            text += static_cast<char>(c);
            ++i;
        } else {
            text += "\\x";
            text += hex[c >> 4];
            text += hex[c & 15];
            ++i;
        }
    }
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

void TraceFile::put(const std::string &line)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (file_ == nullptr || failed_)
        return;
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0) {
        failure_ = std::strerror(errno);
        failed_ = true;
    }
}

void TraceFile::record(const std::string &stamp, const std::string &port, char direction,
                       const unsigned char *bytes, std::size_t count)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string line = stamp + " " + escapedText(port) + " " + direction;
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        line += ' ';
        line += hex[bytes[i] >> 4];
        line += hex[bytes[i] & 15];
        text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
    }
    put(line + " |" + text + "|\n");
}

void TraceFile::note(const std::string &text)
{
    put("# " + escapedText(text) + "\n");
}

void TracingLine::flushBurst()
{
    if (burst_.empty())
        return;
    trace_.record(burstStamp_, port_, '<', reinterpret_cast<const unsigned char *>(burst_.data()), burst_.size());
    burst_.clear();
}

bool TracingLine::write(const unsigned char *bytes, std::size_t count, LineStatus &status)
{
    flushBurst();
    std::string stamp = utcTimestamp();
    bool ok = line_->write(bytes, count, status);
    // Recorded even when the write failed part-way: it may have gone out.
    trace_.record(stamp, port_, '>', bytes, count);
    return ok;
}

long TracingLine::read(unsigned char *buffer, std::size_t capacity, int timeoutMs, LineStatus &status)
{
    long got = line_->read(buffer, capacity, timeoutMs, status);
    if (got > 0) {
        if (burst_.empty())
            burstStamp_ = utcTimestamp();
        burst_.append(reinterpret_cast<const char *>(buffer), static_cast<std::size_t>(got));
        if (burst_.size() >= 64)
            flushBurst();
    } else {
        flushBurst();
    }
    return got;
}

// Stale input is read rather than only dropped, so that the trace holds
// every byte the reader sent, line ends behind a reply included.
void TracingLine::drain()
{
    flushBurst();
    unsigned char scratch[DrainChunkBytes];
    LineStatus ignored;
    long got;
    // Bounded like the line's own discarding: a chattering device must
    // not keep the tool here.
    for (int i = 0; i < DrainReadLimit && (got = line_->read(scratch, sizeof scratch, 0, ignored)) > 0; ++i)
        trace_.record(utcTimestamp(), port_, '<', scratch, static_cast<std::size_t>(got));
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
