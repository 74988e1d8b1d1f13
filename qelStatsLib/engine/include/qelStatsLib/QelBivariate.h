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
#include "qelStatsLib/run_options.h"
#include "qelStatsLib/modBivariate.h"

namespace qel {

class QelBivariate {
 public:
  // The error source of Run's parameter checks.
  static constexpr std::string_view kErrorSource = "Build Bivariate";

  QelBivariate() = default;
  QelBivariate(const QelBivariate&) = delete;
  QelBivariate& operator=(const QelBivariate&) = delete;

  // Inputs. Setters store the value unchanged; Run checks them.
  const std::string& ConnectionString() const { return connection_string_; }
  void SetConnectionString(std::string value) { connection_string_ = std::move(value); }
  const std::string& Source() const { return source_; }
  void SetSource(std::string value) { source_ = std::move(value); }
  std::shared_ptr<qeldata::Recordset> DataSource() const { return data_source_; }
  // Stores the reference. A connected recordset also fills ConnectionString
  // and Source, so that Run opens the data itself; an in-memory one leaves
  // them alone and Run reads it directly. An empty pointer is stored, then
  // throws qeldata::Error (kErrObjectRequired, "Object required").
  void SetDataSource(std::shared_ptr<qeldata::Recordset> value);
  const std::string& TargetField() const { return target_field_; }
  void SetTargetField(std::string value) { target_field_ = std::move(value); }
  const std::string& PredictorField() const { return predictor_field_; }
  void SetPredictorField(std::string value) { predictor_field_ = std::move(value); }
  const std::string& WeightField() const { return weight_field_; }  // blank: every record weighs 1
  void SetWeightField(std::string value) { weight_field_ = std::move(value); }
  std::int16_t BinCount() const { return bin_count_; }
  void SetBinCount(std::int16_t value) { bin_count_ = value; }
  bool showStatus() const { return show_status_; }
  void SetshowStatus(bool value) { show_status_ = value; }
  // Input and result: true before Run forces categorical treatment; after Run
  // it tells the treatment the run chose.
  bool Categorical() const { return categorical_; }
  void SetCategorical(bool value) { categorical_ = value; }

  // How Run reads its input (run_options.h); record by record by default. Not
  // part of the component interface: C++ hosts and the command line set it.
  const RunOptions& Options() const { return options_; }
  void SetRunOptions(const RunOptions& options) { options_ = options; }

  // Results of the last Run (after a failed check: the thread's run record),
  // one getter per row of kBivariateResults.
  const BivariateRecord& Results() const { return results_; }
  double TargetMean() const { return results_.TargetMean; }
  double N() const { return results_.N; }
  double Missing() const { return results_.Missing; }
  double DI() const { return results_.DI; }
  double PSI() const { return results_.PSI; }
  // Why the last Run returned false: a failed check's or the run's
  // description (as its message box showed it, without the prefix); empty
  // after one that returned true.
  const std::string& StopReason() const { return stop_reason_; }
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
  std::string connection_string_;
  std::string source_;
  std::shared_ptr<qeldata::Recordset> data_source_;
  std::string target_field_;
  std::string predictor_field_;
  std::string weight_field_;
  std::int16_t bin_count_ = 20;
  bool show_status_ = true;
  bool categorical_ = false;
  RunOptions options_;
  BivariateRecord results_;
  std::string stop_reason_;
  std::shared_ptr<qeldata::Recordset> result_set_;
};

}  // namespace qel
