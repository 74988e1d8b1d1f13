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
#include "rows_groups.h"
#include "run_failure.h"
#include "table_output.h"
#include "qelStatsLib/describe.h"
#include "qelStatsLib/modOutlier.h"

namespace qelcli {

namespace {

constexpr const char* kDefaultRule = "std";
constexpr double kDefaultParm = 1.0;

// The rows of `table` whose "Outlier" is true, in a table of their own.
std::shared_ptr<qeldata::Recordset> OutliersOnly(qeldata::Recordset& table) {
  auto out = std::make_shared<qeldata::Recordset>();
  const qeldata::Fields fields = table.GetFields();
  for (int i = 0; i < fields.Count(); ++i)
    out->GetFields().Append(fields.Item(i).Name(), fields.Item(i).Type(), fields.Item(i).DefinedSize(),
                            fields.Item(i).Attributes());
  out->Open();
  if (!(table.IsBOF() && table.IsEOF())) {
    for (table.MoveFirst(); !table.IsEOF(); table.MoveNext()) {
      const qeldata::Value& flag = fields.Item("Outlier").GetValue();
      if (!(flag.kind() == qeldata::Value::Kind::kBoolean && flag.boolean())) continue;
      out->AddNew();
      for (int i = 0; i < fields.Count(); ++i) out->GetFields().Item(i).SetValue(fields.Item(i).GetValue());
      out->Update();
    }
  }
  return out;
}

// Negative weights are accepted, but a value's weighted N below zero makes
// the band and the counts hard to read: said once.
void WarnNegativeWeights(qeldata::Recordset& table) {
  if (table.IsBOF() && table.IsEOF()) return;
  const qeldata::Field weighted = table.GetFields().Item("Weighted N");
  for (table.MoveFirst(); !table.IsEOF(); table.MoveNext()) {
    const qeldata::Value& w = weighted.GetValue();
    if (!w.IsNull() && w.AsNumber() < 0) {
      std::cerr << "qelstats outlier: warning: the value " << TerminalText(table.GetFields().Item("Value").GetValue().AsText())
                << " has a negative total weight: negative weights make the mean, the band and the counts hard to read\n";
      return;
    }
  }
}

qel::OutlierType ParseRule(const std::string& text) {
  if (text == "std") return qel::outSTD;
  if (text == "tmean") return qel::outTMean;
  throw UsageError("option --rule needs std or tmean, not '" + text + "'");
}

}  // namespace

int RunOutlier(const std::vector<std::string>& argv) {
  const Args args(argv, WithReadingFlags(WithCommonFlags({"only-outliers", "in-database"})));
  args.AllowOnly(WithOutputOptions(WithReadingOptions(WithCommonFlags(
      {"csv", "connection", "source", "field", "weight", "rule", "parm", "where", "by", "only-outliers",
       "in-database"}))));
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  AnswerLayout layout("outlier", args, /*tables=*/true);
  const InputSpec input = ApplyWhere(args, ResolveReadInput(args));
  const std::string field = args.Require("field");
  const std::string weight = args.Get("weight").value_or("");
  const auto by = args.Get("by");
  layout.by = by;
  // The class's own defaults: the standard-deviation rule, one deviation.
  const std::string rule = args.Get("rule").value_or(kDefaultRule);
  const qel::OutlierType find_type = ParseRule(rule);
  // The percentage of the trimmed-mean rule is checked by Run, with its own message.
  const double parm = args.Get("parm") ? args.RequireNumber("parm") : kDefaultParm;
  const bool only_outliers = args.Has("only-outliers");
  if (args.Has("in-database") && by) throw UsageError("--in-database does not take --by");
  if (find_type == qel::outSTD && parm <= 0)
    std::cerr << "qelstats outlier: warning: --parm " << HumanNumber(parm)
              << " makes a standard-deviation band of zero width or less: every value "
              << (parm < 0 ? "is flagged" : "off the mean is flagged") << "\n";

  CliPresenter presenter(layout.format == Format::kJson, !args.Has("no-progress"));
  qel::ScopedPresenter scoped(&presenter);

  std::vector<AnalysisAnswer> answers;
  if (by) {
    // Every group in one pass, each finished as the run finishes its field.
    const bool valid_parm = find_type != qel::outTMean || (parm >= 1 && parm <= 100);
    AnswerGroups(answers, qel::kOutlierResults, input, field, weight, by, "Processing Outliers: " + field, args,
                 [&](qel::FieldTally& f) {
                   AnalysisAnswer a;
                   qel::OutlierRecord rec;
                   if (!valid_parm)
                     a.reason = "Outlier Trimmed mean outlier determination requires percentages between 1 and 100.";
                   else if (!f.numeric) a.reason = "Numeric Data types only";
                   else if (!f.failure.empty()) a.reason = f.failure;
                   else a.table = qel::Outlier_Finish(f.numbers, qel::OutlierOptions{find_type, parm, field}, rec,
                                                      &a.reason);
                   a.ran = a.table != nullptr;
                   a.results = ResultRows(qel::kOutlierResults, rec);
                   return a;
                 });
  } else {
    qel::QelOutlier o;
    SetInput(o, input, args);
    o.SetOutlierField(field);
    o.SetFindType(find_type);
    o.SetTypeParm(parm);
    o.SetshowStatus(true);  // the presenter decides whether a progress line is drawn
    answers.push_back(RunAnswer(o, qel::kOutlierResults, presenter));
  }
  for (AnalysisAnswer& a : answers) {
    if (a.table && only_outliers) a.table = OutliersOnly(*a.table);
    if (a.table) WarnNegativeWeights(*a.table);
    if (a.ran) continue;
    a.reason = FailureReason(args, input, {field, weight, by.value_or("")}, {field, weight}, a.reason);
    if (by && !a.whole_input) a.reason = *by + " = " + GroupKeyText(a.key) + ": " + a.reason;
  }

  layout.heading.emplace_back("Field", field);
  if (!weight.empty()) layout.heading.emplace_back("Weight", weight);
  layout.heading.emplace_back("Rule", rule);
  layout.heading.emplace_back("TypeParm", parm);
  return PrintAnswers(answers, layout, presenter.messages()) ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
