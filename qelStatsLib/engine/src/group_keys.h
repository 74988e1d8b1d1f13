// The groups of a one-pass reading by the value of a grouping field (the
// describe pass, the segmentation by group): which group a record belongs
// to, and the order in which the groups are reported.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "qelStatsLib/tally.h"
#include "qeldata/value.h"

namespace qel::detail {

// Positions of groups by key, counted from 0 in order of first appearance.
// Numbers are one group when their 15-digit forms are equal (2.50 and 2.5,
// like one distinct value); texts, dates and other values by their text,
// byte for byte; null is a group of its own.
class GroupKeys {
 public:
  // The position of the group of `key`; `added` tells whether it is new.
  std::size_t Find(const qeldata::Value& key, bool& added) {
    std::size_t* slot;
    if (key.IsNull()) {
      slot = &null_group_;
    } else if (key.IsNumber() && std::isfinite(key.number())) {
      slot = &numbers_.try_emplace(std::bit_cast<std::uint64_t>(Form15(key.number())), kNone).first->second;
    } else if (key.kind() == qeldata::Value::Kind::kText) {
      // Looked up by a view of the cell: no string is built for a known key.
      const std::string& text = key.text();
      auto it = texts_.find(std::string_view(text));
      slot = it != texts_.end() ? &it->second : &texts_.emplace(text, kNone).first->second;
    } else {
      slot = &texts_.try_emplace(key.AsText(), kNone).first->second;
    }
    added = *slot == kNone;
    if (added) *slot = size_++;
    return *slot;
  }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t size_ = 0;
  std::size_t null_group_ = kNone;
  std::unordered_map<std::uint64_t, std::size_t> numbers_;
  struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, std::size_t, TextHash, std::equal_to<>> texts_;
};

// The order of the groups: numbers ascending, then texts and dates in byte
// order of their text, the null group last.
inline bool GroupKeyLess(const qeldata::Value& a, const qeldata::Value& b) {
  auto rank = [](const qeldata::Value& k) { return k.IsNull() ? 2 : k.IsNumber() ? 0 : 1; };
  const int ra = rank(a), rb = rank(b);
  if (ra != rb) return ra < rb;
  if (ra == 0) return a.number() < b.number();
  if (ra == 1) return a.AsText() < b.AsText();
  return false;
}

}  // namespace qel::detail
