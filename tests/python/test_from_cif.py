# kaven.from_cif returns the text that `kaven --from-cif` writes, with the same options.
import pytest

import kaven
from conftest import EXAMPLES, SOURCE_DIR, command_line


def converted(tmp_path, cif, *options):
    out = tmp_path / "NEW.inp"
    assert command_line("--from-cif", cif, *options, "-o", out) == 0
    return out.read_text()


def test_from_cif_equals_the_command_lines_file(tmp_path):
    zro2 = EXAMPLES / "zro2" / "zro2-p21n.cif"
    assert kaven.from_cif(zro2, (1, 1, 1), radiation="Mo") == \
        converted(tmp_path, zro2, "--hkl", "1", "1", "1", "--radiation", "Mo")

    # Every keyword as its option of the command line.
    si = EXAMPLES / "si" / "si.cif"
    ub = [[-0.07, -0.03, 0.01], [0.03, -0.06, 0.03], [-0.006, 0.03, 0.07]]
    with pytest.warns(UserWarning, match="'Siv'"):
        text = kaven.from_cif(
            si, [2, 2, 2], wavelength=0.7, synchrotron=True, output="si-222.inp",
            polarisation="pi", monochromator=(5.6, 2, 2, 0, 40.5), divergence=(0.01, 0.02),
            crystal_radius=80, block_radius=2.5, mosaic=0.01, psi=(10, 100),
            steps_per_degree=20, interference=1, drumin=0.5, zeimax=3000,
            primary_interval=(10, 11), ub=ub, scan="si.dat", title="Si 222 at 0.7 A")
    assert text == converted(
        tmp_path, si, "--hkl", "2", "2", "2", "--wavelength", "0.7", "--synchrotron",
        "--polarisation", "pi", "--monochromator", "5.6", "2", "2", "0", "40.5",
        "--divergence", "0.01", "0.02", "--crystal-radius", "80", "--block-radius", "2.5",
        "--mosaic", "0.01", "--psi", "10", "100", "--steps-per-degree", "20",
        "--interference", "1", "--drumin", "0.5", "--zeimax", "3000",
        "--primary-interval", "10", "11", "--ub", *[str(x) for row in ub for x in row],
        "--scan", "si.dat", "--title", "Si 222 at 0.7 A", "--plot", "si-222.ps")
    assert not (tmp_path / "si-222.inp").exists()


def test_from_cif_errors(tmp_path):
    yig = EXAMPLES / "yig" / "yig.cif"
    with pytest.raises(FileNotFoundError):
        kaven.from_cif(tmp_path / "missing.cif", (8, 8, 2), radiation="Ag")
    with pytest.raises(IsADirectoryError):
        kaven.from_cif(tmp_path, (8, 8, 2), radiation="Ag")
    # what the converter refuses: a reflection beyond the Ewald sphere, a value a run
    # would refuse
    with pytest.raises(kaven.CifError, match="cannot be reached"):
        kaven.from_cif(yig, (40, 40, 40), radiation="Cu")
    with pytest.raises(kaven.CifError, match="crystal radius -1 is not a positive number"):
        kaven.from_cif(yig, (8, 8, 2), radiation="Ag", crystal_radius=-1)
    (tmp_path / "empty.cif").write_text("data_x\n_cell_length_a 5\n")
    with pytest.raises(kaven.CifError):
        kaven.from_cif(tmp_path / "empty.cif", (1, 1, 1), radiation="Cu")
    # what the command line refuses as usage
    with pytest.raises(ValueError, match="synchrotron"):
        kaven.from_cif(yig, (8, 8, 2), wavelength=0.7)
    with pytest.raises(ValueError):
        kaven.from_cif(yig, (8, 8, 2), radiation="Ag", polarisation="circular")
    with pytest.raises(ValueError):
        kaven.from_cif(yig, (8, 8, 2), radiation="Ag", psi=(0, 10, 20))
    with pytest.raises(TypeError, match="steps"):
        kaven.from_cif(yig, (8, 8, 2), radiation="Ag", steps=20)


def test_from_cif_warns_of_what_it_mended():
    # a database export with tags given twice and a symbol of several words unquoted
    quirks = SOURCE_DIR / "tests" / "data" / "cif" / "nacl-quirks.cif"
    with pytest.warns(UserWarning) as said:
        kaven.from_cif(quirks, (2, 0, 0), radiation="Cu")
    texts = [str(w.message) for w in said]
    assert any(t.endswith("line 11: _chemical_formula_sum appears again (first on line 10); "
                          "the first value is taken") for t in texts)
    assert any("'F m -3 m'" in t for t in texts)
