// The conformance table driven through the window, offscreen: TForm1's and
// TForm3's handlers as a technician reaches them (the file dialogs answered,
// the buttons clicked, the switch command typed), against dtu-sim where a
// unit is needed.

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "app/link_settings_dialog.h"
#include "app/main_window.h"
#include "conformance/conformance_table.h"
#include "params/field_model.h"
#include "params/param_profile.h"
#include "support/dtu_sim_process.h"
#include "support/window_fixture.h"

using conformance::Case;

namespace {

struct Descriptor {
  QString path, version, length, checksum;
  bool operator==(const Descriptor&) const = default;
};

Descriptor Shown(const WindowFixture& fx) {
  return {fx.text("edSelectfile"), fx.text("edDlversion"), fx.text("edDllength"),
          fx.text("edDlchecksum")};
}

// Types text as a keyboard or an input method would, one character at a time
// (a character beyond U+FFFF whole; a control character pasted);
// QTest::keyClicks takes ASCII only.
void TypeInto(QLineEdit* field, const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    if (text[i] < u' ') { // a tab and the like cannot be typed into a field: pasted
      QGuiApplication::clipboard()->setText(text.mid(i, n));
      QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    } else {
      QTest::sendKeyEvent(QTest::Click, field, Qt::Key_unknown, text.mid(i, n), Qt::NoModifier);
    }
    i += n - 1;
  }
}

// Gives a field its value as a technician does: its page brought to the
// front, a list item chosen by its word, a box ticked or cleared, a text
// typed over the old one and the field left with Tab (the exit rule runs).
void Edit(WindowFixture& fx, const QString& name, const QString& text) {
  const FieldRow& row = FieldRowOf(FieldByName(name.toStdString()));
  QWidget* control = fx.get<QWidget>(std::string(row.control).c_str());
  for (QWidget* w = control; w; w = w->parentWidget())
    for (const auto& [button, page] : kPageButtons)
      if (w->objectName() == QLatin1String(page)) fx.click(button);
  qsizetype word = 0;
  while (word < qsizetype(row.words.size()) &&
         row.words[std::size_t(word)].word != text.toStdString())
    ++word;
  if (qobject_cast<QComboBox*>(control)) {
    fx.choose(std::string(row.control).c_str(), int(word));
  } else if (auto* box = qobject_cast<QCheckBox*>(control)) {
    if (box->isChecked() != (word == 1)) QTest::mouseClick(box, Qt::LeftButton);
  } else if (auto* field = qobject_cast<QLineEdit*>(control)) {
    field->setFocus();
    field->selectAll();
    TypeInto(field, text);
    QTest::keyClick(field, Qt::Key_Tab);
  }
}

} // namespace

class TestConformanceWindow : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void images_data();
  void images();
  void switchCommands_data();
  void switchCommands();
  void records_data();
  void records();

private:
  QList<Case> cases_;
};

void TestConformanceWindow::initTestCase() {
  SetPortListing(TestMachinePorts);
  QString error;
  cases_ = conformance::LoadCases(error);
  QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestConformanceWindow::images_data() {
  conformance::AddRows(cases_, {QStringLiteral("image")}, QStringLiteral("window"));
}

// Chosen on the firmware page after a good image: shown, or refused in red
// with the earlier image kept.
void TestConformanceWindow::images() {
  QFETCH(int, index);
  const Case& c = cases_[index];
  WindowFixture fx;
  QByteArray earlier("V0.9\0\0\0\0", 8);
  for (int i = 0; i < 300; ++i) earlier += char(i * 5 + 1);
  fx.dialogAnswers.push_back(
      conformance::WriteCaseFile(fx.dir(), QStringLiteral("earlier.bin"), earlier));
  fx.click("SpeedButton35");
  const Descriptor before = Shown(fx);
  QCOMPARE(before.version, QStringLiteral("V0.9"));

  const QByteArray file = conformance::CaseBytes(c, "file");
  const QString path = conformance::WriteCaseFile(fx.dir(), QStringLiteral("case.bin"), file);
  const qsizetype linesBefore = fx.logSize();
  fx.dialogAnswers.push_back(path);
  fx.click("SpeedButton35");

  const QString refused = c.Refused();
  if (refused.isEmpty()) {
    QCOMPARE(Shown(fx), (Descriptor{path, c.expect.value(QStringLiteral("version")).toString(),
                                    QString::number(file.size() - 8),
                                    QString::number(conformance::BodySum(file))}));
    QCOMPARE(fx.logSize(), linesBefore);
    return;
  }
  QCOMPARE(fx.logSize(), linesBefore + 1);
  const LogLine line = fx.logLines().last();
  QCOMPARE(line.colour, kLogRed);
  const QString start = WindowFixture::caption("bin_error") + QDir::toNativeSeparators(path) + " (";
  const QString end =
      "); " + WindowFixture::caption("bin_kept") + QDir::toNativeSeparators(before.path);
  QVERIFY2(line.text.startsWith(start) && line.text.endsWith(end), qPrintable(line.text));
  const QString reason = line.text.mid(start.size(), line.text.size() - start.size() - end.size());
  QVERIFY2(conformance::MessagePattern("caption.ini", refused).match(reason).hasMatch(),
           qPrintable(reason));
  QCOMPARE(Shown(fx), before);
}

void TestConformanceWindow::switchCommands_data() {
  conformance::AddRows(cases_, {QStringLiteral("switch_command")}, QStringLiteral("window"));
}

// In the link settings dialog as parcfg.ini gave it, then typed into an
// empty field; an accepted command connects to a unit whose own it is.
void TestConformanceWindow::switchCommands() {
  QFETCH(int, index);
  const Case& c = cases_[index];
  const QString command = c.data.value(QStringLiteral("switch_command")).toString();
  const QString refused = c.Refused();
  WindowFixture fx;
  TForm3& dialog = *fx.form().Form3();
  dialog.SetSwitchCommand(command);
  dialog.open();
  QCOMPARE(dialog.BitBtn1->isEnabled(), refused.isEmpty());
  QCOMPARE(dialog.lbSwitchChrFault->isVisible(), !refused.isEmpty());
  if (!refused.isEmpty())
    QCOMPARE(dialog.lbSwitchChrFault->text(), WindowFixture::caption(qPrintable(refused)));
  dialog.reject();

  TForm3 typing;
  typing.SetSwitchCommand(QString());
  typing.open();
  TypeInto(typing.edSwitchChr, command);
  QCOMPARE(typing.edSwitchChr->text(), c.expect.value(QStringLiteral("typed")).toString(command));
  typing.reject();
  if (!refused.isEmpty()) return;

  const QString sent = c.expect.value(QStringLiteral("sent")).toString();
  QVERIFY(dialog.LinkSummary(true).endsWith(", " + conformance::SentText(sent)));
  QByteArray record = conformance::UnitBytes(c);
  record.replace(607, 6, QByteArray::fromHex(sent.toLatin1())); // switch_cmd
  DtuSimProcess sim;
  QVERIFY2(sim.startWithRecord(record), qPrintable(sim.errorString()));
  dialog.SetSwitchCommand(command);
  QVERIFY(fx.connectTo(sim.devicePath()));
  QCOMPARE(sim.logged("RX switch").toHex(), sent.toLatin1());
}

void TestConformanceWindow::records_data() {
  conformance::AddRows(cases_, {QStringLiteral("record")}, QStringLiteral("window"));
}

// Connected to a unit holding the case's record: read, import the file,
// type the edits, write; what the unit holds then.
void TestConformanceWindow::records() {
  QFETCH(int, index);
  const Case& c = cases_[index];
  DtuSimProcess sim;
  QVERIFY2(sim.startWithRecord(conformance::UnitBytes(c)), qPrintable(sim.errorString()));
  WindowFixture fx;
  QVERIFY(fx.connectTo(sim.devicePath()));
  fx.click("sb_getpar");
  const QString name =
      c.data.value(QStringLiteral("file_name")).toString(QStringLiteral("unit.bin"));
  fx.dialogAnswers.push_back(
      conformance::WriteCaseFile(fx.dir(), name, conformance::CaseBytes(c, "file")));
  fx.click("SpeedButton11");
  fx.form().activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&fx.form()));
  for (const QJsonValue& edit : c.data.value(QStringLiteral("edits")).toArray())
    Edit(fx, edit.toArray().at(0).toString(), edit.toArray().at(1).toString());
  const qsizetype beforeWrite = fx.logTexts().size();
  fx.click("sb_setpar");
  if (!c.Refused().isEmpty()) {
    QVERIFY(sim.stateRecord().isEmpty());
    // par_error, then the field's line naming the value it refused.
    const QString field = c.expect.value(QStringLiteral("field")).toString();
    QString value;
    for (const QJsonValue& edit : c.data.value(QStringLiteral("edits")).toArray())
      if (edit.toArray().at(0).toString() == field) value = edit.toArray().at(1).toString();
    // Once for the press of 设置: a refusal logged twice reads as two faults.
    const QStringList lines = fx.logTexts().mid(beforeWrite);
    const QString refusal = WindowFixture::caption(qPrintable(c.Refused()));
    const qsizetype at = lines.indexOf(refusal);
    QVERIFY2(at >= 0 && at + 1 < lines.size() && lines[at + 1].contains(": " + value + " (") &&
                 lines.count(refusal) == 1,
             qPrintable(lines.join(u'\n')));
    return;
  }
  QCOMPARE(sim.stateRecord().toHex(' '), conformance::StoredBytes(c).toHex(' '));
}

QTEST_MAIN(TestConformanceWindow)
#include "test_conformance_window.moc"
