// Short texts as words, the hash of a text, and the places in a text tally of
// the texts a reader met lately: what finds a categorical value's place in
// its tally quickly, for the tally itself and for the readers in front of it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "qelStatsLib/tally.h"

namespace qel::detail {

// The finaliser of MurmurHash3, in full: every bit of the word reaches every
// bit of the hash.
inline std::uint64_t Mix64(std::uint64_t k) {
  k ^= k >> 33;
  k *= 0xff51afd7ed558ccdULL;
  k ^= k >> 33;
  k *= 0xc4ceb9fe1a85ec53ULL;
  k ^= k >> 33;
  return k;
}

// Every byte of a text of up to 8 bytes in one word: its first and last four
// bytes (which overlap below 8), or for up to 3 bytes the first, middle and
// last; 0 for the empty text. With the text's length it tells the text apart
// from every other. REQUIRES: text.size() <= 8.
inline std::uint64_t ShortTextWord(std::string_view text) {
  const char* const p = text.data();
  const std::size_t n = text.size();
  if (n >= 4) {
    std::uint32_t lo, hi;
    std::memcpy(&lo, p, 4);
    std::memcpy(&hi, p + n - 4, 4);
    return std::uint64_t{lo} | std::uint64_t{hi} << 32;
  }
  if (n == 0) return 0;
  return std::uint64_t{static_cast<unsigned char>(p[0])} | std::uint64_t{static_cast<unsigned char>(p[n / 2])} << 8 |
         std::uint64_t{static_cast<unsigned char>(p[n - 1])} << 16;
}

// The hash of a text. Most categorical values are short (a region, a code, a
// yes or no): up to 16 bytes they are read as words and mixed, which costs a
// fraction of the library's byte-by-byte hash; longer texts take that.
inline std::uint64_t TextHash(std::string_view text) {
  const std::size_t n = text.size();
  if (n <= 8) return Mix64(ShortTextWord(text) ^ Mix64(n));
  if (n > 16) return std::hash<std::string_view>{}(text);
  std::uint64_t a, b;  // the first and last eight bytes, overlapping below 16
  std::memcpy(&a, text.data(), 8);
  std::memcpy(&b, text.data() + n - 8, 8);
  return Mix64(a ^ Mix64(b + n));
}

// The places in a text tally of the texts met lately, found without the
// tally's index: a text of 1 to 8 bytes by its length and word alone, a
// longer one by a copy kept beside its place. A categorical field of a few
// dozen values finds nearly every record here; the tally stays the one record
// of places, so what is found is what TextTally::Position would give.
class RecentTexts {
 public:
  std::uint32_t Position(TextTally& tally, std::string_view text) {
    const std::size_t n = text.size();
    if (n >= 1 && n <= 8) {
      const std::uint64_t word = ShortTextWord(text);
      Short& e = short_[((word ^ n) * 0x9E3779B97F4A7C15ULL) >> 58];
      if (e.size == n && e.word == word) return e.position;
      e = Short{word, tally.Position(text), static_cast<std::uint32_t>(n)};
      return e.position;
    }
    Long& e = long_[TextHash(text) % long_.size()];
    if (e.known && e.text == text) return e.position;
    e.position = tally.Position(text);
    e.text.assign(text);
    e.known = true;
    return e.position;
  }

 private:
  struct Short {
    std::uint64_t word = 0;
    std::uint32_t position = 0;
    std::uint32_t size = 0;  // 0: empty
  };
  struct Long {
    std::string text;
    std::uint32_t position = 0;
    bool known = false;
  };
  std::array<Short, 64> short_{};
  std::vector<Long> long_ = std::vector<Long>(256);
};

}  // namespace qel::detail
