// The bivariate segmentation run: a predictor field cut into bins of about
// equal weighted size (or one bin per value when it is categorical), each bin
// with its count, range, target mean and index, and the segmentation's power
// (PSI) and discontinuity (DI).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "qeldata/recordset.h"

namespace qel {

// The results of the most recent bivariate run on the calling thread, shared by
// every QelBivariate object of that thread. The run's cancel flag is the
// thread's CancelFlag() (presenter.h).
struct BivariateRecord {
  double TargetMean = 0;
  double N = 0;
  double Missing = 0;
  double DI = 0;
  double PSI = 0;
  double Cardinality = 0;
  // Set by the caller before a run (true forces categorical treatment); the
  // run may turn it to true, never to false.
  bool Categorical = false;
};

// The calling thread's bivariate run record.
BivariateRecord& BivariateRunRecord();

// A new, open, empty result table with the six text columns "Bin", "N",
// "Min " + predictor, "Max " + predictor, "Mean " + target and "Index".
std::shared_ptr<qeldata::Recordset> NewBivariateTable(const std::string& predictor, const std::string& target);

// Reads `input` once from its first record and returns a clone of the result
// table, one row per bin. Results go to BivariateRunRecord().
//
// Never throws. On failure it sets the thread's cancel flag, shows
// "Com_Bivariate: Bivariate_Run " + the description through the presenter and
// returns nullptr. It clears the cancel flag when it starts, and returns
// nullptr without a message when the flag is found set at one of its five
// checkpoints (the user pressed Cancel).
std::shared_ptr<qeldata::Recordset> Bivariate_Run(qeldata::Recordset& input, const std::string& PredictorField,
                                                  const std::string& TargetField, bool showStatus,
                                                  const std::string& WeightField, std::int16_t BinCount);

}  // namespace qel
