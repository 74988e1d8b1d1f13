"""The three analyses over arrays, Series, DataFrames and tables: the worked
examples of the definitions, every input form, and the refusals."""

import math
import os
import signal
import threading

import numpy as np
import pandas as pd
import pytest

import qelstats


def test_univariate_worked_examples():
    r = qelstats.univariate([1, 2, 2, 3, 10])
    assert r.ok and r.reason == ""
    assert (r.N, r.Sum, r.Mean, r.Min, r.Max, r.Cardinality, r.Uniques) == (5, 18, 3.6, 1, 10, 4, 3)
    assert r.Variance == pytest.approx(13.3, rel=1e-15)
    assert (r.Q1, r.Median, r.Q3, r.Mode, r.TrimmedMean) == (2, 2, 3, 2, 2)
    assert r.Skewness == pytest.approx(2.02869910208, rel=1e-11)
    assert r.Kurtosis == pytest.approx(4.27214653174, rel=1e-11)
    # Weighted, with a null value and a null weight.
    w = qelstats.univariate([1, 2, 4, None, 3], weights=[2, 1, 1, 1, None])
    assert (w.N, w.WgtN, w.Missing, w.Mean, w.Variance, w.Median, w.Q3, w.Mode) == (3, 4, 2, 2, 2, 1.5, 2, 1)
    assert w.Kurtosis == pytest.approx(1.5)


def test_univariate_stops_and_says_why():
    r = qelstats.univariate([1.0, 2.0])  # total weight 2: the kurtosis correction divides by zero
    assert not r.ok and r.reason and r.Mean == 1.5 and r.Kurtosis == 0
    r = qelstats.univariate([np.nan, np.nan])
    assert not r.ok and r.Missing == 2 and r.N == 0
    assert "stopped" in repr(r)


def test_outlier_rules_and_table():
    r = qelstats.outlier([1, 2, 3, 4, 5], rule="std", parm=1)
    assert r.ok and (r.OutlierCountN, r.OutlierCountWgt) == (2, 2)
    assert list(r.ResultSet.columns) == ["Value", "N", "Weighted N", "Outlier"]
    assert list(r.ResultSet["Outlier"]) == [True, False, False, False, True]
    t = qelstats.outlier([1, 2, 3, 4, 5], rule="tmean", parm=50)
    assert t.TrimmedMean == 3.5 and t.OutlierCountN == 3
    w = qelstats.outlier([10, 20, 10], weights=[2, 1, 1])
    assert (w.N, w.WgtN, w.Sum, w.SumWgt, w.Mean, w.Variance) == (3, 4, 40, 50, 12.5, 25)
    assert w.ResultSet.values.tolist() == [[10, 2, 3, False], [20, 1, 1, False]]
    one = qelstats.outlier([7.0])  # total weight 1: the variance divides by zero, no table
    assert not one.ok and one.ResultSet is None


def test_bivariate_bins_text_and_dates():
    r = qelstats.bivariate(pd.Series(range(1, 11), name="Age"), pd.Series(np.arange(10.0), name="Salary"), bins=4)
    assert r.ok and not r.Categorical
    table = r.ResultSet
    assert list(table.columns) == ["Bin", "N", "Min Age", "Max Age", "Mean Salary", "Index"]
    assert list(table["N"]) == [3, 3, 2, 2] and list(table["Bin"]) == [1, 2, 3, 4]
    assert r.DI == 0
    text = qelstats.bivariate(pd.Series(["B", "A", "C", None], dtype="string"), [1.0, 2.0, 3.0, 4.0])
    assert text.Categorical and text.Missing == 1
    assert list(text.ResultSet["Min predictor"]) == ["A", "B", "C"]
    cat = qelstats.bivariate(pd.Series(["B", "A", "C", "A"], dtype="category"), [1.0, 2.0, 3.0, 4.0])
    assert list(cat.ResultSet["N"]) == [2, 1, 1]
    dates = qelstats.bivariate(pd.to_datetime(pd.Series(["2020-01-02", "2020-01-01 10:30", None])), [1.0, 2.0, 3.0])
    assert list(dates.ResultSet["Min predictor"]) == ["2020-01-01 10:30:00", "2020-01-02"]
    assert dates.Missing == 1


def test_input_forms_agree():
    x = np.array([3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5], dtype=np.int64)
    reference = qelstats.univariate(x.astype(np.float64)).to_dict()
    for form in (x, x.astype(np.int32), list(x), tuple(int(v) for v in x), pd.Series(x),
                 pd.Series(x, dtype="Int64"), x.astype(object)):
        assert qelstats.univariate(form).to_dict() == reference
    # pd.NA, None, NaN and NaT-free nullable data are nulls, counted in Missing.
    r = qelstats.univariate(pd.Series([1, None, 3], dtype="Int64"))
    assert (r.N, r.Missing) == (2, 1)
    df = pd.DataFrame({"Salary": [1.0, 2.0, 2.0, 3.0, 10.0], "W": [1.0] * 5})
    assert qelstats.univariate(df, field="Salary", weight="W").Mean == 3.6
    assert qelstats.bivariate(df, field="Salary", target="W", bins=2).N == 5


def test_tables_through_the_providers(datasets):
    conn = "Text;DBQ=" + str(datasets)
    r = qelstats.univariate(connection=conn, source="BaseBall.csv", field="Salary")
    assert r.ok and r.N == 920
    o = qelstats.outlier(connection=conn, source="BaseBall.csv", field="Salary", rule="tmean", parm=10)
    assert o.ok and len(o.ResultSet) == o.Cardinality
    b = qelstats.bivariate(connection=conn, source="BaseBall.csv", field="Team", target="Salary")
    assert b.Categorical and isinstance(b.ResultSet["Min Team"][0], str)
    with pytest.raises(ValueError, match="Salry"):
        qelstats.univariate(connection=conn, source="BaseBall.csv", field="Salry")
    with pytest.raises(TypeError):
        qelstats.univariate(connection=conn, source="BaseBall.csv", field="Team")
    with pytest.raises(ValueError):
        qelstats.univariate(connection=conn, source="NoSuchFile.csv", field="Salary")


@pytest.mark.parametrize("call, error, words", [
    (lambda: qelstats.univariate(["a", "b"]), TypeError, "text"),
    (lambda: qelstats.univariate(np.array([True, False])), TypeError, "bool"),
    (lambda: qelstats.univariate(np.zeros(3, dtype=complex)), TypeError, "complex"),
    (lambda: qelstats.univariate([1.0, 2.0], weights=[1.0]), ValueError, "elements"),
    (lambda: qelstats.univariate([1.0, 2.0], weights=["a", "b"]), TypeError, "weights"),
    (lambda: qelstats.univariate([]), ValueError, "empty"),
    (lambda: qelstats.univariate([1.0, math.inf]), ValueError, "infinite"),
    (lambda: qelstats.univariate([1.0, 2.0], weights=[1.0, -math.inf]), ValueError, "infinite"),
    (lambda: qelstats.univariate(np.zeros((2, 2))), ValueError, "one-dimensional"),
    (lambda: qelstats.univariate([1, "a"]), TypeError, "mixes"),
    (lambda: qelstats.outlier([1.0, 2.0], rule="median"), ValueError, "rule"),
    (lambda: qelstats.outlier([1.0, 2.0], rule="tmean", parm=0), ValueError, "1 and 100"),
    (lambda: qelstats.bivariate([1.0, 2.0], [1.0]), ValueError, "elements"),
    (lambda: qelstats.bivariate([1.0, 2.0], [1.0, 2.0], bins=0), ValueError, "bins"),
    (lambda: qelstats.bivariate([1.0, 2.0], ["x", "y"]), TypeError, "target"),
    (lambda: qelstats.univariate(pd.DataFrame({"a": [1.0]}), field="b"), ValueError, "no column"),
])
def test_bad_input_is_a_one_line_error(call, error, words):
    with pytest.raises(error) as info:
        call()
    message = str(info.value)
    assert "\n" not in message and words in message


def test_functions_scalar_vector_and_failure():
    assert qelstats.fn.ArcSin(0.5) == pytest.approx(math.pi / 6)
    assert qelstats.fn.ArcSin(1) == qelstats.fn.FAILURE == -9999999
    out = qelstats.fn.LogN(np.array([8.0, 9.0, 5.0]), np.array([2.0, 3.0, 1.0]))
    assert out[0] == pytest.approx(3) and out[1] == pytest.approx(2) and out[2] == -9999999
    assert qelstats.fn.DTOR(180) == 3.141592654
    assert qelstats.fn.Dist_Fctn(10, 20, 10, 20) == 0
    assert len([n for n in qelstats.fn.__all__ if n != "FAILURE"]) == 22
    with pytest.raises(TypeError, match="takes 4 arguments"):
        qelstats.fn.Dist_Fctn(1, 2)
    assert "Base N log" in qelstats.fn.LogN.__doc__


def test_results_read_as_properties_and_dicts():
    r = qelstats.outlier([1, 2, 3, 4, 5], parm=1)
    d = r.to_dict()
    assert d["Run"] is True and d["OutlierCountN"] == 2 and d["ResultSet"]["Value"] == [1, 2, 3, 4, 5]
    with pytest.raises(AttributeError, match="PSI"):
        r.PSI
    assert "OutlierCountN=2" in repr(r)
    assert "Parameters" in qelstats.univariate.__doc__ and "Examples" in qelstats.bivariate.__doc__


def test_progress_bar_and_interrupt(capsys):
    pytest.importorskip("tqdm")
    r = qelstats.univariate(np.arange(3_000_000, dtype=np.float64), progress=True)
    assert r.ok and r.N == 3_000_000
    big = np.random.default_rng(3).random(40_000_000)
    timer = threading.Timer(0.05, lambda: os.kill(os.getpid(), signal.SIGINT))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        qelstats.univariate(big)
    timer.join()
