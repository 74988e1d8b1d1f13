#include "qelStatsLib/describe.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "qeltesting/tables.h"

namespace qel {
namespace {

using qeldata::Value;
using qel::testing::Table;

// Every figure of two univariate records, compared bit for bit.
void ExpectSameBits(const UnivariateRecord& a, const UnivariateRecord& b, const std::string& what) {
  const double* x = &a.N;
  const double* y = &b.N;
  for (std::size_t i = 0; i < sizeof(UnivariateRecord) / sizeof(double); ++i)
    EXPECT_EQ(std::bit_cast<std::uint64_t>(x[i]), std::bit_cast<std::uint64_t>(y[i]))
        << what << ": figure " << i << ": " << x[i] << " vs " << y[i];
}

const std::vector<testing::Column> kColumns = {
    {"X"}, {"W"}, {"G", qeldata::adVarWChar}, {"T", qeldata::adVarWChar}, {"Y"}};

std::vector<std::vector<Value>> Rows() {
  return {{1.5, 2.0, "b", "red", 10.0},     {2.25, 1.0, "a", "blue", Value()}, {Value(), 1.0, "b", "red", 7.0},
          {1.5, Value(), "a", "green", 3.0}, {0.1, 0.5, Value(), "blue", 1.0}, {7.0, 3.0, "b", Value(), 2.0},
          {2.25, 1.0, "a", "blue", 2.0},    {-4.0, 2.0, "b", "red", 5.0},      {0.3, 1.0, "a", "red", 4.0}};
}

// The univariate run over `rs` on `field`, as the record it leaves.
UnivariateRecord RunOf(qeldata::Recordset& rs, const std::string& field, const std::string& weight, bool* ran) {
  *ran = Univariate_Run(rs, field, weight, false);
  return UnivariateRunRecord();
}

TEST(Describe, NumericFieldsMatchTheUnivariateRunBitForBit) {
  for (const std::string weight : {"", "W"}) {
    auto rs = Table(kColumns, Rows());
    DescribeRequest request;
    request.weight_field = weight;
    std::vector<DescribeGroup> groups = Describe_Tally(*rs, request);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_TRUE(groups[0].key.IsNull());
    EXPECT_EQ(groups[0].records, 9);
    // Every field but the weight, in table order.
    std::vector<std::string> names;
    for (const FieldTally& f : groups[0].fields) names.push_back(f.name);
    EXPECT_EQ(names, (weight.empty() ? std::vector<std::string>{"X", "W", "G", "T", "Y"}
                                     : std::vector<std::string>{"X", "G", "T", "Y"}));
    for (FieldTally& f : groups[0].fields) {
      if (!f.numeric) continue;
      EXPECT_EQ(f.failure, "");
      UnivariateRecord rec;
      const bool finished = Univariate_Finish(f.numbers, rec);
      auto again = Table(kColumns, Rows());
      bool ran = false;
      const UnivariateRecord expected = RunOf(*again, f.name, weight, &ran);
      EXPECT_EQ(finished, ran) << f.name;
      ExpectSameBits(rec, expected, f.name + " weighted by '" + weight + "'");
    }
  }
}

// The numeric fields of a pass over several fields are tallied on a second
// thread, batch by batch; each must come out as the pass over that field
// alone gives it (one thread), also where it stops: on the reading thread
// (a value that is no number) or on the tallying one (an overflow), with
// records after the stop that still count as missing (a null weight).
TEST(Describe, FieldsTalliedOnASecondThreadMatchTheirOwnPass) {
  std::vector<std::vector<Value>> rows;
  for (int i = 1; i <= 30000; ++i) {
    Value x = i % 7 == 0 ? Value() : Value(i * 0.5 - 3000);
    if (i == 9000) x = Value(INFINITY);  // stops X while it is read
    Value y = Value((i % 100) * 0.01 + 0.001);
    if (i == 12000 || i == 12002) y = Value(1e308);  // the sums of Y overflow while it is tallied
    Value w;
    if (i % 11 != 0) w = Value(1.0 + i % 3);
    rows.push_back({x, w, Value(i % 5 == 0 ? "five" : "other"), Value(i % 3 ? "t" : "u"), y});
  }
  auto rs = Table(kColumns, rows);
  DescribeRequest all;
  all.weight_field = "W";
  std::vector<DescribeGroup> together = Describe_Tally(*rs, all);
  ASSERT_EQ(together.size(), 1u);
  for (FieldTally& f : together[0].fields) {
    if (!f.numeric) continue;
    auto again = Table(kColumns, rows);
    DescribeRequest one;
    one.weight_field = "W";
    one.fields = {f.name};
    std::vector<DescribeGroup> alone = Describe_Tally(*again, one);
    FieldTally& g = alone[0].fields[0];
    EXPECT_EQ(f.failure, g.failure) << f.name;
    const TallyTotals& a = f.numbers.Totals();
    const TallyTotals& b = g.numbers.Totals();
    for (auto [x, y] : {std::pair{a.N, b.N}, {a.WgtN, b.WgtN}, {a.Missing, b.Missing}, {a.Sum, b.Sum}, {a.SumWgt, b.SumWgt}})
      EXPECT_EQ(std::bit_cast<std::uint64_t>(x), std::bit_cast<std::uint64_t>(y)) << f.name;
    const auto p = f.numbers.TakeSorted(), q = g.numbers.TakeSorted();
    ASSERT_EQ(p.size(), q.size()) << f.name;
    for (std::size_t i = 0; i < p.size(); ++i) {
      EXPECT_EQ(p[i].value, q[i].value) << f.name;
      EXPECT_EQ(p[i].payload.count, q[i].payload.count) << f.name;
      EXPECT_EQ(p[i].payload.weight, q[i].payload.weight) << f.name;
    }
  }
  EXPECT_NE(together[0].fields[0].failure.find("(record 9000)"), std::string::npos) << together[0].fields[0].failure;
  EXPECT_NE(together[0].fields[3].failure.find("(record 12002)"), std::string::npos) << together[0].fields[3].failure;
  EXPECT_EQ(together[0].fields[0].numbers.Totals().N, 9000 - 9000 / 7 - 9000 / 11 + 9000 / 77 - 1);
}

TEST(Describe, TextFieldsCountTheirValues) {
  auto rs = Table(kColumns, Rows());
  DescribeRequest request;
  request.fields = {"t", "X"};  // names ignore case; the order is the request's
  request.weight_field = "W";
  std::vector<DescribeGroup> groups = Describe_Tally(*rs, request);
  FieldTally& t = groups[0].fields[0];
  EXPECT_EQ(t.name, "T");
  EXPECT_FALSE(t.numeric);
  // A null weight (line 4) and a null text (line 6) are missing.
  EXPECT_EQ(t.texts.Totals().N, 7);
  EXPECT_EQ(t.texts.Totals().Missing, 2);
  EXPECT_EQ(t.texts.Cardinality(), 2u);  // green's only record has no weight
  const std::optional<TextMode> mode = MostFrequent(t.texts);
  ASSERT_TRUE(mode);
  // red: 2 + 1 + 2 + 1 = 6 by weight over 4 records; blue: 1 + 0.5 + 1.
  EXPECT_EQ(mode->text, "red");
  EXPECT_EQ(mode->payload.count, 4);
  EXPECT_EQ(mode->payload.weight, 6);
}

TEST(Describe, ATieOfTheMostFrequentGoesToTheSmallestText) {
  TextTally texts;
  for (const char* s : {"b", "c", "a", "c", "a", "b"}) texts.Add(s);
  EXPECT_EQ(MostFrequent(texts)->text, "a");
  EXPECT_FALSE(MostFrequent(TextTally{}).has_value());
}

TEST(Describe, GroupsAreSortedWithNullLastAndEachMatchesItsOwnRun) {
  auto rs = Table(kColumns, Rows());
  DescribeRequest request;
  request.fields = {"X"};
  request.group_field = "G";
  std::vector<DescribeGroup> groups = Describe_Tally(*rs, request);
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0].key.AsText(), "a");
  EXPECT_EQ(groups[1].key.AsText(), "b");
  EXPECT_TRUE(groups[2].key.IsNull());
  EXPECT_EQ(groups[0].records + groups[1].records + groups[2].records, 9);
  // Group b alone, as a table of its own records in their order.
  std::vector<std::vector<Value>> b_rows;
  for (const auto& row : Rows())
    if (!row[2].IsNull() && row[2].text() == "b") b_rows.push_back(row);
  auto b_table = Table(kColumns, b_rows);
  bool ran = false;
  const UnivariateRecord expected = RunOf(*b_table, "X", "", &ran);
  UnivariateRecord rec;
  // Three values: both stop at the kurtosis correction, with the same figures.
  EXPECT_FALSE(ran);
  EXPECT_EQ(Univariate_Finish(groups[1].fields[0].numbers, rec), ran);
  ExpectSameBits(rec, expected, "group b");
}

TEST(Describe, NumericGroupKeysSortAsNumbers) {
  auto rs = Table({{"K"}, {"X"}}, {{10.0, 1.0}, {9.0, 2.0}, {2.50, 3.0}, {10.0, 4.0}, {2.5000000000000001, 5.0}});
  DescribeRequest request;
  request.group_field = "K";
  std::vector<DescribeGroup> groups = Describe_Tally(*rs, request);
  ASSERT_EQ(groups.size(), 3u);  // 2.5 and its 17-digit twin are one group
  EXPECT_EQ(groups[0].key.number(), 2.5);
  EXPECT_EQ(groups[0].records, 2);
  EXPECT_EQ(groups[1].key.number(), 9);
  EXPECT_EQ(groups[2].key.number(), 10);
  EXPECT_EQ(groups[2].fields.size(), 1u);  // the grouping field is not described
}

TEST(Describe, UnknownFieldsAndTextWeightsAreErrors) {
  for (auto setup : {+[](DescribeRequest& r) { r.fields = {"Nope"}; }, +[](DescribeRequest& r) { r.weight_field = "Nope"; },
                     +[](DescribeRequest& r) { r.group_field = "Nope"; }, +[](DescribeRequest& r) { r.weight_field = "T"; }}) {
    auto rs = Table(kColumns, Rows());
    DescribeRequest request;
    setup(request);
    EXPECT_THROW(Describe_Tally(*rs, request), qeldata::Error);
  }
}

TEST(Describe, AnEmptyTableIsOneEmptyGroup) {
  auto rs = Table(kColumns, {});
  std::int64_t seen = -1;
  DescribeRequest request;
  request.on_records = [&](std::int64_t n) { seen = n; };
  std::vector<DescribeGroup> groups = Describe_Tally(*rs, request);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].records, 0);
  EXPECT_EQ(seen, 0);
  UnivariateRecord rec;
  EXPECT_FALSE(Univariate_Finish(groups[0].fields[0].numbers, rec));
}

TEST(Percentiles, TheQuartilesAreTheLevelsOfAQuarter) {
  // Weights that land a cumulative share exactly on a level, and ones that
  // jump over it.
  for (const std::vector<std::vector<Value>>& rows :
       {std::vector<std::vector<Value>>{{1.0, 1.0}, {2.0, 1.0}, {3.0, 1.0}, {4.0, 1.0}},
        std::vector<std::vector<Value>>{{5.0, 0.3}, {1.0, 2.0}, {3.0, 0.7}, {8.0, 1.5}, {2.0, 4.0}}}) {
    auto rs = Table({{"X"}, {"W"}}, rows);
    DescribeRequest request;
    request.fields = {"X"};
    request.weight_field = "W";
    NumberTally tally = std::move(Describe_Tally(*rs, request)[0].fields[0].numbers);
    NumberTally copy = tally;
    UnivariateRecord rec;
    ASSERT_TRUE(Univariate_Finish(tally, rec));
    const std::vector<NumberTally::Entry> sorted = copy.TakeSorted();
    const double levels[] = {0.25, 0.75, 0.0, 1.0};
    const std::vector<double> p = Percentiles(sorted, copy.Totals().WgtN, levels);
    EXPECT_EQ(p[0], rec.Q1);
    EXPECT_EQ(p[1], rec.Q3);
    EXPECT_EQ(p[2], rec.Min);
    EXPECT_EQ(p[3], rec.Max);
  }
  const double levels[] = {0.5};
  EXPECT_EQ(Percentiles({}, 0, levels), std::vector<double>{0.0});
}

// The finishes of every group's numeric fields run side by side; each must
// be the finish of that field alone, figures and percentiles bit for bit,
// with the stopped and text fields left alone.
// The percentiles come from the values the finish sorts; a finish that stops
// before it sorts (a mean beyond the doubles, no value at all) still gives
// those of a sorted copy, as a finish that sorted nothing of its own would.
TEST(DescribeFinish, PercentilesAlsoWhenTheFinishStopsBeforeSorting) {
  const std::vector<double> levels = {0.25, 0.5, 0.75};
  NumberTally overflowing;
  overflowing.Add(1e305, 1);
  overflowing.Add(2e304, -0.999999);  // a total weight of 1e-6: the mean is beyond the doubles
  NumberTally nothing;
  nothing.AddMissing(3);
  NumberTally plain;
  for (double x : {4.0, 1.0, 3.0, 2.0, 2.0}) plain.Add(x);
  std::vector<NumberFinish> done;
  for (NumberTally* tally : {&overflowing, &nothing, &plain}) {
    NumberTally copy = *tally;
    const std::vector<double> want = Percentiles(copy.TakeSorted(), tally->Totals().WgtN, levels);
    UnivariateRecord alone;
    std::string why;
    NumberTally again = *tally;
    const bool ran = Univariate_Finish(again, alone, &why);
    done.push_back(Describe_FinishField(*tally, levels));
    EXPECT_EQ(done.back().ran, ran);
    EXPECT_EQ(done.back().reason, why);
    EXPECT_EQ(done.back().percentiles, want);
    ExpectSameBits(done.back().record, alone, "one tally");
  }
  EXPECT_FALSE(done[0].ran);
  EXPECT_NE(done[0].reason.find("overflow"), std::string::npos) << done[0].reason;
  EXPECT_EQ(done[0].percentiles, (std::vector<double>{1e305, 1e305, 1e305}));
  EXPECT_FALSE(done[1].ran);
  EXPECT_EQ(done[1].percentiles, (std::vector<double>{0, 0, 0}));
  EXPECT_TRUE(done[2].ran);
  EXPECT_EQ(done[2].percentiles, (std::vector<double>{2, 2, 3}));
}

TEST(DescribeFinish, EachFieldIsItsOwnFinish) {
  std::vector<std::vector<Value>> rows;
  for (int i = 1; i <= 5000; ++i) {
    Value x = i % 9 == 0 ? Value() : Value(std::sqrt(i * 3.0) - 20);
    if (i == 4000) x = Value(INFINITY);  // X stops in its group
    rows.push_back({x, Value(1.0 + i % 4), Value(i % 3 == 0 ? "a" : "b"), Value(i % 2 ? "odd" : "even"),
                    Value((i % 250) * 0.5)});
  }
  DescribeRequest request;
  request.group_field = "G";
  auto rs = Table(kColumns, rows);
  std::vector<DescribeGroup> groups = Describe_Tally(*rs, request);
  std::vector<DescribeGroup> copies = groups;
  const std::vector<double> levels = {0.01, 0.5, 0.95};
  const std::vector<std::vector<NumberFinish>> finished = Describe_Finish(groups, levels);
  ASSERT_EQ(finished.size(), copies.size());
  int compared = 0, stopped = 0;
  for (std::size_t g = 0; g < copies.size(); ++g) {
    ASSERT_EQ(finished[g].size(), copies[g].fields.size());
    for (std::size_t i = 0; i < copies[g].fields.size(); ++i) {
      FieldTally& f = copies[g].fields[i];
      const NumberFinish& done = finished[g][i];
      if (!f.numeric || !f.failure.empty()) {
        EXPECT_FALSE(done.ran) << f.name;
        EXPECT_TRUE(done.percentiles.empty()) << f.name;
        stopped += !f.failure.empty();
        continue;
      }
      NumberTally copy = f.numbers;
      const std::vector<double> percentiles = Percentiles(copy.TakeSorted(), f.numbers.Totals().WgtN, levels);
      UnivariateRecord alone;
      std::string why;
      const bool ran = Univariate_Finish(f.numbers, alone, &why);
      EXPECT_EQ(done.ran, ran) << f.name;
      EXPECT_EQ(done.reason, why) << f.name;
      ExpectSameBits(done.record, alone, f.name);
      ASSERT_EQ(done.percentiles.size(), levels.size());
      for (std::size_t l = 0; l < levels.size(); ++l)
        EXPECT_EQ(std::bit_cast<std::uint64_t>(done.percentiles[l]), std::bit_cast<std::uint64_t>(percentiles[l]));
      ++compared;
    }
  }
  EXPECT_EQ(compared, 5);  // W and Y in both groups, X in the group where it did not stop
  EXPECT_EQ(stopped, 1);
}

}  // namespace
}  // namespace qel
