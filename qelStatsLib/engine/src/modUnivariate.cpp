#include "qelStatsLib/modUnivariate.h"

#include <span>

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "in_database.h"
#include "exact_powers.h"
#include "field_types.h"
#include "modQuickSort.h"
#include "qelStatsLib/presenter.h"
#include "qeldata/error.h"
#include "round15.h"
#include "run_frame.h"
#include "text.h"
#include "univariate_finish.h"

namespace qel {

namespace {

// Raised inside the run when an operation divides by zero, is invalid or
// overflows. The run's one handler turns it, like every other error, into the
// result false.
struct ArithmeticFault : std::runtime_error {
  explicit ArithmeticFault(const char* what = "a division by zero, an invalid operation or an overflow")
      : std::runtime_error(what) {}
};

// How the univariate run words the errors that carry no text of their own.
std::string OverflowIn(const TallyOverflow& e) { return std::string("an overflow in ") + e.what(); }
constexpr StopTexts kStopTexts{"an unexpected error", &OverflowIn};

// Every operand in the run is finite (input values are checked as they are
// read, and the run stops at the first non-finite result), so a result that is
// not finite can only come from a division by zero, an invalid operation or an
// overflow.
inline double Checked(double result) {
  if (!std::isfinite(result)) [[unlikely]]
    throw ArithmeticFault{};
  return result;
}

// Unchecked passes. A pass may leave out its checks: its operands are finite
// and its divisors finite numbers, so a step whose result is not finite (an
// infinity or NaN) leaves every result it enters not finite too. An infinity
// stays one through sums, products and quotients, or turns into NaN (times 0,
// or plus the opposite infinity), and NaN stays NaN. A pass that checks only
// the results nothing else enters (its sums) finds every fault that checking
// each step finds, only later; where it must stop at the fault, it runs again
// with every step checked.
//
// Step<true> checks a step's result, Step<false> passes it on: one formula
// serves a checked pass and an unchecked one, with the same operations.
template <bool kChecked>
inline double Step(double result) {
  if constexpr (kChecked) return Checked(result);
  else return result;
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

// A field value with the key it is tallied under (its 15-digit form).
// Providers mark numbers read from a token of at most 15 significant digits,
// which are their own text form: those skip the rounding (adding +0.0 still
// folds -0 into 0).
struct Keyed {
  double value, key;
};

inline Keyed DistinctValue(const qeldata::Value& v) {
  if (v.IsNumber()) [[likely]] {
    const double x = v.number();
    if (!std::isfinite(x)) [[unlikely]]
      throw qeldata::Error(qeldata::kErrDataConversion, "Univariate Descriptives",
                           "the value " + qeldata::NumberText(x) + " is no data value");
    return {x, v.IsCanonicalNumber() ? x + 0.0 : TextFormValue(x)};
  }
  const double x = Checked(v.AsNumber());  // AsNumber throws for a text that is no number
  return {x, TextFormValue(x)};
}

using text::IsBlank;

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

// Reads every record into the tally; the value field is looked up once by
// the caller, the weight field (when `weighted`) on the first record, where
// reading the weight would fail. `record` counts the records met, for the stop
// reason.
void ReadValues(qeldata::Recordset& rs, const qeldata::Field& value_field, const std::string& weightField,
                bool weighted, UnivariateTally& tally, std::int64_t& record) {
  if (rs.IsEOF()) return;
  if (!weighted) {
    for (; !rs.IsEOF(); rs.MoveNext()) {
      ++record;
      const qeldata::Value& v = value_field.GetValue();
      if (v.IsNull()) {
        tally.AddMissing();
        continue;
      }
      const Keyed x = DistinctValue(v);
      tally.AddKeyed(x.value, x.key);
    }
    tally.Flush();
    return;
  }
  const qeldata::Field weight_field = rs.GetFields().Item(weightField);
  for (; !rs.IsEOF(); rs.MoveNext()) {
    ++record;
    const qeldata::Value& v = value_field.GetValue();
    const qeldata::Value& wv = weight_field.GetValue();
    if (v.IsNull() || wv.IsNull()) {
      tally.AddMissing();
      continue;
    }
    const Keyed x = DistinctValue(v);
    const double w = wv.AsNumber();
    if (!std::isfinite(w)) [[unlikely]]
      throw qeldata::Error(qeldata::kErrDataConversion, "Univariate Descriptives",
                           "the weight " + qeldata::NumberText(w) + " is no data value");
    tally.AddKeyed(x.value, x.key, w);
  }
  tally.Flush();
}

// A value's term of the sum of weighted squared deviations from the mean.
template <bool kChecked>
inline double SquaredDeviation(double value, double weight, double mean) {
  const double d = Step<kChecked>(value - mean);
  return Step<kChecked>(weight * Step<kChecked>(d * d));
}

// The variance and standard deviation from the sum of weighted squared
// deviations `ss`.
inline void Spread(double ss, double wgt_n, double& variance, double& stdev) {
  if (wgt_n - 1 > 0) variance = Checked(ss / (wgt_n - 1));
  stdev = Checked(std::pow(variance, 0.5));
}

// The shape pass: the sums of the sample skewness and excess kurtosis terms,
// value by value in ascending order.
struct ShapeSums {
  double s3 = 0, s4 = 0;
};
// One value's terms of the two sums, from its weight and the third and
// fourth powers of its standardised distance from the mean,
// z = (value - mean) / stdev; `d2` and `d3` are the divisors (W - 1)(W - 2)
// and (W - 1)(W - 2)(W - 3) of the total weight W.
template <bool kChecked = true>
inline ShapeSums ShapeTermsOf(double w, double cube, double fourth, double w_total, double d2, double d3) {
  const auto step = Step<kChecked>;
  return {step(w * step(step(step(cube) * w_total) / d2)),
          step(w * step(step(step(step(fourth) * w_total) * (w_total + 1)) / d3))};
}
template <bool kChecked = true>
inline double Standardised(double value, double mean, double stdev) {
  return Step<kChecked>(Step<kChecked>(value - mean) / stdev);
}
// The same from the value itself.
template <typename Entry>
inline ShapeSums ShapeTerms(const Entry& e, double mean, double stdev, double w_total, double d2, double d3) {
  const double z = Standardised(e.value, mean, stdev);
  return ShapeTermsOf(e.payload.weight, std::pow(z, 3), std::pow(z, 4), w_total, d2, d3);
}
template <typename Entry>
ShapeSums Shape(std::span<const Entry> entries, double mean, double stdev, double w_total) {
  const double d2 = Checked((w_total - 1) * (w_total - 2));
  const double d3 = Checked(d2 * (w_total - 3));
  ShapeSums sums;
  for (const Entry& e : entries) {
    const ShapeSums t = ShapeTerms(e, mean, stdev, w_total, d2, d3);
    sums.s3 = Checked(sums.s3 + t.s3);
    sums.s4 = Checked(sums.s4 + t.s4);
  }
  return sums;
}

// The shape pass of many distinct values, started on a second thread while
// the summary pass runs, and shared by the calling thread once the summary is
// done. It needs the standard deviation, which the summary pass computes on
// its way: the second thread first computes the same sum of squared
// deviations, in the same order, so its result is the same double.
//
// The values are taken in chunks. Each chunk's terms (one per value, each
// computed as Shape computes it) are worked out by whichever thread takes the
// chunk, and added to the sums by that thread in chunk order, one term after
// another: the sums are those of the one-thread pass bit for bit (the same
// operations in the same order). A fault in them (any result not finite)
// faults the run where the shape pass would, after the summary.
template <typename Entry>
class EarlyShape {
 public:
  static constexpr std::size_t kMinValues = std::size_t{1} << 20;  // fewer: not worth a thread

  EarlyShape(std::span<const Entry> entries, double mean, double wgt_n) : entries_(entries), mean_(mean), w_total_(wgt_n) {
    if (entries.size() < kMinValues || std::thread::hardware_concurrency() < 2) return;
    try {
      thread_ = std::thread([this] {
        Prepare();
        Help();
      });
    } catch (const std::system_error&) {
      // No thread to be had: the shape pass runs after the summary.
    }
  }
  ~EarlyShape() {
    if (thread_.joinable()) {
      abandoned_.store(true);  // the summary stopped: the sums are not needed
      thread_.join();
    }
  }
  EarlyShape(const EarlyShape&) = delete;
  EarlyShape& operator=(const EarlyShape&) = delete;

  bool started() const { return thread_.joinable(); }
  // Takes the chunks left, waits for the sums; throws ArithmeticFault where
  // Shape did. `stdev` is the summary pass's.
  ShapeSums Sums(double stdev) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      turn_.wait(lock, [this] { return prepared_; });
    }
    Help();
    thread_.join();
    if (!usable_ || stdev != stdev_) return Shape(entries_, mean_, stdev, w_total_);  // cannot be: the same sums
    if (faulted_) throw ArithmeticFault{};
    return sums_;
  }

 private:
  static constexpr std::size_t kChunk = std::size_t{1} << 16;

  // The standard deviation as the summary pass computes it, and the shape
  // pass's divisors.
  void Prepare() {
    double ss = 0, variance = 0;
    try {
      // Not checked step by step: a step that is not finite leaves the sum
      // not finite (see "Unchecked passes" above), which is checked here.
      for (const Entry& e : entries_) ss = ss + SquaredDeviation<false>(e.value, e.payload.weight, mean_);
      Checked(ss);
      Spread(ss, w_total_, variance, stdev_);
      usable_ = stdev_ != 0;  // else there is no shape pass
    } catch (const ArithmeticFault&) {
      // The summary pass stops on it.
    }
    if (usable_) {
      try {
        d2_ = Checked((w_total_ - 1) * (w_total_ - 2));
        d3_ = Checked(d2_ * (w_total_ - 3));
        chunks_ = (entries_.size() + kChunk - 1) / kChunk;
      } catch (const ArithmeticFault&) {
        faulted_ = true;
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      prepared_ = true;
    }
    turn_.notify_all();
  }

  void Help() {
    std::vector<ShapeSums> terms;
    std::vector<double> z, cubes, fourths;
    for (;;) {
      if (abandoned_.load()) return;
      const std::size_t k = next_.fetch_add(1);
      if (k >= chunks_) return;
      const std::span<const Entry> part = entries_.subspan(k * kChunk, std::min(kChunk, entries_.size() - k * kChunk));
      terms.resize(part.size());
      z.resize(part.size());
      cubes.resize(part.size());
      fourths.resize(part.size());
      // The powers of a whole chunk at once, most of them without a call of
      // pow, and the terms from them as ShapeTerms computes them but
      // unchecked: a step that is not finite leaves its term not finite (see
      // "Unchecked passes" above), and the sums below check every term.
      for (std::size_t i = 0; i < part.size(); ++i) z[i] = Standardised<false>(part[i].value, mean_, stdev_);
      detail::CubesAndFourths(z, cubes.data(), fourths.data());
      for (std::size_t i = 0; i < part.size(); ++i)
        terms[i] = ShapeTermsOf<false>(part[i].payload.weight, cubes[i], fourths[i], w_total_, d2_, d3_);
      std::unique_lock<std::mutex> lock(mutex_);
      turn_.wait(lock, [&] { return added_ == k; });
      for (std::size_t i = 0; i < part.size() && !faulted_; ++i) {
        sums_.s3 = sums_.s3 + terms[i].s3;
        sums_.s4 = sums_.s4 + terms[i].s4;
        faulted_ = !std::isfinite(sums_.s3) || !std::isfinite(sums_.s4);
      }
      ++added_;
      turn_.notify_all();
    }
  }

  std::span<const Entry> entries_;
  const double mean_, w_total_;
  // Set by Prepare before `prepared_`, read after it.
  double stdev_ = 0, d2_ = 0, d3_ = 0;
  bool usable_ = false;
  std::size_t chunks_ = 0;
  std::atomic<std::size_t> next_{0};  // the next chunk to take
  std::atomic<bool> abandoned_{false};
  std::mutex mutex_;
  std::condition_variable turn_;
  bool prepared_ = false;
  std::size_t added_ = 0;  // chunks added to the sums
  ShapeSums sums_;
  bool faulted_ = false;
  std::thread thread_;
};

// What the summary pass leaves: the figures it sets in the record as it
// goes, and its sums.
struct SummaryFigures {
  double uniques, q1, q3, median;
  double ss = 0, trim_w = 0, trim_sum = 0, mode = 0;

  void WriteTo(UnivariateRecord& rec) const {
    rec.Uniques = uniques;
    rec.Q1 = q1;
    rec.Q3 = q3;
    rec.Median = median;
  }
};

// The summary pass over the sorted distinct values, from the record's mean
// and total weight. kChecked: every step is checked, and a fault stops the
// pass where it happens, with `out` as far as the pass got. Otherwise only the
// sums (and the shares, which enter no sum) are checked, at the end: returns
// false when there was a fault, whatever `out` then holds (see "Unchecked
// passes" above).
template <bool kChecked, typename Entry>
bool SummaryPass(std::span<const Entry> entries, const UnivariateRecord& rec, SummaryFigures& out) {
  const auto check = Step<kChecked>;
  const std::int64_t k = static_cast<std::int64_t>(entries.size());
  auto value = [&](std::int64_t j) { return entries[static_cast<std::size_t>(j)].value; };
  auto weight = [&](std::int64_t j) { return entries[static_cast<std::size_t>(j)].payload.weight; };
  const double wgt_n = rec.WgtN, mean = rec.Mean;
  const bool have_shares = wgt_n > 0;
  // Kept here rather than in `out`, which the compiler cannot tell apart
  // from the values it reads, and handed over at the end.
  double uniques = out.uniques, q1_value = out.q1, q3_value = out.q3, median = out.median;
  double cum = 0, trim_w = 0, trim_sum = 0, ss = 0, max_w = 0, mode = 0;
  double shares = 0;  // unchecked: the sum of p - p, 0 while every share is finite
  bool median_set = false;
  Quartile q1{0.25, &q1_value}, q3{0.75, &q3_value};
  // Whether WgtN, rounded to the nearest whole number (halves to even), is even.
  const double rounded_n = std::nearbyint(wgt_n);
  const bool even_n = std::fmod(rounded_n, 2.0) == 0;
  const auto hand_over = [&] {
    out.uniques = uniques;
    out.q1 = q1_value;
    out.q3 = q3_value;
    out.median = median;
    out.ss = ss;
    out.trim_w = trim_w;
    out.trim_sum = trim_sum;
    out.mode = mode;
  };

  try {
    for (std::int64_t j = 1; j <= k; ++j) {
      const double a = value(j - 1);
      const double w = weight(j - 1);
      if (w == 1) uniques += 1;
      ss = check(ss + SquaredDeviation<kChecked>(a, w, mean));
      cum = check(cum + w);
      if (have_shares) {
        const double p = check(cum / wgt_n);
        if constexpr (!kChecked) shares = shares + (p - p);
        // Whole values in the outer 2.5% of the weight on either side leave the
        // trimmed mean; the largest value (share 1) always does.
        if (p <= 0.025 || p >= 0.975) {
          trim_w = check(trim_w + w);
          trim_sum = check(trim_sum + check(w * a));
        }
        q1.Visit(j, p, a);
        q3.Visit(j, p, a);
        if (!median_set && p >= 0.5) {
          median_set = true;
          if (p == 0.5 && even_n) {
            // Half the weight lies at or below a(j): the median sits between it
            // and the next larger value.
            if (j == k) throw ArithmeticFault{};
            median = Checked(Checked(a + value(j)) / 2);
          } else {
            median = a;
          }
        }
      }
      if (max_w == 0) mode = a;
      if (w > max_w) {
        mode = a;
        max_w = w;
      }
    }
  } catch (const ArithmeticFault&) {
    hand_over();
    throw;
  }
  hand_over();
  if constexpr (kChecked) return true;
  else return std::isfinite(ss) && std::isfinite(cum) && std::isfinite(trim_w) && std::isfinite(trim_sum) && shares == 0;
}

// The summary and shape passes over the sorted distinct values (not empty),
// after the reading pass's totals are in `rec`.
template <typename Entry>
void Summarise(UnivariateRecord& rec, std::span<const Entry> entries, const PhaseFn& phase) {
  const std::int64_t k = static_cast<std::int64_t>(entries.size());
  auto value = [&](std::int64_t j) { return entries[static_cast<std::size_t>(j)].value; };
  if (phase) phase("Building Summary Statistics", 58);
  EarlyShape<Entry> early(entries, rec.Mean, rec.WgtN);

  const double wgt_n = rec.WgtN;
  // Most passes meet no fault: they run without checking each step, and a
  // fault found at the end runs the pass again with every step checked, so
  // that it stops where it happens and leaves the figures as it left them.
  SummaryFigures figures{rec.Uniques, rec.Q1, rec.Q3, rec.Median};
  bool clean = false;
  try {
    clean = SummaryPass<false>(entries, rec, figures);
  } catch (const ArithmeticFault&) {
  }
  if (!clean) {
    figures = SummaryFigures{rec.Uniques, rec.Q1, rec.Q3, rec.Median};
    try {
      SummaryPass<true>(entries, rec, figures);
    } catch (const ArithmeticFault&) {
      figures.WriteTo(rec);
      throw;
    }
  }
  figures.WriteTo(rec);
  const double ss = figures.ss, trim_w = figures.trim_w, trim_sum = figures.trim_sum, mode = figures.mode;

  rec.Mode = TextFormValue(mode);
  Spread(ss, wgt_n, rec.Variance, rec.Stdev);
  rec.Min = value(0);
  rec.Max = value(k - 1);
  rec.Range = Checked(rec.Max - rec.Min);
  rec.Cardinality = static_cast<double>(k);
  rec.IQR = Checked(rec.Q3 - rec.Q1);
  if (wgt_n - trim_w > 0) rec.TrimmedMean = Checked(Checked(rec.Sum - trim_sum) / (wgt_n - trim_w));
  if (rec.Mean != 0) rec.CV = Checked(Checked(rec.Stdev * 100) / rec.Mean);

  // The sample corrections of skewness and excess kurtosis. The kurtosis
  // constant divides by zero at a total weight of exactly 2 or 3.
  const double w_total = wgt_n;
  const double d2 = Checked((w_total - 1) * (w_total - 2));
  Checked(d2 * (w_total - 3));  // the kurtosis divisor (see Shape): an overflow stops the run here
  const double w1 = w_total - 1;
  const double c_denominator = Checked((w_total - 2) * (w_total - 3));
  if (c_denominator == 0)
    throw ArithmeticFault{"a division by zero: the kurtosis correction is undefined for a total weight of 2 or 3"};
  const double c = Checked(Checked(3 * Checked(w1 * w1)) / c_denominator);

  if (phase) phase("Building Skewness and Kurtosis", 99);
  if (rec.Stdev == 0) {
    rec.Skewness = -99999;
    rec.Kurtosis = -9999;
    return;
  }
  const ShapeSums sums = early.started() ? early.Sums(rec.Stdev) : Shape(entries, rec.Mean, rec.Stdev, w_total);
  rec.Skewness = sums.s3;
  rec.Kurtosis = Checked(sums.s4 - c);
}

void CopyTotals(const TallyTotals& t, UnivariateRecord& rec) {
  rec.N = t.N;
  rec.WgtN = t.WgtN;
  rec.Missing = t.Missing;
  rec.Sum = t.SumWgt;  // the weighted sum: the plain one when every weight is 1
}

}  // namespace

UnivariateRecord& UnivariateRunRecord() {
  thread_local UnivariateRecord record;
  return record;
}

namespace {

template <typename Payload>
bool Finish(Tally<Payload>& tally, UnivariateRecord& rec, std::string* reason, const PhaseFn& phase,
            const std::function<void(std::span<const typename Tally<Payload>::Entry>)>& with_sorted = {}) {
  std::string why;
  const bool done = GuardRun(why, kStopTexts, [&] {
    rec = UnivariateRecord{};
    CopyTotals(tally.Totals(), rec);
    if (phase) phase("Sorting Data", 73);
    if (rec.WgtN > 0) rec.Mean = Checked(rec.Sum / rec.WgtN);
    if (tally.Cardinality() == 0) throw ArithmeticFault{"no record has a usable value"};
    const typename Tally<Payload>::SortedEntries sorted = tally.TakeSortedInPlace();
    if (with_sorted) with_sorted(sorted.entries());
    Summarise<typename Tally<Payload>::Entry>(rec, sorted.entries(), phase);
    return true;
  });
  if (reason) *reason = std::move(why);
  return done;
}

}  // namespace

bool Univariate_Finish(UnivariateTally& tally, UnivariateRecord& rec, std::string* reason, const PhaseFn& phase) {
  return Finish(tally, rec, reason, phase);
}

bool Univariate_Finish(Tally<CountWeight>& tally, UnivariateRecord& rec, std::string* reason, const PhaseFn& phase) {
  return Finish(tally, rec, reason, phase);
}

bool detail::UnivariateFinishSorted(Tally<CountWeight>& tally, UnivariateRecord& rec, std::string* reason,
                                    const SortedValuesFn& with_sorted) {
  return Finish(tally, rec, reason, {}, with_sorted);
}

namespace {

// The frame of a run: `read` checks the field, shows the progress window and
// fills the tally (counting the records it meets in `record`); then the
// finish, and the record and the reason handed over at every exit, so the
// thread's record holds exactly what was computed before a stop.
template <typename TallyType, typename Read>
bool RunFrame(const std::string& fieldName, Read read) {
  UnivariateRecord rec;
  RunProgress progress;
  TallyType tally;
  std::int64_t record = 0;  // records met by the reading pass
  std::string reason;
  bool result = GuardRun(reason, kStopTexts, [&] {
    read(progress, tally, record);
    return true;
  });
  if (result) {
    record = 0;  // past the reading pass
    const bool empty = tally.Cardinality() == 0;
    result = Univariate_Finish(tally, rec, &reason,
                               [&](const char* status, int bar) { progress.Phase(status, bar); });
    if (empty) reason = "no record has a usable value of '" + fieldName + "'";
  } else {
    CopyTotals(tally.Totals(), rec);
  }
  if (!result && record > 0) reason += " (record " + std::to_string(record) + ")";
  UnivariateRunRecord() = rec;
  LastStopReason() = std::move(reason);
  progress.Unload();
  return result;
}


}  // namespace

bool Univariate_Run(qeldata::Recordset& rs, const std::string& fieldName, const std::string& weightField,
                    bool showStatus) {
  return RunFrame<UnivariateTally>(fieldName, [&](RunProgress& progress, UnivariateTally& tally, std::int64_t& record) {
    // A recordset left at its end by an earlier read (a disconnected
    // DataSource run twice) is read again from its first record; only an empty
    // one is left alone.
    if (!(rs.IsBOF() && rs.IsEOF())) rs.MoveFirst();
    const qeldata::Field value_field = rs.GetFields().Item(fieldName);
    detail::RequireNumericField(value_field, "Univariate Descriptives");
    if (showStatus) progress.Open("Processing Univariate: " + fieldName, "Reading Data");
    ReadValues(rs, value_field, weightField, !IsBlank(weightField), tally, record);
  });
}

bool Univariate_RunInDatabase(qeldata::AggregateReader& reader, const std::string& fieldName,
                              const std::string& weightField, bool showStatus) {
  return RunFrame<Tally<CountWeight>>(fieldName, [&](RunProgress& progress, Tally<CountWeight>& tally, std::int64_t&) {
    const qeldata::FieldInfo& field = reader.Field(fieldName);
    detail::RequireNumericType(field.type, field.name, "Univariate Descriptives");
    if (showStatus) progress.Open("Processing Univariate: " + fieldName, "Reading Data");
    qeldata::AggregateRequest request;
    request.value_field = fieldName;
    if (!IsBlank(weightField)) request.weight_field = weightField;
    reader.Run(request);
    detail::TallyGroups(
        reader, tally, [](const qeldata::Value& v) { return DistinctValue(v).value; }, "Univariate Descriptives");
  });
}

}  // namespace qel
