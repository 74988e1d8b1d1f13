#!/usr/bin/python3
"""Writes the univariate benchmark's CSV: 10 million rows, 5 columns, ~300 MB.

Columns:
  id      1..rows
  price   two decimals from 10.00 to 1009.99: 100,000 distinct values,
          uniform, so every one of them occurs (the analysed column)
  qty     whole numbers 1..100 (a weight column)
  region  one of eight short texts
  score   four decimals in [0, 1)

The data are the same for the same --seed and --rows. Uses numpy when it is
installed (a few seconds), else the standard library (about a minute).

  bench/gen_univariate_data.py [--rows N] [--seed S] [--out bench/data/univariate.csv]
"""
import argparse
import os
import random
import sys

REGIONS = ["North", "South", "East", "West", "Centre", "Coast", "Hills", "Plain"]
CHUNK = 500_000


def chunks_numpy(rows, seed):
    import numpy as np

    rng = np.random.default_rng(seed)
    regions = np.array(REGIONS)
    for start in range(0, rows, CHUNK):
        n = min(CHUNK, rows - start)
        ids = np.arange(start + 1, start + n + 1)
        cents = rng.integers(1000, 101000, n)
        qty = rng.integers(1, 101, n)
        region = regions[rng.integers(0, len(REGIONS), n)]
        score = rng.integers(0, 10000, n)
        lines = [
            f"{i},{c // 100}.{c % 100:02d},{q},{r},0.{s:04d}"
            for i, c, q, r, s in zip(ids.tolist(), cents.tolist(), qty.tolist(), region.tolist(), score.tolist())
        ]
        yield "\n".join(lines) + "\n"


def chunks_stdlib(rows, seed):
    rng = random.Random(seed)
    randrange = rng.randrange
    for start in range(0, rows, CHUNK):
        n = min(CHUNK, rows - start)
        lines = []
        append = lines.append
        for i in range(start + 1, start + n + 1):
            c = randrange(1000, 101000)
            append(f"{i},{c // 100}.{c % 100:02d},{randrange(1, 101)},{REGIONS[randrange(8)]},0.{randrange(10000):04d}")
        yield "\n".join(lines) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rows", type=int, default=10_000_000)
    parser.add_argument("--seed", type=int, default=20261207)
    parser.add_argument("--out", default=os.path.join(here, "data", "univariate.csv"))
    args = parser.parse_args()

    try:
        import numpy  # noqa: F401

        chunks = chunks_numpy
    except ImportError:
        chunks = chunks_stdlib

    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    tmp = args.out + ".partial"
    with open(tmp, "w", newline="\n") as f:
        f.write("id,price,qty,region,score\n")
        for text in chunks(args.rows, args.seed):
            f.write(text)
    os.replace(tmp, args.out)
    print(f"{args.out}: {args.rows} rows, {os.path.getsize(args.out) / 1e6:.0f} MB", file=sys.stderr)


if __name__ == "__main__":
    main()
