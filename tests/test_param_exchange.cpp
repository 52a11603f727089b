// Reading and writing the parameters and product information of the simulated
// DTU over a pseudo-terminal, through the main window's buttons.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

#include "params/app_params.h"
#include "support/bytes.h"
#include "support/dtu_sim_process.h"
#include "support/fake_serial_port.h"
#include "support/records.h"
#include "support/window_fixture.h"

namespace {

const QByteArray kReadRequest = QByteArray::fromHex("AA030600B3BB");
const QByteArray kSysInfoRequest = QByteArray::fromHex("AA070600B7BB");
const char* const kProductFields[] = {"edProductType", "edProductModel", "edSerialType", "edsn"};

// The simulated DTU holding the distinct record, and a window that connects
// to it with the record's own switch command, not the default one.
class Session {
public:
  explicit Session(const QStringList& simArgs = {})
      : started_(sim.startWithRecord(RecordBytes(DistinctRecord()), simArgs)) {}

  bool connect() {
    if (!started_) qWarning().noquote() << sim.errorString();
    const auto switchCommand = DistinctRecord().GetText(AppField::switch_cmd);
    return started_ && w.connectTo(sim.devicePath(), QString::fromStdString(switchCommand));
  }

  // Clicks a button; true when the hourglass showed at every look taken
  // (on arriving bytes and every 20 ms) while its handler ran.
  bool clickWithHourglass(const char* name) {
    int hourglass = 0;
    const int looks = w.clickSampling(
        name, [&] { hourglass += w.waitCursor() ? 1 : 0; }, 20);
    return looks > 0 && looks == hourglass && !w.waitCursor();
  }

  // The value of every parameter control of the pages, product fields excluded.
  QStringList pages() const {
    QStringList s;
    const auto* stack = w.get<QStackedWidget>("PageStack");
    for (const QLineEdit* e : stack->findChildren<QLineEdit*>()) {
      if (e->parent() && qobject_cast<const QComboBox*>(e->parent())) continue;
      if (std::find_if(std::begin(kProductFields), std::end(kProductFields), [&](const char* n) {
            return e->objectName() == QLatin1String(n);
          }) != std::end(kProductFields))
        continue;
      s << e->objectName() + u'=' + e->text();
    }
    for (const QComboBox* c : stack->findChildren<QComboBox*>())
      s << c->objectName() + u'#' + QString::number(c->currentIndex());
    for (const QCheckBox* c : stack->findChildren<QCheckBox*>())
      s << c->objectName() + (c->isChecked() ? u'+' : u'-');
    for (const QPlainTextEdit* m : stack->findChildren<QPlainTextEdit*>())
      s << m->objectName() + u'=' + m->toPlainText();
    return s;
  }

  QStringList productFields() const {
    QStringList s;
    for (const char* n : kProductFields) s << w.text(n);
    return s;
  }
  void setProductFields(const QStringList& values) {
    for (int i = 0; i < 4; ++i) w.setText(kProductFields[i], values.value(i));
  }

  DtuSimProcess sim;
  WindowFixture w;

private:
  bool started_ = false;
};

} // namespace

class TestParamExchange : public QObject {
  Q_OBJECT

private slots:
  void readThenWriteBackStoresTheSameRecord();
  void readFailures_data();
  void readFailures();
  void writeFailures_data();
  void writeFailures();
  void unconvertibleFieldSendsNothing();
  void refusedEditSendsNothing_data();
  void refusedEditSendsNothing();
  void windowClosedDuringReadWait_data();
  void windowClosedDuringReadWait();
  void disconnectDuringReadWait();
  void closingWhileConnectedDoesNotTellTheDtu();
  void progressLineFollowsItsRequest();
};

void TestParamExchange::readThenWriteBackStoresTheSameRecord() {
  Session s({"--sn", "SN-0123456789ABC"}); // 16 characters: no terminator
  QVERIFY(s.connect());

  qsizetype before = s.w.logSize();
  QVERIFY(s.clickWithHourglass("sb_getpar"));
  QVERIFY(s.w.logTailIs(before, {Progress("app_par_reading"), Success("app_par_read_completed"),
                                 Success("sys_par_read_completed")}));
  QCOMPARE(s.sim.framesReceived(), (QList<QByteArray>{kReadRequest, kSysInfoRequest}));
  // The pages hold the record (which control shows what: test_form_mapping).
  QCOMPARE(s.w.encoded(), DistinctRecord());
  QCOMPARE(s.productFields(), (QStringList{"DTU1", "K7-GPRS-SIM1", "RS-232", "SN-0123456789ABC"}));
  QCOMPARE(s.w.text("ed_ver"), QStringLiteral("V2.01")); // from the connect, not from command 7

  // Written back without an edit, the DTU stores the very bytes it sent.
  QVERIFY(s.sim.stateRecord().isEmpty());
  const QStringList pagesBefore = s.pages();
  before = s.w.logSize();
  QVERIFY(s.clickWithHourglass("sb_setpar"));
  QVERIFY(s.w.logTailIs(before, {Progress("app_par_saving"), Success("app_par_save_completed")}));
  QCOMPARE(s.sim.stateRecord(), RecordBytes(DistinctRecord()));
  QCOMPARE(s.pages(), pagesBefore);

  // On the wire: 699 bytes, length BB 02, the sum of all before it, BB.
  const QList<QByteArray> frames = s.sim.framesReceived();
  QCOMPARE(frames.size(), 3);
  QCOMPARE(frames[2].left(4), QByteArray::fromHex("AA04BB02"));
  QCOMPARE(frames[2], FrameBytes(4, RecordBytes(DistinctRecord())));
}

void TestParamExchange::readFailures_data() {
  QTest::addColumn<QStringList>("simArgs");
  QTest::addColumn<bool>("pagesFilled");
  QTest::addColumn<QStringList>("product"); // empty: left as they were
  QTest::addColumn<bool>("sysInfoAsked");
  QTest::addColumn<QString>("readFailure"); // the red line of a read that filled nothing

  // Product fields not held whole by a short answer are emptied rather than
  // left showing another unit's values.
  QTest::newRow("no answer to command 3")
      << QStringList{"--silent", "3"} << false << QStringList{} << false << "app_par_read_failed";
  QTest::newRow("command 3 answer with a bad checksum")
      << QStringList{"--bad-checksum", "3"} << false << QStringList{} << false
      << "app_par_read_failed";
  QTest::newRow("command 3 answer too short for the record")
      << QStringList{"--short", "3"} << false << QStringList{} << false
      << "app_par_read_incomplete";
  QTest::newRow("no answer to command 7")
      << QStringList{"--silent", "7"} << true << QStringList{} << true << "";
  QTest::newRow("command 7 answer of 20 bytes")
      << QStringList{"--short", "7"} << true << QStringList{"DTU1", "K7-GPRS-SIM1", "RS-232", ""}
      << true << "";
}

void TestParamExchange::readFailures() {
  QFETCH(QStringList, simArgs);
  QFETCH(bool, pagesFilled);
  QFETCH(QStringList, product);
  QFETCH(bool, sysInfoAsked);
  QFETCH(QString, readFailure);

  Session s(simArgs);
  QVERIFY(s.connect());
  const QStringList earlier{"OLD1", "OLD-MODEL", "485", "OLD-SN"};
  s.setProductFields(earlier);
  const QStringList pagesBefore = s.pages();

  // The wait that runs out does so soon; the record's answer keeps its limit.
  const bool silent = simArgs.contains(QStringLiteral("--silent")) ||
                      simArgs.contains(QStringLiteral("--bad-checksum"));
  if (silent) s.w.shortenWaitsFrom(pagesFilled ? "app_par_read_completed" : nullptr);
  const qsizetype before = s.w.logSize();
  QVERIFY(s.clickWithHourglass("sb_getpar"));
  if (!pagesFilled) {
    QVERIFY(s.w.logTailIs(before, {Progress("app_par_reading"), Failure(qPrintable(readFailure))}));
    QCOMPARE(s.pages(), pagesBefore);
  } else {
    QVERIFY(s.w.logTailIs(before, {Progress("app_par_reading"), Success("app_par_read_completed"),
                                   product.isEmpty() ? Failure("sys_par_read_failed")
                                                     : Success("sys_par_read_completed")}));
    QCOMPARE(s.w.encoded(), DistinctRecord());
  }
  QCOMPARE(s.productFields(), product.isEmpty() ? earlier : product);
  QList<QByteArray> requests{kReadRequest};
  if (sysInfoAsked) requests << kSysInfoRequest;
  s.sim.waitForLog([&] { return s.sim.framesReceived() == requests; });
  QCOMPARE(s.sim.framesReceived(), requests);
  // Still connected: a failed read is no reason to drop the link.
  QCOMPARE(s.w.linkButtons(), QStringLiteral("01111"));
}

void TestParamExchange::writeFailures_data() {
  QTest::addColumn<QStringList>("simArgs");
  QTest::addColumn<QString>("key");
  QTest::addColumn<bool>("stored"); // whether the DTU kept the record anyway

  QTest::newRow("no answer") << QStringList{"--silent", "4"} << "app_par_save_failed_with_timeout"
                             << true;
  QTest::newRow("refused") << QStringList{"--refuse-writes"}
                           << "app_par_save_failed_with_checksum_error" << false;
  QTest::newRow("answer without a result byte")
      << QStringList{"--short", "4"} << "app_par_save_failed_with_checksum_error" << true;
}

void TestParamExchange::writeFailures() {
  QFETCH(QStringList, simArgs);
  QFETCH(QString, key);
  QFETCH(bool, stored);

  Session s(simArgs);
  QVERIFY(s.connect());
  s.w.click("sb_getpar");
  QVERIFY(s.w.lastLineIs(Success("sys_par_read_completed")));
  const QStringList pagesBefore = s.pages();

  if (simArgs.contains(QStringLiteral("--silent"))) s.w.shortenWaitsFrom();
  const qsizetype before = s.w.logSize();
  QVERIFY(s.clickWithHourglass("sb_setpar"));
  QVERIFY(s.w.logTailIs(before, {Progress("app_par_saving"), Failure(qPrintable(key))}));
  QCOMPARE(s.pages(), pagesBefore);
  QCOMPARE(s.sim.stateRecord(), stored ? RecordBytes(DistinctRecord()) : QByteArray());
  QVERIFY(s.w.form().link().LinkConnected);
}

void TestParamExchange::unconvertibleFieldSendsNothing() {
  Session s;
  QVERIFY(s.connect());
  s.w.click("sb_getpar");
  s.w.setText("ed_heart", "");

  const qsizetype before = s.w.logSize();
  s.w.click("sb_setpar");
  QVERIFY(!s.w.waitCursor());
  QCOMPARE(s.w.boxes, QStringList{ConversionError("")});
  QCOMPARE(s.w.logSize(), before);
  QCOMPARE(s.sim.framesReceived(), (QList<QByteArray>{kReadRequest, kSysInfoRequest}));

  // Put right, the same write goes through.
  s.w.setText("ed_heart", QString::number(DistinctRecord().Get(AppField::heart_interval)));
  s.w.click("sb_setpar");
  QVERIFY(s.w.lastLineIs(Success("app_par_save_completed")));
  QCOMPARE(s.sim.stateRecord(), RecordBytes(DistinctRecord()));
}

void TestParamExchange::refusedEditSendsNothing_data() {
  QTest::addColumn<QString>("field");
  QTest::addColumn<QString>("label");
  QTest::addColumn<QString>("page");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("allowed");
  QTest::addColumn<QString>("valid");
  QTest::newRow("port the record cannot hold") << "ed_port1"
                                               << "Label26"
                                               << "pConnection"
                                               << "70000"
                                               << "0~65535"
                                               << "8080";
  QTest::newRow("delay the record holds but the rule refuses") << "ed_delay"
                                                               << "Label106"
                                                               << "pSerial"
                                                               << "99"
                                                               << "100~1000"
                                                               << "500";
  QTest::newRow("address the conversion fails on") << "edMasterIP"
                                                   << "Label55"
                                                   << "pRemote"
                                                   << "300.1.1.1"
                                                   << "192.168.1.10, four numbers 0–255"
                                                   << "10.1.1.1";
}

void TestParamExchange::refusedEditSendsNothing() {
  QFETCH(QString, field);
  QFETCH(QString, label);
  QFETCH(QString, page);
  QFETCH(QString, typed);
  QFETCH(QString, allowed);
  QFETCH(QString, valid);
  // A unit whose delay of 50 the exit rule would refuse if it were typed, and
  // whose texts hold bytes GBK cannot decode and encode back: a Latin-1
  // letter, a lead byte without its second byte, a pair that is no character,
  // and bytes behind the terminating zero. The switch command stays readable:
  // the window has to connect with it.
  const std::string unclean[] = {"caf\xE9", "ab\xB1", "\x81\x30", std::string("ok\0\x81\xFE", 5)};
  TAppParams unit = DistinctRecord();
  unit.Set(AppField::com_ptcl, 0);
  unit.Set(AppField::delay, 50);
  std::size_t i = 0;
  for (const AppFieldInfo& info : kAppFields)
    if (info.encoding == FieldEncoding::Text && info.id != AppField::switch_cmd)
      unit.SetText(info.id, unclean[i++ % std::size(unclean)]);
  DtuSimProcess sim;
  QVERIFY2(sim.startWithRecord(RecordBytes(unit)), qPrintable(sim.errorString()));
  WindowFixture w;
  QVERIFY(
      w.connectTo(sim.devicePath(), QString::fromStdString(unit.GetText(AppField::switch_cmd))));
  w.form().activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&w.form()));
  w.click("sb_getpar");
  w.click("sb_setpar"); // untouched, it goes back as it came
  QVERIFY(w.lastLineIs(Success("app_par_save_completed")));
  QCOMPARE(sim.stateRecord(), RecordBytes(unit));

  const auto typeInto = [&](const QString& text) {
    auto* edit = w.get<QLineEdit>(qPrintable(field));
    for (const auto& [button, name] : kPageButtons)
      if (page == QLatin1String(name)) w.click(button);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
  };
  const QString exportPath = QDir(w.dir()).filePath(QStringLiteral("refused.bin"));
  for (const char* button : {"sb_setpar", "SpeedButton12"}) {
    typeInto(typed);
    if (QLatin1String(button) == QLatin1String("SpeedButton12"))
      w.dialogAnswers.push_back(exportPath);
    const qsizetype frames = sim.framesReceived().size();
    const qsizetype before = w.logSize();
    w.click(button);
    const QString line =
        w.get<QLabel>(qPrintable(label))->text() + ": " + typed + " (" + allowed + ")";
    QVERIFY(w.logTailIs(before, {Refusal("par_error"), {line, kLogRed, 9}}));
    QCOMPARE(w.get<QStackedWidget>("PageStack")->currentWidget()->objectName(), page);
    QCOMPARE(QApplication::focusWidget(), w.get<QWidget>(qPrintable(field)));
    QCOMPARE(w.get<QLineEdit>(qPrintable(field))->selectedText(), typed);
    QCOMPARE(sim.framesReceived().size(), frames);
    QVERIFY(!QFile::exists(exportPath));
  }
  QCOMPARE(sim.stateRecord(), RecordBytes(unit));

  typeInto(valid);
  w.click("sb_setpar");
  QVERIFY(w.lastLineIs(Success("app_par_save_completed")));
  // Exactly the edited field changed.
  QCOMPARE(RecordDifferences(RecordFrom(sim.stateRecord()), unit)
               .split(u'\n', Qt::SkipEmptyParts)
               .size(),
           1);
}

void TestParamExchange::windowClosedDuringReadWait_data() { AddCloseRows(); }

void TestParamExchange::windowClosedDuringReadWait() {
  QFETCH(bool, destroy);
  Session s({"--silent", "3"});
  QVERIFY(s.connect());
  const QString settingsFile = QDir(s.w.dir()).filePath(QStringLiteral("parcfg.ini"));
  s.w.onLine("app_par_reading", [&] { s.w.closeOrDestroy(destroy); });
  const qsizetype before = s.w.logSize();
  s.w.click("sb_getpar");

  // The read ends where it was: no failure report, no product request, and
  // the DTU is not told to leave configuration mode.
  if (!destroy) {
    QVERIFY(s.w.logTailIs(before, {Progress("app_par_reading")}));
    QVERIFY(!s.w.form().link().CommHandle().IsOpen());
    QVERIFY(QFile::exists(settingsFile));
  }
  s.sim.waitForLog([&] { return !s.sim.framesReceived().isEmpty(); });
  QCOMPARE(s.sim.framesReceived(), QList<QByteArray>{kReadRequest});
  QVERIFY(s.sim.deviceIsFree());
}

void TestParamExchange::disconnectDuringReadWait() {
  // Disconnect stays enabled while a read waits; pressing it must end the
  // read as cancelled, not let it write to the closed port.
  Session s({"--silent", "7"});
  QVERIFY(s.connect());
  s.w.onLine("app_par_read_completed", [&] { s.w.click("sb_com_close"); });
  const qsizetype before = s.w.logSize();
  s.w.click("sb_getpar");

  QVERIFY(s.w.logTailIs(before, {Progress("app_par_reading"), Success("app_par_read_completed"),
                                 Progress("serial_closed"), Failure("operation_cancelled")}));
  QVERIFY(!s.w.waitCursor());
  QVERIFY(!s.w.form().link().LinkConnected);
  QVERIFY(!s.w.form().link().CommHandle().IsOpen());
  QCOMPARE(s.w.linkButtons(), QStringLiteral("10000"));
  s.sim.waitForLog([&] { return s.sim.framesReceived().size() >= 3; });
  QCOMPARE(s.sim.framesReceived(),
           (QList<QByteArray>{kReadRequest, kSysInfoRequest, FrameBytes(2)}));
}

void TestParamExchange::closingWhileConnectedDoesNotTellTheDtu() {
  Session s;
  QVERIFY(s.connect());
  s.w.form().close();
  QVERIFY(!s.w.form().link().CommHandle().IsOpen());
  // Nothing at all reached the DTU after the switch command.
  QVERIFY(s.sim.logText().contains("RX switch"));
  QCOMPARE(s.sim.framesReceived(), QList<QByteArray>{});
  QVERIFY(s.sim.deviceIsFree());
}

void TestParamExchange::progressLineFollowsItsRequest() {
  // Each progress line reaches the log once its request is on the wire: when
  // the line appears, the request is the last frame written, and only then
  // does the unit answer.
  auto owned = std::make_unique<FakeSerialPort>();
  FakeSerialPort* port = owned.get();
  WindowFixture w(std::move(owned));
  const QByteArray record = RecordBytes(DistinctRecord());
  const struct {
    const char* key;
    QByteArray request, answer;
  } steps[] = {
      {"conneting", "######", FrameBytes(1, "V2.01")},
      {"app_par_reading", kReadRequest, FrameBytes(3, record) + FrameBytes(7, QByteArray(49, 'I'))},
      {"app_par_saving", FrameBytes(4, record), FrameBytes(4, "\x01")},
  };
  QMap<QString, QByteArray> lastWritten;
  QObject ctx;
  QObject::connect(w.get<QPlainTextEdit>("RichEdit1"), &QPlainTextEdit::textChanged, &ctx, [&] {
    for (const auto& step : steps)
      if (w.logTexts().last() == WindowFixture::caption(step.key) &&
          !lastWritten.contains(step.key)) {
        lastWritten[step.key] = port->writtenFrames().value(port->writtenFrames().size() - 1);
        port->feedReceived(step.answer);
      }
  });
  for (const char* button : {"sb_com_open", "sb_getpar", "sb_setpar"}) w.click(button);
  QVERIFY(w.lastLineIs(Success("app_par_save_completed")));
  for (const auto& step : steps) QCOMPARE(lastWritten.value(step.key), step.request);
}

QTEST_MAIN(TestParamExchange)
#include "test_param_exchange.moc"
