#pragma once
// Commands for operators and support staff beside the jobs, chosen by a first
// argument that begins with "--" (--help and --version are answered before):
//   --check XML, KEYFILE, XSD
//   --inspect PACKAGE, KEYFILE[, XSD] [--extract FOLDER]
// The fields are comma-separated and trimmed as in the jobs' command line.
#include <cstdio>

#include "support/clock.h"

namespace orx {

bool IsToolArgument(const char* argument);

// Runs the tool argv[1] names, writing its findings to out and its usage or
// "ошибка: " lines to err. Records nothing in the event log and leaves no
// file behind (but the one --extract asks for). Returns the exit status: 0
// when everything holds, 1 when a problem was found or a step failed, 2 for
// a usage error.
[[nodiscard]] int RunOperatorTool(int argc, const char* const* argv, const Clock& clock, std::FILE* out,
                    std::FILE* err);

}  // namespace orx
