// The record of everything that crossed the simulated line, in both
// directions, with the simulated time of each piece. Tests read it; the
// program can stream it to a file as it grows.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "sim/LineModel.h"

namespace zuro::sim {

enum class LineDirection { kToDevice, kToHost, kNote };

struct TranscriptEntry {
  SimTime at = 0;
  LineDirection direction = LineDirection::kNote;
  std::string bytes;
};

class Transcript {
public:
  Transcript() = default;
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  /// Appends `bytes`; consecutive pieces in one direction at the same
  /// millisecond join one entry.
  void Add(SimTime at, LineDirection direction, std::string_view bytes);

  /// Streams every entry from now on to `path` (one line each). False when
  /// the file cannot be created.
  bool StreamTo(const std::string& path);

  const std::vector<TranscriptEntry>& Entries() const { return entries_; }

  /// Everything sent in one direction, joined.
  std::string AllBytes(LineDirection direction) const;

  /// The whole transcript as text: "   12.345 host> get -ver\r" lines, with
  /// control and non-ASCII bytes escaped.
  std::string Text() const;

  void Clear() { entries_.clear(); }

  /// Keeps memory bounded on a long-running simulator: oldest entries go first.
  void SetLimit(std::size_t maxEntries) { limit_ = maxEntries; }

private:
  void Write(const TranscriptEntry& entry);

  std::vector<TranscriptEntry> entries_;
  std::FILE* file_ = nullptr;
  std::size_t limit_ = 0;
};

/// Escapes bytes for a log or transcript line: \r, \n, \\ and \xHH.
std::string EscapeBytes(std::string_view bytes);

} // namespace zuro::sim
