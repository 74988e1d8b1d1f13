// QelUnivariate as a component: _QelUnivariate over qel::QelUnivariate.
#include "qelStatsLib/QelUnivariate.h"

#include "object_helpers.h"

namespace qel::com {
namespace {

using namespace qelcom;

using QelStatsLib::_QelUnivariate;

class UnivariateObject final : public AnalysisObject<_QelUnivariate, qel::QelUnivariate, kUnivariateResults> {
 public:
  UnivariateObject() : AnalysisObject(UnivariateClass()) {}

  HRESULT get_Uniques(double* value) override { return ReadResult(Result("Uniques"), value); }
  HRESULT get_CV(double* value) override { return ReadResult(Result("CV"), value); }
  HRESULT get_Kurtosis(double* value) override { return ReadResult(Result("Kurtosis"), value); }
  HRESULT get_Skewness(double* value) override { return ReadResult(Result("Skewness"), value); }
  HRESULT get_Q3(double* value) override { return ReadResult(Result("Q3"), value); }
  HRESULT get_Q1(double* value) override { return ReadResult(Result("Q1"), value); }
  HRESULT get_IQR(double* value) override { return ReadResult(Result("IQR"), value); }
  HRESULT get_Median(double* value) override { return ReadResult(Result("Median"), value); }
  HRESULT get_Range(double* value) override { return ReadResult(Result("Range"), value); }
  HRESULT get_Mode(double* value) override { return ReadResult(Result("Mode"), value); }
  HRESULT get_WgtN(double* value) override { return ReadResult(Result("WgtN"), value); }
  HRESULT get_Sum(double* value) override { return ReadResult(Result("Sum"), value); }
  HRESULT get_Max(double* value) override { return ReadResult(Result("Max"), value); }
  HRESULT get_Min(double* value) override { return ReadResult(Result("Min"), value); }
  HRESULT get_TrimmedMean(double* value) override { return ReadResult(Result("TrimmedMean"), value); }
  HRESULT get_Mean(double* value) override { return ReadResult(Result("Mean"), value); }
  HRESULT get_Variance(double* value) override { return ReadResult(Result("Variance"), value); }
  HRESULT get_Stdev(double* value) override { return ReadResult(Result("Stdev"), value); }
  QEL_STRING_PROPERTY(FieldName)
  HRESULT get_Cardinality(double* value) override { return ReadResult(Result("Cardinality"), value); }
  HRESULT get_N(double* value) override { return ReadResult(Result("N"), value); }
  HRESULT get_Missing(double* value) override { return ReadResult(Result("Missing"), value); }

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

// _QelUnivariate in slot order, with its dispatch ids.
std::span<const Member> Members() {
  using I = _QelUnivariate;
  using O = UnivariateObject;
  using O = UnivariateObject;
  static const Member members[] = {
      ResultGet<&I::get_Uniques, O>(O::Result("Uniques"), 0x6803001A),
      ResultGet<&I::get_CV, O>(O::Result("CV"), 0x68030019),
      ResultGet<&I::get_Kurtosis, O>(O::Result("Kurtosis"), 0x68030018),
      ResultGet<&I::get_Skewness, O>(O::Result("Skewness"), 0x68030017),
      ResultGet<&I::get_Q3, O>(O::Result("Q3"), 0x68030016),
      ResultGet<&I::get_Q1, O>(O::Result("Q1"), 0x68030015),
      ResultGet<&I::get_IQR, O>(O::Result("IQR"), 0x68030014),
      ResultGet<&I::get_Median, O>(O::Result("Median"), 0x68030013),
      ResultGet<&I::get_Range, O>(O::Result("Range"), 0x68030012),
      ResultGet<&I::get_Mode, O>(O::Result("Mode"), 0x68030011),
      ResultGet<&I::get_WgtN, O>(O::Result("WgtN"), 0x68030010),
      ResultGet<&I::get_Sum, O>(O::Result("Sum"), 0x6803000F),
      ResultGet<&I::get_Max, O>(O::Result("Max"), 0x6803000E),
      ResultGet<&I::get_Min, O>(O::Result("Min"), 0x6803000D),
      ResultGet<&I::get_TrimmedMean, O>(O::Result("TrimmedMean"), 0x6803000C),
      ResultGet<&I::get_Mean, O>(O::Result("Mean"), 0x6803000B),
      ResultGet<&I::get_Variance, O>(O::Result("Variance"), 0x6803000A),
      ResultGet<&I::get_Stdev, O>(O::Result("Stdev"), 0x68030009),
      SlotLet<&I::put_FieldName>("FieldName", VT_BSTR, 0x68030008),
      SlotGet<&I::get_FieldName>("FieldName", VT_BSTR, 0x68030008),
      ResultGet<&I::get_Cardinality, O>(O::Result("Cardinality"), 0x68030007),
      ResultGet<&I::get_N, O>(O::Result("N"), 0x68030006),
      ResultGet<&I::get_Missing, O>(O::Result("Missing"), 0x68030005),
      SlotLet<&I::put_ConnectionString>("ConnectionString", VT_BSTR, 0x68030004),
      SlotGet<&I::get_ConnectionString>("ConnectionString", VT_BSTR, 0x68030004),
      SlotLet<&I::put_showStatus>("showStatus", VT_BOOL, 0x68030003),
      SlotGet<&I::get_showStatus>("showStatus", VT_BOOL, 0x68030003),
      SlotMethod<&I::Run>("Run", VT_BOOL, 0x6003001B),
      SlotLet<&I::put_WeightField>("WeightField", VT_BSTR, 0x68030002),
      SlotGet<&I::get_WeightField>("WeightField", VT_BSTR, 0x68030002),
      SlotLet<&I::put_Source>("Source", VT_BSTR, 0x68030001),
      SlotGet<&I::get_Source>("Source", VT_BSTR, 0x68030001),
      SlotSet<&I::putref_DataSource>("DataSource", 0x68030000),
      SlotGet<&I::get_DataSource>("DataSource", VT_DISPATCH, 0x68030000),
  };
  return members;
}

}  // namespace

const ClassInfo& UnivariateClass() {
  static const ClassInfo info{"QelUnivariate",
                              "QelStatsLib.QelUnivariate",
                              QelStatsLib::CLSID_QelUnivariate,
                              QelStatsLib::IID__QelUnivariate,
                              "_QelUnivariate",
                              qel::QelUnivariate::kDescription.data(),
                              true,
                              &Members,
                              [] { return static_cast<IUnknown*>(static_cast<_QelUnivariate*>(new UnivariateObject())); }};
  return info;
}

}  // namespace qel::com
