#!/usr/bin/python3
"""The univariate statistics of one CSV column with pandas, for the benchmark.

Reads only that column (read_csv usecols) and computes the same statistics as
qelstats univariate, unweighted: counts, sum, mean, sample variance and
standard deviation, CV, min, max, range, the distinct values with their counts
(cardinality, values seen once, mode), quartiles and median, a trimmed mean
without the outer 2.5% of the records on each side, and sample skewness and
excess kurtosis. Prints one JSON object.

  bench/univariate_pandas.py FILE COLUMN
"""
import json
import sys

import pandas as pd


def main():
    path, column = sys.argv[1], sys.argv[2]
    s = pd.read_csv(path, usecols=[column])[column]
    values = s.dropna()
    n = int(values.size)
    counts = values.value_counts(sort=False).sort_index()
    share = counts.cumsum() / n
    kept = counts[(share > 0.025) & (share < 0.975)]
    mean = values.mean()
    std = values.std()
    out = {
        "N": n,
        "Missing": int(s.size - n),
        "Sum": float(values.sum()),
        "Mean": float(mean),
        "Variance": float(values.var()),
        "Stdev": float(std),
        "CV": float(std * 100 / mean),
        "Min": float(counts.index[0]),
        "Max": float(counts.index[-1]),
        "Range": float(counts.index[-1] - counts.index[0]),
        "Cardinality": int(counts.size),
        "Uniques": int((counts == 1).sum()),
        "Mode": float(counts.idxmax()),
        "Median": float(values.median()),
        "Q1": float(values.quantile(0.25)),
        "Q3": float(values.quantile(0.75)),
        "TrimmedMean": float((kept.index.to_numpy() * kept.to_numpy()).sum() / kept.sum()),
        "Skewness": float(values.skew()),
        "Kurtosis": float(values.kurt()),
    }
    print(json.dumps(out))


if __name__ == "__main__":
    main()
