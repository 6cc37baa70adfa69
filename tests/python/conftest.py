# What the tests of the Python module share: the command-line program they compare with,
# the examples copied into a scratch folder (a run writes beside its input), and
# SOURCE_DATE_EPOCH so that listings and plots of two runs can be compared byte by byte.
import os
import shutil
import subprocess
from pathlib import Path

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
