// The fit of the simulation to the real CeFe4P12 0 0 2 fragment (../shared/realdata
// beside the repository, or where KAVEN_REALDATA names; the benchmarks say so and stop
// when it is not there): one whole fit with the default parameters, the fit that
// describes the fragment best (interference term on, divergence and mosaic spread, f'
// and f'' at the fitted energy), and the simulated scan inside a fit: moved by a psi
// offset (the scan alone) and at another lambda/a (the search of the events and the
// scan).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdlib.h>

#include "analysis/scan_fit.hpp"
#include "shell/run_driver.hpp"

namespace {

using namespace kaven;
namespace fs = std::filesystem;

// The run record (the crystal still read) and the result of a run of the fragment,
// taken in the run's analysis step.
struct Fragment {
  RunParameters par;
  RunResult result;
  bool ok = false;
  std::string why;

  explicit Fragment(int nnn) {
    const char* named = std::getenv("KAVEN_REALDATA");
    const fs::path src =
        (named && *named ? fs::path(named) : fs::path(KAVEN_SOURCE_DIR) / ".." / "shared" / "realdata") / "cfp002";
    std::ifstream is(src / "cfp002m.inp");
    if (!is || !fs::exists(src / "cfp002m.obs")) {
      why = "the real fragment is not at " + src.string() + " (set KAVEN_REALDATA)";
      return;
    }
    std::string tmpl = (fs::temp_directory_path() / "kaven-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return;
    const fs::path dir = tmpl;
    fs::create_symlink(fs::absolute(src / "cfp002m.obs"), dir / "cfp002m.obs");
    std::stringstream text;
    text << is.rdbuf();
    std::string lines = text.str();
    // Line 6 with the interference term asked for.
    std::istringstream in_lines(lines);
    std::string input, line;
    for (int n = 1; std::getline(in_lines, line); ++n)
      input += (n == 6 ? "19.0  20.0  250.  " + std::to_string(nnn) + "  0.0001  0." : line) + "\n";
    RunParameters run_par;
    RunNames names;
    RunFiles files;
    std::istringstream in(input);
    std::ostringstream listing;
    RunEnvironment env;
    env.base_dir = dir;
    env.analysis = [this](const RunParameters& p, RunResult& r, Listing&) {
      par = p;
      result = r;
      ok = true;
    };
    kaven::kaven(run_par, names, files, in, listing, env);
    fs::remove_all(dir);
  }
};

const Fragment& fragment(int nnn) {
  static const Fragment plain(0), interfering(1);
  return nnn > 0 ? interfering : plain;
}

void report(benchmark::State& state, const ScanFitResult& r) {
  const ScanFitSolution& s = r.at_fitted_energy ? *r.at_fitted_energy : r.fit;
  state.counters["R"] = s.quality.r;
  state.counters["energy_eV"] = s.energy_eV;
  state.counters["searches"] = static_cast<double>(r.searches);
  state.counters["iterations"] = s.iterations;
}

void BM_FitRealFragment(benchmark::State& state) {
  const Fragment& f = fragment(0);
  if (!f.ok) return state.SkipWithError(f.why.c_str());
  FitOptions o;
  ScanFitResult r;
  for (auto _ : state) {
    r = fit_measured_scan(f.par, f.result, o);
    benchmark::DoNotOptimize(r.ok);  // (a double through it comes back clobbered with this g++)
  }
  report(state, r);
}
BENCHMARK(BM_FitRealFragment)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FitRealFragmentBest(benchmark::State& state) {
  const Fragment& f = fragment(1);
  if (!f.ok) return state.SkipWithError(f.why.c_str());
  FitOptions o;
  o.refine = {FitParameter::psi_offset, FitParameter::lambda_a, FitParameter::scale,
              FitParameter::background, FitParameter::divers, FitParameter::eta};
  o.dispersion_at_fitted_energy = true;
  ScanFitResult r;
  for (auto _ : state) {
    r = fit_measured_scan(f.par, f.result, o);
    benchmark::DoNotOptimize(r.ok);  // (a double through it comes back clobbered with this g++)
  }
  report(state, r);
}
BENCHMARK(BM_FitRealFragmentBest)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// The scan inside the fit: state.range(0) 0 moves the events by a psi offset (the
// crossings kept, the scan formed again), 1 changes lambda/a (the events searched again).
void BM_ScanInsideFit(benchmark::State& state) {
  const Fragment& f = fragment(static_cast<int>(state.range(1)));
  if (!f.ok) return state.SkipWithError(f.why.c_str());
  ScanModel model(f.par, f.result);
  ParameterValues v = model.start_values();
  model.simulate(v);
  double step = 0;
  for (auto _ : state) {
    step += 1e-6;
    if (state.range(0) == 0) v[FitParameter::psi_offset] = step;
    else v[FitParameter::lambda_a] = 1 + step;
    benchmark::DoNotOptimize(model.simulate(v).profile.max);
  }
  state.counters["searches"] = static_cast<double>(model.searches());
}
BENCHMARK(BM_ScanInsideFit)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"search", "nnn"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
