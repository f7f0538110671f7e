// Entry: decides batch or window before any GUI toolkit exists, so that batch
// mode runs on a machine without a display.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "app/display_probe.h"
#include "app/message_locale.h"
#include "app/operator_tools.h"
#include "app/startup.h"
#include "app/window_module.h"
#include "support/clock.h"
#include "support/event_log.h"
#include "support/log_pane.h"
#include "support/version.h"

int main(int argc, char** argv) {
  using namespace orx;
  OccupyClosedStandardStreams();
  FollowUsersLanguage();
  if (argc == 2 && IsHelpOption(argv[1])) {
    std::fputs(UsageText().c_str(), stdout);
    return OutputDelivered(stdout, stderr, "convertor-orx: ") ? kExitSuccess : kExitMissingField;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::puts(kVersionText);
    return OutputDelivered(stdout, stderr, "convertor-orx: ") ? kExitSuccess : kExitMissingField;
  }
  if (argc >= 2 && IsToolArgument(argv[1])) {
    const SystemClock clock;
    return RunOperatorTool(argc, argv, clock, stdout, stderr);
  }

  InitLibraries();
  const SystemClock clock;
  KeyParameters params = KeyParameters::Initial(clock);
  const std::unique_ptr<EventSink> events = MakeDefaultEventSink();
  const std::string parameterText = ParameterTextFromArguments(argc, argv);
  const CommandLineFields fields = SplitParameterText(parameterText);

  if (fields.batchMode) {
    LogPane log;
    StderrLogPaneView echo;
    log.SetView(&echo);
    JobContext context{
        .params = params, .log = log, .events = *events, .clock = clock, .batchMode = true};
    return RunBatch(fields, parameterText, context);
  }
  if (const std::optional<std::string> missing = MissingDisplay()) return ReportNoDisplay(*missing);
  return RunWindowModule({&argc, argv, &fields, &params, events.get(), &clock});
}
