#pragma once
// The "..." button beside a file field: a small raised panel that reacts to a
// click and never takes the keyboard focus.
#include <QLabel>

namespace orx {

class PickerPanel final : public QLabel {
  Q_OBJECT

 public:
  PickerPanel(const QString& objectName, int width, QWidget* parent);

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool pressed_ = false;
};

}  // namespace orx
