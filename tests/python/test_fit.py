# kaven.fit is the command line's --fit: the same files, and values that are those of its
# JSON file. The measured scan is planted: a run at a slightly other wavelength, scaled,
# on a background, with counting noise of a fixed seed (250 steps: a fit of a second).
import json
import math
import random

import numpy as np
import pytest

import kaven
from conftest import command_line

NOMINAL = """Si 222 - synchrotron, synthetic scan
si-syn.ps
5.4309  5.4309  5.4309  90. 90. 90.
1 0.5612  5.43 1 1 1 58.19
0.005  0.01  250.  20.  0.001
7. 9.5 100. 2  20. 0.
2  4  1
Siva 0.0522    0.0431
   1  1.  0.125  0.125  0.125
0.0039  0.0039  0.0039  0.  0.  0.
   1  1.  0.125  0.625  0.625
0.0039  0.0039  0.0039  0.  0.  0.
   1  1.  0.625  0.125  0.625
0.0039  0.0039  0.0039  0.  0.  0.
   1  1.  0.625  0.625  0.125
0.0039  0.0039  0.0039  0.  0.  0.
2  2  2   1.5    0. 7.0   7.1
0.18413  0.  0.
0.  0.18413  0.
0.  0.  0.18413
"""


@pytest.fixture
def planted(tmp_path):
    """The nominal input with a measured scan of the planted run; returns its path."""
    lines = NOMINAL.splitlines()
    lines[3] = "1 0.5613  5.43 1 1 1 58.19"
    r = kaven.run_text("\n".join(lines) + "\n", tmp_path, output=tmp_path / "planted.out")
    noise = random.Random(1)
    with open(tmp_path / "si-syn.obs", "w") as f:
        for psi, y in zip(r.scan["psi"], r.scan["calculated"]):
            y = 2 * float(y) + 50
            f.write("2 2 2 14.000 %.4f %.6f 1.0\n" % (psi, y + math.sqrt(y) * noise.gauss(0, 1)))
    (tmp_path / "fit.inp").write_text(NOMINAL + "si-syn.obs\n")
    return tmp_path / "fit.inp"


def json_number(v):
    return math.nan if v is None else v


def test_fit_is_the_command_lines_fit(planted):
    folder = planted.parent
    assert command_line(planted, folder / "run.out", "--fit", "psi,lambda_a,scale,background,slope") == 0
    files = ["run.out", "run-fit.json", "run-fit.inp"]
    before = {name: (folder / name).read_bytes() for name in files}
    written = json.loads(before["run-fit.json"])

    f = kaven.fit(planted, folder / "run.out", parameters=["psi", "lambda_a", "scale", "background", "slope"])

    # The same files again (the fit's time is 0 with SOURCE_DATE_EPOCH), and the JSON
    # file's content as a dict.
    for name in files:
        assert (folder / name).read_bytes() == before[name], name
    assert f.json == written
    assert f.fit_json == str(folder / "run-fit.json")
    assert f.refined_input == str(folder / "run-fit.inp") == written["refined_input"]
    assert f.result.status == "complete" and f.result.listing == str(folder / "run.out")

    assert f.status == written["status"] == "converged"
    for name, p in written["parameters"].items():
        for key, value in p.items():
            got = f.parameters[name][key]
            assert got == json_number(value) or (math.isnan(got) and value is None), (name, key)
    assert f.parameters["slope"]["refined"] and not f.parameters["eta"]["refined"]
    assert f.correlations["names"] == written["correlations"]["names"]
    np.testing.assert_array_equal(f.correlations["matrix"], np.array(written["correlations"]["matrix"], dtype=float))
    assert (f.R, f.R_weighted, f.chi2_per_dof, f.iterations) == \
        (written["R"], written["R_weighted"], written["chi2_per_dof"], written["iterations"])
    run = written["fit"]["refined_run"]
    assert (f.wavelength, f.energy_eV, list(f.cell), f.psid) == \
        (run["wavelength"], run["energy_eV"], run["cell"], run["psid"])

    # The peak tables: one element per feature with its strongest event.
    for table, features in ((f.peaks_before, written["peaks"]["before"]),
                            (f.peaks_after, written["peaks"]["after"])):
        assert len(features) > 0
        assert list(table["kind"]) == [p["kind"] for p in features]
        np.testing.assert_array_equal(table["psi"], [p["psi"] for p in features])
        assert list(table["events"]) == [len(p["events"]) for p in features]
        strongest = [p["events"][0] for p in features]
        assert [list(row) for row in zip(table["h1"], table["k1"], table["l1"])] == [e["secondary"] for e in strongest]
        assert [list(row) for row in zip(table["h2"], table["k2"], table["l2"])] == [e["coupling"] for e in strongest]
        np.testing.assert_array_equal(table["psi_calc"], [e["psi_calc"] for e in strongest])
    np.testing.assert_array_equal(f.peaks_after["psi_fitted_curve"],
                                  [json_number(p["psi_fitted_curve"]) for p in written["peaks"]["after"]])
    asymmetry = written["fit"]["asymmetry"]
    assert len(f.asymmetry["psi"]) == len(asymmetry) > 0
    for kind in ("measured", "with_interference", "without_interference"):
        values = [a[kind]["value"] if a[kind] else math.nan for a in asymmetry]
        np.testing.assert_array_equal(f.asymmetry[kind], values, err_msg=kind)
    assert list(f.asymmetry["signs_agree"]) == [a["signs_agree"] for a in asymmetry]

    for name, values in written["profile"].items():
        np.testing.assert_array_equal(f.profile[name], [json_number(v) for v in values], err_msg=name)
    assert len(f.profile["psi"]) == written["points"] == 251


def test_a_fit_that_cannot_be_made_is_a_failed_result(planted):
    folder = planted.parent
    (folder / "no-scan.inp").write_text(NOMINAL)
    f = kaven.fit(folder / "no-scan.inp")
    assert f.status == "failed" and "no measured scan" in f.message
    assert f.refined_input is None and f.fit_json == str(folder / "no-scan-fit.json")
    assert f.json["status"] == "failed" and f.parameters == {}
    assert math.isnan(f.R) and f.cell == () and len(f.profile["psi"]) == 0
    assert f.result.status == "complete"
    assert any("the fit failed" in m for m in f.result.messages)

    # The peak table alone: the planted peaks, each with an event near it.
    table = kaven.index_peaks(planted, folder / "index.out")
    assert table.noise > 0 and table.result.status == "complete"
    assert len(table.peaks["psi"]) >= 2 and "psi_fitted_curve" not in table.peaks
    assert np.all((7 < table.peaks["psi"]) & (table.peaks["psi"] < 9.5))
    assert np.all(table.peaks["events"] > 0) and np.all(abs(table.peaks["psi_obs_minus_calc"]) < 0.05)


def test_fit_arguments_are_checked_before_anything_is_written(planted):
    folder = planted.parent
    with pytest.raises(ValueError, match="wavelength_a"):
        kaven.fit(planted, parameters=["psi", "wavelength_a"])
    with pytest.raises(ValueError):
        kaven.fit(planted, parameters="psi,psi")
    with pytest.raises(ValueError, match="interference"):
        kaven.fit(planted, interference=-1)
    assert not (folder / "fit.out").exists()
    with pytest.raises(TypeError):
        kaven.fit(planted, parameters=3)
    with pytest.raises(FileNotFoundError):
        kaven.fit(folder / "missing.inp")


def test_the_callback_sees_the_fit_and_can_cancel_it(planted):
    folder = planted.parent

    def stop(stage, fraction):
        if stage == "fit":
            raise RuntimeError("enough")

    with pytest.raises(RuntimeError, match="enough"):
        kaven.fit(planted, folder / "c.out", progress=stop)
    listing = (folder / "c.out").read_text()
    assert "the fit was cancelled" in listing and listing.rstrip().endswith("The run was cancelled.")
    assert not (folder / "c-fit.inp").exists()
