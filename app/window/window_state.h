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
// place and size it goes back to. On restoring, the window is fitted onto the
// available area of a screen.
//
// The toolkit decides where a control inside a layout goes, so such a
// control's geometry is recorded but not applied; a control in a splitter gets
// back its extent along the splitter unless it is the splitter's stretching
// pane, which takes whatever is left.
#include <string_view>

class QWidget;

namespace orx {

// A window's dynamic property (QPoint): the offset of its inner area from its
// frame's corner while it was last shown neither maximised nor full screen.
inline constexpr const char* kNormalFrameOffsetProperty = "orxNormalFrameOffset";

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
