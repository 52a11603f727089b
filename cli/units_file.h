#pragma once
// UNITS.csv, the station's per-unit values: a header row of profile field
// names, one row per unit, for example
//
//   sn,dtu_id,pin_code
//   K7S0000000000001,SITE-001,1234
//
// A cell is read as the value of a profile line with that name (blanks at its
// ends dropped, then one pair of enclosing quotes); an empty cell leaves the
// field as the profile sets it. With an `sn` column a unit takes the row with
// its serial number; without one, the next row not yet used.

#include <QString>
#include <optional>
#include <vector>

#include "params/param_profile.h"

struct UnitsRow {
  int line = 0;         // where the row starts in the file: its number in the report
  QString sn;           // the sn cell; empty when the file has no sn column
  ProfileSource values; // the filled cells as `name = value` lines, named "FILE:LINE"
};

struct UnitsFile {
  QString path;
  bool keyedBySn = false; // a unit takes the row with its serial number
  std::vector<UnitsRow> rows;

  // nullptr when no row starts on that line.
  const UnitsRow* RowAt(int line) const;
  // nullptr when the serial number is not listed (or the file has no sn column).
  const UnitsRow* RowFor(const QString& sn) const;
};

// Reads and checks the file's shape: UTF-8 with or without a byte order mark,
// UTF-16 with one, else GBK (the "CSV" of a Chinese Windows spreadsheet);
// every column a field name or sn, each once; every row as many cells as the
// header, on one line each; every sn filled in and different. The values
// themselves are for ApplyProfiles. nullopt with every problem as a
// FILE:LINE issue.
std::optional<UnitsFile> LoadUnitsFile(const QString& path, std::vector<ProfileIssue>& errors);

// Every row's values laid over profile on the factory set, as a unit will
// get them: the field rules' problems, each told once, appended to issues.
// With profileName, a row that sets no field, nor does the profile, is one
// too (a row named "" stands for the profile alone).
void CheckUnitsRows(const UnitsFile& units, const std::vector<ProfileSource>& profile,
                    std::vector<ProfileIssue>& issues, const std::string& profileName = {});
