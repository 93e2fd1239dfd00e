// Serial ports over termios. Handles name entries of a table (never the descriptor itself, so
// 0 stays free to mean "closed" to callers); each entry keeps its descriptor and time-outs.
// Waits are poll() calls measured on the warped clock, so no read or write can hang.
#include <bxplatform/kernel.h>
#include <bxplatform/serial.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace bx::kernel {
namespace {

struct Port {
    int Fd = -1;
    SerialTimeouts Timeouts;
};

std::mutex& TableMutex() {
    static std::mutex mutex;
    return mutex;
}
std::map<SerialHandle, Port>& Table() {
    static std::map<SerialHandle, Port> table;
    return table;
}
SerialHandle& LastHandle() {
    static SerialHandle last = 0;
    return last;
}

bool Find(SerialHandle handle, Port* port) {
    std::lock_guard lock(TableMutex());
    auto it = Table().find(handle);
    if (it == Table().end()) return false;
    *port = it->second;
    return true;
}

SerialStatus Fail(SerialResult result, int error = 0) {
    return {result, error};
}

speed_t SpeedOf(uint32_t baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

// Waits until `fd` is ready for `events` or the warped clock passes `deadlineUs`; true when
// ready. A real wait of remaining / warp, re-checked because the warp may change meanwhile.
bool WaitReady(int fd, short events, int64_t deadlineUs, int* error) {
    for (;;) {
        const int64_t remainingUs = deadlineUs - NowMicroseconds();
        if (remainingUs <= 0) return false;
        const double realMs = std::ceil(remainingUs / 1000.0 / TimeWarp());
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::min(realMs, 60'000.0)));
        if (n > 0) {
            if (p.revents & (events | POLLERR | POLLHUP | POLLNVAL)) return true;
        } else if (n < 0 && errno != EINTR) {
            *error = errno;
            return true;  // the read or write that follows reports the failure
        }
    }
}

int64_t DeadlineUs(uint32_t multiplierMs, uint32_t constantMs, size_t count) {
    const int64_t totalMs = static_cast<int64_t>(multiplierMs) * static_cast<int64_t>(count) +
                            static_cast<int64_t>(constantMs);
    return NowMicroseconds() + totalMs * 1000;
}

}  // namespace

std::string SerialStatus::Text() const {
    switch (Result) {
        case SerialResult::Ok:
            return {};
        case SerialResult::InvalidHandle:
            return "no open port";
        case SerialResult::BadName:
            return "not a port name";
        case SerialResult::TimedOut:
            return "timed out";
        case SerialResult::Failed:
            break;
    }
    return Error ? std::strerror(Error) : "failed";
}

std::string SerialDevicePath(const std::string& name) {
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return {};
    char* end = nullptr;
    const long n = std::strtol(name.c_str() + 3, &end, 10);
    if (*end != '\0' || n < 1 || !std::isdigit(static_cast<unsigned char>(name[3]))) return {};
    if (const char* path = std::getenv(("BX_" + name).c_str()); path && *path) return path;
    return "/dev/ttyS" + std::to_string(n - 1);
}

SerialHandle OpenSerialPort(const std::string& name, SerialStatus* status) {
    SerialStatus local;
    SerialStatus& result = status ? *status : local;
    const std::string path = SerialDevicePath(name);
    if (path.empty()) {
        result = Fail(SerialResult::BadName);
        return INVALID_SERIAL_HANDLE;
    }
    // No O_CREAT: only an existing device opens. O_NONBLOCK so a port waiting for carrier
    // does not hold the open; the waits are poll()'s.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::ioctl(fd, TIOCEXCL) != 0) {  // a file that is no terminal fails here
        result = Fail(SerialResult::Failed, errno);
        if (fd >= 0) ::close(fd);
        return INVALID_SERIAL_HANDLE;
    }
    std::lock_guard lock(TableMutex());
    const SerialHandle handle = ++LastHandle();
    Table()[handle] = Port{fd, {}};
    result = {};
    return handle;
}

SerialStatus SetSerialLine(SerialHandle handle, const SerialLine& line) {
    Port port;
    if (!Find(handle, &port)) return Fail(SerialResult::InvalidHandle);
    termios t{};
    if (::tcgetattr(port.Fd, &t) != 0) return Fail(SerialResult::Failed, errno);
    const speed_t speed = SpeedOf(line.Baud);
    if (speed == B0 || line.DataBits < 5 || line.DataBits > 8) {
        return Fail(SerialResult::Failed, EINVAL);
    }
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag = (t.c_cflag & ~CSIZE) | kSizes[line.DataBits - 5];
    t.c_cflag &= ~(PARENB | PARODD | CSTOPB | CRTSCTS);
    if (line.Parity != 0) t.c_cflag |= PARENB | (line.Parity == 1 ? PARODD : 0);
    if (line.StopBits == 2) t.c_cflag |= CSTOPB;
    if (line.CtsFlow) t.c_cflag |= CRTSCTS;
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 0;  // reads never block in the driver; poll() does the waiting
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(port.Fd, TCSANOW, &t) != 0) return Fail(SerialResult::Failed, errno);
    int lines = (line.Dtr ? TIOCM_DTR : 0) | (line.Rts ? TIOCM_RTS : 0);
    // A port without modem lines (a pseudo-terminal) refuses this; that is no failure.
    if (lines && ::ioctl(port.Fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        return Fail(SerialResult::Failed, errno);
    }
    return {};
}

SerialStatus SetSerialTimeouts(SerialHandle handle, const SerialTimeouts& timeouts) {
    std::lock_guard lock(TableMutex());
    auto it = Table().find(handle);
    if (it == Table().end()) return Fail(SerialResult::InvalidHandle);
    it->second.Timeouts = timeouts;
    return {};
}

SerialStatus ReadSerial(SerialHandle handle, void* buffer, size_t count, size_t* got,
                        uint32_t waitLimitMs) {
    *got = 0;
    Port port;
    if (!Find(handle, &port)) return Fail(SerialResult::InvalidHandle);
    const SerialTimeouts& to = port.Timeouts;
    const int64_t totalDeadline =
        std::min(DeadlineUs(to.ReadTotalMultiplier, to.ReadTotalConstant, count),
                 DeadlineUs(0, waitLimitMs, 0));
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (*got < count) {
        int64_t deadline = totalDeadline;
        if (*got > 0 && to.ReadInterval > 0) {
            deadline = std::min(deadline, NowMicroseconds() + int64_t{to.ReadInterval} * 1000);
        }
        const ssize_t n = ::read(port.Fd, bytes + *got, count - *got);
        if (n > 0) {
            *got += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return Fail(SerialResult::Failed, errno);
        int error = 0;
        if (!WaitReady(port.Fd, POLLIN, deadline, &error)) return Fail(SerialResult::TimedOut);
        if (error) return Fail(SerialResult::Failed, error);
    }
    return {};
}

SerialStatus WriteSerial(SerialHandle handle, const void* data, size_t count, size_t* written) {
    *written = 0;
    Port port;
    if (!Find(handle, &port)) return Fail(SerialResult::InvalidHandle);
    const SerialTimeouts& to = port.Timeouts;
    const int64_t deadline = DeadlineUs(to.WriteTotalMultiplier, to.WriteTotalConstant, count);
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (*written < count) {
        const ssize_t n = ::write(port.Fd, bytes + *written, count - *written);
        if (n > 0) {
            *written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return Fail(SerialResult::Failed, errno);
        int error = 0;
        if (!WaitReady(port.Fd, POLLOUT, deadline, &error)) return Fail(SerialResult::TimedOut);
        if (error) return Fail(SerialResult::Failed, error);
    }
    return {};
}

SerialStatus FlushSerial(SerialHandle handle) {
    Port port;
    if (!Find(handle, &port)) return Fail(SerialResult::InvalidHandle);
    if (::tcflush(port.Fd, TCIOFLUSH) != 0) return Fail(SerialResult::Failed, errno);
    return {};
}

bool CloseSerialPort(SerialHandle handle) {
    int fd = -1;
    {
        std::lock_guard lock(TableMutex());
        auto it = Table().find(handle);
        if (it == Table().end()) return false;
        fd = it->second.Fd;
        Table().erase(it);
    }
    ::ioctl(fd, TIOCNXCL);
    return ::close(fd) == 0;
}

}  // namespace bx::kernel
