// Filling a tally from the groups of an aggregate query. Internal to the engine.
#pragma once

#include <cmath>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "qelStatsLib/tally.h"
#include "qeldata/aggregate.h"
#include "qeldata/error.h"
#include "qeldata/recordset.h"
#include "text.h"

namespace qel::detail {

// Throws the refusal of an in-database run over a disconnected DataSource
// (qeldata::Error, kErrNotSupported, from `error_source`): it has no database
// to ask, and is read record by record.
[[noreturn]] void RefuseDisconnectedSource(const char* error_source);

// The reader of an in-database Run: `source` over `connection_string`. A
// disconnected DataSource is refused (RefuseDisconnectedSource), a blank
// source or connection string through `fail(message)`, the class's own check
// failure, as OpenClassInput (class_input.h) refuses them.
template <typename Fail>
std::unique_ptr<qeldata::AggregateReader> OpenClassAggregate(const std::shared_ptr<qeldata::Recordset>& data_source,
                                                             const std::string& source,
                                                             const std::string& connection_string,
                                                             const char* error_source, Fail fail) {
  if (data_source && !data_source->ActiveConnection()) RefuseDisconnectedSource(error_source);
  if (text::IsBlank(source)) fail("Source parameter is missing or blank.");
  if (text::IsBlank(connection_string)) fail("Connection String parameter is missing or blank.");
  return std::make_unique<qeldata::AggregateReader>(connection_string, source);
}

// The value a group is tallied under, as the record-order read takes it from
// a field value (it throws for a value that is no number, as that read does).
using GroupNumber = std::function<double(const qeldata::Value&)>;

// Adds every group of `reader` (after Run) to `tally`: its complete records
// with their total weight, and its incomplete ones to Missing. A group whose
// records are all incomplete adds no distinct value. Throws qeldata::Error
// for a weight total that is not a finite number.
void TallyGroups(qeldata::AggregateReader& reader, Tally<CountWeight>& tally, const GroupNumber& number,
                 const char* error_source);

// The same for any tally: what each group's incomplete records add goes to
// `tally`'s Missing, and every group with complete records to `add(group)`,
// after its weight total and target sum are checked to be finite numbers
// (qeldata::Error from `error_source` otherwise). Returns the number of
// groups the query returned: 0 only for a source without records.
template <typename AnyTally, typename AddGroup>
std::size_t ForEachGroup(qeldata::AggregateReader& reader, AnyTally& tally, const char* error_source,
                         AddGroup add) {
  std::size_t groups = 0;
  for (qeldata::AggregateGroup g; reader.Next(g); ++groups) {
    if (g.missing != 0) tally.AddMissing(g.missing);
    if (g.value.IsNull() || g.records == 0) continue;
    for (const auto& [total, what] : {std::pair{g.weight, "total weight"}, std::pair{g.target_sum, "target sum"}})
      if (!std::isfinite(total))
        throw qeldata::Error(qeldata::kErrDataConversion, error_source,
                             std::string("the ") + what + " " + qeldata::NumberText(total) + " of the value '" +
                                 g.value.AsText() + "' is no data value");
    add(g);
  }
  return groups;
}

}  // namespace qel::detail
