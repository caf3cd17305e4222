#include "protocol/AnswerParsers.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/Text.h"

namespace zuro {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

/// The text after the first occurrence of `label`, skipping one more character
/// (the blank the instruments put after a label); empty when the label is
/// missing. `found` tells the two empty cases apart.
std::string_view AfterLabel(std::string_view answer, std::string_view label, bool& found) {
  const std::size_t at = answer.find(label);
  found = at != std::string_view::npos;
  if (!found) {
    return {};
  }
  std::size_t start = at + label.size();
  if (start < answer.size()) {
    ++start;
  }
  return answer.substr(start);
}

constexpr std::string_view kShowIdLabel = "ID:";
constexpr std::string_view kShowVersionLabel = "Version:";
constexpr std::string_view kShowRadioLabel = "Radio:";
constexpr std::string_view kShowWakeLabel = "Wake:";
constexpr std::string_view kShowResetsLabel = "Resets:";
constexpr std::string_view kDateTimeLabel = "Date\\Time:";
constexpr std::size_t kShowNameMax = 8;
constexpr std::size_t kShowVersionWordMax = 20;
constexpr std::size_t kIdentityCodeMax = 20;
constexpr std::size_t kAdcNumbersMax = 11;

} // namespace

std::string_view AnswerText(const char* buffer, std::size_t size) {
  if (buffer == nullptr) {
    return {};
  }
  const void* nul = std::memchr(buffer, '\0', size);
  const std::size_t length =
      nul == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(nul) - buffer);
  return {buffer, length};
}

bool IsAnswerSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view SkipSpace(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsAnswerSpace(text[i])) {
    ++i;
  }
  return text.substr(i);
}

std::string_view SkipCarriageReturns(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == '\r') {
    ++i;
  }
  return text.substr(i);
}

std::string_view AfterFirstCr(std::string_view text) {
  const std::size_t cr = text.find('\r');
  return cr == std::string_view::npos ? text : text.substr(cr + 1);
}

std::string_view LineUpTo(std::string_view text, std::size_t maxChars) {
  std::size_t end = text.find('\r');
  if (end == std::string_view::npos) {
    end = text.size();
  }
  return text.substr(0, end < maxChars ? end : maxChars);
}

bool ScanInt(std::string_view& text, std::int32_t& value) {
  std::string_view rest = SkipSpace(text);
  bool negative = false;
  if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
    negative = rest[0] == '-';
    rest.remove_prefix(1);
  }
  std::int64_t magnitude = 0;
  std::size_t digits = 0;
  constexpr std::int64_t kLimit =
      static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
  while (digits < rest.size() && IsDigit(rest[digits])) {
    magnitude = magnitude * 10 + (rest[digits] - '0');
    if (magnitude > kLimit) {
      return false;
    }
    ++digits;
  }
  if (digits == 0 || (!negative && magnitude == kLimit)) {
    return false;
  }
  value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  text = rest.substr(digits);
  return true;
}

bool ScanUnsigned(std::string_view& text, std::uint64_t& value) {
  std::string_view rest = SkipSpace(text);
  std::uint64_t number = 0;
  std::size_t digits = 0;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  while (digits < rest.size() && IsDigit(rest[digits])) {
    const auto digit = static_cast<std::uint64_t>(rest[digits] - '0');
    if (number > (kMax - digit) / 10) {
      return false;
    }
    number = number * 10 + digit;
    ++digits;
  }
  if (digits == 0) {
    return false;
  }
  value = number;
  text = rest.substr(digits);
  return true;
}

bool ScanHex(std::string_view& text, std::uint32_t& value) {
  std::string_view rest = SkipSpace(text);
  if (rest.size() >= 3 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X') &&
      HexValue(rest[2]) >= 0) {
    rest.remove_prefix(2);
  }
  std::uint64_t number = 0;
  std::size_t digits = 0;
  while (digits < rest.size() && HexValue(rest[digits]) >= 0) {
    number = number * 16 + static_cast<std::uint64_t>(HexValue(rest[digits]));
    if (number > std::numeric_limits<std::uint32_t>::max()) {
      return false;
    }
    ++digits;
  }
  if (digits == 0) {
    return false;
  }
  value = static_cast<std::uint32_t>(number);
  text = rest.substr(digits);
  return true;
}

bool ScanWord(std::string_view& text, std::size_t maxChars, std::string& word) {
  std::string_view rest = SkipSpace(text);
  std::size_t length = 0;
  while (length < rest.size() && length < maxChars && !IsAnswerSpace(rest[length]) &&
         rest[length] != '\0') {
    ++length;
  }
  if (length == 0) {
    return false;
  }
  BoundedCopy(word, rest.substr(0, length), maxChars);
  text = rest.substr(length);
  return true;
}

bool ScanDouble(std::string_view& text, double& value) {
  std::string_view rest = SkipSpace(text);
  // Accept only the plain decimal form the instruments print: [sign] digits
  // [. digits] [e [sign] digits]. from_chars then reads it in every locale.
  std::size_t i = 0;
  bool negative = false;
  if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) {
    negative = rest[i] == '-';
    ++i;
  }
  const std::size_t numberStart = i;
  std::size_t mantissaDigits = 0;
  while (i < rest.size() && IsDigit(rest[i])) {
    ++i;
    ++mantissaDigits;
  }
  if (i < rest.size() && rest[i] == '.') {
    ++i;
    while (i < rest.size() && IsDigit(rest[i])) {
      ++i;
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) {
    return false;
  }
  if (i < rest.size() && (rest[i] == 'e' || rest[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < rest.size() && (rest[j] == '+' || rest[j] == '-')) {
      ++j;
    }
    if (j < rest.size() && IsDigit(rest[j])) {
      while (j < rest.size() && IsDigit(rest[j])) {
        ++j;
      }
      i = j;
    }
  }
  double number = 0.0;
  const char* first = rest.data() + numberStart;
  const auto [end, error] = std::from_chars(first, rest.data() + i, number);
  if (error != std::errc() || end != rest.data() + i || !std::isfinite(number)) {
    return false;
  }
  value = negative ? -number : number;
  text = rest.substr(i);
  return true;
}

std::size_t ScanInts(std::string_view text, std::string_view separators, std::int32_t* values,
                     std::size_t count) {
  std::size_t read = 0;
  while (read < count) {
    if (read > 0) {
      const char separator = read - 1 < separators.size() ? separators[read - 1] : ' ';
      if (separator == ' ') {
        text = SkipSpace(text);
      } else if (!text.empty() && text[0] == separator) {
        text.remove_prefix(1);
      } else {
        break;
      }
    }
    if (!ScanInt(text, values[read])) {
      break;
    }
    ++read;
  }
  return read;
}

int ScanVersionNumber(std::string_view text, std::int32_t& versionNumber) {
  std::int32_t major = 0;
  if (!ScanInt(text, major)) {
    return 0;
  }
  // The figure major * 100 + minor * 10 + sub must fit; a major that cannot
  // be a version at all is not read.
  constexpr std::int32_t kMajorLimit = (std::numeric_limits<std::int32_t>::max() - 99) / 100;
  if (major > kMajorLimit || major < -kMajorLimit) {
    return 0;
  }
  if (text.empty() || text[0] != '.') {
    return 1;
  }
  text.remove_prefix(1);
  // "%1d": white space is skipped, then exactly one character must be a digit.
  auto oneDigit = [&text](std::int32_t& digit) {
    text = SkipSpace(text);
    if (text.empty() || !IsDigit(text[0])) {
      return false;
    }
    digit = text[0] - '0';
    text.remove_prefix(1);
    return true;
  };
  std::int32_t minor = 0;
  if (!oneDigit(minor)) {
    return 1;
  }
  std::int32_t sub = 0;
  const int fields = oneDigit(sub) ? 3 : 2;
  versionNumber = major * 100 + minor * 10 + sub;
  return fields;
}

bool ParseIdentityText(std::string_view identityText, std::string& identityCode,
                       std::int32_t& versionNumber) {
  std::string code;
  if (!ScanWord(identityText, kIdentityCodeMax, code)) {
    return false;
  }
  std::int32_t version = 0;
  if (ScanVersionNumber(identityText, version) < 2) {
    return false;
  }
  identityCode = code;
  versionNumber = version;
  return true;
}

bool ParseShowName(std::string_view answer, std::string& name) {
  bool found = false;
  std::string_view value = AfterLabel(answer, kShowIdLabel, found);
  return found && ScanWord(value, kShowNameMax, name);
}

std::uint32_t ParseShowAnswer(std::string_view answer, ShowFields& fields, bool& tooOld) {
  std::uint32_t errors = 0;
  tooOld = false;
  bool found = false;

  std::string_view value = AfterLabel(answer, kShowIdLabel, found);
  if (found && !ScanWord(value, kShowNameMax, fields.deviceName)) {
    errors += kShowNameFailed;
  }

  value = AfterLabel(answer, kShowVersionLabel, found);
  if (found) {
    std::string word;
    std::int32_t version = 0;
    if (ScanWord(value, kShowVersionWordMax, word)) {
      fields.identityText = word;
      if (ScanVersionNumber(word, version) == 3) {
        fields.versionNumber = version;
      } else {
        errors += kShowVersionFailed;
      }
    } else {
      errors += kShowVersionFailed;
    }
  }
  if (fields.versionNumber < kShowOldestVersion) {
    tooOld = true;
    return errors;
  }

  std::int32_t number = 0;
  value = AfterLabel(answer, kShowRadioLabel, found);
  if (found) {
    if (ScanInt(value, number)) {
      fields.radioMode = static_cast<std::uint32_t>(number);
    } else {
      errors += kShowRadioFailed;
    }
  }
  value = AfterLabel(answer, kShowWakeLabel, found);
  if (found && !ScanInt(value, fields.wake)) {
    errors += kShowWakeFailed;
  }
  value = AfterLabel(answer, kShowResetsLabel, found);
  if (found && !ScanInt(value, fields.resetCount)) {
    errors += kShowResetsFailed;
  }
  return errors;
}

std::string_view RadioItemText(std::string_view answer) {
  const std::size_t k = answer.find('K');
  if (k == std::string_view::npos) {
    return answer;
  }
  const std::size_t start = k + 2;
  return start < answer.size() ? answer.substr(start) : std::string_view{};
}

std::uint8_t AdcChecksum(const std::array<std::uint8_t, 5>& slopes,
                         const std::array<std::uint8_t, 5>& offsets) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < slopes.size(); ++i) {
    sum += slopes[i] + offsets[i];
  }
  return static_cast<std::uint8_t>(sum % 256);
}

AdcFactors ParseAdcFactors(std::string_view answer, std::size_t channels) {
  AdcFactors factors;
  if (channels == 0 || channels > factors.slopes.size()) {
    return factors;
  }
  std::uint64_t numbers[kAdcNumbersMax] = {};
  while (factors.numbersRead < kAdcNumbersMax &&
         ScanUnsigned(answer, numbers[factors.numbersRead])) {
    ++factors.numbersRead;
  }
  if (factors.numbersRead != 2 * channels + 1) {
    return factors;
  }
  auto store = [&factors](std::uint64_t number) -> std::uint8_t {
    constexpr std::uint64_t kInvalidHigh = 255;
    if (number == 0) {
      factors.inRange = false;
      return 0;
    }
    if (number >= kInvalidHigh) {
      factors.inRange = false;
      return static_cast<std::uint8_t>(kInvalidHigh);
    }
    return static_cast<std::uint8_t>(number);
  };
  for (std::size_t ch = 0; ch < channels; ++ch) {
    factors.slopes[ch] = store(numbers[2 * ch]);
    factors.offsets[ch] = store(numbers[2 * ch + 1]);
  }
  const std::uint64_t checksum = numbers[2 * channels];
  factors.checksum = checksum > std::numeric_limits<std::uint32_t>::max()
                         ? std::numeric_limits<std::uint32_t>::max()
                         : static_cast<std::uint32_t>(checksum);
  factors.checksumOk = checksum == AdcChecksum(factors.slopes, factors.offsets);
  return factors;
}

bool ParseDeviceDateTime(std::string_view answer, DeviceDateTime& when) {
  const std::size_t at = answer.find(kDateTimeLabel);
  if (at != std::string_view::npos) {
    answer = answer.substr(at + kDateTimeLabel.size());
  }
  std::int32_t values[6] = {};
  if (ScanInts(answer, "-- ::", values, 6) != 6) {
    return false;
  }
  when = {values[0], values[1], values[2], values[3], values[4], values[5]};
  return true;
}

bool IsInstrumentDate(const DeviceDateTime& when) {
  constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  constexpr std::int32_t kFirstYear = 2000;
  constexpr std::int32_t kLastYear = 2067; // 32-bit ZuroSeconds reach into 2068
  if (when.year < kFirstYear || when.year > kLastYear || when.month < 1 || when.month > 12 ||
      when.hour < 0 || when.hour > 23 || when.minute < 0 || when.minute > 59 || when.second < 0 ||
      when.second > 59) {
    return false;
  }
  const bool leap = when.year % 4 == 0 && (when.year % 100 != 0 || when.year % 400 == 0);
  const int days = kDaysInMonth[when.month - 1] + (when.month == 2 && leap ? 1 : 0);
  return when.day >= 1 && when.day <= days;
}

bool IsHexDigits(std::string_view text, std::size_t digits) {
  if (text.size() != digits) {
    return false;
  }
  for (const char c : text) {
    if (HexValue(c) < 0) {
      return false;
    }
  }
  return true;
}

} // namespace zuro
