// The contracts of the public API: what nulls, empty input and wrong
// arguments give, the tallies' merge and bytes, and the scalar functions.
#include <gtest/gtest.h>

#include <cmath>
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

// Filled in record order, a tally finishes as the analysis over the arrays.
TEST(Tallies, RecordOrderTalliesFinishAsTheArrays) {
  std::vector<double> p, t, w;
  for (int i = 0; i < 500; ++i) {
    p.push_back((i * 37) % 41 * 0.25 + (i % 17 == 0 ? kNull : 0.0));
    t.push_back((i * 13) % 29 * 0.1);
    w.push_back(0.5 + i % 3);
  }
  qel::ValueTally values;
  values.AddArrays(p, w);
  for (const auto& [rule, parm] : {std::pair{qel::OutlierRule::kStd, 1.5}, std::pair{qel::OutlierRule::kTrimmedMean, 20.0}}) {
    const qel::OutlierResult a = qel::Outlier(p, w, rule, parm), b = qel::Outlier(values, rule, parm);
    ASSERT_TRUE(a.Complete && b.Complete) << a.Reason << b.Reason;
    EXPECT_EQ(a.Mean, b.Mean);
    EXPECT_EQ(a.Stdev, b.Stdev);
    EXPECT_EQ(a.TrimmedMean, b.TrimmedMean);
    EXPECT_EQ(a.OutlierCountWgt, b.OutlierCountWgt);
    ASSERT_EQ(a.Rows.size(), b.Rows.size());
    for (std::size_t i = 0; i < a.Rows.size(); ++i) {
      EXPECT_EQ(a.Rows[i].Value, b.Rows[i].Value);
      EXPECT_EQ(a.Rows[i].WeightedN, b.Rows[i].WeightedN);
      EXPECT_EQ(a.Rows[i].Outlier, b.Rows[i].Outlier);
    }
  }
  for (const bool categorical : {false, true}) {
    qel::SegmentTally segments(categorical);
    segments.AddArrays(p, t, w);
    const qel::BivariateResult a = qel::Bivariate(p, t, w, 6, categorical), b = qel::Bivariate(segments, 6);
    ASSERT_TRUE(a.Complete && b.Complete) << a.Reason << b.Reason;
    EXPECT_EQ(a.PSI, b.PSI);
    EXPECT_EQ(a.DI, b.DI);
    EXPECT_EQ(a.TargetMean, b.TargetMean);
    EXPECT_EQ(a.Missing, b.Missing);
    ASSERT_EQ(a.Rows.size(), b.Rows.size());
    for (std::size_t i = 0; i < a.Rows.size(); ++i) {
      EXPECT_EQ(a.Rows[i].N, b.Rows[i].N);
      EXPECT_EQ(a.Rows[i].Min, b.Rows[i].Min);
      EXPECT_EQ(a.Rows[i].Mean, b.Rows[i].Mean);
      EXPECT_EQ(a.Rows[i].Index, b.Rows[i].Index);
    }
  }
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
