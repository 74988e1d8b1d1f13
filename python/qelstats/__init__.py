"""qelstats: exact descriptive statistics, outlier detection and equal-weight
segmentation over NumPy arrays, pandas data, tables and Dask clusters.

>>> import qelstats
>>> r = qelstats.univariate([1, 2, 2, 3, 10])
>>> r.Mean, r.Median, r.TrimmedMean
(3.6, 2.0, 2.0)

The results are those of the library's classes and of ``qelstats --json`` on
the same values, bit for bit. See ``help(qelstats.univariate)``,
``help(qelstats.outlier)``, ``help(qelstats.bivariate)``, ``qelstats.fn`` and
``qelstats.dask``.
"""

from . import _qelstats
from . import _inputs
from ._results import Result
from . import fn

__all__ = ["univariate", "outlier", "bivariate", "fn", "Result"]

_RULES = {"std": 1, "tmean": 2, 1: 1, 2: 2}


def _progress_callback(progress, title):
    """A tqdm bar for the run's phases when ``progress`` is true and tqdm is installed."""
    if not progress:
        return None, None
    try:
        from tqdm.auto import tqdm
    except ImportError:
        return None, None
    bar = tqdm(total=99, desc=title, leave=False)

    def update(phase, value):
        bar.set_description("%s: %s" % (title, phase), refresh=False)
        bar.n = max(0, min(99, int(value)))
        bar.refresh()

    return update, bar


def _run(analysis, title, progress, call):
    update, bar = _progress_callback(progress, title)
    try:
        return Result(analysis, call(update))
    finally:
        if bar is not None:
            bar.close()


def _table_source(connection, source, field):
    if connection is None or source is None:
        raise TypeError("a table needs both connection= and source=")
    if not field:
        raise TypeError("a table needs field= (the field to analyse)")


def _frame_columns(df, field, weight, what="field"):
    if not field:
        raise TypeError("a DataFrame needs %s= (a column name)" % what)
    for name in [field] + ([weight] if weight else []):
        if name not in df.columns:
            raise ValueError("the DataFrame has no column %r" % (name,))
    return df[field], (df[weight] if weight else None)


def _numeric_input(values, weights, analysis):
    col = _inputs.numbers_only(_inputs.column(values, "values"), "values", analysis)
    if len(col) == 0:
        raise ValueError("values is empty: there is nothing to analyse")
    _inputs.check_finite(col, "values")
    w = _inputs.weights_column(weights, len(col))
    return col, w


def univariate(values=None, weights=None, *, connection=None, source=None, field=None, weight=None, progress=False):
    """Descriptive statistics of one numeric field, optionally weighted.

    Parameters
    ----------
    values : numpy.ndarray, pandas.Series, pandas.DataFrame or sequence
        The numbers. float64 and int64 arrays are read in place (no copy);
        other integer and float arrays are converted. ``None``, ``NaN`` and
        ``pd.NA`` are missing values. With a DataFrame, ``field`` (and
        ``weight``) name its columns.
    weights : array-like, optional
        Frequency weights, as long as ``values``: a value of weight w counts
        as w observations. A missing weight makes its record missing.
    connection, source : str, optional
        Analyse a table instead: a connection string (``Text;DBQ=<folder>``,
        ``Driver=SQLite3;Database=<file>`` or any ODBC string) and a source (a
        file or table name, or SQL text).
    field, weight : str, optional
        The field (and weight field) of the table or DataFrame.
    progress : bool
        Show a progress bar (needs tqdm).

    Returns
    -------
    Result
        ``r.ok`` is what Run returned (False: too few values, a total weight
        of 2 or 3, no usable value; ``r.reason`` says which), and the 21
        statistics: N, WgtN, Missing, Sum, Mean, Variance, Stdev, CV, Min,
        Max, Range, Cardinality, Uniques, Mode, Median, Q1, Q3, IQR,
        TrimmedMean, Skewness, Kurtosis.

    Raises
    ------
    TypeError
        Text or dates in ``values``, text in ``weights``, a wrong argument.
    ValueError
        Empty ``values``, lengths that differ, an infinite value or weight,
        a table that cannot be read.
    KeyboardInterrupt
        Ctrl-C, at the run's next checkpoint.

    Examples
    --------
    >>> r = qelstats.univariate([1, 2, 2, 3, 10])
    >>> r.Mean, r.Median, r.Mode
    (3.6, 2.0, 2.0)
    >>> qelstats.univariate(df, field="Salary").Q3              # doctest: +SKIP
    >>> qelstats.univariate(connection="Text;DBQ=/data", source="BaseBall.csv",
    ...                     field="Salary")                      # doctest: +SKIP
    """
    return _run_numeric("univariate", "Univariate", {}, values, weights, field, weight, connection, source,
                        progress)


def _run_numeric(analysis, title, options, values, weights, field, weight, connection, source, progress):
    """Runs the univariate or outlier analysis with `options` on a table
    source, a DataFrame's column or an array, whichever the caller gave."""
    if connection is not None or source is not None:
        _table_source(connection, source, field)
        table_options = dict(options, field=field, weight=weight or "")
        return _run(analysis, title + " " + field, progress,
                    lambda cb: _qelstats.run_table(analysis, connection, source, table_options, cb))
    if _inputs.is_dataframe(values):
        values, weights = _frame_columns(values, field, weight)
    col, w = _numeric_input(values, weights, analysis)
    return _run(analysis, title, progress,
                lambda cb: _qelstats.run_columns(analysis, col.data, False, w, None, options, cb))


def _outlier_options(rule, parm):
    """The outlier rule and parameter as the engine takes them; wrong ones are refused here."""
    if rule not in _RULES:
        raise ValueError("rule must be 'std' or 'tmean', not %r" % (rule,))
    try:
        parm = float(parm)
    except (TypeError, ValueError):
        raise TypeError("parm must be a number, not %r" % (parm,)) from None
    if parm != parm or parm in (float("inf"), float("-inf")):
        raise ValueError("parm must be finite, not %r" % parm)
    return {"rule": _RULES[rule], "parm": parm}


def outlier(values=None, weights=None, rule="std", parm=2.0, *, connection=None, source=None, field=None,
            weight=None, progress=False):
    """Outlying values of one numeric field: statistics and one row per distinct value.

    Parameters
    ----------
    values, weights : array-like
        As for :func:`univariate` (a DataFrame with ``field`` and ``weight``).
    rule : {"std", "tmean"}
        ``"std"``: a value is an outlier outside Mean +- parm * Stdev.
        ``"tmean"``: parm percent of the weight is trimmed (half from each
        end) and a value is an outlier outside +- parm/2 percent of the mean
        of what is left.
    parm : float
        The rule's parameter (standard deviations, or a percentage).
    connection, source, field, weight, progress
        As for :func:`univariate`.

    Returns
    -------
    Result
        N, WgtN, Missing, Sum, SumWgt, Mean, Variance, Stdev, Min, Max,
        Cardinality, Median, Q1, Q3, TrimmedMean, OutlierCountN,
        OutlierCountWgt, and ``r.ResultSet``: a DataFrame with the columns
        "Value", "N", "Weighted N" and "Outlier" (None when ``r.ok`` is False).

    Examples
    --------
    >>> r = qelstats.outlier([1, 2, 3, 4, 5], rule="std", parm=1)
    >>> r.OutlierCountN
    2.0
    >>> list(r.ResultSet["Outlier"])
    [True, False, False, False, True]
    """
    return _run_numeric("outlier", "Outliers", _outlier_options(rule, parm), values, weights, field, weight,
                        connection, source, progress)


def _bins(bins):
    if isinstance(bins, bool) or not isinstance(bins, (int,)) and not (hasattr(bins, "__index__")):
        raise TypeError("bins must be a whole number, not %r" % (bins,))
    bins = int(bins)
    if not 1 <= bins <= 32767:
        raise ValueError("bins must lie in 1..32767, not %d" % bins)
    return bins


def bivariate(predictor=None, target=None, weights=None, bins=10, categorical=None, *, connection=None,
              source=None, field=None, weight=None, progress=False):
    """Segmentation of a predictor against a numeric target.

    The sorted predictor values are cut into at most ``bins`` bins of about
    equal weight, or one bin per value when the predictor is categorical
    (text, dates, ``categorical=True``, or no more distinct values than
    ``bins``). Each bin gets its weighted count, range, target mean and index
    against the overall target mean; the segmentation gets PSI (power) and DI
    (discontinuity).

    Parameters
    ----------
    predictor : array-like or pandas.DataFrame
        Numbers, texts (object, string or categorical dtype) or dates
        (datetime64). With a DataFrame, ``field`` names the predictor column
        and ``target`` (and ``weight``) name columns too.
    target : array-like or str
        The numeric target, as long as the predictor (a column name with a
        DataFrame or a table).
    weights : array-like, optional
        Frequency weights.
    bins : int
        The most bins to cut (1..32767).
    categorical : bool, optional
        True makes every distinct value a bin of its own.
    connection, source, field, weight, progress
        As for :func:`univariate`; ``field`` is the predictor.

    Returns
    -------
    Result
        PSI, DI, N, Missing, TargetMean, Cardinality, Categorical, and
        ``r.ResultSet``: a DataFrame with "Bin", "N", "Min <predictor>",
        "Max <predictor>", "Mean <target>" and "Index".

    Examples
    --------
    >>> r = qelstats.bivariate(list(range(1, 11)), [float(x) for x in range(10)], bins=4)
    >>> list(r.ResultSet["N"])
    [3.0, 3.0, 2.0, 2.0]
    """
    bins = _bins(bins)
    options = {"bins": bins, "categorical": bool(categorical)}
    if connection is not None or source is not None:
        _table_source(connection, source, field)
        if not isinstance(target, str) or not target:
            raise TypeError("a table needs target= (the target field's name)")
        options.update(field=field, target=target, weight=weight or "")
        return _run("bivariate", "Bivariate " + field, progress,
                    lambda cb: _qelstats.run_table("bivariate", connection, source, options, cb))
    if _inputs.is_dataframe(predictor):
        if not isinstance(target, str):
            raise TypeError("with a DataFrame, target= names its target column")
        df = predictor
        predictor, weights = _frame_columns(df, field, weight)
        target = _frame_columns(df, target, None, "target")[0]
    col = _inputs.column(predictor, "predictor")
    if len(col) == 0:
        raise ValueError("predictor is empty: there is nothing to analyse")
    _inputs.check_finite(col, "predictor")
    if target is None:
        raise TypeError("bivariate needs a target")
    t = _inputs.weights_column(target, len(col), "target")
    w = _inputs.weights_column(weights, len(col))
    tname = getattr(target, "name", None)
    options.update(field=col.name or "predictor", target=tname if isinstance(tname, str) else "target")
    data = col.data if col.kind == "number" else list(col.data)
    return _run("bivariate", "Bivariate", progress,
                lambda cb: _qelstats.run_columns("bivariate", data, col.dates, w, t, options, cb))
