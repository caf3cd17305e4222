#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <gtest/gtest.h>

#include "sim/PtyServer.h"
#include "sim/SimTestSupport.h"

namespace zuro::sim {
namespace {

using test::Frame;
using test::PtyClient;

/// A simulated Du70 served on a pty, as another test would start one.
struct PtyDevice {
  explicit PtyDevice(const char* kind = "du70", DeviceConfig device = {}, LineConfig line = {},
                     const std::string& link = "") {
    device.profile = ProfileByName(kind);
    simLine = MakeDeviceLine(device, line);
    server = std::make_unique<PtyServer>(*simLine);
    opened = server->Open(link);
    if (opened == 0) {
      server->Start();
    }
  }
  std::unique_ptr<SimLine> simLine;
  std::unique_ptr<PtyServer> server;
  int opened = -1;
};

TEST(SimPty, ServesTheDeviceOnASlaveAndALink) {
  const std::string link = "/tmp/zurobsl-sim-test-link-" + std::to_string(getpid());
  PtyDevice sim("du70", {}, {}, link);
  ASSERT_EQ(sim.opened, 0);
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  PtyClient host(link);
  ASSERT_TRUE(host.IsOpen());
  EXPECT_EQ(host.Exchange("get -ver\r"), "\rDU70 2.20\r>");
  EXPECT_EQ(host.Exchange("get -site\r"), "\rNorth Field\r>");
  // The host closes and reopens its port: the device is still there.
  {
    PtyClient again(sim.server->SlavePath());
    EXPECT_EQ(again.Exchange("get -batt\r"), "\r87\r>");
  }
  // Introspection while the server runs.
  const std::string identity =
      sim.server->WithLine([](SimLine& line) { return DeviceOf(line).Identity(); });
  EXPECT_EQ(identity, "DU70 2.20");
  sim.server.reset();
  EXPECT_NE(lstat(link.c_str(), &st), 0); // the link goes with the server
}

TEST(SimPty, FullUpdateOverThePtyWithTheHostFollowingTheBauds) {
  PtyDevice sim("hg4");
  ASSERT_EQ(sim.opened, 0);
  PtyClient host(sim.server->SlavePath());
  EXPECT_EQ(host.Exchange("login *2293\r\n\r"), "\r7035\r>");
  EXPECT_EQ(host.Exchange("boot KWAX\r"), "\rOK\r>");
  host.SetBaud(B57600); // the HG4's boot loader talks at 57600
  EXPECT_EQ(host.Exchange("\r", '$'), "$");
  EXPECT_EQ(host.Exchange("P", '#'), "#");
  EXPECT_EQ(host.Exchange(Frame('g', ""), '\r'), "+205+\r");
  EXPECT_EQ(host.Exchange(Frame('X', "01000"), '\r'), "+\r");
  EXPECT_EQ(host.Exchange(Frame('X', "02200"), '\r'), "+\r"); // the program start
  const auto program = MakeFirmwareProgram("HG4 2.10", 256);
  std::string words;
  AppendImageWords(words, program.data(), program.size());
  EXPECT_EQ(host.Exchange(Frame('@', "02200"), '\r'), "+\r");
  EXPECT_EQ(host.Exchange(Frame('W', words.substr(0, 512)), '\r'), "+\r");
  std::string vectors = std::string(60, 'F') + "2200";
  EXPECT_EQ(host.Exchange(Frame('V', vectors), '\r'), "+\r");
  host.SetBaud(B9600);
  // Wait for the restart, then the new firmware answers at 9600.
  std::string answer;
  for (int i = 0; i < 50 && answer.find('>') == std::string::npos; ++i) {
    answer = host.Exchange("get -ver\r", '>', 100);
  }
  EXPECT_NE(answer.find("HG4 2.10"), std::string::npos) << answer;
}

TEST(SimPty, PacingFollowsTheBaudTheHostSet) {
  LineConfig line;
  line.pace = true;
  PtyDevice sim("du70", {}, line);
  ASSERT_EQ(sim.opened, 0);
  PtyClient host(sim.server->SlavePath());
  host.SetBaud(B1200);
  host.Write("\r");
  host.ReadUntil('x', 200);
  const std::uint32_t baud = sim.server->WithLine([](SimLine& l) { return l.HostBaud(); });
  EXPECT_EQ(baud, 1200u);
  // At 1200 baud the device would hear garbage: it refuses to understand.
  EXPECT_EQ(host.Exchange("get -ver\r", '>', 1500).find("DU70"), std::string::npos);
  host.SetBaud(B9600);
  // The carriage return ends the garbled line, which the device refuses.
  EXPECT_EQ(host.Exchange("\r"), "\r?\r>");
  EXPECT_EQ(host.Exchange("get -ver\r"), "\rDU70 2.20\r>");
}

TEST(SimPty, APacedLineLosesNothingWhenTheHostWritesFast) {
  LineConfig line;
  line.pace = true;
  PtyDevice sim("du70", {}, line);
  ASSERT_EQ(sim.opened, 0);
  PtyClient host(sim.server->SlavePath());
  EXPECT_EQ(host.Exchange("set -baud 4\r"), "\rOK\r>");
  host.SetBaud(B115200);
  std::string batch;
  // 5000 bytes a batch: more than the server lets queue, so the host's
  // writes must wait for the paced line.
  for (int i = 0; i < 500; ++i) {
    batch += "get -batt\r";
  }
  std::size_t answers = 0;
  for (int round = 0; round < 4; ++round) {
    host.Write(batch);
    std::string got;
    for (int wait = 0; wait < 200 && std::count(got.begin(), got.end(), '>') < 500; ++wait) {
      got += host.ReadUntil('\x01', 50);
    }
    answers += static_cast<std::size_t>(std::count(got.begin(), got.end(), '>'));
    EXPECT_EQ(got.find_first_not_of("\r87>"), std::string::npos);
  }
  EXPECT_EQ(answers, 2000u);
  EXPECT_EQ(sim.server->BytesDropped(), 0u);
}

} // namespace
} // namespace zuro::sim

namespace zuro::sim {
namespace {

/// Runs zurobsl-sim as a program, as a person or an end-to-end test would.
TEST(SimProgram, ServesUntilTerminatedAndSavesItsState) {
  char state[] = "/tmp/zurobsl-sim-progstateXXXXXX";
  const int stateFd = mkstemp(state);
  ASSERT_GE(stateFd, 0);
  close(stateFd);
  unlink(state); // no state yet: the first run starts fresh
  test::SimProgram program({"--kind", "du70", "--state", state});
  const std::string& path = program.Path();
  ASSERT_FALSE(path.empty());
  {
    PtyClient host(path);
    ASSERT_TRUE(host.IsOpen());
    EXPECT_EQ(host.Exchange("get -ver\r"), "\rDU70 2.20\r>");
    EXPECT_EQ(host.Exchange("set -site Saved Place\r"), "\rOK\r>");
  }
  EXPECT_EQ(program.Terminate(), 0);
  // The saved state brings the setting back in a fresh device.
  SimConfig config;
  std::string error;
  ASSERT_TRUE(ParseSimOptions({"--state", state}, config, error));
  auto line = MakeLine(config, error);
  ASSERT_TRUE(line) << error;
  EXPECT_EQ(line->Exchange("get -site\r"), "\rSaved Place\r>");
  unlink(state);
}

TEST(SimProgram, RefusesBadOptionsWithAMessage) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 2);
    execl(ZURO_SIM_PROGRAM, ZURO_SIM_PROGRAM, "--kind", "toaster", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

} // namespace
} // namespace zuro::sim
