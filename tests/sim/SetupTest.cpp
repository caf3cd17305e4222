#include <unistd.h>

#include <cstdio>
#include <gtest/gtest.h>

#include "sim/SimTestSupport.h"

namespace zuro::sim {
namespace {

using test::SimFixture;

TEST(SimOptions, ReadsEveryOptionIntoTheConfig) {
  SimConfig c;
  std::string error;
  ASSERT_TRUE(ParseSimOptions({"--kind",
                               "hg4",
                               "--version",
                               "2.10",
                               "--firmware",
                               "f.txt",
                               "--radio",
                               "--factory",
                               "--battery",
                               "8",
                               "--clock",
                               "1000",
                               "--data-records",
                               "5",
                               "--bsl-version",
                               "230",
                               "--restart-ms",
                               "100",
                               "--realtime-flash",
                               "--state",
                               "s.txt",
                               "--no-boot-loader",
                               "--error-first",
                               "2",
                               "--dataflash-fail",
                               "--erase-ms",
                               "20000",
                               "--power-cut",
                               "X:7",
                               "--pace",
                               "--ignore-baud",
                               "--drop",
                               "5",
                               "--garble",
                               "6",
                               "--fault-direction",
                               "out",
                               "--fault-seed",
                               "9",
                               "--echo",
                               "--silent-ms",
                               "300",
                               "--silent-from",
                               "4",
                               "--answer-delay-ms",
                               "40",
                               "--link",
                               "/tmp/x",
                               "--transcript",
                               "t.txt"},
                              c, error))
      << error;
  EXPECT_STREQ(c.device.profile->simName, "hg4");
  EXPECT_EQ(c.device.version, "2.10");
  EXPECT_EQ(c.firmwareFile, "f.txt");
  EXPECT_TRUE(c.device.radio);
  EXPECT_FALSE(c.device.configured);
  EXPECT_EQ(c.device.battery, 8);
  EXPECT_EQ(c.device.clock, 1000);
  EXPECT_EQ(c.device.dataRecords, 5u);
  EXPECT_EQ(c.device.bootLoaderVersion, 230);
  EXPECT_EQ(c.device.restartUs, 100 * kUsPerMs);
  EXPECT_TRUE(c.device.realtimeFlash);
  EXPECT_EQ(c.stateFile, "s.txt");
  EXPECT_TRUE(c.device.bootLoaderMissing);
  EXPECT_EQ(c.device.errorFirstCommands, 2u);
  EXPECT_TRUE(c.device.dataFlashFail);
  EXPECT_EQ(c.device.dataEraseUs, 20000 * kUsPerMs);
  EXPECT_EQ(c.device.powerCut.letter, 'X');
  EXPECT_EQ(c.device.powerCut.count, 7u);
  EXPECT_TRUE(c.line.pace);
  EXPECT_FALSE(c.line.checkBaud);
  EXPECT_EQ(c.line.faults.dropPerMille, 5u);
  EXPECT_EQ(c.line.faults.garblePerMille, 6u);
  EXPECT_EQ(c.line.faults.direction, FaultDirection::kToHost);
  EXPECT_EQ(c.line.faults.seed, 9u);
  EXPECT_TRUE(c.line.faults.echo);
  EXPECT_EQ(c.line.faults.silentUs, 300 * kUsPerMs);
  EXPECT_EQ(c.line.faults.silentFromCommand, 4u);
  EXPECT_EQ(c.line.faults.answerDelayUs, 40 * kUsPerMs);
  EXPECT_EQ(c.linkPath, "/tmp/x");
  EXPECT_EQ(c.transcriptFile, "t.txt");
}

TEST(SimOptions, RefusesWhatDoesNotRead) {
  const std::vector<std::vector<std::string>> bad = {
      {"--kind", "toaster"}, {"--kind"},           {"--battery", "101"},
      {"--battery", "-1"},   {"--version", "two"}, {"--power-cut", "Q:3"},
      {"--power-cut", "0"},  {"--drop", "1001"},   {"--fault-direction", "up"},
      {"--frobnicate"},      {"--clock", "12abc"},
  };
  for (const auto& args : bad) {
    SimConfig c;
    std::string error;
    EXPECT_FALSE(ParseSimOptions(args, c, error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
  const std::string help = SimHelpText();
  for (const char* option :
       {"--kind",           "--version",        "--firmware", "--radio",          "--pace",
        "--realtime-flash", "--transcript",     "--state",    "--link",           "--power-cut",
        "--drop",           "--garble",         "--echo",     "--silent-ms",      "--silent-from",
        "--error-first",    "--no-boot-loader", "--erase-ms", "--dataflash-fail", "trellisbase",
        "unknown"}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
}

TEST(SimOptions, EveryInstrumentKindIsOfferedAndListed) {
  const std::string help = SimHelpText();
  for (const char* kind :
       {"hlite", "vh", "hsig", "q3b", "kwm", "wq7c", "zuv", "hg4tdl", "rwz", "flowdriv"}) {
    SimConfig c;
    std::string error;
    ASSERT_TRUE(ParseSimOptions({"--kind", kind}, c, error)) << kind << ": " << error;
    ASSERT_NE(c.device.profile, nullptr);
    EXPECT_EQ(c.device.profile, ProfileByName(kind));
    const std::string line =
        StrFormat("%s %s", c.device.profile->code, c.device.profile->defaultVersion);
    EXPECT_NE(help.find(line), std::string::npos) << line;
    std::unique_ptr<SimLine> simLine = MakeLine(c, error);
    ASSERT_NE(simLine, nullptr) << error;
    EXPECT_EQ(simLine->Exchange("get -ver\r", kDefaultExchangeWaitUs), "\r" + line + "\r>");
  }
}

TEST(SimSetup, FirmwareFileLoadsIntoFlashAndKeepsInfo) {
  SimFixture sim;
  sim.Ex("set -site Lakeside\r");
  std::string error;
  ASSERT_EQ(LoadFirmwareFile(sim.Device(), std::string(ZURO_SOURCE_DIR) + "/firmware/du70-2.30.txt",
                             sim.Line().Now(), error),
            0)
      << error;
  EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.30\r>");
  EXPECT_EQ(sim.Ex("get -site\r"), "\rLakeside\r>");
  EXPECT_NE(LoadFirmwareText(sim.Device(), "not a file", 0, error), 0);
  EXPECT_FALSE(error.empty());
  EXPECT_NE(LoadFirmwareFile(sim.Device(), "/nonexistent/x.txt", 0, error), 0);
  EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.30\r>");
}

TEST(SimSetup, StateFileCarriesFlashSettingsAndDataAcrossRuns) {
  char path[] = "/tmp/zurobsl-sim-stateXXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    SimFixture sim;
    std::string error;
    ASSERT_EQ(LoadFirmwareFile(sim.Device(),
                               std::string(ZURO_SOURCE_DIR) + "/firmware/du70-2.30.txt",
                               sim.Line().Now(), error),
              0);
    sim.Ex("set -site Ridge Top\r");
    sim.Ex("yes\r");
    ASSERT_EQ(SaveDeviceState(sim.Device(), sim.Line().Now(), path), 0);
  }
  SimFixture fresh;
  std::string error;
  ASSERT_EQ(LoadDeviceState(fresh.Device(), 0, path, error), 0) << error;
  EXPECT_EQ(fresh.Ex("get -ver\r"), "\rDU70 2.30\r>");
  EXPECT_TRUE(fresh.Device().SettingsFromInfo());
  EXPECT_EQ(fresh.Ex("get -site\r"), "\rRidge Top\r>");
  EXPECT_EQ(fresh.Device().Data().records, 0u);
  SimFixture other("qx20");
  EXPECT_LT(LoadDeviceState(other.Device(), 0, path, error), 0); // another kind's state
  std::remove(path);
}

TEST(SimTranscript, RecordsBothDirectionsWithEscapes) {
  SimFixture sim;
  sim.Ex("get -ver\r");
  EXPECT_EQ(sim.Line().Record().AllBytes(LineDirection::kToDevice), "get -ver\r");
  EXPECT_EQ(sim.Line().Record().AllBytes(LineDirection::kToHost), "\rDU70 2.20\r>");
  const std::string text = sim.Line().Record().Text();
  EXPECT_NE(text.find("host> get -ver\\r"), std::string::npos) << text;
  EXPECT_NE(text.find("<dev  \\rDU70 2.20\\r>"), std::string::npos) << text;
  EXPECT_EQ(EscapeBytes(std::string("\x01\xff\\", 3)), "\\x01\\xFF\\\\");
}

} // namespace
} // namespace zuro::sim
