// The univariate, outlier and bivariate runs with their reading pass in the
// database agree with the record-by-record runs over the same table: BaseBall and College in SQLite
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

#include "qelStatsLib/QelBivariate.h"
#include "qelStatsLib/QelOutlier.h"
#include "qelStatsLib/QelUnivariate.h"
#include "qelStatsLib/recording_presenter.h"
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
      // ctest runs each test in a process of its own, several at once, on
      // one server: the first loads the table, under a lock the others wait
      // for, and none sees it half loaded.
      std::ofstream load(dir_ / "college.sql");
      load << "select pg_advisory_lock(7301);\n"
           << "create table if not exists college (" << kCollegeTypes << ");\n"
           << "select count(*) = 0 as empty from college \\gset\n"
           << "\\if :empty\n"
           << "\\copy college from '" << kDatasets << "/College.csv' with (format csv, header true)\n"
           << "\\endif\n"
           << "select pg_advisory_unlock(7301);\n";
      load.close();
      const std::string cmd = ShellQuote(std::getenv("QEL_TEST_PG_HELPER")) + " psql " +
                              ShellQuote(std::getenv("QEL_TEST_PG_DIR")) + " -X -q -v ON_ERROR_STOP=1 -f " +
                              ShellQuote((dir_ / "college.sql").string()) + " >/dev/null";
      ASSERT_EQ(std::system(cmd.c_str()), 0);
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
  qeldata::AggregateRequest request;
  request.value_field = "salary";  // found without regard to case, sent as the table spells it
  request.weight_field = "AB";
  EXPECT_EQ(reader.QueryText(request),
            "select \"Salary\", count(*), count(\"AB\"), sum(cast(\"AB\" as double precision)) from (\nselect * from baseball\n) q "
            "group by \"Salary\"");
  // A segmentation adds the target sums; a double precision column is summed as it is.
  request.value_field = "Team";
  request.target_field = "AVG";  // numeric(6,3)
  EXPECT_EQ(reader.QueryText(request),
            "select \"Team\", count(*), count(\"AB\"), count(case when \"AVG\" is not null then \"AB\" end), "
            "sum(case when \"AVG\" is not null then cast(\"AB\" as double precision) end), "
            "sum(cast(\"AVG\" as double precision) * cast(\"AB\" as double precision)), "
            "sum(case when \"AVG\" is null then cast(\"AB\" as double precision) end) from (\nselect * from baseball\n) q "
            "group by \"Team\"");
  // Unweighted, no target: the count alone.
  request.weight_field.clear();
  request.target_field.clear();
  EXPECT_EQ(reader.QueryText(request), "select \"Team\", count(*) from (\nselect * from baseball\n) q group by \"Team\"");
}

// PostgreSQL groups 100,000 values in memory: the session's work_mem is
// raised to 64 MB for the query, unless the connection string sets it.
TEST_F(InDatabase, PostgresGroupsInMemory) {
  if (!PgConn()) GTEST_SKIP() << "QEL_TEST_PG_CONN is not set";
  const std::string source = "select pg_size_bytes(current_setting('work_mem')) as wm from generate_series(1, 3)";
  EXPECT_EQ(Univariate(PgConn(), source, "wm", "", true).values[8], 64.0 * 1024 * 1024);  // Min
  EXPECT_EQ(Univariate(PgConn(), source, "wm", "", false).values[8], 4.0 * 1024 * 1024);
  const std::string own = std::string(PgConn()) + ";ConnSettings=set work_mem='8MB';";
  EXPECT_EQ(Univariate(own, source, "wm", "", true).values[8], 8.0 * 1024 * 1024);
}

// Names holding the quote character are doubled inside it; a name is never
// pasted into the query bare.
TEST_F(InDatabase, QuotesInsideNamesAreDoubled) {
  if (sqlite_.empty()) GTEST_SKIP() << "the sqlite3 program is not installed";
  const std::string source = "select Salary as \"a\"\"b\", AB as \"x) q; --\" from baseball";
  qeldata::AggregateReader reader(sqlite_, source);
  qeldata::AggregateRequest request;
  request.value_field = "a\"b";
  request.weight_field = "x) q; --";
  EXPECT_EQ(reader.QueryText(request), "select \"a\"\"b\", \"x) q; --\" from (\n" + source + "\n) q");
  const Results plain = Univariate(sqlite_, "baseball", "Salary", "AB", false);
  const Results quoted = Univariate(sqlite_, source, "a\"b", "x) q; --", true);
  EXPECT_TRUE(quoted.run) << LastStopReason();
  EXPECT_EQ(plain.values, quoted.values);
}

// A result table's cells, row by row, from its first row.
std::vector<std::vector<qeldata::Value>> Cells(const std::shared_ptr<qeldata::Recordset>& table) {
  std::vector<std::vector<qeldata::Value>> rows;
  if (!table || (table->IsBOF() && table->IsEOF())) return rows;
  table->MoveFirst();
  const qeldata::Fields fields = table->GetFields();
  for (; !table->IsEOF(); table->MoveNext()) {
    rows.emplace_back();
    for (int i = 0; i < fields.Count(); ++i) rows.back().push_back(fields.Item(i).GetValue());
  }
  return rows;
}

// `got` equals `want`, or lies within 1e-12 relative of it when `close` is enough.
void ExpectNear(double want, double got, bool close, const std::string& what) {
  if (close) EXPECT_LE(std::fabs(want - got), 1e-12 * std::fabs(want)) << what << ": " << want << " vs " << got;
  else EXPECT_EQ(want, got) << what;
}

struct TableRun {
  bool run = false;
  std::vector<double> values;
  std::vector<std::vector<qeldata::Value>> rows;
  std::string reason;
};

struct OutlierCase {
  std::string source, field, weight;
  OutlierType rule;
  double parm;
  bool whole;
};

TableRun Outlier(const std::string& connection, const OutlierCase& c, bool in_database) {
  RecordingPresenter presenter;
  ScopedPresenter scoped(&presenter);
  QelOutlier o;
  o.SetConnectionString(connection);
  o.SetSource(c.source);
  o.SetOutlierField(c.field);
  o.SetWeightField(c.weight);
  o.SetFindType(c.rule);
  o.SetTypeParm(c.parm);
  o.SetshowStatus(false);
  o.SetRunOptions({.InDatabase = in_database});
  TableRun r;
  r.run = o.Run();
  for (const auto& m : kOutlierResults) r.values.push_back(o.Results().*m.member);
  r.rows = Cells(o.ResultSet());
  r.reason = o.StopReason();
  return r;
}

const std::vector<OutlierCase> kOutlierCases = {
    {"baseball", "Salary", "", outSTD, 2, true},
    {"baseball", "Salary", "AB", outTMean, 10, true},
    {"baseball", "HR", "G", outSTD, 1.5, true},
    {"baseball", "AVG", "", outTMean, 5, false},
    {"baseball", "AVG", "AB", outSTD, 2, false},
    {"college", "SAT_Avg", "Enrollment", outSTD, 2, true},
    {"college", "AdmitRate", "", outSTD, 1, false},
    {"college", "TuitionIn", "PellShare", outTMean, 20, false},
    {"college", "State", "", outSTD, 2, true},  // a text field: the same refusal
};

// Which of kOutlierResults are counts or order statistics: identical always.
bool OutlierExactAlways(std::string_view name) {
  for (const char* n : {"N", "Missing", "Min", "Max", "Cardinality", "Q1", "Median", "Q3", "OutlierCountN"})
    if (name == n) return true;
  return false;
}

void ExpectOutlierAgreement(const std::string& conn, const OutlierCase& c) {
  const std::string what = c.source + " " + c.field + "/" + c.weight + " rule " + std::to_string(c.rule);
  const TableRun want = Outlier(conn, c, false);
  const TableRun got = Outlier(conn, c, true);
  ASSERT_EQ(want.run, got.run) << what << ": " << want.reason << " | " << got.reason;
  EXPECT_EQ(want.run, c.field != "State") << what << ": " << want.reason;
  EXPECT_EQ(want.reason, got.reason) << what;
  for (std::size_t i = 0; i < want.values.size(); ++i) {
    const std::string_view name = kOutlierResults[i].name;
    ExpectNear(want.values[i], got.values[i], !c.whole && !OutlierExactAlways(name), what + " " + std::string(name));
  }
  ASSERT_EQ(want.rows.size(), got.rows.size()) << what;
  for (std::size_t r = 0; r < want.rows.size(); ++r) {
    EXPECT_EQ(want.rows[r][0], got.rows[r][0]) << what << " row " << r << " Value";
    EXPECT_EQ(want.rows[r][1], got.rows[r][1]) << what << " row " << r << " N";
    ExpectNear(want.rows[r][2].AsNumber(), got.rows[r][2].AsNumber(), !c.whole,
               what + " row " + std::to_string(r) + " Weighted N");
    EXPECT_EQ(want.rows[r][3], got.rows[r][3]) << what << " row " << r << " Outlier";
  }
}

TEST_F(InDatabase, SqliteOutliersAgreeWithTheRecordByRecordRun) {
  if (sqlite_.empty()) GTEST_SKIP() << "the sqlite3 program is not installed";
  for (const OutlierCase& c : kOutlierCases) ExpectOutlierAgreement(sqlite_, c);
}

TEST_F(InDatabase, PostgresOutliersAgreeWithTheRecordByRecordRun) {
  if (!PgConn()) GTEST_SKIP() << "QEL_TEST_PG_CONN is not set: run the tests through scripts/pg-test-server.sh";
  for (const OutlierCase& c : kOutlierCases) ExpectOutlierAgreement(PgConn(), c);
}

struct BivariateCase {
  std::string source, predictor, target, weight;
  std::int16_t bins;
  bool categorical;  // forced
  bool whole;        // targets and weights are whole numbers
};

TableRun Bivariate(const std::string& connection, const BivariateCase& c, bool in_database) {
  RecordingPresenter presenter;
  ScopedPresenter scoped(&presenter);
  QelBivariate b;
  b.SetConnectionString(connection);
  b.SetSource(c.source);
  b.SetPredictorField(c.predictor);
  b.SetTargetField(c.target);
  b.SetWeightField(c.weight);
  b.SetBinCount(c.bins);
  b.SetCategorical(c.categorical);
  b.SetshowStatus(false);
  b.SetRunOptions({.InDatabase = in_database});
  TableRun r;
  r.run = b.Run();
  for (const auto& m : kBivariateResults) r.values.push_back(b.Results().*m.member);
  r.values.push_back(b.Categorical() ? 1 : 0);
  r.rows = Cells(b.ResultSet());
  r.reason = b.StopReason();
  return r;
}

// Upper- and lower-case team codes: a database collation would interleave
// them ("atl" before "BAL"); the categories sort as the record-order run sorts.
const std::string kMixedCaseTeams =
    "select case when \"Salary\" > 1000000 then lower(\"Team\") else \"Team\" end as \"Club\", \"Salary\", \"AB\" "
    "from baseball";

const std::vector<BivariateCase> kBivariateCases = {
    {"baseball", "HR", "Salary", "", 10, false, true},
    {"baseball", "AB", "Salary", "G", 7, false, true},
    {"baseball", "AVG", "Salary", "", 5, false, true},
    {"baseball", "Team", "Salary", "AB", 5, false, true},     // a text predictor
    {"baseball", "Seasons", "HR", "", 200, false, true},      // fewer values than bins
    {"baseball", "Age", "Salary", "", 5, true, true},         // numbers forced categorical: sorted as texts
    {"baseball", "Salary", "AVG", "AB", 8, false, false},
    {kMixedCaseTeams, "Club", "Salary", "AB", 4, false, true},
    {"college", "SAT_Avg", "GradRate", "Enrollment", 10, false, false},
    {"college", "AdmitRate", "Earnings10yr", "", 6, false, true},
    {"college", "Control", "GradRate", "", 3, false, false},
    {"college", "State", "NetPrice", "PellShare", 3, false, false},
    {"select * from college where 1 = 0", "SAT_Avg", "GradRate", "", 4, false, true},  // no records: the same failure
};

void ExpectBivariateAgreement(const std::string& conn, const BivariateCase& c) {
  const std::string what = c.source + " " + c.predictor + "->" + c.target + "/" + c.weight;
  const TableRun want = Bivariate(conn, c, false);
  const TableRun got = Bivariate(conn, c, true);
  ASSERT_EQ(want.run, got.run) << what << ": " << want.reason << " | " << got.reason;
  EXPECT_EQ(want.run, c.source.find("1 = 0") == std::string::npos) << what << ": " << want.reason;
  EXPECT_EQ(want.reason, got.reason) << what;
  for (std::size_t i = 0; i < want.values.size(); ++i) {
    const std::string name = i < std::size(kBivariateResults) ? std::string(kBivariateResults[i].name) : "Categorical";
    const bool exact = name == "N" ? c.whole : name == "Missing" || name == "Cardinality" || name == "Categorical";
    ExpectNear(want.values[i], got.values[i], !c.whole && !exact, what + " " + name);
  }
  ASSERT_EQ(want.rows.size(), got.rows.size()) << what;
  for (std::size_t r = 0; r < want.rows.size(); ++r) {
    for (std::size_t col = 0; col < want.rows[r].size(); ++col) {
      const std::string where = what + " row " + std::to_string(r) + " column " + std::to_string(col);
      // Bin, N, Min and Max are the same texts; the target mean and its index
      // are rounded from sums that may differ in their last bits.
      if (c.whole || col < 4 || want.rows[r][col].IsNull()) {
        EXPECT_EQ(want.rows[r][col], got.rows[r][col]) << where;
      } else {
        EXPECT_NEAR(want.rows[r][col].AsNumber(), got.rows[r][col].AsNumber(),
                    col == 4 ? 1.00001e-5 : 1.0) << where;
      }
    }
  }
}

TEST_F(InDatabase, SqliteSegmentationsAgreeWithTheRecordByRecordRun) {
  if (sqlite_.empty()) GTEST_SKIP() << "the sqlite3 program is not installed";
  for (const BivariateCase& c : kBivariateCases) ExpectBivariateAgreement(sqlite_, c);
}

TEST_F(InDatabase, PostgresSegmentationsAgreeWithTheRecordByRecordRun) {
  if (!PgConn()) GTEST_SKIP() << "QEL_TEST_PG_CONN is not set: run the tests through scripts/pg-test-server.sh";
  for (const BivariateCase& c : kBivariateCases) ExpectBivariateAgreement(PgConn(), c);
}

// The outlier and bivariate classes report an input they cannot group in the
// database as they report every input error: a message, Run false, nothing raised.
TEST_F(InDatabase, OutlierAndBivariateRefuseWhatTheyCannotGroup) {
  const std::string text = "Text;DBQ=" + kDatasets;
  const TableRun o = Outlier(text, {"BaseBall.csv", "Salary", "", outSTD, 2, true}, true);
  EXPECT_FALSE(o.run);
  EXPECT_NE(o.reason.find("in-database runs need a database"), std::string::npos) << o.reason;
  const TableRun b = Bivariate(text, {"BaseBall.csv", "HR", "Salary", "", 5, false, true}, true);
  EXPECT_FALSE(b.run);
  EXPECT_NE(b.reason.find("in-database runs need a database"), std::string::npos) << b.reason;
  if (sqlite_.empty()) return;
  const TableRun unknown = Bivariate(sqlite_, {"baseball", "HR", "Salry", "", 5, false, true}, true);
  EXPECT_FALSE(unknown.run);
  EXPECT_NE(unknown.reason.find("Unknown field 'Salry'"), std::string::npos) << unknown.reason;
  const TableRun rejected = Outlier(sqlite_, {"select * from no_such_table", "Salary", "", outSTD, 2, true}, true);
  EXPECT_FALSE(rejected.run);
  EXPECT_NE(rejected.reason.find("no such table"), std::string::npos) << rejected.reason;
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
