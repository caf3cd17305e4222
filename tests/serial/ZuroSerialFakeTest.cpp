// The failure rows of the port driver that a real line cannot be made to
// show: a driver that refuses settings, time-outs or the close.

#include <gtest/gtest.h>
#include <string>

#include "core/ResultCodes.h"
#include "serial/ZuroSerial.h"
#include "support/FakeSerial.h"
#include "support/TestLog.h"

namespace zuro {
namespace {

using test::FakeLine;

constexpr const char* kPort = "/dev/ttyUSB3";

class ZuroSerialFake : public ::testing::Test {
protected:
  ZuroSerialFake() { line->openResults[kPort] = 0; }
  std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
  test::TestLog log;
  ZuroSerial port{log, test::FakeBackendFactory(line)};
};

TEST_F(ZuroSerialFake, BareNameOpensUnderDevAtDefaultBaud) {
  EXPECT_EQ(port.ZSOpen("ttyUSB3", 0), 1);
  ASSERT_EQ(line->openAttempts.size(), 1u);
  EXPECT_EQ(line->openAttempts[0], kPort);
  EXPECT_EQ(line->appliedBaud, 9600u);
  EXPECT_EQ(port.PortName(), "ttyUSB3"); // the name as given is the log tag
  EXPECT_TRUE(log.Contains("ttyUSB3: ZSOpen successfully opened"));
}

TEST_F(ZuroSerialFake, RefusedQueueSizesAreOnlyNoted) {
  line->queueResult = -22;
  EXPECT_EQ(port.ZSOpen(kPort, 9600), 1);
  EXPECT_TRUE(log.Contains("ZSOpen failed to set buffer size on comm port (error 22)"));
}

TEST_F(ZuroSerialFake, RefusedSettingsFailTheOpenButLeaveThePortOpen) {
  struct Case {
    const char* label;
    Result FakeLine::*field;
    const char* logText;
  };
  const Case cases[] = {
      {"read settings", &FakeLine::readSettingsResult,
       "ZSOpen failed to retreive DCB on comm port (error 5)"},
      {"apply settings", &FakeLine::applyResult,
       "ZSOpen failed to apply DCB on comm port (error 5)"},
      {"time-outs", &FakeLine::timeoutResult,
       "ZSOpen failed to set timeouts on comm port (error 5)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto fresh = std::make_shared<FakeLine>();
    fresh->openResults[kPort] = 0;
    (*fresh).*(c.field) = -5;
    test::TestLog caseLog;
    ZuroSerial serial(caseLog, test::FakeBackendFactory(fresh));
    EXPECT_EQ(serial.ZSOpen(kPort, 9600), -5);
    EXPECT_TRUE(caseLog.Contains(c.logText)) << caseLog.Text();
    EXPECT_TRUE(serial.IsOpen());
    EXPECT_EQ(serial.ZSClose(), 1);
    EXPECT_EQ(fresh->closes, 1);
  }
}

TEST_F(ZuroSerialFake, ModemLinesRefusedIsNoFailure) {
  line->modemResult = -25;
  EXPECT_EQ(port.ZSOpen(kPort, 9600), 1);
}

TEST_F(ZuroSerialFake, FailedCloseIsReported) {
  ASSERT_EQ(port.ZSOpen(kPort, 9600), 1);
  line->closeResult = -5;
  EXPECT_EQ(port.ZSClose(), -1);
  EXPECT_TRUE(log.Contains("ZSClose failed to close comm port (error 1)"));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.ZSClose(), 0);
}

TEST_F(ZuroSerialFake, NoPortObjectIsOutOfMemory) {
  ZuroSerial serial(log, [] { return std::unique_ptr<SerialBackend>(); });
  EXPECT_EQ(serial.ZSOpen(kPort, 9600), kErrOutOfMemory);
}

TEST_F(ZuroSerialFake, DriverReadFailureEndsWaitAndRead) {
  ASSERT_EQ(port.ZSOpen(kPort, 9600), 1);
  line->reads.push_back({"par", 0});
  line->reads.push_back({"", -5});
  EXPECT_EQ(port.ZSWait(1000, '\r'), kErrNoAnswer);
  EXPECT_TRUE(log.Contains("ZSWait ReadFile failed (error 5)"));
  // What the wait had read is still delivered; the port is then asked again.
  line->reads.push_back({"", -5});
  char buffer[8];
  std::uint32_t got = 0;
  EXPECT_EQ(port.ZSRead(buffer, sizeof buffer, got), kErrNoAnswer);
  EXPECT_TRUE(log.Contains("ZSRead ReadFile failed (error 5)"));
}

TEST_F(ZuroSerialFake, FlushPurgesTheDriverOnlyWhenAsked) {
  ASSERT_EQ(port.ZSOpen(kPort, 9600), 1);
  EXPECT_EQ(port.ZSFlush(0), 0);
  EXPECT_EQ(line->purges, 0);
  EXPECT_EQ(port.ZSFlush(1), 0);
  EXPECT_EQ(line->purges, 1);
}

TEST_F(ZuroSerialFake, HostBaudZeroMeansDefaultNotHangUp) {
  ASSERT_EQ(port.ZSOpen(kPort, 19200), 1);
  EXPECT_EQ(port.ZSHostBaud(0), 1);
  EXPECT_EQ(line->appliedBaud, 9600u);
  EXPECT_EQ(port.ZSHostBaud(0), 0);
}

TEST_F(ZuroSerialFake, HostBaudOnClosedPortWithName) {
  ASSERT_EQ(port.ZSOpen(kPort, 9600), 1);
  ASSERT_EQ(port.ZSClose(), 1);
  EXPECT_EQ(port.ZSHostBaud(9600), 0); // already in force
  EXPECT_EQ(port.ZSHostBaud(19200), kErrNoAnswer);
}

} // namespace
} // namespace zuro
