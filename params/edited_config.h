#pragma once
// EditedConfig: the configuration a technician is editing, as the pages show
// it. Every front end (the window, the browser page, the command line and
// the station) keeps one and only moves values between it and its screen or
// arguments; what a value may be, what a file is, and what a unit receives
// are decided here, from the field model (field_model.h), the field checks
// (field_checks.h) and the profile reader (param_profile.h).
//
// A field's value is the text its control holds: a list its position ("" for
// no selection), a list of numbers the number it shows ("" for none), a check
// box "1" or "0", an edit its text (UTF-8). Fields the pages store from
// others (the heartbeat packets' byte counts) have no control and no value.
//
// Where a value comes from decides what it is held to:
//  - loaded (from a unit, a raw record or a profile) and not changed since:
//    a text goes back with the very bytes it came with, full width included;
//    a number is held to what the record can hold;
//  - typed (changed since it was loaded): the field's exit rule, the typed
//    byte limit (one short of the field) and code page 936.
// Whatever the values, Encode applies the store rules, so every record
// that goes to a unit is one the window would send.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "params/app_params.h"
#include "params/field_model.h"
#include "params/param_profile.h"

enum class LoadedFrom : std::uint8_t {
  Unit,    // a read
  File,    // a raw record or a whole profile; texts may fill their fields
  Factory, // the factory set; the device identifier stays as it is
};

// A value the record bytes a unit receives hold otherwise than the values
// given: a store rule, or a page that cannot show what the record held.
struct StoredNote {
  AppField field = AppField::Count;
  std::string from, to; // as a profile writes them
  std::string why;      // "udp while select_ptcl is ktsp", "the box stores on or off"
};

// Why a value is refused; the message key is the status log's.
struct ConfigRefusal {
  AppField field = AppField::Count;
  std::string key = "par_error";
  std::string allowed; // what the field takes: "0~65535", "0~15 bytes (GBK)"
  std::string reason;  // more than the range, when there is more: "not in code page 936"
  // "0~65535", or "not in code page 936: 0~15 bytes (GBK)": what a log line shows.
  std::string Detail() const { return reason.empty() ? allowed : reason + ": " + allowed; }
};

class EditedConfig {
public:
  using Values = std::array<std::string, std::size_t(AppField::Count)>;

  EditedConfig(); // the factory set, nothing loaded from a unit

  // ---- loading
  struct Loaded {
    std::vector<AppField> notShown;  // lists and boxes that cannot show the record's value
    std::vector<AppField> fullTexts; // texts from a file that fill their field (no zero byte)
  };
  // Shows record on the pages; from Factory, the device identifier stays.
  Loaded Load(const TAppParams& record, LoadedFrom from);

  // ---- values as the screen holds them
  const Values& values() const { return values_; }
  const std::string& value(AppField field) const { return values_[std::size_t(field)]; }
  // Fields without a control are ignored.
  void SetValue(AppField field, std::string text);
  void SetValues(const Values& values);
  // The record the untouched values stand for, as it was loaded.
  const TAppParams& loaded() const { return loaded_; }
  // Whether the field still holds what was loaded into it.
  bool Untouched(AppField field) const;
  // Whether the pages show the field, and let it be used, for the selectors now chosen.
  bool Shown(AppField field) const;
  bool Enabled(AppField field) const;
  // Whether a condition of the field model holds for the selectors now chosen.
  bool Holds(const FieldCondition& condition) const;

  // ---- a technician's edits
  // The exit rule's verdict on the field's value as it is left; nullopt
  // when it passes. outcome NotANumber: the conversion box, no refusal.
  struct Verdict {
    bool notANumber = false;
    ConfigRefusal refusal;
  };
  std::optional<Verdict> Leave(AppField field) const;
  // A selector was chosen or ticked by the technician: the boxes it sets
  // follow, each running its own rules; returns the fields whose value changed.
  std::vector<AppField> Choose(AppField selector, std::string value);
  // Whether leaving the field runs Leave: an exit rule, or a text.
  static bool ChecksWhenLeft(AppField field);

  // ---- files and profiles
  struct Taken {
    enum class Kind : std::uint8_t {
      Profile,
      Record,
      Refused
    } kind = Kind::Refused;
    std::vector<ProfileIssue> errors; // a profile's; nothing changed when any
    std::string refusalKey;           // "param_file_short" (%1 bytes of %2), "file_not_params"
    std::size_t fileBytes = 0;
    int changed = 0;            // record fields whose bytes changed
    std::size_t extraBytes = 0; // a raw record's bytes past the first record
    Loaded loaded;
    bool ok() const { return kind != Kind::Refused && errors.empty(); }
  };
  // Lays profiles over the current values: only the fields they name (and
  // those a store rule takes from a named selector) change.
  Taken ApplyProfile(std::span<const ProfileSource> sources, ProfileChecks checks);
  // A file by its content, whatever its name: a profile when it reads as one,
  // else a raw record (its first 693 bytes); text that is neither is refused.
  Taken TakeFile(std::string_view bytes, const std::string& name);

  // ---- writing and exporting
  // Every value a write or export would refuse, in page order.
  std::vector<ConfigRefusal> Check() const;
  struct Encoded {
    std::optional<TAppParams> record;
    AppField notANumber = AppField::Count; // the first number field that holds none
    std::vector<StoredNote> notes;         // the values the store rules changed
  };
  // The record a unit receives, with the store rules applied.
  Encoded Encode() const;

  // The selectors as the values hold them (lists 0xFF without a selection,
  // boxes 1 or 0); the other fields are zero.
  TAppParams Selectors() const;

private:
  bool Changed(AppField field) const;
  // The record the values give, before the store rules: untouched fields as
  // loaded, changed ones as typed. notANumber is set by a number that is none.
  TAppParams Given(AppField* notANumber) const;
  void Remember(AppField field, const TAppParams& record, bool fromFile);

  Values values_;
  std::array<std::optional<std::string>, std::size_t(AppField::Count)> filled_;
  std::array<std::optional<std::string>, std::size_t(AppField::Count)> deviceBytes_;
  TAppParams loaded_; // the bytes the untouched values stand for
};

// The values the controls show for a record, as the pages are filled.
EditedConfig::Values ShownValues(const TAppParams& record);

// Each value the store rules would change on the way to a unit, for a record
// taken as a unit or a file holds it.
std::vector<StoredNote> StoreNotesFor(const TAppParams& record);

// Whether a file's bytes are read as a profile: they read as one (a
// [params] section, or a line naming a field), or the name ends in .ini or
// .txt and they are text. Anything else is a raw record.
bool FileReadsAsProfile(std::string_view bytes, std::string_view name);

// "connection_type1: tcp → udp (udp while select_ptcl is ktsp)".
std::string NoteText(const StoredNote& note);

// What a write sends to a unit: profiles laid over the unit's own record as
// the pages would take them, then encoded with the store rules. A value the
// unit already holds is never refused; one that changes is held to checks.
struct UnitWrite {
  std::optional<TAppParams> record; // nullopt when refused
  std::string refusal;              // why, the first problem (FormatIssue for a profile's)
  std::vector<std::string> notes;   // each value stored otherwise, each text filling its field
  int changed = 0;                  // record fields that differ from the unit's
};
UnitWrite PrepareUnitWrite(const TAppParams& unit, std::span<const ProfileSource> sources,
                           ProfileChecks checks);
