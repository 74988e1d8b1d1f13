// What the univariate, outlier and bivariate commands print: the failure
// first, then each answer's settings, the analysis's results in the order of
// its result table, and its result table, in the chosen output format.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli_common.h"
#include "qelStatsLib/analysis_input.h"
#include "qelStatsLib/describe.h"
#include "qelStatsLib/results.h"
#include "qeldata/recordset.h"
#include "reading_options.h"
#include "rows_groups.h"
#include "table_output.h"

namespace qelcli {

// One answer: the whole input's, or one group's under --by.
struct AnalysisAnswer {
  bool ran = false;
  // Why not, when !ran: one line naming the field (and file, line, cell).
  std::string reason;
  qeldata::Value key;  // the group's key, under --by
  // Under --by: a failure before any group was read (a field the input does
  // not have, an input that cannot be opened), which is the whole input's.
  bool whole_input = false;
  std::vector<std::pair<std::string_view, double>> results;
  // Results asked for beyond the analysis's table (the percentiles).
  std::vector<std::pair<std::string, double>> extra;
  std::optional<bool> categorical;  // after the results, where the analysis has it
  std::shared_ptr<qeldata::Recordset> table;
  double target_mean = 0;  // a segmentation's, for its warnings
};

// The results of `record`, one (name, value) row per row of `table`.
template <typename Record, std::size_t N>
std::vector<std::pair<std::string_view, double>> ResultRows(const qel::ResultMember<Record> (&table)[N],
                                                            const Record& record) {
  std::vector<std::pair<std::string_view, double>> rows;
  rows.reserve(N);
  for (const qel::ResultMember<Record>& r : table) rows.emplace_back(r.name, record.*r.member);
  return rows;
}

// An answer that failed before any record was read: `reason`, and the
// results of an analysis that computed nothing. `whole_input` under --by.
template <typename Record, std::size_t N>
AnalysisAnswer FailedBeforeReading(const qel::ResultMember<Record> (&table)[N], std::string reason, bool grouped) {
  AnalysisAnswer a;
  a.reason = std::move(reason);
  a.whole_input = grouped;
  a.results = ResultRows(table, Record{});
  return a;
}

// Sets what every analysis reads from the command line: the input, the
// weight field when one is given, and whether the reading pass runs in the
// database (--in-database).
inline void SetInput(qel::AnalysisInput& analysis, const InputSpec& input, const Args& args) {
  analysis.SetConnectionString(input.connection_string);
  analysis.SetSource(input.source);
  if (auto weight = args.Get("weight")) analysis.SetWeightField(*weight);
  analysis.SetRunOptions({.InDatabase = args.Has("in-database")});
}

// The answer of an outlier or bivariate class's Run: what it returned, its
// result table, its results in the order of `table`, and why it stopped: the
// message a failed check showed the user, else the class's StopReason (an
// analysis that stops inside says nothing itself).
template <typename Analysis, typename Record, std::size_t N>
AnalysisAnswer RunAnswer(Analysis& analysis, const qel::ResultMember<Record> (&table)[N],
                         const CliPresenter& presenter) {
  AnalysisAnswer a;
  a.ran = analysis.Run();
  a.table = analysis.ResultSet();
  a.results = ResultRows(table, analysis.Results());
  a.reason = presenter.messages().empty() ? analysis.StopReason() : presenter.messages().back();
  return a;
}

// Appends one answer per group of `field` (weighted by `weight`, grouped by
// `group` when given; one group without it), read in one pass with the
// progress line `caption`: what `finish(tally)` makes of the group's tally,
// under the group's key. A data-layer error while reading is one answer
// failed before reading (FailedBeforeReading), the whole input's under --by.
template <typename Record, std::size_t N, typename Finish>
void AnswerGroups(std::vector<AnalysisAnswer>& answers, const qel::ResultMember<Record> (&table)[N],
                  const InputSpec& input, const std::string& field, const std::string& weight,
                  const std::optional<std::string>& group, const std::string& caption, const Args& args,
                  Finish finish) {
  qel::DescribeRequest request;
  request.fields = {field};
  request.weight_field = weight;
  request.group_field = group.value_or("");
  try {
    for (qel::DescribeGroup& g : ReadGroups(input, request, caption, !args.Has("no-progress"))) {
      answers.push_back(finish(g.fields.front()));
      answers.back().key = g.key;
    }
  } catch (const qeldata::Error& e) {
    answers.push_back(FailedBeforeReading(table, e.description(), group.has_value()));
  }
}

// How a command's answers are printed.
struct AnswerLayout {
  // --format and --precision of `args`.
  AnswerLayout(std::string command_, const Args& args, bool tables_)
      : command(std::move(command_)), format(OutputFormat(args)), precision(OutputPrecision(args)), tables(tables_) {}

  std::string command;  // "univariate", for the failure line
  Format format = Format::kTable;
  int precision = 7;
  // The settings shown before Run in the table form (Field, Weight, Rule, ...).
  std::vector<std::pair<std::string, Cell>> heading;
  std::optional<std::string> by;  // the group field: one answer per group
  // The analysis gives a result table: CSV prints the tables (else one row of
  // results per answer), and each group's JSON carries its "ResultSet".
  bool tables = false;
};

// The answers, with the first failure said first (on stderr, and as the first
// line of the table and Markdown forms). JSON: {"Run", "error", the results,
// "Categorical", "ResultSet", "messages"}, or under --by {"Run", "error",
// "By", "groups": [{"key", "Run", "error", the results, ...}], "messages"}.
// Returns true when every answer ran.
bool PrintAnswers(const std::vector<AnalysisAnswer>& answers, const AnswerLayout& layout,
                  const std::vector<std::string>& messages);

}  // namespace qelcli
