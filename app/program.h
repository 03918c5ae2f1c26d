#pragma once
// The program's entry and exit over the application framework: initialise the framework, run
// the skin start-up, create and show the main window, run the message loop; when the loop has
// ended the framework runs the exit handlers.
#include <functional>

#include "query/query_window.h"

namespace sellmeter {

// The two events of the main window the program handles.
struct MainWindowEvents {
  std::function<void()> created;
  std::function<void(QueryWindow&)> queryClicked;
};

// The application framework's operations, in the order start-up uses them.
class AppFramework {
 public:
  virtual ~AppFramework() = default;
  // Windows, controls, event dispatch.
  virtual void Initialise() = 0;
  // Each handler registered runs exactly once, after the message loop has ended, the last
  // registered first.
  virtual void RegisterExitHandler(std::function<void()> handler) = 0;
  // Creates the main window from its stored layout and shows it; events.created runs once the
  // window exists.
  virtual void CreateMainWindow(MainWindowEvents events) = 0;
  // Runs until the main window has been closed, then runs the exit handlers.
  virtual int RunMessageLoop() = 0;
};

// The platform's framework, defined by the platform layer.
AppFramework& PlatformAppFramework();

// The events the main window is created with: the click runs the query command.
MainWindowEvents ProgramWindowEvents();

// The start-up steps and the loop; returns the loop's exit code.
int RunProgram(AppFramework& framework);

}  // namespace sellmeter
