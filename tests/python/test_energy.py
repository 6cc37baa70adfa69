# kaven.energy_map and kaven.energy_scan are the command line's --energy-map and
# --energy-scan: the same files byte for byte, and arrays that hold what their CSV files
# hold. The grid reaches down to 3 keV, where Si 2 2 2 is out of reach.
import json

import numpy as np
import pytest

import kaven
from conftest import assert_table_equals_csv, command_line, read_csv

GRID = (3, 22.3, 4)


def test_energy_map_is_the_command_lines_map(example):
    folder = example("si")
    assert command_line(folder / "si222.inp", folder / "run.out", "--json", "--energy-map", *GRID) == 0
    names = ["run-map.csv", "run-map.ps", "run-map.svg"]
    written = {n: (folder / n).read_bytes() for n in names}
    summary = json.loads((folder / "run.json").read_text())

    stages = set()
    m = kaven.energy_map(folder / "si222.inp", *GRID, output=folder / "run.out", json=True,
                         progress=lambda stage, fraction: stages.add(stage))
    for n in names:
        assert (folder / n).read_bytes() == written[n], n
    assert "energy map" in stages
    assert m.summary == summary["energy_map"] == m.result.summary["energy_map"]
    assert [f for _, f in m.files] == [str(folder / n) for n in names]
    assert m.result.status == "complete"

    # The event rows are the CSV's rows without a note; each energy of the grid has its
    # count of them, and the note of the CSV where it has none.
    assert_table_equals_csv(m.rows, folder / "run-map.csv", keep=lambda row: row[-1] == "")
    _, rows = read_csv(folder / "run-map.csv")
    energies = list(dict.fromkeys(float(row[0]) for row in rows))
    np.testing.assert_array_equal(m.energies["energy_kev"], energies)
    assert list(m.energies["events"]) == [sum(1 for r in rows if float(r[0]) == e and r[-1] == "")
                                          for e in energies]
    noted = {float(r[0]): r[-1] for r in rows if r[-1]}
    assert noted == {3.0: "primary reflection out of reach"}
    assert list(m.energies["note"]) == [noted.get(e, "") for e in energies]
    assert m.energies["wavelength"].dtype == np.float32 and m.rows["h1"].dtype == np.int32


def test_energy_scan_is_the_command_lines_scan(example):
    folder = example("si")
    assert command_line(folder / "si222.inp", folder / "run.out", "--energy-scan", 177.5, *GRID) == 0
    names = ["run-escan.csv", "run-escan.svg"]
    written = {n: (folder / n).read_bytes() for n in names}

    s = kaven.energy_scan(folder / "si222.inp", 177.5, *GRID, output=folder / "run.out")
    for n in names:
        assert (folder / n).read_bytes() == written[n], n
    assert_table_equals_csv(s.rows, folder / "run-escan.csv")
    assert np.isnan(s.rows["intensity"][0]) and s.rows["crossings"][0] == 0

    # The shares are the crossings the CSV's events column names, in its order.
    sh = s.shares
    for i, text in enumerate(s.rows["events"]):
        mine = np.flatnonzero(sh["energy_index"] == i)
        assert np.all(sh["energy_kev"][mine] == s.rows["energy_kev"][i])
        said = ["%d %d %d %s %s %+.5g" % (sh["h1"][j], sh["k1"][j], sh["l1"][j], sh["crossing"][j],
                                          sh["psi"][j], sh["cps"][j]) for j in mine]
        assert "; ".join(said) == text
    assert len(sh["cps"]) > 3 and sh["psi"].dtype == np.float32


def test_plans_refuse_what_the_command_line_refuses(example):
    yig = example("yig")
    with pytest.raises(kaven.InputError, match="X-ray tube, whose energy is fixed"):
        kaven.energy_map(yig / "yig-sim.inp", 8, 9, 3)
    with pytest.raises(kaven.InputError, match="0 .. 360"):
        kaven.energy_scan(example("si") / "si222.inp", 400, 8, 9, 3)
    assert not (yig / "yig-sim.out").exists()  # nothing written
    with pytest.raises(ValueError):
        kaven.energy_map(yig / "yig-sim.inp", 9, 8, 3)
    with pytest.raises(ValueError):
        kaven.energy_scan(yig / "yig-sim.inp", 10, 8, 9, 1)
