// What the API's sources share: conversions between the engine's errors and
// qel::Error, the keys of arrays, and access to the tallies' engine state.
// Internal to the engine library.
#pragma once

#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "qel/base.h"
#include "qel/table.h"
#include "qel/tally.h"
#include "qeldata/recordset.h"
#include "qelStatsLib/presenter.h"
#include "qelStatsLib/tally.h"

namespace qel {

namespace detail {

[[noreturn]] void Throw(ErrorCode code, const std::string& what);

// Runs `body`, turning the data layer's errors into qel::Error kData (or
// kNoSuchField for an unknown field) with the description as message.
template <typename Body>
auto Translated(Body body) -> decltype(body()) {
  try {
    return body();
  } catch (const qeldata::Error& e) {
    Throw(e.number() == qeldata::kErrItemNotFound ? ErrorCode::kNoSuchField : ErrorCode::kData, e.description());
  }
}

// Throws kCancelled when the caller's Cancellation says stop.
void CancelPoint();

// The presenter of a run of the API: it keeps the last message the run
// showed (the reason it stopped), and at the run's checkpoints asks the
// caller's Cancellation.
class RunPresenter final : public Presenter {
 public:
  std::unique_ptr<ProgressWindow> LoadProgressWindow() override;
  void ShowMessage(const std::string& text) override;
  void ProcessEvents() override;
  const std::string& last_message() const { return last_message_; }
  bool cancelled() const { return cancelled_; }

 private:
  std::string last_message_;
  bool cancelled_ = false;
};

// One run or finish of the API on this thread: a checkpoint first, the run's
// presenter installed, and Done() to call when it returned, which throws
// kCancelled when the run stopped for the caller (or the caller says stop).
class RunScope {
 public:
  RunScope();
  void Done();
  const RunPresenter& presenter() const { return presenter_; }

 private:
  RunPresenter presenter_;
  ScopedPresenter scoped_;
};

// Throws kInvalidArgument unless `other` is empty or as long as `n`.
void CheckLength(std::span<const double> other, std::size_t n, const char* what);
// Throws kInvalidArgument for an infinite element (NaN is null and passes).
void CheckNotInfinite(std::span<const double> xs, const char* what);
// A bin count in 1..32767, as BinCount holds it.
std::int16_t CheckedBins(int bins);
// `name` trimmed of blanks; kInvalidArgument when nothing is left and `required`.
std::string FieldName(std::string_view name, const char* what, bool required);

// A read-only, forward-only recordset over `table`, at its first record.
std::unique_ptr<qeldata::Recordset> OpenInput(const Table& table);
// The field `name` of `table`; kNoSuchField naming the source when it has none.
const FieldInfo& FieldOf(const Table& table, const std::string& name);

}  // namespace detail

// Form15 of the values of arrays, remembering the values that are their own
// 15-digit form (most values of a column that was read from text are): a
// value met again costs a look-up in a small table instead of the rounding.
// The key is Form15's in every case; a value is remembered only when Form15
// gave back its very bits, and Form15 of such a value is always itself.
class SelfKeyed {
 public:
  // How far ahead of its use a value's slot is prefetched.
  static constexpr std::size_t kAhead = 8;

  double Key(double x);
  void Prefetch(double x) const { __builtin_prefetch(&slots_[Home(std::bit_cast<std::uint64_t>(x))]); }

 private:
  static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};  // a NaN pattern: never a finite value
  static constexpr std::size_t kInitialSlots = 4096;
  static constexpr std::size_t kMaxSlots = std::size_t{1} << 21;  // 16 MB, a million values

  std::size_t Home(std::uint64_t bits) const {
    bits ^= bits >> 33;
    bits *= 0xff51afd7ed558ccdULL;
    bits ^= bits >> 33;
    return static_cast<std::size_t>(bits) & mask_;
  }
  void Grow();

  std::vector<std::uint64_t> slots_ = std::vector<std::uint64_t>(kInitialSlots, kEmpty);
  std::size_t mask_ = kInitialSlots - 1;
  std::size_t size_ = 0;
};

// The engine state behind the public tallies.
struct TallyAccess {
  static Tally<CountWeight>& Of(const ValueTally& t);
  // Numbers, or texts (text and date predictors, categorical numbers).
  static std::variant<Tally<TargetSums>, TextTally>& Of(const SegmentTally& t);
};

}  // namespace qel
