// qelstats fields: the fields of a table with their ADO type codes.
#include <algorithm>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "cli_common.h"
#include "reading_options.h"
#include "table_output.h"

namespace qelcli {

namespace {

// The names of ADO's data-type codes, as a user of the codes knows them.
std::string TypeName(int type) {
  static const std::pair<int, const char*> kNames[] = {
      {qeldata::adEmpty, "adEmpty"},           {qeldata::adSmallInt, "adSmallInt"},
      {qeldata::adInteger, "adInteger"},       {qeldata::adSingle, "adSingle"},
      {qeldata::adDouble, "adDouble"},         {qeldata::adCurrency, "adCurrency"},
      {qeldata::adDate, "adDate"},             {qeldata::adBSTR, "adBSTR"},
      {qeldata::adBoolean, "adBoolean"},       {qeldata::adDecimal, "adDecimal"},
      {qeldata::adTinyInt, "adTinyInt"},       {qeldata::adBigInt, "adBigInt"},
      {qeldata::adBinary, "adBinary"},         {qeldata::adChar, "adChar"},
      {qeldata::adWChar, "adWChar"},           {qeldata::adNumeric, "adNumeric"},
      {qeldata::adDBDate, "adDBDate"},         {qeldata::adDBTime, "adDBTime"},
      {qeldata::adDBTimeStamp, "adDBTimeStamp"}, {qeldata::adVarNumeric, "adVarNumeric"},
      {qeldata::adVarChar, "adVarChar"},       {qeldata::adLongVarChar, "adLongVarChar"},
      {qeldata::adVarWChar, "adVarWChar"},     {qeldata::adLongVarWChar, "adLongVarWChar"},
      {qeldata::adVarBinary, "adVarBinary"},   {qeldata::adLongVarBinary, "adLongVarBinary"},
  };
  for (const auto& [code, name] : kNames)
    if (code == type) return name;
  return "type " + std::to_string(type);
}

// For a text field that is text because of a few cells: its note, and the
// cells in figures ("nonNumeric"); nothing for every other field.
std::string NonNumericJson(const qeldata::Field& f) {
  const auto& cells = f.NonNumeric();
  if (!cells) return "";
  return ", \"note\": " + JsonString(TextFieldNote(f.Name(), *cells)) + ", \"nonNumeric\": {\"cells\": " +
         std::to_string(cells->count) + ", \"values\": " + std::to_string(cells->values) +
         ", \"line\": " + std::to_string(cells->first_line) + ", \"text\": " + JsonString(cells->first_text) + "}";
}

}  // namespace

int RunFields(const std::vector<std::string>& argv) {
  const Args args(argv, WithReadingFlags(WithCommonFlags()));
  args.AllowOnly(WithOutputOptions(WithReadingOptions(WithCommonFlags({"csv", "connection", "source"}))));
  const Format format = OutputFormat(args);
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const InputSpec input = ResolveReadInput(args);

  // A server-side forward-only open reads no more than its first block,
  // whatever the size of the table.
  qeldata::Recordset rs;
  rs.SetCursorLocation(qeldata::adUseServer);
  rs.Open(input.source, input.connection_string, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
  const qeldata::Fields fields = rs.GetFields();

  if (format == Format::kCsv || format == Format::kMarkdown) {
    Table t{{"Field", "Type", "Type name"}, {}};
    for (int i = 0; i < fields.Count(); ++i)
      t.rows.push_back({fields.Item(i).Name(), static_cast<double>(fields.Item(i).Type()), TypeName(fields.Item(i).Type())});
    PrintIn(std::cout, format, t, 7);
    return kExitRan;
  }
  if (format == Format::kJson) {
    std::string out = "{\"fields\": [";
    for (int i = 0; i < fields.Count(); ++i) {
      const qeldata::Field f = fields.Item(i);
      out += (i ? ", " : "");
      out += "{\"name\": " + JsonString(f.Name()) + ", \"type\": " + std::to_string(f.Type()) +
             ", \"typeName\": " + JsonString(TypeName(f.Type())) + NonNumericJson(f) + "}";
    }
    std::cout << out << "]}\n";
    return kExitRan;
  }
  std::vector<std::vector<std::string>> rows = {{"Field", "Type", "Type name"}};
  for (int i = 0; i < fields.Count(); ++i) {
    const qeldata::Field f = fields.Item(i);
    rows.push_back({TerminalText(f.Name()), std::to_string(f.Type()), TypeName(f.Type())});
  }
  std::size_t widths[3] = {0, 0, 0};
  for (const auto& row : rows)
    for (std::size_t c = 0; c < 3; ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const auto& row = rows[r];
    // Widths in characters: a field name of letters beyond ASCII keeps
    // the columns in line.
    std::cout << row[0] << std::string(widths[0] - DisplayWidth(row[0]) + 2, ' ')
              << std::string(widths[1] - row[1].size(), ' ') << row[1] << "  " << row[2] << '\n';
    if (r == 0)
      std::cout << std::string(widths[0], '-') << "  " << std::string(widths[1], '-') << "  "
                << std::string(widths[2], '-') << '\n';
  }
  // Why a column of numbers reads as text, under the table.
  std::vector<std::string> notes;
  for (int i = 0; i < fields.Count(); ++i)
    if (const auto& cells = fields.Item(i).NonNumeric()) notes.push_back(TextFieldNote(fields.Item(i).Name(), *cells));
  if (!notes.empty()) std::cout << '\n';
  PrintNotes(std::cout, notes);
  return kExitRan;
}

}  // namespace qelcli
