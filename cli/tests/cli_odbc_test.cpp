// qelstats with --connection and --source over ODBC (PostgreSQL on the test
// server of scripts/pg-test-server.sh), run as the built program: the output
// equals that over the CSV file, and a driver's error reaches stderr.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "qelstats_runner.h"

namespace {

using qelstats_test::DatasetPath;
using qelstats_test::Outcome;
constexpr auto Quote = qelstats_test::ShellQuote;

// Runs qelstats with `args` (already quoted for the shell).
Outcome Qelstats(const std::string& args) { return qelstats_test::RunQelstats(args + " --no-progress"); }

class CliOdbc : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* pg = std::getenv("QEL_TEST_PG_CONN");
    if (!pg || !*pg) GTEST_SKIP() << "QEL_TEST_PG_CONN is not set: run the tests through scripts/pg-test-server.sh";
    pg_ = "--connection " + Quote(pg);
  }
  std::string pg_;
  const std::string csv_ = "--csv " + Quote(DatasetPath("BaseBall.csv"));
};

TEST_F(CliOdbc, FieldsAndUnivariateMatchTheCsvFile) {
  const Outcome fields = Qelstats("fields " + pg_ + " --source baseball --json");
  ASSERT_EQ(fields.status, 0) << fields.err;
  EXPECT_NE(fields.out.find("{\"name\": \"Salary\", \"type\": 3"), std::string::npos) << fields.out;
  EXPECT_NE(fields.out.find("{\"name\": \"AVG\", \"type\": 131"), std::string::npos) << fields.out;

  for (const char* field : {"--field Salary", "--field AVG --weight G"}) {
    const Outcome want = Qelstats(std::string("univariate ") + csv_ + " " + field + " --json");
    const Outcome got = Qelstats("univariate " + pg_ + " --source baseball " + field + " --json");
    ASSERT_EQ(want.status, 0) << want.err;
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out, want.out) << field;
  }
}

// Whole-number fields and weights: the in-database runs print exactly what
// the record-by-record runs print.
TEST_F(CliOdbc, InDatabaseRunsPrintWhatRecordByRecordRunsPrint) {
  for (const char* run : {"univariate --field Salary --weight AB", "outlier --field HR --rule tmean --parm 10",
                          "outlier --field Salary --weight G --rule std --parm 2",
                          "bivariate --predictor Team --target Salary --weight AB --bins 5",
                          "bivariate --predictor AB --target HR --bins 8"}) {
    const Outcome want = Qelstats(std::string(run) + " " + pg_ + " --source baseball --json");
    const Outcome got = Qelstats(std::string(run) + " " + pg_ + " --source baseball --json --in-database");
    ASSERT_EQ(want.status, 0) << run << ": " << want.err;
    EXPECT_EQ(got.status, 0) << run << ": " << got.err;
    EXPECT_EQ(got.out, want.out) << run;
  }
}

// A CSV file has no database to group it: each analysis says so in one line.
TEST(CliInDatabase, TheTextProviderIsRefused) {
  const std::string csv = "--csv " + Quote(DatasetPath("BaseBall.csv"));
  for (const char* run : {"univariate --field Salary", "outlier --field Salary --rule std --parm 2",
                          "bivariate --predictor HR --target Salary --bins 5"}) {
    const Outcome o = Qelstats(std::string(run) + " " + csv + " --in-database");
    EXPECT_NE(o.status, 0) << run;
    EXPECT_NE(o.err.find("in-database runs need a database"), std::string::npos) << run << ": " << o.err;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << run << ": " << o.err;
  }
}

TEST_F(CliOdbc, ADriverErrorIsAnInputErrorOnOneLine) {
  const Outcome o = Qelstats("fields " + pg_ + " --source no_such_table");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("42P01"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("relation \"no_such_table\" does not exist"), std::string::npos) << o.err;
  EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << o.err;
}

}  // namespace
