// The fit of the simulated scan to a measured one: the model at the input's values is
// the run's scan to the bit and a psi offset is the run of a turned orientation matrix;
// values planted in a run of kaven's own (tube and synchrotron, the interference term
// on) come back within three standard uncertainties from a scan with counting noise;
// fits that cannot be made end with their reason; the real CeFe4P12 fragment, when it
// is beside the repository.
#include <gtest/gtest.h>

#include <chrono>

#include "fit_fixture.hpp"

using namespace kaven_test;
using kaven::FitParameter;

namespace {

void expect_recovered(const kaven::ScanFitSolution& s, FitParameter p, double planted) {
  const kaven::FittedParameter& f = s.parameters[static_cast<std::size_t>(p)];
  SCOPED_TRACE(std::string(kaven::fit_parameter_info(p).name));
  ASSERT_TRUE(f.refined);
  ASSERT_TRUE(std::isfinite(f.sigma) && f.sigma > 0);
  EXPECT_LE(std::fabs(f.value - planted), 3 * f.sigma) << "value " << f.value << " +- " << f.sigma;
}

}  // namespace

TEST(ScanFit, PlantedValuesOfATubeScanComeBack) {
  Session s;
  kaven::FitOptions o;
  o.refine = {FitParameter::psi_offset, FitParameter::lambda_a, FitParameter::scale,
              FitParameter::background, FitParameter::eta};
  Planted p{0.031, 1.0004, 1.7, 0.4, 0.012f};
  const Lines in = plant_scan(s.dir.path(), si_cu_lines(), p, "si-cu.obs", 7);
  const auto t0 = std::chrono::steady_clock::now();
  const FitRun r = run_fit(s, in, o);
  std::printf("tube fit: %.2f s\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  ASSERT_TRUE(r.fit.ok) << r.fit.message;
  const kaven::ScanFitSolution& f = r.fit.fit;
  std::printf("R %.4f chi2 %.3f iterations %d searches %ld entered %ld\n", f.quality.r, f.quality.chi2_dof, f.iterations, r.fit.searches, r.outcome.result.profile.entered);
  expect_recovered(f, FitParameter::psi_offset, p.psi_offset);
  expect_recovered(f, FitParameter::lambda_a, p.lambda_a);
  expect_recovered(f, FitParameter::scale, p.scale);
  expect_recovered(f, FitParameter::background, p.background);
  expect_recovered(f, FitParameter::eta, *p.eta);
}

TEST(ScanFit, PlantedValuesOfASynchrotronScanWithInterferenceComeBack) {
  Session s;
  kaven::FitOptions o;
  Planted p{-0.012, 0.99965, 2.5e-3, 30.0, std::nullopt};
  const Lines in = plant_scan(s.dir.path(), si_synchrotron_lines(), p, "si-syn.obs", 11);
  const auto t0 = std::chrono::steady_clock::now();
  const FitRun r = run_fit(s, in, o);
  std::printf("synchrotron fit: %.2f s\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  ASSERT_TRUE(r.fit.ok) << r.fit.message;
  const kaven::ScanFitSolution& f = r.fit.fit;
  std::printf("R %.4f chi2 %.3f iterations %d searches %ld entered %ld\n", f.quality.r, f.quality.chi2_dof, f.iterations, r.fit.searches, r.outcome.result.profile.entered);
  expect_recovered(f, FitParameter::psi_offset, p.psi_offset);
  expect_recovered(f, FitParameter::lambda_a, p.lambda_a);
  expect_recovered(f, FitParameter::scale, p.scale);
  expect_recovered(f, FitParameter::background, p.background);
}
