#pragma once
// Whether a window can be shown, found out before the window toolkit is
// loaded: a toolkit that finds no display answering aborts the process.
#include <optional>
#include <string>

namespace orx {

// Why no window can be shown, or nothing when one can: a display server
// answers at DISPLAY (X11: its local socket, else TCP port 6000 + n) or at
// WAYLAND_DISPLAY, or QT_QPA_PLATFORM names a platform that needs no display
// (offscreen and the like). With QT_QPA_PLATFORM=xcb or wayland only that
// kind of display counts. Opens a socket and closes it again; loads nothing.
std::optional<std::string> MissingDisplay();

}  // namespace orx
