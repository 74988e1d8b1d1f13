// qelstats bivariate: segmentation of a predictor against a target.
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>

#include "cli_common.h"
#include "qelStatsLib/QelBivariate.h"
#include "reading_options.h"
#include "rows_groups.h"
#include "run_failure.h"
#include "table_output.h"

namespace qelcli {

namespace {

std::int16_t ParseBins(const std::string& text) {
  const auto n = qeldata::ParseNumber(text);
  if (!n || *n < std::numeric_limits<std::int16_t>::min() || *n > std::numeric_limits<std::int16_t>::max() ||
      *n != std::trunc(*n))
    throw UsageError("option --bins needs a whole number from -32768 to 32767, not '" + text + "'");
  return static_cast<std::int16_t>(*n);
}

// The class's own bin count.
constexpr const char* kDefaultBins = "20";

// Values the class accepts but that make its table hard to read, said in one
// line each on stderr; the run stands as it is.
void WarnAboutTable(qeldata::Recordset& table, double target_mean, const InputSpec& input, const std::string& weight) {
  if (table.IsBOF() && table.IsEOF()) return;
  const qeldata::Fields fields = table.GetFields();
  bool negative = false;
  for (table.MoveFirst(); !table.IsEOF(); table.MoveNext()) {
    const qeldata::Value& n = fields.Item("N").GetValue();
    if (!n.IsNull() && n.AsNumber() < 0) negative = true;
  }
  // A negative weight can hide inside a bin of positive N and still move its
  // mean outside the bin's targets: the weights are read once more, up to the
  // first negative one.
  if (!negative && !weight.empty()) {
    try {
      qeldata::Recordset rs;
      rs.SetCursorLocation(qeldata::adUseServer);
      rs.Open(input.source, input.connection_string, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
      const qeldata::Field w = rs.GetFields().Item(weight);
      for (; !rs.IsEOF() && !negative; rs.MoveNext())
        if (w.GetValue().IsNumber() && w.GetValue().number() < 0) negative = true;
    } catch (const std::exception&) {
      // The run read the input; a warning is no reason to fail now.
    }
  }
  if (negative)
    std::cerr << "qelstats bivariate: warning: negative weights make bins of negative N, whose means can lie "
                 "outside the targets of the bin\n";
  // The table keeps 5 decimals of each mean: a target mean below 0.005 keeps
  // fewer than 3 significant digits, and the Index computed from the rounded
  // means loses as much.
  if (target_mean != 0 && std::fabs(target_mean) < 0.005)
    std::cerr << "qelstats bivariate: warning: the target mean " << HumanNumber(target_mean)
              << " is so small that the table's 5-decimal means (and the Index computed from them) lose most "
                 "of its digits; scale the target up\n";
}

}  // namespace

int RunBivariate(const std::vector<std::string>& argv) {
  const Args args(argv, WithReadingFlags(WithCommonFlags({"categorical"})));
  args.AllowOnly(WithOutputOptions(WithReadingOptions(
      WithCommonFlags({"csv", "connection", "source", "predictor", "target", "weight", "bins", "categorical", "where"}))));
  const Format format = OutputFormat(args);
  const int precision = OutputPrecision(args);
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const InputSpec input = ApplyWhere(args, ResolveReadInput(args));
  const std::string predictor = args.Require("predictor");
  const std::string target = args.Require("target");
  // --bins is the 16-bit BinCount; 0 and negative counts reach Run, which
  // refuses them with its own message (exit status 1).
  const std::int16_t bins = ParseBins(args.Get("bins").value_or(kDefaultBins));
  const bool json = format == Format::kJson;

  CliPresenter presenter(json, !args.Has("no-progress"));
  qel::ScopedPresenter scoped(&presenter);

  qel::QelBivariate biv;
  biv.SetConnectionString(input.connection_string);
  biv.SetSource(input.source);
  biv.SetPredictorField(predictor);
  biv.SetTargetField(target);
  if (auto weight = args.Get("weight")) biv.SetWeightField(*weight);
  biv.SetBinCount(bins);
  if (args.Has("categorical")) biv.SetCategorical(true);
  biv.SetshowStatus(!args.Has("no-progress"));

  const bool ran = biv.Run();
  auto table = biv.ResultSet();
  std::string reason;
  if (!ran) {
    // A text predictor is a categorical one, no fault; the target and the
    // weight need numbers.
    const std::string weight = args.Get("weight").value_or("");
    reason = FailureReason(args, input, {predictor, target, weight}, {target, weight},
                           presenter.messages().empty() ? "" : presenter.messages().back());
  } else if (table) {
    WarnAboutTable(*table, biv.TargetMean(), input, args.Get("weight").value_or(""));
  }

  if (json) {
    JsonObject out;
    out.Add("Run", ran);
    if (!ran) out.Add("error", reason);
    out.Add("PSI", biv.PSI());
    out.Add("DI", biv.DI());
    out.Add("N", biv.N());
    out.Add("Missing", biv.Missing());
    out.Add("TargetMean", biv.TargetMean());
    out.Add("Cardinality", biv.Cardinality());
    out.Add("Categorical", biv.Categorical());
    if (table)
      out.AddRaw("ResultSet", JsonRecordset(*table));
    else
      out.AddNull("ResultSet");
    out.AddRaw("messages", JsonStrings(presenter.messages()));
    std::cout << out.str() << '\n';
  } else if (format == Format::kCsv) {
    if (!ran) SayFailureFirst("bivariate", reason, false);
    if (table) PrintCsv(std::cout, TableOf(*table));
  } else {
    if (!ran) SayFailureFirst("bivariate", reason, true);
    Table props{{"Result", "Value"},
                {{"Run", Cell::Bool(ran)},
                 {"PSI", biv.PSI()},
                 {"DI", biv.DI()},
                 {"N", biv.N()},
                 {"Missing", biv.Missing()},
                 {"TargetMean", biv.TargetMean()},
                 {"Cardinality", biv.Cardinality()},
                 {"Categorical", Cell::Bool(biv.Categorical())}}};
    PrintProperties(std::cout, format, props, precision);
    if (table) {
      std::cout << '\n';
      PrintIn(std::cout, format, TableOf(*table), precision);
    }
  }
  if (!ran && json) SayFailureFirst("bivariate", reason, false);
  return ran ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
