// Commands for the benchmark (tools/bench-perf): a clock, waits that stamp
// the moment a window appears, and what a process holds (memory, handles,
// GDI objects, CPU time). Every stamp is in microseconds of the
// performance counter, the clock that `clock` reads.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <winternl.h>

#include <cstring>
#include <vector>

#include "commands.h"
#include "json.h"
#include "target.h"

namespace {

constexpr UINT BoxTextId = 0xFFFF;

// Short enough that a stamp is good to a millisecond or two, long enough
// that the polling costs the program under test next to nothing.
constexpr DWORD PollMs = 1;

long long microseconds()
{
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart / frequency.QuadPart * 1000000 +
           counter.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

void memberStamp(std::string &out, const char *name, long long stamp)
{
    json::key(out, name);
    if (stamp < 0)
        json::null(out);
    else
        json::num(out, stamp);
}

// A shown top-level window of the attached program with this class; with
// needChild (an id, or -1 for none), one that also holds a control of that
// id (a message box).
HWND programWindow(const wchar_t *cls, int needChild)
{
    for (HWND window = FindWindowExW(nullptr, nullptr, cls, nullptr); window;
         window = FindWindowExW(nullptr, window, cls, nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != target::processId || !IsWindowVisible(window))
            continue;
        if (needChild >= 0 && !GetDlgItem(window, needChild))
            continue;
        return window;
    }
    return nullptr;
}

// The table of GDI handles that Wine (like Windows) keeps in each process
// and points at from the process environment block.
struct GdiHandleEntry {
    UINT64 object;
    ULONG owner;
    UCHAR extType;  // bit 7: stock object
    UCHAR generation;
    UCHAR type;     // 0: free
    UCHAR flags;
    UINT64 userPointer;
};
static_assert(sizeof(GdiHandleEntry) == 24, "GDI handle entries are 24 bytes");
constexpr size_t GdiHandleCount = 0x10000;
// Where the environment block keeps the table's address.
constexpr size_t PebGdiTableOffset = sizeof(void *) == 8 ? 0xF8 : 0x94;

struct GdiCounts {
    long total;
    long stock;
    long byType[256];
};

// Names of the object types in the table; others are shown by number.
struct GdiTypeName {
    UCHAR type;
    const char *name;
};
const GdiTypeName GdiTypeNames[] = {
    {0x01, "dc"},     {0x41, "memory_dc"}, {0x21, "metafile_dc"}, {0x66, "metafile_dc"},
    {0x04, "region"}, {0x08, "palette"},   {0x09, "bitmap"},      {0x0a, "font"},
    {0x10, "brush"},  {0x30, "pen"},       {0x50, "pen"},         {0x26, "metafile"},
    {0x46, "metafile"},
};

template <typename Function>
Function ntdllFunction(const char *name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

using QueryProcess = NTSTATUS(NTAPI *)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
using QuerySystem = NTSTATUS(NTAPI *)(ULONG, PVOID, ULONG, PULONG);

bool countGdiObjects(HANDLE process, GdiCounts &counts)
{
    std::memset(&counts, 0, sizeof counts);
    QueryProcess query = ntdllFunction<QueryProcess>("NtQueryInformationProcess");
    if (!query)
        return false;
    PROCESS_BASIC_INFORMATION basic = {};
    if (query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0 || !basic.PebBaseAddress)
        return false;
    void *table = nullptr;
    SIZE_T got = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<const char *>(basic.PebBaseAddress) + PebGdiTableOffset, &table,
                           sizeof table, &got) ||
        !table)
        return false;
    std::vector<GdiHandleEntry> entries(GdiHandleCount);
    if (!ReadProcessMemory(process, table, entries.data(), entries.size() * sizeof(GdiHandleEntry), &got) ||
        got != entries.size() * sizeof(GdiHandleEntry))
        return false;
    for (const GdiHandleEntry &entry : entries) {
        if (entry.type == 0)
            continue;
        counts.total++;
        if (entry.extType & 0x80)
            counts.stock++;
        counts.byType[entry.type]++;
    }
    return true;
}

void appendGdiCounts(std::string &out, const GdiCounts &counts)
{
    out += "{";
    json::member(out, "total", (long long)counts.total);
    json::member(out, "stock", (long long)counts.stock);
    json::key(out, "types");
    out += "{";
    // Types that share a name are added up under it.
    std::vector<std::pair<std::string, long>> named;
    for (int type = 1; type < 256; type++) {
        if (!counts.byType[type])
            continue;
        std::string name;
        for (const GdiTypeName &known : GdiTypeNames)
            if (known.type == type)
                name = known.name;
        if (name.empty())
            name = "type_" + std::to_string(type);
        bool merged = false;
        for (auto &entry : named)
            if (entry.first == name) {
                entry.second += counts.byType[type];
                merged = true;
            }
        if (!merged)
            named.push_back({name, counts.byType[type]});
    }
    for (auto &entry : named)
        json::member(out, entry.first.c_str(), (long long)entry.second);
    out += "}}";
}

// The system-wide handle list (the class Windows calls
// SystemHandleInformation): the handles a process holds, where
// GetProcessHandleCount cannot tell.
struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};
struct SystemHandleList {
    ULONG count;
    SystemHandleEntry entries[1];
};
constexpr ULONG SystemHandleInformationClass = 16;
constexpr NTSTATUS StatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);

long countSystemHandles(DWORD pid)
{
    QuerySystem query = ntdllFunction<QuerySystem>("NtQuerySystemInformation");
    if (!query)
        return -1;
    std::vector<char> buffer(1 << 16);
    for (int attempt = 0; attempt < 12; attempt++) {
        ULONG needed = 0;
        NTSTATUS status = query(SystemHandleInformationClass, buffer.data(), (ULONG)buffer.size(), &needed);
        if (status == StatusInfoLengthMismatch) {
            buffer.resize(needed > buffer.size() ? needed + 4096 : buffer.size() * 2);
            continue;
        }
        if (status != 0)
            return -1;
        const SystemHandleList *list = reinterpret_cast<const SystemHandleList *>(buffer.data());
        long count = 0;
        for (ULONG i = 0; i < list->count; i++)
            if (list->entries[i].ownerPid == pid)
                count++;
        return count;
    }
    return -1;
}

// Windows of a process, top-level and child, shown or not: what USER holds
// for it where GetGuiResources cannot tell.
struct WindowCount {
    DWORD pid;
    long count;
};

BOOL CALLBACK countChild(HWND, LPARAM param)
{
    reinterpret_cast<WindowCount *>(param)->count++;
    return TRUE;
}

BOOL CALLBACK countTopLevel(HWND window, LPARAM param)
{
    WindowCount *windows = reinterpret_cast<WindowCount *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == windows->pid) {
        windows->count++;
        EnumChildWindows(window, countChild, param);
    }
    return TRUE;
}

long long fileTimeMs(const FILETIME &time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<long long>(value.QuadPart / 10000);
}

}  // namespace

bool cmdClock(const Words &, const std::string &, std::string &reply)
{
    reply = "{";
    json::member(reply, "us", microseconds());
    reply += "}";
    return true;
}

// waitready TIMEOUT_MS CLASS: until a shown top-level window of the class
// exists, then until its thread answers a message. Stamps both.
bool cmdWaitready(const Words &w, const std::string &rest, std::string &reply)
{
    long long timeout;
    if (!intArg(w, 1, timeout, reply))
        return false;
    if (w.size() < 3) {
        reply = "want waitready TIMEOUT_MS CLASS";
        return false;
    }
    std::wstring cls = json::wide(rest.substr(rest.find(w[2])));
    long long start = microseconds();
    HWND window = nullptr;
    long long shown = -1;
    for (;;) {
        window = FindWindowW(cls.c_str(), nullptr);
        if (window && IsWindowVisible(window)) {
            shown = microseconds();
            break;
        }
        if (microseconds() - start > timeout * 1000) {
            reply = "no shown window of class " + json::utf8(cls);
            return false;
        }
        Sleep(PollMs);
    }
    DWORD_PTR ignored = 0;
    long long left = timeout - (shown - start) / 1000;
    if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, (UINT)(left > 1000 ? left : 1000), &ignored)) {
        reply = "window does not answer";
        return false;
    }
    long long answered = microseconds();
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    reply = "{";
    json::memberHandle(reply, "hwnd", window);
    json::member(reply, "pid", pid);
    json::member(reply, "shown_us", shown);
    json::member(reply, "answered_us", answered);
    reply += "}";
    return true;
}

// clicktime ID [TIMEOUT_MS]: a posted BM_CLICK on a control of the attached
// program, then stamps of the progress popup appearing and going and of the
// first message box; ends at that box.
bool cmdClicktime(const Words &w, const std::string &, std::string &reply)
{
    long long timeout;
    if (!needAttached(reply) || !optIntArg(w, 2, 30000, timeout, reply))
        return false;
    HWND control = w.size() > 1 ? target::control(w[1]) : nullptr;
    if (!control) {
        reply = "no control";
        return false;
    }
    long long popupShown = -1, popupGone = -1, boxShown = -1;
    HWND box = nullptr;
    long long clicked = microseconds();
    if (!PostMessageW(control, BM_CLICK, 0, 0)) {
        reply = "post failed";
        return false;
    }
    while (microseconds() - clicked < timeout * 1000) {
        HWND popup = programWindow(PROGRESS_CLASSW, -1);
        long long now = microseconds();
        if (popup && popupShown < 0)
            popupShown = now;
        if (!popup && popupShown >= 0 && popupGone < 0)
            popupGone = now;
        box = programWindow(L"#32770", BoxTextId);
        if (box) {
            boxShown = microseconds();
            break;
        }
        Sleep(PollMs);
    }
    if (boxShown < 0) {
        reply = "no message box";
        return false;
    }
    // The stamp is taken; the text may still be on its way into the box.
    std::wstring text;
    for (int attempt = 0; attempt < 50; attempt++) {
        if (target::windowText(GetDlgItem(box, BoxTextId), text) && !text.empty())
            break;
        Sleep(10);
    }
    reply = "{";
    json::member(reply, "click_us", clicked);
    memberStamp(reply, "popup_us", popupShown);
    memberStamp(reply, "popup_gone_us", popupGone);
    json::member(reply, "box_us", boxShown);
    json::member(reply, "text", text);
    reply += "}";
    return true;
}

// procinfo PID: memory counters, handle count, GDI and USER objects (as the
// system reports them; GDI objects also counted in the process's own handle
// table, handles in the system's handle list, windows by enumeration), CPU
// times.
bool cmdProcinfo(const Words &w, const std::string &, std::string &reply)
{
    long long pid;
    if (!intArg(w, 1, pid, reply))
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, (DWORD)pid);
    if (!process) {
        DWORD error = GetLastError();
        reply = "cannot open process: " + std::to_string(error);
        return false;
    }
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    bool haveMemory = GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&memory),
                                           sizeof memory) != FALSE;
    DWORD handles = 0;
    bool haveHandles = GetProcessHandleCount(process, &handles) != FALSE;
    SetLastError(0);
    DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
    DWORD gdiError = GetLastError();
    DWORD user = GetGuiResources(process, GR_USEROBJECTS);
    GdiCounts counts;
    bool haveTable = countGdiObjects(process, counts);
    FILETIME created, ended, kernel, userTime;
    bool haveTimes = GetProcessTimes(process, &created, &ended, &kernel, &userTime) != FALSE;
    CloseHandle(process);
    long systemHandles = countSystemHandles((DWORD)pid);
    WindowCount windows = {(DWORD)pid, 0};
    EnumWindows(countTopLevel, reinterpret_cast<LPARAM>(&windows));

    reply = "{";
    json::member(reply, "pid", (long long)pid);
    json::key(reply, "memory");
    if (haveMemory) {
        reply += "{";
        json::member(reply, "working_set", (long long)memory.WorkingSetSize);
        json::member(reply, "peak_working_set", (long long)memory.PeakWorkingSetSize);
        json::member(reply, "private_bytes", (long long)memory.PrivateUsage);
        json::member(reply, "pagefile", (long long)memory.PagefileUsage);
        json::member(reply, "peak_pagefile", (long long)memory.PeakPagefileUsage);
        reply += "}";
    } else {
        json::null(reply);
    }
    json::key(reply, "handles");
    if (haveHandles)
        json::num(reply, handles);
    else
        json::null(reply);
    json::member(reply, "gui_gdi", gdi);
    json::member(reply, "gui_gdi_error", gdiError);
    json::member(reply, "gui_user", user);
    json::member(reply, "windows", (long long)windows.count);
    json::key(reply, "gdi_table");
    if (haveTable)
        appendGdiCounts(reply, counts);
    else
        json::null(reply);
    json::key(reply, "system_handles");
    if (systemHandles >= 0)
        json::num(reply, systemHandles);
    else
        json::null(reply);
    json::key(reply, "cpu_ms");
    if (haveTimes) {
        reply += "{";
        json::member(reply, "user", fileTimeMs(userTime));
        json::member(reply, "kernel", fileTimeMs(kernel));
        reply += "}";
    } else {
        json::null(reply);
    }
    reply += "}";
    return true;
}
