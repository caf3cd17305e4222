// What each simulated SDI-12 sensor model is: the model name its firmware
// carries in its identity block and reports in the identification, the type
// code its firmware assumes when nobody has set one, which calibrations it
// keeps, and the values of a freshly erased and of a configured sensor. The
// sensor model reads these tables; it holds no model-specific data itself.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace zuro::sim {

constexpr const char* kSensorVendor = "BRENVIK "; ///< vendor field: exactly 8 characters
constexpr const char* kSdi12Version = "13";       ///< SDI-12 version in the identification
constexpr std::size_t kSensorModelChars = 6;      ///< model field, padded with blanks

struct SensorProfile {
  const char* simName;        ///< the --sensor word
  const char* model;          ///< identity code of the firmware, model field of "?I!"
  std::uint8_t type;          ///< type code the firmware assumes when none is set
  bool typeAsNumber;          ///< "?X8!" answers the type as decimal digits
  const char* defaultVersion; ///< firmware version of a sensor from the shelf
  bool hasMainCal;            ///< keeps the main calibration (X4/X5)
  bool hasSecondCal;          ///< keeps the second calibration (Xa/Xb)
  bool hasThirdCal;           ///< keeps the third calibration (XO)
  const char* factoryMainCal; ///< calibrations after the information memory was erased
  const char* factorySecondCal;
  const char* factoryThirdCal;
  const char* configuredSerial; ///< the sensor as the customer has it
  const char* configuredMainCal;
  const char* configuredSecondCal;
  const char* configuredThirdCal;
};

/// Every sensor model the simulator offers, in --help order.
const std::vector<SensorProfile>& AllSensorProfiles();

/// Sensor model by --sensor word, or null.
const SensorProfile* SensorProfileByName(std::string_view simName);

/// Sensor model whose firmware identity code matches (upper-case compare), or null.
const SensorProfile* SensorProfileByModel(std::string_view model);

/// The firmware of a model this simulator does not know: it identifies
/// itself with the model of its identity block and keeps no calibration.
const SensorProfile& UnknownSensorProfile();

} // namespace zuro::sim
