#include "app/window/memo_log_view.h"

#include <QCoreApplication>
#include <QPlainTextEdit>

namespace orx {

void MemoLogView::OnCleared() { memo_.clear(); }

void MemoLogView::OnLineAppended(const std::string& line) {
  memo_.appendPlainText(QString::fromStdString(line));
}

void MemoLogView::ProcessPendingEvents() { QCoreApplication::processEvents(); }

}  // namespace orx
