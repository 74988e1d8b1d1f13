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
from . import _bins, _outlier_options, _progress_callback
from ._results import Result


def _part_bytes(frame, analysis, categorical=False, kind="number"):
    """One partition's tally as bytes. ``kind`` is what the whole column
    holds ("number", "text" or "date"): a partition of a text or date column
    that holds only nulls still gives a tally of texts, so that it merges."""
    values = _inputs.column(frame["v"], "values")
    if analysis != "bivariate":
        _inputs.numbers_only(values, "values", analysis)
    _inputs.check_finite(values, "values")
    w = _inputs.weights_column(frame["w"], len(values)) if "w" in frame else None
    t = _inputs.weights_column(frame["t"], len(values), "target") if "t" in frame else None
    if kind != "number" and values.kind == "number":
        if not np.isnan(values.data).all():
            raise TypeError("a partition of the %s predictor holds numbers" % kind)
        values = _inputs.Column([None] * len(values), kind, values.name, dates=(kind == "date"))
    data = values.data if values.kind == "number" else list(values.data)
    return _qelstats.tally_bytes(analysis, data, values.dates, w, t, categorical)


def _merge(parts, analysis):
    parts = [p for p in parts]
    merged = parts[0]
    for p in parts[1:]:
        merged = _qelstats.merge_tally_bytes(analysis, merged, p)
    return merged


def _kind_of(series):
    """What a dask Series holds, from its dtype: "number", "text" or "date"."""
    import pandas as pd

    dtype = series.dtype
    if isinstance(dtype, pd.CategoricalDtype):
        cats = dtype.categories
        if cats is None:
            return "text"
        dtype = cats.dtype
    if pd.api.types.is_datetime64_any_dtype(dtype):
        return "date"
    if pd.api.types.is_bool_dtype(dtype) or pd.api.types.is_numeric_dtype(dtype):
        return "number"
    return "text"


def tally(analysis, values, weights=None, target=None, split_every=None, categorical=False):
    """The merged tally of a dask Series (and weights, target) as bytes.

    Each partition becomes a tally on the worker that holds it; the tallies
    are merged ``split_every`` (default 8) at a time, level by level, on the
    workers, and only the merged bytes come back. ``categorical`` (bivariate)
    makes every distinct numeric predictor value a bin."""
    import dask

    frame = values.to_frame(name="v")
    if weights is not None:
        frame = frame.assign(w=weights)
    if target is not None:
        frame = frame.assign(t=target)
    fan = max(2, int(split_every or 8))
    part = dask.delayed(_part_bytes, pure=True)
    merge = dask.delayed(_merge, pure=True)
    kind = _kind_of(values) if analysis == "bivariate" else "number"
    level = [part(p, analysis, bool(categorical), kind) for p in frame.to_delayed()]
    while len(level) > 1:
        level = [merge(level[i:i + fan], analysis) for i in range(0, len(level), fan)]
    return level[0].compute()


def _finish(analysis, data, options, progress, title):
    update, bar = _progress_callback(progress, title)
    try:
        return Result(analysis, _qelstats.finish_tally_bytes(analysis, data, options, update))
    finally:
        if bar is not None:
            bar.close()


def univariate(values, weights=None, *, split_every=None, progress=False):
    """:func:`qelstats.univariate` over a dask Series (``ddf["Salary"]``), weighted by a dask Series."""
    return _finish("univariate", tally("univariate", values, weights, split_every=split_every), {}, progress,
                   "Univariate")


def outlier(values, weights=None, rule="std", parm=2.0, *, split_every=None, progress=False):
    """:func:`qelstats.outlier` over a dask Series: the statistics and one row
    per distinct value (``r.ResultSet``), finished once on the merged tally."""
    options = _outlier_options(rule, parm)
    # Refused before the scan rather than after it.
    if options["rule"] == 2 and not 1 <= options["parm"] <= 100:
        raise ValueError("the trimmed-mean rule needs parm between 1 and 100, not %r" % options["parm"])
    return _finish("outlier", tally("outlier", values, weights, split_every=split_every), options, progress,
                   "Outliers")


def bivariate(predictor, target, weights=None, bins=10, categorical=None, *, split_every=None, progress=False):
    """:func:`qelstats.bivariate` over dask Series of the predictor (numbers,
    texts or dates), target (and weights): the bins are cut once, on the
    merged tally."""
    options = {"bins": _bins(bins), "categorical": bool(categorical),
               "field": predictor.name if isinstance(predictor.name, str) else "predictor",
               "target": target.name if isinstance(target.name, str) else "target"}
    data = tally("bivariate", predictor, weights, target, split_every=split_every, categorical=bool(categorical))
    return _finish("bivariate", data, options, progress, "Bivariate")
