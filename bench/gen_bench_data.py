#!/usr/bin/python3
"""Writes the extra CSV of the peer benchmark (bench/run): 10 million rows.

Columns:
  id      1..rows
  cat     one of 50 texts C01..C50 (a categorical predictor)
  target  four decimals in [0, 1) (a target)
  d1k     two decimals, 1,000 distinct values
  d3m     two decimals, about 3 million distinct values
  d9m     two decimals, about 9 million distinct values

The numeric columns of the main file (bench/data/univariate.csv, written by
gen_univariate_data.py) have 100,000 distinct values; with these the scaling
runs cover 1,000 to 9 million. Same data for the same --seed and --rows.
Needs numpy (Debian python3-numpy, a dependency of python3-pandas).

  bench/gen_bench_data.py [--rows N] [--seed S] [--out bench/data/extra.csv]
"""
import argparse
import os
import sys

import numpy as np

CHUNK = 500_000


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rows", type=int, default=10_000_000)
    parser.add_argument("--seed", type=int, default=20261208)
    parser.add_argument("--out", default=os.path.join(here, "data", "extra.csv"))
    args = parser.parse_args()

    rng = np.random.default_rng(args.seed)
    cats = np.array([f"C{i:02d}" for i in range(1, 51)])
    # Drawing n values from m equally likely ones leaves m(1 - e^(-n/m))
    # distinct: m = 3.15 n/10M gives about 3 million, 45 n/10M about 9 million.
    scale = args.rows / 10_000_000
    m3 = max(1, int(3_150_000 * scale))
    m9 = max(1, int(45_000_000 * scale))
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    tmp = args.out + ".partial"
    with open(tmp, "w", newline="\n") as f:
        f.write("id,cat,target,d1k,d3m,d9m\n")
        for start in range(0, args.rows, CHUNK):
            n = min(CHUNK, args.rows - start)
            ids = range(start + 1, start + n + 1)
            cat = cats[rng.integers(0, 50, n)].tolist()
            target = rng.integers(0, 10000, n).tolist()
            d1k = rng.integers(0, 1000, n).tolist()
            d3m = rng.integers(0, m3, n).tolist()
            d9m = rng.integers(0, m9, n).tolist()
            f.write("".join(
                f"{i},{c},0.{t:04d},{a // 100}.{a % 100:02d},{b // 100}.{b % 100:02d},{d // 100}.{d % 100:02d}\n"
                for i, c, t, a, b, d in zip(ids, cat, target, d1k, d3m, d9m)))
    os.replace(tmp, args.out)
    print(f"{args.out}: {args.rows} rows, {os.path.getsize(args.out) / 1e6:.0f} MB", file=sys.stderr)


if __name__ == "__main__":
    main()
