// QelStatFctn as a component: _QelStatFctn over qel::QelStatFctn.
#include "qelStatsLib/QelStatFctn.h"

#include <array>

#include "object_helpers.h"

namespace qel::com {
namespace {

using namespace qelcom;

using QelStatsLib::_QelStatFctn;
using qel::StatFctnMember;

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

// The method in slot `Pmf` with its name, dispatch id, help text and argument
// names from the engine's row `index` of its functions.
template <auto Pmf>
Member Function(std::size_t index) {
  const StatFctnMember& f = qel::QelStatFctn::Members()[index];
  // The argument names as the type information hands them out: C strings,
  // which the rows' literals are.
  static std::array<const char*, 4> names{};
  for (std::size_t i = 0; i < f.Arguments().size(); ++i) names[i] = f.Arguments()[i].data();
  return SlotMethod<Pmf>(f.name.data(), VT_R8, f.dispatch_id, f.help_text.data(), names.data());
}

// _QelStatFctn in slot order: the engine's functions in their order.
std::span<const Member> Members() {
  using I = _QelStatFctn;
  static const Member members[] = {
      Function<&I::ArcSin>(0),
      Function<&I::Secant>(1),
      Function<&I::CoSec>(2),
      Function<&I::CoTan>(3),
      Function<&I::ArcCos>(4),
      Function<&I::ArcCosSec>(5),
      Function<&I::ArcCoTan>(6),
      Function<&I::HSin>(7),
      Function<&I::HCos>(8),
      Function<&I::HTan>(9),
      Function<&I::HSec>(10),
      Function<&I::HCoSec>(11),
      Function<&I::HCoTan>(12),
      Function<&I::HArcsin>(13),
      Function<&I::HArccos>(14),
      Function<&I::HArctan>(15),
      Function<&I::HArcsec>(16),
      Function<&I::HArcCoSec>(17),
      Function<&I::HArcCoTan>(18),
      Function<&I::LogN>(19),
      Function<&I::DTOR>(20),
      Function<&I::Dist_Fctn>(21),
  };
  return members;
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
                              &Members,
                              [] { return static_cast<IUnknown*>(static_cast<_QelStatFctn*>(new StatFctnObject())); }};
  return info;
}

}  // namespace qel::com
