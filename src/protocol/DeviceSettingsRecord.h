// The identity and settings of one instrument as its command line reports
// them. The protocol object keeps one record for the connected device; callers
// hold copies of the same layout and exchange whole records with it. A 32-bit
// flag word says which fields hold values read from (or to be written to) the
// instrument; every text field has a fixed maximum that BoundedCopy enforces.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zuro {

// Flag bits of a settings record: which fields are requested, valid or done.
constexpr std::uint32_t kSetName = 0x1;              ///< deviceName
constexpr std::uint32_t kSetSerialNumber = 0x2;      ///< serialNumber
constexpr std::uint32_t kSetIdentity = 0x4;          ///< family, newFirmware, identityText, version
constexpr std::uint32_t kSetTrait = 0x8;             ///< trait
constexpr std::uint32_t kSetWake = 0x10;             ///< wake (measurement interval)
constexpr std::uint32_t kSetPorts = 0x20;            ///< ports
constexpr std::uint32_t kSetPadc = 0x40;             ///< padc
constexpr std::uint32_t kSetDeviceId = 0x80;         ///< deviceId
constexpr std::uint32_t kSetDataParameter = 0x100;   ///< dataParameter
constexpr std::uint32_t kSetRadioMode = 0x200;       ///< radioMode
constexpr std::uint32_t kSetRadioChannel = 0x400;    ///< radioChannel
constexpr std::uint32_t kSetRadioSubChannel = 0x800; ///< radioSubChannel
constexpr std::uint32_t kSetRadioVersion = 0x1000;   ///< radioVersion
constexpr std::uint32_t kSetDepths = 0x2000;         ///< depths
constexpr std::uint32_t kSetSite = 0x4000;           ///< site
constexpr std::uint32_t kSetLatitude = 0x8000;       ///< latitude
constexpr std::uint32_t kSetLongitude = 0x10000;     ///< longitude
constexpr std::uint32_t kSetTimeZone = 0x20000;      ///< timeZone
constexpr std::uint32_t kSetApn = 0x40000;           ///< apn
constexpr std::uint32_t kSetApnUser = 0x80000;       ///< apnUser
constexpr std::uint32_t kSetApnPassword = 0x100000;  ///< apnPassword
constexpr std::uint32_t kSetHost = 0x200000;         ///< host
constexpr std::uint32_t kSetAuthKey = 0x400000;      ///< authKey
constexpr std::uint32_t kSetIpPort = 0x800000;       ///< ipPort
constexpr std::uint32_t kSetReportMode = 0x1000000;  ///< reportMode
constexpr std::uint32_t kSetAdc30 = 0x2000000;       ///< adc30Slopes, adc30Offsets
constexpr std::uint32_t kSetAdc15 = 0x4000000;       ///< adc15Slopes, adc15Offsets
constexpr std::uint32_t kSetBuild = 0x8000000;       ///< buildText
/// The radio module's items: they depend on the trait saying a radio is there.
constexpr std::uint32_t kSetRadioItems = kSetRadioChannel | kSetRadioSubChannel | kSetRadioVersion;

// Capability bits: what a device family can do at a firmware version.
constexpr std::uint32_t kCapLinkSpeed = 0x1;          ///< "set -baud" changes the link speed
constexpr std::uint32_t kCapWake = 0x10;              ///< wake interval and PADC commands
constexpr std::uint32_t kCapPorts = 0x20;             ///< sensor ports command
constexpr std::uint32_t kCapTraitCommand = 0x40;      ///< "get -trait" reads the trait
constexpr std::uint32_t kCapRadio = 0x100;            ///< radio module commands
constexpr std::uint32_t kCapRadioMode = 0x200;        ///< radio mode command
constexpr std::uint32_t kCapClock = 0x1000;           ///< a clock that may be read and set
constexpr std::uint32_t kCapAdcCal = 0x10000;         ///< ADC calibration factors
constexpr std::uint32_t kCapDataParameter = 0x20000;  ///< data parameter command
constexpr std::uint32_t kCapBuild = 0x40000;          ///< build text command
constexpr std::uint32_t kCapZuroSeconds = 0x80000;    ///< the clock counts ZuroSeconds
constexpr std::uint32_t kCapAdcOneChannel = 0x100000; ///< ADC calibration has one channel, not five
constexpr std::uint32_t kCapSiteCommands =
    0x1000000; ///< device ID, report, depth, site, zone, trait write
constexpr std::uint32_t kCapPosition = 0x4000000; ///< latitude and longitude

// Trait encoding: the instrument reports an 8-bit number t; the record keeps
// (255 - t) with a marker bit, so a trait of 0 can be told from "not read".
constexpr std::int32_t kTraitKnown = 0x4000; ///< marker: the trait was read or derived
constexpr std::int32_t kTraitRadio = 0x1;    ///< a radio module is present
constexpr std::int32_t kTraitCellular = 0x8; ///< a cellular modem is present (Du70)
constexpr std::int32_t kTraitByteMax = 255;

// Field maxima in characters (the terminator of the device's own buffers not counted).
constexpr std::size_t kFamilyNameMax = 31;
constexpr std::size_t kDeviceIdMax = 8;
constexpr std::size_t kDeviceNameMax = 8;
constexpr std::size_t kSerialNumberMax = 15;
constexpr std::size_t kIdentityTextMax = 20;
constexpr std::size_t kBuildTextMax = 16;
constexpr std::size_t kSiteMax = 25;
constexpr std::size_t kRadioVersionMax = 8;
constexpr std::size_t kApnMax = 35;
constexpr std::size_t kAuthKeyLength = 32; ///< hexadecimal digits, exactly
constexpr std::size_t kHostMax = 63;
constexpr std::size_t kSensorPortCount = 5; ///< ports, depths and ADC channels

/// Version number of a device whose identity is not known.
constexpr std::int32_t kVersionUnknown = 0;

using PortBytes = std::array<std::uint8_t, kSensorPortCount>;

struct DeviceSettingsRecord {
  std::uint32_t validFlags = 0;
  std::uint32_t capabilityMask = 0;
  std::int8_t familyCode = 0;
  std::string familyName;       ///< up to kFamilyNameMax
  std::uint8_t newFirmware = 0; ///< answers "get -ver" (else an early logger with only "show")
  std::string deviceId;         ///< up to kDeviceIdMax
  std::string deviceName;       ///< up to kDeviceNameMax
  std::string serialNumber;     ///< up to kSerialNumberMax
  std::string identityText;     ///< up to kIdentityTextMax: first line of the version answer
  std::int32_t versionNumber = kVersionUnknown; ///< major * 100 + minor * 10 + sub
  std::int32_t trait = 0;                       ///< encoded, see kTraitKnown
  std::string buildText;                        ///< up to kBuildTextMax
  std::int32_t wake = 0;                        ///< measurement interval
  PortBytes ports{};
  PortBytes depths{};
  std::int32_t padc = 0; ///< Hz
  std::uint32_t memorySize = 0;
  std::string site;          ///< up to kSiteMax
  double latitude = 0.0;     ///< degrees
  double longitude = 0.0;    ///< degrees
  std::int32_t timeZone = 0; ///< quarter hours east of UTC
  PortBytes adc30Slopes{};
  PortBytes adc30Offsets{};
  PortBytes adc15Slopes{};
  PortBytes adc15Offsets{};
  std::int32_t dataParameter = 0;
  std::int32_t reportMode = 0;
  std::uint32_t radioMode = 0;
  std::uint32_t radioChannel = 0;
  std::uint32_t radioSubChannel = 0;
  std::string radioVersion; ///< up to kRadioVersionMax; four hexadecimal digits when valid
  std::string apn;          ///< up to kApnMax
  std::string apnUser;      ///< up to kApnMax
  std::string apnPassword;  ///< up to kApnMax
  std::string authKey;      ///< kAuthKeyLength hexadecimal digits
  std::string host;         ///< up to kHostMax
  std::int32_t ipPort = 0;

  bool operator==(const DeviceSettingsRecord&) const = default;
};

} // namespace zuro
