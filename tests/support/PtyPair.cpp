#include "support/PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace zuro::test {

PtyPair::PtyPair(bool keepSlaveOpen) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) {
    error_ = std::string("posix_openpt: ") + std::strerror(errno);
    return;
  }
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    error_ = std::string("grantpt/unlockpt: ") + std::strerror(errno);
    ::close(master);
    return;
  }
  char name[128] = {};
  if (::ptsname_r(master, name, sizeof name) != 0) {
    error_ = std::string("ptsname_r: ") + std::strerror(errno);
    ::close(master);
    return;
  }
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  slavePath_ = name;
  master_ = master;
  if (keepSlaveOpen) {
    slaveHold_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  }
}

PtyPair::~PtyPair() {
  ReleaseSlave();
  CloseMaster();
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) {
    ::close(master_);
    master_ = -1;
  }
}

void PtyPair::ReleaseSlave() {
  if (slaveHold_ >= 0) {
    ::close(slaveHold_);
    slaveHold_ = -1;
  }
}

bool PtyPair::SlaveSettings(termios& settings) const {
  const int fd = master_ >= 0 ? master_ : slaveHold_;
  return fd >= 0 && ::tcgetattr(fd, &settings) == 0;
}

std::uint32_t PtyPair::BaudOf(speed_t code) {
  struct Entry {
    speed_t code;
    std::uint32_t rate;
  };
  static constexpr Entry kRates[] = {
      {B0, 0},           {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},
      {B150, 150},       {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},
      {B1800, 1800},     {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
      {B38400, 38400},   {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
      {B921600, 921600},
  };
  for (const Entry& e : kRates) {
    if (e.code == code) {
      return e.rate;
    }
  }
  return 0;
}

std::uint32_t PtyPair::SlaveBaud() const {
  termios t{};
  if (!SlaveSettings(t)) {
    return 0;
  }
  return BaudOf(::cfgetospeed(&t));
}

bool PtyPair::WriteMaster(std::string_view bytes, int timeoutMs) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (master_ < 0) {
      return false;
    }
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    }
    pollfd p{master_, POLLOUT, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) {
      return false;
    }
  }
  return true;
}

std::string PtyPair::ReadMaster(std::size_t count, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string out;
  while (out.size() < count && master_ >= 0) {
    char chunk[4096];
    const std::size_t want = count - out.size() < sizeof chunk ? count - out.size() : sizeof chunk;
    const ssize_t n = ::read(master_, chunk, want);
    if (n > 0) {
      out.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd p{master_, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0 || (p.revents & POLLIN) == 0) {
      break;
    }
  }
  return out;
}

} // namespace zuro::test
