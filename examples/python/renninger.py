#!/usr/bin/env python3
"""Runs the YIG example from Python, prints its five strongest events and draws the scan.

    PYTHONPATH=build/python python3 examples/python/renninger.py [INPUT [PNG]]

INPUT defaults to examples/yig/yig.inp (YIG 8 8 2, Ag K-alpha, compared with a synthetic
CAD4 scan); the run writes its listing, .cal file and plot beside it, as the command line
does. PNG (default renninger.png in the current folder) gets the measured scan above the
calculated one, with a mark at each listed event.
"""
import sys
from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # a file, no window
import matplotlib.pyplot as plt
import numpy as np

import kaven

here = Path(__file__).resolve().parent
input_file = Path(sys.argv[1]) if len(sys.argv) > 1 else here.parent / "yig" / "yig.inp"
png = Path(sys.argv[2]) if len(sys.argv) > 2 else Path("renninger.png")

r = kaven.run(input_file)
if r.status != "complete":
    sys.exit(f"the run stopped: {r.stop_message}")
title = r.summary["title"]
h, k, l = r.summary["primary"]["hkl"]

# The five strongest events: the intensity the secondary beam brings into the primary
# direction (Ikaven), or takes out of it (Iaufhe), at its peak.
ev = r.events
peak = np.maximum(ev["ikaven_peak"], ev["iaufhe_peak"])
print(f"{title}: {len(peak)} events listed")
print(" pass  secondary   coupling       psi   Ikaven peak  Iaufhe peak  crossing")
for i in np.argsort(peak)[::-1][:5]:
    print(f"{ev['pass'][i]:5d}  {ev['h1'][i]:3d}{ev['k1'][i]:3d}{ev['l1'][i]:3d}"
          f"  {ev['h2'][i]:3d}{ev['k2'][i]:3d}{ev['l2'][i]:3d}  {ev['psi'][i]:9.3f}"
          f"  {ev['ikaven_peak'][i]:11.3f}  {ev['iaufhe_peak'][i]:11.3f}  {ev['crossing'][i]}")

# The scan as kaven's plot page shows it: the measured scan (where a step was measured)
# above the calculated one, the listed events as ticks under the calculated scan.
scan = r.scan
measured = ~np.isnan(scan["measured"])
fig, (top, bottom) = plt.subplots(2, 1, sharex=True, figsize=(10, 6),
                                  gridspec_kw={"height_ratios": [1, 1.4]})
top.plot(scan["psi"][measured], scan["measured"][measured], ".", ms=2.5, color="tab:red")
top.set_ylabel("measured (cps)")
top.set_title(f"{title}: Renninger scan of {h} {k} {l}")
bottom.plot(scan["psi"], scan["calculated"], color="tab:blue", lw=1)
bottom.plot(ev["psi"], np.zeros_like(ev["psi"]), "|", ms=12, color="0.3")
bottom.set_ylim(bottom=0)
bottom.set_xlim(scan["psi"][0], scan["psi"][-1])
bottom.set_xlabel("psi (degrees)")
bottom.set_ylabel("calculated (cps)")
fig.tight_layout()
fig.savefig(png, dpi=120)
print(f"scan drawn in {png}")
