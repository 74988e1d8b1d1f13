// The ODBC provider against real drivers: PostgreSQL (psqlODBC) on the
// throwaway server of scripts/pg-test-server.sh, and SQLite's ODBC driver.
// Tests that need the server skip when QEL_TEST_PG_CONN is not set.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "qeldata/recordset.h"

namespace qeldata {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> Env(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) return std::nullopt;
  return std::string(v);
}

#define REQUIRE_PG()                                                                                     \
  if (Env("QEL_TEST_PG_CONN")) {                                                                         \
  } else                                                                                                 \
    GTEST_SKIP() << "QEL_TEST_PG_CONN is not set: run the tests through scripts/pg-test-server.sh (as "   \
                  "scripts/run-tests.sh does)"

std::string Pg() { return *Env("QEL_TEST_PG_CONN"); }

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs SQL on a cluster of the test harness (the shared one by default).
void PgSql(const std::string& sql, std::string dir = "") {
  if (dir.empty()) dir = *Env("QEL_TEST_PG_DIR");
  const std::string cmd = ShellQuote(*Env("QEL_TEST_PG_HELPER")) + " sql " + ShellQuote(dir) + " " + ShellQuote(sql);
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

std::shared_ptr<Recordset> OpenForwardOnly(const std::string& source, const std::string& connection) {
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(adUseServer);
  rs->Open(source, connection, adOpenForwardOnly, adLockReadOnly, -1);
  return rs;
}

std::shared_ptr<Recordset> OpenStatic(const std::string& source, const std::string& connection) {
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(adUseClient);
  rs->Open(source, connection, adOpenDynamic, adLockOptimistic, -1);
  return rs;
}

// The description of the Error that `f` throws (fails the test when none).
template <typename F>
Error Raised(F f) {
  try {
    f();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "no error was raised";
  return Error(0, "", "");
}

std::string SqliteOdbcDriver() {
  // Our own SQLite provider answers to Driver=SQLite3, so the ODBC driver is
  // named by its library file.
  for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc",
                          "/usr/local/lib", "/usr/lib64"}) {
    const fs::path p = fs::path(dir) / "libsqlite3odbc.so";
    if (fs::exists(p)) return p.string();
  }
  return "";
}

class TempDir {
 public:
  TempDir() {
    std::string templ = (fs::temp_directory_path() / "qel-odbc-test.XXXXXX").string();
    path_ = mkdtemp(templ.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void SqliteExec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
}

// ---- PostgreSQL ----

// A source is read, never run for its effects: neither a second statement
// nor a single statement that writes changes the table, whether psqlODBC
// reads through a cursor (forward-only opens) or fetches all at once.
TEST(OdbcPostgres, ASourceNeverChangesTheDatabase) {
  REQUIRE_PG();
  PgSql("drop table if exists guarded; create table guarded (a integer); insert into guarded values (1), (2), (3)");
  const std::vector<std::string> attacks = {
      "select a from guarded; delete from guarded",
      "select 1 as a; drop table guarded",
      "(select a from guarded); truncate guarded",
      "select a from guarded;\n-- a comment\ndelete from guarded",
      "select $$;$$ as a; delete from guarded",
      "select E'\\''; delete from guarded; --'",
      "explain analyze delete from guarded",
      "with gone as (delete from guarded returning a) select a from gone",
      "with gone as (update guarded set a = 0 returning a) select a from gone",
      "select * from (values (1)) v; insert into guarded values (4)",
  };
  for (const std::string& conn : {Pg(), Pg() + ";UseDeclareFetch=0"}) {
    for (const std::string& attack : attacks) {
      SCOPED_TRACE(conn + " <- " + attack);
      EXPECT_THROW(
          {
            auto rs = OpenForwardOnly(attack, conn);
            while (!rs->IsEOF()) rs->MoveNext();
          },
          Error);
      EXPECT_THROW(OpenStatic(attack, conn), Error);
      auto check = OpenStatic("select count(*) as n, sum(a) as s from guarded", Pg());
      EXPECT_EQ(check->GetFields().Item("n").GetValue().AsNumber(), 3);
      EXPECT_EQ(check->GetFields().Item("s").GetValue().AsNumber(), 6);
    }
  }
  const Error e = Raised([] { OpenForwardOnly("select a from guarded; delete from guarded", Pg()); });
  EXPECT_EQ(e.description(), "the SQL text holds more than one statement; only a single query can be read");
  EXPECT_NE(Raised([] { OpenStatic("explain analyze delete from guarded", Pg()); }).description().find("read-only"),
            std::string::npos);
  // One statement with a closing ';' still reads.
  EXPECT_EQ(OpenStatic("select a from guarded order by a; -- the end", Pg())->RecordCount(), 3);
  EXPECT_EQ(OpenForwardOnly("select ';' as a, $x$; drop$x$ as b;", Pg())->GetFields().Item("b").GetValue().text(),
            "; drop");
}

TEST(OdbcPostgres, IntegerExtremesOfEveryWidth) {
  REQUIRE_PG();
  PgSql(
      "drop table if exists int_edges; create table int_edges (k integer, s smallint, i integer, b bigint); "
      "insert into int_edges values (1, -32768, -2147483648, -9223372036854775808), "
      "(2, 32767, 2147483647, 9223372036854775807), (3, 0, 0, -999999999999999), (4, 0, 0, 1000000000000000)");
  for (const bool streaming : {true, false}) {
    auto rs = streaming ? OpenForwardOnly("select s, i, b from int_edges order by k", Pg())
                        : OpenStatic("select s, i, b from int_edges order by k", Pg());
    Fields f = rs->GetFields();
    EXPECT_EQ(f.Item("s").GetValue().number(), -32768);
    EXPECT_EQ(f.Item("i").GetValue().number(), -2147483648.0);
    EXPECT_EQ(f.Item("b").GetValue().number(), -9223372036854775808.0);
    // 19 digits: not its own 15-digit form, so a tally still rounds it.
    EXPECT_FALSE(f.Item("b").GetValue().IsCanonicalNumber());
    EXPECT_TRUE(f.Item("i").GetValue().IsCanonicalNumber());
    rs->MoveNext();
    EXPECT_EQ(f.Item("s").GetValue().number(), 32767);
    EXPECT_EQ(f.Item("i").GetValue().number(), 2147483647);
    EXPECT_EQ(f.Item("b").GetValue().number(), 9223372036854775807.0);
    EXPECT_FALSE(f.Item("b").GetValue().IsCanonicalNumber());
    rs->MoveNext();
    EXPECT_TRUE(f.Item("b").GetValue().IsCanonicalNumber());
    rs->MoveNext();
    EXPECT_FALSE(f.Item("b").GetValue().IsCanonicalNumber());
  }
}

TEST(OdbcPostgres, BinaryValuesAreNeverNumbers) {
  REQUIRE_PG();
  PgSql("drop table if exists bin; create table bin (b bytea); insert into bin values ('\\x3132'), ('\\xff'), ('')");
  auto rs = OpenForwardOnly("select b from bin", Pg());
  Fields f = rs->GetFields();
  EXPECT_FALSE(IsTextType(f.Item("b").Type()));
  const std::vector<std::string> expected = {"0x3132", "0xFF", "0x"};
  for (const std::string& text : expected) {
    ASSERT_FALSE(rs->IsEOF());
    EXPECT_EQ(f.Item("b").GetValue().text(), text);
    EXPECT_THROW(f.Item("b").GetValue().AsNumber(), Error);  // the bytes "12" are not the number 3132
    rs->MoveNext();
  }
}

TEST(OdbcPostgres, MapsSqlTypesToAdoCodesAndReadsValuesAndNulls) {
  REQUIRE_PG();
  PgSql(
      "drop table if exists odbc_types; "
      "create table odbc_types (\"MixedCase\" char(3), v varchar(10), t text, d date, tm time, ts timestamp, "
      "i integer, s smallint, b bigint, n numeric(12,3), r real, f double precision, big numeric); "
      "insert into odbc_types values ('ab', 'Zürich ✓', 'clef 𝄞', '2024-02-29', '13:45:07', "
      "'1999-12-31 23:59:58', -7, 12, 9007199254740993, 1234.567, 0.5, 0.1, "
      "12345678901234567890.123456789); "
      "insert into odbc_types values (null, null, null, null, null, null, null, null, null, null, null, null, null)");
  auto rs = OpenForwardOnly("odbc_types", Pg());
  Fields f = rs->GetFields();
  ASSERT_EQ(f.Count(), 13);
  EXPECT_EQ(f.Item(0).Name(), "MixedCase");  // as the driver reports it
  const int expected[] = {adWChar, adVarWChar, adLongVarWChar, adDate, adDate, adDate, adInteger,
                          adSmallInt, adBigInt, adNumeric, adSingle, adDouble, adNumeric};
  for (int i = 0; i < 13; ++i) EXPECT_EQ(f.Item(i).Type(), expected[i]) << f.Item(i).Name();

  ASSERT_FALSE(rs->IsEOF());
  EXPECT_EQ(f.Item("MixedCase").GetValue().text(), "ab ");  // char(3) keeps its padding
  EXPECT_EQ(f.Item("v").GetValue().text(), "Zürich ✓");
  EXPECT_EQ(f.Item("t").GetValue().text(), "clef 𝄞");
  EXPECT_EQ(f.Item("d").GetValue().date(), (Date{2024, 2, 29, 0, 0, 0}));
  EXPECT_EQ(f.Item("tm").GetValue().date(), (Date{1899, 12, 30, 13, 45, 7}));
  EXPECT_EQ(f.Item("ts").GetValue().date(), (Date{1999, 12, 31, 23, 59, 58}));
  EXPECT_EQ(f.Item("i").GetValue().number(), -7);
  EXPECT_EQ(f.Item("s").GetValue().number(), 12);
  EXPECT_EQ(f.Item("b").GetValue().number(), 9007199254740993.0);
  EXPECT_EQ(f.Item("n").GetValue().number(), 1234.567);  // exactly the double of the text
  EXPECT_EQ(f.Item("r").GetValue().number(), 0.5);
  EXPECT_EQ(f.Item("f").GetValue().number(), 0.1);
  EXPECT_EQ(f.Item("big").GetValue().number(), 12345678901234567890.123456789);
  rs->MoveNext();
  ASSERT_FALSE(rs->IsEOF());
  for (int i = 0; i < 13; ++i) EXPECT_TRUE(f.Item(i).GetValue().IsNull()) << f.Item(i).Name();
  rs->MoveNext();
  EXPECT_TRUE(rs->IsEOF());
}

// psqlODBC's ANSI driver knows no wide characters: its texts come as bytes,
// UTF-8 from a UTF-8 database, and read whole however long they are.
TEST(OdbcPostgres, ANarrowCharacterDriverStillReadsUtf8) {
  REQUIRE_PG();
  std::string ansi = Pg();
  const std::string unicode = "{PostgreSQL Unicode}";
  ASSERT_NE(ansi.find(unicode), std::string::npos);
  ansi.replace(ansi.find(unicode), unicode.size(), "{PostgreSQL ANSI}");
  PgSql("drop table if exists odbc_narrow; create table odbc_narrow as select 'Zürich ✓'::text as t, "
        "'ab'::char(3) as c, repeat('ü', 3000) as long");
  auto rs = OpenForwardOnly("odbc_narrow", ansi);
  Fields f = rs->GetFields();
  EXPECT_EQ(f.Item("t").Type(), adLongVarChar);
  EXPECT_EQ(f.Item("c").Type(), adChar);
  EXPECT_EQ(f.Item("t").GetValue().text(), "Zürich ✓");
  EXPECT_EQ(f.Item("c").GetValue().text(), "ab ");
  std::string long_text;
  for (int i = 0; i < 3000; ++i) long_text += "ü";
  EXPECT_EQ(f.Item("long").GetValue().text(), long_text);
}

TEST(OdbcPostgres, StreamsAcrossRowArraysAndReopensOnMoveFirst) {
  REQUIRE_PG();
  const std::string sql = "select g as n, g * 0.5 as half from generate_series(1, 10001) g order by g";
  auto rs = OpenForwardOnly(sql, Pg());
  EXPECT_EQ(rs->RecordCount(), -1);  // a stream: no count
  Fields f = rs->GetFields();
  std::int64_t rows = 0;
  double sum = 0;
  for (; !rs->IsEOF(); rs->MoveNext()) {
    ++rows;
    ASSERT_EQ(f.Item("n").GetValue().number(), static_cast<double>(rows));
    sum += f.Item("half").GetValue().number();
  }
  EXPECT_EQ(rows, 10001);
  EXPECT_EQ(sum, 10001.0 * 10002.0 / 4.0);
  rs->MoveFirst();
  ASSERT_FALSE(rs->IsEOF());
  EXPECT_EQ(f.Item("n").GetValue().number(), 1);

  // A client-side open holds every row.
  auto all = OpenStatic(sql, Pg());
  EXPECT_EQ(all->RecordCount(), 10001);
  all->MoveLast();
  EXPECT_EQ(all->GetFields().Item("n").GetValue().number(), 10001);
}

// A streaming read cannot say how many rows remain until its end; a driver
// that holds the whole result (psqlODBC without UseDeclareFetch) says how
// many it has, and the share is the rows read of those.
TEST(OdbcPostgres, ReadShareFromTheRowCountTheDriverGives) {
  REQUIRE_PG();
  const std::string sql = "select g as n from generate_series(1, 10000) g order by g";
  auto streamed = OpenForwardOnly(sql, Pg());
  EXPECT_FALSE(streamed->ReadShare().has_value());
  while (!streamed->IsEOF()) streamed->MoveNext();
  EXPECT_EQ(streamed->ReadShare(), 1.0);

  auto counted = OpenForwardOnly(sql, Pg() + ";UseDeclareFetch=0;");
  ASSERT_TRUE(counted->ReadShare().has_value());
  EXPECT_EQ(*counted->ReadShare(), 4096 / 10000.0) << "the first block, read at the opening";
  for (int i = 0; i < 4096; ++i) counted->MoveNext();
  EXPECT_EQ(*counted->ReadShare(), 8192 / 10000.0);
  while (!counted->IsEOF()) counted->MoveNext();
  EXPECT_EQ(counted->ReadShare(), 1.0);
}

TEST(OdbcPostgres, TableNamesAndSqlTextWithAWhereClause) {
  REQUIRE_PG();
  auto table = OpenStatic("baseball", Pg());
  EXPECT_EQ(table->RecordCount(), 920);
  ASSERT_EQ(table->GetFields().Count(), 29);
  EXPECT_EQ(table->GetFields().Item(0).Name(), "Salary");
  EXPECT_EQ(table->GetFields().Item(28).Name(), "Player");
  EXPECT_EQ(OpenStatic("public.baseball", Pg())->RecordCount(), 920);
  EXPECT_EQ(OpenStatic("[baseball]", Pg())->RecordCount(), 920);
  EXPECT_EQ(OpenStatic(" \"baseball\" ", Pg())->RecordCount(), 920);

  // The National League half of the file.
  std::ifstream csv(QEL_SOURCE_DIR "/VesquinDemo/datasets/BaseBall.csv");
  std::string line;
  std::getline(csv, line);
  int nl = 0;
  while (std::getline(csv, line)) nl += line.find(",NL,") != std::string::npos;
  auto where = OpenStatic("select \"Salary\", \"Player\" from baseball where \"League\" = 'NL'", Pg());
  EXPECT_EQ(where->RecordCount(), nl);
  EXPECT_EQ(where->GetFields().Count(), 2);
}

TEST(OdbcPostgres, ATableNameNeverBecomesSql) {
  REQUIRE_PG();
  PgSql("drop table if exists odbc_victim; create table odbc_victim (x int); insert into odbc_victim values (1)");
  for (const char* source : {"odbc_victim; drop table odbc_victim", "odbc_victim--", "odbc_victim x",
                             "\"odbc_victim", "[odbc_victim", "odbc_victim.", "'odbc_victim'"}) {
    const Error e = Raised([&] { OpenStatic(source, Pg()); });
    EXPECT_EQ(e.number(), kErrInvalidArgument) << source;
    EXPECT_NE(e.description().find("neither a table name nor a query"), std::string::npos) << e.description();
  }
  // A quote inside a quoted name stays inside: the name is looked up as written.
  const Error e = Raised([&] { OpenStatic("\"odbc_victim\"\"; drop table odbc_victim; --\"", Pg()); });
  EXPECT_EQ(e.number(), kErrProvider);
  EXPECT_NE(e.description().find("42P01"), std::string::npos) << e.description();
  EXPECT_EQ(OpenStatic("odbc_victim", Pg())->RecordCount(), 1);
}

TEST(OdbcPostgres, DriverErrorsReachTheDescriptionVerbatim) {
  REQUIRE_PG();
  const Error table = Raised([] { OpenForwardOnly("no_such_table", Pg()); });
  EXPECT_EQ(table.number(), kErrProvider);
  EXPECT_EQ(table.source(), "qeldata");
  EXPECT_NE(table.description().find("42P01"), std::string::npos) << table.description();
  EXPECT_NE(table.description().find("relation \"no_such_table\" does not exist"), std::string::npos)
      << table.description();

  const Error column = Raised([] { OpenForwardOnly("select \"Salry\" from baseball", Pg()); });
  EXPECT_NE(column.description().find("42703"), std::string::npos) << column.description();
  EXPECT_NE(column.description().find("column \"Salry\" does not exist"), std::string::npos)
      << column.description();

  std::string wrong = Pg();
  wrong.replace(wrong.find("Pwd="), std::string::npos, "Pwd=not-the-password;");
  const Error password = Raised([&] { OpenForwardOnly("baseball", wrong); });
  EXPECT_EQ(password.number(), kErrProvider);
  EXPECT_NE(password.description().find("08001"), std::string::npos) << password.description();
  EXPECT_NE(password.description().find("password authentication failed"), std::string::npos)
      << password.description();

  const Error driver = Raised([] { OpenForwardOnly("t", "Driver={No Such Driver};Server=x"); });
  EXPECT_NE(driver.description().find("No Such Driver"), std::string::npos) << driver.description();
}

TEST(OdbcPostgres, AnUnreachableServerFailsWithinTheLoginTimeout) {
  REQUIRE_PG();
  // A port that refuses, and one that accepts the connection but never says
  // a word, as a server behind a dead link would.
  const int silent = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(silent, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(silent, 4), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const std::string silent_port = std::to_string(ntohs(addr.sin_port));

  for (const std::string& port : {std::string("1"), silent_port}) {
    const auto start = std::chrono::steady_clock::now();
    const Error e = Raised([&] {
      OpenForwardOnly("baseball", "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + port +
                                      ";Database=qeltest;Uid=qeltest;Pwd=x;");
    });
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(e.number(), kErrProvider);
    EXPECT_NE(e.description().find("08001"), std::string::npos) << e.description();
    EXPECT_LT(seconds, 12.0) << port;
  }
  close(silent);
}

TEST(OdbcPostgres, LongTextsAreReadWholeInPieces) {
  REQUIRE_PG();
  // Values beyond the bound buffer, inside a row array of several rows.
  auto rs = OpenForwardOnly(
      "select g, case when g % 3 = 0 then repeat('é𝄞x', 4000 + g) else 'short' end as t "
      "from generate_series(1, 5000) g order by g",
      Pg());
  int rows = 0;
  for (; !rs->IsEOF(); rs->MoveNext()) {
    ++rows;
    const int g = static_cast<int>(rs->GetFields().Item("g").GetValue().number());
    const std::string& t = rs->GetFields().Item("t").GetValue().text();
    if (g % 3 == 0) {
      ASSERT_EQ(t.size(), static_cast<std::size_t>(4000 + g) * 7) << g;  // é 2 + 𝄞 4 + x 1 bytes
      ASSERT_EQ(t.substr(0, 7), "é𝄞x");
    } else {
      ASSERT_EQ(t, "short");
    }
  }
  EXPECT_EQ(rows, 5000);
}

// A data source name that leads to psqlODBC: the provider learns the driver
// only after connecting, and still reads forward-only in blocks.
TEST(OdbcPostgres, ReadsThroughADataSourceName) {
  REQUIRE_PG();
  TempDir dir;
  const fs::path ini = dir.path() / "odbc.ini";
  std::ofstream(ini) << "[qeltest]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort="
                     << *Env("QEL_TEST_PG_PORT") << "\nDatabase=qeltest\nUsername=qeltest\n";
  ASSERT_EQ(setenv("ODBCINI", ini.c_str(), 1), 0);
  const std::string conn = "DSN=qeltest;Pwd=" + *Env("QEL_TEST_PG_PASSWORD") + ";";
  auto rs = OpenForwardOnly("select g from generate_series(1, 9000) g", conn);
  int rows = 0;
  for (; !rs->IsEOF(); rs->MoveNext()) ++rows;
  EXPECT_EQ(rows, 9000);
  EXPECT_EQ(OpenStatic("baseball", conn)->RecordCount(), 920);
}

// The server goes away in the middle of a read of a large table: the read
// fails with the driver's message instead of ending early, and the process
// carries on. The test runs its own cluster so the others keep theirs.
TEST(OdbcPostgres, AServerThatGoesAwayMidReadIsAFailureNotAnEnd) {
  REQUIRE_PG();
  const std::string helper = *Env("QEL_TEST_PG_HELPER");
  const std::string dir = *Env("QEL_TEST_PG_DIR") + "/mid-read-" + std::to_string(getpid());
  FILE* out = popen((ShellQuote(helper) + " start " + ShellQuote(dir)).c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string conn, text;
  char buf[512];
  while (std::fgets(buf, sizeof buf, out)) text += buf;
  ASSERT_EQ(pclose(out), 0) << text;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("QEL_TEST_PG_CONN=", 0) == 0) conn = line.substr(17);
  ASSERT_FALSE(conn.empty()) << text;
  struct Cleanup {
    std::string cmd;
    ~Cleanup() { (void)std::system(cmd.c_str()); }
  } cleanup{ShellQuote(helper) + " stop " + ShellQuote(dir)};

  PgSql("create table big as select g as x, g % 1000 as y from generate_series(1, 2000000) g", dir);
  auto rs = OpenForwardOnly("big", conn);
  Fields f = rs->GetFields();
  std::int64_t rows = 0;
  const Error e = Raised([&] {
    for (; !rs->IsEOF(); rs->MoveNext()) {
      if (++rows == 10000) {
        ASSERT_EQ(std::system((ShellQuote(helper) + " kill " + ShellQuote(dir)).c_str()), 0);
      }
      (void)f.Item("x").GetValue();
    }
  });
  EXPECT_LT(rows, 2000000);
  EXPECT_EQ(e.number(), kErrProvider);
  EXPECT_NE(e.description().find("Reading 'big' failed"), std::string::npos) << e.description();

  // The process is fine: the shared server still answers, and the dead one fails cleanly.
  EXPECT_EQ(OpenStatic("baseball", Pg())->RecordCount(), 920);
  EXPECT_EQ(Raised([&] { OpenForwardOnly("big", conn); }).number(), kErrProvider);
}

// ---- SQLite's ODBC driver ----

class OdbcSqlite : public ::testing::Test {
 protected:
  void SetUp() override {
    driver_ = SqliteOdbcDriver();
    if (driver_.empty()) GTEST_SKIP() << "SQLite's ODBC driver (Debian libsqliteodbc) is not installed";
    file_ = (dir_.path() / "odbc test.db").string();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file_.c_str(), &db), SQLITE_OK);
    SqliteExec(db, "create table t (id integer, x double, name varchar(20), day date, note text)");
    SqliteExec(db, "begin");
    for (int i = 1; i <= 5000; ++i) {
      const std::string x = i % 10 == 0 ? "null" : std::to_string(i) + ".25";
      SqliteExec(db, "insert into t values (" + std::to_string(i) + ", " + x + ", 'n" + std::to_string(i % 7) +
                         "', '2020-01-" + (i % 28 < 9 ? "0" : "") + std::to_string(i % 28 + 1) + "', 'Ünï')");
    }
    SqliteExec(db, "commit");
    sqlite3_close(db);
    conn_ = "Driver=" + driver_ + ";Database=" + file_ + ";";
  }

  TempDir dir_;
  std::string driver_, file_, conn_;
};

TEST_F(OdbcSqlite, ReadsATableAndSqlTextThroughTheDriver) {
  auto rs = OpenForwardOnly("t", conn_);
  Fields f = rs->GetFields();
  ASSERT_EQ(f.Count(), 5);
  EXPECT_EQ(f.Item("id").Type(), adInteger);
  EXPECT_EQ(f.Item("x").Type(), adDouble);
  EXPECT_EQ(f.Item("day").Type(), adDate);
  EXPECT_TRUE(IsTextType(f.Item("name").Type()));
  int rows = 0, nulls = 0;
  double sum = 0;
  for (; !rs->IsEOF(); rs->MoveNext()) {
    ++rows;
    const Value& x = f.Item("x").GetValue();
    if (x.IsNull()) ++nulls;
    else sum += x.number();
    ASSERT_EQ(f.Item("note").GetValue().text(), "Ünï");
  }
  EXPECT_EQ(rows, 5000);
  EXPECT_EQ(nulls, 500);
  EXPECT_EQ(f.Count(), 5);
  double want = 0;
  for (int i = 1; i <= 5000; ++i)
    if (i % 10) want += i + 0.25;
  EXPECT_EQ(sum, want);

  auto where = OpenStatic("select id, day from t where id > 4990 order by id", conn_);
  ASSERT_EQ(where->RecordCount(), 10);
  EXPECT_EQ(where->GetFields().Item("day").GetValue().date(), (Date{2020, 1, 4991 % 28 + 1, 0, 0, 0}));
}

TEST_F(OdbcSqlite, MapsTheDriversTypesIncludingBitAndTinyint) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file_.c_str(), &db), SQLITE_OK);
  SqliteExec(db,
             "create table ty (b bit, ti tinyint, si smallint, bi bigint, r real, lt text, ts timestamp, tm time); "
             "insert into ty values (1, 7, -3, 1234567890123, 0.5, 'x', '2021-03-04 05:06:07', '05:06:07'); "
             "insert into ty values (0, null, null, null, null, null, null, null)");
  sqlite3_close(db);
  auto rs = OpenStatic("ty", conn_);
  Fields f = rs->GetFields();
  const int expected[] = {adBoolean, adTinyInt, adSmallInt, adBigInt, adDouble, adLongVarChar, adDate, adDate};
  ASSERT_EQ(f.Count(), 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(f.Item(i).Type(), expected[i]) << f.Item(i).Name();
  EXPECT_EQ(f.Item("b").GetValue(), Value::Boolean(true));
  EXPECT_EQ(f.Item("ti").GetValue().number(), 7);
  EXPECT_EQ(f.Item("bi").GetValue().number(), 1234567890123.0);
  EXPECT_EQ(f.Item("ts").GetValue().date(), (Date{2021, 3, 4, 5, 6, 7}));
  EXPECT_EQ(f.Item("tm").GetValue().date(), (Date{1899, 12, 30, 5, 6, 7}));
  rs->MoveNext();
  EXPECT_EQ(f.Item("b").GetValue(), Value::Boolean(false));
  EXPECT_TRUE(f.Item("ts").GetValue().IsNull());
}

TEST_F(OdbcSqlite, TheDatabaseFileIsNeverChanged) {
  std::ifstream in(file_, std::ios::binary);
  const std::string before((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const char* attack : {"pragma journal_mode=wal", "pragma user_version=7", "delete from t",
                                    "select 1 as a; delete from t", "create table x (a)", "vacuum"}) {
    SCOPED_TRACE(attack);
    try {
      auto rs = OpenStatic(attack, conn_);
    } catch (const Error&) {
    }
  }
  std::ifstream again(file_, std::ios::binary);
  const std::string after((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(after == before) << "the database file changed";
  EXPECT_FALSE(fs::exists(file_ + "-wal"));
  EXPECT_EQ(OpenStatic("t", conn_)->RecordCount(), 5000);
}

TEST_F(OdbcSqlite, TheDriversErrorsReachTheDescription) {
  const Error e = Raised([&] { OpenForwardOnly("no_such_table", conn_); });
  EXPECT_EQ(e.number(), kErrProvider);
  EXPECT_NE(e.description().find("no such table"), std::string::npos) << e.description();
}

}  // namespace
}  // namespace qeldata
