// One simulated instrument: its hardware (memory layout, boot-loader baud,
// radio module, data memory, clock, battery), its flash with the boot loader,
// and the firmware that runs from that flash. At every power-up it looks at
// the flash: no complete program there (erased, or an update cut short before
// the program's last word) means it stays in its boot loader; otherwise the
// firmware named by the identity block runs, with the settings its
// information memory holds (factory values when that memory was erased).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sim/BootLoader.h"
#include "sim/Flash.h"
#include "sim/InstrumentProfile.h"
#include "sim/LineModel.h"
#include "sim/RadioModule.h"
#include "sim/SettingsStore.h"

namespace zuro::sim {

class Instrument;

constexpr std::uint32_t kFirmwareBaud = 9600;         ///< every device is first reached here
constexpr SimTime kDefaultRestartUs = 800 * kUsPerMs; ///< from reset to the firmware listening
constexpr SimTime kPowerOffUs = 500 * kUsPerMs;       ///< a power cut lasts this long
constexpr std::size_t kDefaultProgramSize = 8192;     ///< bytes of a generated firmware
constexpr const char* kBootAccessWord = "KWAX";
constexpr const char* kAccessCode = "*2293";

/// Everything that decides how one simulated device behaves.
struct DeviceConfig {
  const InstrumentProfile* profile = nullptr; ///< hardware kind and its firmware
  std::string version;               ///< firmware version to start with; empty: the profile's
  bool radio = false;                ///< a radio module is fitted (always for built-in radios)
  bool configured = true;            ///< start with a configured device (false: factory values)
  int battery = 87;                  ///< percent
  std::optional<std::int64_t> clock; ///< ZuroSeconds at start; empty: the computer's local time
  std::uint32_t dataRecords = 1440;  ///< measurements in the data memory
  int bootLoaderVersion = 205;
  bool bootLoaderMissing = false;       ///< the boot request answers "ZuroBSL MISSING"
  bool dataFlashFail = false;           ///< the data erase answers "DataFlash FAIL"
  SimTime dataEraseUs = 0;              ///< time the data erase takes before its answer
  std::uint32_t errorFirstCommands = 0; ///< answer "ERROR" to this many commands
  PowerCutPoint powerCut;               ///< lose power at this boot-loader step
  bool realtimeFlash = false;           ///< boot loader waits the flash's erase and write times
  SimTime restartUs = kDefaultRestartUs;
};

/// The measurement data memory (a separate chip; updates never touch it).
struct DataStore {
  std::uint32_t records = 0;
  std::uint32_t erasures = 0;
};

enum class DeviceMode { kFirmware, kBootLoader, kOff };

class SimDevice : public LineModel {
public:
  /// Builds the device with a generated firmware of the profile's identity
  /// and version in flash, and powers it up.
  explicit SimDevice(const DeviceConfig& config);
  ~SimDevice() override;

  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  // LineModel
  void Receive(std::string_view bytes, SimTime now, LineOutput& out) override;
  void Advance(SimTime now, LineOutput& out) override;
  SimTime NextEventAt() const override;
  std::uint32_t Baud() const override;
  std::string Describe() const override;

  /// Replaces the flash content with a firmware image (bytes by address,
  /// vectors included) and restarts the device at `now`.
  void LoadFlashAndRestart(const std::vector<std::pair<std::uint32_t, std::uint8_t>>& bytes,
                           SimTime now);

  /// Puts `settingsText` (SettingsStore::Serialize form) into the information
  /// memory's keeping and restarts at `now`: the firmware takes the settings
  /// when the INFO signature in flash matches them. For state files.
  void RestoreInfoAndRestart(const std::string& settingsText, SimTime now);

  /// The settings the information memory holds, serialised.
  std::string InfoSettingsText() const { return infoSettings_.Serialize(); }

  /// Cuts the power at `now`; the device restarts by itself kPowerOffUs later.
  void PowerCut(SimTime now);

  // Introspection for tests.
  DeviceMode Mode() const { return mode_; }
  Flash& FlashMemory() { return flash_; }
  const Flash& FlashMemory() const { return flash_; }
  SettingsStore& Settings() { return settings_; }
  const SettingsStore& Settings() const { return settings_; }
  DataStore& Data() { return data_; }
  const DataStore& Data() const { return data_; }
  RadioModule* Radio() { return radio_.get(); }
  const BootLoader& Loader() const { return *bootLoader_; }
  const DeviceConfig& Config() const { return config_; }
  DeviceConfig& MutableConfig() { return config_; }
  const MemoryLayout& Layout() const { return flash_.Layout(); }

  /// The identity the running firmware reports ("DU70 2.30"); empty when
  /// no firmware runs.
  const std::string& Identity() const { return identity_; }
  /// The profile of the running firmware (the unknown profile for a foreign identity).
  const InstrumentProfile& FirmwareProfile() const { return *firmwareProfile_; }
  int FirmwareVersion() const { return firmwareVersion_; }
  bool FirmwareGood() const { return firmwareGood_; }
  /// True when the settings came from INFO at the last start, false when the
  /// firmware found INFO erased or foreign and loaded factory values.
  bool SettingsFromInfo() const { return settingsFromInfo_; }
  std::uint32_t Starts() const { return starts_; }

  /// The clock in ZuroSeconds at `now`.
  std::int64_t ClockAt(SimTime now) const;
  void SetClock(std::int64_t zuroSeconds, SimTime now);

  int Battery() const { return config_.battery; }

  // For the firmware model.
  void SaveSettingsToInfo();
  void StartBootLoader(SimTime now);
  void SetFirmwareBaud(std::uint32_t baud) { firmwareBaud_ = baud; }
  bool HasRadio() const { return radio_ != nullptr; }
  SimTime BusyUntil() const { return busyUntil_; }
  /// True (and counted) while the device still answers "ERROR" to everything.
  bool TakeInjectedError();
  void SetBusyUntil(SimTime t) { busyUntil_ = t; }

private:
  void PowerUp(SimTime now);
  /// True when the boot loader would start the program in flash.
  bool ProgramComplete(const FirmwareInspection& inspection) const;
  /// The profile named by the identity block of the firmware in flash.
  const InstrumentProfile* ProfileInFlash(std::string* identity) const;
  bool InfoHoldsSettings() const;

  DeviceConfig config_;
  Flash flash_;
  std::unique_ptr<RadioModule> radio_;
  std::unique_ptr<BootLoader> bootLoader_;
  std::unique_ptr<Instrument> firmware_;
  SettingsStore settings_;
  SettingsStore infoSettings_; ///< what the information memory holds
  const InstrumentProfile* infoProfile_ = nullptr;
  DataStore data_;
  DeviceMode mode_ = DeviceMode::kOff;
  SimTime restartAt_ = 0;
  SimTime busyUntil_ = 0;
  std::uint32_t firmwareBaud_ = kFirmwareBaud;
  std::string identity_;
  const InstrumentProfile* firmwareProfile_ = nullptr;
  int firmwareVersion_ = 0;
  bool firmwareGood_ = false;
  bool settingsFromInfo_ = false;
  std::uint32_t starts_ = 0;
  std::uint32_t injectedErrors_ = 0;
  std::int64_t clockBase_ = 0;
  SimTime clockSetAt_ = 0;
};

/// The computer's local time as ZuroSeconds (seconds since 2000-01-01 local).
std::int64_t LocalZuroSeconds();

} // namespace zuro::sim
