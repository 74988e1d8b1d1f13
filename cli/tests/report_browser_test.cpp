// The report of BaseBall.csv against Salary, opened in headless Chromium: the
// page runs without console errors, every field has its section and charts,
// and the numbers on it are those of qelstats univariate --json.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "qelstats_runner.h"

namespace {

namespace fs = std::filesystem;
using qelstats_test::DatasetPath;
using qelstats_test::Outcome;
using qelstats_test::ShellQuote;
using qelstats_test::Slurp;

const char* const kChromium = "/usr/bin/chromium";

// The value of the attribute `name` in the first tag at or after `from`.
std::string AttributeAfter(const std::string& page, std::size_t from, const std::string& name) {
  const auto at = page.find(" " + name + "=\"", from);
  if (at == std::string::npos) return "";
  const auto start = at + name.size() + 3;
  return page.substr(start, page.find('"', start) - start);
}

// Every "name": "..." of `qelstats fields --json`, with its type.
std::vector<std::pair<std::string, int>> Fields(const std::string& json) {
  std::vector<std::pair<std::string, int>> fields;
  for (auto at = json.find("{\"name\": \""); at != std::string::npos; at = json.find("{\"name\": \"", at + 1)) {
    const auto start = at + 10;
    const std::string name = json.substr(start, json.find('"', start) - start);
    const auto type = json.find("\"type\": ", start) + 8;
    fields.emplace_back(name, std::stoi(json.substr(type)));
  }
  return fields;
}

// The numbers of a flat JSON object, by key.
std::map<std::string, double> JsonNumbers(const std::string& json) {
  std::map<std::string, double> numbers;
  for (auto at = json.find('"'); at != std::string::npos; at = json.find('"', at + 1)) {
    const auto end = json.find('"', at + 1);
    const std::string key = json.substr(at + 1, end - at - 1);
    if (json.compare(end + 1, 2, ": ") != 0) {
      at = end;
      continue;
    }
    const char* value = json.c_str() + end + 3;
    char* stop = nullptr;
    const double x = std::strtod(value, &stop);
    if (stop != value) numbers[key] = x;
    at = end;
  }
  return numbers;
}

class ReportInBrowser : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kChromium))
      GTEST_SKIP() << "no " << kChromium << " (scripts/install-deps.sh installs chromium): the report is not "
                   << "checked in a browser";
    dir_ = fs::path(::testing::TempDir()) / ("report_browser_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // Opens `page` in headless Chromium with a fresh profile and no network
  // services; returns the DOM after the page's script ran, and the browser's log.
  std::pair<std::string, std::string> Open(const fs::path& page) {
    const fs::path profile = dir_ / "profile", dom = dir_ / "dom.html", log = dir_ / "chromium.log";
    fs::create_directories(profile);
    const std::string command =
        "timeout 120 " + ShellQuote(kChromium) +
        " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking"
        " --disable-component-update --disable-sync --enable-logging=stderr --v=0 --user-data-dir=" +
        ShellQuote(profile.string()) + " --dump-dom " + ShellQuote("file://" + page.string()) + " >" +
        ShellQuote(dom.string()) + " 2>" + ShellQuote(log.string());
    const int raw = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << command << "\n" << Slurp(log);
    return {Slurp(dom), Slurp(log)};
  }

  fs::path dir_;
};

TEST_F(ReportInBrowser, BaseBallAgainstSalary) {
  const std::string csv = DatasetPath("BaseBall.csv");
  const fs::path html = dir_ / "report.html";
  const Outcome made = qelstats_test::RunQelstats("report --no-progress --csv " + ShellQuote(csv) +
                                                  " --target Salary -o " + ShellQuote(html.string()));
  ASSERT_EQ(made.status, 0) << made.err;

  const auto [dom, log] = Open(html);
  ASSERT_FALSE(dom.empty()) << log;

  // The page's script ran to its end, and nothing reached the console
  // (script errors, blocked loads and violations of the page's policy all do).
  EXPECT_EQ(AttributeAfter(dom, dom.find("<html"), "data-script"), "ready");
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) EXPECT_EQ(line.find(":CONSOLE"), std::string::npos) << line;
  EXPECT_NE(dom.find("class=\"sortable\""), std::string::npos) << "the overview headings were made sortable";

  // Every field: a row in the overview, a section, and the charts of its kind.
  const Outcome listed = qelstats_test::RunQelstats("fields --json --csv " + ShellQuote(csv));
  const auto fields = Fields(listed.out);
  ASSERT_EQ(fields.size(), 29u) << listed.out;
  const std::string overview = dom.substr(0, dom.find("</table>", dom.find("id=\"overview\"")));
  for (const auto& [name, type] : fields) {
    SCOPED_TRACE(name);
    EXPECT_NE(overview.find("<tr data-field=\"" + name + "\""), std::string::npos);
    const auto at = dom.find("data-field=\"" + name + "\" data-kind=");
    ASSERT_NE(at, std::string::npos);
    const std::string section = dom.substr(at, dom.find("</section>", at) - at);
    const bool text = type == 202;
    EXPECT_EQ(section.find("data-kind=\"text\"") != std::string::npos, text);
    if (text) {
      EXPECT_NE(section.find("<svg class=\"chart topvalues\""), std::string::npos);
    } else {
      EXPECT_NE(section.find("<svg class=\"chart histogram\""), std::string::npos);
      EXPECT_NE(section.find("<svg class=\"chart boxplot\""), std::string::npos);
    }
    if (name != "Salary") {
      EXPECT_NE(section.find("<svg class=\"chart segmentation\""), std::string::npos);
      EXPECT_NE(section.find("data-stat=\"DI\""), std::string::npos);
    }
  }

  // The figures of two fields equal qelstats univariate --json: exactly in
  // their data-value, and to the digits shown in the text people read.
  for (const char* field : {"Salary", "AVG"}) {
    SCOPED_TRACE(field);
    const Outcome u = qelstats_test::RunQelstats("univariate --json --no-progress --csv " + ShellQuote(csv) +
                                                 " --field " + field);
    ASSERT_EQ(u.status, 0) << u.err;
    const auto expected = JsonNumbers(u.out);
    const auto at = dom.find("data-field=\"" + std::string(field) + "\" data-kind=");
    ASSERT_NE(at, std::string::npos);
    const std::string section = dom.substr(at, dom.find("</section>", at) - at);
    int compared = 0;
    for (const char* key : {"N", "WgtN", "Sum", "Mean", "Variance", "Stdev", "CV", "Min", "Max", "Range",
                            "Cardinality", "Uniques", "Mode", "Median", "Q1", "Q3", "IQR", "TrimmedMean", "Skewness",
                            "Kurtosis"}) {
      SCOPED_TRACE(key);
      const auto cell = section.find("data-stat=\"" + std::string(key) + "\"");
      ASSERT_NE(cell, std::string::npos);
      const double exact = std::stod(AttributeAfter(section, cell - 1, "data-value"));
      ASSERT_TRUE(expected.count(key));
      EXPECT_EQ(exact, expected.at(key));
      const auto text_start = section.find('>', cell) + 1;
      std::string shown = section.substr(text_start, section.find('<', text_start) - text_start);
      std::erase(shown, ',');
      EXPECT_NEAR(std::stod(shown), expected.at(key), std::fabs(expected.at(key)) * 1e-3 + 1e-12) << shown;
      ++compared;
    }
    EXPECT_EQ(compared, 20);
    // Missing is shown as a count and a share of the records.
    const double missing = expected.at("Missing"), records = expected.at("N") + missing;
    const auto share = section.find("data-stat=\"MissingShare\"");
    EXPECT_EQ(std::stod(AttributeAfter(section, share - 1, "data-value")), missing / records);
  }

  // Sorting: a click on a heading orders the overview by that column, numbers
  // from the largest down first, names from A; a second click reverses.
  std::string page = Slurp(html);
  const std::string clicks =
      "<script>var h=document.querySelectorAll('#overview th');h[3].click();"
      "document.documentElement.setAttribute('data-by-distinct',"
      "document.querySelector('#overview tbody tr').getAttribute('data-field'));"
      "h[0].click();h[0].click();</script>";
  page.insert(page.rfind("</body>"), clicks);
  const fs::path clicked = dir_ / "clicked.html";
  std::ofstream(clicked) << page;
  const auto [sorted_dom, sorted_log] = Open(clicked);
  EXPECT_EQ(sorted_log.find(":CONSOLE"), std::string::npos) << sorted_log;
  EXPECT_EQ(AttributeAfter(sorted_dom, sorted_dom.find("<html"), "data-by-distinct"), "Player");
  const auto first_row = sorted_dom.find("<tr data-field=", sorted_dom.find("id=\"overview\""));
  EXPECT_EQ(AttributeAfter(sorted_dom, first_row, "data-field"), "Weight") << "names from Z after two clicks";
  EXPECT_NE(sorted_dom.find("aria-sort=\"descending\""), std::string::npos);
}

}  // namespace
