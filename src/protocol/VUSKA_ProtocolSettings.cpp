// The settings of the loggers and radio nodes: one get/set command pair per
// setting, and DeviceSettings, which walks a set of them in a fixed order and
// logs in again once per allowed try when the instrument stops answering.
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/Text.h"
#include "core/Time.h"
#include "protocol/AnswerParsers.h"
#include "protocol/DeviceFamilyTable.h"
#include "protocol/VUSKA_Protocol.h"

namespace zuro {

namespace {
constexpr std::uint32_t kSettingAnswerMs = 1500;
constexpr std::uint32_t kSettingAnswerCapacity = 32;
constexpr std::uint32_t kCellularAnswerCapacity = 64;
constexpr std::uint32_t kHostAnswerCapacity = 96;
constexpr std::uint32_t kAdcAnswerCapacity = 128;
constexpr std::uint32_t kRadioSettingMs = 2000;
constexpr std::uint32_t kTermPauseMs = 500;
constexpr std::uint32_t kAfterFailedStepMs = 100;
constexpr std::string_view kTermCommand = "term\r";
constexpr std::string_view kNameQuery = "get -i\r";
constexpr std::string_view kPadcQuery = "get -padc\r";
constexpr std::string_view kOldPadcQuery = "hertz\r";
constexpr std::string_view kTraitQuery = "get -trait\r";
constexpr std::string_view kRadioVersionQuery = "get -rver\r";
constexpr std::string_view kNoRadio = "No Radio";
constexpr std::string_view kLq7RadioAccepted = "OK\r\rOK";
/// Old firmware at this version or below has no PADC command.
constexpr std::int32_t kOldestPadcVersion = 164;
/// A qT7 always runs this radio mode and has no command for it.
constexpr std::uint32_t kQt7RadioMode = 16;
constexpr std::uint32_t kMaxRadioChannel = 6;
constexpr std::uint32_t kMaxRadioSubChannel = 0xFFFF;
constexpr std::size_t kRadioVersionDigits = 4;
constexpr std::string_view kNoRadioVersionPrefix = "00";
constexpr int kZoneFromComputer = -2; ///< time zone value meaning "this computer's zone"
constexpr int kSecondsPerQuarterHour = 900;
constexpr std::size_t kAdcNumbers = 11;
constexpr std::uint32_t kAnyRadioBit = kSetRadioItems;

bool Contains(const char* answer, std::string_view what) {
  return std::string_view(answer).find(what) != std::string_view::npos;
}

/// Latitude and longitude as the instruments take them: sign, five decimals,
/// a point whatever the computer's locale.
std::string SignedFixed5(double value) {
  char digits[64] = {};
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits - 1, std::fabs(value),
                                          std::chars_format::fixed, 5);
  if (error != std::errc()) {
    return "+0.00000";
  }
  *end = '\0';
  return std::string(std::signbit(value) ? "-" : "+") + digits;
}

/// A setting text that the command line cannot carry as one argument: too
/// long for the instrument's field, or holding a line end or other control
/// character (which would end the command early and make the rest a command
/// of its own). One-word settings may not hold blanks either.
bool TextFitsCommand(const std::string& text, std::size_t maxChars, bool oneWord) {
  if (text.size() > maxChars) {
    return false;
  }
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (code < ' ' || code == 127 || (oneWord && code == ' ')) {
      return false;
    }
  }
  return true;
}
} // namespace

// How one text setting is read and written.
struct VUSKA_Protocol::TextSetting {
  enum class Read { kLine, kLineAfterCr };
  const char* name;         ///< the command's name in the log
  std::uint32_t capability; ///< 0: none needed
  bool cellular;            ///< needs CellularPresent()
  const char* option;       ///< "-site": "get -site\r", "set -site %s\r"
  std::size_t maxChars;
  std::uint32_t capacity; ///< answer buffer
  Read read;
  bool oneWord;
  const char* setNoun;   ///< "set site to"
  const char* foundNoun; ///< "found site name"
  /// APN passwords and authentication keys: the log goes to the maker with
  /// feedback, so their values are never written into it.
  bool secret = false;
};

// How one number setting is read and written.
struct VUSKA_Protocol::NumberSetting {
  const char* name;
  std::uint32_t capability; ///< 0: none needed
  bool cellular;            ///< needs CellularPresent()
  const char* option;       ///< "-report": "get -report\r", "set -report %d\r"
  Acceptance acceptance;
  bool afterFirstCr;       ///< the number follows the answer's first line end
  bool nonNegative;        ///< a negative value may not be written
  Result missingResult;    ///< when the answer holds no number
  const char* noun;        ///< "set report mode to %d"
  const char* foundNoun;   ///< "found device report mode %d"
  const char* missingNoun; ///< "could not find device report mode"
};

Result VUSKA_Protocol::FailLine(const char* name, Result result, std::uint32_t elapsedMs) const {
  if (result < 0) {
    Log(kLogFailures, "%s failed with error %d (%d ms)", name, result, static_cast<int>(elapsedMs));
  }
  return result;
}

Result VUSKA_Protocol::WriteAccepted(std::string_view command, std::uint32_t answerCapacity,
                                     Acceptance acceptance, std::uint32_t& elapsedMs) {
  std::string answer(answerCapacity, '\0');
  std::uint32_t length = answerCapacity;
  const Result r =
      DeviceCommand(command, kPrompt, kSettingAnswerMs, answer.data(), length, elapsedMs);
  if (r == kErrProtoErrorAnswer) {
    return kErrProtoRefused;
  }
  if (r <= 0) {
    return r;
  }
  bool accepted = false;
  switch (acceptance) {
  case Acceptance::kOkText:
    accepted = Contains(answer.c_str(), kOkText);
    break;
  case Acceptance::kOkOrPrompt:
    accepted = Contains(answer.c_str(), settings_.newFirmware != 0 ? kOkText : kPromptLine);
    break;
  case Acceptance::kPromptLine:
    accepted = Contains(answer.c_str(), kPromptLine);
    break;
  }
  return accepted ? kDone : kErrNotUnderstood;
}

Result VUSKA_Protocol::ReadAnswer(std::string_view command, std::string& answer,
                                  std::uint32_t capacity, std::uint32_t timeoutMs,
                                  std::uint32_t& elapsedMs) {
  answer.assign(capacity, '\0');
  std::uint32_t length = capacity;
  const Result r = DeviceCommand(command, kPrompt, timeoutMs, answer.data(), length, elapsedMs);
  answer.resize(r > 0 ? length : 0);
  return r;
}

Result VUSKA_Protocol::TextSettingCommand(const TextSetting& setting, std::string& field,
                                          int direction) {
  static constexpr const char* kMaskedSecret = "****";
  // The value as the log may show it.
  const auto shown = [&setting](const std::string& value) {
    return setting.secret && !value.empty() ? kMaskedSecret : value.c_str();
  };
  if (direction != kRead && direction != kWrite) {
    return FailLine(setting.name, kErrProtoOutOfRange, 0);
  }
  if ((setting.capability != 0 && (settings_.capabilityMask & setting.capability) == 0) ||
      (setting.cellular && CellularPresent() != 1)) {
    return FailLine(setting.name, kErrProtoCannotDo, 0);
  }
  std::uint32_t elapsed = 0;
  if (direction == kWrite) {
    if (!TextFitsCommand(field, setting.maxChars, setting.oneWord)) {
      Log(kLogFailures, "%s: \"%s\" cannot be sent as a setting", setting.name, shown(field));
      return FailLine(setting.name, kErrProtoOutOfRange, 0);
    }
    const std::string command = StrFormat("set %s %s\r", setting.option, field.c_str());
    const Result r = WriteAccepted(command, setting.capacity, Acceptance::kOkText, elapsed);
    if (r > 0) {
      Log(kLogDetails, "%s %s \"%s\" (%d ms)", setting.name, setting.setNoun, shown(field),
          static_cast<int>(elapsed));
    }
    return FailLine(setting.name, r, elapsed);
  }

  const std::string command = StrFormat("get %s\r", setting.option);
  std::string answer;
  const Result r = ReadAnswer(command, answer, setting.capacity, kSettingAnswerMs, elapsed);
  if (r <= 0) {
    return FailLine(setting.name, r, elapsed);
  }
  std::string_view text =
      setting.read == TextSetting::Read::kLine ? SkipSpace(answer) : AfterFirstCr(answer);
  if (!text.empty() && text[0] == kPrompt) {
    return FailLine(setting.name, kErrProtoEmptyAnswer, elapsed);
  }
  std::string value;
  BoundedCopy(value, LineUpTo(text, setting.maxChars), setting.maxChars);
  if (value.empty()) {
    return FailLine(setting.name, kErrNotUnderstood, elapsed);
  }
  field = value;
  Log(kLogDetails, "%s %s \"%s\" (%d ms)", setting.name, setting.foundNoun, shown(field),
      static_cast<int>(elapsed));
  return kDone;
}

Result VUSKA_Protocol::NumberSettingCommand(const NumberSetting& setting, std::int32_t& field,
                                            int direction) {
  if (direction != kRead && direction != kWrite) {
    return FailLine(setting.name, kErrProtoOutOfRange, 0);
  }
  if ((setting.capability != 0 && (settings_.capabilityMask & setting.capability) == 0) ||
      (setting.cellular && CellularPresent() != 1)) {
    return FailLine(setting.name, kErrProtoCannotDo, 0);
  }
  std::uint32_t elapsed = 0;
  if (direction == kWrite) {
    if (setting.nonNegative && field < 0) {
      return FailLine(setting.name, kErrProtoOutOfRange, 0);
    }
    const std::string command = StrFormat("set %s %d\r", setting.option, field);
    const Result r = WriteAccepted(command, kSettingAnswerCapacity, setting.acceptance, elapsed);
    if (r > 0) {
      Log(kLogDetails, "%s set %s to %d (%d ms)", setting.name, setting.noun, field,
          static_cast<int>(elapsed));
    }
    return FailLine(setting.name, r, elapsed);
  }
  const std::string command = StrFormat("get %s\r", setting.option);
  std::string answer;
  const Result r = ReadAnswer(command, answer, kSettingAnswerCapacity, kSettingAnswerMs, elapsed);
  if (r <= 0) {
    return FailLine(setting.name, r, elapsed);
  }
  std::string_view text = setting.afterFirstCr ? AfterFirstCr(answer) : std::string_view(answer);
  std::int32_t value = 0;
  if (!ScanInt(text, value)) {
    Log(kLogDetails, "%s could not find %s (%d ms)", setting.name, setting.missingNoun,
        static_cast<int>(elapsed));
    return FailLine(setting.name, setting.missingResult, elapsed);
  }
  field = value;
  Log(kLogDetails, "%s found %s %d (%d ms)", setting.name, setting.foundNoun, field,
      static_cast<int>(elapsed));
  return kDone;
}

// ---- Text settings ----

Result VUSKA_Protocol::NameInto(std::string& field, int direction) {
  static constexpr TextSetting kName = {"NameCommand",
                                        0,
                                        false,
                                        "-i",
                                        kDeviceNameMax,
                                        kSettingAnswerCapacity,
                                        TextSetting::Read::kLineAfterCr,
                                        true,
                                        "set device name to",
                                        "found device named"};
  std::uint32_t elapsed = 0;
  if (direction == kWrite) {
    const Result legal = zuro::CheckDeviceName(field);
    if (legal < 0) {
      Log(kLogFailures, "NameCommand: \"%s\" is an illegal device name (error %d)", field.c_str(),
          legal);
      return legal;
    }
    const std::string command = StrFormat("set -i %s\r", field.c_str());
    const Result r =
        WriteAccepted(command, kSettingAnswerCapacity, Acceptance::kOkOrPrompt, elapsed);
    if (r > 0) {
      Log(kLogDetails, "NameCommand %s \"%s\" (%d ms)", kName.setNoun, field.c_str(),
          static_cast<int>(elapsed));
    }
    return FailLine(kName.name, r, elapsed);
  }
  if (direction != kRead) {
    return FailLine(kName.name, kErrProtoOutOfRange, 0);
  }
  std::string answer;
  Result r = ReadAnswer(kNameQuery, answer, kSettingAnswerCapacity, kSettingAnswerMs, elapsed);
  if (r == kErrProtoEmptyAnswer) {
    // An instrument that has never been named: uninitialised.
    return FailLine(kName.name, kErrProtoNoName, elapsed);
  }
  if (r <= 0) {
    return FailLine(kName.name, r, elapsed);
  }
  std::string_view text = AfterFirstCr(answer);
  std::string word;
  if (!ScanWord(text, kDeviceNameMax, word)) {
    Log(kLogDetails, "NameCommand couldn't find device name (%d ms)", static_cast<int>(elapsed));
    return FailLine(kName.name, kErrNotUnderstood, elapsed);
  }
  field = word;
  Log(kLogDetails, "NameCommand %s \"%s\" (%d ms)", kName.foundNoun, field.c_str(),
      static_cast<int>(elapsed));
  return kDone;
}

Result VUSKA_Protocol::NameCommand(int direction) {
  return NameInto(settings_.deviceName, direction);
}

Result VUSKA_Protocol::DeviceIDCommand(int direction) {
  static constexpr TextSetting kDeviceId = {
      "DeviceIDCommand",      kCapSiteCommands,         false, "-devid",          kDeviceIdMax,
      kSettingAnswerCapacity, TextSetting::Read::kLine, true,  "set DeviceID to", "found DeviceID"};
  return TextSettingCommand(kDeviceId, settings_.deviceId, direction);
}

Result VUSKA_Protocol::SiteCommand(int direction) {
  static constexpr TextSetting kSite = {
      "SiteCommand",          kCapSiteCommands,         false, "-site",       kSiteMax,
      kSettingAnswerCapacity, TextSetting::Read::kLine, false, "set site to", "found site name"};
  return TextSettingCommand(kSite, settings_.site, direction);
}

Result VUSKA_Protocol::SNCommand(int direction) {
  static constexpr TextSetting kSerial = {"SNCommand",
                                          0,
                                          false,
                                          "-sn",
                                          kSerialNumberMax,
                                          kSettingAnswerCapacity,
                                          TextSetting::Read::kLineAfterCr,
                                          false,
                                          "set device serial number to",
                                          "found device serial number"};
  if (direction == kWrite && settings_.newFirmware == 0) {
    return kErrProtoCannotDo;
  }
  if (direction != kRead) {
    return TextSettingCommand(kSerial, settings_.serialNumber, direction);
  }
  // Some loggers answer the first "get -sn" before their serial number store
  // is ready: ask again, within the tries, until a value comes.
  Result r = kErrNotUnderstood;
  for (std::uint32_t pass = 0; pass < commandTries_; ++pass) {
    r = TextSettingCommand(kSerial, settings_.serialNumber, kRead);
    if (r != kErrNotUnderstood) {
      break;
    }
  }
  return r;
}

Result VUSKA_Protocol::ZuroBuildCommand(int direction) {
  static constexpr TextSetting kBuild = {"ZuroBuildCommand",
                                         kCapBuild,
                                         false,
                                         "-build",
                                         kBuildTextMax,
                                         kSettingAnswerCapacity,
                                         TextSetting::Read::kLineAfterCr,
                                         false,
                                         "set ZuroBuild number to",
                                         "found ZuroBuild info"};
  return TextSettingCommand(kBuild, settings_.buildText, direction);
}

Result VUSKA_Protocol::APNCommand(int direction) {
  static constexpr TextSetting kApn = {"APNCommand",
                                       0,
                                       true,
                                       "-apn",
                                       kApnMax,
                                       kCellularAnswerCapacity,
                                       TextSetting::Read::kLine,
                                       false,
                                       "set APN to",
                                       "found APN"};
  return TextSettingCommand(kApn, settings_.apn, direction);
}

Result VUSKA_Protocol::APNUserCommand(int direction) {
  static constexpr TextSetting kUser = {"APNUserCommand",
                                        0,
                                        true,
                                        "-user",
                                        kApnMax,
                                        kCellularAnswerCapacity,
                                        TextSetting::Read::kLine,
                                        false,
                                        "set APN user name to",
                                        "found APN user name"};
  return TextSettingCommand(kUser, settings_.apnUser, direction);
}

Result VUSKA_Protocol::APNPasswdCommand(int direction) {
  static constexpr TextSetting kPassword = {"APNPasswdCommand",
                                            0,
                                            true,
                                            "-passwd",
                                            kApnMax,
                                            kCellularAnswerCapacity,
                                            TextSetting::Read::kLine,
                                            false,
                                            "set APN password to",
                                            "found APN password",
                                            true};
  return TextSettingCommand(kPassword, settings_.apnPassword, direction);
}

Result VUSKA_Protocol::HostCommand(int direction) {
  static constexpr TextSetting kHost = {"HostCommand",
                                        0,
                                        true,
                                        "-host",
                                        kHostMax,
                                        kHostAnswerCapacity,
                                        TextSetting::Read::kLine,
                                        false,
                                        "set remote host name to",
                                        "found the remote host name"};
  return TextSettingCommand(kHost, settings_.host, direction);
}

Result VUSKA_Protocol::AuthKeyCommand(int direction) {
  static constexpr TextSetting kAuthKey = {"AuthKeyCommand",
                                           0,
                                           true,
                                           "-authkey",
                                           kAuthKeyLength,
                                           kCellularAnswerCapacity,
                                           TextSetting::Read::kLine,
                                           true,
                                           "set authkey to",
                                           "found authkey",
                                           true};
  static constexpr TextSetting kTeaKey = {"AuthKeyCommand",
                                          0,
                                          true,
                                          "-teakey",
                                          kAuthKeyLength,
                                          kCellularAnswerCapacity,
                                          TextSetting::Read::kLine,
                                          true,
                                          "set authkey to",
                                          "found authkey (as teakey)",
                                          true};
  if (direction == kWrite) {
    if (CellularPresent() != 1) {
      return kErrProtoCannotDo;
    }
    std::string key;
    BoundedCopy(key, settings_.authKey, kAuthKeyLength);
    if (!IsHexDigits(key, kAuthKeyLength)) {
      Log(kLogFailures, "AuthKeyCommand: the key must be %d hexadecimal digits",
          static_cast<int>(kAuthKeyLength));
      return FailLine(kAuthKey.name, kErrProtoOutOfRange, 0);
    }
    settings_.authKey = key;
    return TextSettingCommand(kAuthKey, settings_.authKey, kWrite);
  }
  const Result r = TextSettingCommand(kAuthKey, settings_.authKey, direction);
  if (r != kErrProtoErrorAnswer) {
    return r;
  }
  // Older cellular firmware calls the same key its "teakey".
  return TextSettingCommand(kTeaKey, settings_.authKey, direction);
}

// ---- Number settings ----

Result VUSKA_Protocol::ReportCommand(int direction) {
  static constexpr NumberSetting kReport = {"ReportCommand",
                                            kCapSiteCommands,
                                            false,
                                            "-report",
                                            Acceptance::kOkText,
                                            false,
                                            false,
                                            kErrNotUnderstood,
                                            "report mode",
                                            "device report mode",
                                            "device report mode"};
  return NumberSettingCommand(kReport, settings_.reportMode, direction);
}

Result VUSKA_Protocol::TimeZoneCommand(int direction) {
  static constexpr NumberSetting kZone = {"TimeZoneCommand",
                                          kCapSiteCommands,
                                          false,
                                          "-tz",
                                          Acceptance::kOkText,
                                          false,
                                          false,
                                          kErrNotUnderstood,
                                          "time zone",
                                          "device time zone",
                                          "device time zone"};
  if (direction == kWrite && (settings_.capabilityMask & kCapSiteCommands) != 0 &&
      settings_.timeZone == kZoneFromComputer) {
    settings_.timeZone = UtcOffsetSeconds() / kSecondsPerQuarterHour;
  }
  return NumberSettingCommand(kZone, settings_.timeZone, direction);
}

Result VUSKA_Protocol::WakeCommand(int direction) {
  static constexpr NumberSetting kWake = {"WakeCommand",
                                          kCapWake,
                                          false,
                                          "-w",
                                          Acceptance::kOkOrPrompt,
                                          true,
                                          true,
                                          kErrNotUnderstood,
                                          "device measurement interval",
                                          "device measurement interval",
                                          "device measurement interval"};
  return NumberSettingCommand(kWake, settings_.wake, direction);
}

Result VUSKA_Protocol::DataParameterCommand(int direction) {
  static constexpr NumberSetting kData = {"DataParameterCommand",
                                          kCapDataParameter,
                                          false,
                                          "-data",
                                          Acceptance::kOkText,
                                          false,
                                          false,
                                          kErrNotUnderstood,
                                          "data parameter",
                                          "data parameter",
                                          "device data parameter"};
  return NumberSettingCommand(kData, settings_.dataParameter, direction);
}

Result VUSKA_Protocol::IPPortCommand(int direction) {
  static constexpr NumberSetting kIpPort = {"IPPortCommand",
                                            0,
                                            true,
                                            "-ipport",
                                            Acceptance::kOkText,
                                            false,
                                            false,
                                            kErrProtoEmptyAnswer,
                                            "ipport",
                                            "device ipport",
                                            "device ipport"};
  return NumberSettingCommand(kIpPort, settings_.ipPort, direction);
}

Result VUSKA_Protocol::RmodeCommand(int direction) {
  static constexpr NumberSetting kRmode = {
      "RmodeCommand", kCapRadioMode,     false,   "-r",    Acceptance::kOkOrPrompt, false,
      false,          kErrNotUnderstood, "rmode", "rmode", "device rmode"};
  if ((settings_.capabilityMask & kCapRadioMode) == 0) {
    return kErrProtoCannotDo;
  }
  if (settings_.familyCode == kFamilyQt7) {
    if (direction == kRead) {
      settings_.radioMode = kQt7RadioMode;
    }
    Log(kLogDetails, "RmodeCommand found an qT7 that is always mode %d",
        static_cast<int>(kQt7RadioMode));
    return kDone;
  }
  auto mode = static_cast<std::int32_t>(settings_.radioMode);
  const Result r = NumberSettingCommand(kRmode, mode, direction);
  if (r > 0) {
    settings_.radioMode = static_cast<std::uint32_t>(mode);
  }
  return r;
}

Result VUSKA_Protocol::PADCCommand(int direction) {
  if ((settings_.capabilityMask & kCapWake) == 0) {
    return kErrProtoCannotDo;
  }
  if (direction != kRead && direction != kWrite) {
    return FailLine("PADCCommand", kErrProtoOutOfRange, 0);
  }
  const bool newFirmware = settings_.newFirmware != 0;
  if (!newFirmware && settings_.versionNumber <= kOldestPadcVersion) {
    if (direction == kRead) {
      settings_.padc = -1;
    }
    return kErrProtoCannotDo;
  }
  std::uint32_t elapsed = 0;
  if (direction == kWrite) {
    if (settings_.padc < 0) {
      return FailLine("PADCCommand", kErrProtoOutOfRange, 0);
    }
    const std::string command = newFirmware ? StrFormat("set -padc %d\r", settings_.padc)
                                            : StrFormat("set -p %d\r", settings_.padc);
    const Result r =
        WriteAccepted(command, kSettingAnswerCapacity,
                      newFirmware ? Acceptance::kOkText : Acceptance::kPromptLine, elapsed);
    if (r > 0) {
      Log(kLogDetails, "PADCCommand set device PADC %d Hz (%d ms)", settings_.padc,
          static_cast<int>(elapsed));
    }
    return FailLine("PADCCommand", r, elapsed);
  }
  std::string answer;
  const Result r = ReadAnswer(newFirmware ? kPadcQuery : kOldPadcQuery, answer,
                              kSettingAnswerCapacity, kSettingAnswerMs, elapsed);
  if (r <= 0) {
    return FailLine("PADCCommand", r, elapsed);
  }
  std::string_view text = AfterFirstCr(answer);
  std::int32_t value = 0;
  if (!ScanInt(text, value)) {
    Log(kLogDetails, "PADCCommand could not find device PADC value (%d ms)",
        static_cast<int>(elapsed));
    return FailLine("PADCCommand", kErrNotUnderstood, elapsed);
  }
  settings_.padc = value;
  Log(kLogDetails, "PADCCommand found device PADC %d Hz (%d ms)", value, static_cast<int>(elapsed));
  return kDone;
}

Result VUSKA_Protocol::PortListCommand(const char* name, const char* option, const char* noun,
                                       const char* missingNoun, std::uint32_t capability,
                                       std::uint8_t fillWithout, PortBytes& field, int direction) {
  if ((settings_.capabilityMask & capability) == 0) {
    if (direction == kRead) {
      field.fill(fillWithout);
    }
    return kErrProtoCannotDo;
  }
  if (direction != kRead && direction != kWrite) {
    return FailLine(name, kErrProtoOutOfRange, 0);
  }
  std::uint32_t elapsed = 0;
  if (direction == kWrite) {
    const std::string command = StrFormat("set %s %d %d %d %d %d\r", option, field[0], field[1],
                                          field[2], field[3], field[4]);
    const Result r = WriteAccepted(command, kSettingAnswerCapacity, Acceptance::kOkText, elapsed);
    if (r > 0) {
      Log(kLogDetails, "%s set %s to %d %d %d %d %d (%d ms)", name, noun, field[0], field[1],
          field[2], field[3], field[4], static_cast<int>(elapsed));
    }
    return FailLine(name, r, elapsed);
  }
  std::string answer;
  const Result r = ReadAnswer(StrFormat("get %s\r", option), answer, kSettingAnswerCapacity,
                              kSettingAnswerMs, elapsed);
  if (r <= 0) {
    return FailLine(name, r, elapsed);
  }
  std::int32_t values[kSensorPortCount] = {};
  const std::size_t found = ScanInts(answer, "    ", values, kSensorPortCount);
  if (found < kSensorPortCount) {
    Log(kLogDetails, "%s only found %d of %d %s (%d ms)", name, static_cast<int>(found),
        static_cast<int>(kSensorPortCount), missingNoun, static_cast<int>(elapsed));
    return FailLine(name, kErrNotUnderstood, elapsed);
  }
  for (std::size_t i = 0; i < kSensorPortCount; ++i) {
    field[i] = static_cast<std::uint8_t>(values[i] < 0 ? 0 : (values[i] > 255 ? 255 : values[i]));
  }
  Log(kLogDetails, "%s: %s are %d %d %d %d %d (%d ms)", name, noun, field[0], field[1], field[2],
      field[3], field[4], static_cast<int>(elapsed));
  return kDone;
}

Result VUSKA_Protocol::DepthCommand(int direction) {
  constexpr std::uint8_t kNoDepth = 255;
  return PortListCommand("DepthCommand", "-depth", "depths", "port depths", kCapSiteCommands,
                         kNoDepth, settings_.depths, direction);
}

Result VUSKA_Protocol::PortsCommand(int direction) {
  constexpr std::uint8_t kNoPort = 0;
  return PortListCommand("PortsCommand", "-ports", "ports", "ports", kCapPorts, kNoPort,
                         settings_.ports, direction);
}

Result VUSKA_Protocol::PositionCommand(const char* name, const char* option, const char* noun,
                                       double& field, int direction) {
  if ((settings_.capabilityMask & kCapPosition) == 0) {
    return kErrProtoCannotDo;
  }
  if (direction != kRead && direction != kWrite) {
    return FailLine(name, kErrProtoOutOfRange, 0);
  }
  std::uint32_t elapsed = 0;
  if (direction == kWrite) {
    if (!std::isfinite(field)) {
      return FailLine(name, kErrProtoOutOfRange, 0);
    }
    // Exactly 0 clears the position on the instrument.
    const std::string value = field == 0.0 ? std::string() : SignedFixed5(field);
    const std::string command = StrFormat("set %s %s\r", option, value.c_str());
    const Result r = WriteAccepted(command, kSettingAnswerCapacity, Acceptance::kOkText, elapsed);
    if (r > 0) {
      Log(kLogDetails, "%s set %s to %s (%d ms)", name, noun, SignedFixed5(field).c_str(),
          static_cast<int>(elapsed));
    }
    return FailLine(name, r, elapsed);
  }
  std::string answer;
  const Result r = ReadAnswer(StrFormat("get %s\r", option), answer, kSettingAnswerCapacity,
                              kSettingAnswerMs, elapsed);
  if (r <= 0) {
    return FailLine(name, r, elapsed);
  }
  std::string_view text = answer;
  double value = 0.0;
  if (!ScanDouble(text, value)) {
    Log(kLogDetails, "%s could not find device %s (%d ms)", name, noun, static_cast<int>(elapsed));
    return FailLine(name, kErrProtoEmptyAnswer, elapsed);
  }
  field = value;
  Log(kLogDetails, "%s found device %s %s (%d ms)", name, noun, SignedFixed5(value).c_str(),
      static_cast<int>(elapsed));
  return kDone;
}

Result VUSKA_Protocol::LatitudeCommand(int direction) {
  return PositionCommand("LatitudeCommand", "-lat", "latitude", settings_.latitude, direction);
}

Result VUSKA_Protocol::LongitudeCommand(int direction) {
  return PositionCommand("LongitudeCommand", "-long", "longitude", settings_.longitude, direction);
}

// ---- Calibration, trait and radio ----

Result VUSKA_Protocol::ADCcalCommand(std::string_view which, PortBytes* slopes, PortBytes* offsets,
                                     int direction) {
  const std::string name(which);
  if (slopes == nullptr || offsets == nullptr) {
    Log(kLogFailures, "ADCcalCommand (%s) failed with error %d (%d ms)", name.c_str(),
        kErrMissingArgument, 0);
    return kErrMissingArgument;
  }
  if ((settings_.capabilityMask & kCapAdcCal) == 0) {
    return kErrProtoCannotDo;
  }
  std::uint32_t elapsed = 0;
  auto failed = [&](Result r) {
    Log(kLogFailures, "ADCcalCommand (%s) failed with error %d (%d ms)", name.c_str(), r,
        static_cast<int>(elapsed));
    return r;
  };
  if ((name != "-adc30" && name != "-adc15") || (direction != kRead && direction != kWrite)) {
    return failed(kErrProtoOutOfRange);
  }
  const std::size_t channels = (settings_.capabilityMask & kCapAdcOneChannel) != 0 ? 1 : 5;
  PortBytes& s = *slopes;
  PortBytes& o = *offsets;

  if (direction == kWrite) {
    std::string command;
    unsigned checksum = 0;
    if (channels == 1) {
      checksum = (s[0] + o[0]) % 256u;
      command =
          StrFormat("set %s %u %u %u\r", name.c_str(), unsigned{s[0]}, unsigned{o[0]}, checksum);
    } else {
      checksum = AdcChecksum(s, o);
      command =
          StrFormat("set %s %u %u %u %u %u %u %u %u %u %u %u\r", name.c_str(), unsigned{s[0]},
                    unsigned{o[0]}, unsigned{s[1]}, unsigned{o[1]}, unsigned{s[2]}, unsigned{o[2]},
                    unsigned{s[3]}, unsigned{o[3]}, unsigned{s[4]}, unsigned{o[4]}, checksum);
    }
    std::string answer;
    const Result r = ReadAnswer(command, answer, kAdcAnswerCapacity, kSettingAnswerMs, elapsed);
    if (r <= 0) {
      return failed(r == kErrProtoErrorAnswer ? kErrProtoRefused : r);
    }
    if (answer.find(kOkText) == std::string::npos) {
      return failed(kErrNotUnderstood);
    }
    Log(kLogDetails, "ADCcalCommand set %s %u %u %u %u %u %u %u %u %u %u %u (%d ms)", name.c_str(),
        unsigned{s[0]}, unsigned{o[0]}, unsigned{s[1]}, unsigned{o[1]}, unsigned{s[2]},
        unsigned{o[2]}, unsigned{s[3]}, unsigned{o[3]}, unsigned{s[4]}, unsigned{o[4]}, checksum,
        static_cast<int>(elapsed));
    return kDone;
  }

  std::string answer;
  const Result r = ReadAnswer(StrFormat("get %s\r", name.c_str()), answer, kAdcAnswerCapacity,
                              kSettingAnswerMs, elapsed);
  if (r <= 0) {
    return failed(r);
  }
  const AdcFactors factors = ParseAdcFactors(answer, channels);
  if (factors.numbersRead != 2 * channels + 1) {
    Log(kLogDetails, "ADCcalCommand only found %d of %d cal %s factors (%d ms)",
        static_cast<int>(factors.numbersRead), static_cast<int>(kAdcNumbers), name.c_str(),
        static_cast<int>(elapsed));
    return failed(kErrNotUnderstood);
  }
  s = factors.slopes;
  o = factors.offsets;
  const bool valid = factors.inRange && factors.checksumOk;
  Log(kLogDetails, "ADCcalCommand found (%s) %s %u %u %u %u %u %u %u %u %u %u %u (%d ms)",
      valid ? "valid" : "not valid", name.c_str(), unsigned{s[0]}, unsigned{o[0]}, unsigned{s[1]},
      unsigned{o[1]}, unsigned{s[2]}, unsigned{o[2]}, unsigned{s[3]}, unsigned{o[3]},
      unsigned{s[4]}, unsigned{o[4]}, factors.checksum, static_cast<int>(elapsed));
  return valid ? kDone : failed(kErrProtoCannotDo);
}

Result VUSKA_Protocol::RadioPresent() const {
  if ((settings_.trait & kTraitKnown) == 0) {
    return -1;
  }
  return (settings_.trait & kTraitRadio) != 0 ? 1 : 0;
}

Result VUSKA_Protocol::CellularPresent() const {
  if ((settings_.trait & kTraitKnown) == 0) {
    return -1;
  }
  return settings_.familyCode == kFamilyDu70 && (settings_.trait & kTraitCellular) != 0 ? 1 : 0;
}

Result VUSKA_Protocol::TraitCommand(int direction) {
  constexpr const char* kName = "TraitCommand";
  std::uint32_t elapsed = 0;
  if (direction == kWrite) {
    if ((settings_.capabilityMask & kCapSiteCommands) == 0) {
      return FailLine(kName, kErrProtoRefused, 0);
    }
    if ((settings_.trait & kTraitKnown) == 0) {
      return FailLine(kName, kErrProtoOutOfRange, 0);
    }
    const int sent = kTraitByteMax - (settings_.trait & 0xFF);
    const Result r = WriteAccepted(StrFormat("set -trait %d\r", sent), kSettingAnswerCapacity,
                                   Acceptance::kOkText, elapsed);
    if (r > 0) {
      Log(kLogDetails, "TraitCommand set trait to %d (%d ms)", settings_.trait,
          static_cast<int>(elapsed));
    }
    return FailLine(kName, r, elapsed);
  }
  if (direction != kRead) {
    return FailLine(kName, kErrProtoOutOfRange, 0);
  }
  if (settings_.familyCode == kFamilyTrellisbase) {
    settings_.trait = kTraitKnown | kTraitRadio;
    Log(kLogDetails, "TraitCommand: set trait to %d for Trellisbase", settings_.trait);
    return kDone;
  }
  if ((settings_.capabilityMask & kCapTraitCommand) != 0) {
    std::string answer;
    const Result r =
        ReadAnswer(kTraitQuery, answer, kSettingAnswerCapacity, kSettingAnswerMs, elapsed);
    if (r <= 0) {
      return FailLine(kName, r, elapsed);
    }
    std::string_view text = answer;
    std::int32_t value = 0;
    // The trait is one byte; anything else is not a trait.
    if (!ScanInt(text, value) || value < 0 || value > kTraitByteMax) {
      Log(kLogDetails, "TraitCommand could not find the trait (%d ms)", static_cast<int>(elapsed));
      return FailLine(kName, kErrNotUnderstood, elapsed);
    }
    settings_.trait = (kTraitByteMax - value) | kTraitKnown;
    Log(kLogDetails, "TraitCommand: found %d (%d ms)", settings_.trait, static_cast<int>(elapsed));
    return kDone;
  }
  if ((settings_.capabilityMask & kCapRadio) == 0) {
    settings_.trait = kTraitKnown;
    return kDone;
  }
  if (connection_.linkType == kLinkRadio) {
    settings_.trait = kTraitKnown | kTraitRadio;
    Log(kLogDetails, "TraitCommand (emulated): knows %d", settings_.trait);
    return kDone;
  }
  std::uint32_t flags = kRadioVersionBit;
  const Result r = MSRadioCommand(nullptr, nullptr, &settings_.radioVersion, kRead, &flags);
  settings_.trait = kTraitKnown | ((flags & kRadioVersionBit) != 0 ? kTraitRadio : 0);
  if (r >= 0) {
    Log(kLogDetails, "TraitCommand (emulated): found %d", settings_.trait);
    return kDone;
  }
  return kOk;
}

Result VUSKA_Protocol::MSRadioCommand(std::uint32_t* channel, std::uint32_t* subChannel,
                                      std::string* version, int direction, std::uint32_t* flags) {
  constexpr const char* kName = "MSRadioCommand";
  if (flags == nullptr) {
    return FailLine(kName, kErrMissingArgument, 0);
  }
  if ((settings_.capabilityMask & kCapRadio) == 0) {
    *flags = 0;
    return kErrProtoCannotDo;
  }
  if (direction != kRead && direction != kWrite) {
    *flags = 0;
    return FailLine(kName, kErrProtoOutOfRange, 0);
  }
  const std::uint32_t start = TickMs();

  if (connection_.linkType == kLinkRadio) {
    if (direction == kWrite) {
      *flags = 0;
      Log(kLogFailures, "MSRadioCommand can't set radio parameters while connected over the radio");
      return kErrProtoRefused;
    }
    if (version != nullptr) {
      version->clear();
    }
    const bool known = connection_.configureRadio != 0 || connection_.radioChannel != 0 ||
                       connection_.radioSubChannel != 0;
    if (known) {
      if (channel != nullptr) {
        *channel = connection_.radioChannel;
      }
      if (subChannel != nullptr) {
        *subChannel = connection_.radioSubChannel;
      }
      *flags = kRadioChannelBit | kRadioSubChannelBit;
      Log(kLogDetails, "MSRadioCommand knows the RCH is %d and RSCH is %d (can't get RVER)",
          static_cast<int>(connection_.radioChannel),
          static_cast<int>(connection_.radioSubChannel));
      return kDone;
    }
    std::uint32_t foundChannel = 0;
    std::uint32_t foundSubChannel = 0;
    *flags = kRadioChannelBit | kRadioSubChannelBit;
    const Result r = Kx2Config(&foundChannel, &foundSubChannel, nullptr, kRead, flags);
    if (channel != nullptr && (*flags & kRadioChannelBit) != 0) {
      *channel = foundChannel;
    }
    if (subChannel != nullptr && (*flags & kRadioSubChannelBit) != 0) {
      *subChannel = foundSubChannel;
    }
    Log(kLogDetails,
        "MSRadioCommand asked the Kx2 and found the RCH is %d and RSCH is %d (can't get RVER)",
        static_cast<int>(foundChannel), static_cast<int>(foundSubChannel));
    return r;
  }

  if (settings_.newFirmware == 0) {
    if (settings_.familyCode != kFamilyLq7) {
      *flags = 0;
      return FailLine(kName, kErrNoAnswer, ElapsedMs(start));
    }
    // Old Lq7 firmware hands the line to its radio module with "term".
    WriteText(kTermCommand);
    Pause(kTermPauseMs);
    const Result r = Kx2Config(channel, subChannel, version, direction, flags);
    Pause(kTermPauseMs);
    std::uint32_t length = 0;
    std::uint32_t elapsed = 0;
    DeviceCommand(kTermCommand, kPrompt, kSettingAnswerMs, nullptr, length, elapsed);
    return r;
  }

  const std::uint32_t request = *flags;
  std::uint32_t done = 0;
  std::uint32_t missing = 0;
  Result result = kDone;
  const std::uint32_t tries = commandTries_ == 0 ? 1 : commandTries_;
  std::string answer;
  std::uint32_t elapsed = 0;

  if (direction == kWrite) {
    const std::string_view accepted =
        settings_.familyCode == kFamilyLq7 ? kLq7RadioAccepted : kOkText;
    struct Item {
      std::uint32_t bit;
      std::uint32_t* value;
      const char* option;
    };
    const Item items[] = {{kRadioChannelBit, channel, "rch"},
                          {kRadioSubChannelBit, subChannel, "rsch"}};
    for (const Item& item : items) {
      if ((request & item.bit) == 0 || item.value == nullptr) {
        continue;
      }
      const std::string command = StrFormat("set -%s %X\r", item.option, *item.value);
      Result itemResult = kDone;
      for (std::uint32_t pass = 0; pass < tries; ++pass) {
        const Result r =
            ReadAnswer(command, answer, kSettingAnswerCapacity, kRadioSettingMs, elapsed);
        if (r <= 0) {
          itemResult = r;
          continue;
        }
        if (answer.find(kNoRadio) != std::string::npos) {
          itemResult = kErrProtoNoRadio;
          break;
        }
        if (answer.find(accepted) != std::string::npos) {
          done |= item.bit;
          Log(kLogDetails, "MSRadioCommand set %s to %d (%d ms)", item.option,
              static_cast<int>(*item.value), static_cast<int>(elapsed));
          break;
        }
        itemResult = kDone;
      }
      if ((done & item.bit) == 0) {
        missing |= item.bit;
        if (itemResult <= 0) {
          result = itemResult;
        }
      }
    }
  } else {
    if ((request & kRadioVersionBit) != 0 && version != nullptr) {
      Result itemResult = kDone;
      bool stop = false;
      for (std::uint32_t pass = 0; pass < tries && !stop; ++pass) {
        const Result r = ReadAnswer(kRadioVersionQuery, answer, kSettingAnswerCapacity,
                                    kRadioSettingMs, elapsed);
        if (r == kErrProtoEmptyAnswer) {
          itemResult = kOk;
          break;
        }
        if (r <= 0) {
          itemResult = r;
          continue;
        }
        if (answer.find(kNoRadio) != std::string::npos) {
          itemResult = kErrProtoNoRadio;
          break;
        }
        std::string_view text = RadioItemText(answer);
        std::string word;
        if (!ScanWord(text, kRadioVersionMax, word)) {
          continue;
        }
        if (word.compare(0, kNoRadioVersionPrefix.size(), kNoRadioVersionPrefix) == 0) {
          // A module that reports version 00.. is not fitted.
          itemResult = kErrProtoNoRadio;
          version->clear();
          stop = true;
        } else if (IsHexDigits(word, kRadioVersionDigits)) {
          *version = word;
          done |= kRadioVersionBit;
          Log(kLogDetails, "MSRadioCommand found rver %s (%d ms)", word.c_str(),
              static_cast<int>(elapsed));
          stop = true;
        }
      }
      if ((done & kRadioVersionBit) == 0) {
        missing |= kRadioVersionBit;
        Log(kLogDetails, "MSRadioCommand could not find rver (%d ms)", static_cast<int>(elapsed));
        if (itemResult <= 0) {
          result = itemResult;
        }
      }
    }
    struct Item {
      std::uint32_t bit;
      std::uint32_t* value;
      const char* option;
      std::uint32_t maxValue;
    };
    const Item items[] = {{kRadioChannelBit, channel, "rch", kMaxRadioChannel},
                          {kRadioSubChannelBit, subChannel, "rsch", kMaxRadioSubChannel}};
    for (const Item& item : items) {
      if ((request & item.bit) == 0 || item.value == nullptr || result == kErrProtoNoRadio) {
        continue;
      }
      const std::string command = StrFormat("get -%s\r", item.option);
      Result itemResult = kDone;
      for (std::uint32_t pass = 0; pass < tries; ++pass) {
        const Result r =
            ReadAnswer(command, answer, kSettingAnswerCapacity, kRadioSettingMs, elapsed);
        if (r == kErrProtoEmptyAnswer) {
          itemResult = kOk;
          break;
        }
        if (r <= 0) {
          itemResult = r;
          continue;
        }
        if (answer.find(kNoRadio) != std::string::npos) {
          itemResult = kErrProtoNoRadio;
          break;
        }
        std::string_view text = RadioItemText(answer);
        std::uint32_t value = 0;
        if (ScanHex(text, value) && value <= item.maxValue) {
          *item.value = value;
          done |= item.bit;
          Log(kLogDetails, "MSRadioCommand found %s %d (%d ms)", item.option,
              static_cast<int>(value), static_cast<int>(elapsed));
          break;
        }
      }
      if ((done & item.bit) == 0) {
        missing |= item.bit;
        Log(kLogDetails, "MSRadioCommand could not find %s (%d ms)", item.option,
            static_cast<int>(elapsed));
        if (itemResult <= 0) {
          result = itemResult;
        }
      }
    }
  }

  const std::uint32_t total = ElapsedMs(start);
  if ((result != kOk && result != kErrProtoNoRadio) || done != 0) {
    if (result < 0 || missing != 0) {
      if (done != 0) {
        result = kErrPartialSettings;
      }
      Log(kLogFailures, "MSRadioCommand failed with error %d setting %d (%d ms)", result,
          static_cast<int>(missing), static_cast<int>(total));
    }
  } else {
    Log(kLogDetails, "MSRadioCommand couldn't find a radio (%d ms)", static_cast<int>(total));
  }
  *flags = done;
  return result;
}

// ---- The whole record ----

Result VUSKA_Protocol::DeviceSettings(DeviceSettingsRecord* record, std::uint32_t* flags,
                                      int direction) {
  if (record == nullptr || flags == nullptr) {
    Log(kLogFailures, "DeviceSettings: no settings record or flags given");
    return kErrMissingArgument;
  }
  if (direction != kRead && direction != kWrite) {
    Log(kLogFailures, "DeviceSettings: unknown direction %d", direction);
    return kErrProtoOutOfRange;
  }
  const bool reading = direction == kRead;
  std::uint32_t request = *flags;
  const std::uint32_t requested = request;
  std::uint32_t obtained = 0;

  if (!reading) {
    settings_ = *record;
  } else {
    if (settings_.versionNumber != kVersionUnknown) {
      obtained |= kSetIdentity;
    } else {
      request |= kSetIdentity;
    }
    // Whether there is a radio to ask depends on the trait.
    if ((request & kAnyRadioBit) != 0 && (settings_.validFlags & kSetTrait) == 0) {
      request |= kSetTrait;
    }
  }

  Result overall = kDone;
  Result step = kDone; // result of the previous step
  std::uint32_t savedRequest = 0;
  Result savedOverall = kDone;
  bool haveSaved = false;
  std::uint32_t reconnects = 0;

  for (;;) {
    if (step == kErrProtoEcho || step == kErrProtoRelayActive || step == kErrProtoNoName) {
      overall = step;
      break;
    }
    if (step < 0) {
      overall = kErrPartialSettings;
      Pause(kAfterFailedStepMs);
      if (step == kErrNoAnswer) {
        ++reconnects;
        if (reconnects > commandTries_ || connection_.linkType == kLinkRadio) {
          overall = kErrNoAnswer;
          break;
        }
        const Result again = DeviceLogin(&connection_.deviceName, &connection_.baudIndex);
        if (again > 0) {
          if (protocolLog_ != nullptr) {
            protocolLog_->LogMessage(kLogDetails, "******",
                                     "DeviceSettings re-connected to device");
          }
          if (haveSaved) {
            request = savedRequest;
            overall = savedOverall;
          }
        } else if (again == kErrNoConnection) {
          overall = kErrNoAnswer;
          break;
        }
      }
    } else {
      if (request == 0 || (haveSaved && request == savedRequest)) {
        break;
      }
      savedRequest = request;
      savedOverall = overall;
      haveSaved = true;
      reconnects = 0;
    }
    if (!ProgressGoOn(requested, obtained, kProgressSettings)) {
      overall = kErrStopped;
      break;
    }
    bool identityStep = false;
    step = SettingsStep(request, obtained, reading, identityStep);
    if (identityStep && step == kErrProtoNotSupported) {
      Log(kLogDetails, "DeviceSettings: old Vaultrecord model 007 not supported");
      *flags = obtained;
      return kErrProtoNotSupported;
    }
  }

  if (obtained == 0 && overall == kDone && requested != 0) {
    overall = kErrProtoCannotDo;
  }
  *flags = obtained;
  if (reading) {
    settings_.validFlags |= obtained;
    *record = settings_;
  }
  return overall;
}

Result VUSKA_Protocol::SettingsStep(std::uint32_t& request, std::uint32_t& obtained, bool reading,
                                    bool& identityStep) {
  const int direction = reading ? kRead : kWrite;
  constexpr std::uint32_t kShowBits = kSetName | kSetWake | kSetRadioMode;
  constexpr std::uint32_t kShowObtained = kSetName | kSetIdentity | kSetWake | kSetRadioMode;

  if ((request & kSetIdentity) != 0) {
    if (!reading) {
      request &= ~kSetIdentity;
      return kOk;
    }
    identityStep = true;
    Result r = kDone;
    const bool known = settings_.familyCode != 0 && settings_.newFirmware != 0 &&
                       !settings_.identityText.empty() &&
                       settings_.versionNumber != kVersionUnknown;
    if (!known) {
      r = VerCommand(false);
    }
    if (settings_.newFirmware != 0) {
      request &= ~kSetIdentity;
      if (r > 0) {
        obtained |= kSetIdentity;
      }
    } else {
      // The early loggers report name, wake and radio mode with their identity.
      request &= ~(kSetName | kSetSerialNumber | kSetIdentity | kSetWake | kSetRadioMode);
      if (r > 0) {
        obtained |= kShowObtained;
      }
    }
    return r;
  }
  if (reading && settings_.newFirmware == 0 && (request & kShowBits) != 0) {
    const Result r = ParseShowCommand(nullptr);
    request &= ~(kSetName | kSetSerialNumber | kSetWake | kSetRadioMode);
    if (r > 0) {
      obtained |= kShowObtained;
    }
    return r;
  }

  struct Single {
    std::uint32_t bit;
    Result (VUSKA_Protocol::*command)(int);
  };
  static constexpr Single kBeforeRadio[] = {
      {kSetName, &VUSKA_Protocol::NameCommand},
      {kSetDeviceId, &VUSKA_Protocol::DeviceIDCommand},
      {kSetReportMode, &VUSKA_Protocol::ReportCommand},
      {kSetDepths, &VUSKA_Protocol::DepthCommand},
      {kSetLatitude, &VUSKA_Protocol::LatitudeCommand},
      {kSetLongitude, &VUSKA_Protocol::LongitudeCommand},
      {kSetTimeZone, &VUSKA_Protocol::TimeZoneCommand},
      {kSetSite, &VUSKA_Protocol::SiteCommand},
      {kSetSerialNumber, &VUSKA_Protocol::SNCommand},
      {kSetWake, &VUSKA_Protocol::WakeCommand},
      {kSetPadc, &VUSKA_Protocol::PADCCommand},
      {kSetPorts, &VUSKA_Protocol::PortsCommand},
      {kSetTrait, &VUSKA_Protocol::TraitCommand},
      {kSetRadioMode, &VUSKA_Protocol::RmodeCommand},
  };
  // A failed read of these leaves no trustworthy value behind.
  constexpr std::uint32_t kInvalidOnFailure = kSetLatitude | kSetLongitude | kSetSite;
  for (const Single& single : kBeforeRadio) {
    if ((request & single.bit) != 0) {
      request &= ~single.bit;
      const Result r = (this->*single.command)(direction);
      if (r > 0) {
        obtained |= single.bit;
      } else if ((single.bit & kInvalidOnFailure) != 0) {
        settings_.validFlags &= ~single.bit;
      }
      return r;
    }
  }
  if ((request & kAnyRadioBit) != 0) {
    std::uint32_t radioFlags = request & kAnyRadioBit;
    request &= ~kAnyRadioBit;
    if (reading && RadioPresent() != 1) {
      return kErrProtoRadioModule;
    }
    const Result r = MSRadioCommand(&settings_.radioChannel, &settings_.radioSubChannel,
                                    &settings_.radioVersion, direction, &radioFlags);
    obtained |= radioFlags;
    return r;
  }
  static constexpr Single kAfterRadio[] = {
      {kSetDataParameter, &VUSKA_Protocol::DataParameterCommand},
      {kSetBuild, &VUSKA_Protocol::ZuroBuildCommand},
  };
  for (const Single& single : kAfterRadio) {
    if ((request & single.bit) != 0) {
      request &= ~single.bit;
      const Result r = (this->*single.command)(direction);
      if (r > 0) {
        obtained |= single.bit;
      }
      return r;
    }
  }
  if ((request & kSetAdc30) != 0) {
    request &= ~kSetAdc30;
    const Result r =
        ADCcalCommand("-adc30", &settings_.adc30Slopes, &settings_.adc30Offsets, direction);
    if (r > 0) {
      obtained |= kSetAdc30;
    }
    return r;
  }
  if ((request & kSetAdc15) != 0) {
    request &= ~kSetAdc15;
    const Result r =
        ADCcalCommand("-adc15", &settings_.adc15Slopes, &settings_.adc15Offsets, direction);
    if (r > 0) {
      obtained |= kSetAdc15;
    }
    return r;
  }
  static constexpr Single kCellular[] = {
      {kSetApn, &VUSKA_Protocol::APNCommand},
      {kSetApnUser, &VUSKA_Protocol::APNUserCommand},
      {kSetApnPassword, &VUSKA_Protocol::APNPasswdCommand},
      {kSetAuthKey, &VUSKA_Protocol::AuthKeyCommand},
      {kSetHost, &VUSKA_Protocol::HostCommand},
      {kSetIpPort, &VUSKA_Protocol::IPPortCommand},
  };
  for (const Single& single : kCellular) {
    if ((request & single.bit) != 0) {
      request &= ~single.bit;
      const Result r = (this->*single.command)(direction);
      if (r > 0) {
        obtained |= single.bit;
      }
      return r;
    }
  }
  // Nothing here handles what is left: the next check ends the walk.
  return kOk;
}

} // namespace zuro
