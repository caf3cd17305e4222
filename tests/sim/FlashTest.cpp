#include "sim/Flash.h"

#include <gtest/gtest.h>

namespace zuro::sim {
namespace {

TEST(SimFlash, LayoutsFollowTheKindTable) {
  const MemoryLayout du70 = LayoutForKind(3);
  EXPECT_EQ(du70.infoStart, 0x1000u);
  EXPECT_EQ(du70.infoSegments, 2u);
  EXPECT_EQ(du70.infoSegmentSize, 128u);
  EXPECT_EQ(du70.flashStart, 0x1100u);
  EXPECT_EQ(du70.flashTop, 0x10000u);
  EXPECT_EQ(du70.programStart, 0x1200u);
  EXPECT_FALSE(du70.extendedAddressing);

  const MemoryLayout hg4 = LayoutForKind(15);
  EXPECT_TRUE(hg4.extendedAddressing);
  EXPECT_EQ(hg4.flashTop, 0x20000u);
  EXPECT_EQ(hg4.bootLoaderBaud, 57600u);
  EXPECT_EQ(hg4.infoSegmentSize, 64u);
  EXPECT_EQ(LayoutForKind(16).flashTop, 0x3C000u);
}

TEST(SimFlash, WritesOnlyClearBitsAndEraseSetsThemAgain) {
  Flash flash(LayoutForKind(3));
  ASSERT_EQ(flash.Write(0x2000, {0x0F, 0xF0}), FlashStatus::kOk);
  EXPECT_EQ(flash.ReadWord(0x2000), 0xF00F);
  // Asking for bits that are already cleared: the cell keeps old AND new and
  // the write does not verify.
  EXPECT_EQ(flash.Write(0x2000, {0xF0, 0x0F}), FlashStatus::kVerifyFailed);
  EXPECT_EQ(flash.ReadWord(0x2000), 0x0000);
  std::uint32_t start = 0;
  std::uint32_t size = 0;
  ASSERT_EQ(flash.EraseSegment(0x21FE, &start, &size), FlashStatus::kOk);
  EXPECT_EQ(start, 0x2000u);
  EXPECT_EQ(size, 512u);
  EXPECT_EQ(flash.ReadWord(0x2000), 0xFFFF);
}

TEST(SimFlash, SegmentsAreClippedToInfoAndMainFlash) {
  Flash flash(LayoutForKind(3));
  flash.Program(0x1000, std::vector<std::uint8_t>(0x300, 0));
  std::uint32_t start = 0;
  std::uint32_t size = 0;
  ASSERT_EQ(flash.EraseSegment(0x1085, &start, &size), FlashStatus::kOk);
  EXPECT_EQ(start, 0x1080u);
  EXPECT_EQ(size, 128u);
  EXPECT_EQ(flash.Read(0x107F), 0); // the other INFO segment is untouched
  ASSERT_EQ(flash.EraseSegment(0x1100, &start, &size), FlashStatus::kOk);
  EXPECT_EQ(start, 0x1100u); // the first main segment ends where INFO begins
  EXPECT_EQ(size, 256u);
  EXPECT_EQ(flash.Read(0x1200), 0);
}

TEST(SimFlash, ProtectedAndForeignAddressesAreRefusedWithoutChange) {
  Flash flash(LayoutForKind(3));
  flash.Program(0xFA00, {0x12, 0x34});
  const struct {
    std::uint32_t address;
    FlashStatus erase;
    FlashStatus write;
  } cases[] = {
      {0xFA00, FlashStatus::kBootLoaderArea, FlashStatus::kBootLoaderArea},
      {0xFDFE, FlashStatus::kBootLoaderArea, FlashStatus::kBootLoaderArea},
      {0xFE00, FlashStatus::kVectorSegment, FlashStatus::kOk},
      {0x0200, FlashStatus::kOutsideMemory, FlashStatus::kOutsideMemory},
      {0x10000, FlashStatus::kOutsideMemory, FlashStatus::kOutsideMemory},
      {0xFFFFF, FlashStatus::kOutsideMemory, FlashStatus::kOddAddress},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(flash.EraseSegment(c.address), c.erase) << std::hex << c.address;
    EXPECT_EQ(flash.Write(c.address, {0xFF, 0xFF}), c.write) << std::hex << c.address;
  }
  // A block that runs from main flash into the boot loader is refused whole.
  EXPECT_EQ(flash.Write(0xF9FE, {0, 0, 0, 0}), FlashStatus::kBootLoaderArea);
  EXPECT_EQ(flash.ReadWord(0xF9FE), 0xFFFF);
  EXPECT_EQ(flash.ReadWord(0xFA00), 0x3412);
}

TEST(SimFlash, InstalledFirmwareIsFoundThroughTheResetVector) {
  Flash flash(LayoutForKind(3));
  EXPECT_EQ(flash.Inspect().state, FirmwareState::kMissing);
  InstallFirmware(flash, MakeFirmwareProgram("DU70 2.20", 4096));
  EXPECT_EQ(flash.ResetVector(), 0x1200);
  const FirmwareInspection found = flash.Inspect();
  EXPECT_EQ(found.state, FirmwareState::kGood);
  EXPECT_EQ(found.identity, "DU70 2.20");
  EXPECT_EQ(MakeFirmwareProgram("DU70 2.20", 4096), MakeFirmwareProgram("DU70 2.20", 4096));
  // One cleared program byte breaks the CRC.
  std::uint32_t a = 0x1300;
  while (flash.Read(a) == 0) {
    a += 2;
  }
  ASSERT_EQ(flash.Write(a, {0, flash.Read(a + 1)}), FlashStatus::kOk);
  EXPECT_EQ(flash.Inspect().state, FirmwareState::kCorrupt);
  EXPECT_EQ(flash.Inspect().identity, "DU70 2.20");
}

} // namespace
} // namespace zuro::sim
