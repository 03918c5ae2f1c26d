#include "app/linux/qt_framework.h"

#include <QApplication>

namespace sellmeter {
namespace {

// The program reads no command line; Qt gets the program's name alone.
int qtArgc = 1;
char qtProgramName[] = "sellmeter";
char* qtArgv[] = {qtProgramName, nullptr};

}  // namespace

QtFramework::QtFramework() = default;

QtFramework::~QtFramework() { TearDown(); }

void QtFramework::TearDown() {
  window_.reset();
  useTimers_.reset();
  usePump_.reset();
  application_.reset();
}

void QtFramework::Initialise() {
  if (QApplication::instance() == nullptr) {
    application_ = std::make_unique<QApplication>(qtArgc, qtArgv);
  }
  QApplication::setQuitOnLastWindowClosed(true);
  usePump_.emplace(pump_);
  useTimers_.emplace(timers_);
}

void QtFramework::RegisterExitHandler(std::function<void()> handler) {
  exitHandlers_.push_back(std::move(handler));
}

void QtFramework::CreateMainWindow(MainWindowEvents events) {
  window_ = std::make_unique<QtMainWindow>(std::move(events));
  window_->show();
  if (started_) started_(*window_);
}

int QtFramework::RunMessageLoop() {
  const int code = window_ && window_->isVisible() ? QApplication::exec() : 0;
  // Each handler once, the last registered first; the list is emptied before they run.
  std::vector<std::function<void()>> handlers;
  handlers.swap(exitHandlers_);
  for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) (*it)();
  // The process is about to end: the window and the application go while Qt is still whole,
  // not among the static destructors.
  TearDown();
  return code;
}

AppFramework& PlatformAppFramework() {
  static QtFramework framework;
  return framework;
}

}  // namespace sellmeter
