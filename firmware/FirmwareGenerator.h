// Makes the firmware images this system ships and tests with. The maker's own
// firmware is not ours to carry, so the updater delivers an image of the same
// shape built here: a program section of deterministic pseudo-code words that
// carries the identity block and CRC (bsl/FirmwareIdentity.h), a block of
// erased bytes, and the interrupt vectors. The same layout always gives the
// same file, byte for byte, so the committed image can be checked against it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bsl/ImageText.h"

namespace zuro {

/// Vectors of the Du70 2.30 image (0xFFE0 first; the reset vector 0x1200 last).
constexpr VectorTable kDu70Vectors = {0xFFFF, 0x174C, 0x14E0, 0x1582, 0x1774, 0x14E0,
                                      0x14E0, 0x14E0, 0x14E0, 0x14E6, 0x14E0, 0x14E0,
                                      0x14E0, 0x1232, 0x14E0, 0x1200};
constexpr std::uint32_t kDu70ProgramStart = 0x1200;
constexpr std::uint32_t kDu70ProgramLength = 56844; ///< bytes, CRC included
constexpr std::uint32_t kDu70FillStart = 0xFFC0;
constexpr std::uint32_t kDu70FillLength = 32; ///< bytes of 0xFF below the vectors

struct FirmwareLayout {
  std::string identity = "DU70 2.30"; ///< identity text stamped into the program
  std::uint32_t programStart = kDu70ProgramStart;
  std::uint32_t programLength = kDu70ProgramLength;
  std::uint32_t fillStart = kDu70FillStart; ///< erased-byte block; length 0 leaves it out
  std::uint32_t fillLength = kDu70FillLength;
  /// Unset: the Du70 table with its handlers moved along with the program
  /// start, and the reset vector at the program start.
  std::optional<VectorTable> vectors;
};

/// The vectors the layout's image carries.
VectorTable LayoutVectors(const FirmwareLayout& layout);

/// The program section of the layout: pseudo-code words seeded from the
/// identity text, stamped with the identity block and CRC. Empty when the
/// layout cannot hold a stamped program.
std::vector<std::uint8_t> GenerateProgram(const FirmwareLayout& layout);

/// The layout's image as a TI-TXT file. Empty (with `error` set) when the
/// layout is unusable: program too short, identity too long, sections that
/// overlap each other or the vectors, or beyond the 20-bit address space.
std::string GenerateFirmwareTiTxt(const FirmwareLayout& layout, std::string* error = nullptr);

} // namespace zuro
