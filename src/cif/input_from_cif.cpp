#include "cif/input_from_cif.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>
#include <sstream>

#include <gemmi/elem.hpp>

#include "core/constants.hpp"
#include "core/number_text.hpp"
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
  // (the run refuses a volume below 1e-5 of a b c, what rounding leaves of a flat cell)
  if (!(det > 0) || !(std::sqrt(det) > 1e-5 * a * b * c))
    throw CifError("the cell constants give no cell volume");
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

// A file name of line 2 or 12 as the reader takes it: at most 72 columns, no control
// characters (a line of binary data names no file), no leading blank (which the
// name would keep), not a folder.
void check_file_name(const char* option, const std::string& what, const std::string& name,
                     std::vector<CifOptionProblem>& problems) {
  const bool control = std::any_of(name.begin(), name.end(), [](char ch) {
    const auto u = static_cast<unsigned char>(ch);
    return u < 0x20 || u == 0x7f;
  });
  std::string why;
  if (name.size() > 72) why = what + " is longer than 72 characters";
  else if (control) why = what + " holds control characters";
  else if (name.front() == ' ') why = what + " begins with a blank";
  else if (name.back() == '/') why = what + " '" + name + "' names a folder, not a file";
  if (!why.empty()) problems.push_back({option, why});
}

bool finite(float v) { return std::isfinite(v); }

// The text cut to at most n bytes without cutting a UTF-8 character.
std::string cut_utf8(std::string s, std::size_t n) {
  if (s.size() <= n) return s;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  s.resize(n);
  return s;
}

// Text from the CIF on one line: control characters (the line ends of a text field)
// become blanks, runs of blanks one.
std::string one_line(const std::string& s) {
  std::string out;
  for (char ch : s) {
    const bool space = static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f || ch == ' ';
    if (space) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += ch;
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

void check_options(const CifRunOptions& o) {
  const std::vector<CifOptionProblem> problems = cif_option_problems(o);
  if (!problems.empty()) throw CifError(problems.front().message);
}

// Occupancy and displacement parameters that no crystal has. A negative occupancy, one
// above a full site and a U beyond 1 Å^2 (an rms displacement of 1 Å) are errors of the
// file: refused. A negative U or an anisotropic U that is not positive definite (a
// direction of negative mean-square displacement) is what least-squares refinement
// leaves on a light or disordered atom: noted, and replaced by the isotropic U_eq when
// that is positive, else by 0, since exp(+8 pi^2 |U| s^2) would grow without bound
// with the scattering angle.
void check_site(const Metric& m, CifSite& s, std::vector<std::string>& notes) {
  const std::string site = "atom site '" + s.label + "'";
  if (!(s.occupancy >= 0)) throw CifError(site + ": the occupancy " + shortest(s.occupancy) + " is negative");
  if (s.occupancy > 1.01)
    throw CifError(site + ": the occupancy " + shortest(s.occupancy) + " is more than a full site (at most 1)");
  if (s.occupancy == 0) notes.push_back(site + " has occupancy 0: it scatters nothing");
  auto absurd = [&](double u, const char* which) {
    if (std::fabs(u) > 1.0)
      throw CifError(site + ": " + which + " = " + shortest(u) +
                     " Å^2 is beyond any thermal motion (at most 1 Å^2, an rms displacement of 1 Å)");
  };
  if (s.adp == Displacement::isotropic) {
    absurd(s.u_iso, "U_iso");
    if (s.u_iso < 0) {
      notes.push_back(site + " has a negative U_iso (" + shortest(s.u_iso) +
                      " Å^2), which no thermal motion gives: it is taken as 0");
      s.u_iso = 0;
    }
    return;
  }
  if (s.adp != Displacement::anisotropic) return;
  static constexpr const char* names[6] = {"U11", "U22", "U33", "U12", "U13", "U23"};
  for (int n = 0; n < 6; ++n) absurd(s.u_aniso[n], names[n]);
  const auto& u = s.u_aniso;
  const double big = std::max({std::fabs(u[0]), std::fabs(u[1]), std::fabs(u[2])});
  const double tol2 = 1e-6 * big * big, tol3 = 1e-6 * big * big * big;
  const double det = u[0] * (u[1] * u[2] - u[5] * u[5]) - u[3] * (u[3] * u[2] - u[5] * u[4]) +
                     u[4] * (u[3] * u[5] - u[1] * u[4]);
  const bool positive = u[0] >= 0 && u[1] >= 0 && u[2] >= 0 && u[0] * u[1] - u[3] * u[3] >= -tol2 &&
                        u[0] * u[2] - u[4] * u[4] >= -tol2 && u[1] * u[2] - u[5] * u[5] >= -tol2 &&
                        det >= -tol3;
  if (positive) return;
  // U_eq = 1/3 sum_ij U_ij a*_i a*_j (a_i . a_j)
  static constexpr int pair[6][2] = {{0, 0}, {1, 1}, {2, 2}, {0, 1}, {0, 2}, {1, 2}};
  double ueq = 0;
  for (int n = 0; n < 6; ++n) {
    const int i = pair[n][0], j = pair[n][1];
    ueq += (i == j ? 1 : 2) * u[n] * std::sqrt(m.gs[i][i] * m.gs[j][j]) * m.g[i][j];
  }
  ueq /= 3;
  s.adp = Displacement::isotropic;
  s.u_iso = ueq > 0 ? ueq : 0;
  notes.push_back(site + ": its anisotropic U is not positive definite (a direction of negative "
                  "mean-square displacement): " +
                  (ueq > 0 ? "the isotropic U_eq = " + fixed(ueq, 5) + " Å^2 is taken" : "U = 0 is taken"));
}

}  // namespace

std::vector<CifOptionProblem> cif_option_problems(const CifRunOptions& given) {
  const CifRunOptions o = with_defaults(given);
  std::vector<CifOptionProblem> p;
  auto bad = [&p](const char* option, std::string message) { p.push_back({option, std::move(message)}); };
  auto pair = [](const std::array<float, 2>& v) { return shortest(v[0]) + " " + shortest(v[1]); };
  if (o.hkl == std::array<int, 3>{}) bad("--hkl", "the primary reflection 0 0 0 has no scattering vector");
  const bool synchrotron = o.tube.empty();
  if (synchrotron == (o.wavelength == 0))
    bad("--wavelength", "give either a tube (Cu, Mo or Ag) or a synchrotron wavelength");
  else if (!synchrotron && !is_tube(o.tube))
    bad("--radiation", "the tube '" + o.tube + "' is not one of Cu, Mo and Ag");
  if (synchrotron && o.wavelength != 0) {
    const bool lambda_ok = o.wavelength > 0 && finite(o.wavelength);
    if (!lambda_ok) bad("--wavelength", "the wavelength " + shortest(o.wavelength) + " is not a positive number of Å");
    if (o.isyn != 1 && o.isyn != 2) bad("--polarisation", "the polarisation setting must be 1 (sigma) or 2 (pi)");
    const Monochromator& m = o.mono;
    const double n2 = double(m.hkl[0]) * m.hkl[0] + double(m.hkl[1]) * m.hkl[1] + double(m.hkl[2]) * m.hkl[2];
    if (!(m.a > 0) || !finite(m.a))
      bad("--monochromator", "the monochromator's cell constant " + shortest(m.a) + " is not a positive number of Å");
    else if (n2 == 0)
      bad("--monochromator", "the monochromator reflection 0 0 0 has no scattering vector");
    else if (lambda_ok && std::sqrt(n2) / m.a * o.wavelength / 2 >= 1)
      bad("--wavelength", "the monochromator reflection " + format_hkl(m.hkl) + " (d = " +
                              fixed(m.a / std::sqrt(n2), 4) + " Å) cannot be reached with the wavelength " +
                              shortest(o.wavelength) + " Å");
    if (!(m.f > 0) || !finite(m.f))
      bad("--monochromator", "the monochromator's structure factor " + shortest(m.f) + " is not a positive number");
  }
  const auto [diverp, divers] = *o.divergence;
  if (!(diverp >= 0 && divers >= 0 && finite(diverp) && finite(divers)))
    bad("--divergence", "the divergences " + pair(*o.divergence) + " are not two angles of at least 0 degrees");
  if (!(o.rkugel_um > 0) || !finite(o.rkugel_um))
    bad("--crystal-radius", "the crystal radius " + shortest(o.rkugel_um) + " is not a positive number of µm");
  if (!(o.radius_um > 0) || !finite(o.radius_um))
    bad("--block-radius", "the mosaic-block radius " + shortest(o.radius_um) + " is not a positive number of µm");
  if (!(o.eta >= 0) || !finite(o.eta))
    bad("--mosaic", "the mosaic spread " + shortest(o.eta) + " is not an angle of at least 0 degrees");
  const auto [psia, psie] = *o.psi_range;
  const float lo = synchrotron ? 0.0f : -180.0f, hi = synchrotron ? 360.0f : 180.0f;
  const bool psi_ok = psia < psie && psia >= lo && psie <= hi;  // (false for NaN)
  if (!psi_ok)
    bad("--psi", "the psi range must run upwards within " + fixed(lo, 0) + " to " + fixed(hi, 0) + " degrees for " +
                     (synchrotron ? "synchrotron radiation" : "a tube"));
  if (o.zsw1 == 0 || !finite(o.zsw1))
    bad("--steps-per-degree", "the steps per degree " + shortest(o.zsw1) +
                                  " are not a number other than 0 (negative for no simulated scan)");
  else if (psi_ok && (double(psie) - psia) * std::fabs(double(o.zsw1)) > 5.0e7)
    bad("--steps-per-degree", shortest(o.zsw1) + " steps per degree over the psi range make more than 5e7 steps");
  if (o.nnn < 0) bad("--interference", "the interference indicator " + std::to_string(o.nnn) + " is neither 0 (none) nor positive");
  if (!(o.drumin >= 0) || !finite(o.drumin))
    bad("--drumin", "the intensity threshold drumin " + shortest(o.drumin) + " is not a number of at least 0 cps");
  if (!(o.zeimax >= 0) || !finite(o.zeimax))
    bad("--zeimax", "the plot maximum zeimax " + shortest(o.zeimax) + " is neither 0 (automatic) nor a positive number of cps");
  const auto [psi1, psi2] = *o.primary_interval;
  if (psi_ok && !(psi1 <= psi2 && psi1 >= psia && psi2 <= psie))
    bad("--primary-interval", "the primary interval " + pair(*o.primary_interval) +
                                  " does not lie within the psi range " + pair(*o.psi_range));
  if (o.ub) {
    const auto& u = *o.ub;
    const double det = double(u[0]) * (double(u[4]) * u[8] - double(u[5]) * u[7]) -
                       double(u[1]) * (double(u[3]) * u[8] - double(u[5]) * u[6]) +
                       double(u[2]) * (double(u[3]) * u[7] - double(u[4]) * u[6]);
    if (!std::all_of(u.begin(), u.end(), finite)) bad("--ub", "the orientation matrix holds a value that is not a number");
    else if (det == 0) bad("--ub", "the orientation matrix is singular (its determinant is 0)");
  }
  if (!o.scan_file.empty()) {
    if (!o.ub) bad("--scan", "a measured-scan file needs the orientation matrix (the file name follows it)");
    check_file_name("--scan", "the measured-scan file name", o.scan_file, p);
    if (o.scan_file == o.plot_file) bad("--scan", "the measured-scan file is the plot file");
  }
  if (o.plot_file.empty()) bad("--plot", "the plot file needs a name");
  else check_file_name("--plot", "the plot-file name", o.plot_file, p);
  if (std::any_of(o.title.begin(), o.title.end(), [](char ch) {
        return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f;
      }))
    bad("--title", "the title holds control characters (a line break would end its line)");
  else if (o.title.size() > 80)
    bad("--title", "the title is longer than the 80 characters of its line");
  return p;
}

std::string default_plot_file(const std::filesystem::path& input_file) {
  return input_file.filename().replace_extension(".ps").string();
}

std::filesystem::path default_input_file(const std::filesystem::path& cif_file) {
  return std::filesystem::path(cif_file).replace_extension(".inp");
}

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
  for (CifSite s : cif.sites) {
    check_site(m, s, out.notes);
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
        // The element line holds them in ten columns with four decimals.
        auto fits = [](float v) { return std::isfinite(v) && v > -9999.9999f && v < 99999.9999f; };
        if (!fits(e.fp) || !fits(e.fpp))
          throw CifError("the wavelength " + shortest(o.wavelength) + " Å gives " + key + " f' = " +
                         shortest(e.fp) + ", f'' = " + shortest(e.fpp) +
                         ": beyond what the Cromer-Liberman calculation covers");
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
    // (a formula or symbol in a text field may span lines: the title is one)
    d.title = one_line(!cif.formula.empty() ? cif.formula : cif.block_name) +
              (cif.space_group_name.empty() ? std::string() : "  " + one_line(cif.space_group_name)) +
              "  primary " + format_hkl(o.hkl) +
              (o.cif_name.empty() ? std::string() : "  (from " + one_line(o.cif_name) + ")");
    d.title = cut_utf8(d.title, 80);
  }
  return out;
}

}  // namespace kaven
