#pragma once
// Readable parameter profiles: a TAppParams record as UTF-8 INI text that a
// technician can read, edit, diff and keep in version control.
//
//   [params]
//   ; 数据中心 / 端口1 · 0~65535
//   port1 = 51001
//
// One section [params], `name = value`, `;` comment lines. Names are the
// record's field names (kAppFields). Values are written as a person writes
// them: decimal numbers, dotted IPv4 addresses, list fields and flags by
// English words, texts as text (GBK in the record), heartbeat packets as hex
// bytes. Words, ranges, limits and the comments' page and label texts are
// the field model's (field_model.h). Whatever a clean value cannot say is still written losslessly: a list
// value outside its words as a number, a text that is not clean GBK as
// `hex:…`, each with a comment saying so. A profile may name only some fields;
// it is applied onto a base record and changes only those.

#include <bitset>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "params/app_params.h"

// One problem found in a profile or a --set assignment. A run reports at
// most 50; the last issue then has only a reason, "… and N more".
struct ProfileIssue {
  std::string source; // file name, or "--set"
  int line = 0;       // 1-based line in source; 0 where the source has no lines to show
  std::string name;   // the field name as written; empty when the line has none
  std::string value;  // the value as written: at most 200 characters, control
                      // characters and bytes that are not UTF-8 as \xNN
  std::string reason; // what is wrong and what is allowed
};

// "source:line: name: value: reason" (parts that are empty are left out;
// an issue of a reason alone is just that).
std::string FormatIssue(const ProfileIssue& issue);

// What a profile value is checked against.
enum class ProfileChecks {
  FieldRules, // the window's field rules and lists, then the record's widths
  RecordOnly, // only what the record can hold (forced writes, file conversion)
  // Before the unit's record is known: what the record can hold and the
  // typed limit of --set texts; the field rules wait for the unit's record,
  // since a value may be the unit's own.
  FieldRulesNamedOnly,
};
// With the field rules, a value the base already holds (a unit's own) is not
// checked again; a field the window hides or disables for the record's
// selectors (field_model.h) is held only to what the record can hold, as the
// window holds it; and where the profile names a store rule's selector (KTSP
// makes the transports UDP), a field it leaves out is stored by the rule.
// The store rules never refuse: a write applies them (edited_config.h).

// One piece of profile text to apply.
struct ProfileSource {
  std::string name; // shown in issues
  std::string text; // UTF-8 (ProfileTextFromFileBytes for a file's bytes)
  // True for a bare `name = value` line given on the command line: no
  // section is needed, and the issue carries no line number.
  bool assignment = false;
  // True for text written from a raw record (WriteProfile): the technician
  // never saw its lines, so issues name the field alone.
  bool fromRecord = false;
};

// A profile file's bytes as UTF-8 text: UTF-16 after its byte order mark
// (Notepad's "Unicode"), UTF-8 with its mark dropped, or GBK (a Chinese
// Windows "ANSI" file) when the bytes are not UTF-8 but are clean GBK as a
// whole. Anything else comes back as it is, and the reader reports each line
// that is not UTF-8; no line is guessed on its own. Never fails.
std::string ProfileTextFromFileBytes(std::string bytes);

using NamedFields = std::bitset<std::size_t(AppField::Count)>;

struct ProfileResult {
  TAppParams record;                // the base with every named field applied
  NamedFields named;                // fields some source set
  std::vector<ProfileIssue> errors; // all of them, in source and line order
  bool ok() const { return errors.empty(); }
};

// Applies the sources in order onto base; a later source may set a field an
// earlier one set. Never stops at the first problem: every issue is collected.
// On errors the record is still filled as far as the values allowed.
ProfileResult ApplyProfiles(const TAppParams& base, std::span<const ProfileSource> sources,
                            ProfileChecks checks);

// The whole record as a profile: a header, then every field in record order
// with its comment line: where the window shows it, what it takes, when it
// is shown, what the window stores into it, and, for a value the field rules
// would refuse, why. Never fails.
std::string WriteProfile(const TAppParams& record);

// One field's value as WriteProfile writes it (without quotes or comment).
std::string ProfileValueText(const TAppParams& record, AppField field);

struct FieldDifference {
  AppField field;
  std::string a, b; // values as a profile writes them
};
// The fields in which a and b differ, in record order; empty when equal.
std::vector<FieldDifference> CompareRecords(const TAppParams& a, const TAppParams& b);

// The field of that name (case-insensitive); AppField::Count when none.
AppField FieldByName(std::string_view name);
