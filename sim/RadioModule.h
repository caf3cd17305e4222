// The radio module that some devices carry between their serial port and
// the air. It is transparent until it hears "+++", then takes AT commands
// (channel ATHP, sub-channel ATDT, version ATVR, store ATWR, leave ATCN) and
// answers each with text ending in a carriage return. The device's firmware
// reads and sets the same module through its own radio commands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sim/LineModel.h"

namespace zuro::sim {

constexpr const char* kRadioEscape = "+++";
constexpr int kRadioMaxChannel = 6;
constexpr std::uint32_t kRadioMaxSubChannel = 0xFFFF;
constexpr SimTime kRadioEscapeGuardUs = 1000 * kUsPerMs; ///< a lone '+' is data after this
constexpr std::size_t kRadioMaxLine = 64;

struct RadioSettings {
  int channel = 3;
  std::uint32_t subChannel = 0x1A2B;
  bool operator==(const RadioSettings&) const = default;
};

class RadioModule {
public:
  explicit RadioModule(std::string version = "1A07") : version_(std::move(version)) {}

  /// The working settings (what the module uses now) and the stored ones
  /// (what it comes back with after a power cycle).
  RadioSettings& Working() { return working_; }
  const RadioSettings& Working() const { return working_; }
  const RadioSettings& Stored() const { return stored_; }
  const std::string& Version() const { return version_; }

  /// The firmware's radio commands store at once.
  bool SetChannel(int channel);
  bool SetSubChannel(std::uint32_t subChannel);
  void Store() { stored_ = working_; }
  void PowerCycle();

  bool InCommandMode() const { return commandMode_; }
  void EnterCommandMode() { commandMode_ = true; }

  /// One AT command line (without its carriage return); returns the answer.
  std::string Command(std::string_view line);

private:
  std::string version_;
  RadioSettings working_;
  RadioSettings stored_;
  bool commandMode_ = false;
};

/// The module on the line in front of a device: passes data through, and
/// takes the line over while it is in command mode.
class RadioFront : public LineModel {
public:
  RadioFront(RadioModule& module, LineModel& device) : module_(module), device_(device) {}

  void Receive(std::string_view bytes, SimTime now, LineOutput& out) override;
  void Advance(SimTime now, LineOutput& out) override;
  SimTime NextEventAt() const override;
  std::uint32_t Baud() const override { return device_.Baud(); }

private:
  void FlushPluses(SimTime now, LineOutput& out);

  RadioModule& module_;
  LineModel& device_;
  std::size_t pluses_ = 0;
  SimTime plusesSince_ = 0;
  std::string line_;
};

} // namespace zuro::sim
