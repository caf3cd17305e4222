// The normal firmware of a simulated instrument: a command line that reads
// one line of ASCII text up to its carriage return and answers in the
// device's style, ending with the prompt '>'. It serves identity, login,
// link speed, the settings store of its kind, records, battery, clock, data
// memory, self-test and the boot request, on the device it runs in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sim/LineModel.h"

namespace zuro::sim {

class SimDevice;
struct InstrumentProfile;

constexpr std::size_t kFirmwareMaxLine = 300; ///< longest command the firmware buffers
constexpr char kPrompt = '>';

class Instrument {
public:
  Instrument(SimDevice& device, const InstrumentProfile& profile, int version);

  /// One byte from the host.
  void Receive(char byte, SimTime now, LineOutput& out);

  bool AccessGranted() const { return accessGranted_; }
  std::uint32_t Capabilities() const { return capabilities_; }

private:
  struct Command {
    std::string word;   ///< "get", "set", "boot", ...
    std::string option; ///< "-site" without the dash: "site"; empty when none
    std::string rest;   ///< everything after the option and one blank
    std::string args;   ///< everything after the command word and one blank
  };

  void Execute(const std::string& line, SimTime now, LineOutput& out);
  void ExecuteOld(const Command& c, SimTime now, LineOutput& out);
  bool ExecuteCommon(const Command& c, SimTime now, LineOutput& out);
  void Get(const Command& c, SimTime now, LineOutput& out);
  void Set(const Command& c, SimTime now, LineOutput& out);
  bool GetClock(const std::string& key, SimTime now, LineOutput& out);
  bool SetClock(const std::string& key, const std::string& value, SimTime now, LineOutput& out);
  bool GetRecord(const Command& c, LineOutput& out);
  bool SetRecord(const Command& c, LineOutput& out);
  void GetRadio(const std::string& key, LineOutput& out);
  void SetRadio(const std::string& key, const std::string& value, LineOutput& out);
  void EraseData(SimTime now, LineOutput& out);
  void SelfTest(bool init, LineOutput& out);
  void Show(LineOutput& out);

  void Value(LineOutput& out, std::string_view value, SimTime delayUs = 0);
  void Status(LineOutput& out, std::string_view word, SimTime delayUs = 0);
  void Accepted(LineOutput& out);
  bool Allowed(const std::string& key, bool setting) const;
  bool SettingSupported(const std::string& key) const;
  /// True when the firmware keeps the record list that `word` ("eqn", "user") names.
  bool KeepsRecords(const std::string& word) const;
  std::string Name() const;
  int AdcChannels() const;
  void Store();

  SimDevice& device_;
  const InstrumentProfile& profile_;
  int version_;
  std::uint32_t capabilities_;
  std::string line_;
  bool overflow_ = false;
  bool accessGranted_ = false;
};

/// Calendar helpers for the device clock (ZuroSeconds: seconds since
/// 2000-01-01 00:00, no time zone).
struct CivilTime {
  int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
CivilTime CivilFromZuroSeconds(std::int64_t zuroSeconds);
std::int64_t ZuroSecondsFromCivil(const CivilTime& t);

} // namespace zuro::sim
