// The univariate finish with a look at the sorted values it summarises: what
// a reader that also wants percentiles needs, without sorting a copy.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "qelStatsLib/modUnivariate.h"
#include "qelStatsLib/tally.h"

namespace qel::detail {

using SortedValuesFn = std::function<void(std::span<const Tally<CountWeight>::Entry>)>;

// Univariate_Finish, with `with_sorted` called on the tally's sorted distinct
// values once they are sorted, before the summary. A finish that stops before
// it sorts (a mean out of range, no value) does not call it, and leaves the
// tally's values where they are.
bool UnivariateFinishSorted(Tally<CountWeight>& tally, UnivariateRecord& rec, std::string* reason,
                            const SortedValuesFn& with_sorted);

}  // namespace qel::detail
