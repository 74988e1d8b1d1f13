import os
import pathlib

import pytest

SOURCE_DIR = pathlib.Path(os.environ.get("QEL_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
DATASETS = SOURCE_DIR / "VesquinDemo" / "datasets"


@pytest.fixture(scope="session")
def datasets():
    return DATASETS
