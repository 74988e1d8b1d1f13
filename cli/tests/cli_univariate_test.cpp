// qelstats univariate, run as the built program.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "qelstats_runner.h"
#include "qeltesting/temp_folder.h"

namespace {

using qelstats_test::Outcome;

namespace fs = std::filesystem;

class CliUnivariate : public ::testing::Test {
 protected:
  void SetUp() override {
    Write("five.csv", "X,W,Name\n1,1,a\n2,1,b\n2,1,c\n3,1,d\n10,1,e\n");
    Write("weighted.csv", "X,W,Name\n1,2,a\n2,1,b\n4,1,c\n,1,d\n3,,e\n");
    Write("two.csv", "X\n1\n3\n");
  }

  void Write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
  std::string Path(const std::string& name) const { return "'" + (dir_ / name).string() + "'"; }

  // Runs qelstats with `args` (already quoted for the shell).
  Outcome Qelstats(const std::string& args) const { return qelstats_test::RunQelstats(args); }

  qel::testing::TempFolder temp_{"cli_univariate"};
  const fs::path& dir_ = temp_.path();
};

// The JSON text of `key`'s value in a flat object ("" when the key is absent).
std::string JsonValue(const std::string& json, const std::string& key) {
  const std::string marker = "\"" + key + "\": ";
  const auto at = json.find(marker);
  if (at == std::string::npos) return "";
  const auto start = at + marker.size();
  const auto end = json.find_first_of(",}", start);
  return json.substr(start, end - start);
}

// The number under `key`, compared to 12 significant digits.
void ExpectNumber(const std::string& json, const std::string& key, double expected) {
  const std::string text = JsonValue(json, key);
  ASSERT_NE(text, "") << key;
  EXPECT_NEAR(std::stod(text), expected, std::abs(expected) * 5e-12) << key << " = " << text;
}

TEST_F(CliUnivariate, JsonHoldsRunEveryStatisticNoTableAndTheMessages) {
  const Outcome o = Qelstats("univariate --csv " + Path("five.csv") + " --field X --json --no-progress");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out.front(), '{');
  EXPECT_EQ(JsonValue(o.out, "Run"), "true");
  for (const char* key : {"N", "WgtN", "Missing", "Sum", "Mean", "Variance", "Stdev", "CV", "Min", "Max", "Range",
                          "Cardinality", "Uniques", "Mode", "Median", "Q1", "Q3", "IQR", "TrimmedMean", "Skewness",
                          "Kurtosis"})
    EXPECT_NE(JsonValue(o.out, key), "") << key;
  EXPECT_EQ(JsonValue(o.out, "Mean"), "3.6");
  ExpectNumber(o.out, "Variance", 13.3);
  EXPECT_EQ(JsonValue(o.out, "TrimmedMean"), "2");
  ExpectNumber(o.out, "Kurtosis", 4.27214653174);
  EXPECT_EQ(JsonValue(o.out, "ResultSet"), "null");
  EXPECT_NE(o.out.find("\"messages\": []"), std::string::npos) << o.out;
}

TEST_F(CliUnivariate, WeightedRunWithEmptyCells) {
  const Outcome o = Qelstats("univariate --csv " + Path("weighted.csv") + " --field X --weight W --json");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(JsonValue(o.out, "WgtN"), "4");
  EXPECT_EQ(JsonValue(o.out, "Missing"), "2");
  EXPECT_EQ(JsonValue(o.out, "Median"), "1.5");
  ExpectNumber(o.out, "Kurtosis", 1.5);
}

TEST_F(CliUnivariate, AColumnWithNoValueAtAllIsNumericAndAllMissing) {
  Write("empty_column.csv", "X,Y\n1,\n2,\n3,\n");
  Outcome o = Qelstats("univariate --csv " + Path("empty_column.csv") + " --field Y --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(JsonValue(o.out, "Missing"), "3");
  EXPECT_EQ(JsonValue(o.out, "N"), "0");
  EXPECT_EQ(o.err.find("Numeric Data types only"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("no record has a usable value of 'Y'"), std::string::npos) << o.err;

  // A header line alone: every column is such a column, and the note says why.
  Write("header_only.csv", "X,Y\n");
  o = Qelstats("univariate --csv " + Path("header_only.csv") + " --field Y --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("has no data rows, only a header line"), std::string::npos) << o.err;
}

TEST_F(CliUnivariate, RunFailureExitsOneWithTheResultsAndAReason) {
  Outcome o = Qelstats("univariate --csv " + Path("five.csv") + " --field Name --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(JsonValue(o.out, "Run"), "false");
  EXPECT_EQ(JsonValue(o.out, "N"), "0");
  EXPECT_NE(o.err.find("Numeric Data types only"), std::string::npos) << o.err;

  o = Qelstats("univariate --csv " + Path("five.csv") + " --field Nope --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("Nope"), std::string::npos) << o.err;

  // Two values: everything up to CV is there, the shape is not.
  o = Qelstats("univariate --csv " + Path("two.csv") + " --field X --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(JsonValue(o.out, "Mean"), "2");
  EXPECT_EQ(JsonValue(o.out, "Kurtosis"), "0");
}

TEST_F(CliUnivariate, UsageAndInputErrorsExitTwoWithOneLine) {
  for (const std::string& args :
       {"univariate --csv " + Path("five.csv"),                                    // no --field
        "univariate --csv " + Path("missing.csv") + " --field X",                  // no such file
        "univariate --csv " + Path("five.csv") + " --field X --bins 3",            // unknown option
        "univariate --csv " + Path("five.csv") + " --field '  '",                  // blank field name
        "univariate --connection 'Text;DBQ=" + dir_.string() + "' --source nothing.csv --field X",
        "univariate --csv " + Path("five.csv") + " --connection x --source y --field X"}) {
    const Outcome o = Qelstats(args + " --json");
    EXPECT_EQ(o.status, 2) << args;
    EXPECT_EQ(o.out, "") << args;
    ASSERT_FALSE(o.err.empty()) << args;
    EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << o.err;
  }
}

TEST_F(CliUnivariate, ConnectionAndSourceReadTheSameDataAsCsv) {
  const std::string datasets = QEL_SOURCE_DIR "/VesquinDemo/datasets";
  const Outcome by_csv = Qelstats("univariate --csv '" + datasets + "/BaseBall.csv' --field Salary --json");
  const Outcome by_connection = Qelstats(
      "univariate --connection 'Driver={Microsoft Text Driver (*.txt; *.csv)};DBQ=" + datasets +
      ";DefaultDir=" + datasets + ";Uid=Admin;Pwd=;' --source 'select * from [BaseBall.csv]' --field Salary --json");
  ASSERT_EQ(by_csv.status, 0) << by_csv.err;
  EXPECT_EQ(by_connection.out, by_csv.out) << by_connection.err;
  EXPECT_EQ(JsonValue(by_csv.out, "N"), "920");  // every player has a salary
}

TEST_F(CliUnivariate, ReadableTableWithoutJson) {
  const Outcome o = Qelstats("univariate --csv " + Path("five.csv") + " --field X");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("Run          True\n"), std::string::npos) << o.out;
  // Numbers on their decimal point, 7 significant digits by default.
  EXPECT_NE(o.out.find("Mean           3.6\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Stdev          3.646917\n"), std::string::npos) << o.out;
}

}  // namespace
