#include "qelStatsLib/QelOutlier.h"

#include <exception>

#include "in_database.h"
#include "qelStatsLib/presenter.h"
#include "qeldata/error.h"
#include "class_input.h"
#include "text.h"

namespace qel {

namespace {

// Leading and trailing spaces only, as the settings are compared.
using text::IsBlank;

[[noreturn]] void InputError(const char* source, const char* message) {
  throw qeldata::Error(qeldata::kErrLibraryInput, source, message);
}

}  // namespace

bool QelOutlier::Run() {
  bool ran = false;
  std::string check_failure;
  try {
    const auto fail = [](const char* message) { InputError("Build Outlier", message); };
    std::unique_ptr<qeldata::AggregateReader> reader;
    if (options_.InDatabase)
      reader = detail::OpenClassAggregate(data_source_, source_, connection_string_, "Build Outlier", fail);
    else
      input_ = OpenClassInput(data_source_, source_, connection_string_, fail);
    if (IsBlank(outlier_field_)) InputError("Build Outliers", "Outlier Field is missing or blank.");
    if (find_type_ != outSTD && find_type_ != outTMean)
      InputError("Build Outliers", "Outlier FindType Parameter is invalid or blank.");
    // Written so that a NaN percentage fails as well.
    if (find_type_ == outTMean && !(type_parm_ >= 1 && type_parm_ <= 100))
      InputError("Build Outliers", "Outlier Trimmed mean outlier determination requires percentages between 1 and 100.");

    result_set_ = reader ? Outlier_RunInDatabase(*reader, outlier_field_, weight_field_, find_type_, type_parm_,
                                                 show_status_)
                         : Outlier_Run(*input_, outlier_field_, weight_field_, find_type_, type_parm_, show_status_);
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
