#pragma once
// The browser page's parameter pages as the window keeps its own: a record
// shown in the controls, a record built from them, the check before a write
// or export, and the device texts that go back byte for byte while nobody
// touched them. The page holds only the controls; every rule is the field
// model's (params/field_model.h) and the field checks' (params/field_checks.h).
//
// A control's value is the text it holds: a list its position ("" without a
// selection), a list of numbers the number it shows ("" without one), a check
// box "1" or "0", every edit its text (UTF-8). Fields that the window stores
// from others (the heartbeat packets' byte counts) have no control and no value.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "params/app_params.h"

class PageForm {
public:
  using Values = std::array<std::string, std::size_t(AppField::Count)>;

  // The values the controls show for record, as the window fills its pages;
  // notShown gets, in record order, each list or box that cannot show the
  // record's value. Never fails.
  static Values Show(const TAppParams& record, std::vector<AppField>& notShown);

  // After the pages were filled: the edits' texts as they are now, and the
  // record they came from (a read or an import), whose texts then go back as
  // they came while they stay untouched; without a record (the factory set) a
  // text that changed loses the bytes it came with.
  void Remember(const Values& values, const TAppParams* record);

  struct Refusal {
    AppField field = AppField::Count;
    std::string allowed; // what the field takes, for the log line
  };
  // The check before a write or export, edit by edit in page order; the first
  // refused field, or nullopt when all pass (a number that is not a number is
  // Encode's to report).
  std::optional<Refusal> Check(const Values& values) const;

  struct Encoded {
    std::optional<TAppParams> record;
    AppField notANumber = AppField::Count; // the first number field, in record order, that is none
  };
  // The record the pages hold, with the store rules applied and untouched
  // device texts as they came.
  Encoded Encode(const Values& values) const;

  // The selectors (lists and boxes) as the values hold them: a list without a
  // selection is 0xFF, a box 1 or 0.
  static TAppParams Selectors(const Values& values);

private:
  // Whether the edit's text differs from what the last fill put there.
  bool Changed(AppField field, const std::string& text) const;

  std::array<std::optional<std::string>, std::size_t(AppField::Count)> filled_;
  std::array<std::optional<std::string>, std::size_t(AppField::Count)> deviceBytes_;
};
