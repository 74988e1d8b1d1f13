// Descriptive statistics of one numeric field, optionally weighted.
//
//   std::vector<double> salary = {...}, weight = {...};
//   qel::UnivariateResult r = qel::Univariate(salary, weight);
//   std::printf("mean %g, median %g, IQR %g\n", r.Mean, r.Median, r.IQR);
//
//   qel::UnivariateResult t = qel::Univariate(qel::Table::Csv("BaseBall.csv"), "Salary", "Weight");
//
// Results are those of the record-order definitions, bit for bit: the same
// doubles as the QelUnivariate class and `qelstats univariate --json` on the
// same records. Values are told apart by their 15-significant-digit form
// (2.5 and 2.50000000000000001 are one value, -0 is 0). Weights are frequency
// weights: a record of weight w counts as w observations of its value; zero
// and negative weights are used as given.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "qel/base.h"
#include "qel/table.h"
#include "qelStatsLib/statistics.h"

namespace qel {

class ValueTally;

// The 21 statistics under the class's property names (statistics.h), and
// whether the analysis ran to its end.
struct UnivariateResult : UnivariateStatistics {
  // False when the analysis stopped before its end, as the class's Run
  // returns False; the statistics reached stay, the others are 0. It stops
  // when there is no usable value at all (then only Missing is set), when the
  // total weight is exactly 2 or 3 (the kurtosis correction divides by zero:
  // everything up to CV is set, Skewness and Kurtosis are 0), and on any other
  // division by zero, invalid operation or overflow.
  bool Complete = false;
  // Why it stopped, in one line; empty when Complete.
  std::string Reason;
};

// The statistics of `values`, weighted by `weights` (empty: every value
// weighs 1), in array order.
// - NaN is null: a NaN value, or a NaN weight, counts once in Missing and
//   nowhere else. Empty input, or only nulls, gives Complete false with
//   Missing the number of nulls and everything else 0.
// - Throws Error kInvalidArgument when `weights` is neither empty nor as long
//   as `values`, or when a value or weight is infinite (or a value is too
//   large for its 15-digit form).
QEL_API UnivariateResult Univariate(std::span<const double> values, std::span<const double> weights = {});

// The statistics of the field `field` of `table`, weighted by the field
// `weight` (empty or blank: unweighted), in record order.
// - A null value, or a null weight, counts once in Missing.
// - Throws Error kNoSuchField for a field or weight field the table lacks,
//   kFieldType for a text or date field, kData when the table cannot be
//   opened, and kInvalidArgument for a blank `field`.
// - Stops (Complete false) as the array form does, and also at a value or
//   weight that cannot be read as a number (Reason names the record), as the
//   class's Run returns False there.
QEL_API UnivariateResult Univariate(const Table& table, std::string_view field, std::string_view weight = {});

// The statistics of a tally (see qel/tally.h): the finish of the analysis.
// A tally filled from records in record order gives the results of the forms
// above bit for bit; a merged tally agrees as its header says. The tally is
// not changed.
QEL_API UnivariateResult Univariate(const ValueTally& tally);

}  // namespace qel
