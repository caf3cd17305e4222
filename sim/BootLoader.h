// The ZuroBSL boot loader inside a simulated device: waiting for contact
// ('$' to a carriage return, '#' to "P"), then active, taking framed commands
// (letter, fields, '.', four-digit checksum, CR) that read its version, set
// the write address, erase segments, write words and write the vector table.
// It works on the device's Flash and knows nothing of the firmware; the
// owner reacts to the events it returns (restart after the vectors, power cut).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sim/Flash.h"
#include "sim/LineModel.h"

namespace zuro::sim {

constexpr char kBslConnect = 'P';
constexpr char kBslWaitingPrompt = '$';
constexpr char kBslConnected = '#';
constexpr const char* kBslAck = "+\r";
constexpr const char* kBslRefuse = "-\r";
constexpr const char* kBslUnknown = "?\r";
constexpr std::size_t kBslMaxLine = 600;      ///< longest W frame is 518 characters
constexpr std::size_t kBslMaxDataChars = 512; ///< 128 words per W block
constexpr std::size_t kBslVectorChars = 64;   ///< 16 words of four digits
constexpr std::uint32_t kChecksumModulus = 0xFFFF;
constexpr SimTime kSegmentEraseUs = 15000; ///< flash segment erase, datasheet figure
constexpr SimTime kWordWriteUs = 75;       ///< flash word write, datasheet figure

/// Where an update should lose power: at the `count`-th framed command with
/// letter `letter` (0: counting every framed command). count 0: never.
struct PowerCutPoint {
  char letter = 0;
  std::uint32_t count = 0;
  bool Enabled() const { return count > 0; }
};

struct BootLoaderConfig {
  int version = 205;          ///< answered to g as "+205+"
  bool realtimeFlash = false; ///< answers wait the flash's erase and write times
  PowerCutPoint powerCut;
};

enum class BootLoaderEvent {
  kNone,
  kVectorsWritten, ///< the device now starts whatever firmware stands in flash
  kPowerCut,       ///< the chosen step was reached: the device loses power
};

class BootLoader {
public:
  BootLoader(Flash& flash, const BootLoaderConfig& config);

  /// Starts the boot loader (after a boot request or at power-up).
  void Enter();
  bool Active() const { return active_; }

  /// One byte from the host.
  BootLoaderEvent Receive(char byte, LineOutput& out);

  std::uint32_t Address() const { return address_; }
  std::uint32_t FramesTaken() const { return framesTaken_; }
  std::uint32_t FramesRefused() const { return framesRefused_; }
  const std::string& LastRefusal() const { return lastRefusal_; }

private:
  BootLoaderEvent HandleLine(LineOutput& out);
  void Refuse(LineOutput& out, const std::string& why);
  bool CutHere(char letter);

  Flash& flash_;
  BootLoaderConfig config_;
  bool active_ = false;
  std::string line_;
  bool overflow_ = false;
  std::uint32_t address_ = 0;
  std::uint32_t framesSeen_ = 0;
  std::uint32_t lettersSeen_[128] = {};
  std::uint32_t framesTaken_ = 0;
  std::uint32_t framesRefused_ = 0;
  std::string lastRefusal_;
};

/// Checksum of a frame's letter, fields and '.' (each a signed byte), modulo 0xFFFF.
std::int32_t FrameChecksum(std::string_view letterFieldsAndDot);

} // namespace zuro::sim
