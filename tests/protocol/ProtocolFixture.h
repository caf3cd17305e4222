// A protocol object on one end of a pseudo-terminal and a scripted instrument
// on the other. The protocol's pauses are recorded (and the long ones skipped)
// so the tests can check every wait the protocol asks for without spending it.
#pragma once

#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/Time.h"
#include "protocol/VUSKA_Protocol.h"
#include "support/PtyPair.h"
#include "support/ScriptedPeer.h"
#include "support/TestLog.h"

namespace zuro::test {

class RecordingProtocol : public VUSKA_Protocol {
public:
  /// Pauses up to this long are really waited: they pace exchanges with the peer.
  static constexpr std::uint32_t kRealPauseMaxMs = 100;
  static constexpr std::int64_t kRealClock = -2;

  using VUSKA_Protocol::VUSKA_Protocol;

  std::vector<std::uint32_t> pauses;
  std::int64_t clock = kRealClock; ///< seconds since 1970 the computer's clock shows

  std::size_t PauseCount(std::uint32_t ms) const {
    std::size_t n = 0;
    for (const std::uint32_t p : pauses) {
      n += p == ms ? 1 : 0;
    }
    return n;
  }

protected:
  void Pause(std::uint32_t ms) override {
    pauses.push_back(ms);
    if (ms <= kRealPauseMaxMs) {
      DelayMs(ms);
    }
  }
  std::int64_t ComputerTime() const override {
    return clock == kRealClock ? VUSKA_Protocol::ComputerTime() : clock;
  }
};

class ProtocolPty : public ::testing::Test {
protected:
  /// Written after a call to mark where its bytes end on the wire.
  static constexpr const char* kSentinel = "\x01#end#\x01";

  void SetUp() override { ASSERT_TRUE(pty.Ok()) << pty.Error(); }

  void Open() { ASSERT_EQ(proto.ZSOpen(pty.SlavePath().c_str(), 9600), 1); }

  void Tries(std::uint32_t serial, std::uint32_t radio = 0) {
    ProtocolOptions options;
    options.serialTries = serial;
    options.radioTries = radio;
    ASSERT_EQ(proto.ConfigureProtocol(&options, 1), 1);
  }

  /// Everything the protocol wrote, once the script has run: a sentinel
  /// written through the still open port marks the end.
  std::string Wire() {
    EXPECT_TRUE(peer.WaitDone());
    if (proto.IsOpen()) {
      EXPECT_GT(proto.ZSWrite(kSentinel), 0);
      EXPECT_TRUE(peer.WaitForReceived(kSentinel));
      std::string all = peer.Received();
      return all.substr(0, all.rfind(kSentinel));
    }
    return peer.Received();
  }

  void NoScriptFailures() { EXPECT_THAT(peer.Failures(), ::testing::IsEmpty()); }

  /// Connects over the cable to an instrument answering "get -ver" with `identity`.
  /// `more` scripts what the instrument does after the version answer.
  Result ConnectSerial(const std::string& identity, std::uint8_t baudIndex = 2,
                       const std::function<void()>& more = {}) {
    peer.Answer("get -ver\r", "\r" + identity + "\r>");
    if (more) {
      more();
    }
    ConnectionRecord record;
    record.portName = pty.SlavePath();
    record.linkType = kLinkSerial;
    record.baudIndex = baudIndex;
    return proto.ConnectDevice(&record);
  }

  /// Puts `record` into the protocol's own record without sending anything.
  void Load(const DeviceSettingsRecord& record) {
    DeviceSettingsRecord copy = record;
    std::uint32_t flags = 0;
    ASSERT_EQ(proto.DeviceSettings(&copy, &flags, VUSKA_Protocol::kWrite), 1);
  }

  PtyPair pty;
  ScriptedPeer peer{pty};
  TestLog log;
  RecordingProtocol proto{log};
};

} // namespace zuro::test
