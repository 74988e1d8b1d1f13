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
#include "rows_groups.h"
#include "run_failure.h"

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
  const Args args(argv, WithReadingFlags(WithCommonFlags()));
  args.AllowOnly(WithReadingOptions(WithCommonFlags(
      {"csv", "connection", "source", "field", "weight", "rule", "parm", "where", "only-outliers"})));
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const InputSpec input = ApplyWhere(args, ResolveReadInput(args));
  const std::string field = args.Require("field");
  // The class's own defaults: the standard-deviation rule, one deviation.
  const std::string rule = args.Get("rule").value_or(kDefaultRule);
  const qel::OutlierType find_type = ParseRule(rule);
  // The percentage of the trimmed-mean rule is checked by Run, with its own message.
  const double parm = args.Get("parm") ? args.RequireNumber("parm") : kDefaultParm;
  const bool json = args.Has("json");
  const bool only_outliers = args.Has("only-outliers");
  if (find_type == qel::outSTD && parm <= 0)
    std::cerr << "qelstats outlier: warning: --parm " << HumanNumber(parm)
              << " makes a standard-deviation band of zero width or less: every value "
              << (parm < 0 ? "is flagged" : "off the mean is flagged") << "\n";

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
  if (table && only_outliers) table = OutliersOnly(*table);
  if (table) WarnNegativeWeights(*table);
  std::string reason;
  if (!ran) {
    // A failed check has told the user in its message; an analysis that
    // stopped inside says nothing itself.
    reason = presenter.messages().empty() ? o.RunFailure() : presenter.messages().back();
    const std::string weight = args.Get("weight").value_or("");
    reason = FailureReason(args, input, {field, weight}, {field, weight}, reason);
  }

  if (json) {
    JsonObject out;
    out.Add("Run", ran);
    if (!ran) out.Add("error", reason);
    for (const auto& [name, value] : Statistics(o)) out.Add(name, value);
    if (table) out.AddRaw("ResultSet", JsonRecordset(*table));
    else out.AddNull("ResultSet");
    out.AddRaw("messages", JsonStrings(presenter.messages()));
    std::cout << out.str() << '\n';
  } else {
    if (!ran) SayFailureFirst("outlier", reason, true);
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
  if (!ran && json) SayFailureFirst("outlier", reason, false);
  return ran ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
