// The conformance table driven through the core itself: what every front end
// must agree with, since each of them only moves values to and from it.

#include <QtTest>

#include "conformance/conformance_table.h"
#include "firmware/image_check.h"
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

// What a unit stores after a file is written to it, from the core's
// profile rules: a file of a record's size is that record, any other a
// profile applied over the unit's record.
void TestCoreConformance::records() {
  QFETCH(int, index);
  const Case& c = cases_[index];
  const QByteArray unitBytes = conformance::UnitBytes(c);
  const QByteArray file = conformance::CaseBytes(c, "file");
  const TAppParams unit = TAppParams::FromBytes(
      {reinterpret_cast<const std::uint8_t*>(unitBytes.constData()), std::size_t(unitBytes.size())});
  QByteArray stored;
  QString refused;
  if (file.size() == qsizetype(TAppParams::kSize)) {
    stored = file;
  } else {
    const ProfileSource source{c.data.value(QStringLiteral("file_name")).toString().toStdString(),
                               ProfileTextFromFileBytes(file.toStdString())};
    const ProfileResult r = ApplyProfiles(unit, std::span(&source, 1), ProfileChecks::FieldRules);
    if (r.ok())
      stored = QByteArray(reinterpret_cast<const char*>(r.record.bytes().data()),
                          qsizetype(r.record.bytes().size()));
    else
      refused = QString::fromStdString(r.errors.front().name);
  }
  if (!c.Refused().isEmpty()) {
    QCOMPARE(refused, c.expect.value(QStringLiteral("field")).toString());
    return;
  }
  QVERIFY2(refused.isEmpty(), qPrintable(refused));
  QCOMPARE(stored.toHex(' '), conformance::StoredBytes(c).toHex(' '));
}

QTEST_APPLESS_MAIN(TestCoreConformance)
#include "test_core_conformance.moc"
