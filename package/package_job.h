#pragma once
// The package file job: certificate XML + schema + key file in, enciphered
// package file out. Reports every failure itself and never throws.
#include <string_view>

#include "package/job_context.h"

namespace orx {

[[nodiscard]] JobOutcome XmlToCod(JobContext& context, std::string_view xmlPath, std::string_view xsdPath,
                    std::string_view outputFolder, std::string_view keyFilePath);

}  // namespace orx
