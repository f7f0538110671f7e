#include <QtTest>

#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include "app/window/window_state.h"
#include "support/error.h"
#include "support/xml_document.h"
#include "testing/test_support.h"

namespace orx {

// A small form with one control of each way of placing it: a band in a
// splitter, a button placed by hand, an edit in a layout, a table with columns.
class SampleForm : public QWidget {
  Q_OBJECT

 public:
  SampleForm() {
    setObjectName("FormMain");
    move(100, 120);
    resize(400, 300);
    band = new QWidget;
    band->setObjectName("PanelBand");
    button = new QPushButton("OK", band);
    button->setObjectName("ButtonOK");
    button->setGeometry(10, 10, 80, 25);
    table = new QTableView;
    table->setObjectName("GridRows");
    table->setModel(new QStandardItemModel(2, 3, table));
    splitter = new QSplitter(Qt::Vertical);
    splitter->setObjectName("Splitter");
    splitter->addWidget(band);
    splitter->addWidget(table);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({60, 200});
    edit = new QLineEdit;
    edit->setObjectName("EditName");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(edit);
    layout->addWidget(splitter, 1);
  }

  QWidget* band;
  QPushButton* button;
  QTableView* table;
  QSplitter* splitter;
  QLineEdit* edit;
};

namespace {

struct Entry {
  std::string element;
  std::string name;
};

std::vector<Entry> Children(const XmlNode& node) {
  std::vector<Entry> entries;
  for (int i = 0; i < node.ChildCount(); ++i) {
    const XmlNode child = node.ChildAt(i);
    entries.push_back({child.NodeName(), child.Attribute("Name").value_or("")});
  }
  return entries;
}

void Show(QWidget& form) {
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
}

const char* const kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>";

}  // namespace

class WindowStateTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InitXmlLibrary(); }

  void savedStateComesBack() {
    testing::ScratchDir dir;
    const std::string path = dir / "config/ConvertorOrx.xml";  // folder made on save
    {
      SampleForm form;
      Show(form);
      RestoreFormState(&form, path);  // no file: the design stays
      QCOMPARE(form.size(), QSize(400, 300));
      form.move(40, 50);
      form.resize(500, 420);
      form.splitter->setSizes({90, 1000});
      form.button->setGeometry(30, 12, 120, 25);
      form.table->setColumnWidth(1, 77);
      QTest::qWait(1);
      SaveFormState(&form, path);
    }
    const std::string text = testing::ReadFile(path);
    QVERIFY(text.starts_with(kDeclaration));
    const XmlDocument saved = XmlDocument::Parse(text);
    QCOMPARE(saved.Root().NodeName(), std::string("ParamsOfForms"));
    QCOMPARE(saved.Root().ChildCount(), 1);
    const XmlNode entry = saved.Root().ChildAt(0);
    QCOMPARE(entry.NodeName(), std::string("SampleForm"));
    QCOMPARE(entry.Attribute("Name").value_or(""), std::string("FormMain"));
    QStringList names;
    for (const Entry& child : Children(entry)) names << QString::fromStdString(child.name);
    names.sort();
    QCOMPARE(names, (QStringList{"ButtonOK", "EditName", "GridRows", "PanelBand", "Splitter"}));
    const XmlNode grid = entry.FindNode("QTableView");
    QVERIFY(grid);
    QCOMPARE(grid.ChildCount(), 3);
    QCOMPARE(grid.ChildAt(1).Attribute("Width").value_or(""), std::string("77"));

    SampleForm again;
    Show(again);
    RestoreFormState(&again, path);
    QTest::qWait(1);
    QCOMPARE(again.pos(), QPoint(40, 50));
    QCOMPARE(again.size(), QSize(500, 420));
    QCOMPARE(again.band->height(), 90);
    QCOMPARE(again.button->geometry(), QRect(30, 12, 120, 25));
    QCOMPARE(again.table->columnWidth(1), 77);
  }

  // Files this program did not write, or wrote with another build.
  void damagedFiles_data() {
    QTest::addColumn<QString>("content");
    QTest::addColumn<QRect>("restored");
    QTest::addColumn<QStringList>("keptEntries");  // other forms' names, in order

    const QRect design(100, 120, 400, 300);
    QTest::newRow("not XML") << "this is not XML <" << design << QStringList{};
    QTest::newRow("empty") << "" << design << QStringList{};
    QTest::newRow("other forms kept")
        << "<ParamsOfForms><TFormOther Name=\"FormOther\" Height=\"5\"/>"
           "<SampleForm Name=\"FormMain\" Left=\"7\"/><X Name=\"Later\"/></ParamsOfForms>"
        << QRect(7, 120, 400, 300) << QStringList{"FormOther", "Later"};
    QTest::newRow("bad and zero values skipped")
        << "<ParamsOfForms><SampleForm Name=\"FormMain\" Height=\"333\" Left=\"0\" Top=\"x1\" "
           "Width=\"abc\"/></ParamsOfForms>"
        << QRect(100, 120, 400, 333) << QStringList{};
    QTest::newRow("entry without a name skipped")
        << "<ParamsOfForms><SampleForm Left=\"9\"/><SampleForm Name=\"FormMain\" Top=\"8\"/>"
           "</ParamsOfForms>"
        << QRect(100, 8, 400, 300) << QStringList{""};
    QTest::newRow("first of two entries read")
        << "<ParamsOfForms><SampleForm Name=\"FormMain\" Width=\"410\"/>"
           "<SampleForm Name=\"FormMain\" Width=\"420\"/></ParamsOfForms>"
        << QRect(100, 120, 410, 300) << QStringList{};
    QTest::newRow("unknown controls ignored")
        << "<ParamsOfForms><SampleForm Name=\"FormMain\"><QPushButton Name=\"Gone\" Left=\"1\"/>"
           "<QPushButton Name=\"ButtonOK\" Left=\"44\"/></SampleForm></ParamsOfForms>"
        << design << QStringList{};
  }

  void damagedFiles() {
    QFETCH(QString, content);
    QFETCH(QRect, restored);
    QFETCH(QStringList, keptEntries);
    testing::ScratchDir dir;
    const std::string path = dir.Write("ConvertorOrx.xml", content.toStdString());

    SampleForm form;
    Show(form);
    RestoreFormState(&form, path);
    QCOMPARE(QRect(form.pos(), form.size()), restored);
    if (QTest::currentDataTag() == QByteArray("unknown controls ignored")) {
      QCOMPARE(form.button->x(), 44);
    }

    form.resize(450, 350);
    SaveFormState(&form, path);
    // Every entry of this form is replaced by one, appended last, so that the
    // next start reads what was just saved.
    const XmlDocument saved = XmlDocument::LoadFile(path);
    QStringList names;
    for (const Entry& entry : Children(saved.Root())) {
      names << QString::fromStdString(entry.name);
    }
    QCOMPARE(names, keptEntries + QStringList{"FormMain"});
    SampleForm next;
    Show(next);
    RestoreFormState(&next, path);
    QCOMPARE(next.size(), QSize(450, 350));
  }

  void failedWriteLeavesFileAndThrows() {
    testing::ScratchDir dir;
    const std::string blocker = dir.Write("file", "x");
    SampleForm form;
    QVERIFY_THROWS_EXCEPTION(Error, SaveFormState(&form, blocker + "/ConvertorOrx.xml"));
    QCOMPARE(testing::ReadFile(blocker), std::string("x"));
  }
};

}  // namespace orx

QTEST_MAIN(orx::WindowStateTest)
#include "window_state_test.moc"
