// Reading comma-separated files: a read-only mapping of the file, an RFC 4180
// tokenizer over it, the cell conversions and the column-type inference of the
// text provider. Internal to qeldata.
//
// The tokenizer hands out cells as spans into the mapped bytes, so a scan
// allocates nothing per cell; only text values that are kept become strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mapping_guard.h"
#include "qeldata/column_scan.h"
#include "qeldata/recordset.h"
#include "qeldata/value.h"

namespace qeldata::detail {

// `text` on one line: line breaks and tabs become blanks, so that an error
// quoting SQL text, a field name or a cell stays a one-line message.
std::string OneLine(std::string_view text);

// A whole file mapped read-only (the input is never written). An empty file
// maps to an empty view.
class MappedFile {
 public:
  // Throws Error (kErrProvider) naming `display_name` when the file cannot be
  // opened or is not a regular file.
  MappedFile(const std::string& path, const std::string& display_name);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::string_view bytes() const { return {data_, size_}; }
  std::int64_t mtime_ns() const { return mtime_ns_; }

  // Tells the system that the pages of [from, to) are done with, so that a
  // scan of a large file does not keep the whole file resident. The bytes
  // stay readable: touched again, they are read back from the file.
  void Release(const char* from, const char* to) const;

  // True once a read faulted beyond the end of the file: it was cut short
  // after it was mapped, and the bytes from there on read as zeros.
  bool CutShort() const { return guard_ && guard_->CutShort(); }

 private:
  const char* data_ = nullptr;
  std::size_t size_ = 0;
  std::int64_t mtime_ns_ = 0;
  std::unique_ptr<MappingGuard> guard_;  // keeps a shrinking file from ending the process
};

// How a text file is read, from the connection string's reading keys (see
// the text provider). The defaults read RFC 4180 files with a header line.
struct CsvOptions {
  // The byte between fields; 0 detects it from the first line (see
  // DetectDelimiter).
  char delimiter = 0;
  // Cells whose text (blanks around it removed) equals one of these read as
  // null in every column, as an empty cell does.
  std::vector<std::string> na_tokens;
  // Numbers: the decimal separator ('.' or ','), and the separator of groups
  // of three digits in the integer part (0: none).
  char decimal = '.';
  char thousands = 0;
  // False: the first line is data too, and the fields are named F1, F2, ...
  bool header = true;

  bool PlainNumbers() const { return decimal == '.' && thousands == 0; }
};

// The delimiter of a file whose first line (the header) starts at `line`:
// of ',', ';', TAB and '|', the one that occurs most often outside quotes in
// that line; a tie, or a line with none of them, gives ','. A tie between
// the others goes to the first in that order.
char DetectDelimiter(std::string_view line);

// `text` as ParseCsvNumber reads it, from a number written under `options`
// (decimal comma, thousands separators). Writes the plain form (no group
// separators, '.' as decimal point) into `out` and returns true; returns
// false when the text is not a number written that way: a separator out of
// place, groups not of three digits, a '.' where ',' is the decimal
// separator. Blanks around the text are dropped.
bool PlainNumberText(std::string_view text, const CsvOptions& options, std::string& out);

// True for a cell that looks like a number written some other way: a sign,
// digits, '.', ',' (and the thousands separator) only, at least one digit.
// Such a cell that does not read under the options is an error, not text.
bool LooksNumeric(std::string_view text, const CsvOptions& options);

// One cell of a record: the bytes between its delimiters, without the
// surrounding quotes. `escaped` marks a quoted cell with doubled quotes
// inside, whose text needs CellText to undo them.
struct CellSpan {
  const char* data = nullptr;
  std::size_t size = 0;
  bool quoted = false;
  bool escaped = false;

  std::string_view raw() const { return {data, size}; }
};

// The cell's text as written: doubled quotes of a quoted cell made single.
// Uses `scratch` only when the cell has doubled quotes.
std::string_view CellText(const CellSpan& cell, std::string& scratch);

// An RFC 4180 tokenizer: fields separated by ',' (or another delimiter), records by CRLF, LF or a
// lone CR (mixed too); a field that starts with '"' runs to the matching
// quote and may hold commas, line breaks and doubled quotes. Bytes must be
// UTF-8 without NUL. Every problem is an Error (kErrProvider) whose text names
// the file and the line: "BaseBall.csv line 17: unterminated quoted field".
class CsvTokenizer {
 public:
  // `text` is the whole file; reading starts at byte `offset`, the start of
  // line `line`. Fields are separated by `delimiter` (',' ';' TAB '|' ...).
  CsvTokenizer(std::string_view text, std::string display_name, std::size_t offset = 0, std::int64_t line = 1,
               char delimiter = ',');

  // Reads the next record into `cells` (cleared first). Returns false at the
  // end of the input. An empty line yields one empty cell.
  bool Next(std::vector<CellSpan>& cells);
  // As Next, but appends the record's cells after those already in `cells`,
  // so that a block of records is split straight into one array.
  bool Append(std::vector<CellSpan>& cells);
  // Reads the next record into `out` when it is plain (unquoted ASCII cells,
  // ending in LF) and has at most `capacity` cells, and returns how many it
  // has. Returns 0, reading nothing, for any other record and at the end:
  // Next reads it then, and reports what is wrong with it.
  // The record's cells go `stride` apart (cell c to out[c * stride]), so that
  // a block of records can be kept column after column.
  std::size_t NextPlain(CellSpan* out, std::size_t capacity, std::size_t stride = 1);

  // The line on which the record last returned by Next started (1-based).
  std::int64_t record_line() const { return record_line_; }
  // Byte offset and line number of the next record.
  std::size_t offset() const { return static_cast<std::size_t>(pos_ - begin_); }
  std::int64_t line() const { return line_; }
  // The end of the text: bytes before it may be read past a cell's end.
  const char* text_end() const { return end_; }
  const char* position() const { return pos_; }
  // True when only line breaks remain.
  bool AtTrailingBlankLines() const;

  // An error naming the file and the record's line.
  [[noreturn]] void Fail(const std::string& what) const;
  [[noreturn]] void FailAt(std::int64_t line, const std::string& what) const;
  const std::string& display_name() const { return display_name_; }

  // Gives the pages of records already read back to the system as the scan
  // moves on (see MappedFile::Release). `file` must hold the text.
  void ReleaseAsYouGo(const MappedFile* file) { file_ = file; }

  // Lets errors name fields ("field 3 (Player)") once the header is known.
  void SetFieldNames(const std::vector<FieldInfo>* fields) { field_names_ = fields; }
  std::string FieldLabel(std::size_t index) const;

 private:
  // Checks one UTF-8 sequence starting at `p` (a byte >= 0x80) and returns the
  // byte after it; fails on a malformed sequence.
  const char* SkipUtf8(const char* p, std::size_t field_index) const;

  const char* begin_;
  const char* pos_;
  const char* end_;
  std::string display_name_;
  std::int64_t line_;
  std::int64_t record_line_ = 0;
  const std::vector<FieldInfo>* field_names_ = nullptr;
  const MappedFile* file_ = nullptr;
  const char* released_;  // pages from here on are not given back yet (starts at the first record read)
  char delimiter_;
};

// The text as a number, as the text provider reads numeric cells: optional
// blanks around, an optional sign, digits with an optional '.' fraction and
// an optional exponent. No "inf", "nan", hex or thousands separators; values
// beyond the range of a double are no numbers.
struct CsvNumber {
  double value = 0;
  // True when the token has at most 15 significant digits, so that `value`
  // is its own 15-digit canonical value (see Value::CanonicalNumber).
  bool canonical = false;
  // Set when the token is a plain integer (no fraction, no exponent) that
  // fits 64 bits; `integer` then holds it exactly.
  bool is_integer = false;
  std::int64_t integer = 0;
};
std::optional<CsvNumber> ParseCsvNumber(std::string_view token);

// What the inference scan needs to know of a cell: blank, no number, or a
// number of which kind. Accepts exactly what ParseCsvNumber accepts, but
// computes no value where the kind is plain from the text.
enum class CsvCellShape { kBlank, kText, kInt32, kInt64, kReal };
CsvCellShape ShapeOfCell(std::string_view text);

// True when the cell holds nothing but blanks (or nothing at all): a null.
bool IsBlankCell(std::string_view text);
// True when `text`, without the blanks around it, is one of `tokens`.
bool IsNaToken(std::string_view text, const std::vector<std::string>& tokens);

// The layout of a file after the inference scan: its fields with their
// inferred types, and where the first data record starts.
struct CsvLayout {
  std::vector<FieldInfo> fields;
  std::size_t data_offset = 0;  // byte offset of the first data record
  std::int64_t data_line = 2;   // its line number
  CsvOptions options;           // as given, with the delimiter resolved
};

// Reads the header and scans every record once to infer each column's type:
// adInteger when every non-empty cell is an integer in 32-bit range, adBigInt
// in 64-bit range, adDouble for other numbers, adDate when every non-empty
// cell is an ISO date or date-time, adVarWChar otherwise (also for a column
// with no value at all). Checks the whole file on the way: quoting, the field
// count of every record, UTF-8. Throws Error naming file and line.
// With `file` (which holds `bytes`) the scan gives pages back as it goes.
// `options` decide the delimiter, the null tokens, how numbers are written
// and whether there is a header line. With a decimal comma or a thousands
// separator, a cell that looks like a number (see LooksNumeric) but does not
// read as one, met in a column that reads as numbers up to there, is an error
// naming file, line and field rather than a reason to read the column as text.
// A text column in which some cells read as numbers gets `non_numeric`.
CsvLayout InferCsvLayout(std::string_view bytes, const std::string& display_name, const MappedFile* file = nullptr,
                         const CsvOptions& options = CsvOptions());

// The first step of InferCsvLayout: the byte-order mark, the delimiter and
// the header line. The fields are named but not typed yet (adEmpty); where
// the data starts is set. Throws Error as InferCsvLayout does for an empty
// file, an empty header and duplicate field names.
CsvLayout ReadCsvHeader(std::string_view bytes, const std::string& display_name, const MappedFile* file = nullptr,
                        const CsvOptions& options = CsvOptions());

// One column of a block of records, its cells in a row, read as
// CsvRecordReader::Convert reads a numeric (text) column under
// `options`, which must write numbers plainly (CsvOptions::PlainNumbers).
// `limit` is the end of the readable bytes (see CsvTokenizer::text_end).
// Safe to call from several threads at once.
void ReadNumberCells(std::span<const CellSpan> cells, const CsvOptions& options, const char* limit, NumberCells& out);
void ReadTextCells(std::span<const CellSpan> cells, const CsvOptions& options, TextCells& out);

// Reads data records of a file whose layout is known, converting each cell to
// a Value of its column's type. Next hands out the record's cells as spans,
// and only the cells passed to Convert are read as values: a reader that needs
// a few columns converts just those.
class CsvRecordReader {
 public:
  CsvRecordReader(std::shared_ptr<const MappedFile> file, const CsvLayout& layout, std::string display_name);
  // The tokenizer points at fields_: the reader stays where it was built.
  CsvRecordReader(const CsvRecordReader&) = delete;
  CsvRecordReader& operator=(const CsvRecordReader&) = delete;

  // Reads the next data record into `cells`. Returns false at the end.
  // Blank lines carry no record in a file of several fields and are skipped.
  bool Next(std::vector<CellSpan>& cells);
  // As Next, but appends the record's cells after those already in `cells`.
  bool Append(std::vector<CellSpan>& cells);
  // As Next, into `out`, which has room for one cell per field, `stride`
  // apart (cell c to out[c * stride]).
  bool NextInto(CellSpan* out, std::size_t stride = 1);
  // The value of cell `column` of the current record, typed as the layout says.
  // Throws Error naming file, line and field when the cell does not read as
  // its column's type (the file changed after the inference scan). `line`
  // names the record's line for a cell of an earlier record; -1: the current one.
  Value Convert(const CellSpan& cell, std::size_t column, std::int64_t line = -1);
  // Stores what Convert returns in `out`, without building a Value when the
  // cell is a short plain number (the common cell of a column of numbers).
  void ConvertInto(Value& out, const CellSpan& cell, std::size_t column, std::int64_t line = -1);
  // The column's number of the cell if numeric; same checks as Convert.
  std::optional<CsvNumber> ConvertNumber(const CellSpan& cell, std::size_t column, std::int64_t line = -1);
  // The column's date; same checks as Convert.
  std::optional<Date> ConvertDate(const CellSpan& cell, std::size_t column, std::int64_t line = -1);

  const std::vector<FieldInfo>& fields() const { return fields_; }
  std::int64_t record_line() const { return tokenizer_.record_line(); }
  // The byte offset in the file of the next record.
  std::size_t offset() const { return tokenizer_.offset(); }
  [[noreturn]] void FailCell(std::size_t column, const std::string& what, std::int64_t line = -1) const;
  // True for a cell's text that reads as null: blank, or one of the null tokens.
  bool IsNull(std::string_view text) const;

 private:

  std::shared_ptr<const MappedFile> file_;
  std::vector<FieldInfo> fields_;
  CsvOptions options_;
  bool plain_numbers_;
  bool quick_numbers_;  // plain numbers and no null tokens: ConvertInto's short path applies
  CsvTokenizer tokenizer_;
  std::string scratch_;
  std::string number_scratch_;
  std::vector<CellSpan> spill_;  // NextInto's records that are not plain
};

}  // namespace qeldata::detail
