// The reader in front of an SDI-12 sensor: its own commands, its modes, the
// SDI-12 exchanges it relays, the sensor's boot loader behind it, and the
// faults of reader and sensor, byte for byte.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <random>

#include "sim/ReaderTestSupport.h"

namespace zuro::sim {
namespace {

using test::Frame;
using test::ReaderFixture;
using test::SensorOf;

TEST(Reader, AnswersItsOwnCommandsInCommandMode) {
  ReaderFixture f;
  EXPECT_EQ(f.Ex("get -ver\r"), "\rVX 1.23\r>");
  EXPECT_EQ(f.Ex("get -hver\r"), "\r\nB\r>");
  EXPECT_EQ(f.Ex("get -batt\r"), "\r\n87\r>");
  EXPECT_EQ(f.R().Mode(), ReaderMode::kCommand);
  // An SDI-12 command in command mode is not a reader command: nothing goes
  // out on the bus.
  f.Ex("?I!");
  EXPECT_TRUE(f.R().Bus().empty());
}

TEST(Reader, VcdIsAReaderToo) {
  ReaderConfig config;
  config.firmware.profile = ProfileByName("vcd");
  ReaderFixture f(config);
  EXPECT_EQ(f.Ex("get -ver\r"), "\rVCD 1.05\r>");
  EXPECT_EQ(f.Sdi("?!"), "1\r");
}

struct ReaderFault {
  const char* name;
  const char* version;
  char revision;
  int battery;
  const char* command;
  const char* answer;
};

TEST(Reader, ReaderFaultsShowInItsAnswers) {
  const ReaderFault cases[] = {
      {"too old", "1.22", 'B', 87, "get -ver\r", "\rVX 1.22\r>"},
      {"revision A", "", 'A', 87, "get -hver\r", "\r\nA\r>"},
      {"battery low", "", 'B', 9, "get -batt\r", "\r\n9\r>"},
      {"battery at the limit", "", 'B', 10, "get -batt\r", "\r\n10\r>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReaderConfig config;
    config.firmware.version = c.version;
    config.firmware.battery = c.battery;
    config.hardwareRevision = c.revision;
    ReaderFixture f(config);
    EXPECT_EQ(f.Ex(c.command), c.answer);
  }
}

TEST(Reader, ErrorFirstCoversTheHardwareRevisionToo) {
  ReaderConfig config;
  config.firmware.errorFirstCommands = 1;
  ReaderFixture f(config);
  EXPECT_EQ(f.Ex("get -hver\r"), "\rERROR\r>");
  EXPECT_EQ(f.Ex("get -hver\r"), "\r\nB\r>");
}

TEST(Reader, RelaysTheK4eExchangesByteForByte) {
  ReaderFixture f;
  const std::pair<const char*, const char*> exchanges[] = {
      {"?!", "1\r"},
      {"?I!", "113BRENVIK K4E   360K4E-10472\r"},
      {"?X8!", "1 z\r"},
      {"?X#!", "1 K4E-10472\r"},
      {"?X4!", "1 0.9987 0.0124 1.0031\r"},
      {"?Xa!", "1 1 1.39619 2.03054 2.54573 2.9907\r"},
      {"?XO!", "1ERROR\r"}, // a K4E has no third calibration
      {"?post!", "1Code Good!\r"},
      {"1!", "1\r"},
      {"2I!", ""}, // another sensor's address
      {"?M!", ""}, // a standard command this sensor does not offer
      {"?Xz!", "1ERROR\r"},
  };
  for (const auto& [command, answer] : exchanges) {
    SCOPED_TRACE(command);
    EXPECT_EQ(f.Sdi(command), answer);
  }
  EXPECT_EQ(f.R().Mode(), ReaderMode::kSdi12);
  ASSERT_FALSE(f.R().Bus().empty());
  EXPECT_EQ(f.R().Bus().front().command, "?!");
  EXPECT_EQ(f.R().Bus().front().answer, "1");
  // Back to the reader's own commands.
  EXPECT_EQ(f.Ex("`get -ver\r"), "\rVX 1.23\r>");
}

TEST(Reader, SensorWritesAreAnsweredAndKept) {
  ReaderFixture f;
  EXPECT_EQ(f.Sdi("1A3!"), "3\r");
  EXPECT_EQ(f.Sdi("?!"), "3\r");
  EXPECT_EQ(f.Sdi("1I!"), "");
  EXPECT_EQ(f.Sdi("?X#K4E-99!"), "3OK\r");
  EXPECT_EQ(f.Sdi("?X5+0 0.5 +0!"), "3OK\r");
  EXPECT_EQ(f.Sdi("?Xb1 1.4724 2.03944 2.5652 2.9907!"), "3OK\r");
  EXPECT_EQ(f.Sdi("?X9 x!"), "3OK\r");
  EXPECT_EQ(f.Sdi("?X8!"), "3 x\r");
  EXPECT_EQ(f.Sdi("?X9 !"), "3ERROR\r");
  EXPECT_EQ(f.Sdi("?X9 255!"), "3ERROR\r");
  EXPECT_EQ(f.Sdi("?X5!"), "3ERROR\r"); // nothing to write
  EXPECT_EQ(f.Sdi("1A*!"), "");         // not an address: ignored
  const SensorSettings& s = f.Sensor().Settings();
  EXPECT_EQ(s.address, '3');
  EXPECT_EQ(s.serial, "K4E-99");
  EXPECT_EQ(s.mainCal, "+0 0.5 +0");
  EXPECT_EQ(s.secondCal, "1 1.4724 2.03944 2.5652 2.9907");
  EXPECT_EQ(s.type, 'x');
}

struct SensorTypeCase {
  const char* sensor;
  const char* identification;
  const char* type;
  const char* mainCal;
  const char* thirdCal;
};

TEST(Reader, EverySensorModelIdentifiesItself) {
  const SensorTypeCase cases[] = {
      {"k4e", "113BRENVIK K4E   360K4E-10472\r", "1 z\r", "1 0.9987 0.0124 1.0031\r", "1ERROR\r"},
      {"wpt", "113BRENVIK WPT-2 214WPT2-3381\r", "1 y\r", "1 0.412 1.2e-3 -0.0005\r", "1ERROR\r"},
      {"plu3", "113BRENVIK PLU-3 108PLU3-0917\r", "1 ^\r", "1ERROR\r", "1ERROR\r"},
      {"skyra41", "113BRENVIK SKY-41112SKY41-2204\r", "1 ]\r", "1 1.0042 -0.31\r",
       "1 12.5 0.004 -0.00002\r"},
      {"balvo21", "113BRENVIK BLV-21105BLV21-0458\r", "1 107\r", "1 0.0213 1.0004\r", "1ERROR\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sensor);
    ReaderFixture f(SensorOf(c.sensor));
    EXPECT_EQ(f.Sdi("?I!"), c.identification);
    EXPECT_EQ(f.Sdi("?X8!"), c.type);
    EXPECT_EQ(f.Sdi("?X4!"), c.mainCal);
    EXPECT_EQ(f.Sdi("?XO!"), c.thirdCal);
  }
}

TEST(Reader, ThirdCalibrationOnlyWhereTheModelHasIt) {
  ReaderFixture k4e;
  EXPECT_EQ(k4e.Sdi("?XO1 2!"), "1ERROR\r");
  ReaderFixture skyra(SensorOf("skyra41"));
  EXPECT_EQ(skyra.Sdi("?XO1 2!"), "1OK\r");
  EXPECT_EQ(skyra.Sdi("?XO!"), "1 1 2\r");
  ReaderFixture plu3(SensorOf("plu3"));
  EXPECT_EQ(plu3.Sdi("?X5 1!"), "1ERROR\r"); // no calibration at all
  EXPECT_EQ(plu3.Sdi("?Xb 1!"), "1ERROR\r");
}

TEST(Reader, TypeReportedAsDigitsIsSetAsANumber) {
  ReaderFixture f(SensorOf("balvo21"));
  EXPECT_EQ(f.Sdi("?X9 108!"), "1OK\r");
  EXPECT_EQ(f.Sdi("?X8!"), "1 108\r");
}

TEST(Reader, StartsTheSensorBootLoaderAndCarriesItsProtocol) {
  ReaderFixture f;
  EXPECT_EQ(f.Sdi("?B!"), "1OK\r");
  EXPECT_EQ(f.Sensor().Mode(), SensorMode::kBootLoader);
  // SDI-12 goes unanswered now; the loader listens on the UART.
  EXPECT_EQ(f.Sdi("?!"), "");
  EXPECT_EQ(f.Ex("]\r"), "$");
  EXPECT_EQ(f.Ex("P"), "#");
  EXPECT_EQ(f.Ex("\r"), "?\r");
  EXPECT_EQ(f.Ex(Frame('g', "")), "+112+\r");
  EXPECT_EQ(f.Ex("g.0096\r"), "-\r"); // bad checksum
  EXPECT_EQ(f.R().Mode(), ReaderMode::kTransparent);
}

TEST(Reader, SensorWithoutBootLoaderSaysSo) {
  ReaderConfig config;
  config.sensor.bootLoaderMissing = true;
  ReaderFixture f(config);
  EXPECT_EQ(f.Sdi("?B!"), "1No BSL\r");
  EXPECT_EQ(f.Sensor().Mode(), SensorMode::kFirmware);
  // The firmware does not listen on the raw UART.
  EXPECT_EQ(f.Ex("]\rP"), "");
}

TEST(Reader, SensorAlreadyInItsLoader) {
  {
    ReaderConfig config;
    config.sensor.loaderStart = SensorLoaderStart::kWaiting;
    ReaderFixture f(config);
    EXPECT_EQ(f.Sdi("?I!"), "");
    EXPECT_EQ(f.Ex("]\r"), "$");
    EXPECT_TRUE(f.Sensor().Identity().empty());
  }
  {
    ReaderConfig config;
    config.sensor.loaderStart = SensorLoaderStart::kActive;
    ReaderFixture f(config);
    EXPECT_EQ(f.Ex("]\r"), "?\r");
    EXPECT_EQ(f.Ex(Frame('g', "")), "+112+\r");
  }
}

TEST(Reader, SilentSensorLeavesTheBusQuiet) {
  ReaderConfig config;
  config.sensor.silent = true;
  ReaderFixture f(config);
  EXPECT_EQ(f.Sdi("?!"), "");
  EXPECT_EQ(f.Ex("|||?!"), "");
  EXPECT_EQ(f.Sdi("?I!"), "");
  ASSERT_EQ(f.R().Bus().size(), 3u);
  EXPECT_FALSE(f.R().Bus().back().answered);
  // The reader itself still answers.
  EXPECT_EQ(f.Ex("`get -ver\r"), "\rVX 1.23\r>");
}

TEST(Reader, GarbledAnswersKeepTheirLengthAndLineEnd) {
  const std::string clean = ReaderFixture().Sdi("?I!");
  ReaderConfig config;
  config.garblePerMille = 1000;
  config.garbleSeed = 7;
  ReaderFixture a(config);
  ReaderFixture b(config);
  const std::string garbled = a.Sdi("?I!");
  ASSERT_EQ(garbled.size(), clean.size());
  EXPECT_NE(garbled, clean);
  EXPECT_EQ(garbled.back(), '\r');
  EXPECT_EQ(b.Sdi("?I!"), garbled); // the seed decides the damage
  // The sensor itself is untouched: its state did not change.
  EXPECT_EQ(a.Sensor().Settings().address, '1');
}

TEST(Reader, BreakDropsAPartialCommand) {
  ReaderFixture f;
  EXPECT_EQ(f.Sdi("?X#PARTIAL"), "");
  EXPECT_EQ(f.Ex("|?!"), "1\r");
  EXPECT_EQ(f.Sensor().Breaks(), 1u);
  EXPECT_EQ(f.Sensor().Settings().serial, "K4E-10472");
}

TEST(Reader, GarbageNeverBreaksReaderOrSensor) {
  ReaderFixture f;
  std::mt19937 random(12345);
  std::string noise;
  for (int i = 0; i < 20000; ++i) {
    noise.push_back(static_cast<char>(random() & 0xFF));
  }
  f.Ex(noise);
  f.Ex("[" + std::string(10000, 'X') + "!");
  f.Ex("`" + std::string(10000, 'g') + "\r");
  f.Ex("]" + std::string(2000, 'W') + "\r");
  f.Line().RunFor(2 * kSensorRestartUs);
  // The reader still talks, and the sensor's state agrees with its memory.
  EXPECT_EQ(f.Ex("`\rget -hver\r"), "\r\nB\r>");
  const Sdi12Sensor& s = f.Sensor();
  if (s.Mode() == SensorMode::kFirmware && s.SettingsFromInfo()) {
    std::vector<std::uint8_t> info;
    const MemoryLayout& layout = s.FlashMemory().Layout();
    for (std::uint32_t a = layout.infoStart; a < layout.InfoEnd(); ++a) {
      info.push_back(s.FlashMemory().Read(a));
    }
    const auto stored = DecodeSensorSettings(info);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(*stored, s.Settings());
  }
}

struct OptionCase {
  std::vector<std::string> args;
  bool ok;
  const char* kind; ///< the instrument kind the rest carries, or "" for none
};

TEST(ReaderSetup, SplitsReaderOptionsFromTheRest) {
  const OptionCase cases[] = {
      {{"--kind", "vantorix-reader"}, true, "vantorix"},
      {{"--kind", "vcd-reader", "--battery", "9"}, true, "vcd"},
      {{"--sensor", "wpt"}, true, "vantorix"},
      {{"--sensor", "k4e", "--kind", "vcd"}, true, "vcd"},
      {{"--kind", "du70"}, true, "du70"},
      {{"--kind", "du70", "--sensor", "k4e"}, false, ""},
      {{"--kind", "du70-reader"}, true, "du70-reader"}, // not a reader: theirs to refuse
      {{"--sensor", "nope"}, false, ""},
      {{"--sensor"}, false, ""},
      {{"--sensor-address", "*"}, false, ""},
      {{"--sensor-version", "12.3"}, false, ""},
      {{"--sensor-in-loader", "sleeping"}, false, ""},
      {{"--sensor-garble", "1001"}, false, ""},
      {{"--sensor-garble", "-1"}, false, ""},
      {{"--hver", "AB"}, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + (c.args.size() > 1 ? c.args[1] : ""));
    ReaderOptions options;
    std::vector<std::string> rest;
    std::string error;
    EXPECT_EQ(SplitReaderOptions(c.args, options, rest, error), c.ok) << error;
    if (c.ok) {
      const auto kind = std::find(rest.begin(), rest.end(), "--kind");
      ASSERT_NE(kind, rest.end());
      EXPECT_EQ(*(kind + 1), c.kind);
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(ReaderSetup, TheProgramOptionsMakeAReaderWithItsSensorAndFaults) {
  SimConfig config;
  std::string error;
  ASSERT_TRUE(
      ParseSimOptions({"--kind", "vantorix-reader", "--version", "1.22", "--battery", "9", "--hver",
                       "A", "--sensor", "balvo21", "--sensor-address", "5", "--sensor-no-bsl"},
                      config, error))
      << error;
  auto line = MakeLine(config, error);
  ASSERT_TRUE(line) << error;
  Reader* reader = ReaderOf(*line);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(&DeviceOf(*line), &reader->Firmware());
  EXPECT_EQ(line->Exchange("get -ver\r"), "\rVX 1.22\r>");
  EXPECT_EQ(line->Exchange("get -hver\r"), "\r\nA\r>");
  EXPECT_EQ(line->Exchange("get -batt\r"), "\r\n9\r>");
  EXPECT_EQ(line->Exchange("[?X8!"), "5 107\r");
  EXPECT_EQ(line->Exchange("?B!"), "5No BSL\r");
  EXPECT_NE(reader->Describe().find("BLV-21 1.05"), std::string::npos);

  // The device's power cut hits the sensor, whose update it is.
  SimConfig cut;
  ASSERT_TRUE(ParseSimOptions({"--sensor", "k4e", "--power-cut", "X:2"}, cut, error));
  const ReaderConfig cutReader = ReaderConfigFor(cut.reader, cut.device, cut.line);
  EXPECT_EQ(cutReader.sensor.powerCut.letter, 'X');
  EXPECT_EQ(cutReader.sensor.powerCut.count, 2u);
  EXPECT_FALSE(cutReader.firmware.powerCut.Enabled());

  // Without reader options the program still makes an instrument.
  SimConfig plain;
  ASSERT_TRUE(ParseSimOptions({"--kind", "vantorix"}, plain, error));
  auto instrument = MakeLine(plain, error);
  ASSERT_TRUE(instrument);
  EXPECT_EQ(ReaderOf(*instrument), nullptr);
}

TEST(ReaderSetup, LoadsASensorFirmwareFile) {
  const FirmwareImage image = test::SensorImage("K4E 3.80");
  std::vector<MemoryBlock> blocks;
  ASSERT_TRUE(ForEachImageByte(image.text, image.vectors, [&](std::uint32_t a, std::uint8_t v) {
    if (a >= kVectorTableStart) {
      return;
    }
    if (blocks.empty() || blocks.back().address + blocks.back().bytes.size() != a) {
      blocks.push_back({a, {}});
    }
    blocks.back().bytes.push_back(v);
  }));
  const std::string path = "/tmp/zurobsl-sdi12-test-" + std::to_string(getpid()) + ".txt";
  {
    std::ofstream out(path, std::ios::binary);
    out << FormatTiTxt(blocks, image.vectors);
  }
  SimConfig config;
  std::string error;
  ASSERT_TRUE(ParseSimOptions({"--sensor", "k4e", "--sensor-firmware", path}, config, error));
  auto line = MakeLine(config, error);
  (void)std::remove(path.c_str());
  ASSERT_TRUE(line) << error;
  // The image replaced the firmware; the settings in INFO stayed.
  EXPECT_EQ(line->Exchange("[?I!"), "113BRENVIK K4E   380K4E-10472\r");
  EXPECT_EQ(line->Exchange("?post!"), "1Code Good!\r");

  SimConfig missing;
  ASSERT_TRUE(ParseSimOptions({"--sensor-firmware", "/nonexistent/sensor.txt"}, missing, error));
  EXPECT_FALSE(MakeLine(missing, error));
  EXPECT_NE(error.find("/nonexistent/sensor.txt"), std::string::npos);
}

} // namespace
} // namespace zuro::sim
