#include <cmath>
#include <limits>

#include "internal.h"
#include "qel/qel.h"

namespace qel {

Error::Error(ErrorCode code, const std::string& what) : std::runtime_error(what), code_(code) {}
Error::~Error() = default;

const char* Version() noexcept { return QEL_VERSION; }

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

}  // namespace detail
}  // namespace qel
