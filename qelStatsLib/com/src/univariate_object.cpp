// QelUnivariate as a component: _QelUnivariate over qel::QelUnivariate.
#include "qelStatsLib/QelUnivariate.h"

#include "object_helpers.h"

namespace qel::com {
namespace {

using namespace qelcom;

using QelStatsLib::_QelUnivariate;

class UnivariateObject final : public DualObject<_QelUnivariate> {
 public:
  UnivariateObject() : DualObject(UnivariateClass()) {}

  QEL_GET_DOUBLE(Uniques)
  QEL_GET_DOUBLE(CV)
  QEL_GET_DOUBLE(Kurtosis)
  QEL_GET_DOUBLE(Skewness)
  QEL_GET_DOUBLE(Q3)
  QEL_GET_DOUBLE(Q1)
  QEL_GET_DOUBLE(IQR)
  QEL_GET_DOUBLE(Median)
  QEL_GET_DOUBLE(Range)
  QEL_GET_DOUBLE(Mode)
  QEL_GET_DOUBLE(WgtN)
  QEL_GET_DOUBLE(Sum)
  QEL_GET_DOUBLE(Max)
  QEL_GET_DOUBLE(Min)
  QEL_GET_DOUBLE(TrimmedMean)
  QEL_GET_DOUBLE(Mean)
  QEL_GET_DOUBLE(Variance)
  QEL_GET_DOUBLE(Stdev)
  QEL_STRING_PROPERTY(FieldName)
  QEL_GET_DOUBLE(Cardinality)
  QEL_GET_DOUBLE(N)
  QEL_GET_DOUBLE(Missing)
  QEL_STRING_PROPERTY(ConnectionString)
  QEL_BOOL_PROPERTY(showStatus)

  HRESULT Run(VARIANT_BOOL* result) override {
    QEL_SLOT({
      Require(result);
      if (data_source_.foreign_disconnected)
        throw qeldata::Error(qeldata::kErrInvalidArgument, std::string(qel::QelUnivariate::kErrorSource),
                             DataSourceSlot::kForeignMessage);
      *result = ToVariantBool(engine_.Run());
    });
  }

  QEL_STRING_PROPERTY(WeightField)
  QEL_STRING_PROPERTY(Source)

  HRESULT putref_DataSource(IDispatch* value) override {
    QEL_SLOT(data_source_.Set(engine_, value, "QelStatsLib.QelUnivariate"));
  }
  HRESULT get_DataSource(IDispatch** value) override { QEL_SLOT(data_source_.Get(Require(value))); }

 private:
  qel::QelUnivariate engine_;
  DataSourceSlot data_source_;
};

// _QelUnivariate in slot order, with its dispatch ids.
std::span<const Member> Members() {
  using I = _QelUnivariate;
  static const Member members[] = {
      SlotGet<&I::get_Uniques>("Uniques", VT_R8, 0x6803001A),
      SlotGet<&I::get_CV>("CV", VT_R8, 0x68030019),
      SlotGet<&I::get_Kurtosis>("Kurtosis", VT_R8, 0x68030018),
      SlotGet<&I::get_Skewness>("Skewness", VT_R8, 0x68030017),
      SlotGet<&I::get_Q3>("Q3", VT_R8, 0x68030016),
      SlotGet<&I::get_Q1>("Q1", VT_R8, 0x68030015),
      SlotGet<&I::get_IQR>("IQR", VT_R8, 0x68030014),
      SlotGet<&I::get_Median>("Median", VT_R8, 0x68030013),
      SlotGet<&I::get_Range>("Range", VT_R8, 0x68030012),
      SlotGet<&I::get_Mode>("Mode", VT_R8, 0x68030011),
      SlotGet<&I::get_WgtN>("WgtN", VT_R8, 0x68030010),
      SlotGet<&I::get_Sum>("Sum", VT_R8, 0x6803000F),
      SlotGet<&I::get_Max>("Max", VT_R8, 0x6803000E),
      SlotGet<&I::get_Min>("Min", VT_R8, 0x6803000D),
      SlotGet<&I::get_TrimmedMean>("TrimmedMean", VT_R8, 0x6803000C),
      SlotGet<&I::get_Mean>("Mean", VT_R8, 0x6803000B),
      SlotGet<&I::get_Variance>("Variance", VT_R8, 0x6803000A),
      SlotGet<&I::get_Stdev>("Stdev", VT_R8, 0x68030009),
      SlotLet<&I::put_FieldName>("FieldName", VT_BSTR, 0x68030008),
      SlotGet<&I::get_FieldName>("FieldName", VT_BSTR, 0x68030008),
      SlotGet<&I::get_Cardinality>("Cardinality", VT_R8, 0x68030007),
      SlotGet<&I::get_N>("N", VT_R8, 0x68030006),
      SlotGet<&I::get_Missing>("Missing", VT_R8, 0x68030005),
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
