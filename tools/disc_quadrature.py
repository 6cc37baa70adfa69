"""Gauss quadrature over a sphere sliced into discs parallel to the scattering plane,
shared by the sphere-absorption and the extinction table scripts.

A disc at height z of radius sqrt(1 - z^2) is the unit disc scaled by that radius, so
one quadrature over the unit disc, with the path lengths l_in of the incident and
l_out of the diffracted beam at each node, serves every slice.
"""
import math

import numpy as np


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


def disc_nodes(theta, order, psi_panels_per_pi, s_panels, levels, ratio):
    """Quadrature over the unit disc with the incident beam along x and the diffracted
    beam at 2 theta: weights and the pair (l_in, l_out) at each node. Chords along the
    incident beam (offset p = sin psi, depth s = l_in), psi split at the branch points
    of the exit path (p = +-cos 2 theta); panels graded toward the piece ends by
    `levels` geometric steps of `ratio`."""
    lim = 0.5 * math.pi
    cuts = {-lim, lim}
    for v in (math.cos(2 * theta), -math.cos(2 * theta)):
        q = math.asin(max(-1.0, min(1.0, v)))
        if -lim + 1e-9 < q < lim - 1e-9:
            cuts.add(q)
    cuts = sorted(cuts)
    psi, wpsi = [], []
    for a, b in zip(cuts[:-1], cuts[1:]):
        n = max(2, math.ceil(psi_panels_per_pi * (b - a) / math.pi))
        x, w = composite_gauss(panels(a, b, n, levels, ratio), order)
        psi.append(x)
        wpsi.append(w)
    psi, wpsi = np.concatenate(psi), np.concatenate(wpsi)
    t, wt = composite_gauss(panels(0.0, 1.0, s_panels, levels, ratio), order)
    p = np.sin(psi)[:, None]
    c = np.cos(psi)[:, None]
    s = 2 * c * t[None, :]
    w = (wpsi * np.cos(psi))[:, None] * (2 * c) * wt[None, :]
    l_out = exit_path(p, s, c, theta)
    return w.ravel(), s.ravel(), l_out.ravel()


def literal(v):
    """A C++ float literal with 7 significant digits."""
    text = f"{v:.7g}"
    if not any(ch in text for ch in ".e"):
        text += ".0"
    return text + "f"
