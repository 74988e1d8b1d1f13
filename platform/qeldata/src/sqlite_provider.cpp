// The SQLite provider (Driver=SQLite3;Database=<file>), and the query stream
// that SQL over CSV files shares with it.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

#include "csv.h"
#include "provider.h"
#include "sqlite_query.h"

namespace qeldata::detail {

namespace {

constexpr const char* kSource = "qeldata.sqlite";

// Errors quote SQL text, names and values; the description stays one line.
Error Failure(std::int32_t number, const std::string& description) {
  return Error(number, kSource, OneLine(description));
}


bool Contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

int DenyAllButReading(void*, int action, const char*, const char*, const char*, const char*) {
  switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
    case SQLITE_PRAGMA:
      return SQLITE_OK;
    default:
      return SQLITE_DENY;
  }
}

// What a column's values are read as.
enum class ValueClass { kNumber, kText, kDate, kBoolean, kBinary };

ValueClass ClassOf(int type) {
  switch (type) {
    case adDate: return ValueClass::kDate;
    case adBoolean: return ValueClass::kBoolean;
    case adBinary:
    case adVarBinary:
    case adLongVarBinary: return ValueClass::kBinary;
    default: return IsTextType(type) ? ValueClass::kText : ValueClass::kNumber;
  }
}

int TypeFromStorage(int storage) {
  switch (storage) {
    case SQLITE_INTEGER: return adBigInt;  // SQLite integers are 64-bit
    case SQLITE_FLOAT: return adDouble;
    case SQLITE_BLOB: return adLongVarBinary;
    default: return adVarWChar;
  }
}

const char* StorageName(int storage) {
  switch (storage) {
    case SQLITE_INTEGER: return "an integer";
    case SQLITE_FLOAT: return "a real number";
    case SQLITE_BLOB: return "a binary value";
    default: return "a text";
  }
}

// True when the file's header marks a database in WAL mode (read and write
// format versions 2).
bool IsWalDatabase(const std::string& path) {
  unsigned char header[20] = {};
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  const std::size_t got = std::fread(header, 1, sizeof header, f);
  std::fclose(f);
  return got == sizeof header && std::memcmp(header, "SQLite format 3", 16) == 0 && header[18] == 2 &&
         header[19] == 2;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// A "file:" address that opens `path` as a file nothing writes to while it is
// read.
std::string ImmutableUri(const std::string& path) { return FileUri(path) + "?immutable=1"; }

class SqliteStream : public RowStream {
 public:
  SqliteStream(SqliteHandle db, StatementHandle stmt, std::string where, const std::vector<int>& types)
      : db_(std::move(db)), owned_stmt_(std::move(stmt)), stmt_(owned_stmt_.get()), where_(std::move(where)) {
    const int columns = sqlite3_column_count(stmt_);
    std::vector<int> undetermined;
    for (int i = 0; i < columns; ++i) {
      FieldInfo f;
      const char* name = sqlite3_column_name(stmt_, i);
      f.name = name ? name : "";
      const char* declared = sqlite3_column_decltype(stmt_, i);
      f.type = declared ? TypeFromDeclaration(declared, &f.defined_size) : adEmpty;
      if (f.type == adEmpty && static_cast<std::size_t>(i) < types.size()) f.type = types[static_cast<std::size_t>(i)];
      f.attributes = adFldIsNullable | adFldMayBeNull;
      if (f.type == adEmpty) undetermined.push_back(i);
      fields_.push_back(std::move(f));
    }
    if (!undetermined.empty()) ProbeStoredTypes(undetermined);
    for (const auto& f : fields_) classes_.push_back(ClassOf(f.type));
  }

  const std::vector<FieldInfo>& Schema() const override { return fields_; }

  std::size_t Fetch(std::vector<Value>& cells, std::size_t max_rows) override {
    std::size_t got = 0;
    while (!done_ && got < max_rows) {
      const int rc = sqlite3_step(stmt_);
      if (rc == SQLITE_DONE) {
        done_ = true;
        break;
      }
      if (rc != SQLITE_ROW) throw Failure(kErrProvider, where_ + ": " + sqlite3_errmsg(db_.get()));
      ++row_;
      for (int i = 0; i < static_cast<int>(fields_.size()); ++i) cells.push_back(Read(i));
      ++got;
    }
    return got;
  }

 private:
  // Expression columns have no declared type: run the statement once more
  // and take the stored type of each one's first non-null value.
  void ProbeStoredTypes(std::vector<int> open) {
    sqlite3_stmt* raw = nullptr;
    const int prepared = sqlite3_prepare_v2(db_.get(), sqlite3_sql(stmt_), -1, &raw, nullptr);
    const StatementHandle probe(raw);
    if (prepared != SQLITE_OK) throw Failure(kErrProvider, where_ + ": " + sqlite3_errmsg(db_.get()));
    int rc = SQLITE_DONE;
    while (!open.empty() && (rc = sqlite3_step(probe.get())) == SQLITE_ROW) {
      std::erase_if(open, [&](int i) {
        const int storage = sqlite3_column_type(probe.get(), i);
        if (storage == SQLITE_NULL) return false;
        fields_[i].type = TypeFromStorage(storage);
        return true;
      });
    }
    if (!open.empty() && rc != SQLITE_DONE) throw Failure(kErrProvider, where_ + ": " + sqlite3_errmsg(db_.get()));
    for (int i : open) fields_[i].type = adVarWChar;  // nothing but nulls
  }

  [[noreturn]] void Mismatch(int i, int storage, const std::string& shown) const {
    throw Failure(kErrDataConversion, where_ + ", row " + std::to_string(row_) + ", field '" + fields_[i].name + "': " +
                    StorageName(storage) + (shown.empty() ? "" : " ('" + shown + "')") +
                    " does not fit the column's type (" + std::to_string(fields_[i].type) + ")");
  }

  std::string TextOf(int i) const {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
    return t ? std::string(t, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i))) : std::string();
  }

  Value Read(int i) const {
    const int storage = sqlite3_column_type(stmt_, i);
    if (storage == SQLITE_NULL) return Value();
    switch (classes_[i]) {
      case ValueClass::kNumber:
        if (storage == SQLITE_INTEGER) {
          const sqlite3_int64 v = sqlite3_column_int64(stmt_, i);
          // Integers below 1e15 have at most 15 digits: their own canonical value.
          constexpr sqlite3_int64 kCanonical = 999999999999999;
          if (v >= -kCanonical && v <= kCanonical) return Value::CanonicalNumber(static_cast<double>(v));
          return Value(static_cast<double>(v));
        }
        if (storage == SQLITE_FLOAT) return Value(sqlite3_column_double(stmt_, i));
        if (storage == SQLITE_TEXT) {
          const std::string text = TextOf(i);
          if (auto n = ParseNumber(text)) return Value(*n);
          Mismatch(i, storage, text.substr(0, 60));
        }
        Mismatch(i, storage, "");
      case ValueClass::kText:
        if (storage == SQLITE_BLOB) return BlobText(i);
        return Value(TextOf(i));  // numbers in SQLite's own text form
      case ValueClass::kDate:
        if (storage == SQLITE_TEXT) {
          const std::string text = TextOf(i);
          if (auto d = Date::Parse(text)) return Value(*d);
          Mismatch(i, storage, text.substr(0, 60));
        }
        Mismatch(i, storage, storage == SQLITE_BLOB ? "" : TextOf(i));
      case ValueClass::kBoolean:
        if (storage == SQLITE_INTEGER) return Value::Boolean(sqlite3_column_int64(stmt_, i) != 0);
        if (storage == SQLITE_TEXT) {
          const std::string text = Upper(TextOf(i));
          if (text == "TRUE" || text == "1") return Value::Boolean(true);
          if (text == "FALSE" || text == "0") return Value::Boolean(false);
        }
        Mismatch(i, storage, storage == SQLITE_BLOB ? "" : TextOf(i).substr(0, 60));
      case ValueClass::kBinary:
        if (storage == SQLITE_BLOB) return BlobText(i);
        return Value(TextOf(i));
    }
    return Value();
  }

  // Values have no binary kind: a blob reads as its bytes in hexadecimal
  // ("0x00FF"), which keeps every byte and is no number.
  Value BlobText(int i) const {
    static const char kHex[] = "0123456789ABCDEF";
    const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(stmt_, i));
    const int size = sqlite3_column_bytes(stmt_, i);
    std::string text = "0x";
    text.reserve(2 + 2 * static_cast<std::size_t>(size));
    for (int k = 0; k < size; ++k) {
      text.push_back(kHex[bytes[k] >> 4]);
      text.push_back(kHex[bytes[k] & 15]);
    }
    return Value(std::move(text));
  }

  SqliteHandle db_;
  StatementHandle owned_stmt_;  // finalised before the connection is let go
  sqlite3_stmt* stmt_;
  std::string where_;
  std::vector<FieldInfo> fields_;
  std::vector<ValueClass> classes_;
  std::int64_t row_ = 0;
  bool done_ = false;
};

// SQLite runs in this process, and its GROUP BY sorts every record: grouping
// by hashing as the records are stepped is several times faster, so the
// query selects the fields and the reader groups.
class SqliteAggregateSession final : public AggregateSession {
 public:
  SqliteAggregateSession(SqliteHandle db, std::string sql, std::string display_name, std::vector<FieldInfo> schema)
      : db_(std::move(db)), display_name_(std::move(display_name)), schema_(std::move(schema)) {
    // The statement up to its end: a trailing ';' (all OpenSqliteQuery lets
    // follow it) would end the subquery it becomes.
    std::string_view text = Trim(sql);
    if (!text.empty() && text.back() == ';') text = Trim(text.substr(0, text.size() - 1));
    statement_ = std::string(text);
  }
  const std::vector<FieldInfo>& Schema() const override { return schema_; }
  const std::string& Statement() const override { return statement_; }
  std::string QuoteIdentifier(std::string_view name) const override { return DelimitedIdentifier(name); }
  bool GroupsInDatabase() const override { return false; }
  std::unique_ptr<RowStream> Query(const std::string& sql, const std::vector<int>& types) override {
    return OpenSqliteQuery(db_, sql, display_name_, types);
  }

 private:
  SqliteHandle db_;
  std::string display_name_;
  std::vector<FieldInfo> schema_;
  std::string statement_;
};

class SqliteProvider : public Provider {
 public:
  SqliteProvider(std::string path) : path_(std::move(path)) {
    file_name_ = std::filesystem::path(path_).filename().string();
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec))
      throw Failure(kErrProvider, "cannot open database " + path_ + ": no such file");
    if (std::filesystem::is_directory(path_, ec))
      throw Failure(kErrProvider, "cannot open database " + path_ + ": it is a folder");
  }

  std::string DisplayName(std::string_view source) const override { return OneLine(Trim(source)); }

  std::unique_ptr<RowStream> Open(std::string_view source, bool /*streaming*/) override {
    const Statement s = StatementFor(source);
    return OpenSqliteQuery(db_, s.sql, s.display_name);
  }

  std::unique_ptr<AggregateSession> OpenAggregate(std::string_view source) override {
    Statement s = StatementFor(source);
    // Preparing the statement checks it (one statement, reading only) and
    // describes its fields; nothing is stepped unless a field's type must be
    // probed, as for a Recordset.
    const std::vector<FieldInfo> schema = OpenSqliteQuery(db_, s.sql, s.display_name)->Schema();
    return std::make_unique<SqliteAggregateSession>(db_, std::move(s.sql), std::move(s.display_name), schema);
  }

 private:
  struct Statement {
    std::string sql;
    std::string display_name;
  };

  // The one statement a source stands for: a table's (as the schema spells
  // its name) or the SQL text itself.
  Statement StatementFor(std::string_view source) {
    if (!db_) {
      db_ = OpenSqlite(path_, file_name_);
      AllowOnlyReading(db_.get());
    }
    const std::string_view text = Trim(source);
    if (text.empty()) throw Failure(kErrInvalidArgument, "no table name or SQL text to open in " + file_name_);
    if (auto table = FindTable(text))
      return {"SELECT * FROM " + DelimitedIdentifier(*table), file_name_ + " table '" + *table + "'"};
    if (LooksLikeSql(text)) return {std::string(text), file_name_};
    throw Failure(kErrProvider, "no such table: '" + std::string(Unbracketed(text)) + "' in " + file_name_);
  }

  static std::string_view Unbracketed(std::string_view text) {
    if (text.size() >= 2 && ((text.front() == '[' && text.back() == ']') ||
                             (text.front() == '"' && text.back() == '"') ||
                             (text.front() == '`' && text.back() == '`')))
      return text.substr(1, text.size() - 2);
    return text;
  }

  static bool LooksLikeSql(std::string_view text) {
    std::size_t n = 0;
    while (n < text.size() && std::isalpha(static_cast<unsigned char>(text[n]))) ++n;
    const std::string word = Upper(text.substr(0, n));
    return n < text.size() && (word == "SELECT" || word == "WITH" || word == "VALUES" || word == "PRAGMA");
  }

  // The table or view `text` names, as the schema spells it.
  std::optional<std::string> FindTable(std::string_view text) {
    const std::string name(Unbracketed(text));
    sqlite3_stmt* raw = nullptr;
    const char* sql =
        "SELECT name FROM sqlite_schema WHERE type IN ('table','view') AND name = ?1 COLLATE NOCASE";
    const int prepared = sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr);
    const StatementHandle stmt(raw);
    if (prepared != SQLITE_OK) throw Failure(kErrProvider, file_name_ + ": " + sqlite3_errmsg(db_.get()));
    sqlite3_bind_text(stmt.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    std::optional<std::string> found;
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_ROW) found = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw Failure(kErrProvider, file_name_ + ": " + sqlite3_errmsg(db_.get()));
    return found;
  }

  std::string path_;
  std::string file_name_;
  SqliteHandle db_;
};

}  // namespace

std::string FileUri(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = !path.empty() && path.front() == '/' ? "file://" : "file:";
  for (const unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      uri.push_back(static_cast<char>(c));
    } else {
      uri.push_back('%');
      uri.push_back(kHex[c >> 4]);
      uri.push_back(kHex[c & 15]);
    }
  }
  return uri;
}

SqliteHandle OpenSqlite(const std::string& path, const std::string& display_name) {
  sqlite3* raw = nullptr;
  int flags = path.empty() ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MEMORY : SQLITE_OPEN_READONLY;
  std::string name = path.empty() ? ":memory:" : path;
  // A database in WAL mode keeps its latest commits in "<file>-wal", indexed
  // by "<file>-shm". Opened as usual, a reader creates both beside the file
  // (and leaves them there: only a writer removes them), or fails where it
  // may not create files. With neither beside it, no connection has the
  // database open and everything committed is in the file itself: read it
  // as an unchanging file, which needs no log, no index and no locks. With a
  // log beside it, the log holds commits the file does not have yet: read
  // through it, in SQLite's read-only WAL mode (the index is used, never
  // rebuilt, when it cannot be written).
  if (!path.empty() && IsWalDatabase(path) && !Exists(path + "-wal") && !Exists(path + "-shm")) {
    name = ImmutableUri(path);
    flags |= SQLITE_OPEN_URI;
  }
  const int rc = sqlite3_open_v2(name.c_str(), &raw, flags, nullptr);
  SqliteHandle db(raw, [](sqlite3* p) { sqlite3_close_v2(p); });
  if (rc != SQLITE_OK)
    throw Failure(kErrProvider, "cannot open database " + display_name + ": " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, 5000);
  return db;
}

void AllowOnlyReading(sqlite3* db) { sqlite3_set_authorizer(db, DenyAllButReading, nullptr); }

int TypeFromDeclaration(const std::string& declared, int* defined_size) {
  const std::string d = Upper(declared);
  int size = 0;
  if (const auto open = d.find('('); open != std::string::npos) size = std::atoi(d.c_str() + open + 1);
  int type = adEmpty;
  if (Contains(d, "BOOL")) type = adBoolean;
  else if (Contains(d, "DATE") || Contains(d, "TIME")) type = adDate;
  else if (Contains(d, "INT")) {
    if (Contains(d, "BIG") || Contains(d, "INT8")) type = adBigInt;
    else if (Contains(d, "SMALL")) type = adSmallInt;
    else if (Contains(d, "TINY")) type = adTinyInt;
    else type = adInteger;
  } else if (Contains(d, "CLOB") || Contains(d, "LONG") || Contains(d, "MEDIUMTEXT")) type = adLongVarWChar;
  else if (Contains(d, "CHAR") || Contains(d, "TEXT") || Contains(d, "STRING")) type = adVarWChar;
  else if (Contains(d, "BLOB") || Contains(d, "BINARY")) type = adLongVarBinary;
  else if (Contains(d, "REAL") || Contains(d, "FLOA") || Contains(d, "DOUB")) type = adDouble;
  else if (Contains(d, "NUMERIC") || Contains(d, "DECIMAL") || Contains(d, "NUMBER")) type = adNumeric;
  // Anything else ("JSON", "ANY") says nothing dependable: the stored values decide.
  if (defined_size) {
    switch (type) {
      case adInteger: *defined_size = 4; break;
      case adSmallInt: *defined_size = 2; break;
      case adTinyInt: *defined_size = 1; break;
      case adBoolean: *defined_size = 2; break;
      case adVarWChar: *defined_size = size > 0 ? size : 255; break;
      case adLongVarWChar:
      case adLongVarBinary: *defined_size = std::numeric_limits<int>::max(); break;
      default: *defined_size = 8; break;
    }
  }
  return type;
}

std::unique_ptr<RowStream> OpenSqliteQuery(SqliteHandle db, const std::string& sql, const std::string& display_name,
                                           const std::vector<int>& types) {
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  const int prepared = sqlite3_prepare_v2(db.get(), sql.c_str(), static_cast<int>(sql.size()), &raw, &tail);
  StatementHandle stmt(raw);
  if (prepared != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db.get());
    if (message == "not authorized") message = "only statements that read data can be opened here";
    throw Failure(kErrProvider, display_name + ": " + message);
  }
  auto fail = [&](const std::string& what) { throw Failure(kErrProvider, display_name + ": " + what); };
  if (!stmt) fail("the SQL text holds no statement");
  if (tail && !Trim(std::string_view(tail)).empty() && Trim(std::string_view(tail)) != ";")
    fail("the SQL text holds more than one statement");
  if (!sqlite3_stmt_readonly(stmt.get())) fail("only statements that read data can be opened here");
  return std::make_unique<SqliteStream>(std::move(db), std::move(stmt), display_name, types);
}

std::unique_ptr<Provider> MakeSqliteProvider(const ConnectionString& cs) {
  auto path = cs.Get("Database");
  if (!path || path->empty()) path = cs.Get("Data Source");
  if (!path || path->empty())
    throw Failure(kErrInvalidArgument, "the connection string names no database file (Database=...)");
  return std::make_unique<SqliteProvider>(*path);
}

}  // namespace qeldata::detail
