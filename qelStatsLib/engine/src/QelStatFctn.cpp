#include "qelStatsLib/QelStatFctn.h"

#include <algorithm>
#include <cmath>
#include "text.h"

// This unit is compiled with -ffp-contract=off (see CMakeLists.txt): a fused
// multiply-add in -x*x + 1 or x*x - 1 would round differently from the two
// steps the formulas define, and move the points where they fail.

namespace qel {

namespace {

// The steps of one formula, each checked as the platform's floating-point
// unit would check it. The first failing step marks the whole computation as
// failed; every later step is skipped (it returns 0 without computing), so no
// operation is ever carried out on an operand that has already failed.
//
// Failures are detected by testing the operands and the result of each step,
// not by reading the floating-point status flags: the tests do not depend on
// how the compiler schedules or folds the arithmetic, and an underflow (a
// tiny or zero result) is, as it should be, no failure.
class Steps {
 public:
  // Every argument has to be a finite double; an infinity or a NaN cannot
  // take part in the formulas' arithmetic.
  template <typename... Args>
  explicit Steps(const Args&... arguments) {
    failed_ = !(std::isfinite(arguments) && ...);
  }

  bool failed() const { return failed_; }
  // The formula's value, or the failure value.
  double Result(double value) const { return failed_ ? QelStatFctn::kFailure : value; }

  double Add(double a, double b) { return failed_ ? 0.0 : Finite(a + b); }
  double Sub(double a, double b) { return failed_ ? 0.0 : Finite(a - b); }
  double Mul(double a, double b) { return failed_ ? 0.0 : Finite(a * b); }
  // A zero denominator fails whatever the numerator (x/0 and 0/0 alike).
  double Div(double a, double b) {
    if (failed_) return 0.0;
    if (b == 0.0) return Fail();
    return Finite(a / b);
  }
  double Sqr(double a) {
    if (failed_) return 0.0;
    if (a < 0.0) return Fail();
    return std::sqrt(a);  // Sqr(-0) is -0, as in IEEE arithmetic: no failure
  }
  // The natural logarithm; zero (either sign) and negative numbers fail.
  double Log(double a) {
    if (failed_) return 0.0;
    if (!(a > 0.0)) return Fail();
    return std::log(a);
  }
  // Overflows above about 709.78; underflows quietly to 0 below about -745.
  double Exp(double a) { return failed_ ? 0.0 : Finite(std::exp(a)); }
  double Atn(double a) { return failed_ ? 0.0 : std::atan(a); }
  double Sin(double a) { return failed_ ? 0.0 : std::sin(a); }
  double Cos(double a) { return failed_ ? 0.0 : std::cos(a); }
  double Tan(double a) { return failed_ ? 0.0 : Finite(std::tan(a)); }

 private:
  double Fail() {
    failed_ = true;
    return 0.0;
  }
  double Finite(double r) { return std::isfinite(r) ? r : Fail(); }

  bool failed_ = false;
};

// A hyperbolic function of x: `combine` makes it from e^x and e^-x, each
// computed once (an overflow of either fails the function).
template <typename Combine>
double FromExponentials(double x, Combine combine) {
  Steps f(x);
  const double up = f.Exp(x);
  const double down = f.Exp(-x);
  return f.Result(combine(f, up, down));
}

// The sign of x as a small integer: -1, 0 or 1.
int Sgn(double x) { return x > 0.0 ? 1 : (x < 0.0 ? -1 : 0); }

constexpr std::string_view kRadiansHelp = "Input Degrees in Radians to obtain value";

template <double (QelStatFctn::*F)(const double&) const>
double Invoke1(const QelStatFctn& o, std::span<const double> a) {
  return (o.*F)(a[0]);
}
double InvokeLogN(const QelStatFctn& o, std::span<const double> a) { return o.LogN(a[0], a[1]); }
double InvokeDist(const QelStatFctn& o, std::span<const double> a) { return o.Dist_Fctn(a[0], a[1], a[2], a[3]); }

constexpr std::int32_t kFirstDispatchId = 0x60030000;

#define QEL_UNARY(index, name) \
  StatFctnMember { #name, kFirstDispatchId + (index), 1, {"x"}, kRadiansHelp, &Invoke1<&QelStatFctn::name> }

constexpr std::array<StatFctnMember, 22> kMembers = {{
    QEL_UNARY(0, ArcSin),
    QEL_UNARY(1, Secant),
    QEL_UNARY(2, CoSec),
    QEL_UNARY(3, CoTan),
    QEL_UNARY(4, ArcCos),
    QEL_UNARY(5, ArcCosSec),
    QEL_UNARY(6, ArcCoTan),
    QEL_UNARY(7, HSin),
    QEL_UNARY(8, HCos),
    QEL_UNARY(9, HTan),
    QEL_UNARY(10, HSec),
    QEL_UNARY(11, HCoSec),
    QEL_UNARY(12, HCoTan),
    QEL_UNARY(13, HArcsin),
    QEL_UNARY(14, HArccos),
    QEL_UNARY(15, HArctan),
    QEL_UNARY(16, HArcsec),
    QEL_UNARY(17, HArcCoSec),
    QEL_UNARY(18, HArcCoTan),
    StatFctnMember{"LogN", kFirstDispatchId + 19, 2, {"x", "N"}, "Base N log of X", &InvokeLogN},
    StatFctnMember{"DTOR", kFirstDispatchId + 20, 1, {"x"},
                   "Returns a value in Radians for the input degree value.  This is necessary for the calculation "
                   "of certain other variable values.",
                   &Invoke1<&QelStatFctn::DTOR>},
    StatFctnMember{"Dist_Fctn", kFirstDispatchId + 21, 4, {"lat1", "long1", "lat2", "long2"},
                   "Returns statute miles from an input pair of Latitude and Longitude degree points. Internal "
                   "functions convert the degrees to radians for calculations. No prior conversion is needed.",
                   &InvokeDist},
}};

#undef QEL_UNARY

}  // namespace

// ---- Inverse and reciprocal circular functions ----

double QelStatFctn::ArcSin(const double& x) const {
  Steps f(x);
  const double root = f.Sqr(f.Add(f.Mul(-x, x), 1.0));
  return f.Result(f.Atn(f.Div(x, root)));
}

double QelStatFctn::Secant(const double& x) const {
  Steps f(x);
  return f.Result(f.Div(1.0, f.Cos(x)));
}

double QelStatFctn::CoSec(const double& x) const {
  Steps f(x);
  return f.Result(f.Div(1.0, f.Sin(x)));
}

double QelStatFctn::CoTan(const double& x) const {
  Steps f(x);
  return f.Result(f.Div(1.0, f.Tan(x)));
}

// The square root comes first, then Atn(1), then the quotient and its
// arctangent; the sum is formed last.
double QelStatFctn::ArcCos(const double& x) const {
  Steps f(x);
  const double root = f.Sqr(f.Add(f.Mul(-x, x), 1.0));
  const double atn1 = f.Atn(1.0);
  const double angle = f.Atn(f.Div(-x, root));
  return f.Result(f.Add(angle, f.Mul(2.0, atn1)));
}

// Same order as ArcCos. Sgn(x) - 1 is a small integer (-2, -1 or 0) that
// shifts negative arguments down by pi; it becomes a double only in the product.
double QelStatFctn::ArcCosSec(const double& x) const {
  Steps f(x);
  const double root = f.Sqr(f.Sub(f.Mul(x, x), 1.0));
  const double atn1 = f.Atn(1.0);
  const double angle = f.Atn(f.Div(x, root));
  const int shift = Sgn(x) - 1;
  return f.Result(f.Add(angle, f.Mul(static_cast<double>(shift), f.Mul(2.0, atn1))));
}

// Atn(x) + pi/2: the published definition, which differs from the textbook
// pi/2 - Atn(x) for every x other than 0.
double QelStatFctn::ArcCoTan(const double& x) const {
  Steps f(x);
  const double angle = f.Atn(x);
  return f.Result(f.Add(angle, f.Mul(2.0, f.Atn(1.0))));
}

// ---- Hyperbolic functions ----

double QelStatFctn::HSin(const double& x) const {
  return FromExponentials(x, [](Steps& f, double up, double down) { return f.Div(f.Sub(up, down), 2.0); });
}

double QelStatFctn::HCos(const double& x) const {
  return FromExponentials(x, [](Steps& f, double up, double down) { return f.Div(f.Add(up, down), 2.0); });
}

double QelStatFctn::HTan(const double& x) const {
  return FromExponentials(x, [](Steps& f, double up, double down) {
    const double numerator = f.Sub(up, down);
    return f.Div(numerator, f.Add(up, down));
  });
}

double QelStatFctn::HSec(const double& x) const {
  return FromExponentials(x, [](Steps& f, double up, double down) { return f.Div(2.0, f.Add(up, down)); });
}

double QelStatFctn::HCoSec(const double& x) const {
  return FromExponentials(x, [](Steps& f, double up, double down) { return f.Div(2.0, f.Sub(up, down)); });
}

double QelStatFctn::HCoTan(const double& x) const {
  return FromExponentials(x, [](Steps& f, double up, double down) {
    const double numerator = f.Add(up, down);
    return f.Div(numerator, f.Sub(up, down));
  });
}

// ---- Inverse hyperbolic functions ----

double QelStatFctn::HArcsin(const double& x) const {
  Steps f(x);
  return f.Result(f.Log(f.Add(f.Sqr(f.Add(f.Mul(x, x), 1.0)), x)));
}

double QelStatFctn::HArccos(const double& x) const {
  Steps f(x);
  return f.Result(f.Log(f.Add(f.Sqr(f.Sub(f.Mul(x, x), 1.0)), x)));
}

double QelStatFctn::HArctan(const double& x) const {
  Steps f(x);
  const double numerator = f.Add(x, 1.0);
  const double ratio = f.Div(numerator, f.Sub(1.0, x));
  return f.Result(f.Div(f.Log(ratio), 2.0));
}

double QelStatFctn::HArcsec(const double& x) const {
  Steps f(x);
  const double numerator = f.Add(f.Sqr(f.Add(f.Mul(-x, x), 1.0)), 1.0);
  return f.Result(f.Log(f.Div(numerator, x)));
}

double QelStatFctn::HArcCoSec(const double& x) const {
  Steps f(x);
  const double root = f.Sqr(f.Add(f.Mul(x, x), 1.0));
  const double numerator = f.Add(f.Mul(static_cast<double>(Sgn(x)), root), 1.0);
  return f.Result(f.Log(f.Div(numerator, x)));
}

double QelStatFctn::HArcCoTan(const double& x) const {
  Steps f(x);
  const double numerator = f.Add(x, 1.0);
  const double ratio = f.Div(numerator, f.Sub(x, 1.0));
  return f.Result(f.Div(f.Log(ratio), 2.0));
}

// ---- Logarithm, degrees, distance ----

// The logarithm of the base is taken first.
double QelStatFctn::LogN(const double& x, const double& N) const {
  Steps f(x, N);
  const double log_base = f.Log(N);
  const double log_x = f.Log(x);
  return f.Result(f.Div(log_x, log_base));
}

// The factor pi/180 is formed first, so DTOR(180) gives back kPi exactly.
double QelStatFctn::DTOR(const double& x) const {
  Steps f(x);
  const double radians_per_degree = f.Div(kPi, 180.0);
  return f.Result(f.Mul(x, radians_per_degree));
}

// The haversine formula. The conversions and the arcsine are ordinary calls of
// this object: what they return, their failure value included, is used as a
// number, and only this function's own steps can make it fail.
double QelStatFctn::Dist_Fctn(const double& lat1, const double& long1, const double& lat2,
                              const double& long2) const {
  Steps f(lat1, long1, lat2, long2);
  if (f.failed()) return kFailure;
  const double phi1 = DTOR(lat1);
  const double phi2 = DTOR(lat2);
  const double lambda1 = DTOR(long1);
  const double lambda2 = DTOR(long2);
  const double c1 = f.Cos(phi1);
  const double c2 = f.Cos(phi2);
  const double s = f.Sin(f.Div(f.Sub(lambda1, lambda2), 2.0));
  const double half_dlat = f.Sin(f.Div(f.Sub(phi1, phi2), 2.0));
  const double t = f.Mul(half_dlat, half_dlat);
  const double a = f.Sqr(f.Add(f.Mul(f.Mul(s, s), f.Mul(c2, c1)), t));
  if (f.failed()) return kFailure;
  const double d = f.Mul(2.0, ArcSin(a));
  // 10800 minutes of arc in 180 degrees: d radians are n nautical miles.
  const double n = f.Mul(f.Div(10800.0, kPi), d);
  return f.Result(f.Mul(n, 1.15077945));  // statute miles per nautical mile
}

// ---- Interface table ----

std::span<const StatFctnMember> QelStatFctn::Members() { return kMembers; }

const StatFctnMember* QelStatFctn::FindMember(std::string_view name) {
  for (const auto& m : kMembers) {
    if (text::EqualsNoCase(m.name, name)) return &m;
  }
  return nullptr;
}

}  // namespace qel
