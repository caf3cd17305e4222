#include "tests/gui/GuiFixture.h"

#include <QAbstractButton>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

// Fontconfig keeps a cache for the life of the process, which the leak check
// reports at exit; it is the font library's, not ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

namespace zuro::test {

namespace {
constexpr int kPollMs = 5;

/// The offscreen platform says, for every fixed-size window, what it cannot
/// do; everything else Qt says still reaches the test's output.
void QuietPlatformMessages(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
  if (msg.startsWith("This plugin does not support")) {
    return;
  }
  fprintf(stderr, "%s\n", qFormatLogMessage(type, context, msg).toLocal8Bit().constData());
}
int gArgc = 1;
char gArgv0[] = "gui_tests";
char* gArgv[] = {gArgv0, nullptr};
} // namespace

BoxAnswerer::BoxAnswerer() {
  timer_.setInterval(kPollMs);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
  timer_.start();
}

void BoxAnswerer::Poll() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box == nullptr || !box->isVisible() || box->property("answered").toBool()) {
      continue;
    }
    box->setProperty("answered", true);
    SeenBox s;
    s.caption = box->windowTitle().toStdString();
    s.text = box->text().toStdString();
    s.icon = box->icon();
    s.hadCancel = box->button(QMessageBox::Cancel) != nullptr;
    seen.push_back(s);
    if (onBox) {
      onBox(s);
    }
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    QAbstractButton* button = box->button(answer);
    if (button == nullptr) {
      button = box->button(QMessageBox::Ok);
    }
    button->click();
  }
}

void GuiTest::SetUpTestSuite() {
  if (QApplication::instance() == nullptr) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietPlatformMessages);
    new QApplication(gArgc, gArgv); // lives until the process ends, as the program's does
  }
}

void GuiTest::SetUp() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zurogui-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  tempDir_ = pattern;
  // Data folder and remembered options both inside the test's own folder.
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(tempDir_ + "/data"));
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromStdString(tempDir_ + "/config"));
  ports_.devices = {{"/dev/ttyUSB0", "FT232R USB UART", ""},
                    {"/dev/ttyUSB1", "CP2102 USB to UART", ""},
                    {"/dev/ttyACM0", "", ""}};
}

void GuiTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(tempDir_, ignored);
}

std::unique_ptr<TfrmMain> GuiTest::Open(const QStringList& args, UpdateTarget target) {
  TfrmMainOptions options;
  options.target = target;
  options.arguments = args;
  options.portSource = &ports_;
  auto window = std::make_unique<TfrmMain>(options);
  window->show();
  return window;
}

bool GuiTest::RunUntil(const std::function<bool()>& done, int maxMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > maxMs) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

std::string GuiTest::SettingsFileText() const {
  QFile file(QString::fromStdString(tempDir_ + "/config/Brenvik Devices, Inc/ZuroBSL.conf"));
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  return file.readAll().toStdString();
}

} // namespace zuro::test
