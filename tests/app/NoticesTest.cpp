// The notices and guards, the progress callback and the sensor-type choice,
// without a device: the exact words, who gets asked, and what each returns.
#include "app/Notices.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "app/FakeFrontEnd.h"
#include "app/SensorImage.h"
#include "app/TempFolder.h"
#include "app/UpdateSequences.h"
#include "firmware/FirmwareGenerator.h"

namespace zuro {
namespace {

using test::FakeFrontEnd;
using test::TempFolder;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class AppTest : public ::testing::Test {
protected:
  TempFolder folder;
  FakeFrontEnd front;
  UpdateSession session{front, Du70Target(), folder.Path()};
};

TEST_F(AppTest, StartUpNamesTheTargetAndItsFiles) {
  EXPECT_EQ(session.Name(), "Du70");
  EXPECT_EQ(session.Caption(), "Du70 Firmware Updater");
  EXPECT_EQ(front.Options().errorFileName, folder.Path() + "/Du70 Firmware Updater.errors.txt");
  EXPECT_EQ(session.Host().imageName(), "Du70 2.30");
  EXPECT_EQ(session.Host().imageStatus(), 0);
  EXPECT_EQ(session.Log().Level(), kLogDetails);
  EXPECT_TRUE(session.WantsDataEraseWarning());
  front.Options().repMode = true;
  EXPECT_FALSE(session.WantsDataEraseWarning());
}

TEST_F(AppTest, NoticeIsLoggedAfterItWasShown) {
  ShowDataEraseWarning(session);
  ASSERT_EQ(front.notices.size(), 1U);
  EXPECT_EQ(front.notices[0].caption, "Data Erase Warning");
  EXPECT_EQ(front.notices[0].kind, NoticeKind::kWarning);
  EXPECT_EQ(front.notices[0].text,
            "WARNING: The Du70 Firmware Updater will erase all measurement data\n stored in "
            "your Du70.\n\n Please download any data you want to save before continuing.");
  const std::string log = ReadFile(front.Options().errorFileName);
  EXPECT_NE(log.find(" - ErrorOK Told User:: WARNING: The Du70 Firmware Updater will erase"),
            std::string::npos)
      << log;
}

TEST_F(AppTest, StartupFailureTexts) {
  const std::string caption = "Du70 Firmware Updater";
  EXPECT_EQ(StartupFailureText(caption, -60),
            "The Du70 Firmware Updater ran out of memory while allocating internal buffers.\n\n"
            "Please restart this application and try again.");
  EXPECT_EQ(StartupFailureText(caption, -101),
            "The internal firware file for this Du70 Firmware Updater is corrupt.\n\n"
            "Please restart this application and try again.");
  EXPECT_EQ(StartupFailureText(caption, -7),
            "The Du70 Firmware Updater got an unexpected error starting up.\n[Error: -7]\n\n"
            "Please restart this application and try again.");
}

TEST_F(AppTest, CloseGuardKeepsARunningUpdateAlive) {
  front.Options().updateRunning = true;
  EXPECT_FALSE(CloseGuard(session));
  EXPECT_TRUE(front.Options().keepGoing);
  ASSERT_EQ(front.okBoxes.size(), 1U);
  EXPECT_EQ(front.okBoxes[0],
            "Don't Quit Now!: The Du70 Firmware Updater is updating your Du70!\nThis process "
            "should NOT be interrupted.\n\nYour Du70 may be unusable or have missing settings\n"
            "until you complete the firmware update process.\n\nClick OK to continue updating "
            "your Du70.\n");
  front.Options().updateRunning = false;
  EXPECT_TRUE(CloseGuard(session));
  EXPECT_FALSE(front.Options().keepGoing);
  EXPECT_EQ(front.okBoxes.size(), 1U);
}

struct RangeCase {
  std::uint32_t version;
  bool rep;
  std::deque<bool> answers;
  bool expected;
  const char* textEnd; ///< null: nothing shown
  bool asked;
};

TEST_F(AppTest, FirmwareRangeGuard) {
  const RangeCase cases[] = {
      {102, false, {}, false, "firmware version 1.03 (or newer).", false},
      {102, true, {true}, true, "\nClick CANCEL to quit the updater.", true},
      {102, true, {false}, false, "\nClick CANCEL to quit the updater.", true},
      {103, false, {}, true, nullptr, false},
      {299, false, {}, true, nullptr, false},
      {300, false, {}, false, "firmware version 2.99 (or older).", false},
  };
  for (const RangeCase& c : cases) {
    FakeFrontEnd fe;
    UpdateSession s(fe, Du70Target(), folder.Path());
    fe.Options().repMode = c.rep;
    fe.answers = c.answers;
    DeviceKindEntry entry;
    entry.versionRangeCheck = true;
    entry.lowestVersion = 103;
    entry.highestVersion = 299;
    entry.version = c.version;
    EXPECT_EQ(ConfirmFirmwareRange(s, entry), c.expected) << c.version;
    const std::string shown = c.asked ? (fe.questions.empty() ? "" : fe.questions[0].text)
                                      : (fe.notices.empty() ? "" : fe.notices[0].text);
    if (c.textEnd == nullptr) {
      EXPECT_TRUE(fe.notices.empty() && fe.questions.empty());
      continue;
    }
    EXPECT_NE(shown.find("running version " + VersionText(c.version) + "."), std::string::npos)
        << shown;
    EXPECT_TRUE(shown.ends_with(c.textEnd)) << shown;
    EXPECT_EQ(c.asked ? fe.questions.size() : fe.notices.size(), 1U);
  }
  DeviceKindEntry unchecked;
  unchecked.version = 1;
  EXPECT_TRUE(ConfirmFirmwareRange(session, unchecked));
}

TEST_F(AppTest, CalibrationRemindersOnlyForTheirKinds) {
  ShowCalibrationReminder(session, 3);
  ShowCalibrationReminder(session, 10);
  EXPECT_TRUE(front.notices.empty());
  ShowCalibrationReminder(session, 7);
  ShowCalibrationReminder(session, 8);
  ShowCalibrationReminder(session, 9);
  ASSERT_EQ(front.notices.size(), 3U);
  EXPECT_EQ(front.Captions(),
            (std::vector<std::string>{"TQ8 Pro Calibration", "Please Calibrate Your QX-20",
                                      "Please Calibrate Your Stomatrix"}));
  EXPECT_EQ(front.notices[2].kind, NoticeKind::kWarning);
  EXPECT_TRUE(front.notices[2].text.ends_with(kSupportLiteratureAddress));
}

TEST_F(AppTest, ProgressCallbackStepsTheBarAndStopsOnRequest) {
  front.SetProgress(8);
  EXPECT_TRUE(session.ReportProgress(100, 10, 1, 'X'));
  EXPECT_TRUE(session.ReportProgress(100, 20, 1, 'X'));
  EXPECT_EQ(front.Progress(), 10);
  session.writeProgress = 21.0F;
  int reports = 0;
  while (front.Progress() < 90) {
    EXPECT_TRUE(session.ReportProgress(0, 0, 1, 'W'));
    ++reports;
  }
  // 69 percent over the built-in image's write reports: one per 512 characters.
  EXPECT_NEAR(reports, 0.5F + 68.5F / kBuiltInWriteProgressStep, 1.0F);
  EXPECT_TRUE(session.ReportProgress(0, 0, 1, '?'));
  front.Options().keepGoing = false;
  EXPECT_FALSE(session.ReportProgress(0, 0, 1, 'W'));
  EXPECT_GT(front.pumpCalls, 0U);
}

TEST_F(AppTest, FirmwareFileRetargetsOrIsRefused) {
  const std::string bad = folder.Path() + "/Du70 2.31.txt";
  std::ofstream(bad) << "not a firmware file\n";
  EXPECT_EQ(session.UseFirmwareFile(bad), kErrNotTiTxt);
  ASSERT_EQ(front.notices.size(), 1U);
  EXPECT_EQ(front.notices[0].caption, "File Error");
  EXPECT_EQ(front.notices[0].text, "The file \"Du70 2.31.txt\" is not a valid firmware file.\n"
                                   "Please choose a new firmware file to open.");
  EXPECT_EQ(session.builtInFirmwareVersion, 230U);

  const std::string good = folder.Path() + "/firmware.txt";
  std::filesystem::copy_file(std::string(ZURO_SOURCE_DIR) + "/firmware/du70-2.30.txt", good);
  EXPECT_EQ(session.UseFirmwareFile(good), 1);
  EXPECT_EQ(session.imageKind, 3) << "a file that names no kind is for the Du70";
  EXPECT_EQ(session.Name(), "Du70");
  EXPECT_FLOAT_EQ(session.writeProgressStep,
                  35328.0F / static_cast<float>(session.Host().imageTextLength()));
}

TEST(SensorTargetTest, StartsForTheSkyra14WithItsOwnImage) {
  TempFolder folder;
  FakeFrontEnd front;
  UpdateSession session(front, SensorTarget(), folder.Path());
  EXPECT_TRUE(front.Options().sensorTarget);
  EXPECT_EQ(session.sensorTypeCode, 123);
  EXPECT_EQ(session.Name(), "SKYRA 14 Sensor");
  EXPECT_EQ(session.versionFinderPath, "/versionfinder/SKYRA14-Firmware.txt");
  EXPECT_EQ(session.Host().imageStatus(), 0);
  EXPECT_EQ(session.Host().imageKind(), kSensorImageKind);
  EXPECT_EQ(session.builtInFirmwareVersion, kSensorImageVersion);
  EXPECT_EQ(kSensorImageKind, 10);
  EXPECT_FALSE(session.WantsDataEraseWarning());

  SelectSensorType(session, 94);
  SelectSensorType(session, 122);
  EXPECT_EQ(front.checkedItems, std::vector<std::string>{"K4E"});
  EXPECT_EQ(session.Name(), "K4E Sensor");
  EXPECT_EQ(session.versionFinderPath, "/versionfinder/K4E-Firmware.txt");
  SelectSensorType(session, 'k');
  EXPECT_EQ(front.checkedItems, std::vector<std::string>{"WPT-2 && WPT-6"});
  SelectSensorType(session, 7);
  EXPECT_TRUE(front.checkedItems.empty());
  EXPECT_EQ(session.versionFinderPath, "/versionfinder/WPT2-Firmware.txt");
}

TEST(SensorTargetTest, BuiltInImageIsTheGeneratedSensorFirmware) {
  // The committed file is exactly what the generator makes for the digital
  // sensor's layout, and the program carries exactly that file.
  FirmwareLayout layout;
  layout.identity = "K4E 3.70";
  layout.programStart = 0x8000;
  layout.programLength = 16384;
  const std::string file = ReadFile(std::string(ZURO_SOURCE_DIR) + "/firmware/sensor-3.70.txt");
  EXPECT_EQ(GenerateFirmwareTiTxt(layout), file);
  FirmwareImage image;
  ASSERT_EQ(ConvertTiTxt(file, image), TiTxtStatus::kConverted);
  EXPECT_EQ(image.text, kBuiltInSensorImage.text);
  EXPECT_EQ(image.vectors, kBuiltInSensorImage.vectors);
  EXPECT_STREQ(kBuiltInSensorImage.name, "K4E 3.70");
  EXPECT_EQ(kBuiltInSensorImage.kind, kSensorImageKind);
}

TEST(SensorTargetTest, FamilyCheck) {
  EXPECT_TRUE(SensorTypeMatches(261, 'k'));
  EXPECT_FALSE(SensorTypeMatches(261, 'z'));
  EXPECT_TRUE(SensorTypeMatches(260, 'n'));
  EXPECT_TRUE(SensorTypeMatches(262, 'e'));
  EXPECT_TRUE(SensorTypeMatches(264, 'g'));
  EXPECT_TRUE(SensorTypeMatches(122, 'z'));
  EXPECT_FALSE(SensorTypeMatches(123, 'z'));
  EXPECT_FALSE(SensorTypeMatches(263, 263 & 0xFF));
}

} // namespace
} // namespace zuro
