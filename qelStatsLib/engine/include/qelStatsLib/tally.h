// The tally: the first stage of every analysis. It keeps each distinct value
// of one field with a payload (how many records had it, their total weight,
// and for a segmentation the target sums), plus the record-order totals the
// analyses' definitions need. The second stage, the finish, sorts the
// distinct values and walks them (see the runs).
//
//   qel::Tally<qel::CountWeight> tally;
//   for (each record) tally.Add(value, weight);      // or AddMissing()
//   tally.Flush();
//   std::vector<qel::Tally<qel::CountWeight>::Entry> sorted = tally.TakeSorted();
//
// A tally is filled in any of four ways, which mix freely:
//   - from records, in record order (Add, AddMissing): the analyses' own path;
//     every total and every payload is added in the order of the records, so
//     a finish over it gives the results of the definitions bit for bit;
//   - from pre-aggregated rows (AddAggregate: a value with its record count,
//     weight total and target sum, as a database's `group by` returns them);
//   - from arrays (AddArrays: values with optional weights and targets);
//   - by merging another tally of the same field (Merge), or its bytes
//     (Serialize / Deserialize, to ship a partition between processes).
//
// Keys. Two values are one distinct value when their 15-significant-digit
// text forms are equal (Form15: 2.50 and 2.5000000000000001 are one value,
// -0 is 0). The tally keeps for each distinct value the double of its FIRST
// OCCURRENCE (in the order values were added), so a value of more than 15
// significant digits comes out of Min, Max, the quartiles and the tables as
// it was read; only the key and the sums (Sum, SumWgt) use the 15-digit form.
//
// What merging keeps exact. A tally filled from records and the merge of
// tallies of the same records split into parts (or their aggregated rows) give
//   - bit-identical: the distinct values and their order, Cardinality, N,
//     Missing, every record count, and every weight total and Sum whose
//     addends are whole numbers below 2^53 (the default weight 1 included):
//     such sums are exact in any order. Order statistics (Min, Max, quartiles,
//     median, mode, bins) depend only on these and so agree too;
//   - possibly different in the last bits: sums of fractional values
//     (fractional weights, SumWgt and Sum of non-integer values, target sums),
//     because floating-point addition is not associative: (a + b) + c and
//     a + (b + c) may round differently. A merged first occurrence is the left
//     operand's (the earlier part's) when both parts hold the value.
// A finish over a merged tally is therefore exact for counts and whole
// weights, and agrees with the record-order results to the last bits of the
// sums otherwise.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace qel {

// The double that the 15-significant-digit text form of `x` reads back as
// (ties to even, as the text form rounds); -0 gives 0. It may be an infinity
// for values just below the largest double.
double Form15(double x);

// Payload of the univariate and outlier analyses: the number of records of a
// value and their total weight. The total weight is kept in its 15-digit form
// after every addition (weights 0.7, 0.2 and 0.1 on one value make exactly 1).
struct CountWeight {
  double count = 0;
  double weight = 0;
};

// Payload of the univariate run's own record-order tally: the total weight of
// a value alone, kept as CountWeight keeps it. The univariate statistics never
// use a value's record count, and without it a slot of the table is 16 bytes,
// not 24: a third less memory for a column of millions of distinct values.
// Such a tally is filled from records only (Add, AddKeyed, AddArrays), and
// read through Cardinality, Totals and TakeSorted.
struct Weight {
  double weight = 0;
};

// Payload of the segmentation: records, total weight (not rounded) and the
// sum of weight x target of the records of a predictor value.
struct TargetSums {
  double count = 0;
  double weight = 0;
  double target_sum = 0;
};

// The record-order totals. q is the summed quantity of a record: its value's
// 15-digit form for CountWeight tallies, its target for TargetSums tallies.
struct TallyTotals {
  double N = 0;        // records added (complete records)
  double WgtN = 0;     // their total weight
  double Missing = 0;  // what AddMissing added (records, or their weights)
  double Sum = 0;      // sum of q
  double SumWgt = 0;   // sum of weight x q
};

// Raised by Add and AddAggregate when a total or a value's weight total
// leaves the range of a double (or is NaN). The tally keeps every addition
// made before the one that failed, except that N already counts the record.
class TallyOverflow : public std::overflow_error {
 public:
  enum class Total { kWgtN, kSum, kSumWgt, kValueWeight };
  TallyOverflow(Total total, const char* what) : std::overflow_error(what), total_(total) {}
  Total total() const { return total_; }

 private:
  Total total_;
};

// Payloads that carry the record count of a value.
template <typename Payload>
concept CountedPayload = !std::is_same_v<Payload, Weight>;

// A tally keyed by numbers. Payload is CountWeight, Weight or TargetSums.
template <typename Payload>
class Tally {
 public:
  // One distinct value: the double of its first occurrence and its payload.
  struct Entry {
    double value;
    Payload payload;
  };

  Tally();
  Tally(Tally&&) noexcept;
  Tally& operator=(Tally&&) noexcept;
  Tally(const Tally&);
  Tally& operator=(const Tally&);
  ~Tally();

  // Adds one complete record of `value` with `weight` (and, for TargetSums,
  // `target`). REQUIRES: value, weight and target finite, and Form15(value)
  // finite. Throws TallyOverflow (see above).
  void Add(double value, double weight = 1, double target = 0);
  // The same with the key given: REQUIRES key == Form15(value). Lets a reader
  // that knows a value is its own 15-digit form skip the rounding.
  void AddKeyed(double value, double key, double weight = 1, double target = 0);
  // Adds `amount` to Missing (1 per record, or the record's weight).
  void AddMissing(double amount = 1) { totals_.Missing += amount; }

  // Adds a pre-aggregated row: `payload.count` records of `value` weighing
  // `payload.weight` in all (with `payload.target_sum`). N, WgtN, Sum and
  // SumWgt grow by count, weight, value x count and value x weight (for
  // TargetSums: count, weight, target_sum and target_sum).
  void AddAggregate(double value, const Payload& payload) requires CountedPayload<Payload>;
  // Adds values (with weights, 1 each when empty; targets for TargetSums) in
  // array order. REQUIRES: weights and targets empty or as long as values.
  void AddArrays(std::span<const double> values, std::span<const double> weights = {},
                 std::span<const double> targets = {});
  // Adds every distinct value and total of `other` to this tally.
  void Merge(const Tally& other) requires CountedPayload<Payload>;

  // A compact byte form of the tally (totals and entries, little-endian
  // IEEE doubles), and the tally it holds. Deserialize throws
  // std::invalid_argument on bytes that are not a tally of this payload.
  std::vector<unsigned char> Serialize() const requires CountedPayload<Payload>;
  static Tally Deserialize(std::span<const unsigned char> bytes) requires CountedPayload<Payload>;

  // Ends the look-ahead of Add: the entries hold every record added so far.
  // Cardinality, Entries, TakeSorted, Merge and Serialize call it themselves.
  void Flush() const;

  std::size_t Cardinality() const;
  const TallyTotals& Totals() const { return totals_; }
  // The distinct values in no particular order.
  std::vector<Entry> Entries() const;
  // The distinct values sorted ascending; the tally is empty of values
  // afterwards (its totals stay). The sort is a radix sort of the keys'
  // order-preserving bit patterns, not the library's quick sort; the results
  // cannot differ, because the keys are distinct (one per distinct value),
  // finite and never -0: distinct numbers have exactly one ascending order,
  // which every correct sort produces, and the first occurrences replace
  // their keys only after sorting (rounding to 15 digits keeps the order).
  // A tally whose values all came in ascending order needs no sort at all
  // (see Ascending).
  std::vector<Entry> TakeSorted();
  // The sorted entries of TakeSorted, handed over in the block the tally
  // kept them in: a tally of millions of values is not copied.
  class SortedEntries;
  SortedEntries TakeSortedInPlace();

  // True while every distinct value came after the smaller ones (keys that
  // never decrease, as in a column of ids, times or a sorted export). Such a
  // tally keeps its entries in one sorted array, appended to without hashing;
  // the first key smaller than the last one moves them into the hash table,
  // and the tally goes on as if it had been one from the start. Either way
  // each entry takes its additions in the order they come, so the payloads,
  // the totals and the first occurrences are the same.
  bool Ascending() const { return ascending_; }

 private:
  // A slot is an entry whose value holds the key's bits while the tally
  // fills (a NaN pattern when empty); the first occurrences that differ from
  // their key are kept aside, so the common value that is its own 15-digit
  // form costs nothing extra, and sorting hands the slots over in place.
  using Slot = Entry;
  struct Pending {
    double value, key, weight, target;
  };
  static constexpr std::size_t kLag = 32;

  Slot& FindOrAdd(std::uint64_t key, double value) const;
  // The entry of a new key: its first occurrence is noted where it differs.
  Slot NewSlot(std::uint64_t key, double value) const;
  const Slot* Home(std::uint64_t key) const;
  void Place(const Pending& p) const;
  // An empty tally: an ascending array with room for a few entries.
  void Reset() const;
  // The ascending array's entries moved into a hash table (see Ascending).
  void LeaveAscending() const;
  // The table at twice its size, grown where it lies (see tally.cpp).
  void Grow() const;
  // Every slot: the ascending array's entries, or the table's slots with
  // the empty ones among them.
  std::span<Slot> AllSlots() const { return {slots_.get(), ascending_ ? size_ : capacity_}; }

  struct FreeSlots {
    void operator()(Slot* p) const;
  };
  // The look-ahead of Add is no part of the tally's value: Flush, which
  // places what it holds, is const. The slots are a malloc'd block, so that
  // growing it need not hold the old and the new table at once.
  mutable std::unique_ptr<Slot[], FreeSlots> slots_;
  mutable std::size_t capacity_ = 0;
  // The slots hold the distinct values in ascending key order, packed from
  // the front (size_ of the capacity_ slots used), not a hash table.
  mutable bool ascending_ = true;
  mutable unsigned shift_ = 64;  // a key's home slot is the top bits of its hash
  mutable std::size_t size_ = 0;
  mutable std::unordered_map<std::uint64_t, double> firsts_;  // key -> first occurrence, where they differ
  mutable std::array<Pending, kLag> pending_{};
  mutable std::size_t read_ = 0, placed_ = 0;
  double abs_weights_ = 0;  // while at most 1e300 no value's weight total can overflow
  TallyTotals totals_;
};

template <typename Payload>
class Tally<Payload>::SortedEntries {
 public:
  std::span<const Entry> entries() const { return {block_.get(), size_}; }

 private:
  friend class Tally;
  std::unique_ptr<Slot[], FreeSlots> block_;
  std::size_t size_ = 0;
};

// Texts one after the other in one buffer, each found by its position (from
// 0, in the order they were appended). Millions of short texts cost their
// bytes and 8 bytes each, where a std::string costs 32 and more.
class PackedTexts {
 public:
  void Append(std::string_view text) {
    bytes_.append(text);
    ends_.push_back(bytes_.size());
  }
  std::size_t size() const { return ends_.size(); }
  // The view holds until the next Append.
  std::string_view operator[](std::size_t position) const {
    const std::size_t begin = position == 0 ? 0 : ends_[position - 1];
    return std::string_view(bytes_).substr(begin, ends_[position] - begin);
  }

 private:
  std::string bytes_;
  std::vector<std::uint64_t> ends_;  // where each text ends in bytes_
};

// A tally keyed by texts (a categorical predictor): each distinct text with
// its TargetSums, in order of first appearance.
class TextTally {
 public:
  // The position of `key`, added (with an empty payload) when it is new.
  std::uint32_t Position(std::string_view key);
  // Adds one complete record to the text at `position`; totals as Tally's.
  void AddAt(std::uint32_t position, double weight, double target);
  void Add(std::string_view key, double weight = 1, double target = 0) { AddAt(Position(key), weight, target); }
  void AddMissing(double amount = 1) { totals_.Missing += amount; }
  void AddAggregate(std::string_view key, const TargetSums& payload);
  void AddArrays(std::span<const std::string> keys, std::span<const double> weights = {},
                 std::span<const double> targets = {});
  void Merge(const TextTally& other);
  std::vector<unsigned char> Serialize() const;
  static TextTally Deserialize(std::span<const unsigned char> bytes);

  std::size_t Cardinality() const { return texts_.size(); }
  const TallyTotals& Totals() const { return totals_; }
  // The distinct text at `position` (positions count from 0 in order of first
  // appearance); the view holds until the next text is added.
  std::string_view Text(std::uint32_t position) const { return texts_[position]; }
  // Copies of the distinct texts in order of first appearance.
  std::vector<std::string> Texts() const;
  // Their payloads.
  const TargetSums& Of(std::uint32_t position) const { return payloads_[position]; }
  // The payload of `text`; throws std::out_of_range when it was never added.
  const TargetSums& Of(const std::string& text) const;
  // Frees the index that finds a text's position, for a finish that only
  // walks Texts(): with millions of distinct texts it is tens of megabytes.
  // A later Position or Of builds it again.
  void ReleaseIndex();

 private:
  // The slot of `key` in index_: the one that holds it, or the empty one
  // where it belongs.
  std::size_t SlotOf(std::string_view key, std::uint64_t hash) const;
  // The index anew, of `capacity` slots (a power of two, over twice the texts).
  void Reindex(std::size_t capacity) const;

  // Each text is kept once, in texts_. The index holds positions only: a
  // slot is the top 32 bits of the text's hash and its position + 1 (0:
  // empty), at most half full. A categorical predictor of millions of short
  // distinct texts then costs their bytes, 8 bytes of end and 16 of index
  // each, where a std::string and a second copy in a hash map's node took
  // over 100.
  PackedTexts texts_;
  std::vector<TargetSums> payloads_;
  mutable std::vector<std::uint64_t> index_;  // rebuilt when needed after ReleaseIndex
  TallyTotals totals_;
};

// How a finish reports its phases to a progress window: the status text and
// the bar's value (0 to 99).
using PhaseFn = std::function<void(const char* status, int bar)>;

extern template class Tally<CountWeight>;
extern template class Tally<TargetSums>;
extern template class Tally<Weight>;

}  // namespace qel
