#include <QtTest>

#include "app/window/file_picker.h"
#include "app/window/pin_dialog.h"
#include "app/window/worker_wait.h"
#include "app/window/scripted_dialogs.h"
#include "app/window/select_dir_dialog.h"
#include "testing/test_support.h"

namespace orx {
namespace {

QString Path(const testing::ScratchDir& dir, const char* name) {
  return QString::fromStdString(dir / name);
}

}  // namespace

class PickersTest : public QObject {
  Q_OBJECT

 private slots:
  void filePickerAddsSuffixAndStartsFromLastChoice() {
    testing::ScratchDir dir;
    ScriptedDialogs dialogs;
    FilePicker picker(nullptr, dialogs);

    dialogs.Push(ScriptedDialogs::Choose(Path(dir, "certs")));
    const auto first = picker.Execute({"xml", "*.xml", "Укажите исходный файл с сертификатами"});
    QCOMPARE(first.value_or(QString()), Path(dir, "certs.xml"));

    dialogs.Push(ScriptedDialogs::Cancel());
    QVERIFY(!picker.Execute({"cod", "*.cod", "Укажите ключевой файл"}));
    QCOMPARE(picker.lastFile(), Path(dir, "certs.xml"));

    // The one picker serves every field: the schema picker opens on the XML file.
    dialogs.Push(ScriptedDialogs::Choose(Path(dir, "FA.xsd")));
    QCOMPARE(picker.Execute({"xsd", "*.xsd", "Укажите файл схемы проверки"}).value_or(QString()),
             Path(dir, "FA.xsd"));

    const std::vector<ShownDialog>& shown = dialogs.shown();
    QCOMPARE(shown.size(), std::size_t(3));
    QCOMPARE(shown[0].title, QString("Укажите исходный файл с сертификатами"));
    QCOMPARE(shown[0].nameFilters, QStringList{"*.xml"});
    QCOMPARE(shown[0].defaultSuffix, QString("xml"));
    QCOMPARE(shown[0].fileMode, QFileDialog::AnyFile);
    QVERIFY(!shown[0].native);
    QCOMPARE(shown[2].nameFilters, QStringList{"*.xsd"});
    QCOMPARE(shown[2].directory, QString::fromStdString(dir.path().string()));
    QCOMPARE(shown[2].selected, QStringList{Path(dir, "certs.xml")});
  }

  void folderPicker_data() {
    QTest::addColumn<QString>("typed");  // empty: cancelled
    QTest::addColumn<bool>("chosen");
    QTest::addColumn<QString>("directory");
    testing::ScratchDir dir;  // only for its parent's name
    const QString temp = QString::fromStdString(dir.path().parent_path().string());
    QTest::newRow("existing folder") << temp << true << temp;
    QTest::newRow("root keeps its separator") << "/" << true << "/";
    QTest::newRow("no such folder") << temp + "/no-such-folder-here" << false << "";
    QTest::newRow("a file is not a folder") << "/proc/self/status" << false << "";
    QTest::newRow("cancelled") << "" << false << "";
  }

  void folderPicker() {
    QFETCH(QString, typed);
    QFETCH(bool, chosen);
    QFETCH(QString, directory);
    ScriptedDialogs dialogs;
    TSelectDirDialog picker(nullptr, dialogs);
    picker.SetCaption("Выберите каталог сохранения файлов");
    picker.SetUlFlags({TulFlag::sRETURNONLYFSDIRS});

    // An earlier choice never survives a later run.
    dialogs.Push(ScriptedDialogs::Choose("/"));
    QVERIFY(picker.Execute());
    dialogs.Push(typed.isEmpty() ? ScriptedDialogs::Cancel() : ScriptedDialogs::Choose(typed));
    QCOMPARE(picker.Execute(), chosen);
    QCOMPARE(QString::fromStdString(picker.Directory()), directory);

    const ShownDialog& shown = dialogs.shown().back();
    QCOMPARE(shown.title, QString("Выберите каталог сохранения файлов"));
    QCOMPARE(shown.fileMode, QFileDialog::Directory);
    QVERIFY(shown.dirsOnly);
    QVERIFY(!shown.native);
  }

  // The server job asks from the thread its transfer runs on, as the window
  // runs it; the dialog must still be made and shown on the window's thread.
  void pinDialogAsksOnTheWindowThread() {
    ScriptedDialogs dialogs;
    PinDialog pins(nullptr, dialogs);
    WorkerThreadWait wait;
    const auto ask = [&](TokenPin& pin, std::string& problem) {
      bool given = false;
      wait.Run([&] { given = pins.GetPin("Office Token", pin, problem); });
      return given;
    };

    dialogs.PushInput("1234");
    TokenPin pin;
    std::string problem;
    QVERIFY(ask(pin, problem));
    QCOMPARE(std::string(pin.view()), std::string("1234"));
    const ShownInput& shown = dialogs.shownInputs().back();
    QCOMPARE(shown.label, QString("Введите PIN-код токена «Office Token»:"));
    QCOMPARE(shown.echoMode, QLineEdit::Password);
    QVERIFY(shown.onWindowThread);

    const struct {
      QString typed;  // empty: cancelled
      std::string problem;
    } refusals[] = {{"", "ввод PIN-кода отменён"},
                    {QString(33, '7'), "PIN-код длиннее 32 знаков"}};
    for (const auto& refusal : refusals) {
      if (!refusal.typed.isEmpty()) dialogs.PushInput(refusal.typed);
      QVERIFY(!ask(pin, problem));
      QVERIFY(pin.empty());
      QCOMPARE(problem, refusal.problem);
    }
  }
};

}  // namespace orx

QTEST_MAIN(orx::PickersTest)
#include "pickers_test.moc"
