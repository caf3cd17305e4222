// ZSWait on a pseudo-terminal: the time from the awaited character's arrival
// to the wait's return, in the first quick polls and in the paused phase of
// a long wait, and the CPU time of a 2-second wait on a silent line.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "core/Time.h"
#include "serial/ZuroSerial.h"
#include "support/PtyPair.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTrials = 15;
constexpr std::uint32_t kQuietWaitMs = 2000;

double CpuMs() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
         usage.ru_stime.tv_usec / 1e3;
}

/// Reaction times in ms for a character sent `delayMs` into a wait of `timeoutMs`.
std::vector<double> Reactions(zuro::test::PtyPair& pty, zuro::ZuroSerial& port,
                              std::uint32_t delayMs, std::uint32_t timeoutMs) {
  std::vector<double> times;
  for (int i = 0; i < kTrials; ++i) {
    port.ZSFlush(1);
    Clock::time_point sentAt;
    // Spread the sending moments over a poll period so every phase of the
    // poll is sampled.
    const std::uint32_t offset = delayMs + static_cast<std::uint32_t>(i * 13 % 100);
    std::thread device([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(offset));
      sentAt = Clock::now();
      pty.WriteMaster("\r");
    });
    const zuro::Result r = port.ZSWait(timeoutMs, '\r');
    const Clock::time_point back = Clock::now();
    device.join();
    if (r != 13) {
      std::printf("  trial %d: ZSWait returned %d\n", i, r);
      continue;
    }
    times.push_back(std::chrono::duration<double, std::milli>(back - sentAt).count());
  }
  std::sort(times.begin(), times.end());
  return times;
}

void Report(const char* label, const std::vector<double>& t) {
  if (t.empty()) {
    std::printf("%-46s no samples\n", label);
    return;
  }
  std::printf("%-46s min %7.2f  median %7.2f  max %7.2f ms  (%zu trials)\n", label, t.front(),
              t[t.size() / 2], t.back(), t.size());
}

} // namespace

int main() {
  zuro::test::PtyPair pty;
  if (!pty.Ok()) {
    std::printf("no pseudo-terminal: %s\n", pty.Error().c_str());
    return 1;
  }
  zuro::ZuroSerial port(nullptr);
  if (port.ZSOpen(pty.SlavePath(), 9600) != 1) {
    std::printf("cannot open %s\n", pty.SlavePath().c_str());
    return 1;
  }

  std::printf("ZSWait reaction time (character arrival to return):\n");
  Report("  quick polls (sent 20-120 ms into the wait)", Reactions(pty, port, 20, 1000));
  Report("  short wait, 400 ms (sent 300-400 ms in)", Reactions(pty, port, 300, 400));
  Report("  paused phase (sent 900-1000 ms into 3 s)", Reactions(pty, port, 900, 3000));

  port.ZSFlush(1);
  const double cpuBefore = CpuMs();
  const std::uint32_t start = zuro::TickMs();
  const zuro::Result r = port.ZSWait(kQuietWaitMs, '\r');
  const std::uint32_t wall = zuro::ElapsedMs(start);
  const double cpu = CpuMs() - cpuBefore;
  std::printf("Silent %u ms ZSWait: result %d, wall %u ms, CPU %.2f ms\n", kQuietWaitMs, r, wall,
              cpu);
  port.ZSClose();
  return 0;
}
