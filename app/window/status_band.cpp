#include "app/window/status_band.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace orx {
namespace {

constexpr int kBandHeight = 30;
constexpr int kBusyWidth = 120;
constexpr int kPollMs = 100;

QColor ToneColour(StatusLine::Tone tone, const QPalette& palette) {
  switch (tone) {
    case StatusLine::Tone::Good:
      return QColor(0x1b, 0x5e, 0x20);
    case StatusLine::Tone::Doubtful:
      return QColor(0x8a, 0x4b, 0x00);
    case StatusLine::Tone::Bad:
      return QColor(0xb0, 0x00, 0x20);
    case StatusLine::Tone::Plain:
      break;
  }
  return palette.color(QPalette::WindowText);
}

}  // namespace

StatusBand::StatusBand(QWidget* parent)
    : QWidget(parent),
      status_(new QLabel(this)),
      busy_(new QProgressBar(this)),
      cancel_(new QPushButton(QStringLiteral("Отмена"), this)),
      poll_(new QTimer(this)) {
  setObjectName(QStringLiteral("PanelStatus"));
  setFixedHeight(kBandHeight);
  status_->setObjectName(QStringLiteral("LabelStatus"));
  status_->setAccessibleDescription(QStringLiteral("Итог последнего задания"));
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // A long path or reason is cut at the window's edge instead of widening it.
  status_->setMinimumWidth(1);
  busy_->setObjectName(QStringLiteral("ProgressJob"));
  busy_->setRange(0, 0);  // no measure of how far: it only shows that work goes on
  busy_->setTextVisible(false);
  busy_->setFixedWidth(kBusyWidth);
  busy_->setAccessibleName(QStringLiteral("Идёт задание"));
  cancel_->setObjectName(QStringLiteral("ButtonCancel"));
  cancel_->setShortcut(QKeySequence(Qt::Key_Escape));
  cancel_->setToolTip(QStringLiteral("Прервать задание (Esc)"));
  cancel_->setAutoDefault(false);
  connect(cancel_, &QPushButton::clicked, this, &StatusBand::cancelClicked);
  poll_->setInterval(kPollMs);
  connect(poll_, &QTimer::timeout, this, &StatusBand::ShowStep);

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(6, 2, 6, 2);
  row->addWidget(busy_);
  row->addWidget(status_, 1);
  row->addWidget(cancel_);
  busy_->hide();
  cancel_->hide();
}

void StatusBand::JobStarted(const JobProgress& progress) {
  progress_ = &progress;
  cancelAsked_ = false;
  status_->setPalette(palette());
  busy_->show();
  cancel_->setEnabled(true);
  cancel_->show();
  ShowStep();
  poll_->start();
}

void StatusBand::CancelAsked() {
  cancelAsked_ = true;
  cancel_->setEnabled(false);
  ShowStep();
}

void StatusBand::JobEnded(const StatusLine& outcome) {
  poll_->stop();
  progress_ = nullptr;
  busy_->hide();
  cancel_->hide();
  QPalette tinted = palette();
  tinted.setColor(QPalette::WindowText, ToneColour(outcome.tone, palette()));
  status_->setPalette(tinted);
  status_->setText(outcome.text);
  status_->setToolTip(outcome.text);
}

void StatusBand::ShowStep() {
  if (progress_ == nullptr) return;
  const QString step = StepText(progress_->Step());
  status_->setText(cancelAsked_ ? step + QStringLiteral(" Прерывание…") : step);
}

}  // namespace orx
