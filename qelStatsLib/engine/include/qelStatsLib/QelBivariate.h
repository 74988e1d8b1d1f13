// QelBivariate: segmentation of a predictor field against a numeric target.
//
//   qel::QelBivariate biv;
//   biv.SetDataSource(recordset);          // or SetConnectionString + SetSource
//   biv.SetPredictorField("Age");
//   biv.SetTargetField("Salary");
//   biv.SetBinCount(10);
//   if (biv.Run()) { auto table = biv.ResultSet(); double psi = biv.PSI(); }
//
// Run never throws: a failed check shows "Error: " + the description through
// the presenter (qel::CurrentPresenter), a failed run shows its own message.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "qeldata/recordset.h"
#include "qelStatsLib/analysis_input.h"
#include "qelStatsLib/modBivariate.h"

namespace qel {

class QelBivariate : public AnalysisOf<BivariateRecord> {
 public:
  // The error source of Run's parameter checks.
  static constexpr std::string_view kErrorSource = "Build Bivariate";

  QelBivariate() : AnalysisOf("QelStatsLib.QelBivariate", true) {}

  // Inputs beside AnalysisInput's. Setters store the value unchanged; Run checks them.
  const std::string& TargetField() const { return target_field_; }
  void SetTargetField(std::string value) { target_field_ = std::move(value); }
  const std::string& PredictorField() const { return predictor_field_; }
  void SetPredictorField(std::string value) { predictor_field_ = std::move(value); }
  std::int16_t BinCount() const { return bin_count_; }
  void SetBinCount(std::int16_t value) { bin_count_ = value; }
  // Input and result: true before Run forces categorical treatment; after Run
  // it tells the treatment the run chose.
  bool Categorical() const { return categorical_; }
  void SetCategorical(bool value) { categorical_ = value; }

  // Results of the last Run (after a failed check: the thread's run record),
  // one getter per row of kBivariateResults.
  double TargetMean() const { return results_.TargetMean; }
  double N() const { return results_.N; }
  double Missing() const { return results_.Missing; }
  double DI() const { return results_.DI; }
  double PSI() const { return results_.PSI; }
  // The distinct-value count of the most recent run on this thread, by any object.
  double Cardinality() const;
  // While the thread's cancel flag is set (a cancelled or failed run), a new
  // empty table with the six columns "Bin", "N", "Min ", "Max ", "Mean ",
  // "Index"; otherwise a clone of the last run's table, or nullptr when there
  // is none. Never throws.
  std::shared_ptr<qeldata::Recordset> ResultSet() const;

  // Checks the inputs and runs the segmentation. Returns true when it produced
  // a result table, false otherwise (the reason went to a message box).
  bool Run();

 private:
  std::string target_field_;
  std::string predictor_field_;
  std::int16_t bin_count_ = 20;
  bool categorical_ = false;
  std::shared_ptr<qeldata::Recordset> result_set_;
};

}  // namespace qel
