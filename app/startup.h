#pragma once
// Start-up pieces that need no window: library initialisation and batch mode.
#include <string>

#include "app/command_line.h"
#include "package/job_context.h"

namespace orx {

// Exit statuses of a batch run.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitJobFailed = 1;
inline constexpr int kExitMissingField = 2;

// Once per process, in the main thread, before any job: libxml2 (safe entity
// loader), and SIGXFSZ ignored. The server job sets up libcurl and OpenSSL's
// providers itself, in the module that holds it.
void InitLibraries();

// The missing-field checks of a batch run. When one fails, writes its record,
// prints the same text on standard error and returns false.
[[nodiscard]] bool CheckBatchFields(const CommandLineFields& fields, const std::string& parameterText,
                      EventSink& events);

// Runs the one job a batch command line names and returns the exit status.
// A package file written goes to standard output as its absolute path.
[[nodiscard]] int RunBatch(const CommandLineFields& fields, const std::string& parameterText,
             JobContext& context);

std::string UsageText();

// Whether the window can be shown: a display, or a toolkit platform that
// needs none (QT_QPA_PLATFORM=offscreen and the like).
bool WindowDisplayAvailable();

// Without a display the window cannot open: one line on standard error that
// names HIDE and --help; returns kExitMissingField.
int ReportNoDisplay();

}  // namespace orx
