#include "bsl/ImageText.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <string>

namespace zuro {
namespace {

// 32 vector bytes: vector k = 0x1400 + k, reset vector 0x1200.
std::string VectorSection() {
  std::string s = "@FFE0\n";
  for (int k = 0; k < 16; ++k) {
    const int v = k == 15 ? 0x1200 : 0x1400 + k;
    char pair[8];
    std::snprintf(pair, sizeof pair, "%02X %02X ", v & 0xFF, v >> 8);
    s += pair;
    if (k % 8 == 7) {
      s += "\n";
    }
  }
  return s;
}

VectorTable SectionVectors() {
  VectorTable v{};
  for (int k = 0; k < 16; ++k) {
    v[k] = static_cast<std::uint16_t>(k == 15 ? 0x1200 : 0x1400 + k);
  }
  return v;
}

struct ConvertCase {
  const char* name;
  std::string file;
  TiTxtStatus status;
  std::string text; ///< expected image text when the file is taken
};

class ConvertTiTxtTable : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertTiTxtTable, GivesTextOrRefusesWithoutTouchingTheImage) {
  const ConvertCase& c = GetParam();
  FirmwareImage image{"@0ABCD1234", ErasedVectors()};
  image.vectors[3] = 0x5555;
  const FirmwareImage before = image;
  EXPECT_EQ(ConvertTiTxt(c.file, image), c.status) << TiTxtStatusText(ConvertTiTxt(c.file, image));
  if (c.status == TiTxtStatus::kConverted) {
    EXPECT_EQ(image.text, c.text);
  } else {
    EXPECT_EQ(image.text, before.text);
    EXPECT_EQ(image.vectors, before.vectors);
  }
}

const std::string kV = VectorSection();

INSTANTIATE_TEST_SUITE_P(
    Files, ConvertTiTxtTable,
    ::testing::Values(
        ConvertCase{"WordsSwapIntoImageOrder", "@1200\nB2 40 80 5A\n" + kV + "q\n",
                    TiTxtStatus::kConverted, "@0120040B25A80"},
        ConvertCase{"OddByteCountCompletedWithErasedByte", "@2000\n01 02 03\n" + kV + "q\n",
                    TiTxtStatus::kConverted, "@020000201FF03"},
        ConvertCase{"ThreeDigitsCompleted", "@2000\n01 0\n" + kV + "q", TiTxtStatus::kConverted,
                    "@020000F01"},
        ConvertCase{"CrLfAndLowerCaseTaken", "@1200\r\nb2 40 80 5a\r\n" + kV + "q\r\n",
                    TiTxtStatus::kConverted, "@0120040B25A80"},
        ConvertCase{"SkippedAreaLeftOut", "@FA00\n11 22\n@1200\n33 44\n" + kV + "q\n",
                    TiTxtStatus::kConverted, "@012004433"},
        ConvertCase{"LastSkippedAddressStillSkipped", "@FDFE\n11 22\n@1200\n33 44\n" + kV + "q\n",
                    TiTxtStatus::kConverted, "@012004433"},
        ConvertCase{"FirstAddressAfterSkippedAreaKept", "@FDFF\n11 22\n" + kV + "q\n",
                    TiTxtStatus::kConverted, "@0FDFF2211"},
        ConvertCase{"FiveDigitAddress", "@10000\n01 02\n" + kV + "q\n", TiTxtStatus::kConverted,
                    "@100000201"},
        ConvertCase{"OnlyTheTextBeforeQCounts", "@1200\n01 02\n" + kV + "q\n@2000\nZZ\n",
                    TiTxtStatus::kConverted, "@012000201"},
        ConvertCase{"Empty", "", TiTxtStatus::kNoLeadingAt, ""},
        ConvertCase{"OnlyQ", "q\n", TiTxtStatus::kNoLeadingAt, ""},
        ConvertCase{"NoAt", "1200\n01 02\nq\n", TiTxtStatus::kNoLeadingAt, ""},
        ConvertCase{"LeadingBlank", " @1200\n01 02\n" + kV + "q\n", TiTxtStatus::kNoLeadingAt, ""},
        ConvertCase{"NoQ", "@1200\n01 02\n" + kV, TiTxtStatus::kNoEnd, ""},
        ConvertCase{"NulBeforeQ", std::string("@1200\n01\0 02\n", 13) + kV + "q\n",
                    TiTxtStatus::kNoEnd, ""},
        ConvertCase{"NoAddress", "@\n01 02\n" + kV + "q\n", TiTxtStatus::kBadAddress, ""},
        ConvertCase{"NineDigitAddress", "@123456789\n01 02\n" + kV + "q\n",
                    TiTxtStatus::kBadAddress, ""},
        ConvertCase{"AddressBeyondTwentyBits", "@100000\n01 02\n" + kV + "q\n",
                    TiTxtStatus::kBadAddress, ""},
        ConvertCase{"NoLineEndAfterAddress", "@1200 01 02 " + kV + "q\n", TiTxtStatus::kNoLineEnd,
                    ""},
        ConvertCase{"AddressRightBeforeQ", "@1200\n01 02\n" + kV + "@2000q\n",
                    TiTxtStatus::kNoLineEnd, ""},
        ConvertCase{"CrOnlyLineEnds", "@1200\r01 02\r@FFE0\r00 12\rq\r", TiTxtStatus::kNoLineEnd,
                    ""},
        ConvertCase{"OddVectorDigits", "@1200\n01 02\n@FFFC\n00 12 3\nq\n",
                    TiTxtStatus::kOddVectorDigits, ""},
        ConvertCase{"NoVectors", "@1200\n01 02\nq\n", TiTxtStatus::kNoVectors, ""},
        ConvertCase{"OnlyVectors", kV + "q\n", TiTxtStatus::kNoProgram, ""},
        ConvertCase{"OnlySkippedProgram", "@FA00\n01 02\n" + kV + "q\n", TiTxtStatus::kNoProgram,
                    ""},
        ConvertCase{"DataPastTheAddressSpace", "@FFFFE\n01 02 03\n" + kV + "q\n",
                    TiTxtStatus::kBeyondAddressSpace, ""}),
    [](const ::testing::TestParamInfo<ConvertCase>& p) { return std::string(p.param.name); });

TEST(ConvertTiTxt, IncompleteWordsAreCompletedWithErasedDigits) {
  // a -> FFaF, ab -> FFab, abc -> cFab
  const struct {
    const char* data;
    const char* text;
  } cases[] = {{"1", "@01200FF1F"},
               {"12", "@01200FF12"},
               {"12 3", "@012003F12"},
               {"12 34 5", "@012003412FF5F"}};
  for (const auto& c : cases) {
    FirmwareImage image;
    ASSERT_EQ(ConvertTiTxt(std::string("@1200\n") + c.data + "\n" + kV + "q\n", image),
              TiTxtStatus::kConverted)
        << c.data;
    EXPECT_EQ(image.text, c.text) << c.data;
  }
}

TEST(ConvertTiTxt, VectorSectionFillsFromItsAddressAndRunsOnIntoTheExtendedFlash) {
  FirmwareImage image;
  // Eight words from 0xFFF0 (vectors 8..15), then program bytes from 0x10000
  // in the same section, as tools for the larger parts write them.
  ASSERT_EQ(ConvertTiTxt("@1200\n01 02\n@FFF0\n"
                         "08 00 09 00 0A 00 0B 00 0C 00 0D 00 0E 00 00 12 AA BB CC DD\nq\n",
                         image),
            TiTxtStatus::kConverted);
  for (std::size_t k = 0; k < 8; ++k) {
    EXPECT_EQ(image.vectors[k], 0xFFFF) << k;
  }
  for (std::size_t k = 8; k < 15; ++k) {
    EXPECT_EQ(image.vectors[k], k) << k;
  }
  EXPECT_EQ(image.vectors[15], 0x1200);
  EXPECT_EQ(image.text, "@012000201@10000BBAADDCC");

  ASSERT_EQ(ConvertTiTxt("@1200\n01 02\n" + kV + "q\n", image), TiTxtStatus::kConverted);
  EXPECT_EQ(image.text, "@012000201");
  EXPECT_EQ(image.vectors, SectionVectors());
}

TEST(ConvertTiTxt, LongSingleLineNeverOverrunsAndConvertsExactly) {
  // 10 MB on one line without blanks: converts into more text than a buffer
  // sized by the file's blanks would hold.
  std::string data(10 * 1024 * 1024, '0');
  for (std::size_t i = 0; i < data.size(); i += 4) {
    data[i] = 'A';
    data[i + 2] = 'B';
  }
  FirmwareImage image;
  EXPECT_EQ(ConvertTiTxt("@1200\n" + data + "\n" + kV + "q\n", image),
            TiTxtStatus::kBeyondAddressSpace);
  // The same line within the address space: many short sections, no blanks.
  std::string many;
  for (std::uint32_t a = 0x10000; a < 0x10000 + 4096 * 16; a += 16) {
    char line[64];
    std::snprintf(line, sizeof line, "@%X\n0102030405060708090A0B0C0D0E0F10\n", a);
    many += line;
  }
  ASSERT_EQ(ConvertTiTxt(many + kV + "q\n", image), TiTxtStatus::kConverted);
  EXPECT_EQ(image.text.size(), 4096u * (6 + 32));
  EXPECT_EQ(image.text.substr(0, 14), "@1000002010403");
}

TEST(ImageDump, MarkersWhereTheyStandAndVectorsAtTheEnd) {
  VectorTable v = ErasedVectors();
  v[15] = 0x1200;
  const std::string text = "@01200" + std::string(40, 'A') + "@0FFC0" + std::string(32, 'F');
  EXPECT_EQ(FormatImageDump(text, v), "@01200\n" + std::string(32, 'A') + "\n" +
                                          std::string(8, 'A') + "@0FFC0\n" + std::string(32, 'F') +
                                          "\n\n@FFE0\n" + std::string(32, 'F') + "\n" +
                                          std::string(28, 'F') + "1200\n");
}

TEST(ImageWords, EncodeDecodeAndSplitAgree) {
  const std::uint8_t bytes[] = {0xB2, 0x40, 0x80, 0x5A, 0x07};
  std::string text = FormatImageMarker(0x1200);
  AppendImageWords(text, bytes, sizeof bytes);
  EXPECT_EQ(text, "@0120040B25A80FF07");
  text += FormatImageMarker(0xFFC0) + "FFFF";

  std::vector<ImageSegment> segments;
  ASSERT_TRUE(SplitImageText(text, segments));
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].address, 0x1200u);
  EXPECT_EQ(segments[0].bytes, (std::vector<std::uint8_t>{0xB2, 0x40, 0x80, 0x5A, 0x07, 0xFF}));
  EXPECT_EQ(segments[1].address, 0xFFC0u);

  VectorTable v = ErasedVectors();
  v[15] = 0x1200;
  std::map<std::uint32_t, std::uint8_t> memory;
  ASSERT_TRUE(ForEachImageByte(text, v, [&](std::uint32_t a, std::uint8_t b) { memory[a] = b; }));
  EXPECT_EQ(memory.size(), 6u + 2u + 32u);
  EXPECT_EQ(memory[0x1201], 0x40);
  EXPECT_EQ(memory[0xFFFE], 0x00);
  EXPECT_EQ(memory[0xFFFF], 0x12);

  for (const char* bad : {"", "01200AAAA", "@0120", "@0120G", "@01200ABC", "@01200ABCG"}) {
    EXPECT_FALSE(SplitImageText(bad, segments)) << bad;
  }
}

TEST(ImageWords, TiTxtWriterRoundTripsThroughTheConverter) {
  std::vector<MemoryBlock> blocks = {{0x1200, {0xB2, 0x40, 0x80}}, {0x10000, {1, 2, 3, 4}}};
  VectorTable v = ErasedVectors();
  v[15] = 0x1200;
  const std::string file = FormatTiTxt(blocks, v);
  EXPECT_EQ(file.substr(0, 15), "@1200\nB2 40 80\n");
  FirmwareImage image;
  ASSERT_EQ(ConvertTiTxt(file, image), TiTxtStatus::kConverted);
  EXPECT_EQ(image.text, "@0120040B2FF80@1000002010403");
  EXPECT_EQ(image.vectors, v);
}

TEST(ImageTextSum, CountsSignedBytes) {
  EXPECT_EQ(ImageTextSum("@0"), 64 + 48);
  EXPECT_EQ(ImageTextSum(std::string("\x80\x01", 2)), -127);
}

} // namespace
} // namespace zuro
