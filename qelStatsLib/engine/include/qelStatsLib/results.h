// The result tables: each analysis's results written once, as rows of
// {name, member of its run record}. The class getters, the component
// objects, the command line's text and JSON output and the demonstration
// program read the results through them, so a new result is one field of the
// record and one row of its table.
//
//   for (const auto& r : qel::kUnivariateResults)
//     std::cout << r.name << " = " << u.Results().*r.member << '\n';
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qel {

// One result of an analysis: its property name and where its run record keeps it.
template <typename Record>
struct ResultMember {
  std::string_view name;
  double Record::*member;
};

// The result called `name` (exactly) in `table`, read from `record`;
// nullopt when the table has no such row.
template <typename Record>
std::optional<double> FindResult(std::span<const ResultMember<Record>> table, const Record& record,
                                 std::string_view name) {
  for (const ResultMember<Record>& r : table)
    if (r.name == name) return record.*r.member;
  return std::nullopt;
}

// Why the calling thread's most recent univariate, outlier or bivariate run
// stopped without its results ("Unknown field 'Salry' in BaseBall.csv",
// "Numeric Data types only", ...); empty after a run that completed. Each run
// sets it on every exit; the classes copy it out as StopReason().
inline std::string& LastStopReason() {
  thread_local std::string reason;
  return reason;
}

}  // namespace qel
