// The eight parameter pages as their forms build them, and the limited edit
// fields they use.

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTest>

#include "app/caption_table.h"
#include "app/limited_edit.h"
#include "params/factory_set.h"
#include "params/field_model.h"
#include "params/param_profile.h"
#include "support/window_fixture.h"
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
  void layoutListsAndLimits();
  void typingStopsAtTheLimitButProgramTextIsKept();
  void controlsAndProfileNamesFollowTheFieldModel();
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

void TestPages::layoutListsAndLimits() {
  // Limits are the window's to set from the field model; the forms' own
  // edits never cut the program's texts.
  Pages pages;
  for (QWidget* w : formWidgets(pages))
    if (auto* edit = qobject_cast<QLineEdit*>(w)) QCOMPARE(edit->maxLength(), 32767);
  QCOMPARE(pages.find<QLineEdit>("ed_pw")->echoMode(), QLineEdit::Normal); // shown unmasked

  // What the lists hold when caption.ini is switched off: the layout's items,
  // which for these lists differ from the built-in caption texts.
  const struct {
    const char* name;
    QStringList items;
  } lists[] = {
      {"cbPtcl_select", {"透明传输", "KTSP协议", "HD-DDP"}},
      {"cb_workmode", {"在线模式", "唤醒模式", "纯短信"}},
      {"cb_report", {"关闭", "状态报告", "调试信息", "AT"}},
      {"cbPconlinemode", {"在线模式", "唤醒模式"}},
  };
  for (const auto& l : lists) {
    auto* list = pages.find<QComboBox>(l.name);
    QStringList items;
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    QCOMPARE(items, l.items);
  }
  for (QWidget* w : formWidgets(pages))
    if (auto* list = qobject_cast<QComboBox*>(w)) {
      QVERIFY(!list->isEditable());
      QCOMPARE(list->currentIndex(), list->objectName() == "cb_baudrate" ? 1 : 0); // 57600
    }
}

void TestPages::typingStopsAtTheLimitButProgramTextIsKept() {
  WindowFixture w;
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
    auto* edit = w.get<QLineEdit>(c.name);
    edit->setEnabled(true);
    edit->clear();
    QTest::keyClicks(edit, c.typed);
    QCOMPARE(edit->text(), QString(c.expected));
  }
  auto* apn = w.get<QLineEdit>("ed_apn");
  const QString long64(64, QLatin1Char('a'));
  apn->setText(long64);
  QCOMPARE(apn->text(), long64);
}

void TestPages::controlsAndProfileNamesFollowTheFieldModel() {
  WindowFixture w(nullptr, false); // the built-in texts
  auto text = [](std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); };
  // The window's control for a caption key of a page, as the caption table names it.
  auto captioned = [&](QWidget* page, std::string_view section, const Caption& c) -> QWidget* {
    for (const CaptionEntry& e : kCaptionTable)
      if (section == e.section && c.key == e.key && e.kind == CaptionKind::Text)
        return page->findChild<QWidget*>(QString::fromLatin1(e.receiver));
    return nullptr;
  };
  auto shownText = [](QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* box = qobject_cast<QAbstractButton*>(widget)) return box->text();
    return QString();
  };
  auto items = [](QComboBox* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->itemText(i);
    return out;
  };
  // Sets a selector to a value as the technician would.
  auto select = [&](QWidget* page, AppField f, std::uint32_t value) {
    QWidget* control = page->window()->findChild<QWidget*>(text(FieldRowOf(f).control));
    if (auto* box = qobject_cast<QAbstractButton*>(control))
      box->setChecked(value == 1);
    else
      w.choose(qPrintable(control->objectName()), int(value));
  };

  // Every control of the parameter pages that holds a value is a field's.
  QSet<QString> controls;
  for (const FieldRow& row : kFieldRows) controls << text(row.control);
  for (const FieldPage& page : kFieldPages)
    for (QWidget* c : w.get<QWidget>(page.control.data())->findChildren<QWidget*>()) {
      const bool holdsValue = qobject_cast<QLineEdit*>(c) || qobject_cast<QComboBox*>(c) ||
                              qobject_cast<QCheckBox*>(c) || qobject_cast<QPlainTextEdit*>(c);
      if (holdsValue && !c->objectName().startsWith("qt_"))
        QVERIFY2(controls.contains(c->objectName()), qPrintable(c->objectName()));
    }

  for (const FieldRow& row : kFieldRows) {
    if (row.control.empty()) continue; // stored from another field
    const QByteArray name = FieldInfo(row.field).name;
    QWidget* page = w.get<QWidget>(PageOf(row).control.data());
    QWidget* control = page->findChild<QWidget*>(text(row.control));
    QVERIFY2(control, name);
    QCOMPARE(shownText(captioned(page, PageOf(row).section, row.label)), text(row.label.text));
    if (!row.unit.key.empty())
      QCOMPARE(shownText(captioned(page, PageOf(row).section, row.unit)), text(row.unit.text));
    if (auto* list = qobject_cast<QComboBox*>(control)) {
      QStringList expected;
      for (const FieldWord& word : row.words) expected << text(word.caption.text);
      for (std::uint32_t v : row.values) expected << QString::number(v);
      QCOMPARE(items(list), expected);
    }
    // Typing stops at the model's limit; a text's limit is in device bytes.
    if (const int limit = TypingLimit(row.field); limit > 0) {
      const QChar typed = row.typing == FieldTyping::Any ? u'x' : u'1';
      control->setEnabled(true);
      if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->clear();
        QTest::keyClicks(edit, QString(limit + 3, typed));
        QCOMPARE(edit->text().size(), limit);
      } else {
        auto* memo = qobject_cast<TMemo*>(control);
        QVERIFY2(memo, name);
        memo->clear();
        QTest::keyClicks(memo, QString(limit + 3, typed));
        QCOMPARE(memo->text().size(), limit);
      }
      if (row.kind == FieldKind::Text)
        QCOMPARE(qobject_cast<TLimitedEdit*>(control)->byteLimit(), int(row.maxBytes));
    }
    // Shown and enabled as the selectors say; the group's heading with it.
    const FieldGroup& group = GroupOf(row);
    for (const auto& [condition, shows] :
         {std::pair{row.shownWhen, true}, std::pair{group.shownWhen, true},
          std::pair{row.enabledWhen, false}}) {
      if (condition.always()) continue;
      for (const bool holds : {true, false}) {
        select(page, condition.field, holds ? condition.is : (condition.is == 0 ? 1 : 0));
        const bool reached = shows ? control->isVisibleTo(page) : control->isEnabled();
        QVERIFY2(reached == holds,
                 name + (holds ? " when " : " unless ") + FieldInfo(condition.field).name);
      }
      select(page, condition.field, condition.is);
      if (&condition == &group.shownWhen)
        QVERIFY(captioned(page, PageOf(row).section, group.heading)->isVisibleTo(page));
    }
  }

  // The link settings dialog offers what a unit's serial port takes.
  TForm3* dialog = w.form().Form3();
  QStringList speeds, dataBits, stopBits, parity;
  for (std::uint32_t v : kOfferedBaudRates) speeds << QString::number(v);
  for (std::uint32_t v : kOfferedDataBits) dataBits << QString::number(v);
  for (std::uint32_t v : kOfferedStopBits) stopBits.prepend(QString::number(v)); // "2" first
  for (const FieldWord& word : kParityWords) parity << text(word.caption.text);
  QCOMPARE(items(dialog->cbbaudrate), speeds);
  QCOMPARE(items(dialog->cbDatabit), dataBits);
  QCOMPARE(items(dialog->cgStopbit), stopBits);
  QCOMPARE(items(dialog->cbParitybit), parity);

  // A profile names each field once, in a comment with its page, label and words.
  const QStringList lines = QString::fromStdString(WriteProfile(FactoryParams())).split('\n');
  QStringList names;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const qsizetype eq = lines[i].indexOf(" = ");
    if (eq < 0 || lines[i].startsWith(';')) continue;
    names << lines[i].left(eq);
    const FieldRow& row = FieldRowOf(FieldByName(names.back().toStdString()));
    QVERIFY2(row.field != AppField::Count, qPrintable(names.back()));
    const QString comment = lines[i - 1];
    QVERIFY2(comment.contains(text(PageOf(row).navigation.text) + " / " + text(row.label.text)),
             qPrintable(comment));
    for (const FieldWord& word : row.words)
      QVERIFY2(comment.contains(text(word.word)), qPrintable(comment));
  }
  QCOMPARE(names.size(), qsizetype(kFieldRows.size()));
  QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
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
