// What QelUnivariate, QelOutlier and QelBivariate share: where Run takes its
// records from (a DataSource, or Source opened over ConnectionString), the
// weight field, the progress window, how the records are read, and why the
// last Run stopped. Setters store the value unchanged; Run checks them.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "qeldata/recordset.h"
#include "qelStatsLib/run_options.h"

namespace qel {

class AnalysisInput {
 public:
  AnalysisInput(const AnalysisInput&) = delete;
  AnalysisInput& operator=(const AnalysisInput&) = delete;

  const std::string& ConnectionString() const { return connection_string_; }
  void SetConnectionString(std::string value) { connection_string_ = std::move(value); }
  const std::string& Source() const { return source_; }  // table name or SQL text
  void SetSource(std::string value) { source_ = std::move(value); }
  // Stores the reference (the caller keeps its own). A recordset without an
  // active connection is read directly by Run (from its first record; it is
  // left open at its end). A connected one also gives its connection string
  // and source to ConnectionString and Source, so that Run opens the data
  // anew. An empty pointer is stored, then refused with qeldata::Error
  // (kErrObjectRequired, "Object required").
  void SetDataSource(std::shared_ptr<qeldata::Recordset> value);
  std::shared_ptr<qeldata::Recordset> DataSource() const { return data_source_; }
  // Empty or all spaces: every record weighs 1.
  const std::string& WeightField() const { return weight_field_; }
  void SetWeightField(std::string value) { weight_field_ = std::move(value); }
  bool showStatus() const { return show_status_; }
  void SetshowStatus(bool value) { show_status_ = value; }

  // How Run reads its input (run_options.h); record by record by default. Not
  // part of the component interface: C++ hosts and the command line set it.
  const RunOptions& Options() const { return options_; }
  void SetRunOptions(const RunOptions& options) { options_ = options; }

  // Why the last Run returned false: a failed check's description, or why
  // the analysis stopped (an unknown field, "Numeric Data types only", ...);
  // empty after one that returned true. Not part of the component interface.
  const std::string& StopReason() const { return stop_reason_; }

 protected:
  // `error_source` names the class in the DataSource setter's error;
  // `show_status` is the class's default for showStatus.
  AnalysisInput(const char* error_source, bool show_status) : error_source_(error_source), show_status_(show_status) {}
  ~AnalysisInput() = default;

  const char* error_source_;
  bool show_status_;
  std::string connection_string_;
  std::string source_;
  std::shared_ptr<qeldata::Recordset> data_source_;
  std::string weight_field_;
  RunOptions options_;
  std::string stop_reason_;
  // The recordset a run reads; held only while Run works.
  std::shared_ptr<qeldata::Recordset> input_;
};

// An analysis class whose last Run left its results in a `Record`: the run
// record of its analysis, copied out of the thread's one when Run returns.
template <typename Record>
class AnalysisOf : public AnalysisInput {
 public:
  // The results of the last Run, read through the analysis's result table
  // (results.h) or one getter each.
  const Record& Results() const { return results_; }

 protected:
  using AnalysisInput::AnalysisInput;
  ~AnalysisOf() = default;

  Record results_;
};

}  // namespace qel
