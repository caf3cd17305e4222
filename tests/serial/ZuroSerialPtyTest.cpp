// ZuroSerial on real pseudo-terminals: the line settings, the read-ahead
// buffer and the waits as the protocols above rely on them, and the faults of
// a line that misbehaves or goes away.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/EventPump.h"
#include "core/ResultCodes.h"
#include "core/Time.h"
#include "serial/ZuroSerial.h"
#include "support/PtyPair.h"
#include "support/ScriptedPeer.h"
#include "support/TestLog.h"

namespace zuro {
namespace {

using test::PtyPair;
using test::ScriptedPeer;
using test::TestLog;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

/// Exposes what only derived protocol objects may do.
class SerialUnderTest : public ZuroSerial {
public:
  using ZuroSerial::AdoptPort;
  using ZuroSerial::LendReadBuffer;
  using ZuroSerial::ReleaseAdoptedPort;
  using ZuroSerial::SetCounterPresent;
  using ZuroSerial::ZuroSerial;
};

/// Counts the long pauses of a wait: DelayMs hands every pause of 170 ms and
/// more to the installed pump.
class CountingPump : public EventPump {
public:
  void WaitAndDispatch(std::uint32_t maxWaitMs) override {
    ++calls;
    DelayMs(maxWaitMs < kPumpedDelayMinMs ? maxWaitMs : kPumpedDelayMinMs - 1);
  }
  int calls = 0;
};

class ZuroSerialPty : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(pty.Ok()) << pty.Error(); }

  std::string ReadAll(ZuroSerial& serial, std::uint32_t length) {
    std::string out(length, '\0');
    std::uint32_t got = 0;
    const Result r = serial.ZSRead(out.data(), length, got);
    EXPECT_GE(r, 0);
    out.resize(r < 0 ? 0 : got);
    return out;
  }

  PtyPair pty;
  TestLog log;
  SerialUnderTest port{log};
};

TEST_F(ZuroSerialPty, OpenSetsEightNoneOneRawAtDefaultBaud) {
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 0), 1);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.HostBaud(), 9600u);
  EXPECT_EQ(pty.SlaveBaud(), 9600u);

  termios t{};
  ASSERT_TRUE(pty.SlaveSettings(t));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_TRUE(log.Contains(pty.SlavePath() +
                           ": ZSOpen successfully opened and configured comm port at 9600 baud"));
}

TEST_F(ZuroSerialPty, BytesCrossTheLineUnchanged) {
  ScriptedPeer peer(pty);
  ASSERT_EQ(port.ZSOpen(pty.SlavePath().c_str(), 115200), 1);
  EXPECT_EQ(peer.PortBaud(), 115200u);

  // Every byte value, including the ones a cooked tty would translate.
  std::string all;
  for (int b = 0; b < 256; ++b) {
    all.push_back(static_cast<char>(b));
  }
  std::uint32_t written = 0;
  EXPECT_EQ(port.ZSWrite(all.data(), static_cast<std::uint32_t>(all.size()), written), 256);
  EXPECT_EQ(written, 256u);
  ASSERT_TRUE(peer.WaitForReceived(all));
  EXPECT_EQ(peer.Received(), all);

  ASSERT_TRUE(pty.WriteMaster(all));
  std::string back;
  for (int i = 0; i < 20 && back.size() < all.size(); ++i) {
    back += ReadAll(port, 512);
  }
  EXPECT_EQ(back, all);
  EXPECT_TRUE(log.Contains("ZSWrite wrote 256 bytes"));
}

TEST_F(ZuroSerialPty, WaitFindsCharacterAcrossPiecesAndReadDeliversOnlyTheAnswer) {
  ScriptedPeer peer(pty);
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  peer.Send("+123").Send("\r", 40);
  EXPECT_EQ(port.ZSWait(1000, '\r'), 13);
  EXPECT_TRUE(port.WaitFound());
  ASSERT_TRUE(peer.WaitDone());

  // Bytes after the answer stay in the driver for the next read.
  ASSERT_TRUE(peer.SendNow("later"));
  DelayMs(20);
  EXPECT_EQ(ReadAll(port, 20), "+123\r");
  EXPECT_FALSE(port.WaitFound());
  EXPECT_TRUE(log.Contains("ZSRead read 5 bytes from gReadBuffer"));
  EXPECT_EQ(ReadAll(port, 20), "later");
  EXPECT_THAT(log.Text(), HasSubstr("ZSWait found '\r' in "));
}

TEST_F(ZuroSerialPty, WaitWithNothingArrivingTimesOutAfterItsPauses) {
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  CountingPump pump;
  EventPump* previous = InstallEventPump(&pump);
  const std::uint32_t start = TickMs();
  const Result r = port.ZSWait(1000, '+');
  const std::uint32_t elapsed = ElapsedMs(start);
  InstallEventPump(previous);

  EXPECT_EQ(r, 0);
  EXPECT_FALSE(port.WaitFound());
  EXPECT_GT(elapsed, 1000u);
  // Five quick polls, then a pause before each further poll.
  EXPECT_GE(pump.calls, 1);
  EXPECT_THAT(log.Text(), HasSubstr("ZSWait read 0 bytes, but never found '+' in "));
}

TEST_F(ZuroSerialPty, ShortWaitsNeverPause) {
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  CountingPump pump;
  EventPump* previous = InstallEventPump(&pump);
  EXPECT_EQ(port.ZSWait(400, '+'), 0);
  InstallEventPump(previous);
  EXPECT_EQ(pump.calls, 0);
}

TEST_F(ZuroSerialPty, ShortReadAfterWaitDiscardsTheRestOfTheBuffer) {
  ScriptedPeer peer(pty);
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  peer.Send("0123456789");
  EXPECT_EQ(port.ZSWait(1000, '9'), '9');
  EXPECT_EQ(ReadAll(port, 4), "0123");
  // The six other bytes are gone; the next read goes to the (empty) port.
  EXPECT_EQ(ReadAll(port, 20), "");
  EXPECT_TRUE(log.Contains("ZSRead read 0 btyes"));
}

TEST_F(ZuroSerialPty, FlushAfterWaitKeepsWaitFoundSoTheNextReadIsEmpty) {
  ScriptedPeer peer(pty);
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  peer.Send("OK>");
  ASSERT_EQ(port.ZSWait(1000, '>'), '>');
  EXPECT_EQ(port.ZSFlush(1), 0);
  EXPECT_TRUE(port.WaitFound());
  ASSERT_TRUE(peer.SendNow("next"));
  DelayMs(20);
  EXPECT_EQ(ReadAll(port, 20), ""); // the port is not read
  EXPECT_FALSE(port.WaitFound());
  EXPECT_EQ(ReadAll(port, 20), "next");
}

TEST_F(ZuroSerialPty, FlushDiscardsWhatTheDriverHolds) {
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  ASSERT_TRUE(pty.WriteMaster("stale bytes"));
  DelayMs(20);
  EXPECT_EQ(port.ZSFlush(1), 0);
  EXPECT_EQ(ReadAll(port, 20), "");
}

TEST_F(ZuroSerialPty, HostBaudChangesOnlyTheRate) {
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  log.Clear();
  EXPECT_EQ(port.ZSHostBaud(9600), 0);
  EXPECT_EQ(log.Text(), "");

  EXPECT_EQ(port.ZSHostBaud(115200), 1);
  EXPECT_EQ(port.HostBaud(), 115200u);
  EXPECT_EQ(pty.SlaveBaud(), 115200u);
  termios t{};
  ASSERT_TRUE(pty.SlaveSettings(t));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_lflag & ICANON, 0u);

  // A rate the driver does not know is refused and the old one stays.
  EXPECT_EQ(port.ZSHostBaud(12345), -EINVAL);
  EXPECT_EQ(port.HostBaud(), 115200u);
  EXPECT_EQ(pty.SlaveBaud(), 115200u);
  EXPECT_TRUE(log.Contains("ZSHostBaud failed to apply new baud rate \"12345\" (error 22)"));
}

TEST_F(ZuroSerialPty, HostBaudWithoutPortName) {
  EXPECT_EQ(port.ZSHostBaud(19200), kErrPortNoName);
}

TEST_F(ZuroSerialPty, OperationsOnClosedPortFailWithSerialTag) {
  char buffer[8];
  std::uint32_t count = 0;
  // Never opened: no read-ahead buffer yet.
  EXPECT_EQ(port.ZSRead(buffer, sizeof buffer, count), kErrOutOfMemory);
  EXPECT_EQ(port.ZSWrite("x", 1, count), kErrNoAnswer);
  EXPECT_EQ(port.ZSWait(100, 'x'), kErrNoAnswer);
  EXPECT_TRUE(log.Contains("ZuroSerial: ZSWrite tried to write to a closed port"));
  EXPECT_TRUE(log.Contains("ZuroSerial: ZSWait tried to operate on a closed port"));

  // A lent buffer outlives the port, so a read reaches the closed-port check.
  char lent[ZuroSerial::kReadBufferSize] = {};
  port.LendReadBuffer(lent);
  EXPECT_EQ(port.ZSRead(buffer, sizeof buffer, count), kErrNoAnswer);
  EXPECT_TRUE(log.Contains("ZuroSerial: ZSRead tried to read from a closed port"));
}

TEST_F(ZuroSerialPty, CloseReportsWhetherAPortWasOpen) {
  EXPECT_EQ(port.ZSClose(), 0);
  EXPECT_LT(port.ZSOpen("/dev/zuro-no-such-port", 9600), 0);
  EXPECT_EQ(port.ZSClose(), 0);
  EXPECT_FALSE(log.Contains("ZSClose"));
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  EXPECT_NE(port.ReadBuffer(), nullptr);
  EXPECT_EQ(port.ZSClose(), 1);
  EXPECT_EQ(port.ReadBuffer(), nullptr); // the owned buffer went with the port
  EXPECT_TRUE(log.Contains(pty.SlavePath() + ": ZSClose closed comm port"));
  EXPECT_EQ(port.ZSClose(), 0);
}

TEST_F(ZuroSerialPty, OpenClosesAPortStillOpenFirst) {
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 19200), 1);
  EXPECT_EQ(pty.SlaveBaud(), 19200u);
  EXPECT_TRUE(log.Contains("ZuroSerial: ZSOpen found port \""));
  EXPECT_EQ(log.Count("ZSClose closed comm port"), 1u);
}

TEST_F(ZuroSerialPty, PortHeldByAnotherObjectIsInUseAndFreeAgainAfterClose) {
  SerialUnderTest other{log};
  ASSERT_EQ(other.ZSOpen(pty.SlavePath(), 9600), 1);
  EXPECT_EQ(port.ZSOpen(pty.SlavePath(), 9600), kErrPortInUse);
  EXPECT_TRUE(log.Contains(pty.SlavePath() + ": ZSOpen failed to open comm port (error 5)"));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(other.ZSClose(), 1);
  EXPECT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
}

TEST_F(ZuroSerialPty, PortHeldByAnotherProcessIsInUse) {
  int toParent[2];
  int toChild[2];
  ASSERT_EQ(::pipe(toParent), 0);
  ASSERT_EQ(::pipe(toChild), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(toParent[0]);
    ::close(toChild[1]);
    ZuroSerial holder(nullptr);
    const char ok = holder.ZSOpen(pty.SlavePath(), 9600) == 1 ? 'y' : 'n';
    [[maybe_unused]] ssize_t n = ::write(toParent[1], &ok, 1);
    char done = 0;
    n = ::read(toChild[0], &done, 1); // holds the port until the parent is done
    holder.ZSClose();
    ::_exit(0);
  }
  ::close(toParent[1]);
  ::close(toChild[0]);
  char ok = 0;
  ASSERT_EQ(::read(toParent[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  EXPECT_EQ(port.ZSOpen(pty.SlavePath(), 9600), kErrPortInUse);
  ::close(toChild[1]);
  ::close(toParent[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
}

// A program that holds the port with TIOCEXCL but no lock: even root, who
// may open it anyway, reports it in use and leaves its exclusivity in place.
TEST_F(ZuroSerialPty, PortMadeExclusiveByAnotherProgramIsInUseAndUntouched) {
  const int other = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
  EXPECT_EQ(port.ZSOpen(pty.SlavePath(), 9600), kErrPortInUse);
  int exclusive = 0;
  ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
  EXPECT_NE(exclusive, 0);
  ::ioctl(other, TIOCNXCL);
  ::close(other);
  EXPECT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
}

TEST_F(ZuroSerialPty, LentBufferStaysWithItsOwner) {
  char lent[ZuroSerial::kReadBufferSize];
  std::memset(lent, 'x', sizeof lent);
  port.LendReadBuffer(lent);
  ScriptedPeer peer(pty);
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  EXPECT_EQ(port.ReadBuffer(), lent);
  EXPECT_FALSE(port.OwnsBuffer());
  EXPECT_EQ(lent[0], '\0'); // cleared by the open
  peer.Send("hi\r");
  EXPECT_EQ(port.ZSWait(1000, '\r'), 13);
  EXPECT_STREQ(lent, "hi\r");
  EXPECT_EQ(port.ZSClose(), 1);
  EXPECT_EQ(port.ReadBuffer(), lent);
}

TEST_F(ZuroSerialPty, AdoptedPortIsUsedAndGivenBackUnclosed) {
  ScriptedPeer peer(pty);
  SerialUnderTest owner{log};
  ASSERT_EQ(owner.ZSOpen(pty.SlavePath(), 9600), 1);
  port.AdoptPort(owner.PortHandle(), owner.ReadBuffer(), owner.PortName(), 9600);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.PortName(), pty.SlavePath());
  peer.Send("$");
  EXPECT_EQ(port.ZSWait(1000, '$'), '$');
  EXPECT_EQ(port.ZSWrite("\r"), 1);
  ASSERT_TRUE(peer.WaitForReceived("\r"));
  port.ReleaseAdoptedPort();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(owner.IsOpen());
  EXPECT_EQ(owner.ZSWrite("ok"), 2);
  EXPECT_EQ(port.ZSClose(), 0);
  EXPECT_EQ(owner.ZSClose(), 1);
}

TEST_F(ZuroSerialPty, WaitWithoutHighResolutionCounterSleepsItsTimeOut) {
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  port.SetCounterPresent(false);
  ASSERT_TRUE(pty.WriteMaster("abc\r"));
  const std::uint32_t start = TickMs();
  EXPECT_EQ(port.ZSWait(120, '\r'), 0);
  EXPECT_GE(ElapsedMs(start), 120u);
  EXPECT_FALSE(port.WaitFound());
  EXPECT_TRUE(log.Contains("ZSWait forced to wait msTimeout (120 ms)"));
  EXPECT_EQ(ReadAll(port, 20), "abc\r"); // the bytes stayed in the driver
}

// A peer that floods the line without the awaited character: the buffer
// holds 2047 bytes and its terminator, the rest stays in the driver.
TEST_F(ZuroSerialPty, FloodWithoutTheCharacterKeepsToTheBuffer) {
  ScriptedPeer peer(pty);
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  const std::string flood = ScriptedPeer::Garbage(10 * 1024, 7, std::string("\r\0", 2));
  peer.Send(flood);
  EXPECT_EQ(port.ZSWait(600, '\r'), 0);
  EXPECT_TRUE(log.Contains("ZSWait read 2047 bytes, but never found '\r' in "));
  EXPECT_EQ(port.ReadBuffer()[ZuroSerial::kReadBufferMaxText], '\0');

  std::string back = ReadAll(port, 4096);
  ASSERT_GE(back.size(), 2047u);
  for (int i = 0; i < 50 && back.size() < flood.size(); ++i) {
    back += ReadAll(port, 4096);
  }
  EXPECT_EQ(back, flood); // nothing lost, nothing doubled
}

TEST_F(ZuroSerialPty, TrickleOfOtherCharactersDoesNotStretchTheWait) {
  ScriptedPeer peer(pty);
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  constexpr int kTrickleBytes = 100;
  for (int i = 0; i < kTrickleBytes; ++i) {
    peer.Send("x", 30); // about 3 s in all
  }
  EXPECT_EQ(port.ZSWait(300, '\r'), 0);
  // Had the wait run until the trickle ended it would hold every byte.
  const std::string held = ReadAll(port, 4096);
  EXPECT_LT(held.size(), static_cast<std::size_t>(kTrickleBytes));
}

TEST_F(ZuroSerialPty, ZeroByteEndsTheTextButNotTheWait) {
  ScriptedPeer peer(pty);
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  peer.Send(std::string("AB\0CD\r", 6));
  EXPECT_EQ(port.ZSWait(1000, '\r'), 13);
  EXPECT_EQ(ReadAll(port, 20), "AB");
}

TEST_F(ZuroSerialPty, LineGoneDuringWait) {
  ScriptedPeer peer(pty);
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  pty.ReleaseSlave(); // only the port under test holds the line now
  peer.Send("partial").Silence(150).CloseLine();
  EXPECT_EQ(port.ZSWait(5000, '\r'), kErrNoAnswer);
  EXPECT_THAT(log.Text(), HasSubstr("ZSWait ReadFile failed (error "));
  EXPECT_EQ(port.ZSClose(), 1);
}

TEST_F(ZuroSerialPty, LineGoneBeforeReadAndWrite) {
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  pty.ReleaseSlave();
  pty.CloseMaster();
  char buffer[16];
  std::uint32_t count = 0;
  EXPECT_EQ(port.ZSRead(buffer, sizeof buffer, count), kErrNoAnswer);
  EXPECT_EQ(count, 0u);
  EXPECT_THAT(log.Text(), HasSubstr("ZSRead ReadFile failed (error "));
  EXPECT_EQ(port.ZSWrite("hello"), kErrNoAnswer);
  EXPECT_THAT(log.Text(), HasSubstr("ZSWrite WriteFile failed (error "));
  EXPECT_EQ(port.ZSClose(), 1);
}

} // namespace
} // namespace zuro
