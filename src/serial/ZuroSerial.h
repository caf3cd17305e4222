// One serial port of the computer with the updater's fixed line settings and a
// read-ahead buffer. The instrument command protocol and the boot-loader host
// derive from it, so each of them is a port with a protocol on top; the port
// enumerator runs on a plain object that is never opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/ResultCodes.h"
#include "log/ZuroLog.h"
#include "serial/PortSource.h"
#include "serial/SerialBackend.h"

namespace zuro {

struct CommPortInfo;

class ZuroSerial {
public:
  /// The read-ahead buffer: at most kReadBufferSize - 1 received bytes and a terminating zero.
  static constexpr std::size_t kReadBufferSize = 2048;
  static constexpr std::size_t kReadBufferMaxText = kReadBufferSize - 1;
  /// A port name holds a full device path of up to this many characters.
  static constexpr std::size_t kPortNameMaxChars = 255;

  static constexpr std::uint32_t kDefaultBaud = 9600;       ///< used when ZSOpen is given 0
  static constexpr std::uint32_t kQueueBytes = 2048;        ///< driver receive and transmit queues
  static constexpr std::uint32_t kFirstByteTimeoutMs = 100; ///< a read waits this long for data
  static constexpr std::uint32_t kWritePerByteMs = 10;      ///< write time-out per byte
  static constexpr std::uint32_t kWriteExtraMs = 100;       ///< write time-out on top
  static constexpr std::uint32_t kReopenPauseMs = 100; ///< after closing a port ZSOpen found open
  static constexpr std::uint32_t kWaitQuickPolls = 5;  ///< empty polls of a wait before pausing
  static constexpr std::uint32_t kWaitPauseMinTimeoutMs = 400; ///< only longer waits pause
  static constexpr std::uint32_t kWaitPauseMs = 200;           ///< pause between later polls

  /// `sharedLog` may be null: then nothing is logged. `backendFactory` makes the
  /// operating-system side of each port opened; empty means the platform's.
  explicit ZuroSerial(ZuroLog* sharedLog, SerialBackendFactory backendFactory = {});
  virtual ~ZuroSerial();
  ZuroSerial(const ZuroSerial&) = delete;
  ZuroSerial& operator=(const ZuroSerial&) = delete;

  /// Opens the port (a device path, or a name under /dev) exclusively with
  /// 8N1 raw, no flow control, DTR and RTS raised, at `baud` (9600 for 0).
  /// A port still open is closed first. 1 on success; the negated system
  /// error (kErrPortUnavailable, kErrPortInUse, kErrPortNoAccess, ...),
  /// kErrMissingArgument, kErrPortNameTooLong, kErrPortNotSerial or
  /// kErrOutOfMemory on failure.
  Result ZSOpen(std::string_view portName, std::uint32_t baud);
  Result ZSOpen(const char* portName, std::uint32_t baud);

  /// 0 when no port is open, 1 when closed, -1 when the close failed.
  Result ZSClose();

  /// Delivers received bytes into `buffer` (no terminator added), first
  /// what a wait left in the read-ahead buffer. Returns `got`, or
  /// kErrOutOfMemory / kErrNoAnswer.
  Result ZSRead(void* buffer, std::uint32_t length, std::uint32_t& got);

  /// Writes `length` bytes; returns the number written or kErrNoAnswer.
  Result ZSWrite(const void* data, std::uint32_t length, std::uint32_t& written);
  Result ZSWrite(std::string_view text);

  /// Empties the read-ahead buffer and, with `purgeDriver` 1, what the driver
  /// holds. Leaves waitFound as it is. Returns 0.
  Result ZSFlush(int purgeDriver);

  /// Waits until `character` has arrived or more than `msTimeout` ms passed.
  /// Returns the character's value when found, 0 on time-out, kErrNoAnswer or
  /// kErrOutOfMemory on error. What was read stays for the next ZSRead.
  Result ZSWait(std::uint32_t msTimeout, char character);

  /// Changes the baud rate of the open port. 0 when already in force, 1 when
  /// changed, kErrPortNoName without a port name, kErrNoAnswer when closed,
  /// the negated system error when the driver refuses.
  Result ZSHostBaud(std::uint32_t baud);

  /// Lists the computer's serial ports with readable names, sorted, busy ones
  /// marked (see CommPortEnum.h). `capacity`: entries in `list` in, entries
  /// filled out. `forceFindAll` also probes the built-in ports 1 to 16.
  /// Returns the number of ports the device list gave (1 when probing ran),
  /// kErrMissingArgument, kErrPortNoCapacity or kErrOutOfMemory.
  Result CommPortEnum(CommPortInfo* list, std::int32_t* capacity, bool forceFindAll);
  /// The device list CommPortEnum reads; null means the platform's own.
  void SetPortSource(PortSource* source) { portSource_ = source; }

  bool IsOpen() const { return portHandle_ != nullptr && portHandle_->IsOpen(); }
  std::uint32_t HostBaud() const { return hostBaud_; }
  const std::string& PortName() const { return portName_; }
  bool WaitFound() const { return waitFound_; }
  /// The open port, for handing it to another object for a while (BSLHandOff).
  SerialBackend* PortHandle() const { return portHandle_; }
  /// The read-ahead buffer (null before the first open unless one was lent).
  char* ReadBuffer() const { return readBuffer_; }
  bool OwnsBuffer() const { return ownsBuffer_; }
  ZuroLog* SharedLog() const { return log_; }

protected:
  /// A derived object supplies its own kReadBufferSize-byte buffer before the
  /// first open; it stays the owner. Ignored while an owned buffer is in use.
  void LendReadBuffer(char* buffer);

  /// Takes over the open port, read-ahead buffer and name of another object,
  /// which keeps owning them; a port of this object's own is closed first.
  /// Nothing here closes or frees what was taken over.
  void AdoptPort(SerialBackend* handle, char* buffer, std::string_view name, std::uint32_t baud);
  /// Forgets an adopted port and buffer without closing anything.
  void ReleaseAdoptedPort();
  bool PortAdopted() const { return adopted_; }

  /// Log lines about this port carry its name; lines about no port "ZuroSerial".
  void LogPort(std::uint32_t level, const char* format, ...) const
      __attribute__((format(printf, 3, 4)));
  void LogSerial(std::uint32_t level, const char* format, ...) const
      __attribute__((format(printf, 3, 4)));

  /// A fresh backend from the factory (the platform's when none was given).
  std::unique_ptr<SerialBackend> MakeBackend() const;

  /// Tests stand in for a platform whose clock cannot time a wait.
  void SetCounterPresent(bool present) { counterPresent_ = present; }

private:
  // The serial part of the object. Private with accessors, so the protocols
  // above may use the same words (portName, log) for their own arguments.
  ZuroLog* log_;
  SerialBackend* portHandle_ = nullptr; ///< the open port (own or adopted); null when closed
  std::uint32_t hostBaud_ = 0;          ///< baud rate currently set on the computer's port
  std::string portName_;                ///< name given to the last ZSOpen; tag of its log lines
  char* readBuffer_ = nullptr;          ///< the read-ahead buffer, kReadBufferSize bytes
  bool waitFound_ = false;              ///< the last ZSWait found its character
  bool ownsBuffer_ = false;             ///< readBuffer_ was allocated by ZSOpen
  /// The clock can time a wait; when it cannot, ZSWait just sleeps its time-out.
  bool counterPresent_;

  /// Held text of the read-ahead buffer: up to the first zero, at most kReadBufferMaxText.
  std::size_t HeldText() const;
  Result OpenChecked(std::string_view portName, std::uint32_t baud);

  SerialBackendFactory backendFactory_;
  std::unique_ptr<SerialBackend> ownedPort_;
  std::unique_ptr<char[]> ownedBuffer_;
  char* ownLentBuffer_ = nullptr; ///< this object's lent buffer while another's is adopted
  bool adopted_ = false;
  PortSource* portSource_ = nullptr;
  std::unique_ptr<PortSource> platformSource_;
};

} // namespace zuro
