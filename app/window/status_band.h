#pragma once
// The band under the log pane. While a job runs: a busy indicator naming the
// job's step, and Cancel (also Esc). Afterwards: one line stating what the
// job came to, coloured by how it went.
#include <QWidget>

#include "app/window/job_status.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace orx {

class StatusBand final : public QWidget {
  Q_OBJECT

 public:
  explicit StatusBand(QWidget* parent = nullptr);

  // progress is not owned and must outlive the job.
  void JobStarted(const JobProgress& progress);
  // Cancel was asked for: the band says so until the job ends.
  void CancelAsked();
  void JobEnded(const StatusLine& outcome);

  QPushButton* cancelButton() const { return cancel_; }

 signals:
  void cancelClicked();

 private:
  void ShowStep();

  const JobProgress* progress_ = nullptr;
  bool cancelAsked_ = false;
  QLabel* status_;
  QProgressBar* busy_;
  QPushButton* cancel_;
  QTimer* poll_;
};

}  // namespace orx
