// An outside witness of the line settings: while ZuroSerial holds a port
// open, the system's own stty reads them back.

#include <stdio.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>

#include "serial/ZuroSerial.h"
#include "support/PtyPair.h"

namespace zuro {
namespace {

std::string RunStty(const std::string& path) {
  const std::string command = "stty -F '" + path + "' -a 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return {};
  }
  std::string out;
  char chunk[512];
  while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) {
    out += chunk;
  }
  ::pclose(pipe);
  return out;
}

std::set<std::string> Words(const std::string& text) {
  std::string spaced = text;
  for (char& c : spaced) {
    if (c == ';') {
      c = ' ';
    }
  }
  std::istringstream in(spaced);
  std::set<std::string> words;
  std::string word;
  while (in >> word) {
    words.insert(word);
  }
  return words;
}

TEST(SttyCheck, HeldPortShowsTheLineSettings) {
  if (::access("/usr/bin/stty", X_OK) != 0 && ::access("/bin/stty", X_OK) != 0) {
    GTEST_SKIP() << "stty is not installed";
  }
  if (::geteuid() != 0) {
    // The port is opened exclusively; only root may open it a second time.
    GTEST_SKIP() << "needs root to look at a port held exclusively";
  }
  test::PtyPair pty;
  ASSERT_TRUE(pty.Ok()) << pty.Error();
  // Start from settings a terminal would have, so every flag must be changed.
  termios cooked{};
  ASSERT_TRUE(pty.SlaveSettings(cooked));
  ASSERT_NE(cooked.c_lflag & ICANON, 0u);

  ZuroSerial port(nullptr);
  ASSERT_EQ(port.ZSOpen(pty.SlavePath(), 9600), 1);
  const std::string report = RunStty(pty.SlavePath());
  const std::set<std::string> words = Words(report);
  EXPECT_NE(report.find("speed 9600 baud"), std::string::npos) << report;
  for (const char* flag :
       {"cs8", "-parenb", "-cstopb", "-icanon", "-echo", "-opost", "-crtscts", "-ixon", "-ixoff"}) {
    EXPECT_TRUE(words.count(flag) == 1) << flag << " missing in:\n" << report;
  }
  EXPECT_EQ(port.ZSClose(), 1);
}

} // namespace
} // namespace zuro
