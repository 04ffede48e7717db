// Entry point of the widget tests: widgets need a QApplication for their whole life.
#include <gtest/gtest.h>

#include <QApplication>
#include <QtGlobal>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The tests draw into images and drive events themselves; they never need a screen.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
