// The public tallies: the engine's tallies behind a stable face, with nulls
// (NaN) counted as the analyses count them.
#include <cmath>
#include <variant>

#include "internal.h"
#include "qel/tally.h"
#include "qeldata/value.h"

namespace qel {

namespace {

void CheckFinite(double x, const char* what) {
  if (std::isinf(x)) detail::Throw(ErrorCode::kInvalidArgument, std::string(what) + " is infinite: no data value");
}

// The engine's overflow of a total, as the API's error.
template <typename Body>
void Guarded(Body body) {
  try {
    body();
  } catch (const TallyOverflow& e) {
    detail::Throw(ErrorCode::kInvalidArgument, std::string("a total leaves the range of a double: ") + e.what());
  }
}

}  // namespace

// ---- ValueTally ----

struct ValueTally::Impl {
  Tally<CountWeight> tally;
};

Tally<CountWeight>& TallyAccess::Of(const ValueTally& t) { return t.impl_->tally; }

ValueTally::ValueTally() : impl_(std::make_unique<Impl>()) {}
ValueTally::ValueTally(const ValueTally& other) : impl_(std::make_unique<Impl>(*other.impl_)) {}
ValueTally::ValueTally(ValueTally&&) noexcept = default;
ValueTally& ValueTally::operator=(const ValueTally& other) {
  if (this != &other) impl_ = std::make_unique<Impl>(*other.impl_);
  return *this;
}
ValueTally& ValueTally::operator=(ValueTally&&) noexcept = default;
ValueTally::~ValueTally() = default;

void ValueTally::Add(double value, double weight) {
  CheckFinite(value, "the value");
  CheckFinite(weight, "the weight");
  if (std::isnan(value) || std::isnan(weight)) {
    impl_->tally.AddMissing();
    return;
  }
  const double key = Form15(value);
  if (!std::isfinite(key))
    detail::Throw(ErrorCode::kInvalidArgument, "the value " + qeldata::NumberText(value) +
                                                   " has no 15-digit form within the range of a double");
  Guarded([&] { impl_->tally.AddKeyed(value, key, weight); });
}

void ValueTally::AddArrays(std::span<const double> values, std::span<const double> weights) {
  detail::CheckLength(weights, values.size(), "weights");
  for (std::size_t i = 0; i < values.size(); ++i) Add(values[i], weights.empty() ? 1.0 : weights[i]);
}

void ValueTally::AddAggregate(double value, double count, double weight) {
  if (!std::isfinite(value) || !std::isfinite(count) || !std::isfinite(weight) || count < 0 ||
      count != std::floor(count))
    detail::Throw(ErrorCode::kInvalidArgument, "an aggregated row needs a finite value and weight and a whole count");
  Guarded([&] { impl_->tally.AddAggregate(value, CountWeight{count, weight}); });
}

void ValueTally::Merge(const ValueTally& other) {
  Guarded([&] { impl_->tally.Merge(other.impl_->tally); });
}

std::vector<std::uint8_t> ValueTally::Serialize() const { return impl_->tally.Serialize(); }

ValueTally ValueTally::Deserialize(std::span<const std::uint8_t> bytes) {
  ValueTally t;
  try {
    t.impl_->tally = Tally<CountWeight>::Deserialize(bytes);
  } catch (const std::exception& e) {
    detail::Throw(ErrorCode::kBadBytes, std::string("not the bytes of a value tally: ") + e.what());
  }
  return t;
}

double ValueTally::N() const { return impl_->tally.Totals().N; }
double ValueTally::WgtN() const { return impl_->tally.Totals().WgtN; }
double ValueTally::Missing() const { return impl_->tally.Totals().Missing; }
std::size_t ValueTally::Cardinality() const { return impl_->tally.Cardinality(); }

// ---- SegmentTally ----

struct SegmentTally::Impl {
  bool categorical = false;
  // Numbers until a text or date arrives (or from the start when categorical).
  std::variant<Tally<TargetSums>, TextTally> tally;

  TextTally& Texts(const char* what) {
    if (auto* numbers = std::get_if<Tally<TargetSums>>(&tally)) {
      if (numbers->Cardinality() != 0 || numbers->Totals().N != 0)
        detail::Throw(ErrorCode::kInvalidArgument, std::string("a ") + what + " predictor added to a tally of numbers");
      tally.emplace<TextTally>();
    }
    return std::get<TextTally>(tally);
  }
  const TallyTotals& Totals() const {
    return std::visit([](const auto& t) -> const TallyTotals& { return t.Totals(); }, tally);
  }
  // A record with a null predictor or target: its weight, or 1 when that is null too.
  void AddMissing(double weight) {
    const double amount = std::isnan(weight) ? 1.0 : weight;
    std::visit([&](auto& t) { t.AddMissing(amount); }, tally);
  }
};

std::variant<Tally<TargetSums>, TextTally>& TallyAccess::Of(const SegmentTally& t) { return t.impl_->tally; }

SegmentTally::SegmentTally(bool categorical) : impl_(std::make_unique<Impl>()) {
  impl_->categorical = categorical;
  if (categorical) impl_->tally.emplace<TextTally>();
}
SegmentTally::SegmentTally(const SegmentTally& other) : impl_(std::make_unique<Impl>(*other.impl_)) {}
SegmentTally::SegmentTally(SegmentTally&&) noexcept = default;
SegmentTally& SegmentTally::operator=(const SegmentTally& other) {
  if (this != &other) impl_ = std::make_unique<Impl>(*other.impl_);
  return *this;
}
SegmentTally& SegmentTally::operator=(SegmentTally&&) noexcept = default;
SegmentTally::~SegmentTally() = default;

void SegmentTally::Add(double predictor, double target, double weight) {
  CheckFinite(predictor, "the predictor");
  CheckFinite(target, "the target");
  CheckFinite(weight, "the weight");
  if (std::isnan(predictor) || std::isnan(target) || std::isnan(weight)) return impl_->AddMissing(weight);
  if (auto* texts = std::get_if<TextTally>(&impl_->tally)) {
    if (!impl_->categorical)
      detail::Throw(ErrorCode::kInvalidArgument, "a numeric predictor added to a tally of texts");
    texts->Add(qeldata::NumberText(predictor), weight, target);
    return;
  }
  const double key = Form15(predictor);
  if (!std::isfinite(key))
    detail::Throw(ErrorCode::kInvalidArgument, "the predictor " + qeldata::NumberText(predictor) +
                                                   " has no 15-digit form within the range of a double");
  Guarded([&] { std::get<Tally<TargetSums>>(impl_->tally).AddKeyed(predictor, key, weight, target); });
}

void SegmentTally::Add(const std::optional<std::string>& predictor, double target, double weight) {
  CheckFinite(target, "the target");
  CheckFinite(weight, "the weight");
  TextTally& texts = impl_->Texts("text");
  if (!predictor || std::isnan(target) || std::isnan(weight)) return impl_->AddMissing(weight);
  texts.Add(*predictor, weight, target);
}

void SegmentTally::Add(const std::optional<Date>& predictor, double target, double weight) {
  if (!predictor) return Add(std::optional<std::string>(), target, weight);
  const Date& d = *predictor;
  const qeldata::Date date{d.year, d.month, d.day, d.hour, d.minute, d.second};
  if (!qeldata::Date::Parse(date.ToText()))
    detail::Throw(ErrorCode::kInvalidArgument, "the predictor " + date.ToText() + " is no date");
  Add(std::optional<std::string>(date.ToText()), target, weight);
}

void SegmentTally::AddArrays(std::span<const double> predictor, std::span<const double> target,
                             std::span<const double> weights) {
  if (target.size() != predictor.size()) detail::CheckLength(target, predictor.size(), "target");
  detail::CheckLength(weights, predictor.size(), "weights");
  for (std::size_t i = 0; i < predictor.size(); ++i)
    Add(predictor[i], target[i], weights.empty() ? 1.0 : weights[i]);
}

void SegmentTally::AddArrays(std::span<const std::optional<std::string>> predictor, std::span<const double> target,
                             std::span<const double> weights) {
  if (target.size() != predictor.size()) detail::CheckLength(target, predictor.size(), "target");
  detail::CheckLength(weights, predictor.size(), "weights");
  for (std::size_t i = 0; i < predictor.size(); ++i)
    Add(predictor[i], target[i], weights.empty() ? 1.0 : weights[i]);
}

void SegmentTally::Merge(const SegmentTally& other) {
  if (impl_->categorical != other.impl_->categorical || impl_->tally.index() != other.impl_->tally.index())
    detail::Throw(ErrorCode::kInvalidArgument, "tallies of different kinds do not merge");
  Guarded([&] {
    std::visit([&](auto& mine) { mine.Merge(std::get<std::decay_t<decltype(mine)>>(other.impl_->tally)); },
               impl_->tally);
  });
}

std::vector<std::uint8_t> SegmentTally::Serialize() const {
  // One byte of our own ahead of the engine's bytes: bit 0 texts, bit 1 categorical.
  std::vector<std::uint8_t> out{static_cast<std::uint8_t>(impl_->tally.index() | (impl_->categorical ? 2 : 0))};
  const auto body = std::visit([](const auto& t) { return t.Serialize(); }, impl_->tally);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

SegmentTally SegmentTally::Deserialize(std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || bytes[0] > 3) detail::Throw(ErrorCode::kBadBytes, "not the bytes of a segment tally");
  SegmentTally t((bytes[0] & 2) != 0);
  try {
    if (bytes[0] & 1) t.impl_->tally = TextTally::Deserialize(bytes.subspan(1));
    else t.impl_->tally = Tally<TargetSums>::Deserialize(bytes.subspan(1));
  } catch (const std::exception& e) {
    detail::Throw(ErrorCode::kBadBytes, std::string("not the bytes of a segment tally: ") + e.what());
  }
  if (t.impl_->categorical && t.impl_->tally.index() == 0)
    detail::Throw(ErrorCode::kBadBytes, "not the bytes of a segment tally: a categorical tally of numbers");
  return t;
}

bool SegmentTally::categorical() const { return impl_->categorical; }
double SegmentTally::N() const { return impl_->Totals().WgtN; }
double SegmentTally::Missing() const { return impl_->Totals().Missing; }
std::size_t SegmentTally::Cardinality() const {
  return std::visit([](const auto& t) { return t.Cardinality(); }, impl_->tally);
}

}  // namespace qel
