// zurobsl-cli as a script sees it: run as a program against the simulator on
// a pseudo-terminal, with standard input not a terminal. The last line of
// standard output, the exit status, the JSON lines, the notices in the log.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

#include "app/SimHarness.h"
#include "app/TempFolder.h"

namespace zuro {
namespace {

using test::SimHarness;
using test::TempFolder;

struct CliRun {
  int exitStatus = -1;
  std::vector<std::string> out; ///< standard output, line by line
  std::string err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

CliRun RunCli(const std::string& args, const TempFolder& folder) {
  const std::string errFile = folder.Path() + "/stderr.txt";
  const std::string command = std::string("XDG_DATA_HOME='") + folder.Path() + "' '" +
                              ZURO_CLI_PROGRAM + "' " + args + " </dev/null 2>'" + errFile + "'";
  CliRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return run;
  }
  char line[4096];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') {
      text.pop_back();
    }
    run.out.push_back(text);
  }
  const int status = pclose(pipe);
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = ReadAll(errFile);
  return run;
}

bool AnyLineHas(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines) {
    if (line.find(part) != std::string::npos) {
      return true;
    }
  }
  return false;
}

constexpr const char* kFast = " --wait-scale 0.2";

TEST(CliTest, UpdatesADu70AndEndsWithTheResult) {
  SimHarness sim({"--kind", "du70", "--version", "2.20"});
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  TempFolder folder;
  const CliRun run = RunCli("update --port " + sim.Port() + " --json" + kFast, folder);
  ASSERT_FALSE(run.out.empty()) << run.err;
  EXPECT_EQ(run.out.back(), "result: 1") << run.err;
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out[run.out.size() - 2], "{\"type\":\"result\",\"result\":1}");
  // The data-erase warning informs before anything else; it asks nothing.
  EXPECT_EQ(run.out.front().rfind("{\"type\":\"notice\",\"kind\":\"warning\",\"caption\":\"Data "
                                  "Erase Warning\"",
                                  0),
            0U)
      << run.out.front();
  EXPECT_TRUE(AnyLineHas(run.out, "{\"type\":\"progress\",\"percent\":100}"));
  EXPECT_TRUE(
      AnyLineHas(run.out, "{\"type\":\"status\",\"text\":\"Uploading new firmware code...\"}"));
  EXPECT_NE(run.err.find("warning: Data Erase Warning"), std::string::npos);
  const std::string log =
      ReadAll(folder.Path() + "/Brenvik/ZuroBSL/Du70 Firmware Updater.errors.txt");
  EXPECT_NE(log.find("ErrorOK Told User:: WARNING: The Du70 Firmware Updater will erase all "
                     "measurement data"),
            std::string::npos);
  EXPECT_NE(log.find("Finished updating device in"), std::string::npos);
  EXPECT_EQ(sim.WithDevice([](sim::SimDevice& d) { return d.Identity(); }), "DU70 2.30");
}

TEST(CliTest, QuestionsWithoutATerminalAreAnsweredCancel) {
  SimHarness sim({"--kind", "du70", "--version", "2.31"});
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  TempFolder folder;
  const CliRun run = RunCli("update --rep --json --port " + sim.Port() + kFast, folder);
  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(run.out.back(), "result: -40");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(AnyLineHas(run.out, "\"caption\":\"Newer Firmware\""));
  EXPECT_TRUE(AnyLineHas(run.out, "\"answer\":\"cancel\""));
  EXPECT_FALSE(AnyLineHas(run.out, "Data Erase Warning")) << "--rep shows no erase warning";
}

TEST(CliTest, AnswerOptionAnswersEveryQuestion) {
  SimHarness sim({"--kind", "qt7"});
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  TempFolder folder;
  const CliRun cancel =
      RunCli("update --factory --answer cancel --port " + sim.Port() + kFast, folder);
  ASSERT_FALSE(cancel.out.empty());
  EXPECT_EQ(cancel.out.back(), "result: -121");
  EXPECT_NE(cancel.err.find("[Factory Mode Override: Click OK to load FW anyway]"),
            std::string::npos);
  EXPECT_NE(cancel.err.find("answer: Cancel (--answer)"), std::string::npos);
}

TEST(CliTest, UsageMistakesEndWithAResultToo) {
  TempFolder folder;
  const CliRun firmware = RunCli("update --port /dev/null --firmware x.txt", folder);
  ASSERT_FALSE(firmware.out.empty());
  EXPECT_EQ(firmware.out.back(), "result: -10");
  EXPECT_EQ(firmware.exitStatus, 1);
  EXPECT_NE(firmware.err.find("--firmware needs --factory or --rep"), std::string::npos);

  const CliRun missing = RunCli("update --port " + folder.Path() + "/no-such-port", folder);
  ASSERT_FALSE(missing.out.empty());
  EXPECT_EQ(missing.out.back(), "result: -20");
  EXPECT_NE(missing.err.find("error: Connection Error"), std::string::npos);

  EXPECT_EQ(RunCli("update", folder).exitStatus, 2);
}

TEST(CliTest, ImageDumpAndPortList) {
  TempFolder folder;
  const std::string dump = folder.Path() + "/dump.txt";
  const CliRun image = RunCli("image --dump '" + dump + "'", folder);
  ASSERT_FALSE(image.out.empty());
  EXPECT_EQ(image.out.back(), "result: 1");
  EXPECT_EQ(image.exitStatus, 0);
  EXPECT_EQ(ReadAll(dump).rfind("@01200", 0), 0U);

  const CliRun bad = RunCli("image --firmware /nonexistent.txt --dump '" + dump + "'", folder);
  ASSERT_FALSE(bad.out.empty());
  EXPECT_EQ(bad.exitStatus, 1);
  EXPECT_NE(bad.err.find("File Error"), std::string::npos);

  const CliRun ports = RunCli("ports", folder);
  ASSERT_FALSE(ports.out.empty());
  EXPECT_EQ(ports.out.back().rfind("result: ", 0), 0U);
}

TEST(CliTest, SensorTargetUpdatesTheSensorBehindTheReader) {
  SimHarness sim({"--kind", "vantorix-reader", "--sensor", "k4e"});
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  TempFolder folder;
  const CliRun run =
      RunCli("update --target sensor --sensor-type z --port " + sim.Port() + kFast, folder);
  ASSERT_FALSE(run.out.empty()) << run.err;
  EXPECT_EQ(run.out.back(), "result: 1") << run.err;
  EXPECT_EQ(sim.WithReader([](sim::Reader& r) { return r.Sensor().Identity(); }), "K4E 3.70");
  EXPECT_EQ(run.err.find("Data Erase Warning"), std::string::npos);
  EXPECT_FALSE(
      ReadAll(folder.Path() + "/Brenvik/ZuroBSL/SKYRA 14 Sensor Firmware Updater.errors.txt")
          .empty());
}

TEST(CliTest, CtrlCStopsTheUpdate) {
  // A paced line makes the update slow enough to be interrupted while it talks.
  SimHarness sim({"--kind", "du70", "--version", "2.20", "--pace"});
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  TempFolder folder;
  int toParent[2];
  ASSERT_EQ(pipe(toParent), 0);
  // Everything the child needs is made before fork: the simulator's thread
  // may hold the allocator's lock at that moment.
  const std::string port = sim.Port();
  const std::string xdg = "XDG_DATA_HOME=" + folder.Path();
  std::vector<char*> env{const_cast<char*>(xdg.c_str())};
  for (char** e = environ; *e != nullptr; ++e) {
    env.push_back(*e);
  }
  env.push_back(nullptr);
  const char* argv[] = {ZURO_CLI_PROGRAM, "update", "--json", "--port", port.c_str(), nullptr};
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(toParent[1], STDOUT_FILENO);
    const int devNull = open("/dev/null", O_RDWR);
    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDERR_FILENO);
    execve(ZURO_CLI_PROGRAM, const_cast<char* const*>(argv), env.data());
    _exit(127);
  }
  close(toParent[1]);
  FILE* out = fdopen(toParent[0], "r");
  ASSERT_NE(out, nullptr);
  std::vector<std::string> lines;
  char line[4096];
  bool interrupted = false;
  while (std::fgets(line, sizeof line, out) != nullptr) {
    lines.emplace_back(line);
    if (!interrupted && lines.back().find("\"type\":\"status\"") != std::string::npos) {
      kill(child, SIGINT);
      interrupted = true;
    }
  }
  std::fclose(out);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(interrupted);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "result: -40\n");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_TRUE(AnyLineHas(lines, "Interrupted: the update stops at its next safe point"));
}

} // namespace
} // namespace zuro
