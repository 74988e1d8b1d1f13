// qelstats univariate: descriptive statistics of one numeric field.
//
// Exit status 0 when Run computed every statistic, 1 when it stopped early
// (a text field, no usable value, a total weight of 2 or 3, ...), 2 for a
// usage error or an input error raised by Run (a blank name, a missing file,
// an unknown table), reported on stderr in one line.
//
// With --by or --percentiles the figures come from the one-pass tally of the
// describe pass and the univariate finish: the same definitions, so the same
// figures bit for bit, for every group in one reading.
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "analysis_answer.h"
#include "cli_common.h"
#include "qelStatsLib/QelUnivariate.h"
#include "qelStatsLib/describe.h"
#include "qelStatsLib/modUnivariate.h"
#include "reading_options.h"
#include "rows_groups.h"
#include "run_failure.h"
#include "table_output.h"

namespace qelcli {

namespace {

// The figures of one field's tally, with the percentiles when asked.
AnalysisAnswer Finish(qel::FieldTally& f, const std::vector<double>& levels) {
  AnalysisAnswer a;
  qel::UnivariateRecord rec;
  if (!f.numeric) {
    a.reason = "Numeric Data types only";
  } else if (!f.failure.empty()) {
    a.reason = f.failure;
  } else {
    const bool empty = f.numbers.Totals().N == 0;
    qel::NumberFinish done = qel::Describe_FinishField(f.numbers, levels);
    a.ran = done.ran;
    a.reason = std::move(done.reason);
    rec = done.record;
    for (std::size_t i = 0; i < done.percentiles.size(); ++i)
      a.extra.emplace_back(PercentileName(levels[i]), done.percentiles[i]);
    if (empty) a.reason = "no record has a usable value of '" + f.name + "'";
  }
  a.results = ResultRows(qel::kUnivariateResults, rec);
  return a;
}

}  // namespace

int RunUnivariate(const std::vector<std::string>& argv) {
  const Args args(argv, WithReadingFlags(WithCommonFlags({"in-database"})));
  args.AllowOnly(WithOutputOptions(WithReadingOptions(WithCommonFlags(
      {"csv", "connection", "source", "field", "weight", "in-database", "where", "by", "percentiles"}))));
  AnswerLayout layout("univariate", args, /*tables=*/false);
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const InputSpec input = ApplyWhere(args, ResolveReadInput(args));
  const std::string field = args.Require("field");
  const std::string weight = args.Get("weight").value_or("");
  const std::vector<double> levels = PercentileLevels(args);
  layout.by = args.Get("by");
  if (args.Has("in-database") && (layout.by || !levels.empty()))
    throw UsageError("--in-database takes neither --by nor --percentiles");

  CliPresenter presenter(layout.format == Format::kJson, !args.Has("no-progress"));
  qel::ScopedPresenter scoped(&presenter);

  std::vector<AnalysisAnswer> answers;
  if (layout.by || !levels.empty()) {
    AnswerGroups(answers, qel::kUnivariateResults, input, field, weight, layout.by, "Processing Univariate: " + field,
                 args, [&](qel::FieldTally& f) { return Finish(f, levels); });
  } else {
    qel::QelUnivariate u;
    SetInput(u, input, args);
    u.SetFieldName(field);
    u.SetshowStatus(true);  // the presenter decides whether a progress line is drawn
    AnalysisAnswer a;
    // A parameter or data-layer error raised here is an input error (exit 2).
    a.ran = u.Run();
    a.results = ResultRows(qel::kUnivariateResults, u.Results());
    a.reason = u.StopReason();
    answers.push_back(std::move(a));
  }
  for (AnalysisAnswer& a : answers) {
    if (a.ran) continue;
    // Where the run stopped, said as specifically as the input allows.
    a.reason = FailureReason(args, input, {field, weight, layout.by.value_or("")}, {field, weight}, a.reason);
    if (layout.by && !a.whole_input) a.reason = *layout.by + " = " + GroupKeyText(a.key) + ": " + a.reason;
  }

  layout.heading.emplace_back("Field", field);
  if (!weight.empty()) layout.heading.emplace_back("Weight", weight);
  return PrintAnswers(answers, layout, presenter.messages()) ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
