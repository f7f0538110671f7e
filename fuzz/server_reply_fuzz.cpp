// The reply readers take whatever a server sends: they never crash, never
// let an unexpected exception out, and ReportSaveReply never throws at all.
#include <cstddef>
#include <cstdint>
#include <string>

#include "exchange/replies.h"
#include "support/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  try {
    (void)orx::GetAuthFailedMessage(reply);
  } catch (const orx::Error&) {
  }

  orx::FixedClock clock{orx::LocalDateTime{}};
  orx::KeyParameters params = orx::KeyParameters::Initial(clock);
  orx::LogPane log;
  orx::MemoryEventSink events;
  orx::JobContext context{params, log, events, clock, true};
  (void)orx::ReportSaveReply(context, reply);
  if (events.records().empty()) __builtin_trap();
  return 0;
}
