// qelstats bivariate: segmentation of a predictor against a target.
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis_answer.h"
#include "cli_common.h"
#include "qelStatsLib/QelBivariate.h"
#include "qelStatsLib/modBivariate.h"
#include "qeldata/text.h"
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

// Whether a bin of `table` has a negative N.
bool HasNegativeBin(qeldata::Recordset& table) {
  if (table.IsBOF() && table.IsEOF()) return false;
  const qeldata::Fields fields = table.GetFields();
  bool negative = false;
  for (table.MoveFirst(); !table.IsEOF(); table.MoveNext()) {
    const qeldata::Value& n = fields.Item("N").GetValue();
    if (!n.IsNull() && n.AsNumber() < 0) negative = true;
  }
  return negative;
}

// Values the class accepts but that make its tables hard to read, said in
// one line each on stderr; the run stands as it is. `tables` are the result
// tables of the answers that ran, with their target means.
void WarnAboutTables(const std::vector<AnalysisAnswer*>& tables, const std::optional<std::string>& by,
                     const InputSpec& input, const std::string& weight) {
  if (tables.empty()) return;
  bool negative = false;
  for (AnalysisAnswer* a : tables) negative = HasNegativeBin(*a->table) || negative;
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
  for (AnalysisAnswer* a : tables) {
    const double target_mean = a->target_mean;
    if (target_mean != 0 && std::fabs(target_mean) < 0.005)
      std::cerr << "qelstats bivariate: warning: "
                << (by ? TerminalText(*by + " = " + GroupKeyText(a->key)) + ": " : std::string())
                << "the target mean " << HumanNumber(target_mean)
                << " is so small that the table's 5-decimal means (and the Index computed from them) lose most "
                   "of its digits; scale the target up\n";
  }
}

// Every group of `by` in one pass, each finished as the run finishes its
// records: the figures of the run over the input filtered to the group.
std::vector<AnalysisAnswer> GroupAnswers(const InputSpec& input, const std::string& predictor,
                                         const std::string& target, const std::string& weight, const std::string& by,
                                         std::int16_t bins, bool categorical, bool show_progress) {
  std::vector<AnalysisAnswer> answers;
  try {
    // The class's own checks, before it reads.
    if (qeldata::text::Trim(predictor).empty())
      throw qeldata::Error(qeldata::kErrLibraryInput, "Bivariate", "Predictor Field is missing or blank.");
    if (qeldata::text::Trim(target).empty())
      throw qeldata::Error(qeldata::kErrLibraryInput, "Bivariate", "Target Field parameter is missing or blank.");
    qeldata::Recordset rs;
    rs.SetCursorLocation(qeldata::adUseServer);
    rs.Open(input.source, input.connection_string, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
    qel::BivariateGroups read;
    {
      const auto window = OpenReadingWindow("Processing Bivariate: " + predictor, show_progress);
      read = qel::Bivariate_TallyGroups(rs, predictor, target, weight, by, categorical);
    }
    for (qel::BivariateGroup& g : read.groups) {
      AnalysisAnswer a;
      a.key = g.key;
      qel::BivariateRecord rec;
      if (bins <= 0) {
        a.reason = "Bin Count is invalid. Integer values >0 are required.";
      } else {
        rec.Categorical = read.categorical;
        const qel::TallyTotals& totals = read.categorical ? g.texts.Totals() : g.numbers.Totals();
        if (!g.failure.empty()) {
          // What the run's record holds when its reading stops.
          rec.N = totals.WgtN + g.in_flight;
          rec.Missing = totals.Missing;
          a.reason = g.failure;
        } else {
          const bool weighted = !qeldata::text::Trim(weight).empty();
          const qel::BivariateOptions options{predictor, target, bins, read.categorical, weighted};
          a.table = read.categorical ? qel::Bivariate_Finish(g.texts, options, rec, &a.reason)
                                     : qel::Bivariate_Finish(g.numbers, options, rec, &a.reason);
        }
      }
      a.ran = a.table != nullptr;
      a.results = ResultRows(qel::kBivariateResults, rec);
      a.categorical = rec.Categorical;
      a.target_mean = rec.TargetMean;
      answers.push_back(std::move(a));
    }
  } catch (const qeldata::Error& e) {
    answers.push_back(FailedBeforeReading(qel::kBivariateResults, e.description(), true));
    answers.back().categorical = false;
  }
  return answers;
}

}  // namespace

int RunBivariate(const std::vector<std::string>& argv) {
  const Args args(argv, WithReadingFlags(WithCommonFlags({"categorical", "in-database"})));
  args.AllowOnly(WithOutputOptions(WithReadingOptions(
      WithCommonFlags({"csv", "connection", "source", "predictor", "target", "weight", "bins", "categorical", "where",
                       "by", "in-database"}))));
  AnswerLayout layout("bivariate", args, /*tables=*/true);
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const InputSpec input = ApplyWhere(args, ResolveReadInput(args));
  const std::string predictor = args.Require("predictor");
  const std::string target = args.Require("target");
  const std::string weight = args.Get("weight").value_or("");
  // --bins is the 16-bit BinCount; 0 and negative counts reach Run, which
  // refuses them with its own message (exit status 1).
  const std::int16_t bins = ParseBins(args.Get("bins").value_or(kDefaultBins));
  layout.by = args.Get("by");
  if (args.Has("in-database") && layout.by) throw UsageError("--in-database does not take --by");

  CliPresenter presenter(layout.format == Format::kJson, !args.Has("no-progress"));
  qel::ScopedPresenter scoped(&presenter);

  std::vector<AnalysisAnswer> answers;
  if (layout.by) {
    answers = GroupAnswers(input, predictor, target, weight, *layout.by, bins, args.Has("categorical"),
                           !args.Has("no-progress"));
  } else {
    qel::QelBivariate biv;
    SetInput(biv, input, args);
    biv.SetPredictorField(predictor);
    biv.SetTargetField(target);
    biv.SetBinCount(bins);
    if (args.Has("categorical")) biv.SetCategorical(true);
    biv.SetshowStatus(!args.Has("no-progress"));

    AnalysisAnswer answer = RunAnswer(biv, qel::kBivariateResults, presenter);
    answer.categorical = biv.Categorical();
    answer.target_mean = biv.Results().TargetMean;
    answers.push_back(std::move(answer));
  }
  std::vector<AnalysisAnswer*> tables;
  std::map<std::string, std::string> said;  // run reason -> what the user is told (it opens the input)
  for (AnalysisAnswer& a : answers) {
    if (a.ran) {
      if (a.table) tables.push_back(&a);
      continue;
    }
    // A text predictor is a categorical one, no fault; the target and the
    // weight need numbers.
    auto [it, added] = said.try_emplace(a.reason);
    if (added)
      it->second = FailureReason(args, input, {predictor, target, weight, layout.by.value_or("")}, {target, weight},
                                 a.reason);
    a.reason = it->second;
    if (layout.by && !a.whole_input) a.reason = *layout.by + " = " + GroupKeyText(a.key) + ": " + a.reason;
  }
  WarnAboutTables(tables, layout.by, input, weight);
  return PrintAnswers(answers, layout, presenter.messages()) ? kExitRan : kExitRunFailed;
}

}  // namespace qelcli
