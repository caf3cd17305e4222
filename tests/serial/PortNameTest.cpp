// Port names that are not serial ports: every one is refused with a clear
// code and a log line, and nothing outside /dev's terminals is opened.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <string>

#include "core/ResultCodes.h"
#include "serial/SerialBackend.h"
#include "serial/ZuroSerial.h"
#include "support/PtyPair.h"
#include "support/TestLog.h"

namespace zuro {
namespace {

using test::TestLog;

class ScratchFolder {
public:
  ScratchFolder() {
    char pattern[] = "/tmp/zuro-serial-XXXXXX";
    path_ = ::mkdtemp(pattern) != nullptr ? pattern : "";
    file_ = path_ + "/settings.txt";
    const int fd = ::open(file_.c_str(), O_CREAT | O_WRONLY, 0600);
    [[maybe_unused]] ssize_t n = ::write(fd, "keep me", 7);
    ::close(fd);
    fifo_ = path_ + "/fifo";
    ::mkfifo(fifo_.c_str(), 0600);
  }
  ~ScratchFolder() {
    ::unlink(file_.c_str());
    ::unlink(fifo_.c_str());
    ::rmdir(path_.c_str());
  }
  std::string path_, file_, fifo_;
};

struct BadName {
  const char* label;
  std::string name;
  Result expected;
  const char* logText;
};

TEST(PortName, BadNamesAreRefused) {
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path_.empty());
  const BadName cases[] = {
      {"empty", "", kErrMissingArgument, "ZuroSerial: ZSOpen was given no port name"},
      {"500 characters", "/dev/" + std::string(495, 'a'), kErrPortNameTooLong,
       "ZuroSerial: ZSOpen refused a port name of 500 characters (at most 255)"},
      {"256 characters", std::string(256, 't'), kErrPortNameTooLong,
       "ZSOpen refused a port name of 256 characters"},
      {"zero byte inside", std::string("/dev/tty\0S0", 11), kErrPortUnavailable,
       "ZSOpen refused a port name with a zero byte in it"},
      {"missing device", "/dev/ttyZURO404", kErrPortUnavailable,
       "/dev/ttyZURO404: ZSOpen failed to open comm port (error 2)"},
      {"bare missing name", "ttyZURO404", kErrPortUnavailable,
       "ttyZURO404: ZSOpen failed to open comm port (error 2)"},
      {"regular file", scratch.file_, kErrPortNotSerial, "(error 25)"},
      {"climbing to a file", "/dev/../" + scratch.file_.substr(1), kErrPortNotSerial, "(error 25)"},
      {"relative climb", "../../../../../../../../etc/passwd", kErrPortNotSerial, "(error 25)"},
      {"bare dots", "..", kErrPortNotSerial, "..: ZSOpen failed to open comm port (error 25)"},
      {"directory", scratch.path_, kErrPortNotSerial, "(error 25)"},
      {"pipe", scratch.fifo_, kErrPortNotSerial, "(error 25)"},
      {"not a terminal", "/dev/null", kErrPortNotSerial, "/dev/null: ZSOpen failed"},
      {"through a file", scratch.file_ + "/x", kErrPortUnavailable, "(error 2)"},
  };
  for (const BadName& c : cases) {
    SCOPED_TRACE(c.label);
    TestLog log;
    ZuroSerial port(log);
    EXPECT_EQ(port.ZSOpen(c.name, 9600), c.expected);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(log.Contains(c.logText)) << log.Text();
    EXPECT_EQ(port.ZSClose(), 0);
  }
  // The file that was named as a port is untouched.
  struct stat info {};
  ASSERT_EQ(::stat(scratch.file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 7);
}

TEST(PortName, LongestNameIsKeptWhole) {
  // 255 characters is a valid name; it does not exist, but it is not cut.
  const std::string name = "/dev/" + std::string(250, 'b');
  TestLog log;
  ZuroSerial port(log);
  EXPECT_LT(port.ZSOpen(name, 9600), 0);
  EXPECT_EQ(port.PortName(), name);
}

TEST(PortName, DevicePathOfNames) {
  EXPECT_EQ(PlatformDevicePath("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(PlatformDevicePath("/dev/ttyS0"), "/dev/ttyS0");
  EXPECT_EQ(PlatformDevicePath("serial/by-id/usb-Brenvik_UCA-if00"),
            "serial/by-id/usb-Brenvik_UCA-if00");
  EXPECT_EQ(PlatformProbedPortName(1), "/dev/ttyS0");
  EXPECT_EQ(PlatformProbedPortName(16), "/dev/ttyS15");
}

TEST(PortName, SymlinkToAPortIsAPort) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  char pattern[] = "/tmp/zuro-link-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string link = std::string(pattern) + "/usb-Brenvik_UCA-if00";
  ASSERT_EQ(::symlink(pty.SlavePath().c_str(), link.c_str()), 0);
  ZuroSerial port(nullptr);
  EXPECT_EQ(port.ZSOpen(link, 0), 1);
  EXPECT_EQ(pty.SlaveBaud(), 9600u);
  port.ZSClose();
  ::unlink(link.c_str());
  ::rmdir(pattern);
}

} // namespace
} // namespace zuro
