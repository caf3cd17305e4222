// The device kind tables: everything the updater knows about each kind of
// instrument it can meet (identity code, display name, what an update must do
// for it, its boot-loader memory layout, whether this program may update it),
// and the names of the digital sensor types. The library stands alone, linking
// no other project library, because the boot-loader host and the simulator
// read the same tables without the instrument service layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zuro {

// Result codes. They carry the same numbers as kDone, kErrMissingArgument and
// kErrNotUnderstood of core/ResultCodes.h; this library may link nothing, so
// it cannot include core and keeps its own names for the three it returns.
constexpr std::int32_t kDeviceKindFound = 1;             ///< the identity code is known
constexpr std::int32_t kDeviceKindMissingArgument = -10; ///< no text, empty text or no entry
constexpr std::int32_t kDeviceKindNotUnderstood = -30;   ///< text does not parse or code unknown

constexpr int kDeviceKindCount = 25; ///< kinds 0 to 24; kind 0 is "UNKNOWN"
constexpr int kUnknownDeviceKind = 0;
constexpr int kSensorDeviceKind = 10; ///< the digital sensor behind the hand-held reader

constexpr std::size_t kDisplayNameMax = 32;      ///< characters, without terminator
constexpr std::size_t kKindIdentityTextMax = 21; ///< characters, without terminator
constexpr std::size_t kSensorTypeNameSize = 34;  ///< bytes, terminator included

/// What every step of an update needs to know about the connected instrument.
/// Every field that FillDeviceKindEntry does not set is zero.
struct DeviceKindEntry {
  std::int8_t kind = 0;              ///< index into the device kind table
  std::string displayName;           ///< at most kDisplayNameMax characters
  std::string identityText;          ///< the full identity answer, at most kKindIdentityTextMax
  std::uint32_t version = 0;         ///< major * 100 + minor * 10 + sub (2.30 gives 230)
  std::uint32_t restartWaitMs = 0;   ///< wait after the boot loader hands back to the firmware
  bool saveSettings = false;         ///< settings saved before and restored after the update
  bool eraseData = false;            ///< stored data erased after the update
  bool checkBattery = false;         ///< battery checked before the update
  bool logInFirst = false;           ///< log in before settings; disconnect then logs out
  bool setClock = false;             ///< clock set after the update
  bool updatable = false;            ///< this kind at this version may be updated
  bool selfTestWithInit = false;     ///< the firmware check uses "post -init"
  bool calibrationReminder = false;  ///< remind the user to calibrate afterwards
  std::uint32_t flashStart = 0;      ///< first main-flash address the boot loader erases
  std::uint32_t flashEnd = 0;        ///< end of the erased main-flash range
  bool extendedAddressing = false;   ///< drive the boot loader with 20-bit addresses
  std::uint32_t infoStart = 0;       ///< first information-memory address erased
  std::uint32_t infoSegments = 0;    ///< information-memory segments erased
  std::uint32_t infoSegmentSize = 0; ///< bytes per information-memory segment
  std::uint32_t bootLoaderBaud = 0;  ///< link speed with the boot loader
  bool versionRangeCheck = false;    ///< the firmware version must lie in lowest..highest
  std::uint32_t lowestVersion = 0;
  std::uint32_t highestVersion = 0;

  bool operator==(const DeviceKindEntry&) const = default;
};

/// Reads an instrument's identity answer ("DU70 2.30": identity code, blank,
/// major, '.', one-digit minor, optional one-digit sub) and fills `entry`.
/// - missing or empty text, or no entry: kDeviceKindMissingArgument, entry untouched;
/// - a text with a '.' whose version does not read: kDeviceKindNotUnderstood,
///   entry untouched;
/// - a text without a '.': kDeviceKindNotUnderstood with a kind-0 entry (never
///   updatable) holding the identity text, since such an answer names no version;
/// - an identity code not among kinds 1 to 24: kDeviceKindNotUnderstood with a
///   kind-0 entry holding the version and the identity text;
/// - otherwise kDeviceKindFound with the kind's entry and the identity text.
/// Any text is safe: nothing is read past its terminator, nothing overflows.
std::int32_t ParseDeviceIdentity(const char* identityText, DeviceKindEntry* entry);

/// Clears `entry` and fills it for `kind` at `version`. A kind outside 0 to 24
/// gives the kind-0 entry ("UNKNOWN", never updatable). A null entry is ignored.
void FillDeviceKindEntry(int kind, std::uint32_t version, DeviceKindEntry* entry);

/// The kind among 1 to 24 whose identity code equals `code` compared in upper
/// case, or kUnknownDeviceKind. Identity answers and firmware file names are
/// both named this way.
int DeviceKindFromCode(std::string_view code);

/// Identity code of `kind` ("DU70" for kind 3); kind 0's "UNKNOWN" outside 0 to 24.
std::string_view DeviceKindIdentityCode(int kind);

/// Display name of `kind` ("Du70" for kind 3); "UNKNOWN" outside 0 to 24.
std::string_view DeviceKindDisplayName(int kind);

/// Whether updating `kind` erases data the user may want to download first,
/// so the start-up warning and the help text mention it. False outside 0 to 24.
bool DeviceKindEraseWarning(int kind);

/// Writes the name of a digital sensor type, "Unknown Sensor (type N)" for a
/// code not in the table, always terminated and cut to the buffer.
void SensorTypeName(unsigned int typeCode, char (&name)[kSensorTypeNameSize]);

} // namespace zuro
