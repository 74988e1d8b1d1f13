// univariate CSV FIELD [WEIGHT]: descriptive statistics of one column.
#include <cstdio>
#include <qel/qel.h>

int main(int argc, char** argv) try {
  if (argc < 3) return std::fprintf(stderr, "usage: univariate CSV FIELD [WEIGHT]\n"), 2;
  const qel::UnivariateResult r = qel::Univariate(qel::Table::Csv(argv[1]), argv[2], argc > 3 ? argv[3] : "");
  std::printf("%s: N %g, Mean %.17g, Median %g, Q1 %g, Q3 %g, Stdev %.17g\n", argv[2], r.N, r.Mean, r.Median,
              r.Q1, r.Q3, r.Stdev);
  return r.Complete ? 0 : (std::fprintf(stderr, "stopped: %s\n", r.Reason.c_str()), 1);
} catch (const qel::Error& e) {
  return std::fprintf(stderr, "univariate: %s\n", e.what()), 2;
}
