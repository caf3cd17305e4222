#include "sim/Flash.h"

#include <algorithm>

#include "service/DeviceKinds.h"

namespace zuro::sim {

namespace {
std::uint32_t AlignUp(std::uint32_t value, std::uint32_t step) {
  return (value + step - 1) / step * step;
}
} // namespace

MemoryLayout LayoutForKind(int kind) {
  DeviceKindEntry entry;
  FillDeviceKindEntry(kind, 0, &entry);
  MemoryLayout layout;
  layout.infoStart = entry.infoStart;
  layout.infoSegments = entry.infoSegments;
  layout.infoSegmentSize = entry.infoSegmentSize;
  layout.flashStart = entry.flashStart;
  layout.eraseEnd = entry.flashEnd;
  layout.extendedAddressing = entry.extendedAddressing;
  layout.bootLoaderBaud = entry.bootLoaderBaud;
  // Devices with 16-bit addressing have flash up to the top of their space;
  // the larger parts end at the segment that holds the last erased address.
  layout.flashTop = entry.extendedAddressing
                        ? std::min(AlignUp(entry.flashEnd + 1, kMainSegmentSize), kAddressSpace)
                        : kSixteenBitTop;
  layout.programStart = AlignUp(entry.flashStart, kMainSegmentSize);
  return layout;
}

const char* FlashStatusText(FlashStatus status) {
  switch (status) {
  case FlashStatus::kOk:
    return "ok";
  case FlashStatus::kOutsideMemory:
    return "address outside INFO and main flash";
  case FlashStatus::kBootLoaderArea:
    return "address inside the boot loader";
  case FlashStatus::kVectorSegment:
    return "vector segment is erased only by the vector command";
  case FlashStatus::kOddAddress:
    return "odd word address";
  case FlashStatus::kVerifyFailed:
    return "write verify failed: flash bits cannot be set by a write";
  }
  return "unknown";
}

Flash::Flash(const MemoryLayout& layout) : layout_(layout), cells_(kAddressSpace, kErasedByte) {}

FlashStatus Flash::EraseSegment(std::uint32_t address, std::uint32_t* segmentStart,
                                std::uint32_t* segmentSize) {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  if (InInfo(address)) {
    start = layout_.infoStart +
            (address - layout_.infoStart) / layout_.infoSegmentSize * layout_.infoSegmentSize;
    end = start + layout_.infoSegmentSize;
  } else if (InBootLoader(address)) {
    return FlashStatus::kBootLoaderArea;
  } else if (address >= kVectorSegmentStart && address < kSixteenBitTop && InMainFlash(address)) {
    return FlashStatus::kVectorSegment;
  } else if (InMainFlash(address)) {
    const std::uint32_t aligned = address / kMainSegmentSize * kMainSegmentSize;
    start = std::max(aligned, layout_.flashStart);
    end = std::min(aligned + kMainSegmentSize, layout_.flashTop);
  } else {
    return FlashStatus::kOutsideMemory;
  }
  std::fill(cells_.begin() + start, cells_.begin() + end, kErasedByte);
  ++eraseCount;
  if (segmentStart != nullptr) {
    *segmentStart = start;
  }
  if (segmentSize != nullptr) {
    *segmentSize = end - start;
  }
  return FlashStatus::kOk;
}

FlashStatus Flash::Write(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  if ((address & 1u) != 0) {
    return FlashStatus::kOddAddress;
  }
  if (bytes.empty()) {
    return FlashStatus::kOk;
  }
  const std::uint64_t last = static_cast<std::uint64_t>(address) + bytes.size() - 1;
  if (last >= kAddressSpace) {
    return FlashStatus::kOutsideMemory;
  }
  // Refuse the whole block before touching a cell: a boot loader checks the
  // range first, so a refused write leaves the flash as it was.
  for (std::uint32_t a = address; a <= last; ++a) {
    if (InBootLoader(a)) {
      return FlashStatus::kBootLoaderArea;
    }
    if (!InInfo(a) && !InMainFlash(a)) {
      return FlashStatus::kOutsideMemory;
    }
  }
  bool verified = true;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::uint8_t& cell = cells_[address + i];
    cell = static_cast<std::uint8_t>(cell & bytes[i]);
    verified = verified && cell == bytes[i];
  }
  wordsWritten += static_cast<std::uint32_t>((bytes.size() + 1) / 2);
  return verified ? FlashStatus::kOk : FlashStatus::kVerifyFailed;
}

void Flash::WriteVectors(const std::vector<std::uint8_t>& tableBytes) {
  std::fill(cells_.begin() + kVectorTableStart,
            cells_.begin() + kVectorTableStart + kVectorTableBytes, kErasedByte);
  for (std::size_t i = 0; i < tableBytes.size() && i < kVectorTableBytes; ++i) {
    cells_[kVectorTableStart + i] = tableBytes[i];
  }
}

void Flash::Program(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (address + i < kAddressSpace) {
      cells_[address + i] = bytes[i];
    }
  }
}

void Flash::EraseAll() {
  for (std::uint32_t a = 0; a < kAddressSpace; ++a) {
    if ((InInfo(a) || InMainFlash(a)) && !InBootLoader(a)) {
      cells_[a] = kErasedByte;
    }
  }
}

void Flash::EraseMain() {
  for (std::uint32_t a = layout_.flashStart; a < layout_.flashTop; ++a) {
    if (!InBootLoader(a) && !InInfo(a)) {
      cells_[a] = kErasedByte;
    }
  }
}

FirmwareInspection Flash::Inspect() const {
  const std::uint16_t reset = ResetVector();
  if (reset == 0xFFFF) {
    return {};
  }
  return InspectFirmware([this](std::uint32_t a) { return Read(a); }, reset, layout_.flashTop);
}

std::vector<std::uint8_t> MakeFirmwareProgram(const std::string& identity, std::size_t size) {
  std::vector<std::uint8_t> program(std::max(size, kMinProgramSize));
  // A linear congruential sequence seeded by the identity: the same firmware
  // for the same identity, different bytes for different versions.
  std::uint32_t state =
      Crc32(reinterpret_cast<const std::uint8_t*>(identity.data()), identity.size());
  for (auto& byte : program) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  StampFirmware(program, identity);
  return program;
}

void InstallFirmware(Flash& flash, const std::vector<std::uint8_t>& program) {
  flash.EraseAll();
  flash.Program(flash.Layout().programStart, program);
  std::vector<std::uint8_t> vectors(kVectorTableBytes, 0);
  // Every interrupt points into the program; the reset vector at its start.
  const std::uint16_t entry = static_cast<std::uint16_t>(flash.Layout().programStart);
  for (std::size_t k = 0; k < kVectorTableBytes / 2; ++k) {
    const std::uint16_t v =
        k + 1 == kVectorTableBytes / 2 ? entry : static_cast<std::uint16_t>(entry + 0x40 + 2 * k);
    vectors[2 * k] = static_cast<std::uint8_t>(v & 0xFF);
    vectors[2 * k + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  flash.WriteVectors(vectors);
}

} // namespace zuro::sim
