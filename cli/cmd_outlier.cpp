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
#include "table_output.h"
#include "qelStatsLib/describe.h"
#include "qelStatsLib/modOutlier.h"

namespace qelcli {

namespace {

// The 17 results under their property names.
std::vector<std::pair<std::string, double>> Statistics(const qel::OutlierRecord& o) {
  return {{"N", o.N},
          {"WgtN", o.WgtN},
          {"Missing", o.Missing},
          {"Sum", o.Sum},
          {"SumWgt", o.SumWgt},
          {"Mean", o.Mean},
          {"Variance", o.Variance},
          {"Stdev", o.Stdev},
          {"Min", o.Min},
          {"Max", o.Max},
          {"Cardinality", o.Cardinality},
          {"Q1", o.Q1},
          {"Median", o.Median},
          {"Q3", o.Q3},
          {"TrimmedMean", o.TrimmedMean},
          {"OutlierCountN", o.OutlierCountN},
          {"OutlierCountWgt", o.OutlierCountWgt}};
}

qel::OutlierRecord RecordOf(const qel::QelOutlier& o) {
  qel::OutlierRecord r;
  r.N = o.N(), r.WgtN = o.WgtN(), r.Missing = o.Missing(), r.Sum = o.Sum(), r.SumWgt = o.SumWgt();
  r.Mean = o.Mean(), r.Variance = o.Variance(), r.Stdev = o.Stdev(), r.Min = o.Min(), r.Max = o.Max();
  r.Cardinality = o.Cardinality(), r.Q1 = o.Q1(), r.Median = o.Median(), r.Q3 = o.Q3();
  r.TrimmedMean = o.TrimmedMean(), r.OutlierCountN = o.OutlierCountN(), r.OutlierCountWgt = o.OutlierCountWgt();
  return r;
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
  const Args args(argv, WithReadingFlags(WithCommonFlags({"only-outliers"})));
  args.AllowOnly(WithOutputOptions(WithReadingOptions(WithCommonFlags(
      {"csv", "connection", "source", "field", "weight", "rule", "parm", "where", "by", "only-outliers"}))));
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const Format format = OutputFormat(args);
  const int precision = OutputPrecision(args);
  const InputSpec input = ApplyWhere(args, ResolveReadInput(args));
  const std::string field = args.Require("field");
  const std::string weight = args.Get("weight").value_or("");
  const auto by = args.Get("by");
  // The class's own defaults: the standard-deviation rule, one deviation.
  const std::string rule = args.Get("rule").value_or(kDefaultRule);
  const qel::OutlierType find_type = ParseRule(rule);
  // The percentage of the trimmed-mean rule is checked by Run, with its own message.
  const double parm = args.Get("parm") ? args.RequireNumber("parm") : kDefaultParm;
  const bool only_outliers = args.Has("only-outliers");
  if (find_type == qel::outSTD && parm <= 0)
    std::cerr << "qelstats outlier: warning: --parm " << HumanNumber(parm)
              << " makes a standard-deviation band of zero width or less: every value "
              << (parm < 0 ? "is flagged" : "off the mean is flagged") << "\n";

  CliPresenter presenter(format == Format::kJson, !args.Has("no-progress"));
  qel::ScopedPresenter scoped(&presenter);

  struct Result {
    qeldata::Value key;
    bool ran = false;
    std::string reason;
    qel::OutlierRecord rec;
    std::shared_ptr<qeldata::Recordset> table;
  };
  std::vector<Result> results;
  if (by) {
    // Every group in one pass, each finished as the run finishes its field.
    const bool valid_parm = find_type != qel::outTMean || (parm >= 1 && parm <= 100);
    try {
      qel::DescribeRequest request;
      request.fields = {field};
      request.weight_field = weight;
      request.group_field = *by;
      for (qel::DescribeGroup& g : ReadGroups(input, request, "Processing Outliers: " + field, !args.Has("no-progress"))) {
        Result r;
        r.key = g.key;
        qel::FieldTally& f = g.fields.front();
        if (!valid_parm) r.reason = "Outlier Trimmed mean outlier determination requires percentages between 1 and 100.";
        else if (!f.numeric) r.reason = "Numeric Data types only";
        else if (!f.failure.empty()) r.reason = f.failure;
        else r.table = qel::Outlier_Finish(f.numbers, qel::OutlierOptions{find_type, parm, field}, r.rec, &r.reason);
        r.ran = r.table != nullptr;
        results.push_back(std::move(r));
      }
    } catch (const qeldata::Error& e) {
      Result r;
      r.reason = e.description();
      results.push_back(std::move(r));
    }
  } else {
    qel::QelOutlier o;
    o.SetConnectionString(input.connection_string);
    o.SetSource(input.source);
    o.SetOutlierField(field);
    if (!weight.empty()) o.SetWeightField(weight);
    o.SetFindType(find_type);
    o.SetTypeParm(parm);
    o.SetshowStatus(true);  // the presenter decides whether a progress line is drawn
    Result r;
    r.ran = o.Run();
    r.table = o.ResultSet();
    r.rec = RecordOf(o);
    // A failed check has told the user in its message; an analysis that
    // stopped inside says nothing itself.
    r.reason = presenter.messages().empty() ? o.RunFailure() : presenter.messages().back();
    results.push_back(std::move(r));
  }
  bool all_ran = true;
  std::string first_reason;
  for (Result& r : results) {
    if (r.table && only_outliers) r.table = OutliersOnly(*r.table);
    if (r.table) WarnNegativeWeights(*r.table);
    if (r.ran) continue;
    r.reason = FailureReason(args, input, {field, weight}, {field, weight}, r.reason);
    if (by) r.reason = *by + " = " + GroupKeyText(r.key) + ": " + r.reason;
    if (all_ran) first_reason = r.reason;
    all_ran = false;
  }

  auto add_json = [&](JsonObject& out, Result& r) {
    out.Add("Run", r.ran);
    if (!r.ran) out.Add("error", r.reason);
    for (const auto& [name, value] : Statistics(r.rec)) out.Add(name, value);
    if (r.table) out.AddRaw("ResultSet", JsonRecordset(*r.table));
    else out.AddNull("ResultSet");
  };
  if (format == Format::kJson) {
    JsonObject out;
    if (!by) {
      add_json(out, results.front());
    } else {
      out.Add("Run", all_ran);
      if (!all_ran) out.Add("error", first_reason);
      out.Add("By", *by);
      std::string groups = "[";
      for (std::size_t i = 0; i < results.size(); ++i) {
        JsonObject g;
        g.AddRaw("key", GroupKeyJson(results[i].key));
        add_json(g, results[i]);
        groups += (i ? ", " : "") + g.str();
      }
      out.AddRaw("groups", groups + "]");
    }
    out.AddRaw("messages", JsonStrings(presenter.messages()));
    std::cout << out.str() << '\n';
  } else if (format == Format::kCsv) {
    // The data: every group's rows of values, under one header.
    if (!all_ran) SayFailureFirst("outlier", first_reason, false);
    Table all;
    for (Result& r : results) {
      if (!r.table) continue;
      Table t = TableOf(*r.table);
      if (all.columns.empty()) {
        if (by) all.columns.push_back(*by);
        all.columns.insert(all.columns.end(), t.columns.begin(), t.columns.end());
      }
      for (auto& row : t.rows) {
        if (by) row.insert(row.begin(), Cell::Of(r.key));
        all.rows.push_back(std::move(row));
      }
    }
    PrintCsv(std::cout, all);
  } else {
    if (!all_ran) SayFailureFirst("outlier", first_reason, true);
    for (std::size_t i = 0; i < results.size(); ++i) {
      Result& r = results[i];
      if (i) std::cout << '\n';
      Table props;
      props.columns = {"Result", "Value"};
      if (by) props.rows.push_back({*by, Cell::Of(r.key)});
      props.rows.push_back({"Field", field});
      if (!weight.empty()) props.rows.push_back({"Weight", weight});
      props.rows.push_back({"Rule", rule});
      props.rows.push_back({"TypeParm", parm});
      props.rows.push_back({"Run", Cell::Bool(r.ran)});
      for (const auto& [name, value] : Statistics(r.rec)) props.rows.push_back({name, value});
      PrintProperties(std::cout, format, props, precision);
      if (r.table) {
        std::cout << '\n';
        PrintIn(std::cout, format, TableOf(*r.table), precision);
      }
    }
  }
  if (!all_ran && format == Format::kJson) SayFailureFirst("outlier", first_reason, false);
  return all_ran ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
