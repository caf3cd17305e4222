// What the updater knows about the instrument families behind the version
// answer: the family by identity code, the capability mask and data memory
// size by family and firmware version, the device-name rule and the link
// speed codes of "set -baud". Pure tables and rules, no line traffic.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "core/ResultCodes.h"

namespace zuro {

struct DeviceFamily {
  const char* identityCode; ///< first word of the version answer, upper case; null: never matched
  std::int8_t familyCode;
  const char* familyName;
};

constexpr std::int8_t kFamilyUnknown = 0;
constexpr std::int8_t kFamilyUnknownLogger = 1;
constexpr std::int8_t kFamilyLq7 = 2; ///< also every device without "get -ver" (old firmware)
constexpr std::int8_t kFamilyDu70 = 3;
constexpr std::int8_t kFamilyTrellisbase = 4;
constexpr std::int8_t kFamilyTrellisnet = 5;
constexpr std::int8_t kFamilyLq7b = 6;
constexpr std::int8_t kFamilyGeneric = 7;
constexpr std::int8_t kFamilyCommDevice = 8;
constexpr std::int8_t kFamilyCalibrator = 9;
constexpr std::int8_t kFamilyVantorix = 10;
constexpr std::int8_t kFamilyQt7 = 11;
constexpr std::int8_t kFamilyKvl3 = 12;

extern const std::array<DeviceFamily, 13> kDeviceFamilyTable;

/// The family whose identity code equals `identityCode` after upper-casing;
/// family 0 ("Unknown") when none does.
const DeviceFamily& FamilyByIdentityCode(std::string_view identityCode);

/// The family name of a family code; "Unknown" for codes outside the table.
const char* FamilyName(std::int8_t familyCode);

struct Capabilities {
  std::uint32_t mask = 0;
  std::uint32_t memorySize = 0; ///< bytes of data memory
};

/// The capabilities of a family at a firmware version (major * 100 + minor * 10 + sub).
Capabilities CapabilitiesFor(std::int8_t familyCode, std::int32_t versionNumber, bool newFirmware);

/// The device-name rule of the instruments' login and name commands: 1 when
/// `name` may be used, else kErrNameEmpty, kErrNameLength, kErrNameReserved,
/// kErrNameBadChar, kErrNameForbiddenChar or kErrNameHighChar.
Result CheckDeviceName(std::string_view name);

/// Words of the devices' command language that cannot be device names (exact case).
extern const std::array<const char*, 25> kReservedDeviceNames;

/// The "set -baud" code of a link speed, or -1 when the devices do not know that rate.
int BaudCodeFor(std::uint32_t baud);

} // namespace zuro
