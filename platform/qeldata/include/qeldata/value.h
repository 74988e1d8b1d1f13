// Field values: null, a number, a text, a date or a boolean.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace qeldata {

// A calendar date with an optional time of day (no time zone).
struct Date {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;

  bool HasTime() const { return hour != 0 || minute != 0 || second != 0; }
  // "YYYY-MM-DD", followed by " HH:MM:SS" when a time is present.
  std::string ToText() const;
  // Days since 1899-12-30 with the time as a fraction, as automation dates count.
  double ToSerial() const;
  // Parses "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS]" or "YYYY-MM-DDTHH:MM[:SS]"; nullopt otherwise.
  static std::optional<Date> Parse(std::string_view text);
  auto operator<=>(const Date&) const = default;
};

class Value {
 public:
  enum class Kind { kNull, kNumber, kText, kDate, kBoolean };

  Value() = default;  // null
  Value(double number) : data_(number) {}
  // A number known to be its own 15-digit canonical value (it was read from a
  // token of at most 15 significant digits), so tallies need not round it.
  static Value CanonicalNumber(double number) { Value v(number); v.canonical_ = true; return v; }
  Value(int number) : data_(static_cast<double>(number)) {}
  Value(std::int64_t number) : data_(static_cast<double>(number)) {}
  Value(std::string text) : data_(std::move(text)) {}
  Value(const char* text) : data_(std::string(text)) {}
  Value(Date date) : data_(date) {}
  static Value Boolean(bool b) { Value v; v.data_ = b; return v; }
  static Value Null() { return Value(); }
  // Makes this value the number `number` (canonical as CanonicalNumber says)
  // in place: a reader refilling a block of numbers builds no new Value.
  void AssignNumber(double number, bool canonical) {
    if (double* held = std::get_if<double>(&data_)) *held = number;
    else data_ = number;
    canonical_ = canonical;
  }
  // Makes this value the text `text` in place, reusing the room of a text it
  // held: a reader refilling a block of texts allocates nothing per cell.
  void AssignText(std::string_view text) {
    if (std::string* held = std::get_if<std::string>(&data_)) held->assign(text);
    else data_ = std::string(text);
    canonical_ = false;
  }

  Kind kind() const { return static_cast<Kind>(data_.index()); }
  bool IsNull() const { return data_.index() == 0; }
  bool IsNumber() const { return data_.index() == 1; }
  bool IsCanonicalNumber() const { return canonical_; }

  // The value as a double. Numbers convert as they are, booleans to -1 or 0,
  // dates to their serial number, texts when they read as a number.
  // Throws Error (kErrDataConversion) for null and for a text that is no number.
  double AsNumber() const;
  // The value as text: numbers in their canonical text form (NumberText),
  // dates as Date::ToText, booleans as "True"/"False", null as "".
  std::string AsText() const;

  double number() const { return std::get<double>(data_); }
  const std::string& text() const { return std::get<std::string>(data_); }
  const Date& date() const { return std::get<Date>(data_); }
  bool boolean() const { return std::get<bool>(data_); }

  bool operator==(const Value& other) const { return data_ == other.data_; }

 private:
  std::variant<std::monostate, double, std::string, Date, bool> data_;
  bool canonical_ = false;
};

// The text form of a number: at most 15 significant digits, no trailing zeros,
// no exponent for magnitudes from 1e-4 below 1e15 ("2", "2.5", "0.1", "-3"),
// exponent form beyond ("1E+15", "1.5E-07"); -0 reads "0". NaN and infinities
// read "NaN", "Infinity" and "-Infinity".
std::string NumberText(double x);

// The double that NumberText(x) reads back as: x rounded to 15 significant
// digits, with -0 as 0. Two numbers have the same text form exactly when their
// canonical values are equal, so tallies can key on this instead of on text.
// Where the rounded text lies beyond the largest double (|x| above about
// 1.797693134862315E+308) it reads back as an infinity of x's sign.
double Canonical15(double x);

// Parses a whole token as a number (leading/trailing blanks allowed, optional
// sign, digits with an optional '.' fraction and an optional exponent).
// Returns nullopt when the token is not entirely a number, or lies beyond the
// range of a double; a token below the smallest double reads as the subnormal
// or zero it rounds to. Does not accept "nan", "inf", hex or a decimal comma.
std::optional<double> ParseNumber(std::string_view token);

// Shortest text that parses back to exactly x (for JSON and other machine output).
std::string RoundTripText(double x);

}  // namespace qeldata
