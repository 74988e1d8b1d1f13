"""The Dask submodule on a two-worker LocalCluster on 127.0.0.1: results
equal the single-process module's for any partitioning (identical counts,
order statistics and whole-number sums; fractional sums within 1e-12)."""

import numpy as np
import pandas as pd
import pytest

dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")

import qelstats  # noqa: E402
import qelstats.dask  # noqa: E402

# Results that are sums of fractional values (fractional weights too) or derive from them.
FRACTIONAL = {"WgtN", "Sum", "SumWgt", "Mean", "Variance", "Stdev", "CV", "TrimmedMean", "Skewness", "Kurtosis",
              "TargetMean", "PSI"}


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as c:
        yield c


@pytest.fixture(scope="module")
def frame():
    rng = np.random.default_rng(7)
    n = 20_000
    return pd.DataFrame({
        "x": rng.normal(50, 10, n).round(2),
        "i": rng.integers(0, 500, n),
        "w": rng.integers(1, 4, n).astype(float),
        "f": rng.random(n).round(3) + 0.5,
        "y": rng.normal(0, 1, n),
    })


def agree(single, merged, exact_all=False):
    assert single.ok == merged.ok
    for name in single.names:
        a, b = getattr(single, name), getattr(merged, name)
        if exact_all or name not in FRACTIONAL:
            assert a == b, name
        else:
            # Skewness and kurtosis near 0 are differences of nearly equal
            # sums: their error is small against 1, not against themselves.
            tolerance = 1e-12 if name in ("Skewness", "Kurtosis") else 1e-300
            assert b == pytest.approx(a, rel=1e-12, abs=tolerance), name


@pytest.mark.parametrize("partitions", [1, 3, 8])
def test_univariate_on_the_cluster(client, frame, partitions):
    ddf = dd.from_pandas(frame, npartitions=partitions)
    agree(qelstats.univariate(frame["i"]), qelstats.dask.univariate(ddf["i"]), exact_all=True)
    agree(qelstats.univariate(frame["i"], frame["w"]), qelstats.dask.univariate(ddf["i"], ddf["w"]), exact_all=True)
    agree(qelstats.univariate(frame["x"], frame["f"]), qelstats.dask.univariate(ddf["x"], ddf["f"], split_every=2))


def test_tally_bytes_pickle_and_refuse_others(frame):
    import pickle
    data = qelstats.dask._part_bytes(frame.rename(columns={"x": "v"}), "univariate")
    assert pickle.loads(pickle.dumps(data)) == data and len(data) < 40 * frame["x"].nunique() + 4096
    with pytest.raises(ValueError):
        qelstats._qelstats.merge_tally_bytes("univariate", data, b"S" + data[1:])


@pytest.mark.parametrize("partitions", [1, 4])
def test_outlier_on_the_cluster(client, frame, partitions):
    ddf = dd.from_pandas(frame, npartitions=partitions)
    for rule, parm in (("std", 2), ("tmean", 10)):
        single = qelstats.outlier(frame["i"], frame["w"], rule=rule, parm=parm)
        merged = qelstats.dask.outlier(ddf["i"], ddf["w"], rule=rule, parm=parm, split_every=2)
        agree(single, merged, exact_all=True)
        pd.testing.assert_frame_equal(single.ResultSet, merged.ResultSet, check_exact=True)
    single = qelstats.outlier(frame["x"], frame["f"], rule="std", parm=1.5)
    merged = qelstats.dask.outlier(ddf["x"], ddf["f"], rule="std", parm=1.5)
    agree(single, merged)
    # The flags and counts follow from the sums, which agree to the last bits.
    pd.testing.assert_frame_equal(single.ResultSet, merged.ResultSet, check_exact=False, rtol=1e-12)
    with pytest.raises(ValueError):
        qelstats.dask.outlier(ddf["x"], rule="tmean", parm=0.5)


@pytest.fixture(scope="module")
def mixed():
    """Texts and dates with nulls; the first quarter of the texts is all null,
    so that a partition of them holds no text at all."""
    rng = np.random.default_rng(11)
    n = 8_000
    texts = pd.Series(rng.choice(["north", "south", "east", "west", "centre"], n), dtype=object)
    texts[: n // 4] = None
    texts[rng.random(n) < 0.05] = None
    days = pd.Series(pd.to_datetime("2020-01-01") + pd.to_timedelta(rng.integers(0, 40, n), unit="D"))
    days[rng.random(n) < 0.05] = pd.NaT
    return pd.DataFrame({"c": texts, "d": days, "y": rng.normal(10, 3, n).round(1), "w": rng.integers(1, 5, n) * 1.0})


@pytest.mark.parametrize("partitions", [1, 4])
def test_bivariate_on_the_cluster(client, frame, mixed, partitions):
    ddf = dd.from_pandas(frame, npartitions=partitions)
    for args, kwargs in ((("i", "y"), {"bins": 10}), (("x", "y"), {"bins": 7}),
                         (("i", "y"), {"bins": 10, "categorical": True})):
        single = qelstats.bivariate(frame[args[0]], frame[args[1]], frame["w"], **kwargs)
        merged = qelstats.dask.bivariate(ddf[args[0]], ddf[args[1]], ddf["w"], split_every=2, **kwargs)
        agree(single, merged)
        assert single.Categorical == merged.Categorical
        pd.testing.assert_frame_equal(single.ResultSet, merged.ResultSet, check_exact=False, rtol=1e-12)
    mdf = dd.from_pandas(mixed, npartitions=partitions)
    for predictor in ("c", "d"):
        single = qelstats.bivariate(mixed[predictor], mixed["y"], mixed["w"], bins=3)
        merged = qelstats.dask.bivariate(mdf[predictor], mdf["y"], mdf["w"], bins=3)
        assert single.ok and single.Categorical and merged.Categorical
        agree(single, merged)
        pd.testing.assert_frame_equal(single.ResultSet, merged.ResultSet, check_exact=False, rtol=1e-12)
