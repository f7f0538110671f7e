#pragma once
// For window tests: answers the window's dialogs from a script instead of a
// person, and records how each dialog was set up.
#include <QFileDialog>
#include <QApplication>
#include <QInputDialog>
#include <QThread>
#include <deque>
#include <functional>
#include <vector>

#include "app/window/dialog_runner.h"

namespace orx {

struct ShownInput {
  QString title;
  QString label;
  QLineEdit::EchoMode echoMode = QLineEdit::Normal;
  bool onWindowThread = false;  // shown on the application's own thread
};

struct ShownDialog {
  QString title;
  QStringList nameFilters;
  QString defaultSuffix;
  QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
  bool dirsOnly = false;
  bool native = true;
  QString directory;
  QStringList selected;  // what the dialog would return if accepted as it opened
};

class ScriptedDialogs final : public DialogRunner {
 public:
  using Answer = std::function<bool(QFileDialog&)>;

  // Accepts the dialog with path typed into it.
  static Answer Choose(const QString& path) {
    return [path](QFileDialog& dialog) {
      dialog.selectFile(path);
      return true;
    };
  }
  static Answer Cancel() {
    return [](QFileDialog&) { return false; };
  }

  void Push(Answer answer) { answers_.push_back(std::move(answer)); }
  const std::vector<ShownDialog>& shown() const { return shown_; }

  // The next message box gets this answer; with none left, its escape button.
  void PushReply(std::function<QMessageBox::StandardButton(QMessageBox&)> reply) {
    replies_.push_back(std::move(reply));
  }
  // Title and text of each message box shown, in order.
  const QStringList& messages() const { return messages_; }

  // Text dialogs: accepted with `text` typed in; with none left, cancelled.
  void PushInput(QString text) { inputs_.push_back(std::move(text)); }
  const std::vector<ShownInput>& shownInputs() const { return shownInputs_; }
  bool RunInput(QInputDialog& dialog) override {
    shownInputs_.push_back({dialog.windowTitle(), dialog.labelText(), dialog.textEchoMode(),
                            dialog.thread() == qApp->thread() &&
                                QThread::currentThread() == qApp->thread()});
    if (inputs_.empty()) return false;
    dialog.setTextValue(inputs_.front());
    inputs_.pop_front();
    return true;
  }

  // With no answer left the dialog counts as cancelled.
  [[nodiscard]] bool Run(QFileDialog& dialog) override {
    shown_.push_back({dialog.windowTitle(), dialog.nameFilters(), dialog.defaultSuffix(),
                      dialog.fileMode(), dialog.testOption(QFileDialog::ShowDirsOnly),
                      !dialog.testOption(QFileDialog::DontUseNativeDialog),
                      dialog.directory().absolutePath(), dialog.selectedFiles()});
    if (answers_.empty()) return false;
    const Answer answer = std::move(answers_.front());
    answers_.pop_front();
    return answer(dialog);
  }

  QMessageBox::StandardButton Ask(QMessageBox& box) override {
    messages_ << box.windowTitle() + ": " + box.text();
    if (replies_.empty()) {
      QAbstractButton* escape = box.escapeButton();
      return escape ? box.standardButton(escape) : QMessageBox::NoButton;
    }
    const auto reply = std::move(replies_.front());
    replies_.pop_front();
    return reply(box);
  }

 private:
  std::deque<Answer> answers_;
  std::vector<ShownDialog> shown_;
  std::deque<std::function<QMessageBox::StandardButton(QMessageBox&)>> replies_;
  QStringList messages_;
  std::deque<QString> inputs_;
  std::vector<ShownInput> shownInputs_;
};

}  // namespace orx
