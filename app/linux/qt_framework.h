#pragma once
// The application framework on Qt Widgets: one QApplication, the main window, the exit
// handlers, and the Qt message pump and timer wait put in force for the delay and for the
// request engine's dispatch points.
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/linux/qt_main_window.h"
#include "app/linux/qt_timer_api.h"
#include "app/program.h"

class QApplication;

namespace sellmeter {

class QtFramework final : public AppFramework {
 public:
  QtFramework();
  ~QtFramework() override;

  void Initialise() override;
  void RegisterExitHandler(std::function<void()> handler) override;
  void CreateMainWindow(MainWindowEvents events) override;
  int RunMessageLoop() override;

  QtMainWindow* MainWindow() const { return window_.get(); }
  // Called once the main window has been shown, before the loop starts (companions that
  // drive the window use it).
  void SetStartedHook(std::function<void(QtMainWindow&)> hook) { started_ = std::move(hook); }

 private:
  void TearDown();

  std::unique_ptr<QApplication> application_;
  std::unique_ptr<QtMainWindow> window_;
  std::vector<std::function<void()>> exitHandlers_;
  std::function<void(QtMainWindow&)> started_;
  QtMessagePump pump_;
  QtTimerApi timers_;
  std::optional<ScopedMessagePump> usePump_;
  std::optional<ScopedTimerApi> useTimers_;
};

}  // namespace sellmeter
