// Filling a tally from the groups of an aggregate query. Internal to the engine.
#pragma once

#include <functional>
#include <string>

#include "qelStatsLib/tally.h"
#include "qeldata/aggregate.h"

namespace qel::detail {

// The value a group is tallied under, as the record-order read takes it from
// a field value (it throws for a value that is no number, as that read does).
using GroupNumber = std::function<double(const qeldata::Value&)>;

// Adds every group of `reader` (after Run) to `tally`: its complete records
// with their total weight, and its incomplete ones to Missing. A group whose
// records are all incomplete adds no distinct value. Throws qeldata::Error
// for a weight total that is not a finite number.
void TallyGroups(qeldata::AggregateReader& reader, Tally<CountWeight>& tally, const GroupNumber& number,
                 const char* error_source);

}  // namespace qel::detail
