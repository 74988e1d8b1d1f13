// The bivariate segmentation run: a predictor field cut into bins of about
// equal weighted size (or one bin per value when it is categorical), each bin
// with its count, range, target mean and index, and the segmentation's power
// (PSI) and discontinuity (DI).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

// One group of records of a segmentation by group: the reading pass of
// Bivariate_Run over the group's records alone.
struct BivariateGroup {
  qeldata::Value key;        // the grouping field's value (null for the null group)
  std::int64_t records = 0;  // records of the group
  // The group's tally: `numbers` for a numeric predictor, `texts` for a
  // categorical one (BivariateGroups::categorical).
  Tally<TargetSums> numbers;
  TextTally texts;
  // Why reading the group stopped, as Bivariate_Run words it (a target or
  // weight that is no number, a predictor value no bin can hold, a sum past
  // the range of a double), naming the field and the record counted within
  // the group; empty when every record of the group was read. The group's
  // later records are counted in `records` only.
  std::string failure;
  // The weight of the record that failed, which the run counts in N
  // (N = WgtN + in_flight, as Bivariate_Run's record says after a failure).
  double in_flight = 0;
};

struct BivariateGroups {
  // True when the groups were read as categories: a text or date predictor,
  // or `categorical` asked for.
  bool categorical = false;
  // Sorted as Describe_Tally sorts its groups: numbers ascending, then texts
  // and dates in byte order of their text, the null group last. Empty for an
  // input without records.
  std::vector<BivariateGroup> groups;
};

// Reads `input` once from its first record and tallies the predictor and
// target of each group of `GroupField` as Bivariate_Run tallies them,
// record by record in record order: Bivariate_Finish over a group's tally
// (BivariateOptions::categorical = BivariateGroups::categorical) gives
// Bivariate_Run's results and table over that group's records alone (the
// input filtered to the group) bit for bit, and a group's `failure` is that
// run's. Groups are keyed as Describe_Tally keys them. Memory grows with the
// distinct predictor values of each group, not with the records.
//
// Throws qeldata::Error where Bivariate_Run fails before it reads a record,
// for every group alike: an unknown predictor, target, weight or grouping
// field, a predictor of long texts or binary data, a target or weight of
// binary data; and any error of the data layer while reading.
BivariateGroups Bivariate_TallyGroups(qeldata::Recordset& input, const std::string& PredictorField,
                                      const std::string& TargetField, const std::string& WeightField,
                                      const std::string& GroupField, bool categorical);

}  // namespace qel
