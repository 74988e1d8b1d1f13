// QelUnivariate as a component: _QelUnivariate over qel::QelUnivariate.
#include "qelStatsLib/QelUnivariate.h"

#include "object_helpers.h"

namespace qel::com {
namespace {

using namespace qelcom;

using QelStatsLib::_QelUnivariate;

class UnivariateObject final : public DescriptiveObject<_QelUnivariate, qel::QelUnivariate, kUnivariateResults> {
 public:
  HRESULT get_Uniques(double* value) override { return ReadResult(Result("Uniques"), value); }
  HRESULT get_CV(double* value) override { return ReadResult(Result("CV"), value); }
  HRESULT get_Kurtosis(double* value) override { return ReadResult(Result("Kurtosis"), value); }
  HRESULT get_Skewness(double* value) override { return ReadResult(Result("Skewness"), value); }
  HRESULT get_IQR(double* value) override { return ReadResult(Result("IQR"), value); }
  HRESULT get_Range(double* value) override { return ReadResult(Result("Range"), value); }
  HRESULT get_Mode(double* value) override { return ReadResult(Result("Mode"), value); }
  QEL_STRING_PROPERTY(FieldName)

  HRESULT Run(VARIANT_BOOL* result) override {
    QEL_SLOT({
      Require(result);
      if (data_source_.foreign_disconnected)
        throw qeldata::Error(qeldata::kErrInvalidArgument, std::string(qel::QelUnivariate::kErrorSource),
                             DataSourceSlot::kForeignMessage);
      *result = ToVariantBool(engine_.Run());
    });
  }
};

}  // namespace

// _QelUnivariate in slot order.
std::span<const Member> UnivariateMembers() {
  using I = _QelUnivariate;
  static const std::vector<Member> members =
      MemberTable<UnivariateObject>(0x68030000)
          .Results({"Uniques", "CV", "Kurtosis", "Skewness", "Q3", "Q1", "IQR", "Median", "Range", "Mode", "WgtN",
                    "Sum", "Max", "Min", "TrimmedMean", "Mean", "Variance", "Stdev"})
          .DescriptiveTail<&I::put_FieldName, &I::get_FieldName>("FieldName", VT_BOOL)
          .Numbered();
  return members;
}

IUnknown* NewUnivariate() { return NewObject<UnivariateObject>(); }

}  // namespace qel::com
