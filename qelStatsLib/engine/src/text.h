// The engine's text helpers: ASCII only and independent of the locale, so a
// host program that sets its own locale matches field names and options the
// same way. Internal to the engine.
#pragma once

#include <string>
#include <string_view>

#include "qeldata/text.h"

namespace qel::text {

// `s` without leading and trailing spaces (only ' ': a tab is content).
inline std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Whether `s` is empty once its leading and trailing spaces are removed: what
// the classes mean by a blank field name.
inline bool IsBlank(std::string_view s) { return Trim(s).empty(); }

// Case without regard to the locale, as the data layer compares names.
using qeldata::text::ContainsNoCase;
using qeldata::text::EqualsNoCase;
using qeldata::text::Lower;

}  // namespace qel::text
