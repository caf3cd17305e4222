// Connecting, identifying, the link speed, the radio login and the radio
// module, with the exact bytes the instrument sees.
#include <string>

#include "protocol/DeviceFamilyTable.h"
#include "protocol/ProtocolFixture.h"

namespace zuro::test {
namespace {

using ::testing::ElementsAre;

struct IdentityCase {
  const char* name;
  const char* answer; ///< the whole answer to "get -ver\r"
  std::int8_t family;
  const char* familyName;
  const char* identity;
  std::int32_t version;
  std::uint32_t mask;
  std::uint32_t memory;
};

class Identity : public ProtocolPty, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(Identity, VersionAnswerNamesFamilyAndCapabilities) {
  const IdentityCase& c = GetParam();
  peer.Answer("get -ver\r", c.answer);
  ConnectionRecord record;
  record.portName = pty.SlavePath();
  record.linkType = kLinkSerial;
  ASSERT_EQ(proto.ConnectDevice(&record), 1) << log.Text();
  const DeviceSettingsRecord& s = proto.Settings();
  EXPECT_EQ(s.familyCode, c.family);
  EXPECT_EQ(s.familyName, c.familyName);
  EXPECT_EQ(s.identityText, c.identity);
  EXPECT_EQ(s.versionNumber, c.version);
  EXPECT_EQ(s.newFirmware, 1);
  EXPECT_EQ(s.capabilityMask, c.mask);
  EXPECT_EQ(s.memorySize, c.memory);
  EXPECT_EQ(record.baudIndex, 2); // index 0 stands for 2, and 2 is never changed
  EXPECT_EQ(proto.LinkType(), kLinkSerial);
  // Baud index 2 never sends "set -baud".
  EXPECT_EQ(Wire(), "get -ver\r");
  EXPECT_TRUE(log.Contains("VerCommand found \"" + std::string(c.identity) + "\" ver " +
                           std::to_string(c.version)));
  EXPECT_TRUE(log.Contains("DeviceLogin communicating with a device running " +
                           std::string(c.identity) + " at 9600 baud"));
  NoScriptFailures();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Identity,
    ::testing::Values(
        IdentityCase{"Du70", "\rDU70 2.30\r>", 3, "Du70", "DU70 2.30", 230, 0x5E7FFF7, 36864},
        IdentityCase{"Lq7b204", "\rlq7b 2.04\r>", 6, "Lq7b", "lq7b 2.04", 204, 0x474BE, 3348},
        IdentityCase{"Lq7b203", "lq7b 2.03\r>", 6, "Lq7b", "lq7b 2.03", 203, 0x74BE, 3348},
        IdentityCase{"UnknownCode", "\r\rABC 1.00\r>", 0, "Unknown", "ABC 1.00", 100, 0x1005, 0},
        IdentityCase{"LongLineCutTo20", "\rDU70 2.30 build 17 of today\r>", 3, "Du70",
                     "DU70 2.30 build 17 o", 230, 0x5E7FFF7, 36864}),
    [](const auto& param) { return std::string(param.param.name); });

// Answers that never give an identity: every pass is used and the failure told.
struct RefusedCase {
  const char* name;
  std::string answer;
  Result result;
  const char* logLine;
  int passes; ///< "get -ver" commands sent
};

class RefusedIdentity : public ProtocolPty, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedIdentity, EndsWithTheDocumentedCodeAndClosesThePort) {
  const RefusedCase& c = GetParam();
  Tries(1);
  // One attempt per command: up to 1 + 3 passes.
  std::string wire;
  for (int i = 0; i < c.passes; ++i) {
    peer.Answer("get -ver\r", c.answer);
    wire += "get -ver\r";
  }
  ConnectionRecord record;
  record.portName = pty.SlavePath();
  record.linkType = kLinkSerial;
  EXPECT_EQ(proto.ConnectDevice(&record), c.result);
  EXPECT_FALSE(proto.IsOpen());
  EXPECT_EQ(proto.LinkType(), kLinkNone);
  EXPECT_EQ(proto.Settings().versionNumber, 0);
  EXPECT_EQ(proto.Settings().identityText, "");
  EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
  EXPECT_EQ(Wire(), wire);
  NoScriptFailures();
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, RefusedIdentity,
    ::testing::Values(
        RefusedCase{"NoPoint", "\rDU70 2\r>", -30, "VerCommand couldn't decipher \"\rDU70 2\r>\"",
                    4},
        RefusedCase{"VersionTooBig", "\rDU70 99999999999.99\r>", -30,
                    "VerCommand failed with error -30", 4},
        RefusedCase{"NoLineEnd", "DU70 2.30>", -30, "VerCommand failed with error -30", 4},
        RefusedCase{"OnlyCarriageReturns", "\r\r\r\r\r\r>", -30, "VerCommand couldn't decipher", 4},
        RefusedCase{"Garbage8BitName", "\r\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9 x.y\r>", -30,
                    "VerCommand failed with error -30", 4},
        // The text ends at the NUL: a lone carriage return, a short answer.
        RefusedCase{"NulBytes", std::string("\r\0\0\0.\r>", 7), -30,
                    "VerCommand failed with error -30", 3}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(ProtocolPty, EchoingLineGivesEchoNotAHang) {
  Tries(3);
  Open();
  // The line hands every byte straight back, as an active relay does.
  for (int i = 0; i < 6; ++i) {
    peer.Expect("get -ver\r").Send("get -ver\r");
  }
  EXPECT_EQ(proto.VerCommand(true), -32);
  EXPECT_EQ(Wire(), std::string(6 * 9, ' ')
                        .replace(0, 54,
                                 "get -ver\rget -ver\rget -ver\r"
                                 "get -ver\rget -ver\rget -ver\r"));
  EXPECT_TRUE(log.Contains("VerCommand failed with error -32"));
  NoScriptFailures();
}

TEST_F(ProtocolPty, ShortAnswersRestartTheCountAndStopAfterThree) {
  Tries(1);
  Open();
  peer.Answer("get -ver\r", ">").Answer("get -ver\r", "\r").Answer("get -ver\r", ">");
  EXPECT_EQ(proto.VerCommand(true), -30);
  EXPECT_EQ(Wire(), "get -ver\rget -ver\rget -ver\r");
  // After the first two short answers the protocol waits one answer time-out.
  EXPECT_EQ(proto.PauseCount(400), 2u);
}

TEST_F(ProtocolPty, BootLoaderAnswersInsteadOfTheFirmware) {
  Tries(1);
  Open();
  peer.Answer("get -ver\r", "\r+\r>").Answer("get -ver\r", "\r+ZBL\r>");
  EXPECT_EQ(proto.VerCommand(true), -80);
  EXPECT_EQ(Wire(), "get -ver\rget -ver\r");

  peer.ClearReceived();
  peer.Answer("get -ver\r", "$").Answer("get -ver\r", "$$");
  EXPECT_EQ(proto.VerCommand(true), -81);
  EXPECT_EQ(proto.PauseCount(3000), 1u);
  EXPECT_EQ(Wire(), "get -ver\rget -ver\r");
}

TEST_F(ProtocolPty, OldFirmwareIsReadThroughShow) {
  Open();
  peer.Answer("get -ver\r", "ERROR\r>").Answer("get -ver\r", "?\r>").Answer("get -ver\r", "?\r>");
  peer.Answer("get -ver\r", "ERROR\r>")
      .Answer("get -ver\r", "ERROR\r>")
      .Answer("get -ver\r", "ERROR\r>");
  peer.Answer("show\r", "\rID: NODE1\rVersion: 1.10\rRadio: 2\rWake: 900\rResets: 4\r>");
  EXPECT_EQ(proto.VerCommand(false), 1);
  const DeviceSettingsRecord& s = proto.Settings();
  EXPECT_EQ(s.familyCode, kFamilyLq7);
  EXPECT_EQ(s.newFirmware, 0);
  EXPECT_EQ(s.capabilityMask, 0x331Cu);
  EXPECT_EQ(s.deviceName, "NODE1");
  EXPECT_EQ(s.identityText, "1.10");
  EXPECT_EQ(s.versionNumber, 110);
  EXPECT_EQ(s.radioMode, 2u);
  EXPECT_EQ(s.wake, 900);
  EXPECT_EQ(proto.ResetCount(), 4);
  EXPECT_TRUE(log.Contains("VerCommand found Lq7 with old firmware"));
  EXPECT_TRUE(log.Contains("ParseShowCommand found NODE1:1.10:2:900:4"));
  std::string expected;
  for (int i = 0; i < 6; ++i) {
    expected += "get -ver\r";
  }
  EXPECT_EQ(Wire(), expected + "show\r");

  // Known old firmware: "show" straight away, and a version below 1.10 is refused.
  peer.ClearReceived();
  peer.Answer("show\r", "\rID: NODE1\rVersion: 1.09\rRadio: 2\r>");
  EXPECT_EQ(proto.VerCommand(false), -13);
  EXPECT_EQ(Wire(), "show\r");
  peer.ClearReceived();
  peer.Answer("show\r", "\rID: N2\rVersion: 1.10\r>");
  std::string name;
  EXPECT_EQ(proto.ParseShowCommand(&name), 1);
  EXPECT_EQ(name, "N2");
  peer.ClearReceived();
  peer.Answer("show\r", "\rVersion: 1.50\rRadio: x\r>");
  EXPECT_EQ(proto.ParseShowCommand(), -30);
  EXPECT_EQ(proto.Settings().versionNumber, -1);
  EXPECT_EQ(proto.Settings().wake, -1);
  EXPECT_TRUE(log.Contains("ParseShowCommand failed with errors"));
}

TEST_F(ProtocolPty, ShowRefusesNewFirmware) {
  ASSERT_EQ(ConnectSerial("DU70 2.30"), 1);
  EXPECT_EQ(proto.ParseShowCommand(), -11);
  EXPECT_TRUE(log.Contains("ParseShowCommand doesn't work with devices running \"new\" firmware."));
}

TEST_F(ProtocolPty, SilentSerialLineIsNothingListening) {
  Tries(1);
  ConnectionRecord record;
  record.portName = pty.SlavePath();
  record.linkType = kLinkSerial;
  EXPECT_EQ(proto.ConnectDevice(&record), -20);
  EXPECT_TRUE(log.Contains("DeviceLogin: nothing is listening over the serial port"));
  EXPECT_FALSE(proto.IsOpen());
}

TEST_F(ProtocolPty, LinkSpeedTo57600AndBack) {
  Tries(1);
  ProtocolOptions options;
  ASSERT_EQ(proto.ConfigureProtocol(&options, 0), 1);
  options.keepPortOpen = 1;
  ASSERT_EQ(proto.ConfigureProtocol(&options, 1), 1);
  ASSERT_EQ(ConnectSerial("DU70 2.30", 5, [&] { peer.Answer("set -baud 3\r", "OK\r"); }), 1)
      << log.Text();
  EXPECT_EQ(proto.HostBaud(), 57600u);
  EXPECT_EQ(peer.PortBaud(), 57600u);
  EXPECT_TRUE(log.Contains("SetBaudCommand set device baud rate to 57600"));
  EXPECT_TRUE(
      log.Contains("DeviceLogin communicating with a device running DU70 2.30 at 57600 baud"));

  // Back to 9600: a device that changed at once may not be heard; that is fine.
  peer.Expect("set -baud 0\r");
  EXPECT_EQ(proto.DisconnectDevice(false), 1);
  EXPECT_EQ(proto.HostBaud(), 9600u);
  EXPECT_EQ(peer.PortBaud(), 9600u);
  EXPECT_EQ(Wire(), "get -ver\rset -baud 3\rset -baud 0\r");
  EXPECT_EQ(proto.Settings().versionNumber, 0); // cleared with the connection
  NoScriptFailures();
}

TEST_F(ProtocolPty, DeviceRefusingTheSpeedKeeps9600) {
  Tries(1);
  ASSERT_EQ(ConnectSerial("DU70 2.30", 6, [&] { peer.Answer("set -baud 4\r", "\rERROR\r>"); }), 1);
  EXPECT_EQ(proto.HostBaud(), 9600u);
  EXPECT_TRUE(log.Contains("DeviceLogin: device didn't change baud rate (error -34)"));
  EXPECT_EQ(proto.Connection().baudIndex, 2);
}

TEST_F(ProtocolPty, RateTheDevicesDoNotKnowStaysAt9600) {
  Tries(1);
  // Index 1 (1200) is not a rate of "set -baud": the device is asked for code
  // 0 and the computer's port must stay where the device is.
  ASSERT_EQ(ConnectSerial("DU70 2.30", 1, [&] { peer.Answer("set -baud 0\r", "OK\r"); }), 1);
  EXPECT_EQ(proto.HostBaud(), 9600u);
  EXPECT_EQ(peer.PortBaud(), 9600u);
  EXPECT_TRUE(log.Contains("SetBaudCommand: unsupported baud rate 1200, using 9600"));
}

TEST_F(ProtocolPty, SetBaudCommandEdges) {
  Tries(1);
  ASSERT_EQ(ConnectSerial("DU70 2.30"), 1);
  peer.ClearReceived();
  // 9600 with no answer: the device has already gone to 9600.
  EXPECT_EQ(proto.SetBaudCommand(9600), 1);
  EXPECT_EQ(Wire(), "set -baud 0\r");
  peer.ClearReceived();
  peer.Answer("set -baud 0\r", "OK\r");
  EXPECT_EQ(proto.SetBaudCommand(14400), 1);
  EXPECT_EQ(Wire(), "set -baud 0\r");
  peer.ClearReceived();
  peer.Answer("set -baud 1\r", "what\r>");
  EXPECT_EQ(proto.SetBaudCommand(19200), -30);
  EXPECT_TRUE(log.Contains("SetBaudCommand failed (heard prompt): trying again"));
}

TEST_F(ProtocolPty, DisconnectOnASerialLineAt9600SendsNothing) {
  ASSERT_EQ(ConnectSerial("DU70 2.30"), 1);
  peer.ClearReceived();
  EXPECT_EQ(proto.DisconnectDevice(false), 1);
  EXPECT_FALSE(proto.IsOpen());
  EXPECT_EQ(proto.LinkType(), kLinkNone);
  EXPECT_TRUE(peer.Received().empty());
  EXPECT_EQ(proto.DisconnectDevice(false), 0);
  EXPECT_TRUE(log.Contains("DisconnectDevice successful"));
}

TEST_F(ProtocolPty, ConnectRefusesBadRecords) {
  ConnectionRecord record;
  record.portName = pty.SlavePath();
  EXPECT_EQ(proto.ConnectDevice(nullptr), -10);
  record.linkType = 0;
  EXPECT_EQ(proto.ConnectDevice(&record), -11);
  for (const std::uint8_t type : {20, 40, 100, 110, 120}) {
    record.linkType = type;
    EXPECT_EQ(proto.ConnectDevice(&record), -13) << int(type);
  }
  record.linkType = 99;
  EXPECT_EQ(proto.ConnectDevice(&record), -10);
  record.linkType = kLinkSerial;
  record.baudIndex = 9;
  EXPECT_EQ(proto.ConnectDevice(&record), -11);
  record.baudIndex = 2;
  record.portName = "/dev/" + std::string(300, 'x');
  EXPECT_EQ(proto.ConnectDevice(&record), -11);
  record.portName = "/dev/zuro-no-such-port";
  const Result missing = proto.ConnectDevice(&record);
  EXPECT_LT(missing, 0);
  EXPECT_NE(missing, -20);
  EXPECT_FALSE(proto.IsOpen());
}

TEST_F(ProtocolPty, LoginCommandNames) {
  Tries(1);
  Open();
  EXPECT_EQ(proto.LoginCommand("NINECHARS"), -54);
  EXPECT_EQ(proto.LoginCommand("a\rerase"), -50);
  EXPECT_EQ(Wire(), "");
  peer.Answer("login NODE1\r", "\r>");
  EXPECT_EQ(proto.LoginCommand("NODE1"), 1);
  peer.Answer("login\r", "\r\r>");
  EXPECT_EQ(proto.LoginCommand(""), 1);
  peer.Answer("login N\r", "\rwho?>");
  EXPECT_EQ(proto.LoginCommand("N"), -34);
  peer.Answer("login N\r", "\rno\r");
  EXPECT_EQ(proto.LoginCommand("N"), -30);
}

class RadioLogin : public ProtocolPty {
protected:
  void SetUp() override {
    ProtocolPty::SetUp();
    proto.SetWakeSequence(5, 2);
  }
  ConnectionRecord Radio(const std::string& name = "") {
    ConnectionRecord record;
    record.portName = pty.SlavePath();
    record.linkType = kLinkRadio;
    record.deviceName = name;
    return record;
  }
};

TEST_F(RadioLogin, QueryThenLogin) {
  Tries(0, 2);
  peer.Answer("\rquery\r", "NODE1\r").Answer("login NODE1\r", "\r>");
  ConnectionRecord record = Radio();
  ASSERT_EQ(proto.ConnectDevice(&record), 1) << log.Text();
  EXPECT_EQ(record.deviceName, "NODE1");
  EXPECT_EQ(record.baudIndex, 2);
  EXPECT_EQ(proto.Settings().deviceName, "NODE1");
  EXPECT_EQ(proto.CommandTries(), 2u);
  EXPECT_EQ(proto.PauseCount(2500), 1u); // a queried node needs time before the login
  EXPECT_EQ(Wire(), "\rquery\rlogin NODE1\r");
  EXPECT_TRUE(log.Contains("QueryCommand heard from: NODE1"));
  NoScriptFailures();
}

TEST_F(RadioLogin, SilenceUsesTheOneWakeSequence) {
  Tries(0, 1);
  peer.Expect("\rquery\r").Expect("\r\r\r\r\r").Answer("\rquery\r", "NODE7\r");
  peer.Answer("login NODE7\r", "\r>");
  ConnectionRecord record = Radio();
  ASSERT_EQ(proto.ConnectDevice(&record), 1) << log.Text();
  EXPECT_EQ(Wire(), "\rquery\r\r\r\r\r\r\rquery\rlogin NODE7\r");
  EXPECT_TRUE(log.Contains("QueryCommand didn't get any answers after 1 tries"));
  EXPECT_TRUE(log.Contains("SendWake sent 5 packets"));
  EXPECT_EQ(proto.PauseCount(2), 5u); // the spacing of the wake packets
  NoScriptFailures();
}

TEST_F(RadioLogin, NamedNodeThatNeverAnswersIsNothingListening) {
  Tries(0, 1);
  ConnectionRecord record = Radio("NODE1");
  EXPECT_EQ(proto.ConnectDevice(&record), -20);
  EXPECT_EQ(Wire(), "login NODE1\r\r\r\r\r\rlogin NODE1\r");
  EXPECT_TRUE(log.Contains("DeviceLogin: nothing is listening over the radio"));
}

TEST_F(RadioLogin, EchoedQueryMeansARelay) {
  Tries(0, 3);
  peer.Expect("\rquery\r").Send("\rquery\r");
  ConnectionRecord record = Radio();
  EXPECT_EQ(proto.ConnectDevice(&record), -33);
  EXPECT_TRUE(log.Contains("QueryCommand is hearing \"query\" -- a relay must be active"));
  EXPECT_TRUE(peer.WaitDone());
}

TEST_F(RadioLogin, WakeCanBeStopped) {
  ProtocolOptions options;
  options.progressReports = 1;
  options.radioTries = 1;
  ASSERT_EQ(proto.ConfigureProtocol(&options, 1), 1);
  int calls = 0;
  proto.SetProgressHook([&](std::uint32_t, std::uint32_t, std::uint32_t stage) {
    return stage != kProgressWake || ++calls < 3;
  });
  ConnectionRecord record = Radio("NODE1");
  EXPECT_EQ(proto.ConnectDevice(&record), -40);
  EXPECT_TRUE(log.Contains("SendWake stopped after 2 packets"));
}

TEST_F(RadioLogin, ConfiguresTheModuleFirstAndLogsOutAtTheEnd) {
  Tries(0, 2);
  peer.Answer("+++", "OK\r").Answer("ATHP3\r", "OK\r").Answer("ATDT1F\r", "OK\r");
  peer.Answer("ATWR\r", "OK\r").Answer("ATCN\r", "OK\r");
  peer.Answer("login NODE1\r", "\r>");
  ConnectionRecord record = Radio("NODE1");
  record.configureRadio = 1;
  record.radioChannel = 3;
  record.radioSubChannel = 0x1F;
  ASSERT_EQ(proto.ConnectDevice(&record), 1) << log.Text();
  EXPECT_EQ(Wire(), "+++ATHP3\rATDT1F\rATWR\rATCN\rlogin NODE1\r");
  EXPECT_EQ(proto.CommandTries(), 2u);

  peer.ClearReceived();
  peer.Expect("logout\rlogin NODE1\r");
  EXPECT_EQ(proto.DisconnectDevice(false), 1);
  EXPECT_TRUE(peer.WaitDone());
  EXPECT_EQ(peer.Received(), "logout\rlogin NODE1\r");
  NoScriptFailures();
}

TEST_F(RadioLogin, RadioSettingsOverTheRadioComeFromTheConnection) {
  Tries(0, 1);
  peer.Answer("+++", "OK\r").Answer("ATHP2\r", "OK\r").Answer("ATDT7\r", "OK\r");
  peer.Answer("ATWR\r", "OK\r").Answer("ATCN\r", "OK\r");
  peer.Answer("login NODE1\r", "\r>");
  ConnectionRecord record = Radio("NODE1");
  record.configureRadio = 1;
  record.radioChannel = 2;
  record.radioSubChannel = 7;
  ASSERT_EQ(proto.ConnectDevice(&record), 1) << log.Text();
  ASSERT_TRUE(peer.WaitDone());
  peer.ClearReceived();

  // The login over the radio does not identify: the settings walk does, then
  // reads the trait, and takes the channels from the connection itself.
  peer.Answer("get -ver\r", "\rDU70 2.30\r>").Answer("get -trait\r", "\r254\r>");
  DeviceSettingsRecord settings;
  std::uint32_t flags = kSetRadioChannel | kSetRadioSubChannel | kSetRadioVersion;
  EXPECT_EQ(proto.DeviceSettings(&settings, &flags, 0), 1) << log.Text();
  EXPECT_EQ(flags, kSetIdentity | kSetTrait | kSetRadioChannel | kSetRadioSubChannel);
  EXPECT_EQ(settings.radioChannel, 2u);
  EXPECT_EQ(settings.radioSubChannel, 7u);
  EXPECT_EQ(Wire(), "get -ver\rget -trait\r");
  EXPECT_TRUE(log.Contains("MSRadioCommand knows the RCH is 2 and RSCH is 7 (can't get RVER)"));

  // Radio parameters cannot be changed from the far side of the radio.
  std::uint32_t channel = 4;
  flags = kSetRadioChannel;
  EXPECT_EQ(proto.MSRadioCommand(&channel, nullptr, nullptr, 1, &flags), -12);
  EXPECT_EQ(flags, 0u);
}

TEST_F(RadioLogin, ModuleThatWillNotConfigureClosesThePort) {
  Tries(0, 1);
  peer.Answer("+++", "NAK\r").Answer("+++", "NAK\r");
  ConnectionRecord record = Radio("NODE1");
  record.configureRadio = 1;
  EXPECT_EQ(proto.ConnectDevice(&record), -23);
  EXPECT_FALSE(proto.IsOpen());
  EXPECT_TRUE(log.Contains("Kx2Config failed to get into AT command mode: -23"));
}

TEST_F(RadioLogin, DisconnectWithSkipLogoutSendsNothing) {
  ProtocolOptions options;
  options.radioTries = 1;
  options.keepPortOpen = 1;
  ASSERT_EQ(proto.ConfigureProtocol(&options, 1), 1);
  peer.Answer("login NODE1\r", "\r>");
  ConnectionRecord record = Radio("NODE1");
  ASSERT_EQ(proto.ConnectDevice(&record), 1);
  peer.ClearReceived();
  EXPECT_EQ(proto.DisconnectDevice(true), -22);
  EXPECT_TRUE(proto.IsOpen()); // kept open at 9600
  EXPECT_EQ(Wire(), "");
  EXPECT_EQ(proto.Settings().deviceName, "");
}

TEST_F(RadioLogin, NodeThatStaysLoggedInIsAskedAgain) {
  Tries(0, 2);
  peer.Answer("login NODE1\r", "\r>");
  ConnectionRecord record = Radio("NODE1");
  ASSERT_EQ(proto.ConnectDevice(&record), 1);
  peer.Answer("logout\r", "\r>").Answer("logout\r", "\r>");
  EXPECT_EQ(proto.DisconnectDevice(false), -22);
  EXPECT_EQ(log.Count("DisconnectDevice: Device didn't disconnect, retrying"), 2u);
  EXPECT_FALSE(proto.IsOpen());
}

class Kx2 : public ProtocolPty {};

TEST_F(Kx2, SetsChannelAndSubChannelInOrder) {
  Open();
  peer.Answer("+++", "OK\r").Answer("ATHP5\r", "OK\r").Answer("ATDTABC\r", "OK\r");
  peer.Answer("ATWR\r", "OK\r").Answer("ATCN\r", "OK\r");
  std::uint32_t channel = 5;
  std::uint32_t sub = 0xABC;
  std::uint32_t flags = 0xC00;
  EXPECT_EQ(proto.Kx2Config(&channel, &sub, nullptr, 1, &flags), 1);
  EXPECT_EQ(flags, 0xC00u);
  EXPECT_EQ(Wire(), "+++ATHP5\rATDTABC\rATWR\rATCN\r");
  EXPECT_TRUE(log.Contains("Kx2Config set rch to 5"));
  EXPECT_TRUE(log.Contains("Kx2Config set rsch to 2748"));
  EXPECT_TRUE(log.Contains("Kx2Config saved configuration"));
  EXPECT_EQ(proto.PauseCount(100), 1u);
  NoScriptFailures();
}

TEST_F(Kx2, SilentVersionReadIsCountedNotFatal) {
  Tries(1);
  Open();
  peer.Answer("+++", "OK\r").Expect("ATVR\r").Answer("ATCN\r", "OK\r");
  std::string version = "before";
  std::uint32_t flags = 0x1000;
  EXPECT_EQ(proto.Kx2Config(nullptr, nullptr, &version, 0, &flags), 1);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(version, "before");
  EXPECT_TRUE(log.Contains("Kx2Config failed with error 1 and 4"));
  EXPECT_EQ(Wire(), "+++ATVR\rATCN\r");
}

TEST_F(Kx2, ReadsHexadecimalAnswersAndReportsPartialSuccess) {
  Open();
  peer.Answer("+++", "OK\r").Answer("ATHP\r", "1A\r").Answer("ATDT\r", "zz\r");
  peer.Answer("ATVR\r", "10F3\r").Answer("ATCN\r", "OK\r");
  std::uint32_t channel = 0;
  std::uint32_t sub = 77;
  std::string version;
  std::uint32_t flags = 0x1C00;
  EXPECT_EQ(proto.Kx2Config(&channel, &sub, &version, 0, &flags), -35);
  EXPECT_EQ(flags, 0x1400u);
  EXPECT_EQ(channel, 0x1Au);
  EXPECT_EQ(sub, 77u);
  EXPECT_EQ(version, "10F3");
  EXPECT_TRUE(log.Contains("Kx2Config could not find rsch"));
  EXPECT_TRUE(log.Contains("Kx2Config failed with error -35 and 2"));
}

TEST_F(Kx2, CommandModeThatWillNotEndWinsOverEverything) {
  Tries(1);
  Open();
  peer.Answer("+++", "OK\r").Answer("ATWR\r", "OK\r").Answer("ATCN\r", "NO\r");
  std::uint32_t flags = 0x400;
  EXPECT_EQ(proto.Kx2Config(nullptr, nullptr, nullptr, 1, &flags), -1);
  EXPECT_EQ(flags, 0x400u); // not written back
  EXPECT_TRUE(log.Contains("Kx2Config failed to get out of AT command mode: -1"));
}

} // namespace
} // namespace zuro::test
