// Cell, reciprocal cell, primary reflection and the checks the geometry makes before
// any event is searched.
#include "crystal/geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <array>
#include <sstream>

#include "core/run_stop.hpp"
#include "crystal/centring.hpp"
#include "crystal/space_group.hpp"
#include "input/input_reader.hpp"
#include "report/crystal_data.hpp"
#include "scattering/element_table.hpp"
#include "simulation/event_search.hpp"

using namespace kaven;

namespace {

RunParameters yig_cell() {
  RunParameters p;
  p.a = p.b = p.c = 12.38f;
  p.alpha = p.beta = p.gamma = 90.0f;
  tube_constants(p, "Ag");
  p.h = 8, p.k = 8, p.l = 2;
  return p;
}

// Runs a geometry step and reports whether it stopped the run; the stop's message goes
// to `out` as the driver lists it.
template <class Step>
bool stops(RunParameters& p, std::ostringstream& out, Step step) {
  try {
    step(p);
  } catch (const RunStopped& stop) {
    for (const std::string& r : stop.records) out << r << '\n';
    return true;
  }
  return false;
}

// The primary structure factor as the driver forms and lists it.
void primary_structure_factor_listed(RunParameters& p, std::ostringstream& out) {
  primary_structure_factor(p);
  Listing listing(out);
  list_primary_warning(listing, p);
}

}  // namespace

TEST(Geometry, CubicCellAndItsReciprocal) {
  RunParameters p = yig_cell();
  reciprocal_cell(p);
  EXPECT_NEAR(p.vol, 1897.4, 0.05);
  EXPECT_NEAR(p.as, 0.080775, 5e-7);
  EXPECT_NEAR(p.bs, 0.080775, 5e-7);
  EXPECT_NEAR(p.alphas, 90.0, 1e-4);
  EXPECT_NEAR(p.gstar.g11, 0.080775 * 0.080775, 1e-7);
  EXPECT_NEAR(p.gstar.g12, 0.0, 1e-8);  // cos 90 deg with the 0.0174533 conversion
  // A general triclinic cell: G* must be the inverse of the direct metric G.
  RunParameters t;
  t.a = 5.1f, t.b = 6.3f, t.c = 7.7f, t.alpha = 81.f, t.beta = 97.f, t.gamma = 112.f;
  reciprocal_cell(t);
  const double d2r = M_PI / 180;
  const double ca = std::cos(t.alpha * d2r), cb = std::cos(t.beta * d2r), cg = std::cos(t.gamma * d2r);
  const double G[3][3] = {{t.a * t.a, t.a * t.b * cg, t.a * t.c * cb},
                          {t.a * t.b * cg, t.b * t.b, t.b * t.c * ca},
                          {t.a * t.c * cb, t.b * t.c * ca, t.c * t.c}};
  const ReciprocalMetric& g = t.gstar;
  const double Gs[3][3] = {{g.g11, g.g12, g.g13}, {g.g12, g.g22, g.g23}, {g.g13, g.g23, g.g33}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      double s = 0;
      for (int k = 0; k < 3; ++k) s += G[i][k] * Gs[k][j];
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 2e-5) << i << j;
    }
}

TEST(Geometry, EwaldSphereTestUsesTheShorterWavelength) {
  RunParameters p = yig_cell();
  reciprocal_cell(p);
  std::ostringstream out;
  EXPECT_FALSE(stops(p, out, primary_reflection));
  EXPECT_NEAR(p.sp * p.alam1, 0.2596, 5e-5);
  EXPECT_NEAR(p.dp, 1.0 / (0.080775 * std::sqrt(132.0)), 1e-5);
  p.alam1 = 2.2f;
  std::ostringstream refused;
  EXPECT_TRUE(stops(p, refused, primary_reflection));
  EXPECT_NEAR(p.sp * p.alam1, 1.0208, 5e-5);
  EXPECT_EQ(refused.str(),
            "\n\n\n The wavelength is to large\n"
            " the primary reflection is outside of the Ewald-sphere !!\n");
}

TEST(Geometry, ScanStepsAndTheirAllocation) {
  RunParameters p;
  p.psia = -66, p.psie = 16, p.zsw1 = 50, p.zsw = 50;
  std::ostringstream out;
  std::vector<float> calc, meas;
  auto allocate = [&](RunParameters& q) { allocate_scan(q, calc, meas); };
  EXPECT_FALSE(stops(p, out, allocate));
  EXPECT_EQ(p.nstep, 4100);
  EXPECT_EQ(calc.size(), 4101u);
  EXPECT_EQ(meas.size(), 4101u);
  EXPECT_EQ(calc[4100], 0.0f);
  EXPECT_EQ(meas[0], 1e20f);
  p.zsw1 = -50;  // the sign only switches the simulation off
  EXPECT_FALSE(stops(p, out, allocate));
  EXPECT_EQ(p.nstep, 4100);
  // Far too many steps: the message, not a crash.
  p.psia = 0, p.psie = 360, p.zsw = 1e9f;
  std::ostringstream huge;
  EXPECT_TRUE(stops(p, huge, allocate));
  EXPECT_EQ(huge.str(),
            "\n\n Dynamical array allocation failed\n"
            " Number of steps = (psie - psia)*zsw is to large\n"
            " Please reduce the number of steps in your input file!\n");
}

TEST(Geometry, MonochromatorAndWavelengthBand) {
  RunParameters p;
  p.alam1 = 0.5612f, p.amono = 5.43f, p.hmono = p.kmono = p.lmono = 1, p.fmono = 58.19f;
  p.isyn = 1;
  monochromator(p);
  EXPECT_NEAR(p.thmono, std::asin(0.5612 * std::sqrt(3.0) / (2 * 5.43)), 1e-7);
  // Darwin width 2e-5 r_e F / (a n): the wavelength cancels.
  EXPECT_NEAR(p.dwmono, 2e-5 * 2.817938 * 58.19 / (5.43 * 3), 1e-10);
  p.dlam1 = 1e-3f;
  wavelength_band(p);
  EXPECT_FLOAT_EQ(p.lamin, 0.5612f - 0.5f * 0.5612f * 1e-3f);
  EXPECT_FLOAT_EQ(p.lamax, 0.5612f + 0.5f * 0.5612f * 1e-3f);
  EXPECT_EQ(p.w1, 0.0f);
  EXPECT_EQ(p.w2, 0.0f);
  RunParameters t = yig_cell();
  wavelength_band(t);
  EXPECT_FLOAT_EQ(t.lamin, 0.55942f - 0.5f * 0.55942f * 0.00048f);
  EXPECT_FLOAT_EQ(t.lamax, 0.563811f + 0.5f * 0.563811f * 0.00052f);
  EXPECT_GT(t.w2, 0.0f);
}

TEST(Geometry, GivenPrimaryStructureFactorsAndTheWarningBox) {
  RunParameters p = yig_cell();
  p.f = 1.5f;
  p.phi = static_cast<float>(30.0 * 0.0174533);
  std::ostringstream quiet;
  auto listed = [](std::ostringstream& out) {
    return [&out](RunParameters& q) { primary_structure_factor_listed(q, out); };
  };
  EXPECT_FALSE(stops(p, quiet, listed(quiet)));
  EXPECT_FLOAT_EQ(p.f, 1.5f);
  EXPECT_NEAR(p.phi_deg, 30.0, 1e-4);
  EXPECT_EQ(quiet.str(), "");
  p.f = 0.0005f;  // given: not recomputed, phase set to 0
  p.phi = 1.0f;
  EXPECT_FALSE(stops(p, quiet, listed(quiet)));
  EXPECT_FLOAT_EQ(p.f, 0.0005f);
  EXPECT_EQ(p.phi, 0.0f);
  EXPECT_EQ(p.phi_deg, 0.0f);
  p.f = 2.5f;
  std::ostringstream box;
  EXPECT_FALSE(stops(p, box, listed(box)));
  const std::string stars(76, '*'), side = "**" + std::string(72, ' ') + "**";
  EXPECT_EQ(box.str(),
            "\n\n" + stars + "\n" + stars + "\n" + side + "\n" +
                "**    The structure factor of the primary reflection is larger than 2!    **\n"
                "**    This part of KAVEN-xx is in work!                                   **\n"
                "**    Only provisional results are obtained!                              **\n"
                "**    Calculation without interference term, (nnn = 0) is recommended!    **\n" +
                side + "\n" + side + "\n" + stars + "\n" + stars + "\n\n\n");
  EXPECT_EQ(p.title,
            "       P r o v i s i o n a l    output  of  KAVEN-xx  for  F-prim > 2  !!!      ");
  EXPECT_EQ(p.title.size(), 80u);
}

TEST(Geometry, ComputedPrimaryOfAForbiddenReflection) {
  // 8 8 2 is forbidden in I a -3 d (hhl with 2h + l != 4n): the computed F is ~0 and
  // its phase is set to 0.
  RunParameters p = yig_cell();
  raumgr(p, 230);
  p.ncent = lattice_points(p.space_group[0]);
  p.nf = 1;
  p.types.assign(1, AtomType{});
  p.types[0].atn = "Y3+ ";
  upform(p, 0);
  p.na = 1;
  p.atoms.assign(1, Atom{});
  p.atoms[0] = Atom{1, 0.25f, 0.125f, 0.0f, 0.25f, {0.0004909f, 0.0004909f, 0.0004909f, 0, 0, 0}};
  bravai(p, p.space_group);
  reciprocal_cell(p);
  primary_reflection(p);
  primary_structure_factor(p);
  EXPECT_LT(p.f, 0.001f);
  EXPECT_EQ(p.phi, 0.0f);
  // ... while 8 8 0 is allowed.
  p.l = 0, p.f = 0;
  primary_reflection(p);
  primary_structure_factor(p);
  EXPECT_GT(p.f, 1.0f);
}

TEST(Geometry, SampleConstants) {
  RunParameters p = yig_cell();
  p.rkugel = 0.015f;
  reciprocal_cell(p);
  sample_constants(p);
  EXPECT_NEAR(p.gamma_sc, 2817.938 * 0.55942 / 1897.4133, 1e-5);
  EXPECT_NEAR(p.area, M_PI * 0.015 * 0.015, 1e-9);
  EXPECT_NEAR(p.volume, 4.0 / 3.0 * M_PI * std::pow(0.015, 3), 1e-10);
}

TEST(Geometry, InputsWithoutAGeometryEndTheRun) {
  auto message = [](RunParameters p, void (*check)(const RunParameters&)) {
    std::ostringstream out;
    return stops(p, out, check) ? out.str() : std::string("accepted");
  };
  RunParameters ok = yig_cell();
  ok.radius = 150;
  ok.rkugel = 0.015f;
  reciprocal_cell(ok);
  EXPECT_EQ(message(ok, check_radiation), "accepted");
  EXPECT_EQ(message(ok, check_cell), "accepted");
  RunParameters neg = ok;
  neg.alam2 = -1;  // an explicit pair with a negative wavelength
  EXPECT_EQ(message(neg, check_radiation), "\n\n The wavelength must be positive: check your input!\n");
  RunParameters mono = ok;
  mono.isyn = 1, mono.alam1 = 0.5f, mono.amono = 5.43f, mono.fmono = 58.19f;
  monochromator(mono);  // reflection 0 0 0: no Bragg angle
  EXPECT_EQ(message(mono, check_radiation),
            "\n\n The monochromator reflection cannot be reached with this wavelength:\n"
            " check your input!\n");
  mono.hmono = mono.kmono = mono.lmono = 1;
  mono.alam1 = 7.0f;  // sin(theta) beyond 1
  monochromator(mono);
  EXPECT_NE(message(mono, check_radiation), "accepted");
  RunParameters flat = ok;
  flat.c = 0;
  reciprocal_cell(flat);
  EXPECT_EQ(message(flat, check_cell),
            "\n\n The cell constants give no cell volume: check your input!\n");
  // Coplanar edges: no volume, even where rounding leaves a trace of one.
  for (auto angles : {std::array<float, 3>{60, 60, 120}, std::array<float, 3>{90, 90, 180},
                      std::array<float, 3>{0, 0, 0}}) {
    RunParameters coplanar = ok;
    coplanar.alpha = angles[0], coplanar.beta = angles[1], coplanar.gamma = angles[2];
    reciprocal_cell(coplanar);
    EXPECT_EQ(message(coplanar, check_cell),
              "\n\n The cell constants give no cell volume: check your input!\n")
        << angles[0] << " " << angles[1] << " " << angles[2];
  }
  RunParameters steep = ok;  // a steep but real cell is kept
  steep.gamma = 179.0f;
  reciprocal_cell(steep);
  EXPECT_EQ(message(steep, check_cell), "accepted");
  RunParameters sphere = ok;
  sphere.rkugel = 0;
  EXPECT_EQ(message(sphere, check_cell),
            "\n\n The crystal radius must be positive: check your input!\n");
  for (float RunParameters::*angle : {&RunParameters::diverp, &RunParameters::divers, &RunParameters::eta}) {
    RunParameters negative = ok;
    negative.*angle = -0.01f;
    EXPECT_EQ(message(negative, check_cell),
              "\n\n The divergences and the mosaic spread must not be negative: check your input!\n");
  }
  RunParameters blocks = ok;
  blocks.radius = 0;
  EXPECT_EQ(message(blocks, check_cell),
            "\n\n The mosaic-block radius must be positive: check your input!\n");
  RunParameters origin = ok;
  origin.h = origin.k = origin.l = 0;
  EXPECT_EQ(message(origin, check_cell),
            "\n\n The primary reflection 0 0 0 has no scattering vector: check your input!\n");
}

TEST(Geometry, TheIndexBoxOfTheSearchIsBoundedBeforeAnyPass) {
  // The box (2 hmax + 1)(2 kmax + 1)(2 lmax + 1) of the shortest wavelength: YIG with
  // silver radiation searches 89^3 points; a cell whose box exceeds 2^31 - 1 ends the run
  // with the three limits named, however large (no wrapped integers).
  RunParameters p = yig_cell();
  EXPECT_EQ(index_limits(p, p.alam1), (std::array<int, 3>{44, 44, 44}));
  auto check = [&p](float a, float b, float c) {
    p.a = a, p.b = b, p.c = c;
    std::ostringstream out;
    return stops(p, out, [](RunParameters& q) { check_search_size(q, q.alam1); }) ? out.str()
                                                                                : std::string("accepted");
  };
  EXPECT_EQ(check(12.38f, 12.38f, 12.38f), "accepted");
  // 2a/lambda = 357: a box of 715^3 = 3.66e8 points
  EXPECT_EQ(check(100, 100, 100), "accepted");
  // 2a/lambda = 536 for a = 150: 1073^3 = 1.24e9; a = 180: 1288^3 = 2.1e9 (< 2^31 - 1);
  // a = 181: 1295^3 = 2.17e9
  EXPECT_EQ(check(180, 180, 180), "accepted");
  EXPECT_EQ(check(181, 181, 181),
            "\n\n The cell is too large for the event search: the index limits\n"
            " 2a/lambda, 2b/lambda, 2c/lambda = 647 647 647\n"
            " give more than 2147483647 index triples to search. Check the cell constants\n"
            " on the third input line and the wavelength on the fourth!\n");
  EXPECT_NE(check(1e9f, 1e9f, 1e9f).find("= 3575131452 3575131452 3575131452"), std::string::npos)
      << check(1e9f, 1e9f, 1e9f);
  EXPECT_NE(check(3e38f, 1, 1), "accepted");
  // a long thin cell: its box is one long row
  EXPECT_EQ(check(5e8f, 0.1f, 0.1f), "\n\n The cell is too large for the event search: the index limits\n"
                                     " 2a/lambda, 2b/lambda, 2c/lambda = 1787565726 0 0\n"
                                     " give more than 2147483647 index triples to search. Check the cell constants\n"
                                     " on the third input line and the wavelength on the fourth!\n");
  // limits asked for outside the checked range stay within the integers
  p.a = 1e30f;
  EXPECT_GT(index_limits(p, p.alam1)[0], 0);
}

TEST(Geometry, ReciprocalMetricAgreesWithCartesianReciprocalVectors) {
  // A triclinic cell: the reciprocal basis from cross products of the direct basis
  // vectors, then |h|^2 and h . k in Cartesian space against G* of the run record.
  RunParameters p;
  p.a = 5.1f, p.b = 6.3f, p.c = 7.7f, p.alpha = 81.f, p.beta = 97.f, p.gamma = 112.f;
  reciprocal_cell(p);
  using V = std::array<double, 3>;
  auto cross = [](const V& u, const V& v) {
    return V{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
  };
  auto dot = [](const V& u, const V& v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; };
  const double d2r = M_PI / 180;
  const double ca = std::cos(p.alpha * d2r), cb = std::cos(p.beta * d2r);
  const double cg = std::cos(p.gamma * d2r), sg = std::sin(p.gamma * d2r);
  const V a{p.a, 0, 0}, b{p.b * cg, p.b * sg, 0};
  const double cx = p.c * cb, cy = p.c * (ca - cb * cg) / sg;
  const V c{cx, cy, std::sqrt(double(p.c) * p.c - cx * cx - cy * cy)};
  const double vol = dot(a, cross(b, c));
  V as = cross(b, c), bs = cross(c, a), cs = cross(a, b);
  for (V* r : {&as, &bs, &cs})
    for (double& x : *r) x /= vol;
  auto cart = [&](const std::array<int, 3>& h) {
    return V{h[0] * as[0] + h[1] * bs[0] + h[2] * cs[0], h[0] * as[1] + h[1] * bs[1] + h[2] * cs[1],
             h[0] * as[2] + h[1] * bs[2] + h[2] * cs[2]};
  };
  const std::array<int, 3> cases[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}, {1, 0, -1},
                                      {0, 2, 3}, {-3, 1, 2}, {4, -5, 6}};
  for (const auto& h : cases) {
    const V hc = cart(h);
    const double want = dot(hc, hc);
    EXPECT_NEAR(p.gstar.length_sq(h[0], h[1], h[2]), want, 2e-6 * want) << h[0] << h[1] << h[2];
    for (const auto& k : cases) {
      const std::array<double, 3> q = p.gstar.times(k[0], k[1], k[2]);
      const double hq = h[0] * q[0] + h[1] * q[1] + h[2] * q[2];
      EXPECT_NEAR(hq, dot(hc, cart(k)), 2e-6 * (want + dot(cart(k), cart(k))));
    }
  }
}
