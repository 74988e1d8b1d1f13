// bivariate CSV PREDICTOR TARGET BINS: the target's mean per predictor segment.
#include <cstdio>
#include <cstdlib>
#include <qel/qel.h>

int main(int argc, char** argv) try {
  if (argc != 5) return std::fprintf(stderr, "usage: bivariate CSV PREDICTOR TARGET BINS\n"), 2;
  const qel::BivariateResult r = qel::Bivariate(qel::Table::Csv(argv[1]), argv[2], argv[3], "", std::atoi(argv[4]));
  std::printf("PSI %.17g, DI %.17g, TargetMean %.17g\n", r.PSI, r.DI, r.TargetMean);
  for (const qel::BivariateRow& row : r.Rows)
    std::printf("bin %d: N %g, Mean %.17g, Index %d\n", row.Bin, row.N, row.Mean.value_or(0), row.Index.value_or(0));
  return r.Complete ? 0 : (std::fprintf(stderr, "stopped: %s\n", r.Reason.c_str()), 1);
} catch (const qel::Error& e) {
  return std::fprintf(stderr, "bivariate: %s\n", e.what()), 2;
}
