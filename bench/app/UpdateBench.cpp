// A whole Du70 update against the simulator paced at 9600 baud with real flash
// times, measured against its floor: the bytes on the wire at 10 bits a byte,
// the simulated flash erase and write times, and the waits the update makes
// on its own (the same update's time on an instant line, where neither wire
// nor flash costs anything). Also the longest stretch without an event-pump
// call (how long a window would look frozen) and the updater thread's CPU
// time as a share of the wall time. Prints the figures; run by hand.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/SimHarness.h"
#include "app/TempFolder.h"
#include "app/UpdateSession.h"
#include "sim/BootLoader.h"

using namespace zuro;

namespace {

constexpr double kBaud = 9600.0;
constexpr double kBitsPerByte = 10.0;
constexpr std::size_t kFrameOverheadChars = 6; ///< '.', four checksum digits, CR
constexpr std::size_t kCharsPerWord = 4;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

/// A silent front end that notes when the update hands it control.
class BenchFrontEnd : public UpdateFrontEnd {
public:
  void WaitAndDispatch(std::uint32_t maxWaitMs) override {
    const Clock::time_point in = Clock::now();
    if (lastOut_ != Clock::time_point{}) {
      const Clock::duration gap = in - lastOut_;
      if (gap > longestGap) {
        longestGap = gap;
        longestGapStatus = StatusText();
      }
    }
    ++calls;
    if (maxWaitMs > 0) {
      timespec pause{0, static_cast<long>(std::min<std::uint32_t>(maxWaitMs, kSliceMs)) * 1000000L};
      nanosleep(&pause, nullptr);
    }
    lastOut_ = Clock::now();
  }
  Clock::duration longestGap{};
  std::string longestGapStatus;
  std::uint64_t calls = 0;

protected:
  void PresentStatus(const std::string&, bool) override {}
  void PresentProgress(int) override {}
  void PresentNotice(const std::string& text, const std::string& caption, NoticeKind) override {
    std::fprintf(stderr, "notice %s: %s\n", caption.c_str(), text.c_str());
  }
  bool PresentQuestion(const std::string&, const std::string&) override { return false; }

private:
  static constexpr std::uint32_t kSliceMs = 10;
  Clock::time_point lastOut_{};
};

struct RunFigures {
  Result result = 0;
  double wallS = 0.0;
  double cpuS = 0.0;
  double longestGapS = 0.0;
  std::string longestGapStatus;
  std::uint64_t pumpCalls = 0;
  std::size_t toDevice = 0;
  std::size_t toHost = 0;
  std::size_t erasedSegments = 0;
  std::size_t wordsWritten = 0;
};

RunFigures RunUpdate(const std::vector<std::string>& simArgs) {
  RunFigures f;
  test::SimHarness sim(simArgs);
  if (!sim.Ok()) {
    std::fprintf(stderr, "simulator: %s\n", sim.Error().c_str());
    f.result = -1;
    return f;
  }
  test::TempFolder folder;
  BenchFrontEnd front;
  UpdateSession session(front, Du70Target(), folder.Path());
  front.Options().commPortName = sim.Port();
  sim.WithLine([](sim::SimLine& line) { line.Record().Clear(); });

  const double cpu0 = ThreadCpuSeconds();
  const Clock::time_point t0 = Clock::now();
  f.result = session.StartUpdate().result;
  f.wallS = Seconds(Clock::now() - t0);
  f.cpuS = ThreadCpuSeconds() - cpu0;
  f.longestGapS = Seconds(front.longestGap);
  f.longestGapStatus = front.longestGapStatus;
  f.pumpCalls = front.calls;

  const std::string out = sim.WithLine(
      [](sim::SimLine& line) { return line.Record().AllBytes(sim::LineDirection::kToDevice); });
  f.toDevice = out.size();
  f.toHost = sim.WithLine([](sim::SimLine& line) {
    return line.Record().AllBytes(sim::LineDirection::kToHost).size();
  });
  // Boot-loader frames: one X per erased segment, W frames carry four
  // characters per flash word.
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\r', start);
    if (end == std::string::npos) {
      end = out.size();
    }
    const std::string frame = out.substr(start, end - start);
    if (!frame.empty() && frame[0] == 'X') {
      ++f.erasedSegments;
    } else if (frame.size() > kFrameOverheadChars && frame[0] == 'W') {
      f.wordsWritten += (frame.size() - kFrameOverheadChars) / kCharsPerWord;
    }
    start = end + 1;
  }
  return f;
}

} // namespace

int main() {
  std::printf("Du70 update 2.20 -> 2.30 against zurobsl-sim\n");
  const RunFigures instant = RunUpdate({"--kind", "du70", "--version", "2.20"});
  std::printf("instant line:  result %d, %.2f s (the update's own waits)\n", instant.result,
              instant.wallS);
  const RunFigures paced =
      RunUpdate({"--kind", "du70", "--version", "2.20", "--pace", "--realtime-flash"});
  if (paced.result != 1 || instant.result != 1) {
    std::printf("an update failed; no figures\n");
    return 1;
  }
  const double wireS = static_cast<double>(paced.toDevice + paced.toHost) * kBitsPerByte / kBaud;
  const double flashS =
      (static_cast<double>(paced.erasedSegments) * static_cast<double>(sim::kSegmentEraseUs) +
       static_cast<double>(paced.wordsWritten) * static_cast<double>(sim::kWordWriteUs)) /
      1e6;
  const double floorS = wireS + flashS + instant.wallS;
  std::printf("paced line:    result %d, %.2f s wall\n", paced.result, paced.wallS);
  std::printf("wire:          %zu bytes to the device, %zu to the host: %.2f s at 9600 baud\n",
              paced.toDevice, paced.toHost, wireS);
  std::printf("flash:         %zu segments erased, %zu words written: %.2f s\n",
              paced.erasedSegments, paced.wordsWritten, flashS);
  std::printf("floor:         %.2f s (wire + flash + waits)\n", floorS);
  std::printf("ratio:         %.3f (aim: 1.05 or less)\n", paced.wallS / floorS);
  std::printf("longest stretch without an event-pump call: %.0f ms during \"%s\" (aim: 100 ms "
              "or less); %llu pump calls\n",
              paced.longestGapS * 1000.0, paced.longestGapStatus.c_str(),
              static_cast<unsigned long long>(paced.pumpCalls));
  std::printf("updater CPU:   %.2f s of %.2f s wall = %.2f%% (aim: under 2%%)\n", paced.cpuS,
              paced.wallS, 100.0 * paced.cpuS / paced.wallS);
  return 0;
}
