#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <string>

#include "bsl/BuiltInImage.h"
#include "bsl/FirmwareIdentity.h"
#include "bsl/ImageText.h"
#include "firmware/FirmwareGenerator.h"

namespace zuro {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Loads an image into a byte map the way a device's flash would hold it and
// inspects its identity block and CRC.
FirmwareInspection InspectImage(const FirmwareImage& image, std::uint32_t programStart) {
  std::map<std::uint32_t, std::uint8_t> flash;
  EXPECT_TRUE(ForEachImageByte(image.text, image.vectors,
                               [&](std::uint32_t a, std::uint8_t b) { flash[a] = b; }));
  return InspectFirmware(
      [&](std::uint32_t a) {
        const auto it = flash.find(a);
        return it == flash.end() ? std::uint8_t{0xFF} : it->second;
      },
      programStart, kImageAddressLimit);
}

TEST(CommittedFirmware, IsExactlyWhatTheGeneratorMakesNow) {
  const std::string committed = ReadFile(ZURO_FIRMWARE_DIR "/du70-2.30.txt");
  ASSERT_FALSE(committed.empty());
  EXPECT_TRUE(committed == GenerateFirmwareTiTxt(FirmwareLayout{}))
      << "firmware/du70-2.30.txt differs from zuro-firmware-gen's output; regenerate it";
}

TEST(BuiltInImage, HasTheDu70ShapeAndAGoodIdentity) {
  const std::string_view text(kBuiltInImage.text);
  EXPECT_STREQ(kBuiltInImage.name, "Du70 2.30");
  EXPECT_EQ(kBuiltInImage.kind, 3);
  EXPECT_EQ(kBuiltInImage.vectors, kDu70Vectors);
  ASSERT_EQ(text.size(), 113764u);
  EXPECT_EQ(kBuiltInImage.textLength, text.size());
  EXPECT_EQ(kBuiltInImage.textSum, ImageTextSum(text));

  std::vector<ImageSegment> segments;
  ASSERT_TRUE(SplitImageText(text, segments));
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].address, 0x1200u);
  EXPECT_EQ(segments[0].bytes.size(), 56844u);
  EXPECT_EQ(segments[1].address, 0xFFC0u);
  EXPECT_EQ(segments[1].bytes, std::vector<std::uint8_t>(32, 0xFF));
  EXPECT_EQ(text.substr(0, 14), "@0120040313000"); // mov #0x3000, SP

  const FirmwareInspection got =
      InspectImage({std::string(text), kBuiltInImage.vectors}, kDu70ProgramStart);
  EXPECT_EQ(got.state, FirmwareState::kGood);
  EXPECT_EQ(got.identity, "DU70 2.30");
  EXPECT_EQ(got.programLength, 56844u);
}

TEST(Generator, OtherLayoutsLoadAndCarryTheirOwnIdentity) {
  FirmwareLayout sensor;
  sensor.identity = "SENSOR 1.10";
  sensor.programStart = 0x8000;
  sensor.programLength = 30001; // odd: the last word is completed with an erased byte
  sensor.fillLength = 0;
  FirmwareImage image;
  ASSERT_EQ(ConvertTiTxt(GenerateFirmwareTiTxt(sensor), image), TiTxtStatus::kConverted);
  EXPECT_EQ(image.vectors[15], 0x8000);
  EXPECT_EQ(image.vectors[1], 0x174C - 0x1200 + 0x8000);
  EXPECT_EQ(image.text.size(), 6u + 4 * 15001);
  const FirmwareInspection got = InspectImage(image, 0x8000);
  EXPECT_EQ(got.state, FirmwareState::kGood);
  EXPECT_EQ(got.identity, "SENSOR 1.10");

  FirmwareLayout next;
  next.identity = "DU70 2.31";
  EXPECT_NE(GenerateFirmwareTiTxt(next), GenerateFirmwareTiTxt(FirmwareLayout{}));
}

TEST(Generator, RefusesLayoutsThatCannotBeAnImage) {
  auto layout = [](std::uint32_t start, std::uint32_t length, std::uint32_t fill,
                   std::string identity = "DU70 2.30") {
    FirmwareLayout l;
    l.programStart = start;
    l.programLength = length;
    l.fillLength = fill;
    l.identity = std::move(identity);
    return l;
  };
  const struct {
    const char* why;
    FirmwareLayout layout;
  } cases[] = {
      {"too short", layout(0x1200, 20, 32)},
      {"identity too long", layout(0x1200, 1000, 32, std::string(30, 'X'))},
      {"into the vectors", layout(0xF000, 0x1000, 0)},
      {"over the fill", layout(0x1200, 0xF000, 32)},
      {"skipped area", layout(0xFA00, 64, 0)},
      {"past 20 bits", layout(0xFFF00, 0x200, 0)},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_TRUE(GenerateFirmwareTiTxt(c.layout, &error).empty()) << c.why;
    EXPECT_FALSE(error.empty()) << c.why;
  }
}

} // namespace
} // namespace zuro
