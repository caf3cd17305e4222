// What the instrument service layer keeps of an instrument's configuration
// while its firmware is replaced: the logger settings record, the record of
// settings that single-setting instruments report one "get -x" command at a
// time, their equation and user record lists, and a digital sensor's address,
// serial number and calibration. The same snapshot is written to the settings
// file and read back from it, so an update that was interrupted can still
// restore the instrument.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/DeviceSettingsRecord.h"
#include "sdi12/ZuroSDI12.h"

namespace zuro {

// Flag bits of the instrument info record: which fields were collected (valid
// flags) or are to be read or written (request flags).
constexpr std::uint32_t kInfoName = 0x1;              ///< "-i"
constexpr std::uint32_t kInfoSerialNumber = 0x2;      ///< "-sn"
constexpr std::uint32_t kInfoValueSlots = 0x4;        ///< p0, p3, p5, lwidth, ltemp, current, p1
constexpr std::uint32_t kInfoLanguage = 0x8;          ///< "-lang"
constexpr std::uint32_t kInfoContrast = 0x10;         ///< "-contr"
constexpr std::uint32_t kInfoFvals = 0x20;            ///< "-fvals"
constexpr std::uint32_t kInfoUvals = 0x40;            ///< "-uvals" ("-pvuser" on the HG4 family)
constexpr std::uint32_t kInfoUnits = 0x80;            ///< "-units" as a number
constexpr std::uint32_t kInfoAdc = 0x100;             ///< "-adc"
constexpr std::uint32_t kInfoAdcCal = 0x400;          ///< "-adccal"
constexpr std::uint32_t kInfoConfig = 0x800;          ///< "-config"
constexpr std::uint32_t kInfoWtOffset = 0x1000;       ///< "-wtoffset"
constexpr std::uint32_t kInfoP1Offset = 0x2000;       ///< "-p1offset"
constexpr std::uint32_t kInfoAuto = 0x4000;           ///< "-auto"
constexpr std::uint32_t kInfoUsage = 0x8000;          ///< "-usage"
constexpr std::uint32_t kInfoWtFactory = 0x20000;     ///< "-wtfactory"
constexpr std::uint32_t kInfoAdc15 = 0x40000;         ///< "-adc15"
constexpr std::uint32_t kInfoAdc30 = 0x80000;         ///< "-adc30"
constexpr std::uint32_t kInfoSample = 0x100000;       ///< "-sample"
constexpr std::uint32_t kInfoCalRecords = 0x200000;   ///< "-cal N" into the value slots
constexpr std::uint32_t kInfoPGroup = 0x400000;       ///< "-p" into fvals, "-pv", "-c76"
constexpr std::uint32_t kInfoUnitsText = 0x800000;    ///< "-units" as a text
constexpr std::uint32_t kInfoLocation = 0x1000000;    ///< "-loc"
constexpr std::uint32_t kInfoChai = 0x2000000;        ///< "-x"
constexpr std::uint32_t kInfoExt = 0x4000000;         ///< "-ext"
constexpr std::uint32_t kInfoUserRecords = 0x8000000; ///< the user record set
constexpr std::uint32_t kInfoEquations = 0x10000000;  ///< the equation record set
constexpr std::uint32_t kInfoTadj = 0x20000000;       ///< "-tadj"
constexpr std::uint32_t kInfoHadjTau = 0x40000000;    ///< "-hadj" and "-tau"
constexpr std::uint32_t kInfoSys = 0x80000000;        ///< "-sys"

// Field maxima of the instrument info record, in characters.
constexpr std::size_t kInfoSerialMax = 15;
constexpr std::size_t kInfoNameMax = 8;
constexpr std::size_t kInfoLongTextMax = 256;
constexpr std::size_t kInfoBuildMax = 16;
constexpr std::size_t kInfoConfigMax = 64;
constexpr std::size_t kInfoMidTextMax = 63;
constexpr std::size_t kInfoShortTextMax = 16;
constexpr std::size_t kValueSlotCount = 20;

/// Settings of an instrument configured with single "get -x" / "set -x" commands.
struct InstInfoRecord {
  std::uint32_t validFlags = 0;
  std::int8_t kind = 0;
  std::string serialNumber; ///< kInfoSerialMax
  std::string name;         ///< kInfoNameMax
  std::string location;     ///< kInfoLongTextMax
  std::string buildText;    ///< kInfoBuildMax; no instrument reports it
  std::int32_t language = 0;
  std::int32_t contrast = 0;
  std::int32_t unitsNumber = 0;
  std::string config;      ///< kInfoConfigMax
  std::string autoSeconds; ///< kInfoMidTextMax
  std::string calPrefs;    ///< kInfoLongTextMax
  std::string unitsText;   ///< kInfoLongTextMax
  std::string sample;      ///< kInfoLongTextMax
  std::string chai;        ///< kInfoShortTextMax
  std::string fvals;       ///< kInfoLongTextMax
  std::string uvals;       ///< kInfoLongTextMax
  std::string adc;         ///< kInfoShortTextMax
  std::string adccal;      ///< kInfoMidTextMax
  std::string wtoffset;    ///< kInfoMidTextMax
  std::string wtfactory;   ///< kInfoMidTextMax
  std::string p1offset;    ///< kInfoMidTextMax
  std::string sys;         ///< kInfoLongTextMax
  std::string adc15;       ///< kInfoLongTextMax
  std::string adc30;       ///< kInfoLongTextMax
  std::string ext;         ///< kInfoShortTextMax
  std::string tadj;        ///< kInfoLongTextMax
  std::string hadj;        ///< kInfoLongTextMax
  std::int32_t tau = 0;
  std::string usage; ///< kInfoLongTextMax
  /// Calibration records 0 to 19 (kInfoCalRecords), or the p-values (kInfoValueSlots).
  std::array<std::string, kValueSlotCount> slots{};

  bool operator==(const InstInfoRecord&) const = default;
};

// Record sets: lists an instrument keeps as numbered records.
constexpr int kEquationRecordType = 1; ///< "eqn"
constexpr int kUserRecordType = 2;     ///< "user"
constexpr std::size_t kRecordNameMax = 32;
constexpr std::size_t kRecordValueMax = 256;
constexpr std::size_t kMaxEquationRecords = 100;
constexpr std::size_t kMaxUserRecords = 25;

struct InfoRecord {
  std::string name;  ///< kRecordNameMax; derived from the value for sorting
  std::string value; ///< kRecordValueMax

  bool operator==(const InfoRecord&) const = default;
};

/// A count and a list; the list exists (is not empty) once a set has been read.
struct RecordSet {
  std::vector<InfoRecord> records;

  std::size_t Count() const { return records.size(); }
  bool operator==(const RecordSet&) const = default;
};

// Field maxima of a digital sensor's settings, in characters (the SDI-12
// access keeps them in its SdiSensorRecord).
constexpr std::size_t kSensorInfoMax = 36;
constexpr std::size_t kSensorCalibrationMax = 512;
constexpr std::size_t kSensorSerialMax = 32;

/// Field by field: the SDI-12 record has no comparison of its own.
bool SameSensorRecord(const SdiSensorRecord& a, const SdiSensorRecord& b);

/// Everything the settings file carries for one instrument.
struct SettingsSnapshot {
  DeviceSettingsRecord settings;       ///< loggers
  std::uint32_t savedSettingsMask = 0; ///< loggers: the settings that were collected
  InstInfoRecord instInfo;             ///< single-setting instruments
  RecordSet equations;
  RecordSet users;
  SdiSensorRecord sensor; ///< digital sensors

  bool operator==(const SettingsSnapshot& other) const {
    return settings == other.settings && savedSettingsMask == other.savedSettingsMask &&
           instInfo == other.instInfo && equations == other.equations && users == other.users &&
           SameSensorRecord(sensor, other.sensor);
  }
};

/// Which part of the snapshot a device kind keeps its settings in.
enum class SnapshotGroup { kNone, kLogger, kInstrument, kSensor };
SnapshotGroup SnapshotGroupOf(int kind);

} // namespace zuro
