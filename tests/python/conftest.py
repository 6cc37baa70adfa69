# What the tests of the Python module share: the command-line program they compare with,
# the examples copied into a scratch folder (a run writes beside its input), and
# SOURCE_DATE_EPOCH so that listings and plots of two runs can be compared byte by byte.
import csv
import math
import os
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest

SOURCE_DIR = Path(os.environ.get("KAVEN_SOURCE_DIR", Path(__file__).resolve().parents[2]))
KAVEN_BINARY = os.environ.get("KAVEN_BINARY", str(SOURCE_DIR / "build" / "kaven"))
EXAMPLES = SOURCE_DIR / "examples"


@pytest.fixture(autouse=True)
def fixed_date(monkeypatch):
    monkeypatch.setenv("SOURCE_DATE_EPOCH", "0")


@pytest.fixture
def example(tmp_path):
    """Copies examples/NAME into the scratch folder and returns the copy's path."""

    def copy(name):
        dest = tmp_path / name
        # the inputs and scans only, not what a run of the example left there
        shutil.copytree(EXAMPLES / name, dest, ignore=shutil.ignore_patterns(
            "*.out", "*.cal", "*.ps", "*.svg", "*.csv", "*.json", "*.png"))
        return dest

    return copy


def command_line(*args, cwd=None):
    """Runs the kaven program; returns its exit status."""
    return subprocess.run([KAVEN_BINARY, *map(str, args)], cwd=cwd, capture_output=True,
                          text=True).returncode


def read_csv(path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    return rows[0], rows[1:]


def column_values(values, array):
    """A CSV column read as the array's type: the float32 a shortest decimal stands for."""
    if array.dtype.kind == "U":
        return np.array(values, dtype=str)
    if array.dtype.kind == "i":  # an empty count (an energy out of reach) is 0
        return np.array([int(v) if v else 0 for v in values], dtype=array.dtype)
    return np.array([float(v) if v else math.nan for v in values]).astype(array.dtype)


def assert_table_equals_csv(table, path, keep=lambda row: True):
    """The arrays hold the CSV file's columns (of the rows `keep` takes)."""
    header, rows = read_csv(path)
    rows = [row for row in rows if keep(row)]
    assert list(table) == header
    for i, name in enumerate(header):
        expected = column_values([row[i] for row in rows], table[name])
        np.testing.assert_array_equal(table[name], expected, err_msg=name)
