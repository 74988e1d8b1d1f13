#include "table_output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>

namespace qelcli {

Format OutputFormat(const Args& args) {
  const auto text = args.Get("format");
  Format f = Format::kTable;
  if (text) {
    if (*text == "table") f = Format::kTable;
    else if (*text == "json") f = Format::kJson;
    else if (*text == "csv") f = Format::kCsv;
    else if (*text == "markdown" || *text == "md") f = Format::kMarkdown;
    else throw UsageError("option --format needs table, json, csv or markdown, not '" + *text + "'");
  }
  if (args.Has("json")) {
    if (text && f != Format::kJson) throw UsageError("--json asks for --format json, not --format " + *text);
    f = Format::kJson;
  }
  return f;
}

int OutputPrecision(const Args& args) {
  const auto text = args.Get("precision");
  if (!text) return 7;
  const auto n = qeldata::ParseNumber(*text);
  if (!n || *n < 1 || *n > 17 || *n != std::trunc(*n))
    throw UsageError("option --precision needs a whole number from 1 to 17, not '" + *text + "'");
  return static_cast<int>(*n);
}

std::vector<std::string> WithOutputOptions(std::vector<std::string> known) {
  known.insert(known.end(), {"format", "precision"});
  return known;
}

Cell Cell::Of(const qeldata::Value& v) {
  using K = qeldata::Value::Kind;
  switch (v.kind()) {
    case K::kNull: return Cell();
    case K::kNumber: return Cell(v.number());
    case K::kBoolean: return Cell::Bool(v.boolean());
    default: return Cell(v.AsText());
  }
}

namespace {

// The cells of the current record of `fields` as TableOf keeps them, in `row`.
void RowCells(const qeldata::Fields& fields, std::vector<Cell>& row) {
  row.clear();
  for (int i = 0; i < fields.Count(); ++i) {
    Cell cell = Cell::Of(fields.Item(i).GetValue());
    if (cell.kind == Cell::Kind::kText && qeldata::IsTextType(fields.Item(i).Type())) {
      const auto n = qeldata::ParseNumber(cell.text);
      if (n && std::isfinite(*n) && qeldata::NumberText(*n) == cell.text) cell = Cell(*n);
    }
    row.push_back(std::move(cell));
  }
}

// A table's rows as the printers read them: `rows(visit)` calls `visit` with
// each row's cells in order, as many times as a printer asks.
using RowVisitor = std::function<void(const std::vector<Cell>&)>;
using Rows = std::function<void(const RowVisitor&)>;

Rows RowsOf(const Table& t) {
  return [&t](const RowVisitor& visit) {
    for (const auto& row : t.rows) visit(row);
  };
}

// A recordset's rows from its first, made one at a time: a result table of
// millions of rows is read twice rather than copied whole.
Rows RowsOf(qeldata::Recordset& rs) {
  return [&rs](const RowVisitor& visit) {
    if (rs.IsBOF() && rs.IsEOF()) return;
    const qeldata::Fields fields = rs.GetFields();
    std::vector<Cell> row;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
      RowCells(fields, row);
      visit(row);
    }
  };
}

std::vector<std::string> ColumnsOf(qeldata::Recordset& rs) {
  std::vector<std::string> columns;
  const qeldata::Fields fields = rs.GetFields();
  for (int i = 0; i < fields.Count(); ++i) columns.push_back(fields.Item(i).Name());
  return columns;
}

}  // namespace

Table TableOf(qeldata::Recordset& rs) {
  Table t;
  t.columns = ColumnsOf(rs);
  RowsOf(rs)([&](const std::vector<Cell>& row) { t.rows.push_back(row); });
  return t;
}

std::string NumberForPeople(double x, int precision) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Infinity" : "-Infinity";
  // printf's "%.0f" and "%.*g" by their definition in to_chars, without the
  // C library's multi-precision arithmetic (a table of millions of numbers).
  char buf[64];
  if (x == std::trunc(x) && std::fabs(x) < 1e15)
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, x == 0 ? 0.0 : x, std::chars_format::fixed, 0).ptr);
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, precision).ptr);
}

namespace {

// Wide East Asian characters and emoji take two columns of a terminal.
bool IsWide(char32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF && cp != 0x303F) ||
         (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) ||
         (cp >= 0xFF00 && cp <= 0xFF60) || (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1FAFF) ||
         (cp >= 0x20000 && cp <= 0x3FFFD);
}

// Combining marks sit on the character before them.
bool IsCombining(char32_t cp) {
  return (cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x1AB0 && cp <= 0x1AFF) || (cp >= 0x1DC0 && cp <= 0x1DFF) ||
         (cp >= 0x20D0 && cp <= 0x20FF) || (cp >= 0xFE20 && cp <= 0xFE2F) || cp == 0x200B || cp == 0x200D;
}

std::string Pad(const std::string& s, std::size_t width, bool right) {
  const std::size_t w = DisplayWidth(s);
  const std::string fill(w < width ? width - w : 0, ' ');
  return right ? fill + s : s + fill;
}

// A number's text split at its decimal point (or where one would be).
std::pair<std::string, std::string> SplitAtPoint(const std::string& s) {
  std::size_t at = s.find('.');
  if (at == std::string::npos) at = s.find('e');
  if (at == std::string::npos) return {s, ""};
  return {s.substr(0, at), s.substr(at)};
}

// How the cells of a column are shown to people: its numbers aligned on the
// decimal point (the widest part before it and the widest from it on), and
// the widest of its texts.
struct ColumnLayout {
  std::size_t left = 0, right = 0, text_width = 0;
  bool any_text = false, any_number = false;
  // Numbers only: aligned to the right, as numbers are.
  bool Numeric() const { return any_number && !any_text; }
  // The width of the column's widest cell (numbers are ASCII).
  std::size_t Width() const { return std::max(any_number ? left + right : 0, text_width); }
};

std::vector<ColumnLayout> LayOut(std::size_t columns, const Rows& rows, int precision) {
  std::vector<ColumnLayout> layout(columns);
  rows([&](const std::vector<Cell>& row) {
    for (std::size_t c = 0; c < columns && c < row.size(); ++c) {
      ColumnLayout& column = layout[c];
      if (row[c].kind == Cell::Kind::kNumber) {
        column.any_number = true;
        const auto [l, r] = SplitAtPoint(NumberForPeople(row[c].number, precision));
        column.left = std::max(column.left, l.size());
        column.right = std::max(column.right, r.size());
      } else if (row[c].kind != Cell::Kind::kNull) {
        column.any_text = true;
        column.text_width = std::max(column.text_width, DisplayWidth(TerminalText(row[c].text)));
      }
    }
  });
  return layout;
}

// A cell's text for people in a column laid out as `column`.
std::string CellText(const Cell& cell, const ColumnLayout& column, int precision) {
  if (cell.kind == Cell::Kind::kNumber) {
    const auto [l, rest] = SplitAtPoint(NumberForPeople(cell.number, precision));
    return std::string(column.left - l.size(), ' ') + l + rest + std::string(column.right - rest.size(), ' ');
  }
  if (cell.kind != Cell::Kind::kNull) return TerminalText(cell.text);
  return "";
}

// The texts of a row's cells for people (as many as there are columns).
std::vector<std::string> RowTexts(const std::vector<Cell>& row, const std::vector<ColumnLayout>& layout,
                                  int precision) {
  std::vector<std::string> texts;
  texts.reserve(layout.size());
  for (std::size_t c = 0; c < layout.size(); ++c)
    texts.push_back(c < row.size() ? CellText(row[c], layout[c], precision) : std::string());
  return texts;
}

// The texts of a table's cells for people, every number of a column aligned
// on its decimal point.
std::vector<std::vector<std::string>> CellTexts(const Table& t, int precision, std::vector<bool>* numeric_columns) {
  const std::vector<ColumnLayout> layout = LayOut(t.columns.size(), RowsOf(t), precision);
  numeric_columns->clear();
  for (const ColumnLayout& column : layout) numeric_columns->push_back(column.Numeric());
  std::vector<std::vector<std::string>> out;
  for (const auto& row : t.rows) out.push_back(RowTexts(row, layout, precision));
  return out;
}

std::string CsvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos && (s.empty() || (s.front() != ' ' && s.back() != ' ')))
    return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string MarkdownCell(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '|' ? std::string("\\|") : std::string(1, c);
  return out;
}

void PrintTableRows(std::ostream& out, const std::vector<std::string>& columns, const Rows& rows, int precision) {
  const std::vector<ColumnLayout> layout = LayOut(columns.size(), rows, precision);
  std::vector<std::string> header;
  for (const auto& c : columns) header.push_back(TerminalText(c));
  std::vector<std::size_t> widths(header.size());
  for (std::size_t c = 0; c < header.size(); ++c) widths[c] = std::max(DisplayWidth(header[c]), layout[c].Width());
  auto print_row = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) line += (c ? "  " : "") + Pad(row[c], widths[c], layout[c].Numeric());
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  };
  print_row(header);
  std::vector<std::string> rule;
  for (auto w : widths) rule.push_back(std::string(w, '-'));
  print_row(rule);
  rows([&](const std::vector<Cell>& row) { print_row(RowTexts(row, layout, precision)); });
}

// CSV lines of `rows`, each led by `key` when there is one.
void PrintCsvLines(std::ostream& out, const Rows& rows, const Cell* key) {
  auto field = [&](const Cell& cell) {
    if (cell.kind == Cell::Kind::kNumber) out << (std::isfinite(cell.number) ? qeldata::RoundTripText(cell.number) : "");
    else if (cell.kind != Cell::Kind::kNull) out << CsvField(cell.text);
  };
  rows([&](const std::vector<Cell>& row) {
    if (key) field(*key);
    for (std::size_t c = 0; c < row.size(); ++c) {
      out << (c || key ? "," : "");
      field(row[c]);
    }
    out << '\n';
  });
}

void PrintMarkdownRows(std::ostream& out, const std::vector<std::string>& columns, const Rows& rows, int precision) {
  const std::vector<ColumnLayout> layout = LayOut(columns.size(), rows, precision);
  out << "|";
  for (const auto& c : columns) out << ' ' << MarkdownCell(TerminalText(c)) << " |";
  out << "\n|";
  for (std::size_t c = 0; c < columns.size(); ++c) out << (layout[c].Numeric() ? "---:|" : "---|");
  out << '\n';
  rows([&](const std::vector<Cell>& row) {
    out << "|";
    for (const auto& cell : RowTexts(row, layout, precision)) {
      std::string trimmed = cell;
      trimmed.erase(0, trimmed.find_first_not_of(' ') == std::string::npos ? trimmed.size() : trimmed.find_first_not_of(' '));
      while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
      out << ' ' << MarkdownCell(trimmed) << " |";
    }
    out << '\n';
  });
}

}  // namespace

std::size_t DisplayWidth(const std::string& s) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (i + length > s.size()) length = s.size() - i;
    char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    width += IsCombining(cp) ? 0 : IsWide(cp) ? 2 : 1;
    i += length;
  }
  return width;
}

std::string TableJson(const Table& t) {
  std::string out = "{\"columns\": [";
  for (std::size_t i = 0; i < t.columns.size(); ++i) out += (i ? ", " : "") + JsonString(t.columns[i]);
  out += "], \"rows\": [";
  for (std::size_t r = 0; r < t.rows.size(); ++r) {
    out += r ? ", [" : "[";
    for (std::size_t c = 0; c < t.rows[r].size(); ++c) {
      const Cell& cell = t.rows[r][c];
      out += c ? ", " : "";
      if (cell.kind == Cell::Kind::kNumber) out += JsonNumber(cell.number);
      else if (cell.kind == Cell::Kind::kBool) out += cell.text == "True" ? "true" : "false";
      else if (cell.kind == Cell::Kind::kText) out += JsonString(cell.text);
      else out += "null";
    }
    out += "]";
  }
  return out + "]}";
}

void PrintTable(std::ostream& out, const Table& t, int precision) { PrintTableRows(out, t.columns, RowsOf(t), precision); }

void PrintCsv(std::ostream& out, const Table& t) {
  for (std::size_t c = 0; c < t.columns.size(); ++c) out << (c ? "," : "") << CsvField(t.columns[c]);
  out << '\n';
  PrintCsvLines(out, RowsOf(t), nullptr);
}

void PrintCsvRows(std::ostream& out, qeldata::Recordset& rs, const Cell* key) { PrintCsvLines(out, RowsOf(rs), key); }

void PrintMarkdown(std::ostream& out, const Table& t, int precision) {
  PrintMarkdownRows(out, t.columns, RowsOf(t), precision);
}

void PrintProperties(std::ostream& out, Format format, const Table& t, int precision) {
  if (format != Format::kTable) return PrintIn(out, format, t, precision);
  std::size_t width = 0;
  for (const auto& row : t.rows) width = std::max(width, DisplayWidth(TerminalText(row[0].text)));
  Table values{{"Value"}, {}};
  for (const auto& row : t.rows) values.rows.push_back({row[1]});
  std::vector<bool> numeric;
  const auto cells = CellTexts(values, precision, &numeric);
  for (std::size_t r = 0; r < t.rows.size(); ++r) {
    std::string value = cells[r][0];
    while (!value.empty() && value.back() == ' ' && t.rows[r][1].kind != Cell::Kind::kNumber) value.pop_back();
    std::string line = Pad(TerminalText(t.rows[r][0].text), width + 2, false) + value;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  }
}

void PrintIn(std::ostream& out, Format format, qeldata::Recordset& rs, int precision) {
  switch (format) {
    case Format::kTable: PrintTableRows(out, ColumnsOf(rs), RowsOf(rs), precision); break;
    case Format::kJson: out << TableJson(TableOf(rs)) << '\n'; break;
    case Format::kCsv: PrintCsv(out, Table{ColumnsOf(rs), {}}); PrintCsvRows(out, rs, nullptr); break;
    case Format::kMarkdown: PrintMarkdownRows(out, ColumnsOf(rs), RowsOf(rs), precision); break;
  }
}

void PrintIn(std::ostream& out, Format format, const Table& t, int precision) {
  switch (format) {
    case Format::kTable: PrintTable(out, t, precision); break;
    case Format::kJson: out << TableJson(t) << '\n'; break;
    case Format::kCsv: PrintCsv(out, t); break;
    case Format::kMarkdown: PrintMarkdown(out, t, precision); break;
  }
}

}  // namespace qelcli
