// QelUnivariate: descriptive statistics of one numeric field of a recordset,
// optionally weighted by a second field.
//
//   qel::QelUnivariate u;
//   u.SetConnectionString("Text;DBQ=/data");
//   u.SetSource("BaseBall.csv");
//   u.SetFieldName("Salary");
//   if (u.Run()) std::cout << u.Mean() << '\n';
//
// The object keeps settings and results only; Univariate_Run computes. Input
// comes either from a disconnected recordset given as DataSource (read as it
// is) or from Source over ConnectionString, which Run opens itself as a
// server-side, forward-only, read-only recordset and releases when it returns.
// Setting a connected recordset as DataSource copies its connection string and
// source, so Run reopens the same data.
//
// Run raises qeldata::Error (number kErrLibraryInput, source "Build
// Univariates") for a blank Source, ConnectionString or FieldName, and lets a
// data-layer error from opening the input through unchanged; the results are
// then left as they were. Every failure inside the computation makes Run return
// false instead, after replacing all 21 results with what was computed before
// the stop (the rest 0). Objects belong to the thread that created them.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "qeldata/recordset.h"
#include "qelStatsLib/analysis_input.h"
#include "qelStatsLib/modUnivariate.h"

namespace qel {

class QelUnivariate : public AnalysisOf<UnivariateRecord> {
 public:
  // How the class describes itself to clients.
  static constexpr std::string_view kDescription =
      "Calculate Univariate statistics for given input field on a recordset.";
  // The error source of Run's parameter checks.
  static constexpr std::string_view kErrorSource = "Build Univariates";

  QelUnivariate() : AnalysisOf("QelStatsLib.QelUnivariate", false) {}

  // Results of the last Run that reached the statistics (0 before), one
  // getter per row of kUnivariateResults.
  double Uniques() const { return results_.Uniques; }
  double CV() const { return results_.CV; }
  double Kurtosis() const { return results_.Kurtosis; }
  double Skewness() const { return results_.Skewness; }
  double Q3() const { return results_.Q3; }
  double Q1() const { return results_.Q1; }
  double IQR() const { return results_.IQR; }
  double Median() const { return results_.Median; }
  double Range() const { return results_.Range; }
  double Mode() const { return results_.Mode; }
  double WgtN() const { return results_.WgtN; }
  double Sum() const { return results_.Sum; }
  double Max() const { return results_.Max; }
  double Min() const { return results_.Min; }
  double TrimmedMean() const { return results_.TrimmedMean; }
  double Mean() const { return results_.Mean; }
  double Variance() const { return results_.Variance; }
  double Stdev() const { return results_.Stdev; }
  double Cardinality() const { return results_.Cardinality; }
  double N() const { return results_.N; }
  double Missing() const { return results_.Missing; }

  // The analysed field, stored as given (no trimming, no checks until Run);
  // the input settings are AnalysisInput's.
  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(std::string name) { field_name_ = std::move(name); }

  // Computes the statistics (see the top of this file). Returns true when all
  // were computed, false when the computation stopped early.
  bool Run();

 private:
  std::string field_name_;
};

}  // namespace qel
