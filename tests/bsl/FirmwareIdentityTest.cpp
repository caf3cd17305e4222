#include <gtest/gtest.h>

#include <cstring>

#include "bsl/FirmwareIdentity.h"

namespace zuro {
namespace {

TEST(Crc32, KnownCheckValue) {
  const char* text = "123456789";
  EXPECT_EQ(Crc32(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text)), 0xCBF43926u);
}

class StampedFlash : public ::testing::Test {
protected:
  static constexpr std::uint32_t kStart = 0x1200;
  static constexpr std::uint32_t kEnd = 0x10000;
  void SetUp() override {
    flash_.assign(kEnd, 0xFF);
    std::vector<std::uint8_t> program(1000);
    for (std::size_t i = 0; i < program.size(); ++i) {
      program[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    ASSERT_TRUE(StampFirmware(program, "DU70 2.30"));
    std::memcpy(flash_.data() + kStart, program.data(), program.size());
  }
  FirmwareInspection Inspect() const {
    return InspectFirmware([this](std::uint32_t a) { return a < flash_.size() ? flash_[a] : 0xFF; },
                           kStart, kEnd);
  }
  std::vector<std::uint8_t> flash_;
};

TEST_F(StampedFlash, GoodFirmwareReportsItsIdentity) {
  const FirmwareInspection got = Inspect();
  EXPECT_EQ(got.state, FirmwareState::kGood);
  EXPECT_EQ(got.identity, "DU70 2.30");
  EXPECT_EQ(got.programLength, 1000u);
}

TEST_F(StampedFlash, OneClearedBitMakesItCorrupt) {
  flash_[kStart + 500] &= 0xFE;
  EXPECT_EQ(Inspect().state, FirmwareState::kCorrupt);
}

TEST_F(StampedFlash, ErasedOrNonsenseLengthIsSafe) {
  std::fill(flash_.begin() + kStart, flash_.begin() + kStart + 0x40, 0xFF);
  EXPECT_EQ(Inspect().state, FirmwareState::kMissing);
  SetUp();
  // A length far beyond the memory is judged corrupt without reading past it.
  flash_[kStart + 0x14 + 3] = 0x7F;
  EXPECT_EQ(Inspect().state, FirmwareState::kCorrupt);
}

TEST(StampFirmware, RefusesWhatDoesNotFit) {
  std::vector<std::uint8_t> tiny(kMinProgramSize - 1);
  EXPECT_FALSE(StampFirmware(tiny, "DU70 2.30"));
  std::vector<std::uint8_t> program(200);
  EXPECT_FALSE(StampFirmware(program, std::string(kIdentityTextSize, 'x')));
}

}  // namespace
}  // namespace zuro
