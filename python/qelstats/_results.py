"""Result objects: the statistics as attributes under the classes' property
names (``r.Mean``, ``r.Q1``, ``r.PSI``), ``r.ok`` (what Run returned),
``r.reason`` (why it stopped) and the result table as a pandas DataFrame."""

try:
    import pandas as _pd
except ImportError:  # pragma: no cover
    _pd = None


def _table(raw):
    if raw is None:
        return None
    columns, rows = raw["columns"], raw["rows"]
    data = {c: [r[i] for r in rows] for i, c in enumerate(columns)}
    for c in ("Bin",):
        if c in data and all(isinstance(v, float) and v.is_integer() for v in data[c]):
            data[c] = [int(v) for v in data[c]]
    if _pd is None:
        return data
    return _pd.DataFrame(data, columns=columns)


class Result:
    """The outcome of one analysis.

    Attributes
    ----------
    ok : bool
        What the class's Run returned: True when the analysis ran to its end.
    reason : str
        Why it stopped, in one line; empty when ``ok``.
    ResultSet : pandas.DataFrame or None
        The result table (outlier and bivariate analyses); a dict of lists
        when pandas is absent; None when the run gave no table.
    messages : list of str
        The texts of the message boxes the run showed.
    <Name> : float
        Every result property under its own name (``N``, ``Mean``, ``Q1``, ...).
    """

    def __init__(self, analysis, raw):
        self._analysis = analysis
        self._stats = dict(raw["stats"])
        self.ok = bool(raw["ok"])
        self.reason = raw["reason"]
        self.messages = list(raw.get("messages", []))
        self.ResultSet = _table(raw.get("table"))
        if raw.get("categorical") is not None:
            self._stats["Categorical"] = bool(raw["categorical"])

    def __getattr__(self, name):
        stats = self.__dict__.get("_stats", {})
        if name in stats:
            return stats[name]
        raise AttributeError("%s result has no property %r (it has %s)"
                             % (self.__dict__.get("_analysis", "an"), name, ", ".join(stats)))

    def __dir__(self):
        return sorted(set(super().__dir__()) | set(self._stats))

    @property
    def names(self):
        """The result properties' names, in the class's reading order."""
        return list(self._stats)

    def to_dict(self):
        """The properties, ``Run`` (what Run returned) and ``ResultSet`` as a dict."""
        d = {"Run": self.ok}
        d.update(self._stats)
        table = self.ResultSet
        if _pd is not None and isinstance(table, _pd.DataFrame):
            table = table.to_dict(orient="list")
        d["ResultSet"] = table
        if not self.ok:
            d["error"] = self.reason
        return d

    def __repr__(self):
        head = "<qelstats %s %s" % (self._analysis, "ok" if self.ok else "stopped: %s" % (self.reason or "Run returned False"))
        body = ", ".join("%s=%s" % (k, ("%.15g" % v) if isinstance(v, float) else v) for k, v in self._stats.items())
        rows = ""
        if self.ResultSet is not None:
            n = len(self.ResultSet) if _pd is not None and isinstance(self.ResultSet, _pd.DataFrame) else \
                len(next(iter(self.ResultSet.values()), []))
            rows = ", ResultSet: %d rows" % n
        return "%s: %s%s>" % (head, body, rows)
