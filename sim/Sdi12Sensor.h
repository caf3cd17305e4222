// One simulated SDI-12 digital sensor: its flash and information memory in
// the digital-sensor layout, its ZuroBSL boot loader, and the firmware that
// runs from that flash and answers SDI-12 commands (address query,
// identification, change of address, and the maker's extended commands for
// serial number, calibrations, type, boot loader and self-test). Its settings
// live in its information memory as a record with a CRC: erasing that memory
// loses them, and the firmware then starts from its factory values. At every
// power-up it reports the model and version found in its flash.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/BootLoader.h"
#include "sim/Flash.h"
#include "sim/LineModel.h"
#include "sim/SensorProfile.h"

namespace zuro::sim {

constexpr int kSensorKind = 10;                      ///< device kind of digital sensors
constexpr SimTime kSensorRestartUs = 300 * kUsPerMs; ///< from reset to the firmware listening
constexpr std::size_t kSensorProgramSize = 6144;     ///< bytes of a generated sensor firmware
constexpr int kSensorBootLoaderVersion = 112;        ///< answered to g as "+112+"
constexpr char kSensorFactoryAddress = '0';          ///< SDI-12 address after an erase
constexpr char kSensorConfiguredAddress = '1';       ///< address of the configured sensor
constexpr std::size_t kSensorKeptSerialChars = 32;   ///< longest serial number kept
constexpr std::size_t kSensorIdSerialChars = 13;     ///< serial characters in "?I!"
constexpr const char* kSdiOk = "OK";                 ///< a write was taken
constexpr const char* kSdiError = "ERROR";           ///< a write or query was refused
constexpr const char* kSdiNoBootLoader = "No BSL";   ///< "?B!" without a boot loader
constexpr const char* kSdiCodeGood = "Code Good!";   ///< "?post!": the CRC matches
constexpr const char* kSdiCodeCorrupt = "Code Corrupt!";

/// Where a sensor found by the updater stands when the simulation starts.
enum class SensorLoaderStart {
  kNone,    ///< firmware running
  kWaiting, ///< an earlier run erased the flash: the boot loader waits for contact
  kActive,  ///< an earlier run erased the flash and left the boot loader connected
};

struct SensorConfig {
  const SensorProfile* profile = nullptr; ///< the model in flash at start (null: K4E)
  std::string version;                    ///< firmware version at start; empty: the model's
  bool configured = true;                 ///< settings in INFO (false: INFO erased, factory values)
  char address = kSensorConfiguredAddress;
  SensorLoaderStart loaderStart = SensorLoaderStart::kNone;
  bool bootLoaderMissing = false; ///< "?B!" answers "No BSL"
  bool silent = false;            ///< never answers on the bus (dead or disconnected)
  int bootLoaderVersion = kSensorBootLoaderVersion;
  bool realtimeFlash = false;
  PowerCutPoint powerCut; ///< lose power at this boot-loader step
  SimTime restartUs = kSensorRestartUs;
};

/// What the sensor keeps in its information memory.
struct SensorSettings {
  char address = kSensorFactoryAddress;
  std::uint8_t type = 0;
  bool typeSet = false; ///< false: the firmware reports its model's own type
  std::string serial;
  std::string mainCal;   ///< X4/X5
  std::string secondCal; ///< Xa/Xb
  std::string thirdCal;  ///< XO

  bool operator==(const SensorSettings&) const = default;
};

/// The settings record as it stands in INFO (magic, fields, CRC-32); empty
/// when it does not fit in `capacity` bytes.
std::vector<std::uint8_t> EncodeSensorSettings(const SensorSettings& settings,
                                               std::size_t capacity);
/// Reads a record back; nullopt when the magic, the lengths or the CRC are wrong.
std::optional<SensorSettings> DecodeSensorSettings(const std::vector<std::uint8_t>& bytes);

/// True for the characters SDI-12 allows as an address.
bool IsSdiAddressChar(char c);

enum class SensorMode { kFirmware, kBootLoader, kOff };

class Sdi12Sensor {
public:
  /// Builds the sensor with a generated firmware of the model and version in
  /// flash, the configured settings in INFO (unless factory), and powers it up.
  explicit Sdi12Sensor(const SensorConfig& config);

  Sdi12Sensor(const Sdi12Sensor&) = delete;
  Sdi12Sensor& operator=(const Sdi12Sensor&) = delete;

  /// One SDI-12 command from the bus, address first and '!' last. The answer
  /// without its line end, or nullopt when the sensor stays silent.
  std::optional<std::string> Command(std::string_view command, SimTime now);

  /// A break on the bus: the sensor wakes up and forgets a partial command.
  void Break() { ++breaks_; }

  /// Raw bytes on the sensor's UART (the reader's transparent mode): only
  /// the boot loader listens there; its answers go into `out`.
  void UartReceive(std::string_view bytes, SimTime now, LineOutput& out);

  /// Lets the sensor finish a restart due by `now`; notes it in `out`.
  void Advance(SimTime now, LineOutput& out);
  SimTime NextEventAt() const { return mode_ == SensorMode::kOff ? restartAt_ : 0; }

  /// Replaces the main flash with a firmware image (bytes by address,
  /// vectors included; INFO kept) and restarts the sensor at `now`.
  void LoadFlashAndRestart(const std::vector<std::pair<std::uint32_t, std::uint8_t>>& bytes,
                           SimTime now);

  /// Cuts the power at `now`; the sensor restarts by itself.
  void PowerCut(SimTime now);

  // Introspection for tests.
  SensorMode Mode() const { return mode_; }
  Flash& FlashMemory() { return flash_; }
  const Flash& FlashMemory() const { return flash_; }
  const BootLoader& Loader() const { return bootLoader_; }
  const SensorSettings& Settings() const { return settings_; }
  /// True when the settings came from INFO at the last start.
  bool SettingsFromInfo() const { return settingsFromInfo_; }
  /// The identity found in flash ("K4E 3.60"); empty when none.
  const std::string& Identity() const { return identity_; }
  const SensorProfile& FirmwareProfile() const { return *firmwareProfile_; }
  /// The model name the identification reports.
  const std::string& Model() const { return model_; }
  int FirmwareVersion() const { return firmwareVersion_; }
  bool FirmwareGood() const { return firmwareGood_; }
  std::uint8_t Type() const;
  std::uint32_t Starts() const { return starts_; }
  std::uint32_t Breaks() const { return breaks_; }
  const SensorConfig& Config() const { return config_; }
  SensorConfig& MutableConfig() { return config_; }

private:
  void PowerUp(SimTime now);
  void LoadSettings();
  bool StoreSettings(const SensorSettings& settings);
  SensorSettings ConfiguredSettings() const;
  SensorSettings FactorySettings() const;
  std::string State() const;
  std::string Identification() const;
  std::string Extended(std::string_view body, SimTime now);
  std::string Write(std::string SensorSettings::*field, std::string_view text,
                    std::size_t maxChars);
  std::string SetType(std::string_view text);

  SensorConfig config_;
  Flash flash_;
  BootLoader bootLoader_;
  SensorMode mode_ = SensorMode::kOff;
  SimTime restartAt_ = 0;
  SensorSettings settings_;
  bool settingsFromInfo_ = false;
  std::string identity_;
  std::string model_;
  const SensorProfile* firmwareProfile_ = nullptr;
  int firmwareVersion_ = 0;
  bool firmwareGood_ = false;
  std::uint32_t starts_ = 0;
  std::uint32_t breaks_ = 0;
};

} // namespace zuro::sim
