#pragma once
// The server job lives in a module the executable opens only when a batch run
// sends to the server: package jobs, the tools, --help and --version never
// load libcurl and the score of libraries that come with it (some 5 MB of
// memory and their start-up work in every run).
#include <string_view>

#include "package/job_context.h"

namespace orx {

// What the executable hands the module's entry point. Both sides are built
// from the same sources at the same time, so the types may cross.
struct ServerJobStart {
  JobContext* context;
  std::string_view xmlPath;
  std::string_view xsdPath;
  std::string_view keyFilePath;
};

// The module's entry point: the job's JobOutcome as an int.
using ServerJobEntry = int (*)(const ServerJobStart* start);
inline constexpr char kServerJobEntryName[] = "orx_server_job";

// Opens the module and runs the server job in it. Without the module the job
// fails as a job does: its message on the log after "ошибка: ", and its
// event record.
[[nodiscard]] JobOutcome RunServerJobModule(JobContext& context, std::string_view xmlPath,
                              std::string_view xsdPath, std::string_view keyFilePath);

}  // namespace orx
