// The serial line on Linux (and other termios systems): raw, in the
// readers' format, exclusive, with poll for the time-outs.
#include "serial/line.h"
#include "serial/unix/portlist.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "protocol/line_format.h"

namespace {

// The readers' format in termios terms.
constexpr speed_t termiosSpeed(int baud)
{
    return baud == 9600 ? B9600 : baud == 19200 ? B19200 : baud == 38400 ? B38400 : baud == 57600 ? B57600 : B0;
}
static_assert(termiosSpeed(ReaderBaudRate) != B0, "a speed termios knows");
constexpr tcflag_t termiosFrame()
{
    return (ReaderDataBits == 7 ? CS7 : CS8) | (ReaderStopBits == 2 ? CSTOPB : 0);
}
static_assert(ReaderParity == 'N', "the frame has no parity bit");

void fail(LineStatus &status, LineError error, const std::string &port, const std::string &cause)
{
    status.error = error;
    status.message = port + ": " + cause;
}

std::string systemText(int number)
{
    return std::string(std::strerror(number)) + " (errno " + std::to_string(number) + ")";
}

class UnixLine : public SerialLine {
public:
    UnixLine(int fd, std::string port, const termios &original)
        : fd_(fd), port_(std::move(port)), original_(original) {}
    // The port is handed back as it was found: open to others again and
    // with its own speed and modes, for whatever uses it next. The last
    // command still queued goes out first, at the readers' speed (no flow
    // control is on: the queue empties at line speed).
    ~UnixLine() override
    {
        ioctl(fd_, TIOCNXCL);
        while (tcsetattr(fd_, TCSADRAIN, &original_) != 0 && errno == EINTR) {
        }
        flock(fd_, LOCK_UN);
        close(fd_);
    }

    bool write(const unsigned char *bytes, std::size_t count, LineStatus &status) override
    {
        std::size_t done = 0;
        while (done < count) {
            ssize_t n = ::write(fd_, bytes + done, count - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            int number = errno;
            if (n < 0 && number == EINTR)
                continue;
            if (n < 0 && number == EAGAIN) {
                // The output queue is full: wait for room (a second is
                // hundreds of bytes at this speed).
                pollfd p = {fd_, POLLOUT, 0};
                int ready = poll(&p, 1, 1000);
                if (ready > 0 && !(p.revents & (POLLHUP | POLLERR)))
                    continue;
                if (ready == 0) {
                    fail(status, LineError::Io, port_, "the line takes no output");
                    return false;
                }
                fail(status, LineError::HangUp, port_, "hang-up: the device went away");
                return false;
            }
            failFromErrno(status, number, "write");
            return false;
        }
        return true;
    }

    long read(unsigned char *buffer, std::size_t capacity, int timeoutMs, LineStatus &status) override
    {
        if (capacity == 0)
            return 0;
        pollfd p = {fd_, POLLIN, 0};
        int ready;
        do {
            ready = poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready < 0) {
            failFromErrno(status, errno, "poll");
            return -1;
        }
        if (ready == 0)
            return 0;
        // Input that came before a hang-up is still delivered first.
        if (p.revents & POLLIN) {
            ssize_t n = ::read(fd_, buffer, capacity);
            if (n > 0)
                return static_cast<long>(n);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                return 0;
            if (n < 0 && errno != EIO) {
                failFromErrno(status, errno, "read");
                return -1;
            }
        }
        fail(status, LineError::HangUp, port_, "hang-up: the device went away");
        return -1;
    }

    void discardInput() override
    {
        tcflush(fd_, TCIFLUSH);
        // What the driver already handed up is not flushed on every tty.
        // Bounded, so that a device that never stops sending cannot hold
        // the caller here.
        unsigned char scratch[DrainChunkBytes];
        for (int i = 0; i < DrainReadLimit && ::read(fd_, scratch, sizeof scratch) > 0; ++i) {
        }
    }

private:
    void failFromErrno(LineStatus &status, int number, const char *call)
    {
        if (number == EIO || number == ENXIO || number == ENODEV)
            fail(status, LineError::HangUp, port_, "hang-up: the device went away (" + systemText(number) + ")");
        else
            fail(status, LineError::Io, port_, std::string(call) + " failed: " + systemText(number));
    }

    int fd_;
    std::string port_;
    termios original_;
};

}  // namespace

std::unique_ptr<SerialLine> openSerialLine(const std::string &port, LineStatus &status)
{
    std::string path = devicePath(port);
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int number = errno;
        switch (number) {
        case ENOENT:
        case ENOTDIR:
            fail(status, LineError::NoSuchPort, path, "no such port");
            break;
        case EACCES:
        case EPERM:
            fail(status, LineError::PermissionDenied, path,
                 "permission denied: add yourself to the group that owns it (usually dialout: "
                 "sudo usermod -aG dialout $USER, then log in again)");
            break;
        case EBUSY:
            fail(status, LineError::Busy, path, "busy: another program has it open");
            break;
        case ENXIO:
        case ENODEV:
            fail(status, LineError::NoSuchPort, path, "no device behind this port");
            break;
        case EMFILE:
        case ENFILE:
            fail(status, LineError::OutOfResources, path,
                 "not opened: too many open files (" + systemText(number) + "); serve fewer ports at once "
                 "(--jobs) or raise the limit (ulimit -n)");
            break;
        default:
            fail(status, LineError::Io, path, "cannot open: " + systemText(number));
            break;
        }
        return nullptr;
    }
    if (!isatty(fd)) {
        close(fd);
        fail(status, LineError::NotASerialPort, path, "not a serial port (not a tty)");
        return nullptr;
    }
    // Two tools talking to one reader at once would interleave commands:
    // TIOCEXCL keeps other opens out, flock other cooperating tools that
    // opened before us.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        fail(status, LineError::Busy, path, "busy: another program holds it");
        return nullptr;
    }
    termios original;
    if (tcgetattr(fd, &original) != 0) {
        int number = errno;
        close(fd);
        fail(status, LineError::NotASerialPort, path, "not a serial port: " + systemText(number));
        return nullptr;
    }
    termios tio = original;
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= termiosFrame() | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, termiosSpeed(ReaderBaudRate));
    cfsetospeed(&tio, termiosSpeed(ReaderBaudRate));
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        int number = errno;
        tcsetattr(fd, TCSANOW, &original);
        close(fd);
        char format[LineFormatTextCapacity];
        formatLineFormat(format);
        fail(status, LineError::Io, path, std::string("cannot set ") + format + ": " + systemText(number));
        return nullptr;
    }
    ioctl(fd, TIOCEXCL);
    status = LineStatus();
    return std::unique_ptr<SerialLine>(new UnixLine(fd, path, original));
}
