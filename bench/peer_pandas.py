#!/usr/bin/python3
"""The benchmark's analyses with pandas (bench/run). Prints one JSON object.

  peer_pandas.py univariate FILE FIELD
  peer_pandas.py outlier FILE FIELD std|tmean PARM
  peer_pandas.py bivariate FILE PREDICTOR TARGET BINS numeric|text

univariate: counts, sum, mean, variance, standard deviation, min, max, the
  distinct values with their counts (cardinality, values seen once, mode),
  quartiles, median, skewness and kurtosis.
outlier: the distinct values with their counts in ascending order, mean,
  standard deviation, quartiles, and a flag per value: outside mean +- PARM
  standard deviations (std), or outside a band of PARM/2 percent around the
  mean trimmed of PARM/2 percent of the records at each end (tmean).
bivariate: per distinct predictor value the count and target sum; a numeric
  predictor's values in ascending order are cut into BINS bins of equal
  cumulative count (qcut on cumulative counts), a text predictor's values are
  its categories; per bin N, min and max of the predictor, mean of the target
  and its index against the overall mean.
"""
import json
import sys

import numpy as np
import pandas as pd


def univariate(path, field):
    s = pd.read_csv(path, usecols=[field])[field]
    v = s.dropna()
    counts = v.value_counts(sort=False).sort_index()
    return {"N": int(v.size), "Missing": int(s.size - v.size), "Sum": float(v.sum()), "Mean": float(v.mean()),
            "Variance": float(v.var()), "Stdev": float(v.std()), "Min": float(counts.index[0]),
            "Max": float(counts.index[-1]), "Cardinality": int(counts.size), "Uniques": int((counts == 1).sum()),
            "Mode": float(counts.idxmax()), "Q1": float(v.quantile(0.25)), "Median": float(v.median()),
            "Q3": float(v.quantile(0.75)), "Skewness": float(v.skew()), "Kurtosis": float(v.kurt())}


def outlier(path, field, rule, parm):
    v = pd.read_csv(path, usecols=[field])[field].dropna()
    counts = v.value_counts(sort=False).sort_index()
    values = counts.index.to_numpy()
    n = counts.to_numpy()
    total = n.sum()
    mean, std = v.mean(), v.std()
    out = {"N": int(total), "Mean": float(mean), "Stdev": float(std), "Cardinality": int(counts.size),
           "Q1": float(v.quantile(0.25)), "Median": float(v.median()), "Q3": float(v.quantile(0.75))}
    if rule == "std":
        flag = (values < mean - parm * std) | (values > mean + parm * std)
    else:
        t = total * parm / 100 / 2
        low = np.cumsum(n) >= t
        high = np.cumsum(n[::-1])[::-1] >= t
        kept = ~(np.arange(n.size) <= np.argmax(low)) & ~(np.arange(n.size) >= n.size - 1 - np.argmax(high[::-1]))
        tmean = (values[kept] * n[kept]).sum() / n[kept].sum()
        out["TrimmedMean"] = float(tmean)
        flag = (values < (1 - parm / 200) * tmean) | (values > (1 + parm / 200) * tmean)
    table = pd.DataFrame({"Value": values, "N": n, "Outlier": flag})
    out["OutlierCountN"] = int(table.loc[table.Outlier, "N"].sum())
    return out


def bivariate(path, predictor, target, bins, kind):
    df = pd.read_csv(path, usecols=[predictor, target]).dropna()
    g = df.groupby(predictor, sort=True)[target].agg(["count", "sum"])
    total = g["count"].sum()
    target_mean = g["sum"].sum() / total
    if kind == "numeric" and len(g) > bins:
        cum = g["count"].cumsum().to_numpy()
        bin_of = np.minimum(((cum - 1) * bins) // total, bins - 1)
        g = g.assign(bin=bin_of, value=g.index.to_numpy())
        table = g.groupby("bin").agg(N=("count", "sum"), Min=("value", "min"), Max=("value", "max"),
                                     Sum=("sum", "sum"))
    else:
        table = g.rename(columns={"count": "N", "sum": "Sum"})
    table["Mean"] = (table["Sum"] / table["N"]).round(5)
    table["Index"] = (table["Mean"] / target_mean * 100).round()
    return {"N": int(total), "TargetMean": float(target_mean), "Cardinality": int(len(g)), "Bins": int(len(table))}


def main():
    a = sys.argv[1:]
    if a[0] == "univariate":
        out = univariate(a[1], a[2])
    elif a[0] == "outlier":
        out = outlier(a[1], a[2], a[3], float(a[4]))
    else:
        out = bivariate(a[1], a[2], a[3], int(a[4]), a[5])
    print(json.dumps(out))


if __name__ == "__main__":
    main()
