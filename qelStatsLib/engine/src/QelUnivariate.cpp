#include "qelStatsLib/QelUnivariate.h"

#include "qelStatsLib/modUnivariate.h"
#include "qeldata/error.h"
#include "text.h"

namespace qel {

namespace {

using Kind = UnivariateMember::Kind;

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

const std::array<UnivariateMember, 34> QelUnivariate::kMembers = {{
    {1, "Uniques", Kind::kGet, "double", 0x6803001A, ""},
    {2, "CV", Kind::kGet, "double", 0x68030019, ""},
    {3, "Kurtosis", Kind::kGet, "double", 0x68030018, ""},
    {4, "Skewness", Kind::kGet, "double", 0x68030017, ""},
    {5, "Q3", Kind::kGet, "double", 0x68030016, ""},
    {6, "Q1", Kind::kGet, "double", 0x68030015, ""},
    {7, "IQR", Kind::kGet, "double", 0x68030014, ""},
    {8, "Median", Kind::kGet, "double", 0x68030013, ""},
    {9, "Range", Kind::kGet, "double", 0x68030012, ""},
    {10, "Mode", Kind::kGet, "double", 0x68030011, ""},
    {11, "WgtN", Kind::kGet, "double", 0x68030010, ""},
    {12, "Sum", Kind::kGet, "double", 0x6803000F, ""},
    {13, "Max", Kind::kGet, "double", 0x6803000E, ""},
    {14, "Min", Kind::kGet, "double", 0x6803000D, ""},
    {15, "TrimmedMean", Kind::kGet, "double", 0x6803000C, ""},
    {16, "Mean", Kind::kGet, "double", 0x6803000B, ""},
    {17, "Variance", Kind::kGet, "double", 0x6803000A, ""},
    {18, "Stdev", Kind::kGet, "double", 0x68030009, ""},
    {19, "FieldName", Kind::kLet, "string", 0x68030008, ""},
    {20, "FieldName", Kind::kGet, "string", 0x68030008, ""},
    {21, "Cardinality", Kind::kGet, "double", 0x68030007, ""},
    {22, "N", Kind::kGet, "double", 0x68030006, ""},
    {23, "Missing", Kind::kGet, "double", 0x68030005, ""},
    {24, "ConnectionString", Kind::kLet, "string", 0x68030004, ""},
    {25, "ConnectionString", Kind::kGet, "string", 0x68030004, ""},
    {26, "showStatus", Kind::kLet, "boolean", 0x68030003, ""},
    {27, "showStatus", Kind::kGet, "boolean", 0x68030003, ""},
    {28, "Run", Kind::kMethod, "boolean", 0x6003001B, ""},
    {29, "WeightField", Kind::kLet, "string", 0x68030002, ""},
    {30, "WeightField", Kind::kGet, "string", 0x68030002, ""},
    {31, "Source", Kind::kLet, "string", 0x68030001, ""},
    {32, "Source", Kind::kGet, "string", 0x68030001, ""},
    {33, "DataSource", Kind::kSet, "object", 0x68030000, ""},
    {34, "DataSource", Kind::kGet, "object", 0x68030000, ""},
}};

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
  CopyResults();
  return result;
}

void QelUnivariate::CopyResults() {
  const UnivariateRecord& r = UnivariateRunRecord();
  missing_ = r.Missing;
  n_ = r.N;
  cardinality_ = r.Cardinality;
  stdev_ = r.Stdev;
  variance_ = r.Variance;
  mean_ = r.Mean;
  trimmed_mean_ = r.TrimmedMean;
  min_ = r.Min;
  max_ = r.Max;
  sum_ = r.Sum;
  wgt_n_ = r.WgtN;
  mode_ = r.Mode;
  range_ = r.Range;
  median_ = r.Median;
  iqr_ = r.IQR;
  q1_ = r.Q1;
  q3_ = r.Q3;
  skewness_ = r.Skewness;
  kurtosis_ = r.Kurtosis;
  uniques_ = r.Uniques;
  cv_ = r.CV;
}

}  // namespace qel
