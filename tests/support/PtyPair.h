// A pseudo-terminal pair standing in for a serial port and the device behind
// it: the code under test opens the slave path as its port, the test (or a
// ScriptedPeer) plays the device on the master side. A pty carries every byte
// unchanged, at any baud, and the master can read the line settings the port
// was given, which is how tests check what the code asked of the line.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace zuro::test {

class PtyPair {
public:
  /// Opens the pair. The slave is kept open by the pair itself (without any
  /// lock), so the line stays up while the code under test closes and
  /// reopens its port; `keepSlaveOpen` false leaves that to the test.
  explicit PtyPair(bool keepSlaveOpen = true);
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  /// False when the system gave no pseudo-terminal; Error() says why.
  bool Ok() const { return master_ >= 0; }
  const std::string& Error() const { return error_; }

  /// The port name to open ("/dev/pts/N").
  const std::string& SlavePath() const { return slavePath_; }
  /// Non-blocking master descriptor; -1 after CloseMaster.
  int MasterFd() const { return master_; }

  /// Closes the master: for the port's user the device is gone.
  void CloseMaster();
  /// Closes the pair's own hold on the slave.
  void ReleaseSlave();

  /// The line settings the port currently has, read through the master.
  bool SlaveSettings(termios& settings) const;
  /// The baud rate the port was set to (0 when unknown).
  std::uint32_t SlaveBaud() const;

  /// Writes all of `bytes` to the master (waits for room up to `timeoutMs`).
  bool WriteMaster(std::string_view bytes, int timeoutMs = 2000);
  /// Reads what the port sent: returns as soon as `count` bytes came or
  /// `timeoutMs` passed.
  std::string ReadMaster(std::size_t count, int timeoutMs = 2000);

  /// The rate a termios speed code stands for (0 for unknown codes).
  static std::uint32_t BaudOf(speed_t code);

private:
  int master_ = -1;
  int slaveHold_ = -1;
  std::string slavePath_;
  std::string error_;
};

} // namespace zuro::test
