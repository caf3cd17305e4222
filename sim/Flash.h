// The simulated device's memory: a 20-bit (1 MiB) byte space of flash cells
// that read 0xFF when erased, with the segment geometry and the protected
// areas of the device kind. Writes follow the flash rules: a write can only
// clear bits, and only an erase of the whole segment sets them again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bsl/FirmwareIdentity.h"

namespace zuro::sim {

constexpr std::uint32_t kAddressSpace = 0x100000; ///< 20-bit addresses
constexpr std::uint8_t kErasedByte = 0xFF;
constexpr std::uint32_t kMainSegmentSize = 512;        ///< bytes per main-flash segment
constexpr std::uint32_t kBootLoaderAreaStart = 0xFA00; ///< the boot loader lives here
constexpr std::uint32_t kVectorSegmentStart = 0xFE00;  ///< segment that holds the vectors
constexpr std::uint32_t kVectorTableStart = 0xFFE0;
constexpr std::uint32_t kResetVectorAddress = 0xFFFE;
constexpr std::uint32_t kVectorTableBytes = 32;
constexpr std::uint32_t kSixteenBitTop = 0x10000;

/// Where things are in one device kind's memory.
struct MemoryLayout {
  std::uint32_t infoStart = 0x1000;
  std::uint32_t infoSegments = 2;
  std::uint32_t infoSegmentSize = 128;
  std::uint32_t flashStart = 0x1100;   ///< first main-flash address
  std::uint32_t flashTop = 0x10000;    ///< one past the last main-flash address
  std::uint32_t eraseEnd = 0xF9FF;     ///< end of the range an update erases (kind table)
  std::uint32_t programStart = 0x1200; ///< where the kind's firmware begins
  std::uint32_t bootLoaderBaud = 9600;
  bool extendedAddressing = false;

  std::uint32_t InfoEnd() const { return infoStart + infoSegments * infoSegmentSize; }
};

/// The layout of device kind `kind` (the boot-loader rows of the kind table).
MemoryLayout LayoutForKind(int kind);

/// Why a flash operation was refused.
enum class FlashStatus {
  kOk,
  kOutsideMemory,  ///< not INFO, not main flash, or beyond the kind's flash
  kBootLoaderArea, ///< the boot loader protects itself
  kVectorSegment,  ///< the vector segment is rewritten only by the vector command
  kOddAddress,     ///< words start at even addresses
  kVerifyFailed,   ///< the write asked for bits that flash cannot set
};

const char* FlashStatusText(FlashStatus status);

class Flash {
public:
  explicit Flash(const MemoryLayout& layout);

  const MemoryLayout& Layout() const { return layout_; }

  std::uint8_t Read(std::uint32_t address) const {
    return address < kAddressSpace ? cells_[address] : kErasedByte;
  }
  std::uint16_t ReadWord(std::uint32_t address) const {
    return static_cast<std::uint16_t>(Read(address) | (Read(address + 1) << 8));
  }
  const std::vector<std::uint8_t>& Cells() const { return cells_; }

  /// Erases the segment holding `address` (an INFO segment or a 512-byte
  /// main-flash segment clipped to the main flash). `erased` receives the
  /// segment's first address and size.
  FlashStatus EraseSegment(std::uint32_t address, std::uint32_t* segmentStart = nullptr,
                           std::uint32_t* segmentSize = nullptr);

  /// Writes words at an even address inside INFO or main flash (the vector
  /// segment included, the boot-loader area not). Every cell takes old AND
  /// new; kVerifyFailed when a cell then differs from what was asked.
  FlashStatus Write(std::uint32_t address, const std::vector<std::uint8_t>& bytes);

  /// The boot loader's own vector write: the vector table area is erased and
  /// rewritten, whatever it held.
  void WriteVectors(const std::vector<std::uint8_t>& tableBytes);

  /// Writes without any rule (loading a firmware file into a fresh device,
  /// restoring a saved state). Addresses beyond the space are ignored.
  void Program(std::uint32_t address, const std::vector<std::uint8_t>& bytes);

  /// Erases every main-flash and INFO cell and the vector table.
  void EraseAll();
  /// Erases the main flash (vector table included), keeping INFO and the boot loader.
  void EraseMain();
  void ProgramByte(std::uint32_t address, std::uint8_t value) {
    if (address < kAddressSpace) {
      cells_[address] = value;
    }
  }

  /// The firmware that the reset vector points at.
  FirmwareInspection Inspect() const;

  std::uint16_t ResetVector() const { return ReadWord(kResetVectorAddress); }

  /// True for addresses of INFO memory.
  bool InInfo(std::uint32_t address) const {
    return address >= layout_.infoStart && address < layout_.InfoEnd();
  }
  bool InMainFlash(std::uint32_t address) const {
    return address >= layout_.flashStart && address < layout_.flashTop;
  }
  bool InBootLoader(std::uint32_t address) const {
    return address >= kBootLoaderAreaStart && address < kVectorSegmentStart;
  }

  std::uint32_t eraseCount = 0; ///< segments erased, for tests and benchmarks
  std::uint32_t wordsWritten = 0;

private:
  MemoryLayout layout_;
  std::vector<std::uint8_t> cells_;
};

/// Deterministic firmware for a fresh simulated device: `size` program bytes
/// derived from the identity text, stamped with the identity block and CRC.
std::vector<std::uint8_t> MakeFirmwareProgram(const std::string& identity, std::size_t size);

/// Erases the flash and programs `program` at the layout's program start with
/// a vector table whose reset vector points at it.
void InstallFirmware(Flash& flash, const std::vector<std::uint8_t>& program);

} // namespace zuro::sim
