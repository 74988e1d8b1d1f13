// The third and fourth powers of many numbers, each exactly the double that
// std::pow(z, 3) and std::pow(z, 4) return, for the shape pass over millions
// of distinct values, where the library's pow is most of the work.
#pragma once

#include <cstddef>
#include <span>

namespace qel::detail {

// cubes[i] = std::pow(z[i], 3) and fourths[i] = std::pow(z[i], 4), bit for
// bit, for every i. REQUIRES: cubes and fourths hold z.size() doubles.
// Returns how many of the 2 * z.size() powers were settled without pow.
std::size_t CubesAndFourths(std::span<const double> z, double* cubes, double* fourths);

}  // namespace qel::detail
