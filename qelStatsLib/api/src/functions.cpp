// The scalar functions: the class's own members, so both give the same bits.
#include "qel/functions.h"
#include "qelStatsLib/QelStatFctn.h"

namespace qel {

namespace {
const QelStatFctn kFunctions;
}  // namespace

static_assert(kFunctionFailure == QelStatFctn::kFailure);

double ArcSin(double x) noexcept { return kFunctions.ArcSin(x); }
double Secant(double x) noexcept { return kFunctions.Secant(x); }
double CoSec(double x) noexcept { return kFunctions.CoSec(x); }
double CoTan(double x) noexcept { return kFunctions.CoTan(x); }
double ArcCos(double x) noexcept { return kFunctions.ArcCos(x); }
double ArcCosSec(double x) noexcept { return kFunctions.ArcCosSec(x); }
double ArcCoTan(double x) noexcept { return kFunctions.ArcCoTan(x); }
double HSin(double x) noexcept { return kFunctions.HSin(x); }
double HCos(double x) noexcept { return kFunctions.HCos(x); }
double HTan(double x) noexcept { return kFunctions.HTan(x); }
double HSec(double x) noexcept { return kFunctions.HSec(x); }
double HCoSec(double x) noexcept { return kFunctions.HCoSec(x); }
double HCoTan(double x) noexcept { return kFunctions.HCoTan(x); }
double HArcsin(double x) noexcept { return kFunctions.HArcsin(x); }
double HArccos(double x) noexcept { return kFunctions.HArccos(x); }
double HArctan(double x) noexcept { return kFunctions.HArctan(x); }
double HArcsec(double x) noexcept { return kFunctions.HArcsec(x); }
double HArcCoSec(double x) noexcept { return kFunctions.HArcCoSec(x); }
double HArcCoTan(double x) noexcept { return kFunctions.HArcCoTan(x); }
double LogN(double x, double N) noexcept { return kFunctions.LogN(x, N); }
double DTOR(double x) noexcept { return kFunctions.DTOR(x); }
double Dist_Fctn(double lat1, double long1, double lat2, double long2) noexcept {
  return kFunctions.Dist_Fctn(lat1, long1, lat2, long2);
}

}  // namespace qel
