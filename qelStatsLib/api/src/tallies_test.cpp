// The contracts of the public API: what nulls, empty input and wrong
// arguments give, the tallies' merge and bytes, and the scalar functions.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <string>
#include <limits>
#include <vector>

#include "qel/qel.h"

namespace {

const double kNull = std::numeric_limits<double>::quiet_NaN();

template <typename F>
qel::ErrorCode CodeOf(F f) {
  try {
    f();
  } catch (const qel::Error& e) {
    return e.code();
  }
  ADD_FAILURE() << "no qel::Error thrown";
  return qel::ErrorCode{};
}

TEST(Univariate, WorkedExamplesWithNullsAsNaN) {
  const std::vector<double> v{1, 2, 2, 3, 10};
  const qel::UnivariateResult r = qel::Univariate(v);
  EXPECT_TRUE(r.Complete);
  EXPECT_EQ(r.Mean, 3.6);
  EXPECT_DOUBLE_EQ(r.Variance, 13.3);
  EXPECT_EQ(r.Median, 2);
  EXPECT_EQ(r.TrimmedMean, 2);
  // (1, 2), (2, 1), (4, 1), (null, 1), (3, null)
  const std::vector<double> x{1, 2, 4, kNull, 3}, w{2, 1, 1, 1, kNull};
  const qel::UnivariateResult s = qel::Univariate(x, w);
  EXPECT_EQ(s.N, 3);
  EXPECT_EQ(s.WgtN, 4);
  EXPECT_EQ(s.Missing, 2);
  EXPECT_EQ(s.Median, 1.5);
  EXPECT_NEAR(s.Kurtosis, 1.5, 1e-12);
}

TEST(Univariate, EmptyAndStoppedRunsSayWhy) {
  const qel::UnivariateResult empty = qel::Univariate(std::vector<double>{});
  EXPECT_FALSE(empty.Complete);
  EXPECT_FALSE(empty.Reason.empty());
  const qel::UnivariateResult nulls = qel::Univariate(std::vector<double>{kNull, kNull});
  EXPECT_FALSE(nulls.Complete);
  EXPECT_EQ(nulls.Missing, 2);
  // A total weight of 2: everything up to CV, no shape.
  const qel::UnivariateResult two = qel::Univariate(std::vector<double>{1, 3});
  EXPECT_FALSE(two.Complete);
  EXPECT_EQ(two.Mean, 2);
  EXPECT_EQ(two.Skewness, 0);
}

TEST(Arguments, WrongArgumentsThrowWithTheirCode) {
  const std::vector<double> v{1, 2, 3}, w2{1, 1};
  EXPECT_EQ(CodeOf([&] { qel::Univariate(v, w2); }), qel::ErrorCode::kInvalidArgument);
  const std::vector<double> inf{1, std::numeric_limits<double>::infinity()};
  EXPECT_EQ(CodeOf([&] { qel::Univariate(inf); }), qel::ErrorCode::kInvalidArgument);
  EXPECT_EQ(CodeOf([&] { qel::Outlier(v, {}, qel::OutlierRule::kTrimmedMean, 0.5); }),
            qel::ErrorCode::kInvalidArgument);
  EXPECT_EQ(CodeOf([&] { qel::Bivariate(v, v, {}, 0); }), qel::ErrorCode::kInvalidArgument);
  EXPECT_EQ(CodeOf([&] { qel::Bivariate(v, w2, {}, 4); }), qel::ErrorCode::kInvalidArgument);
}

TEST(Tables, UnknownFieldsTextFieldsAndMissingFilesThrow) {
  const std::string csv = std::string(QEL_SOURCE_DIR) + "/VesquinDemo/datasets/BaseBall.csv";
  const qel::Table t = qel::Table::Csv(csv);
  EXPECT_EQ(t.fields().front().name, "Salary");
  try {
    qel::Univariate(t, "Salry");
    FAIL();
  } catch (const qel::Error& e) {
    EXPECT_EQ(e.code(), qel::ErrorCode::kNoSuchField);
    EXPECT_NE(std::string(e.what()).find("Salry"), std::string::npos);
  }
  EXPECT_EQ(CodeOf([&] { qel::Univariate(t, "Team"); }), qel::ErrorCode::kFieldType);
  EXPECT_EQ(CodeOf([&] { qel::Outlier(t, "Salary", "Player", qel::OutlierRule::kStd, 2); }),
            qel::ErrorCode::kFieldType);
  EXPECT_EQ(CodeOf([&] { qel::Univariate(t, "  "); }), qel::ErrorCode::kInvalidArgument);
  EXPECT_EQ(CodeOf([&] { qel::Table::Csv(csv + ".missing"); }), qel::ErrorCode::kData);
  EXPECT_EQ(CodeOf([&] { qel::Table::Open("Text;DBQ=" QEL_SOURCE_DIR, "NoSuchFile.csv"); }), qel::ErrorCode::kData);
}

TEST(Bivariate, TextAndDatePredictorsAreCategoricalWithNullsMissing) {
  const std::vector<std::optional<std::string>> p{"B", "A", std::nullopt, "C", "A"};
  const std::vector<double> t{1, 2, 5, 3, 4};
  const qel::BivariateResult r = qel::Bivariate(p, t, {}, 2);
  ASSERT_TRUE(r.Complete) << r.Reason;
  EXPECT_TRUE(r.Categorical);
  EXPECT_EQ(r.Missing, 1);
  ASSERT_EQ(r.Rows.size(), 3u);
  EXPECT_EQ(std::get<std::string>(r.Rows[0].Min), "A");
  EXPECT_EQ(r.Rows[0].Mean, 3);
  const std::vector<std::optional<qel::Date>> d{qel::Date{2001, 5, 3}, qel::Date{1999, 12, 31}, std::nullopt};
  const qel::BivariateResult s = qel::Bivariate(d, std::vector<double>{1, 2, 3}, {}, 4);
  ASSERT_EQ(s.Rows.size(), 2u);
  EXPECT_EQ(std::get<std::string>(s.Rows[0].Max), "1999-12-31");
  EXPECT_EQ(CodeOf([&] {
              qel::Bivariate(std::vector<std::optional<qel::Date>>{qel::Date{2001, 2, 29}}, std::vector<double>{1},
                             {}, 4);
            }),
            qel::ErrorCode::kInvalidArgument);
}

TEST(ValueTally, MergedPartsAndBytesFinishAsTheWhole) {
  std::vector<double> values, weights;
  for (int i = 0; i < 1000; ++i) {
    values.push_back((i * 7919) % 113 + (i % 3 == 0 ? kNull : 0.0));
    weights.push_back(1 + i % 4);
  }
  const qel::UnivariateResult whole = qel::Univariate(values, weights);
  qel::ValueTally a, b;
  a.AddArrays(std::span(values).first(400), std::span(weights).first(400));
  b.AddArrays(std::span(values).subspan(400), std::span(weights).subspan(400));
  a.Merge(qel::ValueTally::Deserialize(b.Serialize()));
  const qel::UnivariateResult merged = qel::Univariate(a);
  // Whole numbers and whole weights: bit for bit.
  EXPECT_EQ(merged.N, whole.N);
  EXPECT_EQ(merged.Missing, whole.Missing);
  EXPECT_EQ(merged.Mean, whole.Mean);
  EXPECT_EQ(merged.Median, whole.Median);
  EXPECT_EQ(merged.Kurtosis, whole.Kurtosis);
  EXPECT_EQ(a.Cardinality(), static_cast<std::size_t>(whole.Cardinality));
  // Finishing leaves the tally as it was.
  EXPECT_EQ(qel::Univariate(a).Kurtosis, whole.Kurtosis);
  EXPECT_EQ(CodeOf([] { qel::ValueTally::Deserialize(std::vector<std::uint8_t>{1, 2, 3}); }),
            qel::ErrorCode::kBadBytes);
}

// The arrays, written to a CSV file with every digit of their doubles (NaN
// as an empty cell), and read back as a table by the engine's record-order
// runs.
qel::Table AsCsv(const std::string& name, const std::vector<double>& p, const std::vector<double>& t,
                 const std::vector<double>& w) {
  const std::string path = ::testing::TempDir() + name;
  std::FILE* f = std::fopen(path.c_str(), "w");
  std::fprintf(f, "P,T,W\n");
  auto cell = [&](double x, const char* end) {
    if (x == x) std::fprintf(f, "%.17g", x);
    std::fputs(end, f);
  };
  for (std::size_t i = 0; i < p.size(); ++i) {
    cell(p[i], ",");
    cell(t[i], ",");
    cell(w[i], "\n");
  }
  std::fclose(f);
  return qel::Table::Csv(path);
}

void ExpectSame(const qel::OutlierResult& a, const qel::OutlierResult& b) {
  ASSERT_EQ(a.Complete, b.Complete) << a.Reason << b.Reason;
  for (const auto& [x, y] : {std::pair{a.N, b.N}, {a.WgtN, b.WgtN}, {a.Missing, b.Missing}, {a.Sum, b.Sum},
                             {a.SumWgt, b.SumWgt}, {a.Mean, b.Mean}, {a.Stdev, b.Stdev}, {a.Min, b.Min},
                             {a.Max, b.Max}, {a.Q1, b.Q1}, {a.Median, b.Median}, {a.Q3, b.Q3},
                             {a.TrimmedMean, b.TrimmedMean}, {a.OutlierCountWgt, b.OutlierCountWgt}})
    EXPECT_EQ(std::bit_cast<std::uint64_t>(x), std::bit_cast<std::uint64_t>(y));
  ASSERT_EQ(a.Rows.size(), b.Rows.size());
  for (std::size_t i = 0; i < a.Rows.size(); ++i) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(a.Rows[i].Value), std::bit_cast<std::uint64_t>(b.Rows[i].Value)) << i;
    EXPECT_EQ(a.Rows[i].WeightedN, b.Rows[i].WeightedN) << i;
    EXPECT_EQ(a.Rows[i].Outlier, b.Rows[i].Outlier) << i;
  }
}

void ExpectSame(const qel::BivariateResult& a, const qel::BivariateResult& b) {
  ASSERT_EQ(a.Complete, b.Complete) << a.Reason << " / " << b.Reason;
  EXPECT_EQ(a.PSI, b.PSI);
  EXPECT_EQ(a.DI, b.DI);
  EXPECT_EQ(a.N, b.N);
  EXPECT_EQ(a.TargetMean, b.TargetMean);
  EXPECT_EQ(a.Missing, b.Missing);
  EXPECT_EQ(a.Categorical, b.Categorical);
  ASSERT_EQ(a.Rows.size(), b.Rows.size());
  for (std::size_t i = 0; i < a.Rows.size(); ++i) {
    EXPECT_EQ(a.Rows[i].N, b.Rows[i].N) << i;
    EXPECT_EQ(a.Rows[i].Min, b.Rows[i].Min) << i;
    EXPECT_EQ(a.Rows[i].Max, b.Rows[i].Max) << i;
    EXPECT_EQ(a.Rows[i].Mean, b.Rows[i].Mean) << i;
    EXPECT_EQ(a.Rows[i].Index, b.Rows[i].Index) << i;
  }
}

// Arrays are tallied and finished where a table is read record by record:
// the same doubles give the same results, also for values of more than 15
// significant digits (a first occurrence that differs from its 15-digit form,
// a bin edge that rounds to 5 decimals differently from it), -0, nulls in
// every column, fractional weights and every finish's table.
TEST(Tallies, ArraysFinishAsTheRecordOrderRuns) {
  std::vector<double> p, t, w;
  const double awkward[] = {0.12340499999999997, -0.0, 1.0000000000000002, 2.6000000000000001,
                            1234567.8901234567, 3.0, 0.1 + 0.2, 7.25};
  for (int i = 0; i < 400; ++i) {
    p.push_back(i % 23 == 0 ? kNull : awkward[(i * 5) % 8] + (i % 3) * 0.75);
    t.push_back(i % 31 == 0 ? kNull : (i * 13) % 29 * 0.1);
    w.push_back(i % 37 == 0 ? kNull : 0.5 + i % 3 * 0.3);
  }
  const qel::Table table = AsCsv("arrays_as_records.csv", p, t, w);
  for (const auto& [rule, parm] : {std::pair{qel::OutlierRule::kStd, 1.5}, std::pair{qel::OutlierRule::kTrimmedMean, 20.0}}) {
    ExpectSame(qel::Outlier(p, w, rule, parm), qel::Outlier(table, "P", "W", rule, parm));
    ExpectSame(qel::Outlier(p, {}, rule, parm), qel::Outlier(table, "P", "", rule, parm));
  }
  for (const bool categorical : {false, true}) {
    for (const int bins : {3, 7, 40}) {
      ExpectSame(qel::Bivariate(p, t, w, bins, categorical), qel::Bivariate(table, "P", "T", "W", bins, categorical));
      ExpectSame(qel::Bivariate(p, t, {}, bins, categorical), qel::Bivariate(table, "P", "T", "", bins, categorical));
    }
  }
  // A bin that starts at such a value: its edges are rounded to 5
  // decimals from their 15-digit form, as the run keys them.
  const std::vector<double> edges{0.12340499999999997, 1, 2, 3, 4, 5, 6, 7, 8, 9},
      ones(edges.size(), 1.0);
  const qel::Table edge_table = AsCsv("bin_edges.csv", edges, edges, ones);
  ExpectSame(qel::Bivariate(edges, edges, {}, 3), qel::Bivariate(edge_table, "P", "T", "", 3));
  // No complete record: both stop where the target mean divides by zero.
  const std::vector<double> ps{1, kNull, 2, kNull}, ts{kNull, 1, kNull, 2}, ws{2, 1, kNull, 3};
  const qel::Table incomplete = AsCsv("incomplete_records.csv", ps, ts, ws);
  const qel::BivariateResult stopped = qel::Bivariate(ps, ts, ws, 4);
  EXPECT_EQ(stopped.Missing, 7);
  EXPECT_FALSE(stopped.Reason.empty());
  ExpectSame(stopped, qel::Bivariate(incomplete, "P", "T", "W", 4));
}

TEST(SegmentTally, KindsDoNotMixAndBytesRoundTrip) {
  qel::SegmentTally numbers;
  numbers.Add(1.5, 10);
  numbers.Add(kNull, 10, 3);  // a null predictor: its weight is missing
  EXPECT_EQ(numbers.Missing(), 3);
  EXPECT_EQ(CodeOf([&] { numbers.Add(std::optional<std::string>("x"), 1); }), qel::ErrorCode::kInvalidArgument);
  qel::SegmentTally texts;
  texts.Add(std::optional<std::string>("x"), 1);
  EXPECT_EQ(CodeOf([&] { numbers.Merge(texts); }), qel::ErrorCode::kInvalidArgument);
  const qel::SegmentTally back = qel::SegmentTally::Deserialize(texts.Serialize());
  EXPECT_EQ(back.Cardinality(), 1u);
  EXPECT_EQ(back.N(), 1);
}

// A Cancellation is asked at every checkpoint of a run and stops it at the
// first one where it says so; the next run on the thread is not stopped.
TEST(Cancellation, StopsARunAtItsNextCheckpoint) {
  const qel::Table t = qel::Table::Csv(std::string(QEL_SOURCE_DIR) + "/VesquinDemo/datasets/BaseBall.csv");
  int asked = 0;
  {
    const qel::Cancellation never([&] { return ++asked, false; });
    EXPECT_TRUE(qel::Bivariate(t, "AB", "Salary", "", 5).Complete);
  }
  // Before and after the run, twice before reading and three times in the finish.
  EXPECT_EQ(asked, 7);
  for (const int at : {1, 3, 5, 7}) {
    int calls = 0;
    const qel::Cancellation stop([&] { return ++calls == at; });
    EXPECT_EQ(CodeOf([&] { qel::Bivariate(t, "AB", "Salary", "", 5); }), qel::ErrorCode::kCancelled) << at;
    EXPECT_EQ(calls, at);
  }
  {
    const qel::Cancellation outer([] { return true; });
    const qel::Cancellation inner([] { return false; });  // the innermost is asked
    EXPECT_TRUE(qel::Outlier(t, "AB", "", qel::OutlierRule::kStd, 2).Complete);
    qel::SegmentTally tally;
    tally.AddArrays(std::vector<double>{1, 2, 3}, std::vector<double>{4, 5, 6});
    EXPECT_TRUE(qel::Bivariate(tally, 2).Complete);
  }
  EXPECT_EQ(qel::Cancellation::Current(), nullptr);
  EXPECT_TRUE(qel::Bivariate(t, "AB", "Salary", "", 5).Complete);
  const qel::Cancellation stop([] { return true; });
  EXPECT_EQ(CodeOf([] { qel::Univariate(std::vector<double>{1, 2, 3, 4}); }), qel::ErrorCode::kCancelled);
}

TEST(Functions, FailuresGiveTheFailureValue) {
  EXPECT_EQ(qel::ArcSin(1), qel::kFunctionFailure);
  EXPECT_EQ(qel::CoTan(0), qel::kFunctionFailure);
  EXPECT_EQ(qel::HTan(800), qel::kFunctionFailure);
  EXPECT_EQ(qel::LogN(8, 1), qel::kFunctionFailure);
  EXPECT_EQ(qel::DTOR(180), 3.141592654);
  EXPECT_EQ(qel::Dist_Fctn(10, 20, 10, 20), 0);
  EXPECT_STREQ(qel::Version(), "7.0.0");
}

}  // namespace
