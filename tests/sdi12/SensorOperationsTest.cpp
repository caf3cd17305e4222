// Reading a sensor's identity, type, serial number and calibrations, and
// writing them back, with the exact commands the reader receives.
#include <string>

#include "sdi12/Sdi12Fixture.h"

namespace zuro::test {
namespace {

const std::string kK4EIdentity = "013BRENVIK K4E   360SN\r\n";

// ---- Identity, type and serial number ----

TEST_F(Sdi12Pty, VersionFillsAddressInfoAndVersion) {
  Answers("?I!", "313BRENVIK K4E   360 extra\r\n");
  EXPECT_EQ(sdi.SDIGetSensorVersion(), 360);
  EXPECT_EQ(sdi.Sensor().sensorAddress, '3');
  EXPECT_EQ(sdi.Sensor().sensorInfo, "BRENVIK K4E   360 extra");
  EXPECT_EQ(sdi.Sensor().sensorVersion, 360u);
  EXPECT_TRUE(log.Contains("SDIGetSensorVersion found sensor info: BRENVIK K4E   360 extra"));
  EXPECT_EQ(Wire(), "|?I!");
}

TEST_F(Sdi12Pty, DamagedIdentificationsAreRefusedAndChangeNothing) {
  const std::string damaged[] = {
      "\r\n",                     // empty
      " 13BRENVIK K4E   360\r\n", // no address character
      "013BRENVIK K4E   3x0\r\n", // a letter among the version digits
      std::string("013BRENVIK K4E   3\0"
                  "60\r\n",
                  24),  // NUL inside the version
      "013BRENVIK\r\n", // too short for a version
  };
  for (const std::string& answer : damaged) {
    Answers("?I!", answer);
  }
  for (const std::string& answer : damaged) {
    EXPECT_EQ(sdi.SDIGetSensorVersion(), -30) << ScriptedPeer::Printable(answer);
    EXPECT_EQ(sdi.Sensor().sensorAddress, '0');
    EXPECT_EQ(sdi.Sensor().sensorInfo, "");
    EXPECT_EQ(sdi.Sensor().sensorVersion, 0u);
  }
  EXPECT_EQ(log.Count("SDIGetSensorVersion could not read the identification"), 5u);
  NoScriptFailures();
}

TEST_F(Sdi12Pty, IdentificationBeyond256BytesIsBounded) {
  Answers("?I!", "013BRENVIK K4E   360" + std::string(400, 'x') + "\r\n");
  EXPECT_EQ(sdi.SDIGetSensorVersion(), 360);
  EXPECT_EQ(sdi.Sensor().sensorInfo.size(), kSensorInfoMaxChars);
  NoScriptFailures();
}

TEST_F(Sdi12Pty, TypeAsDigitsIsWrittenBackAsANumber) {
  Answers("?X8!", "0 106\r\n");
  EXPECT_EQ(sdi.SDIGetSensorType(), 1);
  EXPECT_EQ(sdi.Sensor().sensorType, 106);
  EXPECT_EQ(sdi.Sensor().typeIsNumber, 1);
  EXPECT_TRUE(log.Contains("SDIGetSensorType found sensor type as \"106\""));
  Answers("?X9 106!", "0OK\r\n");
  EXPECT_EQ(sdi.SDISetSensorType(106), 1);
  EXPECT_EQ(Wire(), "|?X8!|?X9 106!");
}

TEST_F(Sdi12Pty, TypeFallsBackToTheIdentificationModel) {
  Answers("?X8!", "0\r\n"); // no type in the answer
  Answers("?I!", kK4EIdentity);
  EXPECT_EQ(sdi.SDIGetSensorType(), 1);
  EXPECT_EQ(sdi.Sensor().sensorType, 'z');
  EXPECT_EQ(sdi.Sensor().typeIsNumber, 0);
  EXPECT_EQ(Wire(), "|?X8!|?I!");
}

TEST_F(Sdi12Pty, UnknownTypeAndModelIsMinusOne) {
  Answers("?X8!", "0 \x01\r\n");
  Answers("?I!", "013BRENVIK ZZ9   360\r\n");
  EXPECT_EQ(sdi.SDIGetSensorType(), -1);
  EXPECT_EQ(sdi.Sensor().sensorType, 0);
  EXPECT_TRUE(log.Contains("SDIGetSensorType couldn't detirmine sensor type"));
  NoScriptFailures();
}

TEST_F(Sdi12Pty, SerialNumberFoundAbsentOrDamaged) {
  Answers("?X#!", "0 K4E-0042\r\n");
  Answers("?X#!", "0\r\n");
  Answers("?X#!", "#junk\r\n");
  EXPECT_EQ(sdi.SDIGetSensorSN(), 1);
  EXPECT_EQ(sdi.Sensor().sensorSerial, "K4E-0042");
  EXPECT_EQ(sdi.SDIGetSensorSN(), 0);
  EXPECT_EQ(sdi.SDIGetSensorSN(), -30);
  EXPECT_EQ(sdi.Sensor().sensorSerial, "K4E-0042"); // the damaged answer replaced nothing
  NoScriptFailures();
}

// ---- Calibrations ----

TEST_F(Sdi12Pty, K4RepairsUnsetValuesAndGetsTheNewerSecondDefault) {
  Sensor('z', 360);
  Answers("?!", "0\r\n");
  Answers("?X4!", "0-1 0.5 -1\r\n");
  Answers("?Xa!", "0 1\r\n"); // shorter than nine characters
  EXPECT_EQ(sdi.SDIGetSensorCalibration(), 1);
  EXPECT_EQ(sdi.Sensor().calibrationX4, "+0 0.5 +0");
  EXPECT_EQ(sdi.Sensor().calibrationXa, "1 1.39619 2.03054 2.54573 2.9907");
  EXPECT_TRUE(log.Contains("SDIGetSensorCalibration updated X4 to remove '-1'"));
  EXPECT_TRUE(log.Contains(
      "SDIGetSensorCalibration set calibration Xa \"1 1.39619 2.03054 2.54573 2.9907\""));
  EXPECT_EQ(Wire(), "|?!|?X4!|?Xa!");
}

TEST_F(Sdi12Pty, OlderFactoryDefaultIsReplacedOwnCalibrationKept) {
  Sensor('w', 380);
  Answers("?!", "0\r\n");
  Answers("?X4!", "0 1 2 3\r\n");
  Answers("?Xa!", "0 1 1.44832 1.91683 2.35961 2.991\r\n");
  ASSERT_EQ(sdi.SDIGetSensorCalibration(), 1);
  EXPECT_EQ(sdi.Sensor().calibrationXa, "1 1.4724 2.03944 2.5652 2.9907");
  EXPECT_TRUE(log.Contains("SDIGetSensorCalibration set calibration Xa"));

  Answers("?!", "0\r\n");
  Answers("?X4!", "0 1 2 3\r\n");
  Answers("?Xa!", "0 1 1.47 2.04 2.56 2.99\r\n");
  ASSERT_EQ(sdi.SDIGetSensorCalibration(), 1);
  EXPECT_EQ(sdi.Sensor().calibrationXa, "1 1.47 2.04 2.56 2.99");
  EXPECT_TRUE(
      log.Contains("SDIGetSensorCalibration found calibration Xa \"1 1.47 2.04 2.56 2.99\""));
  NoScriptFailures();
}

TEST_F(Sdi12Pty, RainGaugeHasNoCalibration) {
  Sensor('^', 200);
  EXPECT_EQ(sdi.SDIGetSensorCalibration(), 0);
  EXPECT_EQ(sdi.SDISetSensorCalibration("1 2 3"), 0);
  EXPECT_EQ(Wire(), "");
  EXPECT_TRUE(log.Contains("SDIGetSensorCalibration no calibration for version PLU-3"));
  EXPECT_TRUE(log.Contains("SDISetSensorCalibration skipped PLU-3"));
}

TEST_F(Sdi12Pty, MainCalibrationFailuresEndTheRead) {
  Sensor('k', 300);
  Answers("?!", "0\r\n");
  Answers("?X4!", "\x02garbage\r\n");
  EXPECT_EQ(sdi.SDIGetSensorCalibration(), -30);
  EXPECT_EQ(sdi.Sensor().calibrationX4, "");
  EXPECT_EQ(Wire(), "|?!|?X4!"); // no second calibration asked for
}

TEST_F(Sdi12Pty, WptNeedsItsSecondCalibration) {
  Sensor('y', 300);
  Answers("?!", "0\r\n");
  Answers("?X4!", "0 1 2 3\r\n");
  Answers("?Xa!", "0ERROR\r\n");
  EXPECT_EQ(sdi.SDIGetSensorCalibration(), -34);
  NoScriptFailures();
}

// A failed second calibration with no default keeps an empty text, and the
// write-back then leaves the sensor's own second calibration alone.
TEST_F(Sdi12Pty, FailedSecondCalibrationWithoutDefaultIsNotWrittenBack) {
  Sensor('k', 300);
  Answers("?!", "0\r\n");
  Answers("?X4!", "0 1 2 3\r\n");
  Answers("?Xa!", "0ERROR\r\n");
  ASSERT_EQ(sdi.SDIGetSensorCalibration(), 1);
  EXPECT_EQ(sdi.Sensor().calibrationXa, "");
  EXPECT_TRUE(log.Contains("SDIGetSensorCalibration keeps no calibration Xa"));
  Answers("?X51 2 3!", "0OK\r\n");
  EXPECT_EQ(sdi.SDISetSensorCalibration(), 1);
  EXPECT_EQ(Wire(), "|?!|?X4!|?Xa!|?X51 2 3!");
  EXPECT_TRUE(log.Contains("SDISetSensorCalibration skipped Xb"));
}

TEST_F(Sdi12Pty, K4AboveTheDefaultRangeWithSilentXaKeepsNothing) {
  Sensor('z', 420);
  sdi.SetSdiTiming(1, kSilentTimeoutMs);
  Answers("?!", "0\r\n");
  Answers("?X4!", "0 1 2 3\r\n");
  peer.Expect("|?Xa!").Expect("|||?!").Send("0\r\n");
  ASSERT_EQ(sdi.SDIGetSensorCalibration(), 1);
  EXPECT_EQ(sdi.Sensor().calibrationXa, "");
  EXPECT_TRUE(log.Contains("SDIGetSensorCalibration received error -22 looking for Xa"));
  NoScriptFailures();
}

TEST_F(Sdi12Pty, WptLSecondCalibrationIsReadButNotWrittenBack) {
  Sensor('l', 300);
  Answers("?!", "0\r\n");
  Answers("?X4!", "0 1 2 3\r\n");
  Answers("?Xa!", "0 4 5 6\r\n");
  ASSERT_EQ(sdi.SDIGetSensorCalibration(), 1);
  EXPECT_EQ(sdi.Sensor().calibrationXa, "4 5 6");
  Answers("?X51 2 3!", "0OK\r\n");
  EXPECT_EQ(sdi.SDISetSensorCalibration(), 1);
  EXPECT_EQ(Wire(), "|?!|?X4!|?Xa!|?X51 2 3!");
}

TEST_F(Sdi12Pty, SkyraThirdCalibrationIsReadAndWrittenBack) {
  Sensor(']', 300);
  Answers("?!", "0\r\n");
  Answers("?X4!", "0 1 2 3\r\n");
  Answers("?Xa!", "0 4 5 6\r\n");
  Answers("?XO!", "0 7 8\r\n");
  ASSERT_EQ(sdi.SDIGetSensorCalibration(), 1);
  EXPECT_EQ(sdi.Sensor().hasXO, 1);
  EXPECT_EQ(sdi.Sensor().calibrationXO, "7 8");
  Answers("?X51 2 3!", "0OK\r\n");
  Answers("?Xb4 5 6!", "0OK\r\n");
  Answers("?XO7 8!", "0OK\r\n");
  EXPECT_EQ(sdi.SDISetSensorCalibration(), 1);
  EXPECT_EQ(Wire(), "|?!|?X4!|?Xa!|?XO!|?X51 2 3!|?Xb4 5 6!|?XO7 8!");

  // A sensor that refuses the third calibration has none to write.
  Answers("?!", "0\r\n");
  Answers("?X4!", "0 1 2 3\r\n");
  Answers("?Xa!", "0 4 5 6\r\n");
  Answers("?XO!", "0ERROR\r\n");
  ASSERT_EQ(sdi.SDIGetSensorCalibration(), 1);
  EXPECT_EQ(sdi.Sensor().hasXO, 0);
  EXPECT_TRUE(log.Contains("SDIGetSensorCalibration received \"ERROR\" response looking for XO"));
  NoScriptFailures();
}

// ---- A whole read, with the old calibration form converted ----

TEST_F(Sdi12Pty, ReadOfAnOldP7ConvertsItsCalibration) {
  Answers("?I!", "213BRENVIK P7DG  339\r\n");
  Answers("?X8!", "2 u\r\n");
  Answers("?X#!", "2 P7-0007\r\n");
  Answers("?!", "2\r\n");
  Answers("?X4!", "2 1 2 3 4 5 6 7 8 9\r\n");
  ASSERT_EQ(sdi.SDIReadSensorSettings(), 1);
  const SdiSensorRecord& s = sdi.Sensor();
  EXPECT_EQ(s.sensorAddress, '2');
  EXPECT_EQ(s.sensorVersion, 339u);
  EXPECT_EQ(s.sensorType, 'u');
  EXPECT_EQ(s.sensorSerial, "P7-0007");
  EXPECT_EQ(s.calibrationX4, "1.000 -2.000000e+03 1.000000e+03 0.000000e+00 5.5 9.0");
  EXPECT_EQ(Wire(), "|?I!|?X8!|?X#!|?!|?X4!");
  // A second conversion finds no nine numbers and leaves the text.
  EXPECT_EQ(sdi.SDIConvertCalibration(), 0);
  EXPECT_EQ(sdi.Sensor().calibrationX4, "1.000 -2.000000e+03 1.000000e+03 0.000000e+00 5.5 9.0");
}

TEST_F(Sdi12Pty, ReadOfANewerP7LeavesItsCalibration) {
  Answers("?I!", "013BRENVIK P7DG  340\r\n");
  Answers("?X8!", "0 u\r\n");
  Answers("?X#!", "0\r\n");
  Answers("?!", "0\r\n");
  Answers("?X4!", "0 1 2 3 4 5 6 7 8 9\r\n");
  ASSERT_EQ(sdi.SDIReadSensorSettings(), 1);
  EXPECT_EQ(sdi.Sensor().calibrationX4, "1 2 3 4 5 6 7 8 9");
  EXPECT_EQ(sdi.SDIConvertCalibration(), 0);
  NoScriptFailures();
}

TEST_F(Sdi12Pty, ReadStartsFromACleanRecord) {
  SdiSensorRecord old;
  old.sensorAddress = '7';
  old.sensorSerial = "OLD";
  old.calibrationX4 = "9 9 9";
  sdi.SetSensor(old);
  Answers("?I!", "013BRENVIK\r\n"); // too short: the read fails
  EXPECT_EQ(sdi.SDIReadSensorSettings(), -30);
  EXPECT_EQ(sdi.Sensor().sensorAddress, '0');
  EXPECT_EQ(sdi.Sensor().sensorSerial, "");
  EXPECT_EQ(sdi.Sensor().calibrationX4, "");
  NoScriptFailures();
}

// ---- Writing ----

TEST_F(Sdi12Pty, SetAddressConfirmedRefusedOrInvalid) {
  Answers("0A3!", "3\r\n");
  Answers("0A4!", "0\r\n");
  EXPECT_EQ(sdi.SDISetSensorAddress('3'), 1);
  EXPECT_EQ(sdi.SDISetSensorAddress('4'), -30);
  EXPECT_EQ(sdi.SDISetSensorAddress('?'), -11);
  EXPECT_EQ(Wire(), "|0A3!|0A4!");
  EXPECT_TRUE(log.Contains("SDISetSensorAddress successfully set sensor address to '3'"));
  EXPECT_TRUE(log.Contains("SDISetSensorAddress could not set sensor address to '4'"));
}

struct ConfirmCase {
  const char* name;
  std::vector<std::string> answers; ///< one per attempt
  Result result;
};

class SerialWriteTable : public Sdi12Pty, public ::testing::WithParamInterface<ConfirmCase> {};

TEST_P(SerialWriteTable, ConfirmationDecidesTheResult) {
  const ConfirmCase& c = GetParam();
  sdi.SetSdiTiming(2, kSilentTimeoutMs);
  SdiSensorRecord record;
  record.sensorSerial = "K4E-0042";
  sdi.SetSensor(record);
  std::string wire;
  for (const std::string& answer : c.answers) {
    Answers("?X#K4E-0042!", answer);
    wire += "|?X#K4E-0042!";
  }
  EXPECT_EQ(sdi.SDISetSensorSN(), c.result);
  EXPECT_EQ(Wire(), wire);
  NoScriptFailures();
}

INSTANTIATE_TEST_SUITE_P(
    Sdi12, SerialWriteTable,
    ::testing::Values(ConfirmCase{"OkAtOnce", {"0OK\r\n"}, 1},
                      ConfirmCase{"ErrorThenOk", {"0ERROR\r\n", "0OK\r\n"}, 1},
                      ConfirmCase{"ErrorTwice", {"0ERROR\r\n", "0ERROR\r\n"}, -34},
                      ConfirmCase{"ErrorThenOther", {"0ERROR\r\n", "0?\r\n"}, -34},
                      ConfirmCase{"NeitherOkNorError", {"0 K4E-0042\r\n", "0\r\n"}, -22}),
    [](const ::testing::TestParamInfo<ConfirmCase>& param) {
      return std::string(param.param.name);
    });

TEST_F(Sdi12Pty, SerialWriteWithoutNumberOrWithSilence) {
  EXPECT_EQ(sdi.SDISetSensorSN(), 0);
  EXPECT_TRUE(log.Contains("SDISetSensorSN didn't find a valid serial number"));

  sdi.SetSdiTiming(1, kSilentTimeoutMs);
  SdiSensorRecord record;
  record.sensorSerial = "S1";
  sdi.SetSensor(record);
  peer.Expect("|?X#S1!").Expect("|||?!"); // nobody answers at all
  EXPECT_EQ(sdi.SDISetSensorSN(), -21);
  EXPECT_TRUE(log.Contains("SDISetSensorSN received error -21 setting serial number."));
  NoScriptFailures();
}

TEST_F(Sdi12Pty, CalibrationTooLongForACommandIsNotSent) {
  Sensor('k', 300);
  const std::string fits(59, '1');
  const std::string tooLong(60, '1');
  EXPECT_EQ(sdi.SDISetSensorCalibration(tooLong.c_str()), -11);
  EXPECT_TRUE(log.Contains("SDISetSensorCalibration did not send \"?X5" + tooLong + "!\""));

  // A second calibration too long for its command stops the main one too:
  // the calibration is written whole or not at all.
  SdiSensorRecord record = sdi.Sensor();
  record.calibrationXa = tooLong;
  sdi.SetSensor(record);
  EXPECT_EQ(sdi.SDISetSensorCalibration("1 2 3"), -11);
  EXPECT_EQ(Wire(), "");

  record.calibrationXa = "4 5";
  sdi.SetSensor(record);
  Answers("?X5" + fits + "!", "0OK\r\n");
  Answers("?Xb4 5!", "0OK\r\n");
  EXPECT_EQ(sdi.SDISetSensorCalibration(fits.c_str()), 1);
  EXPECT_EQ(Wire(), "|?X5" + fits + "!|?Xb4 5!");
}

TEST_F(Sdi12Pty, CalibrationStepsKeepTheFirstFailure) {
  Sensor('k', 300);
  sdi.SetSdiTiming(1, kSilentTimeoutMs);
  SdiSensorRecord record = sdi.Sensor();
  record.calibrationX4 = "1 2";
  record.calibrationXa = "3 4";
  sdi.SetSensor(record);
  Answers("?X51 2!", "0OK\r\n");
  Answers("?Xb3 4!", "0ERROR\r\n");
  EXPECT_EQ(sdi.SDISetSensorCalibration(), -34);
  Answers("?X51 2!", "0ERROR\r\n");
  Answers("?Xb3 4!", "0OK\r\n");
  EXPECT_EQ(sdi.SDISetSensorCalibration(), -34);
  EXPECT_EQ(log.Count("SDISetSensorCalibration did not set sensor calibration"), 2u);
  EXPECT_TRUE(
      log.Contains("SDISetSensorCalibration successfully set sensor Xb calibration to \"3 4\""));
  NoScriptFailures();
}

TEST_F(Sdi12Pty, WriteSettingsSendsSerialAddressAndCalibrations) {
  SdiSensorRecord record;
  record.sensorAddress = '5';
  record.sensorSerial = "K4E-0042";
  record.sensorType = 'z';
  record.calibrationX4 = "+0 0.5 +0";
  record.calibrationXa = "1 1.39619 2.03054 2.54573 2.9907";
  sdi.SetSensor(record);
  Answers("?X#K4E-0042!", "0OK\r\n");
  Answers("0A5!", "5\r\n");
  Answers("?X5+0 0.5 +0!", "5OK\r\n");
  Answers("?Xb1 1.39619 2.03054 2.54573 2.9907!", "5OK\r\n");
  EXPECT_EQ(sdi.SDIWriteSensorSettings(), 1);
  EXPECT_EQ(Wire(), "|?X#K4E-0042!|0A5!|?X5+0 0.5 +0!|?Xb1 1.39619 2.03054 2.54573 2.9907!");
}

TEST_F(Sdi12Pty, WriteSettingsReportsAddressFailureAfterCalibration) {
  SdiSensorRecord record;
  record.sensorAddress = '5';
  record.sensorType = 'u';
  record.calibrationX4 = "1 2";
  sdi.SetSensor(record);
  Answers("0A5!", "0\r\n"); // the sensor kept its address
  Answers("?X51 2!", "0OK\r\n");
  EXPECT_EQ(sdi.SDIWriteSensorSettings(), -30);
  EXPECT_EQ(Wire(), "|0A5!|?X51 2!");
}

// ---- Boot loader, firmware check and type ----

TEST_F(Sdi12Pty, InvokeBslHandsTheLineToTheBootLoader) {
  Answers("?B!", "0\r\n");
  EXPECT_EQ(sdi.SDIInvokeZuroBSL(), 1);
  EXPECT_EQ(Wire(), "|?B!]P");
  EXPECT_EQ(sdi.pauses, (std::vector<std::uint32_t>{ZuroSDI12::kWakeSettleMs, 100, 100}));
  EXPECT_EQ(sdi.SdiTries(), 5u);
  EXPECT_EQ(sdi.SdiTimeout(), 2000u);
}

TEST_F(Sdi12Pty, InvokeBslTriesOnceAndGoesOnAfterSilence) {
  // The sensor may restart into its boot loader without a word: one attempt,
  // and the hand-over happens anyway.
  peer.Expect("|?B!").Expect("|||?!").Send("0\r\n");
  EXPECT_EQ(sdi.SDIInvokeZuroBSL(), 1);
  EXPECT_EQ(Wire(), "|?B!|||?!]P");
  EXPECT_EQ(sdi.SdiTries(), 5u);
  EXPECT_EQ(sdi.SdiTimeout(), 2000u);
}

TEST_F(Sdi12Pty, InvokeBslWithoutBootLoaderSendsNoHandOver) {
  Answers("?B!", "0No BSL\r\n");
  EXPECT_EQ(sdi.SDIInvokeZuroBSL(), -82);
  EXPECT_EQ(Wire(), "|?B!");
  EXPECT_TRUE(log.Contains("SDIInvokeZuroBSL: sensor reported a missing ZuroBSL"));
}

TEST_F(Sdi12Pty, CheckBinaryVerdicts) {
  Answers("?post!", "0Code Good\r\n");
  Answers("?post!", "0Code Corrupt\r\n");
  Answers("?post!", "0busy\r\n");
  EXPECT_EQ(sdi.SDICheckBinary(), 1);
  EXPECT_EQ(sdi.SDICheckBinary(), -66);
  EXPECT_EQ(sdi.SDICheckBinary(), -1);
  EXPECT_EQ(Wire(), "|?post!|?post!|?post!");
}

struct TypeCase {
  const char* name;
  char present;
  std::uint8_t typeIsNumber;
  std::int32_t code;
  std::string command; ///< empty: nothing is sent
  Result result;
};

class SetTypeTable : public Sdi12Pty, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(SetTypeTable, FamiliesAndCodes) {
  const TypeCase& c = GetParam();
  Sensor(c.present, 300, c.typeIsNumber);
  if (!c.command.empty()) {
    Answers(c.command, "0OK\r\n");
  }
  EXPECT_EQ(sdi.SDISetSensorType(c.code), c.result);
  EXPECT_EQ(Wire(), c.command.empty() ? "" : "|" + c.command);
  NoScriptFailures();
}

INSTANTIATE_TEST_SUITE_P(
    Sdi12, SetTypeTable,
    ::testing::Values(TypeCase{"WptFamilyKeepsY", 'y', 0, 261, "?X9 y!", 1},
                      TypeCase{"WptFamilyRefusesK", 'k', 0, 261, "", -30},
                      TypeCase{"NvxFamilyKeepsN", 'n', 0, 260, "?X9 n!", 1},
                      TypeCase{"WlxFamilyRefusesNoType", '\0', 0, 262, "", -30},
                      TypeCase{"HtFamilyKeepsF", 'f', 0, 263, "?X9 f!", 1},
                      TypeCase{"BalvoFamilyRefusesY", 'y', 0, 264, "", -30},
                      TypeCase{"SingleTypeAsCharacter", 'k', 0, 'z', "?X9 z!", 1},
                      TypeCase{"SingleTypeAsNumber", 'k', 1, 106, "?X9 106!", 1},
                      TypeCase{"FamilyMemberAsNumber", 'l', 1, 261, "?X9 108!", 1},
                      TypeCase{"CodeZero", 'z', 0, 0, "", -11},
                      TypeCase{"Code255", 'z', 0, 255, "", -11},
                      TypeCase{"CodeBeyondAByte", 'z', 0, 300, "", -11},
                      TypeCase{"NegativeCode", 'z', 0, -5, "", -11}),
    [](const ::testing::TestParamInfo<TypeCase>& param) { return std::string(param.param.name); });

TEST_F(Sdi12Pty, SetTypeNotConfirmed) {
  Sensor('z', 300);
  Answers("?X9 z!", "0ERROR\r\n");
  EXPECT_EQ(sdi.SDISetSensorType('z'), -30);
  EXPECT_TRUE(log.Contains("SDISetSensorType could not set sensor type to \"122\""));
  NoScriptFailures();
}

} // namespace
} // namespace zuro::test
