#include "table_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

Table TableOf(qeldata::Recordset& rs) {
  Table t;
  const qeldata::Fields fields = rs.GetFields();
  for (int i = 0; i < fields.Count(); ++i) t.columns.push_back(fields.Item(i).Name());
  if (rs.IsBOF() && rs.IsEOF()) return t;
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
    std::vector<Cell> row;
    for (int i = 0; i < fields.Count(); ++i) {
      Cell cell = Cell::Of(fields.Item(i).GetValue());
      if (cell.kind == Cell::Kind::kText && qeldata::IsTextType(fields.Item(i).Type())) {
        const auto n = qeldata::ParseNumber(cell.text);
        if (n && std::isfinite(*n) && qeldata::NumberText(*n) == cell.text) cell = Cell(*n);
      }
      row.push_back(std::move(cell));
    }
    t.rows.push_back(std::move(row));
  }
  return t;
}

std::string NumberForPeople(double x, int precision) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Infinity" : "-Infinity";
  if (x == std::trunc(x) && std::fabs(x) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", x == 0 ? 0.0 : x);
    return buf;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", precision, x);
  return buf;
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

// The texts of a table's cells for people, every number of a column aligned
// on its decimal point.
std::vector<std::vector<std::string>> CellTexts(const Table& t, int precision, std::vector<bool>* numeric_columns) {
  std::vector<std::vector<std::string>> out(t.rows.size());
  numeric_columns->assign(t.columns.size(), false);
  for (std::size_t c = 0; c < t.columns.size(); ++c) {
    std::size_t left = 0, right = 0;
    bool any_text = false, any_number = false;
    for (const auto& row : t.rows) {
      if (c >= row.size()) continue;
      if (row[c].kind == Cell::Kind::kNumber) {
        any_number = true;
        const auto [l, r] = SplitAtPoint(NumberForPeople(row[c].number, precision));
        left = std::max(left, l.size());
        right = std::max(right, r.size());
      } else if (row[c].kind != Cell::Kind::kNull) {
        any_text = true;
      }
    }
    (*numeric_columns)[c] = any_number && !any_text;
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
      const Cell& cell = c < t.rows[r].size() ? t.rows[r][c] : Cell();
      std::string text;
      if (cell.kind == Cell::Kind::kNumber) {
        const auto [l, rest] = SplitAtPoint(NumberForPeople(cell.number, precision));
        text = std::string(left - l.size(), ' ') + l + rest + std::string(right - rest.size(), ' ');
      } else if (cell.kind != Cell::Kind::kNull) {
        text = TerminalText(cell.text);
      }
      out[r].push_back(std::move(text));
    }
  }
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

void PrintTable(std::ostream& out, const Table& t, int precision) {
  std::vector<bool> numeric;
  const auto cells = CellTexts(t, precision, &numeric);
  std::vector<std::string> header;
  for (const auto& c : t.columns) header.push_back(TerminalText(c));
  std::vector<std::size_t> widths(header.size());
  for (std::size_t c = 0; c < header.size(); ++c) {
    widths[c] = DisplayWidth(header[c]);
    for (const auto& row : cells) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  auto print_row = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) line += (c ? "  " : "") + Pad(row[c], widths[c], numeric[c]);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  };
  print_row(header);
  std::vector<std::string> rule;
  for (auto w : widths) rule.push_back(std::string(w, '-'));
  print_row(rule);
  for (const auto& row : cells) print_row(row);
}

void PrintCsv(std::ostream& out, const Table& t) {
  for (std::size_t c = 0; c < t.columns.size(); ++c) out << (c ? "," : "") << CsvField(t.columns[c]);
  out << '\n';
  for (const auto& row : t.rows) {
    for (std::size_t c = 0; c < row.size(); ++c) {
      out << (c ? "," : "");
      if (row[c].kind == Cell::Kind::kNumber) out << (std::isfinite(row[c].number) ? qeldata::RoundTripText(row[c].number) : "");
      else if (row[c].kind != Cell::Kind::kNull) out << CsvField(row[c].text);
    }
    out << '\n';
  }
}

void PrintMarkdown(std::ostream& out, const Table& t, int precision) {
  std::vector<bool> numeric;
  const auto cells = CellTexts(t, precision, &numeric);
  out << "|";
  for (const auto& c : t.columns) out << ' ' << MarkdownCell(TerminalText(c)) << " |";
  out << "\n|";
  for (std::size_t c = 0; c < t.columns.size(); ++c) out << (numeric[c] ? "---:|" : "---|");
  out << '\n';
  for (const auto& row : cells) {
    out << "|";
    for (const auto& cell : row) {
      std::string trimmed = cell;
      trimmed.erase(0, trimmed.find_first_not_of(' ') == std::string::npos ? trimmed.size() : trimmed.find_first_not_of(' '));
      while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
      out << ' ' << MarkdownCell(trimmed) << " |";
    }
    out << '\n';
  }
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

void PrintIn(std::ostream& out, Format format, const Table& t, int precision) {
  switch (format) {
    case Format::kTable: PrintTable(out, t, precision); break;
    case Format::kJson: out << TableJson(t) << '\n'; break;
    case Format::kCsv: PrintCsv(out, t); break;
    case Format::kMarkdown: PrintMarkdown(out, t, precision); break;
  }
}

}  // namespace qelcli
