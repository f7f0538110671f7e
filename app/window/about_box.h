#pragma once
// The About box (F1): the program's name, version and licence, and the
// window icon shipped inside the window module.
#include <QIcon>

class QWidget;

namespace orx {

class DialogRunner;

void ShowAboutBox(QWidget* parent, DialogRunner& runner);

// The icon theme's "convertor-orx" when there is one, else the bitmaps the
// module carries (which need no SVG support).
QIcon ProgramIcon();

}  // namespace orx
