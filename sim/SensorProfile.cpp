#include "sim/SensorProfile.h"

#include "core/Text.h"

namespace zuro::sim {

namespace {

std::vector<SensorProfile> MakeSensorProfiles() {
  // An erased K4E reports its unset coefficients as -1 and no second
  // calibration at all; the other models erase to neutral values.
  return {
      {"k4e", "K4E", 'z', false, "3.60", true, true, false, "-1 0.5 -1", "", "", "K4E-10472",
       "0.9987 0.0124 1.0031", "1 1.39619 2.03054 2.54573 2.9907", ""},
      {"wpt", "WPT-2", 'y', false, "2.14", true, true, false, "0 1 0", "", "", "WPT2-3381",
       "0.412 1.2e-3 -0.0005", "2 0.5 0.75", ""},
      {"plu3", "PLU-3", '^', false, "1.08", false, false, false, "", "", "", "PLU3-0917", "", "",
       ""},
      {"skyra41", "SKY-41", ']', false, "1.12", true, true, true, "1 0", "1 0", "", "SKY41-2204",
       "1.0042 -0.31", "0.9971 0.12", "12.5 0.004 -0.00002"},
      {"balvo21", "BLV-21", 'k', true, "1.05", true, true, false, "0 1", "", "", "BLV21-0458",
       "0.0213 1.0004", "0.5 0.25", ""},
  };
}

} // namespace

const std::vector<SensorProfile>& AllSensorProfiles() {
  static const std::vector<SensorProfile> profiles = MakeSensorProfiles();
  return profiles;
}

const SensorProfile* SensorProfileByName(std::string_view simName) {
  for (const auto& p : AllSensorProfiles()) {
    if (simName == p.simName) {
      return &p;
    }
  }
  return nullptr;
}

const SensorProfile* SensorProfileByModel(std::string_view model) {
  const std::string upper = ToUpperAscii(model);
  for (const auto& p : AllSensorProfiles()) {
    if (upper == ToUpperAscii(p.model)) {
      return &p;
    }
  }
  return nullptr;
}

const SensorProfile& UnknownSensorProfile() {
  static const SensorProfile unknown = {"unknown", "VU-TE", 0,  true, "1.00", false, false, false,
                                        "",        "",      "", "",   "",     "",    ""};
  return unknown;
}

} // namespace zuro::sim
