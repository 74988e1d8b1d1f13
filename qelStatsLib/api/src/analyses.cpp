// The three analyses over arrays and tables. A table is read by the engine's
// runs, as the classes read it; arrays become the records of an in-memory
// table, or go through a tally where the engine finishes one, so both paths
// give the record-order results of the classes bit for bit.
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
#include "qelStatsLib/recording_presenter.h"

namespace qel {

namespace {

using detail::NumberOrNull;

UnivariateResult FromRecord(const UnivariateRecord& r, bool complete, std::string reason) {
  UnivariateResult out;
  out.N = r.N, out.WgtN = r.WgtN, out.Missing = r.Missing, out.Sum = r.Sum, out.Mean = r.Mean;
  out.Variance = r.Variance, out.Stdev = r.Stdev, out.CV = r.CV, out.Min = r.Min, out.Max = r.Max;
  out.Range = r.Range, out.Cardinality = r.Cardinality, out.Uniques = r.Uniques, out.Mode = r.Mode;
  out.Median = r.Median, out.Q1 = r.Q1, out.Q3 = r.Q3, out.IQR = r.IQR, out.TrimmedMean = r.TrimmedMean;
  out.Skewness = r.Skewness, out.Kurtosis = r.Kurtosis;
  out.Complete = complete;
  if (!complete) out.Reason = std::move(reason);
  return out;
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

// An in-memory input of the analyses over arrays: one record per index.
std::unique_ptr<qeldata::Recordset> NewInput(std::initializer_list<std::pair<const char*, int>> columns) {
  auto rs = std::make_unique<qeldata::Recordset>();
  auto fields = rs->GetFields();
  for (const auto& [name, type] : columns) fields.Append(name, type, 0, qeldata::adFldMayBeNull);
  rs->Open();
  return rs;
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
  out.N = r.N, out.WgtN = r.WgtN, out.Missing = r.Missing, out.Sum = r.Sum, out.SumWgt = r.SumWgt;
  out.Mean = r.Mean, out.Variance = r.Variance, out.Stdev = r.Stdev, out.Min = r.Min, out.Max = r.Max;
  out.Cardinality = r.Cardinality, out.Q1 = r.Q1, out.Median = r.Median, out.Q3 = r.Q3;
  out.TrimmedMean = r.TrimmedMean, out.OutlierCountN = r.OutlierCountN, out.OutlierCountWgt = r.OutlierCountWgt;
  out.Complete = table != nullptr;
  if (table) out.Rows = OutlierRows(*table);
  else out.Reason = reason.empty() ? "the analysis stopped" : reason;
  return out;
}

OutlierResult RunOutlier(qeldata::Recordset& input, const std::string& field, const std::string& weight,
                         OutlierRule rule, double parm) {
  const auto table = Outlier_Run(input, field, weight, static_cast<std::int32_t>(rule), parm, false);
  return FromRecord(OutlierRunRecord(), table, LastStopReason());
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
  RecordingPresenter presenter;
  ScopedPresenter scoped(&presenter);
  BivariateRunRecord().Categorical = categorical;
  const auto table = Bivariate_Run(input, predictor, target, false, weight, bins);
  std::string reason;
  for (const PresenterEvent& e : presenter.events())
    if (e.kind == PresenterEvent::Kind::kMessage) reason = e.text;
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

// The analysis over arrays: predictor values made by `value(i)`.
template <typename ValueAt>
BivariateResult BivariateOfArrays(std::size_t n, int predictor_type, ValueAt value, std::span<const double> target,
                                  std::span<const double> weights, int bins, bool categorical) {
  if (target.size() != n)
    detail::Throw(ErrorCode::kInvalidArgument, "target holds " + std::to_string(target.size()) +
                                                   " numbers where " + std::to_string(n) + " are needed");
  detail::CheckLength(weights, n, "weights");
  detail::CheckNotInfinite(target, "target");
  detail::CheckNotInfinite(weights, "weights");
  const std::int16_t bin_count = detail::CheckedBins(bins);
  const bool weighted = !weights.empty();
  auto input = weighted ? NewInput({{"Predictor", predictor_type}, {"Target", qeldata::adDouble},
                                    {"Weight", qeldata::adDouble}})
                        : NewInput({{"Predictor", predictor_type}, {"Target", qeldata::adDouble}});
  const auto fields = input->GetFields();
  for (std::size_t i = 0; i < n; ++i) {
    input->AddNew();
    fields.Item(0).SetValue(value(i));
    fields.Item(1).SetValue(NumberOrNull(target[i]));
    if (weighted) fields.Item(2).SetValue(NumberOrNull(weights[i]));
    input->Update();
  }
  return RunBivariate(*input, "Predictor", "Target", weighted ? "Weight" : "", bin_count, categorical,
                      predictor_type == qeldata::adDouble);
}

}  // namespace

// ---- Univariate ----

UnivariateResult Univariate(std::span<const double> values, std::span<const double> weights) {
  detail::CheckLength(weights, values.size(), "weights");
  detail::CheckNotInfinite(values, "values");
  detail::CheckNotInfinite(weights, "weights");
  ValueTally tally;
  tally.AddArrays(values, weights);
  return Univariate(tally);
}

UnivariateResult Univariate(const Table& table, std::string_view field_name, std::string_view weight_name) {
  const std::string field = detail::FieldName(field_name, "Univariate Fieldname", true);
  const std::string weight = detail::FieldName(weight_name, "the weight field", false);
  CheckNumericField(table, field, "field");
  if (!weight.empty()) CheckNumericField(table, weight, "weight field");
  auto input = detail::OpenInput(table);
  const bool ran = Univariate_Run(*input, field, weight, false);
  return FromRecord(UnivariateRunRecord(), ran, LastStopReason());
}

UnivariateResult Univariate(const ValueTally& tally) {
  // The finish empties the tally it sorts: it works on a copy.
  Tally<CountWeight> copy = TallyAccess::Of(tally);
  const bool empty = copy.Cardinality() == 0;
  UnivariateRecord rec;
  std::string reason;
  const bool ran = Univariate_Finish(copy, rec, &reason);
  if (empty) reason = "no record has a usable value";
  return FromRecord(rec, ran, std::move(reason));
}

// ---- Outlier ----

OutlierResult Outlier(std::span<const double> values, std::span<const double> weights, OutlierRule rule, double parm) {
  detail::CheckLength(weights, values.size(), "weights");
  detail::CheckNotInfinite(values, "values");
  detail::CheckNotInfinite(weights, "weights");
  CheckRule(rule, parm);
  const bool weighted = !weights.empty();
  auto input = weighted ? NewInput({{"Value", qeldata::adDouble}, {"Weight", qeldata::adDouble}})
                        : NewInput({{"Value", qeldata::adDouble}});
  const auto fields = input->GetFields();
  for (std::size_t i = 0; i < values.size(); ++i) {
    input->AddNew();
    fields.Item(0).SetValue(NumberOrNull(values[i]));
    if (weighted) fields.Item(1).SetValue(NumberOrNull(weights[i]));
    input->Update();
  }
  return RunOutlier(*input, "Value", weighted ? "Weight" : "", rule, parm);
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
  OutlierRecord rec;
  std::string reason;
  const OutlierOptions options{static_cast<std::int32_t>(rule), parm, "the values"};
  const auto table = Outlier_Finish(copy, options, rec, &reason);
  return FromRecord(rec, table, reason);
}

// ---- Bivariate ----

BivariateResult Bivariate(std::span<const double> predictor, std::span<const double> target,
                          std::span<const double> weights, int bins, bool categorical) {
  detail::CheckNotInfinite(predictor, "predictor");
  return BivariateOfArrays(
      predictor.size(), qeldata::adDouble, [&](std::size_t i) { return NumberOrNull(predictor[i]); }, target,
      weights, bins, categorical);
}

BivariateResult Bivariate(std::span<const std::optional<std::string>> predictor, std::span<const double> target,
                          std::span<const double> weights, int bins) {
  return BivariateOfArrays(
      predictor.size(), qeldata::adVarWChar,
      [&](std::size_t i) { return predictor[i] ? qeldata::Value(*predictor[i]) : qeldata::Value(); }, target,
      weights, bins, false);
}

BivariateResult Bivariate(std::span<const std::optional<Date>> predictor, std::span<const double> target,
                          std::span<const double> weights, int bins) {
  return BivariateOfArrays(
      predictor.size(), qeldata::adDate,
      [&](std::size_t i) { return predictor[i] ? qeldata::Value(CheckedDate(*predictor[i], i)) : qeldata::Value(); },
      target, weights, bins, false);
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
  BivariateOptions options{"Predictor", "Target", detail::CheckedBins(bins), tally.categorical(), false};
  BivariateRecord rec;
  std::string reason;
  std::shared_ptr<qeldata::Recordset> table;
  bool numeric = false;
  if (const auto* numbers = std::get_if<Tally<TargetSums>>(&TallyAccess::Of(tally))) {
    Tally<TargetSums> copy = *numbers;  // the finish empties the tally it sorts
    numeric = true;
    table = Bivariate_Finish(copy, options, rec, &reason);
  } else {
    table = Bivariate_Finish(std::get<TextTally>(TallyAccess::Of(tally)), options, rec, &reason);
  }
  return FromRecord(rec, table, reason, numeric && !tally.categorical());
}

}  // namespace qel
