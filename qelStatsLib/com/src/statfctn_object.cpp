// QelStatFctn as a component: _QelStatFctn over qel::QelStatFctn.
#include "qelStatsLib/QelStatFctn.h"

#include "object_helpers.h"

namespace qel::com {
namespace {

using namespace qelcom;

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

constexpr const char* kRadiansHelp = "Input Degrees in Radians to obtain value";
// Argument names as the type library publishes them.
constexpr const char* kX[] = {"x"};
constexpr const char* kLogNArgs[] = {"x", "N"};
constexpr const char* kDistArgs[] = {"lat1", "long1", "lat2", "long2"};

// _QelStatFctn in slot order, with its dispatch ids, help texts and argument names.
std::span<const Member> Members() {
  using I = _QelStatFctn;
  static const Member members[] = {
      SlotMethod<&I::ArcSin>("ArcSin", VT_R8, 0x60030000, kRadiansHelp, kX),
      SlotMethod<&I::Secant>("Secant", VT_R8, 0x60030001, kRadiansHelp, kX),
      SlotMethod<&I::CoSec>("CoSec", VT_R8, 0x60030002, kRadiansHelp, kX),
      SlotMethod<&I::CoTan>("CoTan", VT_R8, 0x60030003, kRadiansHelp, kX),
      SlotMethod<&I::ArcCos>("ArcCos", VT_R8, 0x60030004, kRadiansHelp, kX),
      SlotMethod<&I::ArcCosSec>("ArcCosSec", VT_R8, 0x60030005, kRadiansHelp, kX),
      SlotMethod<&I::ArcCoTan>("ArcCoTan", VT_R8, 0x60030006, kRadiansHelp, kX),
      SlotMethod<&I::HSin>("HSin", VT_R8, 0x60030007, kRadiansHelp, kX),
      SlotMethod<&I::HCos>("HCos", VT_R8, 0x60030008, kRadiansHelp, kX),
      SlotMethod<&I::HTan>("HTan", VT_R8, 0x60030009, kRadiansHelp, kX),
      SlotMethod<&I::HSec>("HSec", VT_R8, 0x6003000A, kRadiansHelp, kX),
      SlotMethod<&I::HCoSec>("HCoSec", VT_R8, 0x6003000B, kRadiansHelp, kX),
      SlotMethod<&I::HCoTan>("HCoTan", VT_R8, 0x6003000C, kRadiansHelp, kX),
      SlotMethod<&I::HArcsin>("HArcsin", VT_R8, 0x6003000D, kRadiansHelp, kX),
      SlotMethod<&I::HArccos>("HArccos", VT_R8, 0x6003000E, kRadiansHelp, kX),
      SlotMethod<&I::HArctan>("HArctan", VT_R8, 0x6003000F, kRadiansHelp, kX),
      SlotMethod<&I::HArcsec>("HArcsec", VT_R8, 0x60030010, kRadiansHelp, kX),
      SlotMethod<&I::HArcCoSec>("HArcCoSec", VT_R8, 0x60030011, kRadiansHelp, kX),
      SlotMethod<&I::HArcCoTan>("HArcCoTan", VT_R8, 0x60030012, kRadiansHelp, kX),
      SlotMethod<&I::LogN>("LogN", VT_R8, 0x60030013, "Base N log of X", kLogNArgs),
      SlotMethod<&I::DTOR>("DTOR", VT_R8, 0x60030014,
      "Returns a value in Radians for the input degree value.  This is necessary for the calculation of "
      "certain other variable values.",
      kX),
      SlotMethod<&I::Dist_Fctn>("Dist_Fctn", VT_R8, 0x60030015,
      "Returns statute miles from an input pair of Latitude and Longitude degree points. Internal functions "
      "convert the degrees to radians for calculations. No prior conversion is needed.",
      kDistArgs),
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
