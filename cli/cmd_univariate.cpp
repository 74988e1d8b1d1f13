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

// The 21 results in reading order, under their property names.
std::vector<std::pair<std::string, double>> Statistics(const qel::UnivariateRecord& u) {
  return {{"N", u.N},
          {"WgtN", u.WgtN},
          {"Missing", u.Missing},
          {"Sum", u.Sum},
          {"Mean", u.Mean},
          {"Variance", u.Variance},
          {"Stdev", u.Stdev},
          {"CV", u.CV},
          {"Min", u.Min},
          {"Max", u.Max},
          {"Range", u.Range},
          {"Cardinality", u.Cardinality},
          {"Uniques", u.Uniques},
          {"Mode", u.Mode},
          {"Median", u.Median},
          {"Q1", u.Q1},
          {"Q3", u.Q3},
          {"IQR", u.IQR},
          {"TrimmedMean", u.TrimmedMean},
          {"Skewness", u.Skewness},
          {"Kurtosis", u.Kurtosis}};
}

qel::UnivariateRecord RecordOf(const qel::QelUnivariate& u) {
  qel::UnivariateRecord r;
  r.N = u.N(), r.WgtN = u.WgtN(), r.Missing = u.Missing(), r.Sum = u.Sum(), r.Mean = u.Mean();
  r.Variance = u.Variance(), r.Stdev = u.Stdev(), r.CV = u.CV(), r.Min = u.Min(), r.Max = u.Max();
  r.Range = u.Range(), r.Cardinality = u.Cardinality(), r.Uniques = u.Uniques(), r.Mode = u.Mode();
  r.Median = u.Median(), r.Q1 = u.Q1(), r.Q3 = u.Q3(), r.IQR = u.IQR(), r.TrimmedMean = u.TrimmedMean();
  r.Skewness = u.Skewness(), r.Kurtosis = u.Kurtosis();
  return r;
}

// One result: a group's (or the whole input's) figures.
struct Result {
  qeldata::Value key;
  bool ran = false;
  std::string reason;  // why not, when !ran
  qel::UnivariateRecord rec;
  std::vector<double> percentiles;
};

// The figures of one field's tally, with the percentiles when asked.
Result Finish(qel::FieldTally& f, const std::vector<double>& levels) {
  Result r;
  if (!f.numeric) {
    r.reason = "Numeric Data types only";
    return r;
  }
  if (!f.failure.empty()) {
    r.reason = f.failure;
    return r;
  }
  std::vector<qel::UnivariateTally::Entry> sorted;
  if (!levels.empty()) {
    qel::UnivariateTally copy = f.numbers;
    sorted = copy.TakeSorted();
  }
  const double wgt_n = f.numbers.Totals().WgtN;
  const bool empty = f.numbers.Totals().N == 0;
  r.ran = qel::Univariate_Finish(f.numbers, r.rec, &r.reason);
  if (!levels.empty()) r.percentiles = qel::Percentiles(sorted, wgt_n, levels);
  if (empty) r.reason = "no record has a usable value of '" + f.name + "'";
  return r;
}

void AddJson(JsonObject& out, const Result& r, const std::vector<double>& levels, const std::string& reason) {
  out.Add("Run", r.ran);
  if (!r.ran) out.Add("error", reason);
  for (const auto& [name, value] : Statistics(r.rec)) out.Add(name, value);
  for (std::size_t i = 0; i < r.percentiles.size(); ++i) out.Add(PercentileName(levels[i]), r.percentiles[i]);
}

}  // namespace

int RunUnivariate(const std::vector<std::string>& argv) {
  const Args args(argv, WithReadingFlags(WithCommonFlags()));
  args.AllowOnly(WithOutputOptions(WithReadingOptions(
      {"csv", "connection", "source", "field", "weight", "json", "no-progress", "where", "by", "percentiles"})));
  const Format format = OutputFormat(args);
  const int precision = OutputPrecision(args);
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const InputSpec input = ApplyWhere(args, ResolveReadInput(args));
  const std::string field = args.Require("field");
  const std::string weight = args.Get("weight").value_or("");
  const std::vector<double> levels = PercentileLevels(args);
  const auto by = args.Get("by");
  const bool json = format == Format::kJson;

  CliPresenter presenter(json, !args.Has("no-progress"));
  qel::ScopedPresenter scoped(&presenter);

  std::vector<Result> results;
  if (by || !levels.empty()) {
    qel::DescribeRequest request;
    request.fields = {field};
    request.weight_field = weight;
    request.group_field = by.value_or("");
    try {
      for (qel::DescribeGroup& g : ReadGroups(input, request, "Processing Univariate: " + field, !args.Has("no-progress"))) {
        results.push_back(Finish(g.fields.front(), levels));
        results.back().key = g.key;
      }
    } catch (const qeldata::Error& e) {
      Result r;
      r.reason = e.description();
      results.push_back(r);
    }
  } else {
    qel::QelUnivariate u;
    u.SetConnectionString(input.connection_string);
    u.SetSource(input.source);
    u.SetFieldName(field);
    if (!weight.empty()) u.SetWeightField(weight);
    u.SetshowStatus(true);  // the presenter decides whether a progress line is drawn
    Result r;
    // A parameter or data-layer error raised here is an input error (exit 2).
    r.ran = u.Run();
    r.rec = RecordOf(u);
    r.reason = qel::UnivariateStopReason();
    results.push_back(r);
  }
  bool all_ran = true;
  std::string first_reason;
  for (Result& r : results) {
    if (r.ran) continue;
    // Where the run stopped, said as specifically as the input allows.
    r.reason = FailureReason(args, input, {field, weight}, {field, weight}, r.reason);
    if (by) r.reason = by.value() + " = " + GroupKeyText(r.key) + ": " + r.reason;
    if (all_ran) first_reason = r.reason;
    all_ran = false;
  }

  if (json) {
    JsonObject out;
    if (!by) {
      AddJson(out, results.front(), levels, results.front().reason);
      out.AddNull("ResultSet");
    } else {
      out.Add("Run", all_ran);
      if (!all_ran) out.Add("error", first_reason);
      out.Add("By", *by);
      std::string groups = "[";
      for (std::size_t i = 0; i < results.size(); ++i) {
        JsonObject g;
        g.AddRaw("key", GroupKeyJson(results[i].key));
        AddJson(g, results[i], levels, results[i].reason);
        groups += (i ? ", " : "") + g.str();
      }
      out.AddRaw("groups", groups + "]");
    }
    out.AddRaw("messages", JsonStrings(presenter.messages()));
    std::cout << out.str() << '\n';
  } else if (format == Format::kCsv) {
    // One row per group, the figures as columns.
    if (!all_ran) SayFailureFirst("univariate", first_reason, false);
    Table t;
    if (by) t.columns.push_back(*by);
    t.columns.push_back("Run");
    for (const auto& [name, value] : Statistics(results.front().rec)) t.columns.push_back(name);
    for (double level : levels) t.columns.push_back(PercentileName(level));
    for (const Result& r : results) {
      std::vector<Cell> row;
      if (by) row.push_back(Cell::Of(r.key));
      row.push_back(Cell::Bool(r.ran));
      for (const auto& [name, value] : Statistics(r.rec)) row.push_back(value);
      for (double p : r.percentiles) row.push_back(p);
      t.rows.push_back(std::move(row));
    }
    PrintCsv(std::cout, t);
  } else {
    if (!all_ran) SayFailureFirst("univariate", first_reason, true);
    for (std::size_t i = 0; i < results.size(); ++i) {
      Table props;
      props.columns = {"Result", "Value"};
      if (by) {
        if (i) std::cout << '\n';
        props.rows.push_back({*by, Cell::Of(results[i].key)});
      }
      props.rows.push_back({"Field", field});
      if (!weight.empty()) props.rows.push_back({"Weight", weight});
      props.rows.push_back({"Run", Cell::Bool(results[i].ran)});
      for (const auto& [name, value] : Statistics(results[i].rec)) props.rows.push_back({name, value});
      for (std::size_t p = 0; p < results[i].percentiles.size(); ++p)
        props.rows.push_back({PercentileName(levels[p]), results[i].percentiles[p]});
      PrintProperties(std::cout, format, props, precision);
    }
  }
  if (!all_ran && json) SayFailureFirst("univariate", first_reason, false);
  return all_ran ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
