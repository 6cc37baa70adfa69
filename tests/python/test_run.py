# kaven.run is the command line's run: the same files byte for byte, and arrays and a
# summary that hold what the CSV files, the .cal file and the JSON summary hold.
import csv
import json
import math

import numpy as np
import pytest

import kaven
from conftest import command_line

OUTPUTS = ["run.out", "run-events.csv", "run-scan.csv", "run.json"]


def read_csv(path):
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    return rows[0], rows[1:]


def column_values(values, array):
    """A CSV column read as the array's type: the float32 a shortest decimal stands for."""
    if array.dtype.kind == "U":
        return np.array(values, dtype=str)
    if array.dtype.kind == "i":
        return np.array([int(v) for v in values], dtype=array.dtype)
    return np.array([float(v) if v else math.nan for v in values]).astype(array.dtype)


def assert_table_equals_csv(table, path):
    header, rows = read_csv(path)
    assert list(table) == header
    for i, name in enumerate(header):
        expected = column_values([row[i] for row in rows], table[name])
        np.testing.assert_array_equal(table[name], expected, err_msg=name)


@pytest.mark.parametrize("name, input", [("yig", "yig.inp"), ("si", "si222-scan.inp")])
def test_run_writes_what_the_command_line_writes(example, name, input):
    folder = example(name)
    assert command_line(folder / input, folder / "run.out", "--csv", "--json") == 0
    written = {f: (folder / f).read_bytes() for f in OUTPUTS}
    cal = folder / (json.loads(written["run.json"])["files"]["calculated_scan"])
    plot = folder / (json.loads(written["run.json"])["files"]["plot"])
    written_cal, written_plot = cal.read_bytes(), plot.read_bytes()

    r = kaven.run(folder / input, folder / "run.out", csv=True, json=True)

    # The same run: every file the command line wrote, again, byte for byte.
    for f in OUTPUTS:
        assert (folder / f).read_bytes() == written[f], f
    assert cal.read_bytes() == written_cal and plot.read_bytes() == written_plot
    assert r.status == "complete" and r.stop_message == ""
    assert r.listing == str(folder / "run.out")
    assert r.summary == json.loads(written["run.json"])

    # The arrays are the CSV files' columns, in the stored precision.
    assert len(r.events["psi"]) == r.summary["counts"]["events_listed"] > 0
    assert_table_equals_csv(r.events, folder / "run-events.csv")
    assert_table_equals_csv(r.scan, folder / "run-scan.csv")
    assert r.scan["psi"].dtype == np.float64 and r.events["h1"].dtype == np.int32
    assert np.isnan(r.scan["measured"]).any() and not np.isnan(r.scan["measured"]).all()

    # ... and the .cal file's two columns (F10.3, F20.4).
    cal_values = np.loadtxt(cal)
    np.testing.assert_allclose(r.scan["psi"], cal_values[:, 0], rtol=0, atol=0.0005)
    np.testing.assert_allclose(r.scan["calculated"], cal_values[:, 1], rtol=0, atol=0.00005)


def test_run_text_takes_relative_names_from_its_folder(example):
    folder = example("yig")
    text = (folder / "yig-sim.inp").read_text()
    from_file = kaven.run(folder / "yig-sim.inp", folder / "file.out")
    listing = (folder / "file.out").read_bytes()

    r = kaven.run_text(text, folder)
    assert r.listing == str(folder / "kaven.out")
    assert (folder / "kaven.out").read_bytes() == listing
    assert r.summary["input_file"] is None
    assert r.summary["files"]["plot"] == str(folder / "yig.ps")
    for name, values in from_file.events.items():
        np.testing.assert_array_equal(values, r.events[name], err_msg=name)
    np.testing.assert_array_equal(from_file.scan["calculated"], r.scan["calculated"])
    assert np.isnan(r.scan["measured"]).all()

    # The exports are named after the listing the caller chose.
    r = kaven.run_text(text, folder, output=folder / "notebook.out", json=True)
    assert json.loads((folder / "notebook.json").read_text())["files"]["listing"] == r.listing


def test_a_run_that_stops_early_is_a_result(example):
    folder = example("yig")
    lines = (folder / "yig-sim.inp").read_text().splitlines(keepends=True)
    lines[5] = "-66.   190. 50  0  1. 0.\n"  # psi beyond 180 degrees for a tube
    r = kaven.run_text("".join(lines), folder, csv=True, json=True)
    assert r.status == "stopped"
    assert r.stop_message == "Psi-range is out of -180. to 180."
    assert r.summary["stop_message"] == [r.stop_message]
    assert r.summary["status"] == "stopped"
    assert all(len(v) == 0 for v in r.scan.values())
    assert all(len(v) == 0 for v in r.events.values())
    assert r.events["crossing"].dtype.kind == "U"
    assert not (folder / "kaven-scan.csv").exists()  # as the command line: no scan CSV
    assert "Psi-range is out of -180. to 180." in r.messages
