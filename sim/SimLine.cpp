#include "sim/SimLine.h"

#include <algorithm>

namespace zuro::sim {

namespace {
constexpr SimTime kUsPerSecond = 1000000;
}

char MisBaudByte(char byte) {
  return static_cast<char>((static_cast<unsigned char>(byte) * 7u + 0x35u) | 0x80u);
}

SimLine::SimLine(std::unique_ptr<LineModel> device, RadioModule* radio, const LineConfig& config)
    : config_(config), device_(std::move(device)), hostBaud_(config.hostBaud) {
  top_ = device_.get();
  if (radio != nullptr) {
    radioFront_ = std::make_unique<RadioFront>(*radio, *top_);
    top_ = radioFront_.get();
  }
  if (config_.faults.Any()) {
    faults_ = std::make_unique<FaultLayer>(config_.faults, *top_);
    top_ = faults_.get();
  }
}

SimLine::~SimLine() = default;

SimTime SimLine::ByteUs() const {
  if (!config_.pace || hostBaud_ == 0) {
    return 0;
  }
  return kBitsPerByte * kUsPerSecond / hostBaud_;
}

void SimLine::HostWrite(std::string_view bytes, SimTime now) {
  now_ = std::max(now_, now);
  transcript_.Add(now, LineDirection::kToDevice, bytes);
  const SimTime byteUs = ByteUs();
  for (const char c : bytes) {
    const SimTime arrival = std::max(now, inputFreeAt_) + byteUs;
    inputFreeAt_ = arrival;
    // The baud is judged when the byte arrives: by then the device's UART
    // has whatever rate it switched to.
    input_.push_back(TimedByte{arrival, c, false});
  }
  Pump(now);
}

void SimLine::Schedule(LineOutput& produced, SimTime at) {
  for (const auto& note : produced.Notes()) {
    transcript_.Add(at, LineDirection::kNote, note);
  }
  const SimTime byteUs = ByteUs();
  for (const auto& chunk : produced.Chunks()) {
    const bool misBaud = config_.checkBaud && chunk.baud != 0 && chunk.baud != hostBaud_;
    SimTime t = std::max(at + chunk.delayUs, outputFreeAt_);
    for (const char c : chunk.bytes) {
      t += byteUs;
      output_.push_back(TimedByte{t, misBaud ? MisBaudByte(c) : c, misBaud});
    }
    outputFreeAt_ = t;
  }
  produced.Clear();
}

void SimLine::Pump(SimTime now) {
  now_ = std::max(now_, now);
  LineOutput produced;
  for (;;) {
    const SimTime event = top_->NextEventAt();
    const SimTime input = input_.empty() ? 0 : input_.front().due;
    const bool eventDue = event != 0 && event <= now;
    const bool inputDue = !input_.empty() && input <= now;
    if (!eventDue && !inputDue) {
      break;
    }
    if (eventDue && (!inputDue || event <= input)) {
      top_->Advance(event, produced);
      Schedule(produced, event);
      continue;
    }
    // All bytes due at the same moment go to the device in one piece.
    std::string bytes;
    const SimTime at = input;
    const bool misBaud = config_.checkBaud && top_->Baud() != hostBaud_;
    while (!input_.empty() && input_.front().due == at) {
      bytes.push_back(misBaud ? MisBaudByte(input_.front().byte) : input_.front().byte);
      input_.pop_front();
    }
    top_->Receive(bytes, at, produced);
    Schedule(produced, at);
  }
}

std::string SimLine::TakeOutput(SimTime now) {
  Pump(now);
  std::string bytes;
  SimTime last = 0;
  while (!output_.empty() && output_.front().due <= now) {
    last = output_.front().due;
    bytes.push_back(output_.front().byte);
    output_.pop_front();
  }
  transcript_.Add(last, LineDirection::kToHost, bytes);
  return bytes;
}

SimTime SimLine::NextWakeAt() const {
  SimTime next = 0;
  const auto consider = [&next](SimTime t) {
    if (t != 0 && (next == 0 || t < next)) {
      next = t;
    }
  };
  consider(top_->NextEventAt());
  if (!input_.empty()) {
    consider(std::max<SimTime>(input_.front().due, 1));
  }
  if (!output_.empty()) {
    consider(std::max<SimTime>(output_.front().due, 1));
  }
  return next;
}

std::string SimLine::RunFor(SimTime us) {
  const SimTime until = now_ + us;
  std::string out;
  for (;;) {
    out += TakeOutput(now_);
    const SimTime next = NextWakeAt();
    if (next == 0 || next > until || next <= now_) {
      break;
    }
    now_ = next;
  }
  now_ = until;
  out += TakeOutput(now_);
  return out;
}

std::string SimLine::Exchange(std::string_view bytes, SimTime maxWaitUs) {
  HostWrite(bytes, now_);
  const SimTime until = now_ + maxWaitUs;
  std::string out;
  for (;;) {
    out += TakeOutput(now_);
    const SimTime next = NextWakeAt();
    if (next > until) {
      now_ = until; // the host waited its full time; the rest comes later
      break;
    }
    // Quiet (nothing due), or nothing that time can move.
    if (next == 0 || next <= now_) {
      break;
    }
    now_ = next;
  }
  return out;
}

} // namespace zuro::sim
