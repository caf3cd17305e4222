// Takes the window's pictures for a look by eye: idle, in the middle of an
// update of the simulated Du70, a notice and the About box. Run under a
// display (xvfb-run) with QT_SCALE_FACTOR set to check each scale:
//   gui_shots OUT_FOLDER [SUFFIX]
// Not a test: it asserts nothing and is not registered with CTest.
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/SimHarness.h"
#include "gui/TfrmMain.h"
#include "support/FakeSerial.h"

namespace {

void Save(QWidget* widget, const QString& path) {
  if (!widget->grab().save(path)) {
    std::fprintf(stderr, "gui_shots: could not write %s\n", qPrintable(path));
  } else {
    std::printf("%s\n", qPrintable(path));
  }
}

/// Runs events until `done` holds or `maxMs` passed.
bool RunUntil(const std::function<bool()>& done, int maxMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < maxMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return done();
}

/// Photographs the next message box once it has painted, then presses OK.
class BoxCamera : public QObject {
public:
  QString nextPath;
  int taken = 0;
  BoxCamera() {
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start(20);
  }

private:
  void Poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box == nullptr || !box->isVisible()) {
        continue;
      }
      if (!box->property("seen").toBool()) {
        box->setProperty("seen", true); // one more round, so it has painted
        continue;
      }
      if (!nextPath.isEmpty()) {
        Save(box, nextPath);
        nextPath.clear();
        ++taken;
      }
      box->button(QMessageBox::Ok)->click();
    }
  }
  QTimer timer_;
};

} // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: gui_shots OUT_FOLDER [SUFFIX]\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
  std::filesystem::create_directories(out.toStdString());
  const auto path = [&](const char* name) { return out + "/" + name + suffix + ".png"; };

  zuro::test::SimHarness sim({"--kind", "du70", "--version", "2.20", "--realtime-flash"});
  if (!sim.Ok()) {
    std::fprintf(stderr, "gui_shots: no simulator: %s\n", sim.Error().c_str());
    return 1;
  }
  zuro::test::FakePortSource ports(
      {{"/dev/ttyUSB0", "FT232R USB UART", ""}, {"/dev/ttyS0", "", ""}});
  BoxCamera camera;

  // Started without a mode, the data-erase warning is the first notice.
  zuro::TfrmMainOptions options;
  options.arguments = {"--port", QString::fromStdString(sim.Port())};
  options.portSource = &ports;
  zuro::TfrmMain window(options);
  camera.nextPath = path("notice");
  window.show();
  RunUntil([&] { return camera.taken == 1; }, 5000);
  RunUntil([] { return false; }, 300);
  Save(&window, path("idle"));

  camera.nextPath = path("about");
  window.About1->trigger();

  // The update runs inside the Start timer, so the picture half-way is taken
  // from a timer that fires in the update's own event pumping.
  bool midTaken = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!midTaken && window.Options().updateRunning && window.statusBar->value() >= 40) {
      midTaken = true;
      Save(&window, path("updating"));
    }
  });
  watch.start(5);
  window.btnStart->click();
  RunUntil([&] { return window.lastOutcome().result != 0; }, 300000);
  watch.stop();
  RunUntil([] { return false; }, 200);
  Save(&window, path("done"));
  window.btnClose->click();

  // The sensor target's longer names, in factory mode (no erase warning).
  zuro::TfrmMainOptions sensorOptions;
  sensorOptions.target = zuro::SensorTarget();
  sensorOptions.arguments = {"-factory"};
  sensorOptions.portSource = &ports;
  zuro::TfrmMain sensorWindow(sensorOptions);
  sensorWindow.show();
  RunUntil([] { return false; }, 300);
  Save(&sensorWindow, path("sensor"));
  sensorWindow.btnClose->click();
  return 0;
}
