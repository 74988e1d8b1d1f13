#include "qelStatsLib/QelBivariate.h"

#include "qelStatsLib/modBivariate.h"
#include "qelStatsLib/presenter.h"
#include "text.h"

namespace qel {

namespace {

using text::IsBlank;

[[noreturn]] void FailCheck(const char* description) {
  throw qeldata::Error(qeldata::kErrLibraryInput, std::string(QelBivariate::kErrorSource), description);
}

// No error leaves Run, not even one of the host's message box.
void ShowError(const std::string& description) {
  try {
    CurrentPresenter().ShowMessage("Error: " + description);
  } catch (...) {
  }
}

}  // namespace

void QelBivariate::SetDataSource(std::shared_ptr<qeldata::Recordset> value) {
  data_source_ = std::move(value);
  if (!data_source_) throw qeldata::Error(qeldata::kErrObjectRequired, "QelStatsLib.QelBivariate", "Object required");
  if (auto connection = data_source_->ActiveConnection()) {
    connection_string_ = connection->ConnectionString();
    source_ = data_source_->Source();
  }
}

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
  std::shared_ptr<qeldata::Recordset> input;
  try {
    if (data_source_ && !data_source_->ActiveConnection()) {
      input = data_source_;
    } else {
      if (IsBlank(source_)) FailCheck("Source parameter is missing or blank.");
      if (IsBlank(connection_string_)) FailCheck("Connection String parameter is missing or blank.");
      input = std::make_shared<qeldata::Recordset>();
      input->SetCursorLocation(qeldata::adUseServer);
      input->Open(source_, connection_string_, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
    }
    if (IsBlank(predictor_field_)) FailCheck("Predictor Field is missing or blank.");
    if (IsBlank(target_field_)) FailCheck("Target Field parameter is missing or blank.");
    if (bin_count_ <= 0) FailCheck("Bin Count is invalid. Integer values >0 are required.");

    BivariateRunRecord().Categorical = categorical_;
    result_set_ = Bivariate_Run(*input, predictor_field_, target_field_, show_status_, weight_field_, bin_count_);
    produced = result_set_ != nullptr;
  } catch (const qeldata::Error& e) {
    ShowError(e.description());
  } catch (const std::exception& e) {
    ShowError(e.what());
  } catch (...) {
    ShowError("Unexpected error");
  }

  // Also after a failure: the results are whatever the thread's run record holds.
  const BivariateRecord& rec = BivariateRunRecord();
  psi_ = rec.PSI;
  di_ = rec.DI;
  missing_ = rec.Missing;
  n_ = rec.N;
  target_mean_ = rec.TargetMean;
  categorical_ = rec.Categorical;
  input.reset();
  return produced;
}

namespace {
using Kind = BivariateMember::Kind;
constexpr std::string_view kCategoricalHelp =
    "Flag set at runtime to determine how to treat the Predictor variable in the processing.  Under certain "
    "conditions, this flag may be reset during processing to indicate the actual treatment of the predictor "
    "variable based on the characteristics discovered at the time of the procedure.  By default this is set to "
    "False. The value is determined True if the number of possible values of the predictor field is less than or "
    "equal to the number of bins/segments requested";
constexpr std::string_view kConnectionStringHelp =
    "Connectionstring used to identify the database and drivers used to access input data.";
constexpr std::string_view kShowStatusHelp = "Boolean indicator requesting user status display as the procedure runs.";
constexpr std::string_view kWeightFieldHelp =
    "Field used to determine the weight that should be applied to each record found in the input dataset";
constexpr std::string_view kPredictorFieldHelp =
    "Field used as an independent variable. Considered a predictor field since you are using this field to "
    "determine its relationship with the target.";
constexpr std::string_view kTargetFieldHelp = "Field to be used as dependent variable in the bivariate analysis.";
constexpr std::string_view kBinCountHelp = "Maximum number of bins to create in output data";
constexpr std::string_view kSourceHelp = "Source can be a table name our SQL string";
constexpr std::string_view kDataSourceHelp = "Incoming data to the Bivariate procedure";
}  // namespace

const std::array<BivariateMember, 26> QelBivariate::kMembers = {{
    {1, "Cardinality", Kind::kGet, "double", 0x6803001F,
     "Number of individual values the predictor field contains. This may be more or less than the number of bins "
     "requested."},
    {2, "Categorical", Kind::kLet, "boolean", 0x6803001E, kCategoricalHelp},
    {3, "Categorical", Kind::kGet, "boolean", 0x6803001E, kCategoricalHelp},
    {4, "TargetMean", Kind::kGet, "double", 0x6803001D, ""},
    {5, "N", Kind::kGet, "double", 0x6803001C, "Total weighted N of the data less any records with missing values"},
    {6, "Missing", Kind::kGet, "double", 0x6803001B, "Number of records with missing target or predictor values"},
    {7, "DI", Kind::kGet, "double", 0x6803001A, "Discontinuity Index generated as a result of the Bivariate run"},
    {8, "PSI", Kind::kGet, "double", 0x68030019, "Power of Segmentation Index as a result of the Bivariate run"},
    {9, "ConnectionString", Kind::kLet, "string", 0x68030018, kConnectionStringHelp},
    {10, "ConnectionString", Kind::kGet, "string", 0x68030018, kConnectionStringHelp},
    {11, "showStatus", Kind::kLet, "boolean", 0x68030017, kShowStatusHelp},
    {12, "showStatus", Kind::kGet, "boolean", 0x68030017, kShowStatusHelp},
    {13, "Run", Kind::kMethod, "variant", 0x60030020,
     "Executes the bivariate function based on the parameters submitted."},
    {14, "ResultSet", Kind::kGet, "recordset", 0x68030016, "Resulting output from the procedure completion"},
    {15, "WeightField", Kind::kLet, "string", 0x68030015, kWeightFieldHelp},
    {16, "WeightField", Kind::kGet, "string", 0x68030015, kWeightFieldHelp},
    {17, "PredictorField", Kind::kLet, "string", 0x68030014, kPredictorFieldHelp},
    {18, "PredictorField", Kind::kGet, "string", 0x68030014, kPredictorFieldHelp},
    {19, "TargetField", Kind::kLet, "string", 0x68030013, kTargetFieldHelp},
    {20, "TargetField", Kind::kGet, "string", 0x68030013, kTargetFieldHelp},
    {21, "BinCount", Kind::kLet, "int16", 0x68030012, kBinCountHelp},
    {22, "BinCount", Kind::kGet, "int16", 0x68030012, kBinCountHelp},
    {23, "Source", Kind::kLet, "string", 0x68030011, kSourceHelp},
    {24, "Source", Kind::kGet, "string", 0x68030011, kSourceHelp},
    {25, "DataSource", Kind::kSet, "object", 0x68030010, kDataSourceHelp},
    {26, "DataSource", Kind::kGet, "object", 0x68030010, kDataSourceHelp},
}};

}  // namespace qel
