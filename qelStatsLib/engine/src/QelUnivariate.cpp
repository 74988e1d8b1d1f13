#include "qelStatsLib/QelUnivariate.h"

#include "qelStatsLib/modUnivariate.h"
#include "qeldata/error.h"
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
  data_source_ = std::move(recordset);
  if (!data_source_)
    throw qeldata::Error(qeldata::kErrObjectRequired, "QelStatsLib.QelUnivariate", "Object required");
  if (auto connection = data_source_->ActiveConnection()) {
    connection_string_ = connection->ConnectionString();
    source_ = data_source_->Source();
  }
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
  if (data_source_ && !data_source_->ActiveConnection()) {
    // A disconnected recordset is read as it is.
    input_ = data_source_;
  } else {
    if (IsBlank(source_)) RaiseInput("Source parameter is missing or blank.");
    if (IsBlank(connection_string_)) RaiseInput("Connection String parameter is missing or blank.");
    input_ = std::make_shared<qeldata::Recordset>();
    input_->SetCursorLocation(qeldata::adUseServer);
    input_->Open(source_, connection_string_, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
  }
  if (IsBlank(field_name_)) RaiseInput("Univariate Fieldname is missing or blank.");

  const bool result = Univariate_Run(*input_, field_name_, weight_field_, show_status_);
  results_ = UnivariateRunRecord();
  stop_reason_ = LastStopReason();
  return result;
}

}  // namespace qel
