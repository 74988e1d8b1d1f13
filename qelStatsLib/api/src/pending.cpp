// The finishes of the outlier and segmentation analyses over a tally come
// with the engine's finish functions; until then these say so.
#include "internal.h"
#include "qel/bivariate.h"
#include "qel/outlier.h"

namespace qel {

OutlierResult Outlier(const ValueTally&, OutlierRule, double) {
  detail::Throw(ErrorCode::kInvalidArgument, "the outlier finish over a tally is not available in this build");
}

BivariateResult Bivariate(const SegmentTally&, int) {
  detail::Throw(ErrorCode::kInvalidArgument, "the segmentation finish over a tally is not available in this build");
}

}  // namespace qel
