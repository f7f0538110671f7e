#include <QtTest>

#include <QPushButton>

#include "app/window/window_state.h"
#include "support/error.h"
#include "support/xml_document.h"
#include "testing/test_support.h"

namespace orx {
namespace {

// A form named like the main window with one control placed by hand.
struct SampleForm {
  SampleForm() {
    form.setObjectName("FormMain");
    form.move(100, 120);
    form.resize(400, 300);
    button->setObjectName("ButtonOK");
    button->setGeometry(10, 10, 80, 25);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) qFatal("window not exposed");
  }
  QRect Geometry() const { return QRect(form.pos(), form.size()); }

  QWidget form;
  QPushButton* button = new QPushButton("OK", &form);
};

const char* const kNoFile = "(no file)";

}  // namespace

class WindowStateTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InitXmlLibrary(); }

  void readAndReplace_data() {
    QTest::addColumn<QString>("content");
    QTest::addColumn<QRect>("restored");
    QTest::addColumn<QStringList>("keptEntries");  // other forms' names, in order
    QTest::addColumn<int>("buttonLeft");

    const QRect design(100, 120, 400, 300);
    QTest::newRow("no file") << kNoFile << design << QStringList{} << 10;
    QTest::newRow("not XML") << "this is not XML <" << design << QStringList{} << 10;
    QTest::newRow("empty") << "" << design << QStringList{} << 10;
    QTest::newRow("other forms kept")
        << "<ParamsOfForms><TFormOther Name=\"FormOther\" Height=\"5\"/>"
           "<QWidget Name=\"FormMain\" Left=\"7\"/><X Name=\"Later\"/></ParamsOfForms>"
        << QRect(7, 120, 400, 300) << QStringList{"FormOther", "Later"} << 10;
    QTest::newRow("bad and zero values skipped")
        << "<ParamsOfForms><QWidget Name=\"FormMain\" Height=\"333\" Left=\"0\" Top=\"x1\" "
           "Width=\"abc\"/></ParamsOfForms>"
        << QRect(100, 120, 400, 333) << QStringList{} << 10;
    QTest::newRow("entry without a name skipped")
        << "<ParamsOfForms><QWidget Left=\"9\"/><QWidget Name=\"FormMain\" Top=\"8\"/>"
           "</ParamsOfForms>"
        << QRect(100, 8, 400, 300) << QStringList{""} << 10;
    QTest::newRow("first of two entries read, both replaced")
        << "<ParamsOfForms><QWidget Name=\"FormMain\" Width=\"410\"/>"
           "<QWidget Name=\"FormMain\" Width=\"420\"/></ParamsOfForms>"
        << QRect(100, 120, 410, 300) << QStringList{} << 10;
    QTest::newRow("controls matched by name")
        << "<ParamsOfForms><QWidget Name=\"FormMain\"><QPushButton Name=\"Gone\" Left=\"1\"/>"
           "<QPushButton Name=\"ButtonOK\" Left=\"44\"/></QWidget></ParamsOfForms>"
        << design << QStringList{} << 44;
  }

  void readAndReplace() {
    QFETCH(QString, content);
    QFETCH(QRect, restored);
    QFETCH(QStringList, keptEntries);
    QFETCH(int, buttonLeft);
    testing::ScratchDir dir;
    const std::string path = content == kNoFile
                                 ? dir / "config/ConvertorOrx.xml"  // folder made on save
                                 : dir.Write("ConvertorOrx.xml", content.toStdString());

    SampleForm sample;
    RestoreFormState(&sample.form, path);
    QCOMPARE(sample.Geometry(), restored);
    QCOMPARE(sample.button->x(), buttonLeft);

    sample.form.move(60, 70);
    sample.form.resize(450, 350);
    sample.button->move(20, 5);
    SaveFormState(&sample.form, path);
    const std::string text = testing::ReadFile(path);
    if (keptEntries.isEmpty() && !content.startsWith("<ParamsOfForms>")) {
      QVERIFY(text.starts_with(
          "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<ParamsOfForms>"));
    }
    // Every entry of this form is replaced by one, appended last, so that the
    // next start reads what was just saved.
    const XmlDocument saved = XmlDocument::Parse(text);
    const XmlNode root = saved.Root();
    QStringList names;
    for (int i = 0; i < root.ChildCount(); ++i) {
      names << QString::fromStdString(root.ChildAt(i).Attribute("Name").value_or(""));
    }
    QCOMPARE(names, keptEntries + QStringList{"FormMain"});
    const XmlNode entry = root.ChildAt(root.ChildCount() - 1);
    QCOMPARE(entry.ChildCount(), 1);
    QCOMPARE(entry.ChildAt(0).Attribute("Name").value_or(""), std::string("ButtonOK"));

    SampleForm next;
    RestoreFormState(&next.form, path);
    QCOMPARE(next.Geometry(), QRect(60, 70, 450, 350));
    QCOMPARE(next.button->pos(), QPoint(20, 5));
  }

  void fittedOntoTheScreenAndMaximised_data() {
    QTest::addColumn<QString>("attributes");
    QTest::addColumn<bool>("maximised");
    QTest::newRow("off every screen") << "Height=\"200\" Left=\"-9000\" Top=\"7000\" Width=\"300\""
                                      << false;
    QTest::newRow("larger than the screen")
        << "Height=\"5000\" Left=\"10\" Top=\"10\" Width=\"4000\"" << false;
    QTest::newRow("closed maximised")
        << "Height=\"200\" Left=\"50\" Top=\"60\" Width=\"300\" Maximized=\"1\"" << true;
  }

  void fittedOntoTheScreenAndMaximised() {
    QFETCH(QString, attributes);
    QFETCH(bool, maximised);
    testing::ScratchDir dir;
    const std::string path = dir.Write(
        "ConvertorOrx.xml",
        "<ParamsOfForms><QWidget Name=\"FormMain\" " + attributes.toStdString() + "/></ParamsOfForms>");
    QWidget form;
    form.setObjectName("FormMain");
    // As the main window does: before it is shown.
    RestoreFormState(&form, path);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.isMaximized(), maximised);
    QVERIFY(form.screen()->availableGeometry().contains(form.frameGeometry()));

    SaveFormState(&form, path);
    const XmlDocument saved = XmlDocument::LoadFile(path);
    const XmlNode entry = saved.Root().ChildAt(0);
    QCOMPARE(entry.Attribute("Maximized").value_or(""), std::string(maximised ? "1" : "0"));
    if (maximised) {
      // The place it goes back to, not the whole screen.
      QCOMPARE(entry.Attribute("Width").value_or(""), std::string("300"));
      QCOMPARE(entry.Attribute("Left").value_or(""), std::string("50"));
    }
  }

  void failedWriteLeavesFileAndThrows() {
    testing::ScratchDir dir;
    const std::string blocker = dir.Write("file", "x");
    SampleForm sample;
    QVERIFY_THROWS_EXCEPTION(Error, SaveFormState(&sample.form, blocker + "/ConvertorOrx.xml"));
    QCOMPARE(testing::ReadFile(blocker), std::string("x"));
  }
};

}  // namespace orx

QTEST_MAIN(orx::WindowStateTest)
#include "window_state_test.moc"
