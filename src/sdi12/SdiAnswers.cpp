#include "sdi12/SdiAnswers.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/Text.h"

namespace zuro {

namespace {

constexpr char kLineFeed = '\n';
constexpr std::size_t kTypeMaxChars = 3; ///< a type is one character or up to three digits

// Factory defaults of the second calibration. The leading 'a' stands where a
// sensor's answer has its address, so a default reads like an answer.
constexpr const char* kOlderSecondDefault = "a 1 1.44832 1.91683 2.35961 2.991";
constexpr const char* kNewerK4SecondDefault = "a 1 1.39619 2.03054 2.54573 2.9907";
constexpr const char* kNewerJR3SecondDefault = "a 1 1.4724 2.03944 2.5652 2.9907";
/// An answer this short cannot hold a second calibration.
constexpr std::size_t kSecondMinAnswerChars = 9;

/// Firmware versions whose expected second calibration is the newer default.
struct SecondDefaultRange {
  std::uint32_t first;
  std::uint32_t last;
  const char* newer;
};
constexpr SecondDefaultRange kK4Range = {356, 399, kNewerK4SecondDefault};
constexpr SecondDefaultRange kJR3Range = {353, 401, kNewerJR3SecondDefault};

/// Old-format calibrations hold this many numbers.
constexpr int kOldCalibrationNumbers = 9;
constexpr double kConversionScale = 1000.0;

bool IsLineEnd(char c) {
  return c == kSdiLineEnd || c == kLineFeed;
}
bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

/// Up to the first line end.
std::string_view UpToLineEnd(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && !IsLineEnd(text[n])) {
    ++n;
  }
  return text.substr(0, n);
}

/// The text after the address with one leading blank skipped, up to the line
/// end; false when the answer has no address.
bool ValueAfterAddress(std::string_view raw, std::string_view& value) {
  const std::string_view text = SdiAnswerText(raw);
  if (text.empty() || !IsSdiAddress(text[0])) {
    return false;
  }
  std::string_view body = text.substr(1);
  if (!body.empty() && IsBlank(body[0])) {
    body.remove_prefix(1);
  }
  value = UpToLineEnd(body);
  return true;
}

/// Reads one number the way "%f" does (leading white space skipped, sign,
/// exponent); false when none is there or it is not finite.
bool ScanFloat(const char*& cursor, float& value) {
  char* end = nullptr;
  const float v = std::strtof(cursor, &end);
  if (end == cursor || !std::isfinite(v)) {
    return false;
  }
  cursor = end;
  value = v;
  return true;
}

} // namespace

bool IsSdiAddress(char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string_view SdiAnswerText(std::string_view raw) {
  if (raw.size() > kSdiMaxAnswerBytes) {
    raw = raw.substr(0, kSdiMaxAnswerBytes);
  }
  const std::size_t nul = raw.find('\0');
  if (nul != std::string_view::npos) {
    raw = raw.substr(0, nul);
  }
  while (!raw.empty() && IsLineEnd(raw.front())) {
    raw.remove_prefix(1);
  }
  return raw;
}

Result SdiAnswerValue(std::string_view raw, std::size_t maxChars, std::string& value) {
  std::string_view found;
  if (!ValueAfterAddress(raw, found)) {
    value.clear();
    return kErrNotUnderstood;
  }
  BoundedCopy(value, found, maxChars);
  return kDone;
}

Result ParseSdiIdentity(std::string_view raw, SdiIdentity& identity) {
  const std::string_view text = SdiAnswerText(raw);
  if (text.empty() || !IsSdiAddress(text[0])) {
    return kErrNotUnderstood;
  }
  if (text.size() < kIdentityVersionOffset + kIdentityVersionDigits) {
    return kErrNotUnderstood;
  }
  std::uint32_t version = 0;
  for (std::size_t i = 0; i < kIdentityVersionDigits; ++i) {
    const char c = text[kIdentityVersionOffset + i];
    if (!IsDigit(c)) {
      return kErrNotUnderstood;
    }
    version = version * 10 + static_cast<std::uint32_t>(c - '0');
  }
  identity.address = text[0];
  BoundedCopy(identity.info, UpToLineEnd(text.substr(kIdentityInfoOffset)), kSensorInfoMaxChars);
  identity.version = version;
  return kDone;
}

Result ParseSdiType(std::string_view raw, std::uint8_t& type, std::uint8_t& isNumber) {
  std::string_view value;
  if (!ValueAfterAddress(raw, value) || value.empty()) {
    return kErrNotUnderstood;
  }
  value = value.substr(0, kTypeMaxChars);
  if (IsDigit(value[0])) {
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < value.size() && IsDigit(value[i]); ++i) {
      number = number * 10 + static_cast<std::uint32_t>(value[i] - '0');
    }
    type = static_cast<std::uint8_t>(number & 0xFFu);
    isNumber = 1;
    return kDone;
  }
  const auto c = static_cast<unsigned char>(value[0]);
  if (c <= ' ' || c >= 0x7F) {
    return kErrNotUnderstood;
  }
  type = c;
  isNumber = 0;
  return kDone;
}

Result ParseSdiSerial(std::string_view raw, std::string& serial) {
  std::string_view value;
  if (!ValueAfterAddress(raw, value)) {
    serial.clear();
    return kErrNotUnderstood;
  }
  BoundedCopy(serial, value, kSensorSerialMaxChars);
  return serial.empty() ? kOk : kDone;
}

std::uint8_t SdiTypeFromModel(std::string_view sensorInfo) {
  for (const SdiModelType& entry : kSdiModelTypes) {
    if (sensorInfo.find(entry.model) != std::string_view::npos) {
      return entry.type;
    }
  }
  return 0;
}

bool RepairUnsetCalibration(std::string& answer) {
  const std::size_t nul = answer.find('\0');
  const std::size_t size = nul == std::string::npos ? answer.size() : nul;
  std::size_t address = 0;
  while (address < size && IsLineEnd(answer[address])) {
    ++address;
  }
  const std::size_t unsetLength = std::strlen(kUnsetCalibrationValue);
  bool changed = false;
  bool lineEndDone = false;
  for (std::size_t i = address + 1; i + unsetLength < size; ++i) {
    if (answer.compare(i, unsetLength, kUnsetCalibrationValue) != 0) {
      continue;
    }
    // A value of its own: right after the address or after a blank.
    if (i != address + 1 && !IsBlank(answer[i - 1])) {
      continue;
    }
    const char next = answer[i + unsetLength];
    const bool beforeBlank = next == ' ';
    const bool beforeLineEnd = next == kSdiLineEnd && !lineEndDone;
    if (beforeBlank || beforeLineEnd) {
      answer.replace(i, unsetLength, kNeutralCalibrationValue);
      lineEndDone = lineEndDone || beforeLineEnd;
      changed = true;
    }
  }
  return changed;
}

SecondDefaultFamily SecondDefaultFamilyOf(std::uint8_t sensorType) {
  switch (sensorType) {
  case 'z':
  case 'x':
    return SecondDefaultFamily::kK4;
  case 'w':
    return SecondDefaultFamily::kJR3;
  default:
    return SecondDefaultFamily::kNone;
  }
}

std::string_view SecondCalibrationDefault(std::uint8_t sensorType, std::uint32_t sensorVersion,
                                          std::string_view raw, Result readResult) {
  const SecondDefaultFamily family = SecondDefaultFamilyOf(sensorType);
  if (family == SecondDefaultFamily::kNone) {
    return {};
  }
  const SecondDefaultRange& range = family == SecondDefaultFamily::kK4 ? kK4Range : kJR3Range;
  const std::string_view text = SdiAnswerText(raw);
  if (readResult < 0 || text.size() < kSecondMinAnswerChars) {
    if (sensorVersion < range.first) {
      return kOlderSecondDefault;
    }
    if (sensorVersion <= range.last) {
      return range.newer;
    }
    return {};
  }
  if (sensorVersion < range.first || sensorVersion > range.last) {
    return {};
  }
  // The older default exactly, after the address and up to the line end:
  // that sensor was never calibrated for this firmware.
  const std::string_view older = std::string_view(kOlderSecondDefault).substr(1);
  const std::string_view held = text.substr(1);
  if (held.substr(0, older.size()) == older &&
      (held.size() == older.size() || IsLineEnd(held[older.size()]))) {
    return range.newer;
  }
  return {};
}

Result ConvertCalibrationText(std::string& calibration) {
  std::string text;
  BoundedCopy(text, calibration, kCalibrationMaxChars);
  float x[kOldCalibrationNumbers] = {};
  const char* cursor = text.c_str();
  for (float& value : x) {
    if (!ScanFloat(cursor, value)) {
      return kOk;
    }
  }
  const double span = static_cast<double>(x[2]) - static_cast<double>(x[1]);
  if (span == 0.0) {
    return kOk;
  }
  const auto a = static_cast<float>(-kConversionScale * static_cast<double>(x[1]) / span);
  const auto b = static_cast<float>(kConversionScale / span);
  const float c = 0.0F;
  const auto d = static_cast<float>((static_cast<double>(x[4]) + static_cast<double>(x[5])) / 2.0);
  if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(d)) {
    return kOk;
  }
  BoundedCopy(calibration,
              StrFormat("%0.3f %0.6e %0.6e %0.6e %0.1f %0.1f", static_cast<double>(x[0]),
                        static_cast<double>(a), static_cast<double>(b), static_cast<double>(c),
                        static_cast<double>(d), static_cast<double>(x[8])),
              kCalibrationMaxChars);
  return kDone;
}

const SdiTypeFamily* SdiFamilyOf(std::int32_t code) {
  for (const SdiTypeFamily& family : kSdiTypeFamilies) {
    if (family.code == code) {
      return &family;
    }
  }
  return nullptr;
}

Result BuildSdiCommand(std::string_view prefix, std::string_view text, std::string& command) {
  command.clear();
  if (prefix.size() + text.size() + 1 > kSdiCommandMaxChars) {
    return kErrSdiBadArgument;
  }
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < ' ' || c > '~' || ch == kSdiCommandEnd) {
      return kErrSdiBadArgument;
    }
  }
  command.reserve(prefix.size() + text.size() + 1);
  command.append(prefix).append(text).push_back(kSdiCommandEnd);
  return kDone;
}

bool SdiAnswerHas(std::string_view raw, std::string_view word) {
  return SdiAnswerText(raw).find(word) != std::string_view::npos;
}

} // namespace zuro
