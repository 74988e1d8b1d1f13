// The cells of one column of a static (fully held) table. Internal to qeldata.
//
// A result table of a run has one row per distinct value, so millions of rows
// are common, and a Value (a variant that can hold a std::string) is 48 bytes.
// A column keeps each cell in 9 bytes instead: a one-byte tag (what the cell
// holds) and an 8-byte word:
//   - a number: its double's bits (the tag says whether it is canonical);
//   - a boolean: 0 or 1;
//   - a date whose fields fit (any year, month 0..15, day and hour 0..31,
//     minute and second 0..63): the fields packed;
//   - a text of at most 8 bytes: the bytes themselves (the tag holds the length);
//   - a longer text, or a date that does not pack: the place of its bytes in
//     the column's arena.
// Load turns a cell back into exactly the Value that was stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "qeldata/value.h"

namespace qeldata::detail {

class CellColumn {
 public:
  std::size_t size() const { return tags_.size(); }
  // Room for `rows` cells in all, so that appending them moves nothing.
  void Reserve(std::size_t rows);
  // Adds a null cell at the end.
  void AppendNull() {
    tags_.push_back(kNull);
    words_.push_back(0);
  }
  void Append(const Value& value) {
    AppendNull();
    Store(size() - 1, value);
  }
  // Makes cell `row` hold `value`. REQUIRES: row < size(). A longer text
  // replacing a text leaves the old bytes unused in the arena until the
  // column goes (a shorter or equal one is written over the old).
  void Store(std::size_t row, const Value& value);
  // Makes `out` the value of cell `row`, reusing the room of a text it held.
  // REQUIRES: row < size().
  void Load(std::size_t row, Value& out) const;
  Value Get(std::size_t row) const {
    Value v;
    Load(row, v);
    return v;
  }
  // Bytes held for texts and dates out of line (whole arena blocks).
  std::size_t ArenaBytes() const { return arena_bytes_; }

 private:
  // What a cell holds: the low four bits of its tag. A short text keeps its
  // length (0 to 8) in the high four bits.
  enum Kind : std::uint8_t {
    kNull = 0,
    kNumber = 1,
    kCanonicalNumber = 2,
    kBoolean = 3,
    kShortText = 4,
    kLongText = 5,
    kPackedDate = 6,
    kLongDate = 7,  // a Date's six ints, as bytes in the arena
  };
  static constexpr std::size_t kShortTextBytes = 8;
  // Arena texts live in blocks of 64 KiB; a word places one as
  // block (32 bits) | offset (16 bits) | length (16 bits). A text of
  // kBigLength bytes or more has a block of its own, its length in the
  // block's first 8 bytes, and kBigLength in the word's length field.
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 16;
  static constexpr std::size_t kBigLength = 0xFFFF;

  void StoreBytes(std::size_t row, Kind kind, std::string_view bytes);
  std::string_view Bytes(std::uint64_t word) const;

  std::vector<std::uint8_t> tags_;
  std::vector<std::uint64_t> words_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t filling_ = SIZE_MAX;  // the block short texts are added to
  std::size_t filled_ = 0;          // bytes used in that block
  std::size_t arena_bytes_ = 0;
};

}  // namespace qeldata::detail
