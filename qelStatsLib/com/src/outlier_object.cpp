// QelOutlier as a component: _QelOutlier over qel::QelOutlier.
#include "qelStatsLib/QelOutlier.h"

#include "object_helpers.h"

namespace qel::com {
namespace {

using namespace qelcom;

using QelStatsLib::_QelOutlier;

class OutlierObject final : public DescriptiveObject<_QelOutlier, qel::QelOutlier, kOutlierResults> {
 public:
  HRESULT get_SumWgt(double* value) override { return ReadResult(Result("SumWgt"), value); }
  HRESULT put_TypeParm(double value) override { QEL_SLOT(engine_.SetTypeParm(value)); }
  // Stored unchecked: Run rejects a rule other than 1 or 2.
  HRESULT put_FindType(QelStatsLib::OutlierType value) override {
    QEL_SLOT(engine_.SetFindType(static_cast<qel::OutlierType>(value)));
  }
  HRESULT get_OutlierCountN(double* value) override { return ReadResult(Result("OutlierCountN"), value); }
  HRESULT get_OutlierCountWgt(double* value) override { return ReadResult(Result("OutlierCountWgt"), value); }
  QEL_STRING_PROPERTY(OutlierField)

  HRESULT Run(Variant* result) override { return RunShowingFailures(result); }
  HRESULT get_ResultSet(IDispatch** value) override { QEL_SLOT(result_set_.Get(engine_.ResultSet(), Require(value))); }

 private:
  ResultSetSlot result_set_;
};

}  // namespace

// _QelOutlier in slot order.
std::span<const Member> OutlierMembers() {
  using I = _QelOutlier;
  static const std::vector<Member> members =
      MemberTable<OutlierObject>(0x68030000)
          .Results({"Median", "Q1", "Q3", "SumWgt", "WgtN"})
          .Setter<&I::put_TypeParm>("TypeParm", VT_R8)
          .Setter<&I::put_FindType>("FindType", VT_I4)
          .Results({"OutlierCountN", "OutlierCountWgt", "Sum", "Max", "Min", "TrimmedMean", "Mean", "Variance",
                    "Stdev"})
          .DescriptiveTail<&I::put_OutlierField, &I::get_OutlierField>("OutlierField", VT_VARIANT)
          .Numbered();
  return members;
}

IUnknown* NewOutlier() { return NewObject<OutlierObject>(); }

}  // namespace qel::com
