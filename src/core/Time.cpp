#include "core/Time.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "core/EventPump.h"

namespace zuro {

namespace {
EventPump* gPump = nullptr;

/// Without a pump the wait still goes in slices, so a long delay stays
/// responsive to whatever the caller's platform does between them.
constexpr std::uint32_t kSleepSliceMs = 50;

void SleepMs(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
}  // namespace

EventPump* InstallEventPump(EventPump* pump) {
  EventPump* previous = gPump;
  gPump = pump;
  return previous;
}

EventPump* InstalledEventPump() { return gPump; }

std::uint32_t TickMs() {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

int DelayMs(std::uint32_t ms) {
  if (ms < kPumpedDelayMinMs) {
    SleepMs(ms);
    return 0;
  }
  std::uint32_t start = TickMs();
  std::uint32_t lastSeen = start;
  std::uint32_t waited = 0;  // time already accounted for before a wrap restart
  for (;;) {
    const std::uint32_t now = TickMs();
    if (now < lastSeen) {
      // The counter wrapped: keep what has passed and count on from a new start.
      waited += lastSeen - start;
      start = now;
    }
    lastSeen = now;
    const std::uint32_t passed = waited + (now - start);
    if (passed >= ms) {
      return 0;
    }
    const std::uint32_t remaining = ms - passed;
    if (EventPump* pump = gPump) {
      pump->WaitAndDispatch(remaining);
    } else {
      SleepMs(remaining < kSleepSliceMs ? remaining : kSleepSliceMs);
    }
  }
}

std::int32_t UtcOffsetSeconds() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::int32_t dst = local.tm_isdst > 0 ? 3600 : 0;
  std::tm utc{};
  gmtime_r(&now, &utc);
  utc.tm_isdst = 0;
  const std::time_t back = std::mktime(&utc);
  return static_cast<std::int32_t>(now - back) + dst;
}

}  // namespace zuro
