#include "service/DeviceKinds.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "core/ResultCodes.h" // header only: the numbers must agree, nothing is linked

namespace zuro {
namespace {

static_assert(kDeviceKindFound == kDone);
static_assert(kDeviceKindMissingArgument == kErrMissingArgument);
static_assert(kDeviceKindNotUnderstood == kErrNotUnderstood);

constexpr bool kY = true;
constexpr bool kN = false;

// The device kind table as the instruments' documentation lists it, written
// out independently of the library's own table.
struct ExpectedKind {
  int kind;
  const char* code;
  const char* name;
  std::uint32_t waitMs;
  bool save, erase, battery, login, clock, postInit, calibration, eraseWarning;
};

// clang-format off
const ExpectedKind kExpectedKinds[] = {
  { 0, "UNKNOWN",  "UNKNOWN",          7000, kN, kN, kN, kN, kN, kN, kN, kN},
  { 1, "LQ7",      "Lq7",              1000, kY, kN, kY, kN, kY, kY, kN, kY},
  { 2, "LQ7B",     "Lq7b",             1000, kY, kN, kY, kN, kY, kY, kN, kY},
  { 3, "DU70",     "Du70",             6000, kY, kY, kY, kN, kY, kY, kN, kY},
  { 4, "ZS",       "Trellisbase",      6000, kY, kY, kY, kN, kN, kY, kN, kY},
  { 5, "WJ",       "Trellisnet",       4000, kY, kY, kN, kN, kN, kY, kN, kY},
  { 6, "HLITE",    "Hygrant Lite",     8500, kY, kN, kN, kY, kN, kN, kN, kN},
  { 7, "TQ",       "TQ8 Pro",          7000, kY, kY, kY, kN, kY, kN, kN, kY},
  { 8, "QX20",     "LumaBar QX-20",    3000, kY, kY, kN, kN, kY, kN, kY, kY},
  { 9, "VH",       "Vivu Stomatrix",   7000, kY, kY, kY, kN, kY, kN, kY, kY},
  {10, "VUSKA-TE", "Digital Sensor",   1000, kN, kN, kN, kN, kN, kN, kN, kN},
  {11, "HSIG",     "Hygrsorb IG",      2000, kY, kY, kN, kN, kY, kN, kN, kY},
  {12, "Q3B",      "Hygrant Series 3", 2000, kY, kN, kN, kY, kN, kN, kN, kN},
  {13, "VCD",      "VCD",              7000, kY, kN, kY, kN, kN, kN, kN, kN},
  {14, "VX",       "Vantorix",         2000, kY, kY, kY, kN, kY, kN, kN, kY},
  {15, "HG4",      "Hygrant 4",       14000, kY, kY, kN, kY, kY, kN, kN, kY},
  {16, "KWM",      "Hygrant KWM",      9500, kY, kY, kN, kN, kY, kN, kN, kY},
  {17, "WQ7C",     "WQ7C",             2000, kY, kN, kN, kY, kN, kN, kN, kN},
  {18, "QT7",      "qT7",              6000, kY, kY, kY, kN, kY, kY, kN, kY},
  {19, "KVL",      "KVL3 Logger",      6000, kY, kY, kN, kN, kY, kY, kN, kY},
  {20, "ZUV",      "Hygrant Pre",      2000, kY, kN, kN, kY, kN, kN, kN, kN},
  {21, "SYLNODE",  "sylnode",          6000, kY, kN, kN, kN, kY, kY, kN, kN},
  {22, "HG4TDL",   "Hygrant 4 TDL",    8000, kY, kY, kN, kN, kY, kN, kN, kY},
  {23, "RWZ",      "PERMIX",           8000, kY, kY, kY, kN, kY, kN, kN, kY},
  {24, "FLOWDRIV", "FlowDriv",         2000, kY, kN, kY, kN, kN, kN, kN, kN},
};
// clang-format on

struct ExpectedLayout {
  std::vector<int> kinds;
  std::uint32_t flashStart, flashEnd;
  bool extended;
  std::uint32_t infoStart, infoSegments, infoSegmentSize, baud;
};

// clang-format off
const ExpectedLayout kExpectedLayouts[] = {
  {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 17, 18, 19, 20},
                    0x1100, 0xF9FF,  kN, 0x1000, 2, 128, 9600},
  {{10},            0x8000, 0xF9FF,  kN, 0x1000, 3, 64,  9600},
  {{14, 15, 21, 23}, 0x2100, 0x1FF00, kY, 0x1000, 3, 64,  57600},
  {{16},            0x5C00, 0x3BFFF, kY, 0x1800, 3, 128, 57600},
  {{22},            0x8000, 0x27FFF, kY, 0x1800, 4, 128, 57600},
  {{24},            0x8000, 0xF9FF,  kN, 0x1000, 3, 64,  9600},
};
// clang-format on

DeviceKindEntry Filled(int kind, std::uint32_t version) {
  DeviceKindEntry entry;
  FillDeviceKindEntry(kind, version, &entry);
  return entry;
}

TEST(DeviceKindTable, EveryRowMatches) {
  ASSERT_EQ(std::size(kExpectedKinds), static_cast<std::size_t>(kDeviceKindCount));
  for (const ExpectedKind& want : kExpectedKinds) {
    SCOPED_TRACE(want.code);
    const DeviceKindEntry got = Filled(want.kind, 230);
    EXPECT_EQ(got.kind, want.kind);
    EXPECT_EQ(got.displayName, want.name);
    EXPECT_EQ(got.version, 230u);
    EXPECT_EQ(got.identityText, "");
    EXPECT_EQ(got.restartWaitMs, want.waitMs);
    EXPECT_EQ(got.saveSettings, want.save);
    EXPECT_EQ(got.eraseData, want.erase);
    EXPECT_EQ(got.checkBattery, want.battery);
    EXPECT_EQ(got.logInFirst, want.login);
    EXPECT_EQ(got.setClock, want.clock);
    EXPECT_EQ(got.selfTestWithInit, want.postInit);
    EXPECT_EQ(got.calibrationReminder, want.calibration);
    EXPECT_EQ(DeviceKindEraseWarning(want.kind), want.eraseWarning);
    EXPECT_EQ(DeviceKindIdentityCode(want.kind), want.code);
    EXPECT_EQ(DeviceKindDisplayName(want.kind), want.name);
    // The code names its own kind, except kind 0, which no instrument reports.
    EXPECT_EQ(DeviceKindFromCode(want.code), want.kind);
  }
}

TEST(DeviceKindTable, EveryKindHasItsBootLoaderLayout) {
  std::vector<int> seen;
  for (const ExpectedLayout& want : kExpectedLayouts) {
    for (const int kind : want.kinds) {
      SCOPED_TRACE(kind);
      seen.push_back(kind);
      const DeviceKindEntry got = Filled(kind, 230);
      EXPECT_EQ(got.flashStart, want.flashStart);
      EXPECT_EQ(got.flashEnd, want.flashEnd);
      EXPECT_EQ(got.extendedAddressing, want.extended);
      EXPECT_EQ(got.infoStart, want.infoStart);
      EXPECT_EQ(got.infoSegments, want.infoSegments);
      EXPECT_EQ(got.infoSegmentSize, want.infoSegmentSize);
      EXPECT_EQ(got.bootLoaderBaud, want.baud);
    }
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kDeviceKindCount));
}

struct UpdatableCase {
  int kind;
  std::uint32_t version;
  bool updatable;
};

TEST(DeviceKindTable, UpdatableByKindAndVersion) {
  // clang-format off
  const UpdatableCase cases[] = {
    {0, 0, kN}, {0, 230, kN}, {0, UINT32_MAX, kN},
    {1, 0, kN}, {1, UINT32_MAX, kN}, {5, 0, kN}, {5, UINT32_MAX, kN},
    {3, 102, kN}, {3, 103, kY}, {3, UINT32_MAX, kY},
    {4, 104, kN}, {4, 105, kY},
    {6, 117, kN}, {6, 118, kY},
    {8, 149, kN}, {8, 150, kY},
    {12, 350, kN}, {12, 351, kY},
  };
  // clang-format on
  for (const UpdatableCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "kind " << c.kind << " version " << c.version);
    EXPECT_EQ(Filled(c.kind, c.version).updatable, c.updatable);
  }
  for (const int kind : {2, 7, 9, 10, 11, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24}) {
    SCOPED_TRACE(kind);
    EXPECT_TRUE(Filled(kind, 0).updatable);
    EXPECT_TRUE(Filled(kind, UINT32_MAX).updatable);
  }
}

TEST(DeviceKindTable, OnlyKinds15And22CarryAVersionRange) {
  for (int kind = 0; kind < kDeviceKindCount; ++kind) {
    SCOPED_TRACE(kind);
    const DeviceKindEntry got = Filled(kind, 201);
    if (kind == 15) {
      EXPECT_TRUE(got.versionRangeCheck);
      EXPECT_EQ(got.lowestVersion, 202u);
      EXPECT_EQ(got.highestVersion, 999u);
    } else if (kind == 22) {
      EXPECT_TRUE(got.versionRangeCheck);
      EXPECT_EQ(got.lowestVersion, 200u);
      EXPECT_EQ(got.highestVersion, 299u);
    } else {
      EXPECT_FALSE(got.versionRangeCheck);
      EXPECT_EQ(got.lowestVersion, 0u);
      EXPECT_EQ(got.highestVersion, 0u);
    }
  }
}

TEST(FillDeviceKindEntry, ClearsWhatTheEntryHeldBefore) {
  DeviceKindEntry entry = Filled(15, 500);
  entry.identityText = "HG4 5.00";
  FillDeviceKindEntry(3, 230, &entry);
  EXPECT_EQ(entry, Filled(3, 230));
  EXPECT_EQ(entry.identityText, "");
  EXPECT_FALSE(entry.versionRangeCheck);
  EXPECT_EQ(entry.lowestVersion, 0u);
}

TEST(FillDeviceKindEntry, KindsOutsideTheTableBecomeUnknown) {
  const DeviceKindEntry unknown = Filled(0, 230);
  EXPECT_EQ(unknown.displayName, "UNKNOWN");
  EXPECT_FALSE(unknown.updatable);
  for (const int kind : {25, 26, 127, 1000, -1, -128, INT_MIN, INT_MAX}) {
    SCOPED_TRACE(kind);
    EXPECT_EQ(Filled(kind, 230), unknown);
    EXPECT_EQ(DeviceKindIdentityCode(kind), "UNKNOWN");
    EXPECT_EQ(DeviceKindDisplayName(kind), "UNKNOWN");
    EXPECT_FALSE(DeviceKindEraseWarning(kind));
  }
  FillDeviceKindEntry(3, 230, nullptr); // ignored, no crash
}

TEST(DeviceKindFromCode, ExactCodeInAnyCaseAndNothingElse) {
  EXPECT_EQ(DeviceKindFromCode("du70"), 3);
  EXPECT_EQ(DeviceKindFromCode("Hg4TdL"), 22);
  EXPECT_EQ(DeviceKindFromCode("vuska-te"), 10);
  // A longer or shorter code is another code: LQ7 is not LQ7B, HG4 not HG4TDL.
  EXPECT_EQ(DeviceKindFromCode("LQ7"), 1);
  EXPECT_EQ(DeviceKindFromCode("LQ7B"), 2);
  EXPECT_EQ(DeviceKindFromCode("HG4"), 15);
  EXPECT_EQ(DeviceKindFromCode("HG4T"), 0);
  EXPECT_EQ(DeviceKindFromCode("DU70 "), 0);
  EXPECT_EQ(DeviceKindFromCode(""), 0);
  EXPECT_EQ(DeviceKindFromCode("END"), 0);     // the terminator is no kind
  EXPECT_EQ(DeviceKindFromCode("UNKNOWN"), 0); // nor is kind 0 ever found by code
  EXPECT_EQ(DeviceKindFromCode(std::string("DU70\0", 5)), 0);
  EXPECT_EQ(DeviceKindFromCode("D\xDC"
                               "70"),
            0); // no case folding above 127
}

struct IdentityCase {
  const char* text;
  std::int32_t result;
  int kind;
  std::uint32_t version;
  bool updatable;
};

TEST(ParseDeviceIdentity, ReadsIdentityAnswers) {
  // clang-format off
  const IdentityCase cases[] = {
    {"DU70 2.30",          1,   3, 230, kY},
    {"DU70 1.02",          1,   3, 102, kN},
    {"DU70 1.03",          1,   3, 103, kY},
    {"du70 2.30",          1,   3, 230, kY},
    {"Du70 2.3",           1,   3, 230, kY},   // the sub digit is optional
    {"  DU70\t2.30\r\n",   1,   3, 230, kY},
    {"DU70 2.305 beta",    1,   3, 230, kY},   // what follows the sub digit is ignored
    {"DU70 +2.30",         1,   3, 230, kY},
    {"DU70 0.99",          1,   3, 99,  kN},
    {"LQ7B 2.04",          1,   2, 204, kY},
    {"LQ7 2.04",           1,   1, 204, kN},
    {"VUSKA-TE 1.00",      1,  10, 100, kY},
    {"HG4 2.01",           1,  15, 201, kY},   // the range guard acts later
    {"HG4TDL 3.00",        1,  22, 300, kY},
    {"FLOWDRIV 1.00",      1,  24, 100, kY},
    {"DU70 42949671.99",   1,   3, 4294967199u, kY},  // the largest version that fits
    {"XYZ 1.00",         -30,   0, 100, kN},
    {"END 1.00",         -30,   0, 100, kN},
    {"UNKNOWN 1.00",     -30,   0, 100, kN},
    {"DU70X 2.30",       -30,   0, 230, kN},
    {"D\xDC" "70 2.30",  -30,   0, 230, kN},
    {"DU70\xA0 2.30",    -30,   0, 230, kN},
  };
  // clang-format on
  for (const IdentityCase& c : cases) {
    SCOPED_TRACE(c.text);
    DeviceKindEntry entry;
    EXPECT_EQ(ParseDeviceIdentity(c.text, &entry), c.result);
    EXPECT_EQ(entry.kind, c.kind);
    EXPECT_EQ(entry.version, c.version);
    EXPECT_EQ(entry.updatable, c.updatable);
    EXPECT_EQ(entry.displayName, DeviceKindDisplayName(c.kind));
    EXPECT_EQ(entry.identityText, std::string(c.text).substr(0, kKindIdentityTextMax));
  }
}

TEST(ParseDeviceIdentity, VersionThatDoesNotReadLeavesTheEntryUntouched) {
  const char* texts[] = {
      "DU70 .30",
      "DU70 2.x",
      "DU70 2 .30",
      "DU70.",
      ".",
      "DU70 2.",
      "DU70 2.-3",
      "DU70 -1.00",
      "DU70 -2147483648.00",
      "DU70 42949672.00",
      "DU70 99999999999.99",
      "DU70 999999999999999999999999999999.99",
      "\xFF\xFE.\x80",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    DeviceKindEntry entry = Filled(3, 230);
    entry.identityText = "DU70 2.30";
    const DeviceKindEntry before = entry;
    EXPECT_EQ(ParseDeviceIdentity(text, &entry), -30);
    EXPECT_EQ(entry, before);
  }
}

TEST(ParseDeviceIdentity, TextWithoutPointIsNeverUpdatable) {
  const std::string texts[] = {
      "Du70 2",
      "DU70",
      "DU70 230",
      "12345678901234567890123456789",
      "LQ7B 204 1",
      " ",
      std::string(10000, 'A'),
      std::string(10000, '7'),
      "\x80\x81\xFE\xFF",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 40));
    DeviceKindEntry entry = Filled(3, 230);
    EXPECT_EQ(ParseDeviceIdentity(text.c_str(), &entry), -30);
    EXPECT_EQ(entry.kind, 0);
    EXPECT_EQ(entry.version, 0u);
    EXPECT_FALSE(entry.updatable);
    EXPECT_EQ(entry.displayName, "UNKNOWN");
    EXPECT_EQ(entry.identityText, text.substr(0, kKindIdentityTextMax));
  }
}

TEST(ParseDeviceIdentity, LongTextsStayWithinTheirFields) {
  // A huge code before a good version is an unknown code; a good identity with
  // a long tail keeps only the first 21 characters of the answer.
  const std::string longCode = std::string(10000, 'D') + " 2.30";
  DeviceKindEntry entry;
  EXPECT_EQ(ParseDeviceIdentity(longCode.c_str(), &entry), -30);
  EXPECT_EQ(entry.kind, 0);
  EXPECT_EQ(entry.identityText.size(), kKindIdentityTextMax);

  const std::string longTail = "DU70 2.30 " + std::string(10000, '.');
  EXPECT_EQ(ParseDeviceIdentity(longTail.c_str(), &entry), 1);
  EXPECT_EQ(entry.kind, 3);
  EXPECT_EQ(entry.version, 230u);
  EXPECT_EQ(entry.identityText, longTail.substr(0, kKindIdentityTextMax));
}

TEST(ParseDeviceIdentity, MissingArguments) {
  DeviceKindEntry entry = Filled(3, 230);
  const DeviceKindEntry before = entry;
  EXPECT_EQ(ParseDeviceIdentity(nullptr, &entry), -10);
  EXPECT_EQ(ParseDeviceIdentity("", &entry), -10);
  EXPECT_EQ(entry, before);
  EXPECT_EQ(ParseDeviceIdentity("DU70 2.30", nullptr), -10);
}

TEST(SensorTypeName, EveryListedTypeAndUnknownOnes) {
  const std::pair<unsigned int, const char*> cases[] = {
      {92, "SKYRA 22 Anemometer"},
      {93, "SKYRA 41 Sensor Suite"},
      {94, "PLU-3 Rain Gauge"},
      {95, "WV-8 Anemometer"},
      {102, "HT-6 Sensor"},
      {103, "BALVO 12 Sensor"},
      {104, "BALVO 11 Sensor"},
      {107, "BALVO 21 Sensor"},
      {108, "WPT-6 Sensor"},
      {109, "QM-4F Sensor"},
      {112, "HT-5 Sensor"},
      {113, "QM-4 Sensor"},
      {116, "WLX Sensor"},
      {117, "P7 Drain Gauge"},
      {119, "JR3 Sensor"},
      {120, "K4M Sensor"},
      {121, "WPT-2 Sensor"},
      {122, "K4E Sensor"},
      {123, "SKYRA 14 Sensor"},
      {124, "VUSKA-TE Sensor"},
      {125, "VU-QM Sensor"},
      {126, "VUSKA-TE Sensor"},
      {127, "VUSKA-TE Sensor"},
      {260, "NVX Family"},
      {261, "WPT-2 WPT-6 BALVO 21"},
      {262, "WLX Family"},
      {264, "BALVO 1x Family"},
      {300, "Unknown Sensor (type 300)"},
      {0, "Unknown Sensor (type 0)"},
      {105, "Unknown Sensor (type 105)"},
      {263, "Unknown Sensor (type 263)"},
      {UINT_MAX, "Unknown Sensor (type 4294967295)"},
  };
  for (const auto& [code, want] : cases) {
    SCOPED_TRACE(code);
    char name[kSensorTypeNameSize];
    std::fill(std::begin(name), std::end(name), '#');
    SensorTypeName(code, name);
    EXPECT_STREQ(name, want);
  }
}

} // namespace
} // namespace zuro
