// The POSIX side of a serial port: termios, poll and the exclusive-open rules.
// Linux first; macOS keeps the same calls apart from the higher baud rates.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "core/Time.h"
#include "serial/SerialBackend.h"

namespace zuro {

namespace {

constexpr const char* kDevFolder = "/dev/";
constexpr const char* kProbedPortStem = "/dev/ttyS"; ///< built-in UARTs; ttyS0 is number 1
constexpr long kNanosPerMs = 1000000;

/// The errors the update sequence words specially get their fixed codes; the
/// others pass through as negated error numbers. EIO is a device node with no
/// hardware behind it (an empty UART slot); passed through as -5 it would
/// read as "in use".
Result MapOpenError(int err) {
  switch (err) {
  case ENOENT:
  case ENODEV:
  case ENXIO:
  case EIO:
  case ENOTDIR:
  case ELOOP:
    return kErrPortUnavailable;
  case EBUSY:
  case EWOULDBLOCK:
    return kErrPortInUse;
  case ENAMETOOLONG:
    return kErrPortNameTooLong;
  case EISDIR:
  case ENOTTY:
    return kErrPortNotSerial;
  default:
    return -err;
  }
}

struct BaudEntry {
  std::uint32_t rate;
  speed_t code;
};

constexpr BaudEntry kBaudTable[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

bool BaudCode(std::uint32_t rate, speed_t& code) {
  for (const BaudEntry& entry : kBaudTable) {
    if (entry.rate == rate) {
      code = entry.code;
      return true;
    }
  }
  return false;
}

/// Whether another program already made the port exclusive. Root may open
/// such a port anyway; it must then count as in use and stay untouched.
bool HeldExclusively(int fd) {
#ifdef TIOCGEXCL
  int exclusive = 0;
  return ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
#else
  (void)fd;
  return false;
#endif
}

/// Modem-control requests that a pseudo-terminal refuses are not errors.
bool ModemControlUnsupported(int err) {
  return err == ENOTTY || err == EINVAL;
}

class SerialBackendPosix final : public SerialBackend {
public:
  SerialBackendPosix() = default;
  ~SerialBackendPosix() override { Close(); }
  SerialBackendPosix(const SerialBackendPosix&) = delete;
  SerialBackendPosix& operator=(const SerialBackendPosix&) = delete;

  Result Open(const std::string& devicePath) override {
    Close();
    // Only character devices that are terminals are ports; checking before
    // the open keeps regular files, folders and pipes from being opened at all.
    struct stat info {};
    if (::stat(devicePath.c_str(), &info) != 0) {
      return MapOpenError(errno);
    }
    if (!S_ISCHR(info.st_mode)) {
      return kErrPortNotSerial;
    }
    // Non-blocking so a port without carrier does not hang the open.
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      return MapOpenError(errno);
    }
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode) || ::isatty(fd) == 0) {
      ::close(fd);
      return kErrPortNotSerial;
    }
    // The lock comes before TIOCEXCL: a port that someone else holds must be
    // left exactly as it was. TIOCEXCL alone would not stop root.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      ::close(fd);
      return MapOpenError(err);
    }
    if (HeldExclusively(fd)) {
      ::close(fd); // root got past another program's TIOCEXCL; leave that program be
      return kErrPortInUse;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
      const int err = errno;
      ::close(fd);
      return MapOpenError(err);
    }
    fd_ = fd;
    return 0;
  }

  bool IsOpen() const override { return fd_ >= 0; }
  long Handle() const override { return fd_; }

  Result SetQueueSizes(std::uint32_t /*receiveBytes*/, std::uint32_t /*transmitBytes*/) override {
    // POSIX drivers keep queues of their own size (4 kB and more); nothing to set.
    return fd_ >= 0 ? 0 : -EBADF;
  }

  Result ReadLineSettings() override {
    if (::tcgetattr(fd_, &settings_) != 0) {
      return -errno;
    }
    return 0;
  }

  Result ApplyLineSettings(std::uint32_t baud) override {
    speed_t code = B0;
    if (!BaudCode(baud, code)) {
      return -EINVAL;
    }
    termios t = settings_;
    // Raw bytes both ways: no translation, no echo, no line editing, no
    // signals, no software flow control, parity errors not marked.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    // 8N1 without hardware flow control; CLOCAL so a missing carrier does
    // not block reads or hang the line up.
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    // Reads never block in the driver; the first-byte wait is a poll.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, code) != 0 || ::cfsetospeed(&t, code) != 0) {
      return -errno;
    }
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
      return -errno;
    }
    settings_ = t;
    return 0;
  }

  Result SetTimeouts(std::uint32_t firstByteMs, std::uint32_t writePerByteMs,
                     std::uint32_t writeExtraMs) override {
    if (fd_ < 0) {
      return -EBADF;
    }
    firstByteMs_ = firstByteMs;
    writePerByteMs_ = writePerByteMs;
    writeExtraMs_ = writeExtraMs;
    return 0;
  }

  Result RaiseModemLines() override {
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd_, TIOCMBIS, &lines) != 0 && !ModemControlUnsupported(errno)) {
      return -errno;
    }
    return 0;
  }

  Result SetBaud(std::uint32_t baud) override {
    speed_t code = B0;
    if (!BaudCode(baud, code)) {
      return -EINVAL;
    }
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) {
      return -errno;
    }
    if (::cfsetispeed(&t, code) != 0 || ::cfsetospeed(&t, code) != 0) {
      return -errno;
    }
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
      return -errno;
    }
    settings_ = t;
    return 0;
  }

  Result Read(void* buffer, std::size_t length) override {
    if (fd_ < 0) {
      return -EBADF;
    }
    if (length == 0) {
      return 0;
    }
    const Result first = ReadNow(buffer, length);
    if (first != 0) {
      return first;
    }
    const std::uint32_t start = TickMs();
    for (;;) {
      const std::uint32_t elapsed = ElapsedMs(start);
      if (elapsed >= firstByteMs_) {
        return 0;
      }
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, static_cast<int>(firstByteMs_ - elapsed));
      if (ready < 0) {
        if (errno == EINTR) {
          continue;
        }
        return -errno;
      }
      if (ready == 0) {
        return 0;
      }
      const Result got = ReadNow(buffer, length);
      if (got != 0) {
        return got;
      }
      if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return -EIO; // the device went away (adapter pulled, pty master closed)
      }
    }
  }

  Result Write(const void* data, std::size_t length) override {
    if (fd_ < 0) {
      return -EBADF;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const std::uint64_t allowedMs =
        static_cast<std::uint64_t>(writePerByteMs_) * length + writeExtraMs_;
    const std::uint32_t start = TickMs();
    std::size_t done = 0;
    while (done < length) {
      const ssize_t n = ::write(fd_, bytes + done, length - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        const int err = errno;
        return done > 0 ? static_cast<Result>(done) : -err;
      }
      // The driver's queue is full: wait for room within the write time-out.
      const std::uint32_t elapsed = ElapsedMs(start);
      if (elapsed >= allowedMs) {
        break;
      }
      const std::uint64_t left = allowedMs - elapsed;
      pollfd p{fd_, POLLOUT, 0};
      const int ready = ::poll(&p, 1, left > INT32_MAX ? INT32_MAX : static_cast<int>(left));
      if (ready < 0 && errno != EINTR) {
        const int err = errno;
        return done > 0 ? static_cast<Result>(done) : -err;
      }
      if (ready > 0 && (p.revents & POLLOUT) == 0 &&
          (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return done > 0 ? static_cast<Result>(done) : -EIO;
      }
    }
    return static_cast<Result>(done);
  }

  Result Purge() override {
    if (fd_ < 0) {
      return -EBADF;
    }
    if (::tcflush(fd_, TCIFLUSH) != 0) {
      return -errno;
    }
    return 0;
  }

  Result Close() override {
    if (fd_ < 0) {
      return 0;
    }
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd_, TIOCMBIC, &lines); // refused by ptys and by a vanished device alike
    // Without this a non-root reopen of a pseudo-terminal fails with EBUSY.
    ::ioctl(fd_, TIOCNXCL);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
      return -errno;
    }
    return 0;
  }

private:
  /// One non-blocking read: bytes, 0 for nothing yet, or the negated error.
  Result ReadNow(void* buffer, std::size_t length) {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, length);
      if (n >= 0) {
        return static_cast<Result>(n);
      }
      if (errno == EINTR) {
        continue;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return 0;
      }
      return -errno;
    }
  }

  int fd_ = -1;
  termios settings_{};
  std::uint32_t firstByteMs_ = 100;
  std::uint32_t writePerByteMs_ = 10;
  std::uint32_t writeExtraMs_ = 100;
};

} // namespace

std::unique_ptr<SerialBackend> MakePlatformSerialBackend() {
  return std::make_unique<SerialBackendPosix>();
}

std::string PlatformDevicePath(std::string_view portName) {
  if (portName.find('/') == std::string_view::npos) {
    return std::string(kDevFolder) + std::string(portName);
  }
  return std::string(portName);
}

std::string PlatformProbedPortName(int number) {
  return kProbedPortStem + std::to_string(number - 1);
}

bool HighResolutionCounterPresent() {
  timespec resolution{};
  if (::clock_getres(CLOCK_MONOTONIC, &resolution) != 0) {
    return false;
  }
  return resolution.tv_sec == 0 && resolution.tv_nsec <= kNanosPerMs;
}

} // namespace zuro
