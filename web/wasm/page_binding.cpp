// The parameter pages for the browser: the field model as the command line
// prints it (`k7vconf-cli fields --json`), the configuration being edited
// (params/edited_config.h) and the status log's built-in message texts. Values cross as plain objects keyed by field name.

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <string>
#include <vector>

#include "params/edited_config.h"
#include "params/factory_set.h"
#include "params/field_checks.h"
#include "params/field_model.h"
#include "params/field_model_json.h"
#include "params/param_profile.h"
#include "platform/built_in_messages.h"
#include "web/wasm/wasm_values.h"

using emscripten::val;

namespace {

// {name: text} for every field with a control.
val ValuesTo(const EditedConfig::Values& values) {
  val out = val::object();
  for (const FieldRow& row : kFieldRows)
    if (!row.control.empty()) out.set(FieldInfo(row.field).name, values[std::size_t(row.field)]);
  return out;
}

// A missing or non-string property is an empty text.
EditedConfig::Values ValuesFrom(const val& object) {
  EditedConfig::Values values;
  if (!wasm_values::IsObject(object)) return values;
  for (const FieldRow& row : kFieldRows)
    if (!row.control.empty())
      values[std::size_t(row.field)] = wasm_values::StringOf(object[FieldInfo(row.field).name]);
  return values;
}

val FieldModel() { return val::global("JSON").call<val>("parse", FieldModelJsonText()); }

std::string NameOf(AppField f) { return FieldInfo(f).name; }

val Names(const std::vector<AppField>& fields) {
  val out = val::array();
  for (AppField f : fields) out.call<void>("push", NameOf(f));
  return out;
}

// {name, allowed, detail}.
val RefusalTo(const ConfigRefusal& refusal) {
  val out = val::object();
  out.set("name", NameOf(refusal.field));
  out.set("key", refusal.key);
  out.set("allowed", refusal.allowed);
  out.set("reason", refusal.reason);
  out.set("detail", refusal.Detail());
  return out;
}

// The configuration being edited (params/edited_config.h); the page passes
// the controls' values in with each call and fills back what it returns.
class EditedConfigBinding {
public:
  // from: 'unit', 'file' or 'factory' (the record is then the factory set,
  // and values the controls as they are, whose device identifier stays).
  val load(const val& record, const std::string& from, const val& values) {
    config_.SetValues(ValuesFrom(values));
    const LoadedFrom kind = from == "factory" ? LoadedFrom::Factory
                            : from == "file"  ? LoadedFrom::File
                                              : LoadedFrom::Unit;
    return Loaded(config_.Load(
        kind == LoadedFrom::Factory ? FactoryParams() : wasm_values::RecordFrom(record), kind));
  }
  // {name: {shown, enabled}} for every field with a control, for the
  // selectors the values hold.
  val states(const val& values) {
    config_.SetValues(ValuesFrom(values));
    val out = val::object();
    for (const FieldRow& row : kFieldRows) {
      if (row.control.empty()) continue;
      val state = val::object();
      state.set("shown", config_.Shown(row.field));
      state.set("enabled", config_.Enabled(row.field));
      out.set(NameOf(row.field), state);
    }
    return out;
  }
  // The technician chose a list item or ticked a box (its value is in
  // values): the values afterwards, the boxes it sets included.
  val choose(const std::string& name, const val& values) {
    const EditedConfig::Values given = ValuesFrom(values);
    config_.SetValues(given);
    const AppField field = FieldByName(name);
    if (field != AppField::Count) config_.Choose(field, given[std::size_t(field)]);
    return ValuesTo(config_.values());
  }
  // The values the controls show now.
  val values() const { return ValuesTo(config_.values()); }
  // null, or {notANumber, name, allowed, reason, detail}: the field's rule as it is left.
  val leave(const std::string& name, const val& values) {
    config_.SetValues(ValuesFrom(values));
    const AppField field = FieldByName(name);
    if (field == AppField::Count || !EditedConfig::ChecksWhenLeft(field)) return val::null();
    const auto verdict = config_.Leave(field);
    if (!verdict) return val::null();
    val out = RefusalTo(verdict->refusal);
    out.set("notANumber", verdict->notANumber);
    return out;
  }
  // null, or the first field refused before a write or export.
  val check(const val& values) {
    config_.SetValues(ValuesFrom(values));
    const auto refusals = config_.Check();
    return refusals.empty() ? val::null() : RefusalTo(refusals.front());
  }
  // {record, notes: [{name, from, to, why}]} or {notANumber: name}.
  val encode(const val& values) {
    config_.SetValues(ValuesFrom(values));
    const EditedConfig::Encoded encoded = config_.Encode();
    val out = val::object();
    if (!encoded.record) {
      out.set("notANumber", NameOf(encoded.notANumber));
      return out;
    }
    out.set("record", wasm_values::BytesTo(encoded.record->bytes()));
    val notes = val::array();
    for (const StoredNote& n : encoded.notes) {
      val note = val::object();
      note.set("name", NameOf(n.field));
      note.set("from", n.from);
      note.set("to", n.to);
      note.set("why", n.why);
      notes.call<void>("push", note);
    }
    out.set("notes", notes);
    return out;
  }
  // A file by its content: {kind: 'profile'|'record'|'refused', refusalKey,
  // fileBytes, errors: [{line, reason, message}], changed, extraBytes} and,
  // when taken, what load gives.
  val takeFile(const val& bytes, const std::string& name, const val& values) {
    config_.SetValues(ValuesFrom(values));
    const std::vector<std::uint8_t> raw = wasm_values::BytesFrom(bytes);
    const EditedConfig::Taken taken = config_.TakeFile(
        std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()), name);
    val out = taken.ok() ? Loaded(taken.loaded) : val::object();
    using Kind = EditedConfig::Taken::Kind;
    out.set("kind", std::string(taken.kind == Kind::Profile  ? "profile"
                                : taken.kind == Kind::Record ? "record"
                                                             : "refused"));
    out.set("refusalKey", taken.refusalKey);
    out.set("fileBytes", double(taken.fileBytes));
    out.set("changed", taken.changed);
    out.set("extraBytes", double(taken.extraBytes));
    out.set("errors", wasm_values::IssuesTo(taken.errors));
    return out;
  }

private:
  // {values, notShown: [{name, value}], fullTexts: [name]}.
  val Loaded(const EditedConfig::Loaded& loaded) const {
    val notShown = val::array();
    for (AppField f : loaded.notShown) {
      val item = val::object();
      item.set("name", NameOf(f));
      item.set("value", config_.loaded().Get(f));
      notShown.call<void>("push", item);
    }
    val out = val::object();
    out.set("values", ValuesTo(config_.values()));
    out.set("notShown", notShown);
    out.set("fullTexts", Names(loaded.fullTexts));
    return out;
  }

  EditedConfig config_;
};

// Whether a typed character passes the key filter of a typing ("digits",
// "address", "phone", "hex"; any other lets it through).
bool TypedPasses(const std::string& typing, double code) {
  for (FieldTyping t :
       {FieldTyping::Digits, FieldTyping::Address, FieldTyping::Phone, FieldTyping::Hex})
    if (TypingName(t) == typing) return TypedCharacterPasses(t, std::uint32_t(code));
  return true;
}

std::string BuiltInMessage(const std::string& key) { return std::string(BuiltInMessageText(key)); }

} // namespace

EMSCRIPTEN_BINDINGS(k7v_pages) {
  using namespace emscripten;
  function("fieldModel", &FieldModel);
  function("builtInMessage", &BuiltInMessage);
  function("typedPasses", &TypedPasses);
  function("isAddedMessage",
           optional_override([](const std::string& key) { return IsAddedMessageKey(key); }));
  class_<EditedConfigBinding>("EditedConfig")
      .constructor<>()
      .function("load", &EditedConfigBinding::load)
      .function("values", &EditedConfigBinding::values)
      .function("states", &EditedConfigBinding::states)
      .function("choose", &EditedConfigBinding::choose)
      .function("leave", &EditedConfigBinding::leave)
      .function("check", &EditedConfigBinding::check)
      .function("encode", &EditedConfigBinding::encode)
      .function("takeFile", &EditedConfigBinding::takeFile);
}
