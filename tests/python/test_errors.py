# What the command line reports as exit status 1 is an exception: InputError with the
# listing's message for a value of the input, OSError (with the file's name) for a file.
import pytest

import kaven


def yig_lines(folder):
    return (folder / "yig-sim.inp").read_text().splitlines(keepends=True)


def test_malformed_input_raises_input_error_with_the_listings_message(example):
    folder = example("yig")
    lines = yig_lines(folder)
    lines[2] = "12.380  twelve  12.380   90. 90. 90.\n"
    (folder / "bad.inp").write_text("".join(lines))
    with pytest.raises(kaven.InputError) as e:
        kaven.run(folder / "bad.inp")
    assert isinstance(e.value, ValueError)
    assert str(e.value) == "read-error in the third line of the input-file"
    assert e.value.listing == str(folder / "bad.out")
    assert str(e.value) in (folder / "bad.out").read_text()


def test_files_raise_os_errors(example, tmp_path):
    folder = example("yig")
    with pytest.raises(FileNotFoundError) as e:
        kaven.run(tmp_path / "missing.inp")
    assert e.value.filename == str(tmp_path / "missing.inp")

    # A plot file in a folder that does not exist: the run ends before the cell.
    lines = yig_lines(folder)
    lines[1] = "nowhere/yig.ps\n"
    with pytest.raises(FileNotFoundError) as e:
        kaven.run_text("".join(lines), folder)
    assert e.value.filename == str(folder / "nowhere/yig.ps")
    assert e.value.listing == str(folder / "kaven.out")
    assert "there is no such file or directory" in (folder / "kaven.out").read_text()

    # The listing would replace a file kaven did not write: refused, nothing written.
    (folder / "notes.out").write_text("my notes\n")
    with pytest.raises(OSError) as e:
        kaven.run(folder / "yig-sim.inp", folder / "notes.out")
    assert str(e.value).startswith(str(folder / "notes.out"))
    assert "not a listing written by kaven" in str(e.value)
    assert (folder / "notes.out").read_text() == "my notes\n"

    with pytest.raises(OSError):
        kaven.run_text(lines[0], tmp_path / "no folder")


def test_arguments_of_the_wrong_type_raise_type_error():
    with pytest.raises(TypeError):
        kaven.run(42)
    with pytest.raises(TypeError):
        kaven.run_text(None, ".")
    with pytest.raises(TypeError, match="callable"):
        kaven.run_text("", ".", progress="50%")
