// The one symbol the server job module shows the executable.
#include <string_view>

#include "app/server_module.h"
#include "exchange/https_connection.h"
#include "exchange/sync_job.h"

static_assert(std::string_view(orx::kServerJobEntryName) == "orx_server_job");

extern "C" __attribute__((visibility("default"))) int orx_server_job(
    const orx::ServerJobStart* start) {
  // The executable has no other thread while a batch job runs.
  orx::InitHttpsLibraries();
  return static_cast<int>(orx::XmlToServer(*start->context, start->xmlPath, start->xsdPath,
                                           start->keyFilePath));
}
