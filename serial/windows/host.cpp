// The console tool's system services on Windows.
#include "serial/host.h"

#include <windows.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <io.h>

namespace {

std::atomic<int> *stopFlag = nullptr;
std::atomic<bool> *stopRaised = nullptr;
const char *farewell = "";

extern "C" void onStopSignal(int number)
{
    // The C runtime resets a handler once it has run.
    std::signal(number, onStopSignal);
    // Ctrl-Break is the console's other interrupt key: it stops the run as
    // Ctrl-C does and is reported and exits as Ctrl-C (130), the code the
    // exit-status table gives, rather than as a signal 21 no table names.
    int stopNumber = number == SIGBREAK ? SIGINT : number;
    int expected = 0;
    bool first = stopFlag->compare_exchange_strong(expected, stopNumber);
    *stopRaised = true;
    if (first)
        return;
    _write(2, farewell, static_cast<unsigned>(std::strlen(farewell)));
    _exit(128 + stopNumber);
}

std::string systemError(DWORD code)
{
    char text[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.'))
        text[--length] = 0;
    return std::string(text) + " (error " + std::to_string(code) + ")";
}

bool identity(const std::string &path, BY_HANDLE_FILE_INFORMATION &info)
{
    HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    return ok;
}

std::string fullName(const std::string &path)
{
    char full[MAX_PATH * 4];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full)
        return path;
    std::string name(full, length);
    for (char &c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

// A name beside `path` no other file has yet, created.
HANDLE createBeside(const std::string &path, std::string &name, DWORD &error)
{
    static std::atomic<unsigned> counter(0);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = path + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) + ".tmp";
        HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS)
            return INVALID_HANDLE_VALUE;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

void raiseOpenFileLimit()
{
    // Windows handles have no per-process limit to raise.
}

long openFileBudget()
{
    return 1L << 20;
}

std::string portIdentity(const std::string &port)
{
    std::string identity = port;
    for (char &c : identity)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return identity;
}

std::tm utcCalendar(std::time_t seconds)
{
    std::tm tm = {};
    gmtime_s(&tm, &seconds);
    return tm;
}

std::string hostName()
{
    const char *name = std::getenv("COMPUTERNAME");
    return name ? name : "";
}

void catchStopSignals(std::atomic<int> *stopSignal, std::atomic<bool> *stop, const char *lastWords)
{
    stopFlag = stopSignal;
    stopRaised = stop;
    farewell = lastWords;
    for (int number : {SIGINT, SIGTERM, SIGBREAK})
        std::signal(number, onStopSignal);
}

PathKind pathKind(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::Missing : PathKind::Other;
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
        return PathKind::Other;
    return PathKind::Regular;
}

bool sameFile(const std::string &a, const std::string &b)
{
    BY_HANDLE_FILE_INFORMATION first, second;
    bool hasFirst = identity(a, first);
    bool hasSecond = identity(b, second);
    if (hasFirst && hasSecond)
        return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
               first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
    if (hasFirst != hasSecond)
        return false;
    return fullName(a) == fullName(b);
}

AppendFile::~AppendFile()
{
    if (handle_ >= 0)
        CloseHandle(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle_)));
}

bool AppendFile::open(const std::string &path, std::string &error)
{
    // FILE_APPEND_DATA alone: every write goes to the end, in one piece.
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = systemError(GetLastError());
        return false;
    }
    handle_ = static_cast<long long>(reinterpret_cast<intptr_t>(file));
    return true;
}

bool AppendFile::isOpen() const
{
    return handle_ >= 0;
}

bool AppendFile::append(const std::string &text, std::string &error)
{
    DWORD written = 0;
    HANDLE file = reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle_));
    if (!WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        error = systemError(GetLastError());
        return false;
    }
    if (written != text.size()) {
        error = "only " + std::to_string(written) + " of " + std::to_string(text.size()) + " bytes were written";
        return false;
    }
    return true;
}

bool replaceFile(const std::string &path, const std::string &text, std::string &error)
{
    // A link, a device or a folder is never replaced by a file.
    if (pathKind(path) == PathKind::Other) {
        error = "not a regular file";
        return false;
    }
    std::string temporary;
    DWORD code = 0;
    HANDLE file = createBeside(path, temporary, code);
    if (file == INVALID_HANDLE_VALUE) {
        error = systemError(code);
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size() && FlushFileBuffers(file);
    code = ok ? 0 : GetLastError();
    CloseHandle(file);
    if (ok && !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        code = GetLastError();
    }
    if (!ok) {
        DeleteFileA(temporary.c_str());
        error = code ? systemError(code) : "the disk took only part of it";
    }
    return ok;
}

bool canWriteBeside(const std::string &path, std::string &error)
{
    std::string trial;
    DWORD code = 0;
    HANDLE file = createBeside(path, trial, code);
    if (file == INVALID_HANDLE_VALUE) {
        error = systemError(code);
        return false;
    }
    CloseHandle(file);
    DeleteFileA(trial.c_str());
    return true;
}
