// The fitting run as the command line makes it: the listing's fit section after the
// measured summary, the fitted curve on the plot, the fit's JSON file (read by python as
// a script would), and the refined input, which runs as an ordinary input and simulates
// the fitted curve; a fit that cannot be made ends with its message and status, writes
// no refined input and removes the one an earlier fit left.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "fit_fixture.hpp"
#include "input/input_writer.hpp"
#include "report/fit_report.hpp"
#include "shell/fit_command.hpp"

using namespace kaven_test;

namespace {

int kaven_in(const fs::path& dir, const std::string& args) {
  const std::string cmd = "cd '" + dir.string() + "' && '" + KAVEN_BINARY + "' " + args + " >out.txt 2>err.txt";
  const int raw = std::system(cmd.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string text_of(const fs::path& p) {
  std::ifstream is(p);
  std::stringstream ss;
  ss << is.rdbuf();
  return ss.str();
}

}  // namespace

TEST(FitCommand, FilesOfAFitAndTheRefinedInputGivesTheFittedCurve) {
  Session s;
  const Planted p{0.02, 1.0002, 80.0, 150.0, std::nullopt};
  write_lines(s.dir.path() / "syn.inp", plant_scan(s.dir.path(), si_synchrotron_lines(), p, "si-syn.obs", 21));
  kaven::AnalysisRequest rq;
  rq.run.input = s.dir.path() / "syn.inp";
  rq.fit = true;
  rq.options.dispersion_at_fitted_energy = true;
  const kaven::AnalysisResult r = kaven::analysis_command(rq);
  ASSERT_EQ(r.run.status, 0);
  ASSERT_TRUE(r.fit && r.fit->ok) << (r.fit ? r.fit->message : "");
  ASSERT_TRUE(r.fit->at_fitted_energy);
  EXPECT_EQ(r.refined_input, s.dir.path() / "syn-fit.inp");
  EXPECT_EQ(r.fit_json, s.dir.path() / "syn-fit.json");

  // The listing: the fit after the measured summary, before the calculated summary.
  const Lines listing = read_lines(s.dir.path() / "syn.out");
  const std::size_t measured = find_prefix(listing, " Deviation between calculated and measured psi");
  const std::size_t fit = find_prefix(listing, std::string(20, ' ') + "*** Fit of the simulated scan");
  const std::size_t calc = find_prefix(listing, " Maximum calculated intensity");
  EXPECT_LT(measured, fit);
  EXPECT_LT(fit, calc);
  ASSERT_LT(calc, listing.size());
  EXPECT_LT(find_prefix(listing, " f' and f'' at the fitted energy"), calc);
  // The plot: the fitted curve in its own colour over the measured scan.
  EXPECT_NE(text_of(s.dir.path() / "si-syn.ps").find("0 0 1 setrgbcolor"), std::string::npos);

  // The refined input: the fitted wavelength, f' and f'' of the energy, the turned
  // matrix; it runs, and its scan scaled and lifted by the fit's linear parameters is
  // the fitted curve (to the four decimals of the element lines).
  const Lines refined = read_lines(r.refined_input);
  {
    std::ifstream is(r.refined_input);
    EXPECT_TRUE(kaven::starts_as_kaven_input(is));  // marked as kaven's, unchanged
  }
  EXPECT_EQ(refined[1], "syn-fit.ps");
  const kaven::ScanFitSolution& sol = kaven::written_solution(*r.fit);
  Session again;
  fs::create_symlink(s.dir.path() / "si-syn.obs", again.dir.path() / "si-syn.obs");
  const ListedRun rerun = again.run(refined);
  ASSERT_FALSE(rerun.stopped());
  EXPECT_FLOAT_EQ(again.par.alam1, static_cast<float>(r.run.par.alam1 * sol.values[kaven::FitParameter::lambda_a]));
  const std::vector<float>& cal = rerun.outcome.result.profile.intensity;
  ASSERT_EQ(cal.size(), sol.fitted_steps.size());
  const double scale = sol.values[kaven::FitParameter::scale], bg = sol.values[kaven::FitParameter::background];
  double top = 0;
  for (double v : sol.fitted_steps) top = std::max(top, std::fabs(v));
  for (std::size_t i = 0; i < cal.size(); ++i) EXPECT_NEAR(scale * cal[i] + bg, sol.fitted_steps[i], 2e-3 * top) << i;

  // The JSON file as a script reads it.
  const std::string script = R"(
import json, sys
j = json.load(open(sys.argv[1]))
problems = []
if j['program'] != 'kaven' or j['kind'] != 'fit' or j['status'] != 'converged': problems.append('head')
for name in ('psi', 'lambda_a', 'scale', 'background'):
    p = j['parameters'][name]
    if not p['refined'] or p['sigma'] is None or not p['lower'] < p['value'] < p['upper']: problems.append(name)
if j['fit']['correlations']['names'] != ['psi', 'lambda_a', 'scale', 'background']: problems.append('correlations')
for k in ('before', 'after'):
    if not any(f['kind'] == 'peak' and f['events'] for f in j['fit']['peaks'][k]): problems.append('peaks ' + k)
if j['at_fitted_energy'] is None or len(j['at_fitted_energy']['refined_run']['dispersion']) != 1: problems.append('energy')
n = len(j['profile']['psi'])
if n < 100 or any(len(j['profile'][c]) != n for c in ('measured', 'sigma', 'start', 'fitted', 'background')): problems.append('profile')
if not 0 < j['R'] < 1 or j['refined_input'] is None: problems.append('R')
print(' '.join(problems))
sys.exit(1 if problems else 0)
)";
  std::ofstream(s.dir.path() / "check.py") << script;
  const std::string cmd = std::string("'") + KAVEN_PYTHON3 + "' '" + (s.dir.path() / "check.py").string() + "' '" +
                          r.fit_json.string() + "' > '" + (s.dir.path() / "check.txt").string() + "' 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << text_of(s.dir.path() / "check.txt");
}

TEST(FitCommand, StatusAndNoRefinedInputWhenTheFitCannotBeMade) {
  ScratchDir dir;
  setenv("SOURCE_DATE_EPOCH", kEpoch, 1);
  write_lines(dir.path() / "plain.inp", si_cu_lines());  // no measured scan
  // A refined input an earlier fit left goes: none may be taken for this run's.
  std::ofstream(dir.path() / "plain-fit.inp") << kaven::marked_as_written_by_kaven(join_lines(si_cu_lines()));
  EXPECT_EQ(kaven_in(dir.path(), "plain.inp --fit"), 3);
  EXPECT_FALSE(fs::exists(dir.path() / "plain-fit.inp"));
  EXPECT_TRUE(fs::exists(dir.path() / "plain-fit.json"));
  EXPECT_NE(text_of(dir.path() / "err.txt").find("the fit failed: the run has no measured scan"), std::string::npos);
  // A file of that name kaven did not write (or that was changed since) stays, and the
  // run writes nothing.
  std::ofstream(dir.path() / "plain-fit.inp") << "someone's notes\n";
  fs::remove(dir.path() / "plain.out");
  EXPECT_EQ(kaven_in(dir.path(), "plain.inp --fit"), 1);
  EXPECT_EQ(text_of(dir.path() / "plain-fit.inp"), "someone's notes\n");
  EXPECT_FALSE(fs::exists(dir.path() / "plain.out"));
  // An unknown parameter: status 1, nothing written; options of the fit without it: usage.
  EXPECT_EQ(kaven_in(dir.path(), "plain.inp other.out --fit psi,bogus"), 1);
  EXPECT_NE(text_of(dir.path() / "err.txt").find("unknown fit parameter 'bogus'"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.path() / "other.out"));
  EXPECT_EQ(kaven_in(dir.path(), "plain.inp --dispersion"), 2);
  // The peak table alone needs a measured scan too.
  EXPECT_EQ(kaven_in(dir.path(), "plain.inp index.out --index"), 3);
  EXPECT_TRUE(contains(read_lines(dir.path() / "index.out"), " No peak table: the run has no measured scan."));
}
