// QelUnivariate as a component: _QelUnivariate over qel::QelUnivariate.
#include "qelStatsLib/QelUnivariate.h"

#include "object_helpers.h"

namespace qelcom_server {
namespace {

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

const std::vector<Binding>& Bindings() {
  static const std::vector<Binding> table = [] {
    std::vector<MemberView> members;
    for (const qel::UnivariateMember& m : qel::QelUnivariate::kMembers)
      members.push_back({m.name, ToInvokeKind(m.kind), m.dispatch_id, m.help_text});
    using I = _QelUnivariate;
    return MakeBindings(members, {
        Slot<&I::get_Uniques>("Uniques", VT_R8),
        Slot<&I::get_CV>("CV", VT_R8),
        Slot<&I::get_Kurtosis>("Kurtosis", VT_R8),
        Slot<&I::get_Skewness>("Skewness", VT_R8),
        Slot<&I::get_Q3>("Q3", VT_R8),
        Slot<&I::get_Q1>("Q1", VT_R8),
        Slot<&I::get_IQR>("IQR", VT_R8),
        Slot<&I::get_Median>("Median", VT_R8),
        Slot<&I::get_Range>("Range", VT_R8),
        Slot<&I::get_Mode>("Mode", VT_R8),
        Slot<&I::get_WgtN>("WgtN", VT_R8),
        Slot<&I::get_Sum>("Sum", VT_R8),
        Slot<&I::get_Max>("Max", VT_R8),
        Slot<&I::get_Min>("Min", VT_R8),
        Slot<&I::get_TrimmedMean>("TrimmedMean", VT_R8),
        Slot<&I::get_Mean>("Mean", VT_R8),
        Slot<&I::get_Variance>("Variance", VT_R8),
        Slot<&I::get_Stdev>("Stdev", VT_R8),
        Slot<&I::put_FieldName>("FieldName", VT_BSTR),
        Slot<&I::get_FieldName>("FieldName", VT_BSTR),
        Slot<&I::get_Cardinality>("Cardinality", VT_R8),
        Slot<&I::get_N>("N", VT_R8),
        Slot<&I::get_Missing>("Missing", VT_R8),
        Slot<&I::put_ConnectionString>("ConnectionString", VT_BSTR),
        Slot<&I::get_ConnectionString>("ConnectionString", VT_BSTR),
        Slot<&I::put_showStatus>("showStatus", VT_BOOL),
        Slot<&I::get_showStatus>("showStatus", VT_BOOL),
        Slot<&I::Run>("Run", VT_BOOL),
        Slot<&I::put_WeightField>("WeightField", VT_BSTR),
        Slot<&I::get_WeightField>("WeightField", VT_BSTR),
        Slot<&I::put_Source>("Source", VT_BSTR),
        Slot<&I::get_Source>("Source", VT_BSTR),
        Slot<&I::putref_DataSource>("DataSource", VT_DISPATCH),
        Slot<&I::get_DataSource>("DataSource", VT_DISPATCH),
    });
  }();
  return table;
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
                              &Bindings,
                              [] { return static_cast<IUnknown*>(static_cast<_QelUnivariate*>(new UnivariateObject())); }};
  return info;
}

}  // namespace qelcom_server
