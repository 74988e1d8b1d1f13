#include "qelStatsLib/modOutlier.h"

#include "qelStatsLib/tally.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "field_types.h"
#include "in_database.h"
#include "modQuickSort.h"
#include "qelStatsLib/presenter.h"
#include "qeldata/error.h"
#include "qeldata/value.h"
#include "run_frame.h"
#include "text.h"

namespace qel {

namespace {

constexpr const char* kSource = "Outliers";

// Faults of the arithmetic, numbered as the platform's run-time errors are.
constexpr std::int32_t kErrInvalidCall = static_cast<std::int32_t>(0x800A0005);     // invalid procedure call
constexpr std::int32_t kErrOverflow = static_cast<std::int32_t>(0x800A0006);        // overflow (also 0/0)
constexpr std::int32_t kErrSubscript = static_cast<std::int32_t>(0x800A0009);       // subscript out of range
constexpr std::int32_t kErrDivisionByZero = static_cast<std::int32_t>(0x800A000B);  // division by zero

// The trimmed mean of a run that trimmed no weight at all, and the outlier
// counts that go with it.
constexpr double kNoTrimmedMean = -99999;

[[noreturn]] void Fault(std::int32_t number, const std::string& description) {
  throw qeldata::Error(number, kSource, description);
}

// Every figure of the run must stay a finite number: a result that overflows
// or is invalid (inf - inf, 0 * inf) ends the run, as a floating-point fault.
inline double Checked(double r, const char* what) {
  if (std::isfinite(r)) [[likely]]
    return r;
  if (std::isnan(r)) Fault(kErrInvalidCall, std::string("Invalid floating-point operation in ") + what);
  Fault(kErrOverflow, std::string("Overflow in ") + what);
}

inline double Divide(double a, double b, const char* what) {
  if (b == 0) {
    if (a == 0) Fault(kErrOverflow, std::string("Invalid division 0/0 in ") + what);
    Fault(kErrDivisionByZero, std::string("Division by zero in ") + what);
  }
  return Checked(a / b, what);
}

// `record` 0: a value of a database's group, which stands for no one record.
[[noreturn]] void NotANumber(const qeldata::Value& v, const std::string& field, double record) {
  std::string shown = v.AsText();
  if (shown.size() > 80) shown = shown.substr(0, 80) + "...";
  const std::string where = record > 0 ? " in record " + qeldata::NumberText(record) : std::string();
  Fault(qeldata::kErrDataConversion,
        "Type mismatch: the value '" + shown + "' of field '" + field + "'" + where + " is not a finite number");
}

// A value with the number it is known by: its 15-significant-digit text
// form read back as a double, so that two values that print alike are one
// value and -0 is 0. Numbers, booleans (-1, 0) and texts that read as a number
// have one; dates and other texts do not.
struct Keyed {
  double value, key;
};

inline Keyed KeyOf(const qeldata::Value& v, const std::string& field, double record) {
  double x, key;
  switch (v.kind()) {
    case qeldata::Value::Kind::kNumber:
      x = v.number();
      key = v.IsCanonicalNumber() ? x + 0.0 : Form15(x);  // -0 reads "0"
      break;
    case qeldata::Value::Kind::kBoolean:
      x = key = v.boolean() ? -1.0 : 0.0;
      break;
    case qeldata::Value::Kind::kText: {
      const auto n = qeldata::ParseNumber(v.text());
      if (!n) NotANumber(v, field, record);
      x = *n;
      key = Form15(x);
      break;
    }
    default:
      NotANumber(v, field, record);
  }
  if (!std::isfinite(key) || !std::isfinite(x)) [[unlikely]]
    NotANumber(v, field, record);
  return {x, key};
}

// A weight as read (not rounded: only the per-value totals travel through the
// 15-digit form).
inline double WeightOf(const qeldata::Value& v, const std::string& field, double record) {
  double w;
  switch (v.kind()) {
    case qeldata::Value::Kind::kNumber:
      w = v.number();
      break;
    case qeldata::Value::Kind::kBoolean:
      w = v.boolean() ? -1.0 : 0.0;
      break;
    case qeldata::Value::Kind::kText: {
      const auto n = qeldata::ParseNumber(v.text());
      if (!n) NotANumber(v, field, record);
      w = *n;
      break;
    }
    default:
      NotANumber(v, field, record);
  }
  if (!std::isfinite(w)) [[unlikely]]
    NotANumber(v, field, record);
  return w;
}

// One distinct value of the sorted tally: its first occurrence, the number of
// its records and their total weight (in its 15-digit form).
using Row = Tally<CountWeight>::Entry;

// Tallies the records of `input` from its current position to its end.
void Read(qeldata::Recordset& input, const qeldata::Field& value_field, const qeldata::Field* weight_field,
          const std::string& field_name, const std::string& weight_name, Tally<CountWeight>& tally) {
  const TallyTotals& t = tally.Totals();
  try {
    for (; !input.IsEOF(); input.MoveNext()) {
      const qeldata::Value& v = value_field.GetValue();
      if (v.IsNull()) {
        tally.AddMissing();
        continue;
      }
      if (!weight_field) {
        const Keyed x = KeyOf(v, field_name, t.N + t.Missing + 1);
        tally.AddKeyed(x.value, x.key);
        continue;
      }
      const qeldata::Value& wv = weight_field->GetValue();
      if (wv.IsNull()) {
        tally.AddMissing();
        continue;
      }
      const double record = t.N + t.Missing + 1;
      const Keyed x = KeyOf(v, field_name, record);
      tally.AddKeyed(x.value, x.key, WeightOf(wv, weight_name, record));
    }
    tally.Flush();
  } catch (const TallyOverflow& e) {
    Fault(kErrOverflow, std::string("Overflow in ") + e.what());
  }
}

std::shared_ptr<qeldata::Recordset> NewResultSet() {
  auto rs = std::make_shared<qeldata::Recordset>();
  qeldata::Fields fields = rs->GetFields();
  fields.Append("Value", qeldata::adVarNumeric, 255, qeldata::adFldIsNullable);
  fields.Append("N", qeldata::adVarNumeric, 255, qeldata::adFldIsNullable);
  fields.Append("Weighted N", qeldata::adVarNumeric, 255, qeldata::adFldIsNullable);
  fields.Append("Outlier", qeldata::adBoolean, 0, qeldata::adFldIsNullable);
  rs->SetCursorLocation(qeldata::adUseServer);
  rs->Open();
  return rs;
}

// Flags the values outside [lower, upper] (strictly) and counts their records
// and weight into the record.
void Mark(const std::vector<Row>& tallies, double lower, double upper, std::vector<std::uint8_t>& outlier,
          OutlierRecord& rec) {
  for (std::size_t i = 0; i < tallies.size(); ++i) {
    const Row& t = tallies[i];
    const bool is_outlier = t.value > upper || t.value < lower;
    outlier[i] = is_outlier;
    if (is_outlier) {
      rec.OutlierCountWgt = Checked(rec.OutlierCountWgt + t.payload.weight, "the outlier weight");
      rec.OutlierCountN += t.payload.count;
    }
  }
}

// The trimmed-mean rule. t = typeParm% of the total weight / 2 is trimmed from
// each end: the lower tail takes whole rows from the smallest value up until
// its weight reaches t; the upper tail then takes whole rows from the largest
// value down until both tails together reach 2t. The upper tail never takes a
// row the lower tail already took: when the lower tail reaches the largest
// value, all the weight is trimmed and no trimmed mean can be formed.
void TrimmedMeanRule(const std::vector<Row>& tallies, double type_parm, std::vector<std::uint8_t>& outlier,
                     OutlierRecord& rec) {
  const std::size_t k = tallies.size();
  const double t = Checked(Checked(type_parm / 100 * rec.WgtN, "the trim weight") / 2, "the trim weight");
  double trimmed = 0, trimmed_sum = 0;
  auto take = [&](const Row& row) {
    trimmed = Checked(trimmed + row.payload.weight, "the trimmed weight");
    trimmed_sum =
        Checked(trimmed_sum + Checked(row.payload.weight * row.value, "the trimmed sum"), "the trimmed sum");
  };
  std::size_t lower_end = 0;  // rows [0, lower_end) belong to the lower tail
  while (lower_end < k) {
    take(tallies[lower_end++]);
    if (trimmed >= t) break;
  }
  const double both_tails = Checked(t + t, "the trim weight");
  for (std::size_t row = k; row > lower_end; --row) {
    take(tallies[row - 1]);
    if (trimmed >= both_tails) break;
  }

  double trimmed_mean = 0;
  if (trimmed == 0) {
    trimmed_mean = kNoTrimmedMean;
  } else if (rec.WgtN != 0) {
    trimmed_mean = Divide(Checked(rec.SumWgt - trimmed_sum, "the trimmed mean"),
                          Checked(rec.WgtN - trimmed, "the trimmed mean"),
                          "the trimmed mean (all the weight was trimmed)");
  }
  rec.TrimmedMean = trimmed_mean;

  const double half_width = type_parm / 100 / 2;
  const double a = Checked((1 - half_width) * trimmed_mean, "the lower bound");
  const double b = Checked((half_width + 1) * trimmed_mean, "the upper bound");
  // The band is the interval between the two; for a negative trimmed mean the
  // first is the larger, and taken as the lower bound it would flag every value.
  Mark(tallies, std::min(a, b), std::max(a, b), outlier, rec);
  if (rec.TrimmedMean == kNoTrimmedMean) rec.OutlierCountWgt = rec.OutlierCountN = kNoTrimmedMean;
}

// Sum of squares and quartiles in one walk up the sorted values, with the
// cumulative weight share of each value.
void Summarise(const std::vector<Row>& tallies, OutlierRecord& rec) {
  const std::size_t k = tallies.size();
  const double mean = rec.Mean, wgt_n = rec.WgtN;
  double cumulative = 0;
  bool have_q1 = false, have_q3 = false, have_median = false;
  for (std::size_t i = 0; i < k; ++i) {
    const double v = tallies[i].value, w = tallies[i].payload.weight;
    const double d = Checked(v - mean, "the sum of squared deviations");
    rec.SumSq = Checked(rec.SumSq + Checked(w * Checked(d * d, "the sum of squared deviations"),
                                            "the sum of squared deviations"),
                        "the sum of squared deviations");
    cumulative = Checked(cumulative + w, "the cumulative weight");
    const double share = Divide(cumulative, wgt_n, "the cumulative weight share (the total weight is 0)");
    if (!have_q1 && share >= 0.25) {
      have_q1 = true;
      rec.Q1 = v;
    }
    if (!have_q3 && share >= 0.75) {
      have_q3 = true;
      rec.Q3 = v;
    }
    if (!have_median && share >= 0.5) {
      have_median = true;
      rec.Median = v;
      // An even (rounded, halves to even) total weight split exactly in two:
      // the median lies halfway to the next value.
      if (share == 0.5 && std::fmod(std::nearbyint(wgt_n), 2.0) == 0) {
        if (i + 1 >= k) Fault(kErrSubscript, "Subscript out of range: the median has no next value");
        rec.Median = Checked((v + tallies[i + 1].value) / 2, "the median");
      }
    }
  }
  rec.Variance = Divide(rec.SumSq, wgt_n - 1, "the variance (the total weight is 1)");
  if (rec.Variance < 0)
    Fault(kErrInvalidCall, "Invalid procedure call: the variance is negative (the total weight is below 1)");
  rec.Stdev = Checked(std::pow(rec.Variance, 0.5), "the standard deviation");
  rec.Min = tallies.front().value;
  rec.Max = tallies.back().value;
  rec.Cardinality = static_cast<double>(k);
}

std::shared_ptr<qeldata::Recordset> Table(const std::vector<Row>& tallies, const std::vector<std::uint8_t>& outlier) {
  auto result = NewResultSet();
  qeldata::Fields out = result->GetFields();
  qeldata::Field out_value = out.Item(0), out_n = out.Item(1), out_weight = out.Item(2), out_flag = out.Item(3);
  result->Reserve(static_cast<std::int64_t>(tallies.size()));
  for (std::size_t i = 0; i < tallies.size(); ++i) {
    result->AddNew();
    out_value.SetValue(tallies[i].value);
    out_n.SetValue(tallies[i].payload.count);
    out_flag.SetValue(qeldata::Value::Boolean(outlier[i] != 0));
    out_weight.SetValue(tallies[i].payload.weight);
    result->Update();
  }
  result->MoveNext();  // handed over after its last row
  return result;
}

void CopyTotals(const TallyTotals& t, OutlierRecord& rec) {
  rec.N = t.N;
  rec.WgtN = t.WgtN;
  rec.Sum = t.Sum;
  rec.SumWgt = t.SumWgt;
  rec.Missing = t.Missing;
}

std::shared_ptr<qeldata::Recordset> Finish(Tally<CountWeight>& tally, const OutlierOptions& options,
                                           OutlierRecord& rec, const PhaseFn& phase) {
  auto report = [&](const char* status, int bar) {
    if (phase) phase(status, bar);
  };
  rec = OutlierRecord{};
  CopyTotals(tally.Totals(), rec);
  report("Calculating Statistics", 50);
  if (rec.WgtN > 0) rec.Mean = Divide(rec.SumWgt, rec.WgtN, "the mean");

  report("Sorting Data", 75);
  if (tally.Cardinality() == 0)
    Fault(kErrSubscript, "No record has a usable value of field '" + options.field + "' (" +
                             qeldata::NumberText(rec.Missing) + " missing)");
  const std::vector<Row> tallies = tally.TakeSorted();

  report("Building Output", 86);
  Summarise(tallies, rec);
  std::vector<std::uint8_t> outlier(tallies.size(), 0);
  if (options.findType == 1) {
    const double band = Checked(options.typeParm * rec.Stdev, "the band width");
    const double upper = Checked(band + rec.Mean, "the upper bound");
    const double lower = Checked(rec.Mean - band, "the lower bound");
    Mark(tallies, lower, upper, outlier, rec);
  } else if (options.findType == 2) {
    TrimmedMeanRule(tallies, options.typeParm, outlier, rec);
    report("Completing process", 99);
  }
  return Table(tallies, outlier);
}

// The run's progress window, when it shows one, as the reading pass starts.
void OpenProgress(RunProgress& progress, const std::string& field) {
  progress.Open("Processing Outliers: " + field, "Process Running");
  progress.Status("Reading input Data");
}

// The run's check and reading pass: `tally` holds what was read, also when
// it stops part-way.
void CheckAndRead(qeldata::Recordset& input, const std::string& outlier_field, const std::string& weight_field,
                  bool show_status, RunProgress& progress, Tally<CountWeight>& tally) {
  // Read from the first record whatever the cursor's position, so that a
  // recordset left at its end by an earlier run is read again in full. An
  // empty recordset (at its start and its end at once) is left alone.
  if (!(input.IsEOF() && input.IsBOF())) input.MoveFirst();

  qeldata::Fields fields = input.GetFields();
  const qeldata::Field value_field = fields.Item(outlier_field);
  detail::RequireNumericField(value_field, kSource);

  if (show_status) OpenProgress(progress, outlier_field);
  const bool weighted = !text::IsBlank(weight_field);
  const qeldata::Field weight = weighted ? fields.Item(weight_field) : value_field;
  Read(input, value_field, weighted ? &weight : nullptr, outlier_field, weight_field, tally);
}

// How the outlier run words the errors that carry no text of their own.
std::string OverflowText(const TallyOverflow& e) { return e.what(); }
constexpr StopTexts kStopTexts{"Unexpected failure", &OverflowText};

}  // namespace

OutlierRecord& OutlierRunRecord() {
  thread_local OutlierRecord record;
  return record;
}

std::shared_ptr<qeldata::Recordset> Outlier_Finish(Tally<CountWeight>& tally, const OutlierOptions& options,
                                                   OutlierRecord& rec, std::string* reason, const PhaseFn& phase) {
  std::string why;
  auto result = GuardRun(why, kStopTexts, [&] { return Finish(tally, options, rec, phase); });
  if (reason) *reason = std::move(why);
  return result;
}

namespace {

// The frame of a run: `check_and_read` checks the field, opens the progress
// window and fills the tally; then the finish. Whatever stops the run, the
// table is dropped, the window unloaded and the reason kept; nothing is raised.
template <typename CheckAndReadFn>
std::shared_ptr<qeldata::Recordset> RunFrame(const std::string& outlierField, std::int32_t findType, double typeParm,
                                             CheckAndReadFn check_and_read) {
  OutlierRecord& rec = OutlierRunRecord();
  rec = OutlierRecord{};
  RunProgress progress;
  Tally<CountWeight> tally;
  std::string reason;
  const bool read = GuardRun(reason, kStopTexts, [&] {
    check_and_read(progress, tally);
    return true;
  });
  std::shared_ptr<qeldata::Recordset> result;
  if (read) {
    result = Outlier_Finish(tally, OutlierOptions{findType, typeParm, outlierField}, rec, &reason,
                            [&](const char* status, int bar) { progress.Phase(status, bar); });
  } else {
    CopyTotals(tally.Totals(), rec);  // what was counted up to the failing record
  }
  LastStopReason() = std::move(reason);
  progress.Unload();
  return result;
}

}  // namespace

std::shared_ptr<qeldata::Recordset> Outlier_Run(qeldata::Recordset& input, const std::string& outlierField,
                                                const std::string& weightField, std::int32_t findType,
                                                double typeParm, bool showStatus) {
  return RunFrame(outlierField, findType, typeParm, [&](RunProgress& progress, Tally<CountWeight>& tally) {
    CheckAndRead(input, outlierField, weightField, showStatus, progress, tally);
  });
}

std::shared_ptr<qeldata::Recordset> Outlier_RunInDatabase(qeldata::AggregateReader& reader,
                                                          const std::string& outlierField,
                                                          const std::string& weightField, std::int32_t findType,
                                                          double typeParm, bool showStatus) {
  return RunFrame(outlierField, findType, typeParm, [&](RunProgress& progress, Tally<CountWeight>& tally) {
    const qeldata::FieldInfo& value_field = reader.Field(outlierField);
    detail::RequireNumericType(value_field.type, value_field.name, kSource);
    if (showStatus) OpenProgress(progress, outlierField);
    qeldata::AggregateRequest request;
    request.value_field = outlierField;
    if (!text::IsBlank(weightField)) request.weight_field = weightField;
    reader.Run(request);
    try {
      detail::TallyGroups(
          reader, tally, [&](const qeldata::Value& v) { return KeyOf(v, outlierField, 0).value; }, kSource);
    } catch (const TallyOverflow& e) {
      Fault(kErrOverflow, std::string("Overflow in ") + e.what());
    }
  });
}

}  // namespace qel
