#include "in_database.h"

#include <cmath>

#include "qeldata/error.h"

namespace qel::detail {

void TallyGroups(qeldata::AggregateReader& reader, Tally<CountWeight>& tally, const GroupNumber& number,
                 const char* error_source) {
  for (qeldata::AggregateGroup g; reader.Next(g);) {
    if (g.missing != 0) tally.AddMissing(g.missing);
    if (g.value.IsNull() || g.records == 0) continue;
    const double x = number(g.value);
    if (!std::isfinite(g.weight))
      throw qeldata::Error(qeldata::kErrDataConversion, error_source,
                           "the total weight " + qeldata::NumberText(g.weight) + " of the value " +
                               qeldata::NumberText(x) + " is no data value");
    tally.AddAggregate(x, CountWeight{g.records, g.weight});
  }
  tally.Flush();
}

}  // namespace qel::detail
