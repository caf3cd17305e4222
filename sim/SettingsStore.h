// The settings an instrument keeps in its information memory: named values
// checked against the kind's setting table, the numbered calibration slots,
// and the equation and user record lists. The store can serialise itself, so
// the device can prove (by a CRC in INFO) that its information memory still
// holds exactly these settings, and so the simulator can save them to a file.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/InstrumentProfile.h"

namespace zuro::sim {

constexpr std::size_t kCalSlots = 20;
constexpr std::size_t kMaxEquationRecords = 100;
constexpr std::size_t kMaxUserRecords = 25;
constexpr std::size_t kMaxRecordLength = 256;

/// Outcome of a set: taken, or why the firmware refused the value.
enum class SetOutcome { kTaken, kUnknownKey, kBadValue };

class SettingsStore {
public:
  SettingsStore() = default;

  /// Loads every setting of `profile` with its factory value (configured:
  /// false) or with the value of the configured device (true), and the
  /// records and calibration slots that go with it.
  void Reset(const InstrumentProfile& profile, bool configured);

  const SettingDefinition* Definition(std::string_view key) const;

  /// The value of `key`, or nullopt when the kind has no such setting.
  std::optional<std::string> Get(std::string_view key) const;

  /// Checks `value` against the setting's type and stores its normal form.
  SetOutcome Set(std::string_view key, std::string_view value, int adcChannels = 5);

  /// Stores without checks (state files, tests).
  void Force(std::string_view key, std::string_view value) { values_[std::string(key)] = value; }

  const std::map<std::string, std::string>& Values() const { return values_; }

  std::vector<std::string>& CalSlots() { return cal_; }
  const std::vector<std::string>& CalSlots() const { return cal_; }
  std::vector<std::string>& Equations() { return equations_; }
  const std::vector<std::string>& Equations() const { return equations_; }
  std::vector<std::string>& Users() { return users_; }
  const std::vector<std::string>& Users() const { return users_; }

  /// One text holding everything, in a fixed order: "key=value" lines with
  /// line ends and backslashes escaped.
  std::string Serialize() const;

  /// Reads what Serialize wrote. Unknown keys are ignored, so a file written
  /// for another kind cannot add settings this kind lacks.
  bool Deserialize(std::string_view text);

  std::uint32_t Crc() const;

  bool operator==(const SettingsStore& other) const = default;

private:
  const InstrumentProfile* profile_ = nullptr;
  std::map<std::string, std::string> values_;
  std::vector<std::string> cal_;
  std::vector<std::string> equations_;
  std::vector<std::string> users_;
};

/// Checks a value for a setting of `type`; returns its stored form.
std::optional<std::string> NormaliseSetting(const SettingDefinition& def, std::string_view value,
                                            int adcChannels);

/// Base64 (RFC 4648, with padding) of `bytes`: the user records' encoding.
std::string Base64Encode(std::string_view bytes);

} // namespace zuro::sim
