// The univariate run: descriptive statistics of one numeric field of an open
// recordset, optionally weighted by a second field.
//
//   qeldata::Recordset& rs = ...;            // open, any cursor
//   if (qel::Univariate_Run(rs, "Salary", "", false))
//     use(qel::UnivariateRunRecord().Mean);
//
// The run reads every record once and tallies the distinct values of the field
// under their 15-significant-digit form (values that print alike are one value,
// -0 is 0). It then sorts the distinct values and derives every statistic in
// two passes over them, so its memory grows with the number of distinct values,
// not with the number of records.
#pragma once

#include <string>

#include "qeldata/aggregate.h"
#include "qeldata/recordset.h"
#include "qelStatsLib/results.h"
#include "qelStatsLib/tally.h"

namespace qel {

// The calling thread's run record. Every object on a thread shares it; the
// analysis object copies it out right after each run.
UnivariateRecord& UnivariateRunRecord();

// Computes the statistics of `fieldName` over `rs` into UnivariateRunRecord().
//
// Moves `rs` to its first record, reads it to its end and leaves it open.
// `weightField` empty or all spaces means every record weighs 1; otherwise a
// record whose value or weight is null counts once in Missing and nowhere else.
// When `showStatus` is true, a progress window of CurrentPresenter() shows the
// phases (bar 0, 73, 58, 99) and is unloaded at the end.
//
// Returns true when every statistic was computed. Returns false, and raises
// nothing, when the run stops early (the reason in LastStopReason()); the statistics computed before the stop
// stay in the record, the rest are 0. It stops on: a text or date field
// (129, 130, 200, 202, 7); an unknown field or weight field; a value or weight
// that is no number (or not finite); no usable value at all; a total weight of
// exactly 2 or 3 (the kurtosis correction divides by zero there); and any
// division by zero, invalid operation or overflow in the arithmetic.
bool Univariate_Run(qeldata::Recordset& rs, const std::string& fieldName, const std::string& weightField,
                    bool showStatus);

// The same run with its reading pass in the database: one aggregate query
// over the source of `reader` (see RunOptions::InDatabase in run_options.h
// for how its results agree with Univariate_Run's). The type check, the
// results, the progress phases and every reason to return false are those of
// Univariate_Run; the database's own failures (a query it rejects, a lost
// connection) are reasons too, with its SQLSTATE and message.
bool Univariate_RunInDatabase(qeldata::AggregateReader& reader, const std::string& fieldName,
                              const std::string& weightField, bool showStatus);

// The tally of a univariate run read from records: each distinct value with
// its total weight. The runs that share their tally with the outlier analysis
// (in the database, the public API) finish a Tally<CountWeight> instead.
using UnivariateTally = Tally<Weight>;

// The finish of the univariate analysis: every statistic of `tally` into
// `rec` (reset first; N, WgtN, Missing and Sum are the tally's totals, Sum its
// weighted sum). The tally is emptied of its values. Returns false, with the
// reason in `*reason` when given, where Univariate_Run returns false after its
// reading pass: no value at all, a total weight of 2 or 3, an arithmetic
// fault; the statistics computed before the stop stay in `rec`. `phase`, when
// given, is told "Sorting Data" (73), "Building Summary Statistics" (58) and
// "Building Skewness and Kurtosis" (99). With a million distinct values and
// more (and two processors), the skewness and kurtosis sums are computed on a
// second thread during the summary pass, term by term in the same order, so
// they are the same doubles; the thread has ended when the call returns.
bool Univariate_Finish(UnivariateTally& tally, UnivariateRecord& rec, std::string* reason = nullptr,
                       const PhaseFn& phase = {});
bool Univariate_Finish(Tally<CountWeight>& tally, UnivariateRecord& rec, std::string* reason = nullptr,
                       const PhaseFn& phase = {});

}  // namespace qel
