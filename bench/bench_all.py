#!/usr/bin/python3
"""Times qelstats against pandas, R data.table, DuckDB and Polars on the same
analyses of the same files, and prints one table (bench/run runs it).

Every case runs each peer --repeat times under /usr/bin/time -v (see
bench_univariate.run_once); the table gives the best wall-clock time, the CPU
time (user + system) of that run, the peak resident set and the peak heap
(anonymous memory), each peer's wall and CPU time as a multiple of qelstats'
in the same invocation, and whether the peer agrees with qelstats on the
counts, the mean and the number of distinct values.

  bench/bench_all.py --qelstats PATH --main FILE --extra FILE [--repeat N] [--cases a,b] [--peers a,b] [--markdown]
"""
import argparse
import json
import os
import sys

from bench_univariate import run_once

HERE = os.path.dirname(os.path.abspath(__file__))
NODE = ["node"]


def peer_commands(a, analysis, path, *args):
    """The command line of every peer for one analysis of `path`."""
    q = [a.qelstats, analysis.split("-")[0], "--csv", path]
    if analysis == "univariate":
        q += ["--field", args[0]]
    elif analysis.startswith("outlier"):
        q += ["--field", args[0], "--rule", args[1], "--parm", args[2]]
    else:
        q += ["--predictor", args[0], "--target", args[1], "--bins", args[2]]
    q += ["--json", "--no-progress"]
    tail = [analysis.split("-")[0], path, *args]
    return {
        "qelstats": q,
        "pandas": ["/usr/bin/python3", os.path.join(HERE, "peer_pandas.py"), *tail],
        "data.table": ["Rscript", os.path.join(HERE, "peer_datatable.R"), *tail],
        "DuckDB": NODE + [os.path.join(HERE, "peer_duckdb.mjs"), *tail],
        "Polars": NODE + [os.path.join(HERE, "peer_polars.mjs"), *tail],
    }


def cases(a):
    m, x = a.main, a.extra
    return [
        ("univariate", "univariate price: 10M rows, 100,000 distinct", peer_commands(a, "univariate", m, "price")),
        ("outlier-std", "outlier price, 2-stdev band", peer_commands(a, "outlier", m, "price", "std", "2")),
        ("outlier-tmean", "outlier price, 5% trimmed-mean band", peer_commands(a, "outlier", m, "price", "tmean", "5")),
        ("bivariate-num", "bivariate price -> score, 20 bins", peer_commands(a, "bivariate", m, "price", "score", "20",
                                                                              "numeric")),
        ("bivariate-text", "bivariate cat (50 texts) -> target", peer_commands(a, "bivariate", x, "cat", "target", "20",
                                                                                "text")),
        ("distinct-9m", "univariate d9m: 10M rows, ~9M distinct", peer_commands(a, "univariate", x, "d9m")),
        ("distinct-3m", "univariate d3m: 10M rows, ~3M distinct", peer_commands(a, "univariate", x, "d3m")),
        ("distinct-1k", "univariate d1k: 10M rows, 1,000 distinct", peer_commands(a, "univariate", x, "d1k")),
        ("rows-1m", "univariate price: first 1M rows", peer_commands(a, "univariate", a.rows1m, "price")),
        ("rows-3m", "univariate price: first 3M rows", peer_commands(a, "univariate", a.rows3m, "price")),
    ]


def agrees(mine, theirs):
    """Where a peer differs from qelstats on the figures every peer computes the same way."""
    diffs = []
    for key in ("N", "Cardinality"):
        if key in mine and key in theirs and float(mine[key]) != float(theirs[key]):
            diffs.append(f"{key} {theirs[key]}")
    for key in ("Mean", "TargetMean"):
        if key in mine and key in theirs:
            m, t = float(mine[key]), float(theirs[key])
            if abs(m - t) > 1e-9 * max(1.0, abs(m)):
                diffs.append(f"{key} {t}")
    if "OutlierCountN" in mine and "OutlierCountN" in theirs and float(mine["OutlierCountN"]) != float(
            theirs["OutlierCountN"]):
        diffs.append(f"outliers {theirs['OutlierCountN']} vs {mine['OutlierCountN']}")
    return "yes" if not diffs else "; ".join(diffs)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--qelstats", required=True)
    p.add_argument("--main", required=True)
    p.add_argument("--extra", required=True)
    p.add_argument("--rows1m", required=True)
    p.add_argument("--rows3m", required=True)
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument("--cases", default="", help="comma-separated case names (default: all)")
    p.add_argument("--peers", default="", help="comma-separated peers besides qelstats (default: all)")
    p.add_argument("--markdown", action="store_true")
    a = p.parse_args()
    wanted_cases = set(filter(None, a.cases.split(",")))
    wanted_peers = set(filter(None, a.peers.split(","))) | {"qelstats"}

    header = ["case", "peer", "best wall s", "CPU s", "max RSS MB", "peak heap MB", "wall vs qelstats",
              "CPU vs qelstats", "agrees"]
    rows = []
    for name, label, commands in cases(a):
        if wanted_cases and name not in wanted_cases:
            continue
        base = None
        for peer, cmd in commands.items():
            if a.peers and peer not in wanted_peers:
                continue
            runs = [run_once(cmd) for _ in range(a.repeat)]
            best = min(runs, key=lambda r: r[1])
            stats = json.loads(best[0])
            if peer == "qelstats":
                base = (best[1], best[2], stats)
            rows.append([label, peer, f"{best[1]:.2f}", f"{best[2]:.2f}", f"{max(r[3] for r in runs) / 1024:.0f}",
                         f"{max(r[4] for r in runs) / 1024:.0f}", f"{best[1] / base[0]:.2f}x",
                         f"{best[2] / base[1]:.2f}x", "-" if peer == "qelstats" else agrees(base[2], stats)])
            print(f"{label}: {peer} best {best[1]:.2f} s, CPU {best[2]:.2f} s", file=sys.stderr)

    widths = [max(len(h), *(len(r[i]) for r in rows)) for i, h in enumerate(header)]
    print()
    for r in [header] + rows:
        print("  ".join(c.ljust(w) if i < 2 else c.rjust(w) for i, (c, w) in enumerate(zip(r, widths))))
    if a.markdown:
        print("\n| " + " | ".join(header) + " |\n|" + "---|" * len(header))
        for r in rows:
            print("| " + " | ".join(r) + " |")


if __name__ == "__main__":
    main()
