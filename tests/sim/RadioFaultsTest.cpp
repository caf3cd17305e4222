#include <gtest/gtest.h>

#include "sim/SimTestSupport.h"

namespace zuro::sim {
namespace {

using test::SimFixture;

DeviceConfig WithRadio() {
  DeviceConfig config;
  config.radio = true;
  return config;
}

TEST(SimRadio, CommandModeReadsSetsStoresAndLeaves) {
  SimFixture sim("du70", WithRadio());
  EXPECT_EQ(sim.Ex("get -trait\r"), "\r246\r>"); // radio and modem fitted
  EXPECT_EQ(sim.Ex("+++"), "OK\r");
  EXPECT_EQ(sim.Ex("ATHP\r"), "3\r");
  EXPECT_EQ(sim.Ex("ATDT\r"), "1A2B\r");
  EXPECT_EQ(sim.Ex("ATVR\r"), "1A07\r");
  EXPECT_EQ(sim.Ex("ATHP5\r"), "OK\r");
  EXPECT_EQ(sim.Ex("ATDT2C\r"), "OK\r");
  EXPECT_EQ(sim.Ex("ATHP9\r"), "ERROR\r"); // channels go to 6
  EXPECT_EQ(sim.Ex("ATXYZ\r"), "ERROR\r");
  EXPECT_EQ(sim.Ex("get -ver\r"), "ERROR\r"); // the module, not the device, hears it
  EXPECT_EQ(sim.Ex("ATWR\r"), "OK\r");
  EXPECT_EQ(sim.Ex("ATCN\r"), "OK\r");
  EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.20\r>");
  EXPECT_EQ(sim.Ex("get -rch\r"), "\rOK\r5\r>");
  EXPECT_EQ(sim.Ex("get -rsch\r"), "\rOK\r2C\r>");
}

TEST(SimRadio, QueryAndLogoutOverTheAir) {
  SimFixture sim("du70", WithRadio());
  EXPECT_EQ(sim.Ex("\r\r\r"), ""); // the wake stream
  EXPECT_EQ(sim.Ex("\rquery\r"), "NODE1\r");
  EXPECT_EQ(sim.Ex("login NODE1\r"), "\r>");
  // A logout drops the radio session: no answer, and the login that follows
  // at once is not heard either.
  EXPECT_EQ(sim.Ex("logout\r", 100 * kUsPerMs), "");
  EXPECT_EQ(sim.Ex("login NODE1\r", 100 * kUsPerMs), "");
  sim.Line().RunFor(1000 * kUsPerMs);
  EXPECT_EQ(sim.Ex("login NODE1\r"), "\r>");
}

TEST(SimRadio, UnstoredSettingsAreLostAtPowerCycle) {
  SimFixture sim("du70", WithRadio());
  sim.Ex("+++");
  sim.Ex("ATHP6\r");
  sim.Ex("ATCN\r");
  EXPECT_EQ(sim.Device().Radio()->Working().channel, 6);
  sim.Device().PowerCut(sim.Line().Now());
  sim.Line().RunFor(3000 * kUsPerMs);
  EXPECT_EQ(sim.Device().Radio()->Working().channel, 3);
}

TEST(SimRadio, LonePlusesAreDataForTheDevice) {
  SimFixture sim("du70", WithRadio());
  // Two pluses then a command: the device gets them all (and refuses the line).
  EXPECT_EQ(sim.Ex("++get -ver\r"), "\r?\r>");
  EXPECT_FALSE(sim.Device().Radio()->InCommandMode());
}

TEST(SimLineFaults, EchoingLineReturnsTheCommandBeforeTheAnswer) {
  LineConfig line;
  line.faults.echo = true;
  SimFixture sim("du70", {}, line);
  EXPECT_EQ(sim.Ex("get -ver\r"), "get -ver\r\rDU70 2.20\r>");
}

TEST(SimLineFaults, SilenceFromACommandOnAndForAWhile) {
  {
    LineConfig line;
    line.faults.silentFromCommand = 2;
    SimFixture sim("du70", {}, line);
    EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.20\r>");
    EXPECT_EQ(sim.Ex("get -ver\r"), "");
    sim.Line().RunFor(60 * 1000 * kUsPerMs);
    EXPECT_EQ(sim.Ex("get -ver\r"), "");
  }
  {
    LineConfig line;
    line.faults.silentFromCommand = 1;
    line.faults.silentUs = 1000 * kUsPerMs;
    SimFixture sim("du70", {}, line);
    EXPECT_EQ(sim.Ex("get -ver\r"), "");
    sim.Line().RunFor(1500 * kUsPerMs);
    EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.20\r>");
  }
  {
    LineConfig line;
    line.faults.silentUs = 2000 * kUsPerMs; // from the start
    SimFixture sim("du70", {}, line);
    EXPECT_EQ(sim.Ex("get -ver\r"), "");
    sim.Line().RunFor(2000 * kUsPerMs);
    EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.20\r>");
  }
}

TEST(SimLineFaults, DroppedAndGarbledBytesAreDeterministicAndCounted) {
  const auto run = [](std::uint32_t drop, std::uint32_t garble, FaultDirection direction) {
    LineConfig line;
    line.faults.dropPerMille = drop;
    line.faults.garblePerMille = garble;
    line.faults.direction = direction;
    line.faults.seed = 7;
    SimFixture sim("du70", {}, line);
    std::string all;
    for (int i = 0; i < 50; ++i) {
      all += sim.Ex("get -site\r");
    }
    return std::make_tuple(all, sim.Line().Faults()->Dropped(), sim.Line().Faults()->Garbled());
  };
  const std::string clean = "\rNorth Field\r>";
  const auto [dropped, nDropped, nGarbled0] = run(100, 0, FaultDirection::kToHost);
  EXPECT_GT(nDropped, 0u);
  EXPECT_EQ(nGarbled0, 0u);
  EXPECT_EQ(dropped.size(), 50 * clean.size() - nDropped);
  EXPECT_EQ(run(100, 0, FaultDirection::kToHost), run(100, 0, FaultDirection::kToHost));
  const auto [garbled, nDropped1, nGarbled] = run(0, 100, FaultDirection::kToHost);
  EXPECT_GT(nGarbled, 0u);
  EXPECT_EQ(garbled.size(), 50 * clean.size());
  EXPECT_NE(garbled, [&] {
    std::string s;
    for (int i = 0; i < 50; ++i) {
      s += clean;
    }
    return s;
  }());
  // Damage towards the device loses whole commands; the device stays sound.
  LineConfig line;
  line.faults.garblePerMille = 300;
  line.faults.direction = FaultDirection::kToDevice;
  SimFixture sim("du70", {}, line);
  for (int i = 0; i < 30; ++i) {
    sim.Ex("set -site Ridge\r");
  }
  const auto site = sim.Device().Settings().Get("site");
  ASSERT_TRUE(site.has_value());
  EXPECT_LE(site->size(), 25u);
}

TEST(SimLineFaults, AnswerDelayAndPacingMoveTheAnswerInTime) {
  LineConfig line;
  line.faults.answerDelayUs = 250 * kUsPerMs;
  line.pace = true;
  SimFixture sim("du70", {}, line);
  const SimTime start = sim.Line().Now();
  EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.20\r>");
  // 9 bytes in, then 250 ms, then 12 bytes out, each 10 bits at 9600 baud.
  const SimTime byteUs = 10 * 1000000 / 9600;
  EXPECT_EQ(sim.Line().Now() - start, 9 * byteUs + 250 * kUsPerMs + 12 * byteUs);
}

} // namespace
} // namespace zuro::sim
