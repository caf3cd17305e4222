// What each simulated instrument kind is: the firmware's identity code, its
// command dialect, which settings it keeps (with the values of a freshly
// reset device and of the configured device the simulator starts as), and
// the features its firmware version offers. The firmware model reads these
// tables; it holds no kind-specific data of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zuro::sim {

/// How the firmware talks.
enum class FirmwareStyle {
  kLogger,     ///< data loggers: "\r" value "\r>" answers, settings of the logger family
  kOldLogger,  ///< early loggers: only "show" and a few old commands; '?' otherwise
  kInstrument, ///< single-setting instruments: "\r\n" value "\r>" answers
  kUnknown,    ///< a device this system does not know: identity and battery only
};

enum class SettingType {
  kText,       ///< the rest of the line, up to maxLength characters
  kNumber,     ///< one signed decimal number
  kFiveBytes,  ///< five numbers 0..255 (ports, depths)
  kAdcCal,     ///< slope/offset pairs and their checksum
  kCoordinate, ///< degrees as a decimal fraction, or empty
  kHexKey,     ///< exactly 32 hexadecimal digits (or empty)
  kFixed,      ///< fixed by the hardware: answers its factory value, takes only that value
  kSerialSum,  ///< a number that carries the serial number's character sum (see the model)
};

/// One setting the firmware keeps in its information memory.
struct SettingDefinition {
  const char* key; ///< command word after '-' ("site" for "get -site")
  SettingType type;
  std::size_t maxLength;    ///< texts: characters
  std::uint32_t capability; ///< logger capability bit that must be set (0: always)
  const char* factory;      ///< value after the information memory was erased
  const char* configured;   ///< value of the device the simulator starts as
};

/// A setting that firmware older than `fromVersion` does not offer.
struct VersionGate {
  const char* key;
  int fromVersion; ///< major*100+minor*10+sub
};

/// Record lists a firmware keeps (equation and user records).
constexpr std::uint8_t kNoRecords = 0;
constexpr std::uint8_t kEquationRecords = 0x1;
constexpr std::uint8_t kUserRecords = 0x2;
constexpr std::uint8_t kBothRecords = kEquationRecords | kUserRecords;

struct InstrumentProfile {
  const char* simName; ///< the --kind word
  int kind;            ///< device kind index (hardware: memory layout, boot-loader baud)
  const char* code;    ///< identity code in "get -ver" answers
  const char* defaultVersion;
  FirmwareStyle style;
  int family;      ///< logger family for the capability table (0: none)
  bool baudChange; ///< answers "set -baud"
  bool hasClock;
  bool hasDataStore;       ///< keeps measurement data that "yes" erases
  bool logInFirst;         ///< settings need the access-code login
  bool radioBuiltIn;       ///< a radio module is always fitted
  bool cellular;           ///< a cellular modem is fitted (loggers of the Du70 family)
  std::uint8_t records;    ///< record lists it keeps (kEquationRecords, kUserRecords)
  bool calSlots;           ///< keeps numbered calibration records ("-cal N")
  const char* loginAnswer; ///< access-code login answer word ("OK" or a code)
  std::vector<SettingDefinition> settings;
  std::vector<VersionGate> gates; ///< settings that came with later firmware versions
};

/// Every profile the simulator offers, in --help order.
const std::vector<InstrumentProfile>& AllProfiles();

/// Profile by --kind word, or null.
const InstrumentProfile* ProfileByName(std::string_view simName);

/// Profile whose identity code matches (upper-case compare), or null.
const InstrumentProfile* ProfileByCode(std::string_view code);

/// The profile of a device this system does not know.
const InstrumentProfile& UnknownProfile();

/// Capability mask of logger `family` at `version` (major*100+minor*10+sub):
/// which setting commands that firmware offers.
std::uint32_t LoggerCapabilities(int family, int version);

/// Capability bits the firmware model consults.
constexpr std::uint32_t kCapBaud = 0x1;
constexpr std::uint32_t kCapWake = 0x10;
constexpr std::uint32_t kCapPorts = 0x20;
constexpr std::uint32_t kCapTraitRead = 0x40;
constexpr std::uint32_t kCapRadio = 0x100;
constexpr std::uint32_t kCapRmode = 0x200;
constexpr std::uint32_t kCapAdc = 0x10000;
constexpr std::uint32_t kCapData = 0x20000;
constexpr std::uint32_t kCapBuild = 0x40000;
constexpr std::uint32_t kCapOneAdcChannel = 0x100000;
constexpr std::uint32_t kCapLocation = 0x1000000;
constexpr std::uint32_t kCapCoordinates = 0x4000000;

/// Logger family codes (the first word of the identity answer decides them).
constexpr int kFamilyLq7 = 2;
constexpr int kFamilyDu70 = 3;
constexpr int kFamilyTrellisbase = 4;
constexpr int kFamilyLq7b = 6;
constexpr int kFamilyQt7 = 11;
constexpr int kFamilyKvl = 12;

/// "2.20" → 220; -1 when the text is not major '.' digit [digit].
int ParseVersion(std::string_view text);

} // namespace zuro::sim
