// The number rules of the bivariate result table. Internal to the engine;
// exposed to the engine's own tests.
#pragma once

#include <cstdint>
#include <span>

namespace qel {

namespace detail {

// x rounded to 5 decimal places from the exact binary value it holds, halves to
// even: 0.015625 (1/64, a true tie) gives 0.01562, while 0.123455, held just
// below that decimal, gives 0.12345.
double RoundTo5Decimals(double x);
// x rounded to a whole number, halves to even.
double RoundHalfEven(double x);
// Number of pairs i < j with means[j] < means[i] (strictly), in O(n log n).
std::int64_t CountFallingPairs(std::span<const double> means);
// The same, sorting `means` in place (a table of millions of rows need not
// hold a copy of them beside the merge's scratch).
std::int64_t CountFallingPairs(std::vector<double>&& means);

}  // namespace detail

}  // namespace qel
