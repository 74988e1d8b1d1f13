// The 15-significant-digit text form of numbers, which the analyses key their
// tallies on: NumberText then ParseNumber gives Canonical15 back, Canonical15
// is idempotent, and a CSV token that claims to be its own canonical value is.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "csv.h"
#include "qeldata/value.h"

namespace {

[[noreturn]] void Finding(const char* what, double x, const std::string& text) {
  fprintf(stderr, "fuzz_number_text finding: %s (x=%.17g, text '%s')\n", what, x, text.c_str());
  abort();
}

bool Same(double a, double b) { return a == b && std::signbit(a) == std::signbit(b); }

void CheckDouble(double x) {
  const std::string text = qeldata::NumberText(x);
  if (text.empty()) Finding("empty text form", x, text);
  if (!std::isfinite(x)) {
    if (text != "NaN" && text != "Infinity" && text != "-Infinity") Finding("odd text for a non-finite value", x, text);
    return;
  }
  const double c = qeldata::Canonical15(x);
  const auto parsed = qeldata::ParseNumber(text);
  if (!parsed) {
    // Only a text beyond the largest double fails to read back; Canonical15 calls that an infinity.
    if (!std::isinf(c) || std::fabs(x) < 1.7e308) Finding("the text form does not parse", x, text);
    return;
  }
  if (std::isinf(c)) Finding("Canonical15 overflowed for a text that reads back", x, text);
  if (!Same(*parsed == 0 ? 0.0 : *parsed, c)) Finding("text form reads back other than Canonical15", x, text);
  if (!Same(qeldata::Canonical15(c), c)) Finding("Canonical15 is not idempotent", x, text);
  if (qeldata::NumberText(c) != text) Finding("the canonical value prints differently", x, text);
  if (std::signbit(c) && c == 0) Finding("Canonical15 kept a negative zero", x, text);
}

void CheckToken(std::string_view token) {
  const auto general = qeldata::ParseNumber(token);
  if (general && std::isfinite(*general)) CheckDouble(*general);
  const auto csv = qeldata::detail::ParseCsvNumber(token);
  if (!csv) return;
  if (!std::isfinite(csv->value)) Finding("a CSV number that is not finite", csv->value, std::string(token));
  // A token of at most 15 significant digits is its own canonical value: tallies skip the rounding.
  if (csv->canonical && !(csv->value == qeldata::Canonical15(csv->value)))
    Finding("a token marked canonical is not its canonical value", csv->value, std::string(token));
  if (csv->is_integer && static_cast<double>(csv->integer) != csv->value)
    Finding("integer and value of a token disagree", csv->value, std::string(token));
  if (general && *general != csv->value) Finding("the CSV and general parsers disagree", csv->value, std::string(token));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The bytes as doubles, eight at a time: every bit pattern, subnormals and NaNs included.
  for (size_t i = 0; i + 8 <= size && i < 64; i += 8) {
    double x;
    std::memcpy(&x, data + i, 8);
    CheckDouble(x);
  }
  // The bytes as one token.
  if (size <= 256) CheckToken(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
