#include "qelStatsLib/tally.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "recent_texts.h"
#include "round15.h"

namespace qel {

double Form15(double x) { return detail::Round15(x) + 0.0; }

namespace {

// A NaN pattern: never the bits of a finite key.
constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
constexpr std::size_t kInitialSlots = 1024;
// Tables up to this size are looked up without the look-ahead of Add.
constexpr std::size_t kDirectBytes = std::size_t{32} << 10;

// The finaliser of MurmurHash3: keys that differ only in their low mantissa
// bits (or only in their exponent) still spread over the table.
inline std::uint64_t Bits(double x) { return std::bit_cast<std::uint64_t>(x); }

inline std::size_t Mix(std::uint64_t k) {
  k ^= k >> 33;
  k *= 0xff51afd7ed558ccdULL;
  k ^= k >> 33;
  return static_cast<std::size_t>(k);
}

inline double Finite(double x, TallyOverflow::Total total, const char* what) {
  if (!std::isfinite(x)) [[unlikely]]
    throw TallyOverflow(total, what);
  return x;
}

// The totals of one complete record with the summed quantity q.
inline void AddToTotals(TallyTotals& t, double weight, double q) {
  t.N += 1;
  t.WgtN = Finite(t.WgtN + weight, TallyOverflow::Total::kWgtN, "the total weight");
  t.Sum = Finite(t.Sum + q, TallyOverflow::Total::kSum, "the sum of the values");
  t.SumWgt = Finite(t.SumWgt + Finite(weight * q, TallyOverflow::Total::kSumWgt, "the weighted sum of the values"),
                    TallyOverflow::Total::kSumWgt, "the weighted sum of the values");
}

// A CountWeight keeps its weight total in the 15-digit form after every addition.
inline double AddWeight15(double total, double w) {
  const double sum = total + w;
  // The common total, a whole number of records from 1 to 1e15, is its own
  // 15-digit form (as Round15 finds, only later).
  if (sum >= 1 && sum < 1e15 && sum == static_cast<double>(static_cast<std::int64_t>(sum))) return sum;
  return Finite(detail::Round15(Finite(sum, TallyOverflow::Total::kValueWeight, "the total weight of a value")),
                TallyOverflow::Total::kValueWeight, "the total weight of a value");
}

inline void Accumulate(CountWeight& p, double count, double weight, double) {
  p.count += count;
  p.weight = AddWeight15(p.weight, weight);
}

inline void Accumulate(Weight& p, double, double weight, double) { p.weight = AddWeight15(p.weight, weight); }

inline void Accumulate(TargetSums& p, double count, double weight, double target_sum) {
  p.count += count;
  p.weight += weight;
  p.target_sum += target_sum;
}

// ---- Bytes ----

constexpr char kMagic[4] = {'Q', 'T', 'L', 'Y'};
constexpr std::uint32_t kVersion = 1;

template <typename P>
constexpr std::uint32_t PayloadKind() {
  return std::is_same_v<P, CountWeight> ? 1 : 2;
}
constexpr std::uint32_t kTextKind = 3;

class Writer {
 public:
  void Bytes(const void* p, std::size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  // Little-endian whatever the host (the doubles as their IEEE bits).
  void U64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out_.push_back(static_cast<unsigned char>(v >> (8 * i)));
  }
  void F64(double d) { U64(std::bit_cast<std::uint64_t>(d)); }
  void Header(std::uint32_t kind, const TallyTotals& t, std::uint64_t count) {
    Bytes(kMagic, 4);
    U64(kVersion);
    U64(kind);
    for (double d : {t.N, t.WgtN, t.Missing, t.Sum, t.SumWgt}) F64(d);
    U64(count);
  }
  std::vector<unsigned char> Take() { return std::move(out_); }

 private:
  std::vector<unsigned char> out_;
};

class Reader {
 public:
  explicit Reader(std::span<const unsigned char> in) : in_(in) {}
  std::uint64_t U64() {
    Need(8);
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(in_[at_ + i]) << (8 * i);
    at_ += 8;
    return v;
  }
  double F64() { return std::bit_cast<double>(U64()); }
  std::string Text(std::size_t n) {
    Need(n);
    std::string s(reinterpret_cast<const char*>(in_.data() + at_), n);
    at_ += n;
    return s;
  }
  // Reads the header; returns the number of entries.
  std::uint64_t Header(std::uint32_t kind, TallyTotals& t) {
    Need(4);
    if (std::memcmp(in_.data(), kMagic, 4) != 0) Bad("no tally");
    at_ = 4;
    if (U64() != kVersion) Bad("a tally of another version");
    if (U64() != kind) Bad("a tally of another kind");
    t.N = F64();
    t.WgtN = F64();
    t.Missing = F64();
    t.Sum = F64();
    t.SumWgt = F64();
    const std::uint64_t count = U64();
    if (count > in_.size()) Bad("a truncated tally");  // every entry takes at least one byte
    return count;
  }
  void End() const {
    if (at_ != in_.size()) Bad("bytes after the tally");
  }

 private:
  void Need(std::size_t n) const {
    if (in_.size() - at_ < n) Bad("a truncated tally");
  }
  [[noreturn]] static void Bad(const char* what) {
    throw std::invalid_argument(std::string("Tally bytes: ") + what);
  }
  std::span<const unsigned char> in_;
  std::size_t at_ = 0;
};

// The bits of a finite double as an unsigned number in the order of the
// doubles: negative numbers have every bit flipped (a larger magnitude is a
// smaller number), the others only the sign bit (so they follow them).
inline std::uint64_t OrderBits(double x) {
  const std::uint64_t u = Bits(x);
  return u & (std::uint64_t{1} << 63) ? ~u : u | (std::uint64_t{1} << 63);
}

// Sorts entries ascending by `key_of` (an unsigned 64-bit number below
// 2^(shift + 8)), in place: a radix sort on the key's byte at `shift`
// (American flag: counted, then every entry swapped into its bucket), then
// each bucket on the next byte, and buckets of a few entries by comparison.
// Entries of equal keys end in no particular order. No memory beyond a few
// counts.
template <typename Entry, typename KeyOf>
void SortBy(Entry* first, std::size_t n, int shift, const KeyOf& key_of) {
  if (n <= 48) {
    std::sort(first, first + n, [&](const Entry& a, const Entry& b) { return key_of(a) < key_of(b); });
    return;
  }
  const auto digit = [&](const Entry& e) { return static_cast<unsigned>(key_of(e) >> shift) & 0xFF; };
  std::array<std::size_t, 256> start{}, next{};
  for (std::size_t i = 0; i < n; ++i) ++start[digit(first[i])];
  std::size_t at = 0;
  for (unsigned b = 0; b < 256; ++b) {
    const std::size_t count = start[b];
    start[b] = next[b] = at;
    at += count;
  }
  for (unsigned b = 0; b < 256; ++b) {
    const std::size_t end = b == 255 ? n : start[b + 1];
    while (next[b] < end) {
      const unsigned d = digit(first[next[b]]);
      if (d == b) ++next[b];
      else std::swap(first[next[b]], first[next[d]++]);
    }
  }
  if (shift == 0) return;  // every byte looked at
  for (unsigned b = 0; b < 256; ++b) {
    const std::size_t end = b == 255 ? n : start[b + 1];
    if (end - start[b] > 1) SortBy(first + start[b], end - start[b], shift - 8, key_of);
  }
}

inline void AddTotals(TallyTotals& to, const TallyTotals& from) {
  to.N += from.N;
  to.WgtN += from.WgtN;
  to.Missing += from.Missing;
  to.Sum += from.Sum;
  to.SumWgt += from.SumWgt;
}

}  // namespace

// ---- Tally ----

template <typename P>
Tally<P>::Tally() {
  Reset();
}
template <typename P>
Tally<P>::Tally(Tally&&) noexcept = default;
template <typename P>
Tally<P>& Tally<P>::operator=(Tally&&) noexcept = default;
template <typename P>
Tally<P>::Tally(const Tally& other)
    : capacity_(other.capacity_),
      ascending_(other.ascending_),
      shift_(other.shift_),
      size_(other.size_),
      firsts_(other.firsts_),
      pending_(other.pending_),
      read_(other.read_),
      placed_(other.placed_),
      abs_weights_(other.abs_weights_),
      totals_(other.totals_) {
  slots_.reset(static_cast<Slot*>(std::malloc(capacity_ * sizeof(Slot))));
  if (!slots_) throw std::bad_alloc();
  std::memcpy(slots_.get(), other.slots_.get(), other.AllSlots().size() * sizeof(Slot));
}
template <typename P>
Tally<P>& Tally<P>::operator=(const Tally& other) {
  if (this != &other) *this = Tally(other);
  return *this;
}
template <typename P>
void Tally<P>::FreeSlots::operator()(Slot* p) const {
  std::free(p);
}
template <typename P>
Tally<P>::~Tally() = default;

template <typename P>
const typename Tally<P>::Slot* Tally<P>::Home(std::uint64_t key) const {
  return &slots_[Mix(key) >> shift_];
}

template <typename P>
typename Tally<P>::Slot Tally<P>::NewSlot(std::uint64_t key, double value) const {
  value += 0.0;  // the first occurrence; -0 is shown as 0
  if (Bits(value) != key) [[unlikely]]
    firsts_.emplace(key, value);
  return Slot{std::bit_cast<double>(key), P{}};
}

template <typename P>
typename Tally<P>::Slot& Tally<P>::FindOrAdd(std::uint64_t key, double value) const {
  if (ascending_) {
    // Keys are finite and never -0, so their bits are equal exactly when the
    // numbers are, and the numbers compare as the values do.
    if (size_ > 0 && Bits(slots_[size_ - 1].value) == key) return slots_[size_ - 1];
    if (size_ == 0 || std::bit_cast<double>(key) > slots_[size_ - 1].value) {
      if (size_ == capacity_) Grow();
      slots_[size_] = NewSlot(key, value);
      return slots_[size_++];
    }
    LeaveAscending();
  }
  const std::size_t mask = capacity_ - 1;
  std::size_t i = Mix(key) >> shift_;
  while (true) {
    Slot& s = slots_[i];
    const std::uint64_t bits = Bits(s.value);
    if (bits == key) return s;
    if (bits == kEmpty) break;
    i = (i + 1) & mask;
  }
  // At most three quarters full: a column of 9 million distinct values fits
  // 16 million slots.
  if ((size_ + 1) * 4 > capacity_ * 3) {
    Grow();
    i = Mix(key) >> shift_;
    while (Bits(slots_[i].value) != kEmpty) i = (i + 1) & (capacity_ - 1);
  }
  slots_[i] = NewSlot(key, value);
  ++size_;
  return slots_[i];
}

template <typename P>
void Tally<P>::Reset() const {
  std::unique_ptr<Slot[], FreeSlots> fresh(static_cast<Slot*>(std::malloc(kInitialSlots * sizeof(Slot))));
  if (!fresh) throw std::bad_alloc();
  slots_ = std::move(fresh);
  capacity_ = kInitialSlots;
  shift_ = 64;
  size_ = 0;
  ascending_ = true;
}

// The sorted array becomes a table at most three quarters full, with room
// for the key that did not come in order. Its entries keep their payloads:
// a key's additions so far all went to its one entry.
template <typename P>
void Tally<P>::LeaveAscending() const {
  std::size_t capacity = kInitialSlots;
  while ((size_ + 1) * 4 > capacity * 3) capacity *= 2;
  std::unique_ptr<Slot[], FreeSlots> table(static_cast<Slot*>(std::malloc(capacity * sizeof(Slot))));
  if (!table) throw std::bad_alloc();
  std::fill_n(table.get(), capacity, Slot{std::bit_cast<double>(kEmpty), P{}});
  const unsigned shift = static_cast<unsigned>(64 - std::countr_zero(capacity));
  const std::size_t mask = capacity - 1;
  for (std::size_t e = 0; e < size_; ++e) {
    const Slot& s = slots_[e];
    std::size_t i = Mix(Bits(s.value)) >> shift;
    while (Bits(table[i].value) != kEmpty) i = (i + 1) & mask;
    table[i] = s;
  }
  slots_ = std::move(table);
  capacity_ = capacity;
  shift_ = shift;
  ascending_ = false;
}

// Growing in place. The block is enlarged by realloc (for a large block the
// system moves its pages instead of copying them, so the old and the new
// table never take memory at once). The entries are packed in the order of
// their home slots (the top bits of the hash) and moved to the end of the
// block; then each is placed, in that order, at its
// home or right after the entry placed before it, whichever is later. That
// is a valid linear-probing table: every entry sits at or after its home
// with no empty slot in between. An entry whose place would be beyond the end
// of the table, or on an entry not placed yet, is set aside and inserted the
// ordinary way at the end (only entries whose homes lie near the end can).
template <typename P>
void Tally<P>::Grow() const {
  const std::size_t old_capacity = capacity_;
  const std::size_t capacity = old_capacity * 2;
  Slot* block = static_cast<Slot*>(std::realloc(slots_.get(), capacity * sizeof(Slot)));
  if (!block) throw std::bad_alloc();
  slots_.release();
  slots_.reset(block);
  if (ascending_) {  // the sorted array only needs the room
    capacity_ = capacity;
    return;
  }
  // The old table is in the order of the homes already, but for the entries
  // of a cluster (in the order they came) and the entries that wrapped
  // around the end to the front (which are set aside): the homes at twice
  // the size keep that order, so an insertion sort has little to do.
  const unsigned old_shift = shift_;
  const unsigned shift = old_shift - 1;
  const auto home = [shift](const Slot& s) { return static_cast<std::uint64_t>(Mix(Bits(s.value)) >> shift); };
  std::vector<Slot> aside;
  std::size_t n = 0;
  for (std::size_t i = 0; i < old_capacity; ++i) {
    const Slot s = block[i];
    if (Bits(s.value) == kEmpty) continue;
    if (i < (Mix(Bits(s.value)) >> old_shift)) {
      aside.push_back(s);
      continue;
    }
    std::size_t j = n++;
    const std::uint64_t h = home(s);
    for (; j > 0 && home(block[j - 1]) > h; --j) block[j] = block[j - 1];
    block[j] = s;
  }
  capacity_ = capacity;
  shift_ = shift;
  // n is at most three quarters of the old size, so the two ranges are apart.
  const std::size_t from = capacity - n;
  std::memcpy(block + from, block, n * sizeof(Slot));
  const Slot empty{std::bit_cast<double>(kEmpty), P{}};
  std::size_t next_free = 0;  // slots below it are placed or empty
  for (std::size_t i = 0; i < n; ++i) {
    const Slot s = block[from + i];
    const std::size_t at = std::max(static_cast<std::size_t>(home(s)), next_free);
    if (at >= from + i + 1 || at >= capacity) {
      aside.push_back(s);
      continue;
    }
    std::fill(block + next_free, block + at, empty);
    block[at] = s;
    next_free = at + 1;
  }
  std::fill(block + next_free, block + capacity, empty);
  const std::size_t mask = capacity - 1;
  for (const Slot& s : aside) {
    std::size_t i = home(s);
    while (Bits(block[i].value) != kEmpty) i = (i + 1) & mask;
    block[i] = s;
  }
}

template <typename P>
void Tally<P>::Place(const Pending& p) const {
  Slot& s = FindOrAdd(std::bit_cast<std::uint64_t>(p.key), p.value);
  Accumulate(s.payload, 1, p.weight, p.weight * p.target);
}

template <typename P>
void Tally<P>::Add(double value, double weight, double target) {
  AddKeyed(value, Form15(value), weight, target);
}

template <typename P>
void Tally<P>::AddKeyed(double value, double key, double weight, double target) {
  AddToTotals(totals_, weight, std::is_same_v<P, TargetSums> ? target : key);
  const Pending p{value, key, weight, target};
  if (ascending_) {
    // The array's last entry is the one a key in order needs: it is in the
    // cache, so the record is placed at once, with no look-ahead.
    if (size_ == 0 || key >= slots_[size_ - 1].value) [[likely]] {
      if constexpr (!std::is_same_v<P, TargetSums>) abs_weights_ += std::fabs(weight);
      Place(p);
      return;
    }
    LeaveAscending();
  }
  if constexpr (!std::is_same_v<P, TargetSums>) {
    // A weight total that overflows must stop the run at the record that
    // causes it: past the bound, every record is placed at once.
    abs_weights_ += std::fabs(weight);
    if (!(abs_weights_ <= 1e300)) [[unlikely]] {
      Flush();
      Place(p);
      return;
    }
  }
  // A table that fits the processor's second-level cache takes each record
  // at once: its look-ups hit the cache, and the look-ahead would only cost.
  if (capacity_ * sizeof(Slot) <= kDirectBytes && read_ == placed_) {
    Place(p);
    return;
  }
  // Records reach their slot a few records after they were added, with the
  // slot prefetched in between: with many distinct values nearly every look-up
  // would otherwise miss the cache. Each slot still takes its additions in
  // record order, so the look-ahead changes no sum.
  // A slot may straddle two cache lines (24 or 32 bytes from a 16-byte
  // aligned start): both are asked for, so the payload does not miss either.
  const Slot* home = Home(std::bit_cast<std::uint64_t>(key));
  __builtin_prefetch(home);
  __builtin_prefetch(reinterpret_cast<const char*>(home + 1) - 1);
  if (read_ - placed_ == kLag) Place(pending_[placed_++ % kLag]);
  pending_[read_++ % kLag] = p;
}

template <typename P>
void Tally<P>::Flush() const {
  while (placed_ < read_) Place(pending_[placed_++ % kLag]);
}

template <typename P>
void Tally<P>::AddAggregate(double value, const P& payload) requires CountedPayload<P> {
  // Clang 14 instantiates constrained members in an explicit instantiation
  // of the whole class; a weight-only tally never reaches this body.
  if constexpr (!CountedPayload<P>) {
    std::abort();
  } else {
    Flush();
    const double key = Form15(value);
    const double q_count = std::is_same_v<P, CountWeight> ? key * payload.count : 0;
    double q_weight = 0;
    if constexpr (std::is_same_v<P, TargetSums>) q_weight = payload.target_sum;
    else q_weight = key * payload.weight;
    totals_.N += payload.count;
    totals_.WgtN = Finite(totals_.WgtN + payload.weight, TallyOverflow::Total::kWgtN, "the total weight");
    if constexpr (std::is_same_v<P, TargetSums>) {
      totals_.Sum = Finite(totals_.Sum + payload.target_sum, TallyOverflow::Total::kSum, "the sum of the values");
    } else {
      totals_.Sum = Finite(totals_.Sum + q_count, TallyOverflow::Total::kSum, "the sum of the values");
    }
    totals_.SumWgt = Finite(totals_.SumWgt + q_weight, TallyOverflow::Total::kSumWgt, "the weighted sum of the values");
    abs_weights_ += std::fabs(payload.weight);
    Slot& s = FindOrAdd(std::bit_cast<std::uint64_t>(key), value);
    if constexpr (std::is_same_v<P, CountWeight>) {
      Accumulate(s.payload, payload.count, payload.weight, 0);
    } else {
      Accumulate(s.payload, payload.count, payload.weight, payload.target_sum);
    }
  }
}

template <typename P>
void Tally<P>::AddArrays(std::span<const double> values, std::span<const double> weights,
                         std::span<const double> targets) {
  if ((!weights.empty() && weights.size() != values.size()) || (!targets.empty() && targets.size() != values.size()))
    throw std::invalid_argument("Tally: weights and targets must be as long as the values");
  for (std::size_t i = 0; i < values.size(); ++i)
    Add(values[i], weights.empty() ? 1.0 : weights[i], targets.empty() ? 0.0 : targets[i]);
}

template <typename P>
void Tally<P>::Merge(const Tally& other) requires CountedPayload<P> {
  // Clang 14 instantiates constrained members in an explicit instantiation
  // of the whole class; a weight-only tally never reaches this body.
  if constexpr (!CountedPayload<P>) {
    std::abort();
  } else {
    Flush();
    other.Flush();
    for (const Slot& s : other.AllSlots()) {
      const std::uint64_t key = Bits(s.value);
      if (key == kEmpty) continue;
      const auto first = other.firsts_.find(key);
      Slot& mine = FindOrAdd(key, first == other.firsts_.end() ? s.value : first->second);
      if constexpr (std::is_same_v<P, CountWeight>) {
        Accumulate(mine.payload, s.payload.count, s.payload.weight, 0);
      } else {
        Accumulate(mine.payload, s.payload.count, s.payload.weight, s.payload.target_sum);
      }
    }
    AddTotals(totals_, other.totals_);
    abs_weights_ += other.abs_weights_;
  }
}

template <typename P>
std::size_t Tally<P>::Cardinality() const {
  Flush();
  return size_;
}

template <typename P>
std::vector<typename Tally<P>::Entry> Tally<P>::Entries() const {
  Flush();
  std::vector<Entry> out;
  out.reserve(size_);
  for (const Slot& s : AllSlots()) {
    const std::uint64_t key = Bits(s.value);
    if (key == kEmpty) continue;
    const auto first = firsts_.find(key);
    out.push_back(Entry{first == firsts_.end() ? s.value : first->second, s.payload});
  }
  return out;
}

template <typename P>
std::vector<typename Tally<P>::Entry> Tally<P>::TakeSorted() {
  const SortedEntries sorted = TakeSortedInPlace();
  return std::vector<Entry>(sorted.entries().begin(), sorted.entries().end());
}

template <typename P>
typename Tally<P>::SortedEntries Tally<P>::TakeSortedInPlace() {
  Flush();
  // The slots are packed to the front and sorted where they are, by key:
  // rounding to 15 digits keeps the order, so that is the order of the
  // values. Then each key that stands for another first occurrence gives way
  // to it. The block is cut down to the entries (in place) before they are
  // copied out. An ascending array is packed and sorted already.
  Slot* block = slots_.get();
  std::size_t packed = size_;
  if (!ascending_) {
    packed = 0;
    for (std::size_t i = 0; i < capacity_; ++i)
      if (Bits(block[i].value) != kEmpty) block[packed++] = block[i];
  }
  if (packed > 0 && packed < capacity_) {
    if (Slot* smaller = static_cast<Slot*>(std::realloc(block, packed * sizeof(Slot)))) {
      slots_.release();
      slots_.reset(smaller);
      block = smaller;
      capacity_ = packed;  // no table any more: Reset below makes one
    }
  }
  std::span<Entry> out(block, packed);
  // The keys are distinct, finite and never -0, so exactly one order puts
  // them ascending: the library's quick sort and the radix sort both give
  // it, and the radix sort does not slow down on orders chosen against it.
  if (packed > 1 && !ascending_) SortBy(out.data(), packed, 56, [](const Entry& e) { return OrderBits(e.value); });
  if (!firsts_.empty())
    for (Entry& e : out) {
      const auto first = firsts_.find(Bits(e.value));
      if (first != firsts_.end()) e.value = first->second;
    }
  SortedEntries sorted;
  sorted.block_ = std::move(slots_);
  sorted.size_ = packed;
  firsts_.clear();
  Reset();
  return sorted;
}

template <typename P>
std::vector<unsigned char> Tally<P>::Serialize() const requires CountedPayload<P> {
  // Clang 14 instantiates constrained members in an explicit instantiation
  // of the whole class; a weight-only tally never reaches this body.
  if constexpr (!CountedPayload<P>) {
    std::abort();
  } else {
    Flush();
    Writer w;
    w.Header(PayloadKind<P>(), totals_, size_);
    w.F64(abs_weights_);
    for (const Slot& s : AllSlots()) {
      const std::uint64_t key = Bits(s.value);
      if (key == kEmpty) continue;
      const auto first = firsts_.find(key);
      w.U64(key);
      w.F64(first == firsts_.end() ? s.value : first->second);
      w.F64(s.payload.count);
      w.F64(s.payload.weight);
      if constexpr (std::is_same_v<P, TargetSums>) w.F64(s.payload.target_sum);
    }
    return w.Take();
  }
}

template <typename P>
Tally<P> Tally<P>::Deserialize(std::span<const unsigned char> bytes) requires CountedPayload<P> {
  // Clang 14 instantiates constrained members in an explicit instantiation
  // of the whole class; a weight-only tally never reaches this body.
  if constexpr (!CountedPayload<P>) {
    std::abort();
  } else {
    Reader r(bytes);
    Tally t;
    const std::uint64_t count = r.Header(PayloadKind<P>(), t.totals_);
    t.abs_weights_ = r.F64();
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t key = r.U64();
      const double value = r.F64();
      if (key == kEmpty || !std::isfinite(value) || std::bit_cast<std::uint64_t>(Form15(value)) != key)
        throw std::invalid_argument("Tally bytes: an entry whose key is not its value's 15-digit form");
      Slot& s = t.FindOrAdd(key, value);
      if (s.payload.count != 0 || s.payload.weight != 0)
        throw std::invalid_argument("Tally bytes: a value held twice");
      s.payload.count = r.F64();
      s.payload.weight = r.F64();
      if constexpr (std::is_same_v<P, TargetSums>) s.payload.target_sum = r.F64();
    }
    r.End();
    return t;
  }
}

template class Tally<CountWeight>;
template class Tally<TargetSums>;
template class Tally<Weight>;  // of records alone: no aggregates, merges or bytes

// ---- TextTally ----

using detail::TextHash;

namespace {
// An index for `texts` texts and at least one more, at most half full.
std::size_t IndexCapacity(std::size_t texts) {
  std::size_t capacity = 64;
  while (capacity < 2 * (texts + 1)) capacity *= 2;
  return capacity;
}
// An index slot: the top bits of the text's hash beside its position + 1.
std::uint64_t IndexSlot(std::uint64_t hash, std::size_t position) {
  return (hash >> 32) << 32 | (std::uint64_t{position} + 1);
}
std::uint32_t SlotPosition(std::uint64_t slot) { return static_cast<std::uint32_t>((slot & 0xFFFFFFFFu) - 1); }
}  // namespace

std::size_t TextTally::SlotOf(std::string_view key, std::uint64_t hash) const {
  const std::size_t mask = index_.size() - 1;
  const std::uint64_t tag = hash >> 32;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = index_[i];
    if (slot == 0) return i;
    if ((slot >> 32) == tag && texts_[SlotPosition(slot)] == key) return i;
  }
}

void TextTally::Reindex(std::size_t capacity) const {
  std::vector<std::uint64_t> index(capacity, 0);
  const std::size_t mask = capacity - 1;
  for (std::size_t position = 0; position < texts_.size(); ++position) {
    const std::uint64_t hash = TextHash(texts_[position]);
    std::size_t i = hash & mask;
    while (index[i] != 0) i = (i + 1) & mask;
    index[i] = IndexSlot(hash, position);
  }
  index_.swap(index);
}

std::vector<std::string> TextTally::Texts() const {
  std::vector<std::string> texts;
  texts.reserve(texts_.size());
  for (std::size_t i = 0; i < texts_.size(); ++i) texts.emplace_back(texts_[i]);
  return texts;
}

void TextTally::ReleaseIndex() { std::vector<std::uint64_t>().swap(index_); }

std::uint32_t TextTally::Position(std::string_view key) {
  // Grown (or built again after ReleaseIndex) before it would be over half full.
  if (2 * (texts_.size() + 1) > index_.size()) Reindex(IndexCapacity(texts_.size()));
  const std::uint64_t hash = TextHash(key);
  const std::size_t i = SlotOf(key, hash);
  if (index_[i] != 0) return SlotPosition(index_[i]);
  // Positions are stored + 1 in 32 bits, so the last one is 2^32 - 2.
  if (texts_.size() >= 0xFFFFFFFEu) throw std::length_error("The predictor has too many distinct values.");
  const auto position = static_cast<std::uint32_t>(texts_.size());
  texts_.Append(key);
  payloads_.emplace_back();
  index_[i] = IndexSlot(hash, position);
  return position;
}

void TextTally::AddAt(std::uint32_t position, double weight, double target) {
  AddToTotals(totals_, weight, target);
  Accumulate(payloads_[position], 1, weight, weight * target);
}

void TextTally::AddAggregate(std::string_view key, const TargetSums& payload) {
  totals_.N += payload.count;
  totals_.WgtN = Finite(totals_.WgtN + payload.weight, TallyOverflow::Total::kWgtN, "the total weight");
  totals_.Sum = Finite(totals_.Sum + payload.target_sum, TallyOverflow::Total::kSum, "the sum of the values");
  totals_.SumWgt =
      Finite(totals_.SumWgt + payload.target_sum, TallyOverflow::Total::kSumWgt, "the weighted sum of the values");
  Accumulate(payloads_[Position(key)], payload.count, payload.weight, payload.target_sum);
}

void TextTally::AddArrays(std::span<const std::string> keys, std::span<const double> weights,
                          std::span<const double> targets) {
  if ((!weights.empty() && weights.size() != keys.size()) || (!targets.empty() && targets.size() != keys.size()))
    throw std::invalid_argument("Tally: weights and targets must be as long as the values");
  for (std::size_t i = 0; i < keys.size(); ++i)
    Add(keys[i], weights.empty() ? 1.0 : weights[i], targets.empty() ? 0.0 : targets[i]);
}

void TextTally::Merge(const TextTally& other) {
  for (std::uint32_t i = 0; i < other.texts_.size(); ++i) {
    const TargetSums& p = other.payloads_[i];
    Accumulate(payloads_[Position(other.Text(i))], p.count, p.weight, p.target_sum);
  }
  AddTotals(totals_, other.totals_);
}

const TargetSums& TextTally::Of(const std::string& text) const {
  if (index_.empty()) Reindex(IndexCapacity(texts_.size()));
  const std::uint64_t slot = index_[SlotOf(text, TextHash(text))];
  if (slot == 0) throw std::out_of_range("Tally: no such text: " + text);
  return payloads_[SlotPosition(slot)];
}

std::vector<unsigned char> TextTally::Serialize() const {
  Writer w;
  w.Header(kTextKind, totals_, texts_.size());
  for (std::size_t i = 0; i < texts_.size(); ++i) {
    const std::string_view text = texts_[i];
    w.U64(text.size());
    w.Bytes(text.data(), text.size());
    w.F64(payloads_[i].count);
    w.F64(payloads_[i].weight);
    w.F64(payloads_[i].target_sum);
  }
  return w.Take();
}

TextTally TextTally::Deserialize(std::span<const unsigned char> bytes) {
  Reader r(bytes);
  TextTally t;
  const std::uint64_t count = r.Header(kTextKind, t.totals_);
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::string text = r.Text(r.U64());
    const std::uint32_t position = t.Position(text);
    if (position != i) throw std::invalid_argument("Tally bytes: a text held twice");
    t.payloads_[position] = TargetSums{r.F64(), r.F64(), r.F64()};
  }
  r.End();
  return t;
}

}  // namespace qel
