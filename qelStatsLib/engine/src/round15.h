// Rounding a double to its 15-significant-digit text form without writing
// the text. Internal to the engine.
#pragma once

#include <cmath>

#include "qeldata/value.h"

namespace qel::detail {

// The exact product a * b as p + err (Dekker's TwoProduct with Veltkamp's
// split; no fused multiply-add needed). Requires |a|, |b| and |a * b| well
// inside the normal range.
inline void TwoProduct(double a, double b, double* p, double* err) {
  constexpr double kSplitter = 134217729.0;  // 2^27 + 1
  const double ca = kSplitter * a, cb = kSplitter * b;
  const double a_hi = ca - (ca - a), a_lo = a - a_hi;
  const double b_hi = cb - (cb - b), b_lo = b - b_hi;
  *p = a * b;
  *err = ((a_hi * b_hi - *p) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo;
}

// The same double as qeldata::Canonical15(x): x rounded to 15 significant
// decimal digits (exact ties to even, as the text form rounds), read back.
//
// For 1e-8 <= |x| < 1e15 it scales x by an exact power of ten 10^k so that
// the exact product P lies in [1e14, 1e15), rounds P to the nearest whole n
// using the product's exact rounding error, and returns n / 10^k: both are
// exact doubles, so the quotient is the correctly rounded value of the
// decimal n * 10^-k, which is what reading the text back gives. Other
// magnitudes take the text route.
inline double Round15(double x) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const double a = std::fabs(x);
  if (!(a >= 1e-8 && a < 1e15)) return qeldata::Canonical15(x);
  if (a == std::trunc(a)) return x;  // whole numbers below 1e15 have at most 15 digits
  // A first guess of the decimal exponent; corrected below on the exact product.
  int k = 14 - static_cast<int>(std::floor(std::log10(a)));
  double p = 0, err = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (k < 0 || k > 22) return qeldata::Canonical15(x);
    TwoProduct(a, kPow10[k], &p, &err);
    if (p < 1e14 || (p == 1e14 && err < 0)) {
      ++k;
    } else if (p > 1e15 || (p == 1e15 && err >= 0)) {
      --k;
    } else {
      break;
    }
  }
  if (p < 1e14 || p > 1e15) return qeldata::Canonical15(x);
  // p is at least 1e14, so its spacing is at least 2^-6 and p - floor(p) is
  // exact; |err| is at most half that spacing, so the sign of d - 0.5 + err
  // is the sign of d - 0.5 unless that is 0.
  double n = std::floor(p);
  const double half_gap = (p - n) - 0.5;
  if (half_gap > 0 || (half_gap == 0 && err > 0) ||
      (half_gap == 0 && err == 0 && std::fmod(n, 2.0) != 0))
    n += 1;
  const double r = n / kPow10[k];
  return x < 0 ? -r : r;
}

}  // namespace qel::detail
