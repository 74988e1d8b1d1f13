// QelStatFctn as a component: _QelStatFctn over qel::QelStatFctn.
#include "qelStatsLib/QelStatFctn.h"

#include "object_helpers.h"

namespace qelcom_server {
namespace {

using QelStatsLib::_QelStatFctn;

#define QEL_UNARY_SLOT(Name) \
  HRESULT Name(double* x, double* result) override { QEL_SLOT(*Require(result) = engine_.Name(*Require(x))); }

class StatFctnObject final : public DualObject<_QelStatFctn> {
 public:
  StatFctnObject() : DualObject(StatFctnClass()) {}

  QEL_UNARY_SLOT(ArcSin)
  QEL_UNARY_SLOT(Secant)
  QEL_UNARY_SLOT(CoSec)
  QEL_UNARY_SLOT(CoTan)
  QEL_UNARY_SLOT(ArcCos)
  QEL_UNARY_SLOT(ArcCosSec)
  QEL_UNARY_SLOT(ArcCoTan)
  QEL_UNARY_SLOT(HSin)
  QEL_UNARY_SLOT(HCos)
  QEL_UNARY_SLOT(HTan)
  QEL_UNARY_SLOT(HSec)
  QEL_UNARY_SLOT(HCoSec)
  QEL_UNARY_SLOT(HCoTan)
  QEL_UNARY_SLOT(HArcsin)
  QEL_UNARY_SLOT(HArccos)
  QEL_UNARY_SLOT(HArctan)
  QEL_UNARY_SLOT(HArcsec)
  QEL_UNARY_SLOT(HArcCoSec)
  QEL_UNARY_SLOT(HArcCoTan)
  HRESULT LogN(double* x, double* N, double* result) override {
    QEL_SLOT(*Require(result) = engine_.LogN(*Require(x), *Require(N)));
  }
  QEL_UNARY_SLOT(DTOR)
  HRESULT Dist_Fctn(double* lat1, double* long1, double* lat2, double* long2, double* result) override {
    QEL_SLOT(*Require(result) = engine_.Dist_Fctn(*Require(lat1), *Require(long1), *Require(lat2), *Require(long2)));
  }

 private:
  qel::QelStatFctn engine_;
};

#undef QEL_UNARY_SLOT

// Argument names as the type library publishes them, one list per member.
struct ParamList {
  std::vector<const char*> names;
  std::vector<VarType> types;
};

const std::vector<Binding>& Bindings() {
  static std::vector<ParamList> params;  // kept alive for the pointers below
  static const std::vector<Binding> table = [] {
    std::vector<MemberView> members;
    for (const qel::StatFctnMember& m : qel::QelStatFctn::Members())
      members.push_back({m.name, INVOKE_FUNC, static_cast<std::uint32_t>(m.dispatch_id), m.help_text});
    using I = _QelStatFctn;
    std::vector<Binding> b = MakeBindings(members, {
        Slot<&I::ArcSin>("ArcSin", VT_R8),
        Slot<&I::Secant>("Secant", VT_R8),
        Slot<&I::CoSec>("CoSec", VT_R8),
        Slot<&I::CoTan>("CoTan", VT_R8),
        Slot<&I::ArcCos>("ArcCos", VT_R8),
        Slot<&I::ArcCosSec>("ArcCosSec", VT_R8),
        Slot<&I::ArcCoTan>("ArcCoTan", VT_R8),
        Slot<&I::HSin>("HSin", VT_R8),
        Slot<&I::HCos>("HCos", VT_R8),
        Slot<&I::HTan>("HTan", VT_R8),
        Slot<&I::HSec>("HSec", VT_R8),
        Slot<&I::HCoSec>("HCoSec", VT_R8),
        Slot<&I::HCoTan>("HCoTan", VT_R8),
        Slot<&I::HArcsin>("HArcsin", VT_R8),
        Slot<&I::HArccos>("HArccos", VT_R8),
        Slot<&I::HArctan>("HArctan", VT_R8),
        Slot<&I::HArcsec>("HArcsec", VT_R8),
        Slot<&I::HArcCoSec>("HArcCoSec", VT_R8),
        Slot<&I::HArcCoTan>("HArcCoTan", VT_R8),
        Slot<&I::LogN>("LogN", VT_R8),
        Slot<&I::DTOR>("DTOR", VT_R8),
        Slot<&I::Dist_Fctn>("Dist_Fctn", VT_R8),
    });
    const auto engine_members = qel::QelStatFctn::Members();
    params.resize(b.size());
    for (std::size_t i = 0; i < b.size(); ++i) {
      for (std::string_view arg : engine_members[i].Arguments()) {
        params[i].names.push_back(arg.data());
        params[i].types.push_back(VT_R8);
      }
      b[i].param_names = params[i].names.data();
      b[i].param_types = params[i].types.data();
    }
    return b;
  }();
  return table;
}

}  // namespace

const ClassInfo& StatFctnClass() {
  static const ClassInfo info{"QelStatFctn",
                              "QelStatsLib.QelStatFctn",
                              QelStatsLib::CLSID_QelStatFctn,
                              QelStatsLib::IID__QelStatFctn,
                              "_QelStatFctn",
                              nullptr,
                              true,
                              &Bindings,
                              [] { return static_cast<IUnknown*>(static_cast<_QelStatFctn*>(new StatFctnObject())); }};
  return info;
}

}  // namespace qelcom_server
