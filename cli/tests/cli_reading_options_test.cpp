// qelstats reading options (--csv -, --delimiter, --na, --decimal-comma,
// --thousands, --no-header) and the note on a column that is text because of
// a few cells, run as the built program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "qelstats_runner.h"

namespace {

namespace fs = std::filesystem;
using qelstats_test::DatasetPath;
using qelstats_test::Outcome;
using qelstats_test::RunQelstats;
using qelstats_test::ShellQuote;

const std::string kBaseBall = DatasetPath("BaseBall.csv");

class CliReadingOptions : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("cli_reading_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // BaseBall.csv with every line passed through `edit` (line number, text).
  std::string CopyOfBaseBall(const std::string& name, std::string (*edit)(int, const std::string&)) {
    std::ifstream in(kBaseBall);
    std::ofstream out(dir_ / name, std::ios::binary);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) out << edit(n, line) << '\n';
    return (dir_ / name).string();
  }

  fs::path dir_;
};

std::string SalaryNaOnLine18(int n, const std::string& line) {
  return n == 18 ? "NA" + line.substr(line.find(',')) : line;
}

std::string Semicolons(int, const std::string& line) {
  std::string out = line;
  for (char& c : out)
    if (c == ',') c = ';';
  return out;
}

// Semicolons, and the batting average written with a decimal comma.
std::string SemicolonsDecimalComma(int, const std::string& line) {
  std::string out;
  for (char c : line) out += c == ',' ? ';' : c == '.' ? ',' : c;
  return out;
}

std::string Tabs(int, const std::string& line) {
  std::string out = line;
  for (char& c : out)
    if (c == ',') c = '\t';
  return out;
}

TEST_F(CliReadingOptions, TextBecauseOfOneCellIsSaid) {
  const std::string copy = CopyOfBaseBall("bb.csv", SalaryNaOnLine18);
  const std::string note =
      "Salary is text: 1 of 920 cells is not a number (line 18: 'NA'); --na NA reads it as missing";

  Outcome o = RunQelstats("univariate --csv " + ShellQuote(copy) + " --field Salary --no-progress");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "qelstats univariate: Run returned False: " + note + "\n");
  EXPECT_EQ(o.out.rfind("Run returned False: " + note + "\n", 0), 0u) << o.out;

  o = RunQelstats("univariate --csv " + ShellQuote(copy) + " --field Salary --json --no-progress");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out.rfind("{\"Run\": false, \"error\": \"" + note + "\", \"N\": 0", 0), 0u) << o.out;

  o = RunQelstats("outlier --csv " + ShellQuote(copy) + " --field Salary --rule std --parm 2 --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("\"error\": \"" + note + "\""), std::string::npos) << o.out;
  EXPECT_NE(o.err.find(note + "\n"), std::string::npos) << o.err;

  o = RunQelstats("bivariate --csv " + ShellQuote(copy) + " --predictor Team --target Salary --bins 4 --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("\"error\": \"" + note + "\""), std::string::npos) << o.out;

  o = RunQelstats("fields --csv " + ShellQuote(copy));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("Salary     202  adVarWChar\n"), std::string::npos) << o.out;
  EXPECT_EQ(o.out.substr(o.out.size() - note.size() - 2), "\n" + note + "\n");

  o = RunQelstats("fields --csv " + ShellQuote(copy) + " --json");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.rfind("{\"fields\": [{\"name\": \"Salary\", \"type\": 202, \"typeName\": \"adVarWChar\", \"note\": \"" +
                            note + "\", \"nonNumeric\": {\"cells\": 1, \"values\": 920, \"line\": 18, \"text\": \"NA\"}}, ",
                        0),
            0u)
      << o.out;
  // Player is text through and through: no note.
  EXPECT_NE(o.out.find("{\"name\": \"Player\", \"type\": 202, \"typeName\": \"adVarWChar\"}]}"), std::string::npos);
}

TEST_F(CliReadingOptions, NaTokensReadAsMissing) {
  const std::string copy = CopyOfBaseBall("bb.csv", SalaryNaOnLine18);
  const Outcome o = RunQelstats("univariate --csv " + ShellQuote(copy) + " --field Salary --na NA,N/A --json");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("\"N\": 919, \"WgtN\": 919, \"Missing\": 1,"), std::string::npos) << o.out;
  EXPECT_EQ(o.out.find("\"error\""), std::string::npos);
}

TEST_F(CliReadingOptions, DelimitersGiveTheSameResultsAsCommas) {
  const Outcome comma = RunQelstats("bivariate --csv " + ShellQuote(kBaseBall) +
                                    " --predictor AVG --target Salary --bins 5 --json");
  ASSERT_EQ(comma.status, 0) << comma.err;

  const std::string semicolons = CopyOfBaseBall("semi.csv", Semicolons);
  for (const std::string& flag : {std::string(), std::string(" --delimiter ';'")}) {
    const Outcome o = RunQelstats("bivariate --csv " + ShellQuote(semicolons) +
                                  " --predictor AVG --target Salary --bins 5 --json" + flag);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, comma.out) << flag;
  }
  const std::string tabs = CopyOfBaseBall("tabs.tsv", Tabs);
  for (const std::string& flag : {std::string(), std::string(" --delimiter tab"), std::string(" --delimiter '\\t'")}) {
    const Outcome o = RunQelstats("bivariate --csv " + ShellQuote(tabs) +
                                  " --predictor AVG --target Salary --bins 5 --json" + flag);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, comma.out) << flag;
  }
  const std::string decimal_comma = CopyOfBaseBall("dc.csv", SemicolonsDecimalComma);
  Outcome o = RunQelstats("bivariate --csv " + ShellQuote(decimal_comma) +
                          " --predictor AVG --target Salary --bins 5 --json --decimal-comma");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, comma.out);

  // An explicit delimiter that is not the file's reads one column.
  o = RunQelstats("fields --csv " + ShellQuote(semicolons) + " --delimiter , --json");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.rfind("{\"fields\": [{\"name\": \"Salary;AB;", 0), 0u) << o.out;
}

TEST_F(CliReadingOptions, StandardInput) {
  const Outcome file = RunQelstats("univariate --csv " + ShellQuote(kBaseBall) + " --field Salary --json");
  ASSERT_EQ(file.status, 0) << file.err;
  // The copy of standard input lives in TMPDIR while the program runs only.
  const fs::path tmp = dir_ / "tmp";
  fs::create_directories(tmp);
  const std::string piped = "univariate --csv - --field Salary --json < " + ShellQuote(kBaseBall);
  ASSERT_EQ(::setenv("TMPDIR", tmp.c_str(), 1), 0);
  Outcome o = RunQelstats(piped);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, file.out);
  EXPECT_TRUE(fs::is_empty(tmp));

  std::ofstream(dir_ / "ragged.csv") << "a;b\n1;2\n3\n";
  o = RunQelstats("fields --csv - < " + ShellQuote((dir_ / "ragged.csv").string()));
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "qelstats fields: stdin line 3: 1 field, the header has 2\n");
  EXPECT_TRUE(fs::is_empty(tmp));

  o = RunQelstats("fields --csv - --no-header < /dev/null");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err, "qelstats fields: stdin is empty: there is no record to read\n");
  ::unsetenv("TMPDIR");
}

TEST_F(CliReadingOptions, NoHeaderThousandsAndUsageErrors) {
  std::ofstream(dir_ / "plain.csv") << "1;\"1.234.567,5\"\n2;10\n3;0,5\n4;\"2.000\"\n5;7\n";
  Outcome o = RunQelstats("univariate --csv " + ShellQuote((dir_ / "plain.csv").string()) +
                          " --no-header --decimal-comma --thousands . --field F2 --json");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("\"Sum\": 1236585,"), std::string::npos) << o.out;

  // Without the options those cells are no numbers, and the failed run says so.
  o = RunQelstats("univariate --csv " + ShellQuote((dir_ / "plain.csv").string()) + " --no-header --field F2");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("F2 is text: 2 of 5 cells are not numbers (the first on line 1: '1.234.567,5'); --thousands SEP and "
                       "--decimal-comma read numbers written with separators\n"),
            std::string::npos)
      << o.err;
  // With them, a number in another format is an input error.
  std::ofstream(dir_ / "mixed.csv") << "n\n\"1,000\"\n\"12,34\"\n";
  o = RunQelstats("fields --csv " + ShellQuote((dir_ / "mixed.csv").string()) + " --thousands ,");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.err,
            "qelstats fields: mixed.csv line 3: field 1 (n): the text '12,34' is not a number written with decimal "
            "separator '.', thousands separator ','\n");

  o = RunQelstats("fields --csv " + ShellQuote(kBaseBall) + " --delimiter ab");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("--delimiter needs one character"), std::string::npos) << o.err;
  o = RunQelstats("fields --connection 'Driver=SQLite3;Database=/nonexistent.db' --source t --na NA");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("read text files only"), std::string::npos) << o.err;
  o = RunQelstats("fields --csv " + ShellQuote(kBaseBall) + " --decimal-comma --thousands ,");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("both ','"), std::string::npos) << o.err;
}

}  // namespace
