#include "qelStatsLib/QelUnivariate.h"

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

void QelUnivariate::SetDataSource(std::shared_ptr<qeldata::Recordset> recordset) {
  SetClassDataSource(std::move(recordset), "QelStatsLib.QelUnivariate", data_source_, connection_string_, source_);
}

bool QelUnivariate::Run() {
  ReleaseOnExit release(input_);
  if (options_.InDatabase) {
    if (data_source_ && !data_source_->ActiveConnection())
      throw qeldata::Error(qeldata::kErrNotSupported, std::string(kErrorSource),
                           "in-database runs need a connection string and a source; a disconnected DataSource is "
                           "read record by record");
    if (IsBlank(source_)) RaiseInput("Source parameter is missing or blank.");
    if (IsBlank(connection_string_)) RaiseInput("Connection String parameter is missing or blank.");
    qeldata::AggregateReader reader(connection_string_, source_);
    if (IsBlank(field_name_)) RaiseInput("Univariate Fieldname is missing or blank.");
    const bool result = Univariate_RunInDatabase(reader, field_name_, weight_field_, show_status_);
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
