#include "sim/BootLoader.h"

#include <cctype>
#include <vector>

#include "core/Text.h"

namespace zuro::sim {

namespace {

constexpr std::size_t kChecksumDigits = 4;

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

bool ParseHex(std::string_view digits, std::uint32_t& value) {
  value = 0;
  if (digits.empty() || digits.size() > 8) {
    return false;
  }
  for (const char c : digits) {
    const int v = HexValue(c);
    if (v < 0) {
      return false;
    }
    value = value * 16 + static_cast<std::uint32_t>(v);
  }
  return true;
}

// Words travel most significant digit first; in memory the low byte comes first.
bool DecodeWords(std::string_view digits, std::vector<std::uint8_t>& bytes) {
  if (digits.size() % 4 != 0) {
    return false;
  }
  bytes.clear();
  for (std::size_t i = 0; i < digits.size(); i += 4) {
    std::uint32_t word = 0;
    if (!ParseHex(digits.substr(i, 4), word)) {
      return false;
    }
    bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
  }
  return true;
}

bool ParseAddress(std::string_view fields, std::uint32_t& address) {
  return (fields.size() == 4 || fields.size() == 5) && ParseHex(fields, address);
}

} // namespace

std::int32_t FrameChecksum(std::string_view letterFieldsAndDot) {
  std::int64_t sum = 0;
  for (const char c : letterFieldsAndDot) {
    sum += static_cast<signed char>(c);
  }
  return static_cast<std::int32_t>(sum % kChecksumModulus);
}

BootLoader::BootLoader(Flash& flash, const BootLoaderConfig& config)
    : flash_(flash), config_(config) {}

void BootLoader::Enter() {
  active_ = false;
  line_.clear();
  overflow_ = false;
  address_ = 0;
}

BootLoaderEvent BootLoader::Receive(char byte, LineOutput& out) {
  if (!active_) {
    // Waiting for contact: only a carriage return and the connect letter mean
    // anything; the rest is line noise.
    if (byte == '\r') {
      out.Send(std::string(1, kBslWaitingPrompt));
    } else if (byte == kBslConnect) {
      active_ = true;
      line_.clear();
      out.Send(std::string(1, kBslConnected));
    }
    return BootLoaderEvent::kNone;
  }
  if (byte != '\r') {
    if (line_.size() < kBslMaxLine) {
      line_.push_back(byte);
    } else {
      overflow_ = true;
    }
    return BootLoaderEvent::kNone;
  }
  const BootLoaderEvent event = HandleLine(out);
  line_.clear();
  overflow_ = false;
  return event;
}

void BootLoader::Refuse(LineOutput& out, const std::string& why) {
  ++framesRefused_;
  lastRefusal_ = why;
  out.Send(kBslRefuse);
}

bool BootLoader::CutHere(char letter) {
  const PowerCutPoint& cut = config_.powerCut;
  if (!cut.Enabled()) {
    return false;
  }
  if (cut.letter == 0) {
    return framesSeen_ == cut.count;
  }
  return letter == cut.letter &&
         lettersSeen_[static_cast<unsigned char>(letter) & 0x7F] == cut.count;
}

BootLoaderEvent BootLoader::HandleLine(LineOutput& out) {
  if (line_.empty()) {
    out.Send(kBslUnknown); // "are you there?" to an active boot loader
    return BootLoaderEvent::kNone;
  }
  const char letter = line_[0];
  if (letter != 'g' && letter != '@' && letter != 'X' && letter != 'W' && letter != 'V') {
    ++framesRefused_;
    lastRefusal_ = "unknown command";
    out.Send(kBslUnknown);
    return BootLoaderEvent::kNone;
  }
  if (overflow_) {
    Refuse(out, "frame too long");
    return BootLoaderEvent::kNone;
  }
  const std::size_t dot = line_.rfind('.');
  if (dot == std::string::npos || line_.size() - dot - 1 != kChecksumDigits) {
    if (letter == 'g') {
      // The version request is harmless, so the loader answers it even
      // without a checksum. After an interrupted update this is what the
      // firmware's "get -ver" meets, and the '+' answer tells the updater
      // that the boot loader is already active.
      ++framesTaken_;
      out.Send(StrFormat("+%d+\r", config_.version));
      return BootLoaderEvent::kNone;
    }
    Refuse(out, "no checksum");
    return BootLoaderEvent::kNone;
  }
  std::uint32_t checksum = 0;
  if (!ParseHex(std::string_view(line_).substr(dot + 1), checksum) ||
      static_cast<std::int32_t>(checksum) !=
          FrameChecksum(std::string_view(line_).substr(0, dot + 1))) {
    Refuse(out, "bad checksum");
    return BootLoaderEvent::kNone;
  }
  const std::string_view fields = std::string_view(line_).substr(1, dot - 1);
  ++framesSeen_;
  ++lettersSeen_[static_cast<unsigned char>(letter) & 0x7F];
  const bool cut = CutHere(letter);

  SimTime busyUs = 0;
  switch (letter) {
  case 'g':
    if (!fields.empty()) {
      Refuse(out, "g takes no fields");
      return BootLoaderEvent::kNone;
    }
    if (cut) {
      return BootLoaderEvent::kPowerCut;
    }
    ++framesTaken_;
    out.Send(StrFormat("+%d+\r", config_.version));
    return BootLoaderEvent::kNone;
  case '@': {
    std::uint32_t address = 0;
    if (!ParseAddress(fields, address)) {
      Refuse(out, "bad address field");
      return BootLoaderEvent::kNone;
    }
    if (cut) {
      return BootLoaderEvent::kPowerCut;
    }
    address_ = address;
    ++framesTaken_;
    out.Send(kBslAck);
    return BootLoaderEvent::kNone;
  }
  case 'X': {
    std::uint32_t address = 0;
    if (!ParseAddress(fields, address)) {
      Refuse(out, "bad address field");
      return BootLoaderEvent::kNone;
    }
    if (cut) {
      return BootLoaderEvent::kPowerCut;
    }
    const FlashStatus status = flash_.EraseSegment(address);
    if (status != FlashStatus::kOk) {
      Refuse(out, FlashStatusText(status));
      return BootLoaderEvent::kNone;
    }
    busyUs = config_.realtimeFlash ? kSegmentEraseUs : 0;
    break;
  }
  case 'W': {
    std::vector<std::uint8_t> bytes;
    if (fields.empty() || fields.size() > kBslMaxDataChars || !DecodeWords(fields, bytes)) {
      Refuse(out, "bad data field");
      return BootLoaderEvent::kNone;
    }
    if (cut) {
      // Power fails half-way through the block: the first half is in flash.
      bytes.resize(bytes.size() / 2 / 2 * 2);
      (void)flash_.Write(address_, bytes);
      return BootLoaderEvent::kPowerCut;
    }
    const FlashStatus status = flash_.Write(address_, bytes);
    if (status != FlashStatus::kOk) {
      Refuse(out, FlashStatusText(status));
      return BootLoaderEvent::kNone;
    }
    address_ += static_cast<std::uint32_t>(bytes.size());
    busyUs = config_.realtimeFlash ? kWordWriteUs * (bytes.size() / 2) : 0;
    break;
  }
  case 'V': {
    std::vector<std::uint8_t> bytes;
    if (fields.size() != kBslVectorChars || !DecodeWords(fields, bytes)) {
      Refuse(out, "bad vector field");
      return BootLoaderEvent::kNone;
    }
    if (cut) {
      return BootLoaderEvent::kPowerCut;
    }
    flash_.WriteVectors(bytes);
    ++framesTaken_;
    const SimTime us = config_.realtimeFlash ? kSegmentEraseUs + kWordWriteUs * 16 : 0;
    out.Send(kBslAck, us);
    return BootLoaderEvent::kVectorsWritten;
  }
  default:
    break;
  }
  ++framesTaken_;
  out.Send(kBslAck, busyUs);
  return BootLoaderEvent::kNone;
}

} // namespace zuro::sim
