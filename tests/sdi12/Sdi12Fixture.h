// An SDI-12 access object on the protocol object's port, one end of a
// pseudo-terminal; a scripted reader and sensor on the other. The object's
// pauses are recorded; the short ones that pace the address query are really
// waited, the wake settle is skipped since the script answers only once the
// whole command has arrived.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/Time.h"
#include "protocol/VUSKA_Protocol.h"
#include "sdi12/ZuroSDI12.h"
#include "support/PtyPair.h"
#include "support/ScriptedPeer.h"
#include "support/TestLog.h"

namespace zuro::test {

class RecordingSDI12 : public ZuroSDI12 {
public:
  static constexpr std::uint32_t kRealPauseMaxMs = ZuroSDI12::kQueryWakeGapMs;
  using ZuroSDI12::ZuroSDI12;
  std::vector<std::uint32_t> pauses;

protected:
  void Pause(std::uint32_t ms) override {
    pauses.push_back(ms);
    if (ms <= kRealPauseMaxMs) {
      DelayMs(ms);
    }
  }
};

class Sdi12Pty : public ::testing::Test {
protected:
  /// Written after a call to mark where its bytes end on the wire.
  static constexpr const char* kSentinel = "\x01#end#\x01";
  /// Time-out of tests in which the sensor stays silent on purpose.
  static constexpr std::uint32_t kSilentTimeoutMs = 150;

  void SetUp() override {
    ASSERT_TRUE(pty.Ok()) << pty.Error();
    ASSERT_EQ(proto.ZSOpen(pty.SlavePath().c_str(), 9600), 1);
  }

  /// The reader wakes, the sensor answers `answer` to `command`.
  void Answers(const std::string& command, const std::string& answer) {
    peer.Expect(std::string(1, ZuroSDI12::kWakeChar) + command).Send(answer);
  }

  /// Everything written to the reader since the last look, once the script has run.
  std::string Wire() {
    EXPECT_TRUE(peer.WaitDone());
    EXPECT_GT(proto.ZSWrite(kSentinel), 0);
    EXPECT_TRUE(peer.WaitForReceived(kSentinel));
    const std::string all = peer.Received();
    peer.ClearReceived();
    return all.substr(0, all.rfind(kSentinel));
  }

  void NoScriptFailures() { EXPECT_THAT(peer.Failures(), ::testing::IsEmpty()); }

  /// Puts a sensor's type and version into the object as a read would have.
  void Sensor(char type, std::uint32_t version, std::uint8_t typeIsNumber = 0) {
    SdiSensorRecord record = sdi.Sensor();
    record.sensorType = static_cast<std::uint8_t>(type);
    record.sensorVersion = version;
    record.typeIsNumber = typeIsNumber;
    sdi.SetSensor(record);
  }

  PtyPair pty;
  ScriptedPeer peer{pty};
  TestLog log;
  VUSKA_Protocol proto{log};
  RecordingSDI12 sdi{log, &proto};
};

} // namespace zuro::test
