#include "sim/Reader.h"

#include <algorithm>

#include "core/Text.h"
#include "sim/Instrument.h"

namespace zuro::sim {

namespace {

constexpr const char* kAnswerLead = "\r\n"; ///< single-setting instruments open an answer so
constexpr const char* kErrorAnswer = "\rERROR\r>";
constexpr std::size_t kBusRecordLimit = 4096; ///< a long-running simulator keeps the recent bus
constexpr std::uint32_t kPerMille = 1000;

} // namespace

Reader::Reader(const ReaderConfig& config)
    : config_(config), firmware_(std::make_unique<SimDevice>(config.firmware)),
      sensor_(std::make_unique<Sdi12Sensor>(config.sensor)),
      random_(config.garbleSeed != 0 ? config.garbleSeed : 1) {}

Reader::~Reader() = default;

SimTime Reader::NextEventAt() const {
  const SimTime a = firmware_->NextEventAt();
  const SimTime b = sensor_->NextEventAt();
  if (a == 0 || b == 0) {
    return std::max(a, b);
  }
  return std::min(a, b);
}

void Reader::Advance(SimTime now, LineOutput& out) {
  firmware_->Advance(now, out);
  sensor_->Advance(now, out);
}

std::string Reader::Describe() const {
  std::string text = firmware_->Describe() + " as a reader, with an SDI-12 sensor ";
  switch (sensor_->Mode()) {
  case SensorMode::kFirmware:
    text += StrFormat("running \"%s\" at address '%c'", sensor_->Identity().c_str(),
                      sensor_->Settings().address);
    break;
  case SensorMode::kBootLoader:
    text += "in its boot loader";
    break;
  case SensorMode::kOff:
    text += "restarting";
    break;
  }
  return text;
}

void Reader::SendOwn(LineOutput& out, std::string_view bytes) {
  out.Send(bytes, 0, Baud());
}

void Reader::Receive(std::string_view bytes, SimTime now, LineOutput& out) {
  Advance(now, out);
  for (const char c : bytes) {
    if (firmware_->Mode() == DeviceMode::kOff) {
      continue; // the reader itself has no power
    }
    if (ControlCharacter(c, out)) {
      continue;
    }
    switch (mode_) {
    case ReaderMode::kCommand:
      CommandByte(c, now, out);
      break;
    case ReaderMode::kSdi12:
      Sdi12Byte(c, now, out);
      break;
    case ReaderMode::kTransparent: {
      const std::size_t first = out.Chunks().size();
      sensor_->UartReceive(std::string_view(&c, 1), now, out);
      for (std::size_t i = first; i < out.Chunks().size(); ++i) {
        out.Chunks()[i].baud = Baud();
      }
      break;
    }
    }
  }
}

bool Reader::ControlCharacter(char c, LineOutput& out) {
  // The mode characters mean the same in every mode: nothing the reader,
  // the bus or the sensor's boot loader carries uses them.
  const ReaderMode before = mode_;
  switch (c) {
  case kReaderCommandMode:
    mode_ = ReaderMode::kCommand;
    line_.clear();
    lineThrough_ = false;
    break;
  case kReaderSdi12Mode:
    mode_ = ReaderMode::kSdi12;
    sdi_.clear();
    sdiOverflow_ = false;
    break;
  case kReaderTransparentMode:
    mode_ = ReaderMode::kTransparent;
    break;
  case kReaderBreak:
    sdi_.clear();
    sdiOverflow_ = false;
    if (mode_ == ReaderMode::kSdi12) {
      sensor_->Break();
    }
    return true;
  default:
    return false;
  }
  if (mode_ != before) {
    out.Note(mode_ == ReaderMode::kCommand ? "reader: its own commands"
             : mode_ == ReaderMode::kSdi12 ? "reader: SDI-12 commands to the sensor"
                                           : "reader: straight through to the sensor's UART");
  }
  return true;
}

void Reader::CommandByte(char byte, SimTime now, LineOutput& out) {
  if (lineThrough_) {
    firmware_->Receive(std::string_view(&byte, 1), now, out);
    lineThrough_ = byte != '\r';
    return;
  }
  if (byte == '\r') {
    CommandLine(now, out);
    return;
  }
  if (byte == '\n') {
    return; // terminal programs send CR LF
  }
  line_.push_back(byte);
  if (line_.size() > kFirmwareMaxLine) {
    // Too long to be the reader's own command: the firmware judges it.
    firmware_->Receive(line_, now, out);
    line_.clear();
    lineThrough_ = true;
  }
}

void Reader::CommandLine(SimTime now, LineOutput& out) {
  std::string line;
  line.swap(line_);
  const bool own = line == kHardwareVersionCommand && firmware_->Mode() == DeviceMode::kFirmware &&
                   now >= firmware_->BusyUntil();
  if (!own) {
    line.push_back('\r');
    firmware_->Receive(line, now, out);
    return;
  }
  if (firmware_->TakeInjectedError()) {
    SendOwn(out, kErrorAnswer);
    return;
  }
  SendOwn(out, std::string(kAnswerLead) + config_.hardwareRevision + "\r" + kPrompt);
}

void Reader::Sdi12Byte(char byte, SimTime now, LineOutput& out) {
  if (byte == '\r' || byte == '\n') {
    return; // the bus has no line ends; a terminal's Enter means nothing here
  }
  if (byte != kBusCommandEnd) {
    if (sdi_.size() < kSdiMaxCommandChars) {
      sdi_.push_back(byte);
    } else {
      sdiOverflow_ = true;
    }
    return;
  }
  std::string command;
  command.swap(sdi_);
  command.push_back(kBusCommandEnd);
  const bool overflow = sdiOverflow_;
  sdiOverflow_ = false;
  if (overflow || firmware_->Mode() != DeviceMode::kFirmware) {
    return; // the reader drops what it could not buffer; in its own loader it relays nothing
  }
  BusExchange exchange;
  exchange.at = now;
  exchange.command = command;
  const SensorMode sensorBefore = sensor_->Mode();
  if (const auto answer = sensor_->Command(command, now)) {
    exchange.answered = true;
    exchange.answer = Garble(*answer);
    // The reader relays the answer once it has heard all of it on the bus.
    const SimTime busUs = kSdiBreakUs + kSdiMarkingUs + kSdiCharUs * command.size() +
                          kSdiTurnaroundUs + kSdiCharUs * (answer->size() + 2);
    out.Send(exchange.answer + kSdiAnswerEnd, busUs, Baud());
  }
  if (sensorBefore != SensorMode::kBootLoader && sensor_->Mode() == SensorMode::kBootLoader) {
    out.Note("sensor boot loader started");
  }
  if (bus_.size() >= kBusRecordLimit) {
    bus_.erase(bus_.begin(), bus_.begin() + kBusRecordLimit / 2);
  }
  bus_.push_back(std::move(exchange));
}

std::string Reader::Garble(std::string answer) {
  if (config_.garblePerMille == 0) {
    return answer;
  }
  const auto next = [this]() {
    // xorshift32: the same seed gives the same damage.
    random_ ^= random_ << 13;
    random_ ^= random_ >> 17;
    random_ ^= random_ << 5;
    return random_;
  };
  for (char& c : answer) {
    if (next() % kPerMille < config_.garblePerMille) {
      c = static_cast<char>(c ^ (1 << (next() % 8)));
    }
  }
  return answer;
}

} // namespace zuro::sim
