// The analyst's command line, run as the built program: failures said first,
// describe in one pass (equal to univariate bit for bit), rows and groups,
// percentiles, freq, the output formats, defaults, warnings and help.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "qelstats_runner.h"
#include "qeltesting/json_number.h"
#include "qeltesting/temp_folder.h"

namespace {

using qelstats_test::DatasetPath;
using qelstats_test::Outcome;
using qelstats_test::RunQelstats;
using qelstats_test::ShellQuote;
namespace fs = std::filesystem;

const std::string kBaseBall = ShellQuote(DatasetPath("BaseBall.csv"));
const std::string kCollege = ShellQuote(DatasetPath("College.csv"));

std::string FirstLine(const std::string& s) { return s.substr(0, s.find('\n')); }

// The fields of one CSV line (quotes doubled inside quoted fields).
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') out.back() += '"', ++i;
      else if (c == '"') quoted = false;
      else out.back() += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

// A CSV output as rows of named cells.
std::vector<std::map<std::string, std::string>> CsvRows(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  const std::vector<std::string> header = CsvFields(line);
  std::vector<std::map<std::string, std::string>> rows;
  while (std::getline(in, line)) {
    const auto cells = CsvFields(line);
    std::map<std::string, std::string> row;
    for (std::size_t i = 0; i < header.size() && i < cells.size(); ++i) row[header[i]] = cells[i];
    rows.push_back(row);
  }
  return rows;
}

// Two doubles written in round-trip form, compared bit for bit.
bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(CliFailuresFirst, TheReasonIsTheFirstLineWithTheClosestNames) {
  Outcome o = RunQelstats("univariate --csv " + kBaseBall + " --field Salry --no-progress");
  EXPECT_EQ(o.status, 1);
  const std::string reason = "Unknown field 'Salry' in " + std::string(QEL_SOURCE_DIR) +
                             "/VesquinDemo/datasets/BaseBall.csv; did you mean Salary?";
  EXPECT_EQ(FirstLine(o.out), "Run returned False: " + reason);
  EXPECT_EQ(FirstLine(o.err), "qelstats univariate: Run returned False: " + reason);
  EXPECT_NE(o.out.find("\nN "), std::string::npos) << "the figures the run reached follow";

  o = RunQelstats("univariate --csv " + kBaseBall + " --field Salry --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out.rfind("{\"Run\": false, \"error\": \"Unknown field 'Salry' in ", 0), 0u) << o.out;

  // A text field where numbers are needed: the field is named.
  o = RunQelstats("outlier --csv " + kBaseBall + " --field Team --json");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("\"error\": \"Numeric Data types only: Team in "), std::string::npos) << o.out;
  o = RunQelstats("bivariate --csv " + kBaseBall + " --predictor Team --target Player");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(FirstLine(o.out).rfind("Run returned False: Numeric Data types only: Player", 0), 0u) << o.out;
  // Usage errors keep their status.
  EXPECT_EQ(RunQelstats("describe --csv " + kBaseBall + " --format xml").status, 2);
}

// Every numeric field of describe against univariate on that field, each
// figure bit for bit, unweighted and weighted.
void ExpectDescribeEqualsUnivariate(const std::string& file, const std::string& weight) {
  const Outcome d = RunQelstats("describe --csv " + file + " --format csv" + (weight.empty() ? "" : " --weight " + weight));
  ASSERT_EQ(d.status, 0) << d.err;
  int compared = 0;
  for (const auto& row : CsvRows(d.out)) {
    if (row.at("Type") != "number") continue;
    const Outcome u = RunQelstats("univariate --csv " + file + " --field " + ShellQuote(row.at("Field")) + " --json" +
                                  (weight.empty() ? "" : " --weight " + weight));
    ASSERT_EQ(u.status, 0) << row.at("Field") << u.err;
    for (const char* figure : {"N", "Missing", "Mean", "Stdev", "Min", "Q1", "Median", "Q3", "Max", "Cardinality",
                               "Mode", "Skewness", "Kurtosis"}) {
      const double expected = qel::testing::JsonNumber(u.out, figure);
      const double got = std::strtod(row.at(figure).c_str(), nullptr);
      EXPECT_TRUE(SameBits(got, expected)) << file << " " << row.at("Field") << " " << figure << ": " << row.at(figure)
                                           << " vs " << expected;
    }
    ++compared;
  }
  EXPECT_GT(compared, 10);
}

TEST(CliFailuresFirst, HeadingsWithBlanksAroundThemAreFoundByTheNames) {
  // "id, price, when": the headings are " price" and " when", which a name
  // typed on the command line (trimmed) finds all the same.
  const qel::testing::TempFolder temp("cli_padded");
  const fs::path& dir = temp.path();
  const std::string file = ShellQuote((dir / "padded.csv").string());
  std::ofstream(dir / "padded.csv") << "id, price, when\n1, 2.5, 2020-01-01\n2, 3.5, 2020-01-02\n3, 4, 2020-01-03\n"
                                       "4, 8, 2020-01-04\n";
  Outcome o = RunQelstats("univariate --csv " + file + " --field price --json");
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  EXPECT_EQ(qel::testing::JsonNumber(o.out, "Mean"), 4.5);
  o = RunQelstats("describe --csv " + file + " --fields PRICE,when --format csv --no-progress");
  EXPECT_EQ(o.status, 0) << o.out << o.err;
  const auto rows = CsvRows(o.out);
  ASSERT_EQ(rows.size(), 2u) << o.out;
  EXPECT_EQ(rows[0].at("N"), "4");
  EXPECT_EQ(rows[1].at("Type"), "date");
  // A misspelled name is offered the heading as it can be typed.
  o = RunQelstats("univariate --csv " + file + " --field pirce --no-progress");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(FirstLine(o.out).find("; did you mean price?"), std::string::npos) << o.out;
}

TEST(CliDescribe, EveryNumericFieldEqualsUnivariateBitForBit) {
  ExpectDescribeEqualsUnivariate(kBaseBall, "");
  ExpectDescribeEqualsUnivariate(kBaseBall, "Weight");
  ExpectDescribeEqualsUnivariate(kCollege, "");
  ExpectDescribeEqualsUnivariate(kCollege, "SF_Ratio");
}

TEST(CliDescribe, TextFieldsAndTheTableAndJsonForms) {
  Outcome o = RunQelstats("describe --csv " + kBaseBall + " --fields League,Salary --json");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.rfind("{\"Run\": true, \"Records\": 920, \"ResultSet\": {\"columns\": [\"Field\", \"Type\", \"N\"", 0),
            0u)
      << o.out;
  EXPECT_NE(o.out.find("[\"League\", \"text\", 920, 0, null, null, null, null, null, null, null, 2, \"AL\", 460, null, "
                       "null]"),
            std::string::npos)
      << o.out;
  o = RunQelstats("describe --csv " + kBaseBall + " --fields Salary,Team");
  ASSERT_EQ(o.status, 0);
  // Readable numbers: 7 significant digits at most.
  EXPECT_NE(o.out.find("2.134005"), std::string::npos) << o.out;
  EXPECT_EQ(o.out.find("2.13400"), o.out.find("2.134005")) << o.out;
  // An unknown field among --fields: said first, with the closest names.
  o = RunQelstats("describe --csv " + kBaseBall + " --fields Salary,Leage");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(FirstLine(o.out).find("did you mean League"), std::string::npos) << o.out;
}

TEST(CliRowsAndGroups, ByGivesTheGroupsSortedEachEqualToItsWhere) {
  Outcome by = RunQelstats("univariate --csv " + kBaseBall + " --field Salary --by League --json");
  ASSERT_EQ(by.status, 0) << by.err;
  const auto al = by.out.find("{\"key\": \"AL\"");
  const auto nl = by.out.find("{\"key\": \"NL\"");
  ASSERT_NE(al, std::string::npos) << by.out;
  ASSERT_NE(nl, std::string::npos);
  EXPECT_LT(al, nl);
  const Outcome where = RunQelstats("univariate --csv " + kBaseBall + " --field Salary --where \"League = 'NL'\" --json");
  ASSERT_EQ(where.status, 0) << where.err;
  const std::string nl_group = by.out.substr(nl);
  for (const char* figure : {"N", "Mean", "Variance", "Q1", "Median", "Skewness", "Kurtosis"})
    EXPECT_TRUE(SameBits(qel::testing::JsonNumber(nl_group, figure), qel::testing::JsonNumber(where.out, figure)))
        << figure;
  // The key in the text output, and as the first column of describe's table.
  Outcome text = RunQelstats("univariate --csv " + kBaseBall + " --field Salary --by League");
  EXPECT_EQ(text.out.rfind("League", 0), 0u) << text.out;
  EXPECT_NE(text.out.find("\nLeague       NL\n"), std::string::npos) << text.out;
  Outcome d = RunQelstats("describe --csv " + kBaseBall + " --fields HR --by League --format csv");
  EXPECT_EQ(d.out.rfind("League,Field,Type,N,", 0), 0u) << d.out;
  EXPECT_NE(d.out.find("\nNL,HR,number,"), std::string::npos) << d.out;
  // Outlier groups, one pass, each like its own run.
  Outcome ob = RunQelstats("outlier --csv " + kBaseBall + " --field Salary --by League --json --parm 2");
  Outcome ow = RunQelstats("outlier --csv " + kBaseBall + " --field Salary --where \"League = 'NL'\" --json --parm 2");
  ASSERT_EQ(ob.status, 0) << ob.err;
  EXPECT_EQ(qel::testing::JsonNumber(ob.out.substr(ob.out.find("{\"key\": \"NL\"")), "OutlierCountN"),
            qel::testing::JsonNumber(ow.out, "OutlierCountN"));
  // One statement only.
  EXPECT_EQ(RunQelstats("univariate --csv " + kBaseBall + " --field Salary --where \"1=1; select 1\"").status, 2);
}

TEST(CliPercentilesAndFreq, PercentilesFollowTheQuartilesAndFreqAddsUp) {
  Outcome o = RunQelstats("univariate --csv " + kBaseBall + " --field Salary --percentiles 25,75,1,99 --json");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(qel::testing::JsonNumber(o.out, "P25"), qel::testing::JsonNumber(o.out, "Q1"));
  EXPECT_EQ(qel::testing::JsonNumber(o.out, "P75"), qel::testing::JsonNumber(o.out, "Q3"));
  EXPECT_EQ(qel::testing::JsonNumber(o.out, "P99"), 6525000);  // the 911th of 920 sorted salaries
  EXPECT_EQ(RunQelstats("univariate --csv " + kBaseBall + " --field Salary --percentiles 101").status, 2);

  o = RunQelstats("freq --csv " + kBaseBall + " --field Team --format csv");
  ASSERT_EQ(o.status, 0) << o.err;
  auto rows = CsvRows(o.out);
  ASSERT_EQ(rows.size(), 28u);
  EXPECT_EQ(rows.front().at("Team"), "PHI");
  EXPECT_EQ(rows.front().at("N"), "42");
  EXPECT_EQ(std::strtod(rows.back().at("CumShare").c_str(), nullptr), 1.0);
  o = RunQelstats("freq --csv " + kBaseBall + " --field HR --order value --top 3 --format csv");
  rows = CsvRows(o.out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].at("HR"), "0");
  EXPECT_EQ(rows[0].at("N"), "457");
  EXPECT_EQ(rows[2].at("HR"), "2");
  o = RunQelstats("freq --csv " + kBaseBall + " --field HR --json");
  EXPECT_EQ(qel::testing::JsonNumber(o.out, "Missing"), 23);
  EXPECT_EQ(qel::testing::JsonNumber(o.out, "Cardinality"), 47);
}

TEST(CliOutliers, OnlyOutliersAndTheClassDefaults) {
  const Outcome all = RunQelstats("outlier --csv " + kBaseBall + " --field Salary --rule std --parm 1 --json");
  const Outcome defaults = RunQelstats("outlier --csv " + kBaseBall + " --field Salary --json");
  ASSERT_EQ(defaults.status, 0) << defaults.err;
  EXPECT_EQ(all.out, defaults.out);
  const Outcome only = RunQelstats("outlier --csv " + kBaseBall + " --field Salary --only-outliers --format csv");
  const auto rows = CsvRows(only.out);
  double records = 0;
  for (const auto& row : rows) {
    EXPECT_EQ(row.at("Outlier"), "True");
    records += std::strtod(row.at("N").c_str(), nullptr);
  }
  EXPECT_EQ(records, qel::testing::JsonNumber(all.out, "OutlierCountN"));
  EXPECT_EQ(RunQelstats("bivariate --csv " + kBaseBall + " --predictor AVG --target Salary --json").out,
            RunQelstats("bivariate --csv " + kBaseBall + " --predictor AVG --target Salary --bins 20 --json").out);
}

TEST(CliWarnings, ValuesThatMakeLittleSenseRunWithAWarning) {
  Outcome o = RunQelstats("outlier --csv " + kBaseBall + " --field Salary --parm -1 --json");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err,
            "qelstats outlier: warning: --parm -1 makes a standard-deviation band of zero width or less: every value "
            "is flagged\n");
  EXPECT_EQ(qel::testing::JsonNumber(o.out, "OutlierCountN"), 920);

  const fs::path dir = fs::path(::testing::TempDir()) / ("cli_warn_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "neg.csv") << "P,T,W\n1,5,1\n2,6,-3\n3,7,1\n4,1,1\n5,2,1\n6,3,1\n";
  std::ofstream(dir / "small.csv") << "P,T\n1,0.000001\n2,0.000002\n3,0.000004\n4,0\n";
  o = RunQelstats("bivariate --csv " + ShellQuote((dir / "neg.csv").string()) + " --predictor P --target T --weight W --bins 3");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("warning: negative weights make bins of negative N"), std::string::npos) << o.err;
  o = RunQelstats("bivariate --csv " + ShellQuote((dir / "small.csv").string()) + " --predictor P --target T --bins 2");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("warning: the target mean 1.75E-06 is so small"), std::string::npos) << o.err;
  fs::remove_all(dir);
}

TEST(CliFormats, CsvMarkdownPrecisionAndCharacterWidths) {
  Outcome o = RunQelstats("univariate --csv " + kBaseBall + " --field Salary --format markdown --precision 3");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out.rfind("| Result | Value |\n|---|---|\n| Field | Salary |\n", 0), 0u) << o.out;
  EXPECT_NE(o.out.find("| Mean | 1.04e+06 |"), std::string::npos) << o.out;
  o = RunQelstats("univariate --csv " + kBaseBall + " --field Salary --format csv");
  const auto rows = CsvRows(o.out);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("Mean"), "1040199.5108695652");  // every digit
  EXPECT_EQ(RunQelstats("univariate --csv " + kBaseBall + " --field Salary --json --format csv").status, 2);

  // Numbers on their decimal point in the segmentation's table.
  o = RunQelstats("bivariate --csv " + kBaseBall + " --predictor AVG --target Salary --bins 5");
  EXPECT_NE(o.out.find("  0.143  "), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("  0.29   "), std::string::npos) << o.out;

  // A field name beyond ASCII keeps the columns of fields in line.
  const fs::path dir = fs::path(::testing::TempDir()) / ("cli_fmt_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "u.csv") << "Größe,X\n1,2\n";
  o = RunQelstats("fields --csv " + ShellQuote((dir / "u.csv").string()));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("\nGröße     3  adInteger\nX         3  adInteger\n"), std::string::npos) << o.out;
  fs::remove_all(dir);
}

TEST(CliHelp, VersionHelpAndCompletion) {
  Outcome o = RunQelstats("--version");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out.rfind("qelstats ", 0), 0u);
  o = RunQelstats("--help");
  for (const char* words : {"(default std)", "(default 1)", "(default 20)", "PSI (power of segmentation)",
                            "DI (discontinuity)", "--where COND", "--by NAME", "--format table|json|csv|markdown"})
    EXPECT_NE(o.out.find(words), std::string::npos) << words;
  o = RunQelstats("completion bash");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("complete -F _qelstats qelstats"), std::string::npos);
}

}  // namespace
