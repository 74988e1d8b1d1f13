// The three analyses over arrays and tables. A table is read by the engine's
// runs, as the classes read it; arrays fill a tally in array order, which the
// engine's finish turns into results, as the runs finish the tally they fill
// record by record: both paths give the record-order results of the classes
// bit for bit.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "internal.h"
#include "qel/bivariate.h"
#include "qel/outlier.h"
#include "qel/tally.h"
#include "qel/univariate.h"
#include "qelStatsLib/modBivariate.h"
#include "qelStatsLib/modOutlier.h"
#include "qelStatsLib/modUnivariate.h"
#include "qelStatsLib/presenter.h"

namespace qel {

namespace {

UnivariateResult FromRecord(const UnivariateRecord& r, bool complete, std::string reason) {
  UnivariateResult out;
  static_cast<UnivariateStatistics&>(out) = r;
  out.Complete = complete;
  if (!complete) out.Reason = std::move(reason);
  return out;
}

// The finish over a tally of our own, which it empties.
UnivariateResult FinishUnivariate(Tally<CountWeight>& tally) {
  const bool empty = tally.Cardinality() == 0;
  UnivariateRecord rec;
  std::string reason;
  detail::RunScope scope;
  const bool ran = Univariate_Finish(tally, rec, &reason);
  scope.Done();
  if (empty) reason = "no record has a usable value";
  return FromRecord(rec, ran, std::move(reason));
}

// Checks a numeric analysis field (and weight) of `table` before a run, so
// that what the caller got wrong is an exception rather than a stopped run.
void CheckNumericField(const Table& table, const std::string& field, const char* kind) {
  const FieldInfo& f = detail::FieldOf(table, field);
  if (f.type == FieldType::kText || f.type == FieldType::kDate)
    detail::Throw(ErrorCode::kFieldType, std::string("Numeric Data types only: the ") + kind + " '" + f.name +
                                             "' of " + table.source() + " holds " +
                                             (f.type == FieldType::kText ? "text" : "dates"));
}

// The outlier table's rows, from its first.
std::vector<OutlierRow> OutlierRows(qeldata::Recordset& table) {
  std::vector<OutlierRow> rows;
  if (table.IsBOF() && table.IsEOF()) return rows;
  table.MoveFirst();
  const auto fields = table.GetFields();
  for (; !table.IsEOF(); table.MoveNext()) {
    OutlierRow row;
    row.Value = fields.Item(0).GetValue().AsNumber();
    row.N = fields.Item(1).GetValue().AsNumber();
    row.WeightedN = fields.Item(2).GetValue().AsNumber();
    const qeldata::Value& flag = fields.Item(3).GetValue();
    row.Outlier = flag.kind() == qeldata::Value::Kind::kBoolean ? flag.boolean() : flag.AsNumber() != 0;
    rows.push_back(row);
  }
  return rows;
}

OutlierResult FromRecord(const OutlierRecord& r, const std::shared_ptr<qeldata::Recordset>& table,
                         const std::string& reason) {
  OutlierResult out;
  static_cast<OutlierStatistics&>(out) = r;
  out.Complete = table != nullptr;
  if (table) out.Rows = OutlierRows(*table);
  else out.Reason = reason.empty() ? "the analysis stopped" : reason;
  return out;
}

OutlierResult RunOutlier(qeldata::Recordset& input, const std::string& field, const std::string& weight,
                         OutlierRule rule, double parm) {
  detail::RunScope scope;
  const auto table = Outlier_Run(input, field, weight, static_cast<std::int32_t>(rule), parm, false);
  scope.Done();
  return FromRecord(OutlierRunRecord(), table, LastStopReason());
}

// The finish over a tally of our own, which it empties.
OutlierResult FinishOutlier(Tally<CountWeight>& tally, OutlierRule rule, double parm) {
  OutlierRecord rec;
  std::string reason;
  const OutlierOptions options{static_cast<std::int32_t>(rule), parm, "the values"};
  detail::RunScope scope;
  const auto table = Outlier_Finish(tally, options, rec, &reason);
  scope.Done();
  return FromRecord(rec, table, reason);
}

void CheckRule(OutlierRule rule, double parm) {
  if (rule != OutlierRule::kStd && rule != OutlierRule::kTrimmedMean)
    detail::Throw(ErrorCode::kInvalidArgument, "Outlier FindType Parameter is invalid: " +
                                                   std::to_string(static_cast<int>(rule)) + " is no rule");
  if (!std::isfinite(parm)) detail::Throw(ErrorCode::kInvalidArgument, "the outlier parameter is not finite");
  // Written so that a NaN percentage fails as well.
  if (rule == OutlierRule::kTrimmedMean && !(parm >= 1 && parm <= 100))
    detail::Throw(ErrorCode::kInvalidArgument,
                  "Outlier Trimmed mean outlier determination requires percentages between 1 and 100.");
}

// The predictor's bounds as the table holds them: numbers on the numeric
// path, texts when the predictor was texts (or a number declared categorical).
PredictorValue Bound(const qeldata::Value& v, bool numeric) {
  if (v.IsNull()) return std::string();
  if (numeric) {
    if (v.IsNumber()) return v.number();
    if (auto x = qeldata::ParseNumber(v.AsText())) return *x;
  }
  return v.AsText();
}

std::optional<double> OptionalNumber(const qeldata::Value& v) {
  if (v.IsNull()) return std::nullopt;
  if (v.IsNumber()) return v.number();
  const std::string text = v.AsText();
  if (text.empty()) return std::nullopt;
  return qeldata::ParseNumber(text);
}

BivariateResult FromRecord(const BivariateRecord& r, const std::shared_ptr<qeldata::Recordset>& table,
                           const std::string& reason, bool numeric_bounds) {
  BivariateResult out;
  out.PSI = r.PSI, out.DI = r.DI, out.N = r.N, out.Missing = r.Missing, out.TargetMean = r.TargetMean;
  out.Cardinality = r.Cardinality, out.Categorical = r.Categorical;
  out.Complete = table != nullptr;
  if (!table) {
    out.Reason = reason.empty() ? "the analysis stopped" : reason;
    return out;
  }
  if (!(table->IsBOF() && table->IsEOF())) {
    table->MoveFirst();
    const auto fields = table->GetFields();
    for (; !table->IsEOF(); table->MoveNext()) {
      BivariateRow row;
      row.Bin = static_cast<int>(fields.Item(0).GetValue().AsNumber());
      row.N = fields.Item(1).GetValue().AsNumber();
      row.Min = Bound(fields.Item(2).GetValue(), numeric_bounds);
      row.Max = Bound(fields.Item(3).GetValue(), numeric_bounds);
      row.Mean = OptionalNumber(fields.Item(4).GetValue());
      if (const auto index = OptionalNumber(fields.Item(5).GetValue())) row.Index = static_cast<std::int32_t>(*index);
      out.Rows.push_back(std::move(row));
    }
  }
  return out;
}

BivariateResult RunBivariate(qeldata::Recordset& input, const std::string& predictor, const std::string& target,
                             const std::string& weight, std::int16_t bins, bool categorical, bool numeric) {
  // The run tells of its failures in a message box: here they become Reason.
  detail::RunScope scope;
  BivariateRunRecord().Categorical = categorical;
  const auto table = Bivariate_Run(input, predictor, target, false, weight, bins);
  scope.Done();
  const std::string reason = scope.presenter().last_message();
  // A forced categorical numeric predictor is listed by its text form.
  return FromRecord(BivariateRunRecord(), table, reason, numeric && !categorical);
}

qeldata::Date CheckedDate(const Date& d, std::size_t i) {
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  const bool ok = d.year >= 1 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
                  d.day <= (d.month == 2 && !leap ? 28 : kDays[d.month - 1]) && d.hour >= 0 && d.hour < 24 &&
                  d.minute >= 0 && d.minute < 60 && d.second >= 0 && d.second < 60;
  if (!ok)
    detail::Throw(ErrorCode::kInvalidArgument, "predictor [" + std::to_string(i) + "] is no date: " +
                                                   std::to_string(d.year) + "-" + std::to_string(d.month) + "-" +
                                                   std::to_string(d.day));
  return qeldata::Date{d.year, d.month, d.day, d.hour, d.minute, d.second};
}

// The finish over a segmentation tally; a numeric tally is emptied of its
// values. `weighted` words the stop reason of a zero weighted N.
BivariateResult FinishBivariate(SegmentTally& tally, std::int16_t bins, bool weighted) {
  BivariateOptions options{"Predictor", "Target", bins, tally.categorical(), weighted};
  BivariateRecord rec;
  // As a run that was told the predictor is categorical: so it stays when it stops.
  rec.Categorical = tally.categorical();
  std::string reason;
  std::shared_ptr<qeldata::Recordset> table;
  bool numeric = false;
  detail::RunScope scope;
  if (auto* numbers = std::get_if<Tally<TargetSums>>(&TallyAccess::Of(tally))) {
    numeric = true;
    table = Bivariate_Finish(*numbers, options, rec, &reason);
  } else {
    table = Bivariate_Finish(std::get<TextTally>(TallyAccess::Of(tally)), options, rec, &reason);
  }
  scope.Done();
  // A forced categorical numeric predictor is listed by its text form.
  return FromRecord(rec, table, reason, numeric && !tally.categorical());
}

// The analysis over arrays: `fill` adds the records to the tally in array
// order. A text or date predictor is categorical from the start, as the run
// treats such a field.
template <typename Fill>
BivariateResult BivariateOfArrays(std::size_t n, std::span<const double> target, std::span<const double> weights,
                                  int bins, bool categorical, Fill fill) {
  if (target.size() != n)
    detail::Throw(ErrorCode::kInvalidArgument, "target holds " + std::to_string(target.size()) +
                                                   " numbers where " + std::to_string(n) + " are needed");
  detail::CheckLength(weights, n, "weights");
  detail::CheckNotInfinite(target, "target");
  detail::CheckNotInfinite(weights, "weights");
  const std::int16_t bin_count = detail::CheckedBins(bins);
  SegmentTally tally(categorical);
  fill(tally);
  return FinishBivariate(tally, bin_count, !weights.empty());
}

}  // namespace

// ---- Univariate ----

UnivariateResult Univariate(std::span<const double> values, std::span<const double> weights) {
  detail::CheckLength(weights, values.size(), "weights");
  detail::CheckNotInfinite(values, "values");
  detail::CheckNotInfinite(weights, "weights");
  ValueTally tally;
  tally.AddArrays(values, weights);
  return FinishUnivariate(TallyAccess::Of(tally));
}

UnivariateResult Univariate(const Table& table, std::string_view field_name, std::string_view weight_name) {
  const std::string field = detail::FieldName(field_name, "Univariate Fieldname", true);
  const std::string weight = detail::FieldName(weight_name, "the weight field", false);
  CheckNumericField(table, field, "field");
  if (!weight.empty()) CheckNumericField(table, weight, "weight field");
  auto input = detail::OpenInput(table);
  detail::RunScope scope;
  const bool ran = Univariate_Run(*input, field, weight, false);
  scope.Done();
  return FromRecord(UnivariateRunRecord(), ran, LastStopReason());
}

UnivariateResult Univariate(const ValueTally& tally) {
  // The finish empties the tally it sorts: it works on a copy.
  Tally<CountWeight> copy = TallyAccess::Of(tally);
  return FinishUnivariate(copy);
}

// ---- Outlier ----

OutlierResult Outlier(std::span<const double> values, std::span<const double> weights, OutlierRule rule, double parm) {
  detail::CheckLength(weights, values.size(), "weights");
  detail::CheckNotInfinite(values, "values");
  detail::CheckNotInfinite(weights, "weights");
  CheckRule(rule, parm);
  ValueTally tally;
  tally.AddArrays(values, weights);
  return FinishOutlier(TallyAccess::Of(tally), rule, parm);
}

OutlierResult Outlier(const Table& table, std::string_view field_name, std::string_view weight_name,
                      OutlierRule rule, double parm) {
  const std::string field = detail::FieldName(field_name, "Outlier Field", true);
  const std::string weight = detail::FieldName(weight_name, "the weight field", false);
  CheckRule(rule, parm);
  CheckNumericField(table, field, "field");
  if (!weight.empty()) CheckNumericField(table, weight, "weight field");
  auto input = detail::OpenInput(table);
  return RunOutlier(*input, field, weight, rule, parm);
}

OutlierResult Outlier(const ValueTally& tally, OutlierRule rule, double parm) {
  CheckRule(rule, parm);
  // The finish empties the tally it sorts: it works on a copy.
  Tally<CountWeight> copy = TallyAccess::Of(tally);
  return FinishOutlier(copy, rule, parm);
}

// ---- Bivariate ----

BivariateResult Bivariate(std::span<const double> predictor, std::span<const double> target,
                          std::span<const double> weights, int bins, bool categorical) {
  detail::CheckNotInfinite(predictor, "predictor");
  return BivariateOfArrays(predictor.size(), target, weights, bins, categorical,
                           [&](SegmentTally& tally) { tally.AddArrays(predictor, target, weights); });
}

BivariateResult Bivariate(std::span<const std::optional<std::string>> predictor, std::span<const double> target,
                          std::span<const double> weights, int bins) {
  return BivariateOfArrays(predictor.size(), target, weights, bins, true,
                           [&](SegmentTally& tally) { tally.AddArrays(predictor, target, weights); });
}

BivariateResult Bivariate(std::span<const std::optional<Date>> predictor, std::span<const double> target,
                          std::span<const double> weights, int bins) {
  return BivariateOfArrays(predictor.size(), target, weights, bins, true, [&](SegmentTally& tally) {
    for (std::size_t i = 0; i < predictor.size(); ++i) {
      std::optional<std::string> text;
      if (predictor[i]) text = CheckedDate(*predictor[i], i).ToText();
      tally.Add(text, target[i], weights.empty() ? 1.0 : weights[i]);
    }
  });
}

BivariateResult Bivariate(const Table& table, std::string_view predictor_name, std::string_view target_name,
                          std::string_view weight_name, int bins, bool categorical) {
  const std::string predictor = detail::FieldName(predictor_name, "Predictor Field", true);
  const std::string target = detail::FieldName(target_name, "Target Field", true);
  const std::string weight = detail::FieldName(weight_name, "the weight field", false);
  const std::int16_t bin_count = detail::CheckedBins(bins);
  const FieldInfo& p = detail::FieldOf(table, predictor);
  CheckNumericField(table, target, "target field");
  if (!weight.empty()) CheckNumericField(table, weight, "weight field");
  auto input = detail::OpenInput(table);
  if (const int type = input->GetFields().Item(p.name).Type();
      type == qeldata::adLongVarChar || type == qeldata::adLongVarWChar)
    detail::Throw(ErrorCode::kFieldType, "Invalid Data Type on input data: the predictor '" + p.name + "' of " +
                                             table.source() + " is long text");
  return RunBivariate(*input, predictor, target, weight, bin_count, categorical, p.type == FieldType::kNumber);
}

BivariateResult Bivariate(const SegmentTally& tally, int bins) {
  const std::int16_t bin_count = detail::CheckedBins(bins);
  // The finish empties a numeric tally it sorts: it works on a copy.
  SegmentTally copy = tally;
  return FinishBivariate(copy, bin_count, false);
}

}  // namespace qel
