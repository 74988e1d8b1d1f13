#include "qelStatsLib/modUnivariate.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "modQuickSort.h"
#include "qelStatsLib/presenter.h"
#include "qeldata/error.h"
#include "round15.h"
#include "text.h"

namespace qel {

namespace {

// Raised inside the run when an operation divides by zero, is invalid or
// overflows. The run's one handler turns it, like every other error, into the
// result false.
struct ArithmeticFault {
  const char* what = "a division by zero, an invalid operation or an overflow";
};

// Every operand in the run is finite (input values are checked as they are
// read, and the run stops at the first non-finite result), so a result that is
// not finite can only come from a division by zero, an invalid operation or an
// overflow.
inline double Checked(double result) {
  if (!std::isfinite(result)) [[unlikely]]
    throw ArithmeticFault{};
  return result;
}

// The double the 15-significant-digit text form of `x` reads back as. A text
// form beyond the largest double reads back as an infinity: that is an
// overflow.
inline double TextFormValue(double x) {
  const double c = detail::Round15(x);
  if (!std::isfinite(c)) [[unlikely]]
    throw ArithmeticFault{"an overflow"};
  return c;
}

// A field value as the distinct value it stands for. Providers mark numbers
// read from a token of at most 15 significant digits, which are their own text
// form: those skip the rounding (adding +0.0 still folds -0 into 0).
inline double DistinctValue(const qeldata::Value& v) {
  if (v.IsNumber()) [[likely]] {
    const double x = v.number();
    if (!std::isfinite(x)) [[unlikely]]
      throw qeldata::Error(qeldata::kErrDataConversion, "Univariate Descriptives",
                           "the value " + qeldata::NumberText(x) + " is no data value");
    return v.IsCanonicalNumber() ? x + 0.0 : TextFormValue(x);
  }
  return TextFormValue(Checked(v.AsNumber()));  // AsNumber throws for a text that is no number
}

inline std::uint64_t KeyOf(double canonical) { return std::bit_cast<std::uint64_t>(canonical); }

// The value tally: distinct value -> total weight of its records. Keys are
// the bits of a value's text-form double, so two values share an entry exactly
// when their text forms are equal. Only the total weight enters the
// statistics, so the number of records per value is not kept (without weights
// it equals the total weight). Open addressing with linear probing, at most
// three quarters full (a column of 9 million distinct values fits 16 million
// slots, 256 MB); 16-byte entries keep 100,000 values in 4 MB.
class ValueTally {
 public:
  struct Entry {
    std::uint64_t key;
    double weight;
  };

  ValueTally() { Rehash(1024); }

  // The entry of `key`, created with weight 0 when it is new.
  Entry& FindOrAdd(std::uint64_t key, bool* added) {
    std::size_t i = Slot(key);
    while (true) {
      Entry& e = slots_[i];
      if (e.key == key) {
        *added = false;
        return e;
      }
      if (e.key == kEmpty) break;
      i = (i + 1) & mask_;
    }
    if ((size_ + 1) * 4 > slots_.size() * 3) {
      Rehash(slots_.size() * 2);
      i = Slot(key);
      while (slots_[i].key != kEmpty) i = (i + 1) & mask_;
    }
    ++size_;
    *added = true;
    slots_[i] = Entry{key, 0};
    return slots_[i];
  }

  // Where the look-up of `key` starts: prefetching it lets a probe a few
  // records later find the slot in the cache. (The prefetch itself is written
  // at the call site: GCC drops a prefetch inside a helper it deems pure.)
  const Entry* FirstSlot(std::uint64_t key) const { return &slots_[Slot(key)]; }

  const Entry& Find(std::uint64_t key) const {
    std::size_t i = Slot(key);
    while (slots_[i].key != key) i = (i + 1) & mask_;  // only asked for keys it holds
    return slots_[i];
  }

  std::size_t Count() const { return size_; }

  // Gives the memory back; the tally holds nothing afterwards.
  void Free() {
    std::vector<Entry>().swap(slots_);
    mask_ = size_ = 0;
  }

 private:
  // A NaN pattern: never the bits of a finite value.
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};

  std::size_t Slot(std::uint64_t key) const {
    // The finaliser of MurmurHash3: values that differ only in their low
    // mantissa bits (or only in their exponent) still spread over the table.
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdULL;
    key ^= key >> 33;
    return static_cast<std::size_t>(key) & mask_;
  }

  void Rehash(std::size_t capacity) {
    std::vector<Entry> old;
    old.swap(slots_);
    slots_.assign(capacity, Entry{kEmpty, 0});
    mask_ = capacity - 1;
    for (const Entry& e : old) {
      if (e.key == kEmpty) continue;
      std::size_t i = Slot(e.key);
      while (slots_[i].key != kEmpty) i = (i + 1) & mask_;
      slots_[i] = e;
    }
  }

  std::vector<Entry> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

bool IsRejectedType(int type) {
  // The text and date types; the long text types pass and fail later on their
  // first value that is no number.
  return type == qeldata::adChar || type == qeldata::adDate || type == qeldata::adVarChar ||
         type == qeldata::adVarWChar || type == qeldata::adWChar;
}

using text::IsBlank;

// The progress window of one run, when the run shows one.
class Progress {
 public:
  Progress(bool show, const std::string& fieldName) {
    if (!show) return;
    window_ = CurrentPresenter().LoadProgressWindow();
    window_->SetCaption("Processing Univariate: " + fieldName);
    window_->SetStatus("Reading Data");
    window_->SetBarValue(0);
    window_->ShowTopMost();
    window_->Refresh();
  }
  void Phase(const char* status, int bar) {
    if (!window_) return;
    window_->SetStatus(status);
    window_->SetBarValue(bar);
    window_->Refresh();
  }

 private:
  std::unique_ptr<ProgressWindow> window_;
};

// One quartile's state in the summary pass.
struct Quartile {
  double level;
  double* statistic;
  std::int64_t last_below = 0;  // 1-based index of the last value below the level; 0: none yet
  bool exact = false;

  void Visit(std::int64_t j, double p, double a) {
    if (p == level) {
      *statistic = a;
      exact = true;
    } else if (p < level && !exact) {
      *statistic = a;
      last_below = j;
    } else if (p > level && !exact && j == last_below + 1) {
      *statistic = a;
    }
  }
};

// Adds values to the tally a few records after they were read, with the slot
// of each prefetched in between: with many distinct values nearly every
// look-up would otherwise miss the cache. Nothing the run reports depends on
// the tally before the reading pass ends, so the lag changes no result as long
// as adding to the tally cannot fail; callers add through the lag only then.
class LaggedTally {
 public:
  LaggedTally(ValueTally& tally, std::vector<double>& values, bool weighted)
      : tally_(tally), values_(values), weighted_(weighted) {}

  void Add(double x, double w) {
    __builtin_prefetch(tally_.FirstSlot(KeyOf(x)));
    if (read_ - done_ == kLag) AddNow(pending_[done_++ % kLag]);
    pending_[read_++ % kLag] = Item{x, w};
  }
  void Drain() {
    while (done_ < read_) AddNow(pending_[done_++ % kLag]);
  }
  void AddNow(double x, double w) { AddNow(Item{x, w}); }

 private:
  static constexpr std::size_t kLag = 16;
  struct Item {
    double x, w;
  };

  void AddNow(const Item& item) {
    bool added = false;
    ValueTally::Entry& e = tally_.FindOrAdd(KeyOf(item.x), &added);
    if (added) values_.push_back(item.x);
    if (weighted_) {
      // The total weight is kept in its text form: weights 0.7, 0.2 and 0.1
      // on one value make exactly 1.
      e.weight = TextFormValue(Checked(e.weight + item.w));
    } else {
      // A total of whole weights below 1e15 is its own text form: no rounding.
      e.weight += 1;
    }
  }

  ValueTally& tally_;
  std::vector<double>& values_;
  bool weighted_;
  Item pending_[kLag];
  std::size_t read_ = 0, done_ = 0;
};

// Reads every record into the tally and the distinct-value list. `weighted`
// selects the weight field; the value field is looked up once by the caller.
// `record` counts the records met, for the stop reason.
void ReadValues(qeldata::Recordset& rs, const qeldata::Field& value_field, const std::string& weightField,
                bool weighted, UnivariateRecord& rec, ValueTally& tally, std::vector<double>& values,
                std::int64_t& record) {
  if (rs.IsEOF()) return;
  LaggedTally lagged(tally, values, weighted);
  if (!weighted) {
    // Without weights a total cannot overflow: every value goes through the lag.
    for (; !rs.IsEOF(); rs.MoveNext()) {
      ++record;
      const qeldata::Value& v = value_field.GetValue();
      if (v.IsNull()) {
        rec.Missing += 1;
        continue;
      }
      const double x = DistinctValue(v);
      rec.N += 1;
      rec.WgtN += 1;
      rec.Sum = Checked(rec.Sum + x);
      lagged.Add(x, 1);
    }
    lagged.Drain();
    return;
  }
  // Looked up on the first record, where reading the weight would fail.
  const qeldata::Field weight_field = rs.GetFields().Item(weightField);
  // While the absolute weights add up to at most 1e300, no value's total can
  // overflow, so the tally may lag. Past that bound every record is tallied at
  // once, so that an overflow stops the run at the record that causes it.
  double abs_weights = 0;
  bool lag = true;
  for (; !rs.IsEOF(); rs.MoveNext()) {
    ++record;
    const qeldata::Value& v = value_field.GetValue();
    const qeldata::Value& wv = weight_field.GetValue();
    if (v.IsNull() || wv.IsNull()) {
      rec.Missing += 1;
      continue;
    }
    const double x = DistinctValue(v);
    const double w = wv.AsNumber();
    if (!std::isfinite(w)) [[unlikely]]
      throw qeldata::Error(qeldata::kErrDataConversion, "Univariate Descriptives",
                           "the weight " + qeldata::NumberText(w) + " is no data value");
    rec.N += 1;
    rec.WgtN = Checked(rec.WgtN + w);
    rec.Sum = Checked(rec.Sum + Checked(w * x));
    abs_weights += std::fabs(w);
    if (lag && !(abs_weights <= 1e300)) [[unlikely]] {
      lagged.Drain();
      lag = false;
    }
    if (lag) {
      lagged.Add(x, w);
    } else {
      lagged.AddNow(x, w);
    }
  }
  lagged.Drain();
}

// Steps from the summary pass on; `rec` holds the reading pass's counts and
// sums, `values` the distinct values (not empty).
void Summarise(UnivariateRecord& rec, ValueTally& tally, std::vector<double>& values, Progress& progress) {
  const std::int64_t k = static_cast<std::int64_t>(values.size());
  if (k > 1) QuickSort(values, 0, k - 1);
  progress.Phase("Building Summary Statistics", 58);

  // The total weight of every distinct value in sorted order, looked up once
  // with the slots prefetched a few values ahead (sorted values visit the
  // table in no order: with millions of them nearly every look-up would miss
  // the cache), so that both passes below read the weights in sequence.
  std::vector<double> weights(static_cast<std::size_t>(k));
  constexpr std::int64_t kAhead = 16;
  for (std::int64_t j = 0; j < k; ++j) {
    if (j + kAhead < k) __builtin_prefetch(tally.FirstSlot(KeyOf(values[j + kAhead])));
    weights[j] = tally.Find(KeyOf(values[j])).weight;
  }
  tally.Free();

  const double wgt_n = rec.WgtN;
  const bool have_shares = wgt_n > 0;
  double cum = 0, trim_w = 0, trim_sum = 0, ss = 0, max_w = 0, mode = 0;
  bool median_set = false;
  Quartile q1{0.25, &rec.Q1}, q3{0.75, &rec.Q3};
  // Whether WgtN, rounded to the nearest whole number (halves to even), is even.
  const double rounded_n = std::nearbyint(wgt_n);
  const bool even_n = std::fmod(rounded_n, 2.0) == 0;

  for (std::int64_t j = 1; j <= k; ++j) {
    const double a = values[j - 1];
    const double w = weights[j - 1];
    if (w == 1) rec.Uniques += 1;
    const double d = Checked(a - rec.Mean);
    ss = Checked(ss + Checked(w * Checked(d * d)));
    cum = Checked(cum + w);
    if (have_shares) {
      const double p = Checked(cum / wgt_n);
      // Whole values in the outer 2.5% of the weight on either side leave the
      // trimmed mean; the largest value (share 1) always does.
      if (p <= 0.025 || p >= 0.975) {
        trim_w = Checked(trim_w + w);
        trim_sum = Checked(trim_sum + Checked(w * a));
      }
      q1.Visit(j, p, a);
      q3.Visit(j, p, a);
      if (!median_set && p >= 0.5) {
        median_set = true;
        if (p == 0.5 && even_n) {
          // Half the weight lies at or below a(j): the median sits between it
          // and the next larger value.
          if (j == k) throw ArithmeticFault{};
          rec.Median = Checked(Checked(a + values[j]) / 2);
        } else {
          rec.Median = a;
        }
      }
    }
    if (max_w == 0) mode = a;
    if (w > max_w) {
      mode = a;
      max_w = w;
    }
  }

  rec.Mode = TextFormValue(mode);
  if (wgt_n - 1 > 0) rec.Variance = Checked(ss / (wgt_n - 1));
  rec.Stdev = Checked(std::pow(rec.Variance, 0.5));
  rec.Min = values.front();
  rec.Max = values.back();
  rec.Range = Checked(rec.Max - rec.Min);
  rec.Cardinality = static_cast<double>(k);
  rec.IQR = Checked(rec.Q3 - rec.Q1);
  if (wgt_n - trim_w > 0) rec.TrimmedMean = Checked(Checked(rec.Sum - trim_sum) / (wgt_n - trim_w));
  if (rec.Mean != 0) rec.CV = Checked(Checked(rec.Stdev * 100) / rec.Mean);

  // The sample corrections of skewness and excess kurtosis. The kurtosis
  // constant divides by zero at a total weight of exactly 2 or 3.
  const double w_total = wgt_n;
  const double d2 = Checked((w_total - 1) * (w_total - 2));
  const double d3 = Checked(d2 * (w_total - 3));
  const double w1 = w_total - 1;
  const double c_denominator = Checked((w_total - 2) * (w_total - 3));
  if (c_denominator == 0)
    throw ArithmeticFault{"a division by zero: the kurtosis correction is undefined for a total weight of 2 or 3"};
  const double c = Checked(Checked(3 * Checked(w1 * w1)) / c_denominator);

  progress.Phase("Building Skewness and Kurtosis", 99);
  if (rec.Stdev == 0) {
    rec.Skewness = -99999;
    rec.Kurtosis = -9999;
    return;
  }
  double s3 = 0, s4 = 0;
  for (std::int64_t j = 0; j < k; ++j) {
    const double a = values[j];
    const double w = weights[j];
    const double z = Checked(Checked(a - rec.Mean) / rec.Stdev);
    s3 = Checked(s3 + Checked(w * Checked(Checked(Checked(std::pow(z, 3)) * w_total) / d2)));
    s4 = Checked(s4 + Checked(w * Checked(Checked(Checked(Checked(std::pow(z, 4)) * w_total) * (w_total + 1)) / d3)));
  }
  rec.Skewness = s3;
  rec.Kurtosis = Checked(s4 - c);
}

std::string& StopReason() {
  thread_local std::string reason;
  return reason;
}

}  // namespace

UnivariateRecord& UnivariateRunRecord() {
  thread_local UnivariateRecord record;
  return record;
}

const std::string& UnivariateStopReason() { return StopReason(); }

bool Univariate_Run(qeldata::Recordset& rs, const std::string& fieldName, const std::string& weightField,
                    bool showStatus) {
  // The run works on a local record and hands it over at every exit, so the
  // thread's record holds exactly what was computed before a stop.
  UnivariateRecord rec;
  bool result = false;
  std::unique_ptr<Progress> progress;
  std::int64_t record = 0;  // records met by the reading pass
  std::string reason;
  try {
    // A recordset left at its end by an earlier read (a disconnected
    // DataSource run twice) is read again from its first record; only an empty
    // one is left alone.
    if (!(rs.IsBOF() && rs.IsEOF())) rs.MoveFirst();

    const qeldata::Field value_field = rs.GetFields().Item(fieldName);
    if (IsRejectedType(value_field.Type()))
      throw qeldata::Error(qeldata::kErrLibraryInput, "Univariate Descriptives", "Numeric Data types only");

    progress = std::make_unique<Progress>(showStatus, fieldName);

    ValueTally tally;
    std::vector<double> values;
    ReadValues(rs, value_field, weightField, !IsBlank(weightField), rec, tally, values, record);
    record = 0;  // past the reading pass

    progress->Phase("Sorting Data", 73);
    if (rec.WgtN > 0) rec.Mean = Checked(rec.Sum / rec.WgtN);
    if (values.empty()) {
      reason = "no record has a usable value of '" + fieldName + "'";
    } else {
      Summarise(rec, tally, values, *progress);
      result = true;
    }
  } catch (const qeldata::Error& e) {
    // Every error inside the run ends it with the result false; the caller
    // sees only that (and the reason, for diagnostics).
    reason = e.description();
  } catch (const ArithmeticFault& f) {
    reason = f.what;
  } catch (const std::exception& e) {
    reason = e.what();
  } catch (...) {
    reason = "an unexpected error";
  }
  if (!result && record > 0) reason += " (record " + std::to_string(record) + ")";
  UnivariateRunRecord() = rec;
  StopReason() = std::move(reason);
  progress.reset();  // unloads the progress window
  return result;
}

}  // namespace qel
