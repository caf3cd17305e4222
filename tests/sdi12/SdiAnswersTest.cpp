// The readers of sensor answers and the builders of write-back commands, on
// good answers, on the damaged ones a reader can deliver, and on the factory
// defaults of the second calibration.
#include "sdi12/SdiAnswers.h"

#include <gtest/gtest.h>
#include <string>

namespace zuro {
namespace {

using namespace std::string_literals;

TEST(SdiAnswerText, CutsAtNulAndLengthAndSkipsStrayLineEnds) {
  EXPECT_EQ(SdiAnswerText("0abc\r\n"), "0abc\r\n");
  EXPECT_EQ(SdiAnswerText("\n\r0abc\r\n"), "0abc\r\n");
  EXPECT_EQ(SdiAnswerText("0ab\0cd\r"s), "0ab");
  EXPECT_EQ(SdiAnswerText(std::string(300, '7')).size(), kSdiMaxAnswerBytes);
  EXPECT_EQ(SdiAnswerText(""), "");
}

TEST(SdiAnswerValue, TakesTheValueAfterTheAddress) {
  struct Case {
    std::string raw;
    Result result;
    std::string value;
  };
  const Case cases[] = {
      {"0 1.5 2.5\r\n", 1, "1.5 2.5"}, // one blank skipped
      {"0  1.5\r\n", 1, " 1.5"},       // only one
      {"01.5\r\n", 1, "1.5"},          // no blank
      {"\n0 1.5\r", 1, "1.5"},         // the line feed of an earlier answer
      {"0\r\n", 1, ""},                // an empty value is still an answer
      {"0 1.5", 1, "1.5"},             // the line end never came
      {"0 1.5\0 9\r"s, 1, "1.5"},      // a NUL ends the text
      {"", -30, ""},                   // empty
      {"\r\n", -30, ""},               // only line ends
      {" 1.5\r\n", -30, ""},           // no address character
      {"\x01"
       "1.5\r"s,
       -30, ""},           // control character in its place
      {"?1.5\r", -30, ""}, // '?' is no sensor's address
  };
  for (const Case& c : cases) {
    std::string value = "old";
    EXPECT_EQ(SdiAnswerValue(c.raw, kCalibrationMaxChars, value), c.result) << c.raw;
    EXPECT_EQ(value, c.value) << c.raw;
  }
  std::string value;
  ASSERT_EQ(SdiAnswerValue("0 " + std::string(600, '5') + "\r", kCalibrationMaxChars, value), 1);
  // The answer itself is cut at 256 bytes before the value is taken.
  EXPECT_EQ(value.size(), kSdiMaxAnswerBytes - 2);
  ASSERT_EQ(SdiAnswerValue("0 123456789\r", 4, value), 1);
  EXPECT_EQ(value, "1234");
}

TEST(ParseSdiIdentity, AddressInfoAndVersion) {
  SdiIdentity id;
  ASSERT_EQ(ParseSdiIdentity("013BRENVIK K4E   360SN42\r\n", id), 1);
  EXPECT_EQ(id.address, '0');
  EXPECT_EQ(id.info, "BRENVIK K4E   360SN42");
  EXPECT_EQ(id.version, 360u);

  ASSERT_EQ(ParseSdiIdentity("a13BRENVIK VU-QM 007\r\n", id), 1);
  EXPECT_EQ(id.address, 'a');
  EXPECT_EQ(id.version, 7u);

  // The info is bounded at 36 characters.
  ASSERT_EQ(ParseSdiIdentity("013BRENVIK K4E   360" + std::string(80, 'x') + "\r", id), 1);
  EXPECT_EQ(id.info.size(), kSensorInfoMaxChars);
}

TEST(ParseSdiIdentity, DamagedAnswersAreNotUnderstoodAndChangeNothing) {
  const std::string bad[] = {
      "",
      "\r\n",
      " 13BRENVIK K4E   360\r",  // no address
      "013BRENVIK K4E   3A0\r",  // letter among the version digits
      "013BRENVIK K4E   36\r\n", // line end inside the version
      "013BRENVIK K4E\r",        // too short
      "013BRENVIK K4E   3\0"
      "60\r"s,                  // NUL in the version
      "013BRENVIK K4E   -60\r", // sign is not a digit
  };
  for (const std::string& raw : bad) {
    SdiIdentity id;
    id.info = "kept";
    id.version = 5;
    EXPECT_EQ(ParseSdiIdentity(raw, id), -30) << raw;
    EXPECT_EQ(id.info, "kept");
    EXPECT_EQ(id.version, 5u);
  }
}

TEST(ParseSdiType, DigitsAreANumberOtherwiseTheCharacter) {
  struct Case {
    std::string raw;
    Result result;
    std::uint8_t type;
    std::uint8_t isNumber;
  };
  const Case cases[] = {
      {"0 106\r\n", 1, 106, 1}, {"0106\r\n", 1, 106, 1},
      {"0 7\r", 1, 7, 1},       {"0 1064\r", 1, 106, 1}, // at most three characters are looked at
      {"0 300\r", 1, 44, 1},                             // low 8 bits of the number
      {"0 12z\r", 1, 12, 1},                             // digits up to the first other character
      {"0 z\r\n", 1, 'z', 0},   {"0z\r\n", 1, 'z', 0},
      {"0 ]\r\n", 1, ']', 0},   {"0\r\n", -30, 0, 0},     // no value
      {"0 \r\n", -30, 0, 0},    {"0 \x01\r"s, -30, 0, 0}, // control character
      {"0 \x80\r"s, -30, 0, 0},                           // above ASCII
      {"", -30, 0, 0},          {"\r", -30, 0, 0},
  };
  for (const Case& c : cases) {
    std::uint8_t type = 0;
    std::uint8_t isNumber = 0;
    EXPECT_EQ(ParseSdiType(c.raw, type, isNumber), c.result) << c.raw;
    if (c.result == 1) {
      EXPECT_EQ(type, c.type) << c.raw;
      EXPECT_EQ(isNumber, c.isNumber) << c.raw;
    }
  }
}

TEST(ParseSdiSerial, NumberNoneAndDamage) {
  std::string serial;
  EXPECT_EQ(ParseSdiSerial("0 K4E-00123\r\n", serial), 1);
  EXPECT_EQ(serial, "K4E-00123");
  EXPECT_EQ(ParseSdiSerial("0\r\n", serial), 0);
  EXPECT_EQ(serial, "");
  EXPECT_EQ(ParseSdiSerial("0 " + std::string(50, 'S') + "\r", serial), 1);
  EXPECT_EQ(serial.size(), kSensorSerialMaxChars);
  EXPECT_EQ(ParseSdiSerial("", serial), -30);
  EXPECT_EQ(ParseSdiSerial("-12\r", serial), -30);
}

TEST(SdiTypeFromModel, KnownModelsOnly) {
  EXPECT_EQ(SdiTypeFromModel("BRENVIK K4E   360"), 'z');
  EXPECT_EQ(SdiTypeFromModel("BRENVIK VU-QM 101"), '}');
  EXPECT_EQ(SdiTypeFromModel("BRENVIK VU-QE 101"), 127);
  EXPECT_EQ(SdiTypeFromModel("BRENVIK K4EX  360"), 0); // padding is part of the model
  EXPECT_EQ(SdiTypeFromModel(""), 0);
}

TEST(RepairUnsetCalibration, OnlyStandaloneMinusOnes) {
  struct Case {
    std::string raw;
    std::string repaired;
    bool changed;
  };
  const Case cases[] = {
      {"0-1 0.5 -1\r\n", "0+0 0.5 +0\r\n", true},
      {"0 -1 0.5 -1\r\n", "0 +0 0.5 +0\r\n", true},
      {"0 -1 -1 -1 2\r", "0 +0 +0 +0 2\r", true},
      {"0 2.5e-1 0.5\r", "0 2.5e-1 0.5\r", false}, // an exponent is no unset value
      {"0 3-1 0.5\r", "0 3-1 0.5\r", false},
      {"0 -10 -1.5\r", "0 -10 -1.5\r", false},
      {"0 -1\r-1\r", "0 +0\r-1\r", true}, // only the first before a line end
      {"0 0.5 -1", "0 0.5 -1", false},    // nothing follows it
      {"\n0 -1 2\r", "\n0 +0 2\r", true},
      {"-1 2\r", "-1 2\r", false}, // '-' is where the address is
  };
  for (const Case& c : cases) {
    std::string text = c.raw;
    EXPECT_EQ(RepairUnsetCalibration(text), c.changed) << c.raw;
    EXPECT_EQ(text, c.repaired) << c.raw;
  }
}

// The second calibration's factory defaults by family, version and answer.
TEST(SecondCalibrationDefault, TableOfFamiliesVersionsAndAnswers) {
  const std::string older = "a 1 1.44832 1.91683 2.35961 2.991";
  const std::string newerK4 = "a 1 1.39619 2.03054 2.54573 2.9907";
  const std::string newerJR3 = "a 1 1.4724 2.03944 2.5652 2.9907";
  const std::string own = "0 1 1.40000 2.00000 2.50000 2.9\r\n";
  const std::string holdsOlder = "0 1 1.44832 1.91683 2.35961 2.991\r\n";
  const std::string olderAndMore = "0 1 1.44832 1.91683 2.35961 2.99123\r\n";
  struct Case {
    char type;
    std::uint32_t version;
    std::string raw;
    Result read;
    std::string expected; // empty: the answer stands
  };
  const Case cases[] = {
      // Short answers and failed reads get the default of their version.
      {'z', 355, "0\r\n", 1, older},
      {'z', 356, "0\r\n", 1, newerK4},
      {'z', 360, "0 1 2\r\n", 1, newerK4},
      {'x', 399, "", -22, newerK4},
      {'z', 400, "0\r\n", 1, ""}, // above the range: no default
      {'z', 400, "", -21, ""},
      {'w', 352, "0\r\n", 1, older},
      {'w', 353, "0\r\n", 1, newerJR3},
      {'w', 401, "", -22, newerJR3},
      {'w', 402, "0\r\n", 1, ""},
      // In the range, the older factory default gives way to the newer one;
      // a calibration of the sensor's own stays.
      {'z', 360, holdsOlder, 1, newerK4},
      {'x', 356, holdsOlder, 1, newerK4},
      {'w', 400, holdsOlder, 1, newerJR3},
      {'z', 360, own, 1, ""},
      {'z', 360, olderAndMore, 1, ""}, // starts like the default but is not it
      {'w', 380, own, 1, ""},
      // Outside the range the older default is the expected value and stays.
      {'z', 355, holdsOlder, 1, ""},
      {'z', 400, holdsOlder, 1, ""},
      // Other types have no defaults.
      {'y', 360, "", -22, ""},
      {'k', 360, holdsOlder, 1, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::string(SecondCalibrationDefault(static_cast<std::uint8_t>(c.type), c.version,
                                                   c.raw, c.read)),
              c.expected)
        << c.type << " " << c.version << " " << c.raw;
  }
}

TEST(ConvertCalibrationText, NineNumbersBecomeSix) {
  std::string text = "1 2 3 4 5 6 7 8 9";
  ASSERT_EQ(ConvertCalibrationText(text), 1);
  EXPECT_EQ(text, "1.000 -2.000000e+03 1.000000e+03 0.000000e+00 5.5 9.0");

  text = "+0.5 -1.25e1 2.5 0 10 11 0 0 -3.25 trailing";
  ASSERT_EQ(ConvertCalibrationText(text), 1);
  // A = -1000 * -12.5 / 15, B = 1000 / 15 held as a 32-bit float (66.666664), D = 10.5
  EXPECT_EQ(text, "0.500 8.333333e+02 6.666666e+01 0.000000e+00 10.5 -3.2");
}

TEST(ConvertCalibrationText, AnythingElseLeavesTheTextAlone) {
  const std::string kept[] = {
      "",
      "1 2 3 4 5 6 7 8",     // eight numbers
      "1 2 3 4 x 6 7 8 9",   // not a number
      "1,2,3,4,5,6,7,8,9",   // wrong separator
      "1 2 2 4 5 6 7 8 9",   // x3 = x2: no scale
      "1 nan 3 4 5 6 7 8 9", // not finite
      "1 2 inf 4 5 6 7 8 9",
      "1 1e39 3 4 5 6 7 8 9", // beyond a 32-bit float
  };
  for (const std::string& original : kept) {
    std::string text = original;
    EXPECT_EQ(ConvertCalibrationText(text), 0) << original;
    EXPECT_EQ(text, original);
  }
}

TEST(SdiFamilyOf, FamiliesAndTheirMembers) {
  ASSERT_NE(SdiFamilyOf(261), nullptr);
  EXPECT_STREQ(SdiFamilyOf(261)->members, "yl");
  EXPECT_STREQ(SdiFamilyOf(264)->name, "BALVO 1x");
  EXPECT_EQ(SdiFamilyOf(265), nullptr);
  EXPECT_EQ(SdiFamilyOf('z'), nullptr);
}

TEST(BuildSdiCommand, FitsSixtyThreeCharactersOfPrintableText) {
  std::string command;
  ASSERT_EQ(BuildSdiCommand("?X5", "1 2 3", command), 1);
  EXPECT_EQ(command, "?X51 2 3!");
  ASSERT_EQ(BuildSdiCommand("?X5", std::string(59, '1'), command), 1);
  EXPECT_EQ(command.size(), kSdiCommandMaxChars);
  EXPECT_EQ(BuildSdiCommand("?X5", std::string(60, '1'), command), -11);
  EXPECT_EQ(command, "");
  EXPECT_EQ(BuildSdiCommand("?X#", "AB!C", command), -11); // would end the command early
  EXPECT_EQ(BuildSdiCommand("?X#", "AB\rC", command), -11);
  EXPECT_EQ(BuildSdiCommand("?X#", "AB\x80"s, command), -11);
  EXPECT_EQ(BuildSdiCommand("?X#", "AB\0C"s, command), -11);
}

} // namespace
} // namespace zuro
