#include "sim/Faults.h"

namespace zuro::sim {

namespace {
constexpr std::uint32_t kPerMille = 1000;
}

bool ParseFaultDirection(const std::string& text, FaultDirection& direction) {
  if (text == "both") {
    direction = FaultDirection::kBoth;
  } else if (text == "in") {
    direction = FaultDirection::kToDevice;
  } else if (text == "out") {
    direction = FaultDirection::kToHost;
  } else {
    return false;
  }
  return true;
}

std::uint32_t FaultLayer::Next() {
  // xorshift32: small, deterministic, good enough for line noise.
  random_ ^= random_ << 13;
  random_ ^= random_ >> 17;
  random_ ^= random_ << 5;
  return random_;
}

std::string FaultLayer::Damage(std::string_view bytes, bool towardsDevice) {
  const bool applies = faults_.direction == FaultDirection::kBoth ||
                       (towardsDevice && faults_.direction == FaultDirection::kToDevice) ||
                       (!towardsDevice && faults_.direction == FaultDirection::kToHost);
  if (!applies || (faults_.dropPerMille == 0 && faults_.garblePerMille == 0)) {
    return std::string(bytes);
  }
  std::string result;
  for (const char c : bytes) {
    if (faults_.dropPerMille != 0 && Next() % kPerMille < faults_.dropPerMille) {
      ++dropped_;
      continue;
    }
    char b = c;
    if (faults_.garblePerMille != 0 && Next() % kPerMille < faults_.garblePerMille) {
      b = static_cast<char>(b ^ (1 << (Next() % 8)));
      ++garbled_;
    }
    result.push_back(b);
  }
  return result;
}

bool FaultLayer::Silent(SimTime at) const {
  if (faults_.silentFromCommand == 0) {
    return faults_.silentUs != 0 && at < faults_.silentUs;
  }
  if (!silenceStarted_ || at < silenceStart_) {
    return false;
  }
  return faults_.silentUs == 0 || at < silenceStart_ + faults_.silentUs;
}

void FaultLayer::FilterOutput(LineOutput& produced, SimTime now, LineOutput& out) {
  for (const auto& note : produced.Notes()) {
    out.Note(note);
  }
  for (auto& chunk : produced.Chunks()) {
    const SimTime delay = chunk.delayUs + faults_.answerDelayUs;
    if (Silent(now + delay)) {
      continue;
    }
    const std::string bytes = Damage(chunk.bytes, false);
    out.Send(bytes, delay, chunk.baud);
  }
}

void FaultLayer::Receive(std::string_view bytes, SimTime now, LineOutput& out) {
  if (faults_.echo) {
    out.Send(bytes);
  }
  LineOutput produced;
  std::string pass;
  for (const char c : bytes) {
    // Silence starts with the first byte of the chosen command line, so the
    // whole command is lost.
    if (!silenceStarted_ && faults_.silentFromCommand != 0 &&
        commands_ + 1 >= faults_.silentFromCommand) {
      silenceStarted_ = true;
      silenceStart_ = now;
    }
    if (c == '\r') {
      ++commands_;
    }
    if (!Silent(now)) {
      pass.push_back(c);
    }
  }
  const std::string damaged = Damage(pass, true);
  if (!damaged.empty()) {
    inner_.Receive(damaged, now, produced);
  } else {
    inner_.Advance(now, produced);
  }
  FilterOutput(produced, now, out);
}

void FaultLayer::Advance(SimTime now, LineOutput& out) {
  LineOutput produced;
  inner_.Advance(now, produced);
  FilterOutput(produced, now, out);
}

} // namespace zuro::sim
