// qelstats report, run as the built program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "qelstats_runner.h"

namespace {

using qelstats_test::Outcome;
using qelstats_test::ShellQuote;
using qelstats_test::Slurp;

namespace fs = std::filesystem;

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class CliReport : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("cli_report_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    std::string rows = "X,Y,W,Name\n";
    for (int i = 1; i <= 40; ++i)
      rows += std::to_string(i) + "," + std::to_string(i % 7 * 10) + "," + std::to_string(1 + i % 2) + "," +
              (i % 3 ? "a" : "b") + "\n";
    rows += "1000,5,1,<script>alert(1)</script>\n,3,1,\n";
    Write("data.csv", rows);
    Write("two.csv", "X,Y\n1,5\n3,6\n");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }
  std::string Path(const std::string& name) const { return ShellQuote((dir_ / name).string()); }
  Outcome Report(const std::string& args) const {
    return qelstats_test::RunQelstats("report --no-progress " + args);
  }

  fs::path dir_;
};

TEST_F(CliReport, WritesOnePageWithASectionPerFieldRankedAgainstTheTarget) {
  const Outcome o = Report("--csv " + Path("data.csv") + " --target Y --bins 4 -o " + Path("out.html"));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "");
  const std::string page = Slurp(dir_ / "out.html");
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_EQ(Count(page, "<section class=\"field\""), 4u);
  EXPECT_EQ(Count(page, "<svg class=\"chart histogram\""), 3u);  // X, Y, W
  EXPECT_EQ(Count(page, "<svg class=\"chart topvalues\""), 1u);  // Name
  EXPECT_EQ(Count(page, "<svg class=\"chart segmentation\""), 3u);  // all but the target
  EXPECT_NE(page.find("data-stat=\"Rows\" data-value=\"42\""), std::string::npos);
  // The outlier 1000 of X is named, and the hostile text value is only shown escaped.
  EXPECT_NE(page.find("Highest: 1,000"), std::string::npos);
  EXPECT_EQ(Count(page, "<script"), 1u);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/"), std::string::npos);
  // No temporary file is left beside the report.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

TEST_F(CliReport, WeightFieldsSelectionAndStandardOutput) {
  const Outcome o = Report("--csv " + Path("data.csv") + " --weight W --fields Name,x -o -");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Count(o.out, "<section class=\"field\""), 2u);
  // Names are matched without regard to case and shown as the input spells them.
  EXPECT_NE(o.out.find("data-field=\"X\""), std::string::npos);
  EXPECT_LT(o.out.find("data-field=\"Name\""), o.out.find("id=\"field-2\""));
  // Weighted: X has 41 values of weight 1 or 2 (20 odd i weigh 2, 20 even 1, 1000 weighs 1).
  EXPECT_NE(o.out.find("data-stat=\"WgtN\" data-value=\"61\""), std::string::npos) << o.out.substr(0, 3000);
  EXPECT_EQ(o.out.find("chart segmentation"), std::string::npos);
}

TEST_F(CliReport, UsageAndInputErrorsWriteNothing) {
  Write("out.html", "old");
  const std::string csv = "--csv " + Path("data.csv");
  const std::string out = " -o " + Path("out.html");
  struct Case {
    std::string args, message;
  } cases[] = {
      {csv, "missing -o FILE"},
      {csv + " --target Nope" + out, "target 'Nope' is not a field of data.csv"},
      {csv + " --target Name" + out, "target 'Name' is not numeric (text)"},
      {csv + " --weight Name" + out, "weight 'Name' is not numeric (text)"},
      {csv + " --fields X,,Y" + out, "option --fields needs names separated by commas"},
      {csv + " --fields X,Nope" + out, "field 'Nope' is not a field of data.csv"},
      {csv + " --target Y --bins 0" + out, "option --bins needs a whole number from 1 to 32767, not '0'"},
      {csv + " --json" + out, "unknown option --json"},
      {"--csv " + Path("missing.csv") + out, "cannot read "},
      {csv + " extra" + out, "unexpected argument 'extra'"},
      {csv + " -o " + Path("data.csv"), "the input file cannot be the output (-o "},
  };
  for (const Case& c : cases) {
    const Outcome o = Report(c.args);
    EXPECT_EQ(o.status, 2) << c.args;
    EXPECT_NE(o.err.find("qelstats report: " + c.message), std::string::npos) << c.args << "\n" << o.err;
    EXPECT_EQ(Slurp(dir_ / "out.html"), "old") << c.args;
  }
  EXPECT_EQ(Slurp(dir_ / "data.csv").rfind("X,Y,W,Name\n1,", 0), 0u);
}

TEST_F(CliReport, ARunThatStopsEarlyIsNamedAndTheReportStillWritten) {
  // Two values: the univariate run cannot form the shape statistics.
  const Outcome o = Report("--csv " + Path("two.csv") + " -o " + Path("out.html"));
  EXPECT_EQ(o.status, 1) << o.err;
  EXPECT_NE(o.err.find("qelstats report: X: The univariate run stopped early"), std::string::npos) << o.err;
  const std::string page = Slurp(dir_ / "out.html");
  EXPECT_EQ(Count(page, "<section class=\"field\""), 2u);
  EXPECT_NE(page.find("class=\"warn\">The univariate run stopped early"), std::string::npos);
}

TEST_F(CliReport, ReadingOptionsApplyAndAColumnReadAsTextSaysWhy) {
  Write("na.csv", "X,Y\n1,5\nNA,6\n3,7\n4,1\n5,2\n");
  const Outcome text = Report("--csv " + Path("na.csv") + " -o " + Path("out.html"));
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.err.find("X is text: 1 of 5 cells is not a number (line 3: 'NA')"), std::string::npos) << text.err;
  const std::string page = Slurp(dir_ / "out.html");
  EXPECT_NE(page.find("data-field=\"X\" data-kind=\"text\""), std::string::npos);
  EXPECT_NE(page.find("class=\"warn\">X is text: 1 of 5 cells"), std::string::npos);

  const Outcome numeric = Report("--csv " + Path("na.csv") + " --na NA -o -");
  EXPECT_EQ(numeric.status, 0) << numeric.err;
  EXPECT_EQ(numeric.err, "");
  EXPECT_NE(numeric.out.find("data-field=\"X\" data-kind=\"numeric\""), std::string::npos);
  EXPECT_NE(numeric.out.find("data-stat=\"MissingShare\" data-value=\"0.2\""), std::string::npos);
}

TEST_F(CliReport, AHeaderWithoutRowsIsNamed) {
  Write("empty.csv", "X,Y\n");
  const Outcome o = Report("--csv " + Path("empty.csv") + " -o " + Path("out.html"));
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("has no data rows, only a header line"), std::string::npos) << o.err;
}

TEST_F(CliReport, HelpNamesTheCommandAndItsOptions) {
  const Outcome o = qelstats_test::RunQelstats("report --help");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("report --csv PATH [--target NAME] [--weight NAME] [--bins N] [--fields A,B,...] -o FILE.html"),
            std::string::npos)
      << o.out;
}

}  // namespace
