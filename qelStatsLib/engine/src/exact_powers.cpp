#include "exact_powers.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

// Why the shortcut gives pow's own bits. The library's pow returns a double
// within 0.54 units in the last place (ulp) of the exact power; no double but
// the nearest one lies within 0.46 ulp of it. So where the exact power is
// known to lie within 0.4 ulp of a double c, c is the nearest double, and it
// is also the only double within 0.6 ulp: pow returns c, for this pow and for
// any pow that errs by less than 0.6 ulp (a correctly rounded one included).
// Elsewhere (about one value in five, and every value too large or too small
// for the exact products below) the power is pow's, called. The margin is
// wide: of 100 million cubes and fourth powers, the 0.08% for which pow
// returned the other neighbour of the exact power all lay 0.49 ulp or more
// from the nearest double, and the tests compare with pow on millions more.
//
// The exact power. With a fused multiply-add, z * z is z2 + e2 exactly (z2
// rounded, e2 the exact error), and z2 * z is p + f exactly. So
//   z^3 = p + f + e2 * z   and   z^4 = z2 * z2 + 2 * z2 * e2 + e2 * e2,
// where the terms after the first are a few ulp of p at most. They are added
// in one rounding each, whose error is some 2^-53 ulp, and e2 * e2 (2^-54 ulp
// at most) is left out: the distance of the exact power from the candidate c
// is known to far better than the 0.06 ulp of the margin.
//
// Without a fused multiply-add in the processor every power is pow's.

namespace qel::detail {

namespace {

constexpr double kMargin = 0.4;  // in ulp of the candidate

// Whether `c`, with the exact power at c + r, is pow's result. A power of two
// is left to pow: the doubles below it are twice as close together.
inline bool Settled(double c, double r) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(c) & 0x7FFFFFFFFFFFFFFFULL;
  constexpr std::uint64_t kFraction = (std::uint64_t{1} << 52) - 1;
  if ((bits & kFraction) == 0) return false;
  const double ulp = std::bit_cast<double>(bits & ~kFraction) * 0x1p-52;
  return std::fabs(r) < kMargin * ulp;
}

[[gnu::target("fma")]] std::size_t WithFma(std::span<const double> z, double* cubes, double* fourths) {
  // The powers left to pow, as 2 * i for a cube and 2 * i + 1 for a fourth:
  // noted without a branch, since which they are is a toss-up, and called
  // after the loop.
  // Kept from call to call: a shape pass asks for one chunk after another.
  thread_local std::vector<std::size_t> left;
  left.resize(2 * z.size());
  std::size_t n = 0;
  for (std::size_t i = 0; i < z.size(); ++i) {
    const double x = z[i];
    const double a = std::fabs(x);
    // Between these bounds no product below overflows or loses bits to
    // underflow, and every power is a normal double.
    if (!(a > 0x1p-200 && a < 0x1p200)) [[unlikely]] {
      left[n++] = 2 * i;
      left[n++] = 2 * i + 1;
      continue;
    }
    const double x2 = x * x;
    const double e2 = __builtin_fma(x, x, -x2);
    const double p3 = x2 * x;
    const double t3 = __builtin_fma(e2, x, __builtin_fma(x2, x, -p3));
    const double c3 = p3 + t3;
    cubes[i] = c3;
    left[n] = 2 * i;
    n += !Settled(c3, (p3 - c3) + t3);
    const double p4 = x2 * x2;
    const double t4 = __builtin_fma(x2 + x2, e2, __builtin_fma(x2, x2, -p4));
    const double c4 = p4 + t4;
    fourths[i] = c4;
    left[n] = 2 * i + 1;
    n += !Settled(c4, (p4 - c4) + t4);
  }
  for (std::size_t j = 0; j < n; ++j) {
    const std::size_t i = left[j] / 2;
    if (left[j] % 2 == 0) cubes[i] = std::pow(z[i], 3);
    else fourths[i] = std::pow(z[i], 4);
  }
  return 2 * z.size() - n;
}

std::size_t WithPow(std::span<const double> z, double* cubes, double* fourths) {
  for (std::size_t i = 0; i < z.size(); ++i) {
    cubes[i] = std::pow(z[i], 3);
    fourths[i] = std::pow(z[i], 4);
  }
  return 0;
}

}  // namespace

std::size_t CubesAndFourths(std::span<const double> z, double* cubes, double* fourths) {
  static const bool fma = __builtin_cpu_supports("fma");
  return fma ? WithFma(z, cubes, fourths) : WithPow(z, cubes, fourths);
}

}  // namespace qel::detail
