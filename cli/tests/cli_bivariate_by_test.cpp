// qelstats bivariate --by, run as the built program: every group in one
// pass, each group's figures and table those of the run over the input
// filtered to the group (--where), bit for bit.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "qelstats_runner.h"

namespace {

using qelstats_test::DatasetPath;
using qelstats_test::Outcome;
using qelstats_test::RunQelstats;
using qelstats_test::ShellQuote;
namespace fs = std::filesystem;

const std::string kBaseBall = ShellQuote(DatasetPath("BaseBall.csv"));

// The JSON object that starts at `at` in `json`, braces matched outside strings.
std::string ObjectAt(const std::string& json, std::size_t at) {
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = at; i < json.size(); ++i) {
    const char c = json[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}' && --depth == 0) {
      return json.substr(at, i - at + 1);
    }
  }
  return "";
}

// The group of key `key_json` in a --by output, without its key:
// {"Run": ..., "ResultSet": ...}; empty when there is none.
std::string GroupWithoutKey(const std::string& by_json, const std::string& key_json) {
  const std::string lead = "{\"key\": " + key_json + ", ";
  const std::size_t at = by_json.find(lead);
  if (at == std::string::npos) return "";
  return "{" + ObjectAt(by_json, at).substr(lead.size());
}

// A run's JSON without its "messages": {"Run": ..., "ResultSet": ...}.
std::string WithoutMessages(const std::string& json) {
  const std::size_t at = json.rfind(", \"messages\": ");
  return at == std::string::npos ? json : json.substr(0, at) + "}";
}

// A JSON object without its "error" member.
std::string WithoutError(const std::string& json) {
  const std::string lead = ", \"error\": \"";
  const std::size_t at = json.find(lead);
  if (at == std::string::npos) return json;
  std::size_t end = at + lead.size();
  while (end < json.size() && json[end] != '"') end += json[end] == '\\' ? 2 : 1;
  return json.substr(0, at) + json.substr(end + 1);
}

// Each group of `by` against the run filtered to it: the same text in JSON,
// which writes every number in its shortest round-trip form, so the same bits.
void ExpectGroupsEqualTheirWhere(const std::string& file, const std::string& options, const std::string& by,
                                 const std::vector<std::pair<std::string, std::string>>& groups) {
  const Outcome all = RunQelstats("bivariate --csv " + file + " " + options + " --by " + by + " --json --no-progress");
  ASSERT_LE(all.status, 1) << all.err;
  std::size_t previous = 0;
  for (const auto& [key_json, condition] : groups) {
    SCOPED_TRACE(options + " --by " + by + " where " + condition);
    const Outcome one = RunQelstats("bivariate --csv " + file + " " + options + " --where " + ShellQuote(condition) +
                                    " --json --no-progress");
    const std::string group = GroupWithoutKey(all.out, key_json);
    ASSERT_FALSE(group.empty()) << all.out;
    const std::string alone = WithoutMessages(one.out);
    if (one.status == 0) {
      EXPECT_EQ(group, alone);
    } else {
      // A failed run's figures as far as it came; the reason names the group.
      // (The class hands out an empty table after a failure; a group that
      // failed has none.)
      EXPECT_NE(group.find("\"error\": \"" + by + " = "), std::string::npos) << group;
      const std::string figures = WithoutError(group);
      EXPECT_EQ(figures, WithoutError(alone).substr(0, figures.rfind("\"ResultSet\": ")) + "\"ResultSet\": null}");
    }
    // Groups sorted: each after the one before.
    const std::size_t at = all.out.find("{\"key\": " + key_json + ",");
    EXPECT_GT(at, previous);
    previous = at;
  }
}

TEST(CliBivariateBy, EachGroupEqualsTheRunFilteredToItBitForBit) {
  const std::vector<std::pair<std::string, std::string>> leagues = {{"\"AL\"", "League = 'AL'"},
                                                                    {"\"NL\"", "League = 'NL'"}};
  // A numeric predictor with missing values, cut into bins.
  ExpectGroupsEqualTheirWhere(kBaseBall, "--predictor AVG --target Salary --bins 5", "League", leagues);
  // Weighted, with fractional means.
  ExpectGroupsEqualTheirWhere(kBaseBall, "--predictor Age --target Salary --weight Weight --bins 7", "League", leagues);
  // A text predictor, categorical by its type, weighted.
  ExpectGroupsEqualTheirWhere(kBaseBall, "--predictor Team --target Salary --weight Weight", "League", leagues);
  // A numeric predictor read as categories on request, grouped by three keys.
  ExpectGroupsEqualTheirWhere(kBaseBall, "--predictor HR --target RBI --categorical", "Bats",
                              {{"\"B\"", "Bats = 'B'"}, {"\"L\"", "Bats = 'L'"}, {"\"R\"", "Bats = 'R'"}});
}

class CliBivariateByFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("cli_bivariate_by_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    // Numeric keys sort as numbers (2 before 10), the null group last; the
    // group 10 has no record with a target, so its run divides by zero.
    std::ofstream(dir_ / "g.csv") << "G,P,T,W\n"
                                     "10,1,,1\n"
                                     "2,1,4,1\n"
                                     "2,2,6,2\n"
                                     ",3,5,1\n"
                                     "2,3,8,0.5\n"
                                     "10,2,,1\n"
                                     ",4,7,1\n";
    file_ = ShellQuote((dir_ / "g.csv").string());
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  std::string file_;
};

TEST_F(CliBivariateByFile, FailedGroupsAreSaidFirstAndTheOthersStand) {
  ExpectGroupsEqualTheirWhere(file_, "--predictor P --target T --weight W --bins 2", "G",
                              {{"2", "G = 2"}, {"10", "G = 10"}, {"null", "G is null"}});

  const Outcome text = RunQelstats("bivariate --csv " + file_ + " --predictor P --target T --bins 2 --by G --no-progress");
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.out.rfind("Run returned False: G = 10: Division by zero", 0), 0u) << text.out;
  EXPECT_NE(text.err.find("qelstats bivariate: Run returned False: G = 10: Division by zero"), std::string::npos)
      << text.err;
  // Each group's key heads its results, then its table.
  EXPECT_NE(text.out.find("\nG            2\nRun          True\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\nG            10\nRun          False\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\nG\nRun          True\n"), std::string::npos) << "the null group's key is blank";

  const Outcome json = RunQelstats("bivariate --csv " + file_ + " --predictor P --target T --bins 2 --by G --json");
  EXPECT_EQ(json.status, 1);
  EXPECT_EQ(json.out.rfind("{\"Run\": false, \"error\": \"G = 10: Division by zero", 0), 0u) << json.out;
  EXPECT_NE(json.out.find("\"By\": \"G\", \"groups\": [{\"key\": 2, \"Run\": true, \"PSI\": "), std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("{\"key\": 10, \"Run\": false, \"error\": "), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"ResultSet\": null}"), std::string::npos) << "a failed group has no table";
}

TEST_F(CliBivariateByFile, CsvAndMarkdownCarryTheKeyWithEveryBin) {
  Outcome o = RunQelstats("bivariate --csv " + file_ + " --predictor P --target T --bins 2 --by G --format csv");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out,
            "G,Bin,N,Min P,Max P,Mean T,Index\n"
            "2,1,2,1,2,5,83\n"
            "2,2,1,3,3,8,133\n"
            ",1,1,3,3,5,83\n"
            ",2,1,4,4,7,117\n");
  o = RunQelstats("bivariate --csv " + file_ + " --predictor P --target T --bins 2 --by G --format markdown");
  EXPECT_NE(o.out.find("| G | 2 |"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("| G |  |"), std::string::npos) << o.out;
}

TEST_F(CliBivariateByFile, WhatEveryGroupLacksFailsOnceAndUsageErrors) {
  // A field the input does not have: one failure, with the closest names.
  Outcome o = RunQelstats("bivariate --csv " + file_ + " --predictor Q --target T --by G --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("Unknown field 'Q'"), std::string::npos) << o.out;
  // So is a grouping field it does not have: the whole input's failure, in
  // no group, for every command that groups.
  o = RunQelstats("bivariate --csv " + file_ + " --predictor P --target T --by H --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("{\"Run\": false, \"error\": \"Unknown field 'H' in "), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("did you mean G, P or T?\", \"By\": \"H\", \"groups\": [], "), std::string::npos) << o.out;
  o = RunQelstats("univariate --csv " + kBaseBall + " --field Salary --by Leage --no-progress");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out.rfind("Run returned False: Unknown field 'Leage' in ", 0), 0u) << o.out;
  EXPECT_NE(o.out.find("; did you mean League or Age?\nField "), std::string::npos) << o.out;
  // Bins the class refuses: every group says so.
  o = RunQelstats("bivariate --csv " + file_ + " --predictor P --target T --bins 0 --by G --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("{\"key\": null, \"Run\": false, \"error\": \"G = (null): Bin Count is invalid"),
            std::string::npos)
      << o.out;
  EXPECT_EQ(RunQelstats("bivariate --csv " + file_ + " --predictor P --target T --by G --in-database").status, 2);
  // Help and completion offer the option.
  EXPECT_NE(RunQelstats("--help").out.find("[--categorical] [--where COND] [--by NAME]"), std::string::npos);
  EXPECT_NE(RunQelstats("completion bash").out.find("bivariate) own=\"--predictor --target --weight --bins "
                                                    "--categorical --where --by --in-database\""),
            std::string::npos);
  EXPECT_EQ(RunQelstats("bivariate --csv " + file_ + " --predictor P --target T --by G --by P").status, 2);
}

}  // namespace
