#include "cli/csv_text.h"

namespace {

class CsvParser {
public:
  explicit CsvParser(std::string_view text) : s_(text) {
    if (s_.substr(0, 3) == "\xEF\xBB\xBF") i_ = 3;
  }

  CsvText Run() {
    CsvText out;
    while (i_ < s_.size()) {
      CsvRecord rec;
      rec.line = line_;
      std::string problem;
      ReadRecord(rec, problem);
      rec.ended = EndLine();
      const bool emptyLine = rec.cells.size() == 1 && rec.cells.front().empty() && !quoted_;
      if (!problem.empty())
        out.problems.push_back({rec.line, problem});
      else if (!emptyLine)
        out.records.push_back(std::move(rec));
    }
    return out;
  }

private:
  // A lone CR inside a line is text; CR LF and LF end the line, as does the end.
  bool AtLineEnd() const {
    if (i_ >= s_.size() || s_[i_] == '\n') return true;
    return s_[i_] == '\r' && (i_ + 1 == s_.size() || s_[i_ + 1] == '\n');
  }

  // Takes the line end after a record; false when the text ended instead.
  bool EndLine() {
    if (i_ < s_.size() && s_[i_] == '\r') ++i_;
    if (i_ < s_.size() && s_[i_] == '\n') {
      ++i_;
      ++line_;
      return true;
    }
    return false;
  }

  // Cells up to the line end; problem says why the record is unusable.
  void ReadRecord(CsvRecord& rec, std::string& problem) {
    quoted_ = false;
    for (;;) {
      std::string cell;
      if (i_ < s_.size() && s_[i_] == '"') {
        quoted_ = true;
        const int opened = line_;
        if (!ReadQuoted(cell)) {
          problem = "a quote opened on line " + std::to_string(opened) + " is never closed";
          return;
        }
        if (!AtLineEnd() && s_[i_] != ',') {
          problem = "text after the closing quote of cell " + std::to_string(rec.cells.size() + 1);
          while (!AtLineEnd()) ++i_;
          return;
        }
      } else {
        while (!AtLineEnd() && s_[i_] != ',') cell += s_[i_++];
      }
      rec.cells.push_back(std::move(cell));
      if (AtLineEnd()) return;
      ++i_; // the comma
    }
  }

  // The cell after an opening quote, up to its closing one; false when the
  // text ends first.
  bool ReadQuoted(std::string& cell) {
    ++i_;
    while (i_ < s_.size()) {
      const char c = s_[i_++];
      if (c == '"') {
        if (i_ < s_.size() && s_[i_] == '"') {
          cell += '"';
          ++i_;
          continue;
        }
        return true;
      }
      if (c == '\n') ++line_;
      cell += c;
    }
    return false;
  }

  std::string_view s_;
  std::size_t i_ = 0;
  int line_ = 1;
  bool quoted_ = false; // the record has a quoted cell (so "" is not an empty line)
};

bool NeedsQuotes(const std::string& cell) {
  if (cell.find_first_of(",\"\r\n") != std::string::npos) return true;
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  return !cell.empty() && (blank(cell.front()) || blank(cell.back()));
}

} // namespace

CsvText ParseCsv(std::string_view text) { return CsvParser(text).Run(); }

std::string CsvLine(const std::vector<std::string>& cells) {
  std::string out;
  for (std::size_t k = 0; k < cells.size(); ++k) {
    if (k > 0) out += ',';
    if (!NeedsQuotes(cells[k])) {
      out += cells[k];
      continue;
    }
    out += '"';
    for (const char c : cells[k]) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out + '\n';
}
