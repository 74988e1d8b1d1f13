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

namespace qel {

// One member of the class's dual interface, in slot order.
struct UnivariateMember {
  enum class Kind { kGet, kLet, kSet, kMethod };
  int slot;                   // 1-based, after the standard dispatch methods
  std::string_view name;
  Kind kind;
  std::string_view type;      // "double", "string", "boolean", "object"; a method's return type
  std::uint32_t dispatch_id;
  std::string_view help_text; // none are published for this class's members
};

class QelUnivariate {
 public:
  // How the class describes itself to clients.
  static constexpr std::string_view kDescription =
      "Calculate Univariate statistics for given input field on a recordset.";
  // The 34 members of _QelUnivariate in slot order, with their dispatch ids.
  static const std::array<UnivariateMember, 34> kMembers;
  // The error source of Run's parameter checks.
  static constexpr std::string_view kErrorSource = "Build Univariates";

  QelUnivariate() = default;
  QelUnivariate(const QelUnivariate&) = delete;
  QelUnivariate& operator=(const QelUnivariate&) = delete;

  // Results of the last Run that reached the statistics (0 before).
  double Uniques() const { return uniques_; }
  double CV() const { return cv_; }
  double Kurtosis() const { return kurtosis_; }
  double Skewness() const { return skewness_; }
  double Q3() const { return q3_; }
  double Q1() const { return q1_; }
  double IQR() const { return iqr_; }
  double Median() const { return median_; }
  double Range() const { return range_; }
  double Mode() const { return mode_; }
  double WgtN() const { return wgt_n_; }
  double Sum() const { return sum_; }
  double Max() const { return max_; }
  double Min() const { return min_; }
  double TrimmedMean() const { return trimmed_mean_; }
  double Mean() const { return mean_; }
  double Variance() const { return variance_; }
  double Stdev() const { return stdev_; }
  double Cardinality() const { return cardinality_; }
  double N() const { return n_; }
  double Missing() const { return missing_; }

  // Settings, stored as given (no trimming, no checks until Run).
  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(std::string name) { field_name_ = std::move(name); }
  const std::string& ConnectionString() const { return connection_string_; }
  void SetConnectionString(std::string connection) { connection_string_ = std::move(connection); }
  bool showStatus() const { return show_status_; }
  void SetshowStatus(bool show) { show_status_ = show; }
  const std::string& WeightField() const { return weight_field_; }  // blank: unweighted
  void SetWeightField(std::string name) { weight_field_ = std::move(name); }
  const std::string& Source() const { return source_; }
  void SetSource(std::string source) { source_ = std::move(source); }

  // Stores the reference (the caller keeps its own). A connected recordset
  // also gives its connection string and source to ConnectionString and
  // Source. An empty pointer is stored, then refused with kErrObjectRequired.
  void SetDataSource(std::shared_ptr<qeldata::Recordset> recordset);
  std::shared_ptr<qeldata::Recordset> DataSource() const { return data_source_; }

  // Computes the statistics (see the top of this file). Returns true when all
  // were computed, false when the computation stopped early.
  bool Run();

 private:
  void CopyResults();

  std::shared_ptr<qeldata::Recordset> data_source_;
  std::string source_;
  std::string weight_field_;
  bool show_status_ = false;
  std::string connection_string_;
  std::string field_name_;
  double missing_ = 0, n_ = 0, cardinality_ = 0, stdev_ = 0, variance_ = 0, mean_ = 0, trimmed_mean_ = 0, min_ = 0,
         max_ = 0, sum_ = 0, wgt_n_ = 0, mode_ = 0, range_ = 0, median_ = 0, iqr_ = 0, q1_ = 0, q3_ = 0, skewness_ = 0,
         kurtosis_ = 0, uniques_ = 0, cv_ = 0;
  // The recordset being read; held only while Run works.
  std::shared_ptr<qeldata::Recordset> input_;
};

}  // namespace qel
