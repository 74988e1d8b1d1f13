// qelstats bivariate, run as the built program.
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
#include <vector>

#include "qelstats_runner.h"

namespace {

using qelstats_test::DatasetPath;
using qelstats_test::ShellQuote;
using qelstats_test::Outcome;

std::string TempBase() { return ::testing::TempDir() + "cli_bivariate_" + std::to_string(::getpid()); }

// Runs qelstats with `args` (already quoted for the shell).
Outcome Qelstats(const std::string& args) { return qelstats_test::RunQelstats(args + " --no-progress"); }

const std::string kBaseBall = ShellQuote(DatasetPath("BaseBall.csv"));

using qel::testing::JsonNumber;

class CliBivariate : public ::testing::Test {
 protected:
  void SetUp() override {
    // Ten values 1..10 with the target equal to the value.
    csv_ = TempBase() + "_ten.csv";
    std::ofstream out(csv_);
    out << "P,T\n";
    for (int i = 10; i >= 1; --i) out << i << "," << i << "\n";
  }
  void TearDown() override { std::remove(csv_.c_str()); }
  std::string csv_;
};

TEST_F(CliBivariate, JsonHoldsEveryResultAndTheBinTable) {
  const auto o = Qelstats("bivariate --csv '" + csv_ + "' --predictor P --target T --bins 4 --json");
  ASSERT_EQ(o.status, 0) << o.err << o.out;
  EXPECT_NE(o.out.find("\"Run\": true"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("\"ResultSet\": {\"columns\": [\"Bin\", \"N\", \"Min P\", \"Max P\", \"Mean T\", \"Index\"], "
                       "\"rows\": [[\"1\", \"3\", \"1\", \"3\", \"2\", \"36\"], "
                       "[\"2\", \"3\", \"4\", \"6\", \"5\", \"91\"], "
                       "[\"3\", \"2\", \"7\", \"8\", \"7.5\", \"136\"], "
                       "[\"4\", \"2\", \"9\", \"10\", \"9.5\", \"173\"]]}"),
            std::string::npos)
      << o.out;
  EXPECT_DOUBLE_EQ(JsonNumber(o.out, "PSI"), std::sqrt(7.75));
  EXPECT_EQ(JsonNumber(o.out, "DI"), 0);
  EXPECT_EQ(JsonNumber(o.out, "N"), 10);
  EXPECT_EQ(JsonNumber(o.out, "Missing"), 0);
  EXPECT_EQ(JsonNumber(o.out, "TargetMean"), 5.5);
  EXPECT_EQ(JsonNumber(o.out, "Cardinality"), 10);
  EXPECT_NE(o.out.find("\"Categorical\": false"), std::string::npos);
  EXPECT_NE(o.out.find("\"messages\": []"), std::string::npos);
}

TEST_F(CliBivariate, CategoricalByTextOrByRequest) {
  auto o = Qelstats("bivariate --csv " + kBaseBall + " --predictor League --target Salary --bins 1 --json");
  ASSERT_EQ(o.status, 0) << o.err << o.out;
  EXPECT_NE(o.out.find("\"Categorical\": true"), std::string::npos);
  EXPECT_EQ(JsonNumber(o.out, "Cardinality"), 2);
  EXPECT_NE(o.out.find("[\"1\", "), std::string::npos);
  EXPECT_NE(o.out.find("\"AL\", \"AL\""), std::string::npos) << o.out;

  o = Qelstats("bivariate --csv '" + csv_ + "' --predictor P --target T --bins 2 --categorical --json");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("\"Categorical\": true"), std::string::npos);
  // Forced categorical numbers are keyed and sorted as text: 1, 10, 2, ...
  EXPECT_NE(o.out.find("[\"2\", \"1\", \"10\", \"10\""), std::string::npos) << o.out;
}

TEST_F(CliBivariate, BaseBallTotalsAccountForEveryRecord) {
  const auto o = Qelstats("bivariate --csv " + kBaseBall + " --predictor Age --target Salary --bins 5 --json");
  ASSERT_EQ(o.status, 0) << o.err << o.out;
  // 920 players: each is counted in N or in Missing.
  EXPECT_EQ(JsonNumber(o.out, "N") + JsonNumber(o.out, "Missing"), 920);
  EXPECT_GT(JsonNumber(o.out, "PSI"), 0);
  EXPECT_NE(o.out.find("\"Min Age\""), std::string::npos);
}

TEST_F(CliBivariate, ReadableOutputShowsResultsThenTheTable) {
  const auto o = Qelstats("bivariate --csv '" + csv_ + "' --predictor P --target T --bins 4");
  ASSERT_EQ(o.status, 0) << o.err;
  const auto psi = o.out.find("PSI"), card = o.out.find("Cardinality"), header = o.out.find("Mean T");
  ASSERT_NE(psi, std::string::npos) << o.out;
  ASSERT_NE(card, std::string::npos);
  ASSERT_NE(header, std::string::npos);
  EXPECT_LT(psi, card);
  EXPECT_LT(card, header);
}

TEST_F(CliBivariate, RunFailuresExitOneWithTheirMessages) {
  auto o = Qelstats("bivariate --csv '" + csv_ + "' --predictor P --target T --bins 0 --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("\"Run\": false"), std::string::npos);
  EXPECT_NE(o.out.find("\"ResultSet\": null"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("\"messages\": [\"Error: Bin Count is invalid. Integer values >0 are required.\"]"),
            std::string::npos)
      << o.out;

  // A failed run leaves the empty six-column table.
  o = Qelstats("bivariate --csv '" + csv_ + "' --predictor P --target Salry --bins 4 --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("\"ResultSet\": {\"columns\": [\"Bin\", \"N\", \"Min \", \"Max \", \"Mean \", \"Index\"], "
                       "\"rows\": []}"),
            std::string::npos)
      << o.out;
  EXPECT_NE(o.out.find("\"messages\": [\"Com_Bivariate: Bivariate_Run "), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Salry"), std::string::npos);
}

TEST_F(CliBivariate, UsageErrorsExitTwo) {
  const std::string base = "bivariate --csv '" + csv_ + "' --predictor P --target T";
  const std::vector<std::string> bad_calls = {base + " --bins 32768",
                                              base + " --bins -32769",
                                              base + " --bins 2.5",
                                              base + " --bins many",
                                              "bivariate --csv /nonexistent/x.csv --predictor P --target T --bins 4"};
  for (const std::string& bad : bad_calls) {
    const auto o = Qelstats(bad + " --json");
    EXPECT_EQ(o.status, 2) << bad;
    EXPECT_TRUE(o.out.empty()) << bad;
    EXPECT_FALSE(o.err.empty()) << bad;
  }
}

}  // namespace
