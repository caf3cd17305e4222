#include "sim/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/ResultCodes.h"
#include "core/Time.h"

namespace zuro::sim {

SimClock::SimClock(SimTime origin) : origin_(origin), lastTick_(TickMs()) {}

SimTime SimClock::NowUs() {
  const std::uint32_t tick = TickMs();
  elapsedMs_ += static_cast<std::uint32_t>(tick - lastTick_); // wraps correctly
  lastTick_ = tick;
  // Start at 1 ms: 0 means "nothing due" to the line.
  return origin_ + (elapsedMs_ + 1) * kUsPerMs;
}

std::uint32_t BaudFromSpeed(unsigned speedCode) {
  struct Pair {
    speed_t code;
    std::uint32_t baud;
  };
  static const Pair kRates[] = {
      {B1200, 1200},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},
      {B19200, 19200},   {B38400, 38400},   {B57600, 57600},   {B115200, 115200},
      {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
  };
  for (const auto& r : kRates) {
    if (r.code == speedCode) {
      return r.baud;
    }
  }
  return 0;
}

PtyServer::PtyServer(SimLine& line) : line_(line), clock_(line.Now()) {}

PtyServer::~PtyServer() {
  Stop();
  Close();
}

std::int32_t PtyServer::Open(const std::string& linkPath) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master_ < 0) {
    return -errno;
  }
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    const int err = errno;
    Close();
    return -err;
  }
  char name[128] = {};
  if (ptsname_r(master_, name, sizeof name) != 0) {
    const int err = errno;
    Close();
    return -err;
  }
  slavePath_ = name;
  slaveHold_ = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (slaveHold_ < 0) {
    const int err = errno;
    Close();
    return -err;
  }
  termios tio{};
  if (tcgetattr(master_, &tio) == 0) {
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(master_, TCSANOW, &tio);
  }
  if (pipe(stopPipe_) != 0) {
    const int err = errno;
    Close();
    return -err;
  }
  if (!linkPath.empty()) {
    struct stat st {};
    if (lstat(linkPath.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        Close();
        return -EEXIST; // never replace a real file with a link
      }
      unlink(linkPath.c_str());
    }
    if (symlink(slavePath_.c_str(), linkPath.c_str()) != 0) {
      const int err = errno;
      Close();
      return -err;
    }
    linkPath_ = linkPath;
  }
  return kOk;
}

void PtyServer::Close() {
  if (!linkPath_.empty()) {
    unlink(linkPath_.c_str());
    linkPath_.clear();
  }
  for (int* fd : {&master_, &slaveHold_, &stopPipe_[0], &stopPipe_[1]}) {
    if (*fd >= 0) {
      close(*fd);
      *fd = -1;
    }
  }
}

std::int32_t PtyServer::Start() {
  if (master_ < 0) {
    return kErrNoConnection;
  }
  if (running_.exchange(true)) {
    return kOk;
  }
  thread_ = std::thread([this] { Loop(); });
  return kOk;
}

void PtyServer::Stop() {
  if (!running_.exchange(false)) {
    return;
  }
  const char wake = 1;
  (void)!write(stopPipe_[1], &wake, 1);
  if (thread_.joinable()) {
    thread_.join();
  }
}

std::uint32_t PtyServer::HostBaud() const {
  termios tio{};
  if (tcgetattr(master_, &tio) != 0) {
    return 0;
  }
  return BaudFromSpeed(cfgetospeed(&tio));
}

void PtyServer::Loop() {
  char buffer[kPtyReadChunk];
  while (running_) {
    std::string out;
    SimTime next = 0;
    SimTime now = 0;
    bool full = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      now = clock_.NowUs();
      const std::uint32_t baud = HostBaud();
      if (baud != 0) {
        line_.SetHostBaud(baud);
      }
      out = line_.TakeOutput(now);
      next = line_.NextWakeAt();
      full = line_.InputBacklog() >= kPtyMaxBacklog;
    }
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t n = write(master_, out.data() + done, out.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        // Nobody reads the port and its queue is full: a UART's bytes are
        // simply lost then.
        bytesDropped_ += out.size() - done;
        break;
      }
    }
    int timeoutMs = kPtyIdlePollMs;
    if (next != 0) {
      const SimTime wait = next > now ? next - now : 0;
      timeoutMs = static_cast<int>(std::min<SimTime>((wait + kUsPerMs - 1) / kUsPerMs,
                                                     static_cast<SimTime>(kPtyIdlePollMs)));
    }
    pollfd fds[2] = {{master_, static_cast<short>(full ? 0 : POLLIN), 0},
                     {stopPipe_[0], POLLIN, 0}};
    const int ready = poll(fds, 2, timeoutMs);
    if (ready <= 0) {
      continue;
    }
    if ((fds[1].revents & POLLIN) != 0) {
      break;
    }
    if ((fds[0].revents & POLLIN) != 0) {
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::uint32_t baud = HostBaud();
        if (baud != 0) {
          line_.SetHostBaud(baud);
        }
        line_.HostWrite(std::string_view(buffer, static_cast<std::size_t>(n)), clock_.NowUs());
      }
    }
  }
}

} // namespace zuro::sim
