// Helpers for the simulator's tests: a simulated device on an in-process
// line in virtual time, boot-loader frames built here from the frame format
// (not with the updater's host code), a scripted full flash, and a small
// client for the pty tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bsl/ImageText.h"
#include "core/Text.h"
#include "sim/SimSetup.h"

namespace zuro::sim::test {

/// A simulated device of `kind` on an in-process line, driven in virtual time.
struct SimFixture {
  explicit SimFixture(const char* kind = "du70", DeviceConfig device = {}, LineConfig line = {}) {
    device.profile = ProfileByName(kind);
    simLine = MakeDeviceLine(device, line);
  }
  SimLine& Line() { return *simLine; }
  SimDevice& Device() { return DeviceOf(*simLine); }
  std::string Ex(const std::string& bytes, SimTime waitUs = kDefaultExchangeWaitUs) {
    return simLine->Exchange(bytes, waitUs);
  }
  std::unique_ptr<SimLine> simLine;
};

/// A boot-loader frame: letter, fields, '.', the checksum (sum of the
/// characters before it as signed bytes, modulo 0xFFFF) in four hex digits, CR.
inline std::string Frame(char letter, const std::string& fields) {
  std::string body = std::string(1, letter) + fields + ".";
  long sum = 0;
  for (const char c : body) {
    sum += static_cast<signed char>(c);
  }
  return body + StrFormat("%04lX\r", sum % 0xFFFF);
}

inline std::string AddressField(std::uint32_t address, bool fiveDigits) {
  return fiveDigits ? StrFormat("%05X", address) : StrFormat("%04X", address & 0xFFFF);
}

inline std::string ReadSourceFile(const std::string& relative) {
  std::ifstream in(std::string(ZURO_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

/// The committed Du70 2.30 image, converted from its TI-TXT file.
inline FirmwareImage Du70Image() {
  FirmwareImage image;
  ConvertTiTxt(ReadSourceFile("firmware/du70-2.30.txt"), image);
  return image;
}

/// Counts of what a scripted update saw.
struct FlashRun {
  bool connected = false;
  int refused = 0;
  int frames = 0;
  std::string lastAnswer;
};

/// Runs an update through the boot loader as the host would: boot request,
/// contact, version, INFO and main-flash erase, the image in 512-character
/// W blocks, the vectors. Stops at the first answer that is not '+'.
inline FlashRun ScriptedFlash(SimLine& line, const MemoryLayout& layout, const FirmwareImage& image,
                              bool viaBootRequest = true) {
  FlashRun run;
  const bool five = layout.extendedAddressing;
  if (viaBootRequest && line.Exchange("boot KWAX\r").find("OK") == std::string::npos) {
    return run;
  }
  line.SetHostBaud(layout.bootLoaderBaud);
  if (line.Exchange("\r").find('$') == std::string::npos ||
      line.Exchange("P").find('#') == std::string::npos) {
    return run;
  }
  run.connected = true;
  const auto send = [&](const std::string& frame) {
    ++run.frames;
    run.lastAnswer = line.Exchange(frame);
    if (run.lastAnswer.empty() || (run.lastAnswer[0] != '+')) {
      ++run.refused;
      return false;
    }
    return true;
  };
  if (!send(Frame('g', ""))) {
    return run;
  }
  for (std::uint32_t s = 0; s < layout.infoSegments; ++s) {
    if (!send(Frame('X', AddressField(layout.infoStart + s * layout.infoSegmentSize, five)))) {
      return run;
    }
  }
  for (std::uint32_t a = layout.flashStart; a < layout.eraseEnd;) {
    if (!send(Frame('X', AddressField(a, five)))) {
      return run;
    }
    a += 512;
    if (a >= 0xFA00 && a <= 0xFFFF) {
      a = 0x10000;
    }
  }
  std::string block;
  const auto flush = [&]() {
    if (block.empty()) {
      return true;
    }
    const bool ok = send(Frame('W', block));
    block.clear();
    return ok;
  };
  for (std::size_t i = 0; i < image.text.size();) {
    if (image.text[i] == '@') {
      if (!flush()) {
        return run;
      }
      const std::uint32_t address =
          static_cast<std::uint32_t>(std::stoul(image.text.substr(i + 1, 5), nullptr, 16));
      if (!send(Frame('@', AddressField(address, five)))) {
        return run;
      }
      i += 6;
      continue;
    }
    block.push_back(image.text[i++]);
    if (block.size() == 512 && !flush()) {
      return run;
    }
  }
  if (!flush()) {
    return run;
  }
  std::string vectors;
  for (const auto v : image.vectors) {
    vectors += StrFormat("%04X", v);
  }
  send(Frame('V', vectors));
  line.SetHostBaud(9600); // the restarted firmware talks at 9600
  return run;
}

/// The host's side of a pty: raw 8N1 at a baud, reads with a deadline.
class PtyClient {
public:
  explicit PtyClient(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ >= 0) {
      SetBaud(B9600);
    }
  }
  ~PtyClient() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  bool IsOpen() const { return fd_ >= 0; }
  void SetBaud(speed_t speed) {
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  void Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else {
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 100);
      }
    }
  }
  /// Reads until `end` arrives or `deadlineMs` pass (a generous bound, not a
  /// timing check).
  std::string ReadUntil(char end, int deadlineMs = 5000) {
    std::string got;
    for (int waited = 0; waited < deadlineMs; waited += 20) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) {
        char buffer[512];
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n > 0) {
          got.append(buffer, static_cast<std::size_t>(n));
          if (got.find(end) != std::string::npos) {
            return got;
          }
        }
      }
    }
    return got;
  }
  std::string Exchange(const std::string& bytes, char end = '>', int deadlineMs = 5000) {
    Write(bytes);
    return ReadUntil(end, deadlineMs);
  }

private:
  int fd_ = -1;
};

#ifdef ZURO_SIM_PROGRAM
/// zurobsl-sim run as a program, as a person or an end-to-end test runs it:
/// started with `args`, its pty path read from the first line it prints.
class SimProgram {
public:
  explicit SimProgram(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) {
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(ZURO_SIM_PROGRAM));
      for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
      }
      argv.push_back(nullptr);
      execv(ZURO_SIM_PROGRAM, argv.data());
      _exit(127);
    }
    close(out[1]);
    char c = 0;
    while (pid_ > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
      path_.push_back(c);
    }
    close(out[0]);
  }
  ~SimProgram() {
    if (pid_ > 0) {
      (void)Terminate();
    }
  }
  SimProgram(const SimProgram&) = delete;
  SimProgram& operator=(const SimProgram&) = delete;

  /// The slave path it printed; empty when it did not start.
  const std::string& Path() const { return path_; }
  /// Stops it as Ctrl-C would and returns its exit status (-1 when it did not exit).
  int Terminate() {
    kill(pid_, SIGTERM);
    int status = 0;
    const bool exited = waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status);
    pid_ = -1;
    return exited ? WEXITSTATUS(status) : -1;
  }

private:
  pid_t pid_ = -1;
  std::string path_;
};
#endif

} // namespace zuro::sim::test
