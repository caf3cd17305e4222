// Readers of what an SDI-12 sensor answers through the hand-held reader, and
// the builders of the texts written back to it. Every function here is pure
// and bounded: it looks at no more than one answer of at most 256 bytes, stops
// at a NUL as the answer buffer does, and never trusts a length the sensor
// sends. ZuroSDI12 runs the conversation; these decide what the words mean.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/ResultCodes.h"

namespace zuro {

constexpr std::size_t kSdiMaxAnswerBytes = 256; ///< one answer is read into this many bytes
constexpr std::size_t kSensorInfoMaxChars = 36; ///< identification after address and SDI-12 version
constexpr std::size_t kCalibrationMaxChars = 512; ///< each of the three calibration texts
constexpr std::size_t kSensorSerialMaxChars = 32; ///< the sensor's serial number
/// Commands are built in a buffer of this size: at most 63 characters go on the line.
constexpr std::size_t kSdiCommandBufferBytes = 64;
constexpr std::size_t kSdiCommandMaxChars = kSdiCommandBufferBytes - 1;

constexpr char kSdiLineEnd = '\r';   ///< every sensor answer ends with a carriage return
constexpr char kSdiCommandEnd = '!'; ///< every SDI-12 command ends here

// Where the identification ("?I!") keeps its parts, counted from the address (0).
constexpr std::size_t kIdentityInfoOffset =
    3; ///< after the address and the two-digit SDI-12 version
constexpr std::size_t kIdentityVersionOffset = 17; ///< the sensor's three version digits
constexpr std::size_t kIdentityVersionDigits = 3;

/// Identification model fields of sensors that may not report their type,
/// each with the six-character padded model name and the type it stands for.
struct SdiModelType {
  const char* model;
  std::uint8_t type;
};
constexpr SdiModelType kSdiModelTypes[] = {
    {"K4E   ", static_cast<std::uint8_t>('z')},
    {"VU-QM ", static_cast<std::uint8_t>('}')},
    {"VU-QE ", 127},
};

/// The "-1" repair turns an unset calibration value into a neutral one.
constexpr const char* kUnsetCalibrationValue = "-1";
constexpr const char* kNeutralCalibrationValue = "+0";

/// A character the SDI-12 standard allows as a sensor address.
bool IsSdiAddress(char c);

/// The text of a raw answer: cut at the first NUL and at kSdiMaxAnswerBytes,
/// with line ends left over from an earlier answer skipped at the front, so
/// that the address is the first character.
std::string_view SdiAnswerText(std::string_view raw);

/// The value an answer carries: the text after its address character, one
/// leading white-space character skipped, cut at the line end and at
/// `maxChars`. kErrNotUnderstood when the answer does not begin with an
/// address (empty, a control character, a stray symbol).
Result SdiAnswerValue(std::string_view raw, std::size_t maxChars, std::string& value);

/// What the identification answer tells.
struct SdiIdentity {
  char address = '0';
  std::string info;          ///< at most kSensorInfoMaxChars, cut at the line end
  std::uint32_t version = 0; ///< the three version digits as a number
};
/// 1, or kErrNotUnderstood when there is no address or the three version
/// digits are missing or not all decimal digits.
Result ParseSdiIdentity(std::string_view raw, SdiIdentity& identity);

/// The type answer ("?X8!"): up to three characters of the value. Digits are
/// a number (its low 8 bits; `isNumber` 1), anything else the type character.
/// kErrNotUnderstood without an address, without a value, or for a type
/// character that is a control character or a space.
Result ParseSdiType(std::string_view raw, std::uint8_t& type, std::uint8_t& isNumber);

/// The serial-number answer ("?X#!"): 1 with the number, 0 when the sensor
/// has none (nothing before the line end), kErrNotUnderstood without an address.
Result ParseSdiSerial(std::string_view raw, std::string& serial);

/// The type the identification's model stands for, or 0 for none.
std::uint8_t SdiTypeFromModel(std::string_view sensorInfo);

/// Replaces every unset calibration value "-1" of a raw "?X4!" answer that
/// stands as a value of its own and is followed by a space, and the first one
/// followed by the line end, with "+0". A "-1" inside a number (the exponent of
/// 2.5e-1, or 3-1) is left alone. True when anything was replaced.
bool RepairUnsetCalibration(std::string& answer);

/// Sensor families whose second calibration ("?Xa!") has factory defaults.
enum class SecondDefaultFamily { kNone, kK4, kJR3 };
SecondDefaultFamily SecondDefaultFamilyOf(std::uint8_t sensorType);

/// The factory default a sensor's second calibration gets. `answer` is the raw
/// answer, `readResult` what reading it gave. Returns the default answer (with
/// a stand-in address) that replaces the answer, or an empty view when the
/// answer stands:
///  - a failed read or an answer of fewer than nine characters gets the default
///    of its firmware version (the older one below the range, the newer one in
///    it, none above);
///  - in the range, an answer that still holds the older factory default gets
///    the newer one, the expected value for those versions; a sensor with a
///    calibration of its own keeps it.
std::string_view SecondCalibrationDefault(std::uint8_t sensorType, std::uint32_t sensorVersion,
                                          std::string_view raw, Result readResult);

/// Rewrites an old-format main calibration (nine numbers) into the six values
/// the newer firmware expects. 1 when rewritten; 0 when the text does not hold
/// nine finite numbers or cannot be converted (the text is left as it was, so
/// a calibration is never replaced by zeros).
Result ConvertCalibrationText(std::string& calibration);

/// The sensor families a type code can name instead of a single type.
struct SdiTypeFamily {
  std::int32_t code;
  const char* members; ///< the sensor type characters of the family
  const char* name;    ///< for the log line when the sensor is not of the family
};
constexpr SdiTypeFamily kSdiTypeFamilies[] = {
    {260, "sron", "NVX"}, {261, "yl", "WPT"},      {262, "tjie", "WLX"},
    {263, "pf", "HT-x"},  {264, "hg", "BALVO 1x"},
};
/// The family of a code, or null when the code names a single type.
const SdiTypeFamily* SdiFamilyOf(std::int32_t code);

/// "?X5" + text + "!" and its kin: 1 with the command, or kErrSdiBadArgument
/// when it would not fit the command buffer or the text holds a character
/// that cannot travel inside a command (a control character, a byte above
/// 126, or the command end '!').
Result BuildSdiCommand(std::string_view prefix, std::string_view text, std::string& command);

/// Whether the text of a raw answer contains `word`.
bool SdiAnswerHas(std::string_view raw, std::string_view word);

} // namespace zuro
