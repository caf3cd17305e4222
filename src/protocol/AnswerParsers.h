// Readers for the texts that instruments and radio modules send back. Device
// answers are outside input: any length, any bytes, cut anywhere. Each reader
// works on a bounded view, never reads past it, treats a number that does not
// fit its type as not readable, and reports success or a field count the way
// the instruments' own scanf-style formats would, without their undefined
// corners.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zuro {

/// The text of an answer held in a buffer of `size` bytes: up to the first NUL.
std::string_view AnswerText(const char* buffer, std::size_t size);

/// White space as the instruments' formats skip it: space, tab, LF, VT, FF, CR.
bool IsAnswerSpace(char c);
std::string_view SkipSpace(std::string_view text);
std::string_view SkipCarriageReturns(std::string_view text);
/// The text after the first carriage return, or the whole text when there is none.
std::string_view AfterFirstCr(std::string_view text);
/// Up to `maxChars` characters of `text` before the first carriage return.
std::string_view LineUpTo(std::string_view text, std::size_t maxChars);

// Single conversions. Each skips leading white space, consumes what it read
// from `text` and leaves `text` and `value` alone when nothing could be read.
/// "%d": optional sign and decimal digits that fit 32 bits.
bool ScanInt(std::string_view& text, std::int32_t& value);
/// "%u" without a sign: decimal digits that fit 64 bits.
bool ScanUnsigned(std::string_view& text, std::uint64_t& value);
/// "%x": optional 0x, hexadecimal digits that fit 32 bits.
bool ScanHex(std::string_view& text, std::uint32_t& value);
/// "%<max>s": one word of at most `maxChars` characters (a longer word is cut there).
bool ScanWord(std::string_view& text, std::size_t maxChars, std::string& word);
/// "%lf" for a finite number (no "nan", "inf" or hexadecimal forms).
bool ScanDouble(std::string_view& text, double& value);

/// Reads "%d" conversions separated as `separators` says: a space in it skips
/// any white space, another character must match. `separators` has one
/// character less than `count` conversions ("-- ::" style, or "    " for five
/// numbers). Returns how many numbers were read before the first mismatch.
std::size_t ScanInts(std::string_view text, std::string_view separators, std::int32_t* values,
                     std::size_t count);

/// "%d.%1d%1d" into major * 100 + minor * 10 + sub. Returns the fields read
/// (0 to 3; sub counts as 0 when absent). `versionNumber` is set from two
/// fields on, and only when the figure fits 32 bits (else the major does not count).
int ScanVersionNumber(std::string_view text, std::int32_t& versionNumber);

/// The first line of a version answer ("DU70 2.30") read as "%s %d.%1d%1d":
/// true with at least the identity code, the major and the minor.
bool ParseIdentityText(std::string_view identityText, std::string& identityCode,
                       std::int32_t& versionNumber);

/// What an old logger's "show" answer gives.
struct ShowFields {
  std::string deviceName;   ///< "ID:", one word of at most 8 characters
  std::string identityText; ///< "Version:", one word of at most 20 characters
  std::int32_t versionNumber = 0;
  std::uint32_t radioMode = 0; ///< "Radio:"
  std::int32_t wake = 0;       ///< "Wake:"
  std::int32_t resetCount = 0; ///< "Resets:"
};
constexpr std::uint32_t kShowNameFailed = 1;
constexpr std::uint32_t kShowVersionFailed = 2;
constexpr std::uint32_t kShowRadioFailed = 4;
constexpr std::uint32_t kShowWakeFailed = 8;
constexpr std::uint32_t kShowResetsFailed = 16;
/// The show answer's version below which the answer is not understood.
constexpr std::int32_t kShowOldestVersion = 110;

/// Reads only the "ID:" label's word. False when the label is missing or empty.
bool ParseShowName(std::string_view answer, std::string& name);

/// Reads the labels into `fields` (a field stays as it was when its label is
/// missing or unreadable) and returns the error sum of the unreadable ones.
/// Sets `tooOld` and stops after the version when the version number is below
/// kShowOldestVersion.
std::uint32_t ParseShowAnswer(std::string_view answer, ShowFields& fields, bool& tooOld);

/// The value of an instrument's radio item: two characters after the first
/// 'K' (past "OK" and its line end), or the whole answer without a 'K'.
std::string_view RadioItemText(std::string_view answer);

/// ADC calibration factors: slope and offset per channel, then the checksum.
struct AdcFactors {
  std::array<std::uint8_t, 5> slopes{};
  std::array<std::uint8_t, 5> offsets{};
  std::uint32_t checksum = 0;
  std::size_t numbersRead = 0; ///< unsigned numbers found, at most 11
  bool inRange = true;         ///< no factor was 0 or 255 and above
  bool checksumOk = false;
};
/// Reads up to eleven unsigned numbers (slope 0, offset 0, slope 1, ...,
/// checksum); with one channel the third number is the checksum. Factors of 0
/// are kept as 0 and those of 255 or more as 255; both clear `inRange`. The
/// checksum is checked over all ten stored bytes.
AdcFactors ParseAdcFactors(std::string_view answer, std::size_t channels);
/// The checksum the instruments expect: the sum of the ten bytes modulo 256.
std::uint8_t AdcChecksum(const std::array<std::uint8_t, 5>& slopes,
                         const std::array<std::uint8_t, 5>& offsets);

/// A device date and time "%d-%d-%d %d:%d:%d", read after the label
/// "Date\Time:" when the answer holds it, else from the start. True with all six.
struct DeviceDateTime {
  std::int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
bool ParseDeviceDateTime(std::string_view answer, DeviceDateTime& when);
/// True for a date and time that exists and that an instrument clock can hold
/// (2000 to 2067): 2021-2-30 or 24:00:00 do not.
bool IsInstrumentDate(const DeviceDateTime& when);

/// True when `text` is exactly `digits` hexadecimal digits.
bool IsHexDigits(std::string_view text, std::size_t digits);

} // namespace zuro
