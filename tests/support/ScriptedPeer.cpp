#include "support/ScriptedPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>

#include "core/Time.h"

namespace zuro::test {

namespace {
/// With no slave open the master reports a hang-up at once; this keeps the
/// peer from spinning until the code under test opens the port.
constexpr int kHangUpRetryMs = 5;
constexpr std::size_t kReadChunk = 4096;
} // namespace

ScriptedPeer::ScriptedPeer(PtyPair& pty) : pty_(pty) {
  int fds[2] = {-1, -1};
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
    wakeRead_ = fds[0];
    wakeWrite_ = fds[1];
  }
  thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  Wake();
  if (thread_.joinable()) {
    thread_.join();
  }
  if (wakeRead_ >= 0) {
    ::close(wakeRead_);
  }
  if (wakeWrite_ >= 0) {
    ::close(wakeWrite_);
  }
}

void ScriptedPeer::Wake() {
  if (wakeWrite_ >= 0) {
    const char one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &one, 1);
  }
}

void ScriptedPeer::Add(Step step) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    steps_.push_back(std::move(step));
  }
  Wake();
}

ScriptedPeer& ScriptedPeer::Expect(std::string bytes, std::uint32_t timeoutMs) {
  Add({Kind::kExpect, std::move(bytes), timeoutMs});
  return *this;
}

ScriptedPeer& ScriptedPeer::Send(std::string bytes, std::uint32_t afterMs) {
  Add({Kind::kSend, std::move(bytes), afterMs});
  return *this;
}

ScriptedPeer& ScriptedPeer::Answer(std::string request, std::string answer, std::uint32_t afterMs) {
  Expect(std::move(request));
  return Send(std::move(answer), afterMs);
}

ScriptedPeer& ScriptedPeer::Silence(std::uint32_t ms) {
  Add({Kind::kSilence, {}, ms});
  return *this;
}

ScriptedPeer& ScriptedPeer::CloseLine(std::uint32_t afterMs) {
  Add({Kind::kClose, {}, afterMs});
  return *this;
}

bool ScriptedPeer::SendNow(std::string_view bytes) {
  return pty_.WriteMaster(bytes);
}

bool ScriptedPeer::WaitDone(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return steps_.empty(); });
}

bool ScriptedPeer::WaitForReceived(std::string_view bytes, std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return received_.find(bytes) != std::string::npos; });
}

std::string ScriptedPeer::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::vector<ScriptedPeer::Chunk> ScriptedPeer::ReceivedChunks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return chunks_;
}

void ScriptedPeer::ClearReceived() {
  std::lock_guard<std::mutex> lock(mutex_);
  received_.clear();
  chunks_.clear();
  matched_ = 0;
}

std::vector<std::string> ScriptedPeer::Failures() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failures_;
}

std::string ScriptedPeer::Garbage(std::size_t count, std::uint32_t seed, std::string_view exclude) {
  std::mt19937 random(seed);
  std::string out;
  out.reserve(count);
  while (out.size() < count) {
    const char c = static_cast<char>(random() & 0xFF);
    if (exclude.find(c) == std::string_view::npos) {
      out.push_back(c);
    }
  }
  return out;
}

std::string ScriptedPeer::Printable(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (u < 0x20 || u >= 0x7F) {
      char hex[8];
      (void)std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void ScriptedPeer::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  bool started = false;
  std::uint32_t stepStart = 0;
  std::size_t sent = 0;
  auto finishStep = [&] {
    steps_.pop_front();
    started = false;
    changed_.notify_all();
  };
  auto fail = [&](std::string why) {
    failures_.push_back(std::move(why));
    steps_.clear(); // the rest of the script no longer fits the conversation
    started = false;
    changed_.notify_all();
  };

  while (!stop_) {
    int timeoutMs = -1;
    bool wantRoom = false;
    if (!steps_.empty()) {
      Step& step = steps_.front();
      if (!started) {
        started = true;
        stepStart = TickMs();
        sent = 0;
      }
      const std::uint32_t elapsed = ElapsedMs(stepStart);
      const int left = elapsed >= step.ms ? 0 : static_cast<int>(step.ms - elapsed);
      if (step.kind == Kind::kExpect) {
        const std::size_t at = received_.find(step.bytes, matched_);
        if (at != std::string::npos) {
          matched_ = at + step.bytes.size();
          finishStep();
          continue;
        }
        if (left == 0) {
          fail("expected \"" + Printable(step.bytes) + "\" within " + std::to_string(step.ms) +
               " ms; received since the last match: \"" +
               Printable(std::string_view(received_).substr(matched_)) + "\"");
          continue;
        }
        timeoutMs = left;
      } else if (left > 0) {
        timeoutMs = left;
      } else if (step.kind == Kind::kSilence) {
        finishStep();
        continue;
      } else if (step.kind == Kind::kClose) {
        pty_.CloseMaster();
        finishStep();
        continue;
      } else { // kSend, due now
        const int fd = pty_.MasterFd();
        if (fd < 0) {
          fail("cannot send \"" + Printable(step.bytes) + "\": the line is closed");
          continue;
        }
        const ssize_t n = ::write(fd, step.bytes.data() + sent, step.bytes.size() - sent);
        if (n > 0) {
          sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
          fail("sending \"" + Printable(step.bytes) + "\" failed (errno " + std::to_string(errno) +
               ")");
          continue;
        }
        if (sent == step.bytes.size()) {
          finishStep();
          continue;
        }
        wantRoom = true; // the port's input queue is full until it reads
      }
    }

    const int master = pty_.MasterFd();
    lock.unlock();
    pollfd fds[2] = {{wakeRead_, POLLIN, 0},
                     {master, static_cast<short>(POLLIN | (wantRoom ? POLLOUT : 0)), 0}};
    const nfds_t count = master >= 0 ? 2 : 1;
    ::poll(fds, count, timeoutMs);
    if ((fds[0].revents & POLLIN) != 0) {
      char drain[64];
      while (::read(wakeRead_, drain, sizeof drain) > 0) {
      }
    }
    std::string got;
    if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      char buffer[kReadChunk];
      for (;;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0) {
          break;
        }
        got.append(buffer, static_cast<std::size_t>(n));
      }
      if (got.empty() && (fds[1].revents & POLLIN) == 0) {
        ::poll(nullptr, 0, kHangUpRetryMs);
      }
    }
    const std::uint32_t now = TickMs();
    lock.lock();
    if (!got.empty()) {
      received_ += got;
      chunks_.push_back({now, std::move(got)});
      changed_.notify_all();
    }
  }
}

} // namespace zuro::test
