// Serves one simulated line on a pseudo-terminal: the host (the updater, a
// terminal program, a test) opens the slave side like any serial port; one
// thread reads the master side with poll, feeds the line in real time, and
// writes the device's answers back when they are due. The baud the host set
// on its side is read from the master with tcgetattr, for pacing and for the
// baud check.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "sim/LineModel.h"
#include "sim/SimLine.h"

namespace zuro::sim {

constexpr int kPtyIdlePollMs = 100; ///< longest poll when nothing is due
constexpr std::size_t kPtyReadChunk = 4096;
/// Host bytes the server lets queue before it stops reading: like a UART's
/// transmit queue, a host that writes faster than the baud then waits.
constexpr std::size_t kPtyMaxBacklog = 4096;

/// Real time for the line: TickMs extended to 64 bits, in microseconds.
class SimClock {
public:
  /// Starts counting at `origin`, so a line that already ran in virtual time
  /// goes on from where it was.
  explicit SimClock(SimTime origin = 0);
  SimTime NowUs();

private:
  SimTime origin_;
  std::uint32_t lastTick_;
  std::uint64_t elapsedMs_ = 0;
};

/// A baud rate from a termios speed code; 0 when the code is not a rate.
std::uint32_t BaudFromSpeed(unsigned speedCode);

class PtyServer {
public:
  explicit PtyServer(SimLine& line);
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  /// Opens the pseudo-terminal (raw, 9600 baud) and, with `linkPath`, a
  /// symbolic link to its slave. 0, or a negated error number.
  std::int32_t Open(const std::string& linkPath = "");
  const std::string& SlavePath() const { return slavePath_; }

  /// Starts and stops the serving thread.
  std::int32_t Start();
  void Stop();

  /// Runs `f(line)` while the serving thread keeps its hands off the line.
  template <class F> auto WithLine(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(line_);
  }

  std::uint64_t BytesDropped() const { return bytesDropped_; }

private:
  void Loop();
  void Close();
  std::uint32_t HostBaud() const;

  SimLine& line_;
  std::mutex mutex_;
  SimClock clock_;
  int master_ = -1;
  int slaveHold_ = -1; ///< keeps the slave open so the master never sees a hang-up
  int stopPipe_[2] = {-1, -1};
  std::string slavePath_;
  std::string linkPath_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<std::uint64_t> bytesDropped_{0};
};

} // namespace zuro::sim
