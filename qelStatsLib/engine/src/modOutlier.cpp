#include "qelStatsLib/modOutlier.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "modQuickSort.h"
#include "qelStatsLib/presenter.h"
#include "qeldata/error.h"
#include "qeldata/value.h"
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

[[noreturn]] void NotANumber(const qeldata::Value& v, const std::string& field, double record) {
  std::string shown = v.AsText();
  if (shown.size() > 80) shown = shown.substr(0, 80) + "...";
  Fault(qeldata::kErrDataConversion, "Type mismatch: the value '" + shown + "' of field '" + field + "' in record " +
                                         qeldata::NumberText(record) + " is not a finite number");
}

// The number a distinct value is known by: the value's 15-significant-digit
// text form read back as a double (Canonical15), so that two values that print
// alike are one value and -0 is 0. Numbers, booleans (-1, 0) and texts that
// read as a number have one; dates and other texts do not.
inline double KeyOf(const qeldata::Value& v, const std::string& field, double record) {
  double x;
  switch (v.kind()) {
    case qeldata::Value::Kind::kNumber:
      x = v.number();
      if (v.IsCanonicalNumber()) [[likely]] {
        if (x == 0) x = 0.0;  // -0 reads "0"
      } else {
        x = qeldata::Canonical15(x);
      }
      break;
    case qeldata::Value::Kind::kBoolean:
      x = v.boolean() ? -1.0 : 0.0;
      break;
    case qeldata::Value::Kind::kText: {
      const auto n = qeldata::ParseNumber(v.text());
      if (!n) NotANumber(v, field, record);
      x = qeldata::Canonical15(*n);
      break;
    }
    default:
      NotANumber(v, field, record);
  }
  if (!std::isfinite(x)) [[unlikely]]
    NotANumber(v, field, record);
  return x;
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

// One distinct value with the number of its records and their total weight.
// Both totals are kept as their 15-digit form after every addition, exactly
// as if they were written out as text and read back each time.
struct Tally {
  double value;
  double count;
  double weight;
};

// The distinct-value table: an open-addressing hash table (linear probing)
// whose slots hold the tallies themselves, so that a record costs one memory
// access however many distinct values there are. Keys are canonical (finite,
// no -0), so equal bit patterns mean equal values and a NaN can mark an empty
// slot. The order of the tallies is of no account: they are sorted afterwards.
class DistinctTable {
 public:
  DistinctTable() : slots_(kInitialSlots, kEmptyTally), mask_(kInitialSlots - 1) {}

  // The tally of `x`; a new value gets a tally with count 0 and weight 0, and
  // `is_new` says so. The reference holds until the next call.
  Tally& Find(double x, bool* is_new) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
    for (std::size_t i = Mix(bits) & mask_;; i = (i + 1) & mask_) {
      Tally& t = slots_[i];
      const std::uint64_t slot_bits = std::bit_cast<std::uint64_t>(t.value);
      if (slot_bits == bits) {
        *is_new = false;
        return t;
      }
      if (slot_bits == kEmpty) {
        if (size_ >= grow_at_) {
          Grow();
          return Find(x, is_new);
        }
        ++size_;
        t = Tally{x, 0, 0};
        *is_new = true;
        return t;
      }
    }
  }

  // The slot where the look-up of `x` starts, for prefetching.
  const Tally* Home(double x) const { return &slots_[Mix(std::bit_cast<std::uint64_t>(x)) & mask_]; }

  // Hands over the tallies, packed, and empties the table.
  std::vector<Tally> Release() {
    std::size_t packed = 0;
    for (std::size_t i = 0; i < slots_.size(); ++i)
      if (std::bit_cast<std::uint64_t>(slots_[i].value) != kEmpty) slots_[packed++] = slots_[i];
    slots_.resize(packed);
    size_ = 0;
    return std::move(slots_);
  }

 private:
  static constexpr std::size_t kInitialSlots = 1024;
  static constexpr std::uint64_t kEmpty = 0x7FF80000000E3E7FULL;  // a quiet NaN, never a key
  static constexpr Tally kEmptyTally{std::bit_cast<double>(kEmpty), 0, 0};

  // The finaliser of MurmurHash3: whole numbers differ only in their high
  // bits as doubles, and this spreads them over the low ones.
  static std::size_t Mix(std::uint64_t k) {
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdULL;
    k ^= k >> 33;
    k *= 0xc4ceb9fe1a85ec53ULL;
    k ^= k >> 33;
    return static_cast<std::size_t>(k);
  }

  // Doubles the slots; the table is kept at most 70% full.
  void Grow() {
    std::vector<Tally> old(slots_.size() * 2, kEmptyTally);
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    grow_at_ = slots_.size() / 10 * 7;
    for (const Tally& t : old) {
      const std::uint64_t bits = std::bit_cast<std::uint64_t>(t.value);
      if (bits == kEmpty) continue;
      std::size_t i = Mix(bits) & mask_;
      while (std::bit_cast<std::uint64_t>(slots_[i].value) != kEmpty) i = (i + 1) & mask_;
      slots_[i] = t;
    }
  }

  std::vector<Tally> slots_;
  std::size_t mask_;
  std::size_t size_ = 0;
  std::size_t grow_at_ = kInitialSlots / 10 * 7;
};

// The run's progress window, when it shows one.
class Progress {
 public:
  void Open(const std::string& field) {
    window_ = CurrentPresenter().LoadProgressWindow();
    window_->SetCaption("Processing Outliers: " + field);
    window_->SetStatus("Process Running");
    window_->SetBarValue(0);
    window_->ShowTopMost();
    window_->Refresh();
    window_->SetStatus("Reading input Data");
    window_->Refresh();
  }
  void Phase(const char* status, int bar) {
    if (!window_) return;
    window_->SetStatus(status);
    window_->SetBarValue(bar);
    window_->Refresh();
  }
  void Unload() { window_.reset(); }

 private:
  std::unique_ptr<ProgressWindow> window_;
};

// Tallies the records of `input` from its current position to its end. The
// running figures live in locals for speed and reach the record on every exit,
// so a failure leaves what had been counted up to the failing record.
DistinctTable ReadUnweighted(qeldata::Recordset& input, const qeldata::Field& value_field,
                             const std::string& field_name, OutlierRecord& rec) {
  DistinctTable table;
  double n = 0, sum = 0, missing = 0;
  // Unweighted, WgtN follows N and SumWgt follows Sum step for step.
  auto flush = [&] {
    rec.N = rec.WgtN = n;
    rec.Sum = rec.SumWgt = sum;
    rec.Missing = missing;
  };
  // Values reach the table a few records after they are read, with the slot
  // of each prefetched in between: with many distinct values nearly every
  // look-up would otherwise miss the cache. Counting cannot fail and the table
  // is of use only once the reading ends, so the lag changes no result.
  constexpr std::size_t kLag = 16;
  double pending[kLag];
  std::size_t read = 0, counted = 0;
  auto count = [&table](double x) {
    bool is_new;
    Tally& t = table.Find(x, &is_new);
    t.count += 1;
    t.weight += 1;  // whole numbers below 1e15 are their own 15-digit form
  };
  try {
    while (!input.IsEOF()) {
      const qeldata::Value& v = value_field.GetValue();
      if (v.IsNull()) {
        missing += 1;
      } else {
        const double x = KeyOf(v, field_name, n + missing + 1);
        n += 1;
        const double next_sum = sum + x;
        if (!std::isfinite(next_sum)) [[unlikely]]
          Checked(next_sum, "the sum of the values");
        sum = next_sum;
        __builtin_prefetch(table.Home(x));
        if (read - counted == kLag) count(pending[counted++ % kLag]);
        pending[read++ % kLag] = x;
      }
      input.MoveNext();
    }
    while (counted < read) count(pending[counted++ % kLag]);
  } catch (...) {
    flush();
    throw;
  }
  flush();
  return table;
}

DistinctTable ReadWeighted(qeldata::Recordset& input, const qeldata::Field& value_field,
                           const qeldata::Field& weight_field, const std::string& field_name,
                           const std::string& weight_name, OutlierRecord& rec) {
  DistinctTable table;
  double n = 0, wgt_n = 0, sum = 0, sum_wgt = 0, missing = 0;
  auto flush = [&] {
    rec.N = n;
    rec.WgtN = wgt_n;
    rec.Sum = sum;
    rec.SumWgt = sum_wgt;
    rec.Missing = missing;
  };
  try {
    while (!input.IsEOF()) {
      const qeldata::Value& v = value_field.GetValue();
      const qeldata::Value& wv = weight_field.GetValue();
      if (v.IsNull() || wv.IsNull()) {
        missing += 1;
      } else {
        const double record = n + missing + 1;
        const double x = KeyOf(v, field_name, record);
        const double w = WeightOf(wv, weight_name, record);
        n += 1;
        const double next_wgt_n = wgt_n + w, next_sum = sum + x, next_sum_wgt = sum_wgt + w * x;
        if (!(std::isfinite(next_wgt_n) && std::isfinite(next_sum) && std::isfinite(next_sum_wgt))) [[unlikely]] {
          // Keep the figures that were added before the one that overflowed.
          wgt_n = Checked(next_wgt_n, "the total weight");
          sum = Checked(next_sum, "the sum of the values");
          Checked(next_sum_wgt, "the weighted sum of the values");
        }
        wgt_n = next_wgt_n;
        sum = next_sum;
        sum_wgt = next_sum_wgt;
        bool is_new;
        Tally& t = table.Find(x, &is_new);
        t.count += 1;
        t.weight = is_new ? qeldata::Canonical15(w)
                          : qeldata::Canonical15(Checked(t.weight + w, "the total weight of a value"));
      }
      input.MoveNext();
    }
  } catch (...) {
    flush();
    throw;
  }
  flush();
  return table;
}

bool IsNumericFieldType(int type) {
  switch (type) {
    case qeldata::adChar:
    case qeldata::adDate:
    case qeldata::adVarChar:
    case qeldata::adVarWChar:
    case qeldata::adWChar:
      return false;
    default:
      return true;
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
void Mark(const std::vector<Tally>& tallies, double lower, double upper, std::vector<std::uint8_t>& outlier,
          OutlierRecord& rec) {
  for (std::size_t i = 0; i < tallies.size(); ++i) {
    const Tally& t = tallies[i];
    const bool is_outlier = t.value > upper || t.value < lower;
    outlier[i] = is_outlier;
    if (is_outlier) {
      rec.OutlierCountWgt = Checked(rec.OutlierCountWgt + t.weight, "the outlier weight");
      rec.OutlierCountN += t.count;
    }
  }
}

// The trimmed-mean rule. t = typeParm% of the total weight / 2 is trimmed from
// each end: the lower tail takes whole rows from the smallest value up until
// its weight reaches t; the upper tail then takes whole rows from the largest
// value down until both tails together reach 2t. The upper tail never takes a
// row the lower tail already took: when the lower tail reaches the largest
// value, all the weight is trimmed and no trimmed mean can be formed.
void TrimmedMeanRule(const std::vector<Tally>& tallies, double type_parm, std::vector<std::uint8_t>& outlier,
                     OutlierRecord& rec) {
  const std::size_t k = tallies.size();
  const double t = Checked(Checked(type_parm / 100 * rec.WgtN, "the trim weight") / 2, "the trim weight");
  double trimmed = 0, trimmed_sum = 0;
  auto take = [&](const Tally& row) {
    trimmed = Checked(trimmed + row.weight, "the trimmed weight");
    trimmed_sum = Checked(trimmed_sum + Checked(row.weight * row.value, "the trimmed sum"), "the trimmed sum");
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
  const double lower = Checked((1 - half_width) * trimmed_mean, "the lower bound");
  const double upper = Checked((half_width + 1) * trimmed_mean, "the upper bound");
  Mark(tallies, lower, upper, outlier, rec);
  if (rec.TrimmedMean == kNoTrimmedMean) rec.OutlierCountWgt = rec.OutlierCountN = kNoTrimmedMean;
}

std::shared_ptr<qeldata::Recordset> Run(qeldata::Recordset& input, const std::string& outlier_field,
                                        const std::string& weight_field, std::int32_t find_type, double type_parm,
                                        bool show_status, Progress& progress) {
  OutlierRecord& rec = OutlierRunRecord();
  auto result = NewResultSet();

  // Read from the first record whatever the cursor's position, so that a
  // recordset left at its end by an earlier run is read again in full. An
  // empty recordset (at its start and its end at once) is left alone.
  if (!(input.IsEOF() && input.IsBOF())) input.MoveFirst();

  qeldata::Fields fields = input.GetFields();
  const qeldata::Field value_field = fields.Item(outlier_field);
  if (!IsNumericFieldType(value_field.Type()))
    throw qeldata::Error(qeldata::kErrLibraryInput, kSource, "Numeric Data types only");

  if (show_status) progress.Open(outlier_field);

  DistinctTable table = text::IsBlank(weight_field)
                            ? ReadUnweighted(input, value_field, outlier_field, rec)
                            : ReadWeighted(input, value_field, fields.Item(weight_field), outlier_field,
                                           weight_field, rec);

  progress.Phase("Calculating Statistics", 50);
  if (rec.WgtN > 0) rec.Mean = Divide(rec.SumWgt, rec.WgtN, "the mean");

  progress.Phase("Sorting Data", 75);
  std::vector<Tally> tallies = table.Release();
  const std::size_t k = tallies.size();
  if (k == 0)
    Fault(kErrSubscript, "No record has a usable value of field '" + outlier_field + "' (" +
                             qeldata::NumberText(rec.Missing) + " missing)");
  // The library's sort, applied to the tallies so that each value carries its
  // count and weight along.
  detail::QuickSortRange(std::span<Tally>(tallies), 0, static_cast<std::int64_t>(k) - 1,
                         [](const Tally& a, const Tally& b) { return a.value < b.value; });

  progress.Phase("Building Output", 86);
  // Sum of squares and quartiles in one walk up the sorted values, with the
  // cumulative weight share of each value.
  const double mean = rec.Mean, wgt_n = rec.WgtN;
  double cumulative = 0;
  bool have_q1 = false, have_q3 = false, have_median = false;
  for (std::size_t i = 0; i < k; ++i) {
    const double v = tallies[i].value, w = tallies[i].weight;
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

  std::vector<std::uint8_t> outlier(k, 0);
  if (find_type == 1) {
    const double band = Checked(type_parm * rec.Stdev, "the band width");
    const double upper = Checked(band + rec.Mean, "the upper bound");
    const double lower = Checked(rec.Mean - band, "the lower bound");
    Mark(tallies, lower, upper, outlier, rec);
  } else if (find_type == 2) {
    TrimmedMeanRule(tallies, type_parm, outlier, rec);
    progress.Phase("Completing process", 99);
  }

  qeldata::Fields out = result->GetFields();
  qeldata::Field out_value = out.Item(0), out_n = out.Item(1), out_weight = out.Item(2),
                       out_flag = out.Item(3);
  for (std::size_t i = 0; i < k; ++i) {
    result->AddNew();
    out_value.SetValue(tallies[i].value);
    out_n.SetValue(tallies[i].count);
    out_flag.SetValue(qeldata::Value::Boolean(outlier[i] != 0));
    out_weight.SetValue(tallies[i].weight);
    result->Update();
  }
  result->MoveNext();  // handed over after its last row
  return result;
}

}  // namespace

OutlierRecord& OutlierRunRecord() {
  thread_local OutlierRecord record;
  return record;
}

std::shared_ptr<qeldata::Recordset> Outlier_Run(qeldata::Recordset& input, const std::string& outlierField,
                                                const std::string& weightField, std::int32_t findType,
                                                double typeParm, bool showStatus) {
  OutlierRecord& rec = OutlierRunRecord();
  rec = OutlierRecord{};
  Progress progress;
  // The run's one failure path: whatever stops it, the table is dropped, the
  // window unloaded, and the reason kept in the record; nothing is raised.
  try {
    auto result = Run(input, outlierField, weightField, findType, typeParm, showStatus, progress);
    progress.Unload();
    return result;
  } catch (const qeldata::Error& e) {
    rec.failure = e.description();
  } catch (const std::bad_alloc&) {
    rec.failure = "Out of memory";
  } catch (const std::exception& e) {
    rec.failure = e.what();
  } catch (...) {
    rec.failure = "Unexpected failure";
  }
  if (rec.failure.empty()) rec.failure = "Unexpected failure";
  progress.Unload();
  return nullptr;
}

}  // namespace qel
