#include "service/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_map>

#include "core/Text.h"
#include "service/DeviceKinds.h"
#include "service/RecordSets.h"

namespace zuro {
namespace {

// ---- Which settings each kind keeps ----

struct KindFlags {
  int kind;
  std::uint32_t flags;
};

// Settings record bits each logger kind collects.
constexpr std::uint32_t kLoggerAllFlags = 0x7FFEFFF; ///< everything but radio version and build
constexpr KindFlags kLoggerSaveFlags[] = {
    {2, 0x8000077}, // name, serial number, identity, wake, ports, PADC, build
    {3, kLoggerAllFlags},
    {4, 0xD07}, // name, serial number, identity, data parameter, radio channels
    {18, kLoggerAllFlags},
    {19, kLoggerAllFlags},
};

// Instrument info bits each single-setting kind collects; kinds 8 and 15 have
// a second set for newer firmware. The HG4 family also keeps its humidity
// adjustment and time constant (kInfoHadjTau): without them a restored HG4
// loses its adjustment, and reading them is harmless where a firmware lacks them.
constexpr KindFlags kInstSaveFlags[] = {
    {6, 0x4000007A}, {7, 0x100192}, {8, 0x7000400},   {9, 0xB2},        {11, 0x80027402},
    {12, 0xC00},     {13, 0x3},     {14, 0x2C0013},   {15, 0x78000802}, {16, 0x28400802},
    {17, 0x802},     {20, 0x802},   {22, 0x78000806}, {23, 0x20C08012}, {24, 0x2},
};
constexpr int kQx20Kind = 8;
constexpr std::uint32_t kQx20NewFlags = 0x7000C12;
constexpr std::uint32_t kQx20NewFromVersion = 200;
constexpr int kHg4Kind = 15;
constexpr std::uint32_t kHg4NewFlags = 0x78000842;
constexpr std::int32_t kHg4NewFromVersion = 205;

constexpr std::uint32_t FlagsOf(const KindFlags* table, std::size_t n, int kind) {
  for (std::size_t i = 0; i < n; ++i) {
    if (table[i].kind == kind) {
      return table[i].flags;
    }
  }
  return 0;
}

// Type lines of the logger kinds: their family names.
struct KindName {
  int kind;
  const char* name;
};
constexpr KindName kLoggerTypes[] = {
    {2, "Lq7b"}, {3, "Du70"}, {4, "Trellisbase"}, {18, "qT7"}, {19, "KVL3"},
};

// Capability masks a logger record read from a file carries: the file holds
// no identity answer, so these stand for what each group of loggers offers.
constexpr std::uint32_t kFileCapsDu70Group = 0x707FFF7;
constexpr std::uint32_t kFileCapsLq7b = 0x474BE;
constexpr std::uint32_t kFileCapsTrellisbase = 0x24583;
constexpr int kLq7bKind = 2;
constexpr int kTrellisbaseKind = 4;
/// A Trellisbase always has a radio: the trait it reports is fixed.
constexpr std::int32_t kTrellisbaseTrait = kTraitKnown | kTraitRadio;

// Logger bits that only the Du70 group restores from a file.
constexpr std::uint32_t kLq7bFileFlags =
    kSetName | kSetSerialNumber | kSetWake | kSetPadc | kSetPorts | kSetBuild;
constexpr std::uint32_t kTrellisbaseFileFlags = kSetName | kSetSerialNumber | kSetRadioChannel |
                                                kSetRadioSubChannel | kSetTrait | kSetDataParameter;
constexpr std::uint32_t kDu70GroupFileFlags = (kLoggerAllFlags | kSetBuild) & ~kSetIdentity;

constexpr const char* kModule = kServiceModule;
/// The last line of every file this program writes: without it the file was cut short.
constexpr const char* kEndKey = "end";
constexpr const char* kEndValue = "1";
constexpr std::uint8_t kAdcInvalidLow = 0;    ///< an ADC factor of 0 was never calibrated
constexpr std::uint8_t kAdcInvalidHigh = 255; ///< nor was one of 255

// ---- Writing ----

/// One "key=\"value\"" line. Values never carry line ends: a value that
/// holds one is cut there, so no value can start a line of its own.
void AddLine(std::string& out, std::string_view key, std::string_view value) {
  const std::size_t end = value.find_first_of("\r\n");
  out.append(key);
  out.append("=\"");
  out.append(value.substr(0, end));
  out.append("\"");
  out.append(kSettingsFileLineEnd);
}

void AddNumber(std::string& out, std::string_view key, std::int64_t value) {
  AddLine(out, key, std::to_string(value));
}

void AddBytes(std::string& out, std::string_view key, const PortBytes& bytes) {
  AddLine(out, key, StrFormat("%u %u %u %u %u", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4]));
}

/// Degrees with a sign and five decimals, independent of the C locale (a
/// desktop locale may use a decimal comma, which the reader would not take).
std::string Degrees(double value) {
  if (!std::isfinite(value)) {
    value = 0.0;
  }
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed, 5);
  std::string text = ec == std::errc() ? std::string(buffer, end) : std::string("0.00000");
  return (std::signbit(value) && value != 0.0 ? "-" : "+") + text;
}

void FormatLogger(int kind, const SettingsSnapshot& snapshot, std::string& out) {
  const DeviceSettingsRecord& r = snapshot.settings;
  const std::uint32_t valid = r.validFlags | snapshot.savedSettingsMask;
  AddLine(out, "type", SettingsFileType(kind));
  AddNumber(out, "saved", snapshot.savedSettingsMask);
  AddLine(out, "deviceid", r.deviceId);
  AddLine(out, "name", r.deviceName);
  AddLine(out, "sn", r.serialNumber);
  AddNumber(out, "trait", r.trait);
  AddNumber(out, "wake", r.wake);
  AddNumber(out, "padc", r.padc);
  AddBytes(out, "ports", r.ports);
  AddBytes(out, "depth", r.depths);
  if ((valid & kSetAdc15) != 0) {
    AddBytes(out, "ADC15 slopes", r.adc15Slopes);
    AddBytes(out, "ADC15 offsets", r.adc15Offsets);
  }
  if ((valid & kSetAdc30) != 0) {
    AddBytes(out, "ADC30 slopes", r.adc30Slopes);
    AddBytes(out, "ADC30 offsets", r.adc30Offsets);
  }
  AddNumber(out, "rmode", r.radioMode);
  AddNumber(out, "rch", r.radioChannel);
  AddNumber(out, "rsch", r.radioSubChannel);
  AddNumber(out, "data", r.dataParameter);
  AddLine(out, "site", r.site);
  AddLine(out, "lat", Degrees(r.latitude));
  AddLine(out, "lon", Degrees(r.longitude));
  AddNumber(out, "timezone", r.timeZone);
  AddNumber(out, "report", r.reportMode);
  AddLine(out, "apn", r.apn);
  AddLine(out, "user", r.apnUser);
  AddLine(out, "passwd", r.apnPassword);
  AddLine(out, "host", r.host);
  AddLine(out, "authkey", r.authKey);
  AddNumber(out, "ipport", r.ipPort);
  if ((valid & kSetBuild) != 0) {
    AddLine(out, "ZuroBuild", r.buildText);
  }
}

void AddRecords(std::string& out, const RecordSet& set, int type) {
  for (std::size_t n = 0; n < set.records.size(); ++n) {
    if (set.records[n].value.empty()) {
      break;
    }
    AddLine(out, StrFormat("%s%02zu", RecordWord(type), n), set.records[n].value);
  }
}

void FormatInstrument(int kind, const SettingsSnapshot& snapshot, std::string& out) {
  const InstInfoRecord& r = snapshot.instInfo;
  const std::uint32_t fileFlags = InstInfoFileFlags(kind);
  AddLine(out, "type", SettingsFileType(kind));
  AddNumber(out, "saved", r.validFlags);
  AddLine(out, "name", r.name);
  AddLine(out, "sn", r.serialNumber);
  AddNumber(out, "lang", r.language);
  AddLine(out, "ZuroBuild", r.buildText);
  AddNumber(out, "contr", r.contrast);
  AddLine(out, "config", r.config);
  AddLine(out, "fvals", r.fvals);
  AddLine(out, "uvals", r.uvals);
  AddNumber(out, "units", r.unitsNumber);
  AddLine(out, "adc", r.adc);
  AddLine(out, "adccal", r.adccal);
  AddLine(out, "calprefs", r.calPrefs);
  AddLine(out, "VXUnits", r.unitsText);
  AddLine(out, "sample", r.sample);
  AddLine(out, "usage", r.usage);
  AddLine(out, "adc15", r.adc15);
  AddLine(out, "adc30", r.adc30);
  AddLine(out, "location", r.location);
  AddLine(out, "chai", r.chai);
  AddLine(out, "extCal", r.ext);
  AddLine(out, "tadj", r.tadj);
  AddNumber(out, "tau", r.tau);
  AddLine(out, "hadj", r.hadj);
  // The HSIG's factory trims: without them a restored instrument measures wrongly.
  AddLine(out, "auto", r.autoSeconds);
  AddLine(out, "wtoffset", r.wtoffset);
  AddLine(out, "wtfactory", r.wtfactory);
  AddLine(out, "p1offset", r.p1offset);
  AddLine(out, "sys", r.sys);
  if ((fileFlags & kInfoCalRecords) != 0) {
    for (std::size_t n = 0; n < r.slots.size() && !r.slots[n].empty(); ++n) {
      AddLine(out, StrFormat("cal%02zu", n), r.slots[n]);
    }
  }
  if ((fileFlags & kInfoValueSlots) != 0) {
    // Every slot, empty ones included: slot 6 is always empty and p0 or p1
    // may be missing while later values are present.
    for (std::size_t n = 0; n < r.slots.size(); ++n) {
      AddLine(out, StrFormat("cal%02zu", n), r.slots[n]);
    }
  }
  AddRecords(out, snapshot.users, kUserRecordType);
  AddRecords(out, snapshot.equations, kEquationRecordType);
}

void FormatSensor(const SdiSensorRecord& s, std::string& out) {
  AddLine(out, "type", kSensorTypeLine);
  AddLine(out, "identity", s.sensorInfo);
  AddLine(out, "address", std::string(1, s.sensorAddress));
  AddNumber(out, "addressInt", static_cast<unsigned char>(s.sensorAddress));
  AddLine(out, "calibration", s.calibrationX4);
  AddLine(out, "calibration2", s.calibrationXa);
  AddLine(out, "sn", s.sensorSerial);
  // The sensor type decides which calibrations are written back, so a
  // restore from the file needs it as much as the calibrations themselves.
  AddNumber(out, "sensorType", s.sensorType);
  AddNumber(out, "typeIsNumber", s.typeIsNumber != 0 ? 1 : 0);
  AddNumber(out, "version", s.sensorVersion);
  if (s.hasXO != 0) {
    AddLine(out, "calibration3", s.calibrationXO);
  }
}

// ---- Reading ----

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

/// A value the file may give to the instrument: no control characters (a
/// binary or damaged file must not send them to the device).
bool IsCleanValue(std::string_view value) {
  for (const char c : value) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      return false;
    }
  }
  return true;
}

/// Reads the values of one file section, keeping the bits of the keys found.
class SectionReader {
public:
  SectionReader(const SettingsFileIndex& file, std::uint32_t allowed, ZuroLog* log)
      : file_(file), allowed_(allowed), log_(log) {}

  std::uint32_t Found() const { return found_; }
  std::uint32_t Allowed() const { return allowed_; }
  bool Wants(std::uint32_t bit) const { return (allowed_ & bit) != 0; }
  void Mark(std::uint32_t bit) { found_ |= bit; }

  bool Value(std::string_view key, std::string_view* value) const {
    if (file_.Find(key, value)) {
      return true;
    }
    if (file_.Damaged(key) && log_ != nullptr) {
      log_->LogMessage(kLogFailures, kModule,
                       "ReadInfoFile ignored the damaged value of \"%.*s\" (no closing quote or "
                       "control characters)",
                       static_cast<int>(key.size()), key.data());
    }
    return false;
  }

  /// A text key: found when its value is not empty.
  bool Text(std::string_view key, std::uint32_t bit, std::string& field, std::size_t maxChars) {
    std::string_view value;
    if (!Wants(bit) || !Value(key, &value) || value.empty()) {
      return false;
    }
    BoundedCopy(field, value, maxChars);
    Mark(bit);
    return true;
  }

  /// A decimal number within [low, high].
  template <typename T>
  bool Number(std::string_view key, std::uint32_t bit, T& field,
              std::int64_t low = std::numeric_limits<T>::min(),
              std::int64_t high = std::numeric_limits<T>::max()) {
    std::string_view value;
    if (!Wants(bit) || !Value(key, &value)) {
      return false;
    }
    std::int64_t number = 0;
    if (!ParseInteger(value, number) || number < low || number > high) {
      NotANumber(key, value);
      return false;
    }
    field = static_cast<T>(number);
    Mark(bit);
    return true;
  }

  /// Five numbers from 0 to 255 separated by blanks.
  bool Bytes(std::string_view key, PortBytes& field) const {
    std::string_view value;
    if (!Value(key, &value)) {
      return false;
    }
    PortBytes bytes{};
    std::string_view rest = Trim(value);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const std::size_t end = std::min(rest.find_first_of(" \t"), rest.size());
      std::int64_t number = 0;
      if (!ParseInteger(rest.substr(0, end), number) || number < 0 || number > 255) {
        NotANumber(key, value);
        return false;
      }
      bytes[i] = static_cast<std::uint8_t>(number);
      rest = Trim(rest.substr(end));
    }
    if (!rest.empty()) {
      NotANumber(key, value);
      return false;
    }
    field = bytes;
    return true;
  }

  bool Degrees(std::string_view key, std::uint32_t bit, double& field, double limit) {
    std::string_view value;
    if (!Wants(bit) || !Value(key, &value)) {
      return false;
    }
    std::string_view text = Trim(value);
    if (!text.empty() && text.front() == '+') {
      text.remove_prefix(1);
    }
    double number = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(number) || std::fabs(number) > limit) {
      NotANumber(key, value);
      return false;
    }
    field = number;
    Mark(bit);
    return true;
  }

  static bool ParseInteger(std::string_view value, std::int64_t& number) {
    std::string_view text = Trim(value);
    if (!text.empty() && text.front() == '+') {
      text.remove_prefix(1);
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
  }

private:
  void NotANumber(std::string_view key, std::string_view value) const {
    if (log_ != nullptr) {
      log_->LogMessage(kLogFailures, kModule,
                       "ReadInfoFile ignored \"%.*s\": \"%.*s\" does not read",
                       static_cast<int>(key.size()), key.data(),
                       static_cast<int>(std::min<std::size_t>(value.size(), 40)), value.data());
    }
  }

  const SettingsFileIndex& file_;
  std::uint32_t allowed_;
  std::uint32_t found_ = 0;
  ZuroLog* log_;
};

bool UsableAdc(const PortBytes& slopes, const PortBytes& offsets) {
  return slopes[0] != kAdcInvalidLow && slopes[0] != kAdcInvalidHigh &&
         offsets[0] != kAdcInvalidLow && offsets[0] != kAdcInvalidHigh;
}

void ReadAdcPair(SectionReader& reader, const char* slopesKey, const char* offsetsKey,
                 std::uint32_t bit, PortBytes& slopes, PortBytes& offsets) {
  PortBytes s{};
  PortBytes o{};
  if (reader.Wants(bit) && reader.Bytes(slopesKey, s) && reader.Bytes(offsetsKey, o) &&
      UsableAdc(s, o)) {
    slopes = s;
    offsets = o;
    reader.Mark(bit);
  }
}

std::uint32_t LoggerFileFlags(int kind) {
  switch (kind) {
  case kLq7bKind:
    return kLq7bFileFlags;
  case kTrellisbaseKind:
    return kTrellisbaseFileFlags;
  default:
    return kDu70GroupFileFlags;
  }
}

std::uint32_t LoggerFileCapabilities(int kind) {
  switch (kind) {
  case kLq7bKind:
    return kFileCapsLq7b;
  case kTrellisbaseKind:
    return kFileCapsTrellisbase;
  default:
    return kFileCapsDu70Group;
  }
}

void ParseLogger(int kind, const SettingsFileIndex& file, std::uint32_t allowed, bool saved,
                 SettingsSnapshot& out, ZuroLog* log) {
  const DeviceSettingsRecord& connected = out.settings;
  DeviceSettingsRecord r;
  // The connected instrument's identity stays: it decides how the settings are written.
  r.familyCode = connected.familyCode;
  r.familyName = connected.familyName;
  r.newFirmware = connected.newFirmware;
  r.identityText = connected.identityText;
  r.versionNumber = connected.versionNumber;
  r.capabilityMask = LoggerFileCapabilities(kind);

  SectionReader reader(file, allowed & LoggerFileFlags(kind), log);
  reader.Text("deviceid", kSetDeviceId, r.deviceId, kDeviceIdMax);
  reader.Text("name", kSetName, r.deviceName, kDeviceNameMax);
  reader.Text("sn", kSetSerialNumber, r.serialNumber, kSerialNumberMax);
  if (kind != kTrellisbaseKind) {
    reader.Number("trait", kSetTrait, r.trait);
  }
  reader.Number("wake", kSetWake, r.wake);
  reader.Number("padc", kSetPadc, r.padc);
  if (reader.Wants(kSetPorts) && reader.Bytes("ports", r.ports)) {
    reader.Mark(kSetPorts);
  }
  if (reader.Wants(kSetDepths) && reader.Bytes("depth", r.depths)) {
    reader.Mark(kSetDepths);
  }
  ReadAdcPair(reader, "ADC15 slopes", "ADC15 offsets", kSetAdc15, r.adc15Slopes, r.adc15Offsets);
  ReadAdcPair(reader, "ADC30 slopes", "ADC30 offsets", kSetAdc30, r.adc30Slopes, r.adc30Offsets);
  reader.Text("ZuroBuild", kSetBuild, r.buildText, kBuildTextMax);
  reader.Number("data", kSetDataParameter, r.dataParameter);
  reader.Number("rmode", kSetRadioMode, r.radioMode);
  reader.Number("rch", kSetRadioChannel, r.radioChannel);
  if (reader.Number("rsch", kSetRadioSubChannel, r.radioSubChannel) && kind == kTrellisbaseKind) {
    // A Trellisbase's trait is fixed: its radio sub-channel shows the radio it always has.
    r.trait = kTrellisbaseTrait;
    if (reader.Wants(kSetTrait)) {
      reader.Mark(kSetTrait);
    }
  }
  reader.Text("site", kSetSite, r.site, kSiteMax);
  reader.Degrees("lat", kSetLatitude, r.latitude, 90.0);
  reader.Degrees("lon", kSetLongitude, r.longitude, 180.0);
  reader.Number("timezone", kSetTimeZone, r.timeZone);
  reader.Number("report", kSetReportMode, r.reportMode);
  reader.Text("apn", kSetApn, r.apn, kApnMax);
  reader.Text("user", kSetApnUser, r.apnUser, kApnMax);
  reader.Text("passwd", kSetApnPassword, r.apnPassword, kApnMax);
  reader.Text("host", kSetHost, r.host, kHostMax);
  reader.Text("authkey", kSetAuthKey, r.authKey, kAuthKeyLength);
  reader.Number("ipport", kSetIpPort, r.ipPort);

  std::uint32_t mask = reader.Found();
  if (saved && (allowed & kSetIdentity) != 0) {
    mask |= kSetIdentity; // collected then; the type line matched the connected instrument
  }
  r.validFlags = mask;
  out.settings = std::move(r);
  out.savedSettingsMask = mask;
}

void ReadSlots(SectionReader& reader, InstInfoRecord& r) {
  if (reader.Wants(kInfoCalRecords)) {
    for (std::size_t n = 0; n < r.slots.size(); ++n) {
      std::string_view value;
      if (!reader.Value(StrFormat("cal%02zu", n), &value) || value.empty()) {
        break;
      }
      BoundedCopy(r.slots[n], value, kInfoLongTextMax);
      reader.Mark(kInfoCalRecords);
    }
  }
  if (reader.Wants(kInfoValueSlots)) {
    for (std::size_t n = 0; n < r.slots.size(); ++n) {
      std::string_view value;
      if (reader.Value(StrFormat("cal%02zu", n), &value) && !value.empty()) {
        BoundedCopy(r.slots[n], value, kInfoLongTextMax);
        reader.Mark(kInfoValueSlots);
      }
    }
  }
}

void ParseInstrument(int kind, const SettingsFileIndex& file, std::uint32_t allowed,
                     SettingsSnapshot& out, ZuroLog* log) {
  InstInfoRecord r;
  r.kind = static_cast<std::int8_t>(kind);
  SectionReader reader(file, allowed, log);
  // fvals and uvals belong to their own bits on most kinds and to the "-p"
  // group on the kinds that read them with "get -p" and "get -pv".
  const std::uint32_t kindFlags = InstInfoFileFlags(kind);
  const std::uint32_t fvalsBit = (kindFlags & kInfoFvals) != 0 ? kInfoFvals : kInfoPGroup;
  const std::uint32_t uvalsBit = (kindFlags & kInfoUvals) != 0 ? kInfoUvals : kInfoPGroup;
  reader.Text("name", kInfoName, r.name, kInfoNameMax);
  reader.Text("sn", kInfoSerialNumber, r.serialNumber, kInfoSerialMax);
  reader.Number("lang", kInfoLanguage, r.language);
  reader.Number("contr", kInfoContrast, r.contrast);
  reader.Text("config", kInfoConfig, r.config, kInfoConfigMax);
  reader.Text("fvals", fvalsBit, r.fvals, kInfoLongTextMax);
  reader.Text("uvals", uvalsBit, r.uvals, kInfoLongTextMax);
  reader.Number("units", kInfoUnits, r.unitsNumber);
  reader.Text("adc", kInfoAdc, r.adc, kInfoShortTextMax);
  reader.Text("adccal", kInfoAdcCal, r.adccal, kInfoMidTextMax);
  reader.Text("calprefs", kInfoPGroup, r.calPrefs, kInfoLongTextMax);
  reader.Text("VXUnits", kInfoUnitsText, r.unitsText, kInfoLongTextMax);
  reader.Text("sample", kInfoSample, r.sample, kInfoLongTextMax);
  reader.Text("usage", kInfoUsage, r.usage, kInfoLongTextMax);
  reader.Text("adc15", kInfoAdc15, r.adc15, kInfoLongTextMax);
  reader.Text("adc30", kInfoAdc30, r.adc30, kInfoLongTextMax);
  reader.Text("location", kInfoLocation, r.location, kInfoLongTextMax);
  reader.Text("chai", kInfoChai, r.chai, kInfoShortTextMax);
  reader.Text("extCal", kInfoExt, r.ext, kInfoShortTextMax);
  reader.Text("tadj", kInfoTadj, r.tadj, kInfoLongTextMax);
  reader.Number("tau", kInfoHadjTau, r.tau);
  reader.Text("hadj", kInfoHadjTau, r.hadj, kInfoLongTextMax);
  reader.Text("auto", kInfoAuto, r.autoSeconds, kInfoMidTextMax);
  reader.Text("wtoffset", kInfoWtOffset, r.wtoffset, kInfoMidTextMax);
  reader.Text("wtfactory", kInfoWtFactory, r.wtfactory, kInfoMidTextMax);
  reader.Text("p1offset", kInfoP1Offset, r.p1offset, kInfoMidTextMax);
  reader.Text("sys", kInfoSys, r.sys, kInfoLongTextMax);
  ReadSlots(reader, r);

  RecordSet users;
  RecordSet equations;
  if (reader.Wants(kInfoUserRecords) && RecordsFromFile(users, kUserRecordType, file, log) > 0 &&
      users.Count() > 0) {
    reader.Mark(kInfoUserRecords);
  }
  if (reader.Wants(kInfoEquations) &&
      RecordsFromFile(equations, kEquationRecordType, file, log) > 0 && equations.Count() > 0) {
    reader.Mark(kInfoEquations);
  }
  r.validFlags = reader.Found();
  out.instInfo = std::move(r);
  out.users = std::move(users);
  out.equations = std::move(equations);
}

bool IsSdiAddress(std::int64_t code) {
  return (code >= '0' && code <= '9') || (code >= 'a' && code <= 'z') ||
         (code >= 'A' && code <= 'Z');
}

void ParseSensor(const SettingsFileIndex& file, SettingsSnapshot& out, ZuroLog* log) {
  SdiSensorRecord s;
  constexpr std::uint32_t kAll = ~std::uint32_t{0};
  SectionReader reader(file, kAll, log);
  std::int64_t address = 0;
  if (reader.Number("addressInt", kAll, address) && IsSdiAddress(address)) {
    s.sensorAddress = static_cast<char>(address);
  }
  reader.Text("identity", kAll, s.sensorInfo, kSensorInfoMax);
  reader.Text("calibration", kAll, s.calibrationX4, kSensorCalibrationMax);
  reader.Text("calibration2", kAll, s.calibrationXa, kSensorCalibrationMax);
  s.hasXO = reader.Text("calibration3", kAll, s.calibrationXO, kSensorCalibrationMax) ? 1 : 0;
  reader.Text("sn", kAll, s.sensorSerial, kSensorSerialMax);
  reader.Number("sensorType", kAll, s.sensorType);
  reader.Number("typeIsNumber", kAll, s.typeIsNumber, 0, 1);
  reader.Number("version", kAll, s.sensorVersion);
  out.sensor = std::move(s);
}

} // namespace

SettingsFileIndex::SettingsFileIndex(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    AddLine(text.substr(at, end - at));
    at = end + 1;
  }
}

bool SettingsFileIndex::Find(std::string_view key, std::string_view* value) const {
  const auto it = keys_.find(key);
  if (value == nullptr || it == keys_.end() || !it->second.closed ||
      !IsCleanValue(it->second.value)) {
    return false;
  }
  *value = it->second.value;
  return true;
}

bool SettingsFileIndex::Damaged(std::string_view key) const {
  const auto it = keys_.find(key);
  return it != keys_.end() && (!it->second.closed || !IsCleanValue(it->second.value));
}

void SettingsFileIndex::AddLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) {
    return;
  }
  const std::string_view key = Trim(line.substr(0, equals));
  std::size_t open = equals + 1;
  while (open < line.size() && IsBlank(line[open])) {
    ++open;
  }
  if (key.empty() || open >= line.size() || line[open] != '"') {
    return;
  }
  const std::size_t close = line.rfind('"');
  Entry entry{{}, close > open};
  if (entry.closed) {
    entry.value = line.substr(open + 1, close - open - 1);
  }
  keys_.try_emplace(key, entry);
}

// ---- Kind tables ----

SnapshotGroup SnapshotGroupOf(int kind) {
  if (FlagsOf(kLoggerSaveFlags, std::size(kLoggerSaveFlags), kind) != 0) {
    return SnapshotGroup::kLogger;
  }
  if (kind == kSensorDeviceKind) {
    return SnapshotGroup::kSensor;
  }
  if (FlagsOf(kInstSaveFlags, std::size(kInstSaveFlags), kind) != 0) {
    return SnapshotGroup::kInstrument;
  }
  return SnapshotGroup::kNone;
}

std::uint32_t LoggerSaveFlags(int kind) {
  return FlagsOf(kLoggerSaveFlags, std::size(kLoggerSaveFlags), kind);
}

std::uint32_t InstInfoSaveFlags(int kind, std::uint32_t entryVersion, std::int32_t recordVersion) {
  if (kind == kQx20Kind && entryVersion >= kQx20NewFromVersion) {
    return kQx20NewFlags;
  }
  if (kind == kHg4Kind && recordVersion >= kHg4NewFromVersion) {
    return kHg4NewFlags;
  }
  return FlagsOf(kInstSaveFlags, std::size(kInstSaveFlags), kind);
}

std::uint32_t InstInfoFileFlags(int kind) {
  std::uint32_t flags = FlagsOf(kInstSaveFlags, std::size(kInstSaveFlags), kind);
  if (kind == kQx20Kind) {
    flags |= kQx20NewFlags;
  }
  if (kind == kHg4Kind) {
    flags |= kHg4NewFlags;
  }
  return flags;
}

std::string SettingsFileType(int kind) {
  switch (SnapshotGroupOf(kind)) {
  case SnapshotGroup::kLogger:
    for (const KindName& row : kLoggerTypes) {
      if (row.kind == kind) {
        return row.name;
      }
    }
    return {};
  case SnapshotGroup::kInstrument:
    return std::string(DeviceKindIdentityCode(kind));
  case SnapshotGroup::kSensor:
    return kSensorTypeLine;
  case SnapshotGroup::kNone:
    break;
  }
  return {};
}

std::string FormatSettingsFile(int kind, const SettingsSnapshot& snapshot) {
  const SnapshotGroup group = SnapshotGroupOf(kind);
  if (group == SnapshotGroup::kNone) {
    return {};
  }
  std::string out;
  out.append(kSettingsFileHeader).append(kSettingsFileLineEnd).append(kSettingsFileLineEnd);
  switch (group) {
  case SnapshotGroup::kLogger:
    FormatLogger(kind, snapshot, out);
    break;
  case SnapshotGroup::kInstrument:
    FormatInstrument(kind, snapshot, out);
    break;
  case SnapshotGroup::kSensor:
    FormatSensor(snapshot.sensor, out);
    break;
  case SnapshotGroup::kNone:
    break;
  }
  AddLine(out, kEndKey, kEndValue);
  return out;
}

bool FindSettingValue(std::string_view text, std::string_view key, std::string_view* value) {
  if (value == nullptr) {
    return false;
  }
  return SettingsFileIndex(text).Find(key, value);
}

Result ParseSettingsFile(int kind, std::string_view text, SettingsSnapshot* snapshot,
                         ZuroLog* log) {
  if (snapshot == nullptr) {
    return kErrMissingArgument;
  }
  const SnapshotGroup group = SnapshotGroupOf(kind);
  if (group == SnapshotGroup::kNone) {
    return kErrProtoNotSupported;
  }
  const SettingsFileIndex file(text);
  const std::string expected = SettingsFileType(kind);
  std::string_view type;
  if (!file.Find("type", &type) || type != expected) {
    if (log != nullptr) {
      log->LogMessage(kLogFailures, kModule,
                      "ReadInfoFile found no settings of a %s in the file (type \"%.*s\")",
                      expected.c_str(), static_cast<int>(std::min<std::size_t>(type.size(), 40)),
                      type.data());
    }
    return kErrNotUnderstood;
  }

  // The collected settings the writer recorded; a hand-written file without
  // them restores every setting the kind keeps that the file holds.
  std::uint32_t allowed = ~std::uint32_t{0};
  std::string_view savedText;
  std::int64_t saved = 0;
  const bool hasSaved = file.Find("saved", &savedText);
  if (hasSaved) {
    if (!SectionReader::ParseInteger(savedText, saved) || saved < 0 ||
        saved > std::numeric_limits<std::uint32_t>::max()) {
      if (log != nullptr) {
        log->LogMessage(kLogFailures, kModule, "ReadInfoFile found an unreadable saved line");
      }
      return kErrNotUnderstood;
    }
    allowed = static_cast<std::uint32_t>(saved);
  }

  SettingsSnapshot result = *snapshot;
  std::uint32_t missing = 0;
  switch (group) {
  case SnapshotGroup::kLogger:
    ParseLogger(kind, file, allowed, hasSaved, result, log);
    missing = LoggerFileFlags(kind) & ~result.savedSettingsMask;
    break;
  case SnapshotGroup::kInstrument:
    ParseInstrument(kind, file, allowed & InstInfoFileFlags(kind), result, log);
    missing = InstInfoFileFlags(kind) & ~result.instInfo.validFlags;
    break;
  case SnapshotGroup::kSensor:
    ParseSensor(file, result, log);
    break;
  case SnapshotGroup::kNone:
    break;
  }
  *snapshot = std::move(result);

  // A file this program wrote names what it holds and ends with its end
  // line; one that lacks either was cut short or damaged. What it still holds
  // is restored, and the result says that some settings are missing.
  missing = hasSaved ? missing & allowed : 0;
  std::string_view end;
  const bool complete = file.Find(kEndKey, &end) && end == kEndValue;
  if (missing != 0 || !complete) {
    if (log != nullptr) {
      log->LogMessage(kLogFailures, kModule,
                      "ReadInfoFile found an incomplete settings file (missing 0x%X%s)",
                      static_cast<unsigned>(missing), complete ? "" : ", no end line");
    }
    return kErrPartialSettings;
  }
  return kDone;
}

// ---- Files ----

namespace {

Result LogFileError(ZuroLog* log, const char* what, int error, const std::string& path) {
  if (log != nullptr) {
    log->LogMessage(kLogFailures, kModule,
                    "WriteInfoFile got error %d trying to %s settings file %s", error, what,
                    path.c_str());
  }
  return -error;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

Result WriteSettingsFileText(const std::string& path, std::string_view text, ZuroLog* log) {
  if (path.empty()) {
    return kErrMissingArgument;
  }
  // A temporary file beside the target, so the rename stays in one file system.
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data()); // created 0600: the file holds passwords and keys
  if (fd < 0) {
    return LogFileError(log, "open", errno, path);
  }
  int error = 0;
  const char* what = "write";
  std::size_t done = 0;
  while (error == 0 && done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (error == 0 && ::fsync(fd) != 0) {
    error = errno;
    what = "flush";
  }
  if (::close(fd) != 0 && error == 0) {
    error = errno;
    what = "close";
  }
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) {
    error = errno;
    what = "rename";
  }
  if (error != 0) {
    ::unlink(temp.c_str());
    return LogFileError(log, what, error, path);
  }
  // The rename itself must reach the disk before the flash is erased.
  const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    if (::fsync(folder) != 0 && log != nullptr) {
      log->LogMessage(kLogDetails, kModule, "WriteInfoFile could not flush the folder of %s (%d)",
                      path.c_str(), errno);
    }
    ::close(folder);
  }
  return kDone;
}

Result ReadSettingsFileText(const std::string& path, std::string* text, ZuroLog* log) {
  if (path.empty() || text == nullptr) {
    return kErrMissingArgument;
  }
  // Non-blocking, so a FIFO put where the file should be cannot hang the update.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int error = errno;
    switch (error) {
    case ENOENT:
      return kErrSettingsFileMissing;
    case EACCES:
    case EPERM:
      return kErrSettingsFileDenied;
    case EBADF:
      return kErrSettingsFileHandle;
    default:
      return -error;
    }
  }
  struct stat info {};
  Result result = kDone;
  if (::fstat(fd, &info) != 0) {
    result = -errno;
  } else if (S_ISDIR(info.st_mode)) {
    result = -EISDIR;
  } else if (!S_ISREG(info.st_mode)) {
    result = -EINVAL;
  } else if (static_cast<std::uint64_t>(info.st_size) > kSettingsFileMaxBytes) {
    result = kErrSettingsFileTooLarge;
  }
  if (result == kDone) {
    try {
      std::string content;
      content.resize(static_cast<std::size_t>(info.st_size) + 1);
      std::size_t done = 0;
      while (done < content.size()) {
        const ssize_t n = ::read(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
          continue;
        }
        if (n < 0) {
          result = -errno;
          break;
        }
        if (n == 0) {
          break;
        }
        done += static_cast<std::size_t>(n);
        if (done > kSettingsFileMaxBytes) {
          result = kErrSettingsFileTooLarge; // it grew while being read
          break;
        }
        if (done == content.size()) {
          content.resize(std::min<std::size_t>(content.size() * 2, kSettingsFileMaxBytes + 1));
        }
      }
      content.resize(done);
      *text = std::move(content);
    } catch (const std::bad_alloc&) {
      result = kErrOutOfMemory;
    }
  }
  ::close(fd);
  if (result < 0 && log != nullptr) {
    log->LogMessage(kLogFailures, kModule, "ReadInfoFile got error %d reading %s", result,
                    path.c_str());
  }
  return result;
}

bool SameSensorRecord(const SdiSensorRecord& a, const SdiSensorRecord& b) {
  return a.sensorAddress == b.sensorAddress && a.sensorInfo == b.sensorInfo &&
         a.calibrationX4 == b.calibrationX4 && a.calibrationXa == b.calibrationXa &&
         a.calibrationXO == b.calibrationXO && a.hasXO == b.hasXO &&
         a.sensorSerial == b.sensorSerial && a.sensorType == b.sensorType &&
         a.sensorVersion == b.sensorVersion && a.typeIsNumber == b.typeIsNumber;
}

std::string MaskSecret(std::string_view secret) {
  return secret.empty() ? "" : "****";
}

} // namespace zuro
