// Screen pixels of the main window, and a serial round trip of our own to
// prove the simulated readers answer a Windows program.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "commands.h"
#include "json.h"
#include "pixels.h"
#include "target.h"

static bool clientPoints(const Words &w, size_t first, std::vector<POINT> &points, std::string &reply)
{
    if (w.size() < first + 2 || (w.size() - first) % 2) {
        reply = "want x y pairs";
        return false;
    }
    for (size_t i = first; i < w.size(); i += 2) {
        long long x, y;
        if (!intArg(w, i, x, reply) || !intArg(w, i + 1, y, reply))
            return false;
        points.push_back({(LONG)x, (LONG)y});
    }
    return true;
}

// Colours as COLORREF numbers (0x00BBGGRR), the form the program itself uses.
static bool readClientPixels(const std::vector<POINT> &points, std::vector<COLORREF> &colours, std::string &reply)
{
    POINT origin = {0, 0};
    ClientToScreen(target::mainWindow, &origin);
    RECT box = {LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
    for (POINT p : points) {
        box.left = std::min(box.left, p.x + origin.x);
        box.top = std::min(box.top, p.y + origin.y);
        box.right = std::max(box.right, p.x + origin.x + 1);
        box.bottom = std::max(box.bottom, p.y + origin.y + 1);
    }
    std::vector<COLORREF> area;
    if (!pixels::grab(box, area)) {
        reply = "screen not readable";
        return false;
    }
    long width = box.right - box.left;
    for (POINT p : points)
        colours.push_back(area[(size_t)(p.y + origin.y - box.top) * width + (p.x + origin.x - box.left)]);
    return true;
}

bool cmdPixel(const Words &w, const std::string &, std::string &reply)
{
    std::vector<POINT> points;
    std::vector<COLORREF> colours;
    if (!needAttached(reply) || !clientPoints(w, 1, points, reply) || points.size() != 1 ||
        !readClientPixels(points, colours, reply))
        return false;
    reply = std::to_string(colours[0]);
    return true;
}

bool cmdPixels(const Words &w, const std::string &, std::string &reply)
{
    std::vector<POINT> points;
    std::vector<COLORREF> colours;
    if (!needAttached(reply) || !clientPoints(w, 1, points, reply) || !readClientPixels(points, colours, reply))
        return false;
    reply = "[";
    for (COLORREF c : colours) {
        json::next(reply);
        json::num(reply, c);
    }
    reply += "]";
    return true;
}

// How many pixels of each colour a client rectangle holds (left, top,
// right, bottom; right and bottom excluded), most frequent first.
bool cmdColors(const Words &w, const std::string &, std::string &reply)
{
    long long l, t, r, b;
    if (!needAttached(reply) || !intArg(w, 1, l, reply) || !intArg(w, 2, t, reply) || !intArg(w, 3, r, reply) ||
        !intArg(w, 4, b, reply))
        return false;
    POINT origin = {0, 0};
    ClientToScreen(target::mainWindow, &origin);
    RECT area = {(LONG)l + origin.x, (LONG)t + origin.y, (LONG)r + origin.x, (LONG)b + origin.y};
    std::vector<COLORREF> pixels;
    if (!pixels::grab(area, pixels)) {
        reply = "screen not readable";
        return false;
    }
    std::map<COLORREF, long> counts;
    for (COLORREF c : pixels)
        ++counts[c];
    std::vector<std::pair<long, COLORREF>> order;
    for (auto &entry : counts)
        order.push_back({-entry.second, entry.first});
    std::sort(order.begin(), order.end());
    reply = "[";
    for (auto &entry : order) {
        json::next(reply);
        reply += "[" + std::to_string(entry.second) + "," + std::to_string(-entry.first) + "]";
    }
    reply += "]";
    return true;
}

// Line settings of the readers: 19200 baud, 8 data bits, no parity, 1 stop bit.
constexpr DWORD SerialBaud = 19200;
// A reply ends when the line stays silent this long.
constexpr DWORD SerialSilenceMs = 50;

static bool parseHex(const std::string &text, std::string &bytes)
{
    if (text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value;
        if (std::sscanf(text.substr(i, 2).c_str(), "%2x", &value) != 1 || !isxdigit((unsigned char)text[i + 1]))
            return false;
        bytes += (char)value;
    }
    return true;
}

// serial PORT HEX [WAIT_MS]: opens \\.\PORT at 19200 8N1, writes the bytes,
// then reads one byte at a time until the line is silent.
bool cmdSerial(const Words &w, const std::string &, std::string &reply)
{
    if (w.size() < 3) {
        reply = "want serial PORT HEXBYTES [WAIT_MS]";
        return false;
    }
    std::string bytes;
    if (w[2] != "-" && !parseHex(w[2], bytes)) {
        reply = "bad hex " + w[2];
        return false;
    }
    long long waitMs;
    if (!optIntArg(w, 3, 1000, waitMs, reply))
        return false;
    std::wstring path = L"\\\\.\\" + json::wide(w[1]);
    HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        reply = "open " + w[1] + " failed: " + std::to_string(error);
        return false;
    }
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    bool configured = GetCommState(port, &dcb);
    if (configured) {
        dcb.BaudRate = SerialBaud;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        configured = SetCommState(port, &dcb);
    }
    if (!configured) {
        DWORD error = GetLastError();
        CloseHandle(port);
        reply = "line settings failed: " + std::to_string(error);
        return false;
    }
    // The first byte may take a while; after it, silence ends the reply.
    COMMTIMEOUTS first = {SerialSilenceMs, 10, (DWORD)waitMs, 10, 50};
    COMMTIMEOUTS later = {SerialSilenceMs, 10, SerialSilenceMs, 10, 50};
    SetCommTimeouts(port, &first);
    DWORD written = 0;
    if (!bytes.empty() && !WriteFile(port, bytes.data(), (DWORD)bytes.size(), &written, nullptr)) {
        DWORD error = GetLastError();
        CloseHandle(port);
        reply = "write failed: " + std::to_string(error);
        return false;
    }
    std::string answer;
    DWORD started = GetTickCount();
    while (answer.size() < 65536) {
        char byte;
        DWORD got = 0;
        if (!ReadFile(port, &byte, 1, &got, nullptr) || got == 0)
            break;
        if (answer.empty())
            SetCommTimeouts(port, &later);
        answer += byte;
    }
    DWORD elapsed = GetTickCount() - started;
    CloseHandle(port);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : answer) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    reply = "{";
    json::member(reply, "written", written);
    json::member(reply, "reply", hex);
    json::member(reply, "ms", elapsed);
    reply += "}";
    return true;
}

bool cmdSleep(const Words &w, const std::string &, std::string &reply)
{
    long long ms;
    if (!intArg(w, 1, ms, reply))
        return false;
    Sleep((DWORD)ms);
    reply = "null";
    return true;
}
