// Whole updates driven from the window, as a user drives them: the Du70 of
// the simulator on a pseudo-terminal given with --port, Start clicked, every
// box answered by the test. The window's widgets are read while the update
// runs, from inside the notices and from the pumped events.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/SimHarness.h"
#include "support/PtyPair.h"
#include "tests/gui/GuiFixture.h"

namespace zuro::test {
namespace {

/// The sequences' own waits, shortened for a simulator that restarts at once.
constexpr double kTestWaitScale = 0.2;

class UpdateWindowTest : public GuiTest {
protected:
  std::unique_ptr<TfrmMain> OpenOn(const std::string& port, const QStringList& extra = {}) {
    TfrmMainOptions options;
    options.arguments = QStringList{"--port", QString::fromStdString(port)} + extra;
    options.portSource = &ports_;
    options.waitScale = kTestWaitScale;
    auto window = std::make_unique<TfrmMain>(options);
    window->show();
    return window;
  }

  /// Clicks Start and runs events until the update has run to its end.
  void RunUpdate(TfrmMain& w) {
    ASSERT_TRUE(w.btnStart->isEnabled());
    w.btnStart->click();
    EXPECT_FALSE(w.btnStart->isEnabled());
    EXPECT_FALSE(w.btnClose->isEnabled());
    EXPECT_FALSE(w.UpdateFirmware1->isEnabled());
    // The update runs inside the Start timer's handler, so it is over when
    // the handler returns and the outcome is there.
    ASSERT_TRUE(RunUntil([&] { return w.lastOutcome().result != 0; }, 120000));
    EXPECT_FALSE(w.Options().updateRunning);
  }

  static void ExpectIdleControls(TfrmMain& w) {
    EXPECT_TRUE(w.About1->isEnabled());
    EXPECT_TRUE(w.Help2->isEnabled());
    EXPECT_EQ(w.OpenFirmwareFile1->isEnabled(), w.Options().repMode);
    EXPECT_TRUE(w.btnStart->isEnabled());
    EXPECT_TRUE(w.btnClose->isEnabled());
    EXPECT_TRUE(w.btnClose->isDefault());
    EXPECT_FALSE(w.btnStart->isDefault());
    EXPECT_TRUE(w.UpdateFirmware1->isEnabled());
    EXPECT_TRUE(w.cbCommPort->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }
};

TEST_F(UpdateWindowTest, StartUpdatesTheSimulatedDu70AndTheGuardHoldsMeanwhile) {
  SimHarness sim({"--kind", "du70", "--version", "2.20"});
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  auto w = OpenOn(sim.Port(), {"-rep"}); // no erase warning at start
  ASSERT_EQ(w->Options().commPortName, sim.Port());

  // Watch the status line and bar as the update moves them, and try to quit
  // half-way with the close box and with "&Exit".
  std::vector<std::string> statuses;
  std::vector<int> bars;
  bool busyWhileRunning = true;
  bool triedToQuit = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!w->Options().updateRunning) {
      return;
    }
    const std::string status = w->statusText->text().toStdString();
    if (w->statusText->isVisible() && (statuses.empty() || statuses.back() != status)) {
      statuses.push_back(status);
    }
    if (bars.empty() || bars.back() != w->statusBar->value()) {
      bars.push_back(w->statusBar->value());
    }
    busyWhileRunning = busyWhileRunning && !w->cbCommPort->isEnabled() &&
                       !w->btnStart->isEnabled() && !w->btnClose->isEnabled() &&
                       !w->UpdateFirmware1->isEnabled() && !w->OpenFirmwareFile1->isEnabled() &&
                       !w->About1->isEnabled() && !w->Help2->isEnabled() &&
                       QApplication::overrideCursor() != nullptr;
    if (!triedToQuit && w->statusBar->value() >= 30) {
      triedToQuit = true;
      w->close();          // the close box and Alt+F4
      w->Exit1->trigger(); // the menu
    }
  });
  watch.start(1);

  RunUpdate(*w);
  watch.stop();

  EXPECT_EQ(w->lastOutcome().result, 1);
  EXPECT_TRUE(triedToQuit);
  ASSERT_EQ(boxes_.seen.size(), 2u);
  for (const SeenBox& box : boxes_.seen) {
    EXPECT_EQ(box.caption, "Don't Quit Now!");
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_NE(box.text.find("The Du70 Firmware Updater is updating your Du70!"), std::string::npos);
  }
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(w->Options().keepGoing);
  EXPECT_TRUE(busyWhileRunning);

  const std::set<std::string> seen(statuses.begin(), statuses.end());
  for (const char* stage :
       {"Connecting to Du70...", "Checking battery power...", "Saving settings for this Du70...",
        "Starting the firmware loader...", "Erasing firmware memory...",
        "Uploading new firmware code...", "Restarting the Du70, please wait...",
        "Checking new firmware...", "Restoring settings..."}) {
    EXPECT_EQ(seen.count(stage), 1u) << stage;
  }
  EXPECT_TRUE(std::is_sorted(bars.begin(), bars.end()));
  EXPECT_EQ(w->statusBar->value(), 100);
  EXPECT_EQ(w->statusText->text().toStdString(),
            "Successfully updated firmware in " + std::to_string(w->lastOutcome().elapsedSeconds) +
                " seconds.");
  EXPECT_TRUE(w->statusText->isVisible());
  EXPECT_EQ(w->lblConnect->text().toStdString(), "You may disconnect your Du70 now.");
  EXPECT_EQ(sim.WithDevice([](sim::SimDevice& d) { return d.Identity(); }), "DU70 2.30");
  ExpectIdleControls(*w);

  // Idle again: the close box closes at once.
  EXPECT_TRUE(w->close());
  EXPECT_EQ(boxes_.seen.size(), 2u);
}

TEST_F(UpdateWindowTest, ConnectionFailureIsToldAndTheWindowIsReadyAgain) {
  PtyPair silent; // a port with nobody behind it
  ASSERT_TRUE(silent.Ok()) << silent.Error();
  auto w = OpenOn(silent.SlavePath(), {"-rep"});
  w->PromptforSerialNumber1->trigger();
  EXPECT_TRUE(w->newSNstr->isVisible());
  RunUpdate(*w);
  EXPECT_EQ(w->lastOutcome().result, -20);
  ASSERT_EQ(boxes_.seen.size(), 1u);
  EXPECT_EQ(boxes_.seen[0].caption, "Connection Error");
  EXPECT_EQ(boxes_.seen[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes_.seen[0].text,
            "The Du70 Firmware Updater is unable to connect to your Du70\n on Comm Port \"" +
                silent.SlavePath() + "\".\n\nPlease check your serial cable and Comm Port choice.");
  EXPECT_FALSE(w->statusText->isVisible());
  EXPECT_EQ(w->statusBar->value(), 0);
  EXPECT_EQ(w->lblConnect->text().toStdString(), "Connect Du70 to computer comm port.");
  // The replace-serial-number option is turned off after every run.
  EXPECT_FALSE(w->PromptforSerialNumber1->isChecked());
  EXPECT_FALSE(w->newSNstr->isVisible());
  EXPECT_FALSE(w->Options().replaceSerialNumber);
  ExpectIdleControls(*w);
  const std::string log = [&] {
    std::ifstream in(w->Options().errorFileName);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }();
  EXPECT_NE(log.find("ErrorOK Told User:: The Du70 Firmware Updater is unable to connect"),
            std::string::npos);
}

TEST_F(UpdateWindowTest, DataEraseWarningComesFirstWithoutAMode) {
  auto w = Open();
  ASSERT_TRUE(RunUntil([&] { return !boxes_.seen.empty(); }, 5000));
  EXPECT_EQ(boxes_.seen[0].caption, "Data Erase Warning");
  EXPECT_EQ(boxes_.seen[0].icon, QMessageBox::Warning);
  EXPECT_NE(boxes_.seen[0].text.find("WARNING: The Du70 Firmware Updater will erase all "
                                     "measurement data\n stored in your Du70."),
            std::string::npos);
  EXPECT_FALSE(w->timerEraseWarn.isActive());
}

} // namespace
} // namespace zuro::test
