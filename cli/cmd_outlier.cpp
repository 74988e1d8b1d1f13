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

#include "cli_common.h"
#include "qelStatsLib/QelOutlier.h"
#include "reading_options.h"

namespace qelcli {

namespace {

// The 17 results under their property names.
std::vector<std::pair<std::string, double>> Statistics(const qel::QelOutlier& o) {
  return {{"N", o.N()},
          {"WgtN", o.WgtN()},
          {"Missing", o.Missing()},
          {"Sum", o.Sum()},
          {"SumWgt", o.SumWgt()},
          {"Mean", o.Mean()},
          {"Variance", o.Variance()},
          {"Stdev", o.Stdev()},
          {"Min", o.Min()},
          {"Max", o.Max()},
          {"Cardinality", o.Cardinality()},
          {"Q1", o.Q1()},
          {"Median", o.Median()},
          {"Q3", o.Q3()},
          {"TrimmedMean", o.TrimmedMean()},
          {"OutlierCountN", o.OutlierCountN()},
          {"OutlierCountWgt", o.OutlierCountWgt()}};
}

qel::OutlierType ParseRule(const std::string& text) {
  if (text == "std") return qel::outSTD;
  if (text == "tmean") return qel::outTMean;
  throw UsageError("option --rule needs std or tmean, not '" + text + "'");
}

}  // namespace

int RunOutlier(const std::vector<std::string>& argv) {
  const Args args(argv, WithReadingFlags(WithCommonFlags()));
  args.AllowOnly(WithReadingOptions(WithCommonFlags({"csv", "connection", "source", "field", "weight", "rule", "parm"})));
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
  o.SetConnectionString(input.connection_string);
  o.SetSource(input.source);
  o.SetOutlierField(field);
  if (auto weight = args.Get("weight")) o.SetWeightField(*weight);
  o.SetFindType(find_type);
  o.SetTypeParm(parm);
  o.SetshowStatus(true);  // the presenter decides whether a progress line is drawn

  const bool ran = o.Run();
  auto table = o.ResultSet();
  // A field that is text because of a few cells: which cells.
  const std::vector<std::string> notes = ran ? std::vector<std::string>{}
                                             : TextFieldNotes(input, {field, args.Get("weight").value_or("")});

  if (table) WarnOfLargeTable(std::cerr, "outlier", *table);
  if (json) {
    JsonObject out;
    out.Add("Run", ran);
    if (!notes.empty()) out.Add("error", JoinNotes(notes));
    for (const auto& [name, value] : Statistics(o)) out.Add(name, value);
    if (table) out.AddRecordset("ResultSet", *table);
    else out.AddNull("ResultSet");
    out.AddRaw("messages", JsonStrings(presenter.messages()));
    out.Write(std::cout);
    std::cout << '\n';
  } else {
    std::vector<std::pair<std::string, std::string>> rows;
    rows.emplace_back("Field", field);
    if (auto weight = args.Get("weight")) rows.emplace_back("Weight", *weight);
    rows.emplace_back("Rule", rule);
    rows.emplace_back("TypeParm", HumanNumber(parm));
    rows.emplace_back("Run", ran ? "True" : "False");
    for (const auto& [name, value] : Statistics(o)) rows.emplace_back(name, HumanNumber(value));
    PrintProperties(std::cout, rows);
    if (table) {
      std::cout << '\n';
      PrintRecordset(std::cout, *table);
    }
  }
  if (!ran) {
    // A failed check has told the user already (on stderr, or in "messages");
    // an analysis that stopped inside says nothing itself, so its reason is
    // given here.
    if (const auto empty = EmptyFileNote(args, input))
      std::cerr << "qelstats outlier: Run returned False: " << TerminalText(*empty) << '\n';
    else if (presenter.messages().empty())
      std::cerr << "qelstats outlier: Run returned False: " << TerminalText(o.RunFailure()) << '\n';
    else if (json)
      std::cerr << "qelstats outlier: Run returned False: " << TerminalText(presenter.messages().back()) << '\n';
    PrintNotes(std::cerr, notes);
  }
  return ran ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
