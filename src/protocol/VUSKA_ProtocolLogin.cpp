// Reaching a device: opening the port, the radio wake and query, logging in,
// reading the identity, agreeing the link speed and leaving again.
#include <cstring>

#include "core/Text.h"
#include "core/Time.h"
#include "protocol/AnswerParsers.h"
#include "protocol/DeviceFamilyTable.h"
#include "protocol/VUSKA_Protocol.h"

namespace zuro {

namespace {
constexpr std::uint32_t kSettleAfterOpenMs = 100;
constexpr std::uint32_t kRadioConfigTries = 3;

constexpr std::string_view kQueryCommand = "\rquery\r";
constexpr std::uint32_t kQueryAnswerMs = 3000;
constexpr std::uint32_t kQueryAnswerCapacity = 180;
/// A node that answered the query needs a moment before it takes a login.
constexpr std::uint32_t kAfterQueryMs = 2500;

constexpr std::string_view kWakeCharacter = "\r";

constexpr std::uint32_t kLoginAnswerMs = 1500;
constexpr std::uint32_t kLoginAnswerCapacity = 10;

constexpr std::string_view kVersionCommand = "get -ver\r";
constexpr std::uint32_t kVersionAnswerRadioMs = 800;
constexpr std::uint32_t kVersionAnswerSerialMs = 400;
constexpr std::uint32_t kVersionAnswerCapacity = 32;
constexpr std::uint32_t kVersionExtraPasses = 3;
constexpr std::uint32_t kVersionRetryPauseMs = 400;
/// The boot loader's '$' means it waits for contact; give it time to give up.
constexpr std::uint32_t kBootLoaderWaitingPauseMs = 3000;
constexpr int kMaxShortAnswers = 2;
/// A lone line end or prompt: the device is there but said nothing.
constexpr const char* kShortAnswerCr = "\r";
constexpr const char* kShortAnswerPrompt = ">";
constexpr std::size_t kBootLoaderAnswerMin = 4;

constexpr std::string_view kShowCommand = "show\r";
constexpr std::uint32_t kShowAnswerMs = 1500;
constexpr std::uint32_t kShowAnswerCapacity = 180;

constexpr std::uint32_t kBaudAnswerMs = 1500;
constexpr std::uint32_t kBaudAnswerCapacity = 32;
/// A device that did not answer may still be switching; wait before asking again.
constexpr std::uint32_t kBaudRetryPauseMs = 1500;
constexpr std::uint32_t kAfterBaudMs = 100;

constexpr std::string_view kLogoutCommand = "logout\r";
constexpr std::uint32_t kLogoutPauseMs = 100;
constexpr std::uint32_t kLogoutProbeBytes = 31;
} // namespace

Result VUSKA_Protocol::CheckDeviceName(std::string_view name) {
  return zuro::CheckDeviceName(name);
}

void VUSKA_Protocol::SetCapabilities() {
  settings_.capabilityMask = 0;
  settings_.memorySize = 0;
  const Capabilities caps =
      CapabilitiesFor(settings_.familyCode, settings_.versionNumber, settings_.newFirmware != 0);
  settings_.capabilityMask = caps.mask;
  settings_.memorySize = caps.memorySize;
}

Result VUSKA_Protocol::ConnectDevice(ConnectionRecord* record) {
  if (record == nullptr) {
    Log(kLogFailures, "ConnectDevice: no connection record");
    return kErrMissingArgument;
  }
  if (!answerBuffer_) {
    Log(kLogFailures, "ConnectDevice: no answer buffer");
    return kErrOutOfMemory;
  }
  ClearSettings();

  switch (record->linkType) {
  case kLinkSerial:
    commandTries_ = options_.serialTries;
    break;
  case kLinkRadio:
    commandTries_ = options_.radioTries;
    break;
  case kLinkNone:
    Log(kLogFailures, "ConnectDevice: no link type given");
    return kErrProtoOutOfRange;
  case kLinkModem:
  case kLinkNetwork:
  case kLinkRelay100:
  case kLinkRelay110:
  case kLinkRelay120:
    Log(kLogFailures, "ConnectDevice: link type %d is not supported", record->linkType);
    return kErrProtoNotSupported;
  default:
    Log(kLogFailures, "ConnectDevice: unknown link type %d", record->linkType);
    return kErrMissingArgument;
  }
  if (record->baudIndex == 0) {
    record->baudIndex = kBaudIndexDefault;
  }
  // An index past the table would read a rate that does not exist.
  if (record->baudIndex >= kLinkSpeedTable.size()) {
    Log(kLogFailures, "ConnectDevice: link speed index %d is out of range", record->baudIndex);
    return kErrProtoOutOfRange;
  }
  // A port name that does not fit would open some other, shorter path.
  if (record->portName.empty() || record->portName.size() > kPortNameMax ||
      record->portName.find('\0') != std::string::npos) {
    Log(kLogFailures, "ConnectDevice: port name missing or longer than %d characters",
        static_cast<int>(kPortNameMax));
    return record->portName.empty() ? kErrMissingArgument : kErrProtoOutOfRange;
  }

  if (connection_.linkType == kLinkNone) {
    const Result opened = ZSOpen(record->portName.c_str(), kFirstContactBaud);
    if (opened < 0) {
      return opened;
    }
  }
  connection_.portName = record->portName;
  connection_.linkType = record->linkType;
  connection_.baudIndex = record->baudIndex;
  BoundedCopy(connection_.deviceName, record->deviceName, kDeviceNameMax);
  connection_.radioChannel = record->radioChannel;
  connection_.radioSubChannel = record->radioSubChannel;
  connection_.configureRadio = record->configureRadio;
  Pause(kSettleAfterOpenMs);

  if (connection_.linkType == kLinkRadio && connection_.configureRadio != 0) {
    commandTries_ = kRadioConfigTries;
    std::uint32_t channel = connection_.radioChannel;
    std::uint32_t subChannel = connection_.radioSubChannel;
    std::uint32_t flags = kRadioChannelBit | kRadioSubChannelBit;
    const Result configured = Kx2Config(&channel, &subChannel, nullptr, kWrite, &flags);
    if (configured != kDone) {
      if (options_.keepPortOpen == 0) {
        connection_.linkType = kLinkNone;
        ZSClose();
      }
      return kErrProtoRadioModule;
    }
    commandTries_ = options_.radioTries;
  }

  const Result result = DeviceLogin(&record->deviceName, &record->baudIndex);
  if (result < 0) {
    if (options_.keepPortOpen == 0) {
      ZSClose();
      connection_.linkType = kLinkNone;
    }
  } else {
    // Keep the copy in step with what is in force, so a later login again
    // uses the name heard and the speed agreed.
    BoundedCopy(connection_.deviceName, record->deviceName, kDeviceNameMax);
    connection_.baudIndex = record->baudIndex;
  }
  return result;
}

Result VUSKA_Protocol::DeviceLogin(std::string* deviceName, std::uint8_t* baudIndex) {
  if (deviceName == nullptr || baudIndex == nullptr) {
    Log(kLogFailures, "DeviceLogin: no device name or link speed given");
    return kErrMissingArgument;
  }
  if (HostBaud() != kFirstContactBaud) {
    const Result changed = ZSHostBaud(kFirstContactBaud);
    if (changed < 0) {
      Log(kLogDetails, "DeviceLogin: host reports it can't change baud (error %d)", changed);
      return kErrNoConnection;
    }
  }

  if (connection_.linkType == kLinkRadio) {
    Result result = kDone;
    bool wakeUsed = false;
    for (;;) {
      if (deviceName->empty()) {
        std::string heard;
        const Result queried = QueryCommand(&heard);
        if (queried > 0) {
          BoundedCopy(*deviceName, heard, kDeviceNameMax);
        } else if (queried == kErrStopped) {
          return kErrStopped;
        } else if (queried != kErrNoAnswer && queried != kErrProtoLastSilent) {
          result = queried;
          break;
        }
      }
      if (!deviceName->empty()) {
        const Result loggedIn = LoginCommand(*deviceName);
        if (loggedIn > 0) {
          BoundedCopy(settings_.deviceName, *deviceName, kDeviceNameMax);
          result = kDone;
          break;
        }
        if (loggedIn != kErrNoAnswer) {
          result = loggedIn;
          break;
        }
      }
      if (wakeUsed) {
        break;
      }
      wakeUsed = true;
      const Result woken = SendWake();
      if (woken < 0) {
        return woken;
      }
    }
    if (result == kErrNoAnswer || result == kErrProtoLastSilent) {
      Log(kLogDetails, "DeviceLogin: nothing is listening over the radio");
      return kErrNoConnection;
    }
    if (result == kErrProtoEcho) {
      Log(kLogFailures, "DeviceLogin thinks a relay must be active");
      return kErrProtoRelayActive;
    }
    if (result < 0) {
      Log(kLogDetails, "DeviceLogin failed with error %d", result);
      return result;
    }
    if (settings_.deviceName.empty()) {
      Log(kLogDetails, "DeviceLogin: nothing is listening over the radio");
      return kErrNoConnection;
    }
    *baudIndex = kBaudIndexDefault;
    Log(kLogDetails, "DeviceLogin communicating with a device running %s at %d baud",
        settings_.identityText.c_str(), static_cast<int>(HostBaud()));
    return kDone;
  }

  const Result identified = VerCommand(true);
  if (identified == kErrNoAnswer) {
    Log(kLogDetails, "DeviceLogin: nothing is listening over the serial port");
    return kErrNoConnection;
  }
  if (identified < 0) {
    Log(kLogDetails, "DeviceLogin failed with error %d", identified);
    return identified;
  }
  if ((settings_.capabilityMask & kCapLinkSpeed) != 0) {
    const std::uint32_t rate = LinkSpeedAt(*baudIndex);
    if (rate == HostBaud()) {
      *baudIndex = kBaudIndexDefault;
    } else {
      const Result agreed = SetBaudCommand(rate);
      if (agreed > 0) {
        // A rate the devices do not know was asked of them as 9600: the port
        // must follow what the device does, not what was wished for.
        const bool known = BaudCodeFor(rate) >= 0;
        const Result changed = ZSHostBaud(known ? rate : kFirstContactBaud);
        if (changed < 0) {
          Log(kLogFailures, "DeviceLogin: host reports it can't change baud (error %d)", changed);
          return kErrNoConnection;
        }
        if (!known) {
          *baudIndex = kBaudIndexDefault;
        }
      } else {
        Log(kLogDetails, "DeviceLogin: device didn't change baud rate (error %d)", agreed);
        *baudIndex = kBaudIndexDefault;
      }
    }
  } else {
    *baudIndex = kBaudIndexDefault;
  }
  Log(kLogDetails, "DeviceLogin communicating with a device running %s at %d baud",
      settings_.identityText.c_str(), static_cast<int>(HostBaud()));
  return kDone;
}

Result VUSKA_Protocol::QueryCommand(std::string* name) {
  if (name == nullptr) {
    Log(kLogFailures, "QueryCommand: no place for the name");
    return kErrMissingArgument;
  }
  const std::uint32_t savedTries = commandTries_;
  commandTries_ = 1;
  const std::uint32_t passes = savedTries;
  Result result = kErrNoAnswer;
  std::uint32_t elapsed = 0;
  for (std::uint32_t pass = 0; pass < passes; ++pass) {
    if (!ProgressGoOn(passes, pass, kProgressQuery)) {
      result = kErrStopped;
      break;
    }
    char answer[kQueryAnswerCapacity] = {};
    std::uint32_t length = sizeof answer;
    result = DeviceCommand(kQueryCommand, kPromptCr, kQueryAnswerMs, answer, length, elapsed);
    if (result > 0) {
      BoundedCopy(*name, LineUpTo(AnswerText(answer, length), kDeviceNameMax), kDeviceNameMax);
      if (zuro::CheckDeviceName(*name) > 0) {
        break;
      }
    } else if (result == kErrProtoEcho) {
      break;
    }
  }
  commandTries_ = savedTries;

  if (result > 0) {
    Log(kLogDetails, "QueryCommand heard from: %s (%d ms)", name->c_str(),
        static_cast<int>(elapsed));
    Pause(kAfterQueryMs);
    return kDone;
  }
  if (result == kErrProtoEcho) {
    Log(kLogFailures, "QueryCommand is hearing \"query\" -- a relay must be active (%d ms)",
        static_cast<int>(elapsed));
    return kErrProtoRelayActive;
  }
  if (result == kErrNoAnswer) {
    Log(kLogDetails, "QueryCommand didn't get any answers after %d tries (%d ms)",
        static_cast<int>(passes), static_cast<int>(elapsed));
    return kErrProtoLastSilent;
  }
  Log(kLogFailures, "QueryCommand failed with error %d (%d ms)", result, static_cast<int>(elapsed));
  return result;
}

Result VUSKA_Protocol::SendWake() {
  std::uint32_t sent = 0;
  for (; sent < wakePackets_; ++sent) {
    if (!ProgressGoOn(wakePackets_, sent, kProgressWake)) {
      Log(kLogDetails, "SendWake stopped after %d packets", static_cast<int>(sent));
      return kErrStopped;
    }
    // A port that went away ends the sequence: 50 seconds of writes into
    // nothing would only hide the fault.
    const Result written = WriteText(kWakeCharacter);
    if (written < 0) {
      Log(kLogFailures, "SendWake failed after %d packets (error %d)", static_cast<int>(sent),
          written);
      return written;
    }
    Pause(wakeSpacingMs_);
  }
  Log(kLogDetails, "SendWake sent %d packets", static_cast<int>(sent));
  return kDone;
}

Result VUSKA_Protocol::LoginCommand(std::string_view name) {
  const std::string login(name.substr(0, std::min(name.find('\0'), name.size())));
  if (login.size() > kDeviceNameMax) {
    Log(kLogFailures, "LoginCommand: Device name %s is wrong length (%d characters)", login.c_str(),
        static_cast<int>(login.size()));
    return kErrNameLength;
  }
  // A line end or blank inside the name would end the login line early and
  // make the rest a command of its own.
  for (const char c : login) {
    const auto code = static_cast<unsigned char>(c);
    if (code <= ' ' || code == 127) {
      Log(kLogFailures, "LoginCommand: Device name %s holds a control character or blank",
          login.c_str());
      return kErrNameBadChar;
    }
  }
  const std::string command =
      login.empty() ? std::string("login\r") : StrFormat("login %s\r", login.c_str());
  char answer[kLoginAnswerCapacity] = {};
  std::uint32_t length = sizeof answer;
  std::uint32_t elapsed = 0;
  const Result result = DeviceCommand(command, kPrompt, kLoginAnswerMs, answer, length, elapsed);
  if (result > 0) {
    return std::strchr(answer, kPrompt) != nullptr ? kDone : kErrNotUnderstood;
  }
  if (result == kErrProtoEmptyAnswer) {
    return kDone;
  }
  return result;
}

Result VUSKA_Protocol::VerCommand(bool skipShow) {
  if (settings_.familyCode == kFamilyLq7 && settings_.newFirmware == 0) {
    return ParseShowCommand(nullptr);
  }
  const std::uint32_t start = TickMs();
  const std::uint32_t timeout =
      connection_.linkType == kLinkRadio ? kVersionAnswerRadioMs : kVersionAnswerSerialMs;
  const std::uint32_t passLimit = commandTries_ + kVersionExtraPasses;
  Result result = kDone;
  int shortAnswers = 0;

  for (std::uint32_t pass = 0; pass < passLimit; ++pass) {
    char answer[kVersionAnswerCapacity] = {};
    std::uint32_t length = sizeof answer;
    std::uint32_t elapsed = 0;
    const Result r = DeviceCommand(kVersionCommand, kPrompt, timeout, answer, length, elapsed);

    if (commandTries_ == 1 && r == kErrNoAnswer) {
      result = kErrNoAnswer;
      continue;
    }
    if (answer[0] != '\0' && answer[1] == kPrompt) {
      result = kErrProtoEcho;
      continue;
    }
    if (std::strcmp(answer, kShortAnswerCr) == 0 || std::strcmp(answer, kShortAnswerPrompt) == 0) {
      result = kErrNotUnderstood;
      if (++shortAnswers > kMaxShortAnswers) {
        break;
      }
      pass = static_cast<std::uint32_t>(-1); // the count starts again
      Pause(timeout);
      continue;
    }
    if (r > 0 || r == kErrProtoErrorAnswer) {
      const std::string_view text = AnswerText(answer, sizeof answer);
      if (text.find('.') != std::string_view::npos) {
        const std::string_view line = SkipCarriageReturns(text);
        if (line.find('\r') == std::string_view::npos) {
          // An unfinished line is not an identity; if no later pass brings
          // one, this must not end as a success without any identity.
          result = kErrNotUnderstood;
          Pause(kVersionRetryPauseMs);
          continue;
        }
        BoundedCopy(settings_.identityText, LineUpTo(line, kIdentityTextMax), kIdentityTextMax);
        std::string identityCode;
        std::int32_t version = 0;
        if (!ParseIdentityText(settings_.identityText, identityCode, version)) {
          result = kErrNotUnderstood;
          Pause(kVersionRetryPauseMs);
          continue;
        }
        settings_.versionNumber = version;
        settings_.newFirmware = 1;
        const DeviceFamily& family = FamilyByIdentityCode(identityCode);
        settings_.familyCode = family.familyCode;
        BoundedCopy(settings_.familyName, family.familyName, kFamilyNameMax);
        SetCapabilities();
        result = kDone;
        Log(kLogDetails, "VerCommand found \"%s\" ver %d (%d ms)", settings_.identityText.c_str(),
            version, static_cast<int>(elapsed));
        break;
      }
      if (text.find('+') != std::string_view::npos) {
        const std::string_view rest = SkipCarriageReturns(text);
        if (!rest.empty() && rest[0] == '+' && rest.size() >= kBootLoaderAnswerMin) {
          result = kErrBootLoaderActive;
          break;
        }
        continue;
      }
      if (text.find('$') != std::string_view::npos) {
        if (result == kErrBootLoaderWaiting) {
          break;
        }
        result = kErrBootLoaderWaiting;
        Pause(kBootLoaderWaitingPauseMs);
        continue;
      }
      if (r == kErrProtoErrorAnswer) {
        if (result == kDone) {
          // One refusal may be line noise; a second means "get -ver" is unknown.
          result = kErrNotUnderstood;
          Pause(kVersionRetryPauseMs);
          continue;
        }
        settings_.newFirmware = 0;
        settings_.familyCode = kFamilyLq7;
        BoundedCopy(settings_.familyName, FamilyName(kFamilyLq7), kFamilyNameMax);
        Log(kLogDetails, "VerCommand found Lq7 with old firmware (%d ms)",
            static_cast<int>(ElapsedMs(start)));
        if (!skipShow) {
          ParseShowCommand(nullptr);
        }
        SetCapabilities();
        result = kDone;
        break;
      }
      result = kErrNotUnderstood;
      Log(kLogDetails, "VerCommand couldn't decipher \"%s\" (%d ms)", answer,
          static_cast<int>(elapsed));
      continue;
    }
    if (r == kErrNoAnswer) {
      result = kErrNoAnswer;
      break;
    }
    result = r;
  }

  if (result < 0) {
    Log(kLogFailures, "VerCommand failed with error %d (%d ms)", result,
        static_cast<int>(ElapsedMs(start)));
    settings_.newFirmware = 0;
    settings_.familyCode = 0;
    settings_.identityText.clear();
    settings_.versionNumber = kVersionUnknown;
  }
  return result;
}

Result VUSKA_Protocol::ParseShowCommand(std::string* name) {
  if (settings_.familyCode != kFamilyLq7 || settings_.newFirmware != 0) {
    Log(kLogFailures, "ParseShowCommand doesn't work with devices running \"new\" firmware.");
    return kErrProtoOutOfRange;
  }
  char answer[kShowAnswerCapacity] = {};
  std::uint32_t length = sizeof answer;
  std::uint32_t elapsed = 0;
  const Result r = DeviceCommand(kShowCommand, kPrompt, kShowAnswerMs, answer, length, elapsed);
  std::uint32_t errors = 0;
  if (r > 0) {
    const std::string_view text = AnswerText(answer, length);
    if (name != nullptr) {
      std::string heard;
      if (!ParseShowName(text, heard)) {
        return kErrNotUnderstood;
      }
      BoundedCopy(*name, heard, kDeviceNameMax);
      return kDone;
    }
    ShowFields fields;
    fields.deviceName = settings_.deviceName;
    fields.identityText = settings_.identityText;
    fields.versionNumber = settings_.versionNumber;
    fields.radioMode = settings_.radioMode;
    fields.wake = settings_.wake;
    fields.resetCount = resetCount_;
    bool tooOld = false;
    errors = ParseShowAnswer(text, fields, tooOld);
    BoundedCopy(settings_.deviceName, fields.deviceName, kDeviceNameMax);
    BoundedCopy(settings_.identityText, fields.identityText, kIdentityTextMax);
    settings_.versionNumber = fields.versionNumber;
    if (tooOld) {
      return kErrProtoNotSupported;
    }
    settings_.radioMode = fields.radioMode;
    settings_.wake = fields.wake;
    resetCount_ = fields.resetCount;
  }
  settings_.serialNumber.clear();
  if (r <= 0 || errors != 0) {
    Log(kLogFailures, "ParseShowCommand failed with errors %d and %d (%d ms)", r,
        static_cast<int>(errors), static_cast<int>(elapsed));
    settings_.deviceName.clear();
    settings_.identityText.clear();
    settings_.versionNumber = -1;
    settings_.wake = -1;
    settings_.radioMode = 0;
    return kErrNotUnderstood;
  }
  Log(kLogFailures, "ParseShowCommand found %s:%s:%d:%d:%d (%d ms)", settings_.deviceName.c_str(),
      settings_.identityText.c_str(), static_cast<int>(settings_.radioMode), settings_.wake,
      resetCount_, static_cast<int>(elapsed));
  return kDone;
}

Result VUSKA_Protocol::SetBaudCommand(std::uint32_t baud) {
  if (settings_.newFirmware == 0) {
    Log(kLogDetails, "SetBaudCommand: device (%s) can't change baud rate",
        settings_.deviceName.c_str());
    return kErrProtoCannotDo;
  }
  int code = BaudCodeFor(baud);
  if (code < 0) {
    Log(kLogDetails, "SetBaudCommand: unsupported baud rate %d, using 9600",
        static_cast<int>(baud));
    code = 0;
  }
  const std::string command = StrFormat("set -baud %d\r", code);
  const std::uint32_t start = TickMs();
  Result result = kErrNoAnswer;
  for (std::uint32_t pass = 0; pass < commandTries_; ++pass) {
    char answer[kBaudAnswerCapacity] = {};
    std::uint32_t length = sizeof answer;
    std::uint32_t elapsed = 0;
    const Result r = DeviceCommand(command, kPromptOk, kBaudAnswerMs, answer, length, elapsed);
    if (r > 0) {
      if (std::string_view(answer).find(kOkText) != std::string_view::npos) {
        Log(kLogDetails, "SetBaudCommand set device baud rate to %d (%d ms)",
            static_cast<int>(baud), static_cast<int>(elapsed));
        result = kDone;
        break;
      }
      if (std::string_view(answer).find(kPromptLine) != std::string_view::npos) {
        result = kErrNotUnderstood;
        Log(kLogDetails, "SetBaudCommand failed (heard prompt): trying again (%d ms)",
            static_cast<int>(elapsed));
        continue;
      }
      Log(kLogDetails, "SetBaudCommand failed: heard: %s (%d ms)", answer,
          static_cast<int>(elapsed));
      result = kErrNotUnderstood;
      break;
    }
    if (r == kErrNoAnswer) {
      if (baud == kFirstContactBaud) {
        // Back to 9600 from a rate the line no longer carries: silence is expected.
        result = kDone;
        break;
      }
      result = kErrNoAnswer;
      if (HostBaud() == kFirstContactBaud) {
        Pause(kBaudRetryPauseMs);
      }
      continue;
    }
    result = r;
  }
  if (result < 0) {
    Log(kLogFailures, "SetBaudCommand failed with error %d (%d ms)", result,
        static_cast<int>(ElapsedMs(start)));
  }
  Pause(kAfterBaudMs);
  return result;
}

Result VUSKA_Protocol::DisconnectDevice(bool skipLogout) {
  if (connection_.linkType == kLinkNone) {
    return kOk;
  }
  Result result = kDone;
  if (connection_.linkType == kLinkSerial) {
    if (HostBaud() != kFirstContactBaud) {
      SetBaudCommand(kFirstContactBaud);
    }
  } else {
    result = kErrProtoLastSilent;
    for (std::uint32_t pass = 0; !skipLogout && pass < commandTries_; ++pass) {
      ZSFlush(1);
      if (answerBuffer_) {
        answerBuffer_[0] = '\0';
      }
      Result port = WriteText(kLogoutCommand);
      if (port >= 0) {
        Pause(kLogoutPauseMs);
        // A node that has really left no longer hears its own login.
        port = WriteText(StrFormat("login %s\r", settings_.deviceName.c_str()));
      }
      std::uint32_t got = 0;
      if (port >= 0 && answerBuffer_) {
        port = ZSRead(answerBuffer_.get(), kLogoutProbeBytes, got);
      }
      if (port < 0) {
        // Silence from a port that failed is not a goodbye.
        result = port;
        break;
      }
      if (got == 0) {
        result = kDone;
        break;
      }
      Log(kLogDetails, "DisconnectDevice: Device didn't disconnect, retrying");
    }
  }
  ClearSettings();
  if (options_.keepPortOpen == 0) {
    ZSClose();
    connection_.linkType = kLinkNone;
  } else {
    const Result changed = ZSHostBaud(kFirstContactBaud);
    if (changed < 0) {
      ZSClose();
      connection_.linkType = kLinkNone;
      Log(kLogFailures,
          "DisconnectDevice: Error setting host baud rate; can't keep port open (error %d)",
          changed);
    }
  }
  if (result > 0) {
    Log(kLogDetails, "DisconnectDevice successful");
  }
  return result;
}

} // namespace zuro
