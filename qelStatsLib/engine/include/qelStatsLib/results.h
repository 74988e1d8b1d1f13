// The run records of the three analyses and their result tables, side by
// side: each analysis's results written once, as fields of its record and
// rows of {name, member of its run record}. The class getters, the component
// objects, the command line's text and JSON output and the demonstration
// program read the results through the tables, so a new result is one field
// of the record and one row of its table, both here.
//
//   for (const auto& r : qel::kUnivariateResults)
//     std::cout << r.name << " = " << u.Results().*r.member << '\n';
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "qelStatsLib/statistics.h"

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

// The results of the most recent univariate run on the calling thread
// (statistics.h). A run sets all of them to 0 when it starts.
using UnivariateRecord = UnivariateStatistics;

// The 21 results in reading order, under their property names.
inline constexpr ResultMember<UnivariateRecord> kUnivariateResults[] = {
    {"N", &UnivariateRecord::N},
    {"WgtN", &UnivariateRecord::WgtN},
    {"Missing", &UnivariateRecord::Missing},
    {"Sum", &UnivariateRecord::Sum},
    {"Mean", &UnivariateRecord::Mean},
    {"Variance", &UnivariateRecord::Variance},
    {"Stdev", &UnivariateRecord::Stdev},
    {"CV", &UnivariateRecord::CV},
    {"Min", &UnivariateRecord::Min},
    {"Max", &UnivariateRecord::Max},
    {"Range", &UnivariateRecord::Range},
    {"Cardinality", &UnivariateRecord::Cardinality},
    {"Uniques", &UnivariateRecord::Uniques},
    {"Mode", &UnivariateRecord::Mode},
    {"Median", &UnivariateRecord::Median},
    {"Q1", &UnivariateRecord::Q1},
    {"Q3", &UnivariateRecord::Q3},
    {"IQR", &UnivariateRecord::IQR},
    {"TrimmedMean", &UnivariateRecord::TrimmedMean},
    {"Skewness", &UnivariateRecord::Skewness},
    {"Kurtosis", &UnivariateRecord::Kurtosis},
};

// The results of the most recent outlier run on the calling thread: the
// statistics the class publishes (statistics.h) and the sum of squares the
// variance is made of. A run sets all of them to 0 when it starts.
struct OutlierRecord : OutlierStatistics {
  double SumSq = 0;  // sum over the distinct values of weight * (value - Mean)^2
};

// The 17 results the class publishes, under their property names.
inline constexpr ResultMember<OutlierRecord> kOutlierResults[] = {
    {"N", &OutlierRecord::N},
    {"WgtN", &OutlierRecord::WgtN},
    {"Missing", &OutlierRecord::Missing},
    {"Sum", &OutlierRecord::Sum},
    {"SumWgt", &OutlierRecord::SumWgt},
    {"Mean", &OutlierRecord::Mean},
    {"Variance", &OutlierRecord::Variance},
    {"Stdev", &OutlierRecord::Stdev},
    {"Min", &OutlierRecord::Min},
    {"Max", &OutlierRecord::Max},
    {"Cardinality", &OutlierRecord::Cardinality},
    {"Q1", &OutlierRecord::Q1},
    {"Median", &OutlierRecord::Median},
    {"Q3", &OutlierRecord::Q3},
    {"TrimmedMean", &OutlierRecord::TrimmedMean},
    {"OutlierCountN", &OutlierRecord::OutlierCountN},
    {"OutlierCountWgt", &OutlierRecord::OutlierCountWgt},
};

// The results of the most recent bivariate run on the calling thread, shared by
// every QelBivariate object of that thread. The run's cancel flag is the
// thread's CancelFlag() (presenter.h).
struct BivariateRecord {
  double TargetMean = 0;
  double N = 0;
  double Missing = 0;
  double DI = 0;
  double PSI = 0;
  double Cardinality = 0;
  // Set by the caller before a run (true forces categorical treatment); the
  // run may turn it to true, never to false.
  bool Categorical = false;
};

// The numeric results under their property names (Categorical, a flag, is
// the record's own field).
inline constexpr ResultMember<BivariateRecord> kBivariateResults[] = {
    {"PSI", &BivariateRecord::PSI},
    {"DI", &BivariateRecord::DI},
    {"N", &BivariateRecord::N},
    {"Missing", &BivariateRecord::Missing},
    {"TargetMean", &BivariateRecord::TargetMean},
    {"Cardinality", &BivariateRecord::Cardinality},
};

// Why the calling thread's most recent univariate, outlier or bivariate run
// stopped without its results ("Unknown field 'Salry' in BaseBall.csv",
// "Numeric Data types only", ...); empty after a run that completed. Each run
// sets it on every exit; the classes copy it out as StopReason().
inline std::string& LastStopReason() {
  thread_local std::string reason;
  return reason;
}

}  // namespace qel
