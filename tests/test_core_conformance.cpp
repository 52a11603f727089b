// The conformance table driven through the core itself: what every front end
// must agree with, since each of them only moves values to and from it.

#include <QtTest>

#include "conformance/conformance_table.h"
#include "firmware/image_check.h"
#include "params/edited_config.h"
#include "link/link_settings.h"
#include "params/param_profile.h"

using conformance::Case;

class TestCoreConformance : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void images_data();
  void images();
  void records_data();
  void records();
  void switchCommands_data();
  void switchCommands();

private:
  QList<Case> cases_;
};

void TestCoreConformance::initTestCase() {
  QString error;
  cases_ = conformance::LoadCases(error);
  QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestCoreConformance::images_data() {
  conformance::AddRows(cases_, {QStringLiteral("image")}, QStringLiteral("core"));
}

void TestCoreConformance::images() {
  QFETCH(int, index);
  const Case& c = cases_[index];
  const QByteArray file = conformance::CaseBytes(c, "file");
  const ImageVerdict v = CheckFirmwareImage(
      {reinterpret_cast<const std::uint8_t*>(file.constData()), std::size_t(file.size())});
  QCOMPARE(QString::fromStdString(v.key), c.Refused());
  if (v.accepted()) {
    QCOMPARE(QString::fromStdString(v.descriptor.version),
             c.expect.value(QStringLiteral("version")).toString());
    QCOMPARE(qsizetype(v.descriptor.length), file.size() - 8);
    QCOMPARE(int(v.descriptor.checksum), conformance::BodySum(file));
  } else {
    QCOMPARE(v.forcible, c.expect.value(QStringLiteral("forcible")).toBool());
    QVERIFY(!v.text.empty());
  }
}

void TestCoreConformance::records_data() {
  conformance::AddRows(cases_, {QStringLiteral("record")}, QStringLiteral("core"));
}

// What a unit stores after a file is written to it, through the
// configuration every front end binds to: the unit's record read, the file
// taken by its content, the edits typed, the check before the write, and
// the record encoded with the store rules.
void TestCoreConformance::records() {
  QFETCH(int, index);
  const Case& c = cases_[index];
  const QByteArray unitBytes = conformance::UnitBytes(c);
  const QByteArray file = conformance::CaseBytes(c, "file");
  EditedConfig config;
  config.Load(TAppParams::FromBytes({reinterpret_cast<const std::uint8_t*>(unitBytes.constData()),
                                     std::size_t(unitBytes.size())}),
              LoadedFrom::Unit);
  const auto taken =
      config.TakeFile(std::string_view(file.constData(), std::size_t(file.size())),
                      c.data.value(QStringLiteral("file_name")).toString().toStdString());
  QString refused, field;
  QByteArray stored;
  if (!taken.ok()) {
    refused = QString::fromStdString(taken.refusalKey.empty() ? "profile_error" : taken.refusalKey);
    if (!taken.errors.empty()) field = QString::fromStdString(taken.errors.front().name);
  } else {
    for (const QJsonValue& edit : c.data.value(QStringLiteral("edits")).toArray())
      config.SetValue(FieldByName(edit.toArray().at(0).toString().toStdString()),
                      edit.toArray().at(1).toString().toStdString());
    const auto refusals = config.Check();
    if (!refusals.empty()) {
      refused = QString::fromStdString(refusals.front().key);
      field = QString::fromLatin1(FieldInfo(refusals.front().field).name);
    } else if (const auto encoded = config.Encode(); encoded.record) {
      stored = QByteArray(reinterpret_cast<const char*>(encoded.record->bytes().data()),
                          qsizetype(encoded.record->bytes().size()));
    }
  }
  QCOMPARE(refused, c.Refused());
  if (!refused.isEmpty()) {
    QCOMPARE(field, c.expect.value(QStringLiteral("field")).toString());
    return;
  }
  QCOMPARE(stored.toHex(' '), conformance::StoredBytes(c).toHex(' '));
}

void TestCoreConformance::switchCommands_data() {
  conformance::AddRows(cases_, {QStringLiteral("switch_command")}, QStringLiteral("core"));
}

void TestCoreConformance::switchCommands() {
  QFETCH(int, index);
  const Case& c = cases_[index];
  const QString command = c.data.value(QStringLiteral("switch_command")).toString();
  const SwitchCommandCheck check = CheckSwitchCommand(command.toStdString());
  QCOMPARE(QString::fromStdString(check.key), c.Refused());
  if (!c.Refused().isEmpty()) return;
  QCOMPARE(conformance::PaddedSwitchBytes(QByteArray::fromStdString(check.bytes)).toHex(),
           c.expect.value(QStringLiteral("sent")).toString().toLatin1());
  QCOMPARE(QString::fromStdString(check.sent),
           conformance::SentText(c.expect.value(QStringLiteral("sent")).toString()));
  // Typed character by character into an empty field: what does not fit is not taken.
  QString typed;
  for (const QChar ch : command)
    if (SwitchCommandTypingFits((typed + ch).toStdString(), "")) typed += ch;
  QCOMPARE(typed, c.expect.value(QStringLiteral("typed")).toString(command));
}

QTEST_APPLESS_MAIN(TestCoreConformance)
#include "test_core_conformance.moc"
