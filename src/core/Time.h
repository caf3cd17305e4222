// The only clocks and waits of the system. Every time-out and every elapsed
// figure in the log is measured with TickMs; every pause goes through DelayMs.
#pragma once

#include <cstdint>

namespace zuro {

/// Delays at or above this length hand their time to the installed event pump.
constexpr std::uint32_t kPumpedDelayMinMs = 170;

/// Milliseconds since an arbitrary start; a 32-bit counter that wraps.
std::uint32_t TickMs();

/// Waits `ms` milliseconds and returns 0. Below kPumpedDelayMinMs a plain
/// sleep; from there on the installed event pump runs until the time is up
/// (with no pump installed, a sleep).
int DelayMs(std::uint32_t ms);

/// Milliseconds elapsed since `startTick`, correct across one wrap of TickMs.
inline std::uint32_t ElapsedMs(std::uint32_t startTick) { return TickMs() - startTick; }

/// The local offset from UTC in seconds, positive east of Greenwich, one hour
/// more while daylight saving time is in force (7200 in Central European summer time).
std::int32_t UtcOffsetSeconds();

}  // namespace zuro
