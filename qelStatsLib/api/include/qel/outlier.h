// Outlying values of one numeric field, optionally weighted: statistics of the
// field and one row per distinct value with its outlier flag.
//
//   qel::OutlierResult r = qel::Outlier(salary, {}, qel::OutlierRule::kStd, 2.0);
//   for (const qel::OutlierRow& row : r.Rows)
//     if (row.Outlier) std::printf("%g (%g records)\n", row.Value, row.N);
//
// Results are those of the record-order definitions, bit for bit: the same
// doubles as the QelOutlier class and `qelstats outlier --json` on the same
// records. Values are told apart by their 15-significant-digit form.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qel/base.h"
#include "qel/table.h"
#include "qelStatsLib/statistics.h"

namespace qel {

class ValueTally;

// How an outlier is found.
enum class OutlierRule : int {
  // Outside Mean +- parm * Stdev (strictly on both sides).
  kStd = 1,
  // Trims parm percent of the weight (half from each end, whole values) and
  // flags the values outside +- parm/2 percent of the mean of what is left.
  // parm must lie in 1..100.
  kTrimmedMean = 2,
};

// One distinct value of the field ("Value", "N", "Weighted N", "Outlier").
struct OutlierRow {
  double Value = 0;      // the distinct value (its first occurrence)
  double N = 0;          // records with this value
  double WeightedN = 0;  // their total weight (equal to N when unweighted)
  bool Outlier = false;
};

// The statistics under the class's property names, the rows in ascending
// order of Value, and whether the analysis ran to its end.
struct OutlierResult : OutlierStatistics {
  // One row per distinct value, ascending; empty when not Complete.
  std::vector<OutlierRow> Rows;
  // False when the analysis stopped before its end (the class then returns no
  // table): no usable value at all (only Missing set), a total weight of
  // exactly 1 (the variance divides by zero) or below 1 (its square root
  // fails), the trimmed-mean rule trimming all the weight, or any other
  // division by zero, invalid operation or overflow. The statistics reached
  // stay, the others are 0, and Rows is empty.
  bool Complete = false;
  std::string Reason;  // why it stopped, in one line; empty when Complete
};

// The outliers of `values`, weighted by `weights` (empty: every value weighs
// 1), in array order.
// - NaN is null: a NaN value, or a NaN weight, counts once in Missing and
//   nowhere else. Empty input, or only nulls, gives Complete false.
// - Throws Error kInvalidArgument when `weights` is neither empty nor as long
//   as `values`, when a value or weight is infinite, when `parm` is not
//   finite, or for kTrimmedMean when `parm` lies outside 1..100.
QEL_API OutlierResult Outlier(std::span<const double> values, std::span<const double> weights, OutlierRule rule,
                              double parm);

// The outliers of the field `field` of `table`, weighted by the field `weight`
// (empty or blank: unweighted), in record order. Throws as Univariate over a
// table does (kNoSuchField, kFieldType, kData, kInvalidArgument), and as the
// array form for `rule` and `parm`; stops at a value that is no number as it
// does.
QEL_API OutlierResult Outlier(const Table& table, std::string_view field, std::string_view weight, OutlierRule rule,
                              double parm);

// The finish of the analysis over a tally (see qel/tally.h); the tally is not
// changed. Throws as the array form for `rule` and `parm`.
QEL_API OutlierResult Outlier(const ValueTally& tally, OutlierRule rule, double parm);

}  // namespace qel
