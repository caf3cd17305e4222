// The service object against a scripted instrument on a pseudo-terminal:
// the exact commands on the wire, the answers that count, the retries and
// pauses, and the log lines the update relies on.
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "service/RecordSets.h"
#include "service/ServiceFixture.h"
#include "service/SettingsFile.h"
#include "service/SnapshotSamples.h"

namespace zuro::test {
namespace {

namespace fs = std::filesystem;

std::string TempPath(const char* name) {
  return (fs::temp_directory_path() /
          (std::string("zuro-service-") + std::to_string(::getpid()) + "-" + name))
      .string();
}

/// Sets TZ for the life of the object, so local time is the same everywhere.
class FixedZone {
public:
  explicit FixedZone(const char* zone) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    old_ = hadOld_ ? old : "";
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~FixedZone() {
    if (hadOld_) {
      ::setenv("TZ", old_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

private:
  bool hadOld_;
  std::string old_;
};

// ---- Login and disconnect ----

TEST_F(ServicePty, LoginTypesTheCodeSlowlyAndTakes7035AsConfirmation) {
  OpenAs(15);
  peer.Expect("login *2293").Answer("\r\n\r", "\r7035\r>");
  EXPECT_EQ(service.ZPLogin(), kDone);
  EXPECT_EQ(Wire(), "login *2293\r\n\r");
  NoScriptFailures();
  EXPECT_EQ(service.PauseCount(1000), 2U);
  EXPECT_EQ(service.PauseCount(250), 12U); // eleven characters, then one more
  EXPECT_TRUE(log.Contains("ZPConnect successfully logged into the device"));
}

TEST_F(ServicePty, LoginRefusedEveryTimeGivesMinus25) {
  OpenAs(15);
  Tries(1);
  for (int i = 0; i < 3; ++i) {
    peer.Expect("login *2293").Answer("\r\n\r", "\rERROR\r>");
  }
  EXPECT_EQ(service.ZPLogin(), kErrLoginRefused);
  EXPECT_EQ(peer.Received().size(), 3 * std::string("login *2293\r\n\r").size());
  EXPECT_TRUE(log.Contains("ZPConnect couldn't log into the device"));
}

TEST_F(ServicePty, DisconnectLogsOutOnlyKindsThatLogIn) {
  OpenAs(15);
  peer.Answer("logout\r", "\r>");
  EXPECT_EQ(service.ZPDisconnect(true), kOk); // nothing was connected through ZPConnect
  EXPECT_TRUE(peer.WaitDone());
  EXPECT_EQ(peer.Received(), "logout\r");
}

// ---- Checks and maintenance ----

TEST_F(ServicePty, BatteryAnswers) {
  OpenAs(3);
  struct Case {
    const char* answer;
    Result result;
    std::int32_t percent;
  };
  for (const Case& c :
       {Case{"\r\n87\r\r>", kDone, 87}, Case{"\r\nlow\r>", kErrNotUnderstood, -1}}) {
    peer.Answer("get -batt\r", c.answer);
    std::int32_t percent = 0;
    EXPECT_EQ(service.ZPCheckBattery(&percent), c.result) << c.answer;
    EXPECT_EQ(percent, c.percent);
  }
  EXPECT_TRUE(log.Contains("ZPCheckBattery: 87% battery"));
  EXPECT_TRUE(log.Contains("ZPCheckBattery failed to parse battery power"));
  EXPECT_EQ(service.ZPCheckBattery(nullptr), kErrMissingArgument);
  NoScriptFailures();
}

TEST_F(ServicePty, SelfTestVerdicts) {
  OpenAs(3);
  peer.Answer("post -init\r", "\rRAM ok\rCode Good! Code Corrupt!\r>");
  EXPECT_EQ(service.ZPCheckFirmware(true), kDone); // good is looked for first
  peer.Answer("post\r", "\rCode Corrupt!\r>");
  EXPECT_EQ(service.ZPCheckFirmware(false), kErrFirmwareCorrupt);
  const std::string longReport = "\r" + std::string(100, '.') + "\rCode Good!\r>";
  peer.Answer("post\r", longReport);
  EXPECT_EQ(service.ZPCheckFirmware(false), kDone); // the verdict after a long report counts
  for (int i = 0; i < 3; ++i) {
    peer.Answer("post\r", "\rhmm\r>");
  }
  EXPECT_EQ(service.ZPCheckFirmware(false), kErrNotUnderstood);
  EXPECT_EQ(service.PauseCount(1000), 2U);
  NoScriptFailures();
}

TEST_F(ServicePty, SelfTestOnADeadLineTriesThreeTimesASecondApart) {
  OpenAs(3);
  peer.CloseLine();
  ASSERT_TRUE(peer.WaitDone());
  const Result r = service.ZPCheckFirmware(false);
  EXPECT_LT(r, 0);
  EXPECT_EQ(service.PauseCount(1000), 2U);
  EXPECT_EQ(log.Count("ZPCheckFirmware can't determine firmware code status (error"), 3U);
}

TEST_F(ServicePty, EraseByKind) {
  OpenAs(13); // VCD: no erase command
  EXPECT_EQ(service.ZPEraseData(), kErrProtoNotSupported);
  service.SetKind(16);
  peer.Answer("yes\r", "\rOK\r>").Answer("yes\r", "\rDataFlash FAIL\r>");
  EXPECT_EQ(service.ZPEraseData(), kDone);
  EXPECT_EQ(service.ZPEraseData(), kErrDataMemory);
  EXPECT_EQ(Wire(), "yes\ryes\r");
  EXPECT_TRUE(log.Contains("ZPEraseData erased device data"));
  EXPECT_TRUE(log.Contains("ZPEraseData failed due to a broken DataFlash"));
}

TEST_F(ServicePty, Hg4ClockOnNewYear2024LocalTime) {
  const FixedZone zone("CET-1");
  OpenAs(15);
  service.clock = 1704063600; // 2023-12-31 23:00:00 UTC: midnight in Central Europe
  peer.Answer("set -sec 757382400\r", "\rOK\r>");
  EXPECT_EQ(service.ZPSetTime(), kDone);
  EXPECT_EQ(Wire(), "set -sec 757382400\r");
  EXPECT_TRUE(log.Contains("ZPSetTime set the time to: 757382400"));
}

TEST_F(ServicePty, ClockOfAKindWithoutOneIsNotSet) {
  OpenAs(13);
  EXPECT_EQ(service.ZPSetTime(), kErrProtoNotSupported);
  EXPECT_EQ(Wire(), "");
}

// ---- Reading single values ----

TEST_F(ServicePty, ValueStringIsCutToItsMaximum) {
  OpenAs(14);
  peer.Answer("get -x\r", "\r\nABCDEFGHIJ\r>");
  std::string value;
  EXPECT_EQ(service.GetValueString("get -x", 2000, &value, 8), kDone);
  EXPECT_EQ(value, "ABCDEFGH");
  EXPECT_TRUE(log.Contains("GetValueString found get -x \"ABCDEFGH\""));
}

TEST_F(ServicePty, ValueStringThatIsOnlyThePromptIsAskedThreeTimes) {
  OpenAs(14);
  for (int i = 0; i < 3; ++i) {
    peer.Answer("get -i\r", "\r\n>");
  }
  std::string value = "kept";
  EXPECT_EQ(service.GetValueString("get -i", 2000, &value, 8), kErrNotUnderstood);
  EXPECT_EQ(value, "kept");
  EXPECT_EQ(log.Count("GetValueString found a leading prompt character executing command "
                      "\"get -i\""),
            3U);
  NoScriptFailures();
}

TEST_F(ServicePty, ValueLongReadsAfterTheFirstLineEnd) {
  OpenAs(14);
  peer.Answer("get -contr\r", "\r\n-42\r>").Answer("get -units\r", "\r\nnone\r>");
  peer.Answer("get -units\r", "\r\nnone\r>").Answer("get -units\r", "\r\nnone\r>");
  std::int32_t value = 0;
  EXPECT_EQ(service.GetValueLong("get -contr", 2000, &value), kDone);
  EXPECT_EQ(value, -42);
  EXPECT_EQ(service.GetValueLong("get -units", 2000, &value), kErrNotUnderstood);
  EXPECT_EQ(value, -42);
  NoScriptFailures();
}

// ---- Collecting and restoring single settings ----

TEST_F(ServicePty, Qx20RequestDependsOnItsVersion) {
  struct Case {
    std::uint32_t version;
    std::vector<std::string> gets;
  };
  const std::string path = TempPath("qx20.settings.txt");
  for (const Case& c : {Case{199, {"-adccal", "-loc", "-x", "-ext"}},
                        Case{200, {"-sn", "-contr", "-config", "-adccal", "-loc", "-x", "-ext"}}}) {
    peer.ClearReceived();
    if (!service.Protocol().IsOpen()) {
      OpenAs(8, c.version);
    } else {
      DeviceKindEntry entry;
      FillDeviceKindEntry(8, c.version, &entry);
      service.SetEntry(entry);
    }
    std::string expected;
    for (const std::string& get : c.gets) {
      const std::string value = get == "-contr" ? "48" : "v" + get;
      peer.Answer("get " + get + "\r", "\r\n" + value + "\r>");
      expected += "get " + get + "\r";
    }
    EXPECT_EQ(service.ZPSaveInfo(path), kDone) << c.version;
    EXPECT_EQ(Wire(), expected) << c.version;
    EXPECT_TRUE(service.SettingsSaved());
    EXPECT_EQ(service.SavedSettingsMask(), c.version >= 200 ? 0x7000C12U : 0x7000400U);
  }
  EXPECT_EQ(service.InstInfo().location, "v-loc");
  EXPECT_EQ(service.InstInfo().contrast, 48);
  fs::remove(path);
}

TEST_F(ServicePty, SerialNumberAnsweredWithOkIsNotOne) {
  OpenAs(24);
  Tries(1);
  peer.Answer("get -sn\r", "\r\nOK\r>").Answer("get -sn\r", "\r\nFD-77\r>");
  EXPECT_EQ(service.GetInstInfo(kInfoSerialNumber), kDone);
  EXPECT_EQ(service.InstInfo().serialNumber, "FD-77");
  EXPECT_EQ(service.InstInfo().validFlags, kInfoSerialNumber);
}

TEST_F(ServicePty, NoFlagsAndUnknownFlags) {
  OpenAs(24);
  EXPECT_EQ(service.GetInstInfo(0), kOk);
  EXPECT_EQ(service.SetInstInfo(0), kOk);
  EXPECT_EQ(service.SetInstInfo(0x200), kErrNotUnderstood); // no setting has this bit
  EXPECT_EQ(service.GetInstInfo(0x200), kDone);
  EXPECT_EQ(Wire(), "");
  EXPECT_TRUE(log.Contains("GetInstInfo should be called with non-zero flags"));
}

TEST_F(ServicePty, RestoreWritesTheSerialNumberFirstAndSkipsUnreadPValues) {
  OpenAs(22);
  InstInfoRecord& r = service.InstInfo();
  r.serialNumber = "T1";
  r.slots = {"", "p3v", "", "", "", "", "", "p1v"};
  r.validFlags = kInfoSerialNumber | kInfoValueSlots;
  peer.Answer("set -sn T1\r", "\rOK\r>");
  peer.Answer("set -p3 p3v\r", "\rOK\r>").Answer("set -p1 p1v\r", "\rOK\r>");
  EXPECT_EQ(service.SetInstInfo(r.validFlags), kDone);
  EXPECT_EQ(Wire(), "set -sn T1\rset -p3 p3v\rset -p1 p1v\r");
  EXPECT_TRUE(log.Contains("SetInstInfo set device serial number to \"T1\""));
  EXPECT_TRUE(log.Contains("SetInstInfo set p3 to \"p3v\""));
}

TEST_F(ServicePty, RestoreGoesOnPastARefusedSetting) {
  OpenAs(7);
  Tries(1);
  InstInfoRecord& r = service.InstInfo();
  r.contrast = 5;
  r.adc = "1.0";
  r.validFlags = kInfoContrast | kInfoAdc;
  peer.Answer("set -contr 5\r", "\rERROR\r>").Answer("set -adc 1.0\r", "\rOK\r>");
  EXPECT_EQ(service.SetInstInfo(r.validFlags), kErrPartialSettings);
  EXPECT_EQ(Wire(), "set -contr 5\rset -adc 1.0\r");
}

// ---- Record sets ----

TEST_F(ServicePty, UserRecordsAreWrittenBackInNameOrder) {
  OpenAs(16);
  // Names b, A, c after the third tab of the decoded values.
  const std::string b = "eAl5CXoJYgk="; // x\ty\tz\tb\t
  const std::string a = "eAl5CXoJQQk="; // x\ty\tz\tA\t
  const std::string c = "eAl5CXoJYwk="; // x\ty\tz\tc\t
  RecordSet users;
  users.records = {{"", b}, {"", a}, {"", c}};
  peer.Answer("set -user 0 " + a + "\r", "\rOK\r>")
      .Answer("set -user 1 " + b + "\r", "\rOK\r>")
      .Answer("set -user 2 " + c + "\r", "\rOK\r>");
  EXPECT_EQ(service.SetRecords_Serial(users, kUserRecordType), kDone);
  NoScriptFailures();
  EXPECT_TRUE(log.Contains("SetRecords_Serial retrieved 3 of 3 \"user\" records"));
  EXPECT_EQ(service.SetRecords_Serial(users, 5), kErrProtoOutOfRange);
  RecordSet empty;
  EXPECT_EQ(service.SetRecords_Serial(empty, kUserRecordType), kOk);
}

TEST_F(ServicePty, EquationsWithoutACountAreReadUpToTheFirstFailure) {
  OpenAs(15);
  Tries(1);
  peer.Expect("get -eqn\r"); // silence: no count
  peer.Answer("get -eqn 0\r", "\r\nT_1 x\r>").Answer("get -eqn 1\r", "\r\nT_2 y\r>");
  for (int i = 0; i < 3; ++i) {
    peer.Answer("get -eqn 2\r", "\rERROR\r>");
  }
  RecordSet equations;
  equations.records = {{"", "stale"}};
  EXPECT_EQ(service.GetRecords_Serial(equations, kEquationRecordType), kDone);
  ASSERT_EQ(equations.Count(), 2U);
  EXPECT_EQ(equations.records[1].value, "T_2 y");
  EXPECT_TRUE(log.Contains("GetRecords_Serial found a non-null \"eqn\" set"));
  EXPECT_TRUE(log.Contains("GetRecords_Serial instrument reports 100 \"eqn\" records"));
  EXPECT_TRUE(log.Contains("GetRecords_Serial retrieved 2 of 100 \"eqn\" records"));
  NoScriptFailures();
}

TEST_F(ServicePty, ResetsAreConfirmed) {
  OpenAs(16);
  peer.Answer("reset -eqn\r", "\rhuh\r>").Answer("reset -eqn\r", "\rOK\r>");
  EXPECT_EQ(service.SendAndConfirm("reset -eqn\r"), kDone);
  EXPECT_EQ(service.PauseCount(1000), 1U);
  EXPECT_TRUE(log.Contains("\"reset -eqn\" failed with error"));
  // The user reset answers without "OK": one attempt, its count is the result.
  peer.Answer("reset -users\r", "\rdone\r>");
  EXPECT_GT(service.SendAndConfirm("reset -users\r"), 0);
  EXPECT_TRUE(log.Contains("\"reset -users\" returned"));
  NoScriptFailures();
}

// ---- Connecting ----

TEST_F(ServicePty, ConnectJudgesWhatAnswered) {
  struct Case {
    const char* answer;
    Result result;
    const char* line;
  };
  for (const Case& c :
       {Case{"\rDU70 2.30\r>", kDone, "ZPConnect successfully connected to device"},
        Case{"\rDU70 1.00\r>", kErrNotSupported,
             "ZPConnect this firmware version is not supported"},
        Case{"\rABC 1.00\r>", kErrNotSupported, "ZPConnect this device must not be supported"},
        Case{"\r+ZBSL\r", kErrBootLoaderActive, "ZPConnect found the ZuroBSL listening (-80)"}}) {
    log.Clear();
    peer.ClearReceived();
    peer.Answer("get -ver\r", c.answer);
    TestService fresh(log);
    DeviceKindEntry entry;
    EXPECT_EQ(fresh.ZPConnect(pty.SlavePath(), 2, 3, &entry), c.result) << c.answer;
    EXPECT_TRUE(log.Contains(c.line)) << c.answer << "\n" << log.Text();
    if (c.result == kDone) {
      EXPECT_EQ(fresh.Kind(), 3);
      EXPECT_EQ(fresh.Entry(), entry);
      EXPECT_EQ(fresh.SettingsRecord().identityText, "DU70 2.30");
      EXPECT_EQ(fresh.SettingsRecord().versionNumber, 230);
      EXPECT_EQ(fresh.SettingsRecord().newFirmware, 1);
    } else {
      EXPECT_EQ(fresh.Kind(), 0); // nothing is kept after a failure
    }
    EXPECT_TRUE(peer.WaitDone());
    fresh.ZPDisconnect(false);
  }
  DeviceKindEntry entry;
  EXPECT_EQ(service.ZPConnect("", 2, 3, &entry), kErrMissingArgument);
  EXPECT_EQ(service.ZPConnect(pty.SlavePath(), 2, 3, nullptr), kErrMissingArgument);
  EXPECT_EQ(service.ZPConnect(pty.SlavePath(), 2, 13, &entry), kErrProtoOutOfRange);
  EXPECT_TRUE(log.Contains("ZPConnect received error -11 trying to configure VUSKA_Prototcol"));
}

TEST_F(ServicePty, ConnectToNothingSaysSo) {
  TestService fresh(log);
  ProtocolOptions options;
  DeviceKindEntry entry;
  EXPECT_EQ(fresh.ZPConnect(pty.SlavePath(), 2, 1, &entry), kErrNoConnection);
  EXPECT_TRUE(log.Contains("ZPConnect couldn't connect."));
}

// ---- Restoring the HG4 family ----

TEST_F(ServicePty, Hg4NewSerialNumberCorrectsTheConfigChecksum) {
  OpenAs(15);
  SettingsSnapshot saved;
  saved.instInfo.kind = 15;
  saved.instInfo.serialNumber = "AB"; // characters 65 + 66 = 131
  saved.instInfo.config = "5000";
  saved.instInfo.validFlags = kInfoSerialNumber | kInfoConfig;
  const std::string path = TempPath("hg4.settings.txt");
  ASSERT_EQ(WriteSettingsFileText(path, FormatSettingsFile(15, saved), nullptr), kDone);
  peer.Answer("set -sn AC\r", "\rOK\r>").Answer("set -config 5001\r", "\rOK\r>");
  EXPECT_EQ(service.ZPRestoreInfo(path, "AC"), kDone) << log.Text();
  EXPECT_EQ(Wire(), "set -sn AC\rset -config 5001\r");
  fs::remove(path);
}

TEST_F(ServicePty, Hg4ConfigIsLeftAloneWhenItWasNotCollected) {
  OpenAs(22);
  SettingsSnapshot saved;
  saved.instInfo.kind = 22;
  saved.instInfo.serialNumber = "AB";
  saved.instInfo.validFlags = kInfoSerialNumber;
  const std::string path = TempPath("hg4tdl.settings.txt");
  ASSERT_EQ(WriteSettingsFileText(path, FormatSettingsFile(22, saved), nullptr), kDone);
  peer.Answer("set -sn AC\r", "\rOK\r>");
  EXPECT_EQ(service.ZPRestoreInfo(path, "AC"), kDone);
  EXPECT_EQ(Wire(), "set -sn AC\r");
  EXPECT_TRUE(log.Contains("ZPRestoreInfo cannot correct config"));
  fs::remove(path);
}

TEST_F(ServicePty, TruncatedFileRestoresWhatItHoldsAndReportsTheRest) {
  OpenAs(24);
  SettingsSnapshot saved;
  saved.instInfo.kind = 24;
  saved.instInfo.serialNumber = "FD-1";
  saved.instInfo.validFlags = kInfoSerialNumber;
  std::string text = FormatSettingsFile(24, saved);
  text.resize(text.find("end=\""));
  const std::string path = TempPath("flowdriv.settings.txt");
  ASSERT_EQ(WriteSettingsFileText(path, text, nullptr), kDone);
  peer.Answer("set -sn FD-1\r", "\rOK\r>");
  EXPECT_EQ(service.ZPRestoreInfo(path, nullptr), kErrPartialSettings);
  EXPECT_EQ(Wire(), "set -sn FD-1\r");
  fs::remove(path);
}

// ---- Restoring from a file ----

TEST_F(ServicePty, FileOfAnotherKindIsRefusedAndNothingIsSent) {
  OpenAs(16);
  const std::string path = TempPath("foreign.settings.txt");
  ASSERT_EQ(WriteSettingsFileText(path, FormatSettingsFile(15, SampleFor(15)), nullptr), kDone);
  EXPECT_EQ(service.ZPRestoreInfo(path, nullptr), kErrNotUnderstood);
  EXPECT_FALSE(service.SettingsSaved());
  EXPECT_EQ(Wire(), "");
  EXPECT_TRUE(
      log.Contains("ZPRestoreInfo received error -30 trying to read device settings from " + path));
  fs::remove(path);
  EXPECT_EQ(service.ZPRestoreInfo(path, nullptr), kErrSettingsFileMissing);
}

TEST_F(ServicePty, KindsWithoutASnapshot) {
  OpenAs(21);
  EXPECT_EQ(service.ZPSaveInfo(TempPath("none.txt")), kErrProtoNotSupported);
  EXPECT_FALSE(fs::exists(TempPath("none.txt")));
  EXPECT_EQ(Wire(), "");
}

} // namespace
} // namespace zuro::test
