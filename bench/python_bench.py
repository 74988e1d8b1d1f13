#!/usr/bin/python3
"""qelstats (the Python module) against pandas on 10 million rows, and the
Dask path against the single-process module. Prints one line per case with
the seconds of each side and the ratio; every ratio comes from this one run.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [CSV]

CSV: a file with a numeric column "price" (default: bench/data/univariate.csv
of the main checkout's generator), read in 8 partitions by two workers."""

import os
import sys
import time

import numpy as np
import pandas as pd

import qelstats
import qelstats.dask

N = 10_000_000


def timed(fn):
    t = time.perf_counter()
    out = fn()
    return time.perf_counter() - t, out


def pandas_univariate(s):
    return s.describe(), s.skew(), s.kurt(), s.mode(), s.nunique()


def pandas_bivariate(x, y):
    bins = pd.qcut(x, 20, duplicates="drop")
    return y.groupby(bins, observed=True).mean()


def main():
    rng = np.random.default_rng(42)
    values = rng.integers(0, 100_000, N) / 100.0 + 1000.0  # 100,000 distinct float64 values
    assert len(np.unique(values)) == 100_000
    series = pd.Series(values)
    t_q, r = timed(lambda: qelstats.univariate(values))
    assert r.ok
    t_p, _ = timed(lambda: pandas_univariate(series))
    print("univariate 10M float64 (100,000 distinct): qelstats %.2fs, pandas %.2fs, ratio %.1fx" % (t_q, t_p, t_p / t_q))

    target = rng.normal(50, 10, N)
    t_q, r = timed(lambda: qelstats.bivariate(values, target, bins=20))
    assert r.ok
    t_p, _ = timed(lambda: pandas_bivariate(series, pd.Series(target)))
    print("bivariate 10M rows, 20 bins: qelstats %.2fs, pandas qcut+groupby %.2fs, ratio %.1fx" % (t_q, t_p, t_p / t_q))

    csv = sys.argv[1] if len(sys.argv) > 1 else "/work/main/bench/data/univariate.csv"
    if not os.path.exists(csv):
        print("dask: %s not found, skipped" % csv)
        return
    import dask.dataframe as dd
    import distributed


    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster):
        ddf = dd.read_csv(csv, usecols=["price"], blocksize=os.path.getsize(csv) // 8 + 1)
        t_d, rd = timed(lambda: qelstats.dask.univariate(ddf["price"]))
    t_s, rs = timed(lambda: qelstats.univariate(pd.read_csv(csv, usecols=["price"])["price"]))
    same = all(getattr(rd, k) == getattr(rs, k) for k in ("N", "Cardinality", "Median", "Q1", "Q3", "Mode"))
    print("dask univariate, 10M-row CSV in %d partitions, 2 workers: %.2fs; single process (read + analyse) "
          "%.2fs; ratio %.2fx; order statistics identical: %s" % (ddf.npartitions, t_d, t_s, t_d / t_s, same))


if __name__ == "__main__":
    main()
