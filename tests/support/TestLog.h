// A ZuroLog writing to a file of its own, for tests that check log lines.
// The file is removed with the object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "log/ZuroLog.h"

namespace zuro::test {

class TestLog {
public:
  explicit TestLog(std::uint32_t level = kLogTraces);
  ~TestLog();
  TestLog(const TestLog&) = delete;
  TestLog& operator=(const TestLog&) = delete;

  ZuroLog* get() { return &log_; }
  operator ZuroLog*() { return &log_; }

  /// The whole file, its lines, and whether (how often) a text occurs in it.
  std::string Text() const;
  std::vector<std::string> Lines() const;
  bool Contains(std::string_view text) const { return Text().find(text) != std::string::npos; }
  std::size_t Count(std::string_view text) const;
  /// Empties the file.
  void Clear();

private:
  static std::string MakeFileName();
  std::string fileName_;
  ZuroLog log_;
};

} // namespace zuro::test
