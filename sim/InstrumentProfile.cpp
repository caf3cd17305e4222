#include "sim/InstrumentProfile.h"

#include <cctype>

#include "core/Text.h"

namespace zuro::sim {

namespace {

using T = SettingType;

// Settings of the Du70 family of loggers (qT7 and KVL share them): name,
// identity, measurement and location settings, calibration and the cellular
// modem. The configured column is the device as a customer set it up. The
// build text comes with the firmware, so an erased device reports it too.
// The qT7's radio runs in one mode only.
std::vector<SettingDefinition> LoggerSettings(bool cellular, bool fixedRadioMode) {
  std::vector<SettingDefinition> s = {
      {"i", T::kText, 8, 0, "", "NODE1"},
      {"sn", T::kText, 15, 0, "", "DU7010442"},
      {"devid", T::kText, 8, kCapLocation, "", "A1B2C3D4"},
      {"report", T::kNumber, 0, kCapLocation, "0", "1"},
      {"depth", T::kFiveBytes, 0, kCapLocation, "0 0 0 0 0", "10 20 30 40 50"},
      {"lat", T::kCoordinate, 0, kCapCoordinates, "", "+46.52345"},
      {"long", T::kCoordinate, 0, kCapCoordinates, "", "-117.12345"},
      {"tz", T::kNumber, 0, kCapLocation, "0", "-32"},
      {"site", T::kText, 25, kCapLocation, "", "North Field"},
      {"w", T::kNumber, 0, kCapWake, "60", "900"},
      {"padc", T::kNumber, 0, kCapWake, "0", "50"},
      {"ports", T::kFiveBytes, 0, kCapPorts, "0 0 0 0 0", "1 2 0 4 0"},
      {"adc30", T::kAdcCal, 0, kCapAdc, "", "10 1 20 2 30 3 40 4 50 5 165"},
      {"adc15", T::kAdcCal, 0, kCapAdc, "", "11 2 21 3 31 4 41 5 51 6 175"},
      {"data", T::kNumber, 0, kCapData, "0", "3"},
      {"build", T::kText, 16, kCapBuild, "B2041", "B2041"},
      fixedRadioMode ? SettingDefinition{"r", T::kFixed, 0, kCapRmode, "16", "16"}
                     : SettingDefinition{"r", T::kNumber, 0, kCapRmode, "0", "2"},
      // 255 minus the fitted options: 1 radio module, 8 cellular modem.
      {"trait", T::kNumber, 0, kCapTraitRead, "255", "255"},
  };
  if (cellular) {
    const std::vector<SettingDefinition> modem = {
        {"apn", T::kText, 35, 0, "", "fieldnet.example"},
        {"user", T::kText, 35, 0, "", "logger"},
        {"passwd", T::kText, 35, 0, "", "s3cret"},
        {"authkey", T::kHexKey, 32, 0, "", "00112233445566778899AABBCCDDEEFF"},
        {"host", T::kText, 63, 0, "", "data.brenvik.example"},
        {"ipport", T::kNumber, 0, 0, "0", "4711"},
    };
    s.insert(s.end(), modem.begin(), modem.end());
  }
  return s;
}

std::vector<SettingDefinition> Lq7bSettings() {
  return {
      {"i", T::kText, 8, 0, "", "LQB22"},
      {"sn", T::kText, 15, 0, "", "LQ7B00871"},
      {"w", T::kNumber, 0, kCapWake, "60", "600"},
      {"padc", T::kNumber, 0, kCapWake, "0", "10"},
      {"ports", T::kFiveBytes, 0, kCapPorts, "0 0 0 0 0", "3 3 0 0 1"},
      {"build", T::kText, 16, kCapBuild, "", "L0204"},
      {"trait", T::kNumber, 0, kCapTraitRead, "255", "255"},
  };
}

std::vector<SettingDefinition> TrellisbaseSettings() {
  return {
      {"i", T::kText, 8, 0, "", "BASE3"},
      {"sn", T::kText, 15, 0, "", "ZS000512"},
      {"data", T::kNumber, 0, kCapData, "0", "2"},
      // Its radio module is built in: the trait always says so (255 minus 1).
      {"trait", T::kNumber, 0, kCapTraitRead, "254", "254"},
  };
}

std::vector<SettingDefinition> OldLq7Settings() {
  return {
      {"i", T::kText, 8, 0, "", "NODE7"},
      {"w", T::kNumber, 0, 0, "60", "900"},
      {"p", T::kNumber, 0, 0, "0", "20"},
      {"r", T::kNumber, 0, 0, "0", "1"},
  };
}

std::vector<SettingDefinition> Hg4Settings() {
  return {
      // Left unnamed: its settings snapshot carries no name to restore.
      {"i", T::kText, 8, 0, "", ""},
      {"sn", T::kText, 15, 0, "", "AB"},
      // The config word carries a checksum of the serial number; see the model.
      {"config", T::kSerialSum, 0, 0, "5000", "5131"},
      {"tadj", T::kText, 256, 0, "", "0.25"},
      {"hadj", T::kText, 256, 0, "", "-1.5"},
      {"tau", T::kNumber, 0, 0, "0", "30"},
      {"pvuser", T::kText, 256, 0, "", "12.5 13.0 14.25"},
      {"sensor", T::kNumber, 0, 0, "0", "2"},
  };
}

std::vector<SettingDefinition> VantorixSettings() {
  return {
      {"i", T::kText, 8, 0, "", "VX0042"},
      {"sn", T::kText, 15, 0, "", "VX2210042"},
      {"contr", T::kNumber, 0, 0, "50", "62"},
      {"adc15", T::kText, 256, 0, "", "1.0012 0.0031"},
      {"adc30", T::kText, 256, 0, "", "0.9987 -0.0012"},
  };
}

std::vector<SettingDefinition> VcdSettings() {
  return {
      {"i", T::kText, 8, 0, "", "VCD01"},
      {"sn", T::kText, 15, 0, "", "VCD330017"},
  };
}

std::vector<SettingDefinition> Qx20Settings() {
  return {
      {"i", T::kText, 8, 0, "", ""}, // unnamed, as the HG4
      {"sn", T::kText, 15, 0, "", "QX20-7781"},
      {"loc", T::kText, 256, 0, "", "Greenhouse 2, bench 4"},
      {"x", T::kText, 16, 0, "", "CH4"},
      {"ext", T::kText, 16, 0, "", "EXT1"},
      {"adccal", T::kText, 63, 0, "", "1.0021 0.0004"},
      {"config", T::kText, 64, 0, "", "A1"},
      {"contr", T::kNumber, 0, 0, "50", "48"},
  };
}

std::vector<SettingDefinition> Tq8Settings() {
  return {
      {"i", T::kText, 8, 0, "", ""},           {"sn", T::kText, 15, 0, "", "TQ8P-1203"},
      {"contr", T::kNumber, 0, 0, "50", "55"}, {"units", T::kNumber, 0, 0, "0", "1"},
      {"adc", T::kText, 16, 0, "", "0.998"},   {"sample", T::kText, 256, 0, "", "10 s avg"},
  };
}

// The single-setting instruments below keep exactly what their settings
// snapshot collects; the configured column is a device set up in the field.

std::vector<SettingDefinition> HygrantLiteSettings() {
  return {
      {"sn", T::kText, 15, 0, "", "HL0532"},
      {"lang", T::kNumber, 0, 0, "0", "2"},
      {"contr", T::kNumber, 0, 0, "50", "44"},
      {"fvals", T::kText, 256, 0, "", "0.0 25.0 50.0"},
      {"uvals", T::kText, 256, 0, "", "0.2 25.1 49.7"},
      {"hadj", T::kText, 256, 0, "", "-0.8"},
      {"tau", T::kNumber, 0, 0, "0", "20"},
  };
}

std::vector<SettingDefinition> StomatrixSettings() {
  return {
      {"sn", T::kText, 15, 0, "", "VH2024118"},
      {"contr", T::kNumber, 0, 0, "50", "58"},
      {"fvals", T::kText, 256, 0, "", "1.02 0.98 1.00"},
      {"units", T::kNumber, 0, 0, "0", "2"},
  };
}

std::vector<SettingDefinition> HygrsorbSettings() {
  return {
      {"sn", T::kText, 15, 0, "", "HSIG0311"},    {"adccal", T::kText, 63, 0, "", "1.0034 -0.0021"},
      {"wtoffset", T::kText, 63, 0, "", "0.015"}, {"wtfactory", T::kText, 63, 0, "", "0.9985"},
      {"p1offset", T::kText, 63, 0, "", "-0.42"}, {"sys", T::kText, 256, 0, "", "IG2 50Hz"},
      {"auto", T::kText, 63, 0, "", "600"},
  };
}

std::vector<SettingDefinition> Series3Settings() {
  return {
      {"adccal", T::kText, 63, 0, "", "0.9991 0.0007"},
      {"config", T::kText, 64, 0, "", "Q3B-RH2"},
  };
}

// The KWM keeps its calibration points as "-p" (factory) and "-pv" (user)
// values, its calibration preferences as "-c76", and user records.
std::vector<SettingDefinition> KwmSettings() {
  return {
      {"sn", T::kText, 15, 0, "", "KWM0077"},         {"config", T::kText, 64, 0, "", "K2"},
      {"tadj", T::kText, 256, 0, "", "0.10"},         {"p", T::kText, 256, 0, "", "12.0 24.5 36.0"},
      {"pv", T::kText, 256, 0, "", "11.8 24.6 36.3"}, {"c76", T::kText, 256, 0, "", "1 0 1 1"},
  };
}

std::vector<SettingDefinition> SerialAndConfigSettings(const char* serial, const char* config) {
  return {
      {"sn", T::kText, 15, 0, "", serial},
      {"config", T::kText, 64, 0, "", config},
  };
}

// The Hygrant 4 TDL: the Hygrant 4's config word and adjustments, and the
// laser's pressures, line width, temperature and current.
std::vector<SettingDefinition> Hg4TdlSettings() {
  return {
      {"sn", T::kText, 15, 0, "", "TD7"},       {"config", T::kSerialSum, 0, 0, "5000", "5207"},
      {"tadj", T::kText, 256, 0, "", "0.30"},   {"hadj", T::kText, 256, 0, "", "-0.75"},
      {"tau", T::kNumber, 0, 0, "0", "15"},     {"p0", T::kText, 63, 0, "", "101.3"},
      {"p3", T::kText, 63, 0, "", "0.85"},      {"p5", T::kText, 63, 0, "", "1.20"},
      {"lwidth", T::kText, 63, 0, "", "0.062"}, {"ltemp", T::kText, 63, 0, "", "25.0"},
      {"current", T::kText, 63, 0, "", "41.5"}, {"p1", T::kText, 63, 0, "", "99.7"},
  };
}

// The PERMIX keeps its units as text and its factory points as "-p".
std::vector<SettingDefinition> PermixSettings() {
  return {
      {"sn", T::kText, 15, 0, "", "RWZ1209"},
      {"usage", T::kText, 256, 0, "", "irrigation block 7"},
      {"contr", T::kNumber, 0, 0, "50", "60"},
      {"tadj", T::kText, 256, 0, "", "-0.20"},
      {"p", T::kText, 256, 0, "", "0.0 0.5 1.0"},
      {"units", T::kText, 256, 0, "", "kPa"},
  };
}

std::vector<SettingDefinition> FlowDrivSettings() {
  return {
      {"sn", T::kText, 15, 0, "", "FD0009"},
  };
}

std::vector<InstrumentProfile> MakeProfiles() {
  using S = FirmwareStyle;
  constexpr std::uint8_t kNone = kNoRecords;
  std::vector<InstrumentProfile> p;
  // clang-format off
  //                name   kind code  version style fam baud clock data login radio cell rec cal
  p.push_back({"du70", 3, "DU70", "2.20", S::kLogger, kFamilyDu70, true, true, true, false, false,
               true, kNone, false, "OK", LoggerSettings(true, false), {}});
  p.push_back({"qt7", 18, "QT7", "1.40", S::kLogger, kFamilyQt7, true, true, true, false, false,
               false, kNone, false, "OK", LoggerSettings(false, true), {}});
  p.push_back({"kvl", 19, "KVL", "1.12", S::kLogger, kFamilyKvl, true, true, true, false, false,
               false, kNone, false, "OK", LoggerSettings(false, false), {}});
  p.push_back({"lq7b", 2, "LQ7B", "2.04", S::kLogger, kFamilyLq7b, false, true, true, false, false,
               false, kNone, false, "OK", Lq7bSettings(), {}});
  p.push_back({"trellisbase", 4, "ZS", "1.12", S::kLogger, kFamilyTrellisbase, true, false, true,
               false, true, false, kNone, false, "OK", TrellisbaseSettings(), {}});
  p.push_back({"lq7", 1, "LQ7", "1.20", S::kOldLogger, kFamilyLq7, false, true, true, false, false,
               false, kNone, false, "OK", OldLq7Settings(), {}});
  // The user calibration points came with firmware 2.05.
  p.push_back({"hg4", 15, "HG4", "2.05", S::kInstrument, 0, true, true, true, true, false, false,
               kBothRecords, false, "7035", Hg4Settings(), {{"pvuser", 205}}});
  p.push_back({"vantorix", 14, "VX", "1.23", S::kInstrument, 0, true, true, true, false, false,
               false, kNone, true, "OK", VantorixSettings(), {}});
  p.push_back({"vcd", 13, "VCD", "1.05", S::kInstrument, 0, true, false, false, false, false, false,
               kNone, false, "OK", VcdSettings(), {}});
  // Serial number, contrast and config word came with firmware 2.00.
  p.push_back({"qx20", 8, "QX20", "2.01", S::kInstrument, 0, true, true, true, false, false, false,
               kNone, false, "OK", Qx20Settings(), {{"sn", 200}, {"contr", 200}, {"config", 200}}});
  p.push_back({"tq8", 7, "TQ", "1.31", S::kInstrument, 0, true, true, true, false, false, false,
               kNone, false, "OK", Tq8Settings(), {}});
  p.push_back({"hlite", 6, "HLITE", "1.24", S::kInstrument, 0, true, false, false, true, false,
               false, kNone, false, "7035", HygrantLiteSettings(), {}});
  p.push_back({"vh", 9, "VH", "1.12", S::kInstrument, 0, true, true, true, false, false, false,
               kNone, false, "OK", StomatrixSettings(), {}});
  p.push_back({"hsig", 11, "HSIG", "1.07", S::kInstrument, 0, true, true, true, false, false, false,
               kNone, false, "OK", HygrsorbSettings(), {}});
  p.push_back({"q3b", 12, "Q3B", "3.62", S::kInstrument, 0, true, false, false, true, false, false,
               kNone, false, "7035", Series3Settings(), {}});
  p.push_back({"kwm", 16, "KWM", "1.30", S::kInstrument, 0, true, true, true, false, false, false,
               kUserRecords, false, "OK", KwmSettings(), {}});
  p.push_back({"wq7c", 17, "WQ7C", "1.03", S::kInstrument, 0, true, false, false, true, false,
               false, kNone, false, "OK", SerialAndConfigSettings("WQ7C-2210", "F1 T30"), {}});
  p.push_back({"zuv", 20, "ZUV", "1.15", S::kInstrument, 0, true, false, false, true, false, false,
               kNone, false, "7035", SerialAndConfigSettings("ZUV00412", "PRE-2"), {}});
  p.push_back({"hg4tdl", 22, "HG4TDL", "2.10", S::kInstrument, 0, true, true, true, false, false,
               false, kBothRecords, false, "OK", Hg4TdlSettings(), {}});
  p.push_back({"rwz", 23, "RWZ", "1.41", S::kInstrument, 0, true, true, true, false, false, false,
               kNone, false, "OK", PermixSettings(), {}});
  p.push_back({"flowdriv", 24, "FLOWDRIV", "1.02", S::kInstrument, 0, true, false, false, false,
               false, false, kNone, false, "OK", FlowDrivSettings(), {}});
  // clang-format on
  return p;
}

} // namespace

const std::vector<InstrumentProfile>& AllProfiles() {
  static const std::vector<InstrumentProfile> profiles = MakeProfiles();
  return profiles;
}

const InstrumentProfile* ProfileByName(std::string_view simName) {
  for (const auto& p : AllProfiles()) {
    if (simName == p.simName) {
      return &p;
    }
  }
  if (simName == UnknownProfile().simName) {
    return &UnknownProfile();
  }
  return nullptr;
}

const InstrumentProfile* ProfileByCode(std::string_view code) {
  const std::string upper = ToUpperAscii(code);
  for (const auto& p : AllProfiles()) {
    if (upper == p.code) {
      return &p;
    }
  }
  return nullptr;
}

const InstrumentProfile& UnknownProfile() {
  static const InstrumentProfile unknown{
      "unknown", 0,     "XYZ",      "1.00", FirmwareStyle::kUnknown,
      0,         false, false,      false,  false,
      false,     false, kNoRecords, false,  "OK",
      {},        {}};
  return unknown;
}

std::uint32_t LoggerCapabilities(int family, int version) {
  struct Addition {
    int from;
    std::uint32_t bits;
  };
  std::uint32_t mask = 0x1005;
  switch (family) {
  case kFamilyLq7:
    return 0x331C; // early firmware: the "show" dialect
  case kFamilyDu70: {
    mask = 0x7737;
    static const Addition adds[] = {{105, 0x80},      {108, 0x40},     {112, 0x8800},
                                    {114, 0x70000},   {118, 0xC00000}, {119, 0x200000},
                                    {200, 0x1000000}, {202, 0x4000000}};
    for (const auto& a : adds) {
      mask |= version >= a.from ? a.bits : 0;
    }
    return mask;
  }
  case kFamilyTrellisbase:
    return 0x4503 | (version >= 105 ? 0x80u : 0u) | (version >= 109 ? 0x20000u : 0u);
  case kFamilyLq7b:
    return 0x74BE | (version >= 204 ? 0x40000u : 0u);
  case kFamilyQt7:
    return 0x5E3FFF7;
  case kFamilyKvl:
    return 0x7C3F6F7;
  default:
    return mask;
  }
}

int ParseVersion(std::string_view text) {
  if (text.size() < 3 || !std::isdigit(static_cast<unsigned char>(text[0]))) {
    return -1;
  }
  std::size_t i = 0;
  int major = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && major < 100000) {
    major = major * 10 + (text[i] - '0');
    ++i;
  }
  if (i >= text.size() || text[i] != '.' || i + 1 >= text.size() ||
      !std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
    return -1;
  }
  const int minor = text[i + 1] - '0';
  int sub = 0;
  if (i + 2 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 2]))) {
    sub = text[i + 2] - '0';
  }
  return major * 100 + minor * 10 + sub;
}

} // namespace zuro::sim
