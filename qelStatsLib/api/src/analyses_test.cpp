// The API against `qelstats --json` on the demonstration datasets: every
// double of every result, over the table and over arrays read from it,
// weighted and not, must be the command line's (that is, the classes') bit
// for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "qel/qel.h"

namespace {

// ---- A small JSON reader for qelstats' output ----

struct Json {
  std::variant<std::nullptr_t, bool, double, std::string, std::vector<Json>, std::map<std::string, Json>> v;
  const Json& operator[](const std::string& k) const { return std::get<std::map<std::string, Json>>(v).at(k); }
  const std::vector<Json>& array() const { return std::get<std::vector<Json>>(v); }
  double number() const { return std::get<double>(v); }
  const std::string& text() const { return std::get<std::string>(v); }
  bool IsNull() const { return v.index() == 0; }
};

class Reader {
 public:
  explicit Reader(const std::string& s) : s_(s) {}
  Json Value() {
    Skip();
    const char c = s_.at(i_);
    if (c == '{') {
      std::map<std::string, Json> m;
      ++i_;
      for (Skip(); s_[i_] != '}';) {
        std::string key = String();
        Skip();
        ++i_;  // ':'
        m[key] = Value();
        Skip();
        if (s_[i_] == ',') ++i_, Skip();
      }
      ++i_;
      return Json{std::move(m)};
    }
    if (c == '[') {
      std::vector<Json> a;
      ++i_;
      for (Skip(); s_[i_] != ']';) {
        a.push_back(Value());
        Skip();
        if (s_[i_] == ',') ++i_, Skip();
      }
      ++i_;
      return Json{std::move(a)};
    }
    if (c == '"') return Json{String()};
    if (s_.compare(i_, 4, "true") == 0) return i_ += 4, Json{true};
    if (s_.compare(i_, 5, "false") == 0) return i_ += 5, Json{false};
    if (s_.compare(i_, 4, "null") == 0) return i_ += 4, Json{nullptr};
    char* end = nullptr;
    const double x = std::strtod(s_.c_str() + i_, &end);
    i_ = static_cast<std::size_t>(end - s_.c_str());
    return Json{x};
  }

 private:
  void Skip() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  std::string String() {
    std::string out;
    for (++i_; s_[i_] != '"'; ++i_) {
      if (s_[i_] == '\\') ++i_;
      out += s_[i_];
    }
    ++i_;
    return out;
  }
  const std::string& s_;
  std::size_t i_ = 0;
};

const std::string kData = std::string(QEL_SOURCE_DIR) + "/VesquinDemo/datasets/";

Json Qelstats(const std::string& args) {
  const std::string command = std::string(QEL_BINARY_DIR) + "/bin/qelstats " + args + " --json --no-progress";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string out;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) out.append(buffer, n);
  EXPECT_FALSE(out.empty()) << command;
  return Reader(out).Value();
}

// Bit for bit: the same double, NaN never expected.
#define EXPECT_SAME(json, name, actual) \
  EXPECT_EQ((json)[name].number(), (actual)) << name

// A column of a CSV file as the analyses read it: numbers (NaN for an empty
// cell) or texts (nullopt for an empty cell). The files' texts hold no quotes
// around commas where these tests read them.
struct Columns {
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> cells;  // per row
  explicit Columns(const std::string& file) {
    FILE* f = std::fopen((kData + file).c_str(), "r");
    std::string line;
    bool header = true;
    for (int c; (c = std::fgetc(f)) != EOF || !line.empty();) {
      if (c != EOF && c != '\n') {
        if (c != '\r') line += static_cast<char>(c);
        continue;
      }
      std::vector<std::string> row;
      std::string cell;
      bool quoted = false;
      for (char ch : line) {
        if (ch == '"') quoted = !quoted;
        else if (ch == ',' && !quoted) row.push_back(cell), cell.clear();
        else cell += ch;
      }
      row.push_back(cell);
      if (header) names = row, header = false;
      else cells.push_back(row);
      line.clear();
      if (c == EOF) break;
    }
    std::fclose(f);
  }
  std::size_t Index(const std::string& name) const {
    for (std::size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) return i;
    ADD_FAILURE() << "no column " << name;
    return 0;
  }
  std::vector<double> Numbers(const std::string& name) const {
    std::vector<double> out;
    const std::size_t i = Index(name);
    for (const auto& row : cells) out.push_back(row[i].empty() ? std::nan("") : std::strtod(row[i].c_str(), nullptr));
    return out;
  }
  std::vector<std::optional<std::string>> Texts(const std::string& name) const {
    std::vector<std::optional<std::string>> out;
    const std::size_t i = Index(name);
    for (const auto& row : cells) out.push_back(row[i].empty() ? std::nullopt : std::optional(row[i]));
    return out;
  }
};

void ExpectUnivariate(const Json& j, const qel::UnivariateResult& r) {
  EXPECT_EQ(j["Run"].v.index(), 1u);
  EXPECT_EQ(std::get<bool>(j["Run"].v), r.Complete);
  EXPECT_SAME(j, "N", r.N);
  EXPECT_SAME(j, "WgtN", r.WgtN);
  EXPECT_SAME(j, "Missing", r.Missing);
  EXPECT_SAME(j, "Sum", r.Sum);
  EXPECT_SAME(j, "Mean", r.Mean);
  EXPECT_SAME(j, "Variance", r.Variance);
  EXPECT_SAME(j, "Stdev", r.Stdev);
  EXPECT_SAME(j, "CV", r.CV);
  EXPECT_SAME(j, "Min", r.Min);
  EXPECT_SAME(j, "Max", r.Max);
  EXPECT_SAME(j, "Range", r.Range);
  EXPECT_SAME(j, "Cardinality", r.Cardinality);
  EXPECT_SAME(j, "Uniques", r.Uniques);
  EXPECT_SAME(j, "Mode", r.Mode);
  EXPECT_SAME(j, "Median", r.Median);
  EXPECT_SAME(j, "Q1", r.Q1);
  EXPECT_SAME(j, "Q3", r.Q3);
  EXPECT_SAME(j, "IQR", r.IQR);
  EXPECT_SAME(j, "TrimmedMean", r.TrimmedMean);
  EXPECT_SAME(j, "Skewness", r.Skewness);
  EXPECT_SAME(j, "Kurtosis", r.Kurtosis);
}

void ExpectOutlier(const Json& j, const qel::OutlierResult& r) {
  EXPECT_EQ(std::get<bool>(j["Run"].v), r.Complete);
  for (const auto& [name, value] :
       std::vector<std::pair<const char*, double>>{{"N", r.N}, {"WgtN", r.WgtN}, {"Missing", r.Missing},
                                                   {"Sum", r.Sum}, {"SumWgt", r.SumWgt}, {"Mean", r.Mean},
                                                   {"Variance", r.Variance}, {"Stdev", r.Stdev}, {"Min", r.Min},
                                                   {"Max", r.Max}, {"Cardinality", r.Cardinality}, {"Q1", r.Q1},
                                                   {"Median", r.Median}, {"Q3", r.Q3},
                                                   {"TrimmedMean", r.TrimmedMean},
                                                   {"OutlierCountN", r.OutlierCountN},
                                                   {"OutlierCountWgt", r.OutlierCountWgt}})
    EXPECT_SAME(j, name, value);
  const auto& rows = j["ResultSet"]["rows"].array();
  ASSERT_EQ(rows.size(), r.Rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& row = rows[i].array();
    EXPECT_EQ(row[0].number(), r.Rows[i].Value) << "row " << i;
    EXPECT_EQ(row[1].number(), r.Rows[i].N) << "row " << i;
    EXPECT_EQ(row[2].number(), r.Rows[i].WeightedN) << "row " << i;
    EXPECT_EQ(std::get<bool>(row[3].v), r.Rows[i].Outlier) << "row " << i;
  }
}

// The table of the command line holds text: numbers compare as the doubles
// that text reads back as.
void ExpectBound(const Json& cell, const qel::PredictorValue& v, std::size_t i) {
  if (const double* x = std::get_if<double>(&v)) EXPECT_EQ(std::strtod(cell.text().c_str(), nullptr), *x) << i;
  else EXPECT_EQ(cell.text(), std::get<std::string>(v)) << i;
}

void ExpectBivariate(const Json& j, const qel::BivariateResult& r) {
  EXPECT_EQ(std::get<bool>(j["Run"].v), r.Complete);
  EXPECT_SAME(j, "PSI", r.PSI);
  EXPECT_SAME(j, "DI", r.DI);
  EXPECT_SAME(j, "N", r.N);
  EXPECT_SAME(j, "Missing", r.Missing);
  EXPECT_SAME(j, "TargetMean", r.TargetMean);
  EXPECT_SAME(j, "Cardinality", r.Cardinality);
  EXPECT_EQ(std::get<bool>(j["Categorical"].v), r.Categorical);
  const auto& rows = j["ResultSet"]["rows"].array();
  ASSERT_EQ(rows.size(), r.Rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& row = rows[i].array();
    const qel::BivariateRow& b = r.Rows[i];
    EXPECT_EQ(row[0].text(), std::to_string(b.Bin)) << i;
    EXPECT_EQ(std::strtod(row[1].text().c_str(), nullptr), b.N) << i;
    ExpectBound(row[2], b.Min, i);
    ExpectBound(row[3], b.Max, i);
    if (row[4].text().empty()) EXPECT_FALSE(b.Mean) << i;
    else EXPECT_EQ(std::strtod(row[4].text().c_str(), nullptr), b.Mean.value_or(-1)) << i;
    if (row[5].text().empty()) EXPECT_FALSE(b.Index) << i;
    else EXPECT_EQ(std::atoi(row[5].text().c_str()), b.Index.value_or(-1)) << i;
  }
}

struct Case {
  const char* file;
  const char* field;   // the analysed field, or the predictor
  const char* weight;  // "" unweighted
  const char* target;  // bivariate only
};

const Case kNumeric[] = {
    {"BaseBall.csv", "Salary", "", "AVG"},      {"BaseBall.csv", "Salary", "Age", "AVG"},
    {"BaseBall.csv", "AVG", "Weight", "Salary"}, {"BaseBall.csv", "HR", "", "Salary"},
    {"College.csv", "AdmitRate", "", "GradRate"}, {"College.csv", "AdmitRate", "Enrollment", "GradRate"},
    {"College.csv", "NetPrice", "PellShare", "Earnings10yr"}, {"College.csv", "SAT_Avg", "", "Retention"},
};

std::string Weight(const Case& c) { return *c.weight ? std::string(" --weight ") + c.weight : ""; }
std::span<const double> Weights(const std::vector<double>& w, const Case& c) {
  return *c.weight ? std::span<const double>(w) : std::span<const double>();
}

TEST(ApiAgainstCommandLine, UnivariateOverTablesAndArrays) {
  for (const Case& c : kNumeric) {
    SCOPED_TRACE(std::string(c.file) + " " + c.field + " weight '" + c.weight + "'");
    const Json j = Qelstats(std::string("univariate --csv ") + kData + c.file + " --field " + c.field + Weight(c));
    ExpectUnivariate(j, qel::Univariate(qel::Table::Csv(kData + c.file), c.field, c.weight));
    const Columns cols(c.file);
    const auto w = *c.weight ? cols.Numbers(c.weight) : std::vector<double>();
    ExpectUnivariate(j, qel::Univariate(cols.Numbers(c.field), Weights(w, c)));
  }
}

TEST(ApiAgainstCommandLine, OutlierBothRulesOverTablesAndArrays) {
  for (const Case& c : kNumeric) {
    for (const auto& [rule, name, parm] : {std::tuple{qel::OutlierRule::kStd, "std", 2.0},
                                           std::tuple{qel::OutlierRule::kTrimmedMean, "tmean", 10.0}}) {
      SCOPED_TRACE(std::string(c.file) + " " + c.field + " weight '" + c.weight + "' " + name);
      const Json j = Qelstats(std::string("outlier --csv ") + kData + c.file + " --field " + c.field + Weight(c) +
                              " --rule " + name + " --parm " + std::to_string(parm));
      ExpectOutlier(j, qel::Outlier(qel::Table::Csv(kData + c.file), c.field, c.weight, rule, parm));
      const Columns cols(c.file);
      const auto w = *c.weight ? cols.Numbers(c.weight) : std::vector<double>();
      ExpectOutlier(j, qel::Outlier(cols.Numbers(c.field), Weights(w, c), rule, parm));
    }
  }
}

TEST(ApiAgainstCommandLine, BivariateNumericBinnedAndCategorical) {
  for (const Case& c : kNumeric) {
    for (const auto& [bins, categorical] : {std::pair{10, false}, std::pair{4, true}}) {
      SCOPED_TRACE(std::string(c.file) + " " + c.field + " weight '" + c.weight + "' bins " + std::to_string(bins));
      const Json j = Qelstats(std::string("bivariate --csv ") + kData + c.file + " --predictor " + c.field +
                              " --target " + c.target + Weight(c) + " --bins " + std::to_string(bins) +
                              (categorical ? " --categorical" : ""));
      ExpectBivariate(j, qel::Bivariate(qel::Table::Csv(kData + c.file), c.field, c.target, c.weight, bins,
                                        categorical));
      const Columns cols(c.file);
      const auto w = *c.weight ? cols.Numbers(c.weight) : std::vector<double>();
      ExpectBivariate(j, qel::Bivariate(cols.Numbers(c.field), cols.Numbers(c.target), Weights(w, c), bins,
                                        categorical));
    }
  }
}

TEST(ApiAgainstCommandLine, BivariateTextPredictor) {
  const Case cases[] = {{"BaseBall.csv", "Team", "", "Salary"},
                        {"BaseBall.csv", "Position", "Age", "Salary"},
                        {"College.csv", "State", "Enrollment", "GradRate"},
                        {"College.csv", "Control", "", "Earnings10yr"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.field + " weight '" + c.weight + "'");
    const Json j = Qelstats(std::string("bivariate --csv ") + kData + c.file + " --predictor " + c.field +
                            " --target " + c.target + Weight(c) + " --bins 5");
    ExpectBivariate(j, qel::Bivariate(qel::Table::Csv(kData + c.file), c.field, c.target, c.weight, 5));
    const Columns cols(c.file);
    const auto w = *c.weight ? cols.Numbers(c.weight) : std::vector<double>();
    ExpectBivariate(j, qel::Bivariate(cols.Texts(c.field), cols.Numbers(c.target), Weights(w, c), 5));
  }
}

}  // namespace
