// The bivariate segmentation run: a predictor field cut into bins of about
// equal weighted size (or one bin per value when it is categorical), each bin
// with its count, range, target mean and index, and the segmentation's power
// (PSI) and discontinuity (DI).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "qeldata/aggregate.h"
#include "qeldata/recordset.h"
#include "qelStatsLib/results.h"
#include "qelStatsLib/tally.h"

namespace qel {

// The calling thread's bivariate run record.
BivariateRecord& BivariateRunRecord();

// A new, open, empty result table with the six text columns "Bin", "N",
// "Min " + predictor, "Max " + predictor, "Mean " + target and "Index".
std::shared_ptr<qeldata::Recordset> NewBivariateTable(const std::string& predictor, const std::string& target);

// Reads `input` once from its first record and returns a clone of the result
// table, one row per bin. Results go to BivariateRunRecord().
//
// Never throws. On failure it sets the thread's cancel flag, shows
// "Com_Bivariate: Bivariate_Run " + the description through the presenter,
// keeps the description in LastStopReason() (results.h) and returns nullptr. It clears the cancel flag when it starts, and returns
// nullptr without a message when the flag is found set at one of its five
// checkpoints (the user pressed Cancel; LastStopReason() says so).
std::shared_ptr<qeldata::Recordset> Bivariate_Run(qeldata::Recordset& input, const std::string& PredictorField,
                                                  const std::string& TargetField, bool showStatus,
                                                  const std::string& WeightField, std::int16_t BinCount);

// The same run with its reading pass in the database: one aggregate query
// over the source of `reader` (see RunOptions::InDatabase in run_options.h
// for how its results agree with Bivariate_Run's). The checks, the
// categorical decision, the results, the table and the failures are those of
// Bivariate_Run; the database's own failures (a query it rejects, a lost
// connection) are failures too, with its SQLSTATE and message. A text
// predictor's categories are sorted here, never in the database's collation.
std::shared_ptr<qeldata::Recordset> Bivariate_RunInDatabase(qeldata::AggregateReader& reader,
                                                            const std::string& PredictorField,
                                                            const std::string& TargetField, bool showStatus,
                                                            const std::string& WeightField, std::int16_t BinCount);

// The options of a bivariate run that its finish needs.
struct BivariateOptions {
  std::string predictor;  // the field names in the result table's column names
  std::string target;
  std::int16_t binCount = 20;  // REQUIRES: > 0
  bool categorical = false;    // one bin per distinct value, whatever their number
  bool weighted = false;       // for the stop reason of a zero weighted N
};

// The finish of the bivariate analysis: the results of `tally` into `rec` and
// the result table described under Bivariate_Run (a clone, positioned at its
// first row). N, Missing and the target mean are the tally's WgtN, Missing
// and SumWgt / WgtN; rec.Categorical becomes options.categorical, or true
// when the distinct values are no more than the bins (a text tally is always
// categorical). A numeric tally is emptied of its values.
//
// Returns nullptr, and raises nothing, where Bivariate_Run fails after its
// reading pass (a zero weighted N, an overflow, an arithmetic fault), with
// the description in `*reason` when given; and also, with `*reason` empty,
// when the thread's cancel flag is found set at one of its three checkpoints
// (Checkpoint(), presenter.h). It neither sets the flag nor shows a message.
// `phase`, when given, is told "Building Cummulative Counts" (70),
// "Assigning Bin/Segments" (83) and "Accessing Results" (99).
std::shared_ptr<qeldata::Recordset> Bivariate_Finish(Tally<TargetSums>& tally, const BivariateOptions& options,
                                                     BivariateRecord& rec, std::string* reason = nullptr,
                                                     const PhaseFn& phase = {});
std::shared_ptr<qeldata::Recordset> Bivariate_Finish(const TextTally& tally, const BivariateOptions& options,
                                                     BivariateRecord& rec, std::string* reason = nullptr,
                                                     const PhaseFn& phase = {});

}  // namespace qel
