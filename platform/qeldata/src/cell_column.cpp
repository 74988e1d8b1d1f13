#include "cell_column.h"

#include <bit>
#include <cstring>

namespace qeldata::detail {

namespace {

constexpr std::uint8_t KindOf(std::uint8_t tag) { return tag & 0x0F; }

// A date's fields in one word: the year's 32 bits above month (4 bits), day
// and hour (5 bits each), minute and second (6 bits each); nullopt when a
// field does not fit.
std::optional<std::uint64_t> PackDate(const Date& d) {
  if (d.month < 0 || d.month > 15 || d.day < 0 || d.day > 31 || d.hour < 0 || d.hour > 31 || d.minute < 0 ||
      d.minute > 63 || d.second < 0 || d.second > 63)
    return std::nullopt;
  const auto low = (static_cast<std::uint32_t>(d.month) << 22) | (static_cast<std::uint32_t>(d.day) << 17) |
                   (static_cast<std::uint32_t>(d.hour) << 12) | (static_cast<std::uint32_t>(d.minute) << 6) |
                   static_cast<std::uint32_t>(d.second);
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(d.year)) << 32) | low;
}

Date UnpackDate(std::uint64_t w) {
  Date d;
  d.year = static_cast<int>(static_cast<std::int32_t>(static_cast<std::uint32_t>(w >> 32)));
  d.month = static_cast<int>((w >> 22) & 0x0F);
  d.day = static_cast<int>((w >> 17) & 0x1F);
  d.hour = static_cast<int>((w >> 12) & 0x1F);
  d.minute = static_cast<int>((w >> 6) & 0x3F);
  d.second = static_cast<int>(w & 0x3F);
  return d;
}

}  // namespace

void CellColumn::Reserve(std::size_t rows) {
  tags_.reserve(rows);
  words_.reserve(rows);
}

void CellColumn::Store(std::size_t row, const Value& value) {
  switch (value.kind()) {
    case Value::Kind::kNull:
      tags_[row] = kNull;
      words_[row] = 0;
      return;
    case Value::Kind::kNumber:
      tags_[row] = value.IsCanonicalNumber() ? kCanonicalNumber : kNumber;
      words_[row] = std::bit_cast<std::uint64_t>(value.number());
      return;
    case Value::Kind::kBoolean:
      tags_[row] = kBoolean;
      words_[row] = value.boolean() ? 1 : 0;
      return;
    case Value::Kind::kText: {
      const std::string& text = value.text();
      if (text.size() <= kShortTextBytes) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data(), text.size());
        tags_[row] = static_cast<std::uint8_t>(kShortText | (text.size() << 4));
        words_[row] = word;
        return;
      }
      StoreBytes(row, kLongText, text);
      return;
    }
    case Value::Kind::kDate: {
      const Date& d = value.date();
      if (const auto packed = PackDate(d)) {
        tags_[row] = kPackedDate;
        words_[row] = *packed;
        return;
      }
      const int fields[6] = {d.year, d.month, d.day, d.hour, d.minute, d.second};
      StoreBytes(row, kLongDate, std::string_view(reinterpret_cast<const char*>(fields), sizeof fields));
      return;
    }
  }
}

void CellColumn::StoreBytes(std::size_t row, Kind kind, std::string_view bytes) {
  const std::size_t n = bytes.size();
  const std::uint8_t old_kind = KindOf(tags_[row]);
  if ((old_kind == kLongText || old_kind == kLongDate) && (words_[row] & 0xFFFF) != kBigLength &&
      n <= (words_[row] & 0xFFFF)) {
    // Written over the old bytes: rewriting a cell does not grow the arena.
    const std::uint64_t place = words_[row] & ~std::uint64_t{0xFFFF};
    char* at = blocks_[place >> 32].get() + ((place >> 16) & 0xFFFF);
    std::memcpy(at, bytes.data(), n);
    tags_[row] = kind;
    words_[row] = place | n;
    return;
  }
  if (n >= kBigLength) {
    auto block = std::make_unique<char[]>(n + sizeof(std::uint64_t));
    const std::uint64_t length = n;
    std::memcpy(block.get(), &length, sizeof length);
    std::memcpy(block.get() + sizeof length, bytes.data(), n);
    blocks_.push_back(std::move(block));
    arena_bytes_ += n + sizeof(std::uint64_t);
    tags_[row] = kind;
    words_[row] = (static_cast<std::uint64_t>(blocks_.size() - 1) << 32) | kBigLength;
    return;
  }
  if (filling_ == SIZE_MAX || filled_ + n > kBlockBytes) {
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockBytes));
    arena_bytes_ += kBlockBytes;
    filling_ = blocks_.size() - 1;
    filled_ = 0;
  }
  std::memcpy(blocks_[filling_].get() + filled_, bytes.data(), n);
  tags_[row] = kind;
  words_[row] = (static_cast<std::uint64_t>(filling_) << 32) | (static_cast<std::uint64_t>(filled_) << 16) | n;
  filled_ += n;
}

std::string_view CellColumn::Bytes(std::uint64_t word) const {
  const char* block = blocks_[word >> 32].get();
  const std::size_t length = word & 0xFFFF;
  if (length == kBigLength) {
    std::uint64_t big;
    std::memcpy(&big, block, sizeof big);
    return {block + sizeof big, static_cast<std::size_t>(big)};
  }
  return {block + ((word >> 16) & 0xFFFF), length};
}

void CellColumn::Load(std::size_t row, Value& out) const {
  const std::uint8_t tag = tags_[row];
  const std::uint64_t word = words_[row];
  switch (KindOf(tag)) {
    case kNumber:
    case kCanonicalNumber:
      out.AssignNumber(std::bit_cast<double>(word), KindOf(tag) == kCanonicalNumber);
      return;
    case kBoolean:
      out = Value::Boolean(word != 0);
      return;
    case kShortText: {
      char bytes[kShortTextBytes];
      std::memcpy(bytes, &word, sizeof bytes);
      out.AssignText(std::string_view(bytes, tag >> 4));
      return;
    }
    case kLongText:
      out.AssignText(Bytes(word));
      return;
    case kPackedDate:
      out = Value(UnpackDate(word));
      return;
    case kLongDate: {
      int fields[6];
      std::memcpy(fields, Bytes(word).data(), sizeof fields);
      out = Value(Date{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]});
      return;
    }
    default:
      out = Value();
      return;
  }
}

}  // namespace qeldata::detail
