// The settings of a logger, one command at a time and as a whole record, with
// the exact bytes the instrument sees.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "protocol/DeviceFamilyTable.h"
#include "protocol/ProtocolFixture.h"

namespace zuro::test {
namespace {

/// A Du70 2.30 with a radio module and a cellular modem, every setting filled.
DeviceSettingsRecord FullDu70(const DeviceSettingsRecord& identity) {
  DeviceSettingsRecord r = identity;
  r.deviceName = "NODE1";
  r.deviceId = "D123";
  r.reportMode = 2;
  r.depths = {1, 2, 3, 4, 5};
  r.latitude = 52.12345;
  r.longitude = -1.5;
  r.timeZone = 4;
  r.site = "Upper Field 7";
  r.serialNumber = "SN-0042";
  r.wake = 900;
  r.padc = 50;
  r.ports = {1, 0, 2, 0, 3};
  r.trait = kTraitKnown | kTraitRadio | kTraitCellular;
  r.radioMode = 3;
  r.radioChannel = 3;
  r.radioSubChannel = 0x1F;
  r.dataParameter = 1;
  r.adc30Slopes = {10, 20, 30, 40, 50};
  r.adc30Offsets = {1, 2, 3, 4, 5};
  r.adc15Slopes = {100, 101, 102, 103, 104};
  r.adc15Offsets = {7, 7, 7, 7, 7};
  r.apn = "internet";
  r.apnUser = "bob";
  r.apnPassword = "pw";
  r.authKey = "0123456789abcdef0123456789ABCDEF";
  r.host = "data.example.net";
  r.ipPort = 5000;
  return r;
}

/// Every setting a settings snapshot of a Du70 asks for.
constexpr std::uint32_t kSnapshotFlags = 0x7FFEFFF;

/// The commands of a full write, in their fixed order, with the answer each gets.
const std::vector<std::pair<std::string, std::string>> kWriteAll = {
    {"set -i NODE1\r", "\rOK\r>"},
    {"set -devid D123\r", "\rOK\r>"},
    {"set -report 2\r", "\rOK\r>"},
    {"set -depth 1 2 3 4 5\r", "\rOK\r>"},
    {"set -lat +52.12345\r", "\rOK\r>"},
    {"set -long -1.50000\r", "\rOK\r>"},
    {"set -tz 4\r", "\rOK\r>"},
    {"set -site Upper Field 7\r", "\rOK\r>"},
    {"set -sn SN-0042\r", "\rOK\r>"},
    {"set -w 900\r", "\rOK\r>"},
    {"set -padc 50\r", "\rOK\r>"},
    {"set -ports 1 0 2 0 3\r", "\rOK\r>"},
    {"set -trait 246\r", "\rOK\r>"},
    {"set -r 3\r", "\rOK\r>"},
    {"set -rch 3\r", "\rOK\r>"},
    {"set -rsch 1F\r", "\rOK\r>"},
    {"set -data 1\r", "\rOK\r>"},
    {"set -adc30 10 1 20 2 30 3 40 4 50 5 165\r", "\rOK\r>"},
    {"set -adc15 100 7 101 7 102 7 103 7 104 7 33\r", "\rOK\r>"},
    {"set -apn internet\r", "\rOK\r>"},
    {"set -user bob\r", "\rOK\r>"},
    {"set -passwd pw\r", "\rOK\r>"},
    {"set -authkey 0123456789abcdef0123456789ABCDEF\r", "\rOK\r>"},
    {"set -host data.example.net\r", "\rOK\r>"},
    {"set -ipport 5000\r", "\rOK\r>"},
};

/// The commands of a full read with the instrument's answers.
const std::vector<std::pair<std::string, std::string>> kReadAll = {
    {"get -i\r", "\rNODE1\r>"},
    {"get -devid\r", "\rD123\r>"},
    {"get -report\r", "\r2\r>"},
    {"get -depth\r", "\r1 2 3 4 5\r>"},
    {"get -lat\r", "\r+52.12345\r>"},
    {"get -long\r", "\r-1.50000\r>"},
    {"get -tz\r", "\r4\r>"},
    {"get -site\r", "\rUpper Field 7\r>"},
    {"get -sn\r", "\rSN-0042\r>"},
    {"get -w\r", "\r900\r>"},
    {"get -padc\r", "\r50\r>"},
    {"get -ports\r", "\r1 0 2 0 3\r>"},
    {"get -trait\r", "\r246\r>"},
    {"get -r\r", "\r3\r>"},
    {"get -rch\r", "\rOK\r3\r>"},
    {"get -rsch\r", "\rOK\r1F\r>"},
    {"get -data\r", "\r1\r>"},
    {"get -adc30\r", "\r10 1 20 2 30 3 40 4 50 5 165\r>"},
    {"get -adc15\r", "\r100 7 101 7 102 7 103 7 104 7 33\r>"},
    {"get -apn\r", "\rinternet\r>"},
    {"get -user\r", "\rbob\r>"},
    {"get -passwd\r", "\rpw\r>"},
    {"get -authkey\r", "\r0123456789abcdef0123456789ABCDEF\r>"},
    {"get -host\r", "\rdata.example.net\r>"},
    {"get -ipport\r", "\r5000\r>"},
};

class Settings : public ProtocolPty {
protected:
  void Connect(const std::string& identity = "DU70 2.30") {
    Tries(1);
    ASSERT_EQ(ConnectSerial(identity), 1) << log.Text();
    ASSERT_TRUE(peer.WaitDone());
    peer.ClearReceived();
  }
  static std::string Joined(const std::vector<std::pair<std::string, std::string>>& exchanges) {
    std::string all;
    for (const auto& exchange : exchanges) {
      all += exchange.first;
    }
    return all;
  }
  void Script(const std::vector<std::pair<std::string, std::string>>& exchanges) {
    for (const auto& [command, answer] : exchanges) {
      peer.Answer(command, answer);
    }
  }
};

TEST_F(Settings, EmptyReadAfterLoginSendsNothingAndReportsTheIdentity) {
  Connect();
  DeviceSettingsRecord record;
  std::uint32_t flags = 0;
  EXPECT_EQ(proto.DeviceSettings(&record, &flags, 0), 1);
  EXPECT_EQ(flags, kSetIdentity);
  EXPECT_EQ(record.identityText, "DU70 2.30");
  EXPECT_EQ(record.validFlags & kSetIdentity, kSetIdentity);
  EXPECT_EQ(Wire(), "");
}

TEST_F(Settings, WholeRecordIsWrittenInItsFixedOrder) {
  Connect();
  DeviceSettingsRecord record = FullDu70(proto.Settings());
  Script(kWriteAll);
  std::uint32_t flags = kSnapshotFlags;
  EXPECT_EQ(proto.DeviceSettings(&record, &flags, 1), 1) << log.Text();
  EXPECT_EQ(flags, kSnapshotFlags & ~kSetIdentity); // writing the identity only clears it
  EXPECT_EQ(Wire(), Joined(kWriteAll));
  EXPECT_TRUE(log.Contains("SiteCommand set site to \"Upper Field 7\""));
  EXPECT_TRUE(log.Contains("LatitudeCommand set latitude to +52.12345"));
  EXPECT_TRUE(log.Contains("ADCcalCommand set -adc30 10 1 20 2 30 3 40 4 50 5 165"));
  // The log travels with feedback reports: the modem's secrets stay out of it.
  EXPECT_TRUE(log.Contains("APNPasswdCommand set APN password to \"****\""));
  EXPECT_TRUE(log.Contains("AuthKeyCommand set authkey to \"****\""));
  EXPECT_FALSE(log.Contains("0123456789abcdef")) << log.Text();
  NoScriptFailures();
}

TEST_F(Settings, WholeRecordIsReadBackTheSame) {
  Connect();
  Script(kReadAll);
  DeviceSettingsRecord record;
  std::uint32_t flags = kSnapshotFlags;
  EXPECT_EQ(proto.DeviceSettings(&record, &flags, 0), 1) << log.Text();
  EXPECT_EQ(flags, kSnapshotFlags);
  EXPECT_EQ(Wire(), Joined(kReadAll));
  DeviceSettingsRecord expected = FullDu70(proto.Settings());
  expected.validFlags = record.validFlags;
  EXPECT_EQ(record, expected);
  EXPECT_EQ(record.validFlags & kSnapshotFlags, kSnapshotFlags);
  EXPECT_TRUE(log.Contains("SiteCommand found site name \"Upper Field 7\""));
  EXPECT_TRUE(log.Contains("ADCcalCommand found (valid) -adc15"));
  EXPECT_TRUE(log.Contains("APNPasswdCommand found APN password \"****\""));
  EXPECT_FALSE(log.Contains("0123456789abcdef")) << log.Text();
  NoScriptFailures();
}

TEST_F(Settings, EarlyLoggerReportsNameWakeAndRadioModeThroughShow) {
  Tries(1);
  peer.Answer("get -ver\r", "\rERROR\r>").Answer("get -ver\r", "\rERROR\r>");
  ConnectionRecord connection;
  connection.portName = pty.SlavePath();
  connection.linkType = kLinkSerial;
  ASSERT_EQ(proto.ConnectDevice(&connection), 1);
  EXPECT_EQ(Wire(), "get -ver\rget -ver\r"); // the login skips "show"
  peer.ClearReceived();

  peer.Answer("show\r", "\rID: OLD1\rVersion: 1.64\rRadio: 1\rWake: 600\rResets: 2\r>");
  DeviceSettingsRecord record;
  std::uint32_t flags = kSetName | kSetWake;
  EXPECT_EQ(proto.DeviceSettings(&record, &flags, 0), 1) << log.Text();
  EXPECT_EQ(flags, kSetName | kSetIdentity | kSetWake | kSetRadioMode);
  EXPECT_EQ(record.deviceName, "OLD1");
  EXPECT_EQ(record.wake, 600);
  EXPECT_EQ(record.versionNumber, 164);
  EXPECT_EQ(Wire(), "show\r");

  // A model whose show answer is too old ends the walk at once.
  DeviceSettingsRecord old = proto.Settings();
  old.versionNumber = 0;
  Load(old);
  peer.ClearReceived();
  peer.Answer("show\r", "\rID: OLD1\rVersion: 1.07\r>");
  flags = kSetName | kSetSite;
  EXPECT_EQ(proto.DeviceSettings(&record, &flags, 0), -13);
  EXPECT_TRUE(log.Contains("DeviceSettings: old Vaultrecord model 007 not supported"));
  EXPECT_EQ(Wire(), "show\r");
}

TEST_F(Settings, RadioOfAnInstrumentWithoutRadioIsSkipped) {
  Connect();
  peer.Answer("get -trait\r", "\r255\r>");
  DeviceSettingsRecord record;
  std::uint32_t flags = kSetRadioChannel | kSetRadioSubChannel;
  EXPECT_EQ(proto.DeviceSettings(&record, &flags, 0), -35);
  EXPECT_EQ(flags, kSetIdentity | kSetTrait);
  EXPECT_EQ(record.trait, kTraitKnown);
  EXPECT_EQ(proto.RadioPresent(), 0);
  EXPECT_EQ(Wire(), "get -trait\r");
}

TEST_F(Settings, SilentInstrumentIsLoggedIntoAgainAndAskedAgain) {
  Connect();
  peer.Expect("get -sn\r").Answer("get -ver\r", "\rDU70 2.30\r>");
  peer.Answer("get -sn\r", "\rSN-77\r>");
  DeviceSettingsRecord record;
  std::uint32_t flags = kSetSerialNumber;
  EXPECT_EQ(proto.DeviceSettings(&record, &flags, 0), 1) << log.Text();
  EXPECT_EQ(flags, kSetSerialNumber | kSetIdentity);
  EXPECT_EQ(record.serialNumber, "SN-77");
  EXPECT_EQ(Wire(), "get -sn\rget -ver\rget -sn\r");
  EXPECT_TRUE(log.Contains("******: DeviceSettings re-connected to device"));
  NoScriptFailures();
}

TEST_F(Settings, InstrumentThatStaysSilentEndsTheWalk) {
  Connect();
  // get -sn, then per allowed try a login that hears nothing: -21.
  DeviceSettingsRecord record;
  std::uint32_t flags = kSetSerialNumber | kSetWake;
  EXPECT_EQ(proto.DeviceSettings(&record, &flags, 0), -21);
  EXPECT_EQ(flags, kSetIdentity);
  EXPECT_TRUE(log.Contains("DeviceLogin: nothing is listening over the serial port"));
}

TEST_F(Settings, UninitialisedInstrumentEndsTheWalkAtOnce) {
  Connect();
  peer.Answer("get -i\r", "\r\r>");
  DeviceSettingsRecord record;
  std::uint32_t flags = kSetName | kSetSite;
  EXPECT_EQ(proto.DeviceSettings(&record, &flags, 0), -36);
  EXPECT_EQ(Wire(), "get -i\r");
}

TEST_F(Settings, MissingCapabilityIsAFailedStep) {
  Connect("LQ7B 2.04");
  DeviceSettingsRecord record;
  std::uint32_t flags = kSetDepths; // the Lq7b has no depth command
  EXPECT_EQ(proto.DeviceSettings(&record, &flags, 0), -35);
  EXPECT_EQ(record.depths, (PortBytes{255, 255, 255, 255, 255}));
  DeviceSettingsRecord copy = proto.Settings();
  flags = kSetDepths;
  EXPECT_EQ(proto.DeviceSettings(&copy, &flags, 1), -35);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(Wire(), "");
  EXPECT_EQ(proto.DeviceSettings(&copy, &flags, 2), -11);
  EXPECT_EQ(proto.DeviceSettings(nullptr, &flags, 0), -10);
}

// Single settings whose written form is checked byte for byte, and texts
// that cannot be carried by a command, refused before anything is sent.
struct WriteCase {
  const char* name;
  std::function<void(DeviceSettingsRecord&)> change;
  Result (VUSKA_Protocol::*command)(int);
  std::string wire; ///< "" when nothing may be sent
  Result result;
};

class SettingWrites : public Settings, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(SettingWrites, ExactCommandOrRefusalBeforeSending) {
  const WriteCase& c = GetParam();
  Connect();
  DeviceSettingsRecord record = FullDu70(proto.Settings());
  c.change(record);
  Load(record);
  if (!c.wire.empty()) {
    peer.Answer(c.wire, "\rOK\r>");
  }
  EXPECT_EQ((proto.*c.command)(1), c.result) << log.Text();
  EXPECT_EQ(Wire(), c.wire);
  NoScriptFailures();
}

using P = VUSKA_Protocol;
INSTANTIATE_TEST_SUITE_P(
    Cases, SettingWrites,
    ::testing::Values(
        WriteCase{"LatitudeZeroClears", [](auto& r) { r.latitude = 0.0; }, &P::LatitudeCommand,
                  "set -lat \r", 1},
        WriteCase{"SiteOf25Fits", [](auto& r) { r.site = std::string(25, 's'); }, &P::SiteCommand,
                  "set -site " + std::string(25, 's') + "\r", 1},
        WriteCase{"SiteOf26DoesNot", [](auto& r) { r.site = std::string(26, 's'); },
                  &P::SiteCommand, "", -11},
        WriteCase{"SiteWithLineEnd", [](auto& r) { r.site = "a\rerase"; }, &P::SiteCommand, "",
                  -11},
        WriteCase{"NameWithSpace", [](auto& r) { r.deviceName = "NODE 1"; }, &P::NameCommand, "",
                  -50},
        WriteCase{"NameReserved", [](auto& r) { r.deviceName = "yes"; }, &P::NameCommand, "", -52},
        WriteCase{"NameHighBytes",
                  [](auto& r) { r.deviceName = "\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9"; },
                  &P::NameCommand, "", -56},
        WriteCase{"DeviceIdWithSpace", [](auto& r) { r.deviceId = "D 1"; }, &P::DeviceIDCommand, "",
                  -11},
        WriteCase{"AuthKeyNotHex", [](auto& r) { r.authKey = std::string(32, 'g'); },
                  &P::AuthKeyCommand, "", -11},
        WriteCase{"AuthKeyCutAfter32", [](auto& r) { r.authKey = std::string(40, 'a'); },
                  &P::AuthKeyCommand, "set -authkey " + std::string(32, 'a') + "\r", 1},
        WriteCase{"NegativeWake", [](auto& r) { r.wake = -5; }, &P::WakeCommand, "", -11},
        WriteCase{"TraitWithoutMarker", [](auto& r) { r.trait = 1; }, &P::TraitCommand, "", -11},
        WriteCase{"Ports",
                  [](auto& r) {
                    r.ports = {0, 255, 7, 8, 9};
                  },
                  &P::PortsCommand, "set -ports 0 255 7 8 9\r", 1}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Settings, ComputerZoneIsWrittenAsQuarterHours) {
  const char* old = std::getenv("TZ");
  const std::string saved = old == nullptr ? "" : old;
  ::setenv("TZ", "CET-1", 1);
  ::tzset();
  Connect();
  DeviceSettingsRecord record = proto.Settings();
  record.timeZone = -2;
  peer.Answer("set -tz 4\r", "\rOK\r>");
  std::uint32_t flags = kSetTimeZone;
  EXPECT_EQ(proto.DeviceSettings(&record, &flags, 1), 1);
  EXPECT_EQ(proto.Settings().timeZone, 4);
  EXPECT_EQ(Wire(), "set -tz 4\r");
  if (old == nullptr) {
    ::unsetenv("TZ");
  } else {
    ::setenv("TZ", saved.c_str(), 1);
  }
  ::tzset();
}

TEST_F(Settings, RefusedValueIsMinus12) {
  Connect();
  peer.Answer("set -sn X1\r", "\rERROR\r>");
  DeviceSettingsRecord record = proto.Settings();
  record.serialNumber = "X1";
  Load(record);
  EXPECT_EQ(proto.SNCommand(1), -12);
  EXPECT_TRUE(log.Contains("SNCommand failed with error -12"));
}

TEST_F(Settings, AdcFactorsOutOfRangeOrWrongChecksum) {
  Connect();
  peer.Answer("get -adc30\r", "\r10 1 20 2 30 3 40 4 255 5 114\r>");
  PortBytes slopes{};
  PortBytes offsets{};
  EXPECT_EQ(proto.ADCcalCommand("-adc30", &slopes, &offsets, 0), -1);
  EXPECT_EQ(slopes[4], 255);
  EXPECT_TRUE(log.Contains("ADCcalCommand found (not valid) -adc30 10 1 20 2 30 3 40 4 255 5 114"));
  peer.Answer("get -adc15\r", "\r10 1 20 2 30 3 40 4 50 5 164\r>");
  EXPECT_EQ(proto.ADCcalCommand("-adc15", &slopes, &offsets, 0), -1);
  peer.Answer("get -adc15\r", "\r10 1 20\r>");
  EXPECT_EQ(proto.ADCcalCommand("-adc15", &slopes, &offsets, 0), -30);
  EXPECT_TRUE(log.Contains("ADCcalCommand only found 3 of 11 cal -adc15 factors"));
  EXPECT_EQ(proto.ADCcalCommand("-adc99", &slopes, &offsets, 0), -11);
  EXPECT_EQ(proto.ADCcalCommand("-adc30", nullptr, &offsets, 0), -10);
  NoScriptFailures();
}

TEST_F(Settings, TraitEncoding) {
  Connect();
  peer.Answer("get -trait\r", "\r254\r>");
  EXPECT_EQ(proto.TraitCommand(0), 1);
  EXPECT_EQ(proto.Settings().trait, 0x4001);
  EXPECT_EQ(proto.RadioPresent(), 1);
  EXPECT_EQ(proto.CellularPresent(), 0);
  peer.Answer("get -trait\r", "\r999\r>");
  EXPECT_EQ(proto.TraitCommand(0), -30);
  peer.Answer("get -trait\r", "\r246\r>");
  EXPECT_EQ(proto.TraitCommand(0), 1);
  EXPECT_EQ(proto.CellularPresent(), 1);
}

TEST_F(Settings, RadioAnswersAreCheckedWithinTheTries) {
  Tries(3);
  ASSERT_EQ(ConnectSerial("DU70 2.30"), 1);
  peer.Answer("get -rch\r", "\rOK\r7\r>").Answer("get -rch\r", "\rOK\r6\r>");
  std::uint32_t channel = 0;
  std::uint32_t flags = kSetRadioChannel;
  EXPECT_EQ(proto.MSRadioCommand(&channel, nullptr, nullptr, 0, &flags), 1);
  EXPECT_EQ(channel, 6u);
  EXPECT_EQ(flags, kSetRadioChannel);

  peer.Answer("get -rver\r", "\rOK\r0000\r>");
  std::string version = "1234";
  flags = kSetRadioVersion | kSetRadioChannel;
  EXPECT_EQ(proto.MSRadioCommand(&channel, nullptr, &version, 0, &flags), -45);
  EXPECT_EQ(version, "");
  EXPECT_EQ(flags, 0u);
  EXPECT_TRUE(log.Contains("MSRadioCommand couldn't find a radio"));

  peer.Answer("set -rch 2\r", "\rNo Radio\r>");
  channel = 2;
  flags = kSetRadioChannel;
  EXPECT_EQ(proto.MSRadioCommand(&channel, nullptr, nullptr, 1, &flags), -45);
  NoScriptFailures();
}

TEST_F(Settings, OldLq7HandsTheLineToItsRadioModule) {
  Connect("LQ7 1.50");
  DeviceSettingsRecord record = proto.Settings();
  record.newFirmware = 0;
  record.capabilityMask = 0x331C;
  Load(record);
  peer.Expect("term\r").Answer("+++", "OK\r").Answer("ATHP\r", "3\r").Answer("ATDT\r", "1F\r");
  peer.Answer("ATCN\r", "OK\r").Answer("term\r", "\r>");
  std::uint32_t channel = 0;
  std::uint32_t sub = 0;
  std::uint32_t flags = kSetRadioChannel | kSetRadioSubChannel;
  EXPECT_EQ(proto.MSRadioCommand(&channel, &sub, nullptr, 0, &flags), 1) << log.Text();
  EXPECT_EQ(flags, kSetRadioChannel | kSetRadioSubChannel);
  EXPECT_EQ(channel, 3u);
  EXPECT_EQ(sub, 0x1Fu);
  EXPECT_EQ(proto.PauseCount(500), 2u);
  EXPECT_EQ(Wire(), "term\r+++ATHP\rATDT\rATCN\rterm\r");

  // Old firmware of any other family has no way to its radio.
  record.familyCode = kFamilyLq7b;
  Load(record);
  flags = kSetRadioChannel;
  EXPECT_EQ(proto.MSRadioCommand(&channel, nullptr, nullptr, 0, &flags), -21);
  NoScriptFailures();
}

TEST_F(Settings, TraitDerivedFromTheRadioVersion) {
  Connect("LQ7 1.50"); // new Lq7 firmware: radio commands, but no "get -trait"
  peer.Answer("get -rver\r", "\rOK\r12AB\r>");
  EXPECT_EQ(proto.TraitCommand(0), 1);
  EXPECT_EQ(proto.Settings().trait, 0x4001);
  EXPECT_EQ(proto.Settings().radioVersion, "12AB");
  EXPECT_TRUE(log.Contains("TraitCommand (emulated): found 16385"));
  peer.Answer("get -rver\r", "\rNo Radio\r>");
  EXPECT_EQ(proto.TraitCommand(0), 0);
  EXPECT_EQ(proto.Settings().trait, 0x4000);
  // The Lq7 takes a radio setting with its doubled acceptance.
  peer.Answer("set -rch 4\r", "\rOK\r\rOK\r>");
  std::uint32_t channel = 4;
  std::uint32_t flags = kSetRadioChannel;
  EXPECT_EQ(proto.MSRadioCommand(&channel, nullptr, nullptr, 1, &flags), 1);
  EXPECT_EQ(Wire(), "get -rver\rget -rver\rset -rch 4\r");
  NoScriptFailures();
}

TEST_F(Settings, Qt7RadioModeIsFixed) {
  Connect("QT7 1.00");
  EXPECT_EQ(proto.RmodeCommand(0), 1);
  EXPECT_EQ(proto.Settings().radioMode, 16u);
  EXPECT_EQ(proto.RmodeCommand(1), 1);
  EXPECT_EQ(Wire(), "");
  EXPECT_TRUE(log.Contains("RmodeCommand found an qT7 that is always mode 16"));
}

TEST_F(Settings, MissingCapabilitiesSendNothing) {
  Connect("LQ7B 2.04");
  EXPECT_EQ(proto.DepthCommand(0), -1);
  EXPECT_EQ(proto.Settings().depths, (PortBytes{255, 255, 255, 255, 255}));
  EXPECT_EQ(proto.SiteCommand(0), -1);
  EXPECT_EQ(proto.LatitudeCommand(1), -1);
  EXPECT_EQ(proto.APNCommand(0), -1); // no trait known: no cellular modem
  EXPECT_EQ(Wire(), "");
}

TEST_F(Settings, HostileAnswersGiveDocumentedCodes) {
  Connect();
  struct Case {
    Result (VUSKA_Protocol::*command)(int);
    const char* get;
    std::string answer;
    Result result;
  } cases[] = {
      {&VUSKA_Protocol::SiteCommand, "get -site\r", "\r>", -31},
      {&VUSKA_Protocol::SiteCommand, "get -site\r", std::string(3000, 'x') + ">", 1},
      {&VUSKA_Protocol::WakeCommand, "get -w\r", "\r99999999999\r>", -30},
      {&VUSKA_Protocol::LatitudeCommand, "get -lat\r", "\rnan\r>", -31},
      {&VUSKA_Protocol::IPPortCommand, "get -ipport\r", "\r\r\r\r>", -1}, // no modem known
      {&VUSKA_Protocol::DepthCommand, "get -depth\r", "\r1 2 x\r>", -30},
      {&VUSKA_Protocol::NameCommand, "get -i\r", "\r\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\r>", 1},
      {&VUSKA_Protocol::ZuroBuildCommand, "get -build\r", "\r>", -31},
  };
  for (const Case& c : cases) {
    if (c.result != -1) {
      peer.Answer(c.get, c.answer);
    }
    EXPECT_EQ((proto.*c.command)(0), c.result) << c.get;
  }
  EXPECT_EQ(proto.Settings().site.size(), 25u);
  EXPECT_EQ(proto.Settings().deviceName, "\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9");
  NoScriptFailures();
}

} // namespace
} // namespace zuro::test
