#include "qelStatsLib/modUnivariate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "qelStatsLib/presenter.h"
#include "qeldata/recordset.h"

namespace qel {
namespace {

using qeldata::Value;

// An in-memory recordset with a value field "X" and a weight field "W".
std::unique_ptr<qeldata::Recordset> Table(const std::vector<std::pair<Value, Value>>& rows,
                                          int value_type = qeldata::adDouble) {
  auto rs = std::make_unique<qeldata::Recordset>();
  rs->GetFields().Append("X", value_type, 0, qeldata::adFldIsNullable);
  rs->GetFields().Append("W", qeldata::adDouble, 0, qeldata::adFldIsNullable);
  rs->Open();
  for (const auto& [x, w] : rows) {
    rs->AddNew();
    rs->GetFields().Item(0).SetValue(x);
    rs->GetFields().Item(1).SetValue(w);
    rs->Update();
  }
  return rs;
}

std::unique_ptr<qeldata::Recordset> Values(const std::vector<Value>& xs) {
  std::vector<std::pair<Value, Value>> rows;
  for (const auto& x : xs) rows.emplace_back(x, Value(1.0));
  return Table(rows);
}

bool RunUnweighted(qeldata::Recordset& rs) { return Univariate_Run(rs, "X", "", false); }
bool RunWeighted(qeldata::Recordset& rs) { return Univariate_Run(rs, "X", "W", false); }

// Agreement to 12 significant digits, as the published figures are given.
void ExpectClose(double actual, double expected) {
  EXPECT_NEAR(actual, expected, std::fabs(expected) * 5e-12) << "expected " << expected;
}

void ExpectAllZero(const UnivariateRecord& r) {
  for (double v : {r.N, r.WgtN, r.Missing, r.Sum, r.Mean, r.Variance, r.Stdev, r.CV, r.Min, r.Max, r.Range,
                   r.Cardinality, r.Uniques, r.Mode, r.Median, r.Q1, r.Q3, r.IQR, r.TrimmedMean, r.Skewness,
                   r.Kurtosis})
    EXPECT_EQ(v, 0);
}

TEST(UnivariateRun, WorkedExampleUnweighted) {
  auto rs = Values({1, 2, 2, 3, 10});
  ASSERT_TRUE(RunUnweighted(*rs));
  const UnivariateRecord& r = UnivariateRunRecord();
  EXPECT_EQ(r.N, 5);
  EXPECT_EQ(r.WgtN, 5);
  EXPECT_EQ(r.Missing, 0);
  EXPECT_EQ(r.Sum, 18);
  EXPECT_DOUBLE_EQ(r.Mean, 3.6);
  EXPECT_DOUBLE_EQ(r.Variance, 13.3);
  ExpectClose(r.Stdev, 3.64691650576);
  ExpectClose(r.CV, 101.303236271);
  EXPECT_EQ(r.Min, 1);
  EXPECT_EQ(r.Max, 10);
  EXPECT_EQ(r.Range, 9);
  EXPECT_EQ(r.Cardinality, 4);
  EXPECT_EQ(r.Uniques, 3);
  EXPECT_EQ(r.Q1, 2);
  EXPECT_EQ(r.Median, 2);
  EXPECT_EQ(r.Q3, 3);
  EXPECT_EQ(r.IQR, 1);
  EXPECT_EQ(r.Mode, 2);
  EXPECT_EQ(r.TrimmedMean, 2);
  ExpectClose(r.Skewness, 2.02869910208);
  ExpectClose(r.Kurtosis, 4.27214653174);
  EXPECT_TRUE(rs->IsEOF());  // read to its end, left open
}

TEST(UnivariateRun, WorkedExampleWeighted) {
  auto rs = Table({{1, 2}, {2, 1}, {4, 1}, {Value(), 1}, {3, Value()}});
  ASSERT_TRUE(RunWeighted(*rs));
  const UnivariateRecord& r = UnivariateRunRecord();
  EXPECT_EQ(r.N, 3);
  EXPECT_EQ(r.WgtN, 4);
  EXPECT_EQ(r.Missing, 2);
  EXPECT_EQ(r.Sum, 8);
  EXPECT_EQ(r.Mean, 2);
  EXPECT_EQ(r.Variance, 2);
  ExpectClose(r.Stdev, 1.41421356237);
  ExpectClose(r.CV, 70.7106781187);
  EXPECT_EQ(r.Min, 1);
  EXPECT_EQ(r.Max, 4);
  EXPECT_EQ(r.Range, 3);
  EXPECT_EQ(r.Cardinality, 3);
  EXPECT_EQ(r.Uniques, 2);
  EXPECT_EQ(r.Q1, 1);
  EXPECT_EQ(r.Median, 1.5);
  EXPECT_EQ(r.Q3, 2);
  EXPECT_EQ(r.IQR, 1);
  EXPECT_EQ(r.Mode, 1);
  ExpectClose(r.TrimmedMean, 1.33333333333);
  ExpectClose(r.Skewness, 1.41421356237);
  ExpectClose(r.Kurtosis, 1.5);
}

TEST(UnivariateRun, TextDateAndUnknownFieldsStopBeforeReading) {
  auto text = Table({{"1", 1}, {"2", 1}, {"3", 1}, {"4", 1}}, qeldata::adVarWChar);
  EXPECT_FALSE(RunUnweighted(*text));
  ExpectAllZero(UnivariateRunRecord());

  auto dates = Table({{qeldata::Date{2020, 1, 2}, 1}}, qeldata::adDate);
  EXPECT_FALSE(RunUnweighted(*dates));
  ExpectAllZero(UnivariateRunRecord());

  auto numbers = Values({1, 2, 3, 4, 5});
  EXPECT_FALSE(Univariate_Run(*numbers, "Nope", "", false));
  ExpectAllZero(UnivariateRunRecord());
  // An unknown weight field fails on the first record, even one whose value is null.
  auto with_null = Table({{Value(), 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}});
  EXPECT_FALSE(Univariate_Run(*with_null, "X", "Wt", false));
  ExpectAllZero(UnivariateRunRecord());
}

TEST(UnivariateRun, ValueThatIsNoNumberStopsWithEarlierCounts) {
  // Long text passes the type check; its values are read as numbers until one is not.
  auto rs = Table({{"1", 1}, {Value(), 1}, {"2.5", 1}, {"abc", 1}, {"4", 1}}, qeldata::adLongVarWChar);
  EXPECT_FALSE(RunUnweighted(*rs));
  const UnivariateRecord& r = UnivariateRunRecord();
  EXPECT_EQ(r.N, 2);
  EXPECT_EQ(r.Missing, 1);
  EXPECT_EQ(r.Sum, 3.5);
  EXPECT_EQ(r.Mean, 0);
  EXPECT_EQ(r.Cardinality, 0);
  // The reason names the value and where it was met.
  EXPECT_NE(LastStopReason().find("'abc'"), std::string::npos) << LastStopReason();
  EXPECT_NE(LastStopReason().find("(record 4)"), std::string::npos) << LastStopReason();
  auto good = Values({1, 2, 3, 4});
  ASSERT_TRUE(RunUnweighted(*good));
  EXPECT_EQ(LastStopReason(), "");
}

TEST(UnivariateRun, NoUsableValueCountsMissingOnly) {
  auto nulls = Values({Value(), Value(), Value()});
  EXPECT_FALSE(RunUnweighted(*nulls));
  const UnivariateRecord& r = UnivariateRunRecord();
  EXPECT_EQ(r.Missing, 3);
  EXPECT_EQ(r.N, 0);
  EXPECT_EQ(r.Cardinality, 0);

  auto empty = Values({});
  EXPECT_FALSE(RunUnweighted(*empty));
  ExpectAllZero(UnivariateRunRecord());
}

TEST(UnivariateRun, TotalWeightOfTwoOrThreeSetsEverythingUpToCV) {
  for (const auto& xs : {std::vector<Value>{1, 3}, std::vector<Value>{1, 2, 6}}) {
    // Results of an earlier run must not show through.
    auto big = Values({1, 2, 3, 4, 5, 6});
    ASSERT_TRUE(RunUnweighted(*big));

    auto rs = Values(xs);
    EXPECT_FALSE(RunUnweighted(*rs));
    const UnivariateRecord& r = UnivariateRunRecord();
    const double n = static_cast<double>(xs.size());
    EXPECT_EQ(r.N, n);
    EXPECT_EQ(r.Cardinality, n);
    EXPECT_GT(r.Variance, 0);
    EXPECT_GT(r.CV, 0);
    EXPECT_DOUBLE_EQ(r.CV, r.Stdev * 100 / r.Mean);
    EXPECT_EQ(r.Min, 1);
    EXPECT_EQ(r.Range, r.Max - 1);
    EXPECT_EQ(r.Skewness, 0);
    EXPECT_EQ(r.Kurtosis, 0);
  }
  // Weighted: two records of weight 1 and 2 make a total weight of 3.
  auto rs = Table({{1, 1}, {5, 2}});
  EXPECT_FALSE(RunWeighted(*rs));
  EXPECT_EQ(UnivariateRunRecord().WgtN, 3);
  EXPECT_EQ(UnivariateRunRecord().Kurtosis, 0);
}

TEST(UnivariateRun, OverflowStopsWhereItHappens) {
  // The sum overflows on the second record: the first one's sum stays.
  auto rs = Values({1e308, 1e308, 1});
  EXPECT_FALSE(RunUnweighted(*rs));
  EXPECT_EQ(UnivariateRunRecord().Sum, 1e308);
  EXPECT_EQ(UnivariateRunRecord().Mean, 0);

  // The squared deviation of -1e300 overflows in the summary pass: the mean is
  // set, the closing statistics are not.
  auto wide = Values({-1e300, 5, 1e300, 3});
  EXPECT_FALSE(RunUnweighted(*wide));
  EXPECT_EQ(UnivariateRunRecord().Mean, 0.75);
  EXPECT_EQ(UnivariateRunRecord().Min, 0);
  EXPECT_EQ(UnivariateRunRecord().Cardinality, 0);

  // One value's total weight overflows on the third record while the total
  // of all weights does not: the run stops there, before the fourth record.
  auto totals = Table({{0.5, 1e308}, {0.25, -1e308}, {0.5, 1e308}, {0.25, 1}});
  EXPECT_FALSE(RunWeighted(*totals));
  EXPECT_EQ(UnivariateRunRecord().N, 3);
  EXPECT_EQ(UnivariateRunRecord().WgtN, 1e308);
  EXPECT_EQ(UnivariateRunRecord().Sum, 0.5e308 - 0.25e308 + 0.5e308);
  EXPECT_NE(LastStopReason().find("(record 3)"), std::string::npos) << LastStopReason();

  // The largest double's 15-digit text form lies beyond the double range.
  auto largest = Values({1, 2, 3, 4, std::numeric_limits<double>::max()});
  EXPECT_FALSE(RunUnweighted(*largest));
  EXPECT_EQ(UnivariateRunRecord().N, 4);

  // Infinities and NaNs are no data values.
  auto inf = Values({1, 2, 3, 4, INFINITY});
  EXPECT_FALSE(RunUnweighted(*inf));
  EXPECT_EQ(UnivariateRunRecord().N, 4);
}

TEST(UnivariateRun, AFaultInTheSummaryPassLeavesTheFiguresItHadReached) {
  // The squared deviations are 1e308, 0 and 1e308: their sum overflows at the
  // third value, after the first two set Q1, the median and Q3 and with the
  // third counted among the unique values. The figures stay where the fault
  // left them (a pass that went on to the end would set Q3 to 1e154).
  auto rs = Values({1e154, 0, -1e154});
  EXPECT_FALSE(RunUnweighted(*rs));
  const UnivariateRecord& r = UnivariateRunRecord();
  EXPECT_EQ(r.Mean, 0);
  EXPECT_EQ(r.Uniques, 3);
  EXPECT_EQ(r.Q1, -1e154);
  EXPECT_EQ(r.Median, 0);
  EXPECT_EQ(r.Q3, 0);
  EXPECT_EQ(r.Variance, 0);
  EXPECT_EQ(r.Cardinality, 0);
}

TEST(UnivariateRun, OneValueOrOneRecordHasNoShape) {
  auto same = Values({5, 5, 5, 5});
  ASSERT_TRUE(RunUnweighted(*same));
  const UnivariateRecord& r = UnivariateRunRecord();
  EXPECT_EQ(r.Variance, 0);
  EXPECT_EQ(r.Stdev, 0);
  EXPECT_EQ(r.Skewness, -99999);
  EXPECT_EQ(r.Kurtosis, -9999);
  EXPECT_EQ(r.Mode, 5);
  EXPECT_EQ(r.Median, 5);
  EXPECT_EQ(r.Uniques, 0);
  EXPECT_EQ(r.TrimmedMean, 0);  // the only value is trimmed: nothing is left

  auto one = Values({Value(), 7.5});
  ASSERT_TRUE(RunUnweighted(*one));
  EXPECT_EQ(UnivariateRunRecord().Missing, 1);
  EXPECT_EQ(UnivariateRunRecord().Variance, 0);
  EXPECT_EQ(UnivariateRunRecord().Skewness, -99999);
  EXPECT_EQ(UnivariateRunRecord().Kurtosis, -9999);
}

TEST(UnivariateRun, MedianAndQuartiles) {
  struct Case {
    std::vector<Value> xs;
    double median;
  };
  for (const auto& c : {Case{{1, 2, 3, 4, 5}, 3}, Case{{1, 2, 3, 4}, 2.5}, Case{{1, 2, 2, 3}, 2},
                        Case{{5, 5, 5, 7}, 5}, Case{{4, 3, 2, 1}, 2.5}}) {
    auto rs = Values(c.xs);
    RunUnweighted(*rs);
    EXPECT_EQ(UnivariateRunRecord().Median, c.median) << c.xs.size();
  }
  // Eight values: Q1 hits 0.25 exactly at 2, Q3 hits 0.75 exactly at 6.
  auto eight = Values({8, 7, 6, 5, 4, 3, 2, 1});
  ASSERT_TRUE(RunUnweighted(*eight));
  EXPECT_EQ(UnivariateRunRecord().Q1, 2);
  EXPECT_EQ(UnivariateRunRecord().Q3, 6);
  EXPECT_EQ(UnivariateRunRecord().Median, 4.5);
  // An odd total weight with a share of exactly one half takes the value itself.
  auto odd = Table({{1, 1.5}, {2, 1.5}});
  RunWeighted(*odd);
  EXPECT_EQ(UnivariateRunRecord().Median, 1);
}

TEST(UnivariateRun, ValuesAreToldApartByTheirFifteenDigitForm) {
  // 0.1 + 0.2 prints as 0.3; -0 prints as 0; 1 + 2^-52 prints as 1.
  auto rs = Values({0.1 + 0.2, 0.3, -0.0, 0.0, Value::CanonicalNumber(-0.0), 1.0000000000000002, 1, 2});
  ASSERT_TRUE(RunUnweighted(*rs));
  const UnivariateRecord& r = UnivariateRunRecord();
  EXPECT_EQ(r.Cardinality, 4);
  EXPECT_EQ(r.Sum, 0.3 + 0.3 + 1 + 1 + 2);  // summed through the text form
  EXPECT_EQ(r.Min, 0);
  EXPECT_FALSE(std::signbit(r.Min));
  EXPECT_EQ(r.Mode, 0);  // three records; 0.3 and 1 have two each
  EXPECT_EQ(r.Uniques, 1);
}

TEST(UnivariateRun, TotalWeightsAreKeptInTheirTextForm) {
  // 0.7 + 0.2 is 0.8999999999999999 in doubles; kept as 0.9, adding 0.1 gives
  // exactly 1, so the value counts as unique. So do two halves.
  auto rs = Table({{3, 0.7}, {3, 0.2}, {3, 0.1}, {4, 0.5}, {4, 0.5}, {5, 1}, {6, 2}});
  ASSERT_TRUE(RunWeighted(*rs));
  EXPECT_EQ(UnivariateRunRecord().Uniques, 3);
  EXPECT_EQ(UnivariateRunRecord().Mode, 6);
}

TEST(UnivariateRun, ModeTakesTheLargestWeightAndTheSmallestOfATie) {
  auto rs = Values({9, 9, 4, 4, 7, 7, 1});
  ASSERT_TRUE(RunUnweighted(*rs));
  EXPECT_EQ(UnivariateRunRecord().Mode, 4);
  auto weighted = Table({{9, 1}, {4, 2}, {7, 2.5}});
  ASSERT_TRUE(RunWeighted(*weighted));
  EXPECT_EQ(UnivariateRunRecord().Mode, 7);
}

TEST(UnivariateRun, TrimmedMeanDropsTheOuterTwoAndAHalfPercent) {
  std::vector<Value> xs;
  for (int i = 1; i <= 39; ++i) xs.push_back(i);
  auto under = Values(xs);
  ASSERT_TRUE(RunUnweighted(*under));
  EXPECT_EQ(UnivariateRunRecord().TrimmedMean, 19.5);  // only 39 is trimmed
  xs.push_back(40);
  auto at = Values(xs);
  ASSERT_TRUE(RunUnweighted(*at));
  // 1, 39 and 40 (shares exactly 1/40, 39/40 and 1) are trimmed.
  EXPECT_EQ(UnivariateRunRecord().TrimmedMean, 20);
}

TEST(UnivariateRun, NegativeValuesAndNullWeights) {
  auto rs = Table({{-5, 1}, {0, 1}, {-2.5, 1}, {3, Value()}, {Value(), 1}, {4, 1}});
  ASSERT_TRUE(RunWeighted(*rs));
  const UnivariateRecord& r = UnivariateRunRecord();
  EXPECT_EQ(r.Missing, 2);
  EXPECT_EQ(r.N, 4);
  EXPECT_EQ(r.Min, -5);
  EXPECT_EQ(r.Max, 4);
  EXPECT_EQ(r.Sum, -3.5);
  // A weight field of spaces means unweighted: the null weight is not looked at.
  auto again = Table({{-5, 1}, {0, 1}, {-2.5, 1}, {3, Value()}, {Value(), 1}, {4, 1}});
  ASSERT_TRUE(Univariate_Run(*again, "X", "   ", false));
  EXPECT_EQ(UnivariateRunRecord().Missing, 1);
  EXPECT_EQ(UnivariateRunRecord().N, 5);
}

TEST(UnivariateRun, ManyDistinctValuesAgreeWithADirectComputation) {
  // Enough distinct values to grow the tally many times; every value twice.
  constexpr int kDistinct = 150'000;
  auto rs = std::make_unique<qeldata::Recordset>();
  rs->GetFields().Append("X", qeldata::adDouble);
  rs->Open();
  for (int round = 0; round < 2; ++round)
    for (int i = kDistinct - 1; i >= 0; --i) {
      rs->AddNew();
      rs->GetFields().Item(0).SetValue(Value(i * 0.25 - 1000));
    }
  ASSERT_TRUE(RunUnweighted(*rs));
  const UnivariateRecord& r = UnivariateRunRecord();
  EXPECT_EQ(r.Cardinality, kDistinct);
  EXPECT_EQ(r.N, 2.0 * kDistinct);
  EXPECT_EQ(r.Uniques, 0);
  EXPECT_EQ(r.Min, -1000);
  EXPECT_EQ(r.Max, (kDistinct - 1) * 0.25 - 1000);
  EXPECT_EQ(r.Mode, -1000);
  // Exactly half the weight ends at the 75000th value: the median is midway to the next.
  EXPECT_EQ(r.Median, (kDistinct / 2 - 1) * 0.25 - 1000 + 0.125);
  EXPECT_NEAR(r.Skewness, 0, 1e-9);
}

// With a million distinct values and more, the shape pass runs on a second
// thread beside the summary pass: skewness and kurtosis stay the sums of the
// definitions, term by term in ascending order of value.
TEST(UnivariateRun, ShapeOfManyDistinctValuesIsTheOrderedSum) {
  constexpr int kDistinct = (1 << 20) + 5;
  UnivariateTally tally;
  for (int i = 0; i < kDistinct; ++i) {
    const int j = static_cast<int>(static_cast<std::int64_t>(i) * 7919 % kDistinct);  // not in order
    tally.Add(std::sqrt(static_cast<double>(j)) - 300, 1 + j % 4);
  }
  UnivariateRecord rec;
  ASSERT_TRUE(Univariate_Finish(tally, rec));
  // The definitions, written out.
  const double w_total = rec.WgtN;
  const double d2 = (w_total - 1) * (w_total - 2);
  const double d3 = d2 * (w_total - 3);
  double s3 = 0, s4 = 0;
  for (int j = 0; j < kDistinct; ++j) {
    const double z = ((std::sqrt(static_cast<double>(j)) - 300) - rec.Mean) / rec.Stdev;
    const double w = 1 + j % 4;
    s3 = s3 + w * ((std::pow(z, 3) * w_total) / d2);
    s4 = s4 + w * (((std::pow(z, 4) * w_total) * (w_total + 1)) / d3);
  }
  EXPECT_EQ(rec.Skewness, s3);
  EXPECT_EQ(rec.Kurtosis, s4 - 3 * ((w_total - 1) * (w_total - 1)) / ((w_total - 2) * (w_total - 3)));
}

// A finish that stops after the summary pass (a total weight of exactly 3,
// for which the kurtosis correction divides by zero) leaves the shape pass
// already started on its second thread: the run stops with the summary's
// reason and its figures, and the thread is let go.
TEST(UnivariateRun, AStopAfterTheSummaryLetsTheShapePassGo) {
  constexpr int kDistinct = 3 << 20;
  UnivariateTally tally;
  for (int i = 0; i < kDistinct; ++i) tally.Add(i * 0.5, 1.0 / (1 << 20));  // the weights add up to 3 exactly
  UnivariateRecord rec;
  std::string why;
  EXPECT_FALSE(Univariate_Finish(tally, rec, &why));
  EXPECT_NE(why.find("kurtosis correction"), std::string::npos) << why;
  EXPECT_EQ(rec.WgtN, 3);
  EXPECT_EQ(rec.Cardinality, kDistinct);
  EXPECT_EQ(rec.Min, 0);
}

TEST(UnivariateRun, ReadsADisconnectedRecordsetAgainFromItsStart) {
  auto rs = Values({1, 2, 2, 3, 10});
  ASSERT_TRUE(RunUnweighted(*rs));
  ASSERT_TRUE(rs->IsEOF());
  ASSERT_TRUE(RunUnweighted(*rs));
  EXPECT_EQ(UnivariateRunRecord().N, 5);
  EXPECT_EQ(UnivariateRunRecord().Mean, 3.6);
}

TEST(UnivariateRun, RunRecordsBelongToTheirThread) {
  auto rs = Values({1, 2, 2, 3, 10});
  ASSERT_TRUE(RunUnweighted(*rs));
  std::thread other([] {
    EXPECT_EQ(UnivariateRunRecord().N, 0);
    auto mine = Values({4, 5, 6, 7});
    RunUnweighted(*mine);
  });
  other.join();
  EXPECT_EQ(UnivariateRunRecord().N, 5);
}

// Records every call a run makes on its progress windows.
class RecordingPresenter final : public Presenter {
 public:
  std::vector<std::string> calls;

  class Window final : public ProgressWindow {
   public:
    explicit Window(std::vector<std::string>* calls) : calls_(calls) {}
    ~Window() override { calls_->push_back("unload"); }
    void SetCaption(const std::string& c) override { calls_->push_back("caption " + c); }
    void SetStatus(const std::string& s) override { calls_->push_back("status " + s); }
    void SetBarValue(int v) override { calls_->push_back("bar " + std::to_string(v)); }
    void ShowTopMost() override { calls_->push_back("topmost"); }
    void Refresh() override { calls_->push_back("refresh"); }

   private:
    std::vector<std::string>* calls_;
  };

  std::unique_ptr<ProgressWindow> LoadProgressWindow() override {
    calls.push_back("load");
    CancelFlag() = false;
    return std::make_unique<Window>(&calls);
  }
  void ShowMessage(const std::string& text) override { calls.push_back("message " + text); }
};

TEST(UnivariateRun, ProgressWindowShowsThePhasesAndUnloads) {
  RecordingPresenter presenter;
  ScopedPresenter scope(&presenter);
  auto rs = Values({1, 2, 2, 3, 10});
  ASSERT_TRUE(Univariate_Run(*rs, "X", "", true));
  EXPECT_EQ(presenter.calls,
            (std::vector<std::string>{"load", "caption Processing Univariate: X", "status Reading Data", "bar 0",
                                      "topmost", "refresh", "status Sorting Data", "bar 73", "refresh",
                                      "status Building Summary Statistics", "bar 58", "refresh",
                                      "status Building Skewness and Kurtosis", "bar 99", "refresh", "unload"}));

  // A run that stops after reading still unloads its window.
  presenter.calls.clear();
  auto nulls = Values({Value()});
  EXPECT_FALSE(Univariate_Run(*nulls, "X", "", true));
  EXPECT_EQ(presenter.calls.size(), 10u);
  EXPECT_EQ(presenter.calls.back(), "unload");

  // A field of the wrong type stops before any window; so does showStatus false,
  // which leaves the cancel flag alone.
  presenter.calls.clear();
  auto text = Table({{"a", 1}}, qeldata::adVarChar);
  EXPECT_FALSE(Univariate_Run(*text, "X", "", true));
  CancelFlag() = true;
  EXPECT_TRUE(Univariate_Run(*rs, "X", "", false));
  EXPECT_TRUE(presenter.calls.empty());
  EXPECT_TRUE(CancelFlag());
  CancelFlag() = false;
}

}  // namespace
}  // namespace qel

namespace qel {
namespace {

// Distinct values keep their first occurrence as a double: only the key and
// the sums go through the 15-digit form.
TEST(UnivariateRun, ValuesOfMoreThanFifteenDigitsKeepTheirDouble) {
  auto rs = Values({1234567890123456789.0, 1, 2, 3});
  ASSERT_TRUE(RunUnweighted(*rs)) << LastStopReason();
  const UnivariateRecord& r = UnivariateRunRecord();
  EXPECT_EQ(r.Max, 1234567890123456768.0);
  EXPECT_EQ(r.Q3, 3);
  EXPECT_EQ(r.Sum, 1234567890123460000.0 + 6);
  auto ties = Values({0.1 + 0.2, 0.3, 0.3, 5});  // one distinct value, shown as first met
  ASSERT_TRUE(RunUnweighted(*ties));
  EXPECT_EQ(UnivariateRunRecord().Min, 0.1 + 0.2);
  EXPECT_EQ(UnivariateRunRecord().Mode, 0.3);  // the mode goes through the text form
  EXPECT_EQ(UnivariateRunRecord().Cardinality, 2);
}

}  // namespace
}  // namespace qel
