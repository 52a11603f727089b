#include "cli/field_list.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "cli/cli_output.h"
#include "params/field_model.h"
#include "params/field_model_json.h"

namespace {

QString Text(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

} // namespace

// The core's text, so the command line and the browser page print the same facts.
QJsonArray FieldModelJson() {
  return QJsonDocument::fromJson(QByteArray::fromStdString(FieldModelJsonText())).array();
}

int PrintFieldModel(bool json) {
  if (json) {
    // One line like every command's, the model as its `fields` array.
    QJsonObject line = JsonLine(QString(), QStringLiteral("fields"), QStringLiteral("ok"));
    line.insert(QStringLiteral("fields"), FieldModelJson());
    PrintJson(line);
    return 0;
  }
  qsizetype width = 0;
  for (const FieldRow& row : kFieldRows)
    width =
        std::max<qsizetype>(width, qsizetype(std::string_view(FieldInfo(row.field).name).size()));
  for (const FieldRow& row : kFieldRows) {
    QStringList parts{QString::fromStdString(WhereText(row.field)), Text(KindName(row.kind)),
                      QString::fromStdString(AllowedText(row.field))};
    if (const std::string shown = ShownText(row.field); !shown.empty())
      parts << QString::fromStdString(shown);
    if (const std::string stored = StoredText(row.field); !stored.empty())
      parts << QStringLiteral("stored as ") + QString::fromStdString(stored);
    PrintOut(QString::fromLatin1(FieldInfo(row.field).name).leftJustified(width + 2) +
             parts.join(QStringLiteral(" · ")));
  }
  return 0;
}
