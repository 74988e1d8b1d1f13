// What the API's sources share: conversions between the engine's errors and
// qel::Error, the in-memory input tables the analyses over arrays read, and
// access to the tallies' engine state. Internal to the engine library.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "qel/base.h"
#include "qel/table.h"
#include "qel/tally.h"
#include "qeldata/recordset.h"
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

// A double as a record value: NaN is null.
inline qeldata::Value NumberOrNull(double x) { return x != x ? qeldata::Value() : qeldata::Value(x); }

}  // namespace detail

// The engine state behind the public tallies.
struct TallyAccess {
  static Tally<CountWeight>& Of(const ValueTally& t);
  // Numbers, or texts (text and date predictors, categorical numbers).
  static std::variant<Tally<TargetSums>, TextTally>& Of(const SegmentTally& t);
};

}  // namespace qel
