# A run releases the GIL: runs go on side by side in threads, and the interpreter goes on
# meanwhile. The progress path takes the GIL for the callback and notices Ctrl-C, which
# cancels the run as the desktop program does; KeyboardInterrupt follows the run's end.
import os
import signal
import threading

import numpy as np
import pytest

import kaven


def test_runs_in_threads_beside_each_other(example):
    yig, si = example("yig"), example("si")
    alone = {"yig": kaven.run(yig / "yig-sim.inp", yig / "alone.out"),
             "si": kaven.run(si / "si222.inp", si / "alone.out")}
    results, errors = {}, []

    def run(name, path, output):
        try:
            results[name] = kaven.run(path, output, threads=1)
        except BaseException as e:  # reported by the main thread
            errors.append(e)

    threads = [threading.Thread(target=run, args=("yig", yig / "yig-sim.inp", yig / "t.out")),
               threading.Thread(target=run, args=("si", si / "si222.inp", si / "t.out"))]
    for t in threads:
        t.start()
    spins = 0
    while any(t.is_alive() for t in threads):
        spins += 1  # the interpreter runs while the runs compute
    for t in threads:
        t.join()
    assert not errors
    assert spins > 1000
    for name, r in results.items():
        assert r.status == "complete"
        for column, values in alone[name].events.items():
            np.testing.assert_array_equal(values, r.events[column], err_msg=column)
        np.testing.assert_array_equal(alone[name].scan["calculated"], r.scan["calculated"])
    assert (yig / "t.out").read_bytes() == (yig / "alone.out").read_bytes()


def test_progress_callback_sees_the_stages(example):
    folder = example("yig")
    seen = []
    r = kaven.run(folder / "yig-sim.inp", progress=lambda stage, f: seen.append((stage, f)))
    assert r.status == "complete"
    stages = [s for s, _ in seen]
    assert stages[0] == "event search" and stages[-1] == "scan simulation"
    assert stages.index("scan simulation") > stages.count("event search") - 1
    for stage in ("event search", "scan simulation"):
        fractions = [f for s, f in seen if s == stage]
        assert fractions == sorted(fractions) and 0 < fractions[0] and fractions[-1] == 1


def test_an_exception_of_the_callback_cancels_the_run(example):
    folder = example("yig")

    def stop(stage, fraction):
        raise RuntimeError("enough")

    with pytest.raises(RuntimeError, match="enough"):
        kaven.run(folder / "yig-sim.inp", folder / "cb.out", progress=stop)
    listing = (folder / "cb.out").read_text()
    assert listing.rstrip().endswith("The run was cancelled.")


def test_ctrl_c_cancels_the_run_and_raises_keyboard_interrupt(example):
    # SIGINT arrives from another thread once the run is under way; no callback: the
    # module's own signal check in the progress path notices it.
    folder = example("yig")

    def interrupt():
        # the plot file is opened as the run begins, well before the event search: its
        # page goes to a hidden temporary file beside the name until it is whole
        while not any(folder.glob(".yig.ps.*.tmp")):
            threading.Event().wait(0.002)
        os.kill(os.getpid(), signal.SIGINT)

    t = threading.Thread(target=interrupt)
    t.start()
    with pytest.raises(KeyboardInterrupt):
        kaven.run(folder / "yig-sim.inp", folder / "int.out", threads=1)
    t.join()
    listing = (folder / "int.out").read_text()
    assert listing.rstrip().endswith("The run was cancelled.")
    assert not (folder / "yig.cal").exists()
