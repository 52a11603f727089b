#pragma once
// The conformance table (tests/conformance/*.json, see its README) as every
// C++ runner reads it: the cases in file order, and their bytes built from
// the pieces. Header only: Qt Core and the core library, so the window-free
// core runner uses it too.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringEncoder>
#include <QStringList>
#include <QTest>

#include <QRegularExpression>

#include "params/factory_set.h"
#include "platform/code_page_936.h"
#include "platform/profile_ini.h"

namespace conformance {

inline QString TableDir() { return QStringLiteral(K7V_SOURCE_DIR "/tests/conformance"); }

struct Case {
  QString id;       // FILE/NAME
  QString kind;     // image, switch_command, record
  QJsonObject data; // the case as written
  QJsonObject expect;
  // True when the runner named frontEnd is to drive the case.
  bool RunsOn(const QString& frontEnd) const {
    const QJsonArray only = data.value(QStringLiteral("front_ends")).toArray();
    return only.isEmpty() || only.contains(frontEnd);
  }
  QString Refused() const { return expect.value(QStringLiteral("refused")).toString(); }
};

// Every case of every table file, files in name order; a file that cannot
// be read or parsed, or a case without name or kind, is an error (the runner
// fails then, rather than driving fewer cases).
inline QList<Case> LoadCases(QString& error) {
  QList<Case> cases;
  const QDir dir(TableDir());
  for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
    QFile file(dir.filePath(name));
    QJsonParseError parse{};
    const QJsonDocument doc = file.open(QIODevice::ReadOnly)
                                  ? QJsonDocument::fromJson(file.readAll(), &parse)
                                  : QJsonDocument();
    if (!doc.isObject()) {
      error = name + QStringLiteral(": ") + parse.errorString();
      return {};
    }
    const QString fileKind = doc.object().value(QStringLiteral("kind")).toString();
    for (const QJsonValue& v : doc.object().value(QStringLiteral("cases")).toArray()) {
      Case c;
      c.data = v.toObject();
      c.id = QFileInfo(name).completeBaseName() + u'/' +
             c.data.value(QStringLiteral("name")).toString();
      c.kind = c.data.value(QStringLiteral("kind")).toString(fileKind);
      c.expect = c.data.value(QStringLiteral("expect")).toObject();
      if (c.id.endsWith(u'/') || c.kind.isEmpty() || c.expect.isEmpty()) {
        error = c.id + QStringLiteral(": a case needs a name, a kind and what to expect");
        return {};
      }
      cases << c;
    }
  }
  if (cases.isEmpty()) error = QStringLiteral("no cases in ") + TableDir();
  return cases;
}

// A case's bytes as a file in dir; empty when it cannot be written.
inline QString WriteCaseFile(const QString& dir, const QString& name, const QByteArray& bytes) {
  const QString path = QDir(dir).filePath(name);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return {};
  return path;
}

// The text in one of the encodings a piece may name; empty encoding is UTF-8.
inline QByteArray EncodedText(const QString& text, const QString& encoding, bool bom,
                              QString& error) {
  if (encoding == QLatin1String("gbk")) {
    const cp936::Encoded e = cp936::FromUtf8(text.toStdString());
    if (!e.clean) error = QStringLiteral("not in GBK: ") + text;
    return QByteArray::fromStdString(e.bytes);
  }
  const auto which = encoding == QLatin1String("utf-16le")   ? QStringConverter::Utf16LE
                     : encoding == QLatin1String("utf-16be") ? QStringConverter::Utf16BE
                                                             : QStringConverter::Utf8;
  if (!encoding.isEmpty() && encoding != QLatin1String("utf-8") && which == QStringConverter::Utf8)
    error = QStringLiteral("unknown encoding ") + encoding;
  QStringEncoder encoder(which,
                         bom ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default);
  return encoder.encode(text);
}

inline QByteArray PieceBytes(const QJsonObject& p, QString& error);

// The bytes a case gives (pieces one after the other); error says what piece
// could not be built.
inline QByteArray BuildBytes(const QJsonValue& given, QString& error) {
  if (given.isArray()) {
    QByteArray out;
    for (const QJsonValue& piece : given.toArray()) out += BuildBytes(piece, error);
    return out;
  }
  if (given.isString()) return given.toString().toUtf8();
  const QJsonObject p = given.toObject();
  QByteArray bytes = PieceBytes(p, error);
  // [offset, hex] pairs written over the piece.
  for (const QJsonValue& patch : p.value(QLatin1String("patch")).toArray()) {
    const qsizetype at = qsizetype(patch.toArray().at(0).toInteger());
    const QByteArray over =
        QByteArray::fromHex(patch.toArray().at(1).toString().remove(u' ').toLatin1());
    if (at < 0 || at + over.size() > bytes.size())
      error = QStringLiteral("patch outside the piece at %1").arg(at);
    else
      bytes.replace(at, over.size(), over);
  }
  return bytes;
}

// One piece without its patches.
inline QByteArray PieceBytes(const QJsonObject& p, QString& error) {
  const auto count = [&](const char* key) {
    return qsizetype(p.value(QLatin1String(key)).toInteger());
  };
  if (p.contains(QLatin1String("text")))
    return EncodedText(p.value(QLatin1String("text")).toString(),
                       p.value(QLatin1String("encoding")).toString(),
                       p.value(QLatin1String("bom")).toBool(), error);
  if (p.contains(QLatin1String("hex")))
    return QByteArray::fromHex(p.value(QLatin1String("hex")).toString().remove(u' ').toLatin1());
  if (p.contains(QLatin1String("zeros"))) return QByteArray(count("zeros"), '\0');
  if (p.contains(QLatin1String("repeat")))
    return QByteArray::fromHex(p.value(QLatin1String("repeat")).toString().toLatin1())
        .repeated(count("count"));
  if (p.contains(QLatin1String("pattern"))) {
    QByteArray out(count("pattern"), Qt::Uninitialized);
    for (qsizetype i = 0; i < out.size(); ++i) out[i] = char((7 * i + i / 256) & 0xFF);
    return out;
  }
  if (p.contains(QLatin1String("factory_record"))) {
    const TAppParams record = FactoryParams();
    return QByteArray(reinterpret_cast<const char*>(record.bytes().data()),
                      qsizetype(record.bytes().size()));
  }
  if (p.contains(QLatin1String("file"))) {
    QFile file(QDir(TableDir()).filePath(p.value(QLatin1String("file")).toString()));
    if (file.open(QIODevice::ReadOnly)) return file.readAll();
    error = QStringLiteral("cannot read ") + file.fileName();
    return {};
  }
  error = QStringLiteral("unknown piece ") +
          QString::fromUtf8(QJsonDocument(p).toJson(QJsonDocument::Compact));
  return {};
}

// The bytes of key in the case; a piece that cannot be built fails the test.
inline QByteArray CaseBytes(const Case& c, const char* key) {
  QString error;
  const QByteArray bytes = BuildBytes(c.data.value(QLatin1String(key)), error);
  if (!error.isEmpty())
    QTest::qFail(qPrintable(c.id + QStringLiteral(": ") + error), __FILE__, __LINE__);
  return bytes;
}

// The unit's record before a record case: its "unit" bytes, else the factory set.
inline QByteArray UnitBytes(const Case& c) {
  if (c.data.contains(QLatin1String("unit"))) return CaseBytes(c, "unit");
  QString unused;
  return BuildBytes(QJsonObject{{QStringLiteral("factory_record"), true}}, unused);
}

// The bytes a record case expects the unit to hold afterwards.
inline QByteArray StoredBytes(const Case& c) {
  QString error;
  const QByteArray bytes = BuildBytes(c.expect.value(QLatin1String("stored")), error);
  if (!error.isEmpty())
    QTest::qFail(qPrintable(c.id + QStringLiteral(": ") + error), __FILE__, __LINE__);
  return bytes;
}

// One data row per case of these kinds that frontEnd drives, the case's
// index in LoadCases as the column "index".
inline void AddRows(const QList<Case>& cases, const QStringList& kinds, const QString& frontEnd) {
  QTest::addColumn<int>("index");
  for (qsizetype i = 0; i < cases.size(); ++i)
    if (kinds.contains(cases[i].kind) && cases[i].RunsOn(frontEnd))
      QTest::newRow(qPrintable(cases[i].id)) << int(i);
}

// What a message key's text looks like once its %1, %2 are filled: the
// text of key in the caption file (resources/caption.ini, caption-en.ini),
// each place marker standing for any text. A refusal shown or printed is
// checked against it, so a front end cannot give another key's words.
inline QRegularExpression MessagePattern(const char* captionFile, const QString& key) {
  ProfileIni ini;
  ini.Load(K7V_SOURCE_DIR "/resources/" + std::string(captionFile));
  const QString text = QString::fromStdString(ini.GetString("built_in", key.toStdString(), ""));
  QString pattern = QRegularExpression::escape(text);
  pattern.replace(QRegularExpression(QStringLiteral(R"(\\%\d)")), QStringLiteral(".+"));
  return QRegularExpression(text.isEmpty() ? QStringLiteral("^(?!)") : pattern);
}

// The six bytes on the wire for the bytes of a switch command: zero-padded.
inline QByteArray PaddedSwitchBytes(QByteArray bytes) {
  bytes.resize(6, '\0');
  return bytes;
}

// What the status bar shows for the six bytes sent (hex): them as text, up
// to the first zero byte.
inline QString SentText(const QString& hex) {
  QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
  if (const qsizetype zero = bytes.indexOf('\0'); zero >= 0) bytes.truncate(zero);
  return QString::fromStdString(cp936::ToUtf8(bytes.toStdString()).utf8);
}

// Sum16 worked out here, for what the runners check the shown sum against.
inline int BodySum(const QByteArray& file) {
  unsigned sum = 0;
  for (qsizetype i = 8; i < file.size(); ++i) sum += std::uint8_t(file[i]);
  return int(sum & 0xFFFF);
}

} // namespace conformance
