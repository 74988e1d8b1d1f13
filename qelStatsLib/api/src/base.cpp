#include <cmath>
#include <limits>

#include "internal.h"
#include "qel/qel.h"

namespace qel {

Error::Error(ErrorCode code, const std::string& what) : std::runtime_error(what), code_(code) {}
Error::~Error() = default;

const char* Version() noexcept { return QEL_VERSION; }

namespace {
thread_local const Cancellation* t_cancellation = nullptr;
}  // namespace

Cancellation::Cancellation(std::function<bool()> stop) : stop_(std::move(stop)), previous_(t_cancellation) {
  t_cancellation = this;
}
Cancellation::~Cancellation() { t_cancellation = previous_; }
const Cancellation* Cancellation::Current() noexcept { return t_cancellation; }

namespace detail {

void Throw(ErrorCode code, const std::string& what) { throw Error(code, what); }

void CheckLength(std::span<const double> other, std::size_t n, const char* what) {
  if (!other.empty() && other.size() != n)
    Throw(ErrorCode::kInvalidArgument, std::string(what) + " holds " + std::to_string(other.size()) +
                                           " numbers where " + std::to_string(n) + " are needed");
}

void CheckNotInfinite(std::span<const double> xs, const char* what) {
  for (std::size_t i = 0; i < xs.size(); ++i)
    if (std::isinf(xs[i]))
      Throw(ErrorCode::kInvalidArgument,
            std::string(what) + " [" + std::to_string(i) + "] is infinite: no data value (NaN stands for null)");
}

std::int16_t CheckedBins(int bins) {
  if (bins < 1 || bins > std::numeric_limits<std::int16_t>::max())
    Throw(ErrorCode::kInvalidArgument,
          "Bin Count is invalid: " + std::to_string(bins) + " is not a whole number from 1 to 32767");
  return static_cast<std::int16_t>(bins);
}

std::string FieldName(std::string_view name, const char* what, bool required) {
  while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  if (name.empty() && required) Throw(ErrorCode::kInvalidArgument, std::string(what) + " is missing or blank");
  return std::string(name);
}

void CancelPoint() {
  const Cancellation* c = Cancellation::Current();
  if (c && c->Stop()) Throw(ErrorCode::kCancelled, "the analysis was cancelled");
}

// A run's checkpoint asks the caller's Cancellation; the cancel flag it sets
// makes the run stop there, as the Cancel button of a window does.
std::unique_ptr<ProgressWindow> RunPresenter::LoadProgressWindow() {
  CancelFlag() = false;
  return SilentPresenter().LoadProgressWindow();
}

void RunPresenter::ShowMessage(const std::string& text) { last_message_ = text; }

void RunPresenter::ProcessEvents() {
  const Cancellation* c = Cancellation::Current();
  if (c && c->Stop()) {
    cancelled_ = true;
    CancelFlag() = true;
  }
}

RunScope::RunScope() : scoped_(&presenter_) {
  CancelPoint();
  // A cancel of an earlier run on this thread must not stop this one.
  CancelFlag() = false;
}

void RunScope::Done() {
  if (presenter_.cancelled()) Throw(ErrorCode::kCancelled, "the analysis was cancelled");
  CancelPoint();
}

}  // namespace detail
}  // namespace qel
