#include "sim/InstrumentProfile.h"

#include <cctype>

#include "core/Text.h"

namespace zuro::sim {

namespace {

using T = SettingType;

// Settings of the Du70 family of loggers (qT7 and KVL share them): name,
// identity, measurement and location settings, calibration and the cellular
// modem. The configured column is the device as a customer set it up.
std::vector<SettingSpec> LoggerSettings(bool cellular) {
  std::vector<SettingSpec> s = {
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
      {"build", T::kText, 16, kCapBuild, "", "B2041"},
      {"r", T::kNumber, 0, kCapRmode, "0", "2"},
      // 255 minus the fitted options: 1 radio module, 8 cellular modem.
      {"trait", T::kNumber, 0, kCapTraitRead, "255", "255"},
  };
  if (cellular) {
    const std::vector<SettingSpec> modem = {
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

std::vector<SettingSpec> Lq7bSettings() {
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

std::vector<SettingSpec> TrellisbaseSettings() {
  return {
      {"i", T::kText, 8, 0, "", "BASE3"},
      {"sn", T::kText, 15, 0, "", "ZS000512"},
      {"data", T::kNumber, 0, kCapData, "0", "2"},
      {"trait", T::kNumber, 0, kCapTraitRead, "255", "254"},
  };
}

std::vector<SettingSpec> OldLq7Settings() {
  return {
      {"i", T::kText, 8, 0, "", "NODE7"},
      {"w", T::kNumber, 0, 0, "60", "900"},
      {"p", T::kNumber, 0, 0, "0", "20"},
      {"r", T::kNumber, 0, 0, "0", "1"},
  };
}

std::vector<SettingSpec> Hg4Settings() {
  return {
      {"i", T::kText, 8, 0, "", "HG4LAB"},
      {"sn", T::kText, 15, 0, "", "AB"},
      // The config word carries a checksum of the serial number; see the model.
      {"config", T::kNumber, 0, 0, "5000", "5131"},
      {"tadj", T::kText, 256, 0, "", "0.25"},
      {"hadj", T::kText, 256, 0, "", "-1.5"},
      {"tau", T::kNumber, 0, 0, "0", "30"},
      {"pvuser", T::kText, 256, 0, "", "12.5 13.0 14.25"},
      {"sensor", T::kNumber, 0, 0, "0", "2"},
  };
}

std::vector<SettingSpec> VantorixSettings() {
  return {
      {"i", T::kText, 8, 0, "", "VX0042"},
      {"sn", T::kText, 15, 0, "", "VX2210042"},
      {"contr", T::kNumber, 0, 0, "50", "62"},
      {"adc15", T::kText, 256, 0, "", "1.0012 0.0031"},
      {"adc30", T::kText, 256, 0, "", "0.9987 -0.0012"},
  };
}

std::vector<SettingSpec> VcdSettings() {
  return {
      {"i", T::kText, 8, 0, "", "VCD01"},
      {"sn", T::kText, 15, 0, "", "VCD330017"},
  };
}

std::vector<SettingSpec> Qx20Settings() {
  return {
      {"i", T::kText, 8, 0, "", "QX20A"},
      {"sn", T::kText, 15, 0, "", "QX20-7781"},
      {"loc", T::kText, 256, 0, "", "Greenhouse 2, bench 4"},
      {"x", T::kText, 16, 0, "", "CH4"},
      {"ext", T::kText, 16, 0, "", "EXT1"},
      {"adccal", T::kText, 63, 0, "", "1.0021 0.0004"},
      {"config", T::kText, 64, 0, "", "A1"},
      {"contr", T::kNumber, 0, 0, "50", "48"},
  };
}

std::vector<SettingSpec> Tq8Settings() {
  return {
      {"i", T::kText, 8, 0, "", "TQ8"},        {"sn", T::kText, 15, 0, "", "TQ8P-1203"},
      {"contr", T::kNumber, 0, 0, "50", "55"}, {"units", T::kNumber, 0, 0, "0", "1"},
      {"adc", T::kText, 16, 0, "", "0.998"},   {"sample", T::kText, 256, 0, "", "10 s avg"},
  };
}

std::vector<InstrumentProfile> MakeProfiles() {
  using S = FirmwareStyle;
  std::vector<InstrumentProfile> p;
  //                name   kind code  version style fam baud clock data login radio cell rec cal
  p.push_back({"du70", 3, "DU70", "2.20", S::kLogger, kFamilyDu70, true, true, true, false, false,
               true, false, false, "OK", LoggerSettings(true)});
  p.push_back({"qt7", 18, "QT7", "1.40", S::kLogger, kFamilyQt7, true, true, true, false, false,
               false, false, false, "OK", LoggerSettings(false)});
  p.push_back({"kvl", 19, "KVL", "1.12", S::kLogger, kFamilyKvl, true, true, true, false, false,
               false, false, false, "OK", LoggerSettings(false)});
  p.push_back({"lq7b", 2, "LQ7B", "2.04", S::kLogger, kFamilyLq7b, false, true, true, false, false,
               false, false, false, "OK", Lq7bSettings()});
  p.push_back({"trellisbase", 4, "ZS", "1.12", S::kLogger, kFamilyTrellisbase, true, false, true,
               false, true, false, false, false, "OK", TrellisbaseSettings()});
  p.push_back({"lq7", 1, "LQ7", "1.20", S::kOldLogger, kFamilyLq7, false, true, true, false, false,
               false, false, false, "OK", OldLq7Settings()});
  p.push_back({"hg4", 15, "HG4", "2.05", S::kInstrument, 0, true, true, true, true, false, false,
               true, false, "7035", Hg4Settings()});
  p.push_back({"vantorix", 14, "VX", "1.23", S::kInstrument, 0, true, true, true, false, false,
               false, false, true, "OK", VantorixSettings()});
  p.push_back({"vcd", 13, "VCD", "1.05", S::kInstrument, 0, true, false, false, false, false, false,
               false, false, "OK", VcdSettings()});
  p.push_back({"qx20", 8, "QX20", "2.01", S::kInstrument, 0, true, true, true, false, false, false,
               false, false, "OK", Qx20Settings()});
  p.push_back({"tq8", 7, "TQ", "1.31", S::kInstrument, 0, true, true, true, false, false, false,
               false, false, "OK", Tq8Settings()});
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
  static const InstrumentProfile unknown{"unknown", 0,     "XYZ", "1.00", FirmwareStyle::kUnknown,
                                         0,         false, false, false,  false,
                                         false,     false, false, false,  "OK",
                                         {}};
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
