// Faults of the serial line itself, between the host and whatever device
// stands behind it: bytes lost or damaged in either direction, a line that
// echoes what the host sends, and silence (a dead cable, a device that
// stopped answering). Device faults (error answers, a missing boot loader,
// power cuts, a failing data memory) belong to the device's configuration.
#pragma once

#include <cstdint>
#include <string>

#include "sim/LineModel.h"

namespace zuro::sim {

enum class FaultDirection { kBoth, kToDevice, kToHost };

struct LineFaults {
  std::uint32_t dropPerMille = 0;   ///< chance of losing a byte
  std::uint32_t garblePerMille = 0; ///< chance of a bit error in a byte
  FaultDirection direction = FaultDirection::kBoth;
  std::uint32_t seed = 1; ///< the same seed gives the same faults
  bool echo = false;      ///< the host's bytes come back to it
  SimTime silentUs = 0;   ///< length of the silence; 0 with silentFromCommand: for ever
  std::uint32_t silentFromCommand = 0; ///< silence starts with this command line (1 = the first)
  SimTime answerDelayUs = 0;           ///< every answer comes this much later

  bool Any() const {
    return dropPerMille != 0 || garblePerMille != 0 || echo || silentUs != 0 ||
           silentFromCommand != 0 || answerDelayUs != 0;
  }
};

/// Parses "in", "out" or "both" (from the device's point of view: "in" is
/// towards the device).
bool ParseFaultDirection(const std::string& text, FaultDirection& direction);

class FaultLayer : public LineModel {
public:
  FaultLayer(const LineFaults& faults, LineModel& inner) : faults_(faults), inner_(inner) {
    random_ = faults.seed != 0 ? faults.seed : 1;
  }

  void Receive(std::string_view bytes, SimTime now, LineOutput& out) override;
  void Advance(SimTime now, LineOutput& out) override;
  SimTime NextEventAt() const override { return inner_.NextEventAt(); }
  std::uint32_t Baud() const override { return inner_.Baud(); }

  std::uint32_t Dropped() const { return dropped_; }
  std::uint32_t Garbled() const { return garbled_; }
  std::uint32_t Commands() const { return commands_; }

private:
  std::string Damage(std::string_view bytes, bool towardsDevice);
  bool Silent(SimTime at) const;
  void FilterOutput(LineOutput& produced, SimTime now, LineOutput& out);
  std::uint32_t Next();

  LineFaults faults_;
  LineModel& inner_;
  std::uint32_t random_;
  std::uint32_t dropped_ = 0;
  std::uint32_t garbled_ = 0;
  std::uint32_t commands_ = 0;
  bool silenceStarted_ = false;
  SimTime silenceStart_ = 0;
};

} // namespace zuro::sim
