// qelstats outlier: statistics of one numeric field and its outlying values.
//
// Exit status 0 when Run produced the result table, 1 when it did not (a failed
// check such as a percentage outside 1..100, an input that cannot be opened, a
// text field, no usable value, a total weight of 1, ...), 2 for a usage error
// or a missing file, reported on stderr in one line.
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "analysis_answer.h"
#include "cli_common.h"
#include "qelStatsLib/QelOutlier.h"
#include "reading_options.h"

namespace qelcli {

namespace {

qel::OutlierType ParseRule(const std::string& text) {
  if (text == "std") return qel::outSTD;
  if (text == "tmean") return qel::outTMean;
  throw UsageError("option --rule needs std or tmean, not '" + text + "'");
}

}  // namespace

int RunOutlier(const std::vector<std::string>& argv) {
  const Args args(argv, WithReadingFlags(WithCommonFlags({"in-database"})));
  args.AllowOnly(WithReadingOptions(
      WithCommonFlags({"csv", "connection", "source", "field", "weight", "rule", "parm", "in-database"})));
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const InputSpec input = ResolveReadInput(args);
  const std::string field = args.Require("field");
  const std::string rule = args.Require("rule");
  const qel::OutlierType find_type = ParseRule(rule);
  // The percentage of the trimmed-mean rule is checked by Run, with its own message.
  const double parm = args.RequireNumber("parm");
  const bool json = args.Has("json");

  CliPresenter presenter(args);
  qel::ScopedPresenter scoped(&presenter);

  qel::QelOutlier o;
  SetInput(o, input, args);
  o.SetOutlierField(field);
  o.SetFindType(find_type);
  o.SetTypeParm(parm);
  o.SetshowStatus(true);  // the presenter decides whether a progress line is drawn
  o.SetRunOptions({.InDatabase = args.Has("in-database")});

  const bool ran = o.Run();
  auto table = o.ResultSet();
  // A field that is text because of a few cells: which cells.
  const std::vector<std::string> notes = ran ? std::vector<std::string>{}
                                             : TextFieldNotes(input, {field, args.Get("weight").value_or("")});

  AnalysisAnswer answer(ran, notes, ResultRows(qel::kOutlierResults, o.Results()), table);
  answer.heading.emplace_back("Field", field);
  if (auto weight = args.Get("weight")) answer.heading.emplace_back("Weight", *weight);
  answer.heading.emplace_back("Rule", rule);
  answer.heading.emplace_back("TypeParm", HumanNumber(parm));
  answer.heading.emplace_back("Run", ran ? "True" : "False");
  if (table) WarnOfLargeTable(std::cerr, "outlier", *table);
  PrintAnswer(answer, json, presenter.messages());
  if (!ran) {
    // A failed check has told the user already (on stderr, or in "messages");
    // an analysis that stopped inside says nothing itself, so its reason is
    // given here.
    if (const auto empty = EmptyFileNote(args, input))
      std::cerr << "qelstats outlier: Run returned False: " << TerminalText(*empty) << '\n';
    else if (presenter.messages().empty())
      std::cerr << "qelstats outlier: Run returned False: " << TerminalText(o.StopReason()) << '\n';
    else if (json)
      std::cerr << "qelstats outlier: Run returned False: " << TerminalText(presenter.messages().back()) << '\n';
    PrintNotes(std::cerr, notes);
  }
  return ran ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
