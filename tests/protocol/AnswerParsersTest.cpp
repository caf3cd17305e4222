#include "protocol/AnswerParsers.h"

#include <gtest/gtest.h>
#include <string>

namespace zuro {
namespace {

using namespace std::string_literals;

TEST(AnswerText, EndsAtTheFirstNulOrTheBufferEnd) {
  const char withNul[] = {'D', 'U', '\0', '7', '0'};
  EXPECT_EQ(AnswerText(withNul, sizeof withNul), "DU");
  const char noNul[] = {'a', 'b', 'c'};
  EXPECT_EQ(AnswerText(noNul, sizeof noNul), "abc");
  EXPECT_EQ(AnswerText(nullptr, 10), "");
}

struct IdentityCase {
  const char* text;
  bool ok;
  const char* code;
  int version;
};

class IdentityText : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(IdentityText, ReadsCodeAndVersionLikeTheInstrumentsFormat) {
  const IdentityCase& c = GetParam();
  std::string code = "unchanged";
  std::int32_t version = -7;
  EXPECT_EQ(ParseIdentityText(c.text, code, version), c.ok) << c.text;
  if (c.ok) {
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(version, c.version);
  } else {
    EXPECT_EQ(code, "unchanged");
    EXPECT_EQ(version, -7);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IdentityText,
    ::testing::Values(IdentityCase{"DU70 2.30", true, "DU70", 230},
                      IdentityCase{"lq7b 2.04", true, "lq7b", 204},
                      IdentityCase{"ABC 1.0", true, "ABC", 100}, // sub absent: 0
                      IdentityCase{"X 3.4x", true, "X", 340},
                      IdentityCase{"  QT7\t1. 5 7", true, "QT7", 157}, // %1d skips blanks
                      IdentityCase{"DU70 2", false, "", 0},            // no point
                      IdentityCase{"DU70 2.", false, "", 0}, IdentityCase{"DU70 .30", false, "", 0},
                      IdentityCase{"DU70", false, "", 0}, IdentityCase{"", false, "", 0},
                      IdentityCase{"DU70 99999999999.99", false, "", 0}, // does not fit
                      IdentityCase{"DU70 21474836.47", false, "", 0},    // figure overflows
                      IdentityCase{"DU70 21474835.47", true, "DU70", 2147483547},
                      IdentityCase{"DU70 2.-3", false, "", 0}));

TEST(ScanInt, BoundsSignsAndLeavesTextOnFailure) {
  std::string_view text = "  -2147483648 rest";
  std::int32_t value = 0;
  ASSERT_TRUE(ScanInt(text, value));
  EXPECT_EQ(value, INT32_MIN);
  EXPECT_EQ(text, " rest");

  text = "2147483648";
  value = 5;
  EXPECT_FALSE(ScanInt(text, value));
  EXPECT_EQ(value, 5);
  EXPECT_EQ(text, "2147483648");

  text = "+";
  EXPECT_FALSE(ScanInt(text, value));
  text = "\r\r";
  EXPECT_FALSE(ScanInt(text, value));
}

TEST(ScanHex, ReadsRadioAnswersAndRefusesOverflow) {
  struct Case {
    const char* text;
    bool ok;
    std::uint32_t value;
  } cases[] = {{"1A\r", true, 0x1A},    {" 0x7fff", true, 0x7FFF}, {"FFFFFFFF", true, 0xFFFFFFFF},
               {"100000000", false, 0}, {"0x", true, 0},           {"OK\r", false, 0},
               {"", false, 0},          {"-1", false, 0}};
  for (const Case& c : cases) {
    std::string_view text = c.text;
    std::uint32_t value = 0;
    EXPECT_EQ(ScanHex(text, value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(ScanWord, CutsAtTheLimitAndStopsAtWhiteSpace) {
  std::string_view text = "\r\n ABCDEFGHIJ next";
  std::string word;
  ASSERT_TRUE(ScanWord(text, 8, word));
  EXPECT_EQ(word, "ABCDEFGH");
  EXPECT_EQ(text, "IJ next");
  text = " \r ";
  EXPECT_FALSE(ScanWord(text, 8, word));
  EXPECT_EQ(word, "ABCDEFGH");
}

TEST(ScanDouble, AcceptsPlainDecimalsOnly) {
  struct Case {
    const char* text;
    bool ok;
    double value;
  } cases[] = {{" +52.12345\r>", true, 52.12345},
               {"-0.5", true, -0.5},
               {"7", true, 7.0},
               {"1e3", true, 1000.0},
               {"1e", true, 1.0},
               {"nan", false, 0},
               {"inf", false, 0},
               {"0x1p3", true, 0.0},
               {".", false, 0},
               {"1e999", false, 0},
               {"-", false, 0}};
  for (const Case& c : cases) {
    std::string_view text = c.text;
    double value = -99;
    EXPECT_EQ(ScanDouble(text, value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(value, c.value) << c.text;
    }
  }
}

TEST(ShowAnswer, ReadsEveryLabelOfAnOldLogger) {
  ShowFields fields;
  bool tooOld = true;
  const std::string answer =
      "\r\nID: NODE1\r\nVersion: 1.10\r\nRadio: 3\r\nWake: 900\r\nResets: 12\r\n>";
  EXPECT_EQ(ParseShowAnswer(answer, fields, tooOld), 0u);
  EXPECT_FALSE(tooOld);
  EXPECT_EQ(fields.deviceName, "NODE1");
  EXPECT_EQ(fields.identityText, "1.10");
  EXPECT_EQ(fields.versionNumber, 110);
  EXPECT_EQ(fields.radioMode, 3u);
  EXPECT_EQ(fields.wake, 900);
  EXPECT_EQ(fields.resetCount, 12);
}

TEST(ShowAnswer, VersionBelowOneTenIsTooOldAndUnreadableFieldsAddUp) {
  ShowFields fields;
  bool tooOld = false;
  EXPECT_EQ(ParseShowAnswer("ID: N\rVersion: 1.09\rRadio: x\r>", fields, tooOld), 0u);
  EXPECT_TRUE(tooOld);

  fields = ShowFields{};
  fields.versionNumber = 120;
  EXPECT_EQ(ParseShowAnswer("Version: 1.2\rRadio: x\rWake: -\rResets: \rID:", fields, tooOld),
            kShowNameFailed + kShowVersionFailed + kShowRadioFailed + kShowWakeFailed +
                kShowResetsFailed);
  EXPECT_FALSE(tooOld);

  // Missing labels add nothing.
  fields = ShowFields{};
  fields.versionNumber = 150;
  EXPECT_EQ(ParseShowAnswer(">", fields, tooOld), 0u);
}

TEST(ShowAnswer, NameOnly) {
  std::string name;
  EXPECT_TRUE(ParseShowName("xx ID: LONGNAME99 yy", name));
  EXPECT_EQ(name, "LONGNAME");
  EXPECT_FALSE(ParseShowName("no label", name));
  EXPECT_FALSE(ParseShowName("ID:", name));
}

TEST(RadioItemText, StartsTwoPastTheFirstK) {
  EXPECT_EQ(RadioItemText("OK\r1A2B\r>"), "1A2B\r>");
  EXPECT_EQ(RadioItemText("1A2B\r>"), "1A2B\r>");
  EXPECT_EQ(RadioItemText("OK"), "");
  EXPECT_EQ(RadioItemText("K"), "");
}

TEST(AdcFactors, FiveChannelsWithChecksum) {
  AdcFactors f = ParseAdcFactors("10 1 20 2 30 3 40 4 50 5 165\r>", 5);
  EXPECT_EQ(f.numbersRead, 11u);
  EXPECT_TRUE(f.inRange);
  EXPECT_TRUE(f.checksumOk);
  EXPECT_EQ(f.slopes[4], 50);
  EXPECT_EQ(f.offsets[4], 5);

  f = ParseAdcFactors("10 1 20 2 30 3 40 4 50 5 166", 5);
  EXPECT_TRUE(f.inRange);
  EXPECT_FALSE(f.checksumOk);

  f = ParseAdcFactors("10 1 20 2 30 3 40 4 255 5 165", 5);
  EXPECT_FALSE(f.inRange);
  EXPECT_EQ(f.slopes[4], 255);

  f = ParseAdcFactors("0 1 20 2 30 3 40 4 99999 5 165", 5);
  EXPECT_FALSE(f.inRange);
  EXPECT_EQ(f.slopes[0], 0);
  EXPECT_EQ(f.slopes[4], 255);

  f = ParseAdcFactors("10 1 20", 5);
  EXPECT_EQ(f.numbersRead, 3u);
  EXPECT_FALSE(f.checksumOk);
}

TEST(AdcFactors, OneChannelCountsOnlyItsOwnBytes) {
  AdcFactors f = ParseAdcFactors("200 100 44", 1);
  EXPECT_EQ(f.numbersRead, 3u);
  EXPECT_TRUE(f.checksumOk);
  f = ParseAdcFactors("10 1 20 2 30 3 40 4 50 5 165", 1);
  EXPECT_EQ(f.numbersRead, 11u);
  EXPECT_FALSE(f.checksumOk);
}

TEST(DeviceDateTime, AfterTheLabelOrFromTheStart) {
  DeviceDateTime when;
  ASSERT_TRUE(ParseDeviceDateTime("\r\nDate\\Time: 2021-6-1 12:30:00\r\n>", when));
  EXPECT_EQ(when.year, 2021);
  EXPECT_EQ(when.month, 6);
  EXPECT_EQ(when.day, 1);
  EXPECT_EQ(when.hour, 12);
  EXPECT_EQ(when.minute, 30);
  EXPECT_EQ(when.second, 0);
  ASSERT_TRUE(ParseDeviceDateTime("2000-1-2 3:4:5", when));
  EXPECT_EQ(when.second, 5);
  EXPECT_FALSE(ParseDeviceDateTime("2000-1-2 3:4", when));
  EXPECT_FALSE(ParseDeviceDateTime("2000/1/2 3:4:5", when));
}

TEST(DeviceDateTime, OnlyDatesAnInstrumentClockCanHold) {
  EXPECT_TRUE(IsInstrumentDate({2000, 1, 1, 0, 0, 0}));
  EXPECT_TRUE(IsInstrumentDate({2024, 2, 29, 23, 59, 59}));
  EXPECT_TRUE(IsInstrumentDate({2067, 12, 31, 23, 59, 59}));
  EXPECT_FALSE(IsInstrumentDate({2021, 2, 29, 0, 0, 0}));
  EXPECT_FALSE(IsInstrumentDate({2021, 2, 30, 0, 0, 0}));
  EXPECT_FALSE(IsInstrumentDate({2100, 2, 29, 0, 0, 0}));
  EXPECT_FALSE(IsInstrumentDate({1999, 12, 31, 0, 0, 0}));
  EXPECT_FALSE(IsInstrumentDate({2021, 6, 1, 24, 0, 0}));
  EXPECT_FALSE(IsInstrumentDate({2021, 0, 1, 0, 0, 0}));
  EXPECT_FALSE(IsInstrumentDate({2021, 6, 0, 0, 0, 0}));
  EXPECT_FALSE(IsInstrumentDate({2021, 6, 1, 0, -1, 0}));
}

TEST(ScanInts, CountsWhatWasReadBeforeTheFirstMismatch) {
  std::int32_t v[5] = {};
  EXPECT_EQ(ScanInts("1 2 3 300 5", "    ", v, 5), 5u);
  EXPECT_EQ(v[3], 300);
  EXPECT_EQ(ScanInts("1 2 x", "    ", v, 5), 2u);
  EXPECT_EQ(ScanInts("", "    ", v, 5), 0u);
}

TEST(LineHelpers, StayInsideTheText) {
  EXPECT_EQ(AfterFirstCr("abc"), "abc");
  EXPECT_EQ(AfterFirstCr("abc\r"), "");
  EXPECT_EQ(LineUpTo("ab\rcd", 8), "ab");
  EXPECT_EQ(LineUpTo("abcdefghij", 4), "abcd");
  EXPECT_EQ(SkipCarriageReturns("\r\r\n"), "\n");
  EXPECT_TRUE(IsHexDigits("0a1F", 4));
  EXPECT_FALSE(IsHexDigits("0a1G", 4));
  EXPECT_FALSE(IsHexDigits("0a1", 4));
}

} // namespace
} // namespace zuro
