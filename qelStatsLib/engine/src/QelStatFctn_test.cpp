#include "qelStatsLib/QelStatFctn.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace qel {
namespace {

constexpr double kFail = QelStatFctn::kFailure;
constexpr double kPi = 3.141592654;
// Atn(1) as the functions form it: pi/4 to full precision.
const double kAtn1 = std::atan(1.0);

class StatFctnTest : public ::testing::Test {
 protected:
  QelStatFctn f_;
};

TEST_F(StatFctnTest, InverseCircularFailWhereTheSquareRootIsZeroOrNegative) {
  // At +-1 the quotient has a zero square root as denominator: the textbook
  // +-pi/2 is not returned.
  for (double x : {1.0, -1.0, 1.0000001, -2.0, 1e200}) {
    EXPECT_EQ(f_.ArcSin(x), kFail) << x;
    EXPECT_EQ(f_.ArcCos(x), kFail) << x;
  }
  EXPECT_DOUBLE_EQ(f_.ArcSin(0.5), std::asin(0.5));
  EXPECT_DOUBLE_EQ(f_.ArcSin(-0.5), -std::asin(0.5));
  EXPECT_EQ(f_.ArcSin(0.0), 0.0);
  EXPECT_DOUBLE_EQ(f_.ArcCos(0.5), std::acos(0.5));
  EXPECT_DOUBLE_EQ(f_.ArcCos(0.0), 2 * kAtn1);
  // Just inside the domain the functions still answer.
  EXPECT_NEAR(f_.ArcSin(std::nextafter(1.0, 0.0)), 2 * kAtn1, 1e-7);
}

TEST_F(StatFctnTest, ArcCosSecKeepsItsOwnFormula) {
  for (double x : {1.0, -1.0, 0.5, 0.0, -0.25}) EXPECT_EQ(f_.ArcCosSec(x), kFail) << x;
  EXPECT_DOUBLE_EQ(f_.ArcCosSec(2.0), std::atan(2.0 / std::sqrt(3.0)));
  EXPECT_NEAR(f_.ArcCosSec(2.0), 0.857, 1e-3);
  // Negative arguments are shifted by (Sgn(x) - 1) * (2 * Atn(1)) = -pi.
  EXPECT_DOUBLE_EQ(f_.ArcCosSec(-2.0), std::atan(-2.0 / std::sqrt(3.0)) - 4 * kAtn1);
}

TEST_F(StatFctnTest, ArcCoTanIsAtnPlusHalfPi) {
  EXPECT_DOUBLE_EQ(f_.ArcCoTan(0.0), 2 * kAtn1);
  EXPECT_NEAR(f_.ArcCoTan(0.0), 1.5708, 1e-4);
  EXPECT_DOUBLE_EQ(f_.ArcCoTan(1.0), 3 * kAtn1);
  EXPECT_NEAR(f_.ArcCoTan(1.0), 2.3562, 1e-4);
  // Not pi/2 - Atn(x).
  EXPECT_DOUBLE_EQ(f_.ArcCoTan(-1.0), kAtn1);
  EXPECT_DOUBLE_EQ(f_.ArcCoTan(1e300), 4 * kAtn1);
}

TEST_F(StatFctnTest, ReciprocalCircularFailOnlyOnAZeroDenominator) {
  EXPECT_EQ(f_.CoSec(0.0), kFail);
  EXPECT_EQ(f_.CoSec(-0.0), kFail);
  EXPECT_EQ(f_.CoTan(0.0), kFail);
  EXPECT_EQ(f_.CoTan(-0.0), kFail);
  EXPECT_EQ(f_.Secant(0.0), 1.0);
  // The cosine of a double is never exactly zero: near pi/2 the secant is
  // large and finite.
  for (double x : {std::acos(0.0), kPi / 2, -std::acos(0.0)}) {
    const double s = f_.Secant(x);
    EXPECT_NE(s, kFail) << x;
    EXPECT_GT(std::fabs(s), 1e9) << x;
  }
  EXPECT_DOUBLE_EQ(f_.CoSec(0.5), 1 / std::sin(0.5));
  EXPECT_DOUBLE_EQ(f_.CoTan(0.5), 1 / std::tan(0.5));
}

TEST_F(StatFctnTest, HyperbolicFailWhenEitherExponentialOverflows) {
  for (double x : {710.0, -710.0, 800.0, -800.0}) {
    EXPECT_EQ(f_.HSin(x), kFail) << x;
    EXPECT_EQ(f_.HCos(x), kFail) << x;
    EXPECT_EQ(f_.HTan(x), kFail) << x;  // although tanh is finite there
    EXPECT_EQ(f_.HSec(x), kFail) << x;  // although sech is finite there
    EXPECT_EQ(f_.HCoSec(x), kFail) << x;
    EXPECT_EQ(f_.HCoTan(x), kFail) << x;
  }
  // Just below the limit Exp(-x) underflows into the subnormal range: that is
  // no failure.
  EXPECT_EQ(f_.HTan(709.0), 1.0);
  EXPECT_EQ(f_.HTan(-709.0), -1.0);
  EXPECT_GT(f_.HCos(709.7), 1e307);
  EXPECT_LT(f_.HSin(-709.7), -1e307);
}

TEST_F(StatFctnTest, HyperbolicReciprocalsFailAtZero) {
  EXPECT_EQ(f_.HCoSec(0.0), kFail);
  EXPECT_EQ(f_.HCoTan(0.0), kFail);
  EXPECT_EQ(f_.HSin(0.0), 0.0);
  EXPECT_EQ(f_.HCos(0.0), 1.0);
  EXPECT_EQ(f_.HTan(0.0), 0.0);
  EXPECT_EQ(f_.HSec(0.0), 1.0);
  const double x = 0.75;
  const double up = std::exp(x), down = std::exp(-x);
  EXPECT_DOUBLE_EQ(f_.HSin(x), (up - down) / 2);
  EXPECT_DOUBLE_EQ(f_.HCos(x), (up + down) / 2);
  EXPECT_DOUBLE_EQ(f_.HTan(x), std::tanh(x));
  EXPECT_DOUBLE_EQ(f_.HSec(x), 1 / std::cosh(x));
  EXPECT_DOUBLE_EQ(f_.HCoSec(x), 1 / std::sinh(x));
  EXPECT_DOUBLE_EQ(f_.HCoTan(x), 1 / std::tanh(x));
}

TEST_F(StatFctnTest, InverseHyperbolicFailurePoints) {
  EXPECT_EQ(f_.HArctan(1.0), kFail);     // division by zero
  EXPECT_EQ(f_.HArctan(-1.0), kFail);    // logarithm of zero
  EXPECT_EQ(f_.HArctan(1.5), kFail);     // logarithm of a negative number
  EXPECT_EQ(f_.HArctan(-3.0), kFail);
  EXPECT_EQ(f_.HArcCoTan(1.0), kFail);   // division by zero
  EXPECT_EQ(f_.HArcCoTan(-1.0), kFail);  // logarithm of (negative) zero
  EXPECT_EQ(f_.HArcCoTan(0.0), kFail);
  EXPECT_EQ(f_.HArcCoTan(0.5), kFail);
  for (double x : {0.0, 0.5, -0.5, -1.0, -2.0}) EXPECT_EQ(f_.HArccos(x), kFail) << x;
  for (double x : {0.0, 1.5, -0.5, -1.0}) EXPECT_EQ(f_.HArcsec(x), kFail) << x;
  EXPECT_EQ(f_.HArcCoSec(0.0), kFail);
  // x*x overflows before the square root can shrink it back.
  EXPECT_EQ(f_.HArcsin(1e200), kFail);

  EXPECT_DOUBLE_EQ(f_.HArcsin(0.5), std::asinh(0.5));
  EXPECT_DOUBLE_EQ(f_.HArcsin(-0.5), std::asinh(-0.5));
  EXPECT_EQ(f_.HArccos(1.0), 0.0);
  EXPECT_DOUBLE_EQ(f_.HArccos(2.0), std::acosh(2.0));
  EXPECT_DOUBLE_EQ(f_.HArctan(0.5), std::atanh(0.5));
  EXPECT_DOUBLE_EQ(f_.HArctan(-0.5), std::atanh(-0.5));
  EXPECT_EQ(f_.HArcsec(1.0), 0.0);
  EXPECT_DOUBLE_EQ(f_.HArcsec(0.5), std::acosh(2.0));
  EXPECT_DOUBLE_EQ(f_.HArcCoSec(2.0), std::asinh(0.5));
  EXPECT_DOUBLE_EQ(f_.HArcCoSec(-2.0), std::asinh(-0.5));
  EXPECT_DOUBLE_EQ(f_.HArcCoTan(2.0), std::atanh(0.5));
  EXPECT_DOUBLE_EQ(f_.HArcCoTan(-2.0), std::atanh(-0.5));
}

TEST_F(StatFctnTest, LogNFailsForNonPositiveArgumentsAndBaseOne) {
  EXPECT_DOUBLE_EQ(f_.LogN(8.0, 2.0), 3.0);
  EXPECT_DOUBLE_EQ(f_.LogN(0.001, 10.0), -3.0);
  EXPECT_EQ(f_.LogN(1.0, 10.0), 0.0);
  EXPECT_EQ(f_.LogN(5.0, 1.0), kFail);  // Log(1) = 0 as denominator
  EXPECT_EQ(f_.LogN(1.0, 1.0), kFail);  // 0/0
  for (double bad : {0.0, -0.0, -2.0}) {
    EXPECT_EQ(f_.LogN(bad, 2.0), kFail) << bad;
    EXPECT_EQ(f_.LogN(8.0, bad), kFail) << bad;
  }
}

TEST_F(StatFctnTest, DtorUsesTheTenDecimalPi) {
  EXPECT_EQ(f_.DTOR(180.0), 3.141592654);
  EXPECT_NE(f_.DTOR(180.0), std::acos(-1.0));
  EXPECT_EQ(f_.DTOR(0.0), 0.0);
  EXPECT_EQ(f_.DTOR(-90.0), -90.0 * (kPi / 180));
  // A subnormal result is an underflow, which is no failure.
  EXPECT_GT(f_.DTOR(1e-310), 0.0);
  EXPECT_EQ(f_.ArcSin(1e-310), 1e-310);
}

TEST_F(StatFctnTest, DistanceAlongAMeridianAndBetweenEqualPoints) {
  EXPECT_EQ(f_.Dist_Fctn(40.5, -74.25, 40.5, -74.25), 0.0);
  EXPECT_EQ(f_.Dist_Fctn(0, 0, 0, 0), 0.0);
  const double one_degree = (10800 / kPi) * (kPi / 180) * 1.15077945;
  EXPECT_NEAR(f_.Dist_Fctn(0, 10, 1, 10), one_degree, 1e-9);
  EXPECT_NEAR(f_.Dist_Fctn(45, -120, 44, -120), one_degree, 1e-9);
  EXPECT_NEAR(one_degree, 69.05, 0.01);
  // Symmetric in its two points, and one degree of longitude on the equator
  // is one degree of arc.
  EXPECT_DOUBLE_EQ(f_.Dist_Fctn(51.5, -0.12, 48.85, 2.35), f_.Dist_Fctn(48.85, 2.35, 51.5, -0.12));
  EXPECT_NEAR(f_.Dist_Fctn(0, 0, 0, 1), one_degree, 1e-9);
}

TEST_F(StatFctnTest, DistanceBetweenAntipodesCarriesTheArcSinFailure) {
  // The haversine value reaches exactly 1, ArcSin fails, and its failure value
  // enters the distance as a number.
  const double expected = ((10800 / kPi) * (2 * kFail)) * 1.15077945;
  EXPECT_EQ(f_.Dist_Fctn(0, 0, 0, 180), expected);
  EXPECT_EQ(f_.Dist_Fctn(90, 0, -90, 0), expected);
  EXPECT_LT(expected, -7.9e10);
}

TEST_F(StatFctnTest, NonFiniteArgumentsFail) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const auto& m : QelStatFctn::Members()) {
    for (double bad : {inf, -inf, nan}) {
      std::vector<double> args(static_cast<std::size_t>(m.argument_count), 0.5);
      args.back() = bad;
      EXPECT_EQ(m.invoke(f_, args), kFail) << m.name << " " << bad;
    }
  }
}

TEST_F(StatFctnTest, ArgumentsAreLeftUnchanged) {
  // Values that reach each function's ordinary and failing paths.
  for (const auto& m : QelStatFctn::Members()) {
    for (double v : {-1.0, 0.0, 0.5, 2.0, 180.0, 800.0}) {
      std::vector<double> args(static_cast<std::size_t>(m.argument_count));
      for (std::size_t i = 0; i < args.size(); ++i) args[i] = v + 90.0 * static_cast<double>(i);
      const std::vector<double> before = args;
      m.invoke(f_, args);
      EXPECT_EQ(args, before) << m.name;
    }
  }
  double lat1 = 0, long1 = 0, lat2 = 0, long2 = 180;
  f_.Dist_Fctn(lat1, long1, lat2, long2);
  EXPECT_EQ(long2, 180.0);
}

TEST(StatFctnMembers, OrderNamesArgumentsAndHelpTexts) {
  const auto members = QelStatFctn::Members();
  ASSERT_EQ(members.size(), 22u);
  const std::vector<std::string> names = {
      "ArcSin", "Secant", "CoSec",   "CoTan",   "ArcCos",  "ArcCosSec", "ArcCoTan",  "HSin",
      "HCos",   "HTan",   "HSec",    "HCoSec",  "HCoTan",  "HArcsin",   "HArccos",   "HArctan",
      "HArcsec", "HArcCoSec", "HArcCoTan", "LogN", "DTOR", "Dist_Fctn"};
  for (std::size_t i = 0; i < members.size(); ++i) {
    EXPECT_EQ(members[i].name, names[i]);
    EXPECT_EQ(members[i].dispatch_id, 0x60030000 + static_cast<int>(i));
    if (i < 19) {
      EXPECT_EQ(members[i].help_text, "Input Degrees in Radians to obtain value") << names[i];
      ASSERT_EQ(members[i].Arguments().size(), 1u);
      EXPECT_EQ(members[i].Arguments()[0], "x");
    }
  }
  EXPECT_EQ(members[19].help_text, "Base N log of X");
  EXPECT_EQ(std::vector<std::string_view>(members[19].Arguments().begin(), members[19].Arguments().end()),
            (std::vector<std::string_view>{"x", "N"}));
  EXPECT_NE(members[20].help_text.find("degree value.  This is necessary"), std::string_view::npos);
  EXPECT_EQ(std::vector<std::string_view>(members[21].Arguments().begin(), members[21].Arguments().end()),
            (std::vector<std::string_view>{"lat1", "long1", "lat2", "long2"}));
}

TEST(StatFctnMembers, LookupByNameIgnoresCaseAndDispatchesToTheMember) {
  const QelStatFctn f;
  const auto* m = QelStatFctn::FindMember("harccotan");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->name, "HArcCoTan");
  EXPECT_EQ(QelStatFctn::FindMember("ArcTan"), nullptr);
  EXPECT_EQ(QelStatFctn::FindMember(""), nullptr);
  const std::vector<double> args = {8.0, 2.0};
  EXPECT_EQ(QelStatFctn::FindMember("LogN")->invoke(f, args), f.LogN(8.0, 2.0));
  const std::vector<double> point = {0, 10, 1, 10};
  EXPECT_EQ(QelStatFctn::FindMember("Dist_Fctn")->invoke(f, point), f.Dist_Fctn(0, 10, 1, 10));
}

}  // namespace
}  // namespace qel
