#!/usr/bin/python3
"""Times `qelstats univariate` against its peers on one CSV column.

Each peer runs --repeat times under /usr/bin/time -v. For each the driver
reports the best and the median wall-clock time, the CPU time (user + system)
of the best run, the peak resident set size as time -v reports it, and the
peak anonymous memory (heap and stacks, without file pages the process maps),
sampled from /proc every 20 ms. Then the ratio of every peer to qelstats, and
whether the peers agree on the statistics they share.

To add a peer, append a Peer to PEERS: a name, a function giving its command
line, and a function reading its stdout into a dict of statistics.

  bench/bench_univariate.py --qelstats PATH --data FILE --column NAME [--repeat N] [--markdown]
"""
import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from typing import Callable, Dict, List

HERE = os.path.dirname(os.path.abspath(__file__))


@dataclass
class Peer:
    name: str
    command: Callable[[argparse.Namespace], List[str]]
    parse: Callable[[str], Dict[str, float]]


def qelstats_command(a):
    return [a.qelstats, "univariate", "--csv", a.data, "--field", a.column, "--json", "--no-progress"]


def pandas_command(a):
    return ["/usr/bin/python3", os.path.join(HERE, "univariate_pandas.py"), a.data, a.column]


PEERS = [
    Peer("qelstats", qelstats_command, json.loads),
    Peer("pandas", pandas_command, json.loads),
]

# Statistics every peer reports under the same name and definition.
SHARED = ["N", "Missing", "Sum", "Mean", "Variance", "Stdev", "Min", "Max", "Cardinality", "Uniques", "Mode",
          "Median", "Skewness", "Kurtosis"]


def child_of(pid):
    """The pid of the process that `pid` started, or None."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            if int(fields[1]) == pid:
                return int(entry)
        except (OSError, IndexError, ValueError):
            pass
    return None


def rss_anon_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("RssAnon:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def run_once(cmd):
    """Runs `cmd` under /usr/bin/time -v; returns (stdout, wall s, cpu s, max RSS KB, peak anon KB)."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report, tempfile.TemporaryFile("w+") as out:
        start = time.monotonic()
        proc = subprocess.Popen(["/usr/bin/time", "-v", "-o", report.name] + cmd, stdout=out,
                                stderr=subprocess.PIPE, text=True)
        child, peak_anon = None, 0
        while proc.poll() is None:
            if child is None:
                child = child_of(proc.pid)
            if child is not None:
                peak_anon = max(peak_anon, rss_anon_kb(child))
            time.sleep(0.02)
        err = proc.stderr.read()
        if proc.returncode != 0:
            sys.exit(f"{' '.join(cmd)} failed ({proc.returncode}):\n{err}")
        text = report.read()
        out.seek(0)
        stdout = out.read()

    def field(label):
        m = re.search(re.escape(label) + r":\s*(.+)", text)
        return m.group(1).strip() if m else "0"

    parts = [float(p) for p in field("Elapsed (wall clock) time (h:mm:ss or m:ss)").split(":")]
    wall = sum(p * 60 ** i for i, p in enumerate(reversed(parts)))
    cpu = float(field("User time (seconds)")) + float(field("System time (seconds)"))
    return stdout, wall, cpu, int(field("Maximum resident set size (kbytes)")), peak_anon


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--qelstats", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--column", default="price")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--markdown", action="store_true", help="also print the table as Markdown")
    args = parser.parse_args()

    results = {}
    for peer in PEERS:
        runs = [run_once(peer.command(args)) for _ in range(args.repeat)]
        best = min(runs, key=lambda r: r[1])
        results[peer.name] = {
            "stats": peer.parse(best[0]),
            "best": best[1],
            "median": statistics.median(r[1] for r in runs),
            "cpu": best[2],
            "rss": max(r[3] for r in runs) / 1024,
            "anon": max(r[4] for r in runs) / 1024,
        }
        print(f"{peer.name}: best {best[1]:.2f} s", file=sys.stderr)

    base = results["qelstats"]
    size = os.path.getsize(args.data) / 1e6
    print(f"\n{args.data} ({size:.0f} MB), column {args.column}, best of {args.repeat}\n")
    header = ["peer", "best wall s", "median wall s", "CPU s", "max RSS MB", "peak anon MB", "wall vs qelstats",
              "CPU vs qelstats"]
    rows = []
    for name, r in results.items():
        rows.append([name, f"{r['best']:.2f}", f"{r['median']:.2f}", f"{r['cpu']:.2f}", f"{r['rss']:.0f}",
                     f"{r['anon']:.0f}", f"{r['best'] / base['best']:.2f}x", f"{r['cpu'] / base['cpu']:.2f}x"])
    widths = [max(len(h), *(len(row[i]) for row in rows)) for i, h in enumerate(header)]
    for row in [header] + rows:
        print("  ".join(cell.rjust(w) for cell, w in zip(row, widths)))
    if args.markdown:
        print("\n| " + " | ".join(header) + " |\n|" + "---|" * len(header))
        for row in rows:
            print("| " + " | ".join(row) + " |")

    print("\nAgreement with qelstats (relative difference):")
    for name, r in results.items():
        if name == "qelstats":
            continue
        worst = []
        for key in SHARED:
            if key in r["stats"] and key in base["stats"]:
                a, b = float(base["stats"][key]), float(r["stats"][key])
                diff = abs(a - b) / max(abs(a), abs(b), 1e-300)
                worst.append((diff, key))
        worst.sort(reverse=True)
        print(f"  {name}: " + ", ".join(f"{k} {d:.1e}" for d, k in worst[:4]) + " (largest four)")


if __name__ == "__main__":
    main()
