#include "cif/input_from_cif.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>
#include <sstream>

#include <gemmi/elem.hpp>

#include "core/constants.hpp"
#include "input/input_reader.hpp"
#include "scattering/anomalous_dispersion.hpp"
#include "scattering/element_table.hpp"

namespace kaven {

namespace {

constexpr std::size_t kMaxOperators = 24;
// Two images of a site closer than this are one position: the site lies on a symmetry
// element. Small enough that a split (disordered) atom keeps its two halves apart,
// large enough for coordinates such as 0.3333 given for 1/3.
constexpr double kSamePositionA = 0.1;

std::string format_hkl(const std::array<int, 3>& h) {
  return std::to_string(h[0]) + " " + std::to_string(h[1]) + " " + std::to_string(h[2]);
}

std::string fixed(double v, int decimals) {
  std::ostringstream os;
  os.setf(std::ios::fixed);
  os.precision(decimals);
  os << v;
  return os.str();
}

// Direct and reciprocal metric tensors of the cell, in double.
struct Metric {
  double g[3][3];   // Å^2
  double gs[3][3];  // Å^-2
};

Metric metric(const std::array<double, 6>& cell) {
  const double deg = kPi / 180;
  const double a = cell[0], b = cell[1], c = cell[2];
  // A right angle has cosine 0, not the 6e-17 of cos(pi/2) in double, so that the
  // betas of orthogonal axes carry no cross terms.
  auto cosine = [deg](double angle) {
    const double v = std::cos(angle * deg);
    return std::fabs(v) < 1e-12 ? 0.0 : v;
  };
  const double ca = cosine(cell[3]), cb = cosine(cell[4]), cg = cosine(cell[5]);
  Metric m{{{a * a, a * b * cg, a * c * cb}, {a * b * cg, b * b, b * c * ca},
            {a * c * cb, b * c * ca, c * c}},
           {}};
  const double (&g)[3][3] = m.g;
  const double det = g[0][0] * (g[1][1] * g[2][2] - g[1][2] * g[2][1]) -
                     g[0][1] * (g[1][0] * g[2][2] - g[1][2] * g[2][0]) +
                     g[0][2] * (g[1][0] * g[2][1] - g[1][1] * g[2][0]);
  if (!(det > 0)) throw CifError("the cell constants give no cell volume");
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const int i1 = (j + 1) % 3, i2 = (j + 2) % 3, j1 = (i + 1) % 3, j2 = (i + 2) % 3;
      m.gs[i][j] = (g[i1][j1] * g[i2][j2] - g[i1][j2] * g[i2][j1]) / det;
    }
  return m;
}

double reciprocal_length(const Metric& m, const std::array<int, 3>& h) {
  double q = 0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) q += h[i] * m.gs[i][j] * h[j];
  return std::sqrt(q);
}

// Fractional position of an image, each coordinate brought to 0..1.
std::array<double, 3> image(const ExactOperator& g, const std::array<double, 3>& x) {
  std::array<double, 3> r{};
  for (int i = 0; i < 3; ++i) {
    double v = double(g.tran[i]) / kTranslationDenominator;
    for (int k = 0; k < 3; ++k) v += g.rot[3 * i + k] * x[k];
    r[i] = v - std::floor(v);
  }
  return r;
}

double distance(const Metric& m, const std::array<double, 3>& x, const std::array<double, 3>& y) {
  double d[3];
  for (int i = 0; i < 3; ++i) d[i] = (x[i] - y[i]) - std::round(x[i] - y[i]);
  double q = 0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) q += d[i] * m.g[i][j] * d[j];
  return std::sqrt(q);
}

// Number of distinct positions of the site in the cell under the whole group.
int site_multiplicity(const Metric& m, const FullGroup& group, const std::array<double, 3>& x) {
  std::vector<std::array<double, 3>> seen;
  for (const ExactOperator& g : group) {
    const std::array<double, 3> y = image(g, x);
    if (std::none_of(seen.begin(), seen.end(),
                     [&](const auto& s) { return distance(m, s, y) < kSamePositionA; }))
      seen.push_back(y);
  }
  return static_cast<int>(seen.size());
}

// beta_ij = 2 pi^2 a*_i a*_j U_ij, or 2 pi^2 U G*_ij for an isotropic U: the exponent
// of the run's temperature factor is h^T beta h with the off-diagonal terms doubled.
std::array<float, 6> betas(const Metric& m, const CifSite& s) {
  static constexpr int pair[6][2] = {{0, 0}, {1, 1}, {2, 2}, {0, 1}, {0, 2}, {1, 2}};
  std::array<float, 6> bt{};
  for (int n = 0; n < 6; ++n) {
    const int i = pair[n][0], j = pair[n][1];
    double v = 0;
    if (s.adp == Displacement::anisotropic)
      v = 2 * kPi * kPi * std::sqrt(m.gs[i][i] * m.gs[j][j]) * s.u_aniso[n];
    else if (s.adp == Displacement::isotropic)
      v = 2 * kPi * kPi * s.u_iso * m.gs[i][j];
    bt[n] = static_cast<float>(v);
  }
  return bt;
}

// Moves the origin by c (24ths): x' = x - c, g' = (R, R c + t - c).
FullGroup shifted_group(const FullGroup& group, const std::array<int, 3>& c) {
  FullGroup out;
  for (ExactOperator g : group) {
    std::array<int, 3> t = g.tran;
    for (int i = 0; i < 3; ++i) {
      t[i] -= c[i];
      for (int k = 0; k < 3; ++k) t[i] += g.rot[3 * i + k] * c[k];
    }
    g.tran = wrap_translation(t);
    out.insert(g);
  }
  return out;
}

// The inversion centres of a group with an inversion not at the origin, as origin shifts
// in 24ths (only those that keep the translations in 24ths).
std::vector<std::array<int, 3>> inversion_centres(const FullGroup& group) {
  std::vector<std::array<int, 3>> centres;
  for (const ExactOperator& g : group)
    if (g.rot == std::array<int, 9>{-1, 0, 0, 0, -1, 0, 0, 0, -1} && g.tran[0] % 2 == 0 &&
        g.tran[1] % 2 == 0 && g.tran[2] % 2 == 0)
      centres.push_back({g.tran[0] / 2, g.tran[1] / 2, g.tran[2] / 2});
  return centres;
}

// The group's operators in the order of the file, then those only the closure added.
std::vector<ExactOperator> ordered_group(const std::vector<ExactOperator>& given,
                                         const FullGroup& group) {
  std::vector<ExactOperator> ordered;
  std::set<ExactOperator> seen;
  for (ExactOperator g : given) {
    g.tran = wrap_translation(g.tran);
    if (group.count(g) && seen.insert(g).second) ordered.push_back(g);
  }
  for (const ExactOperator& g : group)
    if (seen.insert(g).second) ordered.push_back(g);
  return ordered;
}

bool is_tube(const std::string& t) { return t == "Cu" || t == "Mo" || t == "Ag"; }

void check_options(const CifRunOptions& o) {
  auto fail = [](const std::string& what) { throw CifError(what); };
  if (o.hkl == std::array<int, 3>{}) fail("the primary reflection 0 0 0 has no scattering vector");
  if (o.tube.empty() == (o.wavelength <= 0))
    fail("give either a tube (Cu, Mo or Ag) or a synchrotron wavelength");
  if (!o.tube.empty() && !is_tube(o.tube))
    fail("the tube '" + o.tube + "' is not one of Cu, Mo and Ag");
  if (o.tube.empty() && o.isyn != 1 && o.isyn != 2)
    fail("the polarisation setting must be 1 (sigma) or 2 (pi)");
  if (!(o.rkugel_um > 0) || !(o.radius_um > 0))
    fail("the crystal and mosaic-block radii must be positive");
  if (!(o.eta >= 0) || !((*o.divergence)[0] >= 0) || !((*o.divergence)[1] >= 0))
    fail("the mosaic spread and the divergences must not be negative");
  const auto [psia, psie] = *o.psi_range;
  const bool synchrotron = o.tube.empty();
  const float lo = synchrotron ? 0.0f : -180.0f, hi = synchrotron ? 360.0f : 180.0f;
  if (!(psia < psie) || psia < lo || psie > hi)
    fail("the psi range must run upwards within " + fixed(lo, 0) + " to " + fixed(hi, 0) +
         " degrees for " + (synchrotron ? "synchrotron radiation" : "a tube"));
  if (o.zsw1 == 0 || !std::isfinite(o.zsw1) ||
      (double(psie) - psia) * std::fabs(double(o.zsw1)) > 5.0e7)
    fail("the steps per degree must be non-zero and give at most 5e7 steps");
  if (!(o.drumin >= 0)) fail("the intensity threshold drumin must not be negative");
  if (!o.scan_file.empty() && !o.ub)
    fail("a measured-scan file needs the orientation matrix (the file name follows it)");
  if (o.plot_file.empty() || o.plot_file.size() > 72 || o.plot_file.front() == ' ')
    fail("the plot-file name must be 1 to 72 characters without leading blanks");
  if (o.scan_file.size() > 72) fail("the measured-scan file name is longer than 72 characters");
}

}  // namespace

std::string element_key(const std::string& type_symbol) {
  std::string s = type_symbol;
  s.erase(0, s.find_first_not_of(' '));
  s.erase(s.find_last_not_of(' ') + 1);
  if (s.empty()) return {};
  if (s.size() <= 4 && find_element(s)) return s;
  if (!std::isalpha(static_cast<unsigned char>(s[0]))) return {};
  // The element: two letters when they name one, else the first letter.
  std::string el(1, static_cast<char>(std::toupper(static_cast<unsigned char>(s[0]))));
  if (s.size() > 1 && std::isalpha(static_cast<unsigned char>(s[1]))) {
    const std::string two = el + static_cast<char>(std::tolower(static_cast<unsigned char>(s[1])));
    if (gemmi::find_element(two.c_str()) != gemmi::El::X) el = two;
  }
  const gemmi::Element element(el.c_str());
  if (element == gemmi::El::X) return {};
  // The charge: "3+", "+3" or "+".
  const std::string rest = s.substr(el.size());
  std::string ion;
  auto sign = [](char c) { return c == '+' || c == '-'; };
  auto digit = [](char c) { return c >= '1' && c <= '9'; };
  if (rest.size() == 2 && digit(rest[0]) && sign(rest[1])) ion = el + rest;
  if (rest.size() == 2 && sign(rest[0]) && digit(rest[1])) ion = el + rest[1] + rest[0];
  if (rest.size() == 1 && sign(rest[0])) ion = el + "1" + rest;
  if (!ion.empty() && find_element(ion)) return ion;
  // The neutral species: the first of the element's entries without a charge.
  const int z = element.atomic_number();
  for (const ElementEntry& e : element_table()) {
    const std::string_view key = e.key;
    if (e.z == z && key.find_first_of("+-") == std::string_view::npos) return std::string(key);
  }
  return {};
}

CifRunOptions with_defaults(const CifRunOptions& options) {
  CifRunOptions o = options;
  const bool synchrotron = o.tube.empty();
  if (!o.divergence) o.divergence = synchrotron ? std::array{0.005f, 0.01f} : std::array{0.14f, 0.14f};
  if (!o.psi_range) o.psi_range = synchrotron ? std::array{0.0f, 360.0f} : std::array{-180.0f, 180.0f};
  if (!o.primary_interval) o.primary_interval = std::array{(*o.psi_range)[0], (*o.psi_range)[0]};
  return o;
}

CifConversion input_from_cif(const CifStructure& cif, const CifRunOptions& given) {
  const CifRunOptions o = with_defaults(given);
  check_options(o);
  CifConversion out;
  InputDeck& d = out.deck;
  const Metric m = metric(cif.cell);
  for (int i = 0; i < 6; ++i) d.cell[i] = static_cast<float>(cif.cell[i]);
  out.notes = cif.notes;

  // ---- symmetry --------------------------------------------------------------------
  FullGroup group = close_group(cif.operators);
  if (group.empty())
    throw CifError("the symmetry operators (" + cif.symmetry_source + ") do not form a space group");
  if (group.size() > cif.operators.size())
    out.notes.push_back("the operators of the CIF were completed to the whole group of " +
                        std::to_string(group.size()));
  std::vector<ExactOperator> ordered = ordered_group(cif.operators, group);
  std::array<int, 3> origin_shift{};  // 24ths, subtracted from every coordinate
  ExplicitOperators ex;
  d.nr = find_table_setting(group);
  if (d.nr == 0) {
    ex = explicit_operators(ordered, kMaxOperators);
    if (ex.ops.size() > kMaxOperators) {
      // Centrosymmetric with the inversion elsewhere: only with the origin on an
      // inversion centre does the set fit (the inversion then halves it).
      const std::vector<std::array<int, 3>> centres = inversion_centres(group);
      if (centres.empty())
        throw CifError("the space group needs " + std::to_string(ex.ops.size()) +
                       " operators in the setting of the CIF, more than the 24 an input holds");
      origin_shift = centres.front();
      for (const auto& c : centres)
        if (find_table_setting(shifted_group(group, c)) != 0) {
          origin_shift = c;
          break;
        }
      group = shifted_group(group, origin_shift);
      std::vector<ExactOperator> moved;
      for (const ExactOperator& g : ordered) {
        FullGroup one = shifted_group({g}, origin_shift);
        moved.push_back(*one.begin());
      }
      ordered = moved;
      auto frac = [](int v) { return fixed(v / 24.0, 4); };
      out.notes.push_back("the origin was moved to the inversion centre at " +
                          frac(origin_shift[0]) + " " + frac(origin_shift[1]) + " " +
                          frac(origin_shift[2]) +
                          ": the atom coordinates are shifted by it (the operators of this "
                          "setting would not fit into 24 without the inversion at the origin)");
      d.nr = find_table_setting(group);
      ex = d.nr == 0 ? explicit_operators(ordered, kMaxOperators) : ExplicitOperators{};
    }
  }
  if (d.nr == 0) {
    d.nr = 231;
    d.ic = ex.ic;
    d.ops = ex.ops;
  }
  const int order = static_cast<int>(group.size());
  out.group_order = order;

  // ---- elements and atoms ----------------------------------------------------------
  const bool synchrotron = o.tube.empty();
  std::set<std::string> noted;
  for (const CifSite& s : cif.sites) {
    const std::string key = element_key(s.type_symbol);
    if (key.empty())
      throw CifError("atom site '" + s.label + "': the type symbol '" + s.type_symbol +
                     "' names no element of the scattering-factor table" +
                     (s.symbol_from_label ? " (the CIF gives no _atom_site_type_symbol; the label was read instead)" : ""));
    if (key != s.type_symbol && noted.insert(s.type_symbol).second)
      out.notes.push_back("type symbol '" + s.type_symbol + "' is written as the table's '" +
                          key + "'");
    auto it = std::find_if(d.elements.begin(), d.elements.end(),
                           [&](const InputDeck::Element& e) { return e.atn == key; });
    if (it == d.elements.end()) {
      InputDeck::Element e;
      e.atn = key;
      if (synchrotron) {
        // f' and f'' at the synchrotron energy (Cromer-Liberman); the table holds them
        // for the three tubes only.
        const AnomalousDispersion fd = cromer_liberman(find_element(key)->z, o.wavelength);
        e.fp = static_cast<float>(fd.fp);
        e.fpp = static_cast<float>(fd.fpp);
        e.dispersion = true;
      }
      d.elements.push_back(e);
      it = d.elements.end() - 1;
    }
    const float fnr = static_cast<float>(it - d.elements.begin() + 1);

    std::array<double, 3> x = s.fract;
    for (int i = 0; i < 3; ++i) x[i] -= double(origin_shift[i]) / kTranslationDenominator;
    const int mult = site_multiplicity(m, group, x);
    if (s.adp == Displacement::none)
      out.notes.push_back("atom site '" + s.label + "' has no displacement parameters: its betas are 0");
    Atom a;
    a.fnr = fnr;
    a.afact = static_cast<float>(s.occupancy * mult / order);
    a.x = static_cast<float>(x[0]);
    a.y = static_cast<float>(x[1]);
    a.z = static_cast<float>(x[2]);
    const std::array<float, 6> bt = betas(m, s);
    std::copy(bt.begin(), bt.end(), a.bt);
    // The input holds single-precision numbers: a value beyond them would be written
    // as a word the reader refuses.
    if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(a.z))
      throw CifError("atom site '" + s.label + "': a fractional coordinate is beyond single precision");
    if (!std::isfinite(a.afact))
      throw CifError("atom site '" + s.label + "': the occupancy is beyond single precision");
    if (!std::all_of(bt.begin(), bt.end(), [](float b) { return std::isfinite(b); }))
      throw CifError("atom site '" + s.label +
                     "': the displacement parameters give betas beyond single precision");
    d.atoms.push_back(a);
  }
  if (!ex.atom_copies.empty()) {
    // The centring stays out of the operators: every atom once per lattice point.
    const std::size_t n = d.atoms.size();
    for (const auto& t : ex.atom_copies)
      for (std::size_t i = 0; i < n; ++i) {
        Atom a = d.atoms[i];
        a.x += static_cast<float>(t[0]) / kTranslationDenominator;
        a.y += static_cast<float>(t[1]) / kTranslationDenominator;
        a.z += static_cast<float>(t[2]) / kTranslationDenominator;
        d.atoms.push_back(a);
      }
  }

  // ---- radiation and the primary reflection ---------------------------------------
  float longest = 0;
  if (synchrotron) {
    d.isyn = o.isyn;
    d.wavelength = o.wavelength;
    d.amono = o.mono.a;
    d.hkl_mono = o.mono.hkl;
    d.fmono = o.mono.f;
    const double qm = std::sqrt(double(o.mono.hkl[0] * o.mono.hkl[0] + o.mono.hkl[1] * o.mono.hkl[1] +
                                       o.mono.hkl[2] * o.mono.hkl[2])) / o.mono.a;
    if (!(o.mono.a > 0) || !(qm > 0) || qm * o.wavelength / 2 >= 1)
      throw CifError("the monochromator reflection " + format_hkl(o.mono.hkl) +
                     " cannot be reached with the wavelength " + fixed(o.wavelength, 4) + " Å");
    longest = o.wavelength;
  } else {
    d.tube = o.tube;
    RunParameters tube;
    tube_constants(tube, o.tube);
    longest = std::max(tube.alam1, tube.alam2);  // K-alpha2
  }
  const double hp = reciprocal_length(m, o.hkl);
  if (longest * hp / 2 > 1)
    throw CifError("the primary reflection " + format_hkl(o.hkl) + " (d = " + fixed(1 / hp, 4) +
                   " Å) cannot be reached with the wavelength " + fixed(longest, 4) +
                   " Å: lambda/2d = " + fixed(longest * hp / 2, 3) + " > 1");
  d.hkl = o.hkl;

  // ---- the experiment --------------------------------------------------------------
  d.diverp = (*o.divergence)[0];
  d.divers = (*o.divergence)[1];
  d.rkugel_um = o.rkugel_um;
  d.radius_um = o.radius_um;
  d.eta = o.eta;
  d.psia = (*o.psi_range)[0];
  d.psie = (*o.psi_range)[1];
  d.zsw1 = o.zsw1;
  d.nnn = o.nnn;
  d.drumin = o.drumin;
  d.zeimax = o.zeimax;
  d.psi1 = (*o.primary_interval)[0];
  d.psi2 = (*o.primary_interval)[1];
  d.ub = o.ub;
  d.scan_file = o.scan_file;
  d.plot_file = o.plot_file;
  if (!o.title.empty()) {
    d.title = o.title;
  } else {
    d.title = (!cif.formula.empty() ? cif.formula : cif.block_name) +
              (cif.space_group_name.empty() ? std::string() : "  " + cif.space_group_name) +
              "  primary " + format_hkl(o.hkl) +
              (o.cif_name.empty() ? std::string() : "  (from " + o.cif_name + ")");
  }
  if (d.title.size() > 80) d.title.resize(80);
  return out;
}

}  // namespace kaven
