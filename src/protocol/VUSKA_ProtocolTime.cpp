// The instrument's clock in its two dialects (ZuroSeconds, or a date and a
// time of day) and the erase of its stored measurements.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>

#include "core/Text.h"
#include "core/Time.h"
#include "protocol/AnswerParsers.h"
#include "protocol/VUSKA_Protocol.h"

namespace zuro {

namespace {
/// Seconds from 1970-01-01 to 2000-01-01, where the instruments' clocks start.
constexpr std::int64_t kZuroEpochOffset = 946684800;
constexpr std::uint32_t kClockSetMs = 1500;
constexpr std::uint32_t kClockReadMs = 3000;
constexpr std::uint32_t kClockAnswerCapacity = 48;
constexpr std::uint64_t kMaxZuroSeconds = 0x7FFFFFFF;

constexpr std::string_view kEraseConfirm = "yes\r";
/// Erasing the data memory takes a while on the bigger loggers.
constexpr std::uint32_t kEraseAnswerMs = 17000;
constexpr std::uint32_t kEraseAnswerCapacity = 32;
constexpr std::string_view kDataFlashFail = "DataFlash FAIL";
constexpr const char* kSecondsQuery = "get -sec\r";
constexpr const char* kTimeQuery = "get -t\r";
constexpr const char* kOldTimeQuery = "time\r";

bool Contains(const char* answer, std::string_view what) {
  return std::string_view(answer).find(what) != std::string_view::npos;
}

} // namespace

std::int64_t VUSKA_Protocol::ComputerTime() const {
  const std::time_t now = std::time(nullptr);
  return now == static_cast<std::time_t>(-1) ? -1 : static_cast<std::int64_t>(now);
}

Result VUSKA_Protocol::DeviceTime(ZuroSeconds* seconds, int set) {
  if ((settings_.capabilityMask & kCapClock) == 0) {
    if (seconds != nullptr) {
      *seconds = kNoTime;
    }
    return kErrProtoCannotDo;
  }
  const bool countsSeconds = (settings_.capabilityMask & kCapZuroSeconds) != 0;
  const bool newFirmware = settings_.newFirmware != 0;
  const std::uint32_t start = TickMs();
  Result result = kDone;
  char answer[kClockAnswerCapacity] = {};
  std::uint32_t length = 0;
  std::uint32_t elapsed = 0;
  auto send = [&](const std::string& command, std::uint32_t timeoutMs) {
    std::memset(answer, 0, sizeof answer);
    length = sizeof answer;
    return DeviceCommand(command, kPrompt, timeoutMs, answer, length, elapsed);
  };

  if (set == kWrite) {
    ZuroSeconds value = 0;
    std::tm when{};
    if (seconds == nullptr || *seconds == 0) {
      const std::int64_t now = ComputerTime();
      if (now < 0) {
        Log(kLogFailures, "DeviceTime failed to get system time with error %d", errno);
        return kErrNotUnderstood;
      }
      const std::int64_t zuro = now + UtcOffsetSeconds() - kZuroEpochOffset;
      if (zuro < 0 || zuro > static_cast<std::int64_t>(kMaxZuroSeconds)) {
        Log(kLogFailures, "DeviceTime: the computer's clock is outside the instrument's range");
        return kErrNotUnderstood;
      }
      value = static_cast<ZuroSeconds>(zuro);
      if (seconds != nullptr) {
        *seconds = value;
      }
      const auto nowT = static_cast<std::time_t>(now);
      localtime_r(&nowT, &when);
    } else {
      // -1 means "no time": it must not reach the instrument as a date in 2136.
      if (*seconds < 0) {
        Log(kLogFailures, "DeviceTime: %d is not a time to set", *seconds);
        return kErrProtoOutOfRange;
      }
      value = *seconds;
      const auto asUtc = static_cast<std::time_t>(value + kZuroEpochOffset);
      gmtime_r(&asUtc, &when);
    }

    if (!countsSeconds) {
      const Result r =
          send(StrFormat("set -t %d:%d:%d\r", when.tm_hour, when.tm_min, when.tm_sec), kClockSetMs);
      if (r > 0 && Contains(answer, newFirmware ? kOkText : kPromptLine)) {
        Log(kLogDetails, "DeviceTime set device time to %d:%02d:%02d (%d ms)", when.tm_hour,
            when.tm_min, when.tm_sec, static_cast<int>(elapsed));
        result = kDone;
      } else {
        result = r > 0 ? kErrNotUnderstood : r;
      }
    }
    const std::string command =
        countsSeconds
            ? StrFormat("set -sec %lu\r", static_cast<unsigned long>(value))
            : StrFormat("set -d %d-%d-%d\r", when.tm_year + 1900, when.tm_mon + 1, when.tm_mday);
    const Result r = send(command, kClockSetMs);
    const bool accepted = r > 0 && (Contains(answer, kOkText) ||
                                    (!newFirmware && std::strchr(answer, kPrompt) != nullptr));
    if (accepted) {
      if (countsSeconds) {
        Log(kLogDetails, "DeviceTime set device zuroseconds to %d (%d ms)", value,
            static_cast<int>(elapsed));
      } else {
        Log(kLogDetails, "DeviceTime set device date to %d-%d-%d (%d ms)", when.tm_year + 1900,
            when.tm_mon + 1, when.tm_mday, static_cast<int>(elapsed));
      }
      result = kDone;
    } else {
      // Only the date (or seconds) command decides: a failed time of day alone does not.
      result = r > 0 ? kErrNotUnderstood : r;
    }
  } else {
    if (seconds == nullptr) {
      Log(kLogFailures, "DeviceTime: no place for the time read");
      return kErrMissingArgument;
    }
    const std::string command =
        countsSeconds ? kSecondsQuery : (newFirmware ? kTimeQuery : kOldTimeQuery);
    const Result r = send(command, kClockReadMs);
    if (r <= 0) {
      result = kErrNotUnderstood;
    } else if (countsSeconds) {
      std::string_view text = AnswerText(answer, length);
      std::uint64_t value = 0;
      if (!ScanUnsigned(text, value)) {
        result = kErrNotUnderstood;
      } else {
        if (value > kMaxZuroSeconds) {
          *seconds = 0;
          result = kErrNotUnderstood;
        } else {
          *seconds = static_cast<ZuroSeconds>(value);
          result = kDone;
        }
        Log(kLogDetails, "DeviceTime found device date/timr %ld ZuroSeconds (%d ms)",
            static_cast<long>(*seconds), static_cast<int>(elapsed));
      }
    } else {
      DeviceDateTime when;
      if (!ParseDeviceDateTime(AnswerText(answer, length), when)) {
        result = kErrNotUnderstood;
      } else {
        // The device's date is local time; read it with the computer's
        // current daylight-saving state, as the device keeps no zone.
        const std::int64_t now = ComputerTime();
        const auto nowT = static_cast<std::time_t>(now < 0 ? 0 : now);
        std::tm local{};
        localtime_r(&nowT, &local);
        std::tm asked{};
        asked.tm_year = when.year - 1900;
        asked.tm_mon = when.month - 1;
        asked.tm_mday = when.day;
        asked.tm_hour = when.hour;
        asked.tm_min = when.minute;
        asked.tm_sec = when.second;
        asked.tm_isdst = local.tm_isdst > 0 ? 1 : 0;
        // A date that does not exist (2021-2-30) would be moved silently by mktime.
        const std::time_t utc =
            IsInstrumentDate(when) ? std::mktime(&asked) : static_cast<std::time_t>(-1);
        const std::int64_t zuro =
            static_cast<std::int64_t>(utc) + UtcOffsetSeconds() - kZuroEpochOffset;
        if (utc == static_cast<std::time_t>(-1) || zuro < 0 ||
            zuro > static_cast<std::int64_t>(kMaxZuroSeconds)) {
          *seconds = 0;
          result = kErrNotUnderstood;
        } else {
          *seconds = static_cast<ZuroSeconds>(zuro);
          result = kDone;
        }
        Log(kLogDetails, "DeviceTime found device date/time %d-%d-%d %d:%02d:%02d or %ld (%d ms)",
            when.year, when.month, when.day, when.hour, when.minute, when.second,
            static_cast<long>(*seconds), static_cast<int>(elapsed));
      }
    }
  }

  if (result < 0) {
    if (set != kWrite && seconds != nullptr) {
      *seconds = kNoTime;
    }
    Log(kLogFailures, "DeviceTime failed with error %d (%d ms)", result,
        static_cast<int>(ElapsedMs(start)));
  }
  return result;
}

Result VUSKA_Protocol::EraseData() {
  const std::uint32_t start = TickMs();
  const bool newFirmware = settings_.newFirmware != 0;
  std::string name;
  const Result checked = newFirmware ? NameInto(name, kRead) : ParseShowCommand(&name);
  if (checked <= 0) {
    Log(kLogFailures, "EraseData failed checking the identity of device (error %d)", checked);
    return kErrProtoWrongDevice;
  }
  // Nothing is erased unless the device on the line is the one connected.
  const std::string expected = settings_.deviceName.substr(0, kDeviceNameMax);
  if (expected.empty() || name.substr(0, kDeviceNameMax) != expected) {
    Log(kLogFailures, "EraseData: Identity mismatch. Class: %s, Device: %s", expected.c_str(),
        name.c_str());
    return kErrProtoWrongDevice;
  }
  char answer[kEraseAnswerCapacity] = {};
  std::uint32_t length = sizeof answer;
  std::uint32_t elapsed = 0;
  const Result r = DeviceCommand(kEraseConfirm, newFirmware ? kPrompt : kPromptErase,
                                 kEraseAnswerMs, answer, length, elapsed);
  Result result = r;
  if (r > 0) {
    if (Contains(answer, kOkText)) {
      Log(kLogDetails, "InitializeDevice erased device data (%d ms)", static_cast<int>(elapsed));
      result = kDone;
    } else if (Contains(answer, kDataFlashFail)) {
      result = kErrDataMemory;
    } else {
      result = kErrNotUnderstood;
    }
  } else if (r == kErrProtoErrorAnswer || r == kErrProtoLastSilent || r == kErrNoAnswer) {
    result = kErrDataMemory;
  }
  if (result == kErrDataMemory) {
    Log(kLogFailures, "EraseData failed due to a broken DataFlash (%d ms)",
        static_cast<int>(ElapsedMs(start)));
  } else if (result < 0) {
    Log(kLogFailures, "EraseData failed with error %d (%d ms)", result,
        static_cast<int>(ElapsedMs(start)));
  }
  return result;
}

} // namespace zuro
