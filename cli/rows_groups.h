// Rows and groups: --where (an SQL condition on the input's rows), --by (one
// result per group, every group in one pass) and --percentiles, for every
// analysis command; and the one-pass reading with its progress line.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli_common.h"
#include "qelStatsLib/describe.h"
#include "qelStatsLib/presenter.h"
#include "qeldata/recordset.h"

namespace qelcli {

// The input with --where COND applied: "select * from [file] where COND" for
// --csv, "select * from (SOURCE) as qel_rows where COND" around an SQL
// source, "select * from TABLE where COND" around a table name. Unchanged
// without --where. Throws UsageError for an empty condition and for one that
// holds a ';' outside quotes (one statement only).
InputSpec ApplyWhere(const Args& args, InputSpec input);

// The levels of --percentiles 1,5,95,99 as shares (0.01, ...), in the given
// order; empty without the option. Throws UsageError for a level that is no
// number from 0 to 100.
std::vector<double> PercentileLevels(const Args& args);
// "P5", "P2.5", "P99.9": the name of the figure of a level given in percent.
std::string PercentileName(double share);

// A group key as text ("(null)" for the null group) and as JSON.
std::string GroupKeyText(const qeldata::Value& key);
std::string GroupKeyJson(const qeldata::Value& key);

// Opens the input forward-only and runs the describe pass over it, with a
// progress window (`caption`, "Reading Data") unless `show_progress` is
// false. Errors of the data layer and of the pass propagate.
std::vector<qel::DescribeGroup> ReadGroups(const InputSpec& input, const qel::DescribeRequest& request,
                                           const std::string& caption, bool show_progress);

// The progress window of a one-pass reading, from the current presenter:
// `caption`, the status "Reading Data", the bar at 0, shown. A terminal's
// line follows the share of the input read. nullptr without `show_progress`.
std::unique_ptr<qel::ProgressWindow> OpenReadingWindow(const std::string& caption, bool show_progress);

}  // namespace qelcli
