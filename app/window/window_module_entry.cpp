// The one symbol the window module shows the executable.
#include <string_view>

#include "app/window/run_window.h"
#include "app/window_module.h"

static_assert(std::string_view(orx::kWindowEntryName) == "orx_window_main");

extern "C" __attribute__((visibility("default"))) int orx_window_main(
    const orx::WindowStart* start) {
  return orx::RunWindow(*start->argc, start->argv, *start->fields, *start->params,
                        *start->events, *start->clock);
}
