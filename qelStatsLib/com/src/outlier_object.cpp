// QelOutlier as a component: _QelOutlier over qel::QelOutlier.
#include "qelStatsLib/QelOutlier.h"

#include "object_helpers.h"
#include "qelStatsLib/presenter.h"

namespace qel::com {
namespace {

using namespace qelcom;

using QelStatsLib::_QelOutlier;

class OutlierObject final : public AnalysisObject<_QelOutlier, qel::QelOutlier, kOutlierResults> {
 public:
  OutlierObject() : AnalysisObject(OutlierClass()) {}

  HRESULT get_Median(double* value) override { return ReadResult(Result("Median"), value); }
  HRESULT get_Q1(double* value) override { return ReadResult(Result("Q1"), value); }
  HRESULT get_Q3(double* value) override { return ReadResult(Result("Q3"), value); }
  HRESULT get_SumWgt(double* value) override { return ReadResult(Result("SumWgt"), value); }
  HRESULT get_WgtN(double* value) override { return ReadResult(Result("WgtN"), value); }
  HRESULT put_TypeParm(double value) override { QEL_SLOT(engine_.SetTypeParm(value)); }
  // Stored unchecked: Run rejects a rule other than 1 or 2.
  HRESULT put_FindType(QelStatsLib::OutlierType value) override {
    QEL_SLOT(engine_.SetFindType(static_cast<qel::OutlierType>(value)));
  }
  HRESULT get_OutlierCountN(double* value) override { return ReadResult(Result("OutlierCountN"), value); }
  HRESULT get_OutlierCountWgt(double* value) override { return ReadResult(Result("OutlierCountWgt"), value); }
  HRESULT get_Sum(double* value) override { return ReadResult(Result("Sum"), value); }
  HRESULT get_Max(double* value) override { return ReadResult(Result("Max"), value); }
  HRESULT get_Min(double* value) override { return ReadResult(Result("Min"), value); }
  HRESULT get_TrimmedMean(double* value) override { return ReadResult(Result("TrimmedMean"), value); }
  HRESULT get_Mean(double* value) override { return ReadResult(Result("Mean"), value); }
  HRESULT get_Variance(double* value) override { return ReadResult(Result("Variance"), value); }
  HRESULT get_Stdev(double* value) override { return ReadResult(Result("Stdev"), value); }
  QEL_STRING_PROPERTY(OutlierField)
  HRESULT get_Cardinality(double* value) override { return ReadResult(Result("Cardinality"), value); }
  HRESULT get_N(double* value) override { return ReadResult(Result("N"), value); }
  HRESULT get_Missing(double* value) override { return ReadResult(Result("Missing"), value); }

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

 private:
  ResultSetSlot result_set_;
};

// _QelOutlier in slot order, with its dispatch ids.
std::span<const Member> Members() {
  using I = _QelOutlier;
  using O = OutlierObject;
  static const Member members[] = {
      ResultGet<&I::get_Median, O>(O::Result("Median"), 0x68030019),
      ResultGet<&I::get_Q1, O>(O::Result("Q1"), 0x68030018),
      ResultGet<&I::get_Q3, O>(O::Result("Q3"), 0x68030017),
      ResultGet<&I::get_SumWgt, O>(O::Result("SumWgt"), 0x68030016),
      ResultGet<&I::get_WgtN, O>(O::Result("WgtN"), 0x68030015),
      SlotLet<&I::put_TypeParm>("TypeParm", VT_R8, 0x68030014),
      SlotLet<&I::put_FindType>("FindType", VT_I4, 0x68030013),
      ResultGet<&I::get_OutlierCountN, O>(O::Result("OutlierCountN"), 0x68030012),
      ResultGet<&I::get_OutlierCountWgt, O>(O::Result("OutlierCountWgt"), 0x68030011),
      ResultGet<&I::get_Sum, O>(O::Result("Sum"), 0x68030010),
      ResultGet<&I::get_Max, O>(O::Result("Max"), 0x6803000F),
      ResultGet<&I::get_Min, O>(O::Result("Min"), 0x6803000E),
      ResultGet<&I::get_TrimmedMean, O>(O::Result("TrimmedMean"), 0x6803000D),
      ResultGet<&I::get_Mean, O>(O::Result("Mean"), 0x6803000C),
      ResultGet<&I::get_Variance, O>(O::Result("Variance"), 0x6803000B),
      ResultGet<&I::get_Stdev, O>(O::Result("Stdev"), 0x6803000A),
      SlotLet<&I::put_OutlierField>("OutlierField", VT_BSTR, 0x68030009),
      SlotGet<&I::get_OutlierField>("OutlierField", VT_BSTR, 0x68030009),
      ResultGet<&I::get_Cardinality, O>(O::Result("Cardinality"), 0x68030008),
      ResultGet<&I::get_N, O>(O::Result("N"), 0x68030007),
      ResultGet<&I::get_Missing, O>(O::Result("Missing"), 0x68030006),
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
