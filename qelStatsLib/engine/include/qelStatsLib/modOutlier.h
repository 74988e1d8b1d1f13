// The outlier run: statistics of one numeric field of an open recordset, a
// table with one row per distinct value, and an outlier flag on each row.
//
//   qeldata::Recordset& rs = ...;  // open, any cursor
//   std::shared_ptr<qeldata::Recordset> rows =
//       qel::Outlier_Run(rs, "Salary", "", /*findType=*/1, /*typeParm=*/2.0, false);
//   if (rows) use(qel::OutlierRunRecord().OutlierCountN, *rows);
//
// The run reads every record once and tallies the distinct values of the field
// under their 15-significant-digit form (values that print alike are one value,
// -0 is 0), counting records and adding up weights. It then sorts the distinct
// values, derives the statistics in one walk over them and marks each as an
// outlier or not. Its memory grows with the number of distinct values, not with
// the number of records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "qeldata/aggregate.h"
#include "qeldata/recordset.h"
#include "qelStatsLib/results.h"
#include "qelStatsLib/tally.h"

namespace qel {

// The calling thread's run record. Every object on a thread shares it; the
// analysis object copies it out right after each run.
OutlierRecord& OutlierRunRecord();

// Runs the outlier analysis of `outlierField` over `input` into
// OutlierRunRecord() and returns the result table.
//
// Reads `input` from its first record to its end and leaves it open there.
// `weightField` empty or all spaces means every record weighs 1; otherwise a
// record whose value or weight is null counts once in Missing and nowhere else.
// `findType` 1 flags the values outside Mean +- typeParm * Stdev (strictly);
// 2 flags the values outside a band of +- typeParm/2 percent around the mean
// left after trimming typeParm percent of the weight (half from each end).
// When `showStatus` is true, a progress window of CurrentPresenter() shows the
// phases (bar 0, 50, 75, 86, and 99 for rule 2) and is unloaded at the end.
//
// The table has the fields "Value", "N", "Weighted N" (variable numeric, 139,
// defined size 255) and "Outlier" (boolean, 11), all nullable (32); one row per
// distinct value in ascending order; it comes back positioned after its last
// row. The caller owns it.
//
// Returns nullptr, and raises nothing, when the run stops early; the figures
// computed before the stop stay in the record and the reason is in
// LastStopReason() (results.h), which a completed run empties. It stops on: a text or date field (129, 130, 200, 202, 7); an
// unknown field or weight field; a value or weight that is no number (or not
// finite); no usable value at all; a total weight of exactly 1 (the variance
// divides by zero); a total weight below 1 (the variance is negative); the
// trimmed-mean rule trimming all the weight; and any other division by zero,
// invalid operation or overflow in the arithmetic.
std::shared_ptr<qeldata::Recordset> Outlier_Run(qeldata::Recordset& input, const std::string& outlierField,
                                                const std::string& weightField, std::int32_t findType,
                                                double typeParm, bool showStatus);

// The same run with its reading pass in the database: one aggregate query
// over the source of `reader` (see RunOptions::InDatabase in run_options.h
// for how its results agree with Outlier_Run's). The type check, the results,
// the table, the progress phases and every reason to stop are those of
// Outlier_Run; the database's own failures (a query it rejects, a lost
// connection) are reasons too, with its SQLSTATE and message.
std::shared_ptr<qeldata::Recordset> Outlier_RunInDatabase(qeldata::AggregateReader& reader,
                                                          const std::string& outlierField,
                                                          const std::string& weightField, std::int32_t findType,
                                                          double typeParm, bool showStatus);

// The options of an outlier run that its finish needs.
struct OutlierOptions {
  std::int32_t findType = 1;  // 1: mean +- typeParm standard deviations; 2: the trimmed-mean band
  double typeParm = 0;
  std::string field;  // the analysed field, for the stop reasons
};

// The finish of the outlier analysis: every statistic of `tally` into `rec`
// (reset first; N, WgtN, Sum, SumWgt and Missing are the tally's totals) and
// the result table described under Outlier_Run. The tally is emptied of its
// values.
//
// Returns nullptr, and raises nothing, where Outlier_Run stops after its
// reading pass (no usable value, a total weight of 1 or below 1, all the
// weight trimmed, an arithmetic fault), with the reason in `*reason` when
// given; the figures computed before the stop stay in `rec`. `phase`, when
// given, is told "Calculating Statistics" (50), "Sorting Data" (75),
// "Building Output" (86) and, for rule 2, "Completing process" (99).
std::shared_ptr<qeldata::Recordset> Outlier_Finish(Tally<CountWeight>& tally, const OutlierOptions& options,
                                                   OutlierRecord& rec, std::string* reason = nullptr,
                                                   const PhaseFn& phase = {});

}  // namespace qel
