#pragma once
// The window's geometry, and that of every named control on it, kept from one
// run to the next in an XML file (root "ParamsOfForms").
//
// Each form has one entry, an element named after its class ("TFormMain")
// with the attributes Name (the form's objectName), Height, Left, Top and
// Width, and inside it one entry per control the form holds, however deeply
// nested: a flat list in the order of the widget tree. A control is a child
// widget with an objectName of its own (the toolkit's "qt_" helpers and
// separate windows such as dialogs are not). The window has no grids or list
// views, so entries carry no column widths.
//
// A window's Left and Top are its frame's corner; a window also gets
// Maximized ("1" or "0"), and when maximised its other attributes give the
// place and size it goes back to. FrameExtraWidth and FrameExtraHeight, when
// the window manager had framed it, say how much its frame adds to the inner
// area. On restoring, the window is fitted onto the available area of a
// screen, whether or not the file has an entry for it.
//
// The toolkit decides where a control inside a layout goes, so such a
// control's geometry is recorded but not applied; a control in a splitter gets
// back its extent along the splitter unless it is the splitter's stretching
// pane, which takes whatever is left.
#include <Qt>
#include <string_view>

class QWidget;

namespace orx {

// A window's dynamic property (QString), kept as its entry's attribute
// LastFolder: the folder last chosen for its output.
inline constexpr const char* kLastFolderProperty = "orxLastFolder";

// Notes the window's place, size and frame while it is shown neither
// maximised, minimised nor full screen; call it on every move and resize. A
// window closed maximised saves the last such place whose size differs from
// the maximised one: a window manager may move and resize a window to its
// maximised extent before it says the window is maximised.
void NoteNormalGeometry(QWidget* window);

// Call when the window has been shown: once the window manager has framed
// it, a frame larger than the guess made before showing it is moved and cut
// back onto the screen.
void KeepFrameOnScreen(QWidget* window);

// Call when the window's state changed from oldState. A window restored
// maximised was never shown at its normal size, and some window managers
// (icewm) then leave it at the maximised size when it is un-maximised: the
// first time, it goes back to the place and size the file gave it.
void LeaveMaximisedAsRestored(QWidget* window, Qt::WindowStates oldState);

// Moves and, if need be, shrinks a window that is not shown yet so that its
// frame lies inside the available area of the screen it overlaps most.
void FitWindowOntoScreen(QWidget* window);

// Applies the first entry named like form. A missing, unreadable or broken
// file, a broken entry and an unusable or zero value are passed over
// silently. Never throws. Call it before the window is first shown: only
// then does the saved corner place the frame rather than the inner area.
void RestoreFormState(QWidget* form, std::string_view path);

// Replaces every entry named like form by its current state, appended last;
// entries of other forms stay. A file that cannot be read as XML is replaced
// by a new one. The file is written atomically (its folder is created when
// missing); a failure to write throws Error and leaves the old file as it was.
void SaveFormState(QWidget* form, std::string_view path);

}  // namespace orx
