#include "params/field_model_json.h"

#include <initializer_list>
#include <string_view>

#include "params/field_model.h"

namespace {

// Appends JSON values to one string; objects and arrays are opened and
// closed by the caller, commas come by themselves.
class JsonWriter {
public:
  std::string text;

  void Open(char bracket) {
    Comma();
    text += bracket;
    first_ = true;
  }
  void Close(char bracket) {
    text += bracket;
    first_ = false;
  }
  // A key inside an object; the value follows.
  JsonWriter& Key(std::string_view key) {
    String(key);
    text += ':';
    first_ = true; // no comma between a key and its value
    return *this;
  }
  void String(std::string_view s) {
    Comma();
    text += '"';
    for (const char c : s) {
      switch (c) {
      case '"':
        text += "\\\"";
        break;
      case '\\':
        text += "\\\\";
        break;
      case '\n':
        text += "\\n";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          static constexpr char kHex[] = "0123456789abcdef";
          text += "\\u00";
          text += kHex[(c >> 4) & 0xF];
          text += kHex[c & 0xF];
        } else {
          text += c; // UTF-8 passes as it is
        }
      }
    }
    text += '"';
  }
  void Number(long long n) {
    Comma();
    text += std::to_string(n);
  }
  void Bool(bool b) {
    Comma();
    text += b ? "true" : "false";
  }
  void Null() {
    Comma();
    text += "null";
  }

private:
  void Comma() {
    if (!first_) text += ',';
    first_ = false;
  }
  bool first_ = true;
};

void CaptionValue(JsonWriter& w, const Caption& c) {
  if (c.text.empty()) return w.Null();
  w.Open('{');
  if (c.key.empty())
    w.Key("key").Null();
  else
    w.Key("key").String(c.key);
  w.Key("text").String(c.text);
  w.Close('}');
}

void ConditionValue(JsonWriter& w, const FieldCondition& c) {
  if (c.always()) return w.Null();
  const std::string_view word = WordOf(c.field, c.is);
  w.Open('{');
  w.Key("field").String(FieldInfo(c.field).name);
  w.Key("is").Number(c.is);
  if (word.empty())
    w.Key("word").Null();
  else
    w.Key("word").String(word);
  w.Close('}');
}

// The conditions that hold always are left out.
void Conditions(JsonWriter& w, std::initializer_list<FieldCondition> conditions) {
  w.Open('[');
  for (const FieldCondition& c : conditions)
    if (!c.always()) ConditionValue(w, c);
  w.Close(']');
}

std::string_view EncodingName(FieldEncoding e) {
  switch (e) {
  case FieldEncoding::U8:
    return "u8";
  case FieldEncoding::U16:
    return "u16";
  case FieldEncoding::U32:
    return "u32";
  case FieldEncoding::Ipv4:
    return "ipv4";
  case FieldEncoding::Text:
    return "text";
  case FieldEncoding::Flag:
    return "flag";
  case FieldEncoding::List:
    return "list";
  case FieldEncoding::Bytes:
    return "bytes";
  }
  return {};
}

void Row(JsonWriter& w, const FieldRow& row) {
  const AppFieldInfo& info = FieldInfo(row.field);
  const FieldGroup& group = GroupOf(row);
  const FieldPage& page = PageOf(row);
  w.Open('{');
  w.Key("name").String(info.name);
  w.Key("record").Open('{');
  w.Key("offset").Number(info.offset);
  w.Key("size").Number(info.size);
  w.Key("encoding").String(EncodingName(info.encoding));
  w.Close('}');
  w.Key("page").Open('{');
  w.Key("key").String(page.section);
  w.Key("text").String(page.navigation.text);
  w.Key("control").String(page.control);
  w.Key("navigation").String(page.navigation.key);
  w.Close('}');
  CaptionValue(w.Key("group"), group.heading);
  CaptionValue(w.Key("label"), row.label);
  CaptionValue(w.Key("unit"), row.unit);
  if (row.control.empty())
    w.Key("control").Null();
  else
    w.Key("control").String(row.control);
  w.Key("kind").String(KindName(row.kind));
  w.Key("typing").String(TypingName(row.typing));
  w.Key("max_characters").Number(TypingLimit(row.field));
  w.Key("allowed").String(AllowedText(row.field));
  w.Key("exit_rule").Bool(HasExitRule(row.field));
  Conditions(w.Key("shown_when"), {group.shownWhen, row.shownWhen});
  Conditions(w.Key("enabled_when"), {row.enabledWhen});
  if (!row.words.empty()) {
    w.Key("words").Open('[');
    for (std::size_t i = 0; i < row.words.size(); ++i) {
      w.Open('{');
      w.Key("value").Number(static_cast<long long>(i));
      w.Key("word").String(row.words[i].word);
      CaptionValue(w.Key("caption"), row.words[i].caption);
      w.Close('}');
    }
    w.Close(']');
  }
  if (row.kind == FieldKind::Number) {
    if (!row.values.empty()) {
      w.Key("values").Open('[');
      for (const std::uint32_t v : row.values) w.Number(v);
      w.Close(']');
    } else {
      const NumberRange& r = row.range;
      w.Key("min").Number(r.min);
      w.Key("max").Number(r.max);
      if (r.gapMin <= r.gapMax) {
        w.Key("except").Open('{');
        w.Key("min").Number(r.gapMin);
        w.Key("max").Number(r.gapMax);
        w.Close('}');
      }
      // Which ends the window's exit rule compares (a pasted negative number
      // passes a rule without a lower bound).
      if (HasExitRule(row.field)) {
        w.Key("exit_checks_min").Bool(r.exitChecksMin);
        w.Key("exit_checks_max").Bool(r.exitChecksMax);
      }
    }
  }
  if (row.kind == FieldKind::Text || row.kind == FieldKind::HexPacket) {
    w.Key("max_bytes").Number(row.maxBytes);
    w.Key("exact_bytes").Bool(row.exactBytes);
  }
  if (row.zeroWhileZero != AppField::Count)
    w.Key("zero_while_zero").String(FieldInfo(row.zeroWhileZero).name);
  if (row.kind == FieldKind::Check) w.Key("on_when_non_zero").Bool(row.onWhenNonZero);

  w.Key("stored_from").Open('[');
  for (const StoreRule& rule : kStoreRules) {
    if (rule.field != row.field) continue;
    w.Open('{');
    ConditionValue(w.Key("when"), rule.when);
    switch (rule.effect) {
    case StoreEffect::Set:
      w.Key("set").Number(rule.value);
      break;
    case StoreEffect::AtMost:
      w.Key("at_most").Number(rule.value);
      break;
    case StoreEffect::ByteCountOf:
      w.Key("byte_count_of").String(FieldInfo(rule.source).name);
      break;
    }
    w.Close('}');
  }
  w.Close(']');

  w.Key("set_on_change").Open('[');
  for (const ChangeRule& rule : kChangeRules) {
    if (rule.field != row.field) continue;
    w.Open('{');
    ConditionValue(w.Key("when"), rule.when);
    w.Key("then").Number(rule.then);
    if (rule.otherwiseSet)
      w.Key("otherwise").Number(rule.otherwise);
    else
      w.Key("otherwise").Null();
    w.Close('}');
  }
  w.Close(']');
  w.Close('}');
}

} // namespace

std::string FieldModelJsonText() {
  JsonWriter w;
  w.Open('[');
  for (const FieldRow& row : kFieldRows) Row(w, row);
  w.Close(']');
  return std::move(w.text);
}
