// libFuzzer target for the station's values file. Any bytes load or are
// refused without harm, and what loads keeps the station's rules (every sn
// filled in, different, no longer than a unit reports; no {port}); a file
// written cell by cell as a spreadsheet writes it (line breaks, commas and
// quotes in cells) gives back each serial number as it was written.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/csv_text.h"
#include "cli/units_file.h"
#include "params/sys_info.h"
#include "platform/code_page_936.h"

namespace {

[[noreturn]] void Fail(const char* what, long long a = 0) {
  std::fprintf(stderr, "fuzz_units_file: %s (%lld)\n", what, a);
  std::abort();
}

bool Write(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // In memory where the system offers it: the report syncs every line to the disk.
  static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                               ? QStringLiteral("/dev/shm/fuzz_units_file-XXXXXX")
                               : QDir::tempPath() + QStringLiteral("/fuzz_units_file-XXXXXX"));
  const QString path = dir.path() + QStringLiteral("/units.csv");
  if (size == 0) return 0;
  const bool cellwise = data[0] & 1;
  ++data;
  --size;

  QByteArray file;
  std::vector<QString> written; // cellwise: each row's sn as written
  if (!cellwise) {
    file = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
  } else {
    // Rows of sn and dtu_id, each cell up to a separator byte 0x1F.
    file = QByteArray::fromStdString(CsvLine({"sn", "dtu_id"}));
    std::vector<std::string> cells;
    std::string cell;
    for (std::size_t i = 0; i <= size; ++i) {
      if (i < size && data[i] != 0x1F) {
        cell += char(data[i]);
        continue;
      }
      cells.push_back(QString::fromUtf8(cell.data(), qsizetype(cell.size())).toStdString());
      cell.clear();
      if (cells.size() == 2) {
        file += QByteArray::fromStdString(CsvLine(cells));
        written.push_back(QString::fromStdString(cells[0]));
        cells.clear();
      }
    }
  }
  if (!Write(path, file)) Fail("cannot write the file");

  std::vector<ProfileIssue> errors;
  const std::optional<UnitsFile> units = LoadUnitsFile(path, errors);
  if (units.has_value() == !errors.empty()) Fail("loaded with problems, or refused without");
  if (!units) return 0;
  QSet<QString> sns;
  for (const UnitsRow& row : units->rows) {
    if (row.line < 2) Fail("a row on the header's line", row.line);
    if (row.values.text.find("{port}") != std::string::npos) Fail("{port} in a row", row.line);
    if (!units->keyedBySn) continue;
    if (row.sn.isEmpty() || sns.contains(row.sn)) Fail("an empty or repeated sn", row.line);
    if (cp936::ByteLength(row.sn.toStdString()) > kSysInfoSnBytes) Fail("sn too long", row.line);
    sns.insert(row.sn);
  }
  if (cellwise) {
    // Every row loaded (none was blank or refused) holds its sn as written, blanks dropped.
    if (units->rows.size() != written.size()) return 0;
    for (std::size_t k = 0; k < written.size(); ++k)
      if (units->rows[k].sn != written[k].trimmed())
        Fail("an sn changed", static_cast<long long>(k));
  }
  return 0;
}
