#include "app/window/picker_panel.h"

#include <QMouseEvent>

namespace orx {

PickerPanel::PickerPanel(const QString& objectName, int width, QWidget* parent)
    : QLabel(QStringLiteral("..."), parent) {
  setObjectName(objectName);
  setFixedWidth(width);
  setAlignment(Qt::AlignCenter);
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::PointingHandCursor);
  // Only the weight is set here; family and size come from the window.
  QFont bold;
  bold.setBold(true);
  setFont(bold);
  QPalette blue = palette();
  blue.setColor(QPalette::WindowText, Qt::blue);
  setPalette(blue);
}

void PickerPanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QLabel::mousePressEvent(event);
  pressed_ = true;
  setFrameShadow(QFrame::Sunken);
}

void PickerPanel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return QLabel::mouseReleaseEvent(event);
  pressed_ = false;
  setFrameShadow(QFrame::Raised);
  // Like a button: releasing outside the panel cancels the click.
  if (rect().contains(event->position().toPoint())) emit clicked();
}

}  // namespace orx
