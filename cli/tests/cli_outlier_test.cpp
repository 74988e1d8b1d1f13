// qelstats outlier, run as the built program.
#include <gtest/gtest.h>

#include "qeltesting/json_number.h"
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "qelstats_runner.h"

namespace {

using qelstats_test::DatasetPath;
using qelstats_test::ShellQuote;
using qelstats_test::Outcome;

std::string TempBase() { return ::testing::TempDir() + "cli_outlier_" + std::to_string(::getpid()); }

// Runs qelstats with `args` (already quoted for the shell).
Outcome Qelstats(const std::string& args) { return qelstats_test::RunQelstats(args + " --no-progress"); }

const std::string kBaseBall = ShellQuote(DatasetPath("BaseBall.csv"));

using qel::testing::JsonNumber;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CliOutlier : public ::testing::Test {
 protected:
  void SetUp() override {
    csv_ = TempBase() + "_five.csv";
    std::ofstream(csv_) << "X,W,Name\n3,1,c\n1,1,a\n5,2,e\n2,1,b\n4,1,d\n,1,z\n";
  }
  void TearDown() override { std::remove(csv_.c_str()); }
  std::string Csv() const { return "--csv '" + csv_ + "'"; }
  std::string csv_;
};

TEST_F(CliOutlier, JsonHoldsEveryResultAndTheValueTable) {
  const auto o = Qelstats("outlier " + Csv() + " --field X --rule std --parm 1 --json");
  ASSERT_EQ(o.status, 0) << o.err << o.out;
  EXPECT_EQ(o.out.rfind("{\"Run\": true, \"N\": 5, \"WgtN\": 5, \"Missing\": 1, \"Sum\": 15, \"SumWgt\": 15, "
                        "\"Mean\": 3, \"Variance\": 2.5, \"Stdev\": 1.5811388300841898, \"Min\": 1, \"Max\": 5, "
                        "\"Cardinality\": 5, \"Q1\": 2, \"Median\": 3, \"Q3\": 4, \"TrimmedMean\": 0, "
                        "\"OutlierCountN\": 2, \"OutlierCountWgt\": 2, ",
                        0),
            0u)
      << o.out;
  EXPECT_TRUE(Has(o.out, "\"ResultSet\": {\"columns\": [\"Value\", \"N\", \"Weighted N\", \"Outlier\"], "
                         "\"rows\": [[1, 1, 1, true], [2, 1, 1, false], [3, 1, 1, false], [4, 1, 1, false], "
                         "[5, 1, 1, true]]}, \"messages\": []}"))
      << o.out;
  EXPECT_EQ(o.err, "");
}

TEST_F(CliOutlier, TrimmedMeanRuleAndWeights) {
  const auto t = Qelstats("outlier " + Csv() + " --field X --rule tmean --parm 50 --json");
  ASSERT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(JsonNumber(t.out, "TrimmedMean"), 3.5);
  EXPECT_EQ(JsonNumber(t.out, "OutlierCountN"), 3);

  // 5 weighs 2: total weight 6, weighted sum 20.
  const auto w = Qelstats("outlier " + Csv() + " --field X --weight W --rule std --parm 1 --json");
  ASSERT_EQ(w.status, 0) << w.err;
  EXPECT_EQ(JsonNumber(w.out, "WgtN"), 6);
  EXPECT_EQ(JsonNumber(w.out, "SumWgt"), 20);
  EXPECT_EQ(JsonNumber(w.out, "Sum"), 15);
  EXPECT_TRUE(Has(w.out, "[5, 1, 2, true]")) << w.out;
}

TEST_F(CliOutlier, BaseBallSalaries) {
  // Figures computed independently from the file.
  const auto o = Qelstats("outlier --csv " + kBaseBall + " --field Salary --rule std --parm 2 --json");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(JsonNumber(o.out, "N"), 920);
  EXPECT_EQ(JsonNumber(o.out, "Cardinality"), 324);
  EXPECT_EQ(JsonNumber(o.out, "Mean"), 1040199.5108695652);
  EXPECT_EQ(JsonNumber(o.out, "Stdev"), 1554564.7802068961);
  EXPECT_EQ(JsonNumber(o.out, "Median"), 270000);
  EXPECT_EQ(JsonNumber(o.out, "OutlierCountN"), 66);

  const auto t = Qelstats("outlier --csv " + kBaseBall + " --field Salary --rule tmean --parm 10 --json");
  ASSERT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(JsonNumber(t.out, "TrimmedMean"), 1156682.3856613103);
  EXPECT_EQ(JsonNumber(t.out, "OutlierCountN"), 900);
}

TEST_F(CliOutlier, ReadableOutputHasTheStatisticsThenTheTable) {
  const auto o = Qelstats("outlier " + Csv() + " --field X --rule std --parm 1");
  ASSERT_EQ(o.status, 0) << o.err;
  const auto stats = o.out.find("OutlierCountWgt   2\n");
  const auto table = o.out.find("Value  N  Weighted N  Outlier\n");
  ASSERT_NE(stats, std::string::npos) << o.out;
  ASSERT_NE(table, std::string::npos) << o.out;
  EXPECT_LT(stats, table);
  EXPECT_TRUE(Has(o.out, "    5  1           1  True\n")) << o.out;
}

TEST_F(CliOutlier, RunFailuresExitOne) {
  // A failed check: its message box text, no table.
  const auto check = Qelstats("outlier " + Csv() + " --field X --rule tmean --parm 100.5 --json");
  EXPECT_EQ(check.status, 1);
  EXPECT_TRUE(Has(check.out, "\"Run\": false")) << check.out;
  EXPECT_TRUE(Has(check.out, "\"ResultSet\": null")) << check.out;
  EXPECT_TRUE(Has(check.out, "\"messages\": [\"Error: Outlier Trimmed mean outlier determination requires "
                             "percentages between 1 and 100.\"]"))
      << check.out;

  // A text field stops the analysis without a message box; stderr says why.
  const auto text = Qelstats("outlier " + Csv() + " --field Name --rule std --parm 1 --json");
  EXPECT_EQ(text.status, 1);
  EXPECT_TRUE(Has(text.out, "\"ResultSet\": null, \"messages\": []")) << text.out;
  EXPECT_TRUE(Has(text.err, "Numeric Data types only")) << text.err;

  const auto unknown = Qelstats("outlier " + Csv() + " --field Salry --rule std --parm 1");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_TRUE(Has(unknown.err, "Salry")) << unknown.err;
  EXPECT_TRUE(Has(unknown.out, "Run              False")) << unknown.out;
}

TEST_F(CliOutlier, UsageErrorsExitTwo) {
  // Without --rule or --parm the class's defaults hold (std, 1).
  for (const std::string args : {" --field X --rule median --parm 1", " --field X --rule std --parm two",
                                 " --rule std --parm 1", " --field X --rule std --parm 1 --bins 3"}) {
    const auto o = Qelstats("outlier " + Csv() + args);
    EXPECT_EQ(o.status, 2) << args;
    EXPECT_TRUE(Has(o.err, "qelstats outlier: ")) << args << ": " << o.err;
    EXPECT_EQ(o.out, "") << args;
  }
  const auto missing = Qelstats("outlier --csv /nonexistent/x.csv --field X --rule std --parm 1 --json");
  EXPECT_EQ(missing.status, 2);
}

}  // namespace
