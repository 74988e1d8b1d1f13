// QelStatFctn: the library's stateless scalar functions (reciprocal, inverse and
// hyperbolic trigonometry, a logarithm to any base, degrees to radians and a
// great-circle distance in statute miles).
//
// Every function evaluates its defining formula step by step, in double
// precision and in the written order, and never lets a failure escape: a zero
// denominator, an invalid operation, an overflow of the double range, the
// square root of a negative number, the logarithm of zero or of a negative
// number, or an exponential that overflows makes the result kFailure
// (-9999999). An underflow is no failure (Exp of a large negative argument is
// 0). An argument that is not a finite double (an infinity or a NaN) is an
// invalid operand and also yields kFailure.
//
// Angles are in radians except for DTOR and Dist_Fctn, which take degrees.
// Arguments are read and never written. Objects keep no state; any number of
// threads may call them at once.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace qel {

class QelStatFctn;

// One function of the class as hosts call it by name: the component
// interface's methods in their slot order, and the command line's `fn`. All
// take doubles and return a double.
struct StatFctnMember {
  std::string_view name;      // exactly as published (note HArcsin beside HArcCoSec)
  std::int32_t dispatch_id;   // 0x60030000 for the first, one more for each next
  int argument_count;         // 1, 2 (LogN) or 4 (Dist_Fctn)
  std::array<std::string_view, 4> argument_names;  // the first argument_count are used
  std::string_view help_text;
  // Calls the member on `object` with arguments.size() == argument_count.
  double (*invoke)(const QelStatFctn& object, std::span<const double> arguments);

  std::span<const std::string_view> Arguments() const {
    return std::span<const std::string_view>(argument_names.data(), static_cast<std::size_t>(argument_count));
  }
};

class QelStatFctn {
 public:
  // The result of every failed call.
  static constexpr double kFailure = -9999999.0;
  // The value the functions use for pi: the ten-decimal literal, not the
  // double nearest to pi, so that results agree with the published ones.
  static constexpr double kPi = 3.141592654;

  // Atn(x / Sqr(-x*x + 1)). Fails for |x| >= 1 (also at +-1, where the
  // denominator is a zero square root).
  double ArcSin(const double& x) const;
  // 1 / Cos(x). Cos of a double is never exactly zero, so near pi/2 the
  // result is large and finite.
  double Secant(const double& x) const;
  // 1 / Sin(x). Fails at 0.
  double CoSec(const double& x) const;
  // 1 / Tan(x). Fails at 0.
  double CoTan(const double& x) const;
  // Atn(-x / Sqr(-x*x + 1)) + 2*Atn(1). Fails for |x| >= 1.
  double ArcCos(const double& x) const;
  // Atn(x / Sqr(x*x - 1)) + (Sgn(x) - 1)*(2*Atn(1)). Fails for |x| <= 1.
  double ArcCosSec(const double& x) const;
  // Atn(x) + 2*Atn(1) (so ArcCoTan(0) is pi/2 and ArcCoTan(1) is 3*pi/4).
  double ArcCoTan(const double& x) const;

  // The hyperbolic functions are built from Exp(x) and Exp(-x), so they all
  // fail once either exponential overflows (|x| above about 709.78), even
  // where the function itself is finite (HTan(800), HSec(800)).
  double HSin(const double& x) const;    // (Exp(x) - Exp(-x)) / 2
  double HCos(const double& x) const;    // (Exp(x) + Exp(-x)) / 2
  double HTan(const double& x) const;    // (Exp(x) - Exp(-x)) / (Exp(x) + Exp(-x))
  double HSec(const double& x) const;    // 2 / (Exp(x) + Exp(-x))
  double HCoSec(const double& x) const;  // 2 / (Exp(x) - Exp(-x)); fails at 0
  double HCoTan(const double& x) const;  // (Exp(x) + Exp(-x)) / (Exp(x) - Exp(-x)); fails at 0

  double HArcsin(const double& x) const;    // Log(Sqr(x*x + 1) + x)
  double HArccos(const double& x) const;    // Log(Sqr(x*x - 1) + x); fails for x < 1
  double HArctan(const double& x) const;    // Log((x + 1) / (1 - x)) / 2; fails for |x| >= 1
  double HArcsec(const double& x) const;    // Log((Sqr(-x*x + 1) + 1) / x); fails outside (0, 1]
  double HArcCoSec(const double& x) const;  // Log((Sgn(x)*Sqr(x*x + 1) + 1) / x); fails at 0
  double HArcCoTan(const double& x) const;  // Log((x + 1) / (x - 1)) / 2; fails for |x| <= 1

  // Log(x) / Log(N), the base-N logarithm of x. Fails for x <= 0, N <= 0 and N == 1.
  double LogN(const double& x, const double& N) const;
  // x * (kPi / 180): degrees to radians. DTOR(180) is exactly kPi.
  double DTOR(const double& x) const;
  // Great-circle (haversine) distance in statute miles between two points
  // given as latitude and longitude in degrees. It converts through DTOR and
  // takes the arcsine through ArcSin as ordinary calls, so a failed ArcSin
  // enters the distance as the value kFailure: two points at opposite ends of
  // a diameter give 2*kFailure*(10800/kPi)*1.15077945, a large negative number.
  double Dist_Fctn(const double& lat1, const double& long1, const double& lat2, const double& long2) const;

  // The functions in the interface's slot order, with their help texts.
  static std::span<const StatFctnMember> Members();
  // The member called `name` (ASCII case ignored, as dispatch by name does),
  // or nullptr.
  static const StatFctnMember* FindMember(std::string_view name);
};

}  // namespace qel
