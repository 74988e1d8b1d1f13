// qelstats bivariate: segmentation of a predictor against a target.
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>

#include "analysis_answer.h"
#include "cli_common.h"
#include "qelStatsLib/QelBivariate.h"
#include "reading_options.h"

namespace qelcli {

namespace {

std::int16_t ParseBins(const std::string& text) {
  const auto n = qeldata::ParseNumber(text);
  if (!n || *n < std::numeric_limits<std::int16_t>::min() || *n > std::numeric_limits<std::int16_t>::max() ||
      *n != std::trunc(*n))
    throw UsageError("option --bins needs a whole number from -32768 to 32767, not '" + text + "'");
  return static_cast<std::int16_t>(*n);
}

}  // namespace

int RunBivariate(const std::vector<std::string>& argv) {
  const Args args(argv, WithReadingFlags(WithCommonFlags({"categorical", "in-database"})));
  args.AllowOnly(WithReadingOptions(WithCommonFlags(
      {"csv", "connection", "source", "predictor", "target", "weight", "bins", "categorical", "in-database"})));
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const InputSpec input = ResolveReadInput(args);
  const std::string predictor = args.Require("predictor");
  const std::string target = args.Require("target");
  // --bins is the 16-bit BinCount; 0 and negative counts reach Run, which
  // refuses them with its own message (exit status 1).
  const std::int16_t bins = ParseBins(args.Require("bins"));
  const bool json = args.Has("json");

  CliPresenter presenter(args);
  qel::ScopedPresenter scoped(&presenter);

  qel::QelBivariate biv;
  SetInput(biv, input, args);
  biv.SetPredictorField(predictor);
  biv.SetTargetField(target);
  biv.SetBinCount(bins);
  if (args.Has("categorical")) biv.SetCategorical(true);
  biv.SetshowStatus(!args.Has("no-progress"));
  biv.SetRunOptions({.InDatabase = args.Has("in-database")});

  const bool ran = biv.Run();
  auto table = biv.ResultSet();
  // A target or weight that is text because of a few cells: which cells (a
  // text predictor is a categorical one, no fault).
  const std::vector<std::string> notes = ran ? std::vector<std::string>{}
                                             : TextFieldNotes(input, {target, args.Get("weight").value_or("")});

  AnalysisAnswer answer(ran, notes, ResultRows(qel::kBivariateResults, biv.Results()), table);
  answer.categorical = biv.Categorical();
  if (table) WarnOfLargeTable(std::cerr, "bivariate", *table);
  PrintAnswer(answer, json, presenter.messages());
  if (!ran) {
    // The run's message box has told the user already on stderr, except
    // under --json, where it went into "messages".
    if (const auto empty = EmptyFileNote(args, input))
      std::cerr << "qelstats bivariate: Run returned False: " << TerminalText(*empty) << '\n';
    else if (json)
      std::cerr << "qelstats bivariate: Run returned False: " << TerminalText(biv.StopReason()) << '\n';
  }
  PrintNotes(std::cerr, notes);
  return ran ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
