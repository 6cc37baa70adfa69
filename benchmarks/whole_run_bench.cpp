// Whole runs through the driver, listing, calculated scan and plot included, each in a
// scratch folder:
//
// - the YIG example (examples/yig/yig-sim.inp: Ia-3d, Ag K-alpha1 and K-alpha2, 8 8 2)
//   on all cores, on one, and with the plain variants of the search and the scan (one
//   thread, every structure factor formed afresh); the speed-up of the first over the
//   last is printed at the end;
// - Si 2 2 2 over a full turn at 1000 steps per degree with the interference term and
//   Al 0 0 2 from a small CIF over a full turn at 50 steps per degree
//   (example_inputs.hpp), on all cores and on one: the scan of many steps and the
//   files written of it;
// - a large cell without symmetry: 2000 atoms in P 1 (a = b = c = 30 Å) with
//   anisotropic betas, Mo K-alpha (two passes), a 10 degree psi range. The index limits
//   reach 84, the candidate box holds 4.8 million points and some 1.5 million
//   reflections cross the sphere in a full turn, each needing F of the secondary and of
//   the coupling reflection over 2000 atoms.
//
// The counters give the screening sums the run formed (each gives F(h) and F(-h) and
// their orbits), the reflections given a screening value, the direct sums of single
// reflections for the crossings whose values were formed, and the storage they took.
//
// The large cell's input is generated here, reproducibly: `whole_run_bench
// --write-input=FILE [--atoms=N]` writes it for a run of the command-line program, for
// example to see its peak memory with /usr/bin/time -v build/kaven FILE.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "shell/run_driver.hpp"
#include "example_inputs.hpp"
#include "yig_setup.hpp"

namespace {

namespace fs = std::filesystem;

// Deterministic pseudo-random numbers in [0, 1) (a 64-bit linear congruential
// generator, Knuth's constants), so that every build generates the same crystal.
struct Lcg {
  std::uint64_t state;
  double next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return double(state >> 11) * 0x1.0p-53;
  }
};

// The input file of the large cell: n_atoms atoms of C, N, O and S (in the ratio
// 16 : 4 : 5 : 1 of a protein), at random positions, with random positive-definite
// anisotropic betas (U between 0.01 and 0.04 Å^2, off-diagonal terms up to a quarter
// of the diagonal ones). drumin 0.005 lists a few dozen events of the 10 degrees.
std::string large_cell_input(int n_atoms) {
  std::ostringstream os;
  os << "Large cell P 1 - " << n_atoms << " atoms\n"
     << "large.ps\n"
     << "30.0  30.0  30.0  90. 90. 90.\n"
     << "Mo\n"
     << "0.14  0.14 150. 150.  0.0\n"
     << "0.   10. 50  0  0.005 0.\n"
     << "1  " << n_atoms << "  4\n"
     << "C\nN\nO\nS\n";
  Lcg rng{20240611};
  const double a_star_sq = 1.0 / (30.0 * 30.0);
  const double two_pi_sq = 2 * 3.14159265358979 * 3.14159265358979;
  char line[160];
  for (int i = 0; i < n_atoms; ++i) {
    const double u = rng.next() * 26;
    const int type = u < 16 ? 1 : u < 20 ? 2 : u < 25 ? 3 : 4;
    const double x = rng.next(), y = rng.next(), z = rng.next();
    double b[3];
    for (double& v : b) v = two_pi_sq * a_star_sq * (0.01 + 0.03 * rng.next());
    const double b12 = 0.25 * (2 * rng.next() - 1) * std::min(b[0], b[1]);
    const double b13 = 0.25 * (2 * rng.next() - 1) * std::min(b[0], b[2]);
    const double b23 = 0.25 * (2 * rng.next() - 1) * std::min(b[1], b[2]);
    std::snprintf(line, sizeof line, "%4d  1.  %.5f  %.5f  %.5f\n", type, x, y, z);
    os << line;
    std::snprintf(line, sizeof line, "%.7f  %.7f  %.7f  %.7f  %.7f  %.7f\n", b[0], b[1], b[2],
                  b12, b13, b23);
    os << line;
  }
  os << " 2  4  6  0  0  1.0  2.0\n";
  return os.str();
}

// One whole run of an input in a scratch folder.
kaven::RunOutcome whole_run(const std::string& input_text, const fs::path& dir, int threads,
                            bool plain) {
  fs::create_directories(dir);
  std::istringstream input(input_text);
  std::ofstream listing(dir / "run.out");
  kaven::RunParameters par;
  kaven::RunNames names;
  kaven::RunFiles files;
  kaven::RunEnvironment env;
  env.base_dir = dir;
  env.listing = dir / "run.out";
  env.threads = threads;
  env.plain = plain;
  return kaven::kaven(par, names, files, input, listing, env);
}

void run_benchmark(benchmark::State& state, const std::string& text, const char* folder,
                   int threads, bool plain) {
  const fs::path dir = fs::temp_directory_path() / folder;
  kaven::RunOutcome out;
  for (auto _ : state) {
    out = whole_run(text, dir, threads, plain);
    if (out.end != kaven::RunEnd::complete) state.SkipWithError("the run did not complete");
  }
  const kaven::ReflectionCache::Counts& c = out.result.structure_factors;
  long crossings = 0;
  for (const kaven::PassRecord& p : out.result.passes) crossings += p.events.full_turn;
  state.counters["crossings"] = static_cast<double>(crossings);
  state.counters["F_sums"] = static_cast<double>(c.sums);
  state.counters["F_screened"] = static_cast<double>(c.screened);
  state.counters["F_exact"] = static_cast<double>(c.exact);
  state.counters["F_MB"] = static_cast<double>(c.bytes) / 1e6;
  fs::remove_all(dir);
}

// state.range(0): threads (0 all cores), -1 the plain variant.
void BM_YigWholeRun(benchmark::State& state) {
  static const std::string text = kaven::bench::yig_text();
  const int arg = static_cast<int>(state.range(0));
  run_benchmark(state, text, "kaven-bench-yig", std::max(arg, 0), arg < 0);
}
BENCHMARK(BM_YigWholeRun)->Arg(0)->Arg(1)->Arg(-1)->Unit(benchmark::kMillisecond)->UseRealTime();

// state.range(0): threads (0 all cores).
void BM_SiFullTurnWholeRun(benchmark::State& state) {
  static const std::string text = kaven::bench::si_full_turn_text();
  run_benchmark(state, text, "kaven-bench-si-full-turn", static_cast<int>(state.range(0)), false);
}
BENCHMARK(BM_SiFullTurnWholeRun)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AlWholeRun(benchmark::State& state) {
  static const std::string text = kaven::bench::al_text();
  run_benchmark(state, text, "kaven-bench-al", static_cast<int>(state.range(0)), false);
}
BENCHMARK(BM_AlWholeRun)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// state.range(0): atoms.
void BM_LargeCellWholeRun(benchmark::State& state) {
  const std::string text = large_cell_input(static_cast<int>(state.range(0)));
  run_benchmark(state, text, "kaven-bench-large-cell", 0, false);
}
BENCHMARK(BM_LargeCellWholeRun)->Arg(2000)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// The console report, remembering each benchmark's wall time per iteration.
class Reporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred && r.iterations > 0)
        seconds[r.benchmark_name()] = r.real_accumulated_time / static_cast<double>(r.iterations);
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::string write_to;
  int atoms = 2000;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--write-input=", 14) == 0) write_to = argv[i] + 14;
    if (std::strncmp(argv[i], "--atoms=", 8) == 0) atoms = std::atoi(argv[i] + 8);
  }
  if (!write_to.empty()) {
    std::ofstream(write_to) << large_cell_input(atoms);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto fast = reporter.seconds.find("BM_YigWholeRun/0/real_time");
  const auto plain = reporter.seconds.find("BM_YigWholeRun/-1/real_time");
  if (fast != reporter.seconds.end() && plain != reporter.seconds.end() && fast->second > 0)
    std::printf("YIG whole run: %.3f s on all cores, %.3f s plain and serial: %.1f times faster\n",
                fast->second, plain->second, plain->second / fast->second);
  return 0;
}
