// Identities of classes, interfaces and type libraries: 128-bit GUIDs written
// as "{6D1C7106-26F0-11D6-BEE4-00E09804AE2F}".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qelcom {

struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
      if (a.Data4[i] != b.Data4[i]) return false;
    return true;
  }
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

inline constexpr GUID GUID_NULL{};

namespace detail {
constexpr int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", braces optional. Returns false
// on any other shape.
constexpr bool ParseGuidText(std::string_view text, GUID& out) {
  if (text.size() == 38) {
    if (text.front() != '{' || text.back() != '}') return false;
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return false;
  std::uint8_t bytes[16] = {};
  int nibble = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return false;
      continue;
    }
    const int d = HexDigit(text[i]);
    if (d < 0) return false;
    bytes[nibble / 2] = static_cast<std::uint8_t>(bytes[nibble / 2] * 16 + d);
    ++nibble;
  }
  out.Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
  out.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  out.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) out.Data4[i] = bytes[8 + i];
  return true;
}
}  // namespace detail

// A GUID from its text at compile time; a malformed literal does not compile.
//   inline constexpr GUID kMyClass = MakeGuid("{6D1C7106-26F0-11D6-BEE4-00E09804AE2F}");
consteval GUID MakeGuid(std::string_view text) {
  GUID g;
  if (!detail::ParseGuidText(text, g)) throw std::invalid_argument("malformed GUID literal");
  return g;
}

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits in either case,
// braces optional). Returns std::nullopt for anything else.
std::optional<GUID> ParseGuid(std::string_view text);

// The canonical text form: upper-case hex digits in braces.
std::string ToString(const GUID& guid);

struct GuidHash {
  std::size_t operator()(const GUID& g) const noexcept {
    std::uint64_t h = (std::uint64_t{g.Data1} << 32) | (std::uint64_t{g.Data2} << 16) | g.Data3;
    for (std::uint8_t b : g.Data4) h = h * 1099511628211ULL ^ b;
    return std::hash<std::uint64_t>{}(h);
  }
};

}  // namespace qelcom
