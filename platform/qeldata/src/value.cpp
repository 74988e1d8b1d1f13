#include "qeldata/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <stdlib.h>

#include "qeldata/error.h"

namespace qeldata {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days from 1970-01-01 (Howard Hinnant's days_from_civil).
long long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool ReadInt(std::string_view s, size_t pos, size_t len, int* out) {
  if (pos + len > s.size()) return false;
  int v = 0;
  for (size_t i = pos; i < pos + len; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  *out = v;
  return true;
}

// A decimal number text that from_chars refused as out of range, read as the
// C library reads it: an infinity on overflow, the subnormal or zero it rounds
// to on underflow. In the "C" locale, whatever locale a host program set.
double OutOfRangeText(const char* begin, const char* end) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const std::string text(begin, end);
  return strtod_l(text.c_str(), nullptr, c_locale);
}

}  // namespace

std::string Date::ToText() const {
  char buf[40];
  if (HasTime())
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
  return buf;
}

double Date::ToSerial() const {
  const long long days = DaysFromCivil(year, month, day) - DaysFromCivil(1899, 12, 30);
  return static_cast<double>(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

std::optional<Date> Date::Parse(std::string_view text) {
  text = Trim(text);
  Date d;
  if (text.size() != 10 && text.size() != 16 && text.size() != 19) return std::nullopt;
  if (!ReadInt(text, 0, 4, &d.year) || text[4] != '-' || !ReadInt(text, 5, 2, &d.month) || text[7] != '-' ||
      !ReadInt(text, 8, 2, &d.day))
    return std::nullopt;
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > DaysInMonth(d.year, d.month)) return std::nullopt;
  if (text.size() == 10) return d;
  if ((text[10] != ' ' && text[10] != 'T') || !ReadInt(text, 11, 2, &d.hour) || text[13] != ':' ||
      !ReadInt(text, 14, 2, &d.minute))
    return std::nullopt;
  if (text.size() == 19 && (text[16] != ':' || !ReadInt(text, 17, 2, &d.second))) return std::nullopt;
  if (d.hour > 23 || d.minute > 59 || d.second > 59) return std::nullopt;
  return d;
}

double Value::AsNumber() const {
  switch (kind()) {
    case Kind::kNumber:
      return std::get<double>(data_);
    case Kind::kBoolean:
      return std::get<bool>(data_) ? -1.0 : 0.0;
    case Kind::kDate:
      return std::get<Date>(data_).ToSerial();
    case Kind::kText: {
      if (auto n = ParseNumber(std::get<std::string>(data_))) return *n;
      throw Error(kErrDataConversion, "qeldata",
                  "Type mismatch: the text '" + std::get<std::string>(data_).substr(0, 80) + "' is not a number");
    }
    case Kind::kNull:
      break;
  }
  throw Error(kErrDataConversion, "qeldata", "Invalid use of Null: a missing value is not a number");
}

std::string Value::AsText() const {
  switch (kind()) {
    case Kind::kNumber:
      return NumberText(std::get<double>(data_));
    case Kind::kBoolean:
      return std::get<bool>(data_) ? "True" : "False";
    case Kind::kDate:
      return std::get<Date>(data_).ToText();
    case Kind::kText:
      return std::get<std::string>(data_);
    case Kind::kNull:
      break;
  }
  return std::string();
}

std::string NumberText(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Infinity" : "-Infinity";
  if (x == 0) return "0";
  // printf's "%.15g", exactly (to_chars with a precision is defined as
  // that conversion), without the C library's multi-precision arithmetic: a
  // result table of millions of rows formats every number of it here.
  char buf[40];
  char* end = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 15).ptr;
  // %g writes "1e+15" and "1.5e-07"; the text form writes the exponent marker
  // in capitals, as users of the original tools know it.
  for (char* p = buf; p != end; ++p)
    if (*p == 'e') *p = 'E';
  return std::string(buf, end);
}

double Canonical15(double x) {
  if (x == 0) return 0.0;  // folds -0 into 0
  if (!std::isfinite(x)) return x;
  // Whole numbers below 1e15 have at most 15 digits and are exact already.
  if (std::fabs(x) < 1e15 && x == std::trunc(x)) return x;
  char buf[40];
  auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific, 14);
  double y = 0;
  // Near the largest double the 15-digit text lies beyond it ("1.79769313486232E+308"),
  // and below the smallest normal one it reads back as a subnormal: from_chars
  // refuses both and leaves 0, which would fold those values into 0.
  if (std::from_chars(buf, res.ptr, y).ec == std::errc::result_out_of_range) y = OutOfRangeText(buf, res.ptr);
  return y == 0 ? 0.0 : y;
}

std::optional<double> ParseNumber(std::string_view token) {
  token = Trim(token);
  if (token.empty()) return std::nullopt;
  bool negative = false;
  if (token.front() == '+' || token.front() == '-') {
    negative = token.front() == '-';
    token.remove_prefix(1);
  }
  // from_chars also reads "inf", "nan" and "1." forms; only plain decimal
  // numbers are numbers here.
  if (token.empty() || !((token.front() >= '0' && token.front() <= '9') || token.front() == '.')) return std::nullopt;
  if (token.front() == '.' && (token.size() < 2 || token[1] < '0' || token[1] > '9')) return std::nullopt;
  double v = 0;
  auto res = std::from_chars(token.data(), token.data() + token.size(), v, std::chars_format::general);
  if (res.ptr != token.data() + token.size()) return std::nullopt;
  if (res.ec == std::errc::result_out_of_range) {
    // Beyond the largest double a token is no number; below the smallest
    // normal one it is the subnormal (or the zero) it rounds to.
    v = OutOfRangeText(token.data(), res.ptr);
    if (std::isinf(v)) return std::nullopt;
  } else if (res.ec != std::errc()) {
    return std::nullopt;
  }
  return negative ? -v : v;
}

std::string RoundTripText(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Infinity" : "-Infinity";
  char buf[40];
  auto res = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, res.ptr);
}

}  // namespace qeldata
