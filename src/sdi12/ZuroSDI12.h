// SDI-12 access to a digital sensor through the hand-held reader (or the comm
// device) on the instrument protocol's port: standard and extended commands,
// sent with the reader's wake character and answered by the sensor. The
// object keeps what it read (address, identification, type, serial number,
// calibrations) so the same values can be written back after the sensor's
// firmware has been replaced.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/ResultCodes.h"
#include "log/ZuroLog.h"
#include "sdi12/SdiAnswers.h"

namespace zuro {

class VUSKA_Protocol;
class ZuroSerial;

/// What the object keeps of the sensor between a read and a write-back.
struct SdiSensorRecord {
  char sensorAddress = '0';        ///< SDI-12 address; '0' before a read
  std::string sensorInfo;          ///< identification after address and SDI-12 version, ≤ 36
  std::string calibrationX4;       ///< main calibration ("?X4!" / "?X5...!"), ≤ 512
  std::string calibrationXa;       ///< second calibration ("?Xa!" / "?Xb...!"), ≤ 512
  std::string calibrationXO;       ///< third calibration ("?XO!" / "?XO...!", type ']'), ≤ 512
  std::uint8_t hasXO = 0;          ///< calibrationXO was read
  std::string sensorSerial;        ///< serial number ("?X#!" / "?X#...!"), ≤ 32
  std::uint8_t sensorType = 0;     ///< type code: a character or a small number
  std::uint32_t sensorVersion = 0; ///< the identification's three version digits
  std::uint8_t typeIsNumber = 0;   ///< the sensor gave its type as digits; written back so
};

class ZuroSDI12 {
public:
  static constexpr const char* kModule = "ZuroSDI12";
  static constexpr std::uint32_t kLogLevel = kLogDetails;

  static constexpr std::uint32_t kDefaultTimeoutMs = 2000; ///< wait for one answer
  static constexpr std::uint32_t kDefaultTries = 5;        ///< attempts per command
  static constexpr std::uint32_t kBslTimeoutMs = 1000;     ///< "?B!" is sent once with this wait
  static constexpr std::uint32_t kBslTries = 1;

  // The reader's control characters on the line.
  static constexpr char kWakeChar = '|';     ///< wakes the reader's SDI-12 bus before a command
  static constexpr char kBslPassChar = ']';  ///< after "?B!": hand the line to the boot loader
  static constexpr char kBslStartChar = 'P'; ///< then start the talk to it
  static constexpr std::uint32_t kWakeSettleMs = 175;  ///< after the wake character
  static constexpr std::uint32_t kQueryWakeCount = 3;  ///< wake characters before the address query
  static constexpr std::uint32_t kQueryWakeGapMs = 30; ///< after each of them
  static constexpr std::uint32_t kQueryTimeoutMs = 500; ///< wait for the address query's answer
  static constexpr std::uint32_t kBslCharGapMs = 100; ///< after each boot-loader control character
  static constexpr std::uint32_t kAttentionTries = 3; ///< address queries before "?X4!"

  static constexpr const char* kAddressQuery = "?!";

  /// Neither is owned; both may be null (then nothing is logged, and every
  /// command fails with kErrMissingArgument).
  ZuroSDI12(ZuroLog* log, VUSKA_Protocol* port);
  virtual ~ZuroSDI12();
  ZuroSDI12(const ZuroSDI12&) = delete;
  ZuroSDI12& operator=(const ZuroSDI12&) = delete;

  /// Sends one command and reads the answer up to its carriage return, with
  /// the reader's wake step and an address query between silent attempts.
  /// `answer` (may be null) receives at most `answerLength` - 1 bytes and a
  /// terminator; `answerLength` is its capacity in and the copied length out
  /// (0 after a failure). Returns the bytes received (positive), -21 when not
  /// even the address query was answered, -22 when the command never was, a
  /// port code, or kErrMissingArgument without a port or command.
  Result SDISendCommand(std::string_view command, char* answer, std::uint32_t& answerLength,
                        std::uint32_t& elapsedMs);

  /// Identification ("?I!"): the sensor version (0 or more), or a negative code.
  Result SDIGetSensorVersion();
  /// Type ("?X8!"), else by the identification's model: 1, or -1 when unknown.
  Result SDIGetSensorType();
  /// Serial number ("?X#!"): 1, 0 when the sensor has none, or a negative code.
  Result SDIGetSensorSN();
  /// Calibrations X4, Xa and XO as the type has them: 1, 0 for a type
  /// without calibration, or a negative code.
  Result SDIGetSensorCalibration();
  /// Old-format main calibration of old firmware to the new form: 1 when
  /// rewritten, 0 when the version needs none or the text holds no nine numbers.
  Result SDIConvertCalibration();
  /// Clears the record and reads version, type, serial number and calibration.
  Result SDIReadSensorSettings();

  /// "0A<address>!": 1, kErrNotUnderstood when the sensor did not take the
  /// address, kErrSdiBadArgument for a character that is no SDI-12 address.
  Result SDISetSensorAddress(char address);
  /// "?X#<serial>!": 1, 0 when there is no serial number, -11, -22, -34 or a code.
  Result SDISetSensorSN();
  /// "?X5<text>!" (calibrationX4 when `text` is null), then "?Xb...!" and
  /// "?XO...!" as the type has them: 1, 0 (nothing to write), -11, -22, -34 or a code.
  Result SDISetSensorCalibration(const char* text = nullptr);
  /// Serial number (result not used), address, calibration: 1 or a negative code.
  Result SDIWriteSensorSettings();

  /// "?B!" and the reader's hand-over to the sensor's boot loader: 1, or
  /// kErrSdiNoBootLoader when the sensor says it has none.
  Result SDIInvokeZuroBSL();
  /// "?post!": 1 good, kErrSdiFirmwareCorrupt, kErrSdiNoVerdict, or a code.
  Result SDICheckBinary();
  /// "?X9 <type>!": `typeCode` a type or a family code 260..264 (which keeps
  /// the sensor's type when it is of the family). 1, -11, -30 or a code.
  Result SDISetSensorType(std::int32_t typeCode);

  const SdiSensorRecord& Sensor() const { return sensor_; }
  /// Replaces the record (a settings file read back); every text is bounded.
  void SetSensor(const SdiSensorRecord& record);

  /// The raw text of the last answer (at most 256 bytes).
  std::string_view Response() const { return {response_.data(), responseLength_}; }

  std::uint32_t SdiTimeout() const { return sdiTimeout_; }
  std::uint32_t SdiTries() const { return sdiTries_; }
  /// The program keeps the defaults; tests and the simulator harness shorten them.
  void SetSdiTiming(std::uint32_t tries, std::uint32_t timeoutMs);

protected:
  /// Every pause of the conversation goes through here (DelayMs).
  virtual void Pause(std::uint32_t ms);

private:
  /// One exchange whose answer the caller reads from `answer` (the text,
  /// at most 256 bytes); the result is SDISendCommand's.
  Result Exchange(std::string_view command, std::string& answer);
  /// Writes a command up to sdiTries times until the sensor confirms it with
  /// "OK": 1, -34 after "ERROR", -22 for other answers, or the last send's
  /// code when that failed.
  /// `sendError` receives the last send's code when that was a failure.
  Result WriteConfirmed(std::string_view command, Result& sendError);
  /// Builds prefix + text + "!", or logs why it cannot be sent.
  Result BuildWrite(const char* operation, std::string_view prefix, std::string_view text,
                    std::string& command);
  Result WriteByte(char c);
  Result GetSecondCalibration();
  void GetThirdCalibration();
  void Log(const char* format, ...) const __attribute__((format(printf, 2, 3)));

  SdiSensorRecord sensor_;
  ZuroLog* log_;
  ZuroSerial* port_;
  std::array<char, kSdiMaxAnswerBytes + 1> response_{};
  std::size_t responseLength_ = 0;
  std::uint32_t sdiTimeout_ = kDefaultTimeoutMs;
  std::uint32_t sdiTries_ = kDefaultTries;
};

} // namespace zuro
