#include "qelStatsLib/QelBivariate.h"

#include "in_database.h"
#include "qelStatsLib/modBivariate.h"
#include "qelStatsLib/presenter.h"
#include "class_input.h"
#include "text.h"

namespace qel {

namespace {

using text::IsBlank;

[[noreturn]] void FailCheck(const char* description) {
  throw qeldata::Error(qeldata::kErrLibraryInput, std::string(QelBivariate::kErrorSource), description);
}

// No error leaves Run, not even one of the host's message box.
void ShowError(const std::string& description, std::string& reason) {
  reason = description;
  try {
    CurrentPresenter().ShowMessage("Error: " + description);
  } catch (...) {
  }
}

}  // namespace

double QelBivariate::Cardinality() const { return BivariateRunRecord().Cardinality; }

std::shared_ptr<qeldata::Recordset> QelBivariate::ResultSet() const {
  try {
    if (CancelFlag()) return NewBivariateTable("", "");
    if (!result_set_) return nullptr;
    return result_set_->Clone(qeldata::adLockUnspecified);
  } catch (...) {
    return nullptr;
  }
}

bool QelBivariate::Run() {
  bool produced = false;
  std::string check_failure;
  std::shared_ptr<qeldata::Recordset> input;
  try {
    std::unique_ptr<qeldata::AggregateReader> reader;
    if (options_.InDatabase)
      reader = detail::OpenClassAggregate(data_source_, source_, connection_string_,
                                          std::string(kErrorSource).c_str(), FailCheck);
    else
      input = OpenClassInput(data_source_, source_, connection_string_, FailCheck);
    if (IsBlank(predictor_field_)) FailCheck("Predictor Field is missing or blank.");
    if (IsBlank(target_field_)) FailCheck("Target Field parameter is missing or blank.");
    if (bin_count_ <= 0) FailCheck("Bin Count is invalid. Integer values >0 are required.");

    BivariateRunRecord().Categorical = categorical_;
    result_set_ = reader ? Bivariate_RunInDatabase(*reader, predictor_field_, target_field_, show_status_,
                                                   weight_field_, bin_count_)
                         : Bivariate_Run(*input, predictor_field_, target_field_, show_status_, weight_field_,
                                         bin_count_);
    produced = result_set_ != nullptr;
  } catch (const qeldata::Error& e) {
    ShowError(e.description(), check_failure);
  } catch (const std::exception& e) {
    ShowError(e.what(), check_failure);
  } catch (...) {
    ShowError("Unexpected error", check_failure);
  }

  // Also after a failure: the results are whatever the thread's run record holds.
  results_ = BivariateRunRecord();
  categorical_ = results_.Categorical;
  stop_reason_ = check_failure.empty() ? LastStopReason() : check_failure;
  input.reset();
  return produced;
}

}  // namespace qel
