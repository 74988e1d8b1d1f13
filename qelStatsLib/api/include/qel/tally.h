// Tallies: the first stage of every analysis, for callers that split the scan
// of their data themselves (threads, processes, machines). A tally keeps each
// distinct value of a field with its record count and total weight (and for a
// segmentation its target sum), plus the totals the analyses need. Fill one
// tally per part, merge them (directly or through their bytes), and finish the
// merged tally with qel::Univariate, qel::Outlier or qel::Bivariate.
//
//   qel::ValueTally part1, part2;
//   part1.AddArrays(first_half);                 // in one thread
//   part2.AddArrays(second_half);                // in another, or another process:
//   std::vector<std::uint8_t> bytes = part2.Serialize();
//   part1.Merge(qel::ValueTally::Deserialize(bytes));
//   qel::UnivariateResult r = qel::Univariate(part1);
//
// Agreement of merged tallies. A tally filled in record order and finished
// gives the results of the record-order definitions bit for bit. The merge of
// tallies of the same records split into parts (in any order of parts) gives
//   - bit for bit the same: the distinct values and their order, Cardinality,
//     N, Missing, every record count, and every total of whole-number addends
//     below 2^53 (whole weights, the default weight 1, sums of whole values):
//     such sums are exact in any order. The order statistics (Min, Max, Q1,
//     Median, Q3, Mode, Uniques, the bins and their counts) depend only on
//     these, so they agree too;
//   - possibly different in the last bits: sums of fractional numbers
//     (fractional weights, sums of non-integer values, target sums) and what
//     is derived from them (Mean, Variance, Skewness, PSI, ...), because
//     floating-point addition is not associative: (a + b) + c and a + (b + c)
//     may round differently.
// A value met in several parts keeps the double of its first occurrence in
// the left operand of the merge (the earlier part, when parts are merged in
// order). Values are told apart by their 15-significant-digit form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qel/base.h"

namespace qel {

// The tally of a univariate or outlier analysis: each distinct value with its
// records and their total weight (kept in its 15-digit form after every
// addition, so weights 0.7, 0.2 and 0.1 make exactly 1).
class QEL_API ValueTally {
 public:
  ValueTally();
  ValueTally(const ValueTally&);
  ValueTally(ValueTally&&) noexcept;
  ValueTally& operator=(const ValueTally&);
  ValueTally& operator=(ValueTally&&) noexcept;
  ~ValueTally();

  // Adds one record. NaN is null: a NaN value or weight adds 1 to Missing
  // and nothing else. Throws Error kInvalidArgument for an infinite value or
  // weight, and when a total would leave the range of a double (the tally
  // then keeps the records added before).
  void Add(double value, double weight = 1);
  // Adds records in array order, as Add one by one; `weights` empty means 1
  // each. Throws kInvalidArgument when `weights` is neither empty nor as long
  // as `values` (nothing is added then), and as Add.
  void AddArrays(std::span<const double> values, std::span<const double> weights = {});
  // Adds `count` records of `value` weighing `weight` in all, as a database's
  // `group by` returns them. Throws kInvalidArgument for a NaN or infinite
  // argument, or a count that is negative or not whole.
  void AddAggregate(double value, double count, double weight);
  // Adds every record of `other` (see the agreement rule above).
  void Merge(const ValueTally& other);

  // The tally as bytes (little-endian IEEE doubles, self-describing), to ship
  // between processes; Deserialize gives the tally back exactly. Deserialize
  // throws Error kBadBytes for bytes that are not a ValueTally's.
  std::vector<std::uint8_t> Serialize() const;
  static ValueTally Deserialize(std::span<const std::uint8_t> bytes);

  double N() const;        // records added with a usable value and weight
  double WgtN() const;     // their total weight
  double Missing() const;  // null records
  std::size_t Cardinality() const;  // distinct values

 private:
  friend struct TallyAccess;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The tally of a segmentation: each distinct predictor value with its
// records, total weight and sum of weight x target. A tally holds numeric
// predictor values or texts (text and date predictors), never both; one built
// as categorical keeps numeric predictors under their 15-digit text form, as
// the analysis does when told the predictor is categorical.
class QEL_API SegmentTally {
 public:
  // `categorical`: every distinct value will be a bin of its own.
  explicit SegmentTally(bool categorical = false);
  SegmentTally(const SegmentTally&);
  SegmentTally(SegmentTally&&) noexcept;
  SegmentTally& operator=(const SegmentTally&);
  SegmentTally& operator=(SegmentTally&&) noexcept;
  ~SegmentTally();

  // Adds one record. NaN (or std::nullopt) is null: a record with a null
  // predictor or target adds its weight to Missing (1 when the weight is NaN)
  // and nothing else. Throws Error kInvalidArgument for an infinite number,
  // a date that does not exist, a text or date added to a tally that holds
  // numbers or a number to one that holds texts.
  void Add(double predictor, double target, double weight = 1);
  void Add(const std::optional<std::string>& predictor, double target, double weight = 1);
  void Add(const std::optional<Date>& predictor, double target, double weight = 1);
  // Adds records in array order, as Add one by one; `weights` empty means 1
  // each. Throws kInvalidArgument when `target` or a non-empty `weights` is
  // not as long as `predictor` (nothing is added then), and as Add.
  void AddArrays(std::span<const double> predictor, std::span<const double> target,
                 std::span<const double> weights = {});
  void AddArrays(std::span<const std::optional<std::string>> predictor, std::span<const double> target,
                 std::span<const double> weights = {});
  // Adds every record of `other`. Throws kInvalidArgument when the two
  // tallies differ in kind (numbers or texts) or in `categorical`.
  void Merge(const SegmentTally& other);

  // As ValueTally's; Deserialize throws kBadBytes for bytes that are not a
  // SegmentTally's.
  std::vector<std::uint8_t> Serialize() const;
  static SegmentTally Deserialize(std::span<const std::uint8_t> bytes);

  bool categorical() const;
  double N() const;        // total weight of the complete records
  double Missing() const;
  std::size_t Cardinality() const;

 private:
  friend struct TallyAccess;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qel
