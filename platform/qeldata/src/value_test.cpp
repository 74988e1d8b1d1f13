// The text form of numbers.
#include "qeldata/value.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace qeldata {
namespace {

// What the text form is defined as: printf's "%.15g" with a capital E.
std::string PrintfText(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", x);
  std::string s(buf);
  for (char& c : s)
    if (c == 'e') c = 'E';
  return s;
}

TEST(NumberText, FixedCases) {
  EXPECT_EQ(NumberText(2), "2");
  EXPECT_EQ(NumberText(2.5), "2.5");
  EXPECT_EQ(NumberText(-3), "-3");
  EXPECT_EQ(NumberText(0.1), "0.1");
  EXPECT_EQ(NumberText(-0.0), "0");
  EXPECT_EQ(NumberText(1e15), "1E+15");
  EXPECT_EQ(NumberText(999999999999999.0), "999999999999999");
  EXPECT_EQ(NumberText(1.5e-7), "1.5E-07");
  EXPECT_EQ(NumberText(0.0001), "0.0001");
  EXPECT_EQ(NumberText(1e300 * 1e10), "Infinity");
  EXPECT_EQ(NumberText(1234567890123456789.0), "1.23456789012346E+18");
  EXPECT_EQ(NumberText(0.1 + 0.2), "0.3");
}

TEST(NumberText, IsPrintfsGeneralFormWithFifteenDigitsForEveryKindOfDouble) {
  // Any bit pattern (subnormals, the largest doubles), decimals of a few
  // digits (the common data, and ties of the 15th digit), whole numbers
  // around 1e15 where the form turns to an exponent, and tiny values around
  // 1e-4 where it does too.
  std::mt19937_64 random(42);
  auto check = [](double x) {
    if (!std::isfinite(x) || x == 0) return;
    ASSERT_EQ(NumberText(x), PrintfText(x)) << std::hexfloat << x;
  };
  for (int i = 0; i < 200'000; ++i) {
    check(std::bit_cast<double>(random()));
    check(static_cast<double>(static_cast<std::int64_t>(random() % 2'000'000) - 1'000'000) / 100);
    check(static_cast<double>(random() % 100'000'000'000'000'000ULL) / 1e3);
    check(static_cast<double>(999'999'999'999'000 + random() % 2000) * (random() % 2 ? 1 : -1));
    check(std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 1100)));
    check(0.0001 * (1 + static_cast<double>(random() % 1000 - 500) * 1e-12));
  }
}

}  // namespace
}  // namespace qeldata
