// How the component layer compares member and key names. Internal to qelcom.
#pragma once

#include <cstddef>
#include <string_view>

namespace qelcom::detail {

// Names match without regard to the case of ASCII letters, whatever locale the
// host program set, as member names looked up by name do.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace qelcom::detail
