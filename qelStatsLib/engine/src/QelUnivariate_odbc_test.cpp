// The univariate analysis reads the same numbers from a database as from the
// CSV file: BaseBall in PostgreSQL (table "baseball" of the test server, see
// scripts/pg-test-server.sh) and in an SQLite file read through SQLite's ODBC
// driver give exactly the results of BaseBall.csv.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "qelStatsLib/QelUnivariate.h"

namespace qel {
namespace {

namespace fs = std::filesystem;

const std::string kDatasets = QEL_SOURCE_DIR "/VesquinDemo/datasets";

struct Results {
  bool run = false;
  std::vector<double> values;
};

Results Univariate(const std::string& connection, const std::string& source, const std::string& field,
                   const std::string& weight = "") {
  QelUnivariate u;
  u.SetConnectionString(connection);
  u.SetSource(source);
  u.SetFieldName(field);
  u.SetWeightField(weight);
  u.SetshowStatus(false);
  Results r;
  r.run = u.Run();
  r.values = {u.N(),      u.WgtN(),  u.Missing(), u.Sum(),         u.Mean(),     u.Variance(), u.Stdev(),
              u.CV(),     u.Min(),   u.Max(),     u.Range(),       u.Cardinality(), u.Uniques(), u.Mode(),
              u.Median(), u.Q1(),    u.Q3(),      u.IQR(),         u.TrimmedMean(), u.Skewness(), u.Kurtosis()};
  return r;
}

void ExpectSame(const Results& want, const Results& got, const std::string& what) {
  EXPECT_EQ(want.run, got.run) << what;
  ASSERT_EQ(want.values.size(), got.values.size());
  for (std::size_t i = 0; i < want.values.size(); ++i) {
    if (std::isnan(want.values[i])) EXPECT_TRUE(std::isnan(got.values[i])) << what << " result " << i;
    else EXPECT_EQ(want.values[i], got.values[i]) << what << " result " << i;
  }
}

// Analyses of numeric fields with and without missing values, weighted, and of a text field (which fails).
const std::vector<std::pair<std::string, std::string>> kCases = {
    {"Salary", ""}, {"AVG", ""}, {"HR", ""}, {"Weight", "Salary"}, {"AVG", "G"}, {"Player", ""}};

const std::string kCsv = "Text;DBQ=" + kDatasets;

TEST(QelUnivariateOdbc, PostgresGivesTheCsvResults) {
  const char* pg = std::getenv("QEL_TEST_PG_CONN");
  if (!pg || !*pg) GTEST_SKIP() << "QEL_TEST_PG_CONN is not set: run the tests through scripts/pg-test-server.sh";
  for (const auto& [field, weight] : kCases) {
    const Results csv = Univariate(kCsv, "BaseBall.csv", field, weight);
    EXPECT_EQ(csv.run, field != "Player") << field;
    ExpectSame(csv, Univariate(pg, "baseball", field, weight), "table " + field + "/" + weight);
  }
  // SQL text with a where clause against the same selection of the file.
  const Results csv = Univariate(kCsv, "select * from [BaseBall.csv] where League = 'NL'", "Salary", "AB");
  EXPECT_TRUE(csv.run);
  ExpectSame(csv, Univariate(pg, "select * from baseball where \"League\" = 'NL'", "Salary", "AB"), "where");
}

TEST(QelUnivariateOdbc, SqliteOdbcDriverGivesTheCsvResults) {
  std::string driver;
  for (const char* dir : {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc"})
    if (fs::exists(fs::path(dir) / "libsqlite3odbc.so")) driver = (fs::path(dir) / "libsqlite3odbc.so").string();
  if (driver.empty()) GTEST_SKIP() << "SQLite's ODBC driver (Debian libsqliteodbc) is not installed";
  if (std::system("command -v sqlite3 >/dev/null") != 0) GTEST_SKIP() << "the sqlite3 program is not installed";

  const fs::path dir = fs::temp_directory_path() / ("qel_univariate_odbc_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path db = dir / "baseball.db";
  {
    // Typed columns, and empty cells made NULL as the CSV reader reads them.
    std::ofstream script(dir / "load.sql");
    script << "create table baseball (Salary integer, AB integer, R integer, H integer, Doubles integer, "
              "Triples integer, HR integer, RBI integer, BB integer, SO integer, SB integer, CS integer, "
              "AVG numeric(6,3), G integer, IBB integer, HBP integer, SH integer, SF integer, GIDP integer, "
              "Age integer, Seasons integer, Height integer, Weight integer, Team varchar(3), League varchar(2), "
              "Position varchar(2), Bats varchar(1), Throws varchar(1), Player varchar(40));\n"
              ".import --csv --skip 1 '"
           << kDatasets << "/BaseBall.csv' baseball\n";
    for (const char* c : {"AB", "R", "H", "Doubles", "Triples", "HR", "RBI", "BB", "SO", "SB", "CS", "AVG", "G",
                          "IBB", "HBP", "SH", "SF", "GIDP", "Position"})
      script << "update baseball set " << c << " = null where " << c << " = '';\n";
  }
  ASSERT_EQ(std::system(("sqlite3 '" + db.string() + "' < '" + (dir / "load.sql").string() + "'").c_str()), 0);
  const std::string conn = "Driver=" + driver + ";Database=" + db.string() + ";";

  for (const auto& [field, weight] : kCases) {
    const Results csv = Univariate(kCsv, "BaseBall.csv", field, weight);
    EXPECT_EQ(csv.run, field != "Player") << field;
    ExpectSame(csv, Univariate(conn, "baseball", field, weight), "table " + field + "/" + weight);
  }
  const Results csv = Univariate(kCsv, "select * from [BaseBall.csv] where League = 'AL'", "AVG", "");
  ExpectSame(csv, Univariate(conn, "select * from baseball where League = 'AL'", "AVG", ""), "where");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace qel
