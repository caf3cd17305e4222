// The web tests need an application object for Qt Network's event loop; the
// form tests need a widget application on the offscreen platform.
#ifdef ZURO_WEB_WIDGETS
#include <QApplication>
#else
#include <QCoreApplication>
#endif

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The PHP server is on loopback; a proxy from the environment must not
  // stand between it and the client.
  qputenv("no_proxy", "127.0.0.1,localhost");
  qputenv("NO_PROXY", "127.0.0.1,localhost");
#ifdef ZURO_WEB_WIDGETS
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
#else
  QCoreApplication app(argc, argv);
#endif
  return RUN_ALL_TESTS();
}
