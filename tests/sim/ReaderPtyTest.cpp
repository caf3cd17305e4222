// The reader with its sensor served on a pseudo-terminal, as the updater and
// the end-to-end tests meet it.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sim/PtyServer.h"
#include "sim/ReaderTestSupport.h"

namespace zuro::sim {
namespace {

using test::PtyClient;
using test::SensorOf;

TEST(ReaderPty, ReaderAndK4eOnAPty) {
  // How another test starts a Vantorix with a K4E behind it on a pty.
  ReaderConfig config = SensorOf("k4e");
  config.firmware.profile = ProfileByName("vantorix");
  auto simLine = MakeReaderLine(config, LineConfig{});
  PtyServer server(*simLine);
  ASSERT_EQ(server.Open(), 0);
  ASSERT_EQ(server.Start(), 0);
  PtyClient host(server.SlavePath());
  ASSERT_TRUE(host.IsOpen());
  EXPECT_EQ(host.Exchange("get -hver\r"), "\r\nB\r>");
  EXPECT_EQ(host.Exchange("[?I!", '\r'), "113BRENVIK K4E   360K4E-10472\r");
  EXPECT_EQ(host.Exchange("?X#!", '\r'), "1 K4E-10472\r");
  const std::string identity =
      server.WithLine([](SimLine& l) { return ReaderOf(l)->Sensor().Identity(); });
  EXPECT_EQ(identity, "K4E 3.60");
}

TEST(ReaderProgram, ServesAReaderWithItsSensor) {
  test::SimProgram program(
      {"--kind", "vantorix-reader", "--sensor", "wpt", "--sensor-address", "4"});
  const std::string& path = program.Path();
  ASSERT_FALSE(path.empty());
  {
    PtyClient host(path);
    ASSERT_TRUE(host.IsOpen());
    EXPECT_EQ(host.Exchange("get -ver\r"), "\rVX 1.23\r>");
    EXPECT_EQ(host.Exchange("[?I!", '\r'), "413BRENVIK WPT-2 214WPT2-3381\r");
    EXPECT_EQ(host.Exchange("?B!", '\r'), "4OK\r");
    EXPECT_EQ(host.Exchange("]P", '#'), "#");
  }
  EXPECT_EQ(program.Terminate(), 0);
}

} // namespace
} // namespace zuro::sim
