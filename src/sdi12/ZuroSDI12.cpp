#include "sdi12/ZuroSDI12.h"

#include <cstdarg>
#include <cstring>

#include "core/Text.h"
#include "core/Time.h"
#include "protocol/VUSKA_Protocol.h"

namespace zuro {

namespace {

constexpr const char* kIdentifyCommand = "?I!";
constexpr const char* kTypeCommand = "?X8!";
constexpr const char* kSerialCommand = "?X#!";
constexpr const char* kMainCalibrationCommand = "?X4!";
constexpr const char* kSecondCalibrationCommand = "?Xa!";
constexpr const char* kThirdCalibrationCommand = "?XO!";
constexpr const char* kBslCommand = "?B!";
constexpr const char* kCheckCommand = "?post!";
constexpr const char* kSerialWritePrefix = "?X#";
constexpr const char* kMainCalibrationWritePrefix = "?X5";
constexpr const char* kSecondCalibrationWritePrefix = "?Xb";
constexpr const char* kThirdCalibrationWritePrefix = "?XO";
/// The standard's change-address command, from the address a sensor has
/// after its firmware was replaced.
constexpr const char* kChangeAddressFormat = "0A%c!";
constexpr const char* kTypeNumberFormat = "?X9 %u!";
constexpr const char* kTypeCharFormat = "?X9 %c!";

constexpr const char* kConfirmWord = "OK";
constexpr const char* kErrorWord = "ERROR";
constexpr const char* kNoBslWord = "No BSL";
constexpr const char* kCodeGoodWord = "Code Good";
constexpr const char* kCodeCorruptWord = "Code Corrupt";

/// Sensor types with no calibration at all (the rain gauge).
constexpr std::uint8_t kTypeWithoutCalibration = '^';
/// Types whose calibration carries unset "-1" values to repair.
constexpr const char* kTypesWithUnsetRepair = "zx";
/// Types with a second calibration, and those that get it written back.
constexpr const char* kTypesWithSecond = "ylkwhgzx\\]";
constexpr const char* kTypesWritingSecond = "ywkhgzx\\]";
/// The type that fails its whole read when the second calibration cannot be read.
constexpr std::uint8_t kTypeNeedingSecond = 'y';
/// The type with a third calibration.
constexpr std::uint8_t kTypeWithThird = ']';
/// Types whose old firmware keeps the calibration in the old nine-number form.
constexpr const char* kTypesWithOldCalibration = "ut";
/// Firmware from this version on has the new calibration form.
constexpr std::uint32_t kNewCalibrationVersion = 340;

/// Type codes that name no sensor type.
constexpr std::int32_t kNoTypeCode = 0;
constexpr std::int32_t kBlankTypeCode = 255;

bool TypeIn(std::uint8_t type, const char* types) {
  return type != 0 && std::strchr(types, static_cast<char>(type)) != nullptr;
}

/// An answer as one log line: line ends and other control bytes escaped.
std::string Shown(std::string_view raw) {
  const std::string_view text = SdiAnswerText(raw);
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == '\r') {
      out += "\\r";
    } else if (ch == '\n') {
      out += "\\n";
    } else if (c < ' ' || c > '~') {
      out += StrFormat("\\x%02X", static_cast<unsigned>(c));
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

} // namespace

ZuroSDI12::ZuroSDI12(ZuroLog* log, VUSKA_Protocol* port) : log_(log), port_(port) {}

ZuroSDI12::~ZuroSDI12() {
  log_ = nullptr;
  port_ = nullptr;
}

void ZuroSDI12::Log(const char* format, ...) const {
  if (log_ == nullptr) {
    return;
  }
  std::va_list args;
  va_start(args, format);
  const std::string line = StrFormatV(format, args);
  va_end(args);
  log_->LogMessage(kLogLevel, kModule, "%s", line.c_str());
}

void ZuroSDI12::Pause(std::uint32_t ms) {
  DelayMs(ms);
}

void ZuroSDI12::SetSdiTiming(std::uint32_t tries, std::uint32_t timeoutMs) {
  sdiTries_ = tries == 0 ? 1 : tries;
  sdiTimeout_ = timeoutMs;
}

void ZuroSDI12::SetSensor(const SdiSensorRecord& record) {
  sensor_.sensorAddress = record.sensorAddress;
  BoundedCopy(sensor_.sensorInfo, record.sensorInfo, kSensorInfoMaxChars);
  BoundedCopy(sensor_.calibrationX4, record.calibrationX4, kCalibrationMaxChars);
  BoundedCopy(sensor_.calibrationXa, record.calibrationXa, kCalibrationMaxChars);
  BoundedCopy(sensor_.calibrationXO, record.calibrationXO, kCalibrationMaxChars);
  sensor_.hasXO = record.hasXO;
  BoundedCopy(sensor_.sensorSerial, record.sensorSerial, kSensorSerialMaxChars);
  sensor_.sensorType = record.sensorType;
  sensor_.sensorVersion = record.sensorVersion;
  sensor_.typeIsNumber = record.typeIsNumber;
}

Result ZuroSDI12::WriteByte(char c) {
  if (port_ == nullptr) {
    return kErrMissingArgument;
  }
  return port_->ZSWrite(std::string_view(&c, 1));
}

Result ZuroSDI12::SDISendCommand(std::string_view command, char* answer,
                                 std::uint32_t& answerLength, std::uint32_t& elapsedMs) {
  const std::uint32_t start = TickMs();
  response_[0] = '\0';
  responseLength_ = 0;
  Result result = kDone;
  std::uint32_t got = 0;
  bool answered = false;
  bool wake = true;

  // Reads what the wait left into the response; false (and the result set)
  // when the port failed.
  auto readResponse = [&]() {
    const Result r = port_->ZSRead(response_.data(), kSdiMaxAnswerBytes, got);
    if (r < 0) {
      Log("SDISendCommand got unexpected response (%d) from ZCommRead", r);
      result = r;
      return false;
    }
    got = static_cast<std::uint32_t>(r);
    response_[got] = '\0';
    responseLength_ = got;
    return true;
  };
  auto clearResponse = [&]() {
    port_->ZSFlush(1);
    response_[0] = '\0';
    responseLength_ = 0;
  };
  // The port failed writing: the result is its code.
  auto writeFailed = [&](Result r) {
    Log("SDISendCommand got unexpected response (%d) from ZCommWrite", r);
    result = r;
  };

  if (port_ == nullptr || command.empty()) {
    Log("SDISendCommand has no port or no command to send");
    result = kErrMissingArgument;
  }
  for (std::uint32_t attempt = 0; result > 0 && attempt < sdiTries_; ++attempt) {
    if (wake) {
      if (const Result r = WriteByte(kWakeChar); r < 0) {
        writeFailed(r);
        break;
      }
      Pause(kWakeSettleMs);
      clearResponse();
    }
    if (const Result r = port_->ZSWrite(command); r < 0) {
      writeFailed(r);
      break;
    }
    Log("SDISendCommand sent \"%s\"", Shown(command).c_str());
    if (const Result r = port_->ZSWait(sdiTimeout_, kSdiLineEnd); r < 0) {
      Log("SDISendCommand got unexpected response (%d) from ZCommWait", r);
      result = r;
      break;
    }
    if (!readResponse()) {
      break;
    }
    if (got > 0) {
      answered = true;
      Log("SDISendCommand received \"%s\"", Shown(Response()).c_str());
      break;
    }

    // Silence: is a sensor on the bus at all? Wake the reader and ask for
    // any address before trying the command again.
    Log("SDISendCommand heard no answer to \"%s\"", Shown(command).c_str());
    bool portFailed = false;
    for (std::uint32_t i = 0; i < kQueryWakeCount && !portFailed; ++i) {
      if (const Result r = WriteByte(kWakeChar); r < 0) {
        writeFailed(r);
        portFailed = true;
      }
      Pause(kQueryWakeGapMs);
    }
    if (portFailed) {
      break;
    }
    clearResponse();
    if (const Result r = port_->ZSWrite(kAddressQuery); r < 0) {
      writeFailed(r);
      break;
    }
    if (const Result r = port_->ZSWait(kQueryTimeoutMs, kSdiLineEnd); r < 0) {
      Log("SDISendCommand got unexpected response (%d) from ZCommWait", r);
      result = r;
      break;
    }
    if (!readResponse()) {
      break;
    }
    if (got == 0) {
      Log("SDISendCommand heard no sensor: the address query went unanswered");
      result = kErrNoAnswer;
      break;
    }
    wake = !wake;
  }
  // A command that was never answered has failed, however many attempts it
  // had: the address query's answer is not the command's.
  if (result > 0 && !answered) {
    Log("SDISendCommand got no answer to \"%s\" in %u attempts", Shown(command).c_str(),
        static_cast<unsigned>(sdiTries_));
    result = kErrSdiSilent;
  }
  elapsedMs = ElapsedMs(start);

  if (result < 0) {
    if (answer != nullptr && answerLength > 0) {
      answer[0] = '\0';
    }
    answerLength = 0;
    return result;
  }
  if (answer != nullptr && answerLength > 0) {
    const std::uint32_t copied = got < answerLength - 1 ? got : answerLength - 1;
    std::memcpy(answer, response_.data(), copied);
    answer[copied] = '\0';
    answerLength = copied;
    if (copied < got) {
      Log("DeviceCommand got %d more bytes than expected (%s)", static_cast<int>(got - copied),
          Shown(command).c_str());
    }
  }
  return static_cast<Result>(got);
}

Result ZuroSDI12::Exchange(std::string_view command, std::string& answer) {
  std::uint32_t length = 0;
  std::uint32_t elapsedMs = 0;
  const Result r = SDISendCommand(command, nullptr, length, elapsedMs);
  if (r > 0) {
    answer.assign(Response());
  } else {
    answer.clear();
  }
  return r;
}

Result ZuroSDI12::SDIGetSensorVersion() {
  std::string answer;
  const Result r = Exchange(kIdentifyCommand, answer);
  if (r < 0) {
    Log("SDIGetSensorVersion received error %i", r);
    return r;
  }
  SdiIdentity identity;
  if (ParseSdiIdentity(answer, identity) < 0) {
    Log("SDIGetSensorVersion could not read the identification \"%s\"", Shown(answer).c_str());
    return kErrNotUnderstood;
  }
  sensor_.sensorAddress = identity.address;
  sensor_.sensorInfo = identity.info;
  sensor_.sensorVersion = identity.version;
  Log("SDIGetSensorVersion found sensor info: %s", Shown(sensor_.sensorInfo).c_str());
  return static_cast<Result>(sensor_.sensorVersion);
}

Result ZuroSDI12::SDIGetSensorType() {
  std::string answer;
  Result result = Exchange(kTypeCommand, answer);
  if (result < 0) {
    Log("SDIGetSensorType received error %i", result);
  } else {
    std::uint8_t type = 0;
    std::uint8_t isNumber = 0;
    if (ParseSdiType(answer, type, isNumber) == kDone) {
      sensor_.sensorType = type;
      sensor_.typeIsNumber = isNumber;
      result = kDone;
    } else {
      Log("SDIGetSensorType could not read the type answer \"%s\"", Shown(answer).c_str());
      result = kErrNotUnderstood;
    }
  }
  if (result != kDone) {
    // Older sensors do not report a type; their model name tells it.
    if (sensor_.sensorInfo.empty()) {
      SDIGetSensorVersion();
    }
    if (const std::uint8_t type = SdiTypeFromModel(sensor_.sensorInfo); type != 0) {
      sensor_.sensorType = type;
      sensor_.typeIsNumber = 0;
    }
    result = sensor_.sensorType != 0 ? kDone : kErrSdiNoVerdict;
  }
  if (result == kDone) {
    Log("SDIGetSensorType found sensor type as \"%u\"", static_cast<unsigned>(sensor_.sensorType));
  } else {
    Log("SDIGetSensorType couldn't detirmine sensor type");
  }
  return result;
}

Result ZuroSDI12::SDIGetSensorSN() {
  std::string answer;
  const Result r = Exchange(kSerialCommand, answer);
  if (r < 0) {
    Log("SDIGetSensorSN received error %i looking for X#", r);
    return r;
  }
  std::string serial;
  const Result parsed = ParseSdiSerial(answer, serial);
  if (parsed < 0) {
    Log("SDIGetSensorSN could not read the answer \"%s\"", Shown(answer).c_str());
    return parsed;
  }
  if (parsed == kOk) {
    Log("SDIGetSensorSN found no serial number");
    return kOk;
  }
  sensor_.sensorSerial = serial;
  Log("SDIGetSensorSN found SN \"%s\"", Shown(sensor_.sensorSerial).c_str());
  return kDone;
}

Result ZuroSDI12::SDIGetSensorCalibration() {
  const std::uint8_t type = sensor_.sensorType;
  if (type == kTypeWithoutCalibration) {
    Log("SDIGetSensorCalibration no calibration for version PLU-3");
    return kOk;
  }
  // The sensor answers its calibration more reliably once it is attending.
  std::string answer;
  Result attention = 0;
  for (std::uint32_t i = 0; i < kAttentionTries; ++i) {
    attention = Exchange(kAddressQuery, answer);
    if (attention > 0) {
      break;
    }
  }
  if (attention < 0) {
    Log("SDIGetSensorCalibration \"attention sequence\" received error %i", attention);
  }

  const Result r = Exchange(kMainCalibrationCommand, answer);
  if (r < 0) {
    Log("SDIGetSensorCalibration received error %i looking for X4", r);
    return r;
  }
  if (TypeIn(type, kTypesWithUnsetRepair) && RepairUnsetCalibration(answer)) {
    Log("SDIGetSensorCalibration updated X4 to remove '-1'");
  }
  std::string main;
  if (SdiAnswerValue(answer, kCalibrationMaxChars, main) < 0) {
    Log("SDIGetSensorCalibration could not read the X4 answer \"%s\"", Shown(answer).c_str());
    return kErrNotUnderstood;
  }
  sensor_.calibrationX4 = main;
  Log("SDIGetSensorCalibration found calibration X4 \"%s\"", Shown(main).c_str());

  if (TypeIn(type, kTypesWithSecond)) {
    if (const Result second = GetSecondCalibration(); second < 0) {
      return second;
    }
  }
  if (type == kTypeWithThird) {
    GetThirdCalibration();
  }
  return kDone;
}

Result ZuroSDI12::GetSecondCalibration() {
  const std::uint8_t type = sensor_.sensorType;
  std::string answer;
  Result r = Exchange(kSecondCalibrationCommand, answer);
  std::string value;
  if (r < 0) {
    Log("SDIGetSensorCalibration received error %i looking for Xa", r);
  } else if (SdiAnswerHas(answer, kErrorWord)) {
    Log("SDIGetSensorCalibration received \"ERROR\" response looking for Xa");
    r = kErrSdiErrorAnswer;
  } else if (SdiAnswerValue(answer, kCalibrationMaxChars, value) < 0) {
    Log("SDIGetSensorCalibration could not read the Xa answer \"%s\"", Shown(answer).c_str());
    r = kErrNotUnderstood;
  }
  if (r < 0 && type == kTypeNeedingSecond) {
    return r;
  }
  const std::string_view factory = SecondCalibrationDefault(type, sensor_.sensorVersion, answer, r);
  const bool set = !factory.empty();
  if (set) {
    SdiAnswerValue(factory, kCalibrationMaxChars, value);
    r = kDone;
  }
  if (r < 0) {
    // Nothing to keep: an empty text is never written back.
    sensor_.calibrationXa.clear();
    Log("SDIGetSensorCalibration keeps no calibration Xa");
    return kOk;
  }
  sensor_.calibrationXa = value;
  Log("SDIGetSensorCalibration %s calibration Xa \"%s\"", set ? "set" : "found",
      Shown(value).c_str());
  return kDone;
}

void ZuroSDI12::GetThirdCalibration() {
  std::string answer;
  const Result r = Exchange(kThirdCalibrationCommand, answer);
  sensor_.hasXO = 0;
  std::string value;
  if (r < 0) {
    Log("SDIGetSensorCalibration received error %i looking for XO", r);
  } else if (SdiAnswerHas(answer, kErrorWord)) {
    Log("SDIGetSensorCalibration received \"ERROR\" response looking for XO");
  } else if (SdiAnswerValue(answer, kCalibrationMaxChars, value) < 0) {
    Log("SDIGetSensorCalibration could not read the XO answer \"%s\"", Shown(answer).c_str());
  } else {
    sensor_.hasXO = 1;
    sensor_.calibrationXO = value;
    Log("SDIGetSensorCalibration found calibration XO \"%s\"", Shown(value).c_str());
  }
}

Result ZuroSDI12::SDIConvertCalibration() {
  if (sensor_.sensorVersion >= kNewCalibrationVersion) {
    return kOk;
  }
  if (ConvertCalibrationText(sensor_.calibrationX4) != kDone) {
    Log("SDIConvertCalibration left calibration X4 as it was: \"%s\" is not nine numbers",
        Shown(sensor_.calibrationX4).c_str());
    return kOk;
  }
  Log("SDIConvertCalibration converted calibration X4 to \"%s\"",
      Shown(sensor_.calibrationX4).c_str());
  return kDone;
}

Result ZuroSDI12::SDIReadSensorSettings() {
  sensor_ = SdiSensorRecord{};
  if (const Result r = SDIGetSensorVersion(); r < 0) {
    return r;
  }
  SDIGetSensorType();
  SDIGetSensorSN();
  if (const Result r = SDIGetSensorCalibration(); r < 0) {
    return r;
  }
  if (TypeIn(sensor_.sensorType, kTypesWithOldCalibration) &&
      sensor_.sensorVersion < kNewCalibrationVersion) {
    SDIConvertCalibration();
  }
  return kDone;
}

Result ZuroSDI12::SDISetSensorAddress(char address) {
  if (!IsSdiAddress(address)) {
    Log("SDISetSensorAddress refused '\\x%02X': not an SDI-12 address",
        static_cast<unsigned>(static_cast<unsigned char>(address)));
    return kErrSdiBadArgument;
  }
  char command[kSdiCommandBufferBytes];
  BufFormat(command, sizeof command, kChangeAddressFormat, address);
  std::string answer;
  const Result r = Exchange(command, answer);
  if (r < 0) {
    Log("SDISetSensorAddress received error %i", r);
    return r;
  }
  const std::string_view text = SdiAnswerText(answer);
  if (!text.empty() && text[0] == address) {
    Log("SDISetSensorAddress successfully set sensor address to '%c'", address);
    return kDone;
  }
  Log("SDISetSensorAddress could not set sensor address to '%c'", address);
  return kErrNotUnderstood;
}

Result ZuroSDI12::BuildWrite(const char* operation, std::string_view prefix, std::string_view text,
                             std::string& command) {
  const Result r = BuildSdiCommand(prefix, text, command);
  if (r < 0) {
    Log("%s did not send \"%s%s!\": a command holds at most %u characters, and only "
        "printable ones other than '!'",
        operation, std::string(prefix).c_str(), Shown(text).c_str(),
        static_cast<unsigned>(kSdiCommandMaxChars));
  }
  return r;
}

Result ZuroSDI12::WriteConfirmed(std::string_view command, Result& sendError) {
  Result step = 0;
  Result last = 0;
  std::string answer;
  for (std::uint32_t attempt = 0; attempt < sdiTries_; ++attempt) {
    last = Exchange(command, answer);
    if (last > 0 && SdiAnswerHas(answer, kConfirmWord)) {
      sendError = 0;
      return kDone;
    }
    if (last > 0 && SdiAnswerHas(answer, kErrorWord)) {
      step = kErrSdiErrorAnswer;
    }
    if (step == 0) {
      step = kErrSdiSilent;
    }
  }
  sendError = last < 0 ? last : 0;
  return last < 0 ? last : step;
}

Result ZuroSDI12::SDISetSensorSN() {
  if (sensor_.sensorSerial.empty()) {
    Log("SDISetSensorSN didn't find a valid serial number");
    return kOk;
  }
  std::string command;
  if (const Result r =
          BuildWrite("SDISetSensorSN", kSerialWritePrefix, sensor_.sensorSerial, command);
      r < 0) {
    return r;
  }
  Result sendError = 0;
  const Result r = WriteConfirmed(command, sendError);
  if (r == kDone) {
    Log("SDISetSensorSN successfully set sensor serial number to \"%s\"",
        sensor_.sensorSerial.c_str());
  } else if (sendError < 0) {
    Log("SDISetSensorSN received error %i setting serial number.", sendError);
  } else {
    Log("SDISetSensorSN was not confirmed (%i)", r);
  }
  return r;
}

Result ZuroSDI12::SDISetSensorCalibration(const char* text) {
  const std::uint8_t type = sensor_.sensorType;
  if (type == kTypeWithoutCalibration) {
    Log("SDISetSensorCalibration skipped PLU-3");
    return kOk;
  }
  std::string main;
  if (text != nullptr) {
    BoundedCopy(main, text, kCalibrationMaxChars);
  } else {
    main = sensor_.calibrationX4;
  }
  if (main.empty()) {
    Log("SDISetSensorCalibration doesn't have a valid X5 calibration string");
    return kOk;
  }

  // Every command is built before the first is sent: a calibration is
  // either written whole or not touched.
  const char* operation = "SDISetSensorCalibration";
  std::string mainCommand;
  if (const Result r = BuildWrite(operation, kMainCalibrationWritePrefix, main, mainCommand);
      r < 0) {
    return r;
  }
  const bool writeSecond = TypeIn(type, kTypesWritingSecond);
  std::string secondCommand;
  if (writeSecond && !sensor_.calibrationXa.empty()) {
    if (const Result r = BuildWrite(operation, kSecondCalibrationWritePrefix, sensor_.calibrationXa,
                                    secondCommand);
        r < 0) {
      return r;
    }
  }
  const bool writeThird = type == kTypeWithThird && sensor_.hasXO != 0;
  std::string thirdCommand;
  if (writeThird) {
    if (const Result r = BuildWrite(operation, kThirdCalibrationWritePrefix, sensor_.calibrationXO,
                                    thirdCommand);
        r < 0) {
      return r;
    }
  }

  Result sendError = 0;
  Result result = WriteConfirmed(mainCommand, sendError);
  if (result == kDone) {
    Log("SDISetSensorCalibration successfully set sensor X5 calibration to \"%s\"",
        Shown(main).c_str());
  } else if (sendError < 0) {
    Log("SDISetSensorCalibration received error %i for X5", sendError);
  } else {
    Log("SDISetSensorCalibration X5 was not confirmed (%i)", result);
  }

  if (writeSecond && secondCommand.empty()) {
    Log("SDISetSensorCalibration skipped Xb: there is no second calibration to write");
  } else if (writeSecond) {
    const Result step = WriteConfirmed(secondCommand, sendError);
    if (step == kDone) {
      Log("SDISetSensorCalibration successfully set sensor Xb calibration to \"%s\"",
          Shown(sensor_.calibrationXa).c_str());
    } else if (sendError < 0) {
      Log("SDISetSensorCalibration received error %i for Xb", sendError);
    } else {
      Log("SDISetSensorCalibration Xb was not confirmed (%i)", step);
    }
    result = result < 0 ? result : step;
  }

  if (writeThird) {
    const Result step = WriteConfirmed(thirdCommand, sendError);
    if (step == kDone) {
      Log("SDISetSensorCalibration successfully set sensor XO calibration to \"%s\"",
          Shown(sensor_.calibrationXO).c_str());
    } else if (sendError < 0) {
      Log("SDISetSensorCalibration received error %i for XO", sendError);
    } else {
      Log("SDISetSensorCalibration XO was not confirmed (%i)", step);
    }
    result = result < 0 ? result : step;
  }

  if (result != kDone) {
    Log("SDISetSensorCalibration did not set sensor calibration");
  }
  return result;
}

Result ZuroSDI12::SDIWriteSensorSettings() {
  SDISetSensorSN();
  const Result address = SDISetSensorAddress(sensor_.sensorAddress);
  const Result calibration = SDISetSensorCalibration(nullptr);
  if (calibration < 0) {
    return calibration;
  }
  if (address < 0) {
    return address;
  }
  return kDone;
}

Result ZuroSDI12::SDIInvokeZuroBSL() {
  // The sensor restarts into its boot loader without waiting for more: one
  // short attempt is all there is.
  const std::uint32_t tries = sdiTries_;
  const std::uint32_t timeoutMs = sdiTimeout_;
  sdiTries_ = kBslTries;
  sdiTimeout_ = kBslTimeoutMs;
  std::string answer;
  Exchange(kBslCommand, answer);
  sdiTries_ = tries;
  sdiTimeout_ = timeoutMs;
  if (SdiAnswerHas(answer, kNoBslWord)) {
    Log("SDIInvokeZuroBSL: sensor reported a missing ZuroBSL");
    return kErrSdiNoBootLoader;
  }
  for (const char c : {kBslPassChar, kBslStartChar}) {
    if (const Result r = WriteByte(c); r < 0) {
      Log("SDIInvokeZuroBSL could not write '%c' to the reader (%d)", c, r);
      return r;
    }
    Pause(kBslCharGapMs);
  }
  Log("SDIInvokeZuroBSL handed the sensor to its boot loader");
  return kDone;
}

Result ZuroSDI12::SDICheckBinary() {
  std::string answer;
  const Result r = Exchange(kCheckCommand, answer);
  if (r < 0) {
    Log("SDICheckBinary received error %i", r);
    return r;
  }
  if (SdiAnswerHas(answer, kCodeGoodWord)) {
    Log("SDICheckBinary found good firmware");
    return kDone;
  }
  if (SdiAnswerHas(answer, kCodeCorruptWord)) {
    Log("SDICheckBinary found corrupt firmware");
    return kErrSdiFirmwareCorrupt;
  }
  Log("SDICheckBinary unable to check firmware");
  return kErrSdiNoVerdict;
}

Result ZuroSDI12::SDISetSensorType(std::int32_t typeCode) {
  if (typeCode == kNoTypeCode || typeCode == kBlankTypeCode) {
    Log("SDISetSensorType didn't get a valid sensor type (%u)", static_cast<unsigned>(typeCode));
    return kErrSdiBadArgument;
  }
  std::uint8_t type = 0;
  if (const SdiTypeFamily* family = SdiFamilyOf(typeCode); family != nullptr) {
    // A family keeps the member the sensor already is.
    if (!TypeIn(sensor_.sensorType, family->members)) {
      Log("SDISetSensorType didn't get a valid %s Sensor type (%u)", family->name,
          static_cast<unsigned>(sensor_.sensorType));
      return kErrNotUnderstood;
    }
    type = sensor_.sensorType;
  } else if (typeCode < kNoTypeCode || typeCode > kBlankTypeCode) {
    Log("SDISetSensorType didn't get a valid sensor type (%u)", static_cast<unsigned>(typeCode));
    return kErrSdiBadArgument;
  } else {
    type = static_cast<std::uint8_t>(typeCode);
  }

  char command[kSdiCommandBufferBytes];
  if (sensor_.typeIsNumber != 0) {
    BufFormat(command, sizeof command, kTypeNumberFormat, static_cast<unsigned>(type));
  } else {
    BufFormat(command, sizeof command, kTypeCharFormat, static_cast<char>(type));
  }
  std::string answer;
  const Result r = Exchange(command, answer);
  if (r < 0) {
    Log("SDISetSensorType received error %i", r);
    return r;
  }
  if (SdiAnswerHas(answer, kConfirmWord)) {
    Log("SDISetSensorType successfully set sensor type to \"%u\"", static_cast<unsigned>(type));
    return kDone;
  }
  Log("SDISetSensorType could not set sensor type to \"%u\"", static_cast<unsigned>(type));
  return kErrNotUnderstood;
}

} // namespace zuro
