#pragma once
// Interactive mode: the main window and its message loop.
#include "app/command_line.h"
#include "package/job_context.h"

namespace orx {

// Creates the application and the window, fills the fields from the command
// line, runs the message loop and returns the exit status (0).
int RunWindow(int& argc, char** argv, const CommandLineFields& fields, KeyParameters& params,
              EventSink& events, const Clock& clock);

}  // namespace orx
