// The parameter pages for the browser: the field model as the command line
// prints it (`k7vconf-cli fields --json`), the pages' record <-> controls
// rules (page_form.h), the exit rules, profile files and the status log's
// built-in message texts. Values cross as plain objects keyed by field name.

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <string>
#include <vector>

#include "params/factory_set.h"
#include "params/field_checks.h"
#include "params/field_model.h"
#include "params/field_model_json.h"
#include "params/param_profile.h"
#include "platform/built_in_messages.h"
#include "web/wasm/page_form.h"
#include "web/wasm/wasm_values.h"

using emscripten::val;

namespace {

// {name: text} for every field with a control.
val ValuesTo(const PageForm::Values& values) {
  val out = val::object();
  for (const FieldRow& row : kFieldRows)
    if (!row.control.empty()) out.set(FieldInfo(row.field).name, values[std::size_t(row.field)]);
  return out;
}

// A missing or non-string property is an empty text.
PageForm::Values ValuesFrom(const val& object) {
  PageForm::Values values;
  if (!wasm_values::IsObject(object)) return values;
  for (const FieldRow& row : kFieldRows)
    if (!row.control.empty())
      values[std::size_t(row.field)] = wasm_values::StringOf(object[FieldInfo(row.field).name]);
  return values;
}

val FieldModel() { return val::global("JSON").call<val>("parse", FieldModelJsonText()); }

val OutcomeOf(const FieldCheck& check) {
  val out = val::object();
  out.set("outcome", std::string(check.outcome == FieldCheck::Outcome::Accepted     ? "accepted"
                                 : check.outcome == FieldCheck::Outcome::NotANumber ? "notANumber"
                                                                                    : "refused"));
  out.set("allowed", check.allowed);
  return out;
}

// The exit rule of a field when it is left; accepted for a field without one.
val ExitRule(const std::string& name, const std::string& text, const std::string& otherText) {
  const AppField field = FieldByName(name);
  if (field == AppField::Count) return OutcomeOf({});
  return OutcomeOf(CheckExitRule(field, text, otherText));
}

class PageFormBinding {
public:
  // {values, notShown: [{name, value}]}: what the controls show for record,
  // and the raw value of each list or box that cannot show it.
  static val show(const val& record) {
    std::vector<AppField> notShown;
    const TAppParams r = wasm_values::RecordFrom(record);
    const PageForm::Values values = PageForm::Show(r, notShown);
    val names = val::array();
    for (AppField f : notShown) {
      val item = val::object();
      item.set("name", std::string(FieldInfo(f).name));
      item.set("value", r.Get(f));
      names.call<void>("push", item);
    }
    val out = val::object();
    out.set("values", ValuesTo(values));
    out.set("notShown", names);
    return out;
  }
  // record: the record the pages were filled from, or null for the factory set.
  void remember(const val& values, const val& record) {
    if (record.isNull() || record.isUndefined()) {
      form_.Remember(ValuesFrom(values), nullptr);
    } else {
      const TAppParams r = wasm_values::RecordFrom(record);
      form_.Remember(ValuesFrom(values), &r);
    }
  }
  // null, or {name, allowed}: the first field refused before a write or export.
  val check(const val& values) const {
    const auto refusal = form_.Check(ValuesFrom(values));
    if (!refusal) return val::null();
    val out = val::object();
    out.set("name", std::string(FieldInfo(refusal->field).name));
    out.set("allowed", refusal->allowed);
    return out;
  }
  // {record} or {notANumber: name}.
  val encode(const val& values) const {
    const PageForm::Encoded encoded = form_.Encode(ValuesFrom(values));
    val out = val::object();
    if (encoded.record)
      out.set("record", wasm_values::BytesTo(encoded.record->bytes()));
    else
      out.set("notANumber", std::string(FieldInfo(encoded.notANumber).name));
    return out;
  }

private:
  PageForm form_;
};

// A parameter profile file as the window imports it: its bytes read as
// UTF-8, UTF-16 or GBK, laid over the factory set, held only to what the
// record can store. {record, errors: [{line, message}]}.
val LoadProfile(const val& bytes, const std::string& name) {
  const std::vector<std::uint8_t> raw = wasm_values::BytesFrom(bytes);
  const ProfileSource source{name, ProfileTextFromFileBytes(std::string(raw.begin(), raw.end())),
                             false};
  const ProfileResult result =
      ApplyProfiles(FactoryParams(), std::span(&source, 1), ProfileChecks::RecordOnly);
  val errors = val::array();
  for (const ProfileIssue& issue : result.errors) {
    val e = val::object();
    e.set("line", issue.line);
    e.set("reason", issue.reason);
    e.set("message", FormatIssue(issue));
    errors.call<void>("push", e);
  }
  val out = val::object();
  out.set("record", wasm_values::BytesTo(result.record.bytes()));
  out.set("errors", errors);
  return out;
}

std::string BuiltInMessage(const std::string& key) { return std::string(BuiltInMessageText(key)); }

} // namespace

EMSCRIPTEN_BINDINGS(k7v_pages) {
  using namespace emscripten;
  function("fieldModel", &FieldModel);
  function("exitRule", &ExitRule);
  function("loadProfile", &LoadProfile);
  function("builtInMessage", &BuiltInMessage);
  function("isAddedMessage",
           optional_override([](const std::string& key) { return IsAddedMessageKey(key); }));
  class_<PageFormBinding>("PageForm")
      .constructor<>()
      .class_function("show", &PageFormBinding::show)
      .function("remember", &PageFormBinding::remember)
      .function("check", &PageFormBinding::check)
      .function("encode", &PageFormBinding::encode);
}
