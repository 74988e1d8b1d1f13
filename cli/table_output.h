// Result tables in the output formats of every command: a readable table
// (numbers aligned on the decimal point, at most --precision significant
// digits, widths counted in characters), JSON, CSV and Markdown.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli_common.h"
#include "qeldata/recordset.h"

namespace qelcli {

enum class Format { kTable, kJson, kCsv, kMarkdown };

// --format table|json|csv|markdown, with --json as a synonym of --format json.
// Throws UsageError for another format, and for --json with another --format.
Format OutputFormat(const Args& args);
// --precision N (1 to 17; 7 by default): significant digits of the table and
// Markdown formats. JSON and CSV always carry every digit.
int OutputPrecision(const Args& args);

// The option names the output takes, to pass to Args beside a command's own.
std::vector<std::string> WithOutputOptions(std::vector<std::string> known);

// One cell: nothing, a number or a text.
struct Cell {
  enum class Kind { kNull, kNumber, kText, kBool };
  Kind kind = Kind::kNull;
  double number = 0;
  std::string text;

  Cell() = default;
  Cell(double x) : kind(Kind::kNumber), number(x) {}
  Cell(std::string s) : kind(Kind::kText), text(std::move(s)) {}
  Cell(const char* s) : kind(Kind::kText), text(s) {}
  static Cell Bool(bool b) { Cell c(b ? "True" : "False"); c.kind = Kind::kBool; return c; }
  static Cell Of(const qeldata::Value& v);  // dates as text
};

struct Table {
  std::vector<std::string> columns;
  std::vector<std::vector<Cell>> rows;
};

// A recordset as a Table, read from its first row. A text cell that holds
// a number (as the segmentation's table keeps them) becomes that number, so
// that it lines up on its decimal point.
Table TableOf(qeldata::Recordset& rs);

// The text of a number for people: at most `precision` significant digits;
// whole numbers below 1e15 in full.
std::string NumberForPeople(double x, int precision);

// The number of characters (code points) of UTF-8 text as a terminal shows
// it: a combining mark takes no column, a wide East Asian character two.
std::size_t DisplayWidth(const std::string& s);

// {"columns": [...], "rows": [[...], ...]}
std::string TableJson(const Table& t);
// Aligned columns under a ruled header; text cells to the left, numbers on
// their decimal point.
void PrintTable(std::ostream& out, const Table& t, int precision);
// RFC 4180 with Unix line ends: a header line, then one line per row; fields quoted when needed.
void PrintCsv(std::ostream& out, const Table& t);
// A GitHub-flavoured Markdown table.
void PrintMarkdown(std::ostream& out, const Table& t, int precision);
// Named results (a "Result" and a "Value" column): two aligned columns
// without a header in the table format, the table itself in CSV and Markdown.
void PrintProperties(std::ostream& out, Format format, const Table& t, int precision);
// The table in `format` (JSON as TableJson on one line).
void PrintIn(std::ostream& out, Format format, const Table& t, int precision);
// The same of a recordset read from its first row (as TableOf reads it), the
// table, CSV and Markdown formats without holding its rows: a result table of
// millions of rows is read twice instead of copied.
void PrintIn(std::ostream& out, Format format, qeldata::Recordset& rs, int precision);
// The CSV lines of a recordset's rows (no header), each led by `key` when given.
void PrintCsvRows(std::ostream& out, qeldata::Recordset& rs, const Cell* key);

}  // namespace qelcli
