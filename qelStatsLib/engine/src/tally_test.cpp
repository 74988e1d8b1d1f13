#include "qelStatsLib/tally.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <map>
#include <random>
#include <vector>

namespace qel {
namespace {

using CW = Tally<CountWeight>;

TEST(Tally, KeysByTheFifteenDigitFormAndKeepsTheFirstOccurrence) {
  CW t;
  t.Add(1234567890123456789.0);  // 17 significant digits: the double 1234567890123456768
  t.Add(1234567890123456700.0);  // the same 15-digit form
  t.Add(-0.0);
  t.Add(0.0);
  t.Flush();
  EXPECT_EQ(t.Cardinality(), 2u);
  EXPECT_EQ(t.Totals().N, 4);
  const auto sorted = t.TakeSorted();
  ASSERT_EQ(sorted.size(), 2u);
  EXPECT_EQ(sorted[0].value, 0.0);
  EXPECT_FALSE(std::signbit(sorted[0].value));
  EXPECT_EQ(sorted[1].value, 1234567890123456768.0);  // not the rounded 1.23456789012346e18
  EXPECT_EQ(sorted[1].payload.count, 2);
  // The sums go through the 15-digit form.
  EXPECT_EQ(t.Totals().Sum, 2 * Form15(1234567890123456789.0));
}

TEST(Tally, SortsManyDistinctValuesAsTheComparisonOrder) {
  // Enough values for the radix sort to go several bytes deep: negative and
  // positive, tiny and huge, integers sharing their high bytes, values whose
  // first occurrence differs from their key, each added twice.
  std::mt19937_64 random(7);
  std::vector<double> values;
  for (int i = 0; i < 60000; ++i) {
    const double magnitude = std::ldexp(static_cast<double>(random() % 1000003), static_cast<int>(random() % 80) - 40);
    values.push_back(random() % 3 == 0 ? -magnitude : magnitude);
    values.push_back(static_cast<double>(i));
  }
  values.insert(values.end(), {1e300, -1e300, 1e-300, -1e-300, 0.1 + 0.2, 1234567890123456789.0, 0.0});
  CW t;
  for (const double v : values) t.Add(v);
  for (const double v : values) t.Add(v);
  const auto sorted = t.TakeSorted();
  std::vector<double> expected;
  {
    CW first;  // the first occurrence of each 15-digit form
    for (const double v : values) first.Add(v);
    for (const auto& e : first.Entries()) expected.push_back(e.value);
  }
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(sorted.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(sorted[i].value, expected[i]) << i;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(sorted[i].payload.count, 2 * std::count_if(values.begin(), values.end(), [&](double v) {
                                                return Form15(v) == Form15(expected[i]);
                                              })) << i;
    if (i > 200) break;  // the counts of a few hundred are enough
  }
}

TEST(Tally, GrowsWithKeysCrowdedAtTheEndOfTheTable) {
  // Keys whose hashes (the table's own mixing, repeated here) all have their
  // top bits set: their homes are the last slots at every size, so their
  // cluster wraps around the end, and growing the table in place must set
  // most of them aside and insert them again. Every key is found afterwards.
  const auto mix = [](std::uint64_t k) {
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdULL;
    k ^= k >> 33;
    return k;
  };
  std::vector<double> crowded;
  for (int i = 1; crowded.size() < 3000; ++i) {
    const double v = i;
    if (mix(std::bit_cast<std::uint64_t>(v)) >> 56 == 0xFF) crowded.push_back(v);
  }
  CW t;
  for (int i = 0; i < 500; ++i) t.Add(1e6 + i);  // others spread over the table
  for (const double v : crowded) t.Add(v);
  for (const double v : crowded) t.Add(v, 2);
  EXPECT_EQ(t.Cardinality(), crowded.size() + 500);
  const auto sorted = t.TakeSorted();
  ASSERT_EQ(sorted.size(), crowded.size() + 500);
  std::vector<double> expected = crowded;
  for (int i = 0; i < 500; ++i) expected.push_back(1e6 + i);
  std::sort(expected.begin(), expected.end());
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    ASSERT_EQ(sorted[i].value, expected[i]) << i;
    const bool is_crowded = expected[i] < 1e6;
    EXPECT_EQ(sorted[i].payload.count, is_crowded ? 2 : 1) << i;
    EXPECT_EQ(sorted[i].payload.weight, is_crowded ? 3 : 1) << i;
  }
}

TEST(Tally, WeightTotalsStayInTheirFifteenDigitForm) {
  CW t;
  t.Add(5, 0.7);
  t.Add(5, 0.2);
  t.Add(5, 0.1);
  const auto sorted = t.TakeSorted();
  EXPECT_EQ(sorted.at(0).payload.weight, 1.0);
}

// A tally of the records split in parts, merged, equals the tally of all of
// them: exactly for counts and whole weights.
TEST(Tally, MergedPartsGiveTheSameCountsAndOrder) {
  std::vector<double> values, weights;
  for (int i = 0; i < 5000; ++i) {
    values.push_back((i * 7919) % 613 * 0.25 - 40);
    weights.push_back(1 + i % 3);
  }
  CW whole;
  whole.AddArrays(values, weights);
  CW a, b;
  a.AddArrays(std::span(values).first(1234), std::span(weights).first(1234));
  b.AddArrays(std::span(values).subspan(1234), std::span(weights).subspan(1234));
  a.Merge(b);
  EXPECT_EQ(a.Totals().N, whole.Totals().N);
  EXPECT_EQ(a.Totals().WgtN, whole.Totals().WgtN);
  EXPECT_EQ(a.Totals().SumWgt, whole.Totals().SumWgt);  // quarters and whole weights: exact in any order
  const auto x = a.TakeSorted(), y = whole.TakeSorted();
  ASSERT_EQ(x.size(), y.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    EXPECT_EQ(x[i].value, y[i].value);
    EXPECT_EQ(x[i].payload.count, y[i].payload.count);
    EXPECT_EQ(x[i].payload.weight, y[i].payload.weight);
  }
}

TEST(Tally, AggregatedRowsAndBytesRoundTrip) {
  Tally<TargetSums> t;
  t.AddAggregate(2.5, TargetSums{3, 4.5, 9});
  t.Add(2.5, 1, 2);
  t.Add(1e300, 2, -1);
  t.AddMissing(2);
  const auto bytes = t.Serialize();
  Tally<TargetSums> back = Tally<TargetSums>::Deserialize(bytes);
  EXPECT_EQ(back.Totals().N, 5);
  EXPECT_EQ(back.Totals().WgtN, 7.5);
  EXPECT_EQ(back.Totals().Missing, 2);
  const auto sorted = back.TakeSorted();
  ASSERT_EQ(sorted.size(), 2u);
  EXPECT_EQ(sorted[0].payload.count, 4);
  EXPECT_EQ(sorted[0].payload.weight, 5.5);
  EXPECT_EQ(sorted[0].payload.target_sum, 11);
  // Bytes of another kind, or cut short, are refused.
  EXPECT_THROW(CW::Deserialize(bytes), std::invalid_argument);
  EXPECT_THROW(Tally<TargetSums>::Deserialize(std::span(bytes).first(bytes.size() - 3)), std::invalid_argument);
}

TEST(Tally, TextTalliesMergeAndRoundTrip) {
  TextTally a, b;
  a.Add("B", 1, 10);
  a.Add("A", 2, 1);
  b.Add("C", 1, 5);
  b.Add("A", 1, 3);
  a.Merge(b);
  const TextTally back = TextTally::Deserialize(a.Serialize());
  EXPECT_EQ(back.Texts(), (std::vector<std::string>{"B", "A", "C"}));
  EXPECT_EQ(back.Of("A").weight, 3);
  EXPECT_EQ(back.Of("A").target_sum, 5);
  EXPECT_EQ(back.Totals().WgtN, 5);
}

TEST(Tally, TextTallyKeepsFirstAppearanceOrderThroughItsIndexGrowth) {
  // Enough texts to grow the index many times, each seen again later, with
  // texts that differ only in a trailing byte, an embedded NUL, or case.
  TextTally t;
  std::vector<std::string> expected;
  for (int i = 0; i < 100000; ++i) expected.push_back("k" + std::to_string(i));
  expected.push_back("");
  expected.push_back(std::string("a\0b", 3));
  expected.push_back(std::string("a\0c", 3));
  expected.push_back("K1");
  for (const std::string& text : expected) t.Add(text, 1, 2);
  for (std::size_t i = 0; i < expected.size(); i += 7) t.Add(expected[i], 0.5, 4);
  ASSERT_EQ(t.Texts(), expected);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(t.Position(expected[i]), i);
    const double extra = i % 7 == 0 ? 1 : 0;
    ASSERT_EQ(t.Of(expected[i]).count, 1 + extra) << expected[i];
    ASSERT_EQ(t.Of(expected[i]).weight, 1 + 0.5 * extra);
    ASSERT_EQ(t.Of(expected[i]).target_sum, 2 + 2 * extra);
  }
  EXPECT_THROW(t.Of("k100000"), std::out_of_range);
  // Without its index the tally still finds and adds texts: it builds it anew.
  t.ReleaseIndex();
  EXPECT_EQ(t.Of("k99999").count, 1);
  t.ReleaseIndex();
  EXPECT_EQ(t.Position("K1"), expected.size() - 1);
  EXPECT_EQ(t.Position("new"), expected.size());
  EXPECT_THROW(TextTally{}.Of("A"), std::out_of_range);
}

TEST(Tally, AnOverflowingWeightTotalStopsAtItsRecord) {
  CW t;
  t.Add(1, 1e308);
  t.Add(0.5, -1e308);
  EXPECT_THROW(t.Add(1, 1e308), TallyOverflow);
  Tally<Weight> w;
  w.Add(1, 1e308);
  w.Add(0.5, -1e308);
  EXPECT_THROW(w.Add(1, 1e308), TallyOverflow);
  // In an ascending array too, at the record itself.
  Tally<Weight> run;
  run.Add(1, 1e308);
  EXPECT_THROW(run.Add(1, 1e308), TallyOverflow);
  EXPECT_TRUE(run.Ascending());
  EXPECT_EQ(run.Totals().N, 2);
}

// The definitions, written out: each 15-digit form with the first value that
// had it, its records and its weight total (15-digit form after every
// addition), and the totals in record order.
struct Expected {
  struct Item {
    double first, count, weight;
  };
  std::map<double, Item> items;
  double n = 0, wgt_n = 0, sum = 0, sum_wgt = 0;

  void Add(double value, double weight) {
    const double key = Form15(value);
    auto [it, fresh] = items.try_emplace(key, Item{value + 0.0, 0, 0});
    it->second.count += 1;
    it->second.weight = Form15(it->second.weight + weight);
    n += 1;
    wgt_n += weight;
    sum += key;
    sum_wgt += weight * key;
  }
};

// `merged`: the tally added its parts' sums, which may differ from the
// record-order sums in the last bits (see tally.h); counts stay exact.
template <typename Payload>
void ExpectAgrees(Tally<Payload>& t, const Expected& want, bool merged = false) {
  EXPECT_EQ(t.Totals().N, want.n);
  EXPECT_EQ(t.Totals().WgtN, want.wgt_n);
  if (!merged) {
    EXPECT_EQ(t.Totals().Sum, want.sum);
    EXPECT_EQ(t.Totals().SumWgt, want.sum_wgt);
  }
  const auto sorted = t.TakeSorted();
  ASSERT_EQ(sorted.size(), want.items.size());
  std::size_t i = 0;
  for (const auto& [key, item] : want.items) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(sorted[i].value), std::bit_cast<std::uint64_t>(item.first)) << key;
    if constexpr (CountedPayload<Payload>) {
      EXPECT_EQ(sorted[i].payload.count, item.count) << key;
    }
    EXPECT_EQ(sorted[i].payload.weight, item.weight) << key;
    ++i;
  }
}

// Values that come in ascending order fill a sorted array; the first one out
// of order moves it into the hash table. Across that switch every figure is
// what the definitions give: a value met again after the switch adds to its
// entry, a value of more than 15 digits keeps its first occurrence, the
// fractional weight totals keep their 15-digit form.
TEST(Tally, AscendingValuesThenOneOutOfOrder) {
  const double big = 1234567890123456789.0;  // 17 digits: its key is another double
  const std::vector<std::pair<double, double>> records = {
      {-5, 0.1},   {-5, 0.2},  {0.0, 1},    {2.5, 0.7},           {2.5000000000000001, 0.2},
      {3, 1},      {big, 0.3}, {1234567890123456700.0, 0.5},  // the same key as `big`, in order
      {2.5, 0.1},  // out of order: a value of the array, met again
      {-7, 2},     {big + 4096, 1}, {1234567890123456700.0, 1}, {-0.0, 1}, {1e300, 0.25}, {-5, 0.7}};
  Tally<CountWeight> counted;
  Tally<Weight> weighed;
  Expected want;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto [value, weight] = records[i];
    counted.Add(value, weight);
    weighed.Add(value, weight);
    want.Add(value, weight);
    EXPECT_EQ(counted.Ascending(), i < 8) << i;
    EXPECT_EQ(weighed.Ascending(), i < 8) << i;
  }
  EXPECT_EQ(want.items.at(Form15(big)).first, big);
  EXPECT_EQ(want.items.at(2.5).weight, 1.0);
  ExpectAgrees(counted, want);
  ExpectAgrees(weighed, want);
}

// A long run grows its array; once taken sorted, the tally starts again as
// an empty ascending one. Equal values in a row stay in order.
TEST(Tally, ALongAscendingRunNeedsNoTable) {
  Tally<CountWeight> t;
  Expected want;
  for (int i = 0; i < 200000; ++i) {
    const double value = 0.001 * i - 50;  // not its own 15-digit form for some i
    t.Add(value, 1 + i % 3);
    want.Add(value, 1 + i % 3);
    if (i % 1000 == 0) {
      t.Add(value, 0.5);
      want.Add(value, 0.5);
    }
  }
  EXPECT_TRUE(t.Ascending());
  EXPECT_EQ(t.Cardinality(), want.items.size());
  ExpectAgrees(t, want);
  EXPECT_EQ(t.Cardinality(), 0u);
  EXPECT_TRUE(t.Ascending());
  t.Add(3);
  t.Add(1);
  EXPECT_FALSE(t.Ascending());
  EXPECT_EQ(t.Cardinality(), 2u);
}

// Copies, merges and bytes of a tally still in its ascending array hold the
// same values, payloads and first occurrences as one filled in a table.
TEST(Tally, AnAscendingTallyCopiesMergesAndRoundTrips) {
  const double big = 98765432109876543.0;
  Tally<CountWeight> ascending, shuffled;
  Expected want;
  for (int i = 0; i < 3000; ++i) {
    const double value = i == 2999 ? big : i * 0.5;  // the largest last: still in order
    ascending.Add(value, 1 + (i & 1));
    want.Add(value, 1 + (i & 1));
  }
  for (int i = 4000; i > 2000; --i) {  // descending: a table from the second record
    shuffled.Add(i * 0.5, 0.25);
    want.Add(i * 0.5, 0.25);
  }
  ASSERT_TRUE(ascending.Ascending());
  ASSERT_FALSE(shuffled.Ascending());

  Tally<CountWeight> copy(ascending);
  EXPECT_TRUE(copy.Ascending());
  Tally<CountWeight> back = Tally<CountWeight>::Deserialize(ascending.Serialize());
  EXPECT_TRUE(back.Ascending());  // the bytes hold the entries in order

  // The ascending tally merged into the table, and the table into it.
  Tally<CountWeight> into_table(shuffled), into_array(ascending);
  into_table.Merge(ascending);
  into_array.Merge(shuffled);
  EXPECT_FALSE(into_array.Ascending());
  back.Merge(shuffled);
  // Every weight here is a whole number or a quarter: the weight totals are
  // exact in either order, and a value both hold is the same double in both.
  ExpectAgrees(into_array, want, true);
  ExpectAgrees(into_table, want, true);
  ExpectAgrees(back, want, true);

  Expected first_part;
  for (int i = 0; i < 3000; ++i) first_part.Add(i == 2999 ? big : i * 0.5, 1 + (i & 1));
  ExpectAgrees(copy, first_part);
}

// The univariate run's tally keeps no counts: half a slot less, the same
// values, first occurrences, weight totals and totals as a counting tally.
TEST(Tally, AWeightOnlyTallyAgreesWithACountingOne) {
  static_assert(sizeof(Tally<Weight>::Entry) == 16);
  CW counted;
  Tally<Weight> weighed;
  const double values[] = {3, 2.5000000000000001, -0.0, 2.5, 7e-5, 3, 0.1 + 0.2, 0.3};
  const double weights[] = {0.7, 0.2, 1, 0.1, 2, 0.3, 0.25, 0.5};
  for (int i = 0; i < 8; ++i) {
    counted.Add(values[i], weights[i]);
    weighed.Add(values[i], weights[i]);
  }
  weighed.AddMissing(2);
  counted.AddMissing(2);
  EXPECT_EQ(weighed.Cardinality(), counted.Cardinality());
  const TallyTotals& a = weighed.Totals();
  const TallyTotals& b = counted.Totals();
  EXPECT_EQ(a.N, b.N);
  EXPECT_EQ(a.WgtN, b.WgtN);
  EXPECT_EQ(a.Missing, b.Missing);
  EXPECT_EQ(a.Sum, b.Sum);
  EXPECT_EQ(a.SumWgt, b.SumWgt);
  const auto x = weighed.TakeSorted();
  const auto y = counted.TakeSorted();
  ASSERT_EQ(x.size(), y.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    EXPECT_EQ(std::signbit(x[i].value), std::signbit(y[i].value));
    EXPECT_EQ(x[i].value, y[i].value);
    EXPECT_EQ(x[i].payload.weight, y[i].payload.weight);
  }
}

}  // namespace
}  // namespace qel
