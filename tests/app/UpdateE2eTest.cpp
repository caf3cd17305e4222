// Whole updates of simulated instruments and sensors, through the real
// service object, boot-loader host and serial port, against the simulator on
// a pseudo-terminal. Each scenario names the device, the run options and the
// answers the user gives, and what the user must see and get.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "app/FakeFrontEnd.h"
#include "app/Notices.h"
#include "app/SimHarness.h"
#include "app/TempFolder.h"
#include "app/UpdateSequences.h"
#include "firmware/FirmwareGenerator.h"

namespace zuro {
namespace {

using test::FakeFrontEnd;
using test::SimHarness;
using test::TempFolder;

/// The sequences' own waits, shortened for a simulator that restarts in
/// well under a second (the production figures stay as they are).
constexpr double kTestWaitScale = 0.2;

/// A generated firmware file for another kind, named as the maker names them.
std::string MakeFirmwareFile(const std::string& folder, const std::string& identity,
                             std::uint32_t start) {
  FirmwareLayout layout;
  layout.identity = identity;
  layout.programStart = start;
  layout.programLength = 8192;
  const std::string path = folder + "/" + identity + ".txt";
  std::ofstream(path) << GenerateFirmwareTiTxt(layout);
  return path;
}

struct Scenario {
  const char* name;
  std::vector<std::string> simArgs{};
  bool factory = false;
  bool rep = false;
  std::deque<bool> answers{};
  /// Firmware file to generate and load: identity and program start; empty: built-in.
  std::string firmwareIdentity{};
  std::uint32_t firmwareStart = 0;
  bool dontEraseData = false;
  Result expected = 1;
  std::vector<std::string> captions{};         ///< every notice, in order
  std::vector<std::string> questionCaptions{}; ///< every question, in order
  std::string identityAfter{}; ///< what the device runs afterwards; empty: unchanged
};

class InstrumentUpdateTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(InstrumentUpdateTest, Runs) {
  const Scenario& sc = GetParam();
  SimHarness sim(sc.simArgs);
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  TempFolder folder;
  FakeFrontEnd front;
  front.Options().factoryMode = sc.factory;
  front.Options().repMode = sc.rep || sc.factory;
  front.Options().waitScale = kTestWaitScale;
  UpdateSession session(front, Du70Target(), folder.Path());
  if (!sc.firmwareIdentity.empty()) {
    ASSERT_EQ(session.UseFirmwareFile(
                  MakeFirmwareFile(folder.Path(), sc.firmwareIdentity, sc.firmwareStart)),
              1);
  }
  front.Options().commPortName = sim.Port();
  front.Options().dontEraseData = sc.dontEraseData;
  front.answers = sc.answers;
  const std::string identityBefore = sim.WithDevice([](sim::SimDevice& d) { return d.Identity(); });
  const std::uint32_t recordsBefore =
      sim.WithDevice([](sim::SimDevice& d) { return d.Data().records; });

  const UpdateOutcome outcome = session.StartUpdate();

  EXPECT_EQ(outcome.result, sc.expected);
  EXPECT_EQ(front.Captions(), sc.captions);
  std::vector<std::string> asked;
  for (const auto& q : front.questions) {
    asked.push_back(q.caption);
  }
  EXPECT_EQ(asked, sc.questionCaptions);
  EXPECT_FALSE(front.Options().updateRunning);
  const std::string identityAfter = sim.WithDevice([](sim::SimDevice& d) { return d.Identity(); });
  EXPECT_EQ(identityAfter, sc.identityAfter.empty() ? identityBefore : sc.identityAfter);
  if (sc.expected > 0) {
    EXPECT_EQ(front.Progress(), 100);
    // The stage figures come in order; with the built-in image every figure
    // does (a large flash or a short file may step the bar past them).
    const std::vector<int> stages = {2, 4, 6, 8, 21, 92, 94, 96, 98, 100};
    auto at = front.progress.begin();
    for (const int stage : stages) {
      at = std::find(at, front.progress.end(), stage);
      EXPECT_NE(at, front.progress.end())
          << stage << " in " << ::testing::PrintToString(front.progress);
    }
    if (sc.firmwareIdentity.empty()) {
      EXPECT_TRUE(std::is_sorted(front.progress.begin(), front.progress.end()))
          << ::testing::PrintToString(front.progress);
    }
    EXPECT_FALSE(std::filesystem::exists(front.Options().settingsFileName));
    const std::uint32_t records =
        sim.WithDevice([](sim::SimDevice& d) { return d.Data().records; });
    EXPECT_EQ(records, sc.dontEraseData ? recordsBefore : 0U);
    const bool erasedShown = std::find(front.statuses.begin(), front.statuses.end(),
                                       "Erasing old data...") != front.statuses.end();
    EXPECT_EQ(erasedShown, !sc.dontEraseData);
  } else {
    EXPECT_EQ(front.Progress(), 0);
  }
}

const Scenario kScenarios[] = {
    {.name = "WrongKind",
     .simArgs = {"--kind", "qt7"},
     .expected = -121,
     .captions = {"Wrong Device"}},
    {.name = "WrongKindFactoryCancel",
     .simArgs = {"--kind", "qt7"},
     .factory = true,
     .answers = {false},
     .expected = -121,
     .questionCaptions = {"Wrong Device"}},
    {.name = "WrongKindFactoryOk",
     .simArgs = {"--kind", "qt7"},
     .factory = true,
     .answers = {true},
     .expected = 1,
     .questionCaptions = {"Wrong Device"},
     .identityAfter = "DU70 2.30"},
    {.name = "Battery9",
     .simArgs = {"--battery", "9"},
     .expected = -130,
     .captions = {"Batteries Too Low"}},
    {.name = "Battery10KeepsData",
     .simArgs = {"--battery", "10"},
     .dontEraseData = true,
     .expected = 1,
     .identityAfter = "DU70 2.30"},
    {.name = "NewerCancel",
     .simArgs = {"--version", "2.31"},
     .answers = {false},
     .expected = -40,
     .questionCaptions = {"Newer Firmware"}},
    {.name = "NewerOk",
     .simArgs = {"--version", "2.31"},
     .answers = {true},
     .expected = 1,
     .questionCaptions = {"Newer Firmware"},
     .identityAfter = "DU70 2.30"},
    {.name = "NoBootLoader",
     .simArgs = {"--no-boot-loader"},
     .expected = -112,
     .captions = {"Firmware Loader Error"}},
    {.name = "Hg4OutOfRange",
     .simArgs = {"--kind", "hg4", "--version", "2.01"},
     .firmwareIdentity = "HG4 2.10",
     .firmwareStart = 0x2100,
     .expected = -120,
     .captions = {"Wrong Firmware Version"}},
    {.name = "Hg4OutOfRangeRepCancel",
     .simArgs = {"--kind", "hg4", "--version", "2.01"},
     .rep = true,
     .answers = {false},
     .firmwareIdentity = "HG4 2.10",
     .firmwareStart = 0x2100,
     .expected = -120,
     .questionCaptions = {"Wrong Firmware Version"}},
    {.name = "Hg4OutOfRangeRepOk",
     .simArgs = {"--kind", "hg4", "--version", "2.01"},
     .rep = true,
     .answers = {true},
     .firmwareIdentity = "HG4 2.10",
     .firmwareStart = 0x2100,
     .expected = 1,
     .questionCaptions = {"Wrong Firmware Version"},
     .identityAfter = "HG4 2.10"},
    {.name = "CalibrationReminderFromFile",
     .simArgs = {"--kind", "qx20"},
     .rep = true,
     .firmwareIdentity = "QX20 2.10",
     .firmwareStart = 0x1200,
     .expected = 1,
     .captions = {"Please Calibrate Your QX-20"},
     .identityAfter = "QX20 2.10"},
};

INSTANTIATE_TEST_SUITE_P(Scenarios, InstrumentUpdateTest, ::testing::ValuesIn(kScenarios),
                         [](const auto& param) { return std::string(param.param.name); });

/// A session on a fresh data folder, as a new start of the program would make it.
struct AppRun {
  explicit AppRun(const std::string& port, const std::string& folder,
                  const UpdateTarget& target = Du70Target()) {
    front.Options().waitScale = kTestWaitScale;
    session = std::make_unique<UpdateSession>(front, target, folder);
    front.Options().commPortName = port;
  }
  FakeFrontEnd front;
  std::unique_ptr<UpdateSession> session;
};

std::int64_t DeviceClockError(SimHarness& sim) {
  return sim.WithLine([](sim::SimLine& line) {
    const auto& device = *line.DeviceAs<sim::SimDevice>();
    return device.ClockAt(line.Now()) - sim::LocalZuroSeconds();
  });
}

/// Every setting of the instrument as it was before the update.
void ExpectSameSettings(SimHarness& sim, const sim::SettingsStore& before) {
  const sim::SettingsStore after = sim.WithDevice([](sim::SimDevice& d) { return d.Settings(); });
  // The build text names the firmware's build, so it comes with the new firmware.
  auto afterValues = after.Values();
  auto beforeValues = before.Values();
  afterValues.erase("build");
  beforeValues.erase("build");
  EXPECT_EQ(afterValues, beforeValues);
  EXPECT_EQ(after.CalSlots(), before.CalSlots());
  EXPECT_EQ(after.Equations(), before.Equations());
  EXPECT_EQ(after.Users(), before.Users());
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(Du70UpdateTest, FromTwoTwentyToTheBuiltInImage) {
  SimHarness sim({"--kind", "du70", "--version", "2.20"});
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  TempFolder folder;
  AppRun run(sim.Port(), folder.Path());
  const sim::SettingsStore before = sim.WithDevice([](sim::SimDevice& d) { return d.Settings(); });
  ASSERT_GT(sim.WithDevice([](sim::SimDevice& d) { return d.Data().records; }), 0U);

  const UpdateOutcome outcome = run.session->StartUpdate();

  ASSERT_EQ(outcome.result, 1) << ::testing::PrintToString(run.front.Captions());
  EXPECT_TRUE(run.front.notices.empty());
  EXPECT_TRUE(run.front.questions.empty());
  EXPECT_EQ(sim.WithDevice([](sim::SimDevice& d) { return d.Identity(); }), "DU70 2.30");
  const auto image = test::TiTxtBytes(std::string(ZURO_SOURCE_DIR) + "/firmware/du70-2.30.txt");
  ASSERT_GT(image.size(), 50000U);
  const std::size_t differing = sim.WithDevice([&](sim::SimDevice& d) {
    std::size_t n = 0;
    for (const auto& [address, byte] : image) {
      n += d.FlashMemory().Read(address) != byte ? 1 : 0;
    }
    return n;
  });
  EXPECT_EQ(differing, 0U);
  ExpectSameSettings(sim, before);
  EXPECT_LE(std::abs(DeviceClockError(sim)), 2);
  EXPECT_EQ(sim.WithDevice([](sim::SimDevice& d) { return d.Data().records; }), 0U);
  EXPECT_FALSE(std::filesystem::exists(run.front.Options().settingsFileName));
  EXPECT_EQ(run.front.progress.front(), 0);
  EXPECT_EQ(run.front.progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(run.front.progress.begin(), run.front.progress.end()));
  EXPECT_EQ(run.front.statuses.back(), "Successfully updated firmware in " +
                                           std::to_string(outcome.elapsedSeconds) + " seconds.");
  EXPECT_EQ(run.front.connectLabels.back(), "You may disconnect your Du70 now.");
  std::ifstream log(run.front.Options().errorFileName);
  const std::string logText((std::istreambuf_iterator<char>(log)),
                            std::istreambuf_iterator<char>());
  EXPECT_NE(logText.find("ZuroBSL Host: Finished updating device in"), std::string::npos);
}

TEST(Du70UpdateTest, PowerCutDuringUploadThenASecondRunRestoresFromTheFile) {
  SimHarness sim({"--kind", "du70", "--version", "2.20", "--power-cut", "W:40"});
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  TempFolder folder;
  const sim::SettingsStore before = sim.WithDevice([](sim::SimDevice& d) { return d.Settings(); });
  {
    AppRun first(sim.Port(), folder.Path());
    const UpdateOutcome outcome = first.session->StartUpdate();
    EXPECT_LT(outcome.result, 0);
    EXPECT_EQ(first.front.Captions(), std::vector<std::string>{"Firmware Upload Error"});
    EXPECT_TRUE(std::filesystem::exists(first.front.Options().settingsFileName));
    EXPECT_EQ(first.front.connectLabels.back(), "Connect Du70 to computer comm port.");
  }
  EXPECT_TRUE(sim.WithDevice([](sim::SimDevice& d) { return d.Identity().empty(); }));

  AppRun second(sim.Port(), folder.Path());
  const UpdateOutcome outcome = second.session->StartUpdate();
  ASSERT_EQ(outcome.result, 1) << ::testing::PrintToString(second.front.Captions());
  EXPECT_TRUE(second.front.notices.empty());
  // The loader answered: no battery, identity or save stages; the bar goes 2, 6, 8.
  const std::vector<int> start(second.front.progress.begin(), second.front.progress.begin() + 4);
  EXPECT_EQ(start, (std::vector<int>{0, 2, 6, 8}));
  EXPECT_FALSE(Contains(second.front.statuses, "Checking battery power..."));
  EXPECT_FALSE(Contains(second.front.statuses, "Saving settings for this Du70..."));
  EXPECT_EQ(sim.WithDevice([](sim::SimDevice& d) { return d.Identity(); }), "DU70 2.30");
  ExpectSameSettings(sim, before);
  EXPECT_FALSE(std::filesystem::exists(second.front.Options().settingsFileName));
}

TEST(Du70UpdateTest, PowerCutAfterTheSettingsEraseThenASecondRunRestoresFromTheFile) {
  // The cut falls after the information memory is erased but before the flash
  // is: the old firmware comes back with no settings. The second run finds an
  // uninitialised instrument, and only the first run's file still knows its
  // settings.
  SimHarness sim({"--kind", "du70", "--version", "2.20", "--power-cut", "X:3"});
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  TempFolder folder;
  const sim::SettingsStore before = sim.WithDevice([](sim::SimDevice& d) { return d.Settings(); });
  {
    AppRun first(sim.Port(), folder.Path());
    EXPECT_LT(first.session->StartUpdate().result, 0);
    EXPECT_TRUE(std::filesystem::exists(first.front.Options().settingsFileName));
  }
  EXPECT_EQ(sim.WithDevice([](sim::SimDevice& d) { return d.Identity(); }), "DU70 2.20");

  AppRun second(sim.Port(), folder.Path());
  const UpdateOutcome outcome = second.session->StartUpdate();
  ASSERT_EQ(outcome.result, 1) << ::testing::PrintToString(second.front.Captions());
  EXPECT_TRUE(Contains(second.front.statuses, "Saving settings for this Du70..."));
  EXPECT_EQ(sim.WithDevice([](sim::SimDevice& d) { return d.Identity(); }), "DU70 2.30");
  ExpectSameSettings(sim, before);
  EXPECT_FALSE(std::filesystem::exists(second.front.Options().settingsFileName));
}

TEST(Du70UpdateTest, UninitialisedInstrumentWithoutAnEarlierFileStops) {
  SimHarness sim({"--kind", "du70", "--version", "2.20", "--factory"});
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  TempFolder folder;
  AppRun run(sim.Port(), folder.Path());
  EXPECT_EQ(run.session->StartUpdate().result, -36);
  EXPECT_EQ(run.front.Captions(), std::vector<std::string>{"Settings Error"});
  EXPECT_EQ(sim.WithDevice([](sim::SimDevice& d) { return d.Identity(); }), "DU70 2.20");
}

TEST(Du70UpdateTest, ReconnectFailingThreeTimesIsAConnectionError) {
  // The new firmware takes far longer to start than the updater waits.
  SimHarness sim({"--kind", "du70", "--version", "2.20", "--restart-ms", "600000"});
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  TempFolder folder;
  AppRun run(sim.Port(), folder.Path());
  const UpdateOutcome outcome = run.session->StartUpdate();
  EXPECT_LT(outcome.result, 0);
  ASSERT_EQ(run.front.Captions(), std::vector<std::string>{"Connection Error"});
  EXPECT_EQ(run.front.notices[0].text,
            "The Du70 Firmware Updater encountered an error working with your Du70.\n\nPlease "
            "try again.\n\n[Error " +
                std::to_string(outcome.result) + "]");
  EXPECT_EQ(run.front.progress.back(), 0);
  EXPECT_TRUE(std::filesystem::exists(run.front.Options().settingsFileName));
}

struct SensorScenario {
  const char* name;
  std::vector<std::string> simArgs{};
  Result expected = 1;
  std::vector<std::string> captions{};
  bool settingsSaved = true; ///< the "Saving settings" stage ran
};

class SensorUpdateTest : public ::testing::TestWithParam<SensorScenario> {};

TEST_P(SensorUpdateTest, Runs) {
  const SensorScenario& sc = GetParam();
  SimHarness sim(sc.simArgs);
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  TempFolder folder;
  AppRun run(sim.Port(), folder.Path(), SensorTarget());
  SelectSensorType(*run.session, 'z');
  const sim::SensorSettings before =
      sim.WithReader([](sim::Reader& r) { return r.Sensor().Settings(); });

  const UpdateOutcome outcome = run.session->StartUpdate();

  EXPECT_EQ(outcome.result, sc.expected);
  EXPECT_EQ(run.front.Captions(), sc.captions);
  EXPECT_TRUE(run.front.questions.empty());
  EXPECT_EQ(Contains(run.front.statuses, "Saving settings for this digital sensor..."),
            sc.settingsSaved);
  if (sc.expected > 0) {
    EXPECT_EQ(sim.WithReader([](sim::Reader& r) { return r.Sensor().Identity(); }), "K4E 3.70");
    EXPECT_EQ(run.front.Progress(), 100);
    if (sc.settingsSaved) {
      const sim::SensorSettings after =
          sim.WithReader([](sim::Reader& r) { return r.Sensor().Settings(); });
      EXPECT_EQ(after.address, before.address);
      EXPECT_EQ(after.serial, before.serial);
      EXPECT_EQ(after.mainCal, before.mainCal);
      EXPECT_EQ(after.secondCal, before.secondCal);
      EXPECT_EQ(after.type, 'z');
    }
  }
  EXPECT_EQ(sim.WithReader([](sim::Reader& r) { return r.Mode(); }), sim::ReaderMode::kCommand);
}

const SensorScenario kSensorScenarios[] = {
    {.name = "K4EBehindVantorix", .simArgs = {"--kind", "vantorix-reader"}},
    {.name = "VantorixTooOld",
     .simArgs = {"--kind", "vantorix-reader", "--version", "1.22"},
     .expected = -120,
     .captions = {"Wrong Device Version"},
     .settingsSaved = false},
    {.name = "VantorixBatteryLow",
     .simArgs = {"--kind", "vantorix-reader", "--battery", "9"},
     .expected = -130,
     .captions = {"Batteries Too Low"},
     .settingsSaved = false},
    {.name = "SensorAlreadyInItsLoader",
     .simArgs = {"--kind", "vantorix-reader", "--sensor-in-loader", "active"},
     .expected = 1,
     .captions = {"Settings Error"},
     .settingsSaved = false},
};

INSTANTIATE_TEST_SUITE_P(Scenarios, SensorUpdateTest, ::testing::ValuesIn(kSensorScenarios),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace zuro
