// A service object whose pauses are recorded (the long ones skipped) and
// whose computer clock a test may set, on a protocol object that skips its
// long pauses too; and a pty fixture with a scripted instrument behind it.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "core/Time.h"
#include "service/Zuro_protocol.h"
#include "support/PtyPair.h"
#include "support/ScriptedPeer.h"
#include "support/TestLog.h"

namespace zuro::test {

/// Pauses up to this long are really waited: they pace exchanges with the peer.
constexpr std::uint32_t kRealPauseMaxMs = 100;

class FastProtocol : public VUSKA_Protocol {
public:
  using VUSKA_Protocol::VUSKA_Protocol;

protected:
  void Pause(std::uint32_t ms) override { DelayMs(ms <= kRealPauseMaxMs ? ms : 0); }
};

class TestService : public Zuro_protocol {
public:
  static constexpr std::int64_t kRealClock = -2;

  explicit TestService(ZuroLog* log) : Zuro_protocol(log, std::make_unique<FastProtocol>(log)) {
    Sdi().SetSdiTiming(ZuroSDI12::kDefaultTries, 500);
  }

  std::vector<std::uint32_t> pauses;
  std::int64_t clock = kRealClock; ///< seconds since 1970 the computer's clock shows

  std::size_t PauseCount(std::uint32_t ms) const {
    return static_cast<std::size_t>(std::count(pauses.begin(), pauses.end(), ms));
  }

protected:
  void Pause(std::uint32_t ms) override {
    pauses.push_back(ms);
    DelayMs(ms <= kRealPauseMaxMs ? ms : 0);
  }
  std::int64_t ComputerTime() const override {
    return clock == kRealClock ? Zuro_protocol::ComputerTime() : clock;
  }
};

class ServicePty : public ::testing::Test {
protected:
  static constexpr const char* kSentinel = "\x01#end#\x01";

  void SetUp() override { ASSERT_TRUE(pty.Ok()) << pty.Error(); }

  /// Opens the port as a connection would, for a kind given by hand.
  void OpenAs(int kind, std::uint32_t version = 230) {
    ASSERT_EQ(service.Protocol().ZSOpen(pty.SlavePath().c_str(), 9600), 1);
    DeviceKindEntry entry;
    FillDeviceKindEntry(kind, version, &entry);
    service.SetEntry(entry);
    service.SetKind(kind);
  }

  void Tries(std::uint32_t serial) {
    ProtocolOptions options;
    options.serialTries = serial;
    ASSERT_EQ(service.Protocol().ConfigureProtocol(&options, 1), 1);
  }

  /// Everything the service wrote, once the script has run.
  std::string Wire() {
    EXPECT_TRUE(peer.WaitDone());
    if (service.Protocol().IsOpen()) {
      EXPECT_GT(service.Protocol().ZSWrite(kSentinel), 0);
      EXPECT_TRUE(peer.WaitForReceived(kSentinel));
      std::string all = peer.Received();
      return all.substr(0, all.rfind(kSentinel));
    }
    return peer.Received();
  }

  void NoScriptFailures() { EXPECT_THAT(peer.Failures(), ::testing::IsEmpty()); }

  PtyPair pty;
  ScriptedPeer peer{pty};
  TestLog log;
  TestService service{log};
};

} // namespace zuro::test
