// How an analysis reads its input.
//
//   qel::QelUnivariate u;
//   ...
//   u.SetRunOptions({.InDatabase = true});   // one group-by in the database
//   u.Run();
#pragma once

namespace qel {

struct RunOptions {
  // false (the default): the reading pass reads every record in record order,
  // and every result is the one of the analysis's definition, bit for bit.
  //
  // true: the reading pass is one aggregate query in the database that holds
  // the source (qeldata/aggregate.h): each distinct value of the field with
  // its record count, total weight and target sum, plus what Missing counts.
  // Only the distinct values cross the driver. The source must be a
  // connection string and a source of SQLite or ODBC; the text provider and a
  // disconnected DataSource are refused with a one-line reason
  // (qeldata::Error, kErrNotSupported), as an input that cannot be opened.
  //
  // Agreement with the record-order run: counts, N, Missing (of records),
  // Cardinality, Uniques, Min, Max, the quartiles, Median, Mode, the bins and
  // every table row's value and count are identical, and so is every result
  // when the values and weights are whole numbers (below 2^53); sums of
  // fractional values (and what is derived from them: Mean, Variance, ...)
  // may differ in the last bits, within 1e-12 relative, because the database
  // adds in its own order. Where stored values of more than 15 significant
  // digits share a 15-digit form, the one reported for them may be another of
  // them than the first in record order. The bins' target means are rounded
  // (5 decimals) from sums within 1e-12, so a mean or index may differ by one
  // unit in its last place where the sum lies at a rounding tie. A text
  // predictor's categories are grouped by the database's equality (a
  // case-insensitive collation merges "a" and "A") but always sorted by the
  // library, never in the database's collation order.
  //
  // QelUnivariate, QelOutlier and QelBivariate take it (SetRunOptions).
  bool InDatabase = false;
};

}  // namespace qel
