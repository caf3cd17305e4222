#include "protocol/DeviceFamilyTable.h"

#include <gtest/gtest.h>
#include <string>

#include "protocol/ConnectionRecord.h"

namespace zuro {
namespace {

TEST(DeviceFamilyTable, IdentityCodesCompareInUpperCase) {
  EXPECT_EQ(FamilyByIdentityCode("DU70").familyCode, kFamilyDu70);
  EXPECT_STREQ(FamilyByIdentityCode("du70").familyName, "Du70");
  EXPECT_EQ(FamilyByIdentityCode("lq7b").familyCode, kFamilyLq7b);
  EXPECT_EQ(FamilyByIdentityCode("Vuska_Cal").familyCode, kFamilyCalibrator);
  EXPECT_EQ(FamilyByIdentityCode("ABC").familyCode, kFamilyUnknown);
  EXPECT_STREQ(FamilyByIdentityCode("").familyName, "Unknown");
  EXPECT_STREQ(FamilyName(kFamilyGeneric), "Generic");
  EXPECT_STREQ(FamilyName(99), "Unknown");
}

struct CapabilityCase {
  std::int8_t family;
  std::int32_t version;
  bool newFirmware;
  std::uint32_t mask;
  std::uint32_t memory;
};

class Capabilities : public ::testing::TestWithParam<CapabilityCase> {};

TEST_P(Capabilities, FollowFamilyAndVersion) {
  const CapabilityCase& c = GetParam();
  const auto caps = CapabilitiesFor(c.family, c.version, c.newFirmware);
  EXPECT_EQ(caps.mask, c.mask) << int(c.family) << " " << c.version;
  EXPECT_EQ(caps.memorySize, c.memory);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Capabilities,
    ::testing::Values(CapabilityCase{kFamilyDu70, 230, true, 0x5E7FFF7, 36864},
                      CapabilityCase{kFamilyDu70, 104, true, 0x7737, 36864},
                      CapabilityCase{kFamilyDu70, 105, true, 0x77B7, 36864},
                      CapabilityCase{kFamilyDu70, 118, true, 0xC7FFF7, 36864},
                      CapabilityCase{kFamilyDu70, 201, true, 0x1E7FFF7, 36864},
                      CapabilityCase{kFamilyLq7b, 204, true, 0x474BE, 3348},
                      CapabilityCase{kFamilyLq7b, 203, true, 0x74BE, 3348},
                      CapabilityCase{kFamilyLq7, 150, true, 0x371F, 3384},
                      CapabilityCase{kFamilyLq7, 150, false, 0x331C, 3384},
                      CapabilityCase{kFamilyTrellisbase, 109, true, 0x24583, 28672},
                      CapabilityCase{kFamilyTrellisbase, 104, true, 0x4503, 28672},
                      CapabilityCase{kFamilyCommDevice, 100, true, 0x3007, 0},
                      CapabilityCase{kFamilyCalibrator, 100, true, 0x10026, 0},
                      CapabilityCase{kFamilyVantorix, 123, true, 0x1D3083, 5000},
                      CapabilityCase{kFamilyQt7, 100, true, 0x5E3FFF7, 36864},
                      CapabilityCase{kFamilyKvl3, 100, true, 0x7C3F6F7, 36864},
                      CapabilityCase{kFamilyUnknown, 100, true, 0x1005, 0},
                      CapabilityCase{kFamilyTrellisnet, 300, true, 0x1005, 0},
                      CapabilityCase{kFamilyGeneric, 300, true, 0x1005, 0},
                      CapabilityCase{13, 300, true, 0x1005, 0}));

TEST(CheckDeviceName, TheNameRule) {
  struct Case {
    std::string name;
    Result expected;
  } cases[] = {{"NODE1", 1},
               {"node 1", kErrNameBadChar},
               {"a:b", kErrNameForbiddenChar},
               {"query", kErrNameReserved},
               {"Query", 1}, // the comparison is exact
               {"", kErrNameEmpty},
               {"NINECHARS", kErrNameLength},
               {"caf\xE9", kErrNameHighChar},
               {"ab\x7F", kErrNameBadChar},
               {"ab\xFF", kErrNameBadChar},
               {"tab\t", kErrNameBadChar},
               {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", kErrNameHighChar}, // 8 bytes above 127
               {"a\\b", kErrNameForbiddenChar},
               {"a\"b", kErrNameForbiddenChar},
               {"12345678", 1},
               {std::string("AB\0CD", 5), 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(CheckDeviceName(c.name), c.expected) << c.name;
  }
}

TEST(LinkSpeeds, TableAndBaudCodes) {
  EXPECT_EQ(LinkSpeedAt(2), 9600u);
  EXPECT_EQ(LinkSpeedAt(5), 57600u);
  EXPECT_EQ(LinkSpeedAt(8), 460800u);
  EXPECT_EQ(LinkSpeedAt(9), 0u);
  EXPECT_EQ(LinkSpeedAt(255), 0u);
  EXPECT_EQ(BaudCodeFor(9600), 0);
  EXPECT_EQ(BaudCodeFor(57600), 3);
  EXPECT_EQ(BaudCodeFor(460800), 6);
  EXPECT_EQ(BaudCodeFor(1200), -1);
  EXPECT_EQ(BaudCodeFor(14400), -1);
}

} // namespace
} // namespace zuro
