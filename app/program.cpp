#include "app/program.h"

#include "query/run_query.h"
#include "skin/skin_startup.h"

namespace sellmeter {

MainWindowEvents ProgramWindowEvents() {
  MainWindowEvents events;
  // The skin set-up belongs here; the engine only runs on Windows, so on this platform the
  // window stays unskinned and the event has nothing to do.
  events.created = [] {};
  events.queryClicked = [](QueryWindow& window) { RunQuery(window); };
  return events;
}

int RunProgram(AppFramework& framework) {
  framework.Initialise();
  SkinStartup([&framework](std::function<void()> handler) {
    framework.RegisterExitHandler(std::move(handler));
  });
  framework.CreateMainWindow(ProgramWindowEvents());
  return framework.RunMessageLoop();
}

}  // namespace sellmeter
