// How a firmware image names itself and proves it is whole. Every image this
// system builds carries an identity block near the start of its program
// section and a CRC-32 of the program in the section's last four bytes. The
// generator stamps them; an instrument's self-test ("post") checks them; the
// simulated instrument reads its identity from them after a restart.
//
// Program section layout (addresses relative to the section start, which is
// the reset vector):
//   0x00..0x0F  code words (the reset entry)
//   0x10..0x13  "ZIDB"                        identity block magic
//   0x14..0x17  program length in bytes, 32-bit little-endian, including the CRC
//   0x18..0x2F  identity text, e.g. "DU70 2.30", NUL-padded to 24 bytes
//   ...         code words
//   len-4..len-1  CRC-32 (IEEE 802.3, as zlib) of bytes 0..len-5, little-endian
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zuro {

constexpr std::uint32_t kIdentityBlockOffset = 0x10;  ///< bytes from the program start
constexpr char kIdentityMagic[4] = {'Z', 'I', 'D', 'B'};
constexpr std::size_t kIdentityTextSize = 24;  ///< bytes, NUL-padded
constexpr std::size_t kIdentityBlockSize = 4 + 4 + kIdentityTextSize;
constexpr std::size_t kCrcSize = 4;
/// Smallest program that can hold the entry words, the block and the CRC.
constexpr std::size_t kMinProgramSize = kIdentityBlockOffset + kIdentityBlockSize + kCrcSize;

/// CRC-32 (reflected polynomial 0xEDB88320, initial and final XOR 0xFFFFFFFF).
std::uint32_t Crc32(const std::uint8_t* data, std::size_t length);

/// Writes the identity block and the CRC into `program` (the whole program
/// section, CRC included). Returns false when the program is too small or the
/// text does not fit.
bool StampFirmware(std::vector<std::uint8_t>& program, std::string_view identity);

enum class FirmwareState {
  kMissing,  ///< no identity block at the program start (erased or foreign flash)
  kCorrupt,  ///< the block is there but the CRC does not match the program
  kGood,     ///< block and CRC agree
};

struct FirmwareInspection {
  FirmwareState state = FirmwareState::kMissing;
  std::string identity;  ///< the identity text when the block was found
  std::uint32_t programLength = 0;
};

/// Inspects the firmware whose program starts at `programStart`, reading
/// memory through `readByte` (which answers 0xFF for erased or absent
/// addresses). Any content is safe: lengths are bounded by `memoryEnd`.
FirmwareInspection InspectFirmware(const std::function<std::uint8_t(std::uint32_t)>& readByte,
                                   std::uint32_t programStart, std::uint32_t memoryEnd);

}  // namespace zuro
