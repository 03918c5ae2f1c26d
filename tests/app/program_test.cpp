// The program's start-up and shutdown with the Qt framework: the window comes up with the
// skin module in place, closing it ends the loop, and the exit handler runs exactly once.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <string>
#include <vector>

#include "app/linux/qt_framework.h"
#include "app/program.h"
#include "skin/skin_startup.h"

namespace sellmeter {
namespace {

// The real framework, with every step it is asked for written down.
class LoggingFramework final : public AppFramework {
 public:
  explicit LoggingFramework(QtFramework& real) : real_(real) {}
  std::vector<std::string> log;
  int exitHandlersRun = 0;

  void Initialise() override {
    log.push_back("initialise");
    real_.Initialise();
  }
  void RegisterExitHandler(std::function<void()> handler) override {
    log.push_back("register exit handler");
    real_.RegisterExitHandler([this, handler] {
      log.push_back("exit handler");
      ++exitHandlersRun;
      handler();
    });
  }
  void CreateMainWindow(MainWindowEvents events) override {
    log.push_back(std::string("create window, skin module ") +
                  (SkinModule() ? "present" : "absent"));
    auto created = events.created;
    events.created = [this, created] {
      log.push_back("window created");
      if (created) created();
    };
    real_.CreateMainWindow(std::move(events));
  }
  int RunMessageLoop() override {
    log.push_back("loop");
    const int code = real_.RunMessageLoop();
    log.push_back("loop ended");
    return code;
  }

 private:
  QtFramework& real_;
};

TEST(Program, StartsInOrderAndEndsWhenTheWindowCloses) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QtFramework framework;
  LoggingFramework logging(framework);
  bool shownWithSkinModule = false;
  framework.SetStartedHook([&](QtMainWindow& window) {
    shownWithSkinModule = window.isVisible() && SkinModule() != nullptr;
    // The user closes the window once the loop runs.
    QTimer::singleShot(50, &window, [&window] { window.close(); });
  });
  EXPECT_EQ(SkinModule(), nullptr);
  EXPECT_EQ(RunProgram(logging), 0);
  EXPECT_TRUE(shownWithSkinModule);
  const std::vector<std::string> expected = {"initialise", "register exit handler",
                                             "create window, skin module present",
                                             "window created", "loop", "exit handler",
                                             "loop ended"};
  EXPECT_EQ(logging.log, expected);
  EXPECT_EQ(logging.exitHandlersRun, 1);
  EXPECT_EQ(SkinModule(), nullptr);
  // The framework has let go of the window and of Qt before the process ends.
  EXPECT_EQ(framework.MainWindow(), nullptr);
  EXPECT_EQ(QApplication::instance(), nullptr);
}

}  // namespace
}  // namespace sellmeter
