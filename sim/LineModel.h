// The seam every simulated device plugs into: a byte-stream state machine that
// takes what the host sent and produces what the device answers, each answer
// with the time it is due. The line (SimLine) owns the clock, the pacing and
// the transcript; models only count time from the moment they are fed, so a
// test can drive them in virtual time and the pty server in real time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zuro::sim {

/// Simulated time in microseconds since the line started.
using SimTime = std::uint64_t;

constexpr SimTime kUsPerMs = 1000;

/// One piece of a device's answer: `bytes` go out `delayUs` after the moment
/// of the call that produced them, sent at the device's UART rate `baud`
/// (0: the rate the device has when the line sends them).
struct OutputChunk {
  SimTime delayUs = 0;
  std::string bytes;
  std::uint32_t baud = 0;
};

/// What one call into a model produced, in order.
class LineOutput {
public:
  void Send(std::string_view bytes, SimTime delayUs = 0, std::uint32_t baud = 0) {
    if (!bytes.empty()) {
      chunks_.push_back(OutputChunk{delayUs, std::string(bytes), baud});
    }
  }
  std::vector<OutputChunk>& Chunks() { return chunks_; }
  const std::vector<OutputChunk>& Chunks() const { return chunks_; }
  bool Empty() const { return chunks_.empty(); }
  void Clear() {
    chunks_.clear();
    notes_.clear();
  }

  /// Something a person reading the transcript should know (a restart, a
  /// power cut, a new baud); it goes into the transcript, not onto the line.
  void Note(std::string text) { notes_.push_back(std::move(text)); }
  const std::vector<std::string>& Notes() const { return notes_; }

private:
  std::vector<OutputChunk> chunks_;
  std::vector<std::string> notes_;
};

/// A device (or a layer in front of one) on the serial line.
class LineModel {
public:
  virtual ~LineModel() = default;

  /// The host's bytes, arriving at `now`. The answer goes into `out`.
  virtual void Receive(std::string_view bytes, SimTime now, LineOutput& out) = 0;

  /// Lets a model act on its own at `now` (a restart finishing, a timer).
  virtual void Advance(SimTime now, LineOutput& out) {
    (void)now;
    (void)out;
  }

  /// The next moment at which Advance has something to do, or 0 for none.
  virtual SimTime NextEventAt() const { return 0; }

  /// The rate the device's UART listens and talks at right now.
  virtual std::uint32_t Baud() const = 0;

  /// One line for people: what is on the line and what it runs.
  virtual std::string Describe() const { return {}; }
};

} // namespace zuro::sim
