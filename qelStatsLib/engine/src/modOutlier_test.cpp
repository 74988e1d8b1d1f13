#include "qelStatsLib/modOutlier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "qelStatsLib/presenter.h"

namespace {

using qeldata::Value;

// Records what a run does with its progress window.
class WindowLog final : public qel::Presenter {
 public:
  class Window final : public qel::ProgressWindow {
   public:
    explicit Window(std::vector<std::string>* log) : log_(log) {}
    ~Window() override { log_->push_back("unload"); }
    void SetCaption(const std::string& t) override { log_->push_back("caption:" + t); }
    void SetStatus(const std::string& t) override { log_->push_back("status:" + t); }
    void SetBarValue(int v) override { log_->push_back("bar:" + std::to_string(v)); }
    void ShowTopMost() override { log_->push_back("show"); }
    void Refresh() override { log_->push_back("refresh"); }

   private:
    std::vector<std::string>* log_;
  };
  std::unique_ptr<qel::ProgressWindow> LoadProgressWindow() override {
    qel::CancelFlag() = false;
    events.push_back("load");
    return std::make_unique<Window>(&events);
  }
  void ShowMessage(const std::string& text) override { events.push_back("message:" + text); }
  std::vector<std::string> events;
};

// An in-memory table with the field "X" of `type` and, when weights are
// given, the double field "W".
std::shared_ptr<qeldata::Recordset> Table(const std::vector<Value>& xs, const std::vector<Value>& ws = {},
                                          int type = qeldata::adDouble) {
  auto rs = std::make_shared<qeldata::Recordset>();
  rs->GetFields().Append("X", type, 0, qeldata::adFldIsNullable);
  if (!ws.empty()) rs->GetFields().Append("W", qeldata::adDouble, 0, qeldata::adFldIsNullable);
  rs->Open();
  for (std::size_t i = 0; i < xs.size(); ++i) {
    rs->AddNew();
    rs->GetFields().Item(0).SetValue(xs[i]);
    if (!ws.empty()) rs->GetFields().Item(1).SetValue(ws[i]);
    rs->Update();
  }
  return rs;
}

std::vector<Value> Numbers(std::initializer_list<double> xs) { return std::vector<Value>(xs.begin(), xs.end()); }

struct Row {
  double value, n, weighted_n;
  bool outlier;
  bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Row& r) {
  return os << "(" << r.value << ", " << r.n << ", " << r.weighted_n << ", " << r.outlier << ")";
}

// The rows of a result table, read from the top.
std::vector<Row> Rows(qeldata::Recordset& rs) {
  std::vector<Row> rows;
  if (rs.IsBOF() && rs.IsEOF()) return rows;
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext())
    rows.push_back(Row{rs.Collect("Value").number(), rs.Collect("N").number(), rs.Collect("Weighted N").number(),
                       rs.Collect("Outlier").boolean()});
  return rows;
}

std::shared_ptr<qeldata::Recordset> RunOn(qeldata::Recordset& rs, int find_type, double parm, bool weighted = false,
                                          bool show = false) {
  return qel::Outlier_Run(rs, "X", weighted ? "W" : "", find_type, parm, show);
}

// The figures a failed run must not have reached are all still zero.
void ExpectZero(std::initializer_list<double> figures) {
  for (double f : figures) EXPECT_EQ(f, 0.0);
}

// ---- The worked examples ----

TEST(OutlierRun, OneToFiveWithTheStandardDeviationBand) {
  auto in = Table(Numbers({3, 1, 5, 2, 4}));
  auto out = RunOn(*in, 1, 1.0);
  ASSERT_NE(out, nullptr);
  const qel::OutlierRecord& r = qel::OutlierRunRecord();
  EXPECT_EQ(r.N, 5);
  EXPECT_EQ(r.WgtN, 5);
  EXPECT_EQ(r.Sum, 15);
  EXPECT_EQ(r.SumWgt, 15);
  EXPECT_EQ(r.Missing, 0);
  EXPECT_EQ(r.Mean, 3);
  EXPECT_EQ(r.Variance, 2.5);
  EXPECT_EQ(r.Stdev, std::pow(2.5, 0.5));
  EXPECT_EQ(r.Min, 1);
  EXPECT_EQ(r.Max, 5);
  EXPECT_EQ(r.Cardinality, 5);
  EXPECT_EQ(r.Q1, 2);
  EXPECT_EQ(r.Median, 3);
  EXPECT_EQ(r.Q3, 4);
  EXPECT_EQ(r.OutlierCountN, 2);
  EXPECT_EQ(r.OutlierCountWgt, 2);
  EXPECT_EQ(r.TrimmedMean, 0);
  EXPECT_TRUE(qel::LastStopReason().empty());
  // Handed over after its last row; read from the top, ascending.
  EXPECT_TRUE(out->IsEOF());
  EXPECT_FALSE(out->IsBOF());
  EXPECT_EQ(Rows(*out), (std::vector<Row>{{1, 1, 1, true}, {2, 1, 1, false}, {3, 1, 1, false}, {4, 1, 1, false},
                                          {5, 1, 1, true}}));
  // The input stays open, at its end.
  EXPECT_TRUE(in->IsOpen());
  EXPECT_TRUE(in->IsEOF());
}

TEST(OutlierFinish, ATallyFromArraysGivesTheRunsRecordAndTable) {
  auto in = Table(Numbers({3, 1, 5, 2, 4, 2}));
  auto out = RunOn(*in, 2, 40);
  ASSERT_NE(out, nullptr);
  const qel::OutlierRecord run = qel::OutlierRunRecord();

  qel::Tally<qel::CountWeight> tally;
  tally.AddArrays(std::vector<double>{3, 1, 5, 2, 4, 2});
  qel::OutlierRecord rec;
  std::vector<int> bars;
  auto finished = qel::Outlier_Finish(tally, qel::OutlierOptions{2, 40, "X"}, rec, nullptr,
                                      [&](const char*, int bar) { bars.push_back(bar); });
  ASSERT_NE(finished, nullptr);
  EXPECT_EQ(Rows(*finished), Rows(*out));
  for (auto [a, b] : {std::pair{rec.TrimmedMean, run.TrimmedMean}, {rec.Median, run.Median}, {rec.Stdev, run.Stdev},
                      {rec.OutlierCountN, run.OutlierCountN}, {rec.SumWgt, run.SumWgt}})
    EXPECT_EQ(a, b);
  EXPECT_EQ(bars, (std::vector<int>{50, 75, 86, 99}));

  qel::Tally<qel::CountWeight> one;
  one.Add(7);
  std::string reason;
  EXPECT_EQ(qel::Outlier_Finish(one, qel::OutlierOptions{1, 2, "X"}, rec, &reason), nullptr);
  EXPECT_NE(reason.find("the total weight is 1"), std::string::npos) << reason;
  EXPECT_EQ(rec.Mean, 7);  // reached before the stop
}

TEST(OutlierRun, OneToFiveWithTheTrimmedMeanBand) {
  auto in = Table(Numbers({1, 2, 3, 4, 5}));
  auto out = RunOn(*in, 2, 50);
  ASSERT_NE(out, nullptr);
  const qel::OutlierRecord& r = qel::OutlierRunRecord();
  // Trims 1 and 2 below (weight 2 >= 1.25), 5 above (3 >= 2.5): (15 - 8) / (5 - 3).
  EXPECT_EQ(r.TrimmedMean, 3.5);
  EXPECT_EQ(r.OutlierCountN, 3);  // band 2.625 .. 4.375
  EXPECT_EQ(r.OutlierCountWgt, 3);
  EXPECT_EQ(Rows(*out), (std::vector<Row>{{1, 1, 1, true}, {2, 1, 1, true}, {3, 1, 1, false}, {4, 1, 1, false},
                                          {5, 1, 1, true}}));
}

TEST(OutlierRun, QuartilesOnExactShares) {
  {
    auto in = Table(Numbers({4, 3, 2, 1}));
    ASSERT_NE(RunOn(*in, 1, 1.0), nullptr);
    const qel::OutlierRecord& r = qel::OutlierRunRecord();
    EXPECT_EQ(r.Median, 2.5);  // share of 2 is exactly 0.5 and the total weight 4 is even
    EXPECT_EQ(r.Q1, 1);        // share exactly 0.25
    EXPECT_EQ(r.Q3, 3);        // share exactly 0.75
  }
  {
    auto in = Table(Numbers({5, 7, 5, 5}));
    auto out = RunOn(*in, 1, 1.0);
    ASSERT_NE(out, nullptr);
    const qel::OutlierRecord& r = qel::OutlierRunRecord();
    EXPECT_EQ(r.Cardinality, 2);
    EXPECT_EQ(r.Mean, 5.5);
    EXPECT_EQ(r.Variance, 1);
    EXPECT_EQ(r.Median, 5);
    EXPECT_EQ(r.Q1, 5);
    EXPECT_EQ(r.Q3, 5);
    EXPECT_EQ(Rows(*out), (std::vector<Row>{{5, 3, 3, false}, {7, 1, 1, true}}));  // band 4.5 .. 6.5
  }
  {
    // Share 0.5 with an odd (rounded) total weight keeps the value itself:
    // weights 1.5 + 1.5 = 3 total, half reached exactly at the first value.
    auto in = Table(Numbers({1, 2}), Numbers({1.5, 1.5}));
    ASSERT_NE(RunOn(*in, 1, 1.0, true), nullptr);
    EXPECT_EQ(qel::OutlierRunRecord().Median, 1);
  }
}

TEST(OutlierRun, WeightedTotals) {
  auto in = Table(Numbers({10, 20, 10}), Numbers({2, 1, 1}));
  auto out = RunOn(*in, 1, 1.0, true);
  ASSERT_NE(out, nullptr);
  const qel::OutlierRecord& r = qel::OutlierRunRecord();
  EXPECT_EQ(r.N, 3);
  EXPECT_EQ(r.WgtN, 4);
  EXPECT_EQ(r.Sum, 40);
  EXPECT_EQ(r.SumWgt, 50);
  EXPECT_EQ(r.Mean, 12.5);
  EXPECT_EQ(r.Variance, 25);
  EXPECT_EQ(r.Stdev, 5);
  EXPECT_EQ(Rows(*out), (std::vector<Row>{{10, 2, 3, false}, {20, 1, 1, true}}));
  EXPECT_EQ(r.OutlierCountN, 1);
  EXPECT_EQ(r.OutlierCountWgt, 1);
}

TEST(OutlierRun, WeightTotalsPerValueTravelIn15Digits) {
  // 0.1 + 0.1 + 0.1 is 0.30000000000000004 as a double; the per-value total
  // is kept as its 15-digit form 0.3, the overall total is not rounded.
  auto in = Table(Numbers({1, 1, 1, 2}), Numbers({0.1, 0.1, 0.1, 1}));
  auto out = RunOn(*in, 1, 1.0, true);
  ASSERT_NE(out, nullptr);
  const std::vector<Row> rows = Rows(*out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].weighted_n, 0.3);
  EXPECT_EQ(qel::OutlierRunRecord().WgtN, 0.1 + 0.1 + 0.1 + 1);
}

TEST(OutlierRun, ValuesAreKnownByTheir15DigitForm) {
  // -0 is 0, and 0.1 + 0.2 prints as 0.3: each pair is one distinct value.
  std::vector<Value> xs = Numbers({0.1 + 0.2, 0.3, -0.0, 0.0, -2, -7.5});
  xs.push_back(Value::CanonicalNumber(-0.0));  // as a provider hands over a token "-0"
  auto in = Table(xs);
  auto out = RunOn(*in, 1, 1.0);
  ASSERT_NE(out, nullptr);
  const std::vector<Row> rows = Rows(*out);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].value, -7.5);  // negatives sort first
  EXPECT_EQ(rows[1].value, -2);
  EXPECT_EQ(rows[2].value, 0);
  EXPECT_FALSE(std::signbit(rows[2].value));
  EXPECT_EQ(rows[2].n, 3);
  EXPECT_EQ(rows[3].value, 0.1 + 0.2);  // the first occurrence, as read; the sums use 0.3
  EXPECT_EQ(rows[3].n, 2);
  EXPECT_EQ(qel::OutlierRunRecord().Min, -7.5);
  EXPECT_EQ(qel::OutlierRunRecord().Sum, ((((0.3 + 0.3) + 0.0) + 0.0) + -2.0) + -7.5);
}

TEST(OutlierRun, NullValuesAndWeightsCountAsMissingOnly) {
  auto in = Table({Value(1.0), Value(), Value(2.0), Value(3.0), Value(4.0)},
                  {Value(1.0), Value(1.0), Value(), Value(1.0), Value(1.0)});
  ASSERT_NE(RunOn(*in, 1, 1.0, true), nullptr);
  const qel::OutlierRecord& r = qel::OutlierRunRecord();
  EXPECT_EQ(r.Missing, 2);
  EXPECT_EQ(r.N, 3);
  EXPECT_EQ(r.Sum, 8);
  EXPECT_EQ(r.Cardinality, 3);
  // Unweighted, the weight column is not read at all.
  ASSERT_NE(RunOn(*in, 1, 1.0, false), nullptr);
  EXPECT_EQ(qel::OutlierRunRecord().Missing, 1);
  EXPECT_EQ(qel::OutlierRunRecord().N, 4);
  // A weight field name of spaces means unweighted too.
  ASSERT_NE(qel::Outlier_Run(*in, "X", "   ", 1, 1.0, false), nullptr);
  EXPECT_EQ(qel::OutlierRunRecord().N, 4);
}

TEST(OutlierRun, ManyDistinctValuesInAnyOrder) {
  // Enough values to grow the distinct-value table many times over.
  std::vector<Value> xs;
  std::vector<double> expected;
  for (int i = 0; i < 20000; ++i) {
    const double v = (i - 10000) * 0.25;
    expected.push_back(v);
    for (int rep = 0; rep < 1 + i % 3; ++rep) xs.emplace_back(v);
  }
  std::shuffle(xs.begin(), xs.end(), std::mt19937(7));
  auto in = Table(xs);
  auto out = RunOn(*in, 1, 2.0);
  ASSERT_NE(out, nullptr);
  const std::vector<Row> rows = Rows(*out);
  ASSERT_EQ(rows.size(), expected.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].value, expected[i]) << i;
    ASSERT_EQ(rows[i].n, 1 + i % 3) << i;
  }
  EXPECT_EQ(qel::OutlierRunRecord().N, static_cast<double>(xs.size()));
}

TEST(OutlierRun, BooleanFieldsPassAsMinusOneAndZero) {
  auto in = Table({Value::Boolean(true), Value::Boolean(false), Value::Boolean(true)}, {}, qeldata::adBoolean);
  auto out = RunOn(*in, 1, 1.0);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(qel::OutlierRunRecord().Sum, -2);
  EXPECT_EQ(Rows(*out)[0], (Row{-1, 2, 2, false}));
}

TEST(OutlierRun, NumericTextsInALongTextFieldAreRead) {
  // Long texts pass the type check; texts that read as numbers are numbers.
  auto in = Table({Value("12"), Value("12.0"), Value(" 3 ")}, {}, qeldata::adLongVarWChar);
  ASSERT_NE(RunOn(*in, 1, 1.0), nullptr);
  EXPECT_EQ(qel::OutlierRunRecord().Cardinality, 2);
  EXPECT_EQ(qel::OutlierRunRecord().Sum, 27);
}

TEST(OutlierRun, TrimmedMeanMarkerWhenNoWeightIsTrimmed) {
  // Weights 0, -1, 0: the total is -1, so the trim weight is negative and the
  // first row of each tail (weight 0) already reaches it.
  auto in = Table(Numbers({1, 2, 3}), Numbers({0, -1, 0}));
  auto out = RunOn(*in, 2, 100, true);
  ASSERT_NE(out, nullptr);
  const qel::OutlierRecord& r = qel::OutlierRunRecord();
  EXPECT_EQ(r.TrimmedMean, -99999);
  EXPECT_EQ(r.OutlierCountN, -99999);
  EXPECT_EQ(r.OutlierCountWgt, -99999);
}

TEST(OutlierRun, ReadsADisconnectedInputFromItsFirstRecordEveryTime) {
  auto in = Table(Numbers({1, 2, 3, 4, 5}));
  in->MoveFirst();
  in->MoveNext();
  ASSERT_NE(RunOn(*in, 1, 1.0), nullptr);
  EXPECT_EQ(qel::OutlierRunRecord().N, 5);
  ASSERT_TRUE(in->IsEOF());
  // Left at its end by the first run, it is read in full again.
  ASSERT_NE(RunOn(*in, 1, 1.0), nullptr);
  EXPECT_EQ(qel::OutlierRunRecord().N, 5);
}

TEST(OutlierRun, ResultTableShape) {
  auto in = Table(Numbers({1, 2}));
  auto out = RunOn(*in, 1, 1.0);
  ASSERT_NE(out, nullptr);
  qeldata::Fields f = out->GetFields();
  ASSERT_EQ(f.Count(), 4);
  const char* names[] = {"Value", "N", "Weighted N", "Outlier"};
  const int types[] = {139, 139, 139, 11};
  const int sizes[] = {255, 255, 255, 0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(f.Item(i).Name(), names[i]);
    EXPECT_EQ(f.Item(i).Type(), types[i]);
    EXPECT_EQ(f.Item(i).DefinedSize(), sizes[i]);
    EXPECT_EQ(f.Item(i).Attributes(), 32);
  }
  EXPECT_EQ(out->RecordCount(), 2);
  EXPECT_EQ(out->ActiveConnection(), nullptr);
  out->MoveLast();
  EXPECT_EQ(out->Collect("Value").number(), 2);
}

TEST(OutlierRun, EachThreadHasItsOwnRunRecord) {
  auto in = Table(Numbers({1, 2, 3, 4, 5}));
  ASSERT_NE(RunOn(*in, 1, 1.0), nullptr);
  std::thread other([] {
    EXPECT_EQ(qel::OutlierRunRecord().N, 0);
    auto mine = Table(Numbers({7, 8}));
    ASSERT_NE(RunOn(*mine, 1, 1.0), nullptr);
  });
  other.join();
  EXPECT_EQ(qel::OutlierRunRecord().N, 5);
}

// ---- Progress ----

TEST(OutlierRunProgress, WindowPhasesOfEachRule) {
  const std::vector<std::string> common = {
      "load",         "caption:Processing Outliers: X", "status:Process Running", "bar:0", "show", "refresh",
      "status:Reading input Data", "refresh", "status:Calculating Statistics", "bar:50", "refresh",
      "status:Sorting Data", "bar:75", "refresh", "status:Building Output", "bar:86", "refresh"};
  auto in = Table(Numbers({1, 2, 3}));
  {
    WindowLog log;
    qel::ScopedPresenter use(&log);
    ASSERT_NE(RunOn(*in, 1, 1.0, false, true), nullptr);
    std::vector<std::string> expected = common;
    expected.push_back("unload");
    EXPECT_EQ(log.events, expected);
  }
  {
    WindowLog log;
    qel::ScopedPresenter use(&log);
    ASSERT_NE(RunOn(*in, 2, 10, false, true), nullptr);
    std::vector<std::string> expected = common;
    expected.insert(expected.end(), {"status:Completing process", "bar:99", "refresh", "unload"});
    EXPECT_EQ(log.events, expected);
  }
}

TEST(OutlierRunProgress, NoWindowWithoutStatusAndTheCancelFlagIsLeftAlone) {
  WindowLog log;
  qel::ScopedPresenter use(&log);
  auto in = Table(Numbers({1, 2, 3}));
  qel::CancelFlag() = true;
  ASSERT_NE(RunOn(*in, 1, 1.0, false, false), nullptr);
  EXPECT_TRUE(log.events.empty());
  EXPECT_TRUE(qel::CancelFlag());
  qel::CancelFlag() = false;
}

TEST(OutlierRunProgress, FailedRunUnloadsItsWindow) {
  WindowLog log;
  qel::ScopedPresenter use(&log);
  auto in = Table({Value(), Value()});
  EXPECT_EQ(RunOn(*in, 1, 1.0, false, true), nullptr);
  ASSERT_GE(log.events.size(), 3u);
  // It got as far as the sort, and no message box was shown.
  EXPECT_EQ(log.events[log.events.size() - 3], "bar:75");
  EXPECT_EQ(log.events.back(), "unload");
  for (const auto& e : log.events) EXPECT_EQ(e.rfind("message:", 0), std::string::npos) << e;
}

// ---- The failure path ----

TEST(OutlierRunFailure, TextAndDateFieldsReadNothing) {
  for (int type : {qeldata::adChar, qeldata::adDate, qeldata::adVarChar, qeldata::adVarWChar, qeldata::adWChar}) {
    // A good run first, so that the reset of every figure shows.
    auto good = Table(Numbers({1, 2, 3}));
    ASSERT_NE(RunOn(*good, 2, 50), nullptr);
    WindowLog log;
    qel::ScopedPresenter use(&log);
    auto in = type == qeldata::adDate ? Table({Value(qeldata::Date{2020, 1, 2}), Value(qeldata::Date{})}, {}, type)
                                      : Table({Value("1"), Value("2")}, {}, type);
    EXPECT_EQ(RunOn(*in, 1, 1.0, false, true), nullptr) << type;
    const qel::OutlierRecord& r = qel::OutlierRunRecord();
    ExpectZero({r.N, r.WgtN, r.Sum, r.SumWgt, r.Missing, r.Mean, r.Variance, r.Stdev, r.Min, r.Max, r.Cardinality,
                r.Median, r.Q1, r.Q3, r.TrimmedMean, r.OutlierCountN, r.OutlierCountWgt, r.SumSq});
    EXPECT_EQ(qel::LastStopReason(), "Numeric Data types only");
    EXPECT_TRUE(log.events.empty()) << "no window before the type check";
    EXPECT_EQ(in->AbsolutePosition(), 0) << "nothing read";
  }
}

TEST(OutlierRunFailure, UnknownFieldsAreNamed) {
  auto in = Table(Numbers({1, 2}), Numbers({1, 1}));
  EXPECT_EQ(qel::Outlier_Run(*in, "Salry", "", 1, 1.0, false), nullptr);
  EXPECT_NE(qel::LastStopReason().find("Salry"), std::string::npos);
  EXPECT_EQ(qel::Outlier_Run(*in, "X", "Wt", 1, 1.0, false), nullptr);
  EXPECT_NE(qel::LastStopReason().find("Wt"), std::string::npos);
  EXPECT_EQ(qel::OutlierRunRecord().N, 0);
}

TEST(OutlierRunFailure, NoUsableValueStopsAtTheSort) {
  auto in = Table({Value(), Value(), Value()});
  EXPECT_EQ(RunOn(*in, 1, 1.0), nullptr);
  const qel::OutlierRecord& r = qel::OutlierRunRecord();
  EXPECT_EQ(r.Missing, 3);
  ExpectZero({r.N, r.WgtN, r.Sum, r.Mean, r.Cardinality});
  // An empty table too.
  auto empty = Table({});
  EXPECT_EQ(RunOn(*empty, 1, 1.0), nullptr);
  EXPECT_EQ(qel::OutlierRunRecord().Missing, 0);
}

TEST(OutlierRunFailure, TotalWeightOfOneDividesTheVarianceByZero) {
  for (bool weighted : {false, true}) {
    auto in = weighted ? Table(Numbers({4, 6}), Numbers({0.5, 0.5})) : Table(Numbers({4}));
    EXPECT_EQ(RunOn(*in, 1, 1.0, weighted), nullptr);
    const qel::OutlierRecord& r = qel::OutlierRunRecord();
    // Reading, mean and the walk over the values are done ...
    EXPECT_EQ(r.WgtN, 1);
    EXPECT_EQ(r.Mean, weighted ? 5 : 4);
    EXPECT_EQ(r.Median, 4);
    EXPECT_EQ(r.Q3, weighted ? 6 : 4);
    EXPECT_EQ(r.SumSq, weighted ? 1 : 0);
    // ... nothing after the variance is.
    ExpectZero({r.Variance, r.Stdev, r.Min, r.Max, r.Cardinality, r.TrimmedMean, r.OutlierCountN,
                r.OutlierCountWgt});
    EXPECT_NE(qel::LastStopReason().find("variance"), std::string::npos) << qel::LastStopReason();
  }
}

TEST(OutlierRunFailure, TotalWeightBelowOneHasNoStandardDeviation) {
  auto in = Table(Numbers({1, 3}), Numbers({0.25, 0.25}));
  EXPECT_EQ(RunOn(*in, 1, 1.0, true), nullptr);
  const qel::OutlierRecord& r = qel::OutlierRunRecord();
  EXPECT_EQ(r.Variance, 0.5 / -0.5);  // negative, and kept
  ExpectZero({r.Stdev, r.Min, r.Max, r.Cardinality});
}

TEST(OutlierRunFailure, TrimmingAllTheWeight) {
  {
    // 100 percent of whole weights: both tails take everything, 0 / 0.
    auto in = Table(Numbers({1, 2, 3, 4, 5}));
    EXPECT_EQ(RunOn(*in, 2, 100), nullptr);
    const qel::OutlierRecord& r = qel::OutlierRunRecord();
    EXPECT_EQ(r.Variance, 2.5);
    EXPECT_EQ(r.Cardinality, 5);
    EXPECT_EQ(r.TrimmedMean, 0);
    EXPECT_EQ(r.OutlierCountN, 0);
  }
  {
    // The lower tail (weights 1, 1, 10 against 3.6) reaches the last row.
    // Taking that row again for the upper tail would make up a trimmed mean
    // from weight counted twice; all the weight is trimmed instead.
    auto in = Table(Numbers({1, 2, 3}), Numbers({1, 1, 10}));
    EXPECT_EQ(RunOn(*in, 2, 60, true), nullptr);
    EXPECT_EQ(qel::OutlierRunRecord().TrimmedMean, 0);
    EXPECT_NE(qel::LastStopReason().find("trimmed"), std::string::npos);
  }
}

TEST(OutlierRunFailure, AValueThatIsNoNumberStopsTheReading) {
  auto in = Table({Value("12"), Value("twelve"), Value("13")}, {}, qeldata::adLongVarWChar);
  EXPECT_EQ(RunOn(*in, 1, 1.0), nullptr);
  const qel::OutlierRecord& r = qel::OutlierRunRecord();
  EXPECT_EQ(r.N, 1);  // what was read before the failing record stays
  EXPECT_EQ(r.Sum, 12);
  EXPECT_NE(qel::LastStopReason().find("'twelve'"), std::string::npos) << qel::LastStopReason();
  EXPECT_NE(qel::LastStopReason().find("record 2"), std::string::npos) << qel::LastStopReason();
}

TEST(OutlierRunFailure, OverflowIsAFault) {
  auto in = Table(Numbers({1e308, 1e308, 1}));
  EXPECT_EQ(RunOn(*in, 1, 1.0), nullptr);
  const qel::OutlierRecord& r = qel::OutlierRunRecord();
  EXPECT_EQ(r.N, 2);  // counted before the sum overflowed
  EXPECT_EQ(r.Sum, 1e308);
  EXPECT_NE(qel::LastStopReason().find("Overflow"), std::string::npos);

  auto weighted = Table(Numbers({1e200, 1}), Numbers({1e200, 1}));
  EXPECT_EQ(RunOn(*weighted, 1, 1.0, true), nullptr);
  EXPECT_EQ(qel::OutlierRunRecord().WgtN, 1e200);
  EXPECT_EQ(qel::OutlierRunRecord().Sum, 1e200);
  EXPECT_EQ(qel::OutlierRunRecord().SumWgt, 0);
}

}  // namespace

namespace qel {
namespace {

// The band around a negative trimmed mean is the mirror image of the band
// around the positive one: values -1..-100 flag as many as 1..100.
TEST(OutlierRun, TheTrimmedMeanBandOfNegativeValuesIsItsMirrorImage) {
  for (double parm : {10.0, 50.0}) {
    std::vector<Value> up, down;
    for (int i = 1; i <= 100; ++i) {
      up.emplace_back(static_cast<double>(i));
      down.emplace_back(-static_cast<double>(i));
    }
    auto a = Table(up), b = Table(down);
    ASSERT_TRUE(RunOn(*a, 2, parm));
    const double flagged_up = OutlierRunRecord().OutlierCountN;
    ASSERT_TRUE(RunOn(*b, 2, parm));
    EXPECT_EQ(OutlierRunRecord().OutlierCountN, flagged_up) << parm;
    EXPECT_EQ(OutlierRunRecord().TrimmedMean, -50.5) << parm;
    EXPECT_LT(flagged_up, 100) << parm;
  }
  // Half the weight trimmed, a band of 25% around 50.5: 74 values lie outside it.
  auto c = Table([] {
    std::vector<Value> v;
    for (int i = 1; i <= 100; ++i) v.emplace_back(-static_cast<double>(i));
    return v;
  }());
  ASSERT_TRUE(RunOn(*c, 2, 50));
  EXPECT_EQ(OutlierRunRecord().OutlierCountN, 74);
}

}  // namespace
}  // namespace qel
