// What the window tests share: one QApplication on the offscreen platform, a
// private settings location and data folder per test, a table-driven device
// list, and an answerer that reads and clicks every message box the window
// opens (the boxes are modal, so the test answers them from a timer).
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "gui/TfrmMain.h"
#include "support/FakeSerial.h"

namespace zuro::test {

/// One message box as the user saw it.
struct SeenBox {
  std::string caption;
  std::string text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool hadCancel = false;
};

/// Answers message boxes as they open: with the queued answers first, then
/// with OK. Every box is recorded.
class BoxAnswerer : public QObject {
public:
  BoxAnswerer();
  std::vector<SeenBox> seen;
  std::deque<QMessageBox::StandardButton> answers;
  /// Called for each box before it is answered (the test may look at the window).
  std::function<void(const SeenBox&)> onBox;

private:
  void Poll();
  QTimer timer_;
};

class GuiTest : public ::testing::Test {
protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  /// A window on the Du70 target with `args`, shown (its start-up has run).
  std::unique_ptr<TfrmMain> Open(const QStringList& args = {}, UpdateTarget target = Du70Target());
  /// Runs the event loop until `done` holds or `maxMs` passed.
  static bool RunUntil(const std::function<bool()>& done, int maxMs = 20000);
  /// The remembered options as the settings file holds them.
  std::string SettingsFileText() const;

  std::string tempDir_;
  FakePortSource ports_;
  BoxAnswerer boxes_;
};

} // namespace zuro::test
