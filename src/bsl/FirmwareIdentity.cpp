#include "bsl/FirmwareIdentity.h"

#include <array>
#include <cstring>

namespace zuro {

namespace {
std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) {
      c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    table[i] = c;
  }
  return table;
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}
}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t length) {
  static const std::array<std::uint32_t, 256> table = MakeCrcTable();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) {
    crc = table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
  }
  return crc ^ 0xFFFFFFFFu;
}

bool StampFirmware(std::vector<std::uint8_t>& program, std::string_view identity) {
  if (program.size() < kMinProgramSize || identity.size() >= kIdentityTextSize ||
      program.size() > 0xFFFFFFFFu) {
    return false;
  }
  std::uint8_t* block = program.data() + kIdentityBlockOffset;
  std::memcpy(block, kIdentityMagic, 4);
  PutLe32(block + 4, static_cast<std::uint32_t>(program.size()));
  std::memset(block + 8, 0, kIdentityTextSize);
  std::memcpy(block + 8, identity.data(), identity.size());
  const std::size_t body = program.size() - kCrcSize;
  PutLe32(program.data() + body, Crc32(program.data(), body));
  return true;
}

FirmwareInspection InspectFirmware(const std::function<std::uint8_t(std::uint32_t)>& readByte,
                                   std::uint32_t programStart, std::uint32_t memoryEnd) {
  FirmwareInspection out;
  if (!readByte || programStart >= memoryEnd ||
      memoryEnd - programStart < kMinProgramSize) {
    return out;
  }
  const std::uint32_t block = programStart + kIdentityBlockOffset;
  for (std::uint32_t i = 0; i < 4; ++i) {
    if (readByte(block + i) != static_cast<std::uint8_t>(kIdentityMagic[i])) {
      return out;
    }
  }
  std::uint32_t length = 0;
  for (std::uint32_t i = 0; i < 4; ++i) {
    length |= static_cast<std::uint32_t>(readByte(block + 4 + i)) << (8 * i);
  }
  for (std::uint32_t i = 0; i < kIdentityTextSize; ++i) {
    const std::uint8_t c = readByte(block + 8 + i);
    if (c == 0) {
      break;
    }
    out.identity.push_back(static_cast<char>(c));
  }
  out.programLength = length;
  out.state = FirmwareState::kCorrupt;
  if (length < kMinProgramSize || length > memoryEnd - programStart) {
    return out;
  }
  std::vector<std::uint8_t> program(length);
  for (std::uint32_t i = 0; i < length; ++i) {
    program[i] = readByte(programStart + i);
  }
  const std::size_t body = length - kCrcSize;
  std::uint32_t stored = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    stored |= static_cast<std::uint32_t>(program[body + i]) << (8 * i);
  }
  if (stored == Crc32(program.data(), body)) {
    out.state = FirmwareState::kGood;
  }
  return out;
}

}  // namespace zuro
