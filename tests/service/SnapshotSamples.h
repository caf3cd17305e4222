// Settings snapshots with a non-default value in every setting a device kind
// collects, for the settings file tests. Values include the characters that
// broke the old file reader: other keys' text, double quotes, equals signs.
#pragma once

#include <string>

#include "service/DeviceKinds.h"
#include "service/SettingsFile.h"
#include "service/SettingsSnapshot.h"

namespace zuro::test {

/// Kinds of the save table, each with the snapshot group it uses.
inline constexpr int kSaveTableKinds[] = {2,  3,  4,  6,  7,  8,  9,  10, 11, 12, 13,
                                          14, 15, 16, 17, 18, 19, 20, 22, 23, 24};

/// The identity fields ZPConnect leaves in the service's settings record.
inline DeviceSettingsRecord ConnectedLogger(int kind) {
  DeviceSettingsRecord r;
  r.familyCode = static_cast<std::int8_t>(kind == 2    ? 6
                                          : kind == 4  ? 4
                                          : kind == 18 ? 11
                                          : kind == 19 ? 12
                                                       : 3);
  r.familyName = SettingsFileType(kind);
  r.newFirmware = 1;
  r.identityText = std::string(DeviceKindIdentityCode(kind)) + " 2.30";
  r.versionNumber = 230;
  return r;
}

inline SettingsSnapshot LoggerSample(int kind) {
  SettingsSnapshot s;
  DeviceSettingsRecord& r = s.settings;
  r = ConnectedLogger(kind);
  std::uint32_t mask = LoggerSaveFlags(kind);
  if (kind == 4) {
    mask |= kSetTrait; // read on the way to the radio channels
  }
  const auto want = [&](std::uint32_t bit) { return (mask & bit) != 0; };
  if (want(kSetName)) {
    r.deviceName = "NODE7";
  }
  if (want(kSetSerialNumber)) {
    r.serialNumber = "SN-12345";
  }
  if (want(kSetDeviceId)) {
    r.deviceId = "ID42";
  }
  if (want(kSetTrait)) {
    r.trait = kind == 4 ? 0x4001 : 0x4009;
  }
  if (want(kSetWake)) {
    r.wake = 900;
  }
  if (want(kSetPorts)) {
    r.ports = {1, 2, 3, 4, 255};
  }
  if (want(kSetPadc)) {
    r.padc = 60;
  }
  if (want(kSetDataParameter)) {
    r.dataParameter = 7;
  }
  if (want(kSetRadioMode)) {
    r.radioMode = 3;
  }
  if (want(kSetRadioChannel)) {
    r.radioChannel = 5;
  }
  if (want(kSetRadioSubChannel)) {
    r.radioSubChannel = 0xABCD;
  }
  if (want(kSetDepths)) {
    r.depths = {10, 20, 30, 40, 50};
  }
  // A site holding another key's text and quotes: it must stay the site.
  if (want(kSetSite)) {
    r.site = "sn=\"EVIL\" \"North\" =";
  }
  if (want(kSetLatitude)) {
    r.latitude = -33.86882;
  }
  if (want(kSetLongitude)) {
    r.longitude = 151.20930;
  }
  if (want(kSetTimeZone)) {
    r.timeZone = -14;
  }
  if (want(kSetApn)) {
    r.apn = "internet.example";
  }
  if (want(kSetApnUser)) {
    r.apnUser = "apnuser";
  }
  if (want(kSetApnPassword)) {
    r.apnPassword = "pa\"ss=wd";
  }
  if (want(kSetHost)) {
    r.host = "data.example.com";
  }
  if (want(kSetAuthKey)) {
    r.authKey = "0123456789ABCDEF0123456789ABCDEF";
  }
  if (want(kSetIpPort)) {
    r.ipPort = 8080;
  }
  if (want(kSetReportMode)) {
    r.reportMode = 2;
  }
  if (want(kSetAdc30)) {
    r.adc30Slopes = {10, 20, 30, 40, 50};
    r.adc30Offsets = {1, 2, 3, 4, 5};
  }
  if (want(kSetAdc15)) {
    r.adc15Slopes = {11, 21, 31, 41, 51};
    r.adc15Offsets = {6, 7, 8, 9, 10};
  }
  if (want(kSetBuild)) {
    r.buildText = "B1234";
  }
  r.validFlags = mask;
  s.savedSettingsMask = mask;
  return s;
}

inline SettingsSnapshot InstrumentSample(int kind) {
  SettingsSnapshot s;
  InstInfoRecord& r = s.instInfo;
  r.kind = static_cast<std::int8_t>(kind);
  const std::uint32_t mask = InstInfoFileFlags(kind);
  const auto want = [&](std::uint32_t bit) { return (mask & bit) != 0; };
  if (want(kInfoName)) {
    r.name = "LAB\"2";
  }
  if (want(kInfoSerialNumber)) {
    r.serialNumber = "X1234";
  }
  if (want(kInfoLanguage)) {
    r.language = 2;
  }
  if (want(kInfoContrast)) {
    r.contrast = -3;
  }
  if (want(kInfoFvals)) {
    r.fvals = "1.5 2.5 3.5";
  }
  if (want(kInfoUvals)) {
    r.uvals = "9 8 7";
  }
  if (want(kInfoUnits)) {
    r.unitsNumber = 4;
  }
  if (want(kInfoAdc)) {
    r.adc = "50.12";
  }
  if (want(kInfoAdcCal)) {
    r.adccal = "100 200 300";
  }
  if (want(kInfoConfig)) {
    r.config = "5000";
  }
  if (want(kInfoWtOffset)) {
    r.wtoffset = "0.25";
  }
  if (want(kInfoP1Offset)) {
    r.p1offset = "-0.5";
  }
  if (want(kInfoAuto)) {
    r.autoSeconds = "30";
  }
  if (want(kInfoUsage)) {
    r.usage = "lab sn=\"Z\" use";
  }
  if (want(kInfoWtFactory)) {
    r.wtfactory = "1.001";
  }
  if (want(kInfoAdc15)) {
    r.adc15 = "15 1 2 3";
  }
  if (want(kInfoAdc30)) {
    r.adc30 = "30 4 5 6";
  }
  if (want(kInfoSample)) {
    r.sample = "10 s";
  }
  if (want(kInfoCalRecords)) {
    r.slots[0] = "cal zero";
    r.slots[1] = "cal one";
    r.slots[2] = "cal two";
  }
  if (want(kInfoValueSlots)) {
    r.slots = {"p0v", "p3v", "p5v", "lw", "lt", "cur", "", "p1v"};
  }
  if (want(kInfoPGroup)) {
    r.fvals = "p 1 2 3";
    if (kind == 16) {
      r.uvals = "pv 4 5 6";
      r.calPrefs = "c76 prefs";
    }
  }
  if (want(kInfoUnitsText)) {
    r.unitsText = "kPa";
  }
  if (want(kInfoLocation)) {
    r.location = "Bench 4, room \"B\"; name=\"X\"";
  }
  if (want(kInfoChai)) {
    r.chai = "CHAI-1";
  }
  if (want(kInfoExt)) {
    r.ext = "EXT9";
  }
  if (want(kInfoTadj)) {
    r.tadj = "0.1 0.2";
  }
  if (want(kInfoHadjTau)) {
    r.hadj = "1.02";
    r.tau = 12;
  }
  if (want(kInfoSys)) {
    r.sys = "sys 1 2";
  }
  if (want(kInfoUserRecords)) {
    s.users.records = {{"", "dXNlcglvbmUJdHdvCUFsaWNlCXJlc3Q="}, {"", "eAl5CXoJQm9iCQ=="}};
  }
  if (want(kInfoEquations)) {
    s.equations.records = {{"", "Temp_C x*2+1"}, {"", "Volts x/3"}};
  }
  r.validFlags = mask;
  return s;
}

inline SettingsSnapshot SensorSample() {
  SettingsSnapshot s;
  SdiSensorRecord& r = s.sensor;
  r.sensorAddress = 'b';
  r.sensorInfo = "VUSKA   TE5   357rest";
  r.calibrationX4 = "1 2 3 \"4\" 5";
  r.calibrationXa = "a 1 1.39619 2.03054";
  r.calibrationXO = "O 9 8";
  r.hasXO = 1;
  r.sensorSerial = "S-0042";
  r.sensorType = ']';
  r.sensorVersion = 357;
  r.typeIsNumber = 0;
  return s;
}

inline SettingsSnapshot SampleFor(int kind) {
  switch (SnapshotGroupOf(kind)) {
  case SnapshotGroup::kLogger:
    return LoggerSample(kind);
  case SnapshotGroup::kInstrument:
    return InstrumentSample(kind);
  case SnapshotGroup::kSensor:
    return SensorSample();
  case SnapshotGroup::kNone:
    break;
  }
  return {};
}

/// What the service holds before it reads a file: for loggers the identity
/// ZPConnect stored, nothing else.
inline SettingsSnapshot ConnectedSnapshot(int kind) {
  SettingsSnapshot s;
  if (SnapshotGroupOf(kind) == SnapshotGroup::kLogger) {
    s.settings = ConnectedLogger(kind);
  }
  return s;
}

} // namespace zuro::test
