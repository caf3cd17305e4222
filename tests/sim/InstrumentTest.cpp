#include "sim/Instrument.h"

#include <gtest/gtest.h>

#include "sim/SimTestSupport.h"

namespace zuro::sim {
namespace {

using test::SimFixture;

TEST(SimDu70, IdentityBatteryLoginAndQuery) {
  SimFixture sim;
  EXPECT_EQ(sim.Ex("\r\r\r"), ""); // wake-up carriage returns get no answer
  EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.20\r>");
  EXPECT_EQ(sim.Ex("get -batt\r"), "\r87\r>");
  EXPECT_EQ(sim.Ex("\rquery\r"), "NODE1\r");
  EXPECT_EQ(sim.Ex("login\r"), "\r>");
  EXPECT_EQ(sim.Ex("login NODE1\r"), "\r>");
  EXPECT_EQ(sim.Ex("login NODE9\r"), ""); // another device's name
  EXPECT_EQ(sim.Ex("login *2293\r\n\r"), "\rOK\r>");
  EXPECT_EQ(sim.Ex("login *1111\r"), "\rERROR\r>");
  EXPECT_EQ(sim.Ex("logout\r"), "\r>");
}

struct SettingCase {
  const char* key;
  const char* initial; ///< the configured device's value
  const char* set;     ///< what the host sends
  const char* stored;  ///< what "get" answers afterwards
};

TEST(SimDu70, EverySettingReadsWritesAndSurvivesARestart) {
  const SettingCase cases[] = {
      {"i", "NODE1", "NODE2", "NODE2"},
      {"sn", "DU7010442", "DU7099999", "DU7099999"},
      {"devid", "A1B2C3D4", "FF00FF00", "FF00FF00"},
      {"report", "1", "2", "2"},
      {"depth", "10 20 30 40 50", "1 2 3 4 5", "1 2 3 4 5"},
      {"lat", "+46.52345", "-12.5", "-12.50000"},
      {"long", "-117.12345", "+7.25", "+7.25000"},
      {"tz", "-32", "4", "4"},
      {"site", "North Field", "South Creek 2", "South Creek 2"},
      {"w", "900", "300", "300"},
      {"padc", "50", "60", "60"},
      {"ports", "1 2 0 4 0", "5 5 5 5 5", "5 5 5 5 5"},
      {"adc30", "10 1 20 2 30 3 40 4 50 5 165", "10 1 20 2 30 3 40 4 50 6 166",
       "10 1 20 2 30 3 40 4 50 6 166"},
      {"adc15", "11 2 21 3 31 4 41 5 51 6 175", "1 1 1 1 1 1 1 1 1 1 10", "1 1 1 1 1 1 1 1 1 1 10"},
      {"data", "3", "7", "7"},
      {"build", "B2041", "B3000", "B3000"},
      {"r", "2", "1", "1"},
      {"trait", "247", "254", "254"},
      {"apn", "fieldnet.example", "internet", "internet"},
      {"user", "logger", "u2", "u2"},
      {"passwd", "s3cret", "pw", "pw"},
      {"authkey", "00112233445566778899AABBCCDDEEFF", "ffeeddccbbaa99887766554433221100",
       "FFEEDDCCBBAA99887766554433221100"},
      {"host", "data.brenvik.example", "h.example", "h.example"},
      {"ipport", "4711", "80", "80"},
  };
  SimFixture sim;
  for (const auto& c : cases) {
    EXPECT_EQ(sim.Ex(StrFormat("get -%s\r", c.key)), StrFormat("\r%s\r>", c.initial)) << c.key;
    EXPECT_EQ(sim.Ex(StrFormat("set -%s %s\r", c.key, c.set)), "\rOK\r>") << c.key;
    EXPECT_EQ(sim.Ex(StrFormat("get -%s\r", c.key)), StrFormat("\r%s\r>", c.stored)) << c.key;
  }
  // Clearing the latitude: "set -lat " with nothing after it.
  EXPECT_EQ(sim.Ex("set -lat \r"), "\rOK\r>");
  EXPECT_EQ(sim.Ex("get -lat\r"), "\r\r>");
  // The settings are in INFO: a power cycle keeps them.
  sim.Device().PowerCut(sim.Line().Now());
  sim.Line().RunFor(3000 * kUsPerMs);
  EXPECT_TRUE(sim.Device().SettingsFromInfo());
  EXPECT_EQ(sim.Ex("get -site\r"), "\rSouth Creek 2\r>");
  EXPECT_EQ(sim.Device().Settings().Get("i"), "NODE2");
}

TEST(SimDu70, RefusesBadValuesAndUnknownCommandsInItsOwnWords) {
  SimFixture sim;
  const std::pair<const char*, const char*> cases[] = {
      {"set -i NAMETOOLONG\r", "\rERROR\r>"},
      {"set -w ten\r", "\rERROR\r>"},
      {"set -depth 1 2 3\r", "\rERROR\r>"},
      {"set -ports 1 2 3 4 256\r", "\rERROR\r>"},
      {"set -adc30 10 1 20 2 30 3 40 4 50 5 100\r", "\rERROR\r>"}, // wrong checksum
      {"set -lat 200\r", "\rERROR\r>"},
      {"set -authkey 1234\r", "\rERROR\r>"},
      {"set -trait 300\r", "\rERROR\r>"},
      {"set -baud 9\r", "\rERROR\r>"},
      {"set -sec -5\r", "\rERROR\r>"},
      {"set -t 25:00:00\r", "\rERROR\r>"},
      {"set -d 2023-2-30\r", "\rERROR\r>"},
      {"set -ver 9.99\r", "\rERROR\r>"},
      {"get -colour\r", "\rUnsupported\r>"},
      {"set -colour red\r", "\rUnsupported\r>"},
      {"get -cal 0\r", "\rUnsupported\r>"},
      {"get -rch\r", "\rNo Radio\r>"},
      {"fly away\r", "\r?\r>"},
      {"reset -eqn\r", "\r?\r>"},
      {"boot KWOX\r", "\rERROR\r>"},
      {"post -now\r", "\rERROR\r>"},
      {"get\r", "\r?\r>"},
  };
  const SettingsStore before = sim.Device().Settings();
  for (const auto& [command, answer] : cases) {
    EXPECT_EQ(sim.Ex(command), answer) << command;
  }
  EXPECT_EQ(sim.Device().Settings(), before);
  EXPECT_EQ(sim.Device().Mode(), DeviceMode::kFirmware);
  // A 10 kB line is thrown away whole, then the device listens again.
  EXPECT_EQ(sim.Ex(std::string(10000, 'x') + "\r"), "\rERROR\r>");
  // Binary noise: '?' or an error for every line it makes, never a crash.
  std::string noise;
  for (int i = 0; i < 5000; ++i) {
    noise.push_back(static_cast<char>((i * 7919) & 0xFF));
  }
  sim.Ex(noise);
  sim.Ex("\r");
  EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.20\r>");
}

TEST(SimDu70, OlderFirmwareOffersOnlyWhatItsVersionHas) {
  DeviceConfig config;
  config.version = "1.04";
  SimFixture sim("du70", config);
  EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 1.04\r>");
  EXPECT_EQ(sim.Ex("get -site\r"), "\rUnsupported\r>");  // from 2.00
  EXPECT_EQ(sim.Ex("get -lat\r"), "\rUnsupported\r>");   // from 2.02
  EXPECT_EQ(sim.Ex("get -trait\r"), "\rUnsupported\r>"); // from 1.08
  EXPECT_EQ(sim.Ex("get -w\r"), "\r900\r>");
}

TEST(SimDu70, ClockInBothDialects) {
  DeviceConfig config;
  config.clock = 86400; // 2000-01-02 00:00:00
  SimFixture sim("du70", config);
  EXPECT_EQ(sim.Ex("get -sec\r"), "\r86400\r>");
  EXPECT_EQ(sim.Ex("get -t\r"), "\rDate\\Time: 2000-01-02 00:00:00\r>");
  sim.Line().RunFor(61 * 1000 * kUsPerMs); // the clock runs
  EXPECT_EQ(sim.Ex("get -sec\r"), "\r86461\r>");
  EXPECT_EQ(sim.Ex("set -t 12:30:05\r"), "\rOK\r>");
  EXPECT_EQ(sim.Ex("set -d 2021-6-1\r"), "\rOK\r>");
  EXPECT_EQ(sim.Ex("get -t\r"), "\rDate\\Time: 2021-06-01 12:30:05\r>");
  EXPECT_EQ(sim.Ex("set -sec 757382400\r"), "\rOK\r>");
  EXPECT_EQ(sim.Ex("get -t\r"), "\rDate\\Time: 2024-01-01 00:00:00\r>");
  EXPECT_EQ(sim.Device().ClockAt(sim.Line().Now()), 757382400);
}

TEST(SimDu70, CalendarConversionRoundTrips) {
  for (const std::int64_t secs : {0LL, 86399LL, 951782400LL /* 2030-02-28 */, 4102444799LL}) {
    EXPECT_EQ(ZuroSecondsFromCivil(CivilFromZuroSeconds(secs)), secs);
  }
  const CivilTime leap = CivilFromZuroSeconds(ZuroSecondsFromCivil({2024, 2, 29, 23, 59, 59}));
  EXPECT_EQ(leap.month, 2);
  EXPECT_EQ(leap.day, 29);
}

TEST(SimDu70, DataEraseAndItsFailures) {
  {
    SimFixture sim;
    EXPECT_EQ(sim.Device().Data().records, 1440u);
    EXPECT_EQ(sim.Ex("yes\r"), "\rOK\r>");
    EXPECT_EQ(sim.Device().Data().records, 0u);
    EXPECT_EQ(sim.Device().Data().erasures, 1u);
  }
  {
    DeviceConfig config;
    config.dataFlashFail = true;
    SimFixture sim("du70", config);
    EXPECT_EQ(sim.Ex("yes\r"), "\rDataFlash FAIL\r>");
    EXPECT_EQ(sim.Device().Data().records, 1440u);
  }
  {
    // A slow data memory: the answer comes after 20 s and the device hears
    // nothing meanwhile.
    DeviceConfig config;
    config.dataEraseUs = 20000 * kUsPerMs;
    SimFixture sim("du70", config);
    EXPECT_EQ(sim.Ex("yes\r", 17000 * kUsPerMs), "");
    EXPECT_EQ(sim.Ex("get -ver\r", 1000 * kUsPerMs), "");
    EXPECT_EQ(sim.Line().RunFor(3000 * kUsPerMs), "\rOK\r>");
    EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.20\r>");
  }
}

TEST(SimDu70, BootRequestAnswers) {
  {
    DeviceConfig config;
    config.bootLoaderMissing = true;
    SimFixture sim("du70", config);
    EXPECT_EQ(sim.Ex("boot KWAX\r"), "\rZuroBSL MISSING\r>");
    EXPECT_EQ(sim.Device().Mode(), DeviceMode::kFirmware);
  }
  {
    DeviceConfig config;
    config.errorFirstCommands = 2;
    SimFixture sim("du70", config);
    EXPECT_EQ(sim.Ex("boot KWAX\r"), "\rERROR\r>");
    EXPECT_EQ(sim.Ex("get -ver\r"), "\rERROR\r>");
    EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.20\r>");
    EXPECT_EQ(sim.Ex("boot KWAX\r"), "\rOK\r>");
  }
}

TEST(SimDu70, LinkSpeedChangeNeedsTheHostToFollow) {
  SimFixture sim;
  EXPECT_EQ(sim.Ex("set -baud 3\r"), "\rOK\r>"); // sent at 9600
  EXPECT_EQ(sim.Device().Baud(), 57600u);
  // The host still at 9600 hears garbage and is not understood.
  const std::string garbled = sim.Ex("get -ver\r");
  EXPECT_EQ(garbled.find("DU70"), std::string::npos);
  sim.Line().SetHostBaud(57600);
  sim.Ex("\r");
  EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.20\r>");
  // A restart brings the device back to 9600.
  sim.Device().PowerCut(sim.Line().Now());
  sim.Line().RunFor(3000 * kUsPerMs);
  EXPECT_EQ(sim.Device().Baud(), 9600u);
}

TEST(SimDu70, SelfTestJudgesTheFlashAsItIsNow) {
  SimFixture sim;
  EXPECT_EQ(sim.Ex("post\r"), "\rRAM test passed\rCode Good!\r>");
  EXPECT_EQ(sim.Ex("post -init\r"), "\rInit done\rRAM test passed\rCode Good!\r>");
  Flash& flash = sim.Device().FlashMemory();
  std::uint32_t a = 0x1400;
  while (flash.Read(a) == 0) {
    a += 2;
  }
  flash.Write(a, {0, flash.Read(a + 1)});
  EXPECT_EQ(sim.Ex("post\r"), "\rRAM test passed\rCode Corrupt!\r>");
}

TEST(SimDu70, FactoryDeviceIsUninitialised) {
  DeviceConfig config;
  config.configured = false;
  SimFixture sim("du70", config);
  EXPECT_EQ(sim.Ex("get -i\r"), "\r\r>");
  EXPECT_EQ(sim.Ex("\rquery\r", 500 * kUsPerMs), "");
  EXPECT_EQ(sim.Ex("get -trait\r"), "\r255\r>");
  EXPECT_EQ(sim.Ex("get -adc30\r"), "\r\r>");
}

} // namespace
} // namespace zuro::sim
