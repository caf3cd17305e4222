// The instrument clock in both dialects under fixed time zones, and the data
// erase that is only ever confirmed for the device that is connected.
#include <cstdlib>
#include <ctime>
#include <string>

#include "protocol/DeviceFamilyTable.h"
#include "protocol/ProtocolFixture.h"

namespace zuro::test {
namespace {

/// Sets TZ for the life of the object.
class ScopedTz {
public:
  explicit ScopedTz(const char* zone) {
    if (const char* old = std::getenv("TZ")) {
      saved_ = old;
      hadOld_ = true;
    }
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTz() {
    if (hadOld_) {
      ::setenv("TZ", saved_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  ScopedTz(const ScopedTz&) = delete;
  ScopedTz& operator=(const ScopedTz&) = delete;

private:
  std::string saved_;
  bool hadOld_ = false;
};

constexpr std::int64_t kZuroEpoch = 946684800; ///< 2000-01-01 00:00:00 UTC

std::int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<std::int64_t>(::timegm(&t));
}

class Clock : public ProtocolPty {
protected:
  void Connect(const std::string& identity) {
    Tries(1);
    ASSERT_EQ(ConnectSerial(identity), 1) << log.Text();
    ASSERT_TRUE(peer.WaitDone());
    peer.ClearReceived();
  }
};

class ClockInZone : public Clock, public ::testing::WithParamInterface<const char*> {};

TEST_P(ClockInZone, SecondsFromTheComputersClock) {
  ScopedTz zone(GetParam());
  Connect("VX 1.23"); // the reader's clock counts ZuroSeconds
  // 2000-01-01 00:00:10 on this computer's wall clock.
  proto.clock = kZuroEpoch + 10 - UtcOffsetSeconds();
  peer.Answer("set -sec 10\r", "\rOK\r>");
  ZuroSeconds seconds = 0;
  EXPECT_EQ(proto.DeviceTime(&seconds, 1), 1) << log.Text();
  EXPECT_EQ(seconds, 10);
  EXPECT_EQ(Wire(), "set -sec 10\r");
  EXPECT_TRUE(log.Contains("DeviceTime set device zuroseconds to 10"));
}

TEST_P(ClockInZone, DateAnswerIsLocalWallClockTime) {
  ScopedTz zone(GetParam());
  Connect("LQ7B 2.04"); // keeps a date and a time of day
  peer.Answer("get -t\r", "\rDate\\Time: 2021-6-1 12:30:00\r>");
  ZuroSeconds seconds = 0;
  EXPECT_EQ(proto.DeviceTime(&seconds, 0), 1) << log.Text();
  EXPECT_EQ(seconds, UtcSeconds(2021, 6, 1, 12, 30, 0) - kZuroEpoch);
  EXPECT_TRUE(log.Contains("DeviceTime found device date/time 2021-6-1 12:30:00 or "));
}

TEST_P(ClockInZone, DateDialectFromTheComputersClock) {
  ScopedTz zone(GetParam());
  Connect("LQ7B 2.04");
  // 2021-07-01 10:00:00 UTC: noon in Central European summer time.
  proto.clock = UtcSeconds(2021, 7, 1, 10, 0, 0);
  std::tm local{};
  const auto t = static_cast<std::time_t>(proto.clock);
  localtime_r(&t, &local);
  const std::string time = "set -t " + std::to_string(local.tm_hour) + ":0:0\r";
  peer.Answer(time, "\rOK\r>").Answer("set -d 2021-7-1\r", "\rOK\r>");
  ZuroSeconds seconds = 0;
  EXPECT_EQ(proto.DeviceTime(&seconds, 1), 1);
  EXPECT_EQ(Wire(), time + "set -d 2021-7-1\r");
  EXPECT_EQ(seconds, proto.clock + UtcOffsetSeconds() - kZuroEpoch);
}

INSTANTIATE_TEST_SUITE_P(Zones, ClockInZone,
                         ::testing::Values("UTC0", "CET-1CEST,M3.5.0,M10.5.0/3"),
                         [](const auto& param) { return param.index == 0 ? "Utc" : "Cet"; });

TEST_F(Clock, DateDialectFromAGivenValue) {
  Connect("LQ7B 2.04");
  peer.Answer("set -t 0:0:0\r", "\rOK\r>").Answer("set -d 2000-1-2\r", "\rOK\r>");
  ZuroSeconds seconds = 86400;
  EXPECT_EQ(proto.DeviceTime(&seconds, 1), 1);
  EXPECT_EQ(Wire(), "set -t 0:0:0\rset -d 2000-1-2\r");
  EXPECT_TRUE(log.Contains("DeviceTime set device time to 0:00:00"));
  EXPECT_TRUE(log.Contains("DeviceTime set device date to 2000-1-2"));
}

TEST_F(Clock, OnlyTheDateCommandDecides) {
  Connect("LQ7B 2.04");
  peer.Answer("set -t 1:0:0\r", "\rERROR\r>").Answer("set -d 2000-1-1\r", "\rOK\r>");
  ZuroSeconds seconds = 3600;
  EXPECT_EQ(proto.DeviceTime(&seconds, 1), 1);
  peer.Answer("set -t 1:0:0\r", "\rOK\r>").Answer("set -d 2000-1-1\r", "\rhuh\r>");
  EXPECT_EQ(proto.DeviceTime(&seconds, 1), -30);
  NoScriptFailures();
}

TEST_F(Clock, OldFirmwareTakesThePromptAndAsksWithTime) {
  Connect("LQ7B 2.04");
  DeviceSettingsRecord record = proto.Settings();
  record.newFirmware = 0;
  record.familyCode = kFamilyLq7;
  record.capabilityMask = 0x331C;
  Load(record);
  peer.Answer("set -t 0:0:0\r", "\r>").Answer("set -d 2000-1-2\r", "\r>");
  ZuroSeconds seconds = 86400;
  EXPECT_EQ(proto.DeviceTime(&seconds, 1), 1);
  peer.Answer("time\r", "\r2000-1-2 0:0:5\r>");
  EXPECT_EQ(proto.DeviceTime(&seconds, 0), 1);
  EXPECT_EQ(seconds, 86405);
  EXPECT_EQ(Wire(), "set -t 0:0:0\rset -d 2000-1-2\rtime\r");
}

TEST_F(Clock, BadClockAnswers) {
  ScopedTz zone("UTC0");
  Connect("VX 1.23");
  struct Case {
    const char* command;
    std::string answer;
  } cases[] = {
      {"get -sec\r", "\r4000000000\r>"},
      {"get -sec\r", "\r-5\r>"},
      {"get -sec\r", "\r99999999999999999999999\r>"},
      {"get -sec\r", "\r\r\r>"},
  };
  for (const Case& c : cases) {
    peer.Answer(c.command, c.answer);
    ZuroSeconds seconds = 5;
    EXPECT_EQ(proto.DeviceTime(&seconds, 0), -30) << c.answer;
    EXPECT_EQ(seconds, -1);
  }
  peer.Answer("get -sec\r", "\r2147483647\r>");
  ZuroSeconds seconds = 0;
  EXPECT_EQ(proto.DeviceTime(&seconds, 0), 1);
  EXPECT_EQ(seconds, 2147483647);
  EXPECT_EQ(proto.DeviceTime(nullptr, 0), -10);
  seconds = -1;
  EXPECT_EQ(proto.DeviceTime(&seconds, 1), -11); // "no time" is not a time to set
  NoScriptFailures();
}

TEST_F(Clock, DatesThatDoNotExist) {
  ScopedTz zone("CET-1CEST,M3.5.0,M10.5.0/3");
  Connect("LQ7B 2.04");
  for (const char* date : {"2021-2-30 1:0:0", "2021-13-1 1:0:0", "1999-12-31 23:59:59",
                           "2021-6-1 24:0:0", "2021-6-1"}) {
    peer.Answer("get -t\r", std::string("\rDate\\Time: ") + date + "\r>");
    ZuroSeconds seconds = 5;
    EXPECT_EQ(proto.DeviceTime(&seconds, 0), -30) << date;
    EXPECT_EQ(seconds, -1);
  }
  NoScriptFailures();
}

TEST_F(Clock, NoClockNoCommand) {
  Connect("VUSKA_CAL 1.00");
  ZuroSeconds seconds = 7;
  EXPECT_EQ(proto.DeviceTime(&seconds, 1), -1);
  EXPECT_EQ(seconds, -1);
  EXPECT_EQ(proto.DeviceTime(nullptr, 0), -1);
  EXPECT_EQ(Wire(), "");
}

class Erase : public Clock {
protected:
  void ConnectNamed(const std::string& name) {
    Connect("DU70 2.30");
    DeviceSettingsRecord record = proto.Settings();
    record.deviceName = name;
    Load(record);
  }
};

TEST_F(Erase, WrongDeviceIsNeverErased) {
  ConnectNamed("NODE1");
  peer.Answer("get -i\r", "\rNODE7\r>");
  EXPECT_EQ(proto.EraseData(), -37);
  EXPECT_TRUE(log.Contains("EraseData: Identity mismatch. Class: NODE1, Device: NODE7"));
  EXPECT_EQ(Wire(), "get -i\r");
}

TEST_F(Erase, UnreadableNameIsNeverErased) {
  ConnectNamed("NODE1");
  peer.Answer("get -i\r", "\r\r>");
  EXPECT_EQ(proto.EraseData(), -37);
  EXPECT_TRUE(log.Contains("EraseData failed checking the identity of device (error -36)"));
  EXPECT_EQ(Wire(), "get -i\r");
}

TEST_F(Erase, ConnectedDeviceIsErased) {
  ConnectNamed("NODE1");
  peer.Answer("get -i\r", "\rNODE1\r>").Answer("yes\r", "\rErasing... OK\r>");
  EXPECT_EQ(proto.EraseData(), 1);
  EXPECT_EQ(Wire(), "get -i\ryes\r");
  EXPECT_TRUE(log.Contains("InitializeDevice erased device data"));
}

TEST_F(Erase, BrokenDataMemory) {
  ConnectNamed("NODE1");
  peer.Answer("get -i\r", "\rNODE1\r>").Answer("yes\r", "\rDataFlash FAIL\r>");
  EXPECT_EQ(proto.EraseData(), -65);
  peer.Answer("get -i\r", "\rNODE1\r>").Answer("yes\r", "\rERROR\r>");
  EXPECT_EQ(proto.EraseData(), -65);
  peer.Answer("get -i\r", "\rNODE1\r>").Answer("yes\r", "\rhmm\r>");
  EXPECT_EQ(proto.EraseData(), -30);
  EXPECT_EQ(log.Count("EraseData failed due to a broken DataFlash"), 2u);
  NoScriptFailures();
}

TEST_F(Erase, OldFirmwareChecksThroughShowAndEndsWithBang) {
  Connect("LQ7B 2.04");
  DeviceSettingsRecord record = proto.Settings();
  record.newFirmware = 0;
  record.familyCode = kFamilyLq7;
  record.deviceName = "OLD1";
  Load(record);
  peer.Answer("show\r", "\rID: OLD1\rVersion: 1.50\r>").Answer("yes\r", "\rOK!");
  EXPECT_EQ(proto.EraseData(), 1);
  EXPECT_EQ(Wire(), "show\ryes\r");
}

} // namespace
} // namespace zuro::test
