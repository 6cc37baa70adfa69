#!/usr/bin/python3
"""Writes the CIF files of the bundled examples.

    /usr/bin/python3 tools/gen_example_cifs.py      (needs python3-gemmi)

examples/yig/yig.cif        Y3Fe5O12 as in examples/yig/yig-sim.inp (I a -3 d, isotropic U
                            from the betas of the input: U = beta / (2 pi^2 a*^2)).
examples/si/si.cif          silicon as in examples/si/si222.inp, written in F d -3 m with
                            origin choice 2 (the input lists the same crystal in P -1).
examples/zro2/zro2-p21n.cif monoclinic ZrO2 (baddeleyite) in the non-standard setting
                            P 1 21/n 1 with anisotropic displacement parameters.
examples/corundum/corundum-hex.cif  alpha-Al2O3 in R -3 c on hexagonal axes (the table
                            holds the R groups on rhombohedral axes only).

The symmetry-operator loops are gemmi's expansion of the Hall symbols. Each file names
its source in its own header.
"""
import math
import os
import struct

import gemmi

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def reciprocal_lengths(a, b, c, al, be, ga):
    cell = gemmi.UnitCell(a, b, c, al, be, ga)
    rc = cell.reciprocal()
    return rc.a, rc.b, rc.c


def f32(x):
    """x rounded to single precision."""
    return struct.unpack("f", struct.pack("f", x))[0]


def sub(u, v):
    return [p - q for p, q in zip(u, v)]


def dot(u, v):
    return sum(p * q for p, q in zip(u, v))


def u_from_beta(beta, astar):
    """U = beta / (2 pi^2 a*^2), written with as few digits as give the same
    single-precision beta back (the input file holds betas as single-precision
    numbers; the conversion computes 2 pi^2 a*^2 U in double and rounds once)."""
    want = f32(beta)
    u = beta / (2 * math.pi ** 2 * astar ** 2)
    for digits in range(4, 12):
        text = "%.*g" % (digits, u)
        if f32(2 * math.pi ** 2 * astar ** 2 * float(text)) == want:
            return text
    raise ValueError("no short form of U for beta %g" % beta)


def symop_loop(hall):
    ops = gemmi.symops_from_hall(hall)
    lines = ["loop_", "_space_group_symop_id", "_space_group_symop_operation_xyz"]
    for i, op in enumerate(ops, 1):
        lines.append("%d '%s'" % (i, op.triplet()))
    return lines


def cell_lines(a, b, c, al, be, ga):
    return ["_cell_length_a %s" % a, "_cell_length_b %s" % b, "_cell_length_c %s" % c,
            "_cell_angle_alpha %s" % al, "_cell_angle_beta %s" % be,
            "_cell_angle_gamma %s" % ga]


def write(path, lines):
    full = os.path.join(ROOT, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w") as f:
        f.write("\n".join(lines) + "\n")
    # every file must read back with its atoms
    st = gemmi.read_small_structure(full)
    assert st.sites, path


def yig():
    a = 12.380
    astar = reciprocal_lengths(a, a, a, 90, 90, 90)[0]
    sites = [  # label, type, x, y, z, beta11 of yig-sim.inp
        ("Y1", "Y3+", "0.125", "0", "0.25", 0.0004909),
        ("Fe1", "Fe3+", "0", "0", "0", 0.0005728),
        ("Fe2", "Fe3+", "0.375", "0", "0.25", 0.0005564),
        ("O1", "O1-", "-0.0271", "0.0568", "0.1504", 0.0006873),
    ]
    lines = [
        "# Yttrium iron garnet Y3Fe5O12, written from examples/yig/yig-sim.inp:",
        "# the cell, the positions and the isotropic displacement parameters of that",
        "# input, U = beta11 / (2 pi^2 a*^2). The type symbol O1- names the oxygen",
        "# species of the scattering-factor table that the input uses (the table has",
        "# no O2-); Y3+ and Fe3+ are the table's ions.",
        "# Written by tools/gen_example_cifs.py.",
        "data_yig",
        "_chemical_name_common 'yttrium iron garnet'",
        "_chemical_formula_sum 'Fe5 O12 Y3'",
    ] + cell_lines("12.380", "12.380", "12.380", 90, 90, 90) + [
        "_space_group_IT_number 230",
        "_space_group_name_H-M_alt 'I a -3 d'",
        "_space_group_name_Hall '-I 4bd 2c 3'",
    ] + symop_loop("-I 4bd 2c 3") + [
        "loop_",
        "_atom_site_label", "_atom_site_type_symbol",
        "_atom_site_fract_x", "_atom_site_fract_y", "_atom_site_fract_z",
        "_atom_site_U_iso_or_equiv", "_atom_site_adp_type", "_atom_site_occupancy",
    ]
    for label, typ, x, y, z, beta in sites:
        lines.append("%s %s %s %s %s %s Uiso 1" % (label, typ, x, y, z, u_from_beta(beta, astar)))
    write("examples/yig/yig.cif", lines)


def silicon():
    a = 5.4309
    astar = reciprocal_lengths(a, a, a, 90, 90, 90)[0]
    lines = [
        "# Silicon, written from examples/si/si222.inp: that input lists the diamond",
        "# structure in P -1 (four atoms and their inverses through the origin); here",
        "# it is the one site 8a of F d -3 m, origin choice 2. U = beta / (2 pi^2 a*^2)",
        "# from beta = 0.0039. The type symbol Si gives the table's neutral silicon",
        "# (Siv); the input uses the valence species Siva, which the type symbol Siva",
        "# would give as well.",
        "# Written by tools/gen_example_cifs.py.",
        "data_silicon",
        "_chemical_formula_sum Si",
    ] + cell_lines("5.4309", "5.4309", "5.4309", 90, 90, 90) + [
        "_space_group_IT_number 227",
        "_space_group_name_H-M_alt 'F d -3 m :2'",
        "_space_group_name_Hall '-F 4vw 2vw 3'",
    ] + symop_loop("-F 4vw 2vw 3") + [
        "loop_",
        "_atom_site_label", "_atom_site_type_symbol",
        "_atom_site_fract_x", "_atom_site_fract_y", "_atom_site_fract_z",
        "_atom_site_U_iso_or_equiv", "_atom_site_occupancy",
        "Si1 Si 0.125 0.125 0.125 %s 1" % u_from_beta(0.0039, astar),
    ]
    write("examples/si/si.cif", lines)


def zro2():
    # P 1 21/c 1 values (cell choice 1), as commonly quoted from
    # C. J. Howard, R. J. Hill, B. E. Reichert, Acta Cryst. B44 (1988) 116-120.
    a, b, c, beta = 5.1505, 5.2116, 5.3173, 99.230
    p21c = {"Zr1": (0.2754, 0.0395, 0.2083), "O1": (0.0700, 0.3317, 0.3447),
            "O2": (0.4496, 0.7569, 0.4792)}
    # New axes a' = a + c, b' = b, c' = -a: the c glide (translation c/2 = (c' - a')/2... in
    # new axes (1/2, 0, 1/2)) becomes the n glide. Coordinates x' = z, y' = y, z' = z - x.
    old = gemmi.UnitCell(a, b, c, 90, beta, 90)
    va, vb, vc = (old.orthogonalize(gemmi.Fractional(*v)).tolist()
                  for v in ((1, 0, 0), (0, 1, 0), (0, 0, 1)))
    na, nb, nc = [p + q for p, q in zip(va, vc)], vb, [-p for p in va]
    length = lambda u: math.sqrt(dot(u, u))
    angle = lambda u, v: math.degrees(math.acos(dot(u, v) / length(u) / length(v)))
    new = gemmi.UnitCell(length(na), length(nb), length(nc), angle(nb, nc), angle(na, nc),
                         angle(na, nb))
    p21n = {k: (z, y, z - x) for k, (x, y, z) in p21c.items()}
    # The same crystal: every image in the old setting is an image in the new one.
    ops_c = gemmi.find_spacegroup_by_name("P 1 21/c 1").operations()
    ops_n = gemmi.find_spacegroup_by_name("P 1 21/n 1").operations()
    to_new = lambda v: (v[2], v[1], v[2] - v[0])
    same = lambda u, v: all(abs((p - q) - round(p - q)) < 1e-9 for p, q in zip(u, v))
    for k in p21c:
        for op in ops_c:
            image = to_new(op.apply_to_xyz(list(p21c[k])))
            assert any(same(image, on.apply_to_xyz(list(p21n[k]))) for on in ops_n), k
    # Illustrative anisotropic U (Å^2, axes a*, b*, c* of the new cell), positive definite.
    u = {"Zr1": (0.0052, 0.0047, 0.0061, 0.0004, 0.0018, -0.0003),
         "O1": (0.0071, 0.0064, 0.0083, -0.0009, 0.0024, 0.0011),
         "O2": (0.0069, 0.0075, 0.0066, 0.0012, 0.0021, -0.0007)}
    for k, v in u.items():  # leading minors positive
        det2 = v[0] * v[1] - v[3] ** 2
        det3 = (v[0] * (v[1] * v[2] - v[5] ** 2) - v[3] * (v[3] * v[2] - v[5] * v[4]) +
                v[4] * (v[3] * v[5] - v[1] * v[4]))
        assert v[0] > 0 and det2 > 0 and det3 > 0, k
    fmt = lambda v: "%.4f" % v
    lines = [
        "# Monoclinic ZrO2 (baddeleyite) in the non-standard setting P 1 21/n 1.",
        "# Positions from the P 1 21/c 1 structure as commonly quoted from C. J. Howard,",
        "# R. J. Hill and B. E. Reichert, Acta Cryst. B44 (1988) 116-120 (a 5.1505, b 5.2116,",
        "# c 5.3173 A, beta 99.230 deg), transformed to the axes a' = a + c, b' = b, c' = -a",
        "# (x' = z, y' = y, z' = z - x), in which the c glide is an n glide.",
        "# The anisotropic displacement parameters are illustrative values, not refined",
        "# ones: they give the example anisotropic betas to convert.",
        "# Written by tools/gen_example_cifs.py.",
        "data_zro2_p21n",
        "_chemical_name_mineral baddeleyite",
        "_chemical_formula_sum 'O2 Zr'",
    ] + cell_lines(fmt(new.a), fmt(new.b), fmt(new.c), "%.3f" % new.alpha,
                   "%.3f" % new.beta, "%.3f" % new.gamma) + [
        "_space_group_name_H-M_alt 'P 1 21/n 1'",
        "_space_group_name_Hall '-P 2yn'",
    ] + symop_loop("-P 2yn") + [
        "loop_",
        "_atom_site_label", "_atom_site_type_symbol",
        "_atom_site_fract_x", "_atom_site_fract_y", "_atom_site_fract_z",
        "_atom_site_U_iso_or_equiv", "_atom_site_adp_type",
    ]
    for k, (x, y, z) in p21n.items():
        ueq = sum(u[k][:3]) / 3
        typ = "Zr4+" if k.startswith("Zr") else "O"
        lines.append("%s %s %s %s %s %.4f Uani" % (k, typ, fmt(x), fmt(y), fmt(z), ueq))
    lines += ["loop_", "_atom_site_aniso_label",
              "_atom_site_aniso_U_11", "_atom_site_aniso_U_22", "_atom_site_aniso_U_33",
              "_atom_site_aniso_U_12", "_atom_site_aniso_U_13", "_atom_site_aniso_U_23"]
    for k, v in u.items():
        lines.append(k + " " + " ".join(fmt(t) for t in v))
    write("examples/zro2/zro2-p21n.cif", lines)


def corundum():
    lines = [
        "# Corundum, alpha-Al2O3, in R -3 c on hexagonal axes (obverse setting).",
        "# Positions Al 12c (0, 0, z), O 18e (x, 0, 1/4) and the cell as commonly quoted",
        "# from W. E. Lewis, D. Schwarzenbach and H. D. Flack, Acta Cryst. A38 (1982)",
        "# 733-739; the isotropic displacement parameters are illustrative values.",
        "# Written by tools/gen_example_cifs.py.",
        "data_corundum",
        "_chemical_name_mineral corundum",
        "_chemical_formula_sum 'Al2 O3'",
    ] + cell_lines("4.7589", "4.7589", "12.9910", 90, 90, 120) + [
        "_space_group_IT_number 167",
        "_space_group_name_H-M_alt 'R -3 c :H'",
        "_space_group_name_Hall '-R 3 2\"c'",
    ] + symop_loop('-R 3 2"c') + [
        "loop_",
        "_atom_site_label", "_atom_site_type_symbol",
        "_atom_site_fract_x", "_atom_site_fract_y", "_atom_site_fract_z",
        "_atom_site_U_iso_or_equiv",
        "Al1 Al3+ 0 0 0.35216 0.0030",
        "O1 O2- 0.30624 0 0.25 0.0035",
    ]
    write("examples/corundum/corundum-hex.cif", lines)


if __name__ == "__main__":
    yig()
    silicon()
    zro2()
    corundum()
