#include "round15.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

#include "qeldata/value.h"

namespace qel::detail {
namespace {

// Round15 must give exactly the double the text form reads back as.
void ExpectSameAsText(double x) {
  const double expected = qeldata::Canonical15(x);
  const double actual = Round15(x);
  ASSERT_EQ(std::bit_cast<std::uint64_t>(actual), std::bit_cast<std::uint64_t>(expected))
      << "x = " << qeldata::RoundTripText(x) << ": " << qeldata::RoundTripText(actual) << " instead of "
      << qeldata::RoundTripText(expected);
}

TEST(Round15, AgreesWithTheTextFormOnRandomDoubles) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> exponent(-12, 18);
  for (int i = 0; i < 2'000'000; ++i) {
    // Random digits at every magnitude, both signs.
    const double x = std::pow(10.0, exponent(rng)) * (rng() & 1 ? 1 : -1);
    ExpectSameAsText(x);
    ExpectSameAsText(std::nextafter(x, 0.0));
  }
}

TEST(Round15, AgreesOnTiesDecadeEdgesAndSumsOfShortDecimals) {
  // Exact ties at the 16th digit round to even, as the text form does.
  for (double n = 123456789012340; n < 123456789012360; ++n) ExpectSameAsText(n + 0.5);
  for (double n = 12345678901230; n < 12345678901250; ++n) ExpectSameAsText(n + 0.25);
  // Around every power of ten, where the decimal exponent changes.
  for (int e = -9; e <= 16; ++e) {
    double x = std::pow(10.0, e);
    for (int step = 0; step < 40; ++step) {
      ExpectSameAsText(x);
      ExpectSameAsText(-x);
      x = std::nextafter(x, 0.0);
    }
    ExpectSameAsText(std::pow(10.0, e) * (1 - 5e-16));
    ExpectSameAsText(std::pow(10.0, e) * 0.9999999999999995);
  }
  // Running totals of weights with few decimals: what the tally rounds.
  std::mt19937_64 rng(11);
  double total = 0;
  for (int i = 0; i < 200'000; ++i) {
    total += static_cast<double>(rng() % 10000) / 1000;
    ExpectSameAsText(total);
    total = qeldata::Canonical15(total);
  }
  ExpectSameAsText(0.7 + 0.2);
  ExpectSameAsText(0.1 + 0.2);
}

}  // namespace
}  // namespace qel::detail
