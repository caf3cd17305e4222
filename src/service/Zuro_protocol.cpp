#include "service/Zuro_protocol.h"

#include <cerrno>
#include <cstdarg>
#include <ctime>
#include <initializer_list>
#include <limits>
#include <new>
#include <vector>

#include "core/Text.h"
#include "core/Time.h"
#include "service/RecordSets.h"
#include "service/SettingsFile.h"

namespace zuro {
namespace {

constexpr char kPrompt = VUSKA_Protocol::kPrompt;

// Connection and login.
constexpr const char* kAccessCode = "*2293";
constexpr const char* kLoginFormat = "login %s";
constexpr const char* kLoginConfirm = "\r\n\r";
constexpr std::uint32_t kLoginSettleMs = 1000; ///< before and after the login
constexpr std::uint32_t kLoginCharGapMs = 250; ///< the instrument reads the code slowly
constexpr std::uint32_t kLoginAnswerMs = 6000;
constexpr std::uint32_t kLoginAttempts = 3;
constexpr std::uint32_t kShortAnswerCapacity = 32;
constexpr const char* kLogoutCommand = "logout\r";
constexpr std::uint32_t kLogoutAnswerMs = 2000;
constexpr std::uint32_t kDisconnectSettleMs = 100;
constexpr const char* kLoginOk = "OK";
constexpr const char* kLoginOkCode = "7035"; ///< some firmware confirms with this code

// Settings snapshot.
constexpr std::uint32_t kGetAnswerMs = 2000;
constexpr std::uint32_t kSetAnswerMs = 2000;
constexpr std::uint32_t kSetSerialAnswerMs = 4000;
constexpr std::uint32_t kSetAnswerCapacity = 64;
constexpr std::uint32_t kSerialAttempts = 3;
constexpr std::uint32_t kConfirmAnswerMs = 9500;
constexpr std::uint32_t kConfirmAnswerCapacity = 128;
constexpr std::uint32_t kConfirmAttempts = 3;
constexpr std::uint32_t kConfirmRetryMs = 1000;
constexpr std::uint32_t kRecordAnswerMs = 2000;
constexpr int kMaxNameRetries =
    4; ///< re-reads of the serial number of an instrument without a name
constexpr const char* kHg4SensorReset = "set -sensor 0\r";
constexpr int kHg4Kind = 15;
constexpr int kHg4TdlKind = 22;
constexpr int kKwmKind = 16;

// Checks and maintenance.
constexpr const char* kBatteryCommand = "get -batt\r";
constexpr std::uint32_t kBatteryAnswerMs = 2000;
constexpr const char* kSelfTestInit = "post -init\r";
constexpr const char* kSelfTest = "post\r";
constexpr std::uint32_t kSelfTestAnswerMs = 7000;
/// Room for a self-test report of several lines: the verdict comes last.
constexpr std::uint32_t kSelfTestAnswerCapacity = 512;
constexpr std::uint32_t kSelfTestAttempts = 3;
constexpr std::uint32_t kSelfTestRetryMs = 1000;
constexpr const char* kCodeGood = "Code Good!";
constexpr const char* kCodeCorrupt = "Code Corrupt!";
constexpr const char* kEraseConfirm = "yes\r";
constexpr std::uint32_t kEraseAnswerMs = 17000;
constexpr const char* kDataFlashFail = "DataFlash FAIL";
constexpr std::uint32_t kSetClockAnswerMs = 20000;
constexpr std::int64_t kZuroEpochUnix = 946684800; ///< 2000-01-01 00:00:00 UTC

constexpr std::uint32_t kValueAnswerCapacity = 512;
constexpr std::size_t kValueCommandMax = 511;
constexpr std::uint32_t kValueAttempts = 3;
constexpr const char* kErrorText = "Error";

bool Contains(std::string_view text, std::string_view what) {
  return text.find(what) != std::string_view::npos;
}

bool KindIn(int kind, std::initializer_list<int> kinds) {
  for (const int k : kinds) {
    if (k == kind) {
      return true;
    }
  }
  return false;
}

/// A command as a log line shows it: without its line ends.
std::string Shown(std::string_view command) {
  std::string text(command);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
    text.pop_back();
  }
  return text;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

/// A decimal number as "%d" or "%ld" would read it: white space, an optional
/// sign, at least one digit. False when there is none or it does not fit.
bool ReadDecimal(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t* out) {
  std::size_t at = 0;
  while (at < text.size() && IsSpace(text[at])) {
    ++at;
  }
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  std::int64_t value = 0;
  std::size_t digits = 0;
  constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 10 - 10;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    if (value > kLimit) {
      return false;
    }
    value = value * 10 + (text[at] - '0');
    ++at;
    ++digits;
  }
  if (digits == 0) {
    return false;
  }
  value = negative ? -value : value;
  if (value < low || value > high) {
    return false;
  }
  *out = value;
  return true;
}

std::uint32_t CharacterSum(std::string_view text) {
  std::uint32_t sum = 0;
  for (const char c : text) {
    sum += static_cast<unsigned char>(c);
  }
  return sum;
}

/// The lowest set bit among `order` that `request` holds, or 0.
std::uint32_t FirstBit(std::uint32_t request, std::initializer_list<std::uint32_t> order) {
  for (const std::uint32_t bit : order) {
    if ((request & bit) != 0) {
      return bit;
    }
  }
  return 0;
}

// The order in which the single settings are read and written: the serial
// number first (it identifies the instrument), the record sets late.
constexpr std::initializer_list<std::uint32_t> kCollectOrder = {
    kInfoLanguage,   kInfoSerialNumber, kInfoContrast,  kInfoConfig,   kInfoFvals,
    kInfoUvals,      kInfoUnits,        kInfoAdc,       kInfoSample,   kInfoUsage,
    kInfoAdcCal,     kInfoWtOffset,     kInfoWtFactory, kInfoP1Offset, kInfoSys,
    kInfoAuto,       kInfoUnitsText,    kInfoName,      kInfoAdc15,    kInfoAdc30,
    kInfoValueSlots, kInfoCalRecords,   kInfoLocation,  kInfoChai,     kInfoExt,
    kInfoEquations,  kInfoUserRecords,  kInfoTadj,      kInfoHadjTau,  kInfoPGroup};

constexpr std::initializer_list<std::uint32_t> kRestoreOrder = {
    kInfoSerialNumber, kInfoLanguage,   kInfoContrast,  kInfoFvals,     kInfoConfig,
    kInfoUvals,        kInfoUnits,      kInfoAdc,       kInfoSample,    kInfoUsage,
    kInfoAdcCal,       kInfoWtOffset,   kInfoWtFactory, kInfoP1Offset,  kInfoSys,
    kInfoAuto,         kInfoUnitsText,  kInfoName,      kInfoAdc15,     kInfoAdc30,
    kInfoValueSlots,   kInfoCalRecords, kInfoLocation,  kInfoChai,      kInfoExt,
    kInfoTadj,         kInfoHadjTau,    kInfoPGroup,    kInfoEquations, kInfoUserRecords};

/// The p-values kept in the value slots: (command word, slot).
struct ValueSlot {
  const char* word;
  std::size_t slot;
};
constexpr ValueSlot kValueSlots[] = {{"p0", 0},    {"p3", 1},      {"p5", 2}, {"lwidth", 3},
                                     {"ltemp", 4}, {"current", 5}, {"p1", 7}};
constexpr std::size_t kP0Slot = 0;
constexpr std::size_t kP1Slot = 7;

} // namespace

// ---- Object ----

Zuro_protocol::Zuro_protocol(ZuroLog* log)
    : Zuro_protocol(log, std::make_unique<VUSKA_Protocol>(log)) {}

Zuro_protocol::Zuro_protocol(ZuroLog* log, std::unique_ptr<VUSKA_Protocol> protocol)
    : log_(log), protocol_(std::move(protocol)) {
  if (!protocol_) {
    protocol_ = std::make_unique<VUSKA_Protocol>(log);
  }
  sdi_ = std::make_unique<ZuroSDI12>(log, protocol_.get());
}

Zuro_protocol::~Zuro_protocol() {
  // The SDI-12 access uses the protocol's port: it goes first.
  sdi_.reset();
  protocol_.reset();
}

void Zuro_protocol::Log(std::uint32_t level, const char* format, ...) const {
  if (log_ == nullptr) {
    return;
  }
  std::va_list args;
  va_start(args, format);
  const std::string text = StrFormatV(format, args);
  va_end(args);
  log_->LogMessage(level, kModule, "%s", text.c_str());
}

void Zuro_protocol::Pause(std::uint32_t ms) {
  DelayMs(ms);
}

std::int64_t Zuro_protocol::ComputerTime() const {
  const std::time_t now = std::time(nullptr);
  return now == static_cast<std::time_t>(-1) ? -1 : static_cast<std::int64_t>(now);
}

void Zuro_protocol::ClearRun() {
  snapshot_ = SettingsSnapshot{};
  settingsSaved_ = false;
}

SettingsSnapshot Zuro_protocol::Snapshot() const {
  SettingsSnapshot copy = snapshot_;
  copy.sensor = sdi_->Sensor();
  return copy;
}

Result Zuro_protocol::Command(std::string_view command, std::uint32_t timeoutMs,
                              std::uint32_t capacity, std::string& answer,
                              std::uint32_t& elapsedMs) {
  answer.assign(capacity, '\0');
  std::uint32_t length = capacity;
  const Result r =
      protocol_->DeviceCommand(command, kPrompt, timeoutMs, answer.data(), length, elapsedMs);
  answer.resize(r > 0 || r == kErrProtoEmptyAnswer ? length : 0);
  return r;
}

// ---- Connection ----

Result Zuro_protocol::ZPConnect(std::string_view portName, std::uint8_t baudIndex,
                                std::uint32_t commandTries, DeviceKindEntry* entry) {
  if (portName.empty() || entry == nullptr) {
    return kErrMissingArgument;
  }
  ProtocolOptions options;
  options.serialTries = commandTries;
  Result r = protocol_->ConfigureProtocol(&options, 1);
  if (r < 0) {
    Log(kLogFailures, "ZPConnect received error %d trying to configure VUSKA_Prototcol", r);
    return r;
  }

  ConnectionRecord connection;
  BoundedCopy(connection.portName, portName, kPortNameMax);
  connection.linkType = kLinkSerial;
  connection.baudIndex = baudIndex;
  DeviceSettingsRecord identity;
  r = protocol_->ConnectDevice(&connection);
  if (r >= 0) {
    std::uint32_t flags = 0; // an empty request: the identity the login already read
    r = protocol_->DeviceSettings(&identity, &flags, VUSKA_Protocol::kRead);
  }
  if (r >= 0) {
    r = ParseDeviceIdentity(identity.identityText.c_str(), entry);
  }

  if (r > 0 && !entry->updatable) {
    Log(kLogFailures, "ZPConnect this firmware version is not supported");
    return kErrNotSupported;
  }
  if (r == kErrNoConnection) {
    Log(kLogMilestones, "ZPConnect couldn't connect.");
    return r;
  }
  if (r == kErrBootLoaderActive || r == kErrBootLoaderWaiting) {
    Log(kLogMilestones, "ZPConnect found the ZuroBSL listening (%d)", r);
    return r;
  }
  if (r == kErrNotUnderstood || r == kErrProtoEcho) {
    Log(kLogFailures, "ZPConnect this device must not be supported");
    return kErrNotSupported;
  }
  if (r < 0) {
    Log(kLogFailures, "ZPConnect received error %d trying to connect to device", r);
    return r;
  }
  DeviceSettingsRecord& record = snapshot_.settings;
  record.newFirmware = 1;
  record.familyCode = identity.familyCode;
  record.versionNumber = identity.versionNumber;
  record.identityText = identity.identityText;
  kind_ = entry->kind;
  entry_ = *entry;
  Log(kLogMilestones, "ZPConnect successfully connected to device");
  return r;
}

Result Zuro_protocol::ZPLogin() {
  Pause(kLoginSettleMs);
  const std::string code = StrFormat(kLoginFormat, kAccessCode);
  Result result = kDone;
  std::string answer;
  std::uint32_t elapsed = 0;
  for (std::uint32_t attempt = 0; attempt < kLoginAttempts; ++attempt) {
    protocol_->ZSFlush(1);
    for (const char c : code) {
      protocol_->ZSWrite(std::string_view(&c, 1));
      Pause(kLoginCharGapMs);
    }
    Pause(kLoginCharGapMs);
    result = Command(kLoginConfirm, kLoginAnswerMs, kShortAnswerCapacity, answer, elapsed);
    if (result > 0 && (Contains(answer, kLoginOk) || Contains(answer, kLoginOkCode))) {
      result = kDone;
      break;
    }
  }
  if (result < 0) {
    Log(kLogFailures, "ZPConnect couldn't log into the device (%d ms): heard \"%s\"",
        static_cast<int>(elapsed), answer.c_str());
    result = kErrLoginRefused;
  } else {
    Log(kLogFailures, "ZPConnect successfully logged into the device (%d ms)",
        static_cast<int>(elapsed));
  }
  Pause(kLoginSettleMs);
  return result;
}

Result Zuro_protocol::ZPDisconnect(bool sendLogout) {
  if (entry_.logInFirst && sendLogout) {
    std::string answer;
    std::uint32_t elapsed = 0;
    Command(kLogoutCommand, kLogoutAnswerMs, kShortAnswerCapacity, answer, elapsed);
  }
  const Result r = protocol_->DisconnectDevice(false);
  Pause(kDisconnectSettleMs);
  return r;
}

// ---- Settings snapshot ----

Result Zuro_protocol::ResetHg4Sensor() {
  std::string answer;
  std::uint32_t elapsed = 0;
  Result r = Command(kHg4SensorReset, kGetAnswerMs, kShortAnswerCapacity, answer, elapsed);
  if (r > 0) {
    if (Contains(answer, kLoginOk)) {
      Log(kLogMilestones, "ZPSaveInfo set HGS4 sensor type to '0' (%d ms)",
          static_cast<int>(elapsed));
    } else {
      r = kErrNotUnderstood;
    }
  }
  if (r < 0) {
    Log(kLogMilestones, "ZPSaveInfo received error %d setting HGS4 sensor type to '0' (%d ms)", r,
        static_cast<int>(elapsed));
  }
  return r;
}

Result Zuro_protocol::ZPSaveInfo(const std::string& path) {
  const SnapshotGroup group = SnapshotGroupOf(kind_);
  std::uint32_t obtained = 0;
  Result r = kDone;
  switch (group) {
  case SnapshotGroup::kLogger:
    obtained = LoggerSaveFlags(kind_);
    r = protocol_->DeviceSettings(&snapshot_.settings, &obtained, VUSKA_Protocol::kRead);
    break;
  case SnapshotGroup::kSensor:
    r = sdi_->SDIReadSensorSettings();
    break;
  case SnapshotGroup::kInstrument:
    // A fresh record: nothing of an earlier instrument may be written back to this one.
    snapshot_.instInfo = InstInfoRecord{};
    snapshot_.users = RecordSet{};
    snapshot_.equations = RecordSet{};
    if (kind_ == kHg4Kind) {
      ResetHg4Sensor(); // the HG4 reports its settings for sensor 0 only
    }
    r = GetInstInfo(InstInfoSaveFlags(kind_, entry_.version, snapshot_.settings.versionNumber));
    break;
  case SnapshotGroup::kNone:
    Log(kLogFailures, "ZPSaveInfo has no settings to save for this kind of device (%d)", kind_);
    return kErrProtoNotSupported;
  }

  if (group == SnapshotGroup::kLogger && r == kErrProtoNoName) {
    settingsSaved_ = false;
    snapshot_.savedSettingsMask = 0;
    Log(kLogMilestones, "ZPSaveInfo does not save data for an uninitialized device");
    return r;
  }
  if (r < 0 && r != kErrPartialSettings) {
    Log(kLogFailures, "ZPSaveInfo received error %d trying to collect device settings", r);
    return r;
  }
  settingsSaved_ = true;
  snapshot_.savedSettingsMask =
      group == SnapshotGroup::kLogger ? obtained : snapshot_.instInfo.validFlags;
  const Result written = WriteInfoFile(path);
  if (written < 0) {
    Log(kLogFailures, "ZPSaveInfo received error %d trying to save device settings to a temp file",
        written);
    return written;
  }
  Log(kLogMilestones, "ZPSaveInfo successfully retrieved and saved device settings to a temp file");
  return r == kErrPartialSettings ? kErrPartialSettings : kDone;
}

Result Zuro_protocol::CorrectHg4Config(const std::string& newSerial) {
  // The config value carries a checksum of the serial number: move it from
  // the old number to the new one. Without a collected config or old serial
  // number there is nothing to correct from, and the config is left alone.
  InstInfoRecord& r = snapshot_.instInfo;
  std::int64_t config = 0;
  if ((r.validFlags & kInfoConfig) == 0 || (r.validFlags & kInfoSerialNumber) == 0 ||
      !ReadDecimal(r.config, 0, std::numeric_limits<std::uint32_t>::max(), &config)) {
    Log(kLogFailures, "ZPRestoreInfo cannot correct config \"%s\" for the new serial number",
        r.config.c_str());
    return kErrNotUnderstood;
  }
  const auto corrected =
      static_cast<std::uint32_t>(config) - CharacterSum(r.serialNumber) + CharacterSum(newSerial);
  r.config = std::to_string(corrected);
  r.validFlags |= kInfoConfig;
  return kDone;
}

Result Zuro_protocol::ZPRestoreInfo(const std::string& path, const char* newSerialNumber) {
  Result fileResult = kDone;
  if (!settingsSaved_) {
    fileResult = ReadInfoFile(path);
    if (fileResult < 0 && fileResult != kErrPartialSettings) {
      Log(kLogFailures, "ZPRestoreInfo received error %d trying to read device settings from %s",
          fileResult, path.c_str());
      return fileResult;
    }
    settingsSaved_ = true;
    snapshot_.settings.validFlags = snapshot_.savedSettingsMask;
  }
  const bool newSerial = newSerialNumber != nullptr && newSerialNumber[0] != '\0';
  Result r = kDone;
  switch (SnapshotGroupOf(kind_)) {
  case SnapshotGroup::kLogger: {
    DeviceSettingsRecord& record = snapshot_.settings;
    if (newSerial) {
      BoundedCopy(record.serialNumber, newSerialNumber, kSerialNumberMax);
      record.validFlags |= kSetSerialNumber;
      if ((record.validFlags & kSetDeviceId) != 0) {
        record.validFlags &= ~kSetSerialNumber; // an instrument with a device ID keeps its number
      }
    }
    std::uint32_t flags = record.validFlags;
    if ((flags & kSetTrait) != 0 && (record.capabilityMask & kCapSiteCommands) == 0) {
      // The trait says which modules are fitted; only firmware with the site
      // commands takes it back, others refuse it every time.
      flags &= ~kSetTrait;
      Log(kLogDetails, "ZPRestoreInfo leaves the trait: this firmware does not take it");
    }
    r = protocol_->DeviceSettings(&record, &flags, VUSKA_Protocol::kWrite);
    record.validFlags = flags;
    if ((r < 0 && r != kErrPartialSettings) || flags == 0) {
      Log(kLogFailures, "ZPRestoreInfo received error %d trying to upload device settings", r);
      return r;
    }
    break;
  }
  case SnapshotGroup::kSensor:
    r = sdi_->SDIWriteSensorSettings();
    break;
  case SnapshotGroup::kInstrument: {
    InstInfoRecord& record = snapshot_.instInfo;
    if (newSerial) {
      std::string serial;
      BoundedCopy(serial, newSerialNumber, kInfoSerialMax);
      if (kind_ == kHg4Kind || kind_ == kHg4TdlKind) {
        CorrectHg4Config(serial);
      }
      record.serialNumber = serial;
      record.validFlags |= kInfoSerialNumber;
    }
    r = SetInstInfo(record.validFlags);
    break;
  }
  case SnapshotGroup::kNone:
    r = kErrProtoNotSupported;
    break;
  }
  if (fileResult == kErrPartialSettings && r >= 0) {
    r = kErrPartialSettings; // the file lacked settings: the user must check them
  }
  Log(kLogMilestones, "ZPRestoreInfo successfully restored device setting");
  return r;
}

Result Zuro_protocol::CollectInstInfoStep(std::uint32_t bit) {
  InstInfoRecord& r = snapshot_.instInfo;
  const auto text = [&](const char* word, std::string& field, std::size_t max) {
    const Result result = GetValueString(word, kGetAnswerMs, &field, max);
    if (result == kDone) {
      r.validFlags |= bit;
    }
    return result;
  };
  const auto number = [&](const char* word, std::int32_t& field) {
    const Result result = GetValueLong(word, kGetAnswerMs, &field);
    if (result == kDone) {
      r.validFlags |= bit;
    }
    return result;
  };
  switch (bit) {
  case kInfoLanguage:
    return number("get -lang", r.language);
  case kInfoSerialNumber: {
    Result result = kDone;
    for (std::uint32_t attempt = 0; attempt < kSerialAttempts; ++attempt) {
      std::string serial;
      result = GetValueString("get -sn", kGetAnswerMs, &serial, kInfoSerialMax);
      if (result == kDone && Contains(serial, kLoginOk)) {
        result = kErrNotUnderstood; // an acknowledgement, not a serial number
        continue;
      }
      if (result == kDone) {
        r.serialNumber = serial;
        r.validFlags |= bit;
        break;
      }
    }
    return result;
  }
  case kInfoContrast:
    return number("get -contr", r.contrast);
  case kInfoConfig:
    return text("get -config", r.config, kInfoConfigMax);
  case kInfoFvals:
    return text("get -fvals", r.fvals, kInfoLongTextMax);
  case kInfoUvals:
    return text(kind_ == kHg4Kind || kind_ == kHg4TdlKind ? "get -pvuser" : "get -uvals", r.uvals,
                kInfoLongTextMax);
  case kInfoUnits:
    return number("get -units", r.unitsNumber);
  case kInfoAdc:
    return text("get -adc", r.adc, kInfoShortTextMax);
  case kInfoSample:
    text("get -sample", r.sample, kInfoLongTextMax);
    return kDone; // not every firmware has it
  case kInfoUsage:
    return text("get -usage", r.usage, kInfoLongTextMax);
  case kInfoAdcCal:
    return text("get -adccal", r.adccal, kInfoMidTextMax);
  case kInfoWtOffset:
    return text("get -wtoffset", r.wtoffset, kInfoMidTextMax);
  case kInfoWtFactory:
    return text("get -wtfactory", r.wtfactory, kInfoMidTextMax);
  case kInfoP1Offset:
    return text("get -p1offset", r.p1offset, kInfoMidTextMax);
  case kInfoSys:
    return text("get -sys", r.sys, kInfoLongTextMax);
  case kInfoAuto:
    return text("get -auto", r.autoSeconds, kInfoMidTextMax);
  case kInfoUnitsText:
    return text("get -units", r.unitsText, kInfoLongTextMax);
  case kInfoName:
    return text("get -i", r.name, kInfoNameMax);
  case kInfoAdc15:
    return text("get -adc15", r.adc15, kInfoLongTextMax);
  case kInfoAdc30:
    return text("get -adc30", r.adc30, kInfoLongTextMax);
  case kInfoValueSlots: {
    Result last = kDone;
    bool any = false;
    for (const ValueSlot& v : kValueSlots) {
      std::string value;
      last = GetValueString(StrFormat("get -%s", v.word), kGetAnswerMs, &value, kInfoLongTextMax);
      if (last == kDone) {
        r.slots[v.slot] = value;
        any = true;
      } else if (v.slot == kP0Slot || v.slot == kP1Slot) {
        r.slots[v.slot].clear();
      }
    }
    if (any) {
      r.validFlags |= bit;
      return kDone;
    }
    return last;
  }
  case kInfoCalRecords: {
    for (std::size_t n = 0; n < r.slots.size(); ++n) {
      std::string value;
      const Result result = GetValueString(StrFormat("get %s%d", "-cal ", static_cast<int>(n)),
                                           kGetAnswerMs, &value, kInfoLongTextMax);
      if (result != kDone) {
        r.slots[n].clear();
        return n > 0 ? kDone : result; // the instrument keeps fewer records
      }
      r.slots[n] = value;
      r.validFlags |= bit;
    }
    return kDone;
  }
  case kInfoLocation:
    return text("get -loc", r.location, kInfoLongTextMax);
  case kInfoChai:
    return text("get -x", r.chai, kInfoShortTextMax);
  case kInfoExt:
    return text("get -ext", r.ext, kInfoShortTextMax);
  case kInfoEquations: {
    const Result result = GetRecords_Serial(snapshot_.equations, kEquationRecordType);
    if (result > 0) {
      r.validFlags |= bit;
    }
    return result;
  }
  case kInfoUserRecords: {
    const Result result = GetRecords_Serial(snapshot_.users, kUserRecordType);
    if (result > 0) {
      r.validFlags |= bit;
    }
    return result;
  }
  case kInfoTadj:
    return text("get -tadj", r.tadj, kInfoLongTextMax);
  case kInfoHadjTau:
    if (text("get -hadj", r.hadj, kInfoLongTextMax) == kDone) {
      number("get -tau", r.tau);
    }
    return kDone; // neither is on every firmware
  case kInfoPGroup: {
    const Result result = text("get -p", r.fvals, kInfoLongTextMax);
    if (result == kDone && kind_ == kKwmKind) {
      text("get -pv", r.uvals, kInfoLongTextMax);
      GetValueString("get -c76", kGetAnswerMs, &r.calPrefs, kInfoLongTextMax);
    }
    return result;
  }
  default:
    return kDone;
  }
}

Result Zuro_protocol::GetInstInfo(std::uint32_t flags) {
  if (flags == 0) {
    Log(kLogMilestones, "GetInstInfo should be called with non-zero flags");
    return kOk;
  }
  snapshot_.instInfo.kind = kind_;
  std::uint32_t request = flags;
  std::uint32_t previous = 0;
  bool first = true;
  Result overall = kDone;
  Result last = kDone;
  int nameRetries = 0;
  for (;;) {
    if (request == 0 || (!first && request == previous)) {
      break;
    }
    if (last == kErrProtoEcho || last == kErrNoAnswer) {
      overall = last;
      break;
    }
    if (last == kErrProtoNoName) {
      // An instrument without a name answers empty: read its serial number again.
      request |= kInfoSerialNumber;
      if (++nameRetries > kMaxNameRetries) {
        overall = kErrProtoNoName;
        break;
      }
    } else if (last < 0) {
      overall = kErrPartialSettings;
    } else {
      nameRetries = 0;
    }
    first = false;
    previous = request;
    const std::uint32_t bit = FirstBit(request, kCollectOrder);
    if (bit == 0) {
      continue; // a bit no step reads: the request stays as it was and the loop ends
    }
    request &= ~bit;
    last = CollectInstInfoStep(bit);
  }
  if (overall == kDone && last < 0) {
    overall = last;
  }
  if (overall < 0) {
    Log(kLogMilestones, "GetInstInfo could not collect all settings");
  }
  return overall;
}

Result Zuro_protocol::SetConfirmed(const std::string& command, std::uint32_t timeoutMs,
                                   const char* what, const std::string& shown) {
  std::string answer;
  std::uint32_t elapsed = 0;
  Result r = Command(command, timeoutMs, kSetAnswerCapacity, answer, elapsed);
  if (r > 0 && Contains(answer, kLoginOk)) {
    Log(kLogMilestones, "SetInstInfo set %s to \"%s\" (%d ms)", what, shown.c_str(),
        static_cast<int>(elapsed));
    r = kDone;
  }
  return r;
}

Result Zuro_protocol::SetText(const char* option, const std::string& value, const char* what) {
  return SetConfirmed(StrFormat("set %s %s\r", option, value.c_str()), kSetAnswerMs, what, value);
}

Result Zuro_protocol::SetNumber(const char* option, std::int32_t value, const char* what) {
  return SetConfirmed(StrFormat("set %s %ld\r", option, static_cast<long>(value)), kSetAnswerMs,
                      what, std::to_string(value));
}

Result Zuro_protocol::RestoreInstInfoStep(std::uint32_t bit) {
  InstInfoRecord& r = snapshot_.instInfo;
  // Several commands in one step: the step fails with the last failure.
  const auto combine = [](Result sofar, Result next) { return next < 0 ? next : sofar; };
  switch (bit) {
  case kInfoSerialNumber: {
    Result result = kDone;
    for (std::uint32_t attempt = 0; attempt < kSerialAttempts; ++attempt) {
      result = SetConfirmed(StrFormat("set -sn %s\r", r.serialNumber.c_str()), kSetSerialAnswerMs,
                            "device serial number", r.serialNumber);
      if (result == kDone) {
        break;
      }
    }
    return result == kErrProtoErrorAnswer ? kErrProtoRefused : result;
  }
  case kInfoLanguage:
    return SetNumber("-lang", r.language, "device language");
  case kInfoContrast:
    return SetNumber("-contr", r.contrast, "device contrast");
  case kInfoFvals:
    return SetText("-fvals", r.fvals, "fvals");
  case kInfoConfig:
    return SetText("-config", r.config, "config");
  case kInfoUvals:
    return SetText(kind_ == kHg4Kind || kind_ == kHg4TdlKind ? "-pvuser" : "-uvals", r.uvals,
                   "uvals/pvuser");
  case kInfoUnits:
    return SetNumber("-units", r.unitsNumber, "device units");
  case kInfoAdc:
    return SetText("-adc", r.adc, "adc");
  case kInfoSample:
    return SetText("-sample", r.sample, "sample");
  case kInfoUsage:
    return SetText("-usage", r.usage, "usage");
  case kInfoAdcCal:
    return SetText("-adccal", r.adccal, "adccal");
  case kInfoWtOffset:
    return SetText("-wtoffset", r.wtoffset, "wtoffset");
  case kInfoWtFactory:
    return SetText("-wtfactory", r.wtfactory, "wtfactory");
  case kInfoP1Offset:
    return SetText("-p1offset", r.p1offset, "p1offset");
  case kInfoSys:
    return SetText("-sys", r.sys, "sys");
  case kInfoAuto:
    return SetText("-auto", r.autoSeconds, "autosec");
  case kInfoUnitsText:
    return SetText("-units", r.unitsText, "vxUnits");
  case kInfoName:
    return SetText("-i", r.name, "name");
  case kInfoAdc15:
    return SetText("-adc15", r.adc15, "adc15");
  case kInfoAdc30:
    return SetText("-adc30", r.adc30, "adc30");
  case kInfoValueSlots: {
    // An empty slot was not read: sending it would blank the instrument's value.
    Result result = kDone;
    for (const ValueSlot& v : kValueSlots) {
      if (!r.slots[v.slot].empty()) {
        result =
            combine(result, SetText(StrFormat("-%s", v.word).c_str(), r.slots[v.slot], v.word));
      }
    }
    return result;
  }
  case kInfoCalRecords: {
    Result result = kDone;
    for (std::size_t n = 0; n < r.slots.size() && !r.slots[n].empty(); ++n) {
      result = combine(
          result,
          SetConfirmed(StrFormat("set %s%d %s\r", "-cal ", static_cast<int>(n), r.slots[n].c_str()),
                       kSetAnswerMs, StrFormat("cal %d", static_cast<int>(n)).c_str(), r.slots[n]));
    }
    return result;
  }
  case kInfoLocation:
    return SetText("-loc", r.location, "location");
  case kInfoChai:
    return SetText("-x", r.chai, "chai");
  case kInfoExt:
    return SetText("-ext", r.ext, "ext");
  case kInfoTadj:
    return SetText("-tadj", r.tadj, "tadj");
  case kInfoHadjTau: {
    const Result tau = SetNumber("-tau", r.tau, "tau");
    return combine(tau, SetText("-hadj", r.hadj, "hadj"));
  }
  case kInfoPGroup: {
    Result result = SetText("-p", r.fvals, "-p");
    if (kind_ == kKwmKind) {
      result = combine(result, SetText("-pv", r.uvals, "-pv"));
    }
    if (!r.calPrefs.empty()) {
      SetText("-c76", r.calPrefs, "-c76"); // not every firmware keeps them
    }
    return result;
  }
  case kInfoEquations:
    SendAndConfirm("reset -eqn\r");
    return SetRecords_Serial(snapshot_.equations, kEquationRecordType);
  case kInfoUserRecords:
    SendAndConfirm("reset -users\r");
    return SetRecords_Serial(snapshot_.users, kUserRecordType);
  default:
    return kDone;
  }
}

Result Zuro_protocol::SetInstInfo(std::uint32_t flags) {
  if (flags == 0) {
    Log(kLogMilestones, "SetInstInfo should be called with non-zero flags");
    return kOk;
  }
  std::uint32_t request = flags;
  std::uint32_t previous = 0;
  bool first = true;
  Result overall = kDone;
  Result last = kDone;
  for (;;) {
    if (request == 0) {
      break;
    }
    if (last == kErrProtoEcho || last == kErrProtoRelayActive || last == kErrNoAnswer) {
      overall = last;
      break;
    }
    if (last < 0) {
      overall = kErrPartialSettings;
    }
    if (!first && request == previous) {
      last = kErrNotUnderstood; // a bit no step writes
      break;
    }
    first = false;
    previous = request;
    const std::uint32_t bit = FirstBit(request, kRestoreOrder);
    if (bit == 0) {
      continue;
    }
    request &= ~bit;
    last = RestoreInstInfoStep(bit);
  }
  if (overall == kDone && last < 0) {
    overall = last;
  }
  if (overall < 0) {
    Log(kLogMilestones, "SetInstInfo could not restore all settings");
  }
  return overall;
}

Result Zuro_protocol::SendAndConfirm(std::string_view command) {
  const std::string shown = Shown(command);
  Result r = kDone;
  for (std::uint32_t attempt = 0; attempt < kConfirmAttempts; ++attempt) {
    std::string answer;
    std::uint32_t elapsed = 0;
    r = Command(command, kConfirmAnswerMs, kConfirmAnswerCapacity, answer, elapsed);
    if (Contains(command, "user")) {
      // Resetting the user list answers without "OK".
      Log(kLogFailures, "\"%s\" returned %d (%d ms)", shown.c_str(), r, static_cast<int>(elapsed));
      return r;
    }
    if (r > 0 && Contains(answer, kLoginOk)) {
      return kDone;
    }
    Log(kLogFailures, "\"%s\" failed with error %d (%d ms)", shown.c_str(), r,
        static_cast<int>(elapsed));
    if (attempt + 1 < kConfirmAttempts) {
      Pause(kConfirmRetryMs);
    }
  }
  return r;
}

// ---- Record sets ----

Result Zuro_protocol::GetRecords_Serial(RecordSet& set, int type) {
  const char* word = RecordWord(type);
  if (word == nullptr) {
    Log(kLogMilestones, "GetRecords_Serial found an unexpected record type \"%d\"", type);
    return kErrProtoOutOfRange;
  }
  if (!set.records.empty()) {
    Log(kLogMilestones, "GetRecords_Serial found a non-null \"%s\" set", word);
    set.records.clear();
  }
  const std::size_t maximum = RecordTypeMaximum(type);
  std::string answer;
  std::uint32_t elapsed = 0;
  const Result r =
      Command(StrFormat("get -%s\r", word), kRecordAnswerMs, kShortAnswerCapacity, answer, elapsed);
  std::int64_t count = 0;
  if (r <= 0) {
    count = static_cast<std::int64_t>(maximum); // no count: ask for as many as it may keep
  } else if (!ReadDecimal(answer, 0, static_cast<std::int64_t>(maximum), &count)) {
    std::int64_t reported = 0;
    // A count above what the instrument keeps is read as that maximum.
    count = ReadDecimal(answer, 0, std::numeric_limits<std::int32_t>::max(), &reported)
                ? static_cast<std::int64_t>(maximum)
                : 0;
  }
  if (count == 0) {
    Log(kLogMilestones, "GetRecords_Serial found no \"%s\" records in instrument", word);
    return kOk;
  }
  Log(kLogMilestones, "GetRecords_Serial instrument reports %d \"%s\" records",
      static_cast<int>(count), word);
  std::vector<InfoRecord> records;
  try {
    records.reserve(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    Log(kLogMilestones, "GetRecords_Serial couldn't allocate memory for %d records",
        static_cast<int>(count));
    return kErrOutOfMemory;
  }
  for (std::int64_t n = 0; n < count; ++n) {
    InfoRecord record;
    if (GetValueString(StrFormat("get -%s %d", word, static_cast<int>(n)), kRecordAnswerMs,
                       &record.value, kRecordValueMax) < 0) {
      break;
    }
    records.push_back(std::move(record));
  }
  Log(kLogMilestones, "GetRecords_Serial retrieved %d of %d \"%s\" records",
      static_cast<int>(records.size()), static_cast<int>(count), word);
  set.records = std::move(records);
  return kDone;
}

Result Zuro_protocol::SetRecords_Serial(RecordSet& set, int type) {
  const char* word = RecordWord(type);
  if (word == nullptr) {
    Log(kLogMilestones, "SetRecords_Serial found an unexpected record type \"%d\"", type);
    return kErrProtoOutOfRange;
  }
  if (set.Count() == 0) {
    Log(kLogMilestones, "SetRecords_Serial found an empty \"%s\" set", word);
    return kOk;
  }
  AlphabetizeRecords(set, type);
  int sent = 0;
  for (std::size_t n = 0; n < set.Count() && !set.records[n].value.empty(); ++n) {
    const InfoRecord& record = set.records[n];
    std::string answer;
    std::uint32_t elapsed = 0;
    const Result r =
        Command(StrFormat("set -%s %d %s\r", word, static_cast<int>(n), record.value.c_str()),
                kRecordAnswerMs, kShortAnswerCapacity, answer, elapsed);
    ++sent;
    if (r > 0 && Contains(answer, kLoginOk)) {
      Log(kLogMilestones, "SetRecords_Serial set \"%s\" %d to \"%s\" (%d ms)", word,
          static_cast<int>(n), record.value.c_str(), static_cast<int>(elapsed));
    }
  }
  Log(kLogMilestones, "SetRecords_Serial retrieved %d of %d \"%s\" records", sent,
      static_cast<int>(set.Count()), word);
  return kDone;
}

Result Zuro_protocol::GetRecords_File(RecordSet& set, int type, std::string_view fileText) {
  return RecordsFromFile(set, type, SettingsFileIndex(fileText), log_);
}

Result Zuro_protocol::AlphabetizeRecords(RecordSet& set, int type) {
  return zuro::AlphabetizeRecords(set, type, log_);
}

Result Zuro_protocol::ExtractNames(RecordSet& set, int type) {
  return zuro::ExtractNames(set, type, log_);
}

// ---- Settings file ----

Result Zuro_protocol::WriteInfoFile(const std::string& path) {
  if (path.empty()) {
    return kErrMissingArgument;
  }
  if (SnapshotGroupOf(kind_) == SnapshotGroup::kNone) {
    return kErrProtoNotSupported;
  }
  const SettingsSnapshot snapshot = Snapshot();
  return WriteSettingsFileText(path, FormatSettingsFile(kind_, snapshot), log_);
}

Result Zuro_protocol::ReadInfoFile(const std::string& path) {
  if (path.empty()) {
    return kErrMissingArgument;
  }
  std::string text;
  const Result read = ReadSettingsFileText(path, &text, log_);
  if (read < 0) {
    return read;
  }
  const Result r = ParseSettingsFile(kind_, text, &snapshot_, log_);
  if ((r > 0 || r == kErrPartialSettings) && SnapshotGroupOf(kind_) == SnapshotGroup::kSensor) {
    sdi_->SetSensor(snapshot_.sensor);
  }
  return r;
}

// ---- Checks and maintenance ----

Result Zuro_protocol::ZPCheckBattery(std::int32_t* percent) {
  if (percent == nullptr) {
    return kErrMissingArgument;
  }
  std::string answer;
  std::uint32_t elapsed = 0;
  const Result r =
      Command(kBatteryCommand, kBatteryAnswerMs, kShortAnswerCapacity, answer, elapsed);
  if (r <= 0) {
    *percent = -1;
    return r;
  }
  std::int64_t value = 0;
  if (!ReadDecimal(answer, std::numeric_limits<std::int32_t>::min(),
                   std::numeric_limits<std::int32_t>::max(), &value)) {
    *percent = -1;
    Log(kLogFailures, "ZPCheckBattery failed to parse battery power (%d ms)",
        static_cast<int>(elapsed));
    return kErrNotUnderstood;
  }
  *percent = static_cast<std::int32_t>(value);
  Log(kLogMilestones, "ZPCheckBattery: %d%% battery (%d ms)", *percent, static_cast<int>(elapsed));
  return kDone;
}

Result Zuro_protocol::ZPCheckFirmware(bool selfTestWithInit) {
  const char* command = selfTestWithInit ? kSelfTestInit : kSelfTest;
  Result result = kErrNotUnderstood;
  for (std::uint32_t attempt = 0; attempt < kSelfTestAttempts; ++attempt) {
    if (attempt > 0) {
      Pause(kSelfTestRetryMs);
    }
    std::string answer;
    std::uint32_t elapsed = 0;
    const Result r = Command(command, kSelfTestAnswerMs, kSelfTestAnswerCapacity, answer, elapsed);
    if (r > 0 && Contains(answer, kCodeGood)) {
      Log(kLogMilestones, "ZPCheckFirmware: Device reports good firmware code!");
      return kDone;
    }
    if (r > 0 && Contains(answer, kCodeCorrupt)) {
      Log(kLogFailures, "ZPCheckFirmware: Device reports corrupt firmware code!");
      return kErrFirmwareCorrupt;
    }
    if (r > 0) {
      result = kErrNotUnderstood;
      Log(kLogFailures, "ZPCheckFirmware can't determine firmware code status");
    } else {
      result = r;
      Log(kLogFailures, "ZPCheckFirmware can't determine firmware code status (error %d)", r);
    }
  }
  return result;
}

Result Zuro_protocol::ZPEraseData() {
  if (SnapshotGroupOf(kind_) == SnapshotGroup::kLogger) {
    return protocol_->EraseData();
  }
  if (!KindIn(kind_, {7, 8, 9, 11, 14, 15, 16, 22, 23})) {
    return kErrProtoNotSupported;
  }
  std::string answer;
  std::uint32_t elapsed = 0;
  Result r = Command(kEraseConfirm, kEraseAnswerMs, kShortAnswerCapacity, answer, elapsed);
  if (r > 0) {
    r = Contains(answer, kLoginOk)         ? kDone
        : Contains(answer, kDataFlashFail) ? kErrDataMemory
                                           : kErrNotUnderstood;
  }
  if (r > 0) {
    Log(kLogMilestones, "ZPEraseData erased device data (%d ms)", static_cast<int>(elapsed));
  } else if (r == kErrDataMemory) {
    Log(kLogFailures, "ZPEraseData failed due to a broken DataFlash (%d ms)",
        static_cast<int>(elapsed));
  } else {
    Log(kLogFailures, "ZPEraseData failed with error %d (%d ms)", r, static_cast<int>(elapsed));
  }
  return r;
}

Result Zuro_protocol::ZPSetTime() {
  if (!entry_.setClock) {
    return kErrProtoNotSupported;
  }
  Result r = kDone;
  std::int64_t seconds = 0;
  std::uint32_t elapsed = 0;
  if (KindIn(kind_, {8, 11, 15, 16, 21, 22, 23})) {
    const std::int64_t now = ComputerTime();
    if (now < 0) {
      Log(kLogFailures, "ZPSetTime failed to get system time with error %d", errno);
      return kErrNotUnderstood;
    }
    // These instruments count local seconds since 2000-01-01 00:00:00.
    seconds = now + UtcOffsetSeconds() - kZuroEpochUnix;
    std::string answer;
    r = Command(StrFormat("set -sec %ld\r", static_cast<long>(seconds)), kSetClockAnswerMs,
                kShortAnswerCapacity, answer, elapsed);
    if (r > 0) {
      r = Contains(answer, kLoginOk) ? kDone : kErrNotUnderstood;
    }
  } else {
    ZuroSeconds value = 0; // 0: the protocol takes the computer's clock and reports what it set
    const std::uint32_t start = TickMs();
    r = protocol_->DeviceTime(&value, VUSKA_Protocol::kWrite);
    elapsed = ElapsedMs(start);
    seconds = value;
  }
  if (r > 0) {
    Log(kLogDetails, "ZPSetTime set the time to: %ld", static_cast<long>(seconds));
  } else {
    Log(kLogDetails, "ZPSetTime got error %d (%d ms)", r, static_cast<int>(elapsed));
  }
  return r;
}

Result Zuro_protocol::GetValueString(std::string_view word, std::uint32_t timeoutMs,
                                     std::string* value, std::size_t maxLength) {
  const std::string shownWord(word);
  if (value == nullptr || word.empty() || word.size() + 1 > kValueCommandMax) {
    return kErrMissingArgument;
  }
  const std::string command = shownWord + "\r";
  Result result = kErrNotUnderstood;
  std::uint32_t elapsed = 0;
  std::string found;
  for (std::uint32_t attempt = 0; attempt < kValueAttempts; ++attempt) {
    std::string answer;
    const Result r = Command(command, timeoutMs, kValueAnswerCapacity, answer, elapsed);
    if (r <= 0) {
      result = r;
      continue;
    }
    if (Contains(answer, kErrorText)) {
      result = kErrNotUnderstood;
      continue;
    }
    std::string_view text = answer;
    if (!text.empty() && text.front() == '\r') {
      text.remove_prefix(1);
    }
    if (!text.empty() && text.front() == '\n') {
      text.remove_prefix(1);
    }
    BoundedCopy(found, text.substr(0, text.find('\r')), maxLength);
    if (!found.empty() && found.front() == kPrompt) {
      result = kErrNotUnderstood;
      Log(kLogMilestones,
          "GetValueString found a leading prompt character executing command \"%s\" (%d ms)",
          shownWord.c_str(), static_cast<int>(elapsed));
      continue;
    }
    if (found.empty()) {
      result = kErrNotUnderstood;
      continue;
    }
    result = kDone;
    break;
  }
  if (result == kDone) {
    *value = found;
    Log(kLogMilestones, "GetValueString found %s \"%s\" (%d ms)", shownWord.c_str(), value->c_str(),
        static_cast<int>(elapsed));
  } else {
    Log(kLogMilestones, "GetValueString received error %d executing command \"%s\" (%d ms)", result,
        shownWord.c_str(), static_cast<int>(elapsed));
  }
  return result;
}

Result Zuro_protocol::GetValueLong(std::string_view word, std::uint32_t timeoutMs,
                                   std::int32_t* value) {
  const std::string shownWord(word);
  if (value == nullptr || word.empty() || word.size() + 1 > kValueCommandMax) {
    return kErrMissingArgument;
  }
  const std::string command = shownWord + "\r";
  Result result = kErrNotUnderstood;
  std::uint32_t elapsed = 0;
  std::int64_t number = 0;
  for (std::uint32_t attempt = 0; attempt < kValueAttempts; ++attempt) {
    std::string answer;
    const Result r = Command(command, timeoutMs, kValueAnswerCapacity, answer, elapsed);
    if (r <= 0) {
      result = r;
      continue;
    }
    std::string_view text = answer;
    const std::size_t cr = text.find('\r');
    if (cr != std::string_view::npos) {
      text.remove_prefix(cr + 1);
      if (!text.empty() && text.front() == '\n') {
        text.remove_prefix(1);
      }
    }
    if (ReadDecimal(text, std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max(), &number)) {
      result = kDone;
      break;
    }
    result = kErrNotUnderstood;
  }
  if (result == kDone) {
    *value = static_cast<std::int32_t>(number);
    Log(kLogMilestones, "GetValueLong found %s \"%ld\" (%d ms)", shownWord.c_str(),
        static_cast<long>(*value), static_cast<int>(elapsed));
  } else {
    Log(kLogMilestones, "GetValueLong received error %d executing command \"%s\" (%d ms)", result,
        shownWord.c_str(), static_cast<int>(elapsed));
  }
  return result;
}

} // namespace zuro
