#include "sim/Sdi12Sensor.h"

#include <algorithm>

#include "core/Text.h"
#include "sim/InstrumentProfile.h"
#include "sim/SimDevice.h"

namespace zuro::sim {

namespace {

constexpr std::uint8_t kInfoMagic[4] = {'S', 'D', 'I', '1'};
constexpr std::size_t kInfoFixedBytes = 4 + 3 + 4 + 4; ///< magic, address/type/flags, lengths, CRC
constexpr std::size_t kFieldMaxChars = 255;            ///< one length byte per text
constexpr std::size_t kCalibrationMaxChars = 120;      ///< longest calibration text taken
constexpr std::uint8_t kFlagTypeSet = 0x01;
constexpr std::uint8_t kTypeInvalidLow = 0;
constexpr std::uint8_t kTypeInvalidHigh = 255;
constexpr std::size_t kTypeMaxDigits = 3;
constexpr int kVersionDigitsMax = 999;

bool Printable(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7F;
  });
}

void PutText(std::vector<std::uint8_t>& bytes, const std::string& text) {
  bytes.push_back(static_cast<std::uint8_t>(text.size()));
  bytes.insert(bytes.end(), text.begin(), text.end());
}

} // namespace

bool IsSdiAddressChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::vector<std::uint8_t> EncodeSensorSettings(const SensorSettings& settings,
                                               std::size_t capacity) {
  const std::string* texts[] = {&settings.serial, &settings.mainCal, &settings.secondCal,
                                &settings.thirdCal};
  std::size_t size = kInfoFixedBytes;
  for (const std::string* text : texts) {
    if (text->size() > kFieldMaxChars) {
      return {};
    }
    size += text->size();
  }
  if (size > capacity) {
    return {};
  }
  std::vector<std::uint8_t> bytes(kInfoMagic, kInfoMagic + 4);
  bytes.push_back(static_cast<std::uint8_t>(settings.address));
  bytes.push_back(settings.type);
  bytes.push_back(settings.typeSet ? kFlagTypeSet : 0);
  for (const std::string* text : texts) {
    PutText(bytes, *text);
  }
  const std::uint32_t crc = Crc32(bytes.data(), bytes.size());
  for (int i = 0; i < 4; ++i) {
    bytes.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
  }
  if (bytes.size() % 2 != 0) {
    bytes.push_back(kErasedByte); // flash takes whole words
  }
  return bytes;
}

std::optional<SensorSettings> DecodeSensorSettings(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < kInfoFixedBytes || !std::equal(kInfoMagic, kInfoMagic + 4, bytes.begin())) {
    return std::nullopt;
  }
  SensorSettings settings;
  settings.address = static_cast<char>(bytes[4]);
  settings.type = bytes[5];
  settings.typeSet = (bytes[6] & kFlagTypeSet) != 0;
  std::size_t at = 7;
  for (std::string* text :
       {&settings.serial, &settings.mainCal, &settings.secondCal, &settings.thirdCal}) {
    if (at >= bytes.size()) {
      return std::nullopt;
    }
    const std::size_t length = bytes[at++];
    if (length > bytes.size() - at) {
      return std::nullopt;
    }
    text->assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                 bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  if (bytes.size() - at < 4) {
    return std::nullopt;
  }
  std::uint32_t stored = 0;
  for (int i = 0; i < 4; ++i) {
    stored |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
  }
  if (stored != Crc32(bytes.data(), at) || !IsSdiAddressChar(settings.address)) {
    return std::nullopt;
  }
  return settings;
}

Sdi12Sensor::Sdi12Sensor(const SensorConfig& config)
    : config_(config), flash_(LayoutForKind(kSensorKind)),
      bootLoader_(flash_, BootLoaderConfig{config.bootLoaderVersion, config.realtimeFlash,
                                           config.powerCut}) {
  if (config_.profile == nullptr) {
    config_.profile = &AllSensorProfiles().front();
  }
  if (config_.version.empty() || ParseVersion(config_.version) < 0) {
    config_.version = config_.profile->defaultVersion;
  }
  if (!IsSdiAddressChar(config_.address)) {
    config_.address = kSensorConfiguredAddress;
  }
  const std::string identity = std::string(config_.profile->model) + " " + config_.version;
  InstallFirmware(flash_, MakeFirmwareProgram(identity, kSensorProgramSize));
  firmwareProfile_ = config_.profile;
  if (config_.configured) {
    StoreSettings(ConfiguredSettings());
  }
  if (config_.loaderStart != SensorLoaderStart::kNone) {
    // An update that stopped half-way: flash and settings are gone.
    flash_.EraseAll();
  }
  PowerUp(0);
  if (config_.loaderStart == SensorLoaderStart::kActive) {
    LineOutput ignored;
    bootLoader_.Receive(kBslConnect, ignored);
  }
}

SensorSettings Sdi12Sensor::ConfiguredSettings() const {
  const SensorProfile& p = *config_.profile;
  SensorSettings s;
  s.address = config_.address;
  s.type = p.type;
  s.typeSet = true;
  s.serial = p.configuredSerial;
  s.mainCal = p.configuredMainCal;
  s.secondCal = p.configuredSecondCal;
  s.thirdCal = p.configuredThirdCal;
  return s;
}

SensorSettings Sdi12Sensor::FactorySettings() const {
  const SensorProfile& p = *firmwareProfile_;
  SensorSettings s;
  s.mainCal = p.factoryMainCal;
  s.secondCal = p.factorySecondCal;
  s.thirdCal = p.factoryThirdCal;
  return s;
}

bool Sdi12Sensor::StoreSettings(const SensorSettings& settings) {
  const MemoryLayout& layout = flash_.Layout();
  const std::size_t capacity = static_cast<std::size_t>(layout.InfoEnd() - layout.infoStart);
  const std::vector<std::uint8_t> record = EncodeSensorSettings(settings, capacity);
  if (record.empty()) {
    return false;
  }
  // The firmware rewrites the whole record: erase every INFO segment, then
  // write it from the start.
  for (std::uint32_t s = 0; s < layout.infoSegments; ++s) {
    flash_.EraseSegment(layout.infoStart + s * layout.infoSegmentSize);
  }
  if (flash_.Write(layout.infoStart, record) != FlashStatus::kOk) {
    return false;
  }
  settings_ = settings;
  return true;
}

void Sdi12Sensor::LoadSettings() {
  const MemoryLayout& layout = flash_.Layout();
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t a = layout.infoStart; a < layout.InfoEnd(); ++a) {
    bytes.push_back(flash_.Read(a));
  }
  const std::optional<SensorSettings> stored = DecodeSensorSettings(bytes);
  settingsFromInfo_ = stored.has_value();
  settings_ = stored.value_or(FactorySettings());
}

void Sdi12Sensor::PowerUp(SimTime now) {
  (void)now;
  ++starts_;
  restartAt_ = 0;
  const FirmwareInspection inspection = flash_.Inspect();
  if (inspection.state == FirmwareState::kMissing) {
    identity_.clear();
    model_.clear();
    firmwareGood_ = false;
    firmwareVersion_ = 0;
    mode_ = SensorMode::kBootLoader;
    bootLoader_.Enter();
    return;
  }
  identity_ = inspection.identity;
  firmwareGood_ = inspection.state == FirmwareState::kGood;
  const std::size_t space = identity_.find(' ');
  model_ = identity_.substr(0, std::min(space, kSensorModelChars));
  const SensorProfile* profile = SensorProfileByModel(identity_.substr(0, space));
  firmwareProfile_ = profile != nullptr ? profile : &UnknownSensorProfile();
  firmwareVersion_ = space == std::string::npos ? 0 : ParseVersion(identity_.substr(space + 1));
  firmwareVersion_ = std::clamp(firmwareVersion_, 0, kVersionDigitsMax);
  LoadSettings();
  mode_ = SensorMode::kFirmware;
}

void Sdi12Sensor::PowerCut(SimTime now) {
  mode_ = SensorMode::kOff;
  restartAt_ = now + kPowerOffUs + config_.restartUs;
}

void Sdi12Sensor::LoadFlashAndRestart(
    const std::vector<std::pair<std::uint32_t, std::uint8_t>>& bytes, SimTime now) {
  // A sensor fresh from the programmer: main flash holds exactly the image.
  flash_.EraseMain();
  for (const auto& [address, value] : bytes) {
    flash_.ProgramByte(address, value);
  }
  PowerUp(now);
}

void Sdi12Sensor::Advance(SimTime now, LineOutput& out) {
  if (mode_ == SensorMode::kOff && restartAt_ != 0 && now >= restartAt_) {
    PowerUp(restartAt_);
    out.Note("sensor powered up: " + State());
  }
}

std::string Sdi12Sensor::State() const {
  if (mode_ == SensorMode::kBootLoader) {
    return "in its boot loader";
  }
  return StrFormat("running \"%s\" at address '%c'%s", identity_.c_str(), settings_.address,
                   settingsFromInfo_ ? "" : ", factory settings");
}

std::uint8_t Sdi12Sensor::Type() const {
  return settings_.typeSet ? settings_.type : firmwareProfile_->type;
}

std::string Sdi12Sensor::Identification() const {
  std::string model = model_;
  model.resize(kSensorModelChars, ' ');
  return std::string(kSdi12Version) + kSensorVendor + model + StrFormat("%03d", firmwareVersion_) +
         settings_.serial.substr(0, kSensorIdSerialChars);
}

std::string Sdi12Sensor::Write(std::string SensorSettings::*field, std::string_view text,
                               std::size_t maxChars) {
  if (text.empty() || text.size() > maxChars || !Printable(text)) {
    return kSdiError;
  }
  SensorSettings changed = settings_;
  changed.*field = std::string(text);
  return StoreSettings(changed) ? kSdiOk : kSdiError;
}

std::string Sdi12Sensor::SetType(std::string_view text) {
  if (!text.empty() && text.front() == ' ') {
    text.remove_prefix(1);
  }
  unsigned value = 0;
  if (!text.empty() && text.size() <= kTypeMaxDigits &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    for (const char c : text) {
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
  } else if (text.size() == 1 && Printable(text) && text.front() != ' ') {
    value = static_cast<unsigned char>(text.front());
  } else {
    return kSdiError;
  }
  if (value == kTypeInvalidLow || value >= kTypeInvalidHigh) {
    return kSdiError;
  }
  SensorSettings changed = settings_;
  changed.type = static_cast<std::uint8_t>(value);
  changed.typeSet = true;
  return StoreSettings(changed) ? kSdiOk : kSdiError;
}

std::string Sdi12Sensor::Extended(std::string_view body, SimTime now) {
  (void)now;
  const SensorProfile& p = *firmwareProfile_;
  const auto value = [](const std::string& text) { return text.empty() ? text : " " + text; };
  if (body.empty()) {
    return kSdiError;
  }
  const char what = body.front();
  const std::string_view text = body.substr(1);
  switch (what) {
  case '#':
    return text.empty() ? value(settings_.serial)
                        : Write(&SensorSettings::serial, text, kSensorKeptSerialChars);
  case '4':
    return p.hasMainCal && text.empty() ? value(settings_.mainCal) : kSdiError;
  case '5':
    return p.hasMainCal ? Write(&SensorSettings::mainCal, text, kCalibrationMaxChars) : kSdiError;
  case 'a':
    return p.hasSecondCal && text.empty() ? value(settings_.secondCal) : kSdiError;
  case 'b':
    return p.hasSecondCal ? Write(&SensorSettings::secondCal, text, kCalibrationMaxChars)
                          : kSdiError;
  case 'O':
    if (!p.hasThirdCal) {
      return kSdiError;
    }
    return text.empty() ? value(settings_.thirdCal)
                        : Write(&SensorSettings::thirdCal, text, kCalibrationMaxChars);
  case '8': {
    if (!text.empty()) {
      return kSdiError;
    }
    const std::uint8_t type = Type();
    return p.typeAsNumber ? StrFormat(" %u", type) : std::string(" ") + static_cast<char>(type);
  }
  case '9':
    return SetType(text);
  default:
    return kSdiError;
  }
}

std::optional<std::string> Sdi12Sensor::Command(std::string_view command, SimTime now) {
  LineOutput unseen; // the reader has already let the sensor catch up
  Advance(now, unseen);
  if (mode_ != SensorMode::kFirmware || config_.silent || command.size() < 2 ||
      command.back() != '!') {
    return std::nullopt;
  }
  const char to = command.front();
  if (to != '?' && to != settings_.address) {
    return std::nullopt; // another sensor's address
  }
  const std::string_view body = command.substr(1, command.size() - 2);
  const std::string me(1, settings_.address);
  if (body.empty()) {
    return me;
  }
  if (body == "I") {
    return me + Identification();
  }
  if (body.size() == 2 && body.front() == 'A') {
    const char address = body[1];
    if (!IsSdiAddressChar(address)) {
      return std::nullopt;
    }
    SensorSettings changed = settings_;
    changed.address = address;
    if (!StoreSettings(changed)) {
      return std::nullopt;
    }
    return std::string(1, address);
  }
  if (body == "B") {
    if (config_.bootLoaderMissing) {
      return me + kSdiNoBootLoader;
    }
    mode_ = SensorMode::kBootLoader;
    bootLoader_.Enter();
    return me + kSdiOk;
  }
  if (body == "post") {
    return me + (firmwareGood_ ? kSdiCodeGood : kSdiCodeCorrupt);
  }
  if (body.front() == 'X') {
    return me + Extended(body.substr(1), now);
  }
  return std::nullopt; // a standard command this sensor does not offer
}

void Sdi12Sensor::UartReceive(std::string_view bytes, SimTime now, LineOutput& out) {
  Advance(now, out);
  for (const char c : bytes) {
    if (mode_ != SensorMode::kBootLoader) {
      continue; // the firmware listens on the bus, not on the raw UART
    }
    const std::size_t first = out.Chunks().size();
    const BootLoaderEvent event = bootLoader_.Receive(c, out);
    if (event == BootLoaderEvent::kPowerCut) {
      out.Note("sensor power cut at the chosen boot-loader step");
      PowerCut(now);
    } else if (event == BootLoaderEvent::kVectorsWritten) {
      out.Note("sensor vectors written: the sensor restarts");
      // The vectors are in: the sensor resets and starts what its flash holds.
      SimTime ackDelay = 0;
      for (std::size_t i = first; i < out.Chunks().size(); ++i) {
        ackDelay = std::max(ackDelay, out.Chunks()[i].delayUs);
      }
      mode_ = SensorMode::kOff;
      restartAt_ = now + ackDelay + config_.restartUs;
    }
  }
}

} // namespace zuro::sim
