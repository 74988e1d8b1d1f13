#include "qelStatsLib/modBivariate.h"

#include "bivariate_rounding.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "modQuickSort.h"
#include "qelStatsLib/presenter.h"
#include "text.h"

namespace qel {

namespace {

using qeldata::Canonical15;
using qeldata::NumberText;
using qeldata::Recordset;
using qeldata::Value;

// The platform's run-time error 11, raised where a division by zero would
// otherwise slip through as NaN or infinity.
constexpr std::int32_t kErrDivisionByZero = static_cast<std::int32_t>(0x800A000B);
// The platform's run-time error 6, an arithmetic result beyond the range of a double.
constexpr std::int32_t kErrOverflow = static_cast<std::int32_t>(0x800A0006);
constexpr const char* kDataCheckSource = "Bivariate Data Check";
constexpr const char* kRunSource = "Bivariate_Run";

thread_local BivariateRecord t_record;

// ---- The keyed tables of the reading loop ----

// The finaliser of splitmix64: neighbouring numbers have neighbouring bit
// patterns, which a plain mask would pile into neighbouring slots.
inline std::size_t Mix(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  x ^= x >> 31;
  return static_cast<std::size_t>(x);
}

// Open-addressing hash index from a 64-bit key (the bits of a canonical
// number, or a packed date) to the position of its text key.
class KeyIndex {
 public:
  static constexpr std::uint32_t kAbsent = std::numeric_limits<std::uint32_t>::max();

  KeyIndex() { Rehash(256); }

  std::uint32_t Find(std::uint64_t key) const {
    for (std::size_t i = Mix(key) & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.position == kAbsent) return kAbsent;
      if (slot.key == key) return slot.position;
    }
  }

  // REQUIRES: `key` is absent.
  void Insert(std::uint64_t key, std::uint32_t position) {
    if ((size_ + 1) * 4 > slots_.size() * 3) Rehash(slots_.size() * 2);
    Place(key, position);
    ++size_;
  }

 private:
  struct Slot {
    std::uint64_t key = 0;
    std::uint32_t position = kAbsent;
  };

  void Place(std::uint64_t key, std::uint32_t position) {
    std::size_t i = Mix(key) & mask_;
    while (slots_[i].position != kAbsent) i = (i + 1) & mask_;
    slots_[i] = Slot{key, position};
  }

  void Rehash(std::size_t capacity) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(capacity, Slot{});
    mask_ = capacity - 1;
    for (const Slot& slot : old)
      if (slot.position != kAbsent) Place(slot.key, slot.position);
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

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
    else key = Canonical15(x);
  } else {
    // Booleans, dates and numeric texts in a field the run treats as numeric.
    key = Canonical15(p.AsNumber());
  }
  if (!std::isfinite(key)) [[unlikely]]
    NotFinite(p);
  return key;
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

// The value count and target-sum tables of a numeric predictor in one
// open-addressing table keyed by the bits of the canonical number: a record
// touches one slot, so the tallies of many distinct values stay cheap.
class NumberTally {
 public:
  NumberTally() { Rehash(1024); }

  // Adds to the tallies of `key`; returns true when the key is new.
  bool Add(std::uint64_t key, double weight, double weighted_target) {
    // Input sorted or grouped by the predictor repeats its last value often.
    if (last_ && last_->key == key) {
      last_->count += weight;
      last_->target_sum += weighted_target;
      return false;
    }
    std::size_t i = Mix(key) & mask_;
    bool inserted = false;
    while (slots_[i].used && slots_[i].key != key) i = (i + 1) & mask_;
    if (!slots_[i].used) {
      if ((size_ + 1) * 4 > slots_.size() * 3) {
        Rehash(slots_.size() * 2);
        i = Mix(key) & mask_;
        while (slots_[i].used) i = (i + 1) & mask_;
      }
      slots_[i] = Slot{key, 0, 0, true};
      ++size_;
      inserted = true;
    }
    Slot& slot = slots_[i];
    slot.count += weight;
    slot.target_sum += weighted_target;
    last_ = &slot;
    return inserted;
  }

  // The slot where the look-up of `key` starts, for prefetching.
  const void* Home(std::uint64_t key) const { return &slots_[Mix(key) & mask_]; }

  // The count and target sum of a key that was added.
  std::pair<double, double> Of(std::uint64_t key) const {
    std::size_t i = Mix(key) & mask_;
    while (slots_[i].key != key || !slots_[i].used) i = (i + 1) & mask_;
    return {slots_[i].count, slots_[i].target_sum};
  }

 private:
  struct alignas(32) Slot {
    std::uint64_t key = 0;
    double count = 0;
    double target_sum = 0;
    bool used = false;
  };

  void Rehash(std::size_t capacity) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(capacity, Slot{});
    mask_ = capacity - 1;
    for (const Slot& slot : old) {
      if (!slot.used) continue;
      std::size_t i = Mix(slot.key) & mask_;
      while (slots_[i].used) i = (i + 1) & mask_;
      slots_[i] = slot;
    }
    last_ = nullptr;
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
  Slot* last_ = nullptr;
};

// The value count table, the value target-sum table and the distinct-value
// list, in order of first appearance. With text keys (a categorical
// predictor) every value is keyed by its text form; numbers and dates reach
// their text through a cache, so a text is formatted once per distinct value.
class Tally {
 public:
  explicit Tally(bool text_keys) : text_keys_(text_keys) {}

  bool text_keys() const { return text_keys_; }
  std::size_t size() const { return text_keys_ ? texts_.size() : numbers_.size(); }
  const std::vector<double>& numbers() const { return numbers_; }
  const std::vector<std::string>& texts() const { return texts_; }

  // Adds a complete record's weight and weighted target to the value `p`.
  // Numbers are keyed at once (a value that cannot be keyed fails here) but
  // reach their tally a few records later, the slot prefetched in between:
  // with many distinct values nearly every look-up would otherwise miss the
  // cache. The tallies take their additions in record order all the same, so
  // the lag changes no sum; Flush ends it before the tallies are read.
  void Add(const Value& p, double weight, double weighted_target) {
    if (!text_keys_) {
      const std::uint64_t key = std::bit_cast<std::uint64_t>(NumberKey(p));
      __builtin_prefetch(number_tally_.Home(key));
      if (read_ - added_ == kLag) AddNumber(pending_[added_++ % kLag]);
      pending_[read_++ % kLag] = Pending{key, weight, weighted_target};
      return;
    }
    const std::uint32_t position = TextKeyPosition(p);
    count_[position] += weight;
    target_sum_[position] += weighted_target;
  }

  void Flush() {
    while (added_ < read_) AddNumber(pending_[added_++ % kLag]);
  }

  // The tallies of a value of the distinct-value list.
  std::pair<double, double> Of(double number) const { return number_tally_.Of(std::bit_cast<std::uint64_t>(number)); }
  std::pair<double, double> Of(const std::string& text) const {
    const std::uint32_t position = text_index_.find(text)->second;
    return {count_[position], target_sum_[position]};
  }

 private:
  static constexpr std::size_t kLag = 16;
  struct Pending {
    std::uint64_t key;
    double weight, weighted_target;
  };

  void AddNumber(const Pending& n) {
    if (number_tally_.Add(n.key, n.weight, n.weighted_target)) numbers_.push_back(std::bit_cast<double>(n.key));
  }

  std::uint32_t TextKeyPosition(const Value& p) {
    switch (p.kind()) {
      case Value::Kind::kText:
        return CachedTextPosition(p.text());
      case Value::Kind::kNumber: {
        const double key = NumberKey(p);
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(key);
        std::uint32_t position = number_cache_.Find(bits);
        if (position == KeyIndex::kAbsent) {
          position = TextPosition(NumberText(key));
          number_cache_.Insert(bits, position);
        }
        return position;
      }
      case Value::Kind::kDate: {
        const auto packed = DateKey(p.date());
        if (!packed) return TextPosition(p.date().ToText());
        std::uint32_t position = date_cache_.Find(*packed);
        if (position == KeyIndex::kAbsent) {
          position = TextPosition(p.date().ToText());
          date_cache_.Insert(*packed, position);
        }
        return position;
      }
      default:
        return TextPosition(p.AsText());
    }
  }

  // TextPosition through a small direct-mapped cache of recent texts: a
  // predictor of a few dozen categories finds its text there without hashing
  // it for the map. The map stays the one record of positions.
  std::uint32_t CachedTextPosition(const std::string& key) {
    std::uint32_t h = 2166136261u;  // FNV-1a
    for (const char c : key) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    RecentText& slot = recent_[h % kRecent];
    if (slot.position != KeyIndex::kAbsent && slot.text == key) return slot.position;
    const std::uint32_t position = TextPosition(key);
    slot.text = key;
    slot.position = position;
    return position;
  }

  std::uint32_t TextPosition(std::string_view key) {
    auto it = text_index_.find(key);
    if (it != text_index_.end()) return it->second;
    if (texts_.size() >= KeyIndex::kAbsent)
      throw qeldata::Error(qeldata::kErrUnexpected, kRunSource, "The predictor has too many distinct values.");
    const auto position = static_cast<std::uint32_t>(texts_.size());
    text_index_.emplace(std::string(key), position);
    texts_.emplace_back(key);
    count_.push_back(0);
    target_sum_.push_back(0);
    return position;
  }

  bool text_keys_;
  // Numeric keys.
  NumberTally number_tally_;
  std::vector<double> numbers_;
  Pending pending_[kLag];
  std::size_t read_ = 0, added_ = 0;  // numbers keyed, and added to their tallies
  // Text keys, by position in order of first appearance.
  std::vector<std::string> texts_;
  std::vector<double> count_, target_sum_;
  std::unordered_map<std::string, std::uint32_t, TextHash, std::equal_to<>> text_index_;
  static constexpr std::size_t kRecent = 256;
  struct RecentText {
    std::string text;
    std::uint32_t position = KeyIndex::kAbsent;
  };
  std::vector<RecentText> recent_ = std::vector<RecentText>(kRecent);
  KeyIndex number_cache_;  // canonical number bits -> text position
  KeyIndex date_cache_;    // packed date -> text position
};

// Totals of the reading loop. They live outside the run's try block so that a
// failure part-way still leaves N and Missing as far as they had come.
struct Totals {
  double n = 0;           // weighted N of the complete records
  double target_sum = 0;  // sum of weight x target over them
  double missing = 0;
};

// `e` with the field and the record (counted from 1) where it happened.
qeldata::Error InRecord(const qeldata::Error& e, const qeldata::Field& field, const Recordset& input) {
  return qeldata::Error(
      e.number(), e.source(),
      e.description() + " (field '" + field.Name() + "', record " + std::to_string(input.AbsolutePosition() + 1) + ")");
}

// A target or weight value that is not stored as a number: read as
// one (a numeric text, a date, a boolean), or a type mismatch that names the
// field and the record, so that the user can find the cell.
// NaN and the infinities are no usable numbers either: a mean or an index
// computed from them would be a figure that means nothing.
[[gnu::noinline]] double ConvertNumber(const Value& v, const qeldata::Field& field, const Recordset& input) {
  double x;
  try {
    x = v.AsNumber();
  } catch (const qeldata::Error& e) {
    throw InRecord(e, field, input);
  }
  if (!std::isfinite(x))
    throw InRecord(qeldata::Error(qeldata::kErrDataConversion, kRunSource,
                                  "Type mismatch: the value '" + NumberText(x) + "' is not a finite number"),
                   field, input);
  return x;
}

inline double AsNumber(const Value& v, const qeldata::Field& field, const Recordset& input) {
  return v.IsNumber() && std::isfinite(v.number()) ? v.number() : ConvertNumber(v, field, input);
}

// Tallies a complete record; a predictor value that cannot be keyed fails
// naming its field and record too.
inline void AddToTally(Tally& tally, const Value& p, double weight, double weighted_target,
                       const qeldata::Field& predictor, const Recordset& input) {
  try {
    tally.Add(p, weight, weighted_target);
  } catch (const qeldata::Error& e) {
    throw InRecord(e, predictor, input);
  }
}

void ReadUnweighted(Recordset& input, const qeldata::Field& predictor, const qeldata::Field& target, Tally& tally,
                    Totals& totals) {
  while (!input.IsEOF()) {
    const Value& p = predictor.GetValue();
    const Value& t = target.GetValue();
    if (p.IsNull() || t.IsNull()) {
      totals.missing += 1;
    } else {
      const double tv = AsNumber(t, target, input);
      totals.n += 1;
      totals.target_sum += tv;
      AddToTally(tally, p, 1.0, tv, predictor, input);
    }
    input.MoveNext();
  }
}

void ReadWeighted(Recordset& input, const qeldata::Field& predictor, const qeldata::Field& target,
                  const qeldata::Field& weight, Tally& tally, Totals& totals) {
  while (!input.IsEOF()) {
    const Value& p = predictor.GetValue();
    const Value& t = target.GetValue();
    const Value& w = weight.GetValue();
    if (p.IsNull() || t.IsNull() || w.IsNull()) {
      // A missing weight counts the record once; a present one counts its weight.
      totals.missing += w.IsNull() ? 1.0 : AsNumber(w, weight, input);
    } else {
      const double wv = AsNumber(w, weight, input);
      const double tw = AsNumber(t, target, input) * wv;
      totals.n += wv;
      totals.target_sum += tw;
      AddToTally(tally, p, wv, tw, predictor, input);
    }
    input.MoveNext();
  }
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
  r.mean = Canonical15(detail::RoundTo5Decimals(row.target_sum / row.n));
  if (target_mean != 0) r.index = detail::RoundHalfEven(*r.mean * 100 / target_mean);
  return r;
}

// Cuts the sorted values into bins of about equal weighted share. A bin is
// closed just before the first value at which the share already placed
// strictly exceeds bin / BinCount; a value is never split, and at most one
// bin closes per value.
template <typename CountOf>
std::vector<BinRow> AssignBins(const std::vector<double>& values, CountOf count_of, double weighted_n,
                               std::int16_t bin_count) {
  const double fraction = (100.0 / bin_count) / 100.0;
  std::vector<BinRow> rows(1);
  double bin = 1, cumulative = 0, share = 0, bin_target_sum = 0;
  const std::size_t k = values.size();
  for (std::size_t i = 0; i < k; ++i) {
    const double v = values[i];
    const double cut = fraction * bin;
    if (share > cut && i > 0) {
      rows.back().max = Rounded5Text(values[i - 1]);
      bin += 1;
      rows.emplace_back();
      rows.back().min = Rounded5Text(v);
      bin_target_sum = 0;
    }
    BinRow& row = rows.back();
    if (i == 0) row.min = Rounded5Text(v);
    if (i == k - 1) row.max = Rounded5Text(v);
    row.bin = bin;
    const auto [count, target_sum] = count_of(v);
    row.n = Canonical15(row.n + count);
    cumulative += count;
    share = cumulative / weighted_n;
    bin_target_sum += target_sum;
    row.target_sum = bin_target_sum;
  }
  return rows;
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
  std::vector<double> a(means.begin(), means.end()), scratch(means.size());
  return MergeCount(a, scratch, 0, a.size());
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

std::shared_ptr<Recordset> Bivariate_Run(Recordset& input, const std::string& PredictorField,
                                         const std::string& TargetField, bool showStatus,
                                         const std::string& WeightField, std::int16_t BinCount) {
  BivariateRecord& rec = BivariateRunRecord();
  rec.TargetMean = rec.N = rec.Missing = rec.DI = rec.PSI = rec.Cardinality = 0;
  // A cancel or failure of an earlier run must not stop this one at its first
  // checkpoint; the flag is this run's from here on.
  CancelFlag() = false;

  std::unique_ptr<ProgressWindow> window;
  Totals totals;
  auto status = [&](const char* text) {
    if (!window) return;
    window->SetStatus(text);
    window->Refresh();
  };
  auto bar = [&](int value) {
    if (!window) return;
    window->SetBarValue(value);
    window->Refresh();
  };

  std::string failure;
  try {
    if (BinCount <= 0)
      throw qeldata::Error(qeldata::kErrLibraryInput, kDataCheckSource,
                           "Bin Count is invalid. Integer values >0 are required.");
    if (showStatus) {
      window = CurrentPresenter().LoadProgressWindow();
      window->SetCaption("Processing Bivariate: " + PredictorField);
      window->SetStatus("Process Running");
      window->SetBarValue(0);
      window->ShowTopMost();
      window->Refresh();
    }
    status("System Initialization");
    if (Checkpoint()) return nullptr;  // the window unloads on the way out

    input.MoveFirst();
    const auto fields = input.GetFields();
    const qeldata::Field predictor = fields.Item(PredictorField);
    switch (predictor.Type()) {
      case qeldata::adChar:
      case qeldata::adWChar:
      case qeldata::adVarChar:
      case qeldata::adVarWChar:
      case qeldata::adDate:
      case qeldata::adDBDate:
      case qeldata::adDBTimeStamp:
        rec.Categorical = true;
        break;
      case qeldata::adLongVarChar:
      case qeldata::adLongVarWChar:
        throw qeldata::Error(qeldata::kErrLibraryInput, kDataCheckSource, "Invalid Data Type on input data.");
      default:
        break;
    }

    status("Extracting Summary Totals");
    bar(50);
    if (Checkpoint()) return nullptr;

    const qeldata::Field target = fields.Item(TargetField);
    Tally tally(rec.Categorical);
    if (IsBlank(WeightField)) {
      ReadUnweighted(input, predictor, target, tally, totals);
    } else {
      const qeldata::Field weight = fields.Item(WeightField);
      ReadWeighted(input, predictor, target, weight, tally, totals);
    }
    tally.Flush();
    rec.N = totals.n;
    rec.Missing = totals.missing;
    if (!std::isfinite(totals.target_sum) || !std::isfinite(totals.n))
      throw qeldata::Error(kErrOverflow, kRunSource, "Overflow: the sum of the target or of the weights exceeds the range of a double.");
    if (totals.n == 0)
      throw qeldata::Error(kErrDivisionByZero, kRunSource,
                           "Division by zero: the weighted N of the records with a predictor, a target" +
                               std::string(IsBlank(WeightField) ? "" : " and a weight") + " is 0.");
    rec.TargetMean = totals.target_sum / totals.n;
    const std::size_t k = tally.size();
    rec.Cardinality = static_cast<double>(k);
    if (k <= static_cast<std::size_t>(BinCount)) rec.Categorical = true;

    std::vector<double> numbers;
    std::vector<std::string> texts;
    if (tally.text_keys()) {
      texts = tally.texts();
      QuickSort(texts, 0, static_cast<std::int64_t>(k) - 1);
    } else {
      numbers = tally.numbers();
      QuickSort(numbers, 0, static_cast<std::int64_t>(k) - 1);
    }
    if (Checkpoint()) return nullptr;

    status("Building Cummulative Counts");
    bar(70);
    auto table = NewBivariateTable(PredictorField, TargetField);
    status("Assigning Bin/Segments");
    bar(83);
    if (Checkpoint()) return nullptr;

    std::vector<BinRow> rows;
    if (!rec.Categorical) {
      rows = AssignBins(
          numbers, [&](double v) { return tally.Of(v); }, totals.n, BinCount);
    } else {
      // One bin per distinct value, its range the value as listed.
      rows.resize(k);
      for (std::size_t i = 0; i < k; ++i) {
        BinRow& row = rows[i];
        row.bin = static_cast<double>(i + 1);
        const auto [count, target_sum] = tally.text_keys() ? tally.Of(texts[i]) : tally.Of(numbers[i]);
        row.min = row.max = tally.text_keys() ? texts[i] : NumberText(numbers[i]);
        row.n = Canonical15(count);
        row.target_sum = target_sum;
      }
    }

    std::vector<RowResult> results;
    results.reserve(rows.size());
    const auto out = table->GetFields();
    qeldata::Field bin_field = out.Item("bin"), n_field = out.Item(1), min_field = out.Item(2), max_field = out.Item(3),
                   mean_field = out.Item(4), index_field = out.Item(5);
    for (const BinRow& row : rows) {
      results.push_back(Finish(row, rec.TargetMean));
      const RowResult& r = results.back();
      table->AddNew();
      bin_field.SetValue(NumberText(row.bin));
      n_field.SetValue(NumberText(row.n));
      min_field.SetValue(row.min);
      max_field.SetValue(row.max);
      if (r.mean) mean_field.SetValue(NumberText(*r.mean));
      if (r.index) index_field.SetValue(NumberText(*r.index));
      table->Update();
    }

    status("Accessing Results");
    bar(99);
    if (Checkpoint()) return nullptr;
    auto clone = table->Clone(qeldata::adLockUnspecified);

    // PSI: the weighted spread of the bin means around the overall mean. DI:
    // the share of bin pairs whose means fall as the predictor rises. A bin
    // that weighs nothing has no mean and takes part in neither.
    double squares = 0;
    std::vector<double> means;
    means.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (!results[i].mean) continue;
      const double m = *results[i].mean;
      squares += (rec.TargetMean - m) * (rec.TargetMean - m) * rows[i].n;
      means.push_back(m);
    }
    rec.PSI = std::sqrt(squares / totals.n);
    const auto r = static_cast<std::int64_t>(means.size());
    const double pairs = static_cast<double>((r - 1) * r) / 2;
    if (pairs > 0) rec.DI = static_cast<double>(detail::CountFallingPairs(means)) / pairs * 100;
    return clone;
  } catch (const qeldata::Error& e) {
    failure = e.description();
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "Unexpected error";
  }
  rec.N = totals.n;
  rec.Missing = totals.missing;
  CancelFlag() = true;
  try {
    CurrentPresenter().ShowMessage("Com_Bivariate: Bivariate_Run " + failure);
  } catch (...) {
    // A host whose message box fails cannot be told more; the flag and the
    // missing table still report the failure.
  }
  return nullptr;
}

}  // namespace qel
