#include "bsl/ImageText.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace zuro {

namespace {

constexpr std::uint8_t kNotHex = 0xFF;
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kTiTxtEnd = 'q';
constexpr char kLineFeed = '\n';

// One table lookup per character keeps the multi-megabyte files of large
// flash parts fast to convert.
struct HexTable {
  std::array<std::uint8_t, 256> value{};
  constexpr HexTable() {
    for (auto& v : value) {
      v = kNotHex;
    }
    for (int i = 0; i < 10; ++i) {
      value['0' + i] = static_cast<std::uint8_t>(i);
    }
    for (int i = 0; i < 6; ++i) {
      value['A' + i] = static_cast<std::uint8_t>(10 + i);
      value['a' + i] = static_cast<std::uint8_t>(10 + i);
    }
  }
};
constexpr HexTable kHex;

inline std::uint8_t HexValue(char c) {
  return kHex.value[static_cast<unsigned char>(c)];
}

// Reads the section address after "@" as the MSP430 tools write it: optional
// blanks, then hex digits. Leading zeros are fine; a value that does not fit
// the 20-bit address space cannot be written as an image marker.
bool ParseSectionAddress(std::string_view section, std::size_t& pos, std::uint32_t& address) {
  while (pos < section.size() && (section[pos] == ' ' || section[pos] == '\t')) {
    ++pos;
  }
  const std::size_t first = pos;
  std::uint32_t value = 0;
  while (pos < section.size() && HexValue(section[pos]) != kNotHex) {
    value = (value << 4) | HexValue(section[pos]);
    if (value >= kImageAddressLimit) {
      return false;
    }
    ++pos;
  }
  address = value;
  return pos > first;
}

// Reads the vector words of a section at 0xFFE0-0xFFFE. Returns where the
// data go on past 0xFFFF (npos when they do not): tools for the larger parts
// write the vectors and the program above 64 KiB as one section.
std::size_t ReadVectorSection(std::string_view data, std::uint32_t address, VectorTable& vectors,
                              TiTxtStatus& status) {
  std::size_t index = (address - kVectorTableStart) / 2;
  std::uint8_t group[kImageDigitsPerWord];
  std::size_t held = 0;
  status = TiTxtStatus::kConverted;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const std::uint8_t v = HexValue(data[i]);
    if (v == kNotHex) {
      continue;
    }
    if (index == kVectorCount) {
      return i;
    }
    group[held++] = v;
    if (held == kImageDigitsPerWord) {
      held = 0;
      // TI-TXT lists bytes in memory order: "abcd" is low byte ab, high byte cd.
      vectors[index++] = static_cast<std::uint16_t>((group[2] << 12) | (group[3] << 8) |
                                                    (group[0] << 4) | group[1]);
    }
  }
  if (held != 0) {
    status = TiTxtStatus::kOddVectorDigits;
  }
  return std::string_view::npos;
}

TiTxtStatus AppendProgramSection(std::string_view data, std::uint32_t address, std::string& text) {
  // The section can never give more than its own characters plus the marker
  // and one completed word: room for that is made first, then filled through
  // a pointer and cut to what was written. No input can write past it.
  const std::size_t base = text.size();
  text.resize(base + kImageMarkerLength + data.size() + kImageDigitsPerWord);
  char* out = text.data() + base;
  const std::string marker = FormatImageMarker(address);
  std::memcpy(out, marker.data(), kImageMarkerLength);
  out += kImageMarkerLength;
  char group[kImageDigitsPerWord] = {};
  std::size_t held = 0;
  std::size_t digits = 0;
  for (const char c : data) {
    const std::uint8_t v = HexValue(c);
    if (v == kNotHex) {
      continue;
    }
    group[held++] = kHexDigits[v];
    if (held == kImageDigitsPerWord) {
      held = 0;
      digits += kImageDigitsPerWord;
      out[0] = group[2];
      out[1] = group[3];
      out[2] = group[0];
      out[3] = group[1];
      out += kImageDigitsPerWord;
    }
  }
  // A last incomplete word is completed with erased (F) digits where the file
  // gave none: a -> FFaF, ab -> FFab, abc -> cFab.
  if (held != 0) {
    const char word[3][kImageDigitsPerWord] = {{'F', 'F', group[0], 'F'},
                                               {'F', 'F', group[0], group[1]},
                                               {group[2], 'F', group[0], group[1]}};
    std::memcpy(out, word[held - 1], kImageDigitsPerWord);
    out += kImageDigitsPerWord;
  }
  text.resize(static_cast<std::size_t>(out - text.data()));
  digits += held;
  const std::uint64_t bytes = (digits + 1) / 2;
  if (address + bytes > kImageAddressLimit) {
    return TiTxtStatus::kBeyondAddressSpace;
  }
  return TiTxtStatus::kConverted;
}

TiTxtStatus ConvertTiTxtUnguarded(std::string_view fileText, FirmwareImage& out) {
  if (fileText.empty() || fileText.front() != kImageMarker) {
    return TiTxtStatus::kNoLeadingAt;
  }
  // A text file holds no NUL: the text ends at the first one, so a NUL before
  // the "q" means the end line is missing.
  const void* qAt = std::memchr(fileText.data(), kTiTxtEnd, fileText.size());
  if (qAt == nullptr) {
    return TiTxtStatus::kNoEnd;
  }
  const std::string_view body =
      fileText.substr(0, static_cast<std::size_t>(static_cast<const char*>(qAt) - fileText.data()));
  if (std::memchr(body.data(), '\0', body.size()) != nullptr) {
    return TiTxtStatus::kNoEnd;
  }

  FirmwareImage image;
  image.vectors = ErasedVectors();
  image.text.reserve(body.size());
  bool vectorsFound = false;
  bool programFound = false;
  std::size_t at = 0;
  while (at < body.size()) {
    const std::size_t next = body.find(kImageMarker, at + 1);
    const std::size_t end = next == std::string_view::npos ? body.size() : next;
    const std::string_view section = body.substr(at, end - at);
    std::size_t pos = 1;
    std::uint32_t address = 0;
    if (!ParseSectionAddress(section, pos, address)) {
      return TiTxtStatus::kBadAddress;
    }
    const std::size_t lineEnd = section.find(kLineFeed, pos);
    if (lineEnd == std::string_view::npos) {
      return TiTxtStatus::kNoLineEnd;
    }
    const std::string_view data = section.substr(lineEnd + 1);
    TiTxtStatus status = TiTxtStatus::kConverted;
    if (address >= kVectorTableStart && address <= kVectorTableLast) {
      vectorsFound = true;
      const std::size_t beyond = ReadVectorSection(data, address, image.vectors, status);
      if (status == TiTxtStatus::kConverted && beyond != std::string_view::npos) {
        programFound = true;
        status = AppendProgramSection(data.substr(beyond), kVectorTableEnd, image.text);
      }
    } else if (address >= kSkippedAreaStart && address <= kSkippedAreaLast) {
      // Left out on purpose: see kSkippedAreaStart.
    } else {
      programFound = true;
      status = AppendProgramSection(data, address, image.text);
    }
    if (status != TiTxtStatus::kConverted) {
      return status;
    }
    at = end;
  }
  if (!vectorsFound) {
    return TiTxtStatus::kNoVectors;
  }
  // An image with nothing to write would let the update erase the flash and
  // then fail: refuse it while nothing has been touched.
  if (!programFound) {
    return TiTxtStatus::kNoProgram;
  }
  out = std::move(image);
  return TiTxtStatus::kConverted;
}

} // namespace

const char* TiTxtStatusText(TiTxtStatus status) {
  switch (status) {
  case TiTxtStatus::kConverted:
    return "ok";
  case TiTxtStatus::kNoLeadingAt:
    return "does not begin with @";
  case TiTxtStatus::kNoEnd:
    return "no q end line";
  case TiTxtStatus::kBadAddress:
    return "section address missing or beyond 20 bits";
  case TiTxtStatus::kNoLineEnd:
    return "no line feed after a section address";
  case TiTxtStatus::kOddVectorDigits:
    return "incomplete word in the vector section";
  case TiTxtStatus::kNoVectors:
    return "no vector section";
  case TiTxtStatus::kNoProgram:
    return "no program data";
  case TiTxtStatus::kBeyondAddressSpace:
    return "data beyond the 20-bit address space";
  case TiTxtStatus::kOutOfMemory:
    return "out of memory";
  }
  return "unknown";
}

VectorTable ErasedVectors() {
  VectorTable v;
  v.fill(kErasedWord);
  return v;
}

TiTxtStatus ConvertTiTxt(std::string_view fileText, FirmwareImage& out) {
  try {
    return ConvertTiTxtUnguarded(fileText, out);
  } catch (const std::bad_alloc&) {
    return TiTxtStatus::kOutOfMemory;
  } catch (const std::length_error&) {
    return TiTxtStatus::kOutOfMemory;
  }
}

std::string FormatImageDump(std::string_view imageText, const VectorTable& vectors) {
  std::string out;
  out.reserve(imageText.size() + imageText.size() / kDumpDigitsPerLine + 128);
  std::size_t lineCount = 0;
  std::size_t i = 0;
  while (i < imageText.size()) {
    if (imageText[i] == kImageMarker) {
      const std::size_t n = std::min(kImageMarkerLength, imageText.size() - i);
      out.append(imageText.substr(i, n));
      out += kLineFeed;
      lineCount = 0;
      i += n;
      continue;
    }
    out += imageText[i++];
    if (++lineCount == kDumpDigitsPerLine) {
      out += kLineFeed;
      lineCount = 0;
    }
  }
  out += kLineFeed;
  out += kImageMarker;
  out += "FFE0";
  out += kLineFeed;
  for (std::size_t k = 0; k < kVectorCount; ++k) {
    for (int shift = 12; shift >= 0; shift -= 4) {
      out += kHexDigits[(vectors[k] >> shift) & 0xF];
    }
    if ((k + 1) % kDumpVectorsPerLine == 0) {
      out += kLineFeed;
    }
  }
  return out;
}

std::int64_t ImageTextSum(std::string_view imageText) {
  std::int64_t sum = 0;
  for (const char c : imageText) {
    sum += static_cast<signed char>(c);
  }
  return sum;
}

std::string FormatImageMarker(std::uint32_t address) {
  std::string marker(kImageMarkerLength, '0');
  marker[0] = kImageMarker;
  for (std::size_t i = 0; i < 5; ++i) {
    marker[kImageMarkerLength - 1 - i] = kHexDigits[(address >> (4 * i)) & 0xF];
  }
  return marker;
}

void AppendImageWords(std::string& text, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; i += 2) {
    const std::uint8_t lo = bytes[i];
    const std::uint8_t hi = i + 1 < count ? bytes[i + 1] : 0xFF;
    const char word[kImageDigitsPerWord] = {kHexDigits[hi >> 4], kHexDigits[hi & 0xF],
                                            kHexDigits[lo >> 4], kHexDigits[lo & 0xF]};
    text.append(word, kImageDigitsPerWord);
  }
}

bool DecodeImageWords(std::string_view digits, std::vector<std::uint8_t>& bytes) {
  if (digits.size() % kImageDigitsPerWord != 0) {
    return false;
  }
  bytes.clear();
  bytes.reserve(digits.size() / 2);
  for (std::size_t i = 0; i < digits.size(); i += kImageDigitsPerWord) {
    std::uint8_t v[kImageDigitsPerWord];
    for (std::size_t k = 0; k < kImageDigitsPerWord; ++k) {
      v[k] = HexValue(digits[i + k]);
      if (v[k] == kNotHex) {
        return false;
      }
    }
    bytes.push_back(static_cast<std::uint8_t>((v[2] << 4) | v[3]));
    bytes.push_back(static_cast<std::uint8_t>((v[0] << 4) | v[1]));
  }
  return true;
}

bool SplitImageText(std::string_view imageText, std::vector<ImageSegment>& segments) {
  segments.clear();
  if (imageText.empty() || imageText.front() != kImageMarker) {
    return false;
  }
  std::size_t at = 0;
  while (at < imageText.size()) {
    if (imageText.size() - at < kImageMarkerLength) {
      return false;
    }
    ImageSegment segment;
    for (std::size_t i = 1; i < kImageMarkerLength; ++i) {
      const std::uint8_t v = HexValue(imageText[at + i]);
      if (v == kNotHex) {
        return false;
      }
      segment.address = (segment.address << 4) | v;
    }
    const std::size_t dataStart = at + kImageMarkerLength;
    std::size_t next = imageText.find(kImageMarker, dataStart);
    if (next == std::string_view::npos) {
      next = imageText.size();
    }
    if (!DecodeImageWords(imageText.substr(dataStart, next - dataStart), segment.bytes)) {
      return false;
    }
    segments.push_back(std::move(segment));
    at = next;
  }
  return true;
}

bool ForEachImageByte(std::string_view imageText, const VectorTable& vectors,
                      const std::function<void(std::uint32_t, std::uint8_t)>& visit) {
  std::vector<ImageSegment> segments;
  const bool whole = SplitImageText(imageText, segments);
  for (const ImageSegment& segment : segments) {
    for (std::size_t i = 0; i < segment.bytes.size(); ++i) {
      visit(static_cast<std::uint32_t>((segment.address + i) % kImageAddressLimit),
            segment.bytes[i]);
    }
  }
  if (!whole) {
    return false;
  }
  for (std::size_t k = 0; k < kVectorCount; ++k) {
    const auto address = static_cast<std::uint32_t>(kVectorTableStart + 2 * k);
    visit(address, static_cast<std::uint8_t>(vectors[k] & 0xFF));
    visit(address + 1, static_cast<std::uint8_t>(vectors[k] >> 8));
  }
  return true;
}

std::string FormatTiTxt(const std::vector<MemoryBlock>& blocks, const VectorTable& vectors) {
  constexpr std::size_t kBytesPerLine = 16;
  std::string out;
  std::size_t byteCount = 0;
  for (const MemoryBlock& block : blocks) {
    byteCount += block.bytes.size();
  }
  out.reserve(byteCount * 3 + blocks.size() * 8 + 128);
  auto appendBlock = [&out](std::uint32_t address, const std::uint8_t* bytes, std::size_t count) {
    out += kImageMarker;
    const int width = address > 0xFFFF ? 5 : 4;
    for (int i = width - 1; i >= 0; --i) {
      out += kHexDigits[(address >> (4 * i)) & 0xF];
    }
    out += kLineFeed;
    for (std::size_t i = 0; i < count; ++i) {
      out += kHexDigits[bytes[i] >> 4];
      out += kHexDigits[bytes[i] & 0xF];
      out += (i + 1) % kBytesPerLine == 0 || i + 1 == count ? kLineFeed : ' ';
    }
  };
  std::uint8_t vectorBytes[2 * kVectorCount];
  for (std::size_t k = 0; k < kVectorCount; ++k) {
    vectorBytes[2 * k] = static_cast<std::uint8_t>(vectors[k] & 0xFF);
    vectorBytes[2 * k + 1] = static_cast<std::uint8_t>(vectors[k] >> 8);
  }
  // Sections in ascending address order, the vectors in their place, as the
  // MSP430 tools write them.
  bool vectorsWritten = false;
  for (const MemoryBlock& block : blocks) {
    if (!vectorsWritten && block.address > kVectorTableStart) {
      appendBlock(kVectorTableStart, vectorBytes, sizeof vectorBytes);
      vectorsWritten = true;
    }
    appendBlock(block.address, block.bytes.data(), block.bytes.size());
  }
  if (!vectorsWritten) {
    appendBlock(kVectorTableStart, vectorBytes, sizeof vectorBytes);
  }
  out += kTiTxtEnd;
  out += kLineFeed;
  return out;
}

} // namespace zuro
