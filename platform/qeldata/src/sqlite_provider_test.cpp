// The SQLite provider: a database written with libsqlite3, read back through Recordset.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "provider.h"
#include "qeldata/recordset.h"

namespace qeldata {
namespace {

namespace fs = std::filesystem;

class SqliteProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("sqlite_provider_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    db_path_ = (dir_ / "test.db").string();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(db_path_.c_str(), &db), SQLITE_OK);
    char* err = nullptr;
    const char* sql =
        "BEGIN;"
        "CREATE TABLE people (id INTEGER, big BIGINT, name VARCHAR(40), note TEXT, story CLOB, score REAL,"
        "  price NUMERIC(10,2), born DATE, seen DATETIME, active BOOLEAN, raw BLOB, anything);"
        "INSERT INTO people VALUES (1, 9007199254740993, 'Ann', 'x', 'long', 2.5, 10.25, '1990-05-01',"
        "  '2024-01-02 03:04:05', 1, x'00ff', 7);"
        "INSERT INTO people VALUES (2, NULL, 'Bob', NULL, NULL, NULL, NULL, NULL, NULL, 0, NULL, NULL);"
        "CREATE TABLE mixed (anything); INSERT INTO mixed VALUES (7); INSERT INTO mixed VALUES ('seven');"
        "CREATE TABLE \"odd name\" (v INTEGER);"
        "INSERT INTO \"odd name\" VALUES (5);"
        "CREATE TABLE bad (n INTEGER, d DATE, b BOOLEAN);"
        "INSERT INTO bad VALUES (1, '2020-01-01', 1);"
        "INSERT INTO bad VALUES ('12', '2020-01-02', 'true');"
        "INSERT INTO bad VALUES ('n/a', '2020-01-03', 0);"
        "CREATE TABLE baddate (d DATE); INSERT INTO baddate VALUES ('yesterday');"
        "CREATE TABLE many (i INTEGER);"
        "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 10000)"
        "  INSERT INTO many SELECT x FROM c;"
        "COMMIT;";
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
    sqlite3_close(db);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Conn() const { return "Driver=SQLite3;Database=" + db_path_; }

  std::unique_ptr<Recordset> Open(const std::string& source, int location = adUseServer) {
    auto rs = std::make_unique<Recordset>();
    rs->SetCursorLocation(location);
    rs->Open(source, Conn(), adOpenForwardOnly, adLockReadOnly, -1);
    return rs;
  }
  std::string OpenError(const std::string& source, const std::string& connection = "") {
    try {
      Recordset rs;
      rs.Open(source, connection.empty() ? Conn() : connection, adOpenForwardOnly, adLockReadOnly, -1);
      for (; !rs.IsEOF(); rs.MoveNext()) {
      }
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  }

  fs::path dir_;
  std::string db_path_;
};

TEST_F(SqliteProviderTest, DeclaredTypesMapToTypeCodes) {
  auto rs = Open("people");
  Fields f = rs->GetFields();
  EXPECT_EQ(f.Item("id").Type(), adInteger);
  EXPECT_EQ(f.Item("big").Type(), adBigInt);
  EXPECT_EQ(f.Item("name").Type(), adVarWChar);
  EXPECT_EQ(f.Item("name").DefinedSize(), 40);
  EXPECT_EQ(f.Item("note").Type(), adVarWChar);
  EXPECT_EQ(f.Item("story").Type(), adLongVarWChar);
  EXPECT_EQ(f.Item("score").Type(), adDouble);
  EXPECT_EQ(f.Item("price").Type(), adNumeric);
  EXPECT_EQ(f.Item("born").Type(), adDate);
  EXPECT_EQ(f.Item("seen").Type(), adDate);
  EXPECT_EQ(f.Item("active").Type(), adBoolean);
  EXPECT_EQ(f.Item("raw").Type(), adLongVarBinary);
  EXPECT_EQ(f.Item("anything").Type(), adBigInt);  // no declared type: the first stored value's
}

TEST_F(SqliteProviderTest, RoundTripOfValues) {
  auto rs = Open("people", adUseClient);
  Fields f = rs->GetFields();
  ASSERT_EQ(rs->RecordCount(), 2);
  EXPECT_EQ(f.Item("id").GetValue().number(), 1);
  EXPECT_TRUE(f.Item("id").GetValue().IsCanonicalNumber());
  EXPECT_EQ(f.Item("big").GetValue().number(), 9007199254740993.0);
  EXPECT_FALSE(f.Item("big").GetValue().IsCanonicalNumber());  // 16 digits
  EXPECT_EQ(f.Item("name").GetValue().text(), "Ann");
  EXPECT_EQ(f.Item("score").GetValue().number(), 2.5);
  EXPECT_EQ(f.Item("price").GetValue().number(), 10.25);
  EXPECT_EQ(f.Item("born").GetValue().date(), (Date{1990, 5, 1}));
  EXPECT_EQ(f.Item("seen").GetValue().date(), (Date{2024, 1, 2, 3, 4, 5}));
  EXPECT_TRUE(f.Item("active").GetValue().boolean());
  EXPECT_EQ(f.Item("raw").GetValue().text(), "0x00FF");  // every byte kept, and no number
  rs->MoveNext();
  EXPECT_TRUE(f.Item("big").GetValue().IsNull());
  EXPECT_TRUE(f.Item("born").GetValue().IsNull());
  EXPECT_FALSE(f.Item("active").GetValue().boolean());
  EXPECT_TRUE(f.Item("raw").GetValue().IsNull());
  // A text stored in a column typed by its first value is a mismatch, not zero.
  EXPECT_EQ(OpenError("select anything from mixed"),
            "test.db, row 2, field 'anything': a text ('seven') does not fit the column's type (20)");
}

TEST_F(SqliteProviderTest, TextInNumericColumnIsAnErrorNotZero) {
  // '12' reads as the number it spells; 'n/a' is refused with table, row and field.
  auto rs = Open("select n from bad limit 2");
  rs->MoveNext();
  EXPECT_EQ(rs->GetFields().Item(0).GetValue().number(), 12);
  EXPECT_EQ(OpenError("bad"),
            "test.db table 'bad', row 3, field 'n': a text ('n/a') does not fit the column's type (3)");
  EXPECT_EQ(OpenError("baddate"),
            "test.db table 'baddate', row 1, field 'd': a text ('yesterday') does not fit the column's type (7)");
}

TEST_F(SqliteProviderTest, SourcesAndExpressions) {
  EXPECT_EQ(Open("[odd name]")->GetFields().Item("v").GetValue().number(), 5);
  EXPECT_EQ(Open("PEOPLE")->GetFields().Count(), 12);
  auto rs = Open("select count(*) as n, avg(score) as mean, max(name) as top, null as blank from people");
  Fields f = rs->GetFields();
  EXPECT_EQ(f.Item("n").Type(), adBigInt);
  EXPECT_EQ(f.Item("mean").Type(), adDouble);
  EXPECT_EQ(f.Item("top").Type(), adVarWChar);
  EXPECT_EQ(f.Item("blank").Type(), adVarWChar);
  EXPECT_EQ(f.Item("n").GetValue().number(), 2);
  // Data Source= is the other spelling of the file.
  Recordset other;
  other.Open("people", "Driver=SQLite3;Data Source=" + db_path_, adOpenStatic, adLockReadOnly, -1);
  EXPECT_EQ(other.RecordCount(), 2);
}

TEST_F(SqliteProviderTest, StreamsAcrossBlocksAndRereads) {
  auto rs = Open("many");
  double sum = 0;
  int n = 0;
  for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext(), ++n) sum += rs->GetFields().Item(0).GetValue().number();
  EXPECT_EQ(n, 10000);
  EXPECT_EQ(sum, 50005000);
  rs->MoveFirst();
  EXPECT_EQ(rs->GetFields().Item(0).GetValue().number(), 1);
}

// Every file in `dir`, by name.
std::vector<std::string> FilesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void Exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
}

double CountRows(const std::string& db_path, const std::string& table) {
  Recordset rs;
  rs.Open("select count(*) from " + table, "Driver=SQLite3;Database=" + db_path, adOpenForwardOnly,
          adLockReadOnly, -1);
  return rs.GetFields().Item(0).GetValue().number();
}

// Runs `read` as a user who cannot write the folder: as root, in a child
// process that has become "nobody" (root writes anywhere); otherwise with
// the folder made read-only. Returns what `read` returned, or -1.
int AsUserWhoCannotWrite(const fs::path& folder, const std::function<int()>& read) {
  ::chmod(folder.c_str(), 0555);
  if (::geteuid() != 0) {
    const int result = read();
    ::chmod(folder.c_str(), 0755);
    return result;
  }
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(101);
    if (::access(folder.c_str(), W_OK) == 0) ::_exit(102);  // the folder must really be closed to writes
    ::_exit(read());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ::chmod(folder.c_str(), 0755);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(SqliteProviderTest, WalDatabaseIsReadWithoutWritingBesideIt) {
  // A database left in WAL mode by its last writer: everything is in the file.
  const fs::path folder = dir_ / "wal";
  fs::create_directories(folder);
  ::chmod(dir_.c_str(), 0755);
  const std::string path = (folder / "w.db").string();
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    Exec(db, "PRAGMA journal_mode=WAL; CREATE TABLE t (v INTEGER); INSERT INTO t VALUES (1), (2), (3);");
    sqlite3_close(db);
  }
  ASSERT_EQ(FilesIn(folder), std::vector<std::string>{"w.db"});

  EXPECT_EQ(CountRows(path, "t"), 3);
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"w.db"});  // no -wal, no -shm left behind

  // In a folder the reader may not write to (and that holds nothing else).
  fs::remove(path + "-wal");
  fs::remove(path + "-shm");
  ::chmod(path.c_str(), 0444);
  const int rows = AsUserWhoCannotWrite(folder, [&] {
    try {
      return static_cast<int>(CountRows(path, "t"));
    } catch (const Error& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 0;
    }
  });
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"w.db"});
}

TEST_F(SqliteProviderTest, WalDatabaseInUseIsReadThroughItsLog) {
  // A writer holds the database open; its last commits are in the log only.
  const std::string path = (dir_ / "live.db").string();
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
  Exec(writer, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; CREATE TABLE t (v INTEGER);");
  Exec(writer, "INSERT INTO t VALUES (1), (2), (3), (4);");
  ASSERT_TRUE(fs::exists(path + "-wal"));
  const auto files_before = FilesIn(dir_);

  // Read as an unchanging file, the four rows would be missing.
  EXPECT_EQ(CountRows(path, "t"), 4);
  Exec(writer, "INSERT INTO t VALUES (5);");
  EXPECT_EQ(CountRows(path, "t"), 5);
  EXPECT_EQ(FilesIn(dir_), files_before);
  sqlite3_close(writer);
}

TEST_F(SqliteProviderTest, FailedOpensReleaseStatementAndConnection) {
  // The column type of an expression comes from a first run of the query;
  // when that run fails, the query's statement and its connection must go.
  const std::string overflow = "select abs(-9223372036854775807 - 1) as a";
  EXPECT_NE(OpenError(overflow).find("integer overflow"), std::string::npos);
  EXPECT_NE(OpenError("select load_extension('nonexistent') as a").find("not authorized"), std::string::npos);
  const sqlite3_int64 settled = sqlite3_memory_used();
  for (int i = 0; i < 20; ++i) OpenError(overflow);
  EXPECT_EQ(sqlite3_memory_used(), settled);
}

TEST_F(SqliteProviderTest, ReadOnlyAndErrors) {
  const auto before = fs::last_write_time(db_path_);
  EXPECT_NE(OpenError("delete from people").find("no such table"), std::string::npos);
  EXPECT_NE(OpenError("select 1; delete from people").find("more than one statement"), std::string::npos);
  EXPECT_NE(OpenError("with x as (select 1) insert into people(id) select * from x")
                .find("only statements that read data"),
            std::string::npos);
  EXPECT_NE(OpenError("select nope from people").find("no such column: nope"), std::string::npos);
  EXPECT_EQ(OpenError("nosuch"), "no such table: 'nosuch' in test.db");
  EXPECT_EQ(fs::last_write_time(db_path_), before);
  EXPECT_EQ(Open("select count(*) from people")->GetFields().Item(0).GetValue().number(), 2);

  // A missing file is reported and never created.
  const std::string missing = (dir_ / "missing.db").string();
  EXPECT_EQ(OpenError("t", "Driver=SQLite3;Database=" + missing), "cannot open database " + missing + ": no such file");
  EXPECT_FALSE(fs::exists(missing));
  // A file that is no database: SQLite's own message.
  std::ofstream(dir_ / "text.db") << "this is not a database, just some text that is long enough to matter.....";
  EXPECT_NE(OpenError("t", "Driver=SQLite3;Database=" + (dir_ / "text.db").string()).find("not a database"),
            std::string::npos);
  // Only the database file itself: no journal or other file appeared.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

// Names as the providers write them into SQL: SQLite's (and the text
// provider's) double quotes, or the quote mark an ODBC driver reports.
TEST(DelimitedIdentifier, DoublesTheQuoteMarkInsideTheName) {
  EXPECT_EQ(detail::DelimitedIdentifier("Salary"), "\"Salary\"");
  EXPECT_EQ(detail::DelimitedIdentifier("a\"b"), "\"a\"\"b\"");
  EXPECT_EQ(detail::DelimitedIdentifier(""), "\"\"");
  EXPECT_EQ(detail::DelimitedIdentifier("a`b\"", "`"), "`a``b\"`");
  EXPECT_EQ(detail::DelimitedIdentifier("a\"b", ""), "a\"b") << "a driver that names no quote mark";
}

}  // namespace
}  // namespace qeldata
