"""On the same doubles the module gives what `qelstats --json` gives, bit for
bit: the two demonstration files, weighted and not, all three analyses."""

import json
import os
import pathlib
import subprocess

import numpy as np
import pandas as pd
import pytest

import qelstats

CLI = pathlib.Path(os.environ.get("QEL_BINARY_DIR", "")) / "bin" / "qelstats"
pytestmark = pytest.mark.skipif(not CLI.exists(), reason="the qelstats command is not built")

CASES = [
    ("BaseBall.csv", "Salary", "AB", "Age", None),
    ("BaseBall.csv", "Salary", "AB", "Age", "G"),
    ("BaseBall.csv", "AVG", "Salary", "Team", "Seasons"),
    ("College.csv", "AdmitRate", "GradRate", "SAT_Avg", None),
    ("College.csv", "Earnings10yr", "NetPrice", "State", "PellShare"),
]


def cli(*args):
    run = subprocess.run([str(CLI), *args, "--json", "--no-progress"], capture_output=True, text=True)
    assert run.returncode in (0, 1), run.stderr
    return json.loads(run.stdout)


def same(a, b):
    return a == b or (isinstance(a, float) and isinstance(b, float) and np.isnan(a) and np.isnan(b))


def check(result, expected):
    assert result.ok == expected["Run"]
    for name in result.names:
        if name in expected:
            assert same(getattr(result, name), expected[name]), name
    table = expected["ResultSet"]
    if table is None:
        assert result.ResultSet is None
        return
    ours = result.ResultSet
    for i, column in enumerate(table["columns"]):
        cells = [row[i] for row in table["rows"]]
        for mine, theirs in zip(ours[column].tolist(), cells):
            if theirs in (None, ""):
                assert mine is None or (isinstance(mine, float) and np.isnan(mine))
            elif isinstance(mine, str):
                assert mine == str(theirs)
            else:
                assert float(mine) == float(theirs), column


@pytest.mark.parametrize("file, field, target, predictor, weight", CASES)
def test_module_equals_command_line(datasets, file, field, target, predictor, weight):
    path = datasets / file
    # round_trip: pandas reads each number to the double the library reads.
    df = pd.read_csv(path, float_precision="round_trip")
    w = ["--weight", weight] if weight else []
    weights = df[weight] if weight else None

    check(qelstats.univariate(df[field], weights), cli("univariate", "--csv", str(path), "--field", field, *w))
    for rule, parm in (("std", "2"), ("tmean", "10")):
        check(qelstats.outlier(df[field], weights, rule=rule, parm=float(parm)),
              cli("outlier", "--csv", str(path), "--field", field, *w, "--rule", rule, "--parm", parm))
    check(qelstats.bivariate(df[predictor], df[target], weights, bins=10),
          cli("bivariate", "--csv", str(path), "--predictor", predictor, "--target", target, *w, "--bins", "10"))
