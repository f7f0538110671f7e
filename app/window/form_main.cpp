#include "app/window/form_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "app/window/about_box.h"
#include "app/window/button_placement.h"
#include "app/window/document_kinds.h"
#include "app/window/picker_button.h"
#include "app/window/window_state.h"
#include "app/server_module.h"
#include "package/package_job.h"

namespace orx {
namespace {

constexpr int kPanelTopHeight = 41;
constexpr int kKindListLeft = 24;
constexpr int kKindListTop = 8;
constexpr int kKindListWidth = 201;
constexpr int kFileRowHeight = 24;
constexpr int kButtonTop = 16;
constexpr int kButtonHeight = 25;
constexpr int kButtonDesignWidth = 75;
constexpr int kSplitterHandle = 3;

// Followed by the absolute path of the package file a job wrote.
constexpr std::string_view kPackageWrittenMessage = "Файл сформирован: ";

// One splitter per draggable band: dragging a band's lower edge moves the
// bands below it instead of squeezing its neighbour.
QSplitter* MakeBandSplitter(const QString& name, QWidget* band, QWidget* rest, int bandHeight) {
  auto* splitter = new QSplitter(Qt::Vertical);
  splitter->setObjectName(name);
  splitter->setHandleWidth(kSplitterHandle);
  splitter->setChildrenCollapsible(false);
  splitter->addWidget(band);
  splitter->addWidget(rest);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  // The band keeps its height; the rest, the stretching pane, takes what is left.
  splitter->setSizes({bandHeight, QWIDGETSIZE_MAX / 2});
  return splitter;
}

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// A wheel turned over the list while the operator scrolls past it would
// choose a kind, which empties the XML field and replaces the schema: only
// a list that has the keyboard focus takes the wheel.
class KindList final : public QComboBox {
 public:
  KindList() { setFocusPolicy(Qt::StrongFocus); }

 protected:
  void wheelEvent(QWheelEvent* event) override {
    if (!hasFocus()) {
      event->ignore();
      return;
    }
    QComboBox::wheelEvent(event);
  }
};

// The one local file a drag carries; nullopt for anything else.
std::optional<QString> DraggedFile(const QMimeData* mime) {
  if (mime == nullptr || !mime->hasUrls()) return std::nullopt;
  const QList<QUrl> urls = mime->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return std::nullopt;
  return urls.front().toLocalFile();
}

bool IsDrag(QEvent::Type type) {
  return type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop;
}

// A caption without its mnemonic marker, as it is shown.
QString Shown(QString caption) { return caption.remove(QLatin1Char('&')); }

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return true;
    default:
      return false;
  }
}

}  // namespace

// Marks a job as running for its lifetime: the buttons are disabled, the
// cursor is busy and input to the window is dropped, on every way out of the
// job. Input the operator gave meanwhile (a second press, a click on a field)
// is dropped too instead of being delivered once the job has ended.
class TFormMain::JobScope {
 public:
  // focusAfter (the job's button) takes the keyboard focus when the job has
  // ended; the buttons are disabled meanwhile, and the focus would otherwise
  // fall into the log pane.
  JobScope(TFormMain& form, QWidget* focusAfter) : form_(form), focusAfter_(focusAfter) {
    form_.jobRunning_ = true;
    form_.buttonFile_->setEnabled(false);
    form_.buttonServer_->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    qApp->installEventFilter(&form_);
    // The job's own first step, shown at once with the disabled buttons and
    // the busy cursor before the job blocks.
    form_.log_.Clear();
    QCoreApplication::processEvents();
  }
  ~JobScope() {
    // Takes in and drops what queued up while the job ran.
    QCoreApplication::processEvents();
    qApp->removeEventFilter(&form_);
    QApplication::restoreOverrideCursor();
    form_.buttonFile_->setEnabled(true);
    form_.buttonServer_->setEnabled(true);
    form_.jobRunning_ = false;
    if (focusAfter_ != nullptr) focusAfter_->setFocus(Qt::OtherFocusReason);
  }
  JobScope(const JobScope&) = delete;
  JobScope& operator=(const JobScope&) = delete;

 private:
  TFormMain& form_;
  QWidget* focusAfter_;
};

TFormMain::TFormMain(FormMainServices services, QWidget* parent)
    : QWidget(parent),
      services_(std::move(services)),
      pinDialog_(this, services_.dialogs ? *services_.dialogs : modalDialogs_),
      openDialog_(this, services_.dialogs ? *services_.dialogs : modalDialogs_),
      folderPicker_(this, services_.dialogs ? *services_.dialogs : modalDialogs_),
      jobContext_{.params = services_.params,
                  .log = log_,
                  .events = services_.events,
                  .clock = services_.clock,
                  .batchMode = false,
                  .folderPicker = &folderPicker_,
                  .blockingCalls = &networkWait_,
                  .tokenPins = &pinDialog_,
                  .progress = &progress_} {
  setObjectName(QStringLiteral("FormMain"));
  setWindowTitle(QStringLiteral("Конвертор XML"));
  setFont(QFont(QStringLiteral("Arial"), 8));
  move(330, 116);
  resize(628, 568);

  folderPicker_.SetCaption("Выберите каталог сохранения файлов");
  folderPicker_.SetUlFlags({TulFlag::sRETURNONLYFSDIRS});

  BuildControls();
  memoView_ = std::make_unique<MemoLogView>(*memoLog_);
  log_.SetView(memoView_.get());
}

TFormMain::~TFormMain() { log_.SetView(nullptr); }

void TFormMain::BuildControls() {
  auto* panelTop = new QWidget;
  panelTop->setObjectName(QStringLiteral("PanelTop"));
  panelTop->setFixedHeight(kPanelTopHeight);
  comboBoxTypeDocument_ = new KindList;
  comboBoxTypeDocument_->setObjectName(QStringLiteral("ComboBoxTypeDocument"));
  comboBoxTypeDocument_->setEditable(false);
  for (const DocumentKindItem& item : kDocumentKindItems) {
    comboBoxTypeDocument_->addItem(Q(item.caption));
  }
  // Adding items to an empty list selects the first by itself.
  comboBoxTypeDocument_->setCurrentIndex(-1);
  comboBoxTypeDocument_->setToolTip(QStringLiteral("Выберите тип документа"));
  comboBoxTypeDocument_->setAccessibleName(QStringLiteral("Тип документа"));
  comboBoxTypeDocument_->setFixedWidth(kKindListWidth);
  connect(comboBoxTypeDocument_, &QComboBox::activated, this,
          &TFormMain::ComboBoxTypeDocumentSelect);
  auto* kindCaption = new QLabel(QStringLiteral("&Тип документа"));
  kindCaption->setObjectName(QStringLiteral("LabelTypeDocument"));
  kindCaption->setBuddy(comboBoxTypeDocument_);
  auto* buttonAbout = new QToolButton;
  buttonAbout->setObjectName(QStringLiteral("ButtonAbout"));
  buttonAbout->setText(QStringLiteral("?"));
  buttonAbout->setToolTip(QStringLiteral("О программе (F1)"));
  buttonAbout->setAccessibleName(QStringLiteral("О программе"));
  connect(buttonAbout, &QToolButton::clicked, this, &TFormMain::ShowAbout);
  auto* about = new QShortcut(QKeySequence::HelpContents, this);
  connect(about, &QShortcut::activated, this, &TFormMain::ShowAbout);
  auto* top = new QHBoxLayout(panelTop);
  top->setContentsMargins(kKindListLeft, kKindListTop, kKindListTop, 0);
  top->setSpacing(kKindListTop);
  top->addWidget(comboBoxTypeDocument_, 0, Qt::AlignTop);
  top->addWidget(kindCaption, 0, Qt::AlignTop);
  top->addStretch(1);
  top->addWidget(buttonAbout, 0, Qt::AlignTop);
  kindCaption->setFixedHeight(comboBoxTypeDocument_->sizeHint().height());

  QWidget* panelXML = MakeFilePanel(
      {"PanelXML", "LabelXML", "Укажите исходный &XML файл с сертификатами", "EditXML",
       "Исходный XML файл с сертификатами", "PanelSelectXML", 33, "Выбор файла",
       "Выбрать исходный XML файл"},
      editXML_, &TFormMain::PanelSelectXMLClick);
  QWidget* panelXSD = MakeFilePanel(
      {"PanelXSD", "LabelXSD", "Укажите X&SD файл схемы проверки", "EditXSD",
       "XSD файл схемы проверки", "PanelSelectXSD", 34, "", "Выбрать файл схемы"},
      editXSD_, &TFormMain::PanelSelectXSDClick);
  QWidget* panelICod = MakeFilePanel(
      {"PanelICod", "LabelICod", "Укажите файл &iCod", "EditICod", "Ключевой файл iCod",
       "PanelSelectICod", 34, "", "Выбрать ключевой файл"},
      editICod_, &TFormMain::PanelSelectICodClick);
  // The operator's own text replaces a file that was handed in.
  connect(editXML_, &QLineEdit::textEdited, this, [this] { xmlHandedIn_ = false; });

  panelButton_ = new QWidget;
  panelButton_->setObjectName(QStringLiteral("PanelButton"));
  panelButton_->setMinimumHeight(kButtonTop + kButtonHeight);
  panelButton_->installEventFilter(this);
  buttonFile_ = new QPushButton(QStringLiteral("&Сформировать файл"), panelButton_);
  buttonFile_->setObjectName(QStringLiteral("ButtonFile"));
  buttonFile_->setGeometry(0, kButtonTop, kButtonDesignWidth, kButtonHeight);
  connect(buttonFile_, &QPushButton::clicked, this, &TFormMain::ButtonFileClick);
  buttonServer_ = new QPushButton(QStringLiteral("&Отправить на сервер"), panelButton_);
  buttonServer_->setObjectName(QStringLiteral("ButtonServer"));
  buttonServer_->setGeometry(0, kButtonTop, kButtonDesignWidth, kButtonHeight);
  connect(buttonServer_, &QPushButton::clicked, this, &TFormMain::ButtonServerClick);

  memoLog_ = new QPlainTextEdit;
  memoLog_->setObjectName(QStringLiteral("MemoLog"));
  memoLog_->setAccessibleName(QStringLiteral("Сообщения"));
  memoLog_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Tab moves on to the next control instead of typing into the pane.
  memoLog_->setTabChangesFocus(true);
  // A file dropped on the pane goes to a field, as anywhere on the window.
  memoLog_->setAcceptDrops(false);
  memoLog_->viewport()->setAcceptDrops(false);

  QSplitter* splitter4 = MakeBandSplitter(QStringLiteral("TntSplitter4"), panelButton_, memoLog_, 77);
  QSplitter* splitter3 = MakeBandSplitter(QStringLiteral("TntSplitter3"), panelICod, splitter4, 85);
  QSplitter* splitter2 = MakeBandSplitter(QStringLiteral("TntSplitter2"), panelXSD, splitter3, 85);
  QSplitter* splitter1 = MakeBandSplitter(QStringLiteral("TntSplitter1"), panelXML, splitter2, 57);

  statusBand_ = new StatusBand;
  connect(statusBand_, &StatusBand::cancelClicked, this, &TFormMain::ButtonCancelClick);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(panelTop);
  layout->addWidget(splitter1, 1);
  layout->addWidget(statusBand_);

  // The fields with their pickers, the buttons, the log pane, the kind list.
  const std::vector<QWidget*> order{
      editXML_,     findChild<QWidget*>(QStringLiteral("PanelSelectXML")),
      editXSD_,     findChild<QWidget*>(QStringLiteral("PanelSelectXSD")),
      editICod_,    findChild<QWidget*>(QStringLiteral("PanelSelectICod")),
      buttonFile_,  buttonServer_,
      memoLog_,     comboBoxTypeDocument_,
      buttonAbout};
  for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
  // Enter presses the focused button, as Space does.
  for (QAbstractButton* button : findChildren<QAbstractButton*>()) button->installEventFilter(this);
  setAcceptDrops(true);
  editXML_->setFocus();
}

QWidget* TFormMain::MakeFilePanel(const FileBand& band, QLineEdit*& edit,
                                  void (TFormMain::*onClick)()) {
  auto* panel = new QWidget;
  panel->setObjectName(QString::fromUtf8(band.panel));
  auto* label = new QLabel(QString::fromUtf8(band.caption), panel);
  label->setObjectName(QString::fromUtf8(band.label));
  label->setAlignment(Qt::AlignCenter);
  edit = new QLineEdit(panel);
  edit->setObjectName(QString::fromUtf8(band.edit));
  edit->setAccessibleName(QString::fromUtf8(band.editName));
  // A file dragged onto the field goes into it as a path, not as a URL.
  edit->installEventFilter(this);
  label->setBuddy(edit);
  auto* picker = new PickerButton(QString::fromUtf8(band.picker), band.pickerWidth,
                                  QString::fromUtf8(band.pickerName), panel);
  picker->setToolTip(QString::fromUtf8(band.pickerHint));
  connect(picker, &PickerButton::clicked, this, onClick);

  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  row->addWidget(edit);
  row->addWidget(picker);
  edit->setFixedHeight(kFileRowHeight);
  picker->setFixedHeight(kFileRowHeight);

  auto* column = new QVBoxLayout(panel);
  column->setContentsMargins(0, 6, 0, 0);
  column->setSpacing(6);
  column->addWidget(label);
  column->addLayout(row);
  column->addStretch(1);
  return panel;
}

void TFormMain::SetFields(const CommandLineFields& fields) {
  editXML_->setText(QString::fromStdString(fields.xmlPath));
  editICod_->setText(QString::fromStdString(fields.keyFilePath));
  editXSD_->setText(QString::fromStdString(fields.xsdPath));
  xmlHandedIn_ = !fields.xmlPath.empty();
}

void TFormMain::ComboBoxTypeDocumentSelect(int index) {
  if (jobRunning_) return;
  log_.Clear();
  // A file handed to the window (a file manager's "open with", a drop) is
  // what the operator came for: the kind chosen for it does not take it away.
  if (!xmlHandedIn_) editXML_->clear();
  xmlHandedIn_ = false;
  if (index >= 0 && index < int(kDocumentKindItems.size())) {
    const DocumentKindItem& item = kDocumentKindItems[std::size_t(index)];
    editXSD_->clear();
    if (const auto schema = FindSchema(services_.places, item.schemaName)) {
      editXSD_->setText(QString::fromStdString(*schema));
    } else {
      log_.Append(SchemaNotFoundMessage(services_.places, item.schemaName));
    }
    editICod_->clear();
    if (const auto keyFile = FindKeyFileIn(services_.places, item.keyFilePattern)) {
      editICod_->setText(QString::fromStdString(*keyFile));
    }
  }
  if (editICod_->text().isEmpty()) log_.Append(std::string(kKeyFileNotFoundMessage));
}

void TFormMain::PickFile(QLineEdit* field, const FilePickerSetup& setup) {
  if (jobRunning_) return;
  if (const std::optional<QString> chosen = openDialog_.Execute(setup)) field->setText(*chosen);
}

void TFormMain::PanelSelectXMLClick() {
  PickFile(editXML_, {QStringLiteral("xml"), QStringLiteral("*.xml"),
                      QStringLiteral("Укажите исходный файл с сертификатами")});
}

void TFormMain::PanelSelectXSDClick() {
  PickFile(editXSD_, {QStringLiteral("xsd"), QStringLiteral("*.xsd"),
                      QStringLiteral("Укажите файл схемы проверки")});
}

void TFormMain::PanelSelectICodClick() {
  PickFile(editICod_, {QStringLiteral("cod"), QStringLiteral("*.cod"),
                       QStringLiteral("Укажите ключевой файл")});
}

template <typename Job>
void TFormMain::RunJob(Job job, QWidget* button, JobKind kind) {
  // The job lets queued input through while it runs; a second press must not
  // start another job inside it.
  if (jobRunning_) return;
  const std::vector<std::string> linesBefore = log_.Lines();
  JobOutcome outcome = JobOutcome::Failed;
  progress_.Reset();
  statusBand_->JobStarted(progress_);
  {
    const JobScope scope(*this, button);
    const std::string xml = editXML_->text().toStdString();
    const std::string xsd = editXSD_->text().toStdString();
    const std::string keyFile = editICod_->text().toStdString();
    outcome = job(jobContext_, xml, xsd, keyFile);
  }
  xmlHandedIn_ = false;
  statusBand_->JobEnded(OutcomeLine(kind, outcome, jobContext_.report, jobContext_.packagePath));
  if (outcome == JobOutcome::Cancelled && !jobContext_.report.cancelled) {
    // The operator refused the folder: the pane shows what it showed before.
    log_.Clear();
    for (const std::string& line : linesBefore) log_.Append(line);
  }
  if (sessionEnding_ || closeAfterJob_) {
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
  }
}

void TFormMain::ButtonFileClick() {
  RunJob(
      [](JobContext& context, const std::string& xml, const std::string& xsd,
         const std::string& keyFile) {
        const JobOutcome outcome = XmlToCod(context, xml, xsd, {}, keyFile);
        if (!context.packagePath.empty()) {
          context.log.Append(std::string(kPackageWrittenMessage) + context.packagePath);
        }
        return outcome;
      },
      buttonFile_, JobKind::Package);
}

void TFormMain::ButtonServerClick() {
  RunJob([](JobContext& context, const std::string& xml, const std::string& xsd,
            const std::string& keyFile) { return RunServerJobModule(context, xml, xsd, keyFile); },
         buttonServer_, JobKind::Server);
}

void TFormMain::StopJob() {
  progress_.RequestCancel();
  statusBand_->CancelAsked();
}

bool TFormMain::StopJobIfConfirmed(bool closing) {
  if (!jobRunning_ || progress_.CancelRequested()) return jobRunning_;
  const bool maybeSent = progress_.Step() >= JobStep::Sending;
  if (!maybeSent && !closing) {
    StopJob();
    return true;
  }
  QMessageBox box(this);
  box.setObjectName(QStringLiteral("StopJobBox"));
  box.setIcon(maybeSent ? QMessageBox::Warning : QMessageBox::Question);
  box.setWindowTitle(QStringLiteral("Конвертор XML"));
  QString text = maybeSent ? QStringLiteral("Сертификаты уже отправляются: сервер мог их получить, "
                                            "и прерывание этого не отменит.")
                           : QStringLiteral("Задание ещё не закончено.");
  text += closing ? QStringLiteral(" Прервать его и закрыть окно?")
                  : QStringLiteral(" Прервать отправку?");
  box.setText(text);
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  if (Dialogs().Ask(box) != QMessageBox::Yes || !jobRunning_) return false;
  StopJob();
  return true;
}

void TFormMain::ButtonCancelClick() { StopJobIfConfirmed(false); }

void TFormMain::ShowAbout() {
  if (jobRunning_) return;
  ShowAboutBox(this, Dialogs());
}

int TFormMain::CaptionWidth(const QString& caption) const {
  return QFontMetrics(font()).horizontalAdvance(caption);
}

void TFormMain::PanelButtonResize() {
  const ButtonPair placed = PlaceButtons(
      {buttonFile_->width(), buttonServer_->width(), buttonFile_->x(), buttonServer_->x()},
      CaptionWidth(Shown(buttonFile_->text())), CaptionWidth(Shown(buttonServer_->text())),
      panelButton_->contentsRect().width());
  buttonFile_->setGeometry(placed.fileLeft, buttonFile_->y(), placed.fileWidth,
                           buttonFile_->height());
  buttonServer_->setGeometry(placed.serverLeft, buttonServer_->y(), placed.serverWidth,
                             buttonServer_->height());
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
  if (jobRunning_ && IsUserInput(event->type())) {
    // Dialogs a job opens (the folder picker) are windows of their own and
    // keep their input; so does Cancel. The window tells Cancel's shortcut
    // from a key meant for the field that has the focus.
    const auto* widget = qobject_cast<QWidget*>(watched);
    const QWidget* cancel = statusBand_->cancelButton();
    const bool forCancel = widget == cancel || event->type() == QEvent::ShortcutOverride;
    if (widget != nullptr && widget->window() == this && !forCancel) return true;
  }
  if (watched == panelButton_ && event->type() == QEvent::Resize) PanelButtonResize();
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (button != nullptr && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
      button->click();
      return true;
    }
  }
  if (IsDrag(event->type())) {
    if (auto* field = qobject_cast<QLineEdit*>(watched); field && TakeDrop(event, field)) {
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

QLineEdit* TFormMain::FieldForFile(const QString& path) const {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("xsd")) return editXSD_;
  if (suffix == QLatin1String("cod")) return editICod_;
  return editXML_;
}

bool TFormMain::TakeDrop(QEvent* event, QLineEdit* field) {
  auto* drop = static_cast<QDropEvent*>(event);
  const std::optional<QString> file = DraggedFile(drop->mimeData());
  if (!file || jobRunning_) return false;
  if (field == nullptr) field = FieldForFile(*file);
  drop->acceptProposedAction();
  if (event->type() == QEvent::Drop) {
    field->setText(*file);
    if (field == editXML_) xmlHandedIn_ = true;
  }
  return true;
}

void TFormMain::dragEnterEvent(QDragEnterEvent* event) {
  if (!TakeDrop(event, nullptr)) QWidget::dragEnterEvent(event);
}

void TFormMain::dragMoveEvent(QDragMoveEvent* event) {
  if (!TakeDrop(event, nullptr)) QWidget::dragMoveEvent(event);
}

void TFormMain::dropEvent(QDropEvent* event) {
  if (!TakeDrop(event, nullptr)) QWidget::dropEvent(event);
}

void TFormMain::setVisible(bool visible) {
  // Restored before the native window exists, so that the saved corner is
  // the frame's, as it was saved, and not the inner area's. Only the
  // program's own show comes here; the window system's (restoring a
  // minimised window) does not.
  if (visible && !isVisible()) {
    // Fitted onto the screen on the first start too: the design size does
    // not fit a small or scaled screen.
    if (services_.stateFilePath.empty()) {
      FitWindowOntoScreen(this);
    } else {
      RestoreFormState(this, services_.stateFilePath);
      folderPicker_.SetStartFolder(property(kLastFolderProperty).toString().toStdString());
    }
  }
  const bool shown = visible && !isVisible();
  QWidget::setVisible(visible);
  if (shown) KeepFrameOnScreen(this);
}

void TFormMain::moveEvent(QMoveEvent* event) {
  NoteNormalGeometry(this);
  QWidget::moveEvent(event);
}

void TFormMain::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange) {
    LeaveMaximisedAsRestored(this, static_cast<QWindowStateChangeEvent*>(event)->oldState());
  }
  QWidget::changeEvent(event);
}

void TFormMain::resizeEvent(QResizeEvent* event) {
  NoteNormalGeometry(this);
  QWidget::resizeEvent(event);
}

void TFormMain::SaveState() {
  if (services_.stateFilePath.empty()) return;
  setProperty(kLastFolderProperty, QString::fromStdString(folderPicker_.StartFolder()));
  try {
    SaveFormState(this, services_.stateFilePath);
  } catch (const std::exception& error) {
    // Nothing to show it in any more: the window is going away.
    qWarning("%s", error.what());
  }
}

void TFormMain::hideEvent(QHideEvent* event) {
  if (!event->spontaneous()) SaveState();
  QWidget::hideEvent(event);
}

void TFormMain::EndSession() {
  // Kept at once: a session that logs out does not wait long.
  SaveState();
  sessionEnding_ = true;
  // A dialog open meanwhile is refused, as if the operator had cancelled it.
  QWidget* refused = nullptr;
  while (QWidget* modal = QApplication::activeModalWidget()) {
    if (modal == refused) break;
    refused = modal;
    modal->close();
  }
  if (jobRunning_) {
    StopJob();
  } else {
    close();
  }
}

void TFormMain::closeEvent(QCloseEvent* event) {
  // A job runs on this thread and uses the window to its end: the window
  // closes once the job has stopped.
  if (jobRunning_) {
    event->ignore();
    if (sessionEnding_ || StopJobIfConfirmed(true)) closeAfterJob_ = true;
    return;
  }
  QWidget::closeEvent(event);
}

}  // namespace orx
