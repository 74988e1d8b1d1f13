// The 22 scalar functions of the QelStatFctn class, as free functions. Each
// evaluates its formula left to right in double precision and never throws:
// every failure of its own computation (a zero denominator, 0/0, an overflow,
// the square root or logarithm of a negative number, the logarithm of zero,
// an exponential beyond the double range) returns kFunctionFailure instead.
// An underflow is no failure (HSin(-800) is a huge negative, exp(-800) is 0).
// Angles are in radians, except for DTOR and Dist_Fctn, which take degrees.
// Pi is the ten-decimal 3.141592654, as the published results use it.
//
//   double r = qel::ArcSin(0.5);                          // 0.5235987755982989
//   if (qel::ArcSin(2) == qel::kFunctionFailure) ...;     // |x| >= 1 fails
#pragma once

#include "qel/base.h"

namespace qel {

// The result of every failed call: minus nine million nine hundred
// ninety-nine thousand nine hundred ninety-nine.
inline constexpr double kFunctionFailure = -9999999.0;

// Atn(x / Sqr(-x*x + 1)). Fails for |x| >= 1 (at +-1 the square root is 0).
QEL_API double ArcSin(double x) noexcept;
// 1 / Cos(x). Large but finite near pi/2 (the cosine of a double is never 0).
QEL_API double Secant(double x) noexcept;
// 1 / Sin(x). Fails at 0.
QEL_API double CoSec(double x) noexcept;
// 1 / Tan(x). Fails at 0.
QEL_API double CoTan(double x) noexcept;
// Atn(-x / Sqr(-x*x + 1)) + 2*Atn(1). Fails for |x| >= 1.
QEL_API double ArcCos(double x) noexcept;
// Atn(x / Sqr(x*x - 1)) + (Sgn(x) - 1) * (2*Atn(1)). Fails for |x| <= 1.
QEL_API double ArcCosSec(double x) noexcept;
// Atn(x) + 2*Atn(1) (so ArcCoTan(1) is 3*Atn(1)). Never fails for finite x.
QEL_API double ArcCoTan(double x) noexcept;
// (Exp(x) - Exp(-x)) / 2. Fails when Exp(x) or Exp(-x) overflows (|x| > ~709.78).
QEL_API double HSin(double x) noexcept;
// (Exp(x) + Exp(-x)) / 2. Fails as HSin.
QEL_API double HCos(double x) noexcept;
// (Exp(x) - Exp(-x)) / (Exp(x) + Exp(-x)). Fails as HSin, even where the value is finite.
QEL_API double HTan(double x) noexcept;
// 2 / (Exp(x) + Exp(-x)). Fails as HSin.
QEL_API double HSec(double x) noexcept;
// 2 / (Exp(x) - Exp(-x)). Fails at 0 and as HSin.
QEL_API double HCoSec(double x) noexcept;
// (Exp(x) + Exp(-x)) / (Exp(x) - Exp(-x)). Fails at 0 and as HSin.
QEL_API double HCoTan(double x) noexcept;
// Log(Sqr(x*x + 1) + x). Fails when x*x overflows or the logarithm's argument is 0.
QEL_API double HArcsin(double x) noexcept;
// Log(Sqr(x*x - 1) + x). Fails for |x| < 1 and for x <= -1.
QEL_API double HArccos(double x) noexcept;
// Log((x + 1) / (1 - x)) / 2. Fails for |x| >= 1.
QEL_API double HArctan(double x) noexcept;
// Log((Sqr(-x*x + 1) + 1) / x). Fails for x <= 0 and |x| > 1.
QEL_API double HArcsec(double x) noexcept;
// Log((Sgn(x) * Sqr(x*x + 1) + 1) / x). Fails at 0.
QEL_API double HArcCoSec(double x) noexcept;
// Log((x + 1) / (x - 1)) / 2. Fails for |x| <= 1.
QEL_API double HArcCoTan(double x) noexcept;
// Log(x) / Log(N), the base-N logarithm of x. Fails for x <= 0, N <= 0 and N = 1.
QEL_API double LogN(double x, double N) noexcept;
// x * (3.141592654 / 180): degrees to radians. Fails only on overflow.
QEL_API double DTOR(double x) noexcept;
// The great-circle distance in statute miles between two points given in
// degrees (haversine). Points at opposite ends of a diameter make its ArcSin
// fail, and that failure value takes part in the result like any other
// value: the result is then a large negative number, not kFunctionFailure.
QEL_API double Dist_Fctn(double lat1, double long1, double lat2, double long2) noexcept;

}  // namespace qel
