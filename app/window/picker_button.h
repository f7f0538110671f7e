#pragma once
// The "..." button beside a file field: small, bold and blue, and a real
// button, so that the keyboard reaches it and Enter or Space opens the picker.
#include <QPushButton>

namespace orx {

class PickerButton final : public QPushButton {
  Q_OBJECT

 public:
  // accessibleName says what the button picks, which "..." does not.
  PickerButton(const QString& objectName, int width, const QString& accessibleName,
               QWidget* parent);
};

}  // namespace orx
