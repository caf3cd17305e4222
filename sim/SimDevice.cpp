#include "sim/SimDevice.h"

#include <ctime>

#include "core/Time.h"
#include "sim/Instrument.h"

namespace zuro::sim {

namespace {

constexpr std::uint8_t kInfoMagic[4] = {'Z', 'S', 'E', 'T'};
constexpr std::size_t kInfoSignatureSize = 10; ///< magic, segment, count, CRC-32
constexpr std::int64_t kSecondsFrom1970To2000 = 946684800;
constexpr std::int64_t kDefaultClockDriftS = 300; ///< a device clock runs a little off
constexpr int kTraitRadio = 1;
constexpr int kTraitCellular = 8;
constexpr int kTraitNone = 255;

std::vector<std::uint8_t> InfoSignature(std::uint32_t segment, std::uint32_t count,
                                        std::uint32_t crc) {
  std::vector<std::uint8_t> bytes(kInfoMagic, kInfoMagic + 4);
  bytes.push_back(static_cast<std::uint8_t>(segment));
  bytes.push_back(static_cast<std::uint8_t>(count));
  for (int i = 0; i < 4; ++i) {
    bytes.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
  }
  return bytes;
}

} // namespace

std::int64_t LocalZuroSeconds() {
  return static_cast<std::int64_t>(std::time(nullptr)) + UtcOffsetSeconds() -
         kSecondsFrom1970To2000;
}

SimDevice::SimDevice(const DeviceConfig& config)
    : config_(config), flash_(LayoutForKind(config.profile ? config.profile->kind : 0)) {
  if (config_.profile == nullptr) {
    config_.profile = &UnknownProfile();
  }
  const InstrumentProfile& profile = *config_.profile;
  if (config_.version.empty()) {
    config_.version = profile.defaultVersion;
  }
  if (config_.radio || profile.radioBuiltIn) {
    radio_ = std::make_unique<RadioModule>();
  }
  BootLoaderConfig bsl;
  bsl.version = config_.bootLoaderVersion;
  bsl.realtimeFlash = config_.realtimeFlash;
  bsl.powerCut = config_.powerCut;
  bootLoader_ = std::make_unique<BootLoader>(flash_, bsl);

  const std::string identity = std::string(profile.code) + " " + config_.version;
  InstallFirmware(flash_, MakeFirmwareProgram(identity, kDefaultProgramSize));

  // The device as the customer configured it, settings in INFO.
  firmwareProfile_ = &profile;
  settings_.Reset(profile, config_.configured);
  if (config_.configured && settings_.Get("trait")) {
    int trait = kTraitNone;
    trait -= radio_ ? kTraitRadio : 0;
    trait -= profile.cellular ? kTraitCellular : 0;
    settings_.Force("trait", std::to_string(trait));
  }
  SaveSettingsToInfo();
  data_.records = config_.dataRecords;
  clockBase_ = config_.clock.value_or(LocalZuroSeconds() - kDefaultClockDriftS);
  clockSetAt_ = 0;
  PowerUp(0);
}

SimDevice::~SimDevice() = default;

void SimDevice::SaveSettingsToInfo() {
  // The firmware rewrites its information memory segment by segment; each
  // segment carries the signature of the whole set, so losing any of them
  // (an erase by the boot loader) loses the settings.
  const MemoryLayout& layout = flash_.Layout();
  const std::uint32_t crc = settings_.Crc();
  for (std::uint32_t s = 0; s < layout.infoSegments; ++s) {
    const std::uint32_t address = layout.infoStart + s * layout.infoSegmentSize;
    flash_.EraseSegment(address);
    flash_.Write(address, InfoSignature(s, layout.infoSegments, crc));
  }
  infoSettings_ = settings_;
  infoProfile_ = firmwareProfile_;
}

bool SimDevice::InfoHoldsSettings() const {
  if (infoProfile_ != firmwareProfile_) {
    return false;
  }
  const MemoryLayout& layout = flash_.Layout();
  const std::uint32_t crc = infoSettings_.Crc();
  for (std::uint32_t s = 0; s < layout.infoSegments; ++s) {
    const std::uint32_t address = layout.infoStart + s * layout.infoSegmentSize;
    const auto expected = InfoSignature(s, layout.infoSegments, crc);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      if (flash_.Read(address + static_cast<std::uint32_t>(i)) != expected[i]) {
        return false;
      }
    }
  }
  return true;
}

void SimDevice::PowerUp(SimTime now) {
  ++starts_;
  restartAt_ = 0;
  busyUntil_ = 0;
  firmwareBaud_ = kFirmwareBaud;
  if (radio_) {
    radio_->PowerCycle();
  }
  const FirmwareInspection inspection = flash_.Inspect();
  if (!ProgramComplete(inspection)) {
    // Nothing (whole) to start: the boot loader keeps the device.
    identity_.clear();
    firmwareGood_ = false;
    firmware_.reset();
    mode_ = DeviceMode::kBootLoader;
    bootLoader_->Enter();
    return;
  }
  firmwareGood_ = inspection.state == FirmwareState::kGood;
  firmwareProfile_ = ProfileInFlash(&identity_);
  const std::size_t space = identity_.find(' ');
  firmwareVersion_ = space == std::string::npos ? 0 : ParseVersion(identity_.substr(space + 1));
  if (firmwareVersion_ < 0) {
    firmwareVersion_ = 0;
  }
  settingsFromInfo_ = InfoHoldsSettings();
  if (settingsFromInfo_) {
    settings_ = infoSettings_;
  } else {
    // Erased or foreign information memory: the firmware starts from its
    // factory values and writes them back.
    settings_.Reset(*firmwareProfile_, false);
    SaveSettingsToInfo();
  }
  firmware_ = std::make_unique<Instrument>(*this, *firmwareProfile_, firmwareVersion_);
  mode_ = DeviceMode::kFirmware;
  (void)now;
}

bool SimDevice::ProgramComplete(const FirmwareInspection& inspection) const {
  if (inspection.state == FirmwareState::kMissing) {
    return false;
  }
  if (inspection.state == FirmwareState::kGood) {
    return true;
  }
  // The boot loader starts a program whose last word, the CRC, has been
  // written: an update cut short leaves it erased, and the device then waits
  // in its boot loader for the host to try again. A whole program with a
  // wrong CRC does start, and its self-test reports it corrupt.
  const std::uint32_t start = flash_.ResetVector();
  const std::uint32_t length = inspection.programLength;
  if (length < kMinProgramSize || length > flash_.Layout().flashTop - start) {
    return false;
  }
  const std::uint32_t crcAt = start + length - kCrcSize;
  for (std::uint32_t i = 0; i < kCrcSize; ++i) {
    if (flash_.Read(crcAt + i) != kErasedByte) {
      return true;
    }
  }
  return false;
}

const InstrumentProfile* SimDevice::ProfileInFlash(std::string* identity) const {
  const FirmwareInspection inspection = flash_.Inspect();
  if (identity != nullptr) {
    *identity = inspection.identity;
  }
  if (!ProgramComplete(inspection)) {
    return nullptr;
  }
  const InstrumentProfile* profile =
      ProfileByCode(inspection.identity.substr(0, inspection.identity.find(' ')));
  return profile != nullptr ? profile : &UnknownProfile();
}

void SimDevice::RestoreInfoAndRestart(const std::string& settingsText, SimTime now) {
  const InstrumentProfile* profile = ProfileInFlash(nullptr);
  if (profile != nullptr) {
    infoSettings_.Reset(*profile, false);
    infoSettings_.Deserialize(settingsText);
    infoProfile_ = profile;
  }
  PowerUp(now);
}

bool SimDevice::TakeInjectedError() {
  if (injectedErrors_ < config_.errorFirstCommands) {
    ++injectedErrors_;
    return true;
  }
  return false;
}

void SimDevice::StartBootLoader(SimTime now) {
  (void)now;
  mode_ = DeviceMode::kBootLoader;
  bootLoader_->Enter();
}

void SimDevice::PowerCut(SimTime now) {
  mode_ = DeviceMode::kOff;
  restartAt_ = now + kPowerOffUs + config_.restartUs;
}

std::uint32_t SimDevice::Baud() const {
  switch (mode_) {
  case DeviceMode::kBootLoader:
    return flash_.Layout().bootLoaderBaud;
  case DeviceMode::kFirmware:
    return firmwareBaud_;
  case DeviceMode::kOff:
    break;
  }
  return kFirmwareBaud;
}

std::string SimDevice::Describe() const {
  std::string text = std::string(config_.profile->simName) + " ";
  if (mode_ == DeviceMode::kBootLoader) {
    text += "in its boot loader";
  } else {
    text += "running \"" + identity_ + "\"";
  }
  if (radio_) {
    text += " with radio module";
  }
  return text;
}

void SimDevice::Advance(SimTime now, LineOutput& out) {
  if (mode_ == DeviceMode::kOff && restartAt_ != 0 && now >= restartAt_) {
    PowerUp(restartAt_);
    out.Note("powered up: " + Describe() +
             (mode_ == DeviceMode::kFirmware && !settingsFromInfo_ ? ", factory settings" : ""));
  }
}

SimTime SimDevice::NextEventAt() const {
  return mode_ == DeviceMode::kOff ? restartAt_ : 0;
}

void SimDevice::Receive(std::string_view bytes, SimTime now, LineOutput& out) {
  Advance(now, out);
  for (const char c : bytes) {
    if (mode_ == DeviceMode::kOff || now < busyUntil_) {
      continue; // no power, or the firmware is busy and its UART unserved
    }
    // An answer goes out at the rate the device had when the byte came in:
    // a device changes its rate only after answering.
    const std::uint32_t baud = Baud();
    const std::size_t first = out.Chunks().size();
    if (mode_ == DeviceMode::kFirmware) {
      firmware_->Receive(c, now, out);
      if (Baud() != baud) {
        out.Note(mode_ == DeviceMode::kBootLoader
                     ? "boot loader started at " + std::to_string(Baud()) + " baud"
                     : "firmware now at " + std::to_string(Baud()) + " baud");
      } else if (mode_ == DeviceMode::kBootLoader) {
        out.Note("boot loader started");
      }
    } else {
      const BootLoaderEvent event = bootLoader_->Receive(c, out);
      if (event == BootLoaderEvent::kPowerCut) {
        out.Note("power cut at the chosen boot-loader step");
        PowerCut(now);
      } else if (event == BootLoaderEvent::kVectorsWritten) {
        // The vectors are in: the device resets and starts what it finds.
        SimTime ackDelay = 0;
        for (std::size_t i = first; i < out.Chunks().size(); ++i) {
          ackDelay = std::max(ackDelay, out.Chunks()[i].delayUs);
        }
        mode_ = DeviceMode::kOff;
        restartAt_ = now + ackDelay + config_.restartUs;
        out.Note("vectors written: the device restarts");
      }
    }
    for (std::size_t i = first; i < out.Chunks().size(); ++i) {
      if (out.Chunks()[i].baud == 0) {
        out.Chunks()[i].baud = baud;
      }
    }
  }
}

void SimDevice::LoadFlashAndRestart(
    const std::vector<std::pair<std::uint32_t, std::uint8_t>>& bytes, SimTime now) {
  // A device fresh from the programmer: main flash holds exactly the image,
  // the information memory keeps what it had.
  flash_.EraseMain();
  for (const auto& [address, value] : bytes) {
    flash_.ProgramByte(address, value);
  }
  PowerUp(now);
}

std::int64_t SimDevice::ClockAt(SimTime now) const {
  const SimTime elapsed = now >= clockSetAt_ ? now - clockSetAt_ : 0;
  return clockBase_ + static_cast<std::int64_t>(elapsed / (1000 * kUsPerMs));
}

void SimDevice::SetClock(std::int64_t zuroSeconds, SimTime now) {
  clockBase_ = zuroSeconds;
  clockSetAt_ = now;
}

} // namespace zuro::sim
