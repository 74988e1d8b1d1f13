// The engine's text helpers: ASCII only and independent of the locale, so a
// host program that sets its own locale matches field names and options the
// same way. Internal to the engine.
#pragma once

#include <string>
#include <string_view>

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

inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

inline bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
  if (needle.size() > haystack.size()) return false;
  for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i)
    if (EqualsNoCase(haystack.substr(i, needle.size()), needle)) return true;
  return false;
}

}  // namespace qel::text
