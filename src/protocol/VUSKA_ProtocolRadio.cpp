// The radio module in front of a device: its own AT command mode for channel,
// sub-channel and firmware version.
#include <cstring>

#include "core/Text.h"
#include "protocol/AnswerParsers.h"
#include "protocol/VUSKA_Protocol.h"

namespace zuro {

namespace {
constexpr std::string_view kEnterCommandMode = "+++";
constexpr int kEnterTries = 2;
constexpr std::uint32_t kRadioAnswerMs = 1500;
constexpr std::uint32_t kRadioStoreMs = 2000;
constexpr std::uint32_t kRadioAnswerCapacity = 32;
constexpr std::string_view kStoreCommand = "ATWR\r";
constexpr std::string_view kLeaveCommandMode = "ATCN\r";
constexpr std::string_view kReadVersion = "ATVR\r";
constexpr std::uint32_t kAfterRadioConfigMs = 100;

// Error sum of Kx2Config: one figure per item that failed.
constexpr std::uint32_t kKx2ChannelFailed = 1;
constexpr std::uint32_t kKx2SubChannelFailed = 2;
constexpr std::uint32_t kKx2VersionFailed = 4;
constexpr std::uint32_t kKx2StoreFailed = 8;

/// Channel ("HP", "rch") and sub-channel ("DT", "rsch"): the AT register and
/// the name the log knows it by.
struct RadioItem {
  std::uint32_t bit;
  std::uint32_t* value;
  const char* atName;
  const char* logName;
  std::uint32_t failed;
};

bool HasOk(const char* answer) {
  return std::string_view(answer).find(VUSKA_Protocol::kOkText) != std::string_view::npos;
}
} // namespace

Result VUSKA_Protocol::Kx2Config(std::uint32_t* channel, std::uint32_t* subChannel,
                                 std::string* version, int set, std::uint32_t* flags) {
  if (flags == nullptr) {
    Log(kLogFailures, "Kx2Config: no request bits given");
    return kErrMissingArgument;
  }
  char answer[kRadioAnswerCapacity] = {};
  std::uint32_t length = 0;
  std::uint32_t elapsed = 0;
  // One command to the module; the answer lands in `answer`.
  auto send = [&](std::string_view command, char prompt, std::uint32_t timeoutMs) {
    std::memset(answer, 0, sizeof answer);
    length = sizeof answer;
    return DeviceCommand(command, prompt, timeoutMs, answer, length, elapsed);
  };

  Result entered = kErrProtoRadioModule;
  for (int attempt = 0; attempt < kEnterTries; ++attempt) {
    entered = send(kEnterCommandMode, kPromptOk, kRadioAnswerMs);
    if (entered > 0 && HasOk(answer)) {
      break;
    }
    if (entered > 0) {
      entered = kErrProtoRadioModule;
    }
  }
  if (entered <= 0) {
    Log(kLogFailures, "Kx2Config failed to get into AT command mode: %d (%d ms)", entered,
        static_cast<int>(elapsed));
    *flags = 0;
    return kErrProtoRadioModule;
  }

  const std::uint32_t request = *flags;
  Result result = kDone;
  std::uint32_t done = 0;
  std::uint32_t errors = 0;

  if (set == kWrite) {
    const RadioItem items[] = {
        {kRadioChannelBit, channel, "HP", "rch", kKx2ChannelFailed},
        {kRadioSubChannelBit, subChannel, "DT", "rsch", kKx2SubChannelFailed},
    };
    for (const RadioItem& item : items) {
      if ((request & item.bit) == 0 || item.value == nullptr) {
        continue;
      }
      const std::string command = StrFormat("AT%s%X\r", item.atName, *item.value);
      const Result r = send(command, kPromptOk, kRadioAnswerMs);
      if (r > 0 && HasOk(answer)) {
        Log(kLogDetails, "Kx2Config set %s to %d (%d ms)", item.logName,
            static_cast<int>(*item.value), static_cast<int>(elapsed));
        done |= item.bit;
      } else {
        errors += item.failed;
        if (r <= 0) {
          result = r;
        }
      }
    }
    const Result stored = send(kStoreCommand, kPromptOk, kRadioStoreMs);
    if (stored > 0 && HasOk(answer)) {
      Log(kLogDetails, "Kx2Config saved configuration (%d ms)", static_cast<int>(elapsed));
      result = kDone;
    } else {
      errors += kKx2StoreFailed;
      if (stored <= 0) {
        result = stored;
      }
    }
  } else {
    const RadioItem items[] = {
        {kRadioChannelBit, channel, "HP", "rch", kKx2ChannelFailed},
        {kRadioSubChannelBit, subChannel, "DT", "rsch", kKx2SubChannelFailed},
    };
    for (const RadioItem& item : items) {
      if ((request & item.bit) == 0 || item.value == nullptr) {
        continue;
      }
      const Result r = send(StrFormat("AT%s\r", item.atName), kPromptCr, kRadioAnswerMs);
      if (r <= 0) {
        errors += item.failed;
        continue;
      }
      std::string_view text = AnswerText(answer, length);
      std::uint32_t value = 0;
      if (ScanHex(text, value)) {
        *item.value = value;
        done |= item.bit;
        Log(kLogDetails, "Kx2Config found %s %d (%d ms)", item.logName, static_cast<int>(value),
            static_cast<int>(elapsed));
      } else {
        Log(kLogDetails, "Kx2Config could not find %s (%d ms)", item.logName,
            static_cast<int>(elapsed));
        errors += item.failed;
      }
    }
    if ((request & kRadioVersionBit) != 0 && version != nullptr) {
      const Result r = send(kReadVersion, kPromptCr, kRadioAnswerMs);
      if (r > 0) {
        std::string_view text = AnswerText(answer, length);
        std::string word;
        if (ScanWord(text, kRadioVersionMax, word)) {
          *version = word;
          Log(kLogDetails, "Kx2Config found rver %s (%d ms)", word.c_str(),
              static_cast<int>(elapsed));
          done |= kRadioVersionBit;
        } else {
          Log(kLogDetails, "Kx2Config could not find rver (%d ms)", static_cast<int>(elapsed));
          errors += kKx2VersionFailed;
        }
      } else {
        errors += kKx2VersionFailed;
      }
    }
  }

  Result left = send(kLeaveCommandMode, kPromptOk, kRadioAnswerMs);
  if (left > 0 && !HasOk(answer)) {
    left = kErrProtoCannotDo;
  }
  if (left < 0) {
    Log(kLogFailures, "Kx2Config failed to get out of AT command mode: %d (%d ms)", left,
        static_cast<int>(elapsed));
    return left;
  }
  if (result < 0 || errors != 0) {
    if (done != 0) {
      result = kErrPartialSettings;
    }
    Log(kLogFailures, "Kx2Config failed with error %d and %d (%d ms)", result,
        static_cast<int>(errors), static_cast<int>(elapsed));
  }
  *flags = done;
  Pause(kAfterRadioConfigMs);
  return result;
}

} // namespace zuro
