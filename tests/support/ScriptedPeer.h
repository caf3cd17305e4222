// The device end of a pseudo-terminal for protocol tests: a thread of its own
// on the master side runs a script (expect these bytes, answer those after so
// many milliseconds, stay silent, send garbage, pull the cable) and records
// everything the code under test sent, with the time it arrived.
//
//   PtyPair pty;
//   ScriptedPeer peer(pty);
//   peer.Expect("boot KWAX\r").Send("OK\r>", 20).Expect("\r").Send("$");
//   ... run the code under test on pty.SlavePath() ...
//   EXPECT_TRUE(peer.WaitDone());
//   EXPECT_EQ(peer.Received(), "boot KWAX\r\r");
//   EXPECT_THAT(peer.Failures(), testing::IsEmpty());
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/PtyPair.h"

namespace zuro::test {

class ScriptedPeer {
public:
  /// How long an Expect waits unless told otherwise.
  static constexpr std::uint32_t kDefaultExpectMs = 5000;

  /// One piece of what the port sent, as the peer read it.
  struct Chunk {
    std::uint32_t tickMs; ///< TickMs() when it was read
    std::string bytes;
  };

  /// Starts the peer's thread on `pty`'s master. The pair must outlive the peer.
  explicit ScriptedPeer(PtyPair& pty);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  // Script steps run in the order given; they may be added at any time.

  /// Waits until `bytes` have been received after what earlier expectations
  /// matched; the match moves past them. A time-out is a failure and ends the script.
  ScriptedPeer& Expect(std::string bytes, std::uint32_t timeoutMs = kDefaultExpectMs);
  /// Sends `bytes` `afterMs` milliseconds after the previous step finished.
  ScriptedPeer& Send(std::string bytes, std::uint32_t afterMs = 0);
  /// Expect(request) then Send(answer, afterMs): one exchange of a protocol.
  ScriptedPeer& Answer(std::string request, std::string answer, std::uint32_t afterMs = 0);
  /// Stays silent for `ms` milliseconds (what arrives meanwhile is still recorded).
  ScriptedPeer& Silence(std::uint32_t ms);
  /// Closes the master `afterMs` after the previous step: the port is gone.
  ScriptedPeer& CloseLine(std::uint32_t afterMs = 0);

  /// Writes at once from the calling thread, outside the script.
  bool SendNow(std::string_view bytes);

  /// Waits until every step has run (or failed). False on time-out.
  bool WaitDone(std::uint32_t timeoutMs = 10000);
  /// Waits until `bytes` appear anywhere in what was received. False on time-out.
  bool WaitForReceived(std::string_view bytes, std::uint32_t timeoutMs = kDefaultExpectMs);

  /// Everything received so far, in one piece and in the pieces it came in.
  std::string Received() const;
  std::vector<Chunk> ReceivedChunks() const;
  /// Forgets what was received (the expectation cursor starts again at 0).
  void ClearReceived();
  /// What went wrong in the script, one line per failure; empty when all went to plan.
  std::vector<std::string> Failures() const;
  /// The baud rate the port is set to, as the device end sees it.
  std::uint32_t PortBaud() const { return pty_.SlaveBaud(); }

  /// `count` pseudo-random bytes from `seed`, none of them in `exclude`.
  static std::string Garbage(std::size_t count, std::uint32_t seed, std::string_view exclude = {});
  /// Printable form of bytes for failure messages ("\r" as \r, others as \xNN).
  static std::string Printable(std::string_view bytes);

private:
  enum class Kind { kExpect, kSend, kSilence, kClose };
  struct Step {
    Kind kind;
    std::string bytes;
    std::uint32_t ms; ///< time-out of an expectation, delay of the others
  };

  void Add(Step step);
  void Run();
  void Wake();

  PtyPair& pty_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Step> steps_;
  std::string received_;
  std::size_t matched_ = 0; ///< received_ up to here was consumed by expectations
  std::vector<Chunk> chunks_;
  std::vector<std::string> failures_;
  bool busy_ = false; ///< a step is in progress
  bool stop_ = false;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::thread thread_;
};

} // namespace zuro::test
