// QelOutlier as a component: _QelOutlier over qel::QelOutlier.
#include "qelStatsLib/QelOutlier.h"

#include "object_helpers.h"
#include "qelStatsLib/presenter.h"

namespace qel::com {
namespace {

using namespace qelcom;

using QelStatsLib::_QelOutlier;

class OutlierObject final : public DualObject<_QelOutlier> {
 public:
  OutlierObject() : DualObject(OutlierClass()) {}

  QEL_GET_DOUBLE(Median)
  QEL_GET_DOUBLE(Q1)
  QEL_GET_DOUBLE(Q3)
  QEL_GET_DOUBLE(SumWgt)
  QEL_GET_DOUBLE(WgtN)
  HRESULT put_TypeParm(double value) override { QEL_SLOT(engine_.SetTypeParm(value)); }
  // Stored unchecked: Run rejects a rule other than 1 or 2.
  HRESULT put_FindType(QelStatsLib::OutlierType value) override {
    QEL_SLOT(engine_.SetFindType(static_cast<qel::OutlierType>(value)));
  }
  QEL_GET_DOUBLE(OutlierCountN)
  QEL_GET_DOUBLE(OutlierCountWgt)
  QEL_GET_DOUBLE(Sum)
  QEL_GET_DOUBLE(Max)
  QEL_GET_DOUBLE(Min)
  QEL_GET_DOUBLE(TrimmedMean)
  QEL_GET_DOUBLE(Mean)
  QEL_GET_DOUBLE(Variance)
  QEL_GET_DOUBLE(Stdev)
  QEL_STRING_PROPERTY(OutlierField)
  QEL_GET_DOUBLE(Cardinality)
  QEL_GET_DOUBLE(N)
  QEL_GET_DOUBLE(Missing)
  QEL_STRING_PROPERTY(ConnectionString)
  QEL_BOOL_PROPERTY(showStatus)

  HRESULT Run(Variant* result) override {
    QEL_SLOT({
      Require(result);
      bool ran = false;
      if (data_source_.foreign_disconnected) {
        // Run reports its failures to the user, never to the caller.
        qel::CurrentPresenter().ShowMessage(std::string("Error: ") + DataSourceSlot::kForeignMessage);
      } else {
        ran = engine_.Run();
      }
      *result = Variant::Boolean(ran);
    });
  }
  HRESULT get_ResultSet(IDispatch** value) override { QEL_SLOT(result_set_.Get(engine_.ResultSet(), Require(value))); }

  QEL_STRING_PROPERTY(WeightField)
  QEL_STRING_PROPERTY(Source)

  HRESULT putref_DataSource(IDispatch* value) override {
    QEL_SLOT(data_source_.Set(engine_, value, "QelStatsLib.QelOutlier"));
  }
  HRESULT get_DataSource(IDispatch** value) override { QEL_SLOT(data_source_.Get(Require(value))); }

 private:
  qel::QelOutlier engine_;
  DataSourceSlot data_source_;
  ResultSetSlot result_set_;
};

// _QelOutlier in slot order, with its dispatch ids.
std::span<const Member> Members() {
  using I = _QelOutlier;
  static const Member members[] = {
      SlotGet<&I::get_Median>("Median", VT_R8, 0x68030019),
      SlotGet<&I::get_Q1>("Q1", VT_R8, 0x68030018),
      SlotGet<&I::get_Q3>("Q3", VT_R8, 0x68030017),
      SlotGet<&I::get_SumWgt>("SumWgt", VT_R8, 0x68030016),
      SlotGet<&I::get_WgtN>("WgtN", VT_R8, 0x68030015),
      SlotLet<&I::put_TypeParm>("TypeParm", VT_R8, 0x68030014),
      SlotLet<&I::put_FindType>("FindType", VT_I4, 0x68030013),
      SlotGet<&I::get_OutlierCountN>("OutlierCountN", VT_R8, 0x68030012),
      SlotGet<&I::get_OutlierCountWgt>("OutlierCountWgt", VT_R8, 0x68030011),
      SlotGet<&I::get_Sum>("Sum", VT_R8, 0x68030010),
      SlotGet<&I::get_Max>("Max", VT_R8, 0x6803000F),
      SlotGet<&I::get_Min>("Min", VT_R8, 0x6803000E),
      SlotGet<&I::get_TrimmedMean>("TrimmedMean", VT_R8, 0x6803000D),
      SlotGet<&I::get_Mean>("Mean", VT_R8, 0x6803000C),
      SlotGet<&I::get_Variance>("Variance", VT_R8, 0x6803000B),
      SlotGet<&I::get_Stdev>("Stdev", VT_R8, 0x6803000A),
      SlotLet<&I::put_OutlierField>("OutlierField", VT_BSTR, 0x68030009),
      SlotGet<&I::get_OutlierField>("OutlierField", VT_BSTR, 0x68030009),
      SlotGet<&I::get_Cardinality>("Cardinality", VT_R8, 0x68030008),
      SlotGet<&I::get_N>("N", VT_R8, 0x68030007),
      SlotGet<&I::get_Missing>("Missing", VT_R8, 0x68030006),
      SlotLet<&I::put_ConnectionString>("ConnectionString", VT_BSTR, 0x68030005),
      SlotGet<&I::get_ConnectionString>("ConnectionString", VT_BSTR, 0x68030005),
      SlotLet<&I::put_showStatus>("showStatus", VT_BOOL, 0x68030004),
      SlotGet<&I::get_showStatus>("showStatus", VT_BOOL, 0x68030004),
      SlotMethod<&I::Run>("Run", VT_VARIANT, 0x6003001A),
      SlotGet<&I::get_ResultSet>("ResultSet", VT_DISPATCH, 0x68030003),
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

const ClassInfo& OutlierClass() {
  static const ClassInfo info{"QelOutlier",
                              "QelStatsLib.QelOutlier",
                              QelStatsLib::CLSID_QelOutlier,
                              QelStatsLib::IID__QelOutlier,
                              "_QelOutlier",
                              nullptr,
                              true,
                              &Members,
                              [] { return static_cast<IUnknown*>(static_cast<_QelOutlier*>(new OutlierObject())); }};
  return info;
}

}  // namespace qel::com
