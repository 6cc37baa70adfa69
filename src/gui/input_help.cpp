#include "gui/input_help.hpp"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>
#include <vector>

namespace kaven::gui {
namespace {

// One line per record. The value lists name the quantities in the order the run reads
// them; the examples are whole input files the reader accepts.
constexpr std::string_view kDescription = R"HELP(                              INPUT DESCRIPTION
______________________________________________________________________________

An input file describes one simulation run, line by line in the order below.
Numbers are read in free format unless an item says otherwise: values are
separated by blanks or commas, a list may continue on the next lines, and
whatever follows the last value of a list on its line is ignored. A slash
ends a list early; the items it leaves out keep their earlier values.
Integers are written without a decimal point. Texts and the chemical-symbol
lines are read in fixed columns. File names in the input (items 2 and 12)
that do not start with / are taken from the folder of the input file.

1. Text                                                         (columns 1-80)
     title
   Title of the run, up to 80 characters, printed in the listing and on the
   plot.

2. Plot file                                                    (columns 1-72)
     dname1
   Name of the PostScript file that receives the drawing of the simulated
   and measured scans and of the psi-lambda diagram, e.g. yig.ps. The file
   is created, or emptied, as soon as this line has been read. A longer
   name is refused; an existing file is replaced only when it is empty or
   a plot written by kaven (the same holds for the SVG copy and the
   calculated-scan file named after it).

3. Lattice constants                                             (free format)
     a  b  c  alpha  beta  gamma
   Cell edges a, b, c in Angstrom and cell angles alpha, beta, gamma in
   degrees.

4. Radiation                                                     (three forms)
   X-ray tube, K-alpha1 and K-alpha2 of copper, molybdenum or silver: the
   two letters
     Cu   or   Mo   or   Ag
   in columns 1-2, written exactly so (capital, then small letter); the rest
   of the line is not read. Wavelengths, widths and the weight 0.5 of
   K-alpha2 come from the program's table, and so do f' and f'' of every
   element (item 8). Two wavelength passes are computed.
   Synchrotron radiation behind a crystal monochromator, recognised by the
   digit 1 or 2 in column 1 followed by a blank                  (free format)
     isyn  alam1  amono  hmono  kmono  lmono  fmono
   isyn                1: polarisation ratio +1, HUBER (HASYLAB)
                       diffractometer; 2: polarisation ratio -1,
   alam1               wavelength (Angstrom),
   amono               cubic cell edge of the monochromator crystal
                       (Angstrom),
   hmono kmono lmono   its reflection (integers),
   fmono               its structure factor.
   The relative wavelength width follows from the Darwin width of the
   monochromator reflection and the divergence diverp (item 5). One
   wavelength pass is computed.
   Any other two wavelengths of a tube                           (free format)
     alam1  dlam1  flam1  alam2  dlam2  flam2
   Wavelengths (Angstrom), relative widths dlambda/lambda and weights of the
   two lines. The two triples are exchanged when alam1 > alam2, so that the
   first pass uses the shorter wavelength.

5. Beam and crystal                                              (free format)
     diverp  divers  rkugel  radius  eta
   diverp, divers   beam divergences (degrees) parallel and normal to the
                    scattering plane of the primary reflection,
   rkugel           radius of the crystal sphere, or of the irradiated
                    cross-section (micrometre),
   radius           radius of the mosaic blocks (micrometre),
   eta              mosaic spread (degrees).

6. Psi range, steps and thresholds                               (free format)
     psia  psie  zsw1  nnn  drumin  zeimax
   psia, psie   start and end of the psi scan (degrees):
                -180 < psia < psie < 180 for CAD4 (X-ray tube, item 4),
                0 < psia < psie < 360 for HUBER (HASYLAB) (synchrotron);
                psia or psie beyond these limits ends the run, the limits
                themselves are accepted.
   zsw1         steps per degree of the simulated scan;
                zsw1 < 0: no Renninger-scan calculation.
   nnn          interference term (integer): nnn > 0 simulates the scan
                with the interference term of the triplet phase, nnn being
                the width of its phase-shift interval in units of the event
                width ("phase shift interval factor"); nnn = 0 without it.
   drumin       intensity threshold (cps) of the event listing and of the
                psi-lambda diagram; events above 0.01*drumin enter the
                simulated scan.
   zeimax       largest intensity (cps) of the scan plot; 0: scaled to the
                data.

7. Space group and counts                                        (free format)
     nr  na  nf
   nr   space-group number 1 to 230: the symmetry operators come from the
        program's table, in the settings of International Tables for
        Crystallography Vol. A: monoclinic groups with unique axis b, cell
        choice 1; orthorhombic, tetragonal and cubic groups with origin
        choice 2 (origin at the centre of symmetry) where two origins are
        given; trigonal R groups on rhombohedral axes.
        nr > 230: the operators follow in items 7a and 7b, and the lattice
        is primitive: give the atoms of a centred cell in item 9 (see
        example b).
   na   number of atoms in the asymmetric unit (item 9),
   nf   number of scattering-factor tables: chemical-symbol lines (item 8).

7a. Symmetry, only for nr > 230                                  (free format)
     ic  ns
   ic   1: centrosymmetric, the centre of symmetry at the origin: give only
        the operators not related by it; 2: acentric,
   ns   number of operators in item 7b, at most 24 (ns <= 24).

7b. Symmetry operators, only for nr > 230                        (free format)
     tx  sxx  sxy  sxz  ty  syx  syy  syz  tz  szx  szy  szz
   one operator per line, ns lines: x' = tx + sxx x + sxy y + sxz z,
   y' = ty + syx x + ..., translations in fractions of the cell edges. The
   first is usually the identity  0. 1 0 0  0. 0 1 0  0. 0 0 1.

8. Chemical symbols, nf lines                              (Format: a4,2f10.4)
     atn  fp  fpp
   columns  1-4   atn   symbol of the atom or ion as in International
                        Tables for Crystallography Vol. C, Table 6.1.1.4,
                        e.g. Fe, Fe3+, O1-, Siva,
   columns  5-14  fp    f', real part of the dispersion correction,
   columns 15-24  fpp   f'', imaginary part.
   A number without a decimal point has four implied decimals; blank
   columns read 0. With Cu, Mo or Ag radiation (item 4) f' and f'' are
   taken from the program's table and the columns may stay blank. When
   every line gives an f'' other than 0, the linear absorption coefficient
   is computed once more from the dispersion corrections.

9. Atoms, na groups                                              (free format)
     fnr  afact  x  y  z
     b11  b22  b33  b12  b13  b23
   fnr     number of the atom's chemical-symbol line (1 to nf),
   afact   multiplicity of the atom's site divided by that of the general
           position (times the occupancy of a partly occupied site),
   x y z   fractional coordinates,
   b11 ... anisotropic temperature factors of the form
           exp(-(b11 h h + b22 k k + b33 l l + 2 b12 h k + 2 b13 h l
           + 2 b23 k l)).
   The eleven values of a group usually take two lines; one line will do.

10. Primary reflection                                           (free format)
     h  k  l  f  phi  psi1  psi2
   h k l        indices of the primary reflection (integers),
   f, phi       its structure factor and phase (degrees): 0 0 lets the
                program compute them; give them for a reflection that is
                absent by symmetry yet observed, such as Si 222 (f > 2
                gives provisional results only),
   psi1, psi2   psi interval (degrees) of the measured scan in which the
                measured intensity of the primary reflection is taken,
                away from any multiple-diffraction event.
   An input file may end here: no orientation matrix, no measured scan.

11. Orientation matrix                                 (optional, free format)
     ub1  ub2  ub3
     ub4  ub5  ub6
     ub7  ub8  ub9
   The diffractometer's orientation matrix, row by row; its columns are the
   reciprocal axes a*, b*, c* (1/Angstrom). With it psi is counted as on
   the diffractometer; without it psi is counted from the reference
   direction listed with the events. The file may end here.

12. Measured scan                                     (optional, columns 1-72)
     dname2
   Name of the measured-scan file (name.ext). The extension obs means a
   list of measured values (see the examples below); any other extension
   means the output of the diffractometer: CAD4 with an X-ray tube (item
   4), HUBER (HASYLAB) with synchrotron radiation and isyn = 1. A blank line
   means no measured scan; a longer name is refused.

13a. Reference reflections                 (HUBER (HASYLAB) only, free format)
     ihr  ikr  ilr
   One line per reference reflection, at most 100, ended by the line
     999 0 0
   or by the end of the file. Read only for a HUBER (HASYLAB) scan file
   (isyn = 1, extension other than obs). The reference reflections measured
   in the scan file give the absolute scale (the incident intensity).

13b. Filter factors and dead times            (optional, HUBER (HASYLAB) only)
     ff1  ff2  ff3  tau1  tau2  tau3  bcm  w                     (free format)
   ff1 ff2 ff3      attenuation factors of the three filters,
   tau1 tau2 tau3   dead times of the detector and the monitors (seconds),
   bcm              beam count multiplier,
   w                read and not used (write 0).
   Without this line the values are taken from the "Filter factors" block
   of the scan file.
______________________________________________________________________________

Example si.obs: measured scan with reference reflections, synchrotron

One line per measured value, in free format:
     h  k  l  theta  psi  I  p
   h k l   indices: the lines of the primary reflection form the psi scan,
           every other line is a reference reflection,
   theta   Bragg angle (degrees),
   psi     azimuth of the measurement (degrees),
   I       integrated intensity (cps), background subtracted,
   p       polarisation ratio (synchrotron radiation only).
   An excerpt (primary reflection 2 2 2, wavelength 0.5612 Angstrom):
   2  2  2   10.311  176.000     38.7   0.96
   2  2  2   10.311  176.001     38.9   0.96
   2  2  2   10.311  176.002     41.2   0.96
   2  2  2   10.311  176.003     57.6   0.96
   ...
   2  2  0    8.403    0.000  61520.0   0.96
   3  1  1    9.867    0.000  30410.0   0.96
   4  0  0   11.927    0.000  43180.0   0.96
______________________________________________________________________________

Example zn.obs: measured scan with reference reflections, CuK-alpha 1,2

The same list without the polarisation ratio p (tube radiation).
   An excerpt (zinc, primary reflection 0 0 2):
   0  0  2   18.145  -40.00    612.0
   0  0  2   18.145  -39.98    608.5
   0  0  2   18.145  -39.96    655.1
   ...
   1  0  0   19.499    0.00   8850.0
   1  0  1   21.611    0.00  31200.0
   1  0  2   27.162    0.00  12930.0
______________________________________________________________________________

Additional output file:
The calculated scan-intensities are given in the file "name".cal
"name" is the name of the measured-scan file (item 12) without its last
four characters (.dat, .obs), or, without a measured scan, the name of the
plot file (item 2) without its last three characters (.ps). The file has
one line per psi step: psi (degrees) and the calculated intensity (cps).
______________________________________________________________________________

References:
M. Renninger, Z. Physik 106 (1937) 141-176.
H. Cole, F. W. Chambers and H. M. Dunn, Acta Cryst. 15 (1962) 138-144.
______________________________________________________________________________

Examples for input files

a) Example for X-ray-tube, nr <= 230:

YIG - KAVEN99
yig.ps
12.380  12.380  12.380   90. 90. 90.
Ag
0.14  0.14 150. 150.  0.0
-66.   16. 50  0  1. 0.
230  4  3
Y3+
Fe3+
O1-
   1  0.25  0.125  0.0  0.25
0.0004909  0.0004909  0.0004909  0.  0.  0.
   2  0.16667  0.0  0.0  0.0
0.0005728  0.0005728  0.0005728  0.  0.  0.
   2  0.25  0.375  0.0  0.25
0.0005564  0.0005564  0.0005564  0.  0.  0.
   3  1.   -0.0271  0.0568  0.1504
0.0006873  0.0006873  0.0006873  0.  0.  0.
 8  8  2  0  0 -24.5  -23.5
 -0.071161  -0.036463   0.012399
  0.038060  -0.062495   0.034549
 -0.006014   0.036221   0.072079
yig.dat

b) The same result is obtained, giving the symmetry information
   explicitly (nr = 231): the 24 operators of I a -3 d that the inversion
   does not relate, and, since the lattice is then primitive, each atom a
   second time shifted by the centring translation 1/2 1/2 1/2:

YIG - KAVEN99
yig.ps
12.380  12.380  12.380   90. 90. 90.
Ag
0.14  0.14 150. 150.  0.0
-66.   16. 50  0  1. 0.
231  8  3
1  24
0.    1  0  0    0.    0  1  0    0.    0  0  1
0.5  -1  0  0    0.    0 -1  0    0.5   0  0  1
0.   -1  0  0    0.5   0  1  0    0.5   0  0 -1
0.5   1  0  0    0.5   0 -1  0    0.    0  0 -1
0.    0  0  1    0.    1  0  0    0.    0  1  0
0.5   0  0  1    0.5  -1  0  0    0.    0 -1  0
0.5   0  0 -1    0.   -1  0  0    0.5   0  1  0
0.    0  0 -1    0.5   1  0  0    0.5   0 -1  0
0.    0  1  0    0.    0  0  1    0.    1  0  0
0.    0 -1  0    0.5   0  0  1    0.5  -1  0  0
0.5   0  1  0    0.5   0  0 -1    0.   -1  0  0
0.5   0 -1  0    0.    0  0 -1    0.5   1  0  0
0.75  0  1  0    0.25  1  0  0    0.25  0  0 -1
0.75  0 -1  0    0.75 -1  0  0    0.75  0  0 -1
0.25  0  1  0    0.25 -1  0  0    0.75  0  0  1
0.25  0 -1  0    0.75  1  0  0    0.25  0  0  1
0.75  1  0  0    0.25  0  0  1    0.25  0 -1  0
0.25 -1  0  0    0.75  0  0  1    0.25  0  1  0
0.75 -1  0  0    0.75  0  0 -1    0.75  0 -1  0
0.25  1  0  0    0.25  0  0 -1    0.75  0  1  0
0.75  0  0  1    0.25  0  1  0    0.25 -1  0  0
0.25  0  0  1    0.25  0 -1  0    0.75  1  0  0
0.25  0  0 -1    0.75  0  1  0    0.25  1  0  0
0.75  0  0 -1    0.75  0 -1  0    0.75 -1  0  0
Y3+
Fe3+
O1-
   1  0.25  0.125  0.0  0.25
0.0004909  0.0004909  0.0004909  0.  0.  0.
   2  0.16667  0.0  0.0  0.0
0.0005728  0.0005728  0.0005728  0.  0.  0.
   2  0.25  0.375  0.0  0.25
0.0005564  0.0005564  0.0005564  0.  0.  0.
   3  1.   -0.0271  0.0568  0.1504
0.0006873  0.0006873  0.0006873  0.  0.  0.
   1  0.25  0.625  0.5  0.75
0.0004909  0.0004909  0.0004909  0.  0.  0.
   2  0.16667  0.5  0.5  0.5
0.0005728  0.0005728  0.0005728  0.  0.  0.
   2  0.25  0.875  0.5  0.75
0.0005564  0.0005564  0.0005564  0.  0.  0.
   3  1.    0.4729  0.5568  0.6504
0.0006873  0.0006873  0.0006873  0.  0.  0.
 8  8  2  0  0 -24.5  -23.5
 -0.071161  -0.036463   0.012399
  0.038060  -0.062495   0.034549
 -0.006014   0.036221   0.072079
yig.dat

c) Example for synchrotron radiation

Si 222 - synchrotron radiation, Si 111 monochromator
si222.ps
5.4309  5.4309  5.4309  90. 90. 90.
1 0.5612  5.43 1 1 1 58.19
0.005  0.01  250.  20.  0.001
176. 179. 1000. 8  1. 0.
2  4  1
Siva 0.0522    0.0431
   1  1.  0.125  0.125  0.125
0.0039  0.0039  0.0039  0.  0.  0.
   1  1.  0.125  0.625  0.625
0.0039  0.0039  0.0039  0.  0.  0.
   1  1.  0.625  0.125  0.625
0.0039  0.0039  0.0039  0.  0.  0.
   1  1.  0.625  0.625  0.125
0.0039  0.0039  0.0039  0.  0.  0.
2  2  2   1.5    0. 176.0   176.1
  0.130200  -0.075167   0.106311
  0.130200   0.075167  -0.106311
  0.000000   0.150335   0.106311
si222.dat
4 0 0
0 4 0
0 0 4
2 2 0
2 0 2
0 2 2
3 1 1
1 3 1
1 1 3
999 0 0
2.029 4.065 16.756 0.0000029 0.000005 0.000005 10000. 0.
______________________________________________________________________________
)HELP";

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t e = text.find('\n');
    if (e == std::string_view::npos) e = text.size();
    lines.push_back(text.substr(0, e));
    text.remove_prefix(std::min(e + 1, text.size()));
  }
  return lines;
}

}  // namespace

std::span<const std::string_view> input_description() {
  static const std::vector<std::string_view> lines = split_lines(kDescription);
  return lines;
}

std::string in_help(const std::filesystem::path& file) {
  std::ofstream os(file, std::ios::out | std::ios::trunc);
  if (!os) return std::generic_category().message(errno);
  for (std::string_view line : input_description()) os << line << '\n';
  os.close();
  if (!os) return "writing failed";
  return {};
}

}  // namespace kaven::gui
