// qelstats freq: the distinct values of one field with their records, total
// weight, share of the weight and cumulative share; most frequent first (by
// weight, ties in value order) or in value order.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include "cli_common.h"
#include "qelStatsLib/describe.h"
#include "reading_options.h"
#include "rows_groups.h"
#include "run_failure.h"
#include "table_output.h"

namespace qelcli {

namespace {

struct Row {
  Cell value;
  double count, weight;
  double number = 0;  // the value, for sorting numbers
  std::string text;   // the value, for sorting texts
};

}  // namespace

int RunFreq(const std::vector<std::string>& argv) {
  const Args args(argv, WithReadingFlags(WithCommonFlags()));
  args.AllowOnly(WithOutputOptions(WithReadingOptions(
      WithCommonFlags({"csv", "connection", "source", "field", "weight", "where", "top", "order"}))));
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const Format format = OutputFormat(args);
  const int precision = OutputPrecision(args);
  const InputSpec input = ApplyWhere(args, ResolveReadInput(args));
  const std::string field = args.Require("field");
  const std::string weight = args.Get("weight").value_or("");
  const std::string order = args.Get("order").value_or("count");
  if (order != "count" && order != "value") throw UsageError("option --order needs count or value, not '" + order + "'");
  std::size_t top = 0;  // 0: every value
  if (const auto t = args.Get("top")) {
    const auto n = qeldata::ParseNumber(*t);
    if (!n || *n < 1 || *n != std::trunc(*n) || *n > 1e15)
      throw UsageError("option --top needs a whole number of 1 or more, not '" + *t + "'");
    top = static_cast<std::size_t>(*n);
  }

  CliPresenter presenter(format == Format::kJson, !args.Has("no-progress"));
  qel::ScopedPresenter scoped(&presenter);

  qel::DescribeRequest request;
  request.fields = {field};
  request.weight_field = weight;
  std::vector<Row> rows;
  qel::TallyTotals totals;
  std::size_t cardinality = 0;
  std::string reason;
  bool numeric = false;
  try {
    std::vector<qel::DescribeGroup> groups = ReadGroups(input, request, "Processing Frequencies: " + field, !args.Has("no-progress"));
    qel::FieldTally& f = groups.front().fields.front();
    numeric = f.numeric;
    if (f.numeric) {
      if (!f.failure.empty()) reason = f.name + ": " + f.failure;
      totals = f.numbers.Totals();
      for (const auto& e : f.numbers.TakeSorted())
        rows.push_back({Cell(e.value), e.payload.count, e.payload.weight, e.value, {}});
    } else {
      totals = f.texts.Totals();
      for (std::uint32_t i = 0; i < f.texts.Cardinality(); ++i) {
        std::string text(f.texts.Text(i));
        rows.push_back({Cell(text), f.texts.Of(i).count, f.texts.Of(i).weight, 0, std::move(text)});
      }
      std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.text < b.text; });
    }
    cardinality = rows.size();
  } catch (const qeldata::Error& e) {
    reason = FailureReason(args, input, {field, weight}, {weight}, e.description());
  }
  if (order == "count")
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.weight > b.weight; });
  if (top && rows.size() > top) rows.resize(top);

  Table table;
  table.columns = {field, "N", "Weight", "Share", "CumShare"};
  double cum = 0;
  for (const Row& r : rows) {
    cum += r.weight;
    table.rows.push_back({r.value, r.count, r.weight, totals.WgtN != 0 ? Cell(r.weight / totals.WgtN) : Cell(),
                          totals.WgtN != 0 ? Cell(cum / totals.WgtN) : Cell()});
  }
  (void)numeric;
  const bool ran = reason.empty();

  if (format == Format::kJson) {
    JsonObject out;
    out.Add("Run", ran);
    if (!ran) out.Add("error", reason);
    out.Add("Field", field);
    out.Add("N", totals.N);
    out.Add("WgtN", totals.WgtN);
    out.Add("Missing", totals.Missing);
    out.Add("Cardinality", static_cast<double>(cardinality));
    out.AddRaw("ResultSet", TableJson(table));
    out.AddRaw("messages", JsonStrings(presenter.messages()));
    std::cout << out.str() << '\n';
  } else {
    if (!ran) SayFailureFirst("freq", reason, format != Format::kCsv);
    if (format != Format::kCsv) {
      PrintProperties(std::cout, {{"Field", field},
                                  {"N", HumanNumber(totals.N)},
                                  {"WgtN", HumanNumber(totals.WgtN)},
                                  {"Missing", HumanNumber(totals.Missing)},
                                  {"Cardinality", HumanNumber(static_cast<double>(cardinality))}});
      std::cout << '\n';
    }
    PrintIn(std::cout, format, table, precision);
  }
  if (!ran && format == Format::kJson) SayFailureFirst("freq", reason, false);
  return ran ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
