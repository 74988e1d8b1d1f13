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
    try {
      CurrentPresenter().ShowMessage(std::string("Error: ") + e.what());
    } catch (...) {
      // A presenter that fails cannot be told about it; Run still raises nothing.
    }
  } catch (...) {
    try {
      CurrentPresenter().ShowMessage("Error: Unexpected failure");
    } catch (...) {
    }
  }
  CopyRunRecord();
  input_.reset();
  return ran;
}

void QelOutlier::CopyRunRecord() {
  const OutlierRecord& rec = OutlierRunRecord();
  n_ = rec.N;
  mean_ = rec.Mean;
  missing_ = rec.Missing;
  stdev_ = rec.Stdev;
  variance_ = rec.Variance;
  sum_ = rec.Sum;
  min_ = rec.Min;
  max_ = rec.Max;
  outlier_count_n_ = rec.OutlierCountN;
  outlier_count_wgt_ = rec.OutlierCountWgt;
  wgt_n_ = rec.WgtN;
  cardinality_ = rec.Cardinality;
  sum_wgt_ = rec.SumWgt;
  trimmed_mean_ = rec.TrimmedMean;
  q1_ = rec.Q1;
  q3_ = rec.Q3;
  median_ = rec.Median;
  run_failure_ = rec.failure;
}

const std::array<QelOutlier::Member, 33>& QelOutlier::Members() {
  using K = MemberKind;
  constexpr std::int32_t b = kDispatchBase;
  static const std::array<Member, 33> members = {{
      {1, "Median", K::kGet, "double", b + 0x19, ""},
      {2, "Q1", K::kGet, "double", b + 0x18, ""},
      {3, "Q3", K::kGet, "double", b + 0x17, ""},
      {4, "SumWgt", K::kGet, "double", b + 0x16, ""},
      {5, "WgtN", K::kGet, "double", b + 0x15, ""},
      {6, "TypeParm", K::kLet, "double", b + 0x14, ""},
      {7, "FindType", K::kLet, "OutlierType", b + 0x13, ""},
      {8, "OutlierCountN", K::kGet, "double", b + 0x12, ""},
      {9, "OutlierCountWgt", K::kGet, "double", b + 0x11, ""},
      {10, "Sum", K::kGet, "double", b + 0x10, ""},
      {11, "Max", K::kGet, "double", b + 0x0F, ""},
      {12, "Min", K::kGet, "double", b + 0x0E, ""},
      {13, "TrimmedMean", K::kGet, "double", b + 0x0D, ""},
      {14, "Mean", K::kGet, "double", b + 0x0C, ""},
      {15, "Variance", K::kGet, "double", b + 0x0B, ""},
      {16, "Stdev", K::kGet, "double", b + 0x0A, ""},
      {17, "OutlierField", K::kLet, "string", b + 0x09, ""},
      {18, "OutlierField", K::kGet, "string", b + 0x09, ""},
      {19, "Cardinality", K::kGet, "double", b + 0x08, ""},
      {20, "N", K::kGet, "double", b + 0x07, ""},
      {21, "Missing", K::kGet, "double", b + 0x06, ""},
      {22, "ConnectionString", K::kLet, "string", b + 0x05, ""},
      {23, "ConnectionString", K::kGet, "string", b + 0x05, ""},
      {24, "showStatus", K::kLet, "boolean", b + 0x04, ""},
      {25, "showStatus", K::kGet, "boolean", b + 0x04, ""},
      {26, "Run", K::kMethod, "variant", 0x6003001A, ""},
      {27, "ResultSet", K::kGet, "recordset", b + 0x03, ""},
      {28, "WeightField", K::kLet, "string", b + 0x02, ""},
      {29, "WeightField", K::kGet, "string", b + 0x02, ""},
      {30, "Source", K::kLet, "string", b + 0x01, ""},
      {31, "Source", K::kGet, "string", b + 0x01, ""},
      {32, "DataSource", K::kSet, "object", b + 0x00, ""},
      {33, "DataSource", K::kGet, "object", b + 0x00, ""},
  }};
  return members;
}

}  // namespace qel
