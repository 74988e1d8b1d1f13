// outlier CSV FIELD SDS: the values of a column beyond SDS standard deviations.
#include <cstdio>
#include <cstdlib>
#include <qel/qel.h>

int main(int argc, char** argv) try {
  if (argc != 4) return std::fprintf(stderr, "usage: outlier CSV FIELD SDS\n"), 2;
  const qel::OutlierResult r =
      qel::Outlier(qel::Table::Csv(argv[1]), argv[2], "", qel::OutlierRule::kStd, std::atof(argv[3]));
  std::printf("%g outlying records of %g (Mean %.17g, Stdev %.17g)\n", r.OutlierCountN, r.N, r.Mean, r.Stdev);
  for (const qel::OutlierRow& row : r.Rows)
    if (row.Outlier) std::printf("%g x %g\n", row.Value, row.N);
  return r.Complete ? 0 : (std::fprintf(stderr, "stopped: %s\n", r.Reason.c_str()), 1);
} catch (const qel::Error& e) {
  return std::fprintf(stderr, "outlier: %s\n", e.what()), 2;
}
