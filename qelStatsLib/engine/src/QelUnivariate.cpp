#include "qelStatsLib/QelUnivariate.h"

#include "in_database.h"
#include "qelStatsLib/modUnivariate.h"
#include "qeldata/error.h"
#include "class_input.h"
#include "text.h"

namespace qel {

namespace {

[[noreturn]] void RaiseInput(const char* message) {
  throw qeldata::Error(qeldata::kErrLibraryInput, std::string(QelUnivariate::kErrorSource), message);
}

// Blank means nothing but spaces.
using text::IsBlank;

// Drops the input recordset on every way out of Run.
class ReleaseOnExit {
 public:
  explicit ReleaseOnExit(std::shared_ptr<qeldata::Recordset>& held) : held_(held) {}
  ~ReleaseOnExit() { held_.reset(); }
  ReleaseOnExit(const ReleaseOnExit&) = delete;
  ReleaseOnExit& operator=(const ReleaseOnExit&) = delete;

 private:
  std::shared_ptr<qeldata::Recordset>& held_;
};

}  // namespace

bool QelUnivariate::Run() {
  ReleaseOnExit release(input_);
  if (options_.InDatabase) {
    const auto reader = detail::OpenClassAggregate(data_source_, source_, connection_string_,
                                                   std::string(kErrorSource).c_str(), RaiseInput);
    if (IsBlank(field_name_)) RaiseInput("Univariate Fieldname is missing or blank.");
    const bool result = Univariate_RunInDatabase(*reader, field_name_, weight_field_, show_status_);
    results_ = UnivariateRunRecord();
    stop_reason_ = LastStopReason();
    return result;
  }
  input_ = OpenClassInput(data_source_, source_, connection_string_, RaiseInput);
  if (IsBlank(field_name_)) RaiseInput("Univariate Fieldname is missing or blank.");

  const bool result = Univariate_Run(*input_, field_name_, weight_field_, show_status_);
  results_ = UnivariateRunRecord();
  stop_reason_ = LastStopReason();
  return result;
}

}  // namespace qel
