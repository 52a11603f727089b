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
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QToolButton>

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
  template <class T = QWidget> T* find(const QString& name) {
    for (QWidget* root : roots())
      if (auto* w = root->findChild<T*>(name))
        return w;
    return nullptr;
  }
};

// The widgets the forms place: children of a page, of a scroll page's content
// and of a group box, not the widgets Qt builds inside its own controls.
void collectFormWidgets(QWidget* container, QList<QWidget*>& out) {
  for (QObject* child : container->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (!w || w->objectName().startsWith("qt_"))
      continue;
    out << w;
    if (w->property("group").toBool())
      collectFormWidgets(w, out);
  }
}

QList<QWidget*> formWidgets(Pages& pages) {
  QList<QWidget*> out;
  for (QWidget* root : pages.roots()) {
    out << root;
    auto* scroll = qobject_cast<QScrollArea*>(root);
    QWidget* container = scroll ? scroll->widget() : root;
    if (scroll)
      out << container;
    collectFormWidgets(container, out);
  }
  return out;
}

} // namespace

class TestPages : public QObject {
  Q_OBJECT

private slots:
  void controlsHaveTheirNamesAndKinds();
  void namesAreUniqueAndDescriptive();
  void limitsInitialTextsAndLists();
  void typingStopsAtTheLimitButProgramTextIsKept();
  void limitedEditKeepsWhatFitsAndLetsLongTextShrink();
  void memoLimitsTypingAndPasting();
  void displayFieldsTakeNoFocus();
  void startStates();
  void connectionTabOrderGoesCentreByCentre();
  void pageFramesAndFonts();
};

void TestPages::controlsHaveTheirNamesAndKinds() {
  Pages pages;
  const struct {
    const char* cls;
    QStringList names;
  } kinds[] = {
      {"QComboBox",
       {"cb_baudrate", "cb_databit", "cb_stopbit", "cb_paritybit", "cbdtuserialptcl", "cb_connecttype1",
        "cb_connecttype2", "cb_connecttype3", "cbPtcl_select", "cb_workmode", "cb_report", "cbPconlinemode"}},
      {"TLimitedEdit",
       {"ed_packet_length", "ed_delay", "ed_apn", "ed_pppname", "ed_pw", "edPingIP", "edPinghost", "edPingIvl",
        "edprimaryDNS", "edSecondaryDNS", "edPincode", "ed_ip1", "ed_port1", "ed_hostname1", "ed_ip2", "ed_port2",
        "ed_hostname2", "ed_ip3", "ed_port3", "ed_hostname3", "ed_dtuid", "ed_heart", "ed_insert_pos",
        "ed_reconnecttime", "ed_idletime", "ed_phone", "edConf", "ePcreconnectinterval", "edAuto_cnt_interval",
        "edMasterIP", "edMasterPort", "edMasterHostName"}},
      {"TMemo", {"m_heart", "m_heart_ack"}},
      {"QCheckBox",
       {"ck_enable_heart", "ck_enable_heart_ack", "cb_insert_enable", "ckbDropWakedata", "ck_enable_recv_sms"}},
      {"QLineEdit",
       {"edSelectfile", "edDlFilename", "edDlversion", "edDllength", "edDlchecksum", "edProductType",
        "edProductModel", "edSerialType", "ed_ver", "edsn"}},
      {"QToolButton", {"SpeedButton35"}},
      {"QPushButton", {"bStart"}},
      {"QProgressBar", {"ProgressBar1"}},
      {"QFrame",
       {"Panel27", "Panel6", "Panel7", "Panel26", "Panel22", "Panel11", "Panel10", "Panel12", "Panel14", "Panel13",
        "Panel21", "Panel20", "Panel9", "Panel23", "Panel25", "Panel24"}},
  };
  for (const auto& kind : kinds)
    for (const QString& name : kind.names) {
      QWidget* w = pages.find(name);
      QVERIFY2(w, qPrintable(name));
      QCOMPARE(w->metaObject()->className(), kind.cls);
    }

  // Every label of the pages, keyed or not, with its text in the layout.
  const QList<std::pair<const char*, const char*>> labels = {
      {"Label1", "串口设置"}, {"Label74", "波特率"}, {"Label103", "数据位"}, {"Label91", "停止位"},
      {"Label104", "校验位"}, {"Label109", "通讯协议"}, {"Label105", "最大包长"}, {"Label108", "1~1024字节"},
      {"Label106", "数据包间隔"}, {"Label107", "100~1000毫秒"}, {"Label131", "拨号参数"}, {"Label2", "接入点"},
      {"Label3", "用户名"}, {"Label5", "密码"}, {"Label132", "PING设置"}, {"Label81", "地址"},
      {"Label82", "域名"}, {"Label83", "间隔"}, {"Label84", "0~255分钟"}, {"Label134", "DNS设置"},
      {"Label24", "主DNS"}, {"Label6", "备DNS"}, {"Label133", "PIN设置"}, {"Label7", "SIM PIN"},
      {"Label19", "连接设置"}, {"Label20", "主站1IP"}, {"Label26", "主站1端口"}, {"Label85", "连接类型"},
      {"Label21", "主站1域名"}, {"Label27", "主站2IP"}, {"Label43", "主站2端口"}, {"Label86", "连接类型"},
      {"Label40", "主站2域名"}, {"Label44", "主站3IP"}, {"Label46", "主站3端口"}, {"Label87", "连接类型"},
      {"Label45", "主站3域名"}, {"Label28", "自定义ID"}, {"Label99", "设备 ID"}, {"Label31", "协议选择"},
      {"Label32", "选择协议"}, {"Label22", "心跳间隔设置"}, {"Label29", "心跳间隔"}, {"Label36", "0~65535秒"},
      {"Label30", "自定义心跳包设置"}, {"Label96", "插入位置"}, {"Label97", "0~24"}, {"Label33", "自定义心跳包"},
      {"Label34", "自定义心跳应答包"}, {"Label35", "模式选择"}, {"Label49", "运行方式"}, {"Label42", "空闲间隔"},
      {"Label70", "5~65535秒"}, {"Label39", "重连接间隔"}, {"Label41", "5~65535秒"}, {"Label50", "短信设置"},
      {"Label51", "短信号码"}, {"Label4", "其他设置"}, {"Label18", "调试信息"}, {"Label16", "切换命令"},
      {"Label52", "远程管理中心设置"}, {"Label48", "上线方式"}, {"Label67", "重连间隔"}, {"Label68", "0~65535秒"},
      {"Label53", "启动间隔"}, {"Label54", "0,10~65535分钟"}, {"Label55", "管理主站IP"},
      {"Label56", "管理主站端口"}, {"Label57", "管理主站域名"}, {"Label61", "固件升级"}, {"Label66", "选择文件"},
      {"Label65", "文件名"}, {"Label63", "版本"}, {"Label64", "文件长度"}, {"Label62", "文件校验"},
      {"Label58", "产品信息"}, {"Label92", "产品"}, {"Label89", "型号"}, {"Label90", "串口类型"},
      {"Label59", "软件版本"}, {"Label60", "序列号"},
  };
  for (const auto& [name, text] : labels) {
    auto* label = pages.find<QLabel>(name);
    QVERIFY2(label, name);
    QCOMPARE(label->text(), QString::fromUtf8(text));
  }
  const QList<std::pair<const char*, const char*>> buttons = {
      {"ck_enable_heart", "启用自定义心跳包"}, {"ck_enable_heart_ack", "启用自定义心跳应答包"},
      {"cb_insert_enable", "插入自定义ID"}, {"ckbDropWakedata", "丢弃唤醒数据包"},
      {"ck_enable_recv_sms", "允许转发接收到的短信"}, {"bStart", "开始升级"}, {"SpeedButton35", ""},
  };
  for (const auto& [name, text] : buttons)
    QCOMPARE(pages.find<QAbstractButton>(name)->text(), QString::fromUtf8(text));
}

void TestPages::namesAreUniqueAndDescriptive() {
  // The main window inherits every page form, and captions find controls by
  // name: a clash or a designer default name would break both.
  Pages pages;
  const QRegularExpression designerDefault(
      "^(label|frame|widget|lineEdit|comboBox|checkBox|pushButton|toolButton|progressBar|plainTextEdit|"
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

void TestPages::limitsInitialTextsAndLists() {
  Pages pages;
  const struct {
    const char* name;
    int limit;
    const char* text;
  } fields[] = {
      {"ed_packet_length", 4, "1024"}, {"ed_delay", 4, "300"}, {"ed_apn", 63, "internet"},
      {"ed_pppname", 63, ""}, {"ed_pw", 63, ""}, {"edPingIP", 15, "0.0.0.0"}, {"edPinghost", 63, ""},
      {"edPingIvl", 3, "0"}, {"edprimaryDNS", 15, "0.0.0.0"}, {"edSecondaryDNS", 15, "0.0.0.0"},
      {"edPincode", 4, ""}, {"ed_ip1", 15, "0.0.0.0"}, {"ed_ip2", 15, "0.0.0.0"}, {"ed_ip3", 15, "0.0.0.0"},
      {"ed_port1", 5, "40009"}, {"ed_port2", 5, "40009"}, {"ed_port3", 5, "40009"}, {"ed_hostname1", 63, ""},
      {"ed_hostname2", 63, ""}, {"ed_hostname3", 63, ""}, {"ed_dtuid", 15, ""}, {"ed_heart", 5, "0"},
      {"m_heart", 48, ""}, {"m_heart_ack", 48, ""}, {"ed_insert_pos", 2, "0"}, {"ed_reconnecttime", 5, "10"},
      {"ed_idletime", 5, "300"}, {"ed_phone", 31, ""}, {"edConf", 6, "######"},
      {"ePcreconnectinterval", 5, "300"}, {"edAuto_cnt_interval", 5, "1440"}, {"edMasterIP", 15, "0.0.0.0"},
      {"edMasterPort", 5, "51010"}, {"edMasterHostName", 63, ""},
  };
  for (const auto& f : fields) {
    QWidget* w = pages.find(f.name);
    QVERIFY2(w, f.name);
    QCOMPARE(w->property("charLimit").toInt(), f.limit);
    const QString text = qobject_cast<TMemo*>(w) ? static_cast<TMemo*>(w)->text() : static_cast<QLineEdit*>(w)->text();
    QCOMPARE(text, QString::fromUtf8(f.text));
    if (auto* edit = qobject_cast<QLineEdit*>(w))
      QCOMPARE(edit->maxLength(), 32767); // the program's texts must never be cut
  }

  const struct {
    const char* name;
    QStringList items;
    int current;
  } lists[] = {
      {"cb_baudrate", {"115200", "57600", "38400", "19200", "9600", "4800", "2400", "1200", "600", "300"}, 1},
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
    for (int i = 0; i < list->count(); ++i)
      items << list->itemText(i);
    QCOMPARE(items, l.items);
    QCOMPARE(list->currentIndex(), l.current);
    QVERIFY(!list->isEditable());
  }
  QCOMPARE(pages.find<QProgressBar>("ProgressBar1")->maximum(), 100);
  QCOMPARE(pages.find<QProgressBar>("ProgressBar1")->value(), 0);
  QCOMPARE(pages.find<QLineEdit>("ed_pw")->echoMode(), QLineEdit::Normal);
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
  QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(2, 2), edit.mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(&edit, &menuEvent);
  QMenu* menu = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->objectName() == "qt_edit_menu" && top->isVisible())
      menu = qobject_cast<QMenu*>(top);
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
  const QStringList updateFields = {"edSelectfile", "edDlFilename", "edDlversion", "edDllength", "edDlchecksum"};
  const QStringList versionFields = {"edProductType", "edProductModel", "edSerialType", "ed_ver", "edsn"};
  for (const QString& name : updateFields + versionFields) {
    auto* field = pages.find<QLineEdit>(name);
    QVERIFY2(!field->isEnabled(), qPrintable(name));
    QCOMPARE(field->focusPolicy(), Qt::NoFocus);
    QVERIFY(!field->hasFrame());
    QCOMPARE(field->isReadOnly(), updateFields.contains(name));
  }
  QCOMPARE(pages.find<QLineEdit>("edSelectfile")->width(), 400);
  QCOMPARE(pages.find<QLineEdit>("edsn")->width(), 585);
}

void TestPages::startStates() {
  Pages pages;
  const QList<std::pair<const char*, bool>> panel13 = {
      {"ck_enable_heart", true},     {"m_heart", false},      {"Label33", false},
      {"ck_enable_heart_ack", false}, {"m_heart_ack", false},  {"Label34", false},
      {"cb_insert_enable", false},   {"ed_insert_pos", false}, {"Label96", false},
      {"Label97", false},
  };
  for (const auto& [name, enabled] : panel13)
    QVERIFY2(pages.find(name)->isEnabled() == enabled, name);
  QVERIFY(!pages.find("bStart")->isEnabled());
  QVERIFY(pages.find("SpeedButton35")->isEnabled());

  const QStringList remoteRow3 = {"edAuto_cnt_interval", "Label53", "Label54"};
  for (QWidget* w : pages.find("Panel23")->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    QCOMPARE(w->isHidden(), remoteRow3.contains(w->objectName()));
}

void TestPages::connectionTabOrderGoesCentreByCentre() {
  Pages pages;
  QStringList order;
  QWidget* w = pages.find("ed_ip1");
  for (int i = 0; i < 12; ++i) {
    order << w->objectName();
    do
      w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus) || w->objectName().isEmpty());
  }
  QCOMPARE(order, (QStringList{"ed_ip1", "ed_port1", "cb_connecttype1", "ed_hostname1", "ed_ip2", "ed_port2",
                               "cb_connecttype2", "ed_hostname2", "ed_ip3", "ed_port3", "cb_connecttype3",
                               "ed_hostname3"}));
}

void TestPages::pageFramesAndFonts() {
  Pages pages;
  for (QWidget* root : pages.roots()) {
    QCOMPARE(root->size(), QSize(842, 418));
    QCOMPARE(root->palette().color(QPalette::Window), QColor(Qt::white));
    auto* frame = static_cast<QFrame*>(root);
    if (qobject_cast<QScrollArea*>(root)) {
      QCOMPARE(frame->frameShape(), QFrame::NoFrame);
    } else {
      QCOMPARE(frame->frameShape(), QFrame::Panel);
      QCOMPARE(frame->frameShadow(), QFrame::Sunken);
    }
  }

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

  pages.ptcl.ensurePolished();
  for (QWidget* w : pages.ptcl.findChildren<QWidget*>())
    w->ensurePolished();
  const QFont heading = pages.find("Label30")->font();
  QCOMPARE(heading.pixelSize(), 15);
  QVERIFY(heading.bold());
  const QFont plain = pages.find("Label33")->font();
  QCOMPARE(plain.pixelSize(), 12);
  QVERIFY(!plain.bold());
  QCOMPARE(plain.family(), QString::fromUtf8("微软雅黑"));

  // The memo's single line fits its 23 pixels.
  auto* memo = pages.find<TMemo>("m_heart");
  QCOMPARE(memo->size(), QSize(640, 23));
  QVERIFY(memo->viewport()->height() >=
          memo->fontMetrics().height() + 2 * int(memo->document()->documentMargin()));
}

QTEST_MAIN(TestPages)
#include "test_pages.moc"
