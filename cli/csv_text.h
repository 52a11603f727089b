#pragma once
// Comma-separated text as spreadsheets write and read it (RFC 4180): a cell
// in double quotes may hold commas, line breaks and quotes (doubled); lines
// end in LF or CR LF; a UTF-8 byte order mark at the start is dropped. Plain
// C++, UTF-8 in and out.

#include <string>
#include <string_view>
#include <vector>

struct CsvRecord {
  int line = 0;                   // 1-based line on which the record starts
  std::vector<std::string> cells; // as meant: enclosing quotes gone, "" as one "
  bool ended = false;             // a line break follows it (false: the text ends inside it)
};

struct CsvProblem {
  int line = 0; // where the record with the problem starts
  std::string reason;
};

struct CsvText {
  std::vector<CsvRecord> records;   // in order; empty lines are left out
  std::vector<CsvProblem> problems; // a record with a problem is left out of records
};

// Every record of text, and every record that is not well-formed (a quote
// never closed, text after a closing quote) as a problem. Never fails.
CsvText ParseCsv(std::string_view text);

// The cells as one line ended by '\n'; a cell is quoted when it holds a
// comma, a quote, a line break or blanks at an end. Never fails.
std::string CsvLine(const std::vector<std::string>& cells);
