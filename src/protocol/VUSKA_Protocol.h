// One connection to an instrument's normal firmware over its line-oriented
// ASCII command protocol: the computer sends a command ending in a carriage
// return, the instrument answers with text and its prompt. The object is the
// serial port itself (it derives from ZuroSerial), so the boot-loader host and
// the SDI-12 access can be handed the same port. It connects over a cable or a
// radio hop, logs in, identifies the device and agrees the link speed, and
// reads and writes the device's settings, clock and data store.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/ResultCodes.h"
#include "log/ZuroLog.h"
#include "protocol/ConnectionRecord.h"
#include "protocol/DeviceSettingsRecord.h"
#include "serial/ZuroSerial.h"

namespace zuro {

/// Options of a protocol object. A value-initialised record asks for the defaults.
struct ProtocolOptions {
  std::uint8_t keepPortOpen = 0; ///< on disconnect leave the port open at 9600 baud
  std::uint32_t serialTries = 0; ///< attempts per command on a cable, 0 to 12; 0 stands for 3
  std::uint32_t radioTries = 0;  ///< attempts per command over the radio, 0 to 12; 0 stands for 5
  std::uint8_t progressReports = 0;  ///< long loops call the progress hook
  std::int8_t traceLevel = 0;        ///< 1 answers, 2 commands, 3 both go to the trace hook
  std::uint32_t extraAnswerTime = 0; ///< ms added to every answer time-out, at most 30000
};

constexpr std::uint32_t kDefaultSerialTries = 3;
constexpr std::uint32_t kDefaultRadioTries = 5;
constexpr std::uint32_t kMaxTries = 12;
constexpr std::int8_t kMaxTraceLevel = 3;
constexpr std::uint32_t kMaxExtraAnswerMs = 30000;

/// Instrument clock value: seconds since 2000-01-01 00:00 local time; -1 is no time.
using ZuroSeconds = std::int32_t;
constexpr ZuroSeconds kNoTime = -1;

// Stages reported to the progress hook.
constexpr std::uint32_t kProgressWake = 1;
constexpr std::uint32_t kProgressQuery = 2;
constexpr std::uint32_t kProgressSettings = 3;

class VUSKA_Protocol : public ZuroSerial {
public:
  /// The answer buffer holds 2048 received bytes and a terminator.
  static constexpr std::size_t kAnswerBufferSize = 2049;
  static constexpr std::uint32_t kMaxAnswerBytes = 2048;

  // Prompt characters that end an answer.
  static constexpr char kPrompt = '>';      ///< the instrument's prompt
  static constexpr char kPromptCr = '\r';   ///< radio query and radio module reads
  static constexpr char kPromptOk = 'K';    ///< answers ending in "OK"
  static constexpr char kPromptErase = '!'; ///< data erase on old firmware

  /// Answer texts that say a setting was taken: "OK", or on old firmware a fresh prompt line.
  static constexpr std::string_view kOkText = "OK";
  static constexpr std::string_view kPromptLine = "\r>";

  /// Radio module request and done bits.
  static constexpr std::uint32_t kRadioChannelBit = kSetRadioChannel;
  static constexpr std::uint32_t kRadioSubChannelBit = kSetRadioSubChannel;
  static constexpr std::uint32_t kRadioVersionBit = kSetRadioVersion;

  /// Directions of the settings, radio and clock operations.
  static constexpr int kRead = 0;
  static constexpr int kWrite = 1;

  /// (total, done so far, stage) -> go on?
  using ProgressHook = std::function<bool(std::uint32_t, std::uint32_t, std::uint32_t)>;
  using TraceHook = std::function<void(std::string_view)>;

  /// `backendFactory` makes the operating-system side of the port; empty means
  /// the platform's (tests and fuzzing put an in-memory line underneath).
  explicit VUSKA_Protocol(ZuroLog* log, SerialBackendFactory backendFactory = {});
  ~VUSKA_Protocol() override;
  VUSKA_Protocol(const VUSKA_Protocol&) = delete;
  VUSKA_Protocol& operator=(const VUSKA_Protocol&) = delete;

  // ---- Options and the command transport ----

  /// set 0 copies the options in force into `options`; otherwise checks them
  /// (-11 when out of range), replaces tries of 0 by the defaults (also in
  /// `options`) and puts them in force. 1 on success, -10 without a record.
  Result ConfigureProtocol(ProtocolOptions* options, int set);

  /// Sends `command` unchanged and reads the answer up to `prompt`, retrying
  /// as the options say. `answer` (may be null) receives at most
  /// `answerLength` - 1 bytes and a terminator; `answerLength` is its capacity
  /// on entry and the length of the text on success (0 after a failure).
  /// `elapsedMs` is always set. Returns the bytes received by the last attempt
  /// or -21, -22, -31, -32, -34, or the port's own code.
  Result DeviceCommand(std::string_view command, char prompt, std::uint32_t timeoutMs, char* answer,
                       std::uint32_t& answerLength, std::uint32_t& elapsedMs);

  // ---- Login, identity and link speed ----

  /// Opens the port when needed, configures the radio module when asked, logs
  /// in, identifies the device and agrees the link speed. `record`'s baud index
  /// and device name are written back.
  Result ConnectDevice(ConnectionRecord* record);
  /// Logs into the device on the open port; `deviceName` is the radio login
  /// name in and the name heard out; `baudIndex` the speed asked for in and in force out.
  Result DeviceLogin(std::string* deviceName, std::uint8_t* baudIndex);
  /// Asks over the radio which device is there. 1 with the name in `name`.
  Result QueryCommand(std::string* name);
  /// Wakes sleeping radio devices with a long stream of carriage returns.
  Result SendWake();
  /// "login NAME" (or "login" for an empty name).
  Result LoginCommand(std::string_view name);
  static Result CheckDeviceName(std::string_view name);
  /// Reads "get -ver" (or "show" on old firmware) into the identity fields.
  Result VerCommand(bool skipShow);
  /// Old firmware's "show": with `name` only the device's name is read into it.
  Result ParseShowCommand(std::string* name = nullptr);
  void SetCapabilities();
  /// Asks the device to change its link speed; the caller changes the port's.
  Result SetBaudCommand(std::uint32_t baud);
  /// Back to 9600 baud or out of the radio session, then close (or keep) the port.
  Result DisconnectDevice(bool skipLogout);

  // ---- Radio module ----

  /// Reads (set != 1) or sets (set == 1) the radio module's channel,
  /// sub-channel and firmware version through its AT command mode. `flags`:
  /// request bits in, done bits out.
  Result Kx2Config(std::uint32_t* channel, std::uint32_t* subChannel, std::string* version, int set,
                   std::uint32_t* flags);

  // ---- Settings ----

  /// Reads (direction 0) or writes (1) the settings `flags` names; `flags`
  /// receives the ones that succeeded. Reading copies the whole record to
  /// `record`; writing first takes the whole of `record`.
  Result DeviceSettings(DeviceSettingsRecord* record, std::uint32_t* flags, int direction);
  /// -1 when the trait is not known, 1 with a radio module, 0 without.
  Result RadioPresent() const;
  /// -1 when the trait is not known, 1 for a Du70 with a cellular modem, 0 otherwise.
  Result CellularPresent() const;

  // Single settings of the protocol's record (direction 0 read, 1 write).
  Result NameCommand(int direction);
  Result DeviceIDCommand(int direction);
  Result ReportCommand(int direction);
  Result DepthCommand(int direction);
  Result LatitudeCommand(int direction);
  Result LongitudeCommand(int direction);
  Result TimeZoneCommand(int direction);
  Result SiteCommand(int direction);
  Result SNCommand(int direction);
  Result WakeCommand(int direction);
  Result PADCCommand(int direction);
  Result PortsCommand(int direction);
  Result TraitCommand(int direction);
  Result RmodeCommand(int direction);
  Result DataParameterCommand(int direction);
  Result ZuroBuildCommand(int direction);
  Result APNCommand(int direction);
  Result APNUserCommand(int direction);
  Result APNPasswdCommand(int direction);
  Result AuthKeyCommand(int direction);
  Result HostCommand(int direction);
  Result IPPortCommand(int direction);
  /// `which` is "-adc30" or "-adc15".
  Result ADCcalCommand(std::string_view which, PortBytes* slopes, PortBytes* offsets,
                       int direction);
  /// Radio channel, sub-channel and version; `flags` request bits in, done bits out.
  Result MSRadioCommand(std::uint32_t* channel, std::uint32_t* subChannel, std::string* version,
                        int direction, std::uint32_t* flags);

  // ---- Clock and data ----

  /// Reads (set 0) or sets (set 1) the device clock. Setting from a null or 0
  /// value uses the computer's clock and writes the value used back.
  Result DeviceTime(ZuroSeconds* seconds, int set);
  /// Erases the stored measurements after checking the device's name.
  Result EraseData();

  // ---- State ----

  const DeviceSettingsRecord& Settings() const { return settings_; }
  const ConnectionRecord& Connection() const { return connection_; }
  std::uint8_t LinkType() const { return connection_.linkType; }
  std::uint32_t CommandTries() const { return commandTries_; }
  std::int32_t ResetCount() const { return resetCount_; }
  /// The raw text of the last answer, up to 2048 bytes.
  std::string_view LastAnswer() const;

  void SetProgressHook(ProgressHook hook) { progressHook_ = std::move(hook); }
  void SetTraceHook(TraceHook hook) { traceHook_ = std::move(hook); }

  /// The wake sequence is 909 carriage returns 55 ms apart (about 50 s), long
  /// enough for every sleeping radio node to notice one. Tests and benches shorten it.
  static constexpr std::uint32_t kWakePackets = 909;
  static constexpr std::uint32_t kWakeSpacingMs = 55;
  void SetWakeSequence(std::uint32_t packets, std::uint32_t spacingMs);

protected:
  /// Every pause of the protocol goes through here (DelayMs).
  virtual void Pause(std::uint32_t ms);
  /// The computer's clock: seconds since 1970-01-01 UTC, or -1 when it cannot be read.
  virtual std::int64_t ComputerTime() const;

private:
  // Port access through the serial part; each returns the port's own code.
  Result WriteText(std::string_view text);
  void ClearSettings();
  bool ProgressGoOn(std::uint32_t total, std::uint32_t done, std::uint32_t stage);
  const char* Tag() const;
  void Log(std::uint32_t level, const char* format, ...) const
      __attribute__((format(printf, 3, 4)));

  // Settings helpers shared by the single-setting commands.
  enum class Acceptance { kOkText, kOkOrPrompt, kPromptLine };
  struct TextSetting;
  struct NumberSetting;
  /// Sends a set command: 1 when the answer shows it was taken, -12 when the
  /// device refused it, -30 for another answer, or the transport's code.
  Result WriteAccepted(std::string_view command, std::uint32_t answerCapacity,
                       Acceptance acceptance, std::uint32_t& elapsedMs);
  /// Sends a get command; `answer` holds the answer text on success.
  Result ReadAnswer(std::string_view command, std::string& answer, std::uint32_t capacity,
                    std::uint32_t timeoutMs, std::uint32_t& elapsedMs);
  Result TextSettingCommand(const TextSetting& setting, std::string& field, int direction);
  Result NumberSettingCommand(const NumberSetting& setting, std::int32_t& field, int direction);
  Result NameInto(std::string& field, int direction);
  Result PortListCommand(const char* name, const char* option, const char* noun,
                         const char* missingNoun, std::uint32_t capability,
                         std::uint8_t fillWithout, PortBytes& field, int direction);
  Result PositionCommand(const char* name, const char* option, const char* noun, double& field,
                         int direction);
  /// One step of DeviceSettings: the highest-priority bit still requested.
  /// `identityStep` tells whether the step was the identity's (its -13 ends the walk).
  Result SettingsStep(std::uint32_t& request, std::uint32_t& obtained, bool reading,
                      bool& identityStep);
  /// Logs "<name> failed with error %d (%d ms)" for a negative result; returns it.
  Result FailLine(const char* name, Result result, std::uint32_t elapsedMs) const;

  ProtocolOptions options_;
  DeviceSettingsRecord settings_;
  ConnectionRecord connection_;
  std::uint32_t commandTries_ = kDefaultSerialTries;
  std::int32_t resetCount_ = 0;
  std::unique_ptr<char[]> answerBuffer_;
  std::unique_ptr<char[]> readBuffer_;
  ZuroLog* protocolLog_;
  ProgressHook progressHook_;
  TraceHook traceHook_;
  std::uint32_t wakePackets_ = kWakePackets;
  std::uint32_t wakeSpacingMs_ = kWakeSpacingMs;
};

} // namespace zuro
