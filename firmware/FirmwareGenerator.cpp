#include "firmware/FirmwareGenerator.h"

#include <algorithm>
#include <vector>

#include "bsl/FirmwareIdentity.h"

namespace zuro {

namespace {

constexpr std::uint16_t kStackTop = 0x3000;
constexpr std::uint16_t kWatchdogHold = 0x5A80;    ///< WDTPW | WDTHOLD
constexpr std::uint16_t kWatchdogControl = 0x0120; ///< WDTCTL
constexpr std::uint16_t kNop = 0x4303;

// A few MSP430 instruction shapes; the low bits pick registers and modes, so
// the program reads like code in a disassembler without being meant to run.
constexpr std::uint16_t kOpcodeShapes[] = {0x4000, 0x5000, 0x8000, 0x9000, 0xB000, 0xC000, 0xD000,
                                           0xE000, 0xF000, 0x2000, 0x2400, 0x3C00, 0x1280, 0x1300};

class XorShift32 {
public:
  explicit XorShift32(std::uint32_t seed) : state_(seed != 0 ? seed : 0x9E3779B9u) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

private:
  std::uint32_t state_;
};

void PutWord(std::vector<std::uint8_t>& program, std::size_t offset, std::uint16_t word) {
  program[offset] = static_cast<std::uint8_t>(word & 0xFF);
  program[offset + 1] = static_cast<std::uint8_t>(word >> 8);
}

bool Overlaps(std::uint32_t aStart, std::uint32_t aLength, std::uint32_t bStart,
              std::uint32_t bLength) {
  return aLength != 0 && bLength != 0 && aStart < bStart + bLength && bStart < aStart + aLength;
}

} // namespace

VectorTable LayoutVectors(const FirmwareLayout& layout) {
  if (layout.vectors) {
    return *layout.vectors;
  }
  VectorTable vectors = kDu70Vectors;
  const std::uint32_t shift = layout.programStart - kDu70ProgramStart;
  for (std::uint16_t& v : vectors) {
    if (v != kErasedWord) {
      v = static_cast<std::uint16_t>(v + shift);
    }
  }
  return vectors;
}

std::vector<std::uint8_t> GenerateProgram(const FirmwareLayout& layout) {
  if (layout.programLength < kMinProgramSize || layout.identity.size() >= kIdentityTextSize) {
    return {};
  }
  std::vector<std::uint8_t> program(layout.programLength, 0xFF);
  // The seed follows the identity, so two versions differ all through.
  XorShift32 random(
      Crc32(reinterpret_cast<const std::uint8_t*>(layout.identity.data()), layout.identity.size()));
  for (std::size_t offset = 0; offset + 1 < program.size(); offset += 2) {
    const std::uint32_t r = random.Next();
    const std::uint16_t shape = kOpcodeShapes[r % std::size(kOpcodeShapes)];
    PutWord(program, offset, static_cast<std::uint16_t>(shape | ((r >> 8) & 0x0FFF & ~shape)));
  }
  if (program.size() % 2 != 0) {
    program.back() = kNop & 0xFF;
  }
  // The reset entry: set the stack, stop the watchdog, branch past the
  // identity block.
  const std::uint16_t main =
      static_cast<std::uint16_t>(layout.programStart + kIdentityBlockOffset + kIdentityBlockSize);
  const std::uint16_t entry[] = {0x4031,           kStackTop, 0x40B2, kWatchdogHold,
                                 kWatchdogControl, 0x4030,    main,   kNop};
  static_assert(sizeof entry == kIdentityBlockOffset);
  for (std::size_t i = 0; i < std::size(entry); ++i) {
    PutWord(program, 2 * i, entry[i]);
  }
  if (!StampFirmware(program, layout.identity)) {
    return {};
  }
  return program;
}

std::string GenerateFirmwareTiTxt(const FirmwareLayout& layout, std::string* error) {
  auto fail = [error](const char* why) {
    if (error != nullptr) {
      *error = why;
    }
    return std::string();
  };
  if (layout.identity.size() >= kIdentityTextSize) {
    return fail("identity text too long");
  }
  if (layout.programLength < kMinProgramSize) {
    return fail("program too short for the identity block and CRC");
  }
  const std::uint64_t programEnd =
      static_cast<std::uint64_t>(layout.programStart) + layout.programLength;
  const std::uint64_t fillEnd = static_cast<std::uint64_t>(layout.fillStart) + layout.fillLength;
  if (programEnd > kImageAddressLimit || fillEnd > kImageAddressLimit) {
    return fail("section beyond the 20-bit address space");
  }
  constexpr std::uint32_t kVectorBytes = 2 * kVectorCount;
  if (Overlaps(layout.programStart, layout.programLength, kVectorTableStart, kVectorBytes) ||
      Overlaps(layout.fillStart, layout.fillLength, kVectorTableStart, kVectorBytes) ||
      Overlaps(layout.programStart, layout.programLength, layout.fillStart, layout.fillLength)) {
    return fail("sections overlap");
  }
  auto inSkippedArea = [](std::uint32_t a) {
    return a >= kSkippedAreaStart && a <= kSkippedAreaLast;
  };
  if (inSkippedArea(layout.programStart) ||
      (layout.fillLength != 0 && inSkippedArea(layout.fillStart))) {
    return fail("section starts in the area the loader skips");
  }
  std::vector<MemoryBlock> blocks;
  blocks.push_back({layout.programStart, GenerateProgram(layout)});
  if (layout.fillLength != 0) {
    blocks.push_back({layout.fillStart, std::vector<std::uint8_t>(layout.fillLength, 0xFF)});
  }
  std::sort(blocks.begin(), blocks.end(),
            [](const MemoryBlock& a, const MemoryBlock& b) { return a.address < b.address; });
  return FormatTiTxt(blocks, LayoutVectors(layout));
}

} // namespace zuro
