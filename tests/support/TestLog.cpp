#include "support/TestLog.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace zuro::test {

std::string TestLog::MakeFileName() {
  const char* dir = ::getenv("TMPDIR");
  std::string pattern =
      std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/zuro-test-log-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd >= 0) {
    ::close(fd);
  }
  return pattern;
}

TestLog::TestLog(std::uint32_t level)
    : fileName_(MakeFileName()), log_(fileName_.c_str(), level, true) {}

TestLog::~TestLog() {
  ::unlink(fileName_.c_str());
}

std::string TestLog::Text() const {
  std::ifstream in(fileName_, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> TestLog::Lines() const {
  std::vector<std::string> lines;
  std::istringstream in(Text());
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
  }
  return lines;
}

std::size_t TestLog::Count(std::string_view text) const {
  const std::string all = Text();
  std::size_t count = 0;
  for (std::size_t at = all.find(text); at != std::string::npos;
       at = all.find(text, at + text.size())) {
    ++count;
  }
  return count;
}

void TestLog::Clear() {
  std::ofstream(fileName_, std::ios::trunc);
}

} // namespace zuro::test
