#include <QtTest>

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QWheelEvent>
#include <csignal>
#include <filesystem>

#include "app/window/button_placement.h"
#include "app/window/form_main.h"
#include "app/window/job_status.h"
#include "app/window/scripted_dialogs.h"
#include "app/window/session_end.h"
#include "package/cipher.h"
#include "support/xml_document.h"
#include "testing/https_test_server.h"
#include "testing/test_support.h"

namespace orx {
namespace {

// Captions of fixed widths, whatever fonts the machine has.
class MeasuredForm : public TFormMain {
 public:
  using TFormMain::TFormMain;

 protected:
  int CaptionWidth(const QString& caption) const override {
    return caption == QStringLiteral("Сформировать файл") ? 110 : 120;
  }
};

// What a window needs around it, and the window.
struct Bench {
  explicit Bench(std::string programFolder = {}, std::string statePath = {})
      : Bench(SearchPlaces{{programFolder}, {programFolder}}, std::move(statePath)) {}
  Bench(SearchPlaces places, std::string statePath) {
    form = std::make_unique<MeasuredForm>(FormMainServices{
        params, events, clock, std::move(places), std::move(statePath), &dialogs});
  }
  template <typename T>
  T* Child(const char* name) const {
    T* child = form->findChild<T*>(name);
    if (!child) qFatal("no control %s", name);
    return child;
  }
  void Show() const {
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) qFatal("window not exposed");
  }
  QStringList Lines() const {
    QStringList lines;
    for (const std::string& line : form->log().Lines()) lines << QString::fromStdString(line);
    return lines;
  }

  FixedClock clock{LocalDateTime{2008, 3, 5, 10, 20, 30}};
  KeyParameters params = KeyParameters::Initial(clock);
  MemoryEventSink events;
  ScriptedDialogs dialogs;
  std::unique_ptr<TFormMain> form;
};

const char* const kSchema =
    "<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
    "targetNamespace=\"urn:orx-rf:certificates\" elementFormDefault=\"qualified\">"
    "<xs:element name=\"dataPacket\"><xs:complexType><xs:sequence>"
    "<xs:any processContents=\"skip\" minOccurs=\"0\" maxOccurs=\"unbounded\"/>"
    "</xs:sequence><xs:anyAttribute processContents=\"skip\"/></xs:complexType></xs:element>"
    "</xs:schema>";

// The band under the log pane that states how a job went.
constexpr int kStatusHeight = 30;

// The office's key file; its server on 127.0.0.1 when a port is given.
std::string FormAKeyFile(int port = 0) {
  const std::string address =
      port == 0 ? "https://fa.example\" sport=\"443"
                : "https://127.0.0.1:" + std::to_string(port) + "/\" sport=\"" + std::to_string(port);
  std::string xml =
      "<DATAPACKET Version=\"2.0\"><ROWDATA><ROW PK_Code=\"FA\" orxn=\"7\" NumLocale=\"1\" "
      "orxk=\"00112233445566778899AABBCCDDEEFF\" sadr=\"" + address + "\"/>"
      "</ROWDATA></DATAPACKET>";
  EncryptCodStream(xml, "");
  return xml;
}

// A certificate file, its schema and the office's key file in a scratch
// folder, and an empty output folder beside them.
struct JobFiles {
  JobFiles() {
    std::filesystem::create_directory(out);
    fields.xmlPath = dir.Write("certs.xml", "<dataPacket><cert n=\"1\"/></dataPacket>");
    fields.xsdPath = dir.Write("FA.xsd", kSchema);
    fields.keyFilePath = dir.Write("FA_007_01_i.cod", FormAKeyFile());
  }
  testing::ScratchDir dir;
  std::string out = dir / "out";
  CommandLineFields fields;
};

}  // namespace

class FormMainTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InitXmlLibrary(); }

  void designLayout() {
    Bench bench;
    bench.Show();
    TFormMain& form = *bench.form;
    QCOMPARE(QRect(form.pos(), form.size()), QRect(330, 116, 628, 568));

    const std::vector<std::pair<const char*, int>> bands{
        {"PanelTop", 41}, {"PanelXML", 57},    {"PanelXSD", 85},
        {"PanelICod", 85}, {"PanelButton", 77},
        {"MemoLog", 568 - 41 - 57 - 85 - 85 - 77 - 4 * 3 - kStatusHeight}};
    for (const auto& [name, height] : bands) {
      QCOMPARE(bench.Child<QWidget>(name)->height(), height);
      QCOMPARE(bench.Child<QWidget>(name)->width(), 628);
    }

    auto* kinds = bench.Child<QComboBox>("ComboBoxTypeDocument");
    QCOMPARE(kinds->currentIndex(), -1);
    QCOMPARE(kinds->currentText(), QString());

    // The buttons' rule applied to the design width.
    QCOMPARE(bench.Child<QPushButton>("ButtonFile")->geometry(), QRect(91, 16, 132, 25));
    QCOMPARE(bench.Child<QPushButton>("ButtonServer")->geometry(), QRect(405, 16, 132, 25));

    // The keyboard focus goes round the fields, each with its picker, the
    // buttons, the log pane and last the kind list.
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    bench.Child<QLineEdit>("EditXML")->setFocus();
    QStringList order{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 11; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      order << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(order, (QStringList{"EditXML", "PanelSelectXML", "EditXSD", "PanelSelectXSD",
                                 "EditICod", "PanelSelectICod", "ButtonFile", "ButtonServer",
                                 "MemoLog", "ComboBoxTypeDocument", "ButtonAbout", "EditXML"}));
  }

  void keyboardAndScreenReaders_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("accessibleName");
    QTest::addColumn<QString>("caption");  // the label tied to it, if any
    QTest::addColumn<int>("mnemonic");     // Alt + this key focuses or presses it
    QTest::newRow("XML field") << "EditXML" << "Исходный XML файл с сертификатами" << "LabelXML"
                               << int(Qt::Key_X);
    QTest::newRow("schema field") << "EditXSD" << "XSD файл схемы проверки" << "LabelXSD"
                                  << int(Qt::Key_S);
    QTest::newRow("key file field") << "EditICod" << "Ключевой файл iCod" << "LabelICod"
                                    << int(Qt::Key_I);
    QTest::newRow("kind list") << "ComboBoxTypeDocument" << "Тип документа"
                               << "LabelTypeDocument" << 0x0422;  // Т
    QTest::newRow("log pane") << "MemoLog" << "Сообщения" << "" << 0;
    QTest::newRow("XML picker") << "PanelSelectXML" << "Выбрать исходный XML файл" << "" << 0;
    QTest::newRow("key file picker") << "PanelSelectICod" << "Выбрать ключевой файл" << "" << 0;
    QTest::newRow("package button") << "ButtonFile" << "Сформировать файл" << "" << 0x0421;  // С
    QTest::newRow("server button") << "ButtonServer" << "Отправить на сервер" << "" << 0x041E;  // О
  }

  void keyboardAndScreenReaders() {
    QFETCH(QString, control);
    QFETCH(QString, accessibleName);
    QFETCH(QString, caption);
    QFETCH(int, mnemonic);
    Bench bench;
    bench.Show();
    QApplication::setActiveWindow(bench.form.get());
    QVERIFY(QTest::qWaitForWindowActive(bench.form.get()));
    auto* widget = bench.Child<QWidget>(control.toUtf8().constData());
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible != nullptr);
    QCOMPARE(accessible->text(QAccessible::Name), accessibleName);
    if (!caption.isEmpty()) {
      QCOMPARE(bench.Child<QLabel>(caption.toUtf8().constData())->buddy(), widget);
      const auto labels = accessible->relations(QAccessible::Label);
      QCOMPARE(labels.size(), 1);
      QCOMPARE(labels.front().first->object()->objectName(), caption);
    }
    if (mnemonic == 0) return;
    bench.Child<QWidget>("MemoLog")->setFocus();
    const QString letter = mnemonic < 0x80 ? QString(QChar(mnemonic)).toLower() : QString(QChar(mnemonic));
    QTest::sendKeyEvent(QTest::Click, bench.form.get(), Qt::Key(mnemonic), letter, Qt::AltModifier);
    // A button's job finds no key file and ends; the button has the focus
    // again afterwards, not the log pane.
    if (qobject_cast<QPushButton*>(widget) != nullptr) {
      QTRY_VERIFY2(bench.Lines().join('\n').startsWith("ошибка: "),
                   qPrintable(bench.Lines().join('\n')));
    }
    QCOMPARE(QApplication::focusWidget(), widget);
  }

  // Run again on small and scaled screens (testing/CMakeLists.txt).
  void firstStartFitsTheScreen() {
    testing::ScratchDir dir;
    Bench bench(std::string(), dir / "ConvertorOrx.xml");
    bench.Show();
    const QRect area = bench.form->screen()->availableGeometry();
    QVERIFY2(area.contains(bench.form->frameGeometry()),
             qPrintable(QString("%1,%2 %3x%4").arg(bench.form->frameGeometry().x())
                            .arg(bench.form->frameGeometry().y())
                            .arg(bench.form->frameGeometry().width())
                            .arg(bench.form->frameGeometry().height())));
    // The log pane gave way; the bands kept their heights.
    QCOMPARE(bench.Child<QWidget>("PanelXSD")->height(), 85);
    QCOMPARE(bench.Child<QWidget>("PanelButton")->height(), 77);
    QVERIFY(bench.Child<QWidget>("MemoLog")->height() > 0);

    // However narrow the operator makes it, no caption is cut.
    bench.form->resize(150, bench.form->height());
    QTRY_VERIFY(bench.form->width() > 150);
    for (const char* name : {"LabelXML", "LabelXSD", "LabelICod", "LabelTypeDocument"}) {
      auto* label = bench.Child<QLabel>(name);
      QVERIFY2(label->width() >= label->sizeHint().width(), name);
    }
  }

  void kindSelection_data() {
    QTest::addColumn<QStringList>("entries");  // a trailing "/" makes a folder
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("schema");
    QTest::addColumn<QString>("keyFile");

    QTest::newRow("Форма А") << QStringList{"FA_007_01_i.cod", "CT_001_01_i.cod"} << 0 << "FA.xsd"
                             << "FA_007_01_i.cod";
    QTest::newRow("СТ1 looks for CT_, not CT1_")
        << QStringList{"CT1_001_01_i.cod", "CT_001_01_i.cod"} << 1 << "CT1.xsd"
        << "CT_001_01_i.cod";
    QTest::newRow("СТ1 with a CT1_ key only") << QStringList{"CT1_001_01_i.cod"} << 1 << "CT1.xsd"
                                              << "";
    QTest::newRow("ТТС, letter case ignored") << QStringList{"ttc_123_45_I.COD"} << 5 << "tts.xsd"
                                              << "ttc_123_45_I.COD";
    QTest::newRow("two digits where three are wanted")
        << QStringList{"FA_01_01_i.cod", "FA_0001_01_i.cod"} << 0 << "FA.xsd" << "";
    QTest::newRow("a folder is no key file") << QStringList{"FA_001_01_i.cod/"} << 0 << "FA.xsd"
                                             << "";
    QTest::newRow("the folder passed over, the file taken")
        << QStringList{"FA_001_01_i.cod/", "FA_002_01_i.cod"} << 0 << "FA.xsd"
        << "FA_002_01_i.cod";
  }

  void kindSelection() {
    QFETCH(QStringList, entries);
    QFETCH(int, item);
    QFETCH(QString, schema);
    QFETCH(QString, keyFile);
    testing::ScratchDir programFolder;
    for (const QString& entry : entries) {
      if (entry.endsWith('/')) {
        std::filesystem::create_directory(programFolder / entry.chopped(1).toStdString());
      } else {
        programFolder.Write(entry.toStdString(), "key");
      }
    }
    programFolder.Write(schema.toStdString(), "schema");
    const QString folder = QString::fromStdString(programFolder.path().string()) + "/";
    Bench bench(programFolder.path().string());
    auto* editXML = bench.Child<QLineEdit>("EditXML");

    // Choosing the same item twice clears the fields and the pane again.
    for (int round = 0; round < 2; ++round) {
      editXML->setText("certs.xml");
      bench.Child<QLineEdit>("EditICod")->setText("earlier.cod");
      bench.form->log().Append("line of an earlier job");
      emit bench.Child<QComboBox>("ComboBoxTypeDocument")->activated(item);

      QCOMPARE(editXML->text(), QString());
      QCOMPARE(bench.Child<QLineEdit>("EditXSD")->text(), folder + schema);
      QCOMPARE(bench.Child<QLineEdit>("EditICod")->text(),
               keyFile.isEmpty() ? QString() : folder + keyFile);
      const QStringList lines =
          keyFile.isEmpty() ? QStringList{"Не удалось найти нужный i.cod", "Укажите файл вручную!"}
                            : QStringList{};
      QCOMPARE(bench.Lines(), lines);
      QCOMPARE(bench.Child<QPlainTextEdit>("MemoLog")->toPlainText(), lines.join('\n'));
    }
  }

  void installedPlaces_data() {
    QTest::addColumn<QStringList>("entries");  // under bin/, data/, etc/ and usr/
    QTest::addColumn<QString>("keyFile");
    QTest::addColumn<QString>("schema");
    QTest::newRow("beside the program first")
        << QStringList{"bin/FA_001_01_i.cod", "data/keys/FA_002_01_i.cod", "bin/FA.xsd",
                       "data/schemas/FA.xsd"}
        << "bin/FA_001_01_i.cod" << "bin/FA.xsd";
    QTest::newRow("the user's data before the system's")
        << QStringList{"data/keys/FA_002_01_i.cod", "etc/keys/FA_003_01_i.cod",
                       "data/schemas/FA.xsd", "usr/schemas/FA.xsd"}
        << "data/keys/FA_002_01_i.cod" << "data/schemas/FA.xsd";
    QTest::newRow("the system's places last")
        << QStringList{"etc/keys/FA_003_01_i.cod", "usr/schemas/FA.xsd"}
        << "etc/keys/FA_003_01_i.cod" << "usr/schemas/FA.xsd";
    QTest::newRow("nowhere") << QStringList{} << "" << "";
  }

  void installedPlaces() {
    QFETCH(QStringList, entries);
    QFETCH(QString, keyFile);
    QFETCH(QString, schema);
    testing::ScratchDir root;
    for (const char* folder : {"bin", "data/keys", "data/schemas", "etc/keys", "usr/schemas"}) {
      std::filesystem::create_directories(root / folder);
    }
    for (const QString& entry : entries) root.Write(entry.toStdString(), "x");
    const QString base = QString::fromStdString(root.path().string()) + "/";
    Bench bench(SearchPlaces{{root / "bin", root / "data/keys", root / "etc/keys"},
                             {root / "bin", root / "data/schemas", root / "usr/schemas"}},
                {});
    emit bench.Child<QComboBox>("ComboBoxTypeDocument")->activated(0);
    QCOMPARE(bench.Child<QLineEdit>("EditICod")->text(),
             keyFile.isEmpty() ? QString() : base + keyFile);
    QCOMPARE(bench.Child<QLineEdit>("EditXSD")->text(), schema.isEmpty() ? "" : base + schema);
    if (schema.isEmpty()) {
      // The operator learns where the schema was looked for.
      QCOMPARE(bench.Lines().mid(0, 4),
               (QStringList{"Не найден файл схемы FA.xsd, искали в папках:", "    " + base + "bin",
                            "    " + base + "data/schemas", "    " + base + "usr/schemas"}));
    }

    // Where an installed program looks, whatever the current folder.
    const SearchPlaces places = InstallSearchPlaces("/usr/bin", "relative/data", nullptr);
    QCOMPARE(places.keyFolders, (std::vector<std::string>{"/usr/bin", "/etc/convertor-orx/keys"}));
    QCOMPARE(InstallSearchPlaces("/usr/bin", nullptr, "/home/op").schemaFolders,
             (std::vector<std::string>{"/usr/bin", "/home/op/.local/share/convertor-orx/schemas",
                                       "/etc/convertor-orx/schemas",
                                       "/usr/share/convertor-orx/schemas"}));

    // Nor does the window's state file land under the current folder.
    const testing::ScopedEnv appData("APPDATA", nullptr);
    const testing::ScopedEnv configHome("XDG_CONFIG_HOME", "relative/config");
    const testing::ScopedEnv home("HOME", nullptr);
    const std::string stateFile = WindowStateFilePath();
    QVERIFY2(stateFile.empty() || stateFile.starts_with('/'), stateFile.c_str());
  }

  void wheelOverKindListNeedsFocus() {
    Bench bench;
    bench.Show();
    QApplication::setActiveWindow(bench.form.get());
    QVERIFY(QTest::qWaitForWindowActive(bench.form.get()));
    auto* kinds = bench.Child<QComboBox>("ComboBoxTypeDocument");
    auto* editXML = bench.Child<QLineEdit>("EditXML");
    editXML->setText("certs.xml");
    editXML->setFocus();
    for (const bool focused : {false, true}) {
      if (focused) kinds->setFocus();
      const QPointF centre = QRectF(kinds->rect()).center();
      QWheelEvent wheel(centre, kinds->mapToGlobal(centre), {}, QPoint(0, -120), Qt::NoButton,
                        Qt::NoModifier, Qt::NoScrollPhase, false);
      QApplication::sendEvent(kinds, &wheel);
      QCOMPARE(kinds->hasFocus(), focused);
      QCOMPARE(kinds->currentIndex(), focused ? 0 : -1);
      QCOMPARE(editXML->text(), focused ? QString() : QString("certs.xml"));
    }
  }

  void buttonPlacement_data() {
    QTest::addColumn<QList<int>>("bandWidths");
    QTest::addColumn<QList<int>>("expected");  // width, left of ButtonFile, left of ButtonServer
    QTest::newRow("design, then narrow, then wide")
        << QList<int>{628, 200, 600} << QList<int>{132, 91, 405, 100, 0, 100, 132, 84, 384};
    QTest::newRow("odd quarter") << QList<int>{203} << QList<int>{100, 0, 100};
  }

  // Captions of 110 and 120 pixels; the window is never this narrow, so the
  // rule is checked on its own.
  void buttonPlacement() {
    QFETCH(QList<int>, bandWidths);
    QFETCH(QList<int>, expected);
    ButtonPair buttons{75, 75, 0, 0};
    for (int i = 0; i < bandWidths.size(); ++i) {
      buttons = PlaceButtons(buttons, 110, 120, bandWidths[i]);
      QCOMPARE(QList<int>({buttons.fileWidth, buttons.fileLeft, buttons.serverLeft}),
               expected.mid(3 * i, 3));
      QCOMPARE(buttons.serverWidth, buttons.fileWidth);
    }
  }

  void filePickerFillsTheField() {
    testing::ScratchDir dir;
    const QString folder = QString::fromStdString(dir.path().string());
    Bench bench;
    bench.Show();
    auto* editXML = bench.Child<QLineEdit>("EditXML");
    editXML->setText("old.xml");
    bench.dialogs.Push(ScriptedDialogs::Choose(folder + "/certs.xml"));
    QTest::mouseClick(bench.Child<QPushButton>("PanelSelectXML"), Qt::LeftButton);
    QCOMPARE(editXML->text(), folder + "/certs.xml");

    // From the keyboard too: Enter on the focused picker.
    bench.dialogs.Push(ScriptedDialogs::Cancel());
    QTest::keyClick(bench.Child<QPushButton>("PanelSelectXML"), Qt::Key_Return);
    QCOMPARE(editXML->text(), folder + "/certs.xml");
    QCOMPARE(bench.dialogs.shown().size(), std::size_t(2));
  }

  void fileHandedToTheWindow_data() {
    QTest::addColumn<QString>("target");  // where it is dropped; empty: on the command line
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("field");
    QTest::newRow("single argument") << "" << "/home/op/Мои документы/серт 1.xml" << "EditXML";
    QTest::newRow("dropped on the window") << "FormMain" << "/tmp/certs.xml" << "EditXML";
    QTest::newRow("a schema dropped on the window") << "FormMain" << "/tmp/FA.XSD" << "EditXSD";
    QTest::newRow("a key file dropped on the window") << "FormMain" << "/tmp/FA_007_01_i.cod"
                                                      << "EditICod";
    QTest::newRow("dropped on a field") << "EditICod" << "/tmp/other.xml" << "EditICod";
  }

  void fileHandedToTheWindow() {
    QFETCH(QString, target);
    QFETCH(QString, file);
    QFETCH(QString, field);
    Bench bench;
    if (target.isEmpty()) {
      std::vector<std::string> argv{"convertor-orx", file.toStdString()};
      std::vector<const char*> args{argv[0].c_str(), argv[1].c_str()};
      bench.form->SetFields(
          SplitParameterText(ParameterTextFromArguments(int(args.size()), args.data())));
    }
    bench.Show();
    if (!target.isEmpty()) {
      QMimeData mime;
      mime.setUrls({QUrl::fromLocalFile(file)});
      mime.setText(QUrl::fromLocalFile(file).toString());
      QWidget* widget = target == "FormMain" ? bench.form.get()
                                             : bench.Child<QWidget>(target.toUtf8().constData());
      QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(widget, &enter);
      QVERIFY(enter.isAccepted());
      QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(widget, &drop);
    }
    QCOMPARE(bench.Child<QLineEdit>(field.toUtf8().constData())->text(), file);

    // The kind chosen for an XML file handed in keeps it; the next choice
    // is an ordinary one.
    if (field != "EditXML") return;
    auto* kinds = bench.Child<QComboBox>("ComboBoxTypeDocument");
    emit kinds->activated(0);
    QCOMPARE(bench.Child<QLineEdit>("EditXML")->text(), file);
    emit kinds->activated(1);
    QCOMPARE(bench.Child<QLineEdit>("EditXML")->text(), QString());
  }

  void aboutBoxOnF1() {
    Bench bench;
    bench.Show();
    QApplication::setActiveWindow(bench.form.get());
    QVERIFY(QTest::qWaitForWindowActive(bench.form.get()));
    QTest::keyClick(bench.form.get(), Qt::Key_F1);
    QCOMPARE(bench.dialogs.messages().size(), 1);
    const QString about = bench.dialogs.messages().front();
    QVERIFY2(about.startsWith("О программе: ") && about.contains("версия 4.1.1.1") &&
                 about.contains("MIT"),
             qPrintable(about));
  }

  void jobsFromButtons_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("withKey");
    QTest::addColumn<bool>("folderChosen");
    QTest::addColumn<bool>("written");
    QTest::addColumn<bool>("schemaInParts");  // the example's, importing its types
    QTest::addColumn<QString>("status");       // how the status line begins
    QTest::newRow("package file written")
        << "ButtonFile" << true << true << true << false << "Файл сформирован: ";
    QTest::newRow("package file written, schema in parts")
        << "ButtonFile" << true << true << true << true << "Файл сформирован: ";
    QTest::newRow("package job, folder refused")
        << "ButtonFile" << true << false << false << false
        << "Файл не сформирован: каталог не выбран";
    QTest::newRow("package job, no key file")
        << "ButtonFile" << false << true << false << false << "Файл не сформирован: Cannot open file";
    QTest::newRow("server job, no key file") << "ButtonServer" << false << true << false << false
                                             << "Сертификаты не отправлены: Cannot open file";
  }

  void jobsFromButtons() {
    QFETCH(QString, button);
    QFETCH(bool, withKey);
    QFETCH(bool, folderChosen);
    QFETCH(bool, written);
    QFETCH(bool, schemaInParts);
    QFETCH(QString, status);
    JobFiles files;
    const testing::ScratchDir& dir = files.dir;
    const std::string& out = files.out;
    CommandLineFields& fields = files.fields;
    if (schemaInParts) {
      fields.xmlPath = testing::SourceDir() + "/examples/certificates.xml";
      fields.xsdPath = testing::WriteSchemaInParts(dir.path(), testing::SchemaParts::Imported);
    }
    if (!withKey) fields.keyFilePath = dir / "none.cod";
    const std::string statePath = dir / "ConvertorOrx.xml";
    Bench bench(std::string(), statePath);
    bench.form->SetFields(fields);
    bench.Show();
    auto* fileButton = bench.Child<QPushButton>("ButtonFile");
    auto* serverButton = bench.Child<QPushButton>("ButtonServer");

    bool disabledWhileRunning = false;
    bench.dialogs.Push([&](QFileDialog& dialog) {
      disabledWhileRunning = bench.form->jobRunning() && !fileButton->isEnabled() &&
                             !serverButton->isEnabled() && !bench.form->close();
      // Input that arrives while the job runs starts nothing, neither now
      // nor once the job has ended.
      bench.form->ButtonFileClick();
      bench.form->ButtonServerClick();
      bench.form->ComboBoxTypeDocumentSelect(0);
      for (QPushButton* pressed : {fileButton, serverButton}) {
        const QPointF centre = QRectF(pressed->rect()).center();
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
          QCoreApplication::postEvent(
              pressed, new QMouseEvent(type, centre, pressed->mapToGlobal(centre), Qt::LeftButton,
                                       type == QEvent::MouseButtonPress ? Qt::LeftButton
                                                                        : Qt::NoButton,
                                       Qt::NoModifier));
        }
      }
      dialog.selectFile(QString::fromStdString(out));
      return folderChosen;
    });
    bench.form->log().Append("line of an earlier job");
    QTest::mouseClick(bench.Child<QPushButton>(button.toUtf8().constData()), Qt::LeftButton);
    QCoreApplication::processEvents();

    QVERIFY(!bench.form->jobRunning());
    QVERIFY(fileButton->isEnabled());
    QVERIFY(serverButton->isEnabled());
    const QString statusLine = bench.Child<QLabel>("LabelStatus")->text();
    QVERIFY2(statusLine.startsWith(status), qPrintable(statusLine));
    QVERIFY(!bench.Child<QWidget>("ButtonCancel")->isVisible());
    const std::string package = out + "/FA_007_01_2008.03.05_x.zip.cod";
    QCOMPARE(std::filesystem::exists(package), written);
    if (written) {
      QVERIFY(disabledWhileRunning);
      QCOMPARE(bench.dialogs.shown().size(), std::size_t(1));
      QCOMPARE(bench.dialogs.shown()[0].title, QString("Выберите каталог сохранения файлов"));
      QCOMPARE(bench.Lines(),
               QStringList{"Файл сформирован: " + QString::fromStdString(package)});
      std::string archive = testing::ReadFile(package);
      DecryptCodStream(archive, "00112233445566778899AABBCCDDEEFF");
      QVERIFY(archive.starts_with("PK\x03\x04"));
      QCOMPARE(bench.Child<QLineEdit>("EditXML")->text().toStdString(), fields.xmlPath);

      // The next run's folder picker opens where this one was left.
      bench.form->close();
      Bench next(std::string(), statePath);
      next.form->SetFields(fields);
      next.Show();
      next.form->ButtonFileClick();
      QCOMPARE(next.dialogs.shown().at(0).directory, QString::fromStdString(out));
    } else if (withKey) {
      // Refusing the folder leaves the pane as it was before the job.
      QCOMPARE(bench.Lines(), QStringList{"line of an earlier job"});
    } else {
      QCOMPARE(bench.dialogs.shown().size(), std::size_t(0));
      const QStringList lines = bench.Lines();
      QCOMPARE(lines.size(), 1);
      QVERIFY2(lines[0].startsWith("ошибка: "), qPrintable(lines[0]));
      QCOMPARE(bench.Child<QPlainTextEdit>("MemoLog")->toPlainText(), lines[0]);
    }
  }

  void statusLine_data() {
    QTest::addColumn<int>("kind");  // JobKind
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("reached");
    QTest::addColumn<int>("serverStatus");  // -1: no verdict read
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("tone");
    const int package = int(JobKind::Package);
    const int server = int(JobKind::Server);
    const int ok = int(JobOutcome::Succeeded);
    const int failed = int(JobOutcome::Failed);
    const int stopped = int(JobOutcome::Cancelled);
    const int checking = int(JobStep::Validation);
    const int sending = int(JobStep::Sending);
    using Tone = StatusLine::Tone;
    QTest::newRow("package written") << package << ok << int(JobStep::Packing) << -1 << false
                                     << "Файл сформирован: /out/FA.cod" << int(Tone::Good);
    QTest::newRow("folder refused") << package << stopped << int(JobStep::Packing) << -1 << false
                                    << "Файл не сформирован: каталог не выбран" << int(Tone::Plain);
    QTest::newRow("package cancelled") << package << stopped << checking << -1 << true
                                       << "Файл не сформирован: отменено оператором"
                                       << int(Tone::Plain);
    QTest::newRow("package failed") << package << failed << checking << -1 << false
                                    << "Файл не сформирован: причина" << int(Tone::Bad);
    QTest::newRow("accepted") << server << ok << sending << 0 << false
                              << "Сервер принял сертификаты" << int(Tone::Good);
    QTest::newRow("accepted with remarks") << server << ok << sending << 1 << false
                                           << "Сервер принял сертификаты с замечаниями"
                                           << int(Tone::Doubtful);
    QTest::newRow("rejected") << server << failed << sending << 2 << false
                              << "Сервер отклонил сертификаты" << int(Tone::Bad);
    QTest::newRow("not sent") << server << failed << int(JobStep::Connecting) << -1 << false
                              << "Сертификаты не отправлены: причина" << int(Tone::Bad);
    QTest::newRow("sent, no verdict")
        << server << failed << sending << -1 << false
        << "Ответ сервера не получен, сервер мог получить сертификаты: причина"
        << int(Tone::Doubtful);
    QTest::newRow("cancelled before sending")
        << server << stopped << int(JobStep::Connecting) << -1 << true
        << "Сертификаты не отправлены: отменено оператором" << int(Tone::Plain);
    QTest::newRow("cancelled while sending")
        << server << stopped << sending << -1 << true
        << "Отправка прервана: сервер мог уже получить сертификаты" << int(Tone::Doubtful);
  }

  void statusLine() {
    QFETCH(int, kind);
    QFETCH(int, outcome);
    QFETCH(int, reached);
    QFETCH(int, serverStatus);
    QFETCH(bool, cancelled);
    QFETCH(QString, text);
    QFETCH(int, tone);
    JobReport report;
    report.reached = JobStep(reached);
    if (serverStatus >= 0) report.serverStatus = serverStatus;
    report.failure = cancelled ? "отменено" : "причина";
    report.cancelled = cancelled;
    const StatusLine line = OutcomeLine(JobKind(kind), JobOutcome(outcome), report, "/out/FA.cod");
    QCOMPARE(line.text, text);
    QCOMPARE(int(line.tone), tone);
  }

  void cancelFromTheWindow_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("action");  // what the operator does while the job runs
    QTest::addColumn<QString>("asked");   // how the question asked begins; empty: none
    QTest::addColumn<QString>("status");  // how the status line begins
    QTest::addColumn<bool>("windowStays");
    QTest::newRow("Cancel") << "ButtonFile" << "cancel" << ""
                            << "Файл не сформирован: отменено оператором" << true;
    QTest::newRow("window closed, stopping confirmed")
        << "ButtonFile" << "close, yes" << "Конвертор XML: Задание ещё не закончено."
        << "Файл не сформирован: отменено оператором" << false;
    QTest::newRow("window closed, stopping refused")
        << "ButtonFile" << "close, no" << "Конвертор XML: Задание ещё не закончено."
        << "Файл сформирован: " << true;
    QTest::newRow("Cancel while the verdict is awaited")
        << "ButtonServer" << "cancel when awaited"
        << "Конвертор XML: Сертификаты уже отправляются: сервер мог их получить"
        << "Отправка прервана: сервер мог уже получить сертификаты" << true;
  }

  void cancelFromTheWindow() {
    QFETCH(QString, button);
    QFETCH(QString, action);
    QFETCH(QString, asked);
    QFETCH(QString, status);
    QFETCH(bool, windowStays);
    JobFiles files;
    testing::ScratchDir& dir = files.dir;
    const std::string& out = files.out;
    CommandLineFields& fields = files.fields;
    // For the server job, a certificate-database server whose verdict does
    // not come, and a dispatcher that names it; the key file points at the
    // dispatcher.
    std::shared_ptr<testing::TestPki> pki;
    std::optional<testing::ScopedEnv> trust;
    std::optional<testing::HttpsTestServer> cdb;
    std::optional<testing::HttpsTestServer> dispatcher;
    if (button == "ButtonServer") {
      pki = std::make_shared<testing::TestPki>();
      trust.emplace("SSL_CERT_FILE", pki->caFile().c_str());
      testing::HttpsTestServer::Options setup;
      setup.pki = pki;
      setup.serverNames = {"127.0.0.1"};
      testing::HttpsTestReply silent = testing::Reply("<r><status>0</status></r>");
      silent.stallSeconds = 30;
      setup.script = {{"/cdb/version", {testing::Reply("<r><certificate/></r>")}},
                      {"/cdb/save", {silent}}};
      cdb.emplace(setup);
      setup.script = {{"/sync/hello",
                       {testing::Reply("<hello><exchangeProtocol version=\"2\"/><cdb "
                                       "host=\"127.0.0.1\" port=\"" +
                                       std::to_string(cdb->port()) + "\" path=\"/cdb/\"/></hello>")}}};
      dispatcher.emplace(setup);
      fields.keyFilePath = dir.Write("FA_007_01_i.cod", FormAKeyFile(dispatcher->port()));
    }

    Bench bench;
    bench.form->SetFields(fields);
    bench.Show();
    bench.dialogs.Push(ScriptedDialogs::Choose(QString::fromStdString(out)));
    if (action.endsWith("yes") || action.endsWith("awaited")) {
      bench.dialogs.PushReply([](QMessageBox&) { return QMessageBox::Yes; });
    }
    auto* cancel = bench.Child<QPushButton>("ButtonCancel");
    auto* statusLine = bench.Child<QLabel>("LabelStatus");
    bool done = false;
    // Ticks at every turn of the event loop: the first comes while the job
    // starts, before its first step.
    QTimer operatorHand;
    operatorHand.setInterval(action.endsWith("awaited") ? 10 : 0);
    connect(&operatorHand, &QTimer::timeout, [&] {
      if (done || !bench.form->jobRunning()) return;
      if (action == "cancel when awaited" && statusLine->text() != "Ожидание ответа сервера…") {
        return;
      }
      done = true;
      // As a person does it: through the window's input, which a job
      // otherwise keeps from the window.
      if (action.startsWith("cancel")) {
        QTest::mouseClick(cancel, Qt::LeftButton);
      } else {
        bench.form->close();
      }
    });
    operatorHand.start();
    QTest::mouseClick(bench.Child<QPushButton>(button.toUtf8().constData()), Qt::LeftButton);
    QTRY_VERIFY(!bench.form->jobRunning());
    operatorHand.stop();

    QVERIFY(done);
    QCOMPARE(bench.dialogs.messages().size(), asked.isEmpty() ? 0 : 1);
    if (!asked.isEmpty()) {
      QVERIFY2(bench.dialogs.messages().front().startsWith(asked),
               qPrintable(bench.dialogs.messages().front()));
    }
    QVERIFY2(statusLine->text().startsWith(status), qPrintable(statusLine->text()));
    QCOMPARE(std::filesystem::exists(out + "/FA_007_01_2008.03.05_x.zip.cod"),
             status.startsWith("Файл сформирован"));
    QTRY_COMPARE(bench.form->isVisible(), windowStays);
  }

  void geometryBetweenRuns_data() {
    QTest::addColumn<QString>("firstRun");
    QTest::newRow("moved against the bottom right corner") << "corner";
    QTest::newRow("maximised after the window manager resized it") << "maximised";
  }

  void geometryBetweenRuns() {
    QFETCH(QString, firstRun);
    testing::ScratchDir dir;
    const std::string path = dir / "ConvertorOrx.xml";
    QRect frame;
    {
      Bench first(std::string(), path);
      first.Show();
      TFormMain& form = *first.form;
      const QRect area = form.screen()->availableGeometry();
      form.resize(600, 500);
      QTRY_COMPARE(form.size(), QSize(600, 500));
      if (firstRun == "corner") {
        form.move(area.bottomRight() - QPoint(form.frameGeometry().width() - 1,
                                              form.frameGeometry().height() - 1));
        QTRY_COMPARE(form.frameGeometry().bottomRight(), area.bottomRight());
      } else {
        form.move(100, 90);
        QTRY_COMPARE(form.pos(), QPoint(100, 90));
        // As icewm does it: the window moved and resized to its maximised
        // extent before it is told that it is maximised.
        const QRect frame = form.frameGeometry();
        const QRect inner = form.geometry();
        const QRect maximised = area.marginsRemoved(
            QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
                     frame.right() - inner.right(), frame.bottom() - inner.bottom()));
        form.setGeometry(maximised);
        QTRY_COMPARE(form.geometry(), maximised);
        form.setWindowState(Qt::WindowMaximized);
        QTRY_VERIFY(form.isMaximized());
      }
      frame = firstRun == "corner" ? form.frameGeometry() : QRect(100, 90, 0, 0);
      form.close();
    }
    const XmlDocument saved = XmlDocument::LoadFile(path);
    const XmlNode entry = saved.Root().ChildAt(0);
    QCOMPARE(entry.Attribute("Width").value_or(""), std::string("600"));

    Bench second(std::string(), path);
    second.Show();
    if (firstRun == "corner") {
      QCOMPARE(second.form->frameGeometry(), frame);
    } else {
      QTRY_VERIFY(second.form->isMaximized());
      second.form->showNormal();
      QTRY_COMPARE(QRect(second.form->pos(), second.form->size()), QRect(100, 90, 600, 500));
    }
  }

  void sessionEndKeepsTheState_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
  }

  void sessionEndKeepsTheState() {
    QFETCH(int, signalNumber);
    testing::ScratchDir dir;
    const std::string path = dir / "ConvertorOrx.xml";
    Bench bench(std::string(), path);
    const SessionEndSignals sessionEnd;
    QObject::connect(&sessionEnd, &SessionEndSignals::sessionEnds, bench.form.get(),
                     &TFormMain::EndSession);
    bench.Show();
    bench.form->move(120, 110);
    QTRY_COMPARE(bench.form->pos(), QPoint(120, 110));
    std::raise(signalNumber);
    QTRY_VERIFY(!bench.form->isVisible());
    const XmlDocument saved = XmlDocument::LoadFile(path);
    const XmlNode entry = saved.Root().ChildAt(0);
    QCOMPARE(entry.Attribute("Left").value_or(""), std::string("120"));
  }

  void windowKeepsItsBandsBetweenRuns() {
    testing::ScratchDir dir;
    const std::string path = dir / "ConvertorOrx.xml";
    {
      Bench first(std::string(), path);
      first.Show();
      first.form->move(100, 100);
      first.form->resize(600, 500);
      QTRY_COMPARE(first.Child<QWidget>("MemoLog")->height(),
                   500 - 41 - 57 - 85 - 85 - 77 - 12 - kStatusHeight);
      auto* splitter2 = first.Child<QSplitter>("TntSplitter2");
      splitter2->setSizes({120, splitter2->height() - 123});
      QCOMPARE(first.Child<QWidget>("PanelXSD")->height(), 120);
      first.form->close();
    }
    const XmlDocument saved = XmlDocument::LoadFile(path);
    QCOMPARE(saved.Root().ChildCount(), 1);
    const XmlNode entry = saved.Root().ChildAt(0);
    QCOMPARE(entry.NodeName(), std::string("TFormMain"));
    QCOMPARE(entry.Attribute("Name").value_or(""), std::string("FormMain"));
    QStringList names;
    for (int i = 0; i < entry.ChildCount(); ++i) {
      names << QString::fromStdString(entry.ChildAt(i).Attribute("Name").value_or(""));
    }
    names.sort();
    QCOMPARE(names.join(' '),
             "ButtonAbout ButtonCancel ButtonFile ButtonServer ComboBoxTypeDocument EditICod EditXML "
             "EditXSD LabelICod LabelStatus LabelTypeDocument LabelXML LabelXSD MemoLog PanelButton "
             "PanelICod PanelSelectICod PanelSelectXML PanelSelectXSD PanelStatus PanelTop PanelXML "
             "PanelXSD ProgressJob TntSplitter1 TntSplitter2 TntSplitter3 TntSplitter4");

    Bench second(std::string(), path);
    second.Show();
    QCOMPARE(QRect(second.form->pos(), second.form->size()), QRect(100, 100, 600, 500));
    QTRY_COMPARE(second.Child<QWidget>("PanelXSD")->height(), 120);
    QCOMPARE(second.Child<QWidget>("PanelXML")->height(), 57);
    QCOMPARE(second.Child<QWidget>("PanelICod")->height(), 85);
    QCOMPARE(second.Child<QWidget>("PanelButton")->height(), 77);
    QCOMPARE(second.Child<QWidget>("MemoLog")->height(),
             500 - 41 - 57 - 120 - 85 - 77 - 12 - kStatusHeight);
  }
};

}  // namespace orx

QTEST_MAIN(orx::FormMainTest)
#include "form_main_test.moc"
