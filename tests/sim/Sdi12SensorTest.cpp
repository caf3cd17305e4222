// The SDI-12 sensor's memory: its settings record in the information memory,
// what a firmware change through its boot loader keeps and loses, and what
// it reports afterwards.
#include <gtest/gtest.h>

#include "sim/ReaderTestSupport.h"

namespace zuro::sim {
namespace {

using test::FlashSensorThroughReader;
using test::ReaderFixture;
using test::SensorImage;

SensorSettings Sample() {
  SensorSettings s;
  s.address = '7';
  s.type = 'z';
  s.typeSet = true;
  s.serial = "K4E-1";
  s.mainCal = "1 2 3";
  s.secondCal = "4 5";
  s.thirdCal = "";
  return s;
}

TEST(SensorSettingsRecord, RoundTripsAndRefusesDamage) {
  const SensorSettings s = Sample();
  const std::vector<std::uint8_t> record = EncodeSensorSettings(s, 192);
  ASSERT_FALSE(record.empty());
  EXPECT_EQ(record.size() % 2, 0u);
  ASSERT_TRUE(DecodeSensorSettings(record).has_value());
  EXPECT_EQ(*DecodeSensorSettings(record), s);

  // Erased memory, a flipped bit, a cut record, lengths pointing past the end.
  EXPECT_FALSE(DecodeSensorSettings(std::vector<std::uint8_t>(192, 0xFF)).has_value());
  for (std::size_t i = 0; i < record.size(); ++i) {
    std::vector<std::uint8_t> damaged = record;
    damaged[i] ^= 0x04;
    const auto decoded = DecodeSensorSettings(damaged);
    EXPECT_TRUE(!decoded.has_value() || i + 1 == record.size()) << "byte " << i;
  }
  for (std::size_t n = 0; n < record.size() - 1; ++n) {
    EXPECT_FALSE(DecodeSensorSettings({record.begin(), record.begin() + n}).has_value());
  }
  std::vector<std::uint8_t> longLength = record;
  longLength[7] = 0xF0;
  EXPECT_FALSE(DecodeSensorSettings(longLength).has_value());
}

TEST(SensorSettingsRecord, WhatDoesNotFitIsRefused) {
  SensorSettings s = Sample();
  s.mainCal.assign(120, '1');
  s.secondCal.assign(60, '2');
  EXPECT_TRUE(EncodeSensorSettings(s, 192).empty());
  // Through the sensor: a write that would overflow the memory is refused
  // and the old value stays.
  ReaderFixture f(test::SensorOf("skyra41"));
  EXPECT_EQ(f.Sdi("?X#" + std::string(32, 'S') + "!"), "1OK\r");
  EXPECT_EQ(f.Sdi("?X5" + std::string(59, '1') + "!"), "1OK\r");
  EXPECT_EQ(f.Sdi("?Xb" + std::string(59, '2') + "!"), "1OK\r");
  EXPECT_EQ(f.Sdi("?XO" + std::string(59, '3') + "!"), "1ERROR\r");
  EXPECT_EQ(f.Sensor().Settings().thirdCal, "12.5 0.004 -0.00002");
  EXPECT_EQ(f.Sdi("?X#" + std::string(33, 'S') + "!"), "1ERROR\r");
  // Longer than the reader buffers: it never reaches the sensor.
  EXPECT_EQ(f.Sdi("?X5" + std::string(100, '4') + "!"), "");
  EXPECT_EQ(f.Sensor().Settings().mainCal, std::string(59, '1'));
}

TEST(Sdi12Sensor, SettingsLiveInItsInformationMemory) {
  ReaderFixture f;
  EXPECT_EQ(f.Sdi("1A4!"), "4\r");
  // A power cut: the sensor comes back with what its memory holds.
  f.Sensor().PowerCut(f.Line().Now());
  f.Line().RunFor(kPowerOffUs + 2 * kSensorRestartUs);
  EXPECT_EQ(f.Sensor().Starts(), 2u);
  EXPECT_TRUE(f.Sensor().SettingsFromInfo());
  EXPECT_EQ(f.Sdi("?!"), "4\r");
}

TEST(Sdi12Sensor, FactorySensorStartsFromItsDefaults) {
  ReaderConfig config;
  config.sensor.configured = false;
  ReaderFixture f(config);
  EXPECT_FALSE(f.Sensor().SettingsFromInfo());
  EXPECT_EQ(f.Sdi("?!"), "0\r");
  EXPECT_EQ(f.Sdi("?X#!"), "0\r");
  EXPECT_EQ(f.Sdi("?X4!"), "0 -1 0.5 -1\r");
  EXPECT_EQ(f.Sdi("?Xa!"), "0\r");
  EXPECT_EQ(f.Sdi("?X8!"), "0 z\r"); // the firmware knows its own type
  EXPECT_EQ(f.Sdi("?I!"), "013BRENVIK K4E   360\r");
}

/// What the updater read before the update and writes back after it.
struct Saved {
  std::string address, serial, mainCal, secondCal;
};

TEST(Sdi12Sensor, FirmwareChangeLosesSettingsUntilWrittenBack) {
  ReaderFixture f;
  const SensorSettings before = f.Sensor().Settings();
  ASSERT_EQ(before.address, '1');

  const test::FlashRun run = FlashSensorThroughReader(f, SensorImage("K4E 3.70"));
  ASSERT_TRUE(run.connected);
  EXPECT_EQ(run.refused, 0) << run.lastAnswer;
  ASSERT_EQ(f.Sensor().Mode(), SensorMode::kFirmware);

  // The new firmware runs; its information memory was erased with the rest.
  EXPECT_EQ(f.Sdi("?post!"), "0Code Good!\r");
  EXPECT_EQ(f.Sdi("?I!"), "013BRENVIK K4E   370\r");
  EXPECT_EQ(f.Sensor().Identity(), "K4E 3.70");
  EXPECT_FALSE(f.Sensor().SettingsFromInfo());
  EXPECT_EQ(f.Sdi("?X#!"), "0\r");
  EXPECT_EQ(f.Sdi("?X4!"), "0 -1 0.5 -1\r");
  EXPECT_EQ(f.Sdi("1!"), ""); // the old address is gone

  // The write-back of the update sequence, in its order.
  EXPECT_EQ(f.Sdi("?X#" + before.serial + "!"), "0OK\r");
  EXPECT_EQ(f.Sdi("0A1!"), "1\r");
  EXPECT_EQ(f.Sdi("?X5" + before.mainCal + "!"), "1OK\r");
  EXPECT_EQ(f.Sdi("?Xb" + before.secondCal + "!"), "1OK\r");
  EXPECT_EQ(f.Sdi("?X9 z!"), "1OK\r");
  EXPECT_EQ(f.Sensor().Settings(), before);

  // The transcript tells what happened between the bytes.
  std::string notes;
  for (const TranscriptEntry& e : f.Line().Record().Entries()) {
    if (e.direction == LineDirection::kNote) {
      notes += e.bytes + "\n";
    }
  }
  EXPECT_NE(notes.find("sensor boot loader started"), std::string::npos) << notes;
  EXPECT_NE(notes.find("sensor vectors written"), std::string::npos) << notes;
  EXPECT_NE(notes.find("sensor powered up: running \"K4E 3.70\" at address '0', factory settings"),
            std::string::npos)
      << notes;

  // Written back means in memory: a restart keeps them.
  f.Sensor().PowerCut(f.Line().Now());
  f.Line().RunFor(kPowerOffUs + 2 * kSensorRestartUs);
  EXPECT_TRUE(f.Sensor().SettingsFromInfo());
  EXPECT_EQ(f.Sensor().Settings(), before);
  EXPECT_EQ(f.Sdi("?X4!"), "1 " + before.mainCal + "\r");
}

TEST(Sdi12Sensor, FirmwareChangeWithoutInfoEraseKeepsSettings) {
  ReaderFixture f;
  const SensorSettings before = f.Sensor().Settings();
  const test::FlashRun run =
      FlashSensorThroughReader(f, SensorImage("K4E 3.70"), /*eraseInfo=*/false);
  ASSERT_TRUE(run.connected);
  EXPECT_EQ(run.refused, 0) << run.lastAnswer;
  EXPECT_TRUE(f.Sensor().SettingsFromInfo());
  EXPECT_EQ(f.Sensor().Settings(), before);
  EXPECT_EQ(f.Sdi("?I!"), "113BRENVIK K4E   370K4E-10472\r");
}

TEST(Sdi12Sensor, ReportsTheModelItsFlashNowHolds) {
  // A WPT image loaded into a K4E: the sensor now is what its firmware says.
  ReaderFixture f;
  FlashSensorThroughReader(f, SensorImage("WPT-2 2.20"));
  EXPECT_EQ(f.Sdi("?I!"), "013BRENVIK WPT-2 220\r");
  EXPECT_EQ(f.Sdi("?X8!"), "0 y\r");
  // A model the simulator does not know reports its type as a number.
  ReaderFixture g;
  FlashSensorThroughReader(g, SensorImage("ZZ9 1.01"));
  EXPECT_EQ(g.Sdi("?I!"), "013BRENVIK ZZ9   101\r");
  EXPECT_EQ(g.Sdi("?X8!"), "0 0\r");
}

TEST(Sdi12Sensor, InterruptedUpdateLeavesTheLoaderWaiting) {
  ReaderFixture f;
  EXPECT_EQ(f.Sdi("?B!"), "1OK\r");
  EXPECT_EQ(f.Ex("]P"), "#");
  for (std::uint32_t a = 0x8000; a < 0xFA00; a += 512) {
    ASSERT_EQ(f.Ex(test::Frame('X', StrFormat("%04X", a))), "+\r");
  }
  // The power goes: with its flash erased the sensor stays in its loader.
  f.Sensor().PowerCut(f.Line().Now());
  f.Line().RunFor(kPowerOffUs + 2 * kSensorRestartUs);
  EXPECT_EQ(f.Sensor().Mode(), SensorMode::kBootLoader);
  EXPECT_EQ(f.Ex("\r"), "$");
  EXPECT_EQ(f.Sdi("?!"), "");
}

TEST(Sdi12Sensor, CorruptFirmwareFailsItsSelfTest) {
  ReaderFixture f;
  FirmwareImage image = SensorImage("K4E 3.70");
  // One program word damaged after the identity block: the CRC no longer matches.
  const std::size_t at = image.text.size() / 2;
  image.text[at] = image.text[at] == '0' ? '1' : '0';
  FlashSensorThroughReader(f, image);
  EXPECT_EQ(f.Sensor().Identity(), "K4E 3.70");
  EXPECT_EQ(f.Sdi("?post!"), "0Code Corrupt!\r");
}

TEST(Sdi12Sensor, TakesTheShippedSensorImage) {
  FirmwareImage image;
  ASSERT_EQ(ConvertTiTxt(test::ReadSourceFile("firmware/sensor-3.70.txt"), image),
            TiTxtStatus::kConverted);
  ReaderFixture f;
  const test::FlashRun run = FlashSensorThroughReader(f, image);
  EXPECT_EQ(run.refused, 0) << run.lastAnswer;
  EXPECT_EQ(f.Sdi("?post!"), "0Code Good!\r");
  EXPECT_EQ(f.Sdi("?I!"), "013BRENVIK K4E   370\r");
}

TEST(Sdi12Sensor, PowerCutDuringEraseThenAFreshRunRecovers) {
  ReaderConfig config;
  config.sensor.powerCut = PowerCutPoint{'X', 5};
  ReaderFixture f(config);
  const test::FlashRun cut = FlashSensorThroughReader(f, SensorImage("K4E 3.70"));
  EXPECT_TRUE(cut.connected);
  EXPECT_EQ(cut.lastAnswer, ""); // the fifth erase never answered
  f.Line().RunFor(kPowerOffUs + 2 * kSensorRestartUs);
  ASSERT_EQ(f.Sensor().Mode(), SensorMode::kBootLoader);
  EXPECT_EQ(f.Sdi("?!"), "");
  // The next run finds the loader waiting and connects without "?B!".
  EXPECT_EQ(f.Ex("]\r"), "$");
  const test::FlashRun again =
      test::ScriptedFlash(f.Line(), LayoutForKind(kSensorKind), SensorImage("K4E 3.70"), false);
  EXPECT_EQ(again.refused, 0) << again.lastAnswer;
  f.Line().RunFor(2 * kSensorRestartUs);
  EXPECT_EQ(f.Sdi("?post!"), "0Code Good!\r");
}

} // namespace
} // namespace zuro::sim
