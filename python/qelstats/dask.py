"""The three analyses over a dask.dataframe, for data that outgrows one machine.

>>> import dask.dataframe as dd, qelstats.dask
>>> ddf = dd.read_csv("salaries-*.csv")                       # doctest: +SKIP
>>> r = qelstats.dask.univariate(ddf["Salary"])               # doctest: +SKIP

Each partition is tallied where it lives (each distinct value with its record
count and weight, plus the totals), the tallies travel as compact bytes and
are merged in a tree on the workers (``split_every`` at a time), and the
analysis is finished once, on the merged tally, in the calling process.

Agreement with :func:`qelstats.univariate` on the same values: counts,
Missing, Cardinality, the order statistics (Min, Max, quartiles, median,
mode, bins) and every sum of whole numbers are identical whatever the
partitioning; sums of fractional values (fractional weights, the sums of
non-integer values, target sums) and what derives from them (Mean, Variance,
PSI, ...) may differ in the last bits, within 1e-12 relative (Skewness and
Kurtosis near 0 within 1e-12 absolute: they are differences of nearly equal
sums), because floating-point addition in another order rounds differently.
"""

import numpy as np

from . import _qelstats, _inputs
from . import _RULES, _bins, _progress_callback
from ._results import Result


def _part_bytes(frame, analysis):
    values = _inputs.column(frame["v"], "values")
    if analysis != "bivariate":
        _inputs.numbers_only(values, "values", analysis)
    _inputs.check_finite(values, "values")
    w = _inputs.weights_column(frame["w"], len(values)) if "w" in frame else None
    t = _inputs.weights_column(frame["t"], len(values), "target") if "t" in frame else None
    data = values.data if values.kind == "number" else list(values.data)
    return _qelstats.tally_bytes(analysis, data, values.dates, w, t)


def _merge(parts, analysis):
    parts = [p for p in parts]
    merged = parts[0]
    for p in parts[1:]:
        merged = _qelstats.merge_tally_bytes(analysis, merged, p)
    return merged


def tally(analysis, values, weights=None, target=None, split_every=None):
    """The merged tally of a dask Series (and weights, target) as bytes.

    Each partition becomes a tally on the worker that holds it; the tallies
    are merged ``split_every`` (default 8) at a time, level by level, on the
    workers, and only the merged bytes come back."""
    import dask

    frame = values.to_frame(name="v")
    if weights is not None:
        frame = frame.assign(w=weights)
    if target is not None:
        frame = frame.assign(t=target)
    fan = max(2, int(split_every or 8))
    part = dask.delayed(_part_bytes, pure=True)
    merge = dask.delayed(_merge, pure=True)
    level = [part(p, analysis) for p in frame.to_delayed()]
    while len(level) > 1:
        level = [merge(level[i:i + fan], analysis) for i in range(0, len(level), fan)]
    return level[0].compute()


def _finish(analysis, data, options, progress, title):
    update, bar = _progress_callback(progress, title)
    try:
        try:
            raw = _qelstats.finish_tally_bytes(analysis, data, options, update)
        except ValueError as e:
            if "not available" in str(e):  # a library without this finish over a tally
                raise NotImplementedError(str(e)) from None
            raise
        return Result(analysis, raw)
    finally:
        if bar is not None:
            bar.close()


def univariate(values, weights=None, *, split_every=None, progress=False):
    """:func:`qelstats.univariate` over a dask Series (``ddf["Salary"]``), weighted by a dask Series."""
    return _finish("univariate", tally("univariate", values, weights, split_every=split_every), {}, progress,
                   "Univariate")


def outlier(values, weights=None, rule="std", parm=2.0, *, split_every=None, progress=False):
    """:func:`qelstats.outlier` over a dask Series."""
    if rule not in _RULES:
        raise ValueError("rule must be 'std' or 'tmean', not %r" % (rule,))
    options = {"rule": _RULES[rule], "parm": float(parm)}
    return _finish("outlier", tally("outlier", values, weights, split_every=split_every), options, progress,
                   "Outliers")


def bivariate(predictor, target, weights=None, bins=10, *, split_every=None, progress=False):
    """:func:`qelstats.bivariate` over dask Series of the predictor, target (and weights)."""
    options = {"bins": _bins(bins), "field": predictor.name if isinstance(predictor.name, str) else "predictor",
               "target": target.name if isinstance(target.name, str) else "target"}
    return _finish("bivariate", tally("bivariate", predictor, weights, target, split_every=split_every), options,
                   progress, "Bivariate")
