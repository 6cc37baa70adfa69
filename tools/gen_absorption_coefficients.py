#!/usr/bin/python3
"""Writes data/element_absorption.inc and tests/data/mu_rho_reference.txt.

Usage: /usr/bin/python3 tools/gen_absorption_coefficients.py [table] [reference]
       (defaults data/element_absorption.inc, tests/data/mu_rho_reference.txt)

The element absorption table holds, for Z = 1..83, up to five wavelength intervals with
coefficients C, D of mu/rho = C lambda^3 - D lambda^4 + sigma_KN Z/A (cm^2/g, lambda in A)
and the upper limit e of each interval, plus the atomic weight A.  This is the form of the
International Tables for X-ray Crystallography Vol. III (1962) pp. 157ff; those printed
coefficients are not in any Debian package, so they are re-derived here from a modern
compilation (python3-xraylib) in a fixed, reproducible way:

- Interval limits: absorption-edge wavelengths lambda = 12.39842/E (E = xraylib
  EdgeEnergy, keV) of all shells, of which only edges at 10 A or below count, in
  ascending order; the last interval closes at 10 A, or at 100 A for an element that has
  no such edge.  When the K edge lies below 0.3 A the first interval (0 .. K edge) is
  written 0 0 0, the formula is never used there.  Intervals that would start above 3 A
  are dropped.
- C, D: per interval a weighted least-squares fit of C lambda^3 - D lambda^4 to
  xraylib's total mass attenuation coefficient (CS_Total) minus the formula's own
  Klein-Nishina term sigma_KN Z/A, so that the formula with that term reproduces the
  modern total.  Fit points: 200 wavelengths spaced evenly in ln(lambda) inside 0.2 .. 3 A
  and inside the interval, 1 % (at most a quarter of the width) away from its limits
  because xraylib's cross-section grid places some edges slightly off its EdgeEnergy;
  residuals weighted by 1/CS_Total (relative fit).
- A: xraylib AtomicWeight.
- The printed 1962 rows of H, C, Si, Cu, Ag and Bi replace the derived ones.

The reference file lists xraylib's CS_Total for a few elements at the Cu, Mo and Ag
K-alpha wavelengths, for the test that reports how far the table formula lies from it.
"""
import math
import os
import sys

import numpy as np
import xraylib

from debian_packages import package_version

HC_KEV_A = 12.39842
LAST_CLOSE = 10.0      # A: edges beyond do not count; the last interval closes here
NO_EDGE_CLOSE = 100.0  # A: the only interval of an element without such an edge
ZERO_K_BELOW = 0.3     # A: K edge below this -> first interval 0 0 0
DROP_START = 3.0       # A: intervals starting above this are dropped
FIT_RANGE = (0.2, 3.0)
FIT_POINTS = 200
# xraylib's cross-section grid puts some edges up to ~0.1 % away from EdgeEnergy; fit
# points keep this relative distance (in ln lambda) from the interval limits, at most a
# quarter of the interval's width.
EDGE_MARGIN = 0.01

# The printed rows (International Tables Vol. III, 1962): C D e per interval, and A.
PRINTED_ROWS = {
    1: ([(0.0127, 4.66e-06, 100)], 1.00794),
    6: ([(1.22, 0.0142, 100)], 12.011),
    14: ([(18.2, 1.1, 6.7446)], 28.0855),
    29: ([(176, 48.3, 1.38), (15.6, 0.779, 10)], 63.546),
    47: ([(784, 599, 0.486), (81.4, 14.3, 3.25)], 107.8682),
    83: ([(0, 0, 0), (605, 382, 0.7568), (505, 263, 0.78869), (302, 112, 0.9234),
          (98.3, 21.3, 3.106)], 208.9804),
}

REFERENCE_ELEMENTS = ("C", "O", "Si", "Fe", "Cu", "Y", "Ag", "Bi")
REFERENCE_LINES = (("Cu", 1.540598), ("Mo", 0.7093), ("Ag", 0.55942))


def sigma_kn(lam):
    """The Klein-Nishina term of the table formula (cm^2 per electron-mole), with kappa
    and the logarithm rounded to single precision as the program stores them."""
    kappa = float(np.float32(0.024262113 / float(np.float32(lam))))
    log_term = float(np.float32(math.log(1.0 + 2.0 * kappa)))
    return 0.30044827 * (log_term / (2.0 * kappa)
                         - (1.0 + 3.0 * kappa) / (1.0 + 2.0 * kappa) ** 2
                         + ((1.0 + kappa) / kappa ** 2)
                         * (2.0 * (1.0 + kappa) / (1.0 + 2.0 * kappa) - log_term / kappa))


def edge_wavelengths(z):
    """Absorption-edge wavelengths (A) at or below LAST_CLOSE, ascending."""
    edges = []
    for shell in range(xraylib.K_SHELL, xraylib.P5_SHELL + 1):
        try:
            energy = xraylib.EdgeEnergy(z, shell)
        except ValueError:
            continue
        if energy > 0.0 and HC_KEV_A / energy <= LAST_CLOSE:
            edges.append(HC_KEV_A / energy)
    return sorted(edges)


def intervals(z):
    """(start, end, zero) of each interval the table keeps for Z."""
    edges = edge_wavelengths(z)
    limits = edges + [LAST_CLOSE] if edges else [NO_EDGE_CLOSE]
    out = []
    start = 0.0
    for k, end in enumerate(limits):
        if start > DROP_START:
            break
        zero = k == 0 and edges and edges[0] < ZERO_K_BELOW
        out.append((start, end, zero))
        start = end
    if len(out) > 5:
        raise SystemExit(f"Z = {z}: {len(out)} intervals, the table holds five")
    return out


def fit_interval(z, weight, start, end):
    lo = max(start, FIT_RANGE[0])
    hi = min(end, FIT_RANGE[1])
    if hi <= lo:
        raise SystemExit(f"Z = {z}: interval {start}..{end} has no fit points")
    width = math.log(hi) - math.log(lo)
    margin = min(EDGE_MARGIN, 0.25 * width)
    t = np.arange(FIT_POINTS) / (FIT_POINTS - 1)
    lam = np.exp(math.log(lo) + margin + t * (width - 2.0 * margin))
    total = np.array([xraylib.CS_Total(z, HC_KEV_A / x) for x in lam])
    target = total - np.array([sigma_kn(x) for x in lam]) * z / weight
    design = np.column_stack([lam ** 3, -lam ** 4]) / total[:, None]
    (c, d), *_ = np.linalg.lstsq(design, target / total, rcond=None)
    return float(c), float(d)


def g(x, exact=False):
    """A C++ float literal: six significant digits, or the printed decimal (exact)."""
    if x == 0:
        return "0.0f"
    s = repr(float(x)) if exact else f"{x:.6g}"
    if "e" not in s and "." not in s:
        s += ".0"
    return s + "f"


def derived_row(z):
    """(C, D, e) per interval and A, as derived from xraylib."""
    weight = xraylib.AtomicWeight(z)
    rows = []
    for start, end, zero in intervals(z):
        if zero:
            rows.append((0.0, 0.0, 0.0))
        else:
            c, d = fit_interval(z, weight, start, end)
            rows.append((c, d, round(end, 5)))
    return rows, weight


def formula(rows, weight, z, lam):
    """mu/rho of the table formula; the interval is the first one whose limit is at or
    above lambda (the last one beyond all limits)."""
    used = [r for r in rows if r[2] > 0.0]
    c, d, _ = next((r for r in used if lam <= r[2]), used[-1])
    return c * lam ** 3 - d * lam ** 4 + sigma_kn(lam) * z / weight


def fit_quality():
    """Relative deviations of the derived formula from CS_Total over 0.2 .. 3 A, 1 %
    away from edges, where an interval with coefficients covers lambda."""
    grid = np.exp(np.linspace(math.log(FIT_RANGE[0]), math.log(FIT_RANGE[1]), 300))
    devs = []
    for z in range(1, 84):
        rows, weight = derived_row(z)
        for start, end, zero in intervals(z):
            for lam in grid:
                if zero or not (start * 1.01 < lam < end / 1.01):
                    continue
                total = xraylib.CS_Total(z, HC_KEV_A / lam)
                devs.append((abs(formula(rows, weight, z, lam) / total - 1.0), z, lam))
    worst = max(devs)
    return float(np.median([d[0] for d in devs])), worst


def reference_deviations(table):
    out = []
    for sym in REFERENCE_ELEMENTS:
        z = xraylib.SymbolToAtomicNumber(sym)
        rows, weight = table(z)
        for _, lam in REFERENCE_LINES:
            total = xraylib.CS_Total(z, HC_KEV_A / lam)
            out.append(abs(formula(rows, weight, z, lam) / total - 1.0))
    return float(np.median(out)), float(max(out))


def table_row(z):
    if z in PRINTED_ROWS:
        rows, weight = PRINTED_ROWS[z]
        return [tuple(map(float, r)) for r in rows], weight
    return derived_row(z)


def element_row(z):
    rows, weight = table_row(z)
    rows += [(0.0, 0.0, 0.0)] * (5 - len(rows))
    exact = z in PRINTED_ROWS
    cs = ", ".join(g(r[0], exact) for r in rows)
    ds = ", ".join(g(r[1], exact) for r in rows)
    es = ", ".join(g(r[2], exact) for r in rows)
    symbol = xraylib.AtomicNumberToSymbol(z)
    return f"{{{{{cs}}}, {{{ds}}}, {{{es}}}, {g(weight, exact)}}},  // {z} {symbol}"


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    table_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        root, "data", "element_absorption.inc")
    ref_path = sys.argv[2] if len(sys.argv) > 2 else os.path.join(
        root, "tests", "data", "mu_rho_reference.txt")
    packages = (f"python3-xraylib {package_version('python3-xraylib')}, "
                f"python3-numpy {package_version('python3-numpy')}")

    header = [
        "// Generated by tools/gen_absorption_coefficients.py -- do not edit.",
        f"// Packages: {packages}.",
        "// Rows (Z = 1..83): {C1..C5}, {D1..D5}, {e1..e5}, A;",
        "//   mu/rho = Ck lambda^3 - Dk lambda^4 + sigma_KN Z/A (cm^2/g, lambda in A) in",
        "//   interval k, e(k-1) < lambda < e(k), e0 = 0; unused intervals hold zeros.",
        "// e: absorption edges of xraylib (EdgeEnergy, lambda = 12.39842/E) at or below",
        "//   10 A, ascending; the last interval closes at 10 A (100 A without such an",
        "//   edge); a K edge below 0.3 A makes the first interval 0 0 0; intervals",
        "//   starting above 3 A are dropped.",
        "// C, D: least squares, weighted by 1/CS_Total, of C lambda^3 - D lambda^4 against",
        "//   xraylib CS_Total - sigma_KN Z/A at 200 wavelengths evenly spaced in ln lambda",
        "//   inside 0.2 .. 3 A and inside the interval, kept 1 % (at most a quarter of",
        "//   the width) from its limits; six significant digits.",
        "// A: xraylib AtomicWeight.",
        "// H, C, Si, Cu, Ag, Bi: the printed rows of International Tables for X-ray",
        "//   Crystallography Vol. III (1962), pp. 157ff.",
    ]
    median, (worst, worst_z, worst_lam) = fit_quality()
    ref_derived = reference_deviations(derived_row)
    ref_table = reference_deviations(table_row)
    header += [
        "// Fit quality, derived coefficients of all Z against CS_Total, 0.2 .. 3 A, 1 % or",
        f"//   more from edges: median {100 * median:.2f} %, largest {100 * worst:.2f} %"
        f" (Z = {worst_z}, {worst_lam:.3f} A).",
        "// C, O, Si, Fe, Cu, Y, Ag, Bi at Cu, Mo, Ag K-alpha against CS_Total: derived",
        f"//   median {100 * ref_derived[0]:.2f} %, largest {100 * ref_derived[1]:.2f} %;"
        f" this table (printed rows) median {100 * ref_table[0]:.2f} %,",
        f"//   largest {100 * ref_table[1]:.2f} %.",
    ]
    lines = header + [element_row(z) for z in range(1, 84)]
    os.makedirs(os.path.dirname(table_path), exist_ok=True)
    with open(table_path, "w") as f:
        f.write("\n".join(lines) + "\n")

    ref = [
        "# Generated by tools/gen_absorption_coefficients.py -- do not edit.",
        f"# Packages: {packages}.",
        "# Total mass attenuation coefficient mu/rho (cm^2/g) of xraylib, CS_Total(Z, E),",
        "# E = 12.39842/lambda keV, at the Cu, Mo and Ag K-alpha wavelengths.",
        "# Columns: symbol Z line lambda(A) mu/rho(cm^2/g)",
    ]
    for sym in REFERENCE_ELEMENTS:
        z = xraylib.SymbolToAtomicNumber(sym)
        for line, lam in REFERENCE_LINES:
            ref.append(f"{sym:2s} {z:2d} {line} {lam:.6f} "
                       f"{xraylib.CS_Total(z, HC_KEV_A / lam):.6g}")
    os.makedirs(os.path.dirname(ref_path), exist_ok=True)
    with open(ref_path, "w") as f:
        f.write("\n".join(ref) + "\n")


if __name__ == "__main__":
    main()
