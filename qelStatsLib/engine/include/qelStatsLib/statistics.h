// The statistics of the univariate and outlier analyses under the classes'
// property names: plain records with no dependency, written once for the
// engine's run records (results.h) and the installed
// API's results (qel/univariate.h, qel/outlier.h). A statistic a run does not
// reach stays 0.
#pragma once

namespace qel {

// The 21 univariate statistics.
struct UnivariateStatistics {
  double N = 0;            // records with a usable value (and weight)
  double WgtN = 0;         // total weight of those records
  double Missing = 0;      // records whose value (or weight) is null
  double Sum = 0;          // weighted sum of the values
  double Mean = 0;         // Sum / WgtN
  double Variance = 0;     // sum of weighted squared deviations / (WgtN - 1); 0 when WgtN <= 1
  double Stdev = 0;        // Variance ^ 0.5
  double CV = 0;           // Stdev * 100 / Mean, a percentage; 0 when Mean is 0
  double Min = 0;
  double Max = 0;
  double Range = 0;        // Max - Min
  double Cardinality = 0;  // number of distinct values
  double Uniques = 0;      // distinct values whose total weight is exactly 1
  double Mode = 0;         // the value of largest total weight; the smallest of a tie
  double Median = 0;
  double Q1 = 0;
  double Q3 = 0;
  double IQR = 0;          // Q3 - Q1
  double TrimmedMean = 0;  // mean without the values in the outer 2.5% of the weight on each side
  double Skewness = 0;     // sample skewness; -99999 when Stdev is 0
  double Kurtosis = 0;     // sample excess kurtosis; -9999 when Stdev is 0
};

// The 17 outlier statistics.
struct OutlierStatistics {
  double N = 0;                // records with a usable value (and weight)
  double WgtN = 0;             // total weight of those records
  double Missing = 0;          // records whose value (or weight) is null
  double Sum = 0;              // plain sum of the values
  double SumWgt = 0;           // weighted sum of the values (equal to Sum when unweighted)
  double Mean = 0;             // SumWgt / WgtN
  double Variance = 0;         // weighted squared deviations / (WgtN - 1)
  double Stdev = 0;            // Variance ^ 0.5
  double Min = 0;
  double Max = 0;
  double Cardinality = 0;      // number of distinct values
  double Q1 = 0;
  double Median = 0;
  double Q3 = 0;
  double TrimmedMean = 0;      // trimmed-mean rule only; -99999 when nothing could be trimmed
  double OutlierCountN = 0;    // records whose value is an outlier (-99999 with TrimmedMean -99999)
  double OutlierCountWgt = 0;  // their total weight (likewise)
};

}  // namespace qel
