#include "protocol/DeviceFamilyTable.h"

#include <cstring>

#include "core/Text.h"
#include "protocol/DeviceSettingsRecord.h"

namespace zuro {

const std::array<DeviceFamily, 13> kDeviceFamilyTable = {{
    {nullptr, kFamilyUnknown, "Unknown"},
    {nullptr, kFamilyUnknownLogger, "Unknown Logger"},
    {"LQ7", kFamilyLq7, "Lq7"},
    {"DU70", kFamilyDu70, "Du70"},
    {"ZS", kFamilyTrellisbase, "Trellisbase"},
    {"WJ", kFamilyTrellisnet, "Trellisnet"},
    {"LQ7B", kFamilyLq7b, "Lq7b"},
    {nullptr, kFamilyGeneric, "Generic"},
    {"VCD", kFamilyCommDevice, "VUSKA Comm Dev"},
    {"VUSKA_CAL", kFamilyCalibrator, "VUSKA Calibrator"},
    {"VX", kFamilyVantorix, "Vantorix"},
    {"QT7", kFamilyQt7, "qT7"},
    {"KVL", kFamilyKvl3, "KVL3"},
}};

const std::array<const char*, 25> kReservedDeviceNames = {
    "ERROR", "Unsupported", "volt",   "show", "yes",  "hertz", "time", "dump", "erase",
    "login", "logout",      "query",  "help", "temp", "scan",  "term", "ping", "post",
    "get",   "set",         "teltst", "ack",  "nack", "OK",    "boot"};

const DeviceFamily& FamilyByIdentityCode(std::string_view identityCode) {
  const std::string upper = ToUpperAscii(identityCode);
  for (const DeviceFamily& family : kDeviceFamilyTable) {
    if (family.identityCode != nullptr && upper == family.identityCode) {
      return family;
    }
  }
  return kDeviceFamilyTable[0];
}

const char* FamilyName(std::int8_t familyCode) {
  for (const DeviceFamily& family : kDeviceFamilyTable) {
    if (family.familyCode == familyCode) {
      return family.familyName;
    }
  }
  return kDeviceFamilyTable[0].familyName;
}

namespace {

/// Bits a family gains from a firmware version on.
struct VersionAddition {
  std::int32_t fromVersion;
  std::uint32_t bits;
};

constexpr VersionAddition kDu70Additions[] = {
    {105, 0x80},     {108, 0x40},     {112, 0x8800},    {114, 0x70000},
    {118, 0xC00000}, {119, 0x200000}, {200, 0x1000000}, {202, 0x4000000},
};
constexpr VersionAddition kTrellisbaseAdditions[] = {{105, 0x80}, {109, 0x20000}};
constexpr VersionAddition kLq7bAdditions[] = {{204, 0x40000}};

template <std::size_t N>
std::uint32_t AddedFrom(const VersionAddition (&additions)[N], std::int32_t versionNumber) {
  std::uint32_t bits = 0;
  for (const VersionAddition& addition : additions) {
    if (versionNumber >= addition.fromVersion) {
      bits |= addition.bits;
    }
  }
  return bits;
}

constexpr std::uint32_t kBasicMask = 0x1005; ///< every family the table does not list
constexpr std::uint32_t kLoggerMemory = 36864;

} // namespace

Capabilities CapabilitiesFor(std::int8_t familyCode, std::int32_t versionNumber, bool newFirmware) {
  switch (familyCode) {
  case kFamilyLq7:
    return {newFirmware ? 0x371Fu : 0x331Cu, 3384};
  case kFamilyDu70:
    return {0x7737u | AddedFrom(kDu70Additions, versionNumber), kLoggerMemory};
  case kFamilyTrellisbase:
    return {0x4503u | AddedFrom(kTrellisbaseAdditions, versionNumber), 28672};
  case kFamilyLq7b:
    return {0x74BEu | AddedFrom(kLq7bAdditions, versionNumber), 3348};
  case kFamilyCommDevice:
    return {0x3007u, 0};
  case kFamilyCalibrator:
    return {0x10026u, 0};
  case kFamilyVantorix:
    return {0x1D3083u, 5000};
  case kFamilyQt7:
    return {0x5E3FFF7u, kLoggerMemory};
  case kFamilyKvl3:
    return {0x7C3F6F7u, kLoggerMemory};
  default:
    return {kBasicMask, 0};
  }
}

Result CheckDeviceName(std::string_view name) {
  // A NUL ends a device text, as it does on the instrument.
  const std::size_t nul = name.find('\0');
  if (nul != std::string_view::npos) {
    name = name.substr(0, nul);
  }
  if (name.empty()) {
    return kErrNameEmpty;
  }
  if (name.size() > kDeviceNameMax) {
    return kErrNameLength;
  }
  for (const char* reserved : kReservedDeviceNames) {
    if (name == reserved) {
      return kErrNameReserved;
    }
  }
  constexpr std::string_view kForbidden = "?\\\"/<>*|:;,";
  for (const char c : name) {
    const auto code = static_cast<unsigned char>(c);
    if (code <= 32 || code == 127 || code == 255) {
      return kErrNameBadChar;
    }
    if (kForbidden.find(c) != std::string_view::npos) {
      return kErrNameForbiddenChar;
    }
    if (code > 127) {
      return kErrNameHighChar;
    }
  }
  return kDone;
}

int BaudCodeFor(std::uint32_t baud) {
  constexpr std::uint32_t kRatesByCode[] = {9600, 19200, 38400, 57600, 115200, 230400, 460800};
  for (int code = 0; code < static_cast<int>(std::size(kRatesByCode)); ++code) {
    if (kRatesByCode[code] == baud) {
      return code;
    }
  }
  return -1;
}

} // namespace zuro
