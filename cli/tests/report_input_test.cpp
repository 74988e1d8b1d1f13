// The report's one-pass figures against the analysis classes' own runs.
#include "report_input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "qelStatsLib/QelBivariate.h"
#include "qelStatsLib/QelOutlier.h"
#include "qelStatsLib/QelUnivariate.h"
#include "qelStatsLib/presenter.h"

namespace {

namespace fs = std::filesystem;
using qelcli::FieldProfile;

class ReportInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("report_input_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    fs::copy_file(fs::path(QEL_SOURCE_DIR) / "VesquinDemo/datasets/BaseBall.csv", dir_ / "BaseBall.csv",
                  fs::copy_options::overwrite_existing);
    // The same table with holes: blank cells in a predictor, the target and
    // the weight, on records that overlap, so that every null rule is met.
    std::ifstream in(dir_ / "BaseBall.csv");
    std::ofstream out(dir_ / "Holes.csv");
    std::string line;
    std::getline(in, line);
    out << line << "\n";
    for (int row = 1; std::getline(in, line); ++row) {
      std::vector<std::string> cells;
      std::stringstream split(line);
      for (std::string cell; std::getline(split, cell, ',');) cells.push_back(cell);
      if (row % 7 == 0) cells[6] = "";   // HR
      if (row % 11 == 0) cells[0] = "";  // Salary
      if (row % 5 == 0) cells[12] = "";  // AVG
      if (row % 13 == 0) cells[23] = "";  // Team
      for (std::size_t i = 0; i < cells.size(); ++i) out << (i ? "," : "") << cells[i];
      out << "\n";
    }
  }
  void TearDown() override { fs::remove_all(dir_); }

  qelcli::ReportRequest Request(const std::string& file, const std::string& target, const std::string& weight) const {
    qelcli::ReportRequest r;
    r.connection_string = "Text;DBQ=" + dir_.string();
    r.source = file;
    r.input_name = file;
    r.target = target;
    r.weight = weight;
    r.bins = 7;
    return r;
  }

  // Every figure of the page's fields equals what the classes compute, run
  // one field at a time as before.
  void ExpectFiguresOfTheRuns(const qelcli::ReportRequest& r) {
    qel::SilentPresenter silent;
    qel::ScopedPresenter scoped(&silent);
    const qelcli::ReportInput in = qelcli::BuildReportInput(r);
    EXPECT_NE(in.method_note.find("Made in 1 pass "), std::string::npos) << in.method_note;
    int numeric = 0, segmented = 0, with_outliers = 0;
    for (const FieldProfile& p : in.fields) {
      SCOPED_TRACE(p.name);
      if (p.kind == qelcli::FieldKind::kNumeric) {
        ++numeric;
        Univariate(r, p);
        if (Outliers(r, p)) ++with_outliers;
      }
      if (!r.target.empty() && !p.is_target) {
        Segmentation(r, p);
        ++segmented;
      }
    }
    EXPECT_GT(numeric, 20);
    EXPECT_GT(with_outliers, 5);
    if (!r.target.empty()) {
      EXPECT_EQ(segmented, static_cast<int>(in.fields.size()) - 1);
    }
  }

  static void Univariate(const qelcli::ReportRequest& r, const FieldProfile& p) {
    qel::QelUnivariate u;
    u.SetConnectionString(r.connection_string);
    u.SetSource(r.source);
    u.SetFieldName(p.name);
    u.SetWeightField(r.weight);
    ASSERT_TRUE(u.Run());
    ASSERT_TRUE(p.figures_complete);
    const std::vector<std::pair<const char*, double>> want = {
        {"N", u.N()},           {"WgtN", u.WgtN()},       {"Missing", u.Missing()},
        {"Sum", u.Sum()},       {"Mean", u.Mean()},       {"Variance", u.Variance()},
        {"Stdev", u.Stdev()},   {"CV", u.CV()},           {"Min", u.Min()},
        {"Max", u.Max()},       {"Range", u.Range()},     {"Cardinality", u.Cardinality()},
        {"Uniques", u.Uniques()}, {"Mode", u.Mode()},     {"Median", u.Median()},
        {"Q1", u.Q1()},         {"Q3", u.Q3()},           {"IQR", u.IQR()},
        {"TrimmedMean", u.TrimmedMean()}, {"Skewness", u.Skewness()}, {"Kurtosis", u.Kurtosis()}};
    ASSERT_EQ(p.figures.size(), want.size());
    for (const auto& [name, value] : want) {
      ASSERT_TRUE(p.Figure(name)) << name;
      EXPECT_EQ(*p.Figure(name), value) << name;  // bit for bit
    }
    EXPECT_EQ(p.records, u.N() + u.Missing());
    EXPECT_EQ(p.missing, u.Missing());
  }

  // Returns whether the field has outliers.
  static bool Outliers(const qelcli::ReportRequest& r, const FieldProfile& p) {
    qel::QelOutlier o;
    o.SetConnectionString(r.connection_string);
    o.SetSource(r.source);
    o.SetOutlierField(p.name);
    o.SetWeightField(r.weight);
    o.SetFindType(qel::outSTD);
    o.SetTypeParm(r.outlier_sigmas);
    EXPECT_TRUE(o.Run());
    EXPECT_TRUE(p.outliers.has_value());
    if (!p.outliers) return false;
    EXPECT_EQ(p.outliers->count, o.OutlierCountN());
    EXPECT_EQ(p.outliers->weight, o.OutlierCountWgt());
    EXPECT_EQ(p.outliers->lower, o.Mean() - r.outlier_sigmas * o.Stdev());
    EXPECT_EQ(p.outliers->upper, r.outlier_sigmas * o.Stdev() + o.Mean());
    // The most extreme outliers listed are the table's first and last flagged rows.
    const auto table = o.ResultSet();
    std::vector<std::pair<double, bool>> rows;
    const qeldata::Fields cols = table->GetFields();
    for (table->MoveFirst(); !table->IsEOF(); table->MoveNext())
      rows.emplace_back(cols.Item(0).GetValue().AsNumber(), cols.Item(3).GetValue().boolean());
    if (!p.outliers->highest.empty()) {
      EXPECT_TRUE(rows.back().second);
      EXPECT_EQ(p.outliers->highest.front().value, rows.back().first);
    }
    if (!p.outliers->lowest.empty()) {
      EXPECT_EQ(p.outliers->lowest.front().value, rows.front().first);
    }
    EXPECT_TRUE(p.histogram.has_value());
    return o.OutlierCountN() > 0;
  }

  // An empty cell (a bin without records) is no number on the page.
  static void ExpectCell(double shown, const qeldata::Value& cell) {
    if (cell.IsNull()) {
      EXPECT_TRUE(std::isnan(shown));
    } else {
      EXPECT_EQ(shown, cell.AsNumber());
    }
  }

  static void Segmentation(const qelcli::ReportRequest& r, const FieldProfile& p) {
    qel::QelBivariate b;
    b.SetConnectionString(r.connection_string);
    b.SetSource(r.source);
    b.SetPredictorField(p.name);
    b.SetTargetField(r.target);
    b.SetWeightField(r.weight);
    b.SetBinCount(static_cast<std::int16_t>(r.bins));
    ASSERT_TRUE(b.Run());
    ASSERT_TRUE(p.segmentation.has_value());
    const qelcli::Segmentation& s = *p.segmentation;
    EXPECT_TRUE(s.ran);
    EXPECT_EQ(s.categorical, b.Categorical());
    EXPECT_EQ(s.psi, b.PSI());
    EXPECT_EQ(s.di, b.DI());
    EXPECT_EQ(s.n, b.N());
    EXPECT_EQ(s.missing, b.Missing());
    EXPECT_EQ(s.target_mean, b.TargetMean());
    const auto table = b.ResultSet();
    const qeldata::Fields cols = table->GetFields();
    std::size_t i = 0;
    for (table->MoveFirst(); !table->IsEOF(); table->MoveNext(), ++i) {
      ASSERT_LT(i, s.rows.size());
      EXPECT_EQ(s.rows[i].bin, cols.Item(0).GetValue().AsText());
      EXPECT_EQ(s.rows[i].min, cols.Item(2).GetValue().AsText());
      EXPECT_EQ(s.rows[i].max, cols.Item(3).GetValue().AsText());
      ExpectCell(s.rows[i].target_mean, cols.Item(4).GetValue());
      ExpectCell(s.rows[i].index, cols.Item(5).GetValue());
    }
    EXPECT_EQ(i, s.rows.size());
  }

  fs::path dir_;
};

TEST_F(ReportInputTest, OnePassFiguresAreThoseOfTheRunsAgainstTheTarget) {
  ExpectFiguresOfTheRuns(Request("BaseBall.csv", "Salary", ""));
}

TEST_F(ReportInputTest, OnePassKeepsTheRunsRulesForNullValuesTargetsAndFractionalWeights) {
  ExpectFiguresOfTheRuns(Request("Holes.csv", "Salary", "AVG"));
  ExpectFiguresOfTheRuns(Request("Holes.csv", "HR", ""));
}

TEST_F(ReportInputTest, TextFieldsCountEveryValueWithItsWeight) {
  qel::SilentPresenter silent;
  qel::ScopedPresenter scoped(&silent);
  qelcli::ReportRequest r = Request("Holes.csv", "", "HR");
  r.fields = {"Team"};
  r.top_values = 1000;
  const qelcli::ReportInput in = qelcli::BuildReportInput(r);
  ASSERT_EQ(in.fields.size(), 1u);
  const FieldProfile& team = in.fields[0];
  double counted = 0, weight = 0;
  for (const auto& f : team.top_values) {
    counted += f.count;
    weight += f.weight;
  }
  // A record with no team or no HR is missing; every other one counts once.
  qel::QelUnivariate hr;
  hr.SetConnectionString(r.connection_string);
  hr.SetSource(r.source);
  hr.SetFieldName("HR");
  ASSERT_TRUE(hr.Run());
  EXPECT_EQ(team.records, hr.N() + hr.Missing());
  EXPECT_EQ(counted + team.missing, team.records);
  EXPECT_GT(team.missing, hr.Missing());
  EXPECT_EQ(team.other_weight, 0);
  EXPECT_GT(weight, 0);
}

}  // namespace
