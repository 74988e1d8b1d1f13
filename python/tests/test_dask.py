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


@pytest.mark.parametrize("analysis", ["outlier", "bivariate"])
def test_outlier_and_bivariate_on_the_cluster(client, frame, analysis):
    ddf = dd.from_pandas(frame, npartitions=4)
    try:
        if analysis == "outlier":
            merged = qelstats.dask.outlier(ddf["i"], ddf["w"], rule="std", parm=2)
            single = qelstats.outlier(frame["i"], frame["w"], rule="std", parm=2)
        else:
            merged = qelstats.dask.bivariate(ddf["i"], ddf["y"], bins=10)
            single = qelstats.bivariate(frame["i"], frame["y"], bins=10)
    except NotImplementedError as e:
        pytest.skip(str(e))
    agree(single, merged)
    pd.testing.assert_frame_equal(single.ResultSet, merged.ResultSet, check_exact=False, rtol=1e-12)
