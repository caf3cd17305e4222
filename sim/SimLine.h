// The serial line between the host and one simulated device: it feeds the
// host's bytes to the device model (through the radio module and the line
// faults when configured), schedules the answers in time, optionally paces
// both directions at the host's baud (10 bits per byte), garbles bytes when
// host and device disagree on the baud, and keeps the transcript. Time is
// given by the caller: the pty server passes real time, tests virtual time.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "sim/Faults.h"
#include "sim/LineModel.h"
#include "sim/RadioModule.h"
#include "sim/Transcript.h"

namespace zuro::sim {

constexpr std::uint32_t kBitsPerByte = 10; ///< start bit, 8 data bits, stop bit
constexpr SimTime kDefaultExchangeWaitUs = 3000 * kUsPerMs;

struct LineConfig {
  bool pace = false;     ///< bytes take 10 bits at the host's baud
  bool checkBaud = true; ///< bytes at a baud the other side does not use arrive garbled
  std::uint32_t hostBaud = 9600;
  LineFaults faults;
};

class SimLine {
public:
  /// `device` is the model at the far end; `radio`, when given, is the radio
  /// module fitted in front of it (owned by the device).
  SimLine(std::unique_ptr<LineModel> device, RadioModule* radio, const LineConfig& config);
  ~SimLine();

  LineModel& Device() { return *device_; }
  template <class T> T* DeviceAs() { return dynamic_cast<T*>(device_.get()); }
  FaultLayer* Faults() { return faults_.get(); }
  Transcript& Record() { return transcript_; }
  const LineConfig& Config() const { return config_; }

  /// The baud the host's port is set to (the pty server reads it from the pty).
  void SetHostBaud(std::uint32_t baud) { hostBaud_ = baud; }
  std::uint32_t HostBaud() const { return hostBaud_; }

  /// Bytes the host wrote, arriving at `now`.
  void HostWrite(std::string_view bytes, SimTime now);

  /// Lets the device handle every input and event due by `now`.
  void Pump(SimTime now);

  /// The device's bytes that have reached the host by `now`.
  std::string TakeOutput(SimTime now);

  /// Host bytes still on their way to the device (paced lines queue them).
  std::size_t InputBacklog() const { return input_.size(); }

  /// The next moment something is due (input, output or a device event); 0: none.
  SimTime NextWakeAt() const;

  // Virtual time, for tests that drive the line in-process.
  SimTime Now() const { return now_; }
  /// Runs virtual time forward by `us`, returning what reached the host.
  std::string RunFor(SimTime us);
  /// Sends `bytes` at the current virtual time and runs until the device has
  /// been quiet (nothing due) or `maxWaitUs` have passed; returns the answer.
  std::string Exchange(std::string_view bytes, SimTime maxWaitUs = kDefaultExchangeWaitUs);

private:
  struct TimedByte {
    SimTime due;
    char byte;
    bool damaged;
  };

  void Schedule(LineOutput& produced, SimTime at);
  SimTime ByteUs() const;

  LineConfig config_;
  std::unique_ptr<LineModel> device_;
  std::unique_ptr<RadioFront> radioFront_;
  std::unique_ptr<FaultLayer> faults_;
  LineModel* top_ = nullptr;
  std::uint32_t hostBaud_;
  std::deque<TimedByte> input_;
  std::deque<TimedByte> output_;
  SimTime inputFreeAt_ = 0;
  SimTime outputFreeAt_ = 0;
  SimTime now_ = 0;
  Transcript transcript_;
};

/// What a byte looks like after crossing a UART at the wrong baud: framing
/// garbage with the top bit set (never a carriage return or a prompt).
char MisBaudByte(char byte);

} // namespace zuro::sim
