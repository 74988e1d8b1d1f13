// Text helpers of the data layer and the layers above it: ASCII only and
// independent of the locale, so a host program that sets its own locale
// parses connection strings and SQL, and matches field, member and key names,
// the same way.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qeldata::text {

inline bool IsAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// `s` without leading and trailing white space (of SQL text, connection
// string parts, names).
inline std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsAsciiSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsAsciiSpace(s.back())) s.remove_suffix(1);
  return s;
}

inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
inline char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

inline std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

inline std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Upper(c);
  return out;
}

// Names (fields, keys, drivers, members) compare without regard to the case
// of ASCII letters.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// Where a field is found by `name` among `items` (each one's name given by
// `name_of`): the first whose name equals it without regard to case; else the
// only one whose name equals it once white space around both is left out.
// A header written "id, price" names its second field " price", which a name
// typed by a user (and trimmed, as names given are) would otherwise never
// reach. -1 when there is none, and when several names match only so.
template <typename Items, typename NameOf>
std::ptrdiff_t FindName(const Items& items, std::string_view name, NameOf name_of) {
  const std::string_view trimmed = Trim(name);
  std::ptrdiff_t i = 0, loose = -1, loose_matches = 0;
  for (const auto& item : items) {
    const std::string_view n = name_of(item);
    if (EqualsNoCase(n, name)) return i;
    if (EqualsNoCase(Trim(n), trimmed) && loose_matches++ == 0) loose = i;
    ++i;
  }
  return loose_matches == 1 ? loose : -1;
}

inline bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
  if (needle.size() > haystack.size()) return false;
  for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i)
    if (EqualsNoCase(haystack.substr(i, needle.size()), needle)) return true;
  return false;
}

}  // namespace qeldata::text
