// The console tool's system services on Linux and other POSIX systems.
#include "serial/host.h"
#include "serial/unix/portlist.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<int> *stopFlag = nullptr;
std::atomic<bool> *stopRaised = nullptr;
const char *farewell = "";

extern "C" void onStopSignal(int number)
{
    int expected = 0;
    bool first = stopFlag->compare_exchange_strong(expected, number);
    *stopRaised = true;
    if (first || number == SIGPIPE)
        return;
    // Asked twice: the user means it.
    ssize_t ignored = ::write(STDERR_FILENO, farewell, std::strlen(farewell));
    (void)ignored;
    _exit(128 + number);
}

std::string cause(int number)
{
    return std::strerror(number);
}

std::string folderOf(const std::string &path)
{
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// An absolute spelling of a name whose file may not exist yet: its folder
// resolved, its last part kept.
std::string absoluteName(const std::string &path)
{
    std::string::size_type slash = path.rfind('/');
    std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    char *folder = realpath(folderOf(path).c_str(), nullptr);
    if (folder == nullptr)
        return path;
    std::string name = std::string(folder) + "/" + last;
    std::free(folder);
    return name;
}

// A new file of a name of its own beside `path`, open for writing; its name
// in `name`. open() gives it `mode` less what the umask (or the folder's
// default ACL) takes away, as for any file a program makes. -1 and errno
// when none could be made.
int createBeside(const std::string &path, mode_t mode, std::string &name)
{
    static std::atomic<unsigned> counter(0);
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = path + "." + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".tmp";
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

void raiseOpenFileLimit()
{
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

long openFileBudget()
{
    constexpr long Reserve = 8;
    rlimit limit;
    // Counting is only worth it where the limit is near: a limit this high
    // is more than any site has ports.
    constexpr rlim_t Plenty = 65536;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > Plenty)
        return LONG_MAX;
    long open = 0;
    long limitCount = static_cast<long>(limit.rlim_cur);
    for (long fd = 0; fd < limitCount; ++fd)
        if (fcntl(static_cast<int>(fd), F_GETFD) != -1)
            ++open;
    return std::max(0L, limitCount - open - Reserve);
}

std::string portIdentity(const std::string &port)
{
    std::string identity = devicePath(port);
    if (char *resolved = realpath(identity.c_str(), nullptr)) {
        identity = resolved;
        std::free(resolved);
    }
    return identity;
}

std::tm utcCalendar(std::time_t seconds)
{
    std::tm tm = {};
    gmtime_r(&seconds, &tm);
    return tm;
}

std::string hostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return "";
    return name;
}

void catchStopSignals(std::atomic<int> *stopSignal, std::atomic<bool> *stop, const char *lastWords)
{
    stopFlag = stopSignal;
    stopRaised = stop;
    farewell = lastWords;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // A stop is seen promptly because no wait for a reader is longer than
    // one slice (DriveSliceMs), not because a signal cuts a call short: a
    // wait that sees EINTR simply waits again.
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaction(number, &action, nullptr);
}

PathKind pathKind(const std::string &path)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? PathKind::Missing : PathKind::Other;
    return S_ISREG(info.st_mode) ? PathKind::Regular : PathKind::Other;
}

bool sameFile(const std::string &a, const std::string &b)
{
    struct stat first, second;
    bool hasFirst = stat(a.c_str(), &first) == 0;
    bool hasSecond = stat(b.c_str(), &second) == 0;
    if (hasFirst && hasSecond)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    if (hasFirst != hasSecond)
        return false;
    return absoluteName(a) == absoluteName(b);
}

AppendFile::~AppendFile()
{
    if (handle_ >= 0)
        close(static_cast<int>(handle_));
}

bool AppendFile::open(const std::string &path, std::string &error)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        error = cause(errno);
        return false;
    }
    handle_ = fd;
    return true;
}

bool AppendFile::isOpen() const
{
    return handle_ >= 0;
}

bool AppendFile::append(const std::string &text, std::string &error)
{
    ssize_t n;
    do {
        n = ::write(static_cast<int>(handle_), text.data(), text.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        error = cause(errno);
        return false;
    }
    if (static_cast<std::size_t>(n) != text.size()) {
        error = "only " + std::to_string(n) + " of " + std::to_string(text.size()) + " bytes were written";
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
    // A file replaced keeps its permissions, a private profile stays
    // private; a new one gets what the umask leaves of read and write for
    // all.
    struct stat existing;
    bool replacing = lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    mode_t mode = replacing ? existing.st_mode & 07777 : 0666;
    std::string temporary;
    int fd = createBeside(path, mode, temporary);
    if (fd < 0) {
        error = cause(errno);
        return false;
    }
    // open() took the umask off: the old file's permissions exactly. Were
    // this refused, the file would only be less open than the old one.
    if (replacing)
        fchmod(fd, mode);
    std::size_t done = 0;
    int number = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            number = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (number == 0 && fsync(fd) != 0)
        number = errno;
    if (close(fd) != 0 && number == 0)
        number = errno;
    if (number == 0 && rename(temporary.c_str(), path.c_str()) != 0)
        number = errno;
    if (number != 0) {
        unlink(temporary.c_str());
        error = cause(number);
        return false;
    }
    return true;
}

bool canWriteBeside(const std::string &path, std::string &error)
{
    std::string trial;
    int fd = createBeside(path, 0600, trial);
    if (fd < 0) {
        error = cause(errno);
        return false;
    }
    close(fd);
    unlink(trial.c_str());
    return true;
}
