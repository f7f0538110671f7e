#include "app/window/picker_button.h"

namespace orx {

PickerButton::PickerButton(const QString& objectName, int width, const QString& accessibleName,
                           QWidget* parent)
    : QPushButton(QStringLiteral("..."), parent) {
  setObjectName(objectName);
  setFixedWidth(width);
  setAutoDefault(false);
  setAccessibleName(accessibleName);
  // Only the weight is set here; family and size come from the window.
  QFont bold;
  bold.setBold(true);
  setFont(bold);
  QPalette blue = palette();
  blue.setColor(QPalette::ButtonText, Qt::blue);
  setPalette(blue);
}

}  // namespace orx
