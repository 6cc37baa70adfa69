#include "input/input_reader.hpp"

#include <algorithm>
#include <cmath>
#include <new>

#include "core/constants.hpp"
#include "core/fixed_text.hpp"
#include "core/run_stop.hpp"

namespace kaven {
namespace {

// Every read error is written after two empty records; the run status is the read's.
[[noreturn]] void read_error(int status, const char* which) {
  stop_run({"", "", std::string("read-error in the ") + which + " of the input-file"}, status);
}

void check(int status, const char* which) {
  if (status != 0) read_error(status, which);
}

}  // namespace

bool tube_constants(RunParameters& p, std::string_view clam) {
  struct Tube {
    const char* clam;
    float alam1, dlam1, alam2, dlam2, flam2, tubefac, cos2tm;
  };
  static constexpr Tube tubes[] = {
      {"Cu", 1.540598f, 0.000306f, 1.544426f, 0.000413f, 0.5f, 12.179f, 0.89423f},
      {"Mo", 0.7093f, 0.00041f, 0.71359f, 0.00045f, 0.5f, 16.68f, 0.97749f},
      {"Ag", 0.55942f, 0.00048f, 0.563811f, 0.00052f, 0.5f, 13.95f, 0.986f},
  };
  for (const Tube& t : tubes) {
    if (clam != t.clam) continue;
    p.clam = t.clam;
    p.alam1 = t.alam1;
    p.dlam1 = t.dlam1;
    p.flam1 = 1.0f;
    p.alam2 = t.alam2;
    p.dlam2 = t.dlam2;
    p.flam2 = t.flam2;
    p.tubefac = t.tubefac;
    p.cos2tm = t.cos2tm;
    p.isyn = 0;
    p.polsgn = 0;
    p.i0 = 2e9f;
    return true;
  }
  return false;
}

void monochromator(RunParameters& p) {
  // Bragg angle of the cubic monochromator crystal's reflection hmono kmono lmono and its
  // Darwin width 2 r_e F lambda^2 / (pi V sin 2theta) in the small-angle form the
  // wavelength cancels from.
  const double h = p.hmono, k = p.kmono, l = p.lmono;
  const double qm = std::sqrt(h * h + k * k + l * l) / p.amono;
  p.thmono = static_cast<float>(std::asin(qm * p.alam1 * 0.5));
  p.dwmono = static_cast<float>(2.0 * 1000.0 * p.fmono * p.alam1 * double(kElectronRadiusFm) /
                                (static_cast<double>(p.amono) * p.amono * p.amono * qm * qm *
                                 kAngstromPerCm * p.alam1));
}

float synchrotron_i0(float alam1) { return alam1 == 1.275f ? 1.1e10f : 1e10f; }

void synchrotron_band(RunParameters& p) {
  // The relative band width behind the monochromator: its Darwin width and the parallel
  // divergence over tan theta_m.
  const double div = p.diverp * double(kDegToRad) / std::tan(static_cast<double>(p.thmono));
  p.dlam1 = static_cast<float>(std::sqrt(double(p.dwmono) * p.dwmono + div * div));
}

void read_title(RunParameters& p, LineSource& src) {
  check(read_text(src, 80, p.title), "first line");
}

namespace {

// A file name of the input: a longer one would be cut to another file's name, and
// control characters (a line of binary data) name no file anyone meant. Either is a
// malformed line.
void check_file_name(const std::string& name, bool cut, const char* line, const char* what) {
  const bool control = std::any_of(name.begin(), name.end(), [](char ch) {
    const auto u = static_cast<unsigned char>(ch);
    return u < 0x20 || u == 0x7f;
  });
  if (cut || control)
    stop_run({"", "", std::string("read-error in the ") + line + " of the input-file",
              std::string(" ( the ") + what +
                  (cut ? " is longer than 72 characters )" : " holds control characters )")},
             kStatusMalformed);
}

}  // namespace

void read_plot_name(RunParameters& p, LineSource& src) {
  bool cut = false;
  check(read_text(src, 72, p.dname1, &cut), "second line");
  check_file_name(p.dname1, cut, "second line", "plot-file name");
}

void read_cell_to_counts(RunParameters& p, LineSource& src) {
  {
    const FreeItem items[] = {&p.a, &p.b, &p.c, &p.alpha, &p.beta, &p.gamma};
    check(read_free(src, items), "third line");
  }
  // Line 4: the wavelength indicator in columns 1-2, compared exactly.
  std::string line4;
  check(read_text(src, 72, line4), "fourth line");
  std::string ind = line4.substr(0, 2);
  if (!tube_constants(p, ind)) {
    LineSource again(line4);
    if (ind == "1 " || ind == "2 ") {
      const FreeItem items[] = {&p.isyn, &p.alam1, &p.amono, &p.hmono,
                                &p.kmono, &p.lmono, &p.fmono};
      check(read_free(again, items), "fourth line");
      p.flam1 = 1.0f;
      p.cos2tm = 1.0f;
      p.tubefac = 1.0f;
      p.i0 = synchrotron_i0(p.alam1);
      monochromator(p);
      p.polsgn = p.isyn == 1 ? 1.0f : -1.0f;
      p.clam = "dl";
    } else {
      const FreeItem items[] = {&p.alam1, &p.dlam1, &p.flam1, &p.alam2, &p.dlam2, &p.flam2};
      check(read_free(again, items), "fourth line");
      if (p.alam1 > p.alam2) {  // alam1 is the shorter wavelength
        std::swap(p.alam1, p.alam2);
        std::swap(p.dlam1, p.dlam2);
        std::swap(p.flam1, p.flam2);
      }
      p.clam = "dl";
      p.cos2tm = 1.0f;
      p.tubefac = 1.0f;
      p.i0 = 2e9f;
      p.polsgn = 0;
      p.isyn = 0;
    }
  }
  {
    const FreeItem items[] = {&p.diverp, &p.divers, &p.rkugel, &p.radius, &p.eta};
    check(read_free(src, items), "fifth line");
    p.rkugel = static_cast<float>(p.rkugel * kCmPerMicron);
    p.block_path_cm = static_cast<float>(4.0 / 3.0 * p.radius * kCmPerMicron);
    if (p.isyn > 0) synchrotron_band(p);
  }
  {
    const FreeItem items[] = {&p.psia, &p.psie, &p.zsw1, &p.nnn, &p.drumin, &p.zeimax};
    check(read_free(src, items), "sixth line");
    p.drumin_scan = static_cast<float>(0.01 * p.drumin);
    p.zsw = std::fabs(p.zsw1);
    if (p.isyn == 0 && (p.psia < -180.0f || p.psie > 180.0f))
      stop_run({"", " Psi-range is out of -180. to 180."});
    if (p.isyn > 0 && (p.psia < 0.0f || p.psie > 360.0f))
      stop_run({"", " Psi-range is out of 0. to 360."});
    // A range that runs backwards holds no step, and without steps per degree there is
    // no step grid (psi = psia + i/zsw).
    if (p.psie < p.psia)
      stop_run({"", " The psi range is empty: psie is smaller than psia on the sixth input line."});
    if (p.zsw1 == 0.0f)
      stop_run({"", " The number of steps per degree zsw1 on the sixth input line must not be 0."});
  }
  {
    const FreeItem items[] = {&p.nr, &p.na, &p.nf};
    check(read_free(src, items), "seventh line");
    p.ncent = 1;
    if (p.na < 0 || p.nf < 0)
      stop_run({"", "", "read-error in the seventh line of the input-file",
                " ( the numbers of atoms na and of element lines nf must not be negative )"},
               kStatusMalformed);
    // The per-atom and per-element arrays grow line by line as the element and atom
    // lines are read: a count takes no more memory than the lines the file holds, and
    // a count the file does not hold ends at its end as a read error of those lines.
    try {
      p.types.clear();
      p.atoms.clear();
      p.types.reserve(static_cast<std::size_t>(std::min(p.nf, 256)));
      p.atoms.reserve(static_cast<std::size_t>(std::min(p.na, 1024)));
    } catch (const std::bad_alloc&) {
      stop_run({"", "", " Dynamical array allocation failed", " Number of atoms is to large",
                " Please contact the author of KAVEN-xx!"});
    }
  }
}

SymmetrySource symmetry_source(const RunParameters& p) {
  if (p.nr < 1)
    stop_run({"", "", "read-error in the seventh line of the input-file",
              " ( the space-group number nr must be at least 1 )"},
             kStatusMalformed);
  return p.nr <= 230 ? SymmetrySource::table : SymmetrySource::explicit_lines;
}

void read_explicit_operators(RunParameters& p, LineSource& src) {
  p.space_group = rec::pad("P", 30);
  p.ncent = 1;
  // One free read: ic, ns, then per operator and row the translation and the three
  // coefficients (tx sxx sxy sxz ty syx syy syz tz szx szy szz). No operator beyond
  // the 24th is stored.
  FreeRead list(src);
  const FreeItem head[] = {&p.ic, &p.ns};
  check(list.read(head), "symmetry information lines");
  // The structure factor pairs the terms of an inversion at the origin (ic = 1) or
  // sums them all (ic = 2): there is no third kind.
  if (p.ic != 1 && p.ic != 2)
    stop_run({"", "", "read-error in the symmetry information lines of the input-file",
              " ( ic must be 1, centrosymmetric, or 2, acentric )"},
             kStatusMalformed);
  if (p.ns < 1)
    stop_run({" The number of symmetry lines must be at least 1 (the identity)", " ( 1 <= ns <= 24)"});
  std::vector<SymmetryOperator> ops(static_cast<std::size_t>(std::min(p.ns, 24)));
  std::vector<FreeItem> items;
  for (auto& op : ops)
    for (int j = 0; j < 3; ++j) {
      items.push_back(&op.t[j]);
      for (int k = 0; k < 3; ++k) items.push_back(&op.s[j][k]);
    }
  if (p.ns > 24) stop_run({" The number of symmetry lines is to large", " ( ns <= 24)"});
  check(list.read(items), "symmetry information lines");
  p.ops = std::move(ops);
}

void read_element_line(RunParameters& p, LineSource& src, int f) {
  // Columns 1-4 the symbol, 5-14 f', 15-24 f'' (F10.4: four implied decimals).
  std::string line;
  int st = read_text(src, 24, line);
  if (static_cast<std::size_t>(f) >= p.types.size()) p.types.resize(static_cast<std::size_t>(f) + 1);
  AtomType& t = p.types[static_cast<std::size_t>(f)];
  if (st == 0) st = parse_fixed_real(std::string_view(line).substr(4, 10), 4, t.fp);
  if (st == 0) st = parse_fixed_real(std::string_view(line).substr(14, 10), 4, t.fpp);
  check(st, "chemical symbol lines");
  t.atn = line.substr(0, 4);
  t.ncell = 0;
}

namespace {

// The element lines whose number f (1..nf) equals the atom's fnr as reals: one line
// for a whole fnr up to 2^24, and the few whose single-precision value is fnr beyond.
template <class Visit>
void for_types_of(const RunParameters& p, float fnr, Visit&& visit) {
  if (!(fnr >= 1.0f && fnr <= static_cast<float>(p.nf))) return;
  const long centre = std::lround(double(fnr));
  const long lo = std::max(1L, centre - 256);
  const long hi = std::min({static_cast<long>(p.nf), static_cast<long>(p.types.size()), centre + 256});
  for (long f = lo; f <= hi; ++f)
    if (static_cast<float>(f) == fnr) visit(static_cast<std::size_t>(f - 1));
}

}  // namespace

void read_atoms(RunParameters& p, LineSource& src) {
  // Atoms in the cell per atom of the asymmetric unit: the general position holds
  // ns operators, doubled by the inversion (ic = 1), times the lattice points.
  double ic = p.ic != 0 ? p.ic : 1;
  double per_site = p.ns * 2.0 * p.ncent / ic;
  p.atoms.clear();
  for (int i = 0; i < p.na; ++i) {
    Atom& at = p.atoms.emplace_back();
    const FreeItem items[] = {&at.fnr, &at.afact, &at.x, &at.y, &at.z, &at.bt[0],
                              &at.bt[1], &at.bt[2], &at.bt[3], &at.bt[4], &at.bt[5]};
    check(read_free(src, items), "atom parameter lines");
    for_types_of(p, at.fnr, [&](std::size_t f) {
      AtomType& t = p.types[f];
      t.ncell = static_cast<float>(t.ncell + at.afact * per_site);
    });
  }
}

int read_primary_and_optional(RunParameters& p, LineSource& src) {
  {
    const FreeItem items[] = {&p.h, &p.k, &p.l, &p.f, &p.phi, &p.psi1, &p.psi2};
    check(read_free(src, items), "primary reflection line");
    p.npsi1 = static_cast<int>(std::lround((double(p.psi1) - p.psia) * p.zsw));
    p.npsi2 = static_cast<int>(std::lround((double(p.psi2) - p.psia) * p.zsw));
    p.phi = static_cast<float>(p.phi * double(kDegToRad));
    p.scan_present = false;
    p.dname2 = std::string(72, ' ');
  }
  p.ub_read = false;
  {
    std::array<float, 9> ub = p.ub;
    const FreeItem items[] = {&ub[0], &ub[1], &ub[2], &ub[3], &ub[4],
                              &ub[5], &ub[6], &ub[7], &ub[8]};
    const int st = read_free(src, items);
    if (st > 0) read_error(st, "ub-matrix lines");
    if (st < 0) return st;  // no orientation matrix and no scan file: reading ends
    p.ub = ub;
    p.ub_read = true;
  }
  {
    // The scan-file name has a status of its own that never stops the run.
    std::string name;
    bool cut = false;
    if (read_text(src, 72, name, &cut) == 0) {
      check_file_name(name, cut, "scan-file line", "measured-scan file name");
      p.dname2 = name;
      p.scan_present = !rec::rtrim(name).empty();
    }
  }
  return 0;
}

}  // namespace kaven
