// The instrument service object: the layer the update sequences call to reach
// an instrument. It connects and names the instrument's kind, logs into it,
// takes a snapshot of its settings before the update (in memory and in the
// settings file) and writes them back afterwards, and sends the checks and
// maintenance commands around an update (battery, self-test, clock, erase).
// It owns the instrument command protocol object and the SDI-12 access on
// the same port.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/ResultCodes.h"
#include "log/ZuroLog.h"
#include "protocol/VUSKA_Protocol.h"
#include "sdi12/ZuroSDI12.h"
#include "service/DeviceKinds.h"
#include "service/SettingsSnapshot.h"

namespace zuro {

class Zuro_protocol {
public:
  static constexpr const char* kModule = "Zuro_protocol";

  // What the update sequences pass to ZPConnect.
  static constexpr std::uint8_t kConnectBaudIndex = 2; ///< 9600 baud
  static constexpr std::uint32_t kConnectTries = 3;

  /// Creates the protocol object with `log` (its port closed) and the SDI-12
  /// access on it. `log` is shared, not owned; it may be null.
  explicit Zuro_protocol(ZuroLog* log);
  /// The same with a protocol object of the caller's making (tests shorten its pauses).
  Zuro_protocol(ZuroLog* log, std::unique_ptr<VUSKA_Protocol> protocol);
  virtual ~Zuro_protocol();
  Zuro_protocol(const Zuro_protocol&) = delete;
  Zuro_protocol& operator=(const Zuro_protocol&) = delete;

  // ---- Connection ----

  /// Opens `portName`, logs in, reads the identity and fills `entry` from the
  /// device kind table. 1; -10 without a port name or entry; -120 for a kind
  /// or version this program may not update, an unknown identity or echoed
  /// commands; -20 when nothing answered; -80 / -81 when the boot loader
  /// answered (the entry is then not filled); another negative code of the
  /// connection. On success the service keeps the kind and a copy of the entry.
  Result ZPConnect(std::string_view portName, std::uint8_t baudIndex, std::uint32_t commandTries,
                   DeviceKindEntry* entry);
  /// Types the access code one character at a time and confirms it: 1 (or the
  /// count of the last unconfirmed answer), -25 when every attempt failed.
  Result ZPLogin();
  /// Sends "logout" first when the kind logs in and `sendLogout` is set; then
  /// ends the connection. The result of the protocol's disconnect.
  Result ZPDisconnect(bool sendLogout);

  // ---- Settings snapshot and settings file ----

  /// Collects the instrument's settings for its kind and writes the settings
  /// file at `path`. 1; -35 when some settings could not be collected (the
  /// rest is saved and written); -36 for an uninitialised logger (no file);
  /// -13 for a kind without a snapshot; a collection or file error otherwise.
  Result ZPSaveInfo(const std::string& path);
  /// Writes the snapshot back, reading it from the file at `path` first when
  /// this run holds none. `newSerialNumber` (may be null or empty) replaces
  /// the saved serial number. The result of the write-back; -35 also when
  /// the file was incomplete; -102, -105, -106, -107, -30 (a file for another
  /// kind: nothing is sent) when the file cannot be used.
  Result ZPRestoreInfo(const std::string& path, const char* newSerialNumber);

  /// Reads the settings `flags` names with single "get -x" commands into the
  /// instrument info record. 1, 0 (no flags), -35, -21, -32 or -36.
  Result GetInstInfo(std::uint32_t flags);
  /// Writes the flagged settings of the instrument info record. 1, 0 (no
  /// flags), -35, -30, -21, -32 or -33.
  Result SetInstInfo(std::uint32_t flags);
  /// Sends a command the instrument confirms with "OK" (the record resets).
  Result SendAndConfirm(std::string_view command);

  Result GetRecords_Serial(RecordSet& set, int type);
  Result SetRecords_Serial(RecordSet& set, int type);
  Result GetRecords_File(RecordSet& set, int type, std::string_view fileText);
  Result AlphabetizeRecords(RecordSet& set, int type);
  Result ExtractNames(RecordSet& set, int type);

  /// Writes the snapshot of the service's kind to the settings file.
  Result WriteInfoFile(const std::string& path);
  /// Reads the snapshot of the service's kind from the settings file.
  Result ReadInfoFile(const std::string& path);

  // ---- Checks and maintenance ----

  /// "get -batt": 1 with the percentage; -30 without a number; -10 without
  /// `percent`; a command failure (the percentage is then -1).
  Result ZPCheckBattery(std::int32_t* percent);
  /// The firmware's self-test: 1 good, -1 corrupt, -30 no verdict, or a command failure.
  Result ZPCheckFirmware(bool selfTestWithInit);
  /// Erases the stored measurements: 1, -65 broken data memory, -30, -13 for
  /// a kind without an erase command, or a command failure.
  Result ZPEraseData();
  /// Sets the instrument's clock from the computer's: 1, -13 when the kind
  /// has no clock to set, -30, or a command failure.
  Result ZPSetTime();

  /// Sends "`word`\r" and keeps the first line of the answer, at most
  /// `maxLength` characters, in `value`. 1, or the last failure of three attempts.
  Result GetValueString(std::string_view word, std::uint32_t timeoutMs, std::string* value,
                        std::size_t maxLength);
  /// Sends "`word`\r" and reads a decimal number from the answer. 1, or the
  /// last failure of three attempts.
  Result GetValueLong(std::string_view word, std::uint32_t timeoutMs, std::int32_t* value);

  // ---- State ----

  VUSKA_Protocol& Protocol() { return *protocol_; }
  ZuroSDI12& Sdi() { return *sdi_; }
  int Kind() const { return kind_; }
  /// The digital sensor sequence names the kind itself (it does not connect).
  void SetKind(int kind) { kind_ = static_cast<std::int8_t>(kind); }
  const DeviceKindEntry& Entry() const { return entry_; }
  void SetEntry(const DeviceKindEntry& entry) { entry_ = entry; }

  DeviceSettingsRecord& SettingsRecord() { return snapshot_.settings; }
  InstInfoRecord& InstInfo() { return snapshot_.instInfo; }
  RecordSet& EquationRecords() { return snapshot_.equations; }
  RecordSet& UserRecords() { return snapshot_.users; }
  bool SettingsSaved() const { return settingsSaved_; }
  std::uint32_t SavedSettingsMask() const { return snapshot_.savedSettingsMask; }
  /// The whole snapshot as the settings file would carry it.
  SettingsSnapshot Snapshot() const;

  /// Before each run: forgets every setting of an earlier run and the
  /// settings-saved flag, so nothing of one instrument reaches another.
  void ClearRun();

protected:
  /// Every pause of the service goes through here (DelayMs).
  virtual void Pause(std::uint32_t ms);
  /// Seconds since 1970-01-01 UTC, or -1 when the clock cannot be read.
  virtual std::int64_t ComputerTime() const;

private:
  /// One command with the prompt '>'; `answer` receives the text (at most
  /// `capacity` - 1 bytes).
  Result Command(std::string_view command, std::uint32_t timeoutMs, std::uint32_t capacity,
                 std::string& answer, std::uint32_t& elapsedMs);
  Result ResetHg4Sensor();
  Result CollectInstInfoStep(std::uint32_t bit);
  Result RestoreInstInfoStep(std::uint32_t bit);
  /// "set <option> <value>\r" confirmed with "OK", logged as `what`.
  Result SetConfirmed(const std::string& command, std::uint32_t timeoutMs, const char* what,
                      const std::string& shown);
  Result SetText(const char* option, const std::string& value, const char* what);
  Result SetNumber(const char* option, std::int32_t value, const char* what);
  Result CorrectHg4Config(const std::string& newSerial);
  void Log(std::uint32_t level, const char* format, ...) const
      __attribute__((format(printf, 3, 4)));

  ZuroLog* log_;
  std::unique_ptr<VUSKA_Protocol> protocol_;
  std::unique_ptr<ZuroSDI12> sdi_;
  SettingsSnapshot snapshot_;
  std::int8_t kind_ = kUnknownDeviceKind;
  DeviceKindEntry entry_;
  bool settingsSaved_ = false;
};

} // namespace zuro
