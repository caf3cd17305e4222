// Every reader of SDI-12 sensor answers on arbitrary bytes (NULs, missing line
// ends, answers longer than the 256 bytes a read takes), with the limits each
// one promises checked: a broken promise stops the run like a crash does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sdi12/SdiAnswers.h"

namespace {

void Require(bool promise) {
  if (!promise) {
    std::abort();
  }
}

// Types and versions around every limit where the answers are read differently.
constexpr char kTypes[] = {'z', 'x', 'w', 'y', 'k', 'u', ']'};
constexpr std::uint32_t kVersions[] = {0, 339, 340, 352, 353, 355, 356, 399, 400, 401, 402, 999};

void Exercise(std::string_view raw) {
  using namespace zuro;
  const std::string_view text = SdiAnswerText(raw);
  Require(text.size() <= kSdiMaxAnswerBytes);
  Require(text.find('\0') == std::string_view::npos);

  SdiIdentity identity;
  if (ParseSdiIdentity(raw, identity) == kDone) {
    Require(IsSdiAddress(identity.address));
    Require(identity.info.size() <= kSensorInfoMaxChars);
    Require(identity.version <= 999);
    (void)SdiTypeFromModel(identity.info);
  }

  std::uint8_t type = 0;
  std::uint8_t isNumber = 0;
  if (ParseSdiType(raw, type, isNumber) == kDone) {
    Require(isNumber != 0 || (type > ' ' && type < 0x7F));
  }

  std::string serial;
  const Result serialResult = ParseSdiSerial(raw, serial);
  Require(serial.size() <= kSensorSerialMaxChars);
  Require((serialResult == kOk) == (serial.empty() && serialResult >= 0));

  std::string repaired(raw);
  const std::size_t before = repaired.size();
  (void)RepairUnsetCalibration(repaired);
  Require(repaired.size() == before);

  std::string value;
  if (SdiAnswerValue(repaired, kCalibrationMaxChars, value) == kDone) {
    Require(value.size() <= kCalibrationMaxChars);
    Require(value.find_first_of("\r\n") == std::string::npos);
    std::string command;
    if (BuildSdiCommand("?X5", value, command) == kDone) {
      Require(command.size() <= kSdiCommandMaxChars);
    } else {
      Require(command.empty());
    }
    std::string converted = value;
    if (ConvertCalibrationText(converted) == kDone) {
      Require(converted.size() <= kCalibrationMaxChars);
      Require(converted.find("inf") == std::string::npos);
      Require(converted.find("nan") == std::string::npos);
    } else {
      Require(converted == value);
    }
  }

  for (const Result read : {Result{1}, Result{-22}}) {
    for (const char t : kTypes) {
      for (const std::uint32_t version : kVersions) {
        const std::string_view factory =
            SecondCalibrationDefault(static_cast<std::uint8_t>(t), version, raw, read);
        if (!factory.empty()) {
          std::string second;
          Require(SdiAnswerValue(factory, kCalibrationMaxChars, second) == kDone);
        }
      }
    }
  }
  (void)SdiAnswerHas(raw, "OK");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Exercise(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
