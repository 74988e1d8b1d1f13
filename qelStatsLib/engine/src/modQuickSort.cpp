#include "modQuickSort.h"

namespace qel {

namespace {

// Decodes one UTF-8 sequence at s[i] into a code point; invalid bytes read as
// themselves so that every text still has a total order.
char32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  auto cont = [&](std::size_t k) {
    return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
  };
  if (c < 0x80) { ++i; return c; }
  if ((c & 0xE0) == 0xC0 && cont(1)) {
    char32_t cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
    i += 2;
    return cp;
  }
  if ((c & 0xF0) == 0xE0 && cont(1) && cont(2)) {
    char32_t cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
    i += 3;
    return cp;
  }
  if ((c & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
    char32_t cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
    i += 4;
    return cp;
  }
  ++i;
  return c;
}

// The first UTF-16 code unit of a code point: what a binary comparison of
// UTF-16 texts compares first. Supplementary characters start with a high
// surrogate (0xD800..0xDBFF), so they sort below 0xE000..0xFFFF.
std::uint32_t Utf16Key(char32_t cp, std::uint32_t* second) {
  if (cp < 0x10000) {
    *second = 0;
    return cp;
  }
  cp -= 0x10000;
  *second = 0xDC00 + (cp & 0x3FF);
  return 0xD800 + (cp >> 10);
}

}  // namespace

bool Utf16Less(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    // ASCII fast path: equal UTF-16 order.
    const unsigned char ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
    if (ca < 0x80 && cb < 0x80) {
      if (ca != cb) return ca < cb;
      ++i, ++j;
      continue;
    }
    std::uint32_t sa, sb;
    const std::uint32_t ka = Utf16Key(NextCodePoint(a, i), &sa), kb = Utf16Key(NextCodePoint(b, j), &sb);
    if (ka != kb) return ka < kb;
    if (sa != sb) return sa < sb;
  }
  return i >= a.size() && j < b.size();
}

void QuickSort(std::vector<double>& a, std::int64_t first, std::int64_t last) {
  if (last - first < 1) return;
  detail::QuickSortRange(std::span<double>(a), first, last, [](double x, double y) { return x < y; });
}

void QuickSort(std::vector<std::string>& a, std::int64_t first, std::int64_t last) {
  if (last - first < 1) return;
  detail::QuickSortRange(std::span<std::string>(a), first, last, Utf16Less);
}

}  // namespace qel
