#include "sim/BootLoader.h"

#include <gtest/gtest.h>

#include "sim/Instrument.h"
#include "sim/SimSetup.h"
#include "sim/SimTestSupport.h"

namespace zuro::sim {
namespace {

using test::Frame;
using test::SimFixture;

constexpr SimTime kRestartWaitUs = 6000 * kUsPerMs;

TEST(SimBootLoader, FrameChecksumsMatchTheKnownFrames) {
  EXPECT_EQ(Frame('g', ""), "g.0095\r");
  EXPECT_EQ(Frame('X', "1000"), "X1000.0147\r");
  EXPECT_EQ(FrameChecksum("g."), 0x95);
}

TEST(SimBootLoader, WaitsThenConnectsThenRefusesWhatItDoesNotKnow) {
  SimFixture sim;
  EXPECT_EQ(sim.Ex("boot KWAX\r"), "\rOK\r>");
  EXPECT_EQ(sim.Device().Mode(), DeviceMode::kBootLoader);
  EXPECT_EQ(sim.Ex("\r"), "$");
  EXPECT_EQ(sim.Ex("hello"), ""); // noise before contact goes unanswered
  EXPECT_EQ(sim.Ex("P"), "#");
  EXPECT_EQ(sim.Ex("\r"), "?\r");
  EXPECT_EQ(sim.Ex("boot KWAX\r"), "?\r"); // the loader already runs
  // The firmware's identity question meets the version request's letter:
  // the '+' answer tells the host the loader is active.
  EXPECT_EQ(sim.Ex("get -ver\r"), "+205+\r");
  EXPECT_EQ(sim.Ex(Frame('g', "")), "+205+\r");
  EXPECT_EQ(sim.Ex(Frame('@', "2000")), "+\r");
  EXPECT_EQ(sim.Device().Loader().Address(), 0x2000u);
}

TEST(SimBootLoader, RefusesBadFramesWithAMinusAndKeepsItsState) {
  SimFixture sim;
  sim.Ex("boot KWAX\r");
  sim.Ex("\r");
  sim.Ex("P");
  sim.Ex(Frame('@', "8000")); // beyond the program: erased flash
  const std::vector<uint8_t> before = sim.Device().FlashMemory().Cells();
  const std::string good = Frame('W', "1234ABCD");
  std::string badSum = good;
  badSum[badSum.size() - 2] = badSum[badSum.size() - 2] == '0' ? '1' : '0';
  const std::string cases[] = {
      badSum,                                   // wrong checksum
      "W1234ABCD\r",                            // no checksum at all
      "W1234ABCD.12\r",                         // short checksum
      Frame('W', "1234ABC"),                    // not whole words
      Frame('W', "12G4"),                       // not hex
      Frame('W', ""),                           // no data
      Frame('W', std::string(516, 'A')),        // more than 128 words
      Frame('g', "12"),                         // g takes no fields
      Frame('@', "123"),                        // address of three digits
      Frame('@', "123456"),                     // six digits
      Frame('X', "FA00"),                       // the boot loader's own segment
      Frame('X', "FE00"),                       // the vector segment
      Frame('X', "0200"),                       // not flash
      Frame('X', "30000"),                      // beyond the Du70's flash
      Frame('V', "FFFF"),                       // too few vectors
      "W" + std::string(10000, '0') + ".0000\r" // 10 kB line
  };
  for (const auto& frame : cases) {
    EXPECT_EQ(sim.Ex(frame), "-\r") << frame.substr(0, 40);
  }
  EXPECT_EQ(sim.Device().FlashMemory().Cells(), before);
  EXPECT_EQ(sim.Device().Loader().Address(), 0x8000u);
  EXPECT_EQ(sim.Ex("Z0000.0000\r"), "?\r"); // a letter it does not know
  // Writes into the boot loader are refused before any cell changes.
  EXPECT_EQ(sim.Ex(Frame('@', "F9FC")), "+\r");
  EXPECT_EQ(sim.Ex(Frame('W', "000000000000")), "-\r");
  EXPECT_EQ(sim.Device().FlashMemory().Cells(), before);
  // Still in business after all that.
  EXPECT_EQ(sim.Ex(Frame('@', "8000")), "+\r");
  EXPECT_EQ(sim.Ex(good), "+\r");
  EXPECT_EQ(sim.Device().FlashMemory().ReadWord(0x8000), 0x1234);
  EXPECT_EQ(sim.Device().FlashMemory().ReadWord(0x8002), 0xABCD);
  EXPECT_EQ(sim.Device().Loader().Address(), 0x8004u);
  // Writing over programmed cells cannot set bits: refused after the attempt.
  EXPECT_EQ(sim.Ex(Frame('@', "8000")), "+\r");
  EXPECT_EQ(sim.Ex(Frame('W', "FFFF")), "-\r");
}

TEST(SimBootLoader, BinaryNoiseNeverCrashesOrCorrupts) {
  SimFixture sim;
  sim.Ex("boot KWAX\r");
  sim.Ex("\r");
  sim.Ex("P");
  const std::vector<uint8_t> before = sim.Device().FlashMemory().Cells();
  std::string noise;
  std::uint32_t state = 12345;
  for (int i = 0; i < 20000; ++i) {
    state = state * 1103515245u + 12345u;
    noise.push_back(static_cast<char>(state >> 16));
  }
  const std::string answer = sim.Ex(noise + "\r");
  // Refusals, and the version for noise that begins with the version letter.
  EXPECT_EQ(answer.find_first_not_of("-?\r+0123456789"), std::string::npos) << answer;
  EXPECT_EQ(sim.Device().FlashMemory().Cells(), before);
  EXPECT_EQ(sim.Ex(Frame('g', "")), "+205+\r");
}

TEST(SimBootLoader, ScriptedFullFlashLeavesTheImageAndRestartsAsTheNewFirmware) {
  SimFixture sim;
  const FirmwareImage image = test::Du70Image();
  ASSERT_FALSE(image.text.empty());
  EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.20\r>");
  const std::uint32_t records = sim.Device().Data().records;
  sim.Device().MutableConfig().restartUs = 4000 * kUsPerMs;

  const test::FlashRun run = test::ScriptedFlash(sim.Line(), sim.Device().Layout(), image);
  ASSERT_TRUE(run.connected);
  EXPECT_EQ(run.refused, 0) << run.lastAnswer;
  EXPECT_EQ(run.lastAnswer, "+\r");
  EXPECT_EQ(sim.Device().Mode(), DeviceMode::kOff); // restarting after the vectors

  // Flash now equals the image, vectors included.
  const Flash& flash = sim.Device().FlashMemory();
  std::size_t compared = 0;
  ASSERT_TRUE(ForEachImageByte(image.text, image.vectors, [&](std::uint32_t a, std::uint8_t b) {
    ++compared;
    ASSERT_EQ(flash.Read(a), b) << std::hex << a;
  }));
  EXPECT_GT(compared, 56000u);
  // Nothing but the image: the rest of the main flash below the boot loader is erased.
  for (std::uint32_t a = 0x1200 + 56844; a < 0xFA00; ++a) {
    ASSERT_EQ(flash.Read(a), 0xFF) << std::hex << a;
  }

  sim.Line().RunFor(kRestartWaitUs);
  EXPECT_EQ(sim.Device().Mode(), DeviceMode::kFirmware);
  EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.30\r>");
  EXPECT_NE(sim.Ex("post -init\r").find("Code Good!"), std::string::npos);
  // The INFO erase lost the settings: factory values, an uninitialised name.
  EXPECT_FALSE(sim.Device().SettingsFromInfo());
  EXPECT_EQ(sim.Ex("get -i\r"), "\r\r>");
  EXPECT_EQ(sim.Ex("get -site\r"), "\r\r>");
  // The data memory is a separate chip: untouched.
  EXPECT_EQ(sim.Device().Data().records, records);
  // The transcript tells the story between the bytes.
  const std::string story = sim.Line().Record().Text();
  EXPECT_NE(story.find("note  boot loader started"), std::string::npos);
  EXPECT_NE(story.find("note  vectors written: the device restarts"), std::string::npos);
  EXPECT_NE(story.find("note  powered up: du70 running \"DU70 2.30\", factory settings"),
            std::string::npos)
      << story.substr(story.size() - 600);
}

TEST(SimBootLoader, UpdateWithoutInfoEraseKeepsTheSettings) {
  SimFixture sim;
  sim.Ex("set -site Hilltop\r");
  sim.Ex("boot KWAX\r");
  sim.Ex("\r");
  sim.Ex("P");
  // Rewriting the vectors alone restarts the device with its INFO intact.
  EXPECT_EQ(sim.Ex(Frame('V', std::string(30, 'F') + " " + std::string(33, 'F'))), "-\r");
  std::string vectors;
  for (std::uint32_t k = 0; k < 16; ++k) {
    vectors += StrFormat("%04X", sim.Device().FlashMemory().ReadWord(0xFFE0 + 2 * k));
  }
  EXPECT_EQ(sim.Ex(Frame('V', vectors)), "+\r");
  sim.Line().RunFor(kRestartWaitUs);
  EXPECT_TRUE(sim.Device().SettingsFromInfo());
  EXPECT_EQ(sim.Ex("get -site\r"), "\rHilltop\r>");
  EXPECT_EQ(sim.Device().Starts(), 2u);
}

TEST(SimBootLoader, AHostBuiltForExtendedFlashUsesFiveDigitAddresses) {
  SimFixture sim("hg4");
  FirmwareImage image;
  image.vectors = ErasedVectors();
  image.vectors[15] = 0x2200;
  std::vector<std::uint8_t> program = MakeFirmwareProgram("HG4 2.10", 0x3000);
  // Put the program at 0x2200 and a second block above 64 KiB.
  image.text = FormatImageMarker(0x2200);
  AppendImageWords(image.text, program.data(), program.size());
  image.text += FormatImageMarker(0x12000);
  AppendImageWords(image.text, program.data(), 64);
  const test::FlashRun run = test::ScriptedFlash(sim.Line(), sim.Device().Layout(), image);
  ASSERT_TRUE(run.connected);
  EXPECT_EQ(run.refused, 0) << run.lastAnswer;
  sim.Line().RunFor(kRestartWaitUs);
  EXPECT_EQ(sim.Device().FlashMemory().Read(0x12000), program[0]);
  EXPECT_EQ(sim.Ex("get -ver\r"), "\rHG4 2.10\r>");
}

// Power cuts at chosen steps of an update.
struct PowerCutCase {
  const char* step;
  DeviceMode modeAfter;
  const char* identity; ///< after the restart; empty: stays in the boot loader
};

class SimPowerCut : public ::testing::TestWithParam<PowerCutCase> {};

TEST_P(SimPowerCut, DeviceRestartsIntoWhatTheFlashHolds) {
  const PowerCutCase& c = GetParam();
  DeviceConfig config;
  std::string error;
  SimConfig parsed;
  ASSERT_TRUE(ParseSimOptions({"--power-cut", c.step}, parsed, error)) << error;
  config.powerCut = parsed.device.powerCut;
  config.restartUs = 4000 * kUsPerMs; // longer than one exchange waits
  SimFixture sim("du70", config);
  const test::FlashRun run =
      test::ScriptedFlash(sim.Line(), sim.Device().Layout(), test::Du70Image());
  EXPECT_EQ(run.lastAnswer, ""); // the cut command got no answer
  EXPECT_EQ(sim.Device().Mode(), DeviceMode::kOff);
  EXPECT_EQ(sim.Ex("get -ver\r"), ""); // no power, no answer
  sim.Line().RunFor(kRestartWaitUs);
  EXPECT_EQ(sim.Device().Mode(), c.modeAfter);
  if (c.modeAfter == DeviceMode::kBootLoader) {
    EXPECT_EQ(sim.Ex("\r"), "$");
    // The host can start again: the boot loader takes the whole update.
    const test::FlashRun again =
        test::ScriptedFlash(sim.Line(), sim.Device().Layout(), test::Du70Image(), false);
    EXPECT_EQ(again.refused, 0) << again.lastAnswer;
    sim.Line().RunFor(kRestartWaitUs);
    EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.30\r>");
  } else {
    EXPECT_EQ(sim.Device().Identity(), c.identity);
  }
}

INSTANTIATE_TEST_SUITE_P(Steps, SimPowerCut,
                         ::testing::Values(
                             // Before anything was erased: the old firmware comes back.
                             PowerCutCase{"g:1", DeviceMode::kFirmware, "DU70 2.20"},
                             // INFO erased, program intact: old firmware with factory settings.
                             PowerCutCase{"X:3", DeviceMode::kFirmware, "DU70 2.20"},
                             // The segment holding the program start is gone: boot loader.
                             PowerCutCase{"X:5", DeviceMode::kBootLoader, ""},
                             // Half-way through the writes: the program's last word is not yet
                             // written, so the boot loader keeps the device.
                             PowerCutCase{"W:3", DeviceMode::kBootLoader, ""},
                             PowerCutCase{"W:222", DeviceMode::kBootLoader, ""},
                             PowerCutCase{"V:1", DeviceMode::kFirmware, "DU70 2.30"}));

TEST(SimBootLoader, AWholeImageWithAWrongCrcStartsAndReportsItselfCorrupt) {
  SimFixture sim;
  FirmwareImage image = test::Du70Image();
  // Change one program word in the middle of the text: the CRC no longer fits.
  const std::size_t at = image.text.size() / 2;
  image.text[at] = image.text[at] == '0' ? '1' : '0';
  ASSERT_EQ(test::ScriptedFlash(sim.Line(), sim.Device().Layout(), image).refused, 0);
  sim.Line().RunFor(kRestartWaitUs);
  ASSERT_EQ(sim.Device().Mode(), DeviceMode::kFirmware);
  EXPECT_FALSE(sim.Device().FirmwareGood());
  EXPECT_EQ(sim.Ex("get -ver\r"), "\rDU70 2.30\r>");
  EXPECT_NE(sim.Ex("post\r").find("Code Corrupt!"), std::string::npos);
}

TEST(SimBootLoader, RealtimeFlashTakesTheDatasheetTimes) {
  DeviceConfig config;
  config.realtimeFlash = true;
  SimFixture sim("du70", config);
  sim.Ex("boot KWAX\r");
  sim.Ex("\r");
  sim.Ex("P");
  const SimTime before = sim.Line().Now();
  EXPECT_EQ(sim.Ex(Frame('X', "8000")), "+\r");
  EXPECT_EQ(sim.Line().Now() - before, kSegmentEraseUs);
  sim.Ex(Frame('@', "8000"));
  const SimTime beforeWrite = sim.Line().Now();
  EXPECT_EQ(sim.Ex(Frame('W', std::string(512, '0'))), "+\r");
  EXPECT_EQ(sim.Line().Now() - beforeWrite, 128 * kWordWriteUs);
}

} // namespace
} // namespace zuro::sim
