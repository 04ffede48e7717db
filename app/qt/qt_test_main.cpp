// GoogleTest entry for the tests that need a QApplication. Without a display they draw
// offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Settings the window remembers go to a folder of this run, never to the user's own.
  QTemporaryDir config(QDir::tempPath() + "/goramina-test-config-XXXXXX");
  setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
