// The reply readers take whatever a server sends: they never crash, never
// let an unexpected exception out, and ReportSaveReply never throws at all.
// The hello reply goes through the server choice too; every "version" request
// it makes goes to a dead proxy on the loopback, so whatever hosts a reply
// names, nothing leaves this machine.
#include <cstddef>
#include <cstdint>
#include <string>

#include <cstdlib>

#include "exchange/https_connection.h"
#include "exchange/replies.h"
#include "exchange/server_choice.h"
#include "support/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool offline = [] {
    ::setenv("https_proxy", "http://127.0.0.1:9", 1);
    ::setenv("HTTPS_PROXY", "http://127.0.0.1:9", 1);
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");
    return true;
  }();
  (void)offline;
  const std::string reply(reinterpret_cast<const char*>(data), size);
  try {
    (void)orx::GetAuthFailedMessage(orx::ParseReply(reply));
  } catch (const orx::Error&) {
  }

  orx::FixedClock clock{orx::LocalDateTime{}};
  orx::KeyParameters params = orx::KeyParameters::Initial(clock);
  orx::LogPane log;
  orx::MemoryEventSink events;
  orx::JobContext context{
      .params = params, .log = log, .events = events, .clock = clock, .batchMode = true};
  (void)orx::ReportSaveReply(context, reply);
  if (events.records().empty()) __builtin_trap();

  orx::THttpsConnection connection;
  try {
    (void)orx::FindSuitableUrl(connection, "?orxn=7", "TFormMain.XmlToServer", &log, events, reply);
  } catch (const orx::Error&) {
  }
  return 0;
}
