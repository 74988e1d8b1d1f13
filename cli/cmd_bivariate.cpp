// qelstats bivariate: segmentation of a predictor against a target.
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>

#include "analysis_answer.h"
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
  const Args args(argv, WithReadingFlags(WithCommonFlags({"categorical", "in-database"})));
  args.AllowOnly(WithOutputOptions(WithReadingOptions(
      WithCommonFlags({"csv", "connection", "source", "predictor", "target", "weight", "bins", "categorical", "where",
                       "in-database"}))));
  AnswerLayout layout("bivariate", args, /*tables=*/true);
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const InputSpec input = ApplyWhere(args, ResolveReadInput(args));
  const std::string predictor = args.Require("predictor");
  const std::string target = args.Require("target");
  const std::string weight = args.Get("weight").value_or("");
  // --bins is the 16-bit BinCount; 0 and negative counts reach Run, which
  // refuses them with its own message (exit status 1).
  const std::int16_t bins = ParseBins(args.Get("bins").value_or(kDefaultBins));

  CliPresenter presenter(layout.format == Format::kJson, !args.Has("no-progress"));
  qel::ScopedPresenter scoped(&presenter);

  qel::QelBivariate biv;
  SetInput(biv, input, args);
  biv.SetPredictorField(predictor);
  biv.SetTargetField(target);
  biv.SetBinCount(bins);
  if (args.Has("categorical")) biv.SetCategorical(true);
  biv.SetshowStatus(!args.Has("no-progress"));

  AnalysisAnswer answer;
  answer.ran = biv.Run();
  answer.table = biv.ResultSet();
  answer.results = ResultRows(qel::kBivariateResults, biv.Results());
  answer.categorical = biv.Categorical();
  if (!answer.ran) {
    // A text predictor is a categorical one, no fault; the target and the
    // weight need numbers.
    answer.reason = FailureReason(args, input, {predictor, target, weight}, {target, weight},
                                  presenter.messages().empty() ? biv.StopReason() : presenter.messages().back());
  } else if (answer.table) {
    WarnAboutTable(*answer.table, biv.Results().TargetMean, input, weight);
  }
  return PrintAnswers({answer}, layout, presenter.messages()) ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
