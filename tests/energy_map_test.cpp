// The energy map and the energy scan against single-energy runs: an input written for an
// energy (its wavelength, the f' and f'' of its elements at that wavelength) runs
// through the run driver, and its listed events, I-prim and scan must be what the map
// and the scan give there. The psi of the events is checked against the crossing
// geometry formed independently with gemmi's cell.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>

#include <sys/wait.h>

#include <gemmi/unitcell.hpp>

#include "core/constants.hpp"
#include "core/number_text.hpp"
#include "planning/energy_map.hpp"
#include "plot/energy_pages.hpp"
#include "plot/recording_plotter.hpp"
#include "scattering/structure_factor.hpp"
#include "simulation/reflection_cache.hpp"
#include "report/results_export.hpp"
#include "scattering/anomalous_dispersion.hpp"
#include "simulation/listed_events.hpp"
#include "simulation/reference_direction.hpp"
#include "shell/energy_plan_command.hpp"
#include "run_fixture.hpp"

namespace {

using kaven_test::Lines;
namespace fs = std::filesystem;

kaven::EnergyCrystal crystal_of(const Lines& lines) {
  std::istringstream in(kaven_test::join_lines(lines));
  return kaven::read_energy_crystal(in);
}

std::vector<std::string> tokens(const std::string& line) {
  std::istringstream is(line);
  std::vector<std::string> t;
  for (std::string s; is >> s;) t.push_back(s);
  return t;
}

// The input for one energy: the wavelength of the synchrotron line (line 4) and the f'
// and f'' of the element lines at it, in their F10.4 fields.
Lines input_at(const Lines& lines, const kaven::EnergyCrystal& c, double energy_kev) {
  Lines out = lines;
  const float lambda = static_cast<float>(kaven::wavelength_A_of(energy_kev * 1000));
  std::vector<std::string> t = tokens(out[3]);
  t[1] = kaven::shortest(lambda);
  out[3].clear();
  for (const std::string& s : t) out[3] += s + "  ";
  const std::size_t first_element = 7;
  for (std::size_t f = 0; f < c.par.types.size(); ++f) {
    const kaven::AnomalousDispersion d = kaven::cromer_liberman(c.par.types[f].z, lambda);
    char fields[64];
    std::snprintf(fields, sizeof fields, "%10.4f%10.4f", double(static_cast<float>(d.fp)),
                  double(static_cast<float>(d.fpp)));
    out[first_element + f] = kaven_test::padded(c.par.types[f].atn, 4).substr(0, 4) + fields;
  }
  return out;
}

// The listed events of a run's pass as the events table writes them.
std::string csv_line(int pass, float wavelength, double triplet, const kaven::MultipleDiffractionEvent& e) {
  std::ostringstream os;
  kaven::write_csv_row(os, kaven::event_cells(pass, wavelength, triplet, e));
  return os.str();
}

std::vector<std::string> rows_of(const kaven::RunParameters& par, const kaven::PassRecord& rec) {
  std::vector<std::string> rows;
  for (const kaven::MultipleDiffractionEvent& e : rec.events.events)
    if (kaven::listed_event(par, e)) rows.push_back(csv_line(1, rec.pass.lambda, kaven::triplet_phase_deg(par, e), e));
  return rows;
}

std::vector<std::string> rows_of(const kaven::EnergyPoint& p) {
  std::vector<std::string> rows;
  for (const kaven::MultipleDiffractionEvent& e : p.pass.events)
    rows.push_back(csv_line(1, p.wavelength, kaven::triplet_phase_deg(p.primary_phase, e), e));
  return rows;
}

// psi of the first crossing of h (degrees, synchrotron axis 0..360) from the geometry:
// the Ewald-sphere centre circles the primary axis u at |h_p|/2 along it, at the radius
// R = sqrt(1/lambda^2 - |h_p|^2/4); h lies on the sphere when the centre's azimuth is
// phi +- Delta, cos Delta = (|h|^2 - p |h_p|) / (2 R rho). Azimuths from the reference
// direction r towards r x h_p (cubic cells here: index and Cartesian products agree).
double crossing_psi(const gemmi::UnitCell& cell, const std::array<int, 3>& hp,
                    const std::array<float, 3>& r, const std::array<int, 3>& h, double lambda,
                    double psid) {
  auto cart = [&](double a, double b, double c) { return cell.frac.mat.left_multiply(gemmi::Vec3(a, b, c)); };
  const gemmi::Vec3 vp = cart(hp[0], hp[1], hp[2]), vh = cart(h[0], h[1], h[2]);
  const gemmi::Vec3 u = vp.normalized();
  gemmi::Vec3 e1 = cart(r[0], r[1], r[2]);
  e1 = (e1 - u * e1.dot(u)).normalized();
  const gemmi::Vec3 e2 = e1.cross(u).normalized();
  const double p = vh.dot(u);
  const gemmi::Vec3 perp = vh - u * p;
  const double rho = perp.length();
  const double R = std::sqrt(1 / (lambda * lambda) - vp.length_sq() / 4);
  const double delta = std::acos((vh.length_sq() - p * vp.length()) / (2 * R * rho));
  double psi = (std::atan2(perp.dot(e2), perp.dot(e1)) + delta) * 180 / kaven::kPi + psid;
  psi = std::fmod(psi + 720.0, 360.0);
  return psi;
}

struct Case {
  const char* name;
  Lines lines;
  kaven::EnergyGrid grid;
  std::vector<int> compared;  // energies of the grid run as single-energy runs
};

TEST(EnergyMap, RowsAreThoseOfRunsAtTheirEnergies) {
  Lines si = kaven_test::si_lines();
  Lines yig = kaven_test::read_lines(kaven_test::source_path("examples/yig/yig-syn.inp"));
  yig[5] = "0.  360. -50  0  1. 0.";  // the events only: no simulated scan in the runs
  // Silicon around its input energy (22.09 keV); YIG across the yttrium K edge (17.04 keV).
  const Case cases[] = {{"silicon 2 2 2", si, {21.5, 22.5, 5}, {0, 2, 4}},
                        {"YIG 8 8 2", yig, {17.0, 17.5, 5}, {0, 1, 4}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const kaven::EnergyCrystal crystal = crystal_of(c.lines);
    const kaven::EnergyPlan plan(crystal, c.grid.e2_kev, 2);
    kaven::EnergyMapOptions two;
    two.threads = 2;
    const std::vector<kaven::EnergyPoint> map = kaven::energy_map(plan, c.grid, two);
    ASSERT_EQ(map.size(), std::size_t(c.grid.n));
    for (int i : c.compared) {
      const kaven::EnergyPoint& p = map[std::size_t(i)];
      SCOPED_TRACE(p.energy_kev);
      ASSERT_EQ(p.status, kaven::EnergyStatus::ok);
      kaven_test::Session s;
      const kaven_test::ListedRun run = s.run(input_at(c.lines, crystal, p.energy_kev));
      ASSERT_FALSE(run.stopped()) << kaven_test::join_lines(kaven_test::tail(run.records, 5));
      const kaven::PassRecord& rec = run.outcome.result.passes.at(0);
      EXPECT_EQ(rec.pass.lambda, p.wavelength);
      EXPECT_EQ(rec.primary.iprim, p.primary.iprim);
      EXPECT_EQ(rec.events.full_turn, p.pass.full_turn);
      EXPECT_EQ(rec.events.in_range, p.pass.in_range);
      EXPECT_EQ(s.par.mue, p.mue);
      // Every listed event, every field in its exact shortest form.
      EXPECT_EQ(rows_of(s.par, rec), rows_of(p));
      EXPECT_FALSE(p.pass.events.empty());
    }
    // The psi of every event of every energy from the crossing geometry.
    const kaven::RunParameters& base = plan.base();
    const gemmi::UnitCell cell(base.a, base.b, base.c, base.alpha, base.beta, base.gamma);
    const std::array<float, 3> r = kaven::reference_direction(base);
    long checked = 0;
    for (const kaven::EnergyPoint& p : map)
      for (const kaven::MultipleDiffractionEvent& e : p.pass.events) {
        const std::array<int, 3> h{int(std::lround(e.h1)), int(std::lround(e.k1)), int(std::lround(e.l1))};
        double psi = crossing_psi(cell, {base.h, base.k, base.l}, r, h, p.wavelength, base.psid);
        if (e.crossing == 2.0f) psi = std::fmod(psi - 2 * e.beta + 720.0, 360.0);
        EXPECT_NEAR(std::remainder(psi - e.psi, 360.0), 0.0, 2e-3) << h[0] << " " << h[1] << " " << h[2];
        ++checked;
      }
    EXPECT_GE(checked, 10);
  }
}

// An acentric crystal near an absorption edge, where F(-h) is not the conjugate of F(h)
// and f'' is large: iron and oxygen in P 2(1)2(1)2(1), 7.0 to 7.3 keV across the iron K
// edge (7.11 keV). Every exact value of the plan is the direct sum at that energy, bit for
// bit; every screening value lies within the margin of it; and the map is the runs'.
Lines acentric_lines() {
  return {"FeO in P 21 21 21 - synchrotron", "feo.ps", "5.1  6.3  7.4  90. 90. 90.",
          "1 1.7  5.4309 1 1 1 58.19", "0.005  0.01  250.  20.  0.001", "0. 60. -10. 0  5. 0.",
          "19  3  2", "Fe", "O", "1  1.  0.1  0.2  0.3", "0.004  0.003  0.002  0.0005  0.  0.",
          "2  1.  0.35  0.05  0.4", "0.006  0.005  0.004  0.  0.001  0.", "2  1.  0.62  0.31  0.13",
          "0.005  0.005  0.005  0.  0.  0.0008", "1  1  1  0.  0.  0.  1."};
}

TEST(EnergyMap, AcentricStructureFactorsAcrossAnEdge) {
  const Lines lines = acentric_lines();
  const kaven::EnergyCrystal crystal = crystal_of(lines);
  ASSERT_EQ(crystal.par.ic, 2);
  const kaven::EnergyGrid grid{7.0, 7.3, 4};
  const kaven::EnergyPlan plan(crystal, grid.e2_kev, 2);
  const std::array<int, 3> box = plan.margin_box();
  long compared = 0;
  for (double e : {7.0, 7.2}) {
    SCOPED_TRACE(e);
    kaven::RunParameters par = plan.base();
    ASSERT_EQ(kaven::set_energy(par, plan.crystal(), e), kaven::EnergyStatus::ok);
    const double margin = kaven::screening_margin(par, box[0], box[1], box[2]);
    kaven::CandidateSums::AtEnergy sf(plan.sums(), par, margin);
    kaven::StructureFactorCalculator direct(par);
    const auto& list = plan.sums().candidates();
    for (std::size_t j = 0; j < list.size(); j += 3)
      for (bool coupling : {false, true}) {
        const int h = coupling ? par.h - list[j].h1 : list[j].h1;
        const int k = coupling ? par.k - list[j].k1 : list[j].k1;
        const int l = coupling ? par.l - list[j].l1 : list[j].l1;
        const float s = kaven::reflection_s(par, h, k, l);
        const kaven::StructureFactor want = direct(h, k, l, s);
        const kaven::ReflectionCache::Entry exact = sf.exact(j, coupling, s);
        ASSERT_EQ(exact.fmod, want.fmod) << h << " " << k << " " << l;
        ASSERT_EQ(exact.phase, want.phase) << h << " " << k << " " << l;
        ASSERT_LE(std::fabs(sf.screening(j, coupling).fmod - want.fmod), margin) << h << " " << k << " " << l;
        ++compared;
      }
  }
  EXPECT_GT(compared, 500);
  // f'' of iron jumps at the edge, and the map follows the runs on both sides of it.
  const std::vector<kaven::EnergyPoint> map = kaven::energy_map(plan, grid);
  EXPECT_GT(map[3].fpp[0], 3 * map[0].fpp[0]);
  for (int i : {0, 3}) {
    const kaven::EnergyPoint& p = map[std::size_t(i)];
    kaven_test::Session s;
    const kaven_test::ListedRun run = s.run(input_at(lines, crystal, p.energy_kev));
    ASSERT_FALSE(run.stopped()) << kaven_test::join_lines(kaven_test::tail(run.records, 5));
    EXPECT_EQ(rows_of(s.par, run.outcome.result.passes.at(0)), rows_of(p));
    EXPECT_FALSE(p.pass.events.empty());
  }
}

TEST(EnergyMap, DoesNotDependOnTheThreadsAndKeepsTheGridOrder) {
  const kaven::EnergyCrystal crystal = crystal_of(kaven_test::si_lines());
  const kaven::EnergyGrid grid{21.0, 23.0, 9};
  const kaven::EnergyPlan plan(crystal, grid.e2_kev, 1);
  kaven::EnergyMapOptions one, three;
  one.threads = 1;
  three.threads = 3;
  std::vector<double> fractions;
  three.progress = [&](double f) { fractions.push_back(f); };
  const std::vector<kaven::EnergyPoint> a = kaven::energy_map(plan, grid, one);
  const std::vector<kaven::EnergyPoint> b = kaven::energy_map(plan, grid, three);
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(b[i].index, int(i));
    EXPECT_EQ(b[i].energy_kev, grid.energy(int(i)));
    EXPECT_EQ(rows_of(a[i]), rows_of(b[i]));
  }
  ASSERT_EQ(fractions.size(), a.size());
  EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
  EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
}

// Below 3.95 keV the silicon 2 2 2 reflection is beyond the Ewald sphere, below 1.98 keV
// the Si 1 1 1 monochromator cannot reflect: such energies are kept as such, and a run at
// them stops with its message.
TEST(EnergyMap, EnergiesOutOfReachAreListedAsSuch) {
  const Lines si = kaven_test::si_lines();
  const kaven::EnergyCrystal crystal = crystal_of(si);
  const kaven::EnergyGrid grid{1.5, 5.0, 8};  // 1.5, 2.0, 2.5, ... 5.0
  const kaven::EnergyPlan plan(crystal, grid.e2_kev);
  const std::vector<kaven::EnergyPoint> map = kaven::energy_map(plan, grid);
  using S = kaven::EnergyStatus;
  const S want[] = {S::monochromator_out_of_reach, S::primary_out_of_reach, S::primary_out_of_reach,
                    S::primary_out_of_reach, S::primary_out_of_reach, S::ok, S::ok, S::ok};
  for (std::size_t i = 0; i < map.size(); ++i) EXPECT_EQ(map[i].status, want[i]) << map[i].energy_kev;
  struct Run {
    int index;
    std::string message;
  };
  for (const Run& r : {Run{0, " The monochromator reflection cannot be reached with this wavelength:"},
                       Run{3, " The wavelength is to large"}}) {
    kaven_test::Session s;
    const kaven_test::ListedRun run = s.run(input_at(si, crystal, map[std::size_t(r.index)].energy_kev));
    EXPECT_TRUE(run.stopped());
    EXPECT_TRUE(kaven_test::contains(run.records, r.message));
  }
  std::ostringstream csv;
  kaven::write_map_csv_header(csv);
  for (const kaven::EnergyPoint& p : map) kaven::write_map_csv_rows(csv, p);
  const Lines rows = kaven_test::split_records(csv.str());
  EXPECT_EQ(rows[1], "1.5,,8.265614,,,,,,,,,,,,,,,,,,,,,,,,,monochromator reflection out of reach");
  EXPECT_EQ(rows[2].substr(0, 4), "2,,6");
  EXPECT_TRUE(rows[2].ends_with(",primary reflection out of reach"));
}

// The energy scan at psi is the run's scan at the step of that psi.
TEST(EnergyScan, IsTheScanOfARunAtThatEnergy) {
  const Lines si = kaven_test::si_lines();  // psi 176 to 179, 1000 steps per degree
  const kaven::EnergyCrystal crystal = crystal_of(si);
  const kaven::EnergyGrid grid{21.8, 22.4, 4};
  const float psi = 177.5f;  // step 1500
  const kaven::EnergyPlan plan(crystal, grid.e2_kev);
  const std::vector<kaven::EnergyScanPoint> scan = kaven::energy_scan(plan, grid, psi);
  for (int i : {0, 3}) {
    const kaven::EnergyScanPoint& p = scan[std::size_t(i)];
    SCOPED_TRACE(p.energy_kev);
    kaven_test::Session s;
    const kaven_test::ListedRun run = s.run(input_at(si, crystal, p.energy_kev));
    ASSERT_FALSE(run.stopped());
    const kaven::ScanProfile& profile = run.outcome.result.profile;
    EXPECT_EQ(profile.intensity.at(1500), p.intensity);
    EXPECT_EQ(profile.iprim_total, p.iprim);
    EXPECT_EQ(profile.entered, p.crossings);
    // The shares named are the largest, strongest first, and none is below the limit.
    ASSERT_FALSE(p.shares.empty());
    for (std::size_t k = 1; k < p.shares.size(); ++k)
      EXPECT_GE(std::fabs(p.shares[k - 1].cps), std::fabs(p.shares[k].cps));
    EXPECT_GE(std::fabs(p.shares.back().cps), kaven::kShareShown * p.iprim);
  }
}

// ---- the pages -----------------------------------------------------------------------

kaven::MultipleDiffractionEvent listed(int h, kaven::Crossing c, float psi, float ikaven, float iaufhe) {
  kaven::MultipleDiffractionEvent e{};
  e.h1 = float(h);
  e.crossing = float(static_cast<int>(c));
  e.psi = psi;
  e.ikaven = ikaven;
  e.iaufhe = iaufhe;
  e.fwhm = 1;
  return e;
}

// A track is followed from energy to energy while it stays near its psi; it breaks where
// it wraps round the psi axis or an energy is out of reach, and a point joined to no
// neighbour is a short dash. Colours by peak height, red for a peak and blue for a dip.
TEST(EnergyPages, MapTracksFollowTheirEventsAcrossTheEnergies) {
  kaven::RunParameters par;
  par.psia = 0;
  par.psie = 360;
  par.drumin = 1;
  const kaven::EnergyGrid grid{10, 11, 5};
  kaven::EnergyMapPicture pic(par, grid, 10.75);
  using C = kaven::Crossing;
  // A: a peak at psi 100 at every energy but the fourth (out of reach): a straight
  // stroke over the first three, drawn with its two ends, and a dash at the fifth.
  // B: a dip wrapping from 359.9 to 0.3 between the second and the third energy.
  const float b_psi[] = {359.5f, 359.9f, 0.3f};
  for (int i = 0; i < 5; ++i) {
    kaven::EnergyPoint p;
    p.index = i;
    p.energy_kev = grid.energy(i);
    p.status = i == 3 ? kaven::EnergyStatus::primary_out_of_reach : kaven::EnergyStatus::ok;
    if (i != 3) p.pass.events.push_back(listed(1, C::first, 100, 10, 0));
    if (i < 3) p.pass.events.push_back(listed(2, C::second, b_psi[i], 0.5f, 2));
    pic.add(p);
  }
  kaven::RecordingPlotter rec;
  kaven::draw_energy_map(rec, pic, kaven::Zeit::Now{9, 9, 2001, 1, 46, 40, 0});
  const auto y_of = [&](double e) { return 2.5 + 16 * (e - 10); };
  std::vector<const kaven::PlotCall*> strokes, dashes;
  std::array<double, 3> colour{};
  std::vector<std::array<double, 3>> stroke_colour, dash_colour;
  bool input_line = false;
  const auto& calls = rec.calls;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const kaven::PlotCall& c = calls[i];
    if (c.op == "rgbpen") colour = {c.args[0], c.args[1], c.args[2]};
    if (c.op == "line1") {
      strokes.push_back(&c);
      stroke_colour.push_back(colour);
    }
    if (c.op == "plot" && c.args[2] == 3 && i + 1 < calls.size() && calls[i + 1].op == "plot") {
      const kaven::PlotCall& d = calls[i + 1];
      if (std::fabs(d.args[0] - c.args[0] - 0.12) < 1e-4 && d.args[1] == c.args[1]) {
        dashes.push_back(&c);
        dash_colour.push_back(colour);
      }
      if (c.args[0] == 2 && d.args[0] == 22 && std::fabs(c.args[1] - y_of(10.75)) < 1e-4 && i > 0 &&
          calls[i - 1].op == "dash" && calls[i - 1].args[0] == 1)
        input_line = true;
    }
  }
  ASSERT_EQ(strokes.size(), 2u);
  // A: x of psi 100 at the first and the third energy, nothing between.
  const kaven::PlotCall& a = strokes[0]->x[0] < 10 ? *strokes[0] : *strokes[1];
  EXPECT_EQ(a.x, (std::vector<float>{2 + 20 * 100 / 360.f, 2 + 20 * 100 / 360.f}));
  EXPECT_NEAR(a.y[0], y_of(10), 1e-5);
  EXPECT_NEAR(a.y[1], y_of(10.5), 1e-5);
  // B from the first to the second energy only; its third point and A's last are dashes.
  const kaven::PlotCall& b = &a == strokes[0] ? *strokes[1] : *strokes[0];
  EXPECT_EQ(b.x.size(), 2u);
  EXPECT_NEAR(b.y[1], y_of(10.25), 1e-5);
  EXPECT_EQ(dashes.size(), 2u);
  // Red for A, the strongest (darkest); blue for B, the dip.
  const std::array<double, 3> ca = &a == strokes[0] ? stroke_colour[0] : stroke_colour[1];
  const std::array<double, 3> cb = &a == strokes[0] ? stroke_colour[1] : stroke_colour[0];
  EXPECT_GT(ca[0], 0.3);
  EXPECT_LT(ca[1] + ca[2], 0.1);
  EXPECT_GT(cb[2], cb[0]);
  EXPECT_TRUE(input_line);
  // The band of the energy out of reach: a grey stroke across the frame at its height.
  bool grey_band = false;
  for (std::size_t i = 2; i < calls.size(); ++i)
    if (calls[i].op == "plot" && calls[i].args[0] == 22 && std::fabs(calls[i].args[1] - y_of(10.75)) < 1e-4 &&
        calls[i - 2].op == "linewidth" && calls[i - 3].op == "rgbpen" && calls[i - 3].args[0] == calls[i - 3].args[1])
      grey_band = std::fabs(calls[i - 2].args[0] - 4 * 28.34645) < 0.01;  // 4 cm high
  EXPECT_TRUE(grey_band);
}

// The energy scan breaks its curves where an energy is out of reach, and labels its
// strongest feature with the crossing that makes it.
TEST(EnergyPages, ScanCurvesBreakAndFeaturesAreNamed) {
  kaven::RunParameters par;
  const kaven::EnergyGrid grid{10, 11, 6};
  kaven::EnergyScanPicture pic(par, grid, 90, 10.5);
  const float intensity[] = {100, 101, 150, 100, 0, 99};
  for (int i = 0; i < 6; ++i) {
    kaven::EnergyScanPoint p;
    p.index = i;
    p.energy_kev = grid.energy(i);
    p.status = i == 4 ? kaven::EnergyStatus::monochromator_out_of_reach : kaven::EnergyStatus::ok;
    p.iprim = 100;
    p.intensity = intensity[i];
    kaven::ScanShare share;
    share.secondary = {i, 2, -3};
    share.cps = intensity[i] - 100;
    if (i != 4) p.shares.push_back(share);
    pic.add(p);
  }
  kaven::RecordingPlotter rec;
  kaven::draw_energy_scan(rec, pic, kaven::Zeit::Now{9, 9, 2001, 1, 46, 40, 0});
  int curves = 0;
  std::vector<std::string> texts;
  for (const kaven::PlotCall& c : rec.calls) {
    if (c.op == "line1") ++curves;
    if (c.op == "symbol") texts.push_back(c.text);
  }
  // I-prim and I over the first four energies; the one energy after the gap is no line.
  EXPECT_EQ(curves, 2);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "2 2 -3"), 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "1 2 -3"), 0);  // 1 % of I-prim: no feature
}

// ---- the command line ---------------------------------------------------------------

struct Command {
  int status;
  std::string err;
  std::set<std::string> files;  // what the folder holds afterwards
};

// kaven with `args` in a scratch folder holding the example input `example` (and the
// files of `more`, name and text).
Command kaven_in(const kaven_test::ScratchDir& dir, const std::string& args) {
  const std::string cmd = "cd '" + dir.path().string() + "' && SOURCE_DATE_EPOCH=1000000000 '" KAVEN_BINARY
                          "' " + args + " >out.txt 2>err.txt";
  Command c;
  const int raw = std::system(cmd.c_str());
  c.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::ifstream err(dir.path() / "err.txt");
  std::stringstream ss;
  ss << err.rdbuf();
  c.err = ss.str();
  for (const auto& e : fs::directory_iterator(dir.path()))
    if (e.path().filename() != "out.txt" && e.path().filename() != "err.txt")
      c.files.insert(e.path().filename().string());
  return c;
}

TEST(EnergyMapCommand, RefusesBadRequestsBeforeWritingAnything) {
  struct Bad {
    const char* input;  // example copied in
    std::string args;
    int status;
    std::string message;
    const char* existing = nullptr;  // a file there before, not written by kaven
  };
  const Bad cases[] = {
      {"si/si222.inp", "si222.inp --energy-map 22 21 5", 2, "E1 < E2"},
      {"si/si222.inp", "si222.inp --energy-map 22 22 5", 2, "E1 < E2"},
      {"si/si222.inp", "si222.inp --energy-map 21 22 1", 2, "at least 2 energies"},
      {"si/si222.inp", "si222.inp --energy-map 21 22 100001", 2, "at most 100000 energies"},
      {"si/si222.inp", "si222.inp --energy-map 0 22 5", 2, "positive numbers of keV"},
      {"si/si222.inp", "si222.inp --energy-map 21 x 5", 2, "'x' is not a number"},
      {"si/si222.inp", "si222.inp --energy-scan 177 21 22", 2, "needs its values"},
      {"yig/yig-sim.inp", "yig-sim.inp --energy-map 21 22 5", 1, "X-ray tube, whose energy is fixed"},
      {"si/si222.inp", "si222.inp --energy-scan 400 21 22 5", 1, "0 .. 360 degrees"},
      {"si/si222.inp", "si222.inp --energy-map 21 22 5", 1, "is not an energy-map table written by kaven",
       "si222-map.csv"},
  };
  for (const Bad& b : cases) {
    SCOPED_TRACE(b.args);
    kaven_test::ScratchDir dir;
    const fs::path input = kaven_test::source_path(std::string("examples/") + b.input);
    fs::copy_file(input, dir.path() / input.filename());
    std::set<std::string> before{input.filename().string()};
    if (b.existing) {
      std::ofstream(dir.path() / b.existing) << "energy,intensity\n";
      before.insert(b.existing);
    }
    const Command c = kaven_in(dir, b.args);
    EXPECT_EQ(c.status, b.status);
    EXPECT_NE(c.err.find(b.message), std::string::npos) << c.err;
    EXPECT_EQ(c.files, before);  // no listing, no plot, nothing else
  }
}

TEST(EnergyMapCommand, WritesTheMapBesideTheRunWithItsSummary) {
  kaven_test::ScratchDir dir;
  fs::copy_file(kaven_test::source_path("examples/si/si222.inp"), dir.path() / "si222.inp");
  // 1.5 keV: the monochromator cannot reflect; 2 to 3.5 keV: the primary is out of reach.
  const Command c = kaven_in(dir, "si222.inp si.out --json --energy-map 1.5 5 8 --energy-scan 177.5 21.8 22.4 4");
  EXPECT_EQ(c.status, 0) << c.err;
  const std::set<std::string> want{"si222.inp", "si.out", "si.json", "si222.cal", "si222.ps", "si222.svg",
                                   "si-map.csv", "si-map.ps", "si-map.svg", "si-escan.csv", "si-escan.svg"};
  EXPECT_EQ(c.files, want);  // no temporary file left
  const Lines map = kaven_test::read_lines(dir.path() / "si-map.csv");
  EXPECT_TRUE(map.at(1).ends_with(",monochromator reflection out of reach"));
  EXPECT_TRUE(map.at(5).ends_with(",primary reflection out of reach"));
  EXPECT_EQ(map.at(6), "4,,3.0996048,,,,,,,,,,,,,,,,,,,,,,,,,no event listed");
  const Lines escan = kaven_test::read_lines(dir.path() / "si-escan.csv");
  ASSERT_EQ(escan.size(), 5u);
  // Every row of both tables has the fields of its header.
  for (const Lines* t : {&map, &escan}) {
    const auto n = std::count(t->front().begin(), t->front().end(), ',');
    for (const std::string& r : *t) EXPECT_EQ(std::count(r.begin(), r.end(), ','), n) << r;
  }
  EXPECT_EQ(escan[0], "energy_kev,wavelength,intensity,iprim,relative,crossings,note,events");
  const Lines json = kaven_test::read_lines(dir.path() / "si.json");
  EXPECT_TRUE(kaven_test::contains(json, "    \"energies\": 8,"));
  EXPECT_TRUE(kaven_test::contains(json, "    \"energies_out_of_reach\": 5,"));
  EXPECT_TRUE(kaven_test::contains(json, "    \"psi_deg\": 177.5,"));
  // The listing is that of the run alone.
  kaven_test::Session s;
  const Lines alone = s.run(kaven_test::si_lines()).records;
  EXPECT_EQ(kaven_test::read_lines(dir.path() / "si.out").size(), alone.size());
}

// A map that does not come to its end leaves no file, and no temporary one.
TEST(EnergyMapCommand, ACancelledMapLeavesNoFile) {
  kaven_test::ScratchDir dir;
  const kaven::EnergyCrystal crystal = crystal_of(kaven_test::si_lines());
  std::atomic<bool> cancel{false};
  kaven::EnergyPlanRequest req;
  req.map = kaven::EnergyGrid{21, 23, 40};
  req.threads = 1;
  req.cancel = &cancel;
  req.progress = [&](const kaven::RunProgress& p) {
    if (p.fraction > 0.2) cancel = true;
  };
  const kaven::EnergyPlanOutcome out =
      kaven::run_energy_plans(crystal, req, kaven::energy_plan_paths(dir.path() / "si.out"));
  EXPECT_FALSE(out.ok);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
