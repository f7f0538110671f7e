#pragma once
// A dry run of the jobs' preparation for an operator: every schema problem of
// a certificate XML at once, each naming the line of the operator's file.
#include <cstdint>
#include <string>

#include "package/job_context.h"
#include "package/schema_validation.h"

namespace orx {

// Reads the key file as a job does (LoadParamsFromICod), makes the source
// document in memory exactly as the jobs stamp it, and checks it against the
// schema, handing report every problem in document order. Returns how many
// there were (0: valid). Paths are taken as they stand (already expanded).
//
// Writes no file, not even a temporary one. A key file, certificate XML or
// schema that fails throws Error with the jobs' message; the key file's
// failure is also recorded in context.events as LoadParamsFromICod does.
std::uint64_t CheckDocument(JobContext& context, const std::string& xmlPath,
                            const std::string& keyFilePath, const std::string& xsdPath,
                            const SchemaProblemSink& report);

}  // namespace orx
