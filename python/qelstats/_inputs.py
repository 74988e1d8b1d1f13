"""Turning what users pass (NumPy arrays, pandas Series, sequences) into the
columns the engine reads: contiguous float64 or int64 arrays read in place,
or lists of texts for text and date predictors. Every refusal is a TypeError
or ValueError with a one-line message that names the argument."""

import numbers

import numpy as np

try:  # pandas is optional: NumPy arrays and sequences work without it
    import pandas as _pd
except ImportError:  # pragma: no cover - exercised only without pandas
    _pd = None


class Column:
    """One input column: ``data`` for the engine (ndarray or list of texts),
    ``dates`` when the texts are dates, ``name`` for result tables."""

    __slots__ = ("data", "dates", "name", "kind")

    def __init__(self, data, kind, name, dates=False):
        self.data, self.kind, self.name, self.dates = data, kind, name, dates

    def __len__(self):
        return len(self.data)


def _is_series(obj):
    return _pd is not None and isinstance(obj, _pd.Series)


def is_dataframe(obj):
    return _pd is not None and isinstance(obj, _pd.DataFrame)


def _date_texts(arr):
    """datetime64 values as ISO texts (the time only when it is not midnight); NaT as None."""
    arr = np.asarray(arr, dtype="datetime64[s]")
    texts = np.datetime_as_string(arr, unit="s")
    out = []
    for t, nat in zip(texts.tolist(), np.isnat(arr).tolist()):
        if nat:
            out.append(None)
        elif t.endswith("T00:00:00"):
            out.append(t[:10])
        else:
            out.append(t.replace("T", " "))
    return out


def _is_null(x):
    if x is None:
        return True
    if _pd is not None and (x is _pd.NA or x is _pd.NaT):
        return True
    return isinstance(x, float) and x != x


def _from_objects(items, what):
    """An object array or sequence: numbers, texts or dates, with nulls."""
    kinds = set()
    for x in items:
        if _is_null(x):
            continue
        if isinstance(x, (bool, np.bool_)):
            raise TypeError("%s holds a boolean (%r): give numbers, texts or dates" % (what, x))
        if isinstance(x, numbers.Real):
            kinds.add("number")
        elif isinstance(x, str):
            kinds.add("text")
        elif isinstance(x, np.datetime64) or (hasattr(x, "isoformat") and hasattr(x, "year")):
            kinds.add("date")
        else:
            raise TypeError("%s holds a %s (%r): give numbers, texts or dates" % (what, type(x).__name__, x))
        if len(kinds) > 1:
            raise TypeError("%s mixes %s: give one kind of value" % (what, " and ".join(sorted(kinds))))
    kind = kinds.pop() if kinds else "number"
    if kind == "number":
        return np.array([np.nan if _is_null(x) else float(x) for x in items], dtype=np.float64), "number"
    if kind == "text":
        return [None if _is_null(x) else x for x in items], "text"
    stamps = np.array([np.datetime64("NaT") if _is_null(x) else np.datetime64(x, "s") for x in items])
    return _date_texts(stamps), "date"


def column(obj, what, name=None):
    """The engine's column for ``obj``. ``what`` names the argument in messages."""
    if obj is None:
        raise TypeError("%s is missing" % what)
    if name is None:
        name = getattr(obj, "name", None)
        name = name if isinstance(name, str) else None
    if _is_series(obj):
        dtype = obj.dtype
        if isinstance(dtype, _pd.CategoricalDtype):
            cats = obj.cat.categories
            if np.issubdtype(cats.dtype, np.datetime64):
                return Column(_date_texts(obj.astype("datetime64[ns]").to_numpy()), "date", name, dates=True)
            data, kind = _from_objects(obj.astype(object).tolist(), what)
            return Column(data, kind, name, dates=(kind == "date"))
        if _pd.api.types.is_datetime64_any_dtype(dtype):
            if getattr(dtype, "tz", None) is not None:
                obj = obj.dt.tz_localize(None)
            return Column(_date_texts(obj.to_numpy()), "date", name, dates=True)
        if _pd.api.types.is_extension_array_dtype(dtype):
            if _pd.api.types.is_string_dtype(dtype):
                data, kind = _from_objects(obj.astype(object).tolist(), what)
                return Column(data, kind, name)
            if _pd.api.types.is_bool_dtype(dtype):
                raise TypeError("%s has dtype %s: give numbers, texts or dates" % (what, dtype))
            if _pd.api.types.is_numeric_dtype(dtype):  # Int64, Float64: pd.NA is null
                return column(obj.to_numpy(dtype=np.float64, na_value=np.nan), what, name)
        obj = obj.to_numpy()
    arr = obj if isinstance(obj, np.ndarray) else None
    if arr is None:
        if isinstance(obj, (str, bytes)) or not hasattr(obj, "__len__"):
            raise TypeError("%s must be an array, a Series or a sequence, not %s" % (what, type(obj).__name__))
        items = list(obj)
        data, kind = _from_objects(items, what)
        return Column(data, kind, name, dates=(kind == "date"))
    if arr.ndim != 1:
        raise ValueError("%s must be one-dimensional, not of shape %s" % (what, arr.shape))
    dt = arr.dtype
    if dt == np.float64 or dt == np.int64:
        return Column(np.ascontiguousarray(arr), "number", name)  # no copy when already contiguous
    if dt.kind in "iuf":
        return Column(arr.astype(np.float64), "number", name)
    if dt.kind == "M":
        return Column(_date_texts(arr), "date", name, dates=True)
    if dt.kind in "US":
        return Column([x.decode() if isinstance(x, bytes) else x for x in arr.tolist()], "text", name)
    if dt.kind == "O":
        data, kind = _from_objects(arr.tolist(), what)
        return Column(data, kind, name, dates=(kind == "date"))
    raise TypeError("%s has dtype %s: give numbers, texts or dates" % (what, dt))


def numbers_only(col, what, analysis):
    if col.kind != "number":
        raise TypeError("%s needs numbers; %s holds %ss" % (analysis, what, col.kind))
    return col


def check_finite(col, what):
    """Infinite numbers are refused, never read as a value (NaN is a null)."""
    data = col.data
    if isinstance(data, np.ndarray) and data.dtype == np.float64:
        bad = np.isinf(data)
        if bad.any():
            i = int(np.argmax(bad))
            raise ValueError("%s[%d] is %r: infinite numbers cannot be analysed" % (what, i, float(data[i])))


def weights_column(obj, n, what="weights"):
    """A float64 weight (or target) array as long as the values; None stays None."""
    if obj is None:
        return None
    col = column(obj, what)
    if col.kind != "number":
        raise TypeError("%s must be numbers; it holds %ss" % (what, col.kind))
    data = col.data
    if data.dtype != np.float64:
        data = data.astype(np.float64)
    if len(data) != n:
        raise ValueError("%s has %d elements but the values have %d" % (what, len(data), n))
    col.data = data
    check_finite(col, what)
    return data
