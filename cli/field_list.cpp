#include "cli/field_list.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "cli/cli_output.h"
#include "params/field_model.h"

namespace {

QString Text(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

QJsonValue CaptionJson(const Caption& c) {
  if (c.text.empty()) return QJsonValue::Null;
  return QJsonObject{{QStringLiteral("key"), c.key.empty() ? QJsonValue() : Text(c.key)},
                     {QStringLiteral("text"), Text(c.text)}};
}

QJsonValue ConditionJson(const FieldCondition& c) {
  if (c.always()) return QJsonValue::Null;
  const std::string_view word = WordOf(c.field, c.is);
  return QJsonObject{{QStringLiteral("field"), QString::fromLatin1(FieldInfo(c.field).name)},
                     {QStringLiteral("is"), c.is},
                     {QStringLiteral("word"), word.empty() ? QJsonValue() : Text(word)}};
}

// The conditions that hold always are left out.
QJsonArray Conditions(std::initializer_list<FieldCondition> conditions) {
  QJsonArray out;
  for (const FieldCondition& c : conditions)
    if (!c.always()) out.append(ConditionJson(c));
  return out;
}

QString EncodingName(FieldEncoding e) {
  switch (e) {
  case FieldEncoding::U8:
    return QStringLiteral("u8");
  case FieldEncoding::U16:
    return QStringLiteral("u16");
  case FieldEncoding::U32:
    return QStringLiteral("u32");
  case FieldEncoding::Ipv4:
    return QStringLiteral("ipv4");
  case FieldEncoding::Text:
    return QStringLiteral("text");
  case FieldEncoding::Flag:
    return QStringLiteral("flag");
  case FieldEncoding::List:
    return QStringLiteral("list");
  case FieldEncoding::Bytes:
    return QStringLiteral("bytes");
  }
  return {};
}

QJsonObject RowJson(const FieldRow& row) {
  const AppFieldInfo& info = FieldInfo(row.field);
  const FieldGroup& group = GroupOf(row);
  const FieldPage& page = PageOf(row);
  QJsonObject o{
      {QStringLiteral("name"), QString::fromLatin1(info.name)},
      {QStringLiteral("record"),
       QJsonObject{{QStringLiteral("offset"), info.offset},
                   {QStringLiteral("size"), info.size},
                   {QStringLiteral("encoding"), EncodingName(info.encoding)}}},
      {QStringLiteral("page"), QJsonObject{{QStringLiteral("key"), Text(page.section)},
                                           {QStringLiteral("text"), Text(page.navigation.text)},
                                           {QStringLiteral("control"), Text(page.control)}}},
      {QStringLiteral("group"), CaptionJson(group.heading)},
      {QStringLiteral("label"), CaptionJson(row.label)},
      {QStringLiteral("unit"), CaptionJson(row.unit)},
      {QStringLiteral("control"), row.control.empty() ? QJsonValue() : Text(row.control)},
      {QStringLiteral("kind"), Text(KindName(row.kind))},
      {QStringLiteral("typing"), Text(TypingName(row.typing))},
      {QStringLiteral("max_characters"), TypingLimit(row.field)},
      {QStringLiteral("allowed"), QString::fromStdString(AllowedText(row.field))},
      {QStringLiteral("exit_rule"), HasExitRule(row.field)},
      {QStringLiteral("shown_when"), Conditions({group.shownWhen, row.shownWhen})},
      {QStringLiteral("enabled_when"), Conditions({row.enabledWhen})},
  };
  if (!row.words.empty()) {
    QJsonArray words;
    for (std::size_t i = 0; i < row.words.size(); ++i)
      words.append(QJsonObject{{QStringLiteral("value"), int(i)},
                               {QStringLiteral("word"), Text(row.words[i].word)},
                               {QStringLiteral("caption"), CaptionJson(row.words[i].caption)}});
    o.insert(QStringLiteral("words"), words);
  }
  if (row.kind == FieldKind::Number) {
    if (!row.values.empty()) {
      QJsonArray values;
      for (std::uint32_t v : row.values) values.append(qint64(v));
      o.insert(QStringLiteral("values"), values);
    } else {
      const NumberRange& r = row.range;
      o.insert(QStringLiteral("min"), r.min);
      o.insert(QStringLiteral("max"), r.max);
      if (r.gapMin <= r.gapMax)
        o.insert(QStringLiteral("except"),
                 QJsonObject{{QStringLiteral("min"), r.gapMin}, {QStringLiteral("max"), r.gapMax}});
      // Which ends the window's exit rule compares (a pasted negative number
      // passes a rule without a lower bound).
      if (HasExitRule(row.field)) {
        o.insert(QStringLiteral("exit_checks_min"), r.exitChecksMin);
        o.insert(QStringLiteral("exit_checks_max"), r.exitChecksMax);
      }
    }
  }
  if (row.kind == FieldKind::Text || row.kind == FieldKind::HexPacket) {
    o.insert(QStringLiteral("max_bytes"), row.maxBytes);
    o.insert(QStringLiteral("exact_bytes"), row.exactBytes);
  }
  if (row.zeroWhileZero != AppField::Count)
    o.insert(QStringLiteral("zero_while_zero"),
             QString::fromLatin1(FieldInfo(row.zeroWhileZero).name));
  if (row.kind == FieldKind::Check) o.insert(QStringLiteral("on_when_non_zero"), row.onWhenNonZero);

  QJsonArray stored;
  for (const StoreRule& rule : kStoreRules) {
    if (rule.field != row.field) continue;
    QJsonObject s{{QStringLiteral("when"), ConditionJson(rule.when)}};
    switch (rule.effect) {
    case StoreEffect::Set:
      s.insert(QStringLiteral("set"), qint64(rule.value));
      break;
    case StoreEffect::AtMost:
      s.insert(QStringLiteral("at_most"), qint64(rule.value));
      break;
    case StoreEffect::ByteCountOf:
      s.insert(QStringLiteral("byte_count_of"), QString::fromLatin1(FieldInfo(rule.source).name));
      break;
    }
    stored.append(s);
  }
  o.insert(QStringLiteral("stored_from"), stored);

  QJsonArray changed;
  for (const ChangeRule& rule : kChangeRules) {
    if (rule.field != row.field) continue;
    changed.append(QJsonObject{{QStringLiteral("when"), ConditionJson(rule.when)},
                               {QStringLiteral("then"), rule.then},
                               {QStringLiteral("otherwise"),
                                rule.otherwiseSet ? QJsonValue(rule.otherwise) : QJsonValue()}});
  }
  o.insert(QStringLiteral("set_on_change"), changed);
  return o;
}

} // namespace

QJsonArray FieldModelJson() {
  QJsonArray out;
  for (const FieldRow& row : kFieldRows) out.append(RowJson(row));
  return out;
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
