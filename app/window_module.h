#pragma once
// The window lives in a module the executable opens only when it is about to
// show a window, so batch runs, --help and --version never load the GUI
// toolkit (nor need it installed).
#include <string>

#include "app/command_line.h"
#include "package/job_context.h"

namespace orx {

// What the executable hands the module's entry point. Both sides are built
// from the same sources at the same time, so the types may cross.
struct WindowStart {
  int* argc;
  char** argv;
  const CommandLineFields* fields;
  KeyParameters* params;
  EventSink* events;
  const Clock* clock;
};

// The module's entry point: the window's exit status.
using WindowEntry = int (*)(const WindowStart* start);
inline constexpr char kWindowEntryName[] = "orx_window_main";

// Opens the module and runs the window. Without the module, writes one line
// to standard error naming it, the package that ships it and HIDE, and
// returns kExitMissingField.
[[nodiscard]] int RunWindowModule(const WindowStart& start);

}  // namespace orx
