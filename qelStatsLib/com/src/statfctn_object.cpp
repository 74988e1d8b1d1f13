// QelStatFctn as a component: _QelStatFctn over qel::QelStatFctn.
#include "qelStatsLib/QelStatFctn.h"

#include <array>
#include <utility>
#include <vector>

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

// The methods `Pmfs`, in slot order, matched with the engine's functions in their order.
template <auto... Pmfs, std::size_t... Index>
std::vector<Member> Functions(std::index_sequence<Index...>) {
  return {Function<Pmfs>(Index)...};
}
template <auto... Pmfs>
std::vector<Member> Functions() {
  return Functions<Pmfs...>(std::make_index_sequence<sizeof...(Pmfs)>{});
}

}  // namespace

// _QelStatFctn in slot order.
std::span<const Member> StatFctnMembers() {
  using I = _QelStatFctn;
  static const std::vector<Member> members =
      Functions<&I::ArcSin, &I::Secant, &I::CoSec, &I::CoTan, &I::ArcCos, &I::ArcCosSec, &I::ArcCoTan, &I::HSin,
                &I::HCos, &I::HTan, &I::HSec, &I::HCoSec, &I::HCoTan, &I::HArcsin, &I::HArccos, &I::HArctan,
                &I::HArcsec, &I::HArcCoSec, &I::HArcCoTan, &I::LogN, &I::DTOR, &I::Dist_Fctn>();
  return members;
}

IUnknown* NewStatFctn() { return NewObject<StatFctnObject>(); }

}  // namespace qel::com
