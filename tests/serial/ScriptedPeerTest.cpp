// The scripted device end itself: every protocol test leans on it, so its
// ordering, timing and failure reports must be right.

#include "support/ScriptedPeer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>

#include "core/Time.h"
#include "serial/ZuroSerial.h"
#include "support/PtyPair.h"

namespace zuro {
namespace {

using test::PtyPair;
using test::ScriptedPeer;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

class ScriptedPeerTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok()) << pty.Error();
    ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  }
  std::string Answer(char end) {
    if (port.ZSWait(2000, end) <= 0) {
      return {};
    }
    char buffer[64];
    std::uint32_t got = 0;
    port.ZSRead(buffer, sizeof buffer, got);
    return std::string(buffer, got);
  }
  PtyPair pty;
  ZuroSerial port{nullptr};
};

TEST_F(ScriptedPeerTest, AnswersInOrderAndRecordsTheWire) {
  ScriptedPeer peer(pty);
  peer.Answer("boot KWAX\r", "OK\r>", 10).Answer("\r", "$");
  port.ZSWrite("boot KWAX\r");
  EXPECT_EQ(Answer('>'), "OK\r>");
  port.ZSWrite("\r");
  EXPECT_EQ(Answer('$'), "$");
  EXPECT_TRUE(peer.WaitDone());
  EXPECT_THAT(peer.Failures(), IsEmpty());
  EXPECT_EQ(peer.Received(), "boot KWAX\r\r");
  const auto chunks = peer.ReceivedChunks();
  ASSERT_GE(chunks.size(), 2u);
  EXPECT_LE(chunks.front().tickMs, chunks.back().tickMs);
}

TEST_F(ScriptedPeerTest, AnswerComesNoSoonerThanItsDelay) {
  ScriptedPeer peer(pty);
  peer.Answer("?", "!", 150);
  const std::uint32_t start = TickMs();
  port.ZSWrite("?");
  EXPECT_EQ(Answer('!'), "!");
  EXPECT_GE(ElapsedMs(start), 150u);
}

TEST_F(ScriptedPeerTest, UnmetExpectationIsReportedAndEndsTheScript) {
  ScriptedPeer peer(pty);
  peer.Expect("login\r", 100).Send("never sent");
  port.ZSWrite("logout\r");
  EXPECT_TRUE(peer.WaitDone());
  const auto failures = peer.Failures();
  ASSERT_THAT(failures, SizeIs(1));
  EXPECT_THAT(failures[0], HasSubstr("expected \"login\\r\""));
  EXPECT_THAT(failures[0], HasSubstr("\"logout\\r\""));
  EXPECT_EQ(port.ZSWait(200, 'n'), 0);
}

TEST_F(ScriptedPeerTest, GarbageAvoidsTheExcludedBytes) {
  const std::string junk = ScriptedPeer::Garbage(5000, 3, "\r>");
  EXPECT_EQ(junk.size(), 5000u);
  EXPECT_EQ(junk.find_first_of("\r>"), std::string::npos);
  EXPECT_EQ(junk, ScriptedPeer::Garbage(5000, 3, "\r>")); // repeatable from the seed
}

TEST_F(ScriptedPeerTest, SeesTheBaudThePortWasSetTo) {
  ScriptedPeer peer(pty);
  EXPECT_EQ(peer.PortBaud(), 9600u);
  ASSERT_EQ(port.ZSHostBaud(57600), 1);
  EXPECT_EQ(peer.PortBaud(), 57600u);
}

} // namespace
} // namespace zuro
