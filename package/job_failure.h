#pragma once
// How a job reports the failure that ends it.
#include <cstdint>
#include <string_view>

#include "package/job_context.h"

namespace orx {

// Writes the one event record of a failed job ("ОРХ РФ", error, category,
// 0x40000103, the strings caller and message) and appends "ошибка: " and the
// message to the log pane. Returns JobOutcome::Failed, so that
// a job can end with `return ReportJobFailure(...)`.
[[nodiscard]] JobOutcome ReportJobFailure(JobContext& context, std::uint16_t category, std::string_view caller,
                            std::string_view message);

// Reports a job the operator stopped: one record of the given type (category,
// 0x40000103, the strings caller and message), the message as a line, and the
// report marked cancelled. Returns JobOutcome::Cancelled.
[[nodiscard]] JobOutcome ReportJobCancelled(JobContext& context, EventType type,
                                            std::uint16_t category, std::string_view caller,
                                            std::string_view message);

}  // namespace orx
