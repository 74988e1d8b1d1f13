// qelstats univariate: descriptive statistics of one numeric field.
//
// Exit status 0 when Run computed every statistic, 1 when it stopped early
// (a text field, no usable value, a total weight of 2 or 3, ...), 2 for a
// usage error or an input error raised by Run (a blank name, a missing file,
// an unknown table), reported on stderr in one line.
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "analysis_answer.h"
#include "cli_common.h"
#include "qelStatsLib/QelUnivariate.h"
#include "reading_options.h"
#include "qelStatsLib/modUnivariate.h"

namespace qelcli {

int RunUnivariate(const std::vector<std::string>& argv) {
  const Args args(argv, WithReadingFlags(WithCommonFlags({"in-database"})));
  args.AllowOnly(WithReadingOptions({"csv", "connection", "source", "field", "weight", "json", "no-progress", "in-database"}));
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const InputSpec input = ResolveReadInput(args);
  const std::string field = args.Require("field");
  const bool json = args.Has("json");

  CliPresenter presenter(args);
  qel::ScopedPresenter scoped(&presenter);

  qel::QelUnivariate u;
  SetInput(u, input, args);
  u.SetFieldName(field);
  u.SetshowStatus(true);
  u.SetRunOptions({.InDatabase = args.Has("in-database")});  // the presenter decides whether a progress line is drawn

  // A parameter or data-layer error raised here is an input error (exit 2).
  const bool ran = u.Run();
  // A field that is text because of a few cells: which cells.
  const std::vector<std::string> notes = ran ? std::vector<std::string>{}
                                             : TextFieldNotes(input, {field, args.Get("weight").value_or("")});

  AnalysisAnswer answer(ran, notes, ResultRows(qel::kUnivariateResults, u.Results()));
  answer.heading.emplace_back("Field", field);
  if (auto weight = args.Get("weight")) answer.heading.emplace_back("Weight", *weight);
  answer.heading.emplace_back("Run", ran ? "True" : "False");
  PrintAnswer(answer, json, presenter.messages());
  // Run only says false; the run's own reason tells the user what to fix.
  if (!ran) {
    const auto empty = EmptyFileNote(args, input);
    std::cerr << "qelstats univariate: Run returned False: "
              << TerminalText(empty ? *empty : u.StopReason()) << '\n';
  }
  PrintNotes(std::cerr, notes);
  return ran ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
