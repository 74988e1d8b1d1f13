// The library's one sorting routine: an in-place partition sort, ascending,
// with the middle element as pivot and equal elements left of the pivot.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace qel {

// Binary order of UTF-16 code units (no locale, no case folding) for UTF-8
// texts: a shorter text that is a prefix of a longer one comes first.
bool Utf16Less(std::string_view a, std::string_view b);

namespace detail {

// Sorts a[first..last] by heap sort: n log n comparisons whatever the order.
template <typename T, typename Less>
void HeapSortRange(std::span<T> a, std::int64_t first, std::int64_t last, Less less) {
  const auto begin = a.begin() + first, end = a.begin() + last + 1;
  std::make_heap(begin, end, less);
  std::sort_heap(begin, end, less);
}

// The partition steps a range of n elements may take along one path before
// the rest of it is heap sorted: 2 log2 n. Typical input never gets there;
// an order crafted against the middle pivot (each pivot the smallest of its
// range) would otherwise cost n^2/2 comparisons.
inline int PartitionDepthLimit(std::int64_t n) {
  return 2 * std::bit_width(static_cast<std::uint64_t>(n));
}

template <typename T, typename Less>
void QuickSortRange(std::span<T> a, std::int64_t first, std::int64_t last, Less less, int depth_left) {
  // Recurse into the smaller side and loop on the larger one, so the stack
  // depth stays below log2 of the range length whatever the input.
  while (first < last) {
    if (depth_left-- <= 0) {
      // The sorted range is the same whichever sort finishes it: the callers
      // sort distinct values, whose ascending order is unique.
      HeapSortRange(a, first, last, less);
      return;
    }
    if (last - first == 1 && less(a[last], a[first])) std::swap(a[first], a[last]);
    const std::int64_t m = first + (last - first) / 2;
    // The pivot is parked at the start of the range, where it also stops the
    // downward scan.
    T pivot = a[m];
    a[m] = std::move(a[first]);
    a[first] = pivot;
    std::int64_t lo = first + 1, hi = last;
    do {
      while (lo < hi && !less(pivot, a[lo])) ++lo;  // a[lo] <= pivot
      while (less(pivot, a[hi])) --hi;               // a[hi] > pivot
      if (lo < hi) std::swap(a[lo], a[hi]);
    } while (lo < hi);
    a[first] = std::move(a[hi]);
    a[hi] = std::move(pivot);
    const std::int64_t left_len = hi - first, right_len = last - hi;
    if (left_len < right_len) {
      if (first < hi - 1) QuickSortRange(a, first, hi - 1, less, depth_left);
      first = hi + 1;
    } else {
      if (hi + 1 < last) QuickSortRange(a, hi + 1, last, less, depth_left);
      last = hi - 1;
    }
  }
}

template <typename T, typename Less>
void QuickSortRange(std::span<T> a, std::int64_t first, std::int64_t last, Less less) {
  QuickSortRange(a, first, last, less, PartitionDepthLimit(last - first + 1));
}

}  // namespace detail

// Sorts a[first..last] (inclusive, 0-based) ascending in place; elements
// outside the range are not touched; fewer than two elements: nothing is read.
void QuickSort(std::vector<double>& a, std::int64_t first, std::int64_t last);
void QuickSort(std::vector<std::string>& a, std::int64_t first, std::int64_t last);

}  // namespace qel
