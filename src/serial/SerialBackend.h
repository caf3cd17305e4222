// The operating-system side of one serial port. ZuroSerial keeps every rule
// of the line (read-ahead buffer, waits, log lines); a backend only makes the
// system calls, so the same behaviour runs on POSIX today and on Windows later,
// and tests can put a scripted port underneath it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/ResultCodes.h"

namespace zuro {

/// Every call returns 0 or more on success (a byte count for Read and Write)
/// or a negated system error number.
class SerialBackend {
public:
  virtual ~SerialBackend() = default;

  /// Opens `devicePath` for reading and writing, exclusively: a port that
  /// another process holds answers -EBUSY, one that does not exist -ENOENT.
  /// Nothing about the line is changed yet.
  virtual Result Open(const std::string& devicePath) = 0;
  virtual bool IsOpen() const = 0;
  /// A number that identifies the open port in log lines (-1 when closed).
  virtual long Handle() const = 0;

  /// Driver queue sizes; many drivers have fixed queues and ignore this.
  virtual Result SetQueueSizes(std::uint32_t receiveBytes, std::uint32_t transmitBytes) = 0;
  /// Reads the port's current line settings, the base that ApplyLineSettings changes.
  virtual Result ReadLineSettings() = 0;
  /// 8 data bits, no parity, 1 stop bit, raw bytes both ways, no flow control,
  /// at `baud`; everything else as the driver had it.
  virtual Result ApplyLineSettings(std::uint32_t baud) = 0;
  /// A read returns at once with what has arrived, or waits at most
  /// `firstByteMs` for the first byte; a write may take `perByteMs` per byte
  /// plus `extraMs` before it gives up with what it has written.
  virtual Result SetTimeouts(std::uint32_t firstByteMs, std::uint32_t writePerByteMs,
                             std::uint32_t writeExtraMs) = 0;
  /// Raises DTR and RTS and clears pending line errors. Ports without
  /// modem-control lines (pseudo-terminals) are not an error.
  virtual Result RaiseModemLines() = 0;
  /// Changes only the baud rate of the open port.
  virtual Result SetBaud(std::uint32_t baud) = 0;

  /// Reads at most `length` bytes; 0 when nothing came within the first-byte time.
  virtual Result Read(void* buffer, std::size_t length) = 0;
  /// Writes `length` bytes; fewer when the write time-out passed.
  virtual Result Write(const void* data, std::size_t length) = 0;
  /// Discards what the driver has received but not yet delivered.
  virtual Result Purge() = 0;
  /// Drops DTR and RTS and closes. 0, or the negated error of the close.
  virtual Result Close() = 0;
};

using SerialBackendFactory = std::function<std::unique_ptr<SerialBackend>()>;

/// The backend of the platform this program was built for.
std::unique_ptr<SerialBackend> MakePlatformSerialBackend();

/// The device path a port name stands for on this platform: on POSIX a name
/// without '/' is a device under /dev ("ttyUSB0" is "/dev/ttyUSB0"), any
/// other name is a path as given.
std::string PlatformDevicePath(std::string_view portName);

/// The name of the n-th (1-based) built-in port that port enumeration probes
/// when asked to find all ports: "/dev/ttyS0" for 1 on POSIX.
std::string PlatformProbedPortName(int number);

/// Whether the clock behind TickMs counts at least every millisecond.
bool HighResolutionCounterPresent();

} // namespace zuro
