// The one symbol the server job module shows the executable.
#include <string_view>

#include "app/server_module.h"
#include "exchange/https_connection.h"
#include "exchange/sync_job.h"

static_assert(std::string_view(orx::kServerJobEntryName) == "orx_server_job");

extern "C" __attribute__((visibility("default"))) int orx_server_job(
    const orx::ServerJobStart* start) {
  // Before the job's first transfer, on whichever thread runs the job: the
  // window may run it beside threads of its own. That is sound because the
  // set-up happens once, under a function-local static, and libcurl's
  // curl_global_init is itself thread-safe (Debian 12's 7.88 reports
  // CURL_VERSION_THREADSAFE).
  orx::InitHttpsLibraries();
  return static_cast<int>(orx::XmlToServer(*start->context, start->xmlPath, start->xsdPath,
                                           start->keyFilePath));
}
