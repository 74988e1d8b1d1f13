// Fills the report's data model from an input table.
//
// This is the one place that knows where the report's figures come from:
// one pass over the input fills, per field, the tallies of the univariate,
// outlier and bivariate runs (a frequency count for a text field), and each
// field is then finished by the runs' own finishes, so the figures are the
// runs' own. A field whose reading or finish a run would stop on is left to
// that run, which reads the input again and says why.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "report_model.h"

namespace qelcli {

struct ReportRequest {
  std::string connection_string;
  std::string source;
  std::string input_name;           // shown at the top of the page
  std::string target;               // empty: no segmentation
  std::string weight;               // empty: every record weighs 1
  int bins = 10;                    // segmentation bins (1 to 32767)
  std::vector<std::string> fields;  // empty: every field of the input
  double outlier_sigmas = 3;        // the standard-deviation band of the outliers
  int histogram_bins = 20;
  int top_values = 10;
  int extremes = 5;
  // Called before each field is profiled (1-based position, field count).
  std::function<void(const std::string& field, int position, int count)> on_field;
};

// Profiles the requested fields of the input. Throws UsageError (cli_common.h)
// for a field, target or weight not in the input and for a text target, and
// qeldata::Error when the input cannot be opened or read. A field whose run
// stops early gets what the run computed and a note saying why.
ReportInput BuildReportInput(const ReportRequest& request);

}  // namespace qelcli
