#include "app/window/form_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "app/window/button_placement.h"
#include "app/window/document_kinds.h"
#include "app/window/picker_panel.h"
#include "app/window/window_state.h"
#include "app/server_module.h"
#include "package/package_job.h"

namespace orx {
namespace {

constexpr int kPanelTopHeight = 41;
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

bool IsUserInput(QEvent::Type type) {
  switch (type) {
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
  explicit JobScope(TFormMain& form) : form_(form) {
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
  }
  JobScope(const JobScope&) = delete;
  JobScope& operator=(const JobScope&) = delete;

 private:
  TFormMain& form_;
};

TFormMain::TFormMain(FormMainServices services, QWidget* parent)
    : QWidget(parent),
      services_(std::move(services)),
      openDialog_(this, services_.dialogs ? *services_.dialogs : modalDialogs_),
      folderPicker_(this, services_.dialogs ? *services_.dialogs : modalDialogs_),
      jobContext_{.params = services_.params,
                  .log = log_,
                  .events = services_.events,
                  .clock = services_.clock,
                  .batchMode = false,
                  .folderPicker = &folderPicker_,
                  .blockingCalls = &networkWait_} {
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
  comboBoxTypeDocument_->setParent(panelTop);
  comboBoxTypeDocument_->setObjectName(QStringLiteral("ComboBoxTypeDocument"));
  comboBoxTypeDocument_->setEditable(false);
  for (const DocumentKindItem& item : kDocumentKindItems) {
    comboBoxTypeDocument_->addItem(Q(item.caption));
  }
  // Adding items to an empty list selects the first by itself.
  comboBoxTypeDocument_->setCurrentIndex(-1);
  comboBoxTypeDocument_->setToolTip(QStringLiteral("Выберите тип документа"));
  comboBoxTypeDocument_->setGeometry(24, 8, 201, comboBoxTypeDocument_->sizeHint().height());
  connect(comboBoxTypeDocument_, &QComboBox::activated, this,
          &TFormMain::ComboBoxTypeDocumentSelect);

  QWidget* panelXML = MakeFilePanel(
      QStringLiteral("PanelXML"), QStringLiteral("LabelXML"),
      QStringLiteral("Укажите исходный XML файл с сертификатами"), editXML_,
      QStringLiteral("EditXML"), QStringLiteral("PanelSelectXML"), 33,
      QStringLiteral("Выбор файла"), &TFormMain::PanelSelectXMLClick);
  QWidget* panelXSD = MakeFilePanel(
      QStringLiteral("PanelXSD"), QStringLiteral("LabelXSD"),
      QStringLiteral("Укажите XSD файл схемы проверки"), editXSD_, QStringLiteral("EditXSD"),
      QStringLiteral("PanelSelectXSD"), 34, QString(), &TFormMain::PanelSelectXSDClick);
  QWidget* panelICod = MakeFilePanel(
      QStringLiteral("PanelICod"), QStringLiteral("LabelICod"),
      QStringLiteral("Укажите файл iCod"), editICod_, QStringLiteral("EditICod"),
      QStringLiteral("PanelSelectICod"), 34, QString(), &TFormMain::PanelSelectICodClick);

  panelButton_ = new QWidget;
  panelButton_->setObjectName(QStringLiteral("PanelButton"));
  panelButton_->setMinimumHeight(kButtonTop + kButtonHeight);
  panelButton_->installEventFilter(this);
  buttonFile_ = new QPushButton(QStringLiteral("Сформировать файл"), panelButton_);
  buttonFile_->setObjectName(QStringLiteral("ButtonFile"));
  buttonFile_->setGeometry(0, kButtonTop, kButtonDesignWidth, kButtonHeight);
  connect(buttonFile_, &QPushButton::clicked, this, &TFormMain::ButtonFileClick);
  buttonServer_ = new QPushButton(QStringLiteral("Отправить на сервер"), panelButton_);
  buttonServer_->setObjectName(QStringLiteral("ButtonServer"));
  buttonServer_->setGeometry(0, kButtonTop, kButtonDesignWidth, kButtonHeight);
  connect(buttonServer_, &QPushButton::clicked, this, &TFormMain::ButtonServerClick);

  memoLog_ = new QPlainTextEdit;
  memoLog_->setObjectName(QStringLiteral("MemoLog"));
  memoLog_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Tab moves on to the next control instead of typing into the pane.
  memoLog_->setTabChangesFocus(true);

  QSplitter* splitter4 = MakeBandSplitter(QStringLiteral("TntSplitter4"), panelButton_, memoLog_, 77);
  QSplitter* splitter3 = MakeBandSplitter(QStringLiteral("TntSplitter3"), panelICod, splitter4, 85);
  QSplitter* splitter2 = MakeBandSplitter(QStringLiteral("TntSplitter2"), panelXSD, splitter3, 85);
  QSplitter* splitter1 = MakeBandSplitter(QStringLiteral("TntSplitter1"), panelXML, splitter2, 57);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(panelTop);
  layout->addWidget(splitter1, 1);

  setTabOrder(editXML_, editXSD_);
  setTabOrder(editXSD_, editICod_);
  setTabOrder(editICod_, buttonFile_);
  setTabOrder(buttonFile_, buttonServer_);
  setTabOrder(buttonServer_, memoLog_);
  setTabOrder(memoLog_, comboBoxTypeDocument_);
  editXML_->setFocus();
}

QWidget* TFormMain::MakeFilePanel(const QString& name, const QString& labelName,
                                  const QString& caption, QLineEdit*& edit,
                                  const QString& editName, const QString& pickerName,
                                  int pickerWidth, const QString& pickerHint,
                                  void (TFormMain::*onClick)()) {
  auto* panel = new QWidget;
  panel->setObjectName(name);
  auto* label = new QLabel(caption, panel);
  label->setObjectName(labelName);
  label->setAlignment(Qt::AlignCenter);
  // A narrow window cuts the caption instead of growing to fit it.
  label->setMinimumWidth(1);
  edit = new QLineEdit(panel);
  edit->setObjectName(editName);
  auto* picker = new PickerPanel(pickerName, pickerWidth, panel);
  picker->setToolTip(pickerHint);
  connect(picker, &PickerPanel::clicked, this, onClick);

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
}

void TFormMain::ComboBoxTypeDocumentSelect(int index) {
  if (jobRunning_) return;
  log_.Clear();
  editXML_->clear();
  if (index >= 0 && index < int(kDocumentKindItems.size())) {
    const DocumentKindItem& item = kDocumentKindItems[std::size_t(index)];
    editXSD_->setText(QString::fromStdString(FindSchema(services_.places, item.schemaName)));
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
void TFormMain::RunJob(Job job) {
  // The job lets queued input through while it runs; a second press must not
  // start another job inside it.
  if (jobRunning_) return;
  const JobScope scope(*this);
  const std::string xml = editXML_->text().toStdString();
  const std::string xsd = editXSD_->text().toStdString();
  const std::string keyFile = editICod_->text().toStdString();
  (void)job(jobContext_, xml, xsd, keyFile);  // the log pane tells how it ended
  if (sessionEnding_) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TFormMain::ButtonFileClick() {
  RunJob([](JobContext& context, const std::string& xml, const std::string& xsd,
            const std::string& keyFile) {
    const JobOutcome outcome = XmlToCod(context, xml, xsd, {}, keyFile);
    if (!context.packagePath.empty()) {
      context.log.Append(std::string(kPackageWrittenMessage) + context.packagePath);
    }
    return outcome;
  });
}

void TFormMain::ButtonServerClick() {
  RunJob([](JobContext& context, const std::string& xml, const std::string& xsd,
            const std::string& keyFile) {
    return RunServerJobModule(context, xml, xsd, keyFile);
  });
}

int TFormMain::CaptionWidth(const QString& caption) const {
  return QFontMetrics(font()).horizontalAdvance(caption);
}

void TFormMain::PanelButtonResize() {
  const ButtonPair placed = PlaceButtons(
      {buttonFile_->width(), buttonServer_->width(), buttonFile_->x(), buttonServer_->x()},
      CaptionWidth(buttonFile_->text()), CaptionWidth(buttonServer_->text()),
      panelButton_->contentsRect().width());
  buttonFile_->setGeometry(placed.fileLeft, buttonFile_->y(), placed.fileWidth,
                           buttonFile_->height());
  buttonServer_->setGeometry(placed.serverLeft, buttonServer_->y(), placed.serverWidth,
                             buttonServer_->height());
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
  if (jobRunning_ && IsUserInput(event->type())) {
    // Dialogs a job opens (the folder picker) are windows of their own and
    // keep their input.
    const auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == this) return true;
  }
  if (watched == panelButton_ && event->type() == QEvent::Resize) PanelButtonResize();
  return QWidget::eventFilter(watched, event);
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
  if (!jobRunning_) close();
}

void TFormMain::closeEvent(QCloseEvent* event) {
  // A job runs on this thread and uses the window to its end.
  if (jobRunning_) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

}  // namespace orx
