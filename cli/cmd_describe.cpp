// qelstats describe: every field of a table (or those named with --fields)
// in one pass over the input. Numeric fields get the univariate run's own
// figures (the same tally and finish, so the same figures bit for bit); text
// and date fields their counts, distinct values and most frequent value.
//
// Exit status 0 when every field was described, 1 when a field stopped (a
// value that is no number, a total weight of 2 or 3, an unknown field), 2 for
// a usage or input error.
#include <iostream>
#include <string>
#include <vector>

#include "cli_common.h"
#include "qelStatsLib/describe.h"
#include "qelStatsLib/modUnivariate.h"
#include "reading_options.h"
#include "rows_groups.h"
#include "run_failure.h"
#include "table_output.h"

namespace qelcli {

namespace {

std::vector<std::string> SplitNames(const std::string& text) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    std::string name = text.substr(start, comma - start);
    const auto b = name.find_first_not_of(' ');
    name = b == std::string::npos ? "" : name.substr(b, name.find_last_not_of(' ') - b + 1);
    if (name.empty()) throw UsageError("option --fields needs field names separated by commas, not '" + text + "'");
    names.push_back(name);
    start = comma + 1;
  }
  return names;
}

const char* KindName(const qel::FieldTally& f) {
  if (f.numeric) return "number";
  return qeldata::IsTextType(f.type) ? "text" : "date";
}

}  // namespace

int RunDescribe(const std::vector<std::string>& argv) {
  const Args args(argv, WithReadingFlags(WithCommonFlags()));
  args.AllowOnly(WithOutputOptions(WithReadingOptions(
      WithCommonFlags({"csv", "connection", "source", "fields", "weight", "where", "by", "percentiles"}))));
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const Format format = OutputFormat(args);
  const int precision = OutputPrecision(args);
  const InputSpec input = ApplyWhere(args, ResolveReadInput(args));
  const std::vector<double> levels = PercentileLevels(args);
  const auto by = args.Get("by");
  const std::string weight = args.Get("weight").value_or("");

  CliPresenter presenter(format == Format::kJson, !args.Has("no-progress"));
  qel::ScopedPresenter scoped(&presenter);

  qel::DescribeRequest request;
  if (const auto fields = args.Get("fields")) request.fields = SplitNames(*fields);
  request.weight_field = weight;
  request.group_field = by.value_or("");

  Table table;
  if (by) table.columns.push_back(*by);
  for (const char* c : {"Field", "Type", "N", "Missing", "Mean", "Stdev", "Min", "Q1", "Median", "Q3", "Max",
                        "Cardinality", "Mode", "ModeN", "Skewness", "Kurtosis"})
    table.columns.push_back(c);
  for (double level : levels) table.columns.push_back(PercentileName(level));

  std::string reason;
  std::int64_t records = 0;
  try {
    std::vector<qel::DescribeGroup> groups = ReadGroups(input, request, "Processing Describe", !args.Has("no-progress"));
    const std::vector<std::vector<qel::NumberFinish>> finished = qel::Describe_Finish(groups, levels);
    for (std::size_t gi = 0; gi < groups.size(); ++gi) {
      qel::DescribeGroup& g = groups[gi];
      records += g.records;
      for (std::size_t fi = 0; fi < g.fields.size(); ++fi) {
        qel::FieldTally& f = g.fields[fi];
        std::vector<Cell> row;
        if (by) row.push_back(g.key.IsNull() ? Cell() : Cell::Of(g.key));
        row.push_back(f.name);
        row.push_back(KindName(f));
        auto fail = [&](const std::string& why) {
          if (!reason.empty()) return;
          reason = (by ? *by + " = " + GroupKeyText(g.key) + ": " : std::string()) + f.name + ": " + why;
        };
        if (!f.numeric) {
          const qel::TallyTotals& t = f.texts.Totals();
          const auto mode = qel::MostFrequent(f.texts);
          for (Cell c : {Cell(t.N), Cell(t.Missing), Cell(), Cell(), Cell(), Cell(), Cell(), Cell(), Cell(),
                         Cell(static_cast<double>(f.texts.Cardinality())), mode ? Cell(mode->text) : Cell(),
                         mode ? Cell(mode->payload.count) : Cell(), Cell(), Cell()})
            row.push_back(c);
          for (std::size_t i = 0; i < levels.size(); ++i) row.push_back(Cell());
          table.rows.push_back(std::move(row));
          continue;
        }
        const qel::TallyTotals& t = f.numbers.Totals();  // a finish keeps the totals
        if (!f.failure.empty()) {
          fail(f.failure);
          row.push_back(t.N);
          row.push_back(t.Missing);
          while (row.size() < table.columns.size()) row.push_back(Cell());
          table.rows.push_back(std::move(row));
          continue;
        }
        const qel::NumberFinish& done = finished[gi][fi];
        const qel::UnivariateRecord& u = done.record;
        const bool empty = t.N == 0;
        if (!done.ran && !empty) fail(done.reason);
        for (double x : {u.N, u.Missing}) row.push_back(x);
        if (empty) {
          // A field without a value has no figures to show, only its counts.
          while (row.size() < table.columns.size()) row.push_back(Cell());
        } else {
          for (double x : {u.Mean, u.Stdev, u.Min, u.Q1, u.Median, u.Q3, u.Max, u.Cardinality, u.Mode}) row.push_back(x);
          row.push_back(Cell());
          row.push_back(u.Skewness);
          row.push_back(u.Kurtosis);
          for (double p : done.percentiles) row.push_back(p);
        }
        table.rows.push_back(std::move(row));
      }
    }
  } catch (const qeldata::Error& e) {
    std::vector<std::string> named = request.fields;
    named.push_back(weight);
    named.push_back(by.value_or(""));
    reason = FailureReason(args, input, named, {weight}, e.description());
  }
  const bool ran = reason.empty();

  if (format == Format::kJson) {
    JsonObject out;
    out.Add("Run", ran);
    if (!ran) out.Add("error", reason);
    out.Add("Records", static_cast<double>(records));
    if (by) out.Add("By", *by);
    out.AddRaw("ResultSet", TableJson(table));
    out.AddRaw("messages", JsonStrings(presenter.messages()));
    std::cout << out.str() << '\n';
  } else {
    // CSV stays data: its reason goes to stderr only.
    if (!ran) SayFailureFirst("describe", reason, format != Format::kCsv);
    PrintIn(std::cout, format, table, precision);
  }
  if (!ran && format == Format::kJson) SayFailureFirst("describe", reason, false);
  return ran ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
