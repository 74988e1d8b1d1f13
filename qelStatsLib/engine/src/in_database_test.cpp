// The univariate run with its reading pass in the database agrees with the
// record-by-record run over the same table: BaseBall and College in SQLite
// (libsqlite3) and in PostgreSQL (through unixODBC; skipped without the test
// server of scripts/pg-test-server.sh). Counts and order statistics are
// identical, and so is everything for whole-number fields and weights;
// fractional sums agree to 1e-12 relative.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "qelStatsLib/QelUnivariate.h"
#include "qelStatsLib/modUnivariate.h"
#include "qeldata/aggregate.h"

namespace qel {
namespace {

namespace fs = std::filesystem;

const std::string kDatasets = QEL_SOURCE_DIR "/VesquinDemo/datasets";

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

const char* PgConn() {
  const char* pg = std::getenv("QEL_TEST_PG_CONN");
  return pg && *pg ? pg : nullptr;
}

// psql on the test server (or the cluster in `dir`), as the loader.
void PgSql(const std::string& sql, const std::string& dir = "") {
  const std::string cmd = ShellQuote(std::getenv("QEL_TEST_PG_HELPER")) + " psql " +
                          ShellQuote(dir.empty() ? std::getenv("QEL_TEST_PG_DIR") : dir) +
                          " -X -q -v ON_ERROR_STOP=1 -c " + ShellQuote(sql) + " >/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << sql;
}

// College's columns: numbers but for the last three. Fractions are double
// precision: a single-precision real reaches the record-by-record read in the
// driver's shortest decimal form, while the database sums its binary value.
const char* kCollegeTypes =
    "AdmitRate double precision, SAT_Avg integer, SAT_ReadMid integer, SAT_MathMid integer, ACT_Mid integer, "
    "Enrollment integer, PartTimeShare double precision, WomenShare double precision, TuitionIn integer, TuitionOut integer, "
    "AttendCost integer, NetPrice integer, PellShare double precision, GradRate double precision, Retention double precision, InstrSpend integer, "
    "FacSalaryMonth integer, SF_Ratio integer, Earnings10yr integer, Control varchar(40), State varchar(2), "
    "Name varchar(120)";
const char* kBaseballTypes =
    "Salary integer, AB integer, R integer, H integer, Doubles integer, Triples integer, HR integer, "
    "RBI integer, BB integer, SO integer, SB integer, CS integer, AVG numeric(6,3), G integer, IBB integer, "
    "HBP integer, SH integer, SF integer, GIDP integer, Age integer, Seasons integer, Height integer, "
    "Weight integer, Team varchar(3), League varchar(2), Position varchar(2), Bats varchar(1), "
    "Throws varchar(1), Player varchar(40)";

std::vector<std::string> ColumnNames(const char* types) {
  std::vector<std::string> names;
  std::string s = types;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t space = s.find(' ', i);
    names.push_back(s.substr(i, space - i));
    const std::size_t comma = s.find(", ", space);
    if (comma == std::string::npos) break;
    i = comma + 2;
  }
  return names;
}

// Both files in one SQLite database, typed, empty cells as NULL.
class InDatabase : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::system("command -v sqlite3 >/dev/null") != 0) return;
    dir_ = fs::temp_directory_path() / ("qel_in_database_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    std::ofstream script(dir_ / "load.sql");
    for (const auto& [table, types, file] : {std::tuple{"baseball", kBaseballTypes, "BaseBall.csv"},
                                             std::tuple{"college", kCollegeTypes, "College.csv"}}) {
      script << "create table " << table << " (" << types << ");\n.import --csv --skip 1 '" << kDatasets << "/"
             << file << "' " << table << "\n";
      for (const std::string& c : ColumnNames(types))
        script << "update " << table << " set " << c << " = null where " << c << " = '';\n";
    }
    script.close();
    const std::string db = (dir_ / "data.db").string();
    if (std::system(("sqlite3 " + ShellQuote(db) + " < " + ShellQuote((dir_ / "load.sql").string())).c_str()) == 0)
      sqlite_ = "Driver=SQLite3;Database=" + db;
    if (PgConn()) {
      PgSql("drop table if exists college; create table college (" + std::string(kCollegeTypes) + ")");
      PgSql("\\copy college from '" + kDatasets + "/College.csv' with (format csv, header true)");
    }
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  static inline fs::path dir_;
  static inline std::string sqlite_;
};

struct Results {
  bool run = false;
  std::vector<double> values;
};

Results Univariate(const std::string& connection, const std::string& source, const std::string& field,
                   const std::string& weight, bool in_database) {
  QelUnivariate u;
  u.SetConnectionString(connection);
  u.SetSource(source);
  u.SetFieldName(field);
  u.SetWeightField(weight);
  u.SetRunOptions({.InDatabase = in_database});
  Results r;
  r.run = u.Run();
  r.values = {u.N(),      u.WgtN(), u.Missing(), u.Sum(), u.Mean(), u.Variance(), u.Stdev(),       u.CV(),
              u.Min(),    u.Max(),  u.Range(),   u.Cardinality(), u.Uniques(), u.Mode(), u.Median(), u.Q1(),
              u.Q3(),     u.IQR(),  u.TrimmedMean(), u.Skewness(), u.Kurtosis()};
  return r;
}

// Indices of the results that are counts or order statistics: identical always.
bool IsExactAlways(std::size_t i) { return i == 0 || i == 2 || (i >= 8 && i <= 17); }

struct Case {
  std::string source, field, weight;
  bool whole;  // values and weights are whole numbers
};

const std::vector<Case> kCases = {
    {"baseball", "Salary", "", true},        {"baseball", "HR", "", true},
    {"baseball", "Weight", "Salary", true},  {"baseball", "AVG", "", false},
    {"baseball", "AVG", "G", false},         {"baseball", "Player", "", true},
    {"college", "SAT_Avg", "", true},        {"college", "Enrollment", "SF_Ratio", true},
    {"college", "AdmitRate", "", false},     {"college", "TuitionIn", "AdmitRate", false},
    {"college", "GradRate", "Enrollment", false},
    {"select * from college where Control = 'Public'", "NetPrice", "", true},
};

void ExpectAgreement(const std::string& conn, const Case& c) {
  const std::string what = c.source + " " + c.field + "/" + c.weight;
  const Results want = Univariate(conn, c.source, c.field, c.weight, false);
  const Results got = Univariate(conn, c.source, c.field, c.weight, true);
  EXPECT_EQ(want.run, got.run) << what;
  EXPECT_EQ(want.run, c.field != "Player") << what << ": " << LastStopReason();
  for (std::size_t i = 0; i < want.values.size(); ++i) {
    if (c.whole || IsExactAlways(i)) {
      EXPECT_EQ(want.values[i], got.values[i]) << what << " result " << i;
    } else {
      EXPECT_LE(std::fabs(want.values[i] - got.values[i]), 1e-12 * std::fabs(want.values[i])) << what << " result " << i;
    }
  }
}

TEST_F(InDatabase, SqliteAgreesWithTheRecordByRecordRun) {
  if (sqlite_.empty()) GTEST_SKIP() << "the sqlite3 program is not installed";
  for (const Case& c : kCases) ExpectAgreement(sqlite_, c);
}

TEST_F(InDatabase, PostgresAgreesWithTheRecordByRecordRun) {
  if (!PgConn()) GTEST_SKIP() << "QEL_TEST_PG_CONN is not set: run the tests through scripts/pg-test-server.sh";
  for (const Case& c : kCases) ExpectAgreement(PgConn(), c);
}

TEST_F(InDatabase, TheQueryIsOneGroupByWithQuotedNames) {
  if (!PgConn()) GTEST_SKIP() << "QEL_TEST_PG_CONN is not set";
  qeldata::AggregateReader reader(PgConn(), "baseball");
  qeldata::AggregateSpec spec;
  spec.value_field = "salary";  // found without regard to case, sent as the table spells it
  spec.weight_field = "AB";
  EXPECT_EQ(reader.QueryText(spec),
            "select \"Salary\", count(*), count(\"AB\"), count(\"AB\"), sum(cast(\"AB\" as double precision)) from (\nselect * from baseball\n) q "
            "group by \"Salary\"");
}

// Names holding the quote character are doubled inside it; a name is never
// pasted into the query bare.
TEST_F(InDatabase, QuotesInsideNamesAreDoubled) {
  if (sqlite_.empty()) GTEST_SKIP() << "the sqlite3 program is not installed";
  const std::string source = "select Salary as \"a\"\"b\", AB as \"x) q; --\" from baseball";
  qeldata::AggregateReader reader(sqlite_, source);
  qeldata::AggregateSpec spec;
  spec.value_field = "a\"b";
  spec.weight_field = "x) q; --";
  EXPECT_EQ(reader.QueryText(spec), "select \"a\"\"b\", \"x) q; --\" from (\n" + source + "\n) q");
  const Results plain = Univariate(sqlite_, "baseball", "Salary", "AB", false);
  const Results quoted = Univariate(sqlite_, source, "a\"b", "x) q; --", true);
  EXPECT_TRUE(quoted.run) << LastStopReason();
  EXPECT_EQ(plain.values, quoted.values);
}

// Bad input: a one-line reason, nothing changed, the process fine.
TEST_F(InDatabase, BadInputIsAOneLineErrorAndNothingIsWritten) {
  if (sqlite_.empty()) GTEST_SKIP() << "the sqlite3 program is not installed";
  auto raised = [](const std::string& conn, const std::string& source) -> std::string {
    try {
      Univariate(conn, source, "Salary", "", true);
    } catch (const qeldata::Error& e) {
      EXPECT_EQ(e.description().find('\n'), std::string::npos) << e.description();
      return e.description();
    }
    return "(nothing raised)";
  };
  // The text provider has no database: refused, not silently read record by record.
  EXPECT_NE(raised("Text;DBQ=" + kDatasets, "BaseBall.csv").find("in-database runs need a database"),
            std::string::npos);
  std::vector<std::string> conns{sqlite_};
  if (PgConn()) conns.push_back(PgConn());
  for (const std::string& conn : conns) {
    const bool pg = conn != sqlite_;
    const std::string rejected = raised(conn, "select * from no_such_table");
    EXPECT_NE(rejected.find(pg ? "42P01" : "no such table"), std::string::npos) << rejected;
    for (const char* hostile : {"delete from baseball", "drop table baseball",
                                "select * from baseball; delete from baseball"})
      EXPECT_NE(raised(conn, hostile), "(nothing raised)") << hostile;
    EXPECT_EQ(Univariate(conn, "baseball", "Salary", "", true).values[0], 920);  // the data is intact
    // A field the source lacks: the record-by-record run's reason, Run false.
    EXPECT_FALSE(Univariate(conn, "baseball", "Salry", "", true).run);
    EXPECT_NE(LastStopReason().find("Unknown field 'Salry'"), std::string::npos) << LastStopReason();
    EXPECT_FALSE(Univariate(conn, "baseball", "Salary", "Wieght", true).run);
    EXPECT_NE(LastStopReason().find("Unknown field 'Wieght'"), std::string::npos) << LastStopReason();
  }
}

// The server goes away while the database groups: Run returns false with the
// driver's SQLSTATE and message, and the process carries on. The test runs
// its own cluster so the others keep theirs.
TEST_F(InDatabase, AServerThatGoesAwayMidQueryIsAFailure) {
  if (!PgConn()) GTEST_SKIP() << "QEL_TEST_PG_CONN is not set";
  const std::string helper = std::getenv("QEL_TEST_PG_HELPER");
  const std::string dir = std::string(std::getenv("QEL_TEST_PG_DIR")) + "/in-db-" + std::to_string(getpid());
  FILE* out = popen((ShellQuote(helper) + " start " + ShellQuote(dir)).c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string text, conn;
  char buf[512];
  while (std::fgets(buf, sizeof buf, out)) text += buf;
  ASSERT_EQ(pclose(out), 0) << text;
  for (std::size_t at = text.find("QEL_TEST_PG_CONN="); at != std::string::npos; at = std::string::npos)
    conn = text.substr(at + 17, text.find('\n', at) - at - 17);
  ASSERT_FALSE(conn.empty()) << text;
  struct Cleanup {
    std::string cmd;
    ~Cleanup() { (void)std::system(cmd.c_str()); }
  } cleanup{ShellQuote(helper) + " stop " + ShellQuote(dir)};

  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    (void)std::system((ShellQuote(helper) + " kill " + ShellQuote(dir)).c_str());
  });
  const Results r =
      Univariate(conn, "select g % 100000 as x, pg_sleep(0.000001) as s from generate_series(1, 3000000) g", "x",
                 "", true);
  killer.join();
  EXPECT_FALSE(r.run);
  const std::string reason = LastStopReason();
  EXPECT_EQ(reason.find('\n'), std::string::npos);
  EXPECT_TRUE(reason.find("08") != std::string::npos || reason.find("57P") != std::string::npos) << reason;
  // The process is fine: the shared server still answers.
  EXPECT_TRUE(Univariate(PgConn(), "baseball", "Salary", "", true).run);
}

}  // namespace
}  // namespace qel
