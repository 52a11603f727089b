// The eight parameter pages as their forms build them, and the limited edit
// fields they use.

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTest>

#include "app/limited_edit.h"
#include "ui_page_connection.h"
#include "ui_page_dial.h"
#include "ui_page_ptcl.h"
#include "ui_page_remote.h"
#include "ui_page_serial.h"
#include "ui_page_update.h"
#include "ui_page_version.h"
#include "ui_page_workmode.h"

namespace {

struct Pages {
  QFrame serial, connection, workmode, remote, update, version;
  QScrollArea dial, ptcl;
  Ui::PageSerial uiSerial;
  Ui::PageDial uiDial;
  Ui::PageConnection uiConnection;
  Ui::PagePtcl uiPtcl;
  Ui::PageWorkmode uiWorkmode;
  Ui::PageRemote uiRemote;
  Ui::PageUpdate uiUpdate;
  Ui::PageVersion uiVersion;

  Pages() {
    uiSerial.setupUi(&serial);
    uiDial.setupUi(&dial);
    uiConnection.setupUi(&connection);
    uiPtcl.setupUi(&ptcl);
    uiWorkmode.setupUi(&workmode);
    uiRemote.setupUi(&remote);
    uiUpdate.setupUi(&update);
    uiVersion.setupUi(&version);
  }
  QList<QWidget*> roots() {
    return {&serial, &dial, &connection, &ptcl, &workmode, &remote, &update, &version};
  }
  template <class T = QWidget>
  T* find(const QString& name) {
    for (QWidget* root : roots())
      if (auto* w = root->findChild<T*>(name)) return w;
    return nullptr;
  }
};

// The widgets the forms place: children of a page, of a scroll page's content
// and of a group box, not the widgets Qt builds inside its own controls.
void collectFormWidgets(QWidget* container, QList<QWidget*>& out) {
  for (QObject* child : container->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (!w || w->objectName().startsWith("qt_")) continue;
    out << w;
    if (w->property("group").toBool()) collectFormWidgets(w, out);
  }
}

QList<QWidget*> formWidgets(Pages& pages) {
  QList<QWidget*> out;
  for (QWidget* root : pages.roots()) {
    out << root;
    auto* scroll = qobject_cast<QScrollArea*>(root);
    QWidget* container = scroll ? scroll->widget() : root;
    if (scroll) out << container;
    collectFormWidgets(container, out);
  }
  return out;
}

} // namespace

class TestPages : public QObject {
  Q_OBJECT

private slots:
  void namesAreUniqueAndDescriptive();
  void limitsAndLists();
  void typingStopsAtTheLimitButProgramTextIsKept();
  void limitedEditKeepsWhatFitsAndLetsLongTextShrink();
  void memoLimitsTypingAndPasting();
  void displayFieldsTakeNoFocus();
  void timedRemoteRowStartsHidden();
  void connectionTabOrderGoesCentreByCentre();
  void contentFitsAndScrolls();
};

void TestPages::namesAreUniqueAndDescriptive() {
  // The main window inherits every page form, and captions find controls by
  // name: a clash or a designer default name would break both.
  Pages pages;
  const QRegularExpression designerDefault(
      "^(label|frame|widget|lineEdit|comboBox|checkBox|pushButton|toolButton|progressBar|"
      "plainTextEdit|"
      "scrollAreaWidgetContents|verticalLayout|horizontalLayout|gridLayout)(_\\d+)?$");
  QSet<QString> seen;
  const QList<QWidget*> widgets = formWidgets(pages);
  QVERIFY(widgets.size() > 150);
  for (QWidget* w : widgets) {
    const QString name = w->objectName();
    QVERIFY2(!name.isEmpty(), w->metaObject()->className());
    QVERIFY2(!designerDefault.match(name).hasMatch(), qPrintable(name));
    QVERIFY2(!seen.contains(name), qPrintable(name));
    seen.insert(name);
  }
  QVERIFY(seen.contains("sbDialContents"));
  QVERIFY(seen.contains("sbPtclContents"));
}

void TestPages::limitsAndLists() {
  Pages pages;
  const std::pair<int, QStringList> limits[] = {
      {2, {"ed_insert_pos"}},
      {3, {"edPingIvl"}},
      {4, {"ed_packet_length", "ed_delay", "edPincode"}},
      {5,
       {"ed_port1", "ed_port2", "ed_port3", "ed_heart", "ed_reconnecttime", "ed_idletime",
        "ePcreconnectinterval", "edAuto_cnt_interval", "edMasterPort"}},
      {6, {"edConf"}},
      {15,
       {"edPingIP", "edprimaryDNS", "edSecondaryDNS", "ed_ip1", "ed_ip2", "ed_ip3", "ed_dtuid",
        "edMasterIP"}},
      {31, {"ed_phone"}},
      {48, {"m_heart", "m_heart_ack"}},
      {63,
       {"ed_apn", "ed_pppname", "ed_pw", "edPinghost", "ed_hostname1", "ed_hostname2",
        "ed_hostname3", "edMasterHostName"}},
  };
  for (const auto& [limit, names] : limits)
    for (const QString& name : names) {
      QWidget* w = pages.find(name);
      QVERIFY2(w, qPrintable(name));
      QCOMPARE(w->property("charLimit").toInt(), limit);
      if (auto* edit = qobject_cast<QLineEdit*>(w))
        QCOMPARE(edit->maxLength(), 32767); // the program's texts must never be cut
    }
  QCOMPARE(pages.find<QLineEdit>("ed_pw")->echoMode(), QLineEdit::Normal); // shown unmasked

  // List positions are the values the record carries.
  const struct {
    const char* name;
    QStringList items;
    int current;
  } lists[] = {
      {"cb_baudrate",
       {"115200", "57600", "38400", "19200", "9600", "4800", "2400", "1200", "600", "300"},
       1},
      {"cb_databit", {"8", "7"}, 0},
      {"cb_stopbit", {"1", "2"}, 0},
      {"cb_paritybit", {"无", "奇", "偶"}, 0},
      {"cbdtuserialptcl", {"透明", "命令模式"}, 0},
      {"cb_connecttype1", {"TCP", "UDP"}, 0},
      {"cb_connecttype2", {"TCP", "UDP"}, 0},
      {"cb_connecttype3", {"TCP", "UDP"}, 0},
      {"cbPtcl_select", {"透明传输", "KTSP协议", "HD-DDP"}, 0},
      {"cb_workmode", {"在线模式", "唤醒模式", "纯短信"}, 0},
      {"cb_report", {"关闭", "状态报告", "调试信息", "AT"}, 0},
      {"cbPconlinemode", {"在线模式", "唤醒模式"}, 0},
  };
  for (const auto& l : lists) {
    auto* list = pages.find<QComboBox>(l.name);
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    QCOMPARE(items, l.items);
    QCOMPARE(list->currentIndex(), l.current);
    QVERIFY(!list->isEditable());
  }
}

void TestPages::typingStopsAtTheLimitButProgramTextIsKept() {
  Pages pages;
  const struct {
    const char* name;
    const char* typed;
    const char* expected;
  } cases[] = {
      {"ed_port1", "1234567", "12345"},
      {"edPincode", "123456", "1234"},
      {"edConf", "+++++++", "++++++"},
      {"ed_insert_pos", "123", "12"},
  };
  for (const auto& c : cases) {
    auto* edit = pages.find<QLineEdit>(c.name);
    edit->setEnabled(true);
    edit->clear();
    QTest::keyClicks(edit, c.typed);
    QCOMPARE(edit->text(), QString(c.expected));
  }
  auto* apn = pages.find<QLineEdit>("ed_apn");
  const QString long64(64, QLatin1Char('a'));
  apn->setText(long64);
  QCOMPARE(apn->text(), long64);
}

void TestPages::limitedEditKeepsWhatFitsAndLetsLongTextShrink() {
  TLimitedEdit edit;
  edit.setCharLimit(5);

  // A key typed into the middle of a full field is refused; the caret stays.
  edit.setText("12345");
  edit.setCursorPosition(2);
  QTest::keyClicks(&edit, "9");
  QCOMPARE(edit.text(), QString("12345"));
  QCOMPARE(edit.cursorPosition(), 2);

  // A paste keeps what fits, from its start; the caret ends behind it.
  QGuiApplication::clipboard()->setText("abcdef");
  edit.setText("12");
  edit.setCursorPosition(1);
  QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
  QCOMPARE(edit.text(), QString("1abc2"));
  QCOMPARE(edit.cursorPosition(), 4);

  // Typing over a selection that leaves room is allowed.
  edit.setSelection(0, 2);
  QTest::keyClicks(&edit, "x");
  QCOMPARE(edit.text(), QString("xbc2"));

  // A program text beyond the limit can be shortened and overtyped, not grown.
  edit.setText("1234567");
  edit.end(false);
  QTest::keyClick(&edit, Qt::Key_Backspace);
  QCOMPARE(edit.text(), QString("123456"));
  QTest::keyClicks(&edit, "8");
  QCOMPARE(edit.text(), QString("123456"));
  edit.setSelection(0, 1);
  QTest::keyClicks(&edit, "x");
  QCOMPARE(edit.text(), QString("x23456"));

  // The context menu's paste is bound too: it runs after the menu handler.
  edit.setText("123");
  edit.end(false);
  QGuiApplication::clipboard()->setText("abc");
  QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(2, 2),
                              edit.mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(&edit, &menuEvent);
  QMenu* menu = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->objectName() == "qt_edit_menu" && top->isVisible()) menu = qobject_cast<QMenu*>(top);
  QVERIFY(menu);
  const QList<QAction*> actions = menu->actions();
  const auto paste = std::find_if(actions.begin(), actions.end(),
                                  [](QAction* a) { return a->text().startsWith("&Paste"); });
  QVERIFY(paste != actions.end());
  (*paste)->trigger();
  menu->close();
  QCOMPARE(edit.text(), QString("123ab"));

  // Undo still steps back over the user's edits.
  edit.setText("12");
  edit.end(false);
  QTest::keyClicks(&edit, "3");
  QTest::keyClick(&edit, Qt::Key_Z, Qt::ControlModifier);
  QCOMPARE(edit.text(), QString("12"));

  // What a returnPressed handler sets is the program's text, not typing.
  connect(&edit, &QLineEdit::returnPressed, &edit, [&edit] { edit.setText("1234567890"); });
  QTest::keyClick(&edit, Qt::Key_Return);
  QCOMPARE(edit.text(), QString("1234567890"));
}

void TestPages::memoLimitsTypingAndPasting() {
  TMemo memo;
  memo.setCharLimit(6);
  QTest::keyClicks(&memo, "A1B2C3D4");
  QCOMPARE(memo.text(), QString("A1B2C3"));

  memo.setText("AA");
  QTextCursor cursor = memo.textCursor();
  cursor.setPosition(1);
  memo.setTextCursor(cursor);
  auto* html = new QMimeData; // the clipboard takes it
  html->setHtml("<b>BBBBBB</b>");
  html->setText("BBBBBB");
  QGuiApplication::clipboard()->setMimeData(html);
  QTest::keyClick(&memo, Qt::Key_V, Qt::ControlModifier);
  QGuiApplication::clipboard()->clear();
  QCOMPARE(memo.text(), QString("ABBBBA"));
  QCOMPARE(memo.textCursor().position(), 5);

  const QString long60(60, QLatin1Char('F'));
  memo.setText(long60);
  QCOMPARE(memo.text(), long60);
  memo.moveCursor(QTextCursor::End);
  QTest::keyClicks(&memo, "0");
  QCOMPARE(memo.text(), long60);
  QVERIFY(memo.tabChangesFocus());
}

void TestPages::displayFieldsTakeNoFocus() {
  Pages pages;
  const QStringList updateFields = {"edSelectfile", "edDlFilename", "edDlversion", "edDllength",
                                    "edDlchecksum"};
  const QStringList versionFields = {"edProductType", "edProductModel", "edSerialType", "ed_ver",
                                     "edsn"};
  for (const QString& name : updateFields + versionFields) {
    auto* field = pages.find<QLineEdit>(name);
    QVERIFY2(!field->isEnabled(), qPrintable(name));
    QCOMPARE(field->focusPolicy(), Qt::NoFocus);
    QVERIFY(!field->hasFrame());
    QCOMPARE(field->isReadOnly(), updateFields.contains(name));
  }
}

// Only the remote list's rule hides the timed row, and it does not run at
// start-up: the layout must start with it hidden.
void TestPages::timedRemoteRowStartsHidden() {
  Pages pages;
  const QStringList timedRow = {"edAuto_cnt_interval", "Label53", "Label54"};
  for (QWidget* w : pages.find("Panel23")->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    QCOMPARE(w->isHidden(), timedRow.contains(w->objectName()));
}

void TestPages::connectionTabOrderGoesCentreByCentre() {
  Pages pages;
  QStringList order;
  QWidget* w = pages.find("ed_ip1");
  for (int i = 0; i < 12; ++i) {
    order << w->objectName();
    do w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus) || w->objectName().isEmpty());
  }
  QCOMPARE(order, (QStringList{"ed_ip1", "ed_port1", "cb_connecttype1", "ed_hostname1", "ed_ip2",
                               "ed_port2", "cb_connecttype2", "ed_hostname2", "ed_ip3", "ed_port3",
                               "cb_connecttype3", "ed_hostname3"}));
}

void TestPages::contentFitsAndScrolls() {
  Pages pages;
  // Scroll pages reach below the page area, so they scroll vertically only.
  for (auto [area, depth] : {std::pair{&pages.dial, 450}, std::pair{&pages.ptcl, 452}}) {
    area->show();
    QVERIFY(QTest::qWaitForWindowExposed(area));
    QCOMPARE(area->widget()->height(), depth);
    QCOMPARE(area->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(area->verticalScrollBar()->maximum() > 0);
    for (QWidget* child : area->widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      QVERIFY2(child->geometry().bottom() < depth, qPrintable(child->objectName()));
  }

  // Nothing sticks out of its group box, nor a group out of its page.
  for (QWidget* w : formWidgets(pages)) {
    QWidget* parent = w->parentWidget();
    if (parent && (parent->property("group").toBool() || pages.roots().contains(parent)))
      QVERIFY2(parent->rect().contains(w->geometry()), qPrintable(w->objectName()));
  }

  // The memo's single line fits its 23 pixels.
  pages.ptcl.ensurePolished();
  auto* memo = pages.find<TMemo>("m_heart");
  memo->ensurePolished();
  QCOMPARE(memo->size(), QSize(640, 23));
  QVERIFY(memo->viewport()->height() >=
          memo->fontMetrics().height() + 2 * int(memo->document()->documentMargin()));
}

QTEST_MAIN(TestPages)
#include "test_pages.moc"
