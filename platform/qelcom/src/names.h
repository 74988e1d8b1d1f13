// How the component layer compares member and key names. Internal to qelcom.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qelcom::detail {

// ASCII letters only, so that the locale a host program set never changes
// which member or key a name means.
inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

// Names match without regard to the case of ASCII letters, as member names looked up by name do.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

}  // namespace qelcom::detail
