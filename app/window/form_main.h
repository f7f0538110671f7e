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
#include "app/window/pin_dialog.h"
#include "app/window/select_dir_dialog.h"
#include "app/window/status_band.h"
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
  // window closes; a running job is cancelled first, without asking.
  void EndSession();

  // Cancel (Esc) while a job runs. Once the certificates may be on their way
  // to the server, the operator is warned and asked first.
  void ButtonCancelClick();

 protected:
  // The caption's width in pixels with the window's font.
  virtual int CaptionWidth(const QString& caption) const;

  void setVisible(bool visible) override;
  void hideEvent(QHideEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class JobScope;
  struct FileBand {
    const char* panel;
    const char* label;
    const char* caption;  // with its mnemonic
    const char* edit;
    const char* editName;  // for screen readers
    const char* picker;
    int pickerWidth;
    const char* pickerHint;
    const char* pickerName;  // for screen readers: what "..." picks
  };

  void BuildControls();
  QWidget* MakeFilePanel(const FileBand& band, QLineEdit*& edit, void (TFormMain::*onClick)());
  void ShowAbout();
  DialogRunner& Dialogs() { return services_.dialogs ? *services_.dialogs : modalDialogs_; }
  // A drag of one local file: accepted, and on the drop the file goes into
  // field, or when field is null into the field its name suggests (".xsd",
  // ".cod", else the XML field). False for any other drag, and during a job.
  bool TakeDrop(QEvent* event, QLineEdit* field);
  QLineEdit* FieldForFile(const QString& path) const;
  // Writes the window-state file; a failure is only traced.
  void SaveState();
  void PickFile(QLineEdit* field, const FilePickerSetup& setup);
  // Runs job with the fields; button takes the focus afterwards.
  template <typename Job>
  void RunJob(Job job, QWidget* button, JobKind kind);
  // Asks the operator whether to stop the running job (closing: to close the
  // window too), with a warning once the certificates may have reached the
  // server; on yes, asks the job to stop.
  bool StopJobIfConfirmed(bool closing);
  void StopJob();

  FormMainServices services_;
  ModalDialogRunner modalDialogs_;
  WorkerThreadWait networkWait_;
  PinDialog pinDialog_;  // a token's PIN for the server job
  FilePicker openDialog_;
  TSelectDirDialog folderPicker_;
  LogPane log_;
  JobProgress progress_;
  // One context for every job of the window, so that the jobs' own guard
  // against running inside each other sees them all.
  JobContext jobContext_;
  std::unique_ptr<MemoLogView> memoView_;
  bool jobRunning_ = false;
  bool sessionEnding_ = false;
  bool closeAfterJob_ = false;
  // The XML field holds a file handed to the window (command line, drop)
  // that no kind choice or job has met yet.
  bool xmlHandedIn_ = false;

  QComboBox* comboBoxTypeDocument_ = nullptr;
  QLineEdit* editXML_ = nullptr;
  QLineEdit* editXSD_ = nullptr;
  QLineEdit* editICod_ = nullptr;
  QWidget* panelButton_ = nullptr;
  QPushButton* buttonFile_ = nullptr;
  QPushButton* buttonServer_ = nullptr;
  QPlainTextEdit* memoLog_ = nullptr;
  StatusBand* statusBand_ = nullptr;
};

}  // namespace orx
