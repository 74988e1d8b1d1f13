#include "qelStatsLib/QelOutlier.h"

#include <exception>

#include "qelStatsLib/presenter.h"
#include "qeldata/error.h"
#include "text.h"

namespace qel {

namespace {

// Leading and trailing spaces only, as the settings are compared.
using text::IsBlank;

[[noreturn]] void InputError(const char* source, const char* message) {
  throw qeldata::Error(qeldata::kErrLibraryInput, source, message);
}

}  // namespace

QelOutlier::QelOutlier() = default;
QelOutlier::~QelOutlier() = default;

void QelOutlier::SetDataSource(std::shared_ptr<qeldata::Recordset> data_source) {
  data_source_ = std::move(data_source);
  if (!data_source_) throw qeldata::Error(qeldata::kErrObjectRequired, "QelOutlier", "Object required");
  if (auto connection = data_source_->ActiveConnection()) {
    connection_string_ = connection->ConnectionString();
    source_ = data_source_->Source();
  }
}

bool QelOutlier::Run() {
  bool ran = false;
  std::string check_failure;
  try {
    if (data_source_ && !data_source_->ActiveConnection()) {
      input_ = data_source_;
    } else {
      if (IsBlank(source_)) InputError("Build Outlier", "Source parameter is missing or blank.");
      if (IsBlank(connection_string_)) InputError("Build Outlier", "Connection String parameter is missing or blank.");
      input_ = std::make_shared<qeldata::Recordset>();
      input_->SetCursorLocation(qeldata::adUseServer);
      input_->Open(source_, connection_string_, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
    }
    if (IsBlank(outlier_field_)) InputError("Build Outliers", "Outlier Field is missing or blank.");
    if (find_type_ != outSTD && find_type_ != outTMean)
      InputError("Build Outliers", "Outlier FindType Parameter is invalid or blank.");
    // Written so that a NaN percentage fails as well.
    if (find_type_ == outTMean && !(type_parm_ >= 1 && type_parm_ <= 100))
      InputError("Build Outliers", "Outlier Trimmed mean outlier determination requires percentages between 1 and 100.");

    result_set_ = Outlier_Run(*input_, outlier_field_, weight_field_, find_type_, type_parm_, show_status_);
    // The analysis reports its own failures only by returning no table; a run
    // without a table is no success.
    ran = result_set_ != nullptr;
  } catch (const std::exception& e) {
    // qeldata::Error carries its description as what().
    check_failure = e.what();
    try {
      CurrentPresenter().ShowMessage(std::string("Error: ") + e.what());
    } catch (...) {
      // A presenter that fails cannot be told about it; Run still raises nothing.
    }
  } catch (...) {
    check_failure = "Unexpected failure";
    try {
      CurrentPresenter().ShowMessage("Error: Unexpected failure");
    } catch (...) {
    }
  }
  CopyRunRecord();
  if (!check_failure.empty()) stop_reason_ = check_failure;
  input_.reset();
  return ran;
}

void QelOutlier::CopyRunRecord() {
  results_ = OutlierRunRecord();
  stop_reason_ = LastStopReason();
}


}  // namespace qel
