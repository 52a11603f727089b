#include "cli/units_file.h"

#include <QHash>
#include <algorithm>
#include <set>

#include "cli/csv_text.h"
#include "params/factory_set.h"
#include "params/record_file.h"
#include "params/sys_info.h"
#include "platform/code_page_936.h"

namespace {

bool IsSnColumn(const std::string& name) { return QString::fromStdString(name).toLower() == "sn"; }

} // namespace

const UnitsRow* UnitsFile::RowAt(int line) const {
  for (const UnitsRow& r : rows)
    if (r.line == line) return &r;
  return nullptr;
}

const UnitsRow* UnitsFile::RowFor(const QString& sn) const {
  if (!keyedBySn) return nullptr;
  for (const UnitsRow& r : rows)
    if (r.sn == sn) return &r;
  return nullptr;
}

std::optional<UnitsFile> LoadUnitsFile(const QString& path, std::vector<ProfileIssue>& errors) {
  const std::string file = path.toStdString();
  const std::size_t before = errors.size();
  auto problem = [&](int line, const std::string& name, const std::string& value,
                     const std::string& reason) {
    errors.push_back({file, line, name, value, reason});
  };
  QString reason;
  const auto bytes = ReadPlainFile(path, reason);
  if (!bytes) {
    problem(0, {}, {}, reason.toStdString());
    return std::nullopt;
  }
  // A spreadsheet saves UTF-8, UTF-16 or GBK, as an editor saves a profile.
  const CsvText csv = ParseCsv(ProfileTextFromFileBytes(bytes->toStdString()));
  for (const CsvProblem& p : csv.problems) problem(p.line, {}, {}, p.reason);
  if (csv.records.empty()) {
    if (csv.problems.empty()) problem(0, {}, {}, "empty: a header row of field names is needed");
    return std::nullopt;
  }

  UnitsFile out;
  out.path = path;
  const CsvRecord& header = csv.records.front();
  std::vector<std::string> names;
  int snColumn = -1;
  for (std::size_t c = 0; c < header.cells.size(); ++c) {
    std::string name = QString::fromStdString(header.cells[c]).trimmed().toStdString();
    const bool repeated = std::find(names.begin(), names.end(), name) != names.end();
    if (name.empty())
      problem(header.line, {}, {}, "column " + std::to_string(c + 1) + " has no name");
    else if (repeated)
      problem(header.line, name, {}, "the column is named twice");
    else if (IsSnColumn(name))
      snColumn = int(c);
    else if (FieldByName(name) == AppField::Count)
      problem(header.line, name, {}, "no such field (the names of a profile, or sn)");
    names.push_back(std::move(name));
  }
  out.keyedBySn = snColumn >= 0;

  QHash<QString, int> snLines;
  for (std::size_t k = 1; k < csv.records.size(); ++k) {
    const CsvRecord& rec = csv.records[k];
    const bool blank = std::all_of(rec.cells.begin(), rec.cells.end(),
                                   [](const std::string& c) { return c.empty(); });
    if (blank) continue; // a spreadsheet's empty row
    if (rec.cells.size() != names.size()) {
      problem(rec.line, {}, {},
              std::to_string(rec.cells.size()) + " cells, the header has " +
                  std::to_string(names.size()));
      continue;
    }
    UnitsRow row;
    row.line = rec.line;
    row.values = {file + ':' + std::to_string(rec.line), {}, true};
    for (std::size_t c = 0; c < names.size(); ++c) {
      const std::string& cell = rec.cells[c];
      if (cell.find("{port}") != std::string::npos) {
        // The row is one unit's own: a value shared by a port's units belongs in the profile.
        problem(rec.line, names[c], cell,
                "{port} in a row: the row is one unit's, give it the unit's own value");
      } else if (int(c) == snColumn) {
        // Held as the unit's serial number is read: GBK text, blanks at its ends dropped.
        row.sn = QString::fromStdString(cell).trimmed();
        if (row.sn.isEmpty())
          problem(rec.line, names[c], cell, "no serial number");
        else if (const std::size_t n = cp936::ByteLength(row.sn.toStdString()); n > kSysInfoSnBytes)
          problem(rec.line, names[c], cell,
                  "longer than the " + std::to_string(kSysInfoSnBytes) + " bytes a unit reports (" +
                      std::to_string(n) + "): no unit can match it");
        else if (snLines.contains(row.sn))
          problem(rec.line, names[c], cell,
                  "also on line " + std::to_string(snLines.value(row.sn)));
        else
          snLines.insert(row.sn, rec.line);
      } else if (cell.find_first_of("\r\n") != std::string::npos) {
        problem(rec.line, names[c], {}, "a value on more than one line");
      } else if (!cell.empty() && !names[c].empty()) {
        row.values.text += names[c] + " = " + cell + '\n';
      }
    }
    out.rows.push_back(std::move(row));
  }
  if (out.rows.empty() && errors.size() == before)
    problem(0, {}, {}, "no unit rows under the header");
  if (errors.size() != before) return std::nullopt;
  return out;
}

void CheckUnitsRows(const UnitsFile& units, const std::vector<ProfileSource>& profile,
                    std::vector<ProfileIssue>& issues, const std::string& profileName) {
  std::set<std::string> told; // the profile's own problems come with every row
  for (const UnitsRow& row : units.rows) {
    const bool alone = row.values.name.empty();
    std::vector<ProfileSource> sources = profile;
    if (!alone) sources.push_back(row.values);
    const ProfileResult r =
        ApplyProfiles(FactoryParams(), sources, ProfileChecks::FieldRulesNamedOnly);
    for (const ProfileIssue& i : r.errors)
      if (told.insert(FormatIssue(i)).second) issues.push_back(i);
    if (r.ok() && !r.named.any() && !profileName.empty())
      issues.push_back({alone ? profileName : row.values.name,
                        0,
                        {},
                        {},
                        alone ? std::string("sets no field: nothing to write")
                              : "sets no field, nor does " + profileName + ": nothing to write"});
  }
}
