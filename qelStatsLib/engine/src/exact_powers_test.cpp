#include "exact_powers.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace qel::detail {
namespace {

// Every power must carry pow's bits; returns how many were settled without it.
std::size_t ExpectPowBits(const std::vector<double>& z) {
  std::vector<double> cubes(z.size()), fourths(z.size());
  const std::size_t settled = CubesAndFourths(z, cubes.data(), fourths.data());
  for (std::size_t i = 0; i < z.size(); ++i) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(cubes[i]), std::bit_cast<std::uint64_t>(std::pow(z[i], 3)))
        << "z = " << std::hexfloat << z[i] << ": cube " << cubes[i];
    EXPECT_EQ(std::bit_cast<std::uint64_t>(fourths[i]), std::bit_cast<std::uint64_t>(std::pow(z[i], 4)))
        << "z = " << std::hexfloat << z[i] << ": fourth " << fourths[i];
    if (testing::Test::HasFailure()) break;  // one value is enough to show
  }
  return settled;
}

bool HasFma() { return __builtin_cpu_supports("fma"); }

TEST(CubesAndFourths, GivePowsBitsAtEveryMagnitude) {
  // Random significands from 2^-260 to 2^260, both signs: across the bounds
  // of the shortcut, and a fifth of them close enough to a rounding midpoint
  // that pow must decide.
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> exponent(-260, 260);
  std::vector<double> z(3'000'000);
  for (double& x : z) x = std::exp2(exponent(rng)) * (rng() & 1 ? 1 : -1);
  const std::size_t settled = ExpectPowBits(z);
  if (HasFma()) {
    // Most powers within the bounds need no pow (0.8 of them, by the margin).
    EXPECT_GT(settled, z.size());
  } else {
    EXPECT_EQ(settled, 0u);
  }
}

TEST(CubesAndFourths, GivePowsBitsForTheDistancesOfAShapePass) {
  // The standardised distances of a column of ids and of one of prices:
  // whole and half numbers over a standard deviation, many with exact powers.
  std::vector<double> z;
  const double mean = 500000.5, stdev = std::sqrt(2.0833333333e10);
  for (int k = 1; k <= 1'000'000; ++k) z.push_back((k - mean) / stdev);
  for (int cents = -100000; cents <= 100000; ++cents) z.push_back((cents / 100.0 - 3.5) / 2.75);
  for (int k = -2000; k <= 2000; ++k) z.push_back(k);  // exact cubes and fourths
  for (int k = -2000; k <= 2000; ++k) z.push_back(k + 0.5);
  ExpectPowBits(z);
}

TEST(CubesAndFourths, GivePowsBitsAtTheEdges) {
  std::vector<double> z;
  const double kMax = std::numeric_limits<double>::max(), kTiny = std::numeric_limits<double>::denorm_min();
  for (double edge : {0x1p-200, 0x1p200, 1.0, 0x1p-1022, 0x1p100, 1e-300, 1e100, 1e300, kMax, kTiny}) {
    for (double x : {edge, std::nextafter(edge, 0.0), std::nextafter(edge, kMax)}) {
      z.push_back(x);
      z.push_back(-x);
    }
  }
  z.push_back(0.0);
  z.push_back(-0.0);
  // Powers of two and their neighbours, where the spacing of doubles halves.
  for (int e = -199; e < 200; e += 7) {
    const double p = std::exp2(e);
    for (double x : {p, std::nextafter(p, 0.0), std::nextafter(p, kMax), std::cbrt(p), std::sqrt(std::sqrt(p))}) {
      z.push_back(x);
      z.push_back(-x);
    }
  }
  ExpectPowBits(z);
}

}  // namespace
}  // namespace qel::detail
