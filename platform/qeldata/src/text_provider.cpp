// The text provider: a folder of comma-separated files, each file a table.
//
//   Text;DBQ=/data                                    (short form)
//   Driver={Microsoft Text Driver (*.txt; *.csv)};DBQ=/data;DefaultDir=/data;Uid=Admin;Pwd=;
//
// A source that names one file ("BaseBall.csv", "[BaseBall.csv]",
// "select * from [BaseBall.csv]") streams the file itself. Any other SQL runs
// on an in-memory SQLite database holding the files it names as tables.
//
// Reading keys (optional; names and words ignore case):
//   Delimiter=;            the byte between fields: one character, or comma,
//                          semicolon, tab (also \t), pipe, space. A ';' must
//                          be written in braces ({;}) or as "semicolon".
//                          Without it, the delimiter is the most frequent of
//                          , ; TAB | outside quotes in the first line, ties
//                          and none going to the comma.
//   NA=NA,N/A,.            cells equal to one of these (blanks around them
//                          ignored, quoted or not) read as null, in every
//                          column; a token cannot hold a comma.
//   DecimalSeparator=,     '.' (the default) or ','.
//   ThousandsSeparator=.   a separator of groups of three digits in numbers:
//                          one character ({ } or "space" for a blank).
//   Header=No              the first line is data; fields are named F1, F2, ...
//                          (Yes, the default, reads field names from it).
// A number in another format than these keys say ("1.5" with a decimal
// comma, "1,20,000" with thousands commas) in a column of numbers is an error
// naming the file, line and field; no cell becomes null unless it is blank
// or one of the NA tokens.
#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "csv.h"
#include "provider.h"
#include "sqlite_query.h"

namespace qeldata::detail {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSource = "qeldata.text";

// Errors quote SQL text and names; the description stays one line.
Error Failure(std::int32_t number, const std::string& description) {
  return Error(number, kSource, OneLine(description));
}


// ---- a small SQL lexer: enough to find the tables a query reads ----

struct SqlToken {
  enum Kind { kWord, kQuotedName, kString, kPunct };
  Kind kind;
  std::string text;  // words as written, quoted names without their quotes
  std::size_t begin, end;
};

bool IsWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || c == '.' || c == '#' || c == '$' || u >= 0x80;
}

// Returns nullopt when a quote or bracket is never closed.
std::optional<std::vector<SqlToken>> LexSql(std::string_view sql) {
  std::vector<SqlToken> tokens;
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      while (i < sql.size() && sql[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      const auto close = sql.find("*/", i + 2);
      i = close == std::string_view::npos ? sql.size() : close + 2;
    } else if (c == '[' || c == '"' || c == '`' || c == '\'') {
      const char closing = c == '[' ? ']' : c;
      std::string text;
      std::size_t j = i + 1;
      for (;; ++j) {
        if (j >= sql.size()) return std::nullopt;
        if (sql[j] == closing) {
          // A doubled closing character stands for one: '', "", `` and ]]
          // (so "[a]]b.csv]" names the file a]b.csv).
          if (j + 1 < sql.size() && sql[j + 1] == closing) {
            text.push_back(closing);
            ++j;
            continue;
          }
          break;
        }
        text.push_back(sql[j]);
      }
      tokens.push_back({c == '\'' ? SqlToken::kString : SqlToken::kQuotedName, std::move(text), i, j + 1});
      i = j + 1;
    } else if (IsWordChar(c)) {
      std::size_t j = i;
      while (j < sql.size() && IsWordChar(sql[j])) ++j;
      tokens.push_back({SqlToken::kWord, std::string(sql.substr(i, j - i)), i, j});
      i = j;
    } else {
      tokens.push_back({SqlToken::kPunct, std::string(1, c), i, i + 1});
      ++i;
    }
  }
  return tokens;
}

bool IsWord(const std::vector<SqlToken>& t, std::size_t i, std::string_view word) {
  return i < t.size() && t[i].kind == SqlToken::kWord && Lower(t[i].text) == word;
}

bool IsPunct(const std::vector<SqlToken>& t, std::size_t i, char c) {
  return i < t.size() && t[i].kind == SqlToken::kPunct && t[i].text[0] == c;
}

// Words that can follow a table in a FROM clause, so are no alias.
bool IsClauseWord(const std::string& word) {
  static const char* const kWords[] = {"where",  "join",   "inner",     "left",   "right", "full",  "cross",
                                       "natural", "on",     "using",     "group",  "order", "limit", "union",
                                       "except", "intersect", "window", "having", "outer", "as",    "offset"};
  const std::string w = Lower(word);
  return std::any_of(std::begin(kWords), std::end(kWords), [&](const char* k) { return w == k; });
}

bool IsName(const std::vector<SqlToken>& t, std::size_t i) {
  return i < t.size() && (t[i].kind == SqlToken::kQuotedName || (t[i].kind == SqlToken::kWord && !IsClauseWord(t[i].text)));
}

// Indices of the tokens that name tables: after FROM (a comma-separated list,
// each with an optional alias) and after JOIN.
std::vector<std::size_t> TableTokens(const std::vector<SqlToken>& t) {
  std::vector<std::size_t> tables;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const bool from = IsWord(t, i, "from");
    if (!from && !IsWord(t, i, "join")) continue;
    std::size_t j = i + 1;
    while (IsName(t, j)) {
      tables.push_back(j++);
      if (IsWord(t, j, "as")) j += 2;
      else if (IsName(t, j)) ++j;
      if (!from || !IsPunct(t, j, ',')) break;
      ++j;
    }
  }
  return tables;
}

// What a source asks for: one whole file, or a query.
struct SourceSpec {
  bool whole_file = false;
  std::string table;  // the file, when whole_file
};

SourceSpec ClassifySource(std::string_view source) {
  std::string_view text = Trim(source);
  while (!text.empty() && text.back() == ';') text = Trim(text.substr(0, text.size() - 1));
  if (text.empty()) throw Failure(kErrInvalidArgument, "no table name or SQL text to open");
  const auto tokens = LexSql(text);
  if (tokens) {
    const auto& t = *tokens;
    // Blanks around a name inside brackets are tolerated as well.
    if (t.size() == 1 && t[0].kind == SqlToken::kQuotedName) return {true, std::string(Trim(t[0].text))};
    if (t.size() == 4 && IsWord(t, 0, "select") && IsPunct(t, 1, '*') && IsWord(t, 2, "from") &&
        (t[3].kind == SqlToken::kQuotedName || t[3].kind == SqlToken::kWord))
      return {true, std::string(Trim(t[3].text))};
    if (IsWord(t, 0, "select") || IsWord(t, 0, "with") || IsWord(t, 0, "values")) return {false, {}};
  }
  return {true, std::string(text)};
}

// ---- streaming a file ----

// Blocks of a large file are read ahead on a second thread: it splits the
// next records into cells while the reader works on the current block, and
// converts the columns the reader asked for in earlier blocks. Problems reach
// the reader in the order one thread would meet them: a record that cannot be
// read fails the fetch of its block; a cell the read-ahead cannot convert is
// left to the reader's own conversion, which reports it.
class ReadAhead {
 public:
  struct Block {
    std::vector<CellSpan> spans;       // row after row
    std::vector<std::int64_t> lines;   // the line each record starts on
    std::vector<Value> values;         // rows * columns; the converted columns filled
    std::vector<char> converted;       // per column
    std::exception_ptr error;          // the record after the last one could not be read
    std::size_t end_offset = 0;        // the byte offset of the record after the block's last
  };

  ReadAhead(std::shared_ptr<const MappedFile> file, const CsvLayout& layout, const std::string& display_name)
      : reader_(std::move(file), layout, display_name), wanted_(layout.fields.size(), 0) {
    worker_ = std::thread([this] { Work(); });
  }
  ~ReadAhead() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    worker_.join();
  }

  // The next block, or nullptr at the end. `done` goes back for reuse.
  std::unique_ptr<Block> Next(std::unique_ptr<Block> done) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (done) free_.push_back(std::move(done));
    changed_.notify_all();
    changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
    if (ready_.empty()) {
      if (failure_) std::rethrow_exception(failure_);
      return nullptr;
    }
    std::unique_ptr<Block> block = std::move(ready_.front());
    ready_.pop_front();
    changed_.notify_all();
    return block;
  }

  // The reader looked at `column`: later blocks come with it converted.
  void Want(std::size_t column) {
    std::lock_guard<std::mutex> lock(mutex_);
    wanted_[column] = 1;
  }

 private:
  static constexpr std::size_t kDepth = 2;  // blocks read ahead

  void Work() {
    try {
      ReadBlocks();
    } catch (...) {
      // Out of memory, say: the reader meets it at the next block.
      std::lock_guard<std::mutex> lock(mutex_);
      failure_ = std::current_exception();
      finished_ = true;
    }
    changed_.notify_all();
  }

  void ReadBlocks() {
    const std::size_t columns = reader_.fields().size();
    for (;;) {
      std::unique_ptr<Block> block;
      std::vector<char> wanted;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return stop_ || ready_.size() < kDepth; });
        if (stop_) break;
        if (!free_.empty()) {
          block = std::move(free_.back());
          free_.pop_back();
        }
        wanted = wanted_;
      }
      if (!block) block = std::make_unique<Block>();
      block->lines.clear();
      block->error = nullptr;
      try {
        block->spans.resize(kBlockRows * columns);
        block->lines.reserve(kBlockRows);
        for (std::size_t r = 0; r < kBlockRows && reader_.NextInto(block->spans.data() + r * columns); ++r)
          block->lines.push_back(reader_.record_line());
      } catch (...) {
        block->error = std::current_exception();
      }
      block->end_offset = reader_.offset();
      const std::size_t rows = block->lines.size();
      block->values.resize(rows * columns);
      block->converted.assign(columns, 0);
      for (std::size_t c = 0; c < columns && !block->error; ++c) {
        if (!wanted[c]) continue;
        try {
          for (std::size_t r = 0, i = c; r < rows; ++r, i += columns)
            reader_.ConvertInto(block->values[i], block->spans[i], c, block->lines[r]);
          block->converted[c] = 1;
        } catch (...) {
          // Left to the reader, whose conversion reports it.
        }
      }
      const bool last = rows == 0 || block->error;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (rows > 0 || block->error) ready_.push_back(std::move(block));
        finished_ = last;
      }
      changed_.notify_all();
      if (last) break;
    }
  }

  CsvRecordReader reader_;  // used by the worker only
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Block>> ready_;
  std::vector<std::unique_ptr<Block>> free_;
  std::vector<char> wanted_;
  bool stop_ = false;
  bool finished_ = false;
  std::exception_ptr failure_;
  std::thread worker_;
};

class CsvStream : public RowStream {
 public:
  // Files with more data than this are read ahead on a second thread.
  static constexpr std::size_t kReadAheadAbove = std::size_t{8} << 20;

  CsvStream(std::shared_ptr<const MappedFile> file, const CsvLayout& layout, std::string display_name)
      : reader_(file, layout, display_name), file_bytes_(file->bytes().size()), read_offset_(layout.data_offset) {
    if (file->bytes().size() - layout.data_offset > kReadAheadAbove) {
      try {
        ahead_ = std::make_unique<ReadAhead>(file, layout, display_name);
      } catch (const std::system_error&) {
        // No thread to be had: the blocks are read when asked for.
      }
    }
  }

  const std::vector<FieldInfo>& Schema() const override { return reader_.fields(); }

  std::size_t Fetch(std::vector<Value>& cells, std::size_t max_rows) override {
    const std::size_t columns = reader_.fields().size();
    if (cells.empty()) cells.reserve(max_rows * columns);
    std::size_t got = 0;
    while (got < max_rows && reader_.Next(spans_)) {
      for (std::size_t c = 0; c < columns; ++c) cells.push_back(reader_.Convert(spans_[c], c));
      ++got;
    }
    read_offset_ = got > 0 ? reader_.offset() : file_bytes_;
    return got;
  }

  // Streamed blocks keep their cells as spans into the file; a column becomes
  // values only when a reader looks at it, by the same conversion as Fetch's.
  bool DefersConversion() const override { return true; }

  std::size_t FetchDeferred(std::vector<Value>& cells, std::size_t max_rows, std::vector<char>& pending) override {
    const std::size_t columns = reader_.fields().size();
    if (ahead_) {
      if (block_) cells.swap(block_->values);  // the values go back with their block
      block_ = ahead_->Next(std::move(block_));
      if (!block_) {
        cells.clear();
        read_offset_ = file_bytes_;
        return 0;
      }
      if (block_->error) std::rethrow_exception(block_->error);
      read_offset_ = block_->end_offset;
      cells.swap(block_->values);
      for (std::size_t c = 0; c < columns; ++c)
        if (block_->converted[c]) pending[c] = 0;
      return block_->lines.size();
    }
    if (!block_) block_ = std::make_unique<ReadAhead::Block>();
    block_->lines.clear();
    block_->spans.resize(max_rows * columns);
    std::size_t got = 0;
    while (got < max_rows && reader_.NextInto(block_->spans.data() + got * columns)) {
      block_->lines.push_back(reader_.record_line());
      ++got;
    }
    read_offset_ = got > 0 ? reader_.offset() : file_bytes_;
    cells.resize(got * columns);
    return got;
  }

  // The bytes up to the end of the last record handed out, of the file's.
  std::optional<double> ReadShare() const override {
    if (file_bytes_ == 0) return 1.0;
    return static_cast<double>(read_offset_) / static_cast<double>(file_bytes_);
  }

  void ConvertColumn(std::vector<Value>& cells, std::size_t column) override {
    if (!block_) return;
    if (ahead_) ahead_->Want(column);
    const std::size_t columns = reader_.fields().size();
    for (std::size_t r = 0, i = column; r < block_->lines.size(); ++r, i += columns)
      reader_.ConvertInto(cells[i], block_->spans[i], column, block_->lines[r]);
  }

 private:
  CsvRecordReader reader_;  // reads the file itself without read-ahead; converts the reader's cells
  std::vector<CellSpan> spans_;
  std::unique_ptr<ReadAhead::Block> block_;  // the current block's cells (its values are the caller's)
  std::unique_ptr<ReadAhead> ahead_;
  std::size_t file_bytes_;   // the file's size
  std::size_t read_offset_;  // where the records handed out so far end
};

// A whole file read column by column (see qeldata/column_scan.h): blocks of
// records split into cells by one reader, each column of a block read on its
// own. No type scan: the caller learns the types from the cells.
class CsvColumnScan final : public ColumnScan {
 public:
  CsvColumnScan(std::shared_ptr<const MappedFile> file, CsvLayout layout, std::string display_name)
      : layout_(std::move(layout)),
        display_name_(std::move(display_name)),
        reader_(file, layout_, display_name_),
        file_bytes_(file->bytes().size()),
        limit_(file->bytes().data() + file->bytes().size()) {
    for (const FieldInfo& f : layout_.fields) names_.push_back(f.name);
  }

  const std::vector<std::string>& FieldNames() const override { return names_; }
  const std::string& DisplayName() const override { return display_name_; }

  std::unique_ptr<Block> NewBlock(std::size_t rows) const override {
    auto block = std::make_unique<SpanBlock>();
    block->capacity = std::max<std::size_t>(rows, 1);
    block->spans.resize(block->capacity * names_.size());
    return block;
  }

  std::size_t Read(Block& block) override {
    SpanBlock& b = static_cast<SpanBlock&>(block);
    std::size_t got = 0;
    b.Set(0, 1.0);
    while (got < b.capacity && reader_.NextInto(b.spans.data() + got, b.capacity)) ++got;
    const double share =
        got == 0 || file_bytes_ == 0 ? 1.0 : static_cast<double>(reader_.offset()) / static_cast<double>(file_bytes_);
    b.Set(got, share);
    return got;
  }

  void Numbers(const Block& block, std::size_t column, NumberCells& out) const override {
    const SpanBlock& b = static_cast<const SpanBlock&>(block);
    ReadNumberCells(b.Column(column), layout_.options, limit_, out);
  }

  void Texts(const Block& block, std::size_t column, TextCells& out) const override {
    const SpanBlock& b = static_cast<const SpanBlock&>(block);
    ReadTextCells(b.Column(column), layout_.options, out);
  }

 private:
  struct SpanBlock final : Block {
    std::vector<CellSpan> spans;  // column after column, `capacity` cells each
    std::size_t capacity = 0;     // rows
    std::span<const CellSpan> Column(std::size_t column) const { return {spans.data() + column * capacity, rows_}; }
    void Set(std::size_t rows, double share) {
      rows_ = rows;
      share_ = share;
    }
  };

  CsvLayout layout_;
  std::string display_name_;
  std::vector<std::string> names_;
  CsvRecordReader reader_;
  std::size_t file_bytes_;
  const char* limit_;  // the end of the file's bytes
};

const char* SqlTypeOf(int type) {
  switch (type) {
    case adInteger: return "INTEGER";
    case adBigInt: return "BIGINT";
    case adDouble: return "REAL";
    case adDate: return "DATETIME";
    default: return "TEXT";
  }
}

void Exec(sqlite3* db, const std::string& sql, const std::string& context) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    throw Failure(kErrProvider, context + ": " + text);
  }
}

// Copies a file into table `table` of `db`, with the inferred column types.
void LoadTable(sqlite3* db, const std::string& table, std::shared_ptr<const MappedFile> file, const CsvLayout& layout,
               const std::string& display_name) {
  std::string create = "CREATE TABLE " + DelimitedIdentifier(table) + " (";
  std::string insert = "INSERT INTO " + DelimitedIdentifier(table) + " VALUES (";
  for (std::size_t i = 0; i < layout.fields.size(); ++i) {
    create += (i ? ", " : "") + DelimitedIdentifier(layout.fields[i].name) + " " + SqlTypeOf(layout.fields[i].type);
    insert += i ? ", ?" : "?";
  }
  Exec(db, create + ")", display_name);
  Exec(db, "BEGIN", display_name);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &stmt, nullptr) != SQLITE_OK)
    throw Failure(kErrProvider, display_name + ": " + sqlite3_errmsg(db));
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(stmt, sqlite3_finalize);

  CsvRecordReader reader(std::move(file), layout, display_name);
  std::vector<CellSpan> spans;
  std::string scratch;
  while (reader.Next(spans)) {
    for (std::size_t c = 0; c < spans.size(); ++c) {
      const int slot = static_cast<int>(c) + 1;
      switch (layout.fields[c].type) {
        case adInteger:
        case adBigInt:
        case adDouble: {
          const auto n = reader.ConvertNumber(spans[c], c);
          if (!n) sqlite3_bind_null(stmt, slot);
          else if (n->is_integer && layout.fields[c].type != adDouble) sqlite3_bind_int64(stmt, slot, n->integer);
          else sqlite3_bind_double(stmt, slot, n->value);
          break;
        }
        case adDate: {
          const auto d = reader.ConvertDate(spans[c], c);
          if (!d) sqlite3_bind_null(stmt, slot);
          else sqlite3_bind_text(stmt, slot, d->ToText().c_str(), -1, SQLITE_TRANSIENT);
          break;
        }
        default: {
          const std::string_view text = CellText(spans[c], scratch);
          if (reader.IsNull(text)) sqlite3_bind_null(stmt, slot);
          else sqlite3_bind_text(stmt, slot, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        }
      }
    }
    if (sqlite3_step(stmt) != SQLITE_DONE)
      throw Failure(kErrProvider, display_name + ": " + sqlite3_errmsg(db));
    sqlite3_reset(stmt);
  }
  Exec(db, "COMMIT", display_name);
}

// The reading keys of a connection string (see the top of this file).
// Throws Error (kErrInvalidArgument) naming the key for a value it cannot use.
CsvOptions ReadingOptions(const ConnectionString& cs) {
  CsvOptions options;
  auto bad = [](const std::string& key, const std::string& value, const std::string& expected) {
    return Failure(kErrInvalidArgument, "the connection string's " + key + "=" + value + " is not " + expected);
  };
  // One character, or its name.
  auto character = [&](const std::string& key, const std::string& value, const char* expected) -> char {
    static const std::pair<const char*, char> kNames[] = {
        {"comma", ','}, {"semicolon", ';'}, {"tab", '\t'}, {"\\t", '\t'}, {"pipe", '|'}, {"space", ' '}};
    for (const auto& [name, c] : kNames)
      if (EqualsNoCase(value, name)) return c;
    const unsigned char c = value.size() == 1 ? static_cast<unsigned char>(value[0]) : 0;
    if (c == '\t' || (c >= 0x20 && c < 0x7F && !std::isalnum(c) && c != '"')) return static_cast<char>(c);
    throw bad(key, value, expected);
  };
  if (const auto v = cs.Get("Delimiter"))
    options.delimiter =
        character("Delimiter", *v, "one character other than a letter, digit or quote (or comma, semicolon, tab, pipe); "
                                   "write a semicolon as Delimiter={;}");
  if (const auto v = cs.Get("NA")) {
    std::string_view rest = *v;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      const std::string_view token = Trim(rest.substr(0, comma));
      if (!token.empty()) options.na_tokens.emplace_back(token);
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
  }
  if (const auto v = cs.Get("DecimalSeparator")) {
    if (*v != "." && *v != ",") throw bad("DecimalSeparator", *v, "'.' or ','");
    options.decimal = (*v)[0];
  }
  if (const auto v = cs.Get("ThousandsSeparator")) {
    if (!v->empty()) options.thousands = character("ThousandsSeparator", *v, "one character such as ',' '.' or a blank");
    if (options.thousands == '+' || options.thousands == '-')
      throw bad("ThousandsSeparator", *v, "one character such as ',' '.' or a blank");
  }
  if (options.thousands != 0 && options.thousands == options.decimal)
    throw Failure(kErrInvalidArgument, std::string("the thousands separator and the decimal separator are both '") +
                                           options.decimal + "'");
  if (const auto v = cs.Get("Header")) {
    if (EqualsNoCase(*v, "yes") || EqualsNoCase(*v, "true") || *v == "1") options.header = true;
    else if (EqualsNoCase(*v, "no") || EqualsNoCase(*v, "false") || *v == "0") options.header = false;
    else throw bad("Header", *v, "Yes or No");
  }
  return options;
}

class TextProvider : public Provider {
 public:
  TextProvider(fs::path folder, std::string folder_text, CsvOptions options)
      : folder_(std::move(folder)), folder_text_(std::move(folder_text)), options_(std::move(options)) {}

  std::unique_ptr<RowStream> Open(std::string_view source, bool /*streaming*/) override {
    const SourceSpec classified = ClassifySource(source);
    if (classified.whole_file) {
      const fs::path path = Resolve(classified.table, true);
      auto file = std::make_shared<const MappedFile>(path.string(), classified.table);
      const CsvLayout& layout = LayoutOf(path.string(), *file, classified.table);
      return std::make_unique<CsvStream>(std::move(file), layout, classified.table);
    }
    return OpenQuery(Trim(source));
  }

  std::unique_ptr<ColumnScan> OpenColumns(std::string_view source) override {
    if (!options_.PlainNumbers()) return nullptr;
    const SourceSpec classified = ClassifySource(source);
    if (!classified.whole_file) return nullptr;
    const fs::path path = Resolve(classified.table, true);
    auto file = std::make_shared<const MappedFile>(path.string(), classified.table);
    CsvLayout layout = ReadCsvHeader(file->bytes(), classified.table, file.get(), options_);
    return std::make_unique<CsvColumnScan>(std::move(file), std::move(layout), classified.table);
  }

  std::string DisplayName(std::string_view source) const override {
    try {
      const SourceSpec classified = ClassifySource(source);
      return classified.whole_file ? classified.table : OneLine(Trim(source));
    } catch (const Error&) {
      return std::string(source);
    }
  }

 private:
  // The file a table name stands for, inside the folder. Names that would
  // leave the folder (absolute paths, "..", symbolic links pointing out) are
  // refused. With `must_exist` false a missing file gives an empty path.
  fs::path Resolve(const std::string& name, bool must_exist) const {
    const fs::path relative(name);
    const bool climbs = std::any_of(relative.begin(), relative.end(), [](const fs::path& p) { return p == ".."; });
    if (relative.is_absolute() || climbs || name.empty())
      throw Failure(kErrInvalidArgument, "the table name '" + name + "' is not a file inside the folder " + folder_text_);
    std::error_code ec;
    fs::path full = folder_ / relative;
    if (!fs::exists(full, ec)) {
      // "BaseBall#csv" names BaseBall.csv where a '.' cannot be written.
      const auto hash = name.rfind('#');
      std::string dotted = name;
      if (hash != std::string::npos) dotted[hash] = '.';
      fs::path alternative = hash == std::string::npos ? fs::path() : folder_ / fs::path(dotted);
      if (!alternative.empty() && fs::exists(alternative, ec)) {
        full = alternative;
      } else if (must_exist) {
        throw Failure(kErrProvider, "cannot open file '" + name + "' in folder " + folder_text_ + ": no such file");
      } else {
        return {};
      }
    }
    const fs::path real = fs::canonical(full, ec);
    if (ec) throw Failure(kErrProvider, "cannot open file '" + name + "': " + ec.message());
    const auto [folder_end, real_it] = std::mismatch(folder_.begin(), folder_.end(), real.begin(), real.end());
    if (folder_end != folder_.end() || real == folder_)
      throw Failure(kErrInvalidArgument, "the table name '" + name + "' leads outside the folder " + folder_text_);
    if (!fs::is_regular_file(real, ec))
      throw Failure(kErrProvider, "cannot open file '" + name + "' in folder " + folder_text_ + ": not a file");
    return real;
  }

  // The inferred layout of a file, scanned once per version of the file (a
  // forward-only recordset that moves back to its first record reopens it).
  const CsvLayout& LayoutOf(const std::string& path, const MappedFile& file, const std::string& display_name) {
    auto it = layouts_.find(path);
    if (it != layouts_.end() && it->second.mtime_ns == file.mtime_ns() && it->second.size == file.bytes().size())
      return it->second.layout;
    CachedLayout cached{file.mtime_ns(), file.bytes().size(),
                        InferCsvLayout(file.bytes(), display_name, &file, options_)};
    return layouts_.insert_or_assign(path, std::move(cached)).first->second.layout;
  }

  std::unique_ptr<RowStream> OpenQuery(std::string_view sql) {
    const auto tokens = LexSql(sql);
    if (!tokens) throw Failure(kErrProvider, "the SQL text has an unclosed quote or bracket: " + std::string(sql));
    SqliteHandle db = OpenSqlite("", "(memory)");
    // Each file the query reads becomes a table named as the query names it;
    // the query gets those names quoted so that "BaseBall.csv" is one name.
    std::string rewritten;
    std::size_t copied = 0;
    // SQL table names ignore case, file names do not: "A.csv" and "a.csv" are
    // two files but one table name, so a query that names both is refused.
    std::map<std::string, std::pair<std::string, fs::path>> loaded;  // lower-cased name -> name, file
    const std::vector<std::size_t> tables = TableTokens(*tokens);
    for (std::size_t index = 0; index < tokens->size(); ++index) {
      const SqlToken& token = (*tokens)[index];
      const std::string& name = token.text;
      if (std::find(tables.begin(), tables.end(), index) == tables.end()) {
        // SQLite's [...] has no escape for ']': a bracketed name holding one
        // ("[a]]b]") goes to it in backquotes, where `` is the escape.
        if (token.kind == SqlToken::kQuotedName && sql[token.begin] == '[' &&
            name.find(']') != std::string::npos) {
          rewritten.append(sql.substr(copied, token.begin - copied));
          rewritten += '`';
          for (char c : name) rewritten += c == '`' ? std::string("``") : std::string(1, c);
          rewritten += '`';
          copied = token.end;
        }
        continue;
      }
      const bool looks_like_file = name.find('.') != std::string::npos || name.find('/') != std::string::npos;
      const fs::path path = Resolve(name, looks_like_file);
      if (path.empty()) continue;  // a name of the query itself (a WITH table): SQLite knows it
      const auto [it, fresh] = loaded.try_emplace(Lower(name), name, path);
      if (fresh) {
        auto file = std::make_shared<const MappedFile>(path.string(), name);
        LoadTable(db.get(), name, file, LayoutOf(path.string(), *file, name), name);
      } else if (it->second.second != path) {
        throw Failure(kErrInvalidArgument, "the query names both '" + it->second.first + "' and '" + name +
                                               "', two files whose names differ only in case; SQL table names "
                                               "ignore case, so query them separately");
      }
      rewritten.append(sql.substr(copied, token.begin - copied));
      rewritten += DelimitedIdentifier(name);
      copied = token.end;
    }
    rewritten.append(sql.substr(copied));
    AllowOnlyReading(db.get());
    return OpenSqliteQuery(std::move(db), rewritten, std::string(sql));
  }

  struct CachedLayout {
    std::int64_t mtime_ns;
    std::size_t size;
    CsvLayout layout;
  };

  fs::path folder_;          // canonical
  std::string folder_text_;  // as the connection string gives it
  CsvOptions options_;
  std::map<std::string, CachedLayout> layouts_;
};

}  // namespace

std::unique_ptr<Provider> MakeTextProvider(const ConnectionString& cs) {
  auto folder = cs.Get("DBQ");
  if (!folder || folder->empty()) folder = cs.Get("DefaultDir");
  if (!folder || folder->empty())
    throw Failure(kErrInvalidArgument, "the connection string names no folder (DBQ=...)");
  std::error_code ec;
  if (!fs::is_directory(*folder, ec))
    throw Failure(kErrProvider, "cannot open folder " + *folder + (fs::exists(*folder, ec) ? ": not a folder" : ": no such folder"));
  const fs::path canonical = fs::canonical(*folder, ec);
  if (ec) throw Failure(kErrProvider, "cannot open folder " + *folder + ": " + ec.message());
  return std::make_unique<TextProvider>(canonical, *folder, ReadingOptions(cs));
}

}  // namespace qeldata::detail
