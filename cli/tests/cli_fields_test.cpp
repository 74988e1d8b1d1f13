// qelstats fields, run as the built program.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "qelstats_runner.h"

namespace {

using qelstats_test::DatasetPath;
using qelstats_test::ShellQuote;
using qelstats_test::Outcome;

namespace fs = std::filesystem;

// Runs qelstats with `args` (already quoted for the shell).
Outcome Qelstats(const std::string& args) { return qelstats_test::RunQelstats(args); }

const std::string kBaseBall = ShellQuote(DatasetPath("BaseBall.csv"));

TEST(CliFields, BaseBallAsJson) {
  const auto o = Qelstats("fields --csv " + kBaseBall + " --json");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.rfind("{\"fields\": [{\"name\": \"Salary\", \"type\": 3, \"typeName\": \"adInteger\"}, ", 0), 0u)
      << o.out;
  EXPECT_NE(o.out.find("{\"name\": \"AVG\", \"type\": 5, \"typeName\": \"adDouble\"}"), std::string::npos);
  EXPECT_NE(o.out.find("{\"name\": \"Player\", \"type\": 202, \"typeName\": \"adVarWChar\"}]}\n"),
            std::string::npos);
  EXPECT_TRUE(o.err.empty());
}

TEST(CliFields, ReadableTableAndConnectionForm) {
  const std::string folder = std::string(QEL_SOURCE_DIR) + "/VesquinDemo/datasets";
  const auto o = Qelstats("fields --connection 'Text;DBQ=" + folder + "' --source '[College.csv]'");
  ASSERT_EQ(o.status, 0) << o.err;
  std::istringstream lines(o.out);
  std::string header, rule, first;
  std::getline(lines, header);
  std::getline(lines, rule);
  std::getline(lines, first);
  EXPECT_EQ(header.substr(0, 5), "Field");
  EXPECT_EQ(rule.substr(0, 4), "----");
  EXPECT_NE(first.find("AdmitRate"), std::string::npos);
  EXPECT_NE(first.find("adDouble"), std::string::npos);
}

TEST(CliFields, InputErrorsExitTwoWithOneLine) {
  const fs::path dir = fs::path(::testing::TempDir()) / ("cli_fields_bad_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "ragged.csv") << "a,b\n1,2\n3\n";
  auto o = Qelstats("fields --csv '" + (dir / "ragged.csv").string() + "' --json");
  EXPECT_EQ(o.status, 2);
  EXPECT_TRUE(o.out.empty());
  EXPECT_EQ(o.err, "qelstats fields: ragged.csv line 3: 1 field, the header has 2\n");

  o = Qelstats("fields --csv '" + (dir / "absent.csv").string() + "'");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;

  o = Qelstats("fields --connection 'Text;DBQ=" + dir.string() + "' --source '../x.csv'");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("not a file inside the folder"), std::string::npos) << o.err;

  o = Qelstats("fields --csv " + kBaseBall + " --bogus 1");
  EXPECT_EQ(o.status, 2);
  fs::remove_all(dir);
}

}  // namespace
