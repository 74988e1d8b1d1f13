#include "modQuickSort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace qel {
namespace {

std::vector<double> Sorted(std::vector<double> v) {
  QuickSort(v, 0, static_cast<std::int64_t>(v.size()) - 1);
  return v;
}

TEST(QuickSort, TwoElementsSwapOnlyWhenDescending) {
  EXPECT_EQ(Sorted({2, 1}), (std::vector<double>{1, 2}));
  EXPECT_EQ(Sorted({1, 2}), (std::vector<double>{1, 2}));
  EXPECT_EQ(Sorted({3, 3}), (std::vector<double>{3, 3}));
}

TEST(QuickSort, NumbersByValueWithEqualElements) {
  EXPECT_EQ(Sorted({0.5, -3, 0, 10, -0.25, 2, 2, -3, 7.125}),
            (std::vector<double>{-3, -3, -0.25, 0, 0.5, 2, 2, 7.125, 10}));
  EXPECT_EQ(Sorted({4, 4, 4, 4, 4}), (std::vector<double>(5, 4)));
}

TEST(QuickSort, SortedAndReverseInputOfEveryShortLength) {
  for (int n = 0; n <= 40; ++n) {
    std::vector<double> up(n), down(n);
    for (int i = 0; i < n; ++i) up[i] = i, down[i] = n - i - 1;
    EXPECT_EQ(Sorted(up), up) << n;
    EXPECT_EQ(Sorted(down), up) << n;
  }
}

TEST(QuickSort, RangeInsideALargerArrayLeavesTheRestAlone) {
  std::vector<double> a{9, 5, 4, 3, 2, 1, -9};
  QuickSort(a, 1, 5);
  EXPECT_EQ(a, (std::vector<double>{9, 1, 2, 3, 4, 5, -9}));
  // A range of one element (or none) is left unchanged.
  std::vector<double> b{3, 2, 1};
  QuickSort(b, 1, 1);
  QuickSort(b, 2, 1);
  EXPECT_EQ(b, (std::vector<double>{3, 2, 1}));
}

TEST(QuickSort, MillionsOfDistinctValuesDoNotExhaustTheStack) {
  constexpr int kCount = 3'000'000;
  std::vector<double> expected(kCount);
  for (int i = 0; i < kCount; ++i) expected[i] = i * 0.5 - 1e6;

  std::vector<double> shuffled = expected;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937_64(42));
  EXPECT_EQ(Sorted(shuffled), expected);

  std::vector<double> reversed(expected.rbegin(), expected.rend());
  EXPECT_EQ(Sorted(reversed), expected);
  EXPECT_EQ(Sorted(expected), expected);

  // Sawtooth runs defeat a middle pivot's balance; the loop on the larger side
  // still keeps the stack shallow.
  std::vector<double> saw(200'000);
  for (std::size_t i = 0; i < saw.size(); ++i) saw[i] = static_cast<double>((i % 1000) * 1000 + i / 1000);
  std::vector<double> saw_sorted = saw;
  std::sort(saw_sorted.begin(), saw_sorted.end());
  EXPECT_EQ(Sorted(saw), saw_sorted);
}

// An order of 0..n-1 that makes every middle pivot the smallest value of its
// range: played forward, each partition step then removes the pivot alone.
std::vector<double> MiddlePivotKiller(std::int64_t n) {
  std::vector<std::int64_t> slot(static_cast<std::size_t>(n));  // which input position sits where
  for (std::int64_t i = 0; i < n; ++i) slot[static_cast<std::size_t>(i)] = i;
  std::vector<double> value(static_cast<std::size_t>(n));
  for (std::int64_t first = 0, rank = 0; first < n; ++first, ++rank) {
    const std::int64_t m = first + (n - 1 - first) / 2;
    value[static_cast<std::size_t>(slot[static_cast<std::size_t>(m)])] = static_cast<double>(rank);
    std::swap(slot[static_cast<std::size_t>(m)], slot[static_cast<std::size_t>(first)]);
  }
  return value;
}

struct TooManyComparisons {};

TEST(QuickSort, AdversarialOrderCostsNLogNComparisons) {
  constexpr std::int64_t kCount = 200'000;
  std::vector<double> input = MiddlePivotKiller(kCount);
  std::vector<double> expected(input);
  std::sort(expected.begin(), expected.end());
  ASSERT_EQ(expected.back(), static_cast<double>(kCount - 1));

  // Partitions along 2 log2 n levels and a heap sort below them: a few times
  // n log2 n. The unbounded middle pivot needs n^2/2 = 2e10 here.
  const double log2n = std::log2(static_cast<double>(kCount));
  const auto limit = static_cast<std::int64_t>(6 * kCount * log2n);
  std::int64_t comparisons = 0;
  auto counting_less = [&](double x, double y) {
    if (++comparisons > limit) throw TooManyComparisons{};
    return x < y;
  };
  EXPECT_NO_THROW(detail::QuickSortRange(std::span<double>(input), 0, kCount - 1, counting_less));
  EXPECT_EQ(input, expected);
  EXPECT_LE(comparisons, limit);
}

TEST(QuickSort, TextInBinaryUtf16Order) {
  std::vector<std::string> keys{"B", "a", "A", "b"};
  QuickSort(keys, 0, 3);
  EXPECT_EQ(keys, (std::vector<std::string>{"A", "B", "a", "b"}));

  // A prefix comes first; no locale: accented letters after all ASCII.
  std::vector<std::string> words{"abc", "\xC3\xA9t\xC3\xA9", "ab", "z", "", "Zebra"};
  QuickSort(words, 0, 5);
  EXPECT_EQ(words, (std::vector<std::string>{"", "Zebra", "ab", "abc", "z", "\xC3\xA9t\xC3\xA9"}));

  // UTF-16 order differs from code-point order above U+FFFF: an emoji
  // (surrogate pair D83D DE00) sorts before U+FF5E (full-width tilde).
  std::vector<std::string> wide{"\xEF\xBD\x9E", "\xF0\x9F\x98\x80", "\xE4\xB8\xAD"};
  QuickSort(wide, 0, 2);
  EXPECT_EQ(wide, (std::vector<std::string>{"\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "\xEF\xBD\x9E"}));
}

}  // namespace
}  // namespace qel
