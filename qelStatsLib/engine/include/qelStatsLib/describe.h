// The describe pass: every field of a table tallied in ONE reading pass, each
// numeric field into the univariate analysis's own tally and each text or date
// field into a count of its distinct texts, optionally per group of a grouping
// field. The finishes then turn each tally into figures:
//
//   qeldata::Recordset& rs = ...;                    // open, any cursor
//   qel::DescribeRequest request;                    // every field, unweighted
//   std::vector<qel::DescribeGroup> groups = qel::Describe_Tally(rs, request);
//   for (qel::FieldTally& f : groups[0].fields)
//     if (f.numeric) {
//       qel::UnivariateRecord rec;
//       qel::Univariate_Finish(f.numbers, rec);      // == Univariate_Run on f.name
//     } else {
//       qel::TextMode top = qel::MostFrequent(f.texts);
//     }
//
// A numeric field is tallied exactly as Univariate_Run tallies it, record by
// record in record order (the same keys, the same weights, the same Missing),
// so Univariate_Finish over its tally gives that run's figures bit for bit,
// also within a group (the run over the group's records alone). Memory grows
// with the distinct values of the fields (and the number of groups), not with
// the number of records. Without groups, and with more than one field and two
// processors, the numeric fields are tallied on a second thread while the
// calling thread reads: each field's tally still takes its records one by one
// in record order, so the figures are the same.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "qelStatsLib/modUnivariate.h"
#include "qelStatsLib/tally.h"
#include "qeldata/recordset.h"

namespace qel {

// What Describe_Tally reads.
struct DescribeRequest {
  // The fields to tally, in this order (names ignore case). Empty: every field
  // of the recordset, in its order, except the weight and the grouping field.
  std::vector<std::string> fields;
  // Empty or all spaces: every record weighs 1. Otherwise a record whose
  // weight is null counts in every field's Missing, and in nothing else.
  std::string weight_field;
  // Empty or all spaces: one group of every record. Otherwise one group per
  // distinct value of this field (numbers by their 15-digit form, texts byte
  // for byte, null a group of its own).
  std::string group_field;
  // Called with the records read so far, every 65,536 records and at the end,
  // for a progress display. May be empty.
  std::function<void(std::int64_t records)> on_records;
};

// A numeric field's tally in the describe pass.
using NumberTally = Tally<CountWeight>;

// One field's tally after the pass.
struct FieldTally {
  std::string name;      // as the recordset spells it
  int type = 0;          // its ADO type code
  bool numeric = false;  // tallied as numbers (every type but text, date and binary)
  // Numeric fields: each distinct value with its records and total weight,
  // and the record-order totals. It keeps the counts (unlike the univariate
  // run's own weight-only tally) so that the outlier finish can take it too.
  NumberTally numbers;
  // Text and date fields: each distinct text (a date in its text form) with
  // its records (`count`) and total weight (`weight`); target sums stay 0.
  // Missing counts records whose value (or weight) is null.
  TextTally texts;
  // A numeric field with a value that is no number (or not finite) stops
  // being tallied there: why, with the record (1-based) in the group's
  // reading order. Empty when every record was tallied.
  std::string failure;
};

// One group of records: its key and its fields' tallies.
struct DescribeGroup {
  qeldata::Value key;        // the grouping field's value (null for the null group; null when ungrouped)
  std::int64_t records = 0;  // records of the group
  std::vector<FieldTally> fields;
};

// Reads `rs` once, from its first record to its end, and returns the
// groups sorted by key: numbers ascending, then texts and dates in byte order
// of their text, the null group last. Without a grouping field there is one
// group, with a null key, even for an empty table.
//
// Throws qeldata::Error for an unknown field, weight field or grouping field
// (kErrItemNotFound, naming it), a weight field of text or dates, a weight
// that is no number or not finite (naming the record), and any error of the
// data layer while reading. A value of a numeric field that is no number only
// stops that field (FieldTally::failure).
std::vector<DescribeGroup> Describe_Tally(qeldata::Recordset& rs, const DescribeRequest& request);

// Describe_Tally over `source` read through `connection_string`, opened
// here, with the same groups and the same figures bit for bit. A whole text
// file, described without weights or groups, is read column by column in one
// pass, without the scan of the file that a Recordset makes first for its
// column types: each field's type follows from its cells, and different
// fields are tallied on different threads, each in record order. A field the
// pass cannot settle (a text after numbers, dates) is read again through a
// Recordset. Throws as Describe_Tally does.
std::vector<DescribeGroup> Describe_Source(const std::string& source, const std::string& connection_string,
                                           const DescribeRequest& request);

// The univariate finish of a numeric field of the describe pass.
struct NumberFinish {
  bool ran = false;              // false: see `reason`; also false for a field not finished (text, or stopped)
  UnivariateRecord record;       // Univariate_Finish's record
  std::string reason;            // why the finish stopped
  std::vector<double> percentiles;  // at the levels asked for (see Percentiles)
};

// Univariate_Finish of one numeric tally, with Percentiles at `levels` (when
// any) of the same sorted values: the tally is sorted once for both. The
// tally keeps its totals but not its values.
NumberFinish Describe_FinishField(NumberTally& tally, std::span<const double> levels);

// Describe_FinishField (Univariate_Finish and Percentiles) over every
// numeric field of `groups` that was tallied to its end (no failure), the
// fields side by side on the processors, largest first; each finish runs as
// it would alone, so its figures are the same bit for bit. The result has a
// NumberFinish for every field of every group, in the groups' order; those
// of the other fields are left as made. The finished tallies keep their
// totals but not their values.
std::vector<std::vector<NumberFinish>> Describe_Finish(std::vector<DescribeGroup>& groups,
                                                       std::span<const double> levels);

// Whether Describe_Tally tallies a field of ADO type `type` as numbers.
bool IsDescribedAsNumber(int type);

// The percentiles of a univariate tally's sorted entries with total weight
// `wgt_n`, at `levels` (shares from 0 to 1), by the rule of the quartiles:
// the first value whose cumulative share of the weight reaches the level
// (the share computed as the running sum of weights divided by `wgt_n`, in
// ascending order of value). The quartiles of Univariate_Finish are the
// levels 0.25 and 0.75. A level no cumulative share reaches gives the largest
// value; an empty list or a `wgt_n` of 0 or less gives 0s.
std::vector<double> Percentiles(std::span<const NumberTally::Entry> sorted, double wgt_n,
                                std::span<const double> levels);

// The most frequent text of a text tally: the largest total weight, the
// smallest text (byte order) of a tie. nullopt when the tally has no text.
struct TextMode {
  std::string text;
  TargetSums payload;  // its records and total weight
};
std::optional<TextMode> MostFrequent(const TextTally& texts);

}  // namespace qel
