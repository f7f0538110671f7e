#pragma once
// Start-up pieces that need no window: library initialisation and batch mode.
#include <cstdio>
#include <string>
#include <string_view>

#include "app/command_line.h"
#include "package/job_context.h"

namespace orx {

// Exit statuses of a batch run.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitJobFailed = 1;
inline constexpr int kExitMissingField = 2;

// Before anything is opened: a standard stream that is closed at start gets
// /dev/null opened for reading in its place, so that no file the program
// opens takes its number (a package path printed into a package file), and
// writing to it still fails as writing to a closed stream does.
void OccupyClosedStandardStreams();

// Flushes out and tells whether everything written to it got there; when
// not, writes "<prefix>не удалось записать в стандартный вывод: <reason>" as
// one line to err and returns false.
bool OutputDelivered(std::FILE* out, std::FILE* err, std::string_view prefix);

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

// Without a display the window cannot open: one line on standard error that
// tells why (MissingDisplay()) and names HIDE and --help; returns
// kExitMissingField.
int ReportNoDisplay(const std::string& why);

}  // namespace orx
