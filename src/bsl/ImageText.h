// The firmware image as this system holds it, and its text forms. The image
// is one string in "image text" form: segments, each an address marker "@"
// plus five upper-case hex digits, then the segment's 16-bit words as four hex
// digits each, most significant digit first (the word's low byte comes first
// in the device's memory: flash bytes B2 40 80 5A give "40B25A80"). The
// interrupt vectors live beside the text. These helpers convert TI-TXT files
// (the MSP430 tools' format) into that form, write the diagnostic dump, and
// turn image text back into memory bytes for the simulated device. They are
// pure: no files, no log, no serial line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zuro {

constexpr std::size_t kVectorCount = 16;
/// Interrupt vector k belongs at kVectorTableStart + 2k; vector 15 is the reset vector.
using VectorTable = std::array<std::uint16_t, kVectorCount>;

constexpr std::uint32_t kVectorTableStart = 0xFFE0; ///< address of vector 0
constexpr std::uint32_t kVectorTableLast = 0xFFFE;  ///< address of the reset vector
constexpr std::uint32_t kVectorTableEnd = 0x10000;  ///< first address after the vectors
/// TI-TXT sections starting in this area are never taken from a file: the
/// boot loader never erases 0xFA00-0xFFFF, so writing there could not work.
constexpr std::uint32_t kSkippedAreaStart = 0xFA00; ///< 64000
constexpr std::uint32_t kSkippedAreaLast = 0xFDFE;  ///< 65022
/// The image text carries 20-bit addresses (five hex digits).
constexpr std::uint32_t kImageAddressLimit = 0x100000; ///< bytes of address space
constexpr std::uint16_t kErasedWord = 0xFFFF;
constexpr char kImageMarker = '@';
constexpr std::size_t kImageMarkerLength = 6; ///< "@" and five digits
constexpr std::size_t kImageDigitsPerWord = 4;
constexpr std::size_t kDumpDigitsPerLine = 32; ///< eight words per dump line
constexpr std::size_t kDumpVectorsPerLine = 8;

/// Why a TI-TXT text was refused (kOk when it was taken).
enum class TiTxtStatus {
  kConverted,          ///< the text was read into an image
  kNoLeadingAt,        ///< the text does not begin with "@"
  kNoEnd,              ///< no "q" end line (a NUL byte also ends the text)
  kBadAddress,         ///< no hex number after "@", or beyond the 20-bit address space
  kNoLineEnd,          ///< no line feed after a section address
  kOddVectorDigits,    ///< the vector section ends in an incomplete word
  kNoVectors,          ///< no section at 0xFFE0-0xFFFE
  kNoProgram,          ///< no program data at all: nothing to write after the erase
  kBeyondAddressSpace, ///< a section's data runs past the 20-bit address space
  kOutOfMemory,
};

/// Short English reason for log lines and test messages.
const char* TiTxtStatusText(TiTxtStatus status);

/// A firmware image in memory: image text plus the vector table.
struct FirmwareImage {
  std::string text;
  VectorTable vectors{};
};

/// All sixteen vectors erased (0xFFFF).
VectorTable ErasedVectors();

/// Converts the content of a TI-TXT file. Only the part before the first "q"
/// counts; each section "@addr" LF data... is a vector section (0xFFE0-0xFFFE,
/// words stored from vector (addr - 0xFFE0) / 2 on, up to vector 15; data
/// running on past 0xFFFF is program data from 0x10000), a
/// skipped section (0xFA00-0xFDFE), or program data appended as a marker and
/// words. A last incomplete program word is completed with erased bytes.
/// Non-hex characters inside data are skipped; lower-case digits are taken and
/// written upper-case. On any status but kOk `out` is left untouched.
TiTxtStatus ConvertTiTxt(std::string_view fileText, FirmwareImage& out);

/// The diagnostic dump of an image: markers "@" + five digits on a line of
/// their own (written where they stand, with no line end before them), data
/// lines of 32 characters, then "\n@FFE0\n" and the vectors as two lines of
/// eight "%04X" words. It keeps image text order (words most significant digit
/// first) and has no "q" line: it is a record of the image, not a TI-TXT file
/// for the MSP430 tools.
std::string FormatImageDump(std::string_view imageText, const VectorTable& vectors);

/// Sum of the characters taken as signed bytes: with the length, the figure
/// the built-in image is checked against at start-up.
std::int64_t ImageTextSum(std::string_view imageText);

/// "@" and the address as five upper-case hex digits (address below 0x100000).
std::string FormatImageMarker(std::uint32_t address);

/// Appends memory bytes as image-text words: each byte pair lo, hi becomes
/// "HHLL"; an odd last byte is completed with an erased high byte.
void AppendImageWords(std::string& text, const std::uint8_t* bytes, std::size_t count);

/// Decodes image-text words (a W block's data, or a segment's digits) into
/// memory bytes, low byte first. False when the count is not a multiple of
/// four or a character is not a hex digit; `bytes` is then unspecified.
bool DecodeImageWords(std::string_view digits, std::vector<std::uint8_t>& bytes);

/// One segment of an image text, decoded.
struct ImageSegment {
  std::uint32_t address = 0;
  std::vector<std::uint8_t> bytes;
};

/// Splits an image text into its segments. False when the text is malformed
/// (not starting with a marker, a marker without five hex digits, data that is
/// not whole hex words); `segments` then holds what was read before the fault.
bool SplitImageText(std::string_view imageText, std::vector<ImageSegment>& segments);

/// Calls `visit(address, byte)` for every byte of the image text in text
/// order, then for the 32 vector bytes at 0xFFE0 (low byte first). False when
/// the text is malformed; bytes before the fault have been visited.
bool ForEachImageByte(std::string_view imageText, const VectorTable& vectors,
                      const std::function<void(std::uint32_t, std::uint8_t)>& visit);

/// One block of memory for writing a TI-TXT file.
struct MemoryBlock {
  std::uint32_t address = 0;
  std::vector<std::uint8_t> bytes;
};

/// Writes memory blocks (in ascending address order) and the vector table as
/// a TI-TXT file in the MSP430 tools' layout: "@ADDR" lines (four digits, five
/// when needed), 16 byte pairs per line separated by blanks, the vectors as a
/// section at 0xFFE0 in its place among the others, and "q".
std::string FormatTiTxt(const std::vector<MemoryBlock>& blocks, const VectorTable& vectors);

} // namespace zuro
