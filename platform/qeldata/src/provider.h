// The provider interface behind Recordset::Open. Internal to qeldata.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cell_column.h"
#include "qeldata/column_scan.h"
#include "qeldata/recordset.h"
#include "qeldata/text.h"

namespace qeldata::detail {

using text::ContainsNoCase;
using text::EqualsNoCase;
using text::IsAsciiSpace;
using text::Lower;
using text::Trim;
using text::Upper;

// A parsed connection string: "key=value" pairs separated by ';', values in
// braces may hold ';' ("Driver={Microsoft Text Driver (*.txt; *.csv)}").
// A leading word without '=' (the "Text" of "Text;DBQ=...") is kept as a flag.
class ConnectionString {
 public:
  // Throws Error (kErrInvalidArgument) on an unterminated brace.
  static ConnectionString Parse(std::string_view text);
  // Case-insensitive lookup of a key; the last occurrence wins.
  std::optional<std::string> Get(std::string_view key) const;
  bool HasFlag(std::string_view word) const;  // case-insensitive
  const std::string& text() const { return text_; }
  const std::vector<std::pair<std::string, std::string>>& pairs() const { return pairs_; }

 private:
  std::string text_;
  std::vector<std::pair<std::string, std::string>> pairs_;
  std::vector<std::string> flags_;
};

// A forward-only stream of rows from a provider, read block by block.
class RowStream {
 public:
  virtual ~RowStream() = default;
  virtual const std::vector<FieldInfo>& Schema() const = 0;
  // Appends up to `max_rows` rows to `cells` (Schema().size() values per row,
  // row after row) and returns how many rows it appended; 0 at the end.
  // Throws Error with the provider's description on failure.
  virtual std::size_t Fetch(std::vector<Value>& cells, std::size_t max_rows) = 0;

  // Streams whose cells cost a conversion (text files) may leave the columns
  // of a streamed block unconverted until a reader asks for one, so that a run
  // reading one field of five converts one cell per record. FetchDeferred
  // reads up to `max_rows` rows and sizes `cells` for them, leaving the
  // columns marked in `pending` (one flag per column, all set by the caller)
  // unfilled, their contents stale; it may fill some and clear their flags.
  // ConvertColumn then fills one column of that block with exactly the values
  // Fetch would have made.
  virtual bool DefersConversion() const { return false; }
  virtual std::size_t FetchDeferred(std::vector<Value>& cells, std::size_t max_rows, std::vector<char>& /*pending*/) {
    return Fetch(cells, max_rows);
  }
  virtual void ConvertColumn(std::vector<Value>& /*cells*/, std::size_t /*column*/) {}

  // The share (0 to 1) of the source in the rows fetched so far, for a
  // progress display; nullopt when the stream cannot say (see
  // Recordset::ReadShare).
  virtual std::optional<double> ReadShare() const { return std::nullopt; }
};

// `name` as a delimited identifier between `quote` marks ("a""b" for a"b
// between double quotes, as SQLite and standard SQL write it). A quote mark
// inside the name is doubled; a quote of other than one character (a driver
// that names none) is put around the name as it is.
inline std::string DelimitedIdentifier(std::string_view name, std::string_view quote = "\"") {
  std::string out(quote);
  for (char c : name) {
    out.push_back(c);
    if (quote.size() == 1 && c == quote[0]) out.push_back(c);
  }
  return out.append(quote);
}

// A source opened for aggregate queries (qeldata/aggregate.h): its one
// statement, its fields, and queries built around that statement.
class AggregateSession {
 public:
  virtual ~AggregateSession() = default;
  // The source's fields as its statement describes them.
  virtual const std::vector<FieldInfo>& Schema() const = 0;
  // The source's one statement, checked to read only, without a trailing ';'.
  virtual const std::string& Statement() const = 0;
  // `name` as a delimited identifier of this database.
  virtual std::string QuoteIdentifier(std::string_view name) const = 0;
  // True when the database groups (the query is a `group by`); false when
  // the query selects the fields and the reader groups them.
  virtual bool GroupsInDatabase() const = 0;
  // Runs `sql` (built around Statement()) and streams its rows. `types`
  // gives the ADO type of each result column where the database cannot say.
  virtual std::unique_ptr<RowStream> Query(const std::string& sql, const std::vector<int>& types) = 0;
};

class Provider {
 public:
  virtual ~Provider() = default;
  // Opens `source` (table name, "[file]" or SQL text) from its first row.
  // `streaming` is true for server-side forward-only opens, which read block
  // by block; false when the caller will fetch everything at once.
  virtual std::unique_ptr<RowStream> Open(std::string_view source, bool streaming) = 0;
  // How errors name the source ("BaseBall.csv", or the table/SQL text).
  virtual std::string DisplayName(std::string_view source) const { return std::string(source); }
  // Opens `source` for a column-wise pass (qeldata/column_scan.h); nullptr
  // where the provider cannot read it so.
  virtual std::unique_ptr<ColumnScan> OpenColumns(std::string_view /*source*/) { return nullptr; }
  // Opens `source` for aggregate queries. Throws Error (kErrNotSupported)
  // where the provider has no database to run them in.
  virtual std::unique_ptr<AggregateSession> OpenAggregate(std::string_view source);
};

// Chooses the provider for a connection string:
//   Driver={Microsoft Text Driver (*.txt; *.csv)};DBQ=<folder> or Text;DBQ=<folder> -> text provider
//   Driver=SQLite3;Database=<file> (or Data Source=<file>)                          -> SQLite provider
//   anything else                                                                    -> ODBC provider
std::unique_ptr<Provider> MakeProvider(std::string_view connection_string);

std::unique_ptr<Provider> MakeTextProvider(const ConnectionString& cs);
std::unique_ptr<Provider> MakeSqliteProvider(const ConnectionString& cs);
std::unique_ptr<Provider> MakeOdbcProvider(const ConnectionString& cs);

// A "file:" address of `path` for SQLite (its URI form), every byte but the
// unreserved ones escaped so that '?', '#', '%' and ';' stay part of the name.
std::string FileUri(const std::string& path);

// Rows per block of a streaming open.
inline constexpr std::size_t kBlockRows = 4096;

// Shared rows of a static recordset and its clones, or the current block of
// a stream.
struct Table {
  std::vector<FieldInfo> fields;
  // Streaming: the block's cells, rows * fields.size(), as providers fill them.
  std::vector<Value> cells;
  // Static: one compact column per field (a result table of millions of rows
  // holds 9 bytes a cell, not a Value's 48).
  std::vector<CellColumn> columns;
  std::int64_t rows = 0;
};

struct RecordsetState {
  int cursor_location = adUseServer;
  int cursor_type = adOpenUnspecified;
  int lock_type = adLockUnspecified;
  bool open = false;
  std::string source;
  std::string display_name;  // how errors name the source
  std::shared_ptr<const Connection> connection;

  std::shared_ptr<Table> table = std::make_shared<Table>();
  // Streaming: `table` holds the current block only; `stream` refills it.
  bool streaming = false;
  std::unique_ptr<Provider> provider;
  std::unique_ptr<RowStream> stream;
  bool stream_done = false;
  std::int64_t block_base = 0;  // rows before the current block
  // Streaming from a stream that defers conversion: the columns of the
  // current block not converted yet (empty when every column is).
  mutable std::vector<char> pending_columns;

  // Cursor: row index into the table; -1 is BOF, table->rows is EOF.
  std::int64_t pos = -1;
  // Static: the value of each field on the current record as the last
  // GetValue made it from its compact cell (what the references handed out
  // point to).
  mutable std::vector<Value> current;

  const Value& Cell(int ordinal) const;
  // Writes a field of the current record of a static table.
  void SetCell(int ordinal, const Value& value);
  int FieldCount() const { return static_cast<int>(table->fields.size()); }
  bool FetchNextBlock();  // streaming only; false at the end; tells the thread's ReadProgress
  std::optional<double> ReadShare() const;
};

}  // namespace qeldata::detail
