# The example script of the README runs and draws its PNG (when matplotlib is there).
import os
import subprocess
import sys

import pytest

import kaven
from conftest import SOURCE_DIR


def test_renninger_example_prints_events_and_draws_the_scan(example):
    pytest.importorskip("matplotlib")
    folder = example("yig")
    png = folder / "scan.png"
    env = dict(os.environ, PYTHONPATH=os.path.dirname(kaven.__file__))
    out = subprocess.run([sys.executable, SOURCE_DIR / "examples/python/renninger.py",
                          folder / "yig.inp", png], env=env, capture_output=True, text=True,
                         check=True).stdout.splitlines()
    assert out[0] == "YIG - KAVEN99: 16 events listed"
    strongest = [line.split() for line in out[2:7]]
    assert [row[8] for row in strongest] == ["7.217", "7.217", "5.441", "5.441", "5.441"]
    assert out[7] == f"scan drawn in {png}"
    assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and png.stat().st_size > 20000
