#!/usr/bin/python3
"""Absorption factor A* = 1/T of a sphere, tabulated in mu R and the Bragg angle.

Writes data/sphere_absorption.inc: 144 rows (mu R = 0.0, 0.1, ..., 9.9, then 10.0,
10.5, ..., 31.5) of 19 values (theta = 0, 5, ..., 90 degrees), one C initialiser row
per mu R.

Transmission of a sphere of unit radius and linear absorption mu:
    T = (1/V) integral exp(-mu (l_in + l_out)) dV,
l_in the path of the incident beam to the scattering point, l_out the path of the
diffracted beam out of the sphere, the two beams at 2 theta in one plane.

The sphere is sliced into discs parallel to the scattering plane. Both beams lie in
the disc, so a disc at height z of radius rho = sqrt(1 - z^2) is the unit disc scaled
by rho: its path lengths are rho times those of the unit disc. With the slices and
the disc quadrature exchanged,
    T = 3/(4 pi) sum_i w_i g(mu L_i),  g(a) = integral_{-1}^{1} (1 - z^2) exp(-a sqrt(1 - z^2)) dz,
where (w_i, L_i = l_in + l_out) are the nodes of one Gauss quadrature over the unit
disc. g is a smooth, slowly decaying function of one variable; it is computed by
Gauss quadrature on a fine grid and interpolated by a cubic spline of ln g.

The disc is covered by chords along the incident beam: offset p = sin(psi) across
the beam, path s = l_in along it, dA = cos(psi) dpsi ds. The exit path
l_out(p, s) has a square-root branch point where the chord ends on the point of the
circle at which the diffracted beam is tangent (p = +-cos 2 theta); psi is split
there. Near the circle the integrand is confined to a layer of depth ~ 1/mu (at
small theta a thin sliver along the beam), so each piece of psi and of s is graded
geometrically toward its ends, where the layer and the branch points lie.

Run: /usr/bin/python3 tools/gen_sphere_absorption.py [output]
The table is computed twice, the second time with doubled Gauss orders; the largest
relative difference is written into the header of the output.
"""
import math
import sys
from pathlib import Path

import numpy as np
import scipy
from scipy.interpolate import CubicSpline

MUR = np.concatenate([np.arange(100) * 0.1, 10.0 + np.arange(44) * 0.5])
THETA_DEG = np.arange(19) * 5.0


def panels(a, b, n_uniform, levels, ratio, grade_lo=True, grade_hi=True):
    """Panel edges on [a, b]: n_uniform equal panels, the end panels subdivided
    geometrically toward the graded ends (each level shrinks by `ratio`)."""
    edges = list(np.linspace(a, b, n_uniform + 1))
    h = (b - a) / n_uniform
    if grade_lo:
        inner = [a + h * ratio**k for k in range(1, levels + 1)]
        edges = [a] + sorted(inner) + edges[1:]
    if grade_hi:
        inner = [b - h * ratio**k for k in range(1, levels + 1)]
        edges = edges[:-1] + sorted(inner) + [b]
    return np.array(edges)


def composite_gauss(edges, order):
    """Nodes and weights of Gauss-Legendre of the given order on every panel."""
    x, w = np.polynomial.legendre.leggauss(order)
    lo, hi = edges[:-1, None], edges[1:, None]
    half = 0.5 * (hi - lo)
    return (lo + half * (x + 1.0)).ravel(), (half * w).ravel()


def exit_path(p, s, c, theta):
    """l_out of the unit disc: the diffracted beam from the point at offset p, depth s
    along the incident chord of half length c. Written without cancellation."""
    a = p * math.sin(2 * theta) + (s - c) * math.cos(2 * theta)  # point . u_out
    d = s * (2 * c - s)                                            # 1 - |point|^2
    root = np.sqrt(a * a + d)
    with np.errstate(divide="ignore", invalid="ignore"):
        fwd = np.where(root + a > 0, d / (root + a), 0.0)
    return np.where(a <= 0, root - a, fwd)


def disc_nodes(theta, order, scale):
    """Quadrature over the unit disc: weights and the pair (l_in, l_out) at each node."""
    lim = 0.5 * math.pi
    cuts = {-lim, lim}
    for v in (math.cos(2 * theta), -math.cos(2 * theta)):
        q = math.asin(max(-1.0, min(1.0, v)))
        if -lim + 1e-9 < q < lim - 1e-9:
            cuts.add(q)
    cuts = sorted(cuts)
    psi, wpsi = [], []
    for a, b in zip(cuts[:-1], cuts[1:]):
        n = max(2, math.ceil(8 * scale * (b - a) / math.pi))
        x, w = composite_gauss(panels(a, b, n, 14, 0.3), order)
        psi.append(x)
        wpsi.append(w)
    psi, wpsi = np.concatenate(psi), np.concatenate(wpsi)
    t, wt = composite_gauss(panels(0.0, 1.0, 4 * scale, 14, 0.3), order)
    p = np.sin(psi)[:, None]
    c = np.cos(psi)[:, None]
    s = 2 * c * t[None, :]
    w = (wpsi * np.cos(psi))[:, None] * (2 * c) * wt[None, :]
    l_out = exit_path(p, s, c, theta)
    return w.ravel(), s.ravel(), l_out.ravel()


def slice_weight(order):
    """Spline of ln g(a), g(a) = 2 integral_0^{pi/2} sin^3 phi exp(-a sin phi) dphi."""
    a = np.linspace(0.0, 4.0 * MUR[-1] * 1.01, 26001)
    phi, w = composite_gauss(panels(0.0, 0.5 * math.pi, 8, 18, 0.3, True, False), order)
    sp = np.sin(phi)
    g = 2.0 * np.array([np.dot(w, sp**3 * np.exp(-ai * sp)) for ai in a])
    return CubicSpline(a, np.log(g))


def table(order, scale):
    ln_g = slice_weight(2 * order)
    out = np.empty((len(MUR), len(THETA_DEG)))
    for j, th in enumerate(THETA_DEG):
        w, l_in, l_out = disc_nodes(math.radians(th), order, scale)
        length = l_in + l_out
        for i, mur in enumerate(MUR):
            t = 3.0 / (4.0 * math.pi) * np.dot(w, np.exp(ln_g(mur * length)))
            out[i, j] = 1.0 / t
    return out


def literal(v):
    """A C++ float literal with 7 significant digits."""
    text = f"{v:.7g}"
    if not any(ch in text for ch in ".e"):
        text += ".0"
    return text + "f"


def main():
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else \
        Path(__file__).resolve().parent.parent / "data" / "sphere_absorption.inc"
    base = table(8, 1)
    fine = table(16, 2)
    change = np.max(np.abs(fine / base - 1.0))
    lines = [
        "// Sphere absorption factor A* = 1/T, rows mu R = 0.0, 0.1, ..., 9.9, 10.0, 10.5,",
        "// ..., 31.5, columns theta = 0, 5, ..., 90 deg; 7 significant digits.",
        "// Generated by tools/gen_sphere_absorption.py with Debian python3-numpy",
        f"// {np.__version__} and python3-scipy {scipy.__version__}.",
        "// Method: T = (1/V) integral exp(-mu (l_in + l_out)) dV over the sphere, sliced into",
        "// discs parallel to the scattering plane; composite Gauss-Legendre over each disc",
        "// along incident chords, split at the branch points of the exit path and graded",
        "// geometrically toward the surface; the slice integral is a spline of one variable.",
        "// Gauss order 16 per panel; the same computation at order 8 with half the uniform",
        f"// panels differs from it by at most {change:.1e} (relative).",
    ]
    for i, mur in enumerate(MUR):
        vals = ", ".join(literal(v) for v in fine[i])
        lines.append(f"{{{vals}}},  // mu R = {mur:.1f}")
    target.write_text("\n".join(lines) + "\n")
    print(f"wrote {target}; largest relative change on doubling {change:.2e}")


if __name__ == "__main__":
    main()
