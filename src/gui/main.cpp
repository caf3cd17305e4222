// Entry of the desktop updater. The build chooses the program's target: the
// Du70 instrument, or the digital sensor behind the hand-held reader.
#include <QApplication>
#include <QMessageBox>
#include <exception>

#include "gui/TfrmMain.h"
#include "gui/TfrmWeb.h"
#include "web/WebHost.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("ZuroBSL");
  QApplication::setOrganizationName(zuro::kSettingsOrganisation);

  zuro::TfrmMainOptions options;
#ifdef ZURO_GUI_SENSOR_TARGET
  options.target = zuro::SensorTarget();
#else
  options.target = zuro::Du70Target();
#endif
  options.arguments = QApplication::arguments().mid(1);

  try {
    zuro::TfrmMain window(options);
    // The feedback form lives for the whole run, hidden until Help shows it.
    zuro::TfrmWeb web(&window, zuro::ResolveWebHost(options.arguments, nullptr));
    zuro::ConnectWebCommands(window, web);
    window.show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "ZuroBSL", QString::fromLocal8Bit(e.what()));
  } catch (...) {
    QMessageBox::critical(nullptr, "ZuroBSL", "An unexpected error stopped the updater.");
  }
  return 1;
}
