// QelOutlier: statistics of one numeric field and its outlying values.
//
//   qel::QelOutlier outlier;
//   outlier.SetConnectionString("Text;DBQ=/data");
//   outlier.SetSource("BaseBall.csv");
//   outlier.SetOutlierField("Salary");
//   outlier.SetFindType(qel::outSTD);   // values beyond TypeParm standard deviations
//   outlier.SetTypeParm(2.0);
//   if (outlier.Run()) show(outlier.OutlierCountN(), *outlier.ResultSet());
//
// The object keeps settings and results; Run checks the settings, opens the
// input and hands it to Outlier_Run (modOutlier.h), then copies the thread's
// run record into the result properties. Run raises nothing: a failed check or
// an input that cannot be opened shows "Error: " and the description through
// CurrentPresenter().ShowMessage and makes Run return false.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "qelStatsLib/modOutlier.h"
#include "qeldata/recordset.h"
#include "qelStatsLib/analysis_input.h"

namespace qel {

// The outlier rules.
enum OutlierType : std::int32_t {
  outSTD = 1,    // values outside Mean +- TypeParm * Stdev
  outTMean = 2,  // values outside a band of +- TypeParm/2 percent around a mean trimmed by TypeParm percent
};

class QelOutlier : public AnalysisOf<OutlierRecord> {
 public:
  QelOutlier() : AnalysisOf("QelOutlier", true) {}

  // ---- Input (and AnalysisInput's) ----

  const std::string& OutlierField() const { return outlier_field_; }
  void SetOutlierField(std::string name) { outlier_field_ = std::move(name); }

  // The rule and its parameter are stored unchecked; Run checks them. The
  // component interface publishes only their setters.
  void SetFindType(OutlierType find_type) { find_type_ = find_type; }
  OutlierType FindType() const { return find_type_; }
  // outSTD: standard deviations on each side of the mean (any number).
  // outTMean: a percentage from 1 to 100.
  void SetTypeParm(double type_parm) { type_parm_ = type_parm; }
  double TypeParm() const { return type_parm_; }

  // ---- Run ----

  // Checks the settings, opens the input, runs the analysis and copies its
  // results. True when a result table was produced. False when a check or the
  // opening of the input failed (after an "Error: " message) or when the
  // analysis stopped without a table (silently; see StopReason). The result
  // properties are copied from the thread's run record on every exit, so after
  // a failed check they repeat the last run made on this thread.
  bool Run();

  // The result table of the last run that reached the analysis: one row per
  // distinct value ("Value", "N", "Weighted N", "Outlier"), positioned after
  // its last row; nullptr before the first run and after a run that stopped
  // without a table. Shared with the caller, not copied.
  std::shared_ptr<qeldata::Recordset> ResultSet() const { return result_set_; }

  // ---- Results ----
  // The results of the last Run, one getter per row of kOutlierResults.
  double Missing() const { return results_.Missing; }
  double N() const { return results_.N; }
  double Cardinality() const { return results_.Cardinality; }
  double Stdev() const { return results_.Stdev; }
  double Variance() const { return results_.Variance; }
  double Mean() const { return results_.Mean; }
  double TrimmedMean() const { return results_.TrimmedMean; }
  double Min() const { return results_.Min; }
  double Max() const { return results_.Max; }
  double Sum() const { return results_.Sum; }
  double OutlierCountWgt() const { return results_.OutlierCountWgt; }
  double OutlierCountN() const { return results_.OutlierCountN; }
  double WgtN() const { return results_.WgtN; }
  double SumWgt() const { return results_.SumWgt; }
  double Q1() const { return results_.Q1; }
  double Q3() const { return results_.Q3; }
  double Median() const { return results_.Median; }

 private:
  void CopyRunRecord();

  std::shared_ptr<qeldata::Recordset> result_set_;
  std::string outlier_field_;
  OutlierType find_type_ = outSTD;
  double type_parm_ = 1.0;
};

}  // namespace qel
