// One QApplication for the process, on the offscreen platform unless another is asked for,
// with the Qt pump and wait in force as the program has them.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/linux/qt_timer_api.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication application(argc, argv);
  sellmeter::QtMessagePump pump;
  sellmeter::QtTimerApi timers;
  sellmeter::ScopedMessagePump usePump(pump);
  sellmeter::ScopedTimerApi useTimers(timers);
  return RUN_ALL_TESTS();
}
