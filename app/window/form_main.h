#pragma once
// The main window: three file fields with their pickers, the document-kind
// list, the two job buttons and the log pane. It holds no job logic: a button
// hands the fields to the job together with the window's log pane and folder
// picker. Controls carry their names as objectName (EditXML, MemoLog, ...).
#include <QWidget>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/window/dialog_runner.h"
#include "app/window/document_kinds.h"
#include "app/window/file_picker.h"
#include "app/window/memo_log_view.h"
#include "app/window/select_dir_dialog.h"
#include "app/window/worker_wait.h"
#include "package/job_context.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace orx {

struct FormMainServices {
  KeyParameters& params;
  EventSink& events;
  const Clock& clock;
  SearchPlaces places;              // where the kinds' key files and schemas are looked for
  std::string stateFilePath;        // empty: the geometry is neither read nor kept
  DialogRunner* dialogs = nullptr;  // not owned; nullptr: dialogs run modally
};

class TFormMain : public QWidget {
  Q_OBJECT

 public:
  explicit TFormMain(FormMainServices services, QWidget* parent = nullptr);
  ~TFormMain() override;

  // The fields a command line names: EditXML, EditICod and EditXSD.
  void SetFields(const CommandLineFields& fields);

  LogPane& log() { return log_; }
  TSelectDirDialog& folderPicker() { return folderPicker_; }
  bool jobRunning() const { return jobRunning_; }

  // Handlers; each does nothing while a job runs. A package file written
  // adds a line with its path to the log pane.
  void ComboBoxTypeDocumentSelect(int index);
  void PanelSelectXMLClick();
  void PanelSelectXSDClick();
  void PanelSelectICodClick();
  void ButtonFileClick();
  void ButtonServerClick();
  void PanelButtonResize();

  // The session ends (SIGTERM, SIGHUP): the state is kept at once and the
  // window closes, after the running job if there is one.
  void EndSession();

 protected:
  // The caption's width in pixels with the window's font.
  virtual int CaptionWidth(const QString& caption) const;

  void setVisible(bool visible) override;
  void hideEvent(QHideEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class JobScope;

  void BuildControls();
  // Writes the window-state file; a failure is only traced.
  void SaveState();
  QWidget* MakeFilePanel(const QString& name, const QString& labelName, const QString& caption,
                         QLineEdit*& edit, const QString& editName, const QString& pickerName,
                         int pickerWidth, const QString& pickerHint,
                         void (TFormMain::*onClick)());
  void PickFile(QLineEdit* field, const FilePickerSetup& setup);
  template <typename Job>
  void RunJob(Job job);

  FormMainServices services_;
  ModalDialogRunner modalDialogs_;
  WorkerThreadWait networkWait_;
  FilePicker openDialog_;
  TSelectDirDialog folderPicker_;
  LogPane log_;
  // One context for every job of the window, so that the jobs' own guard
  // against running inside each other sees them all.
  JobContext jobContext_;
  std::unique_ptr<MemoLogView> memoView_;
  bool jobRunning_ = false;
  bool sessionEnding_ = false;

  QComboBox* comboBoxTypeDocument_ = nullptr;
  QLineEdit* editXML_ = nullptr;
  QLineEdit* editXSD_ = nullptr;
  QLineEdit* editICod_ = nullptr;
  QWidget* panelButton_ = nullptr;
  QPushButton* buttonFile_ = nullptr;
  QPushButton* buttonServer_ = nullptr;
  QPlainTextEdit* memoLog_ = nullptr;
};

}  // namespace orx
