#!/usr/bin/python3
"""Generate data/space_group_table.inc, the built-in space-group table.

Source: the space-group data file of Debian's python3-ase (spacegroup.dat beside the
ase.spacegroup module). It lists, per group and setting, the coordinate triplets of the
general position in International Tables A order, with the lattice-centring translations
apart ("subtranslations") and, for groups whose inversion centre is at the origin, only
the first half of the triplets. That is exactly the reduced set the program stores.

Setting taken: ase setting 1 (monoclinic unique axis b, cell choice 1; the standard
setting of all other groups), except setting 2 for the groups with two origin choices
(origin at the inversion centre) and for the seven R groups (rhombohedral axes).

The names are the program's own 30-character names, kept verbatim with their irregular
blanks. The code column is 2 for a centrosymmetric group, 1 otherwise; it is taken from
ase's flag and checked against the centrosymmetric crystal classes.

Translations are written as six-decimal truncations (1/3 -> 0.333333, 5/6 -> 0.833333);
the program snaps them to the exact fractions when it builds the operator set.

Usage: /usr/bin/python3 tools/gen_space_group_table.py [output]
"""
import fractions
import os
import sys

import ase.spacegroup

from debian_packages import package_version

NAMES = [
    'P 1', 'P -1', 'P 1 2 1', 'P 1 21 1', 'C 1 2 1', 'P 1 m 1', 'P 1 c 1', 'C 1 m 1',
    'C 1 c 1', 'P 1 2/m 1', 'P 1 21/m 1', 'C 1 2/m 1', 'P 1 2/c 1', 'P 1 21/c 1', 'C 1 2/c 1',
    'P 2 2 2', 'P 2 2 21', 'P 21 21 2', 'P 21 21 21', 'C 2 2 21', 'C 2 2 2', 'F 2 2 2',
    'I 2 2 2', 'I 21 21 21', 'P m m 2', 'P m c 21', 'P c c 2', 'P m a 2', 'P c a 21',
    'P n c 2', 'P m n 21', 'P b a 2', 'P n a 21', 'P n n 2', 'C m m 2', 'C m c 21', 'C c c 2',
    'A m m 2', 'A b m 2', 'A m a 2', 'A b a 2', 'F m m 2', 'F d d 2', 'I m m 2', 'I b a 2',
    'I m a 2', 'P m m m', 'P n n n ; origin at centre', 'P c c m',
    'P b a n ; origin at centre', 'P m m a', 'P n n a', 'P m n a', 'P c c a', 'P b a m',
    'P c c n', 'P b c m', 'P n n m', 'P m m n ; origin at centre', 'P b c n', 'P b c a',
    'P n m a', 'C m c m', 'C m c a', 'C m m m', 'C c c m', 'C m m a',
    'C c c a ; origin at centre', 'F m m m', 'F d d d ; origin at centre', 'I m m m',
    'I b a m', 'I b c a', 'I m m a', 'P 4', 'P 41', 'P 42', 'P 43', 'I 4', 'I 41', 'P -4',
    'I -4', 'P 4/m', 'P 42/m', 'P 4/n   ; origin at centre', 'P 42/n  ; origin at centre',
    'I 4/m', 'I 41/a  ; origin at centre', 'P 4 2 2', 'P 4 21 2', 'P 41 2 2', 'P 41 21 2',
    'P 42 2 2', 'P 42 21 2', 'P 43 2 2', 'P 43 21 2', 'I 4 2 2', 'I 41 2 2', 'P 4 m m',
    'P 4 b m', 'P 42 c m', 'P 42 n m', 'P 4 c c', 'P 4 n c', 'P 42 m c', 'P 42 b c', 'I 4 m m',
    'I 4 c m', 'I 41 m d', 'I 41 c d', 'P -4 2 m', 'P -4 2 c', 'P -4 21 m', 'P -4 21 c',
    'P -4 m 2', 'P -4 c 2', 'P -4 b 2', 'P -4 n 2', 'I -4 m 2', 'I -4 c 2', 'I -4 2 m',
    'I -4 2 d', 'P 4/m m m', 'P 4/m c c', 'P 4/n b m ; origin at centre',
    'P 4/n n c ; origin at centre', 'P 4/m b m', 'P 4/m n c', 'P 4/n m m ; origin at centre',
    'P 4/n c c ; origin at centre', 'P 42/m m c', 'P 42/m c m',
    'P 42/n b c ; origin at centre', 'P 42/n n m ; origin at centre', 'P 42/m b c',
    'P 42/m n m', 'P 42/n m c ; origin at centre', 'P 42/n c m ; origin at centre',
    'I 4/m m m', 'I 4/m c m', 'I 41/a m d ; origin at centre', 'I 41/a c d ; origin at centre',
    'P 3', 'P 31', 'P 32', 'R 3  ; rhombohedral axes', 'P -3', 'R -3 ; rhombohedral axes',
    'P 3 1 2', 'P 3 2 1', 'P 31 1 2', 'P 31 2 1', 'P 32 1 2', 'P 32 2 1',
    'R 3 2 ; rhombohedral axes', 'P 3 m 1', 'P 3 1 m', 'P 3 c 1', 'P 3 1 c',
    'R 3 m ; rhombohedral axes', 'R 3 c ; rhombohedral axes', 'P -3 1 m', 'P -3 1 c',
    'P -3 m 1', 'P -3 c 1', 'R -3 m ; rhombohedral axes', 'R -3 c ;rhombohedral axes', 'P 6',
    'P 61', 'P 65', 'P 62', 'P 64', 'P 63', 'P -6', 'P 6/m', 'P 63/m', 'P 6 2 2', 'P 61 2 2',
    'P 65 2 2', 'P 62 2 2', 'P 64 2 2', 'P 63 2 2', 'P 6 m m', 'P 6 c c', 'P 63 c m',
    'P 63 m c', 'P -6 m 2', 'P -6 c 2', 'P -6 2 m', 'P -6 2 c', 'P 6/m m m', 'P6/m c c',
    'P 63/m c m', 'P 63/m m c', 'P 2 3', 'F 2 3', 'I 2 3', 'P 21 3', 'I 21 3', 'P m -3',
    'P n -3 ; origin at centre', 'F m -3', 'F d -3 ; origin at centre', 'I m -3', 'P a -3',
    'I a -3', 'P 4 3 2', 'P 42 3 2', 'F 4 3 2', 'F 41 3 2', 'I 4 3 2', 'P 43 3 2', 'P 41 3 2',
    'I 41 3 2', 'P -4 3 m', 'F -4 3 m', 'I -4 3 m', 'P -4 3 n', 'F -4 3 c', 'I -4 3 d',
    'P m -3 m', 'P n -3 n ; origin at centre', 'P m -3 n', 'P n -3 m ; origin at centre',
    'F m -3 m', 'F m -3 c', 'F d -3 m ; origin at centre', 'F d -3 c ; origin at centre',
    'I m -3 m', 'I a -3 d',
]

# Numbers whose ase setting 2 is taken.
RHOMBOHEDRAL = {146, 148, 155, 160, 161, 166, 167}
# Groups with origin choice 1 / 2 (ase settings 1 and 2); the monoclinic groups 3-15
# also have a setting 2 in ase (unique axis c), which is not wanted.
TWO_ORIGINS = {48, 50, 59, 68, 70, 85, 86, 88, 125, 126, 129, 130, 133, 134, 137, 138,
               141, 142, 201, 203, 222, 224, 227, 228}

# Centrosymmetric crystal classes as ranges of space-group numbers.
CENTROSYMMETRIC = [(2, 2), (10, 15), (47, 74), (83, 88), (123, 142), (147, 148),
                   (162, 167), (175, 176), (191, 194), (200, 206), (221, 230)]


def is_centrosymmetric(nr):
    return any(lo <= nr <= hi for lo, hi in CENTROSYMMETRIC)


def read_ase_entries(path):
    """{(number, setting): (ase symbol, centrosymmetric, [(rot9, tran3)])}"""
    entries = {}
    with open(path) as f:
        blocks = [b for b in f.read().split('\n\n') if b.strip()]
    for block in blocks:
        lines = block.strip('\n').split('\n')
        number, symbol = lines[0].split(None, 1)
        setting = int(lines[1].split()[1])
        centro = bool(int(lines[2].split()[1]))
        i = next(k for k, line in enumerate(lines) if 'subtranslations' in line)
        j = i + 1 + int(lines[i].split()[0])
        nops = int(lines[j].split()[0])
        ops = []
        for line in lines[j + 1:j + 1 + nops]:
            v = line.split()
            rot = [int(x) for x in v[:9]]
            tran = [fractions.Fraction(x) % 1 for x in v[9:12]]
            ops.append((rot, tran))
        entries[(int(number), setting)] = (symbol.strip(), centro, ops)
    return entries


def translation_literal(t):
    if t == 0:
        return '0'
    # six decimals, truncated
    digits = int(t * 10**6)
    s = ('%.6f' % (digits / 10**6)).rstrip('0')
    return s + 'f'


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        here, '..', 'data', 'space_group_table.inc')
    dat = os.path.join(os.path.dirname(ase.spacegroup.__file__), 'spacegroup.dat')
    entries = read_ase_entries(dat)
    assert len(NAMES) == 230 and all(len(n) <= 30 for n in NAMES)

    out = []
    out.append('// Generated by tools/gen_space_group_table.py from spacegroup.dat of the')
    out.append('// ase.spacegroup module, Debian package python3-ase %s.'
               % package_version('python3-ase'))
    out.append('// Method: the general-position triplets of each group in International Tables A')
    out.append('// order, without the centring translations and, for centrosymmetric groups, only')
    out.append('// the first half (ase stores them so). ase setting 1 (monoclinic unique axis b,')
    out.append('// cell choice 1), setting 2 for origin choice 2 and for the R groups on')
    out.append('// rhombohedral axes. Translations are six-decimal truncations of the fractions.')
    out.append('// Do not edit; rerun the script.')
    out.append('//')
    out.append('// One entry per group 1..230: {stored operators, code (1 acentric,')
    out.append('// 2 centrosymmetric), name, {per operator: rotation rows xx xy xz, yx yy yz,')
    out.append('// zx zy zz, then the translations tx ty tz}}.')
    for nr in range(1, 231):
        setting = 2 if (nr in RHOMBOHEDRAL or nr in TWO_ORIGINS) else 1
        symbol, centro, ops = entries[(nr, setting)]
        if centro != is_centrosymmetric(nr):
            sys.exit('group %d: ase centrosymmetric flag %s disagrees' % (nr, centro))
        if not 1 <= len(ops) <= 24:
            sys.exit('group %d: %d operators' % (nr, len(ops)))
        rot0, tran0 = ops[0]
        if rot0 != [1, 0, 0, 0, 1, 0, 0, 0, 1] or any(tran0):
            sys.exit('group %d: first operator is not the identity' % nr)
        code = 2 if centro else 1
        name = NAMES[nr - 1].replace('\\', '\\\\').replace('"', '\\"')
        out.append('{%d, %d, "%s", {  // %d, ase %s setting %d'
                   % (len(ops), code, name, nr, symbol, setting))
        rows = []
        for rot, tran in ops:
            r = ', '.join('%d' % x for x in rot)
            t = ', '.join(translation_literal(x) for x in tran)
            rows.append('    {%s, %s}' % (r, t))
        out.append(',\n'.join(rows) + '}},')
    with open(out_path, 'w') as f:
        f.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main()
