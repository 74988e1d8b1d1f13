// Segmentation of a predictor against a numeric target: the sorted predictor
// values cut into at most `bins` bins of about equal weighted size (or one bin
// per value when the predictor is categorical), each bin with its weighted
// count, range, target mean and index, and the segmentation's power (PSI)
// and discontinuity (DI).
//
//   qel::BivariateResult r = qel::Bivariate(at_bats, salary, {}, 4);
//   for (const qel::BivariateRow& row : r.Rows)
//     std::printf("bin %d: mean %g, index %d\n", row.Bin, row.Mean.value_or(0), row.Index.value_or(0));
//
// Results are those of the record-order definitions, bit for bit: the same
// doubles as the QelBivariate class and `qelstats bivariate --json` on the
// same records (whose table holds the same numbers as text).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "qel/base.h"
#include "qel/table.h"

namespace qel {

class SegmentTally;

// A bin's lowest or highest predictor value: a number (rounded to 5 decimal
// places when the predictor was cut into bins, as read when each value is its
// own bin), or a text (a text or date predictor, and a numeric predictor that
// was declared categorical: then its 15-digit text form).
using PredictorValue = std::variant<double, std::string>;

// One bin: "Bin", "N", "Min <predictor>", "Max <predictor>", "Mean <target>", "Index".
struct BivariateRow {
  int Bin = 0;                        // 1, 2, ... in predictor order
  double N = 0;                       // total weight of the bin's records
  PredictorValue Min;
  PredictorValue Max;
  std::optional<double> Mean;         // weighted target mean, rounded to 5 decimal places; none when N is 0
  std::optional<std::int32_t> Index;  // Mean * 100 / TargetMean, rounded half to even; none when TargetMean is 0
};

// The results under the class's property names, the bins, and whether the
// analysis ran to its end.
struct BivariateResult {
  double PSI = 0;          // weighted standard deviation of the bin means around TargetMean
  double DI = 0;           // percentage of bin pairs whose means fall as the predictor rises
  double N = 0;            // total weight of the complete records
  double Missing = 0;      // records (weighted: their weights) with a null predictor or target; 1 per null weight
  double TargetMean = 0;   // weighted mean of the target
  double Cardinality = 0;  // distinct predictor values
  bool Categorical = false;  // true when each distinct value became a bin
  std::vector<BivariateRow> Rows;
  // False when the analysis stopped before its end (the class then returns no
  // table): no complete record (the target mean divides by zero), a total
  // weight of 0, an index beyond 32 bits, or any other arithmetic fault. The
  // results reached stay, the others are 0, and Rows is empty.
  bool Complete = false;
  std::string Reason;  // why it stopped, in one line; empty when Complete
};

// The segmentation of a numeric `predictor` against `target`, weighted by
// `weights` (empty: every record weighs 1), in array order. `categorical`
// true makes every distinct predictor value a bin of its own, ordered by its
// 15-digit text form; with no more distinct values than `bins` that happens
// anyway (in numeric order).
// - NaN is null: a record whose predictor or target is NaN counts in Missing
//   (its weight, or 1 when the weight is NaN) and nowhere else. Empty input,
//   or only incomplete records, gives Complete false.
// - Throws Error kInvalidArgument when `target` or a non-empty `weights` is
//   not as long as `predictor`, when a number is infinite, or when `bins`
//   lies outside 1..32767.
QEL_API BivariateResult Bivariate(std::span<const double> predictor, std::span<const double> target,
                                  std::span<const double> weights, int bins, bool categorical = false);
// The same with a text predictor (always categorical; bins in text order, by
// bytes). std::nullopt is null.
QEL_API BivariateResult Bivariate(std::span<const std::optional<std::string>> predictor,
                                  std::span<const double> target, std::span<const double> weights, int bins);
// The same with a date predictor (always categorical; bins in time order,
// Min and Max as "YYYY-MM-DD[ HH:MM:SS]"). std::nullopt is null. Throws
// kInvalidArgument for a date that does not exist.
QEL_API BivariateResult Bivariate(std::span<const std::optional<Date>> predictor, std::span<const double> target,
                                  std::span<const double> weights, int bins);

// The segmentation of the field `predictor` of `table` against its field
// `target`, weighted by the field `weight` (empty or blank: unweighted), in
// record order. Text and date predictors are categorical.
// - Throws Error kNoSuchField for a field the table lacks, kFieldType for a
//   long text predictor or a text or date target or weight, kData when the
//   table cannot be opened, kInvalidArgument for a blank field name or `bins`
//   outside 1..32767.
// - Stops (Complete false) as the array forms do, and also at a target or
//   weight that cannot be read as a number (Reason says which).
QEL_API BivariateResult Bivariate(const Table& table, std::string_view predictor, std::string_view target,
                                  std::string_view weight, int bins, bool categorical = false);

// The finish of the analysis over a tally (see qel/tally.h); the tally is not
// changed. Throws kInvalidArgument for `bins` outside 1..32767.
QEL_API BivariateResult Bivariate(const SegmentTally& tally, int bins);

}  // namespace qel
