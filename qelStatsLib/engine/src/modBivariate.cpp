#include "qelStatsLib/modBivariate.h"

#include "bivariate_rounding.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <deque>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "field_types.h"
#include "group_keys.h"
#include "in_database.h"
#include "modQuickSort.h"
#include "recent_texts.h"
#include "qelStatsLib/presenter.h"
#include "run_frame.h"
#include "text.h"

namespace qel {

namespace {

using qeldata::NumberText;
using qeldata::Recordset;
using qeldata::Value;

// The platform's run-time error 11, raised where a division by zero would
// otherwise slip through as NaN or infinity.
constexpr std::int32_t kErrDivisionByZero = static_cast<std::int32_t>(0x800A000B);
// The platform's run-time error 5, an invalid argument such as the square root of a negative number.
constexpr std::int32_t kErrInvalidCall = static_cast<std::int32_t>(0x800A0005);
// The platform's run-time error 6, an arithmetic result beyond the range of a double.
constexpr std::int32_t kErrOverflow = static_cast<std::int32_t>(0x800A0006);
constexpr const char* kDataCheckSource = "Bivariate Data Check";
constexpr const char* kRunSource = "Bivariate_Run";

thread_local BivariateRecord t_record;

// ---- Reading ----

// The key of a number: the double its text form reads back as, so that two
// values are one distinct value exactly when their text forms are equal.
// NaN, the infinities and values whose text form lies beyond the largest
// double have no place among the bins: a type mismatch, like a text.
[[gnu::noinline, noreturn]] void NotFinite(const Value& p) {
  throw qeldata::Error(qeldata::kErrDataConversion, kRunSource,
                       "Type mismatch: the value '" + p.AsText() + "' is not a finite number");
}

double NumberKey(const Value& p) {
  double key;
  if (p.IsNumber()) {
    const double x = p.number();
    if (p.IsCanonicalNumber()) key = x == 0 ? 0.0 : x;  // "-0" is the value 0
    else key = Form15(x);
  } else {
    // Booleans, dates and numeric texts in a field the run treats as numeric.
    key = Form15(p.AsNumber());
  }
  if (!std::isfinite(key)) [[unlikely]]
    NotFinite(p);
  return key + 0.0;
}

// A date's fields packed into one key, or nullopt when they lie outside the
// calendar (such a date is keyed by its text).
std::optional<std::uint64_t> DateKey(const qeldata::Date& d) {
  if (d.year < 0 || d.year > 0xFFFF || d.month < 0 || d.month > 15 || d.day < 0 || d.day > 31 || d.hour < 0 ||
      d.hour > 31 || d.minute < 0 || d.minute > 63 || d.second < 0 || d.second > 63)
    return std::nullopt;
  return (static_cast<std::uint64_t>(d.year) << 26) | (static_cast<std::uint64_t>(d.month) << 22) |
         (static_cast<std::uint64_t>(d.day) << 17) | (static_cast<std::uint64_t>(d.hour) << 12) |
         (static_cast<std::uint64_t>(d.minute) << 6) | static_cast<std::uint64_t>(d.second);
}

// The text a categorical run files a predictor value under: a text as it
// is, a number as the text of its 15-digit form, a date as its text.
std::string CategoryText(const Value& p) {
  switch (p.kind()) {
    case Value::Kind::kText:
      return p.text();
    case Value::Kind::kNumber:
      return NumberText(NumberKey(p));
    case Value::Kind::kDate:
      return p.date().ToText();
    default:
      return p.AsText();
  }
}

// The text key of each predictor value of a categorical run, as a position
// in its text tally. Numbers and dates reach their text through a cache, so a
// text is formatted once per distinct value; texts pass the recent ones.
class TextKeys {
 public:
  explicit TextKeys(TextTally& tally) : tally_(tally) {}

  std::uint32_t Position(const Value& p) {
    switch (p.kind()) {
      case Value::Kind::kText:
        return recent_.Position(tally_, p.text());
      case Value::Kind::kNumber: {
        const double key = NumberKey(p);
        const auto [it, added] = number_cache_.try_emplace(std::bit_cast<std::uint64_t>(key), 0);
        if (added) it->second = tally_.Position(NumberText(key));
        return it->second;
      }
      case Value::Kind::kDate: {
        const auto packed = DateKey(p.date());
        if (!packed) return tally_.Position(p.date().ToText());
        const auto [it, added] = date_cache_.try_emplace(*packed, 0);
        if (added) it->second = tally_.Position(p.date().ToText());
        return it->second;
      }
      default:
        return tally_.Position(p.AsText());
    }
  }

 private:
  TextTally& tally_;
  detail::RecentTexts recent_;  // a predictor of a few dozen categories finds its texts here
  std::unordered_map<std::uint64_t, std::uint32_t> number_cache_;  // canonical number bits -> position
  std::unordered_map<std::uint64_t, std::uint32_t> date_cache_;    // packed date -> position
};

// `e` with the field and the record (counted from 1) where it happened.
qeldata::Error InRecord(const qeldata::Error& e, const qeldata::Field& field, std::int64_t record) {
  return qeldata::Error(e.number(), e.source(),
                        e.description() + " (field '" + field.Name() + "', record " + std::to_string(record) + ")");
}

// The number (from 1) of the current record of a run's whole input.
struct InputRecord {
  const Recordset& input;
  std::int64_t operator()() const { return input.AbsolutePosition() + 1; }
};

// A target or weight value that is not stored as a number: read as
// one (a numeric text, a date, a boolean), or a type mismatch that names the
// field and the record, so that the user can find the cell.
// NaN and the infinities are no usable numbers either: a mean or an index
// computed from them would be a figure that means nothing.
// `record` gives the record's number for the error, read only when one is raised.
template <typename RecordNumber>
[[gnu::noinline]] double ConvertNumber(const Value& v, const qeldata::Field& field, RecordNumber record) {
  double x;
  try {
    x = v.AsNumber();
  } catch (const qeldata::Error& e) {
    throw InRecord(e, field, record());
  }
  if (!std::isfinite(x))
    throw InRecord(qeldata::Error(qeldata::kErrDataConversion, kRunSource,
                                  "Type mismatch: the value '" + NumberText(x) + "' is not a finite number"),
                   field, record());
  return x;
}

template <typename RecordNumber>
inline double AsNumber(const Value& v, const qeldata::Field& field, RecordNumber record) {
  return v.IsNumber() && std::isfinite(v.number()) ? v.number() : ConvertNumber(v, field, record);
}

// Where each complete record goes: a numeric predictor's tally keyed by
// the value's 15-digit form, or a categorical predictor's text tally. The
// record's weight (`in_flight`, counted in N already) leaves the reader's
// hands once the value is keyed.
struct NumberSink {
  Tally<TargetSums>& tally;
  void Missing(double amount) { tally.AddMissing(amount); }
  void Add(const Value& p, double weight, double target, double& in_flight) {
    const double key = NumberKey(p);
    in_flight = 0;
    tally.AddKeyed(key, key, weight, target);
  }
};

// A categorical run over a predictor field that is neither text nor a date
// keys its values as numbers while they are numbers (FinishNumberTexts makes
// the categories' rows from that tally): a number tally is a fraction of the
// memory of a text tally. A value of another kind ends the try.
struct NotAllNumbers {};

struct NumberCategorySink {
  Tally<TargetSums>& tally;
  void Missing(double amount) { tally.AddMissing(amount); }
  void Add(const Value& p, double weight, double target, double& in_flight) {
    if (!p.IsNumber()) [[unlikely]]
      throw NotAllNumbers{};
    NumberSink{tally}.Add(p, weight, target, in_flight);
  }
};

struct TextSink {
  TextTally& tally;
  TextKeys keys;
  void Missing(double amount) { tally.AddMissing(amount); }
  void Add(const Value& p, double weight, double target, double& in_flight) {
    const std::uint32_t position = keys.Position(p);
    in_flight = 0;
    tally.AddAt(position, weight, target);
  }
};

// The values of one record: predictor, target and weight (nullptr without
// a weight field). They are read before the record step, so that an error of
// the data layer (a cell that no longer reads as its column's type) stays
// apart from what the run refuses.
struct RecordValues {
  const Value& p;
  const Value& t;
  const Value* w;
};

inline RecordValues ValuesOf(const qeldata::Field& predictor, const qeldata::Field& target,
                             const qeldata::Field* weight) {
  const Value& p = predictor.GetValue();
  const Value& t = target.GetValue();
  return {p, t, weight ? &weight->GetValue() : nullptr};
}

// Reads one record into `sink`. A complete record counts in N before its
// target is read as a number: when reading fails, `in_flight` holds the
// failing record's weight, which N includes. A predictor value that cannot
// be keyed fails naming its field and record (`record()`) too.
template <typename Sink, typename RecordNumber>
[[gnu::always_inline]] inline void ReadRecord(const RecordValues& v, const qeldata::Field& predictor,
                                              const qeldata::Field& target, const qeldata::Field* weight,
                                              Sink& sink, double& in_flight, RecordNumber record) {
  const Value& p = v.p;
  const Value& t = v.t;
  double wv = 1;
  if (weight) {
    const Value& w = *v.w;
    if (p.IsNull() || t.IsNull() || w.IsNull()) {
      // A missing weight counts the record once; a present one counts its weight.
      sink.Missing(w.IsNull() ? 1.0 : AsNumber(w, *weight, record));
      return;
    }
    wv = AsNumber(w, *weight, record);
  } else if (p.IsNull() || t.IsNull()) {
    sink.Missing(1);
    return;
  }
  in_flight = wv;
  const double tv = AsNumber(t, target, record);
  try {
    sink.Add(p, wv, tv, in_flight);
  } catch (const qeldata::Error& e) {
    throw InRecord(e, predictor, record());
  }
}

// Reads every record from the current one to the end (see ReadRecord).
template <typename Sink>
void Read(Recordset& input, const qeldata::Field& predictor, const qeldata::Field& target,
          const qeldata::Field* weight, Sink& sink, double& in_flight) {
  for (; !input.IsEOF(); input.MoveNext())
    ReadRecord(ValuesOf(predictor, target, weight), predictor, target, weight, sink, in_flight, InputRecord{input});
}

using text::IsBlank;

// ---- Bins ----

// One result row while it is being built. "N" is kept as the table stores it
// (its text form), because the running count is read back from the row.
struct BinRow {
  double bin = 0;
  double n = 0;
  std::string min, max;
  double target_sum = 0;  // B: the weighted target sum of the bin's values
};

// A number as the result table shows it after rounding to 5 decimals.
std::string Rounded5Text(double x) { return NumberText(detail::RoundTo5Decimals(x)); }

// A row's Mean and Index as stored; empty when the bin weighs nothing (its
// mean is undefined) or the overall target mean is 0 (no index against it).
struct RowResult {
  std::optional<double> mean;  // as read back from the stored text
  std::optional<double> index;
};

RowResult Finish(const BinRow& row, double target_mean) {
  RowResult r;
  if (row.n == 0) return r;
  r.mean = Form15(detail::RoundTo5Decimals(row.target_sum / row.n));
  if (target_mean != 0) r.index = detail::RoundHalfEven(*r.mean * 100 / target_mean);
  return r;
}

using NumberEntry = Tally<TargetSums>::Entry;

// Cuts the sorted values into bins of about equal weighted share. A bin is
// closed just before the first value at which the share already placed
// strictly exceeds bin / BinCount; a value is never split, and at most one
// bin closes per value.
std::vector<BinRow> CutBins(const std::vector<NumberEntry>& values, double weighted_n, std::int16_t bin_count) {
  const double fraction = (100.0 / bin_count) / 100.0;
  std::vector<BinRow> rows(1);
  double bin = 1, cumulative = 0, share = 0, bin_target_sum = 0;
  const std::size_t k = values.size();
  for (std::size_t i = 0; i < k; ++i) {
    const double v = values[i].value;
    const double cut = fraction * bin;
    if (share > cut && i > 0) {
      rows.back().max = Rounded5Text(values[i - 1].value);
      bin += 1;
      rows.emplace_back();
      rows.back().min = Rounded5Text(v);
      bin_target_sum = 0;
    }
    BinRow& row = rows.back();
    if (i == 0) row.min = Rounded5Text(v);
    if (i == k - 1) row.max = Rounded5Text(v);
    row.bin = bin;
    const double count = values[i].payload.weight;
    row.n = Form15(row.n + count);
    cumulative += count;
    share = cumulative / weighted_n;
    bin_target_sum += values[i].payload.target_sum;
    row.target_sum = bin_target_sum;
  }
  return rows;
}

// One bin per distinct value, its range the value as listed.
BinRow ValueRow(std::size_t i, std::string label, const TargetSums& sums) {
  BinRow row;
  row.bin = static_cast<double>(i + 1);
  row.min = row.max = std::move(label);
  row.n = Form15(sums.weight);
  row.target_sum = sums.target_sum;
  return row;
}

// What PSI and DI need of the table's rows, in row order: the weighted sum
// of squared distances of the bin means from the overall mean, and the means.
// A bin that weighs nothing has no mean and takes part in neither.
struct RowMeans {
  double squares = 0;
  std::vector<double> means;
};

// The result table's rows, written as the rows are made (a categorical
// predictor has one per distinct value: they are never all held as BinRows),
// and what PSI and DI need of them.
class RowWriter {
 public:
  RowWriter(Recordset& table, double target_mean, std::size_t rows) : table_(table), target_mean_(target_mean) {
    const auto out = table.GetFields();
    fields_ = {out.Item("bin"), out.Item(1), out.Item(2), out.Item(3), out.Item(4), out.Item(5)};
    table.Reserve(static_cast<std::int64_t>(rows));
    means_.means.reserve(rows);
  }

  void operator()(const BinRow& row) {
    const RowResult r = Finish(row, target_mean_);
    table_.AddNew();
    fields_[0].SetValue(NumberText(row.bin));
    fields_[1].SetValue(NumberText(row.n));
    fields_[2].SetValue(row.min);
    fields_[3].SetValue(row.max);
    if (r.mean) fields_[4].SetValue(NumberText(*r.mean));
    if (r.index) fields_[5].SetValue(NumberText(*r.index));
    table_.Update();
    if (r.mean) {
      const double m = *r.mean;
      means_.squares += (target_mean_ - m) * (target_mean_ - m) * row.n;
      means_.means.push_back(m);
    }
  }

  RowMeans TakeMeans() { return std::move(means_); }

 private:
  Recordset& table_;
  double target_mean_;
  std::vector<qeldata::Field> fields_;
  RowMeans means_;
};

// PSI: the weighted spread of the bin means around the overall mean. DI: the
// share of bin pairs whose means fall as the predictor rises.
void PowerAndDiscontinuity(RowMeans&& rows, double weighted_n, BivariateRecord& rec) {
  const double squares = rows.squares;
  std::vector<double>& means = rows.means;
  // Negative weights can make the weighted sum of squares negative: its
  // square root is an invalid procedure call, as the platform raises it.
  const double psi = std::sqrt(squares / weighted_n);
  if (std::isnan(psi))
    throw qeldata::Error(kErrInvalidCall, kRunSource,
                         "Invalid procedure call or argument: PSI is the square root of " +
                             NumberText(squares / weighted_n) + " (negative weights)");
  if (std::isinf(psi))
    throw qeldata::Error(kErrOverflow, kRunSource, "Overflow: PSI exceeds the range of a double.");
  rec.PSI = psi;
  const auto r = static_cast<std::int64_t>(means.size());
  const double pairs = static_cast<double>((r - 1) * r) / 2;
  if (pairs > 0) rec.DI = static_cast<double>(detail::CountFallingPairs(std::move(means))) / pairs * 100;
}

// The totals every finish starts from; fails where the target mean is undefined.
void StartFinish(const TallyTotals& t, std::size_t k, const BivariateOptions& options, BivariateRecord& rec) {
  rec.TargetMean = rec.DI = rec.PSI = 0;
  rec.N = t.WgtN;
  rec.Missing = t.Missing;
  if (!std::isfinite(t.SumWgt) || !std::isfinite(t.WgtN))
    throw qeldata::Error(kErrOverflow, kRunSource,
                         "Overflow: the sum of the target or of the weights exceeds the range of a double.");
  if (t.WgtN == 0)
    throw qeldata::Error(kErrDivisionByZero, kRunSource,
                         "Division by zero: the weighted N of the records with a predictor, a target" +
                             std::string(options.weighted ? " and a weight" : "") + " is 0.");
  rec.TargetMean = t.SumWgt / t.WgtN;
  rec.Cardinality = static_cast<double>(k);
  rec.Categorical = options.categorical || k <= static_cast<std::size_t>(options.binCount);
}

// The finish after sorting: `make_rows(write)` makes the `row_count` rows of
// the sorted values in order and hands each to `write`; it may free what it
// made them from on its way out. Returns nullptr when the run is cancelled at
// a checkpoint.
template <typename MakeRows>
std::shared_ptr<Recordset> FinishSorted(const TallyTotals& t, const BivariateOptions& options, BivariateRecord& rec,
                                        const PhaseFn& phase, std::size_t row_count, MakeRows make_rows) {
  auto report = [&](const char* status, int bar) {
    if (phase) phase(status, bar);
  };
  if (Checkpoint()) return nullptr;
  report("Building Cummulative Counts", 70);
  auto table = NewBivariateTable(options.predictor, options.target);
  report("Assigning Bin/Segments", 83);
  if (Checkpoint()) return nullptr;

  RowWriter write(*table, rec.TargetMean, row_count);
  make_rows(write);
  RowMeans means = write.TakeMeans();
  report("Accessing Results", 99);
  if (Checkpoint()) return nullptr;
  auto clone = table->Clone(qeldata::adLockUnspecified);
  PowerAndDiscontinuity(std::move(means), t.WgtN, rec);
  return clone;
}

std::shared_ptr<Recordset> FinishNumbers(Tally<TargetSums>& tally, const BivariateOptions& options,
                                         BivariateRecord& rec, const PhaseFn& phase) {
  StartFinish(tally.Totals(), tally.Cardinality(), options, rec);
  const std::vector<NumberEntry> values = tally.TakeSorted();
  if (!rec.Categorical) {
    const std::vector<BinRow> bins = CutBins(values, tally.Totals().WgtN, options.binCount);
    return FinishSorted(tally.Totals(), options, rec, phase, bins.size(), [&](RowWriter& write) {
      for (const BinRow& row : bins) write(row);
    });
  }
  return FinishSorted(tally.Totals(), options, rec, phase, values.size(), [&](RowWriter& write) {
    for (std::size_t i = 0; i < values.size(); ++i) write(ValueRow(i, NumberText(values[i].value), values[i].payload));
  });
}

// The order of the values' texts (NumberText), as a categorical run lists
// its categories: position j of the result is the index in `values` of the
// j-th text. Number texts are ASCII, where the library's text order is the
// order of the bytes, and distinct numbers have distinct texts, so exactly
// one ascending order exists and std::sort finds the library sort's.
std::vector<std::uint32_t> TextOrder(const std::vector<NumberEntry>& values) {
  PackedTexts texts;
  for (const NumberEntry& e : values) texts.Append(NumberText(e.value));
  std::vector<std::uint32_t> order(values.size());
  std::iota(order.begin(), order.end(), std::uint32_t{0});
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return texts[a] < texts[b]; });
  return order;
}

// A categorical run over a numeric predictor whose values were all numbers:
// the tally was keyed by the numbers' 15-digit forms, which are equal exactly
// when their texts are, so its payloads are the text tally's, added in the
// same record order. The rows are FinishTexts' rows: one per text, in text
// order. The texts are made once for the sort and again per row, never held
// as strings side by side with the table.
std::shared_ptr<Recordset> FinishNumberTexts(Tally<TargetSums>& tally, BivariateOptions options, BivariateRecord& rec,
                                             const PhaseFn& phase) {
  options.categorical = true;
  StartFinish(tally.Totals(), tally.Cardinality(), options, rec);
  std::vector<NumberEntry> values = tally.TakeSorted();
  std::vector<std::uint32_t> order = TextOrder(values);
  return FinishSorted(tally.Totals(), options, rec, phase, values.size(), [&](RowWriter& write) {
    for (std::size_t i = 0; i < order.size(); ++i) {
      const NumberEntry& e = values[order[i]];
      write(ValueRow(i, NumberText(e.value), e.payload));
    }
    std::vector<NumberEntry>().swap(values);
    std::vector<std::uint32_t>().swap(order);
  });
}

std::shared_ptr<Recordset> FinishTexts(const TextTally& tally, BivariateOptions options, BivariateRecord& rec,
                                       const PhaseFn& phase) {
  options.categorical = true;  // a text has no order to cut into bins
  StartFinish(tally.Totals(), tally.Cardinality(), options, rec);
  // The texts' positions are sorted, not copies of the texts: the sort looks
  // at the elements only through the comparison, so the positions take the
  // steps the texts would take and come out in the texts' order (texts that
  // compare equal included).
  std::vector<std::uint32_t> order(tally.Cardinality());
  std::iota(order.begin(), order.end(), std::uint32_t{0});
  if (order.size() >= 2)
    detail::QuickSortRange(std::span<std::uint32_t>(order), 0, static_cast<std::int64_t>(order.size()) - 1,
                           [&](std::uint32_t a, std::uint32_t b) { return Utf16Less(tally.Text(a), tally.Text(b)); });
  return FinishSorted(tally.Totals(), options, rec, phase, order.size(), [&](RowWriter& write) {
    for (std::size_t i = 0; i < order.size(); ++i)
      write(ValueRow(i, std::string(tally.Text(order[i])), tally.Of(order[i])));
    std::vector<std::uint32_t>().swap(order);
  });
}

// How the bivariate run words the errors that carry no text of their own.
std::string OverflowText(const TallyOverflow&) {
  return "Overflow: the sum of the target or of the weights exceeds the range of a double.";
}
constexpr StopTexts kStopTexts{"Unexpected error", &OverflowText};

std::shared_ptr<Recordset> Cancelled() {
  LastStopReason() = "Cancelled by the user";
  return nullptr;
}

// What the check and reading pass of a run leave behind.
// kNumberTexts: a categorical predictor read into the number tally.
enum class ReadOutcome { kFailed, kCancelled, kNumbers, kTexts, kNumberTexts };

// The checks every run makes before it looks at a field: the bin count, then
// the window and the first checkpoint. False when the run is cancelled there.
bool CheckBinsAndOpen(const std::string& PredictorField, bool showStatus, std::int16_t BinCount, RunProgress& window) {
  if (BinCount <= 0)
    throw qeldata::Error(qeldata::kErrLibraryInput, kDataCheckSource,
                         "Bin Count is invalid. Integer values >0 are required.");
  if (showStatus) window.Open("Processing Bivariate: " + PredictorField, "Process Running");
  window.Status("System Initialization");
  return !Checkpoint();  // the window unloads on the way out
}

// Whether a predictor of ADO type `type` is categorical by its type (texts
// and dates); throws for the types no bin can hold (long texts, binary data).
bool IsCategoricalType(int type) {
  switch (type) {
    case qeldata::adChar:
    case qeldata::adWChar:
    case qeldata::adVarChar:
    case qeldata::adVarWChar:
    case qeldata::adDate:
    case qeldata::adDBDate:
    case qeldata::adDBTimeStamp:
      return true;
    case qeldata::adLongVarChar:
    case qeldata::adLongVarWChar:
    case qeldata::adBinary:
    case qeldata::adVarBinary:
    case qeldata::adLongVarBinary:
      throw qeldata::Error(qeldata::kErrLibraryInput, kDataCheckSource, "Invalid Data Type on input data.");
    default:
      return false;
  }
}

// The target and weight fields of a run over records (no weight when its
// name is blank). Binary data reads as text ("0x..."): refused before the
// first record.
struct NumericFields {
  qeldata::Field target;
  std::optional<qeldata::Field> weight;
  const qeldata::Field* Weight() const { return weight ? &*weight : nullptr; }
};

NumericFields TargetAndWeight(const qeldata::Fields& fields, const std::string& TargetField,
                              const std::string& WeightField) {
  NumericFields out{fields.Item(TargetField), std::nullopt};
  if (!IsBlank(WeightField)) out.weight = fields.Item(WeightField);
  if (detail::IsBinaryType(out.target.Type())) detail::RequireNumericField(out.target, kDataCheckSource);
  if (out.weight && detail::IsBinaryType(out.weight->Type()))
    detail::RequireNumericField(*out.weight, kDataCheckSource);
  return out;
}

// The run's checks and reading pass into one of the two tallies; rec.N and
// rec.Missing follow the records read, also when the pass fails.
ReadOutcome CheckAndRead(Recordset& input, const std::string& PredictorField, const std::string& TargetField,
                         bool showStatus, const std::string& WeightField, std::int16_t BinCount, RunProgress& window,
                         Tally<TargetSums>& numbers, TextTally& texts, BivariateRecord& rec) {
  if (!CheckBinsAndOpen(PredictorField, showStatus, BinCount, window)) return ReadOutcome::kCancelled;

  // The data layer refuses to move to the first record of a recordset that
  // has none, before the predictor's type is looked at.
  if (input.IsBOF() && input.IsEOF())
    throw qeldata::Error(qeldata::kErrNoCurrentRecord, "qeldata",
                         "Either BOF or EOF is True, or the current record has been deleted.");
  input.MoveFirst();
  const auto fields = input.GetFields();
  const qeldata::Field predictor = fields.Item(PredictorField);
  const bool categorical_type = IsCategoricalType(predictor.Type());
  if (categorical_type) rec.Categorical = true;

  window.Status("Extracting Summary Totals");
  window.Bar(50);
  if (Checkpoint()) return ReadOutcome::kCancelled;

  const NumericFields numeric = TargetAndWeight(fields, TargetField, WeightField);
  const qeldata::Field& target = numeric.target;
  const qeldata::Field* weight = numeric.Weight();
  double in_flight = 0;
  const TallyTotals* totals = rec.Categorical && categorical_type ? &texts.Totals() : &numbers.Totals();
  try {
    if (rec.Categorical && !categorical_type) {
      try {
        NumberCategorySink sink{numbers};
        Read(input, predictor, target, weight, sink, in_flight);
        numbers.Flush();
        return ReadOutcome::kNumberTexts;
      } catch (const NotAllNumbers&) {
        // Read again from the first record into the text tally; nothing of
        // the first try is kept.
        numbers = Tally<TargetSums>();
        in_flight = 0;
        totals = &texts.Totals();
        input.MoveFirst();
      }
    }
    if (rec.Categorical) {
      TextSink sink{texts, TextKeys(texts)};
      Read(input, predictor, target, weight, sink, in_flight);
      texts.ReleaseIndex();  // the finish walks the texts in order; no lookups
    } else {
      NumberSink sink{numbers};
      Read(input, predictor, target, weight, sink, in_flight);
      numbers.Flush();
    }
  } catch (...) {
    rec.N = totals->WgtN + in_flight;
    rec.Missing = totals->Missing;
    throw;
  }
  return rec.Categorical ? ReadOutcome::kTexts : ReadOutcome::kNumbers;
}

// The same checks with the reading pass in the database: one aggregate query
// whose groups fill the tally. Missing counts a record's weight when it has
// one, as the record-order read does.
ReadOutcome CheckAndReadInDatabase(qeldata::AggregateReader& reader, const std::string& PredictorField,
                                   const std::string& TargetField, bool showStatus, const std::string& WeightField,
                                   std::int16_t BinCount, RunProgress& window, Tally<TargetSums>& numbers,
                                   TextTally& texts, BivariateRecord& rec) {
  if (!CheckBinsAndOpen(PredictorField, showStatus, BinCount, window)) return ReadOutcome::kCancelled;
  if (IsCategoricalType(reader.Field(PredictorField).type)) rec.Categorical = true;

  window.Status("Extracting Summary Totals");
  window.Bar(50);
  if (Checkpoint()) return ReadOutcome::kCancelled;

  const qeldata::FieldInfo& target = reader.Field(TargetField);
  const qeldata::FieldInfo* weight = IsBlank(WeightField) ? nullptr : &reader.Field(WeightField);
  for (const qeldata::FieldInfo* f : {&target, weight})
    if (f && detail::IsBinaryType(f->type)) detail::RequireNumericType(f->type, f->name, kDataCheckSource);
  qeldata::AggregateRequest request;
  request.value_field = PredictorField;
  if (weight) request.weight_field = WeightField;
  request.target_field = TargetField;
  request.missing = qeldata::MissingRule::kWeight;
  reader.Run(request);

  const TallyTotals& totals = rec.Categorical ? texts.Totals() : numbers.Totals();
  try {
    auto sums = [](const qeldata::AggregateGroup& g) { return TargetSums{g.records, g.weight, g.target_sum}; };
    const std::size_t groups =
        rec.Categorical
            ? detail::ForEachGroup(reader, texts, kRunSource,
                                   [&](const qeldata::AggregateGroup& g) {
                                     texts.AddAggregate(CategoryText(g.value), sums(g));
                                   })
            : detail::ForEachGroup(reader, numbers, kRunSource, [&](const qeldata::AggregateGroup& g) {
                numbers.AddAggregate(NumberKey(g.value), sums(g));
              });
    numbers.Flush();
    // A source without records: what the record-order read says of it.
    if (groups == 0)
      throw qeldata::Error(qeldata::kErrNoCurrentRecord, "qeldata",
                           "Either BOF or EOF is True, or the current record has been deleted.");
  } catch (...) {
    rec.N = totals.WgtN;
    rec.Missing = totals.Missing;
    throw;
  }
  return rec.Categorical ? ReadOutcome::kTexts : ReadOutcome::kNumbers;
}

// A categorical predictor's sink for one group of a reading by group. The
// texts are those of TextKeys, looked up in the group's own tally (a cache
// per group would cost more memory than it saves time).
struct GroupTextSink {
  TextTally& tally;
  void Missing(double amount) { tally.AddMissing(amount); }
  void Add(const Value& p, double weight, double target, double& in_flight) {
    const std::uint32_t position =
        p.kind() == Value::Kind::kText ? tally.Position(p.text()) : tally.Position(CategoryText(p));
    in_flight = 0;
    tally.AddAt(position, weight, target);
  }
};

// The frame of a run: `check_and_read` fills one of the tallies, then the
// finish; every failure is shown and sets the cancel flag.
template <typename CheckAndReadFn>
std::shared_ptr<Recordset> RunFrame(const std::string& PredictorField, const std::string& TargetField,
                                    const std::string& WeightField, std::int16_t BinCount,
                                    CheckAndReadFn check_and_read) {
  BivariateRecord& rec = BivariateRunRecord();
  rec.TargetMean = rec.N = rec.Missing = rec.DI = rec.PSI = rec.Cardinality = 0;
  // A cancel or failure of an earlier run must not stop this one at its first
  // checkpoint; the flag is this run's from here on.
  CancelFlag() = false;

  RunProgress window;
  Tally<TargetSums> numbers;
  TextTally texts;
  std::string failure;
  const ReadOutcome read = GuardRun(failure, kStopTexts, [&] { return check_and_read(window, numbers, texts, rec); });
  LastStopReason().clear();
  if (read == ReadOutcome::kCancelled) return Cancelled();
  if (read != ReadOutcome::kFailed) {
    const BivariateOptions options{PredictorField, TargetField, BinCount, rec.Categorical, !IsBlank(WeightField)};
    const PhaseFn phase = [&](const char* status, int bar) {
      window.Status(status);  // repainted after the status and again after the bar
      window.Bar(bar);
    };
    std::shared_ptr<Recordset> result;
    if (read == ReadOutcome::kTexts) result = Bivariate_Finish(texts, options, rec, &failure, phase);
    else if (read == ReadOutcome::kNumbers) result = Bivariate_Finish(numbers, options, rec, &failure, phase);
    else result = GuardRun(failure, kStopTexts, [&] { return FinishNumberTexts(numbers, options, rec, phase); });
    if (result) return result;
    if (failure.empty()) return Cancelled();  // at one of the finish's checkpoints
  }
  LastStopReason() = failure;
  CancelFlag() = true;
  try {
    CurrentPresenter().ShowMessage("Com_Bivariate: Bivariate_Run " + failure);
  } catch (...) {
    // A host whose message box fails cannot be told more; the flag and the
    // missing table still report the failure.
  }
  return nullptr;
}

}  // namespace

BivariateRecord& BivariateRunRecord() { return t_record; }

namespace detail {

double RoundTo5Decimals(double x) {
  if (!std::isfinite(x)) return x;
  // Fixed notation with 5 decimals rounds the exact binary value, and an exact
  // tie to the even digit; numbers this large are whole already.
  if (std::fabs(x) >= 1e17) return x;
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, 5);
  double y = 0;
  std::from_chars(buf, res.ptr, y);
  return y == 0 ? 0.0 : y;
}

double RoundHalfEven(double x) {
  if (!std::isfinite(x)) return x;
  const double r = std::round(x);  // halves away from zero
  if (std::fabs(x - std::trunc(x)) == 0.5 && std::fmod(r, 2.0) != 0) return r - std::copysign(1.0, x);
  return r == 0 ? 0.0 : r;
}

namespace {
std::int64_t MergeCount(std::vector<double>& a, std::vector<double>& scratch, std::size_t lo, std::size_t hi) {
  if (hi - lo < 2) return 0;
  const std::size_t mid = lo + (hi - lo) / 2;
  std::int64_t count = MergeCount(a, scratch, lo, mid) + MergeCount(a, scratch, mid, hi);
  std::size_t i = lo, j = mid, out = lo;
  while (i < mid && j < hi) {
    if (a[j] < a[i]) {
      // a[j] falls below every remaining left element.
      count += static_cast<std::int64_t>(mid - i);
      scratch[out++] = a[j++];
    } else {
      scratch[out++] = a[i++];
    }
  }
  while (i < mid) scratch[out++] = a[i++];
  while (j < hi) scratch[out++] = a[j++];
  std::copy(scratch.begin() + static_cast<std::ptrdiff_t>(lo), scratch.begin() + static_cast<std::ptrdiff_t>(hi),
            a.begin() + static_cast<std::ptrdiff_t>(lo));
  return count;
}
}  // namespace

std::int64_t CountFallingPairs(std::span<const double> means) {
  return CountFallingPairs(std::vector<double>(means.begin(), means.end()));
}

std::int64_t CountFallingPairs(std::vector<double>&& means) {
  std::vector<double> scratch(means.size());
  return MergeCount(means, scratch, 0, means.size());
}

}  // namespace detail

std::shared_ptr<Recordset> NewBivariateTable(const std::string& predictor, const std::string& target) {
  auto table = std::make_shared<Recordset>();
  auto fields = table->GetFields();
  for (const std::string& name : {std::string("Bin"), std::string("N"), "Min " + predictor, "Max " + predictor,
                                  "Mean " + target, std::string("Index")})
    fields.Append(name, qeldata::adVarWChar, 255, qeldata::adFldUnspecified);
  table->Open();
  return table;
}

std::shared_ptr<Recordset> Bivariate_Finish(Tally<TargetSums>& tally, const BivariateOptions& options,
                                            BivariateRecord& rec, std::string* reason, const PhaseFn& phase) {
  std::string why;
  auto result = GuardRun(why, kStopTexts, [&] { return FinishNumbers(tally, options, rec, phase); });
  if (reason) *reason = std::move(why);
  return result;
}

std::shared_ptr<Recordset> Bivariate_Finish(const TextTally& tally, const BivariateOptions& options,
                                            BivariateRecord& rec, std::string* reason, const PhaseFn& phase) {
  std::string why;
  auto result = GuardRun(why, kStopTexts, [&] { return FinishTexts(tally, options, rec, phase); });
  if (reason) *reason = std::move(why);
  return result;
}

std::shared_ptr<Recordset> Bivariate_Run(Recordset& input, const std::string& PredictorField,
                                         const std::string& TargetField, bool showStatus,
                                         const std::string& WeightField, std::int16_t BinCount) {
  return RunFrame(PredictorField, TargetField, WeightField, BinCount,
                  [&](RunProgress& window, Tally<TargetSums>& numbers, TextTally& texts, BivariateRecord& rec) {
                    return CheckAndRead(input, PredictorField, TargetField, showStatus, WeightField, BinCount,
                                        window, numbers, texts, rec);
                  });
}

BivariateGroups Bivariate_TallyGroups(Recordset& input, const std::string& PredictorField,
                                      const std::string& TargetField, const std::string& WeightField,
                                      const std::string& GroupField, bool categorical) {
  BivariateGroups out;
  const bool empty = input.IsBOF() && input.IsEOF();
  if (!empty) input.MoveFirst();
  // The checks of CheckAndRead, in its order, then the grouping field.
  const auto fields = input.GetFields();
  const qeldata::Field predictor = fields.Item(PredictorField);
  out.categorical = IsCategoricalType(predictor.Type()) || categorical;
  const NumericFields numeric = TargetAndWeight(fields, TargetField, WeightField);
  const qeldata::Field& target = numeric.target;
  const qeldata::Field group = fields.Item(text::Trim(GroupField));
  if (empty) return out;

  // Groups in order of first appearance; a group that failed reads no more.
  struct GroupState {
    BivariateGroup group;
    bool stopped = false;
  };
  std::deque<GroupState> states;  // stable addresses while groups are added
  detail::GroupKeys keys;
  const qeldata::Field* weight_field = numeric.Weight();
  for (; !input.IsEOF(); input.MoveNext()) {
    const Value& key = group.GetValue();
    bool added = false;
    const std::size_t position = keys.Find(key, added);
    if (added) states.emplace_back().group.key = key;
    GroupState& g = states[position];
    BivariateGroup& b = g.group;
    ++b.records;
    if (g.stopped) continue;
    // The data layer's errors (a cell that no longer reads as its column's
    // type) end the whole reading; what the run itself refuses ends the group's.
    const RecordValues values = ValuesOf(predictor, target, weight_field);
    const auto record = [&b] { return b.records; };
    try {
      if (out.categorical) {
        GroupTextSink sink{b.texts};
        ReadRecord(values, predictor, target, weight_field, sink, b.in_flight, record);
      } else {
        NumberSink sink{b.numbers};
        ReadRecord(values, predictor, target, weight_field, sink, b.in_flight, record);
      }
    } catch (const qeldata::Error& e) {
      b.failure = e.description();
      g.stopped = true;
    } catch (const TallyOverflow& e) {
      b.failure = OverflowText(e);
      g.stopped = true;
    }
  }
  out.groups.reserve(states.size());
  for (GroupState& g : states) {
    g.group.numbers.Flush();
    out.groups.push_back(std::move(g.group));
  }
  std::stable_sort(out.groups.begin(), out.groups.end(), [](const BivariateGroup& a, const BivariateGroup& b) {
    return detail::GroupKeyLess(a.key, b.key);
  });
  return out;
}

std::shared_ptr<Recordset> Bivariate_RunInDatabase(qeldata::AggregateReader& reader, const std::string& PredictorField,
                                                   const std::string& TargetField, bool showStatus,
                                                   const std::string& WeightField, std::int16_t BinCount) {
  return RunFrame(PredictorField, TargetField, WeightField, BinCount,
                  [&](RunProgress& window, Tally<TargetSums>& numbers, TextTally& texts, BivariateRecord& rec) {
                    return CheckAndReadInDatabase(reader, PredictorField, TargetField, showStatus, WeightField,
                                                  BinCount, window, numbers, texts, rec);
                  });
}

}  // namespace qel
