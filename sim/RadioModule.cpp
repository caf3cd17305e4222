#include "sim/RadioModule.h"

#include <cctype>

#include "core/Text.h"

namespace zuro::sim {

namespace {
constexpr const char* kAtOk = "OK\r";
constexpr const char* kAtError = "ERROR\r";

bool ParseHexValue(std::string_view digits, std::uint32_t& value) {
  if (digits.empty() || digits.size() > 6) {
    return false;
  }
  value = 0;
  for (const char c : digits) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      return false;
    }
    value = value * 16 + static_cast<std::uint32_t>(
                             std::isdigit(static_cast<unsigned char>(c))
                                 ? c - '0'
                                 : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
  }
  return true;
}
} // namespace

bool RadioModule::SetChannel(int channel) {
  if (channel < 0 || channel > kRadioMaxChannel) {
    return false;
  }
  working_.channel = channel;
  return true;
}

bool RadioModule::SetSubChannel(std::uint32_t subChannel) {
  if (subChannel > kRadioMaxSubChannel) {
    return false;
  }
  working_.subChannel = subChannel;
  return true;
}

void RadioModule::PowerCycle() {
  working_ = stored_;
  commandMode_ = false;
}

std::string RadioModule::Command(std::string_view line) {
  const std::string upper = ToUpperAscii(line);
  const std::string_view cmd(upper);
  if (cmd == "ATCN") {
    commandMode_ = false;
    return kAtOk;
  }
  if (cmd == "ATWR") {
    Store();
    return kAtOk;
  }
  if (cmd == "ATVR") {
    return version_ + "\r";
  }
  if (cmd.substr(0, 4) == "ATHP" || cmd.substr(0, 4) == "ATDT") {
    const bool channel = cmd.substr(0, 4) == "ATHP";
    const std::string_view arg = cmd.substr(4);
    if (arg.empty()) {
      return StrFormat("%X\r", channel ? static_cast<unsigned>(working_.channel)
                                       : static_cast<unsigned>(working_.subChannel));
    }
    std::uint32_t value = 0;
    if (!ParseHexValue(arg, value)) {
      return kAtError;
    }
    const bool ok = channel ? SetChannel(static_cast<int>(value)) : SetSubChannel(value);
    return ok ? kAtOk : kAtError;
  }
  if (cmd == "AT") {
    return kAtOk;
  }
  return kAtError;
}

void RadioFront::FlushPluses(SimTime now, LineOutput& out) {
  if (pluses_ > 0) {
    device_.Receive(std::string(pluses_, '+'), now, out);
    pluses_ = 0;
  }
}

void RadioFront::Receive(std::string_view bytes, SimTime now, LineOutput& out) {
  std::string pass;
  for (const char c : bytes) {
    if (module_.InCommandMode()) {
      if (c == '\r') {
        const std::string answer = module_.Command(line_);
        line_.clear();
        out.Send(answer);
      } else if (c != '\n' && line_.size() < kRadioMaxLine) {
        line_.push_back(c);
      }
      continue;
    }
    if (c == '+') {
      if (!pass.empty()) {
        device_.Receive(pass, now, out);
        pass.clear();
      }
      if (pluses_ == 0) {
        plusesSince_ = now;
      }
      if (++pluses_ == 3) {
        pluses_ = 0;
        module_.EnterCommandMode();
        line_.clear();
        out.Send(kAtOk);
      }
      continue;
    }
    if (pluses_ > 0) {
      FlushPluses(now, out);
    }
    pass.push_back(c);
  }
  if (!pass.empty()) {
    device_.Receive(pass, now, out);
  }
}

void RadioFront::Advance(SimTime now, LineOutput& out) {
  if (pluses_ > 0 && now >= plusesSince_ + kRadioEscapeGuardUs) {
    FlushPluses(now, out);
  }
  device_.Advance(now, out);
}

SimTime RadioFront::NextEventAt() const {
  const SimTime own = pluses_ > 0 ? plusesSince_ + kRadioEscapeGuardUs : 0;
  const SimTime inner = device_.NextEventAt();
  if (own == 0) {
    return inner;
  }
  return inner == 0 || own < inner ? own : inner;
}

} // namespace zuro::sim
