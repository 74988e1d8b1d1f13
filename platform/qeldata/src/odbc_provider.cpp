// The ODBC provider: every connection string the text and SQLite providers do
// not take reaches unixODBC's SQLDriverConnect as the caller wrote it.
//
// Rows come in row arrays (column-wise binding into typed buffers), so a
// forward-only read of a large table holds one block at a time. Texts travel
// as UTF-16 (SQL_C_WCHAR) and are handed on as UTF-8; a text longer than its
// bound buffer is read again in pieces with SQLGetData, never cut short.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "provider.h"
#include "sql_statements.h"

namespace qeldata::detail {

namespace {

constexpr const char* kSource = "qeldata";
// An unreachable server fails after this many seconds instead of hanging.
constexpr SQLULEN kLoginTimeoutSeconds = 5;
// Bound buffers of one row array stay below this many bytes.
constexpr std::size_t kRowArrayBudget = 16u << 20;
// Texts of unbounded or very wide columns are bound this wide (in UTF-16
// units); longer values are read in pieces.
constexpr std::size_t kDefaultTextUnits = 256;
constexpr std::size_t kMaxBoundTextUnits = 1024;

// ---- UTF-8 <-> UTF-16 ----

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Appends UTF-16 units as UTF-8. A surrogate split across two pieces of a
// long value is carried in `pending_high` to the next call; an unpaired
// surrogate becomes U+FFFD.
void AppendUtf16(std::string& out, const SQLWCHAR* units, std::size_t n, char16_t* pending_high = nullptr) {
  char16_t high = pending_high ? *pending_high : 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t u = static_cast<char16_t>(units[i]);
    if (high) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) + (u - 0xDC00));
        high = 0;
        continue;
      }
      AppendUtf8(out, 0xFFFD);
      high = 0;
    }
    if (u >= 0xD800 && u <= 0xDBFF) {
      high = u;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, u);
    }
  }
  if (pending_high) {
    *pending_high = high;
  } else if (high) {
    AppendUtf8(out, 0xFFFD);
  }
}

std::string FromUtf16(const SQLWCHAR* units, std::size_t n) {
  std::string out;
  out.reserve(n);
  AppendUtf16(out, units, n);
  return out;
}

std::vector<SQLWCHAR> ToUtf16(std::string_view s) {
  std::vector<SQLWCHAR> out;
  out.reserve(s.size() + 1);
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
    }
    if (len > 1) {
      if (i + len > s.size()) {
        len = 1;
      } else {
        cp = c & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
          const auto cc = static_cast<unsigned char>(s[i + k]);
          if ((cc & 0xC0) != 0x80) {
            cp = 0xFFFD;
            len = k;
            break;
          }
          cp = (cp << 6) | (cc & 0x3F);
        }
      }
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<SQLWCHAR>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<SQLWCHAR>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<SQLWCHAR>(cp));
    }
  }
  out.push_back(0);
  return out;
}


// ---- Handles and diagnostics ----

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The driver's diagnostics: "SQLSTATE message" for each record, the message
// word for word with its line breaks turned into spaces.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string text;
  for (SQLSMALLINT i = 1; i <= 20; ++i) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    std::vector<SQLWCHAR> message(1024);
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, message.data(),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.resize(static_cast<std::size_t>(length) + 1);
      rc = SQLGetDiagRecW(type, handle, i, state, &native, message.data(),
                          static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!Ok(rc)) break;
    const std::string raw = FromUtf16(message.data(), std::min<std::size_t>(static_cast<std::size_t>(length),
                                                                          message.size() - 1));
    // Drivers break long messages over lines; a description stays on one.
    std::string msg;
    for (std::size_t k = 0; k < raw.size(); ++k) {
      if (raw[k] != '\n' && raw[k] != '\r') {
        msg.push_back(raw[k]);
        continue;
      }
      while (!msg.empty() && (msg.back() == ' ' || msg.back() == '\t')) msg.pop_back();
      while (k + 1 < raw.size() && std::isspace(static_cast<unsigned char>(raw[k + 1]))) ++k;
      if (!msg.empty()) msg.push_back(' ');
    }
    while (!msg.empty() && std::isspace(static_cast<unsigned char>(msg.back()))) msg.pop_back();
    if (!text.empty()) text += "; ";
    text += FromUtf16(state, 5) + " " + msg;
  }
  return text;
}

[[noreturn]] void ThrowDiag(SQLSMALLINT type, SQLHANDLE handle, const std::string& what) {
  std::string diag = Diagnostics(type, handle);
  if (diag.empty()) diag = "the driver gave no diagnostics";
  throw Error(kErrProvider, kSource, what.empty() ? diag : what + ": " + diag);
}

struct EnvHandle {
  SQLHENV h = SQL_NULL_HENV;
  ~EnvHandle() {
    if (h != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, h);
  }
};

struct StmtHandle {
  SQLHSTMT h = SQL_NULL_HSTMT;
  ~StmtHandle() {
    if (h == SQL_NULL_HSTMT) return;
    SQLCloseCursor(h);
    SQLFreeHandle(SQL_HANDLE_STMT, h);
  }
};

// The option that makes a driver read a forward-only result as it goes: by
// default psqlODBC pulls the whole result into memory before the first row,
// and SQLite's ODBC driver builds the whole table first. Empty when the driver
// needs none or the caller chose otherwise.
std::string StreamingOption(std::string_view driver, const ConnectionString& cs) {
  if ((ContainsNoCase(driver, "postgres") || ContainsNoCase(driver, "psqlodbc")) && !cs.Get("UseDeclareFetch"))
    return "UseDeclareFetch=1;Fetch=" + std::to_string(kBlockRows) + ";";
  if (ContainsNoCase(driver, "sqlite") && !cs.Get("StepAPI")) return "StepAPI=1;";
  return "";
}

// SQLite's ODBC driver opens its file for writing, and a statement as small
// as "pragma journal_mode=wal" then rewrites it; no driver option opens it
// read-only. The driver takes a "file:" address, whose mode=ro does: every
// Database= of the connection string (the driver reads the first) becomes
// one. The rest of the text stays as the caller wrote it.
std::string WithReadOnlyDatabase(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    // One element, up to the next ';' outside braces.
    std::size_t end = i;
    while (end < text.size() && text[end] != ';') {
      if (text[end] == '{') {
        const std::size_t close = text.find('}', end);
        end = close == std::string_view::npos ? text.size() : close + 1;
      } else {
        ++end;
      }
    }
    const std::string_view element = text.substr(i, end - i);
    const std::size_t eq = element.find('=');
    if (eq != std::string_view::npos && EqualsNoCase(Trim(element.substr(0, eq)), "Database")) {
      std::string value(Trim(element.substr(eq + 1)));
      if (value.size() >= 2 && value.front() == '{' && value.back() == '}') value = value.substr(1, value.size() - 2);
      if (value.size() >= 5 && EqualsNoCase(std::string_view(value).substr(0, 5), "file:"))
        value += value.find('?') == std::string::npos ? "?mode=ro" : "&mode=ro";  // the last mode counts
      else if (!value.empty())
        value = FileUri(value) + "?mode=ro";
      out.append(element.substr(0, eq + 1)).append(value);
    } else {
      out.append(element);
    }
    if (end < text.size()) out.push_back(';');
    i = end + 1;
  }
  return out;
}

std::string WithOption(std::string text, const std::string& option) {
  if (option.empty()) return text;
  if (!text.empty() && text.back() != ';') text += ';';
  return text + option;
}

// One connection with its environment; the statement of a stream lives on it.
class OdbcConnection {
 public:
  explicit OdbcConnection(const std::string& connection_string, bool streaming) {
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_.h)))
      throw Error(kErrProvider, kSource, "The ODBC driver manager could not allocate an environment");
    SQLSetEnvAttr(env_.h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);

    const ConnectionString cs = ConnectionString::Parse(connection_string);
    const std::string driver = cs.Get("Driver").value_or("");
    const std::string text =
        ContainsNoCase(driver, "sqlite") ? WithReadOnlyDatabase(connection_string) : connection_string;
    const std::string option = streaming ? StreamingOption(driver, cs) : "";
    Connect(WithOption(text, option));
    if (streaming && option.empty()) {
      // A data source name: the driver is known only now.
      const std::string late = StreamingOption(DriverName(), cs);
      if (!late.empty()) {
        Disconnect();
        Connect(WithOption(text, late));
      }
    }
    MakeReadOnly();
  }

  ~OdbcConnection() { Disconnect(); }
  OdbcConnection(const OdbcConnection&) = delete;
  OdbcConnection& operator=(const OdbcConnection&) = delete;

  SQLHDBC dbc() const { return dbc_; }

  std::string DriverName() const {
    SQLWCHAR name[256] = {};
    SQLSMALLINT length = 0;
    if (!Ok(SQLGetInfoW(dbc_, SQL_DRIVER_NAME, name, sizeof name, &length))) return {};
    return FromUtf16(name, std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(SQLWCHAR), 255));
  }

  // The quote of delimited identifiers (a space when the driver has none).
  std::string IdentifierQuote() const {
    SQLWCHAR quote[8] = {};
    SQLSMALLINT length = 0;
    if (!Ok(SQLGetInfoW(dbc_, SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote, &length))) return "\"";
    return FromUtf16(quote, std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(SQLWCHAR), 7));
  }

  std::string DbmsName() const {
    SQLWCHAR name[256] = {};
    SQLSMALLINT length = 0;
    if (!Ok(SQLGetInfoW(dbc_, SQL_DBMS_NAME, name, sizeof name, &length))) return {};
    return FromUtf16(name, std::min<std::size_t>(static_cast<std::size_t>(length) / sizeof(SQLWCHAR), 255));
  }

  // Runs `sql` for its effect, if the database accepts it; false if not.
  bool TryExecute(const std::string& sql) {
    StmtHandle stmt;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt.h))) return false;
    std::vector<SQLWCHAR> text = ToUtf16(sql);
    const SQLRETURN rc = SQLExecDirectW(stmt.h, text.data(), SQL_NTS);
    return Ok(rc) || rc == SQL_NO_DATA;
  }

  bool GetDataInBlocks() const {
    SQLUINTEGER bits = 0;
    if (!Ok(SQLGetInfoW(dbc_, SQL_GETDATA_EXTENSIONS, &bits, sizeof bits, nullptr))) return false;
    return (bits & SQL_GD_BLOCK) != 0;
  }

 private:
  void Connect(const std::string& text) {
    if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env_.h, &dbc_)))
      ThrowDiag(SQL_HANDLE_ENV, env_.h, "The ODBC driver manager could not allocate a connection");
    SQLSetConnectAttrW(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
    SQLSetConnectAttrW(dbc_, SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
    std::vector<SQLWCHAR> in = ToUtf16(text);
    SQLWCHAR out[1024];
    SQLSMALLINT out_length = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc_, nullptr, in.data(), SQL_NTS, out, 1024, &out_length,
                                           SQL_DRIVER_NOPROMPT);
    if (!Ok(rc)) {
      std::string diag = Diagnostics(SQL_HANDLE_DBC, dbc_);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
      dbc_ = SQL_NULL_HDBC;
      throw Error(kErrProvider, kSource, diag.empty() ? "The ODBC driver could not connect" : diag);
    }
    connected_ = true;
  }

  // Reading never changes a database. Drivers may ignore the read-only
  // access mode (psqlODBC does), so where the database itself can hold a
  // session to reading, it is asked to: every later transaction of this
  // PostgreSQL session is read-only (and cannot be made read-write once it
  // has read), and SQLite refuses every change to its files.
  void MakeReadOnly() {
    SQLSetConnectAttrW(dbc_, SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
    const std::string dbms = DbmsName();
    if (ContainsNoCase(dbms, "postgres")) {
      Execute("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY");
    } else if (ContainsNoCase(dbms, "sqlite")) {
      Execute("PRAGMA query_only = 1");
    }
  }

  void Execute(const std::string& sql) {
    StmtHandle stmt;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt.h)))
      ThrowDiag(SQL_HANDLE_DBC, dbc_, "The ODBC driver could not allocate a statement");
    std::vector<SQLWCHAR> text = ToUtf16(sql);
    const SQLRETURN rc = SQLExecDirectW(stmt.h, text.data(), SQL_NTS);
    if (!Ok(rc) && rc != SQL_NO_DATA)
      ThrowDiag(SQL_HANDLE_STMT, stmt.h, "The database refused to hold the connection to reading (" + sql + ")");
  }

  void Disconnect() {
    if (dbc_ == SQL_NULL_HDBC) return;
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HDBC;
    connected_ = false;
  }

  EnvHandle env_;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

// ---- Sources ----

bool IsPlainIdentifier(std::string_view s) {
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
  });
}

bool StartsWithKeyword(std::string_view s) {
  static constexpr std::string_view kKeywords[] = {"select", "with", "values", "table", "show", "pragma",
                                                   "call",   "exec", "execute", "explain", "("};
  for (std::string_view k : kKeywords) {
    if (s.size() < k.size() || !EqualsNoCase(s.substr(0, k.size()), k)) continue;
    if (k == "(" || s.size() == k.size()) return true;
    const char next = s[k.size()];
    if (std::isspace(static_cast<unsigned char>(next)) || next == '(' || next == '*') return true;
  }
  return false;
}


// The statement to run for a source: SQL text as it is; a table name (plain,
// "quoted" or [bracketed] parts joined by '.') inside `select * from`. A name
// never leaves its quotes; anything else is refused.
std::string StatementFor(std::string_view source, const std::string& quote) {
  const std::string s(Trim(source));
  if (s.empty()) throw Error(kErrInvalidArgument, kSource, "No source: give a table name or SQL text");
  if (StartsWithKeyword(s)) return SingleStatement(s);
  const std::string q = (quote.empty() || quote == " ") ? std::string("\"") : quote;
  std::string name;
  std::size_t i = 0;
  const auto refuse = [&]() -> Error {
    return Error(kErrInvalidArgument, kSource,
                 "'" + s + "' is neither a table name nor a query (quote a table name that holds spaces or "
                 "punctuation)");
  };
  while (true) {
    if (i >= s.size()) throw refuse();
    std::string part;
    if (s[i] == '"' || s[i] == '[' || s[i] == '`') {
      const char close = s[i] == '[' ? ']' : s[i];
      ++i;
      bool closed = false;
      while (i < s.size()) {
        if (s[i] == close) {
          if (close != ']' && i + 1 < s.size() && s[i + 1] == close) {
            part.push_back(close);
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        part.push_back(s[i++]);
      }
      if (!closed || part.empty()) throw refuse();
      // Re-quote with the driver's own quote, doubling it inside the name.
      std::string quoted = q;
      for (char c : part) {
        quoted.push_back(c);
        if (q.size() == 1 && c == q[0]) quoted.push_back(c);
      }
      name += quoted + q;
    } else {
      const std::size_t start = i;
      while (i < s.size() && s[i] != '.') ++i;
      part = s.substr(start, i - start);
      if (!IsPlainIdentifier(part)) throw refuse();
      name += part;
    }
    if (i == s.size()) break;
    if (s[i] != '.') throw refuse();
    name.push_back('.');
    ++i;
  }
  return "select * from " + name;
}

// ---- Column buffers ----

enum class Binding { kInteger, kDouble, kDecimal, kDate, kTime, kTimestamp, kBit, kText, kNarrowText, kBinary };

struct Column {
  FieldInfo info;
  Binding binding = Binding::kText;
  SQLSMALLINT c_type = SQL_C_WCHAR;
  std::size_t width = 0;  // bytes per row in `data`
  std::vector<unsigned char> data;
  std::vector<SQLLEN> indicators;
};

int AdoType(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_CHAR: return adChar;
    case SQL_VARCHAR: return adVarChar;
    case SQL_LONGVARCHAR: return adLongVarChar;
    case SQL_WCHAR: return adWChar;
    case SQL_WVARCHAR: return adVarWChar;
    case SQL_WLONGVARCHAR: return adLongVarWChar;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATETIME:
    case SQL_TIME:
    case SQL_TIMESTAMP: return adDate;
    case SQL_INTEGER: return adInteger;
    case SQL_SMALLINT: return adSmallInt;
    case SQL_TINYINT: return adTinyInt;
    case SQL_BIGINT: return adBigInt;
    case SQL_DECIMAL:
    case SQL_NUMERIC: return adNumeric;
    case SQL_REAL: return adSingle;
    case SQL_FLOAT:
    case SQL_DOUBLE: return adDouble;
    case SQL_BIT: return adBoolean;
    case SQL_BINARY: return adBinary;
    case SQL_VARBINARY: return adVarBinary;
    case SQL_LONGVARBINARY: return adLongVarBinary;
    default: return adVarWChar;  // intervals, GUIDs and driver types read as text
  }
}

std::size_t BoundTextUnits(SQLULEN column_size) {
  if (column_size == 0 || column_size > kMaxBoundTextUnits) return kDefaultTextUnits;
  return static_cast<std::size_t>(column_size);
}

void ChooseBinding(Column& c, SQLSMALLINT sql_type, SQLULEN column_size) {
  struct Choice {
    Binding binding;
    SQLSMALLINT c_type;
    std::size_t width;  // bytes of one bound value
  };
  const std::size_t text_units = BoundTextUnits(column_size);
  const Choice choice = [&]() -> Choice {
    switch (sql_type) {
      case SQL_INTEGER:
      case SQL_SMALLINT:
      case SQL_TINYINT:
      case SQL_BIGINT: return {Binding::kInteger, SQL_C_SBIGINT, sizeof(SQLBIGINT)};
      case SQL_REAL:
      case SQL_FLOAT:
      case SQL_DOUBLE: return {Binding::kDouble, SQL_C_DOUBLE, sizeof(SQLDOUBLE)};
      // The driver's text form of a decimal converts exactly; a binary numeric would not.
      case SQL_DECIMAL:
      case SQL_NUMERIC: return {Binding::kDecimal, SQL_C_CHAR, 64};
      case SQL_TYPE_DATE: return {Binding::kDate, SQL_C_TYPE_DATE, sizeof(SQL_DATE_STRUCT)};
      case SQL_TYPE_TIME:
      case SQL_TIME: return {Binding::kTime, SQL_C_TYPE_TIME, sizeof(SQL_TIME_STRUCT)};
      case SQL_TYPE_TIMESTAMP:
      case SQL_TIMESTAMP:
      case SQL_DATETIME: return {Binding::kTimestamp, SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT)};
      case SQL_BIT: return {Binding::kBit, SQL_C_BIT, 1};
      // Binary values read as their hexadecimal text.
      case SQL_BINARY:
      case SQL_VARBINARY:
      case SQL_LONGVARBINARY:
        return {Binding::kBinary, SQL_C_CHAR, std::min<std::size_t>(text_units * 2, 2 * kMaxBoundTextUnits) + 1};
      // Narrow character types come from drivers without wide-character
      // support (which refuse SQL_C_WCHAR) or from UTF-8 data: take the bytes.
      case SQL_CHAR:
      case SQL_VARCHAR:
      case SQL_LONGVARCHAR: return {Binding::kNarrowText, SQL_C_CHAR, text_units * 2 + 1};
      default: return {Binding::kText, SQL_C_WCHAR, (text_units + 1) * sizeof(SQLWCHAR)};
    }
  }();
  c.binding = choice.binding;
  c.c_type = choice.c_type;
  c.width = choice.width;
}

// A text form of a decimal ("123.450", "-0.5", "NaN") as a number; the
// conversion is exact to the nearest double.
std::optional<Value> DecimalValue(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text == "NaN") return Value(std::numeric_limits<double>::quiet_NaN());
  if (text == "Infinity" || text == "inf") return Value(std::numeric_limits<double>::infinity());
  if (text == "-Infinity" || text == "-inf") return Value(-std::numeric_limits<double>::infinity());
  const auto number = ParseNumber(text);
  if (!number) return std::nullopt;
  // At most 15 significant digits: the number is its own text form.
  int digits = 0;
  bool leading = true;
  for (char ch : text) {
    if (ch == 'e' || ch == 'E') break;
    if (ch < '0' || ch > '9') continue;
    if (leading && ch == '0') continue;
    leading = false;
    ++digits;
  }
  // Trailing zeros of a fraction do not count ("0.2500" is 2 digits).
  if (text.find('.') != std::string_view::npos && text.find_first_of("eE") == std::string_view::npos) {
    for (std::size_t k = text.size(); k > 0 && text[k - 1] == '0' && digits > 0; --k) --digits;
  }
  return digits <= 15 ? Value::CanonicalNumber(*number) : Value(*number);
}

// Values have no binary kind: bytes read as their hexadecimal text behind
// "0x" ("0x00FF"), as the SQLite provider writes them. The prefix keeps them
// from ever reading as a number: "3132" is the bytes "12", not 3132.
std::string BinaryText(const std::string& hex) {
  std::string out = "0x";
  out.reserve(hex.size() + 2);
  for (char ch : hex) out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(ch))));
  return out;
}

// ---- The stream ----

class OdbcRowStream final : public RowStream {
 public:
  OdbcRowStream(const std::string& connection_string, std::string_view source, bool streaming)
      : OdbcRowStream(std::make_shared<OdbcConnection>(connection_string, streaming), source, std::nullopt) {}

  // Runs `statement` (when given; otherwise the statement `source` stands
  // for) on an open connection. `source` names what is read in errors.
  OdbcRowStream(std::shared_ptr<OdbcConnection> connection, std::string_view source,
                const std::optional<std::string>& statement)
      : connection_(std::move(connection)), source_(std::string(Trim(source))) {
    const SQLHDBC dbc = connection_->dbc();
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &statement_.h)))
      ThrowDiag(SQL_HANDLE_DBC, dbc, "The ODBC driver could not allocate a statement");
    stmt_ = statement_.h;
    SQLSetStmtAttrW(stmt_, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_FORWARD_ONLY), 0);
    SQLSetStmtAttrW(stmt_, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY), 0);

    std::vector<SQLWCHAR> text = ToUtf16(statement ? *statement : StatementFor(source_, connection_->IdentifierQuote()));
    SQLRETURN rc = SQLExecDirectW(stmt_, text.data(), SQL_NTS);
    if (!Ok(rc) && rc != SQL_NO_DATA) ThrowDiag(SQL_HANDLE_STMT, stmt_, "");

    SQLSMALLINT count = 0;
    if (!Ok(SQLNumResultCols(stmt_, &count))) ThrowDiag(SQL_HANDLE_STMT, stmt_, "");
    if (count <= 0)
      throw Error(kErrProvider, kSource, "'" + source_ + "' returns no records (it is not a query)");
    // A driver that holds the whole result says how many rows it has (psqlODBC
    // without UseDeclareFetch); one that streams says -1 (or, for some, 0).
    SQLLEN rows = -1;
    if (Ok(SQLRowCount(stmt_, &rows)) && rows > 0) expected_rows_ = static_cast<std::int64_t>(rows);
    Describe(count);
    Bind();
  }

  const std::vector<FieldInfo>& Schema() const override { return schema_; }

  std::size_t Fetch(std::vector<Value>& cells, std::size_t max_rows) override {
    std::size_t appended = 0;
    while (appended < max_rows) {
      if (next_ >= fetched_) {
        if (done_ || !FetchRowArray()) break;
      }
      const std::size_t take = std::min<std::size_t>(max_rows - appended, fetched_ - next_);
      for (std::size_t r = next_; r < next_ + take; ++r) AppendRow(cells, r);
      next_ += take;
      appended += take;
    }
    rows_out_ += static_cast<std::int64_t>(appended);
    return appended;
  }

  // The rows handed out of those the driver said the result holds; nothing
  // once more rows came than it said (the count was no row count).
  std::optional<double> ReadShare() const override {
    if (expected_rows_ <= 0 || rows_out_ > expected_rows_) return std::nullopt;
    return static_cast<double>(rows_out_) / static_cast<double>(expected_rows_);
  }

 private:
  void Describe(SQLSMALLINT count) {
    columns_.resize(static_cast<std::size_t>(count));
    for (SQLSMALLINT i = 0; i < count; ++i) {
      std::vector<SQLWCHAR> name(256);
      SQLSMALLINT name_length = 0, sql_type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      SQLRETURN rc = SQLDescribeColW(stmt_, static_cast<SQLUSMALLINT>(i + 1), name.data(),
                                     static_cast<SQLSMALLINT>(name.size()), &name_length, &sql_type, &size, &digits,
                                     &nullable);
      if (Ok(rc) && name_length >= static_cast<SQLSMALLINT>(name.size())) {
        name.resize(static_cast<std::size_t>(name_length) + 1);
        rc = SQLDescribeColW(stmt_, static_cast<SQLUSMALLINT>(i + 1), name.data(),
                             static_cast<SQLSMALLINT>(name.size()), &name_length, &sql_type, &size, &digits,
                             &nullable);
      }
      if (!Ok(rc)) ThrowDiag(SQL_HANDLE_STMT, stmt_, "");
      Column& c = columns_[static_cast<std::size_t>(i)];
      c.info.name = FromUtf16(name.data(), std::min<std::size_t>(static_cast<std::size_t>(name_length),
                                                                 name.size() - 1));
      c.info.type = AdoType(sql_type);
      c.info.defined_size = static_cast<int>(std::min<SQLULEN>(size, std::numeric_limits<int>::max()));
      c.info.attributes = nullable == SQL_NO_NULLS ? 0 : (adFldIsNullable | adFldMayBeNull);
      ChooseBinding(c, sql_type, size);
      schema_.push_back(c.info);
    }
  }

  void Bind() {
    std::size_t row_bytes = 0;
    for (const Column& c : columns_) row_bytes += c.width + sizeof(SQLLEN);
    rows_ = std::clamp<std::size_t>(kRowArrayBudget / std::max<std::size_t>(row_bytes, 1), 1, kBlockRows);
    block_getdata_ = connection_->GetDataInBlocks();
    SQLRETURN rc = SQLSetStmtAttrW(stmt_, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
    if (Ok(rc))
      rc = SQLSetStmtAttrW(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(rows_)), 0);
    if (rc == SQL_SUCCESS_WITH_INFO || !Ok(rc)) {
      // The driver may lower the row array size (01S02) or refuse row arrays.
      SQLULEN actual = 1;
      if (Ok(SQLGetStmtAttrW(stmt_, SQL_ATTR_ROW_ARRAY_SIZE, &actual, 0, nullptr)) && actual >= 1) rows_ = actual;
      else rows_ = 1;
    }
    row_status_.assign(rows_, SQL_ROW_NOROW);
    SQLSetStmtAttrW(stmt_, SQL_ATTR_ROW_STATUS_PTR, row_status_.data(), 0);
    SQLSetStmtAttrW(stmt_, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0);
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      Column& c = columns_[i];
      c.data.assign(c.width * rows_, 0);
      c.indicators.assign(rows_, 0);
      if (!Ok(SQLBindCol(stmt_, static_cast<SQLUSMALLINT>(i + 1), c.c_type, c.data.data(),
                         static_cast<SQLLEN>(c.width), c.indicators.data())))
        ThrowDiag(SQL_HANDLE_STMT, stmt_, "Cannot bind field '" + c.info.name + "'");
    }
  }

  bool FetchRowArray() {
    fetched_ = 0;
    next_ = 0;
    std::fill(row_status_.begin(), row_status_.end(), static_cast<SQLUSMALLINT>(SQL_ROW_NOROW));
    const SQLRETURN rc = SQLFetch(stmt_);
    if (rc == SQL_NO_DATA) {
      done_ = true;
      return false;
    }
    // A lost connection, a row that fails to convert: never a quiet end.
    if (!Ok(rc)) ThrowDiag(SQL_HANDLE_STMT, stmt_, "Reading '" + source_ + "' failed");
    if (fetched_ == 0) {
      // A driver that does not fill in the count: the row statuses tell.
      while (fetched_ < rows_ && row_status_[fetched_] != SQL_ROW_NOROW) ++fetched_;
      if (fetched_ == 0 && rows_ == 1) fetched_ = 1;
      if (fetched_ == 0)
        throw Error(kErrProvider, kSource,
                    "Reading '" + source_ + "' failed: the ODBC driver fetched rows but did not say how many");
    }
    for (std::size_t r = 0; r < fetched_; ++r) {
      if (row_status_[r] == SQL_ROW_ERROR)
        ThrowDiag(SQL_HANDLE_STMT, stmt_, "Reading row " + std::to_string(rows_read_ + r + 1) + " of '" + source_ +
                                              "' failed");
    }
    base_row_ = rows_read_;
    rows_read_ += fetched_;
    return fetched_ > 0;
  }

  // Reads a value that did not fit its bound buffer, in pieces.
  std::string ReadLong(std::size_t col, std::size_t row, SQLSMALLINT c_type) {
    const Column& c = columns_[col];
    const std::string where = "field '" + c.info.name + "' of row " + std::to_string(base_row_ + row + 1) +
                              " of '" + source_ + "'";
    if (rows_ > 1) {
      if (!block_getdata_ ||
          !Ok(SQLSetPos(stmt_, static_cast<SQLSETPOSIROW>(row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE)))
        ThrowDiag(SQL_HANDLE_STMT, stmt_, "The value of " + where + " is longer than its buffer and the driver " +
                                              "cannot read it in pieces");
    }
    std::string out;
    char16_t pending = 0;
    std::vector<unsigned char> buffer(64 * 1024);
    while (true) {
      SQLLEN indicator = 0;
      const SQLRETURN rc = SQLGetData(stmt_, static_cast<SQLUSMALLINT>(col + 1), c_type, buffer.data(),
                                      static_cast<SQLLEN>(buffer.size()), &indicator);
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) ThrowDiag(SQL_HANDLE_STMT, stmt_, "Reading " + where + " failed");
      if (indicator == SQL_NULL_DATA) break;
      const std::size_t unit = c_type == SQL_C_WCHAR ? sizeof(SQLWCHAR) : 1;
      std::size_t bytes = buffer.size() - unit;  // a full piece less its terminator
      if (indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) <= bytes)
        bytes = static_cast<std::size_t>(indicator);
      if (c_type == SQL_C_WCHAR) {
        AppendUtf16(out, reinterpret_cast<const SQLWCHAR*>(buffer.data()), bytes / sizeof(SQLWCHAR), &pending);
      } else {
        out.append(reinterpret_cast<const char*>(buffer.data()), bytes);
      }
      if (rc == SQL_SUCCESS) break;
    }
    if (pending) AppendUtf8(out, 0xFFFD);
    return out;
  }

  bool Truncated(const Column& c, SQLLEN indicator) const {
    if (indicator == SQL_NO_TOTAL) return true;
    const std::size_t terminator = c.c_type == SQL_C_WCHAR ? sizeof(SQLWCHAR) : 1;
    return static_cast<std::size_t>(indicator) > c.width - terminator;
  }

  void AppendRow(std::vector<Value>& cells, std::size_t row) {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      const Column& c = columns_[i];
      const SQLLEN indicator = c.indicators[row];
      if (indicator == SQL_NULL_DATA) {
        cells.emplace_back();
        continue;
      }
      const unsigned char* p = c.data.data() + row * c.width;
      switch (c.binding) {
        case Binding::kInteger: {
          SQLBIGINT v;
          std::memcpy(&v, p, sizeof v);
          // Integers of at most 15 digits are their own canonical value. The
          // range is tested without negating: -v overflows for the smallest bigint.
          constexpr SQLBIGINT kCanonical = 999999999999999;
          const double d = static_cast<double>(v);
          cells.push_back(v >= -kCanonical && v <= kCanonical ? Value::CanonicalNumber(d) : Value(d));
          break;
        }
        case Binding::kDouble: {
          SQLDOUBLE v;
          std::memcpy(&v, p, sizeof v);
          cells.emplace_back(static_cast<double>(v));
          break;
        }
        case Binding::kDecimal: {
          std::string text = Truncated(c, indicator)
                                 ? ReadLong(i, row, SQL_C_CHAR)
                                 : std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(indicator));
          auto v = DecimalValue(text);
          if (!v)
            throw Error(kErrDataConversion, kSource,
                        "The driver gave '" + text + "' for the number in field '" + c.info.name + "' of row " +
                            std::to_string(base_row_ + row + 1) + " of '" + source_ + "'");
          cells.push_back(std::move(*v));
          break;
        }
        case Binding::kDate: {
          SQL_DATE_STRUCT v;
          std::memcpy(&v, p, sizeof v);
          cells.emplace_back(Date{v.year, v.month, v.day, 0, 0, 0});
          break;
        }
        case Binding::kTime: {
          SQL_TIME_STRUCT v;
          std::memcpy(&v, p, sizeof v);
          cells.emplace_back(Date{1899, 12, 30, v.hour, v.minute, v.second});
          break;
        }
        case Binding::kTimestamp: {
          SQL_TIMESTAMP_STRUCT v;
          std::memcpy(&v, p, sizeof v);
          cells.emplace_back(Date{v.year, v.month, v.day, v.hour, v.minute, v.second});
          break;
        }
        case Binding::kBit:
          cells.push_back(Value::Boolean(*p != 0));
          break;
        case Binding::kBinary:
          cells.emplace_back(BinaryText(Truncated(c, indicator) ? ReadLong(i, row, SQL_C_CHAR)
                                                                : std::string(reinterpret_cast<const char*>(p),
                                                                              static_cast<std::size_t>(indicator))));
          break;
        case Binding::kNarrowText:
          cells.emplace_back(Truncated(c, indicator)
                                 ? ReadLong(i, row, SQL_C_CHAR)
                                 : std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(indicator)));
          break;
        case Binding::kText:
          cells.emplace_back(Truncated(c, indicator)
                                 ? ReadLong(i, row, SQL_C_WCHAR)
                                 : FromUtf16(reinterpret_cast<const SQLWCHAR*>(p),
                                             static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR)));
          break;
      }
    }
  }

  std::shared_ptr<OdbcConnection> connection_;
  std::string source_;
  StmtHandle statement_;  // freed before the connection closes
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  std::vector<Column> columns_;
  std::vector<FieldInfo> schema_;
  std::size_t rows_ = 1;               // row array size
  std::vector<SQLUSMALLINT> row_status_;
  SQLULEN fetched_ = 0;                // rows in the current row array
  std::size_t next_ = 0;               // next row of the row array to hand out
  std::int64_t base_row_ = 0;          // rows before the current row array
  std::int64_t rows_read_ = 0;
  std::int64_t rows_out_ = 0;       // rows handed out by Fetch
  std::int64_t expected_rows_ = 0;  // the driver's count of the result's rows; 0 when it gives none
  bool done_ = false;
  bool block_getdata_ = false;
};

// One connection for the description of the source and the aggregate
// query. It is not a streaming one: the query returns the distinct values
// only, and a driver's cursor (psqlODBC's declare/fetch) would keep
// PostgreSQL from running it in parallel.
class OdbcAggregateSession final : public AggregateSession {
 public:
  OdbcAggregateSession(const std::string& connection_string, std::string_view source)
      : connection_(std::make_shared<OdbcConnection>(connection_string, false)), source_(Trim(source)) {
    const std::string quote = connection_->IdentifierQuote();
    quote_ = (quote.empty() || quote == " ") ? std::string("\"") : quote;
    statement_ = StatementFor(source_, quote_);
    // PostgreSQL's default work_mem (4 MB) holds the hash table of about
    // 30,000 groups: beyond that a group by spills to disk in batches and
    // finishes with an external sort. This session may use 64 MB per hash
    // table and worker: it is raised, never lowered, and left alone when
    // the connection string sets it (psqlODBC's ConnSettings). An optimisation
    // only: a server that refuses it still groups.
    if (!ContainsNoCase(connection_string, "work_mem") && ContainsNoCase(connection_->DbmsName(), "postgres"))
      connection_->TryExecute(
          "select set_config('work_mem', '64MB', false) "
          "where pg_size_bytes(current_setting('work_mem')) < 64 * 1024 * 1024");
    // The fields as the database describes the source, without reading a record.
    schema_ = OdbcRowStream(connection_, source_, "select * from (\n" + statement_ + "\n) q where 1 = 0").Schema();
  }
  const std::vector<FieldInfo>& Schema() const override { return schema_; }
  const std::string& Statement() const override { return statement_; }
  std::string QuoteIdentifier(std::string_view name) const override { return DelimitedIdentifier(name, quote_); }
  bool GroupsInDatabase() const override { return true; }
  std::unique_ptr<RowStream> Query(const std::string& sql, const std::vector<int>& /*types*/) override {
    return std::make_unique<OdbcRowStream>(connection_, source_, sql);
  }

 private:
  std::shared_ptr<OdbcConnection> connection_;
  std::string source_;
  std::string quote_;
  std::string statement_;
  std::vector<FieldInfo> schema_;
};

class OdbcProvider final : public Provider {
 public:
  explicit OdbcProvider(std::string connection_string) : connection_string_(std::move(connection_string)) {}

  std::unique_ptr<RowStream> Open(std::string_view source, bool streaming) override {
    return std::make_unique<OdbcRowStream>(connection_string_, source, streaming);
  }

  std::unique_ptr<AggregateSession> OpenAggregate(std::string_view source) override {
    return std::make_unique<OdbcAggregateSession>(connection_string_, source);
  }

 private:
  std::string connection_string_;
};

}  // namespace

std::unique_ptr<Provider> MakeOdbcProvider(const ConnectionString& cs) {
  return std::make_unique<OdbcProvider>(cs.text());
}

}  // namespace qeldata::detail
