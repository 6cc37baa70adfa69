// Sphere absorption and extinction tables: the published values they must reproduce,
// the interpolation rules, and a check of the tables against independent integrals
// (closed forms along the beam at theta = 0 and 90, a direct 3-D quadrature between).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

#include "scattering/sphere_tables.hpp"

using kaven::absor1;
using kaven::xtab;
using kaven::xtab1;

namespace {

const kaven::ExtinctionTable& table() {
  static const kaven::ExtinctionTable t = xtab1();
  return t;
}

float mur_node(int row) { return row < 100 ? 0.1f * float(row) : 10.0f + 0.5f * float(row - 100); }

// Gauss-Legendre nodes and weights on [-1, 1] by Newton iteration.
struct Gauss {
  std::vector<double> x, w;
};
Gauss gauss_legendre(int n) {
  Gauss g{std::vector<double>(n), std::vector<double>(n)};
  for (int i = 0; i < n; ++i) {
    double z = std::cos(std::numbers::pi * (i + 0.75) / (n + 0.5));
    double dp = 0.0;
    for (int it = 0; it < 100; ++it) {
      double p0 = 1.0, p1 = z;
      for (int k = 2; k <= n; ++k) {
        double p2 = ((2 * k - 1) * z * p1 - (k - 1) * p0) / k;
        p0 = p1;
        p1 = p2;
      }
      dp = n * (z * p1 - p0) / (z * z - 1.0);
      double dz = p1 / dp;
      z -= dz;
      if (std::fabs(dz) < 1e-15) break;
    }
    g.x[i] = z;
    g.w[i] = 2.0 / ((1.0 - z * z) * dp * dp);
  }
  return g;
}

// integral_a^b f by `panels` equal panels of 20-point Gauss.
double integrate(const std::function<double(double)>& f, double a, double b, int panels) {
  static const Gauss g = gauss_legendre(20);
  double h = (b - a) / panels, sum = 0.0;
  for (int p = 0; p < panels; ++p)
    for (size_t i = 0; i < g.x.size(); ++i) sum += g.w[i] * f(a + h * (p + 0.5 * (g.x[i] + 1.0)));
  return 0.5 * h * sum;
}

// Sphere transmission along the beam, unit radius. theta = 0: every chord c gives
// c exp(-mu c), so T = 3/8 integral_0^2 c^2 exp(-mu c) dc; theta = 90: the beam leaves
// where it entered, T = 3/(16 mu) (2 - integral_0^2 c exp(-2 mu c) dc).
double sphere_absorption_theta0(double mu) {
  return 1.0 / (0.375 * (2.0 / (mu * mu * mu) - std::exp(-2.0 * mu) * (4.0 / mu + 4.0 / (mu * mu) +
                                                                       2.0 / (mu * mu * mu))));
}
double sphere_absorption_theta90(double mu) {
  double k = 2.0 * mu;
  double chord_moment = 1.0 / (k * k) - std::exp(-2.0 * k) * (2.0 / k + 1.0 / (k * k));
  return 1.0 / (3.0 / (16.0 * mu) * (2.0 - chord_moment));
}

// Extinction of the sphere at theta = 0: the chord average of the Laue plate ratio
// (1/2A) integral_0^{2A} J0, A = x c, which folds into
// Y = 3/(16 x) integral_0^{4x} J0(t) (2 - t^2/(8 x^2)) dt.
double extinction_theta0(double x) {
  double f =
      integrate([x](double t) { return std::cyl_bessel_j(0.0, t) * (2.0 - t * t / (8.0 * x * x)); },
                0.0, 4.0 * x, 40);
  return 3.0 / (16.0 * x) * f;
}
// ... and at theta = 90, where l_in = l_out = s: Y = 3/8 integral_0^2 J0^2(2 x s) (2 - s^2/2) ds.
double extinction_theta90(double x) {
  return 0.375 * integrate(
                     [x](double s) {
                       double j = std::cyl_bessel_j(0.0, 2.0 * x * s);
                       return j * j * (2.0 - 0.5 * s * s);
                     },
                     0.0, 2.0, 40);
}

// (1/V) integral f(l_in, l_out) dV over the unit sphere by a product Gauss rule in
// spherical coordinates, beams at 2 theta in the xy plane. Entirely 3-D: it shares
// nothing with the disc quadrature that made the tables.
double sphere_average(const std::function<double(double, double)>& f, double theta) {
  const Gauss g = gauss_legendre(48);
  const double ci = std::cos(theta), si = std::sin(theta);
  const int n_phi = 96;
  double sum = 0.0;
  for (size_t a = 0; a < g.x.size(); ++a) {
    double r = 0.5 * (g.x[a] + 1.0);
    for (size_t b = 0; b < g.x.size(); ++b) {
      double cz = g.x[b], sz = std::sqrt(1.0 - cz * cz);
      for (int k = 0; k < n_phi; ++k) {
        double phi = 2.0 * std::numbers::pi * (k + 0.5) / n_phi;
        double px = r * sz * std::cos(phi), py = r * sz * std::sin(phi);
        double inside = 1.0 - r * r;
        double bi = px * ci - py * si;  // point . u_in
        double bo = px * ci + py * si;  // point . u_out
        double l_in = bi + std::sqrt(bi * bi + inside);
        double l_out = -bo + std::sqrt(bo * bo + inside);
        sum += 0.5 * g.w[a] * g.w[b] * r * r * f(l_in, l_out);
      }
    }
  }
  double volume_sum = sum * 2.0 * std::numbers::pi / n_phi;
  return volume_sum / (4.0 * std::numbers::pi / 3.0);
}

}  // namespace

TEST(SphereAbsorption, ReproducesThePublishedRows) {
  for (int j = 0; j <= 90; j += 5) EXPECT_EQ(absor1(0.0f, float(j)), 1.0f) << "theta " << j;
  EXPECT_NEAR(absor1(0.1f, 0.0f), 1.161, 5e-4);
  EXPECT_NEAR(absor1(0.1f, 90.0f), 1.156, 5e-4);
  EXPECT_NEAR(absor1(1.0f, 0.0f), 4.124, 5e-4);
  EXPECT_NEAR(absor1(1.0f, 90.0f), 3.008, 5e-4);
  EXPECT_NEAR(absor1(9.9f, 0.0f), 1294.0, 0.5);
  EXPECT_NEAR(absor1(9.9f, 90.0f), 26.43, 5e-3);
  EXPECT_NEAR(absor1(10.0f, 0.0f), 1333.0, 0.5);
  EXPECT_NEAR(absor1(10.0f, 90.0f), 26.7, 0.05);
  EXPECT_NEAR(absor1(31.5f, 0.0f), 41670.0, 5.0);
  EXPECT_NEAR(absor1(31.5f, 90.0f), 84.01, 5e-3);
}

TEST(SphereAbsorption, InterpolatesBilinearlyWithinEachRowSpacing) {
  EXPECT_NEAR(absor1(0.05f, 0.0f), 1.0805f, 5e-5);
  for (float th : {0.0f, 35.0f, 90.0f}) {
    EXPECT_NEAR(absor1(9.95f, th), 0.5 * (absor1(9.9f, th) + absor1(10.0f, th)),
                1e-5 * absor1(10.0f, th));
    EXPECT_NEAR(absor1(10.25f, th), 0.5 * (absor1(10.0f, th) + absor1(10.5f, th)),
                1e-6 * absor1(10.5f, th));
    EXPECT_NEAR(absor1(31.25f, th), 0.5 * (absor1(31.0f, th) + absor1(31.5f, th)),
                1e-6 * absor1(31.5f, th));
  }
  for (float mur : {0.4f, 5.0f, 20.0f}) {
    EXPECT_NEAR(absor1(mur, 47.5f), 0.5 * (absor1(mur, 45.0f) + absor1(mur, 50.0f)),
                1e-6 * absor1(mur, 45.0f));
    EXPECT_EQ(absor1(mur, 91.0f), absor1(mur, 90.0f));
    EXPECT_EQ(absor1(mur, -3.0f), absor1(mur, 0.0f));
  }
  // Interpolating at a quarter in both directions at once.
  double a00 = absor1(2.0f, 20.0f), a01 = absor1(2.0f, 25.0f);
  double a10 = absor1(2.1f, 20.0f), a11 = absor1(2.1f, 25.0f);
  double lo = a00 + 0.25 * (a01 - a00), hi = a10 + 0.25 * (a11 - a10);
  EXPECT_NEAR(absor1(2.025f, 21.25f), lo + 0.25 * (hi - lo), 1e-5);
}

TEST(SphereAbsorption, ClampsBeyondTheGrid) {
  for (float th : {0.0f, 45.0f, 90.0f}) {
    EXPECT_EQ(absor1(31.6f, th), absor1(31.5f, th));
    EXPECT_EQ(absor1(1e30f, th), absor1(31.5f, th));
    EXPECT_EQ(absor1(-1.0f, th), 1.0f);
  }
  EXPECT_EQ(absor1(3.0f, 1e30f), absor1(3.0f, 90.0f));
  EXPECT_EQ(absor1(std::nanf(""), 10.0f), 1.0f);
}

TEST(SphereAbsorption, RisesWithMuRAndFallsWithTheta) {
  for (int j = 0; j <= 18; ++j) {
    float th = 5.0f * float(j), prev = absor1(0.0f, th);
    for (float mur = 0.03f; mur < 31.5f; mur += 0.07f) {
      float a = absor1(mur, th);
      ASSERT_GT(a, prev) << "mu R " << mur << " theta " << th;
      prev = a;
    }
  }
  for (int row = 1; row < 144; ++row)
    for (int j = 1; j <= 18; ++j)
      ASSERT_LT(absor1(mur_node(row), 5.0f * float(j)), absor1(mur_node(row), 5.0f * float(j - 1)))
          << "mu R " << mur_node(row) << " theta " << 5 * j;
}

TEST(SphereAbsorption, AgreesWithIndependentIntegrals) {
  // Every row at theta = 0 and 90 against the closed forms.
  for (int row = 1; row < 144; ++row) {
    double mu = mur_node(row);
    EXPECT_NEAR(absor1(float(mu), 0.0f) / sphere_absorption_theta0(mu), 1.0, 1e-6) << "mu R " << mu;
    EXPECT_NEAR(absor1(float(mu), 90.0f) / sphere_absorption_theta90(mu), 1.0, 1e-6)
        << "mu R " << mu;
  }
  // Oblique beams against the direct 3-D quadrature; the product rule itself loses
  // accuracy as the absorbing surface layer thins, hence the wider bound at mu R = 5.
  struct Case {
    double mu, theta, tol;
  };
  for (const Case& c : {Case{1.0, 45.0, 1e-5}, Case{0.5, 20.0, 1e-5}, Case{2.0, 70.0, 1e-5},
                        Case{5.0, 10.0, 2e-4}}) {
    const double mu = c.mu, theta = c.theta, tol = c.tol;  // (clang 14 captures no bindings)
    double t = sphere_average([mu](double li, double lo) { return std::exp(-mu * (li + lo)); },
                              theta * std::numbers::pi / 180.0);
    EXPECT_NEAR(absor1(float(mu), float(theta)) * t, 1.0, tol)
        << "mu R " << mu << " theta " << theta;
  }
}

TEST(Extinction, WorkingTableAscendsInX) {
  const auto& y = table().y;
  for (int j = 0; j < 19; ++j) {
    EXPECT_EQ(y[0][j], 1.0f);
    EXPECT_LT(y[300][j], 0.03f);
  }
  EXPECT_NEAR(y[10][0], 0.470, 5e-4);  // x = 1.0
}

TEST(Extinction, ReproducesThePublishedRows) {
  for (int j = 0; j <= 90; j += 5) EXPECT_EQ(xtab(table(), 0.0f, float(j)), 1.0f) << "theta " << j;
  EXPECT_NEAR(xtab(table(), 0.1f, 0.0f), 0.992, 5e-4);
  // The published table has 0.986 here. The Kato sphere gives 0.9842, which is also
  // 1 - 1.6 x^2, the leading term of J0^2 averaged over the sphere with l_in = l_out
  // (<s^2> = 0.8 r^2): the one published value this model does not reproduce.
  EXPECT_NEAR(xtab(table(), 0.1f, 90.0f), 0.984, 5e-4);
  EXPECT_NEAR(xtab(table(), 1.0f, 0.0f), 0.470, 5e-4);
  EXPECT_NEAR(xtab(table(), 1.0f, 5.0f), 0.469, 5e-4);
  EXPECT_NEAR(xtab(table(), 1.0f, 10.0f), 0.465, 5e-4);
  EXPECT_NEAR(xtab(table(), 1.0f, 90.0f), 0.421, 5e-4);
  EXPECT_NEAR(xtab(table(), 10.0f, 0.0f), 0.0375, 5e-5);
  EXPECT_NEAR(xtab(table(), 10.0f, 90.0f), 0.0698, 5e-5);
  EXPECT_NEAR(xtab(table(), 30.0f, 0.0f), 0.0125, 5e-5);
  EXPECT_NEAR(xtab(table(), 30.0f, 90.0f), 0.0276, 5e-5);
}

TEST(Extinction, InterpolatesAndClamps) {
  EXPECT_NEAR(xtab(table(), 0.05f, 0.0f), 0.996, 5e-4);
  for (float x : {0.45f, 7.0f, 29.95f})
    EXPECT_NEAR(xtab(table(), x, 47.5f), 0.5 * (xtab(table(), x, 45.0f) + xtab(table(), x, 50.0f)),
                1e-6);
  EXPECT_NEAR(xtab(table(), 2.35f, 20.0f),
              0.5 * (xtab(table(), 2.3f, 20.0f) + xtab(table(), 2.4f, 20.0f)), 1e-6);
  for (float th : {0.0f, 60.0f, 90.0f}) {
    EXPECT_EQ(xtab(table(), 30.5f, th), xtab(table(), 30.0f, th));
    EXPECT_EQ(xtab(table(), 1e30f, th), xtab(table(), 30.0f, th));
    EXPECT_EQ(xtab(table(), -2.0f, th), 1.0f);
  }
  EXPECT_EQ(xtab(table(), 4.0f, 95.0f), xtab(table(), 4.0f, 90.0f));
  EXPECT_EQ(xtab(table(), 4.0f, -5.0f), xtab(table(), 4.0f, 0.0f));
}

TEST(Extinction, FallsWithX) {
  for (int j = 0; j <= 18; ++j) {
    float th = 5.0f * float(j), prev = 1.0f;
    for (int i = 1; i <= 300; ++i) {
      ASSERT_LT(table().y[i][j], prev) << "x " << 0.1 * i << " theta " << th;
      prev = table().y[i][j];
    }
  }
}

TEST(Extinction, AgreesWithIndependentIntegrals) {
  for (int i = 1; i <= 300; ++i) {
    double x = 0.1 * i;
    EXPECT_NEAR(table().y[i][0], extinction_theta0(x), 1e-6) << "x " << x;
    EXPECT_NEAR(table().y[i][18], extinction_theta90(x), 1e-6) << "x " << x;
  }
  for (const auto& c :
       {std::pair{1.0, 45.0}, std::pair{0.5, 15.0}, std::pair{2.0, 75.0}, std::pair{10.0, 10.0}}) {
    const double x = c.first, theta = c.second;  // (clang 14 captures no bindings)
    double y = sphere_average(
        [x](double li, double lo) {
          double j = std::cyl_bessel_j(0.0, 2.0 * x * std::sqrt(li * lo));
          return j * j;
        },
        theta * std::numbers::pi / 180.0);
    EXPECT_NEAR(xtab(table(), float(x), float(theta)), y, 2e-5) << "x " << x << " theta " << theta;
  }
}
