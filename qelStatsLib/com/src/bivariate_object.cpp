// QelBivariate as a component: _QelBivariate over qel::QelBivariate.
#include "qelStatsLib/QelBivariate.h"

#include "object_helpers.h"
#include "qelStatsLib/presenter.h"

namespace qelcom_server {
namespace {

using QelStatsLib::_QelBivariate;

class BivariateObject final : public DualObject<_QelBivariate> {
 public:
  BivariateObject() : DualObject(BivariateClass()) {}

  QEL_GET_DOUBLE(Cardinality)
  QEL_BOOL_PROPERTY(Categorical)
  QEL_GET_DOUBLE(TargetMean)
  QEL_GET_DOUBLE(N)
  QEL_GET_DOUBLE(Missing)
  QEL_GET_DOUBLE(DI)
  QEL_GET_DOUBLE(PSI)
  QEL_STRING_PROPERTY(ConnectionString)
  QEL_BOOL_PROPERTY(showStatus)

  // The result tells whether the segmentation ran to the end (the class
  // itself leaves the variant empty; a host is better served by an answer).
  HRESULT Run(Variant* result) override {
    QEL_SLOT({
      Require(result);
      bool ran = false;
      if (data_source_.foreign_disconnected)
        qel::CurrentPresenter().ShowMessage(std::string("Error: ") + DataSourceSlot::kForeignMessage);
      else
        ran = engine_.Run();
      *result = Variant::Boolean(ran);
    });
  }
  // A clone per call, so a new object each time.
  HRESULT get_ResultSet(IDispatch** value) override {
    QEL_SLOT(*Require(value) = WrapRecordset(engine_.ResultSet()));
  }

  QEL_STRING_PROPERTY(WeightField)
  QEL_STRING_PROPERTY(PredictorField)
  QEL_STRING_PROPERTY(TargetField)
  HRESULT put_BinCount(std::int16_t value) override { QEL_SLOT(engine_.SetBinCount(value)); }
  HRESULT get_BinCount(std::int16_t* value) override { QEL_SLOT(*Require(value) = engine_.BinCount()); }
  QEL_STRING_PROPERTY(Source)

  HRESULT putref_DataSource(IDispatch* value) override {
    QEL_SLOT(data_source_.Set(engine_, value, "QelStatsLib.QelBivariate"));
  }
  HRESULT get_DataSource(IDispatch** value) override { QEL_SLOT(data_source_.Get(Require(value))); }

 private:
  qel::QelBivariate engine_;
  DataSourceSlot data_source_;
};

const std::vector<Binding>& Bindings() {
  static const std::vector<Binding> table = [] {
    std::vector<MemberView> members;
    for (const qel::BivariateMember& m : qel::QelBivariate::kMembers)
      members.push_back({m.name, ToInvokeKind(m.kind), m.dispatch_id, m.help_text});
    using I = _QelBivariate;
    return MakeBindings(members, {
        Slot<&I::get_Cardinality>("Cardinality", VT_R8),
        Slot<&I::put_Categorical>("Categorical", VT_BOOL),
        Slot<&I::get_Categorical>("Categorical", VT_BOOL),
        Slot<&I::get_TargetMean>("TargetMean", VT_R8),
        Slot<&I::get_N>("N", VT_R8),
        Slot<&I::get_Missing>("Missing", VT_R8),
        Slot<&I::get_DI>("DI", VT_R8),
        Slot<&I::get_PSI>("PSI", VT_R8),
        Slot<&I::put_ConnectionString>("ConnectionString", VT_BSTR),
        Slot<&I::get_ConnectionString>("ConnectionString", VT_BSTR),
        Slot<&I::put_showStatus>("showStatus", VT_BOOL),
        Slot<&I::get_showStatus>("showStatus", VT_BOOL),
        Slot<&I::Run>("Run", VT_VARIANT),
        Slot<&I::get_ResultSet>("ResultSet", VT_DISPATCH),
        Slot<&I::put_WeightField>("WeightField", VT_BSTR),
        Slot<&I::get_WeightField>("WeightField", VT_BSTR),
        Slot<&I::put_PredictorField>("PredictorField", VT_BSTR),
        Slot<&I::get_PredictorField>("PredictorField", VT_BSTR),
        Slot<&I::put_TargetField>("TargetField", VT_BSTR),
        Slot<&I::get_TargetField>("TargetField", VT_BSTR),
        Slot<&I::put_BinCount>("BinCount", VT_I2),
        Slot<&I::get_BinCount>("BinCount", VT_I2),
        Slot<&I::put_Source>("Source", VT_BSTR),
        Slot<&I::get_Source>("Source", VT_BSTR),
        Slot<&I::putref_DataSource>("DataSource", VT_DISPATCH),
        Slot<&I::get_DataSource>("DataSource", VT_DISPATCH),
    });
  }();
  return table;
}

}  // namespace

const ClassInfo& BivariateClass() {
  static const ClassInfo info{"QelBivariate",
                              "QelStatsLib.QelBivariate",
                              QelStatsLib::CLSID_QelBivariate,
                              QelStatsLib::IID__QelBivariate,
                              "_QelBivariate",
                              nullptr,
                              false,
                              &Bindings,
                              [] { return static_cast<IUnknown*>(static_cast<_QelBivariate*>(new BivariateObject())); }};
  return info;
}

}  // namespace qelcom_server
