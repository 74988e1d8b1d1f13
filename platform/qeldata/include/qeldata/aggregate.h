// The reading pass of an analysis done where the data lives: one query over a
// source that returns each distinct value of a field with its record count,
// total weight and target sum, instead of every record.
//
//   qeldata::AggregateReader reader("Driver={PostgreSQL Unicode};Server=...", "sales");
//   qeldata::AggregateRequest request;
//   request.value_field = "price";
//   request.weight_field = "qty";
//   reader.Run(request);            // select "price", count(*), count("qty"), sum("qty") ... group by "price"
//   for (qeldata::AggregateGroup g; reader.Next(g);) use(g);
//
// Through unixODBC the query is one `group by` over the source as a subquery,
// so the database scans, groups and sums (in parallel, or across machines,
// where it can) and only the distinct values cross the driver. SQLite is in
// the process already, and its `group by` sorts every record: there the
// query selects just the fields the analysis uses and the reader groups
// them by hashing as SQLite steps.
//
// Sources are opened as for a Recordset: read-only sessions, a table name
// quoted, SQL text checked to be one statement that reads. Field names are
// looked up without regard to case in the source's own description of its
// fields and reach SQL only as delimited identifiers, quoted with the quote
// character the driver reports (quote characters inside a name doubled).
// The text provider has no database to ask: it refuses.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qeldata/error.h"
#include "qeldata/recordset.h"
#include "qeldata/value.h"

namespace qeldata {

// How an incomplete record (a null in the value, the weight or the target)
// counts in the groups' `missing`.
enum class MissingRule {
  kRecord,  // 1 per record
  kWeight,  // the record's weight when its weight is present, 1 when it is null
};

// What one aggregate query groups and sums.
struct AggregateRequest {
  std::string value_field;   // grouped by
  std::string weight_field;  // empty (or blanks): every record weighs 1
  std::string target_field;  // empty: no target sums
  MissingRule missing = MissingRule::kRecord;
};

// One group: the records of one stored value of the field.
struct AggregateGroup {
  Value value;            // as a record-by-record read gives it; null for the records whose value is null
  double records = 0;     // complete records: value, weight and target all present
  double weight = 0;      // their total weight (`records` when unweighted)
  double target_sum = 0;  // sum of weight x target over them
  double missing = 0;     // what the group's incomplete records add to Missing (see MissingRule)
};

class AggregateReader {
 public:
  // Opens `source` over `connection_string` and describes its fields; no
  // record is read yet. Throws Error: kErrNotSupported for the text provider
  // (one line saying why), and the provider's errors for a connection or
  // source it refuses (through ODBC "SQLSTATE message" of the database).
  AggregateReader(std::string_view connection_string, std::string_view source);
  ~AggregateReader();
  AggregateReader(const AggregateReader&) = delete;
  AggregateReader& operator=(const AggregateReader&) = delete;

  // The source's fields, their names and ADO types as its query describes them.
  const std::vector<FieldInfo>& Fields() const;
  // The field named `name` (case-insensitive, ASCII). Throws Error
  // (kErrItemNotFound, "Unknown field 'X' in <source>") when there is none,
  // the message a Recordset gives.
  const FieldInfo& Field(std::string_view name) const;
  // How errors name the source.
  const std::string& DisplayName() const;

  // The SQL text Run sends for `request`. Throws Error for an unknown field.
  std::string QueryText(const AggregateRequest& request) const;
  // Runs the query; the groups then come from Next. Throws Error for an
  // unknown field and with the database's diagnostics when the query fails.
  void Run(const AggregateRequest& request);
  // The next group, in no particular order; false after the last. A value or
  // weight that is no number, and a lost connection, throw Error (never a
  // quiet end). Several groups may hold values that print alike (1 and 1.0
  // stored as a text, 0 and -0): a tally keyed by the 15-digit form merges them.
  bool Next(AggregateGroup& group);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qeldata
