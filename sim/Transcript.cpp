#include "sim/Transcript.h"

#include "core/Text.h"

namespace zuro::sim {

namespace {
const char* DirectionTag(LineDirection direction) {
  switch (direction) {
  case LineDirection::kToDevice:
    return "host>";
  case LineDirection::kToHost:
    return "<dev ";
  case LineDirection::kNote:
    break;
  }
  return "note ";
}

std::string FormatEntry(const TranscriptEntry& e) {
  const std::string body = e.direction == LineDirection::kNote ? e.bytes : EscapeBytes(e.bytes);
  return StrFormat("%9llu.%03llu %s %s\n", static_cast<unsigned long long>(e.at / 1000000),
                   static_cast<unsigned long long>(e.at / 1000 % 1000), DirectionTag(e.direction),
                   body.c_str());
}
} // namespace

std::string EscapeBytes(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (u < 0x20 || u >= 0x7F) {
      out += StrFormat("\\x%02X", u);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

Transcript::~Transcript() {
  if (file_ != nullptr) {
    (void)std::fclose(file_);
  }
}

bool Transcript::StreamTo(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    return false;
  }
  if (file_ != nullptr) {
    (void)std::fclose(file_);
  }
  file_ = f;
  return true;
}

void Transcript::Write(const TranscriptEntry& entry) {
  if (file_ != nullptr) {
    const std::string line = FormatEntry(entry);
    (void)std::fwrite(line.data(), 1, line.size(), file_);
    (void)std::fflush(file_);
  }
}

void Transcript::Add(SimTime at, LineDirection direction, std::string_view bytes) {
  if (bytes.empty()) {
    return;
  }
  if (!entries_.empty() && direction != LineDirection::kNote &&
      entries_.back().direction == direction && entries_.back().at / 1000 == at / 1000 &&
      file_ == nullptr) {
    entries_.back().bytes.append(bytes);
    return;
  }
  entries_.push_back(TranscriptEntry{at, direction, std::string(bytes)});
  Write(entries_.back());
  if (limit_ != 0 && entries_.size() > limit_) {
    entries_.erase(entries_.begin(), entries_.begin() + static_cast<long>(entries_.size() / 2));
  }
}

std::string Transcript::AllBytes(LineDirection direction) const {
  std::string out;
  for (const auto& e : entries_) {
    if (e.direction == direction) {
      out += e.bytes;
    }
  }
  return out;
}

std::string Transcript::Text() const {
  std::string out;
  for (const auto& e : entries_) {
    out += FormatEntry(e);
  }
  return out;
}

} // namespace zuro::sim
