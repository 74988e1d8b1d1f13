#include "in_database.h"

namespace qel::detail {

void RefuseDisconnectedSource(const char* error_source) {
  throw qeldata::Error(qeldata::kErrNotSupported, error_source,
                       "in-database runs need a connection string and a source; a disconnected DataSource is read "
                       "record by record");
}

void TallyGroups(qeldata::AggregateReader& reader, Tally<CountWeight>& tally, const GroupNumber& number,
                 const char* error_source) {
  ForEachGroup(reader, tally, error_source, [&](const qeldata::AggregateGroup& g) {
    tally.AddAggregate(number(g.value), CountWeight{g.records, g.weight});
  });
  tally.Flush();
}

}  // namespace qel::detail
