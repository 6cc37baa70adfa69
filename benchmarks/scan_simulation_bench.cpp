// The scan stage of the YIG example (8 8 2, Ag K-alpha1 and K-alpha2, 4101 steps)
// with drumin 0.05, beside that run's event search in the same program: the search
// of both passes as the run does it (one cache, all cores), and the simulation of the
// scan from the crossings it handed over, on all cores and on one, and the plain
// evaluation it is checked against. And the scan of Si 2 2 2 over a full turn at 1000
// steps per degree with the interference term (example_inputs.hpp): 360 001 steps and
// about 1600 crossings, each reaching every step; its plain evaluation takes seconds
// and runs once.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "input/free_format.hpp"
#include "input/input_reader.hpp"
#include "scattering/sphere_tables.hpp"
#include "shell/run_driver.hpp"
#include "example_inputs.hpp"
#include "yig_setup.hpp"
#include "simulation/event_intensity.hpp"
#include "simulation/event_search.hpp"
#include "simulation/reference_direction.hpp"
#include "simulation/scan_simulation.hpp"

namespace {

using namespace kaven;

// A run set up and searched: its crossings and I-prim, for the scan.
struct Searched {
  RunParameters par;
  ExtinctionTable ext = xtab1();
  std::vector<WavelengthPass> passes;
  std::vector<ScanCrossing> crossings;
  float iprim = 0;

  explicit Searched(const std::string& text) {
    passes = bench::set_up_for_passes(par, text);
    search(0);
  }

  PrimaryPass primary(std::size_t n) {
    par.alam = passes[n].lambda;
    par.dlam = passes[n].dlam;
    return primary_pass(par, ext, passes[n]);
  }

  // The passes with one cache, as the run does them; keeps the crossings and I-prim.
  long search(int threads) {
    float shortest = passes[0].lambda;
    for (const WavelengthPass& p : passes) shortest = std::min(shortest, p.lambda);
    const std::array<int, 3> lim = index_limits(par, shortest);
    ReflectionCache cache(par, lim[0], lim[1], lim[2]);
    crossings.clear();
    double sum = 0;
    long full_turn = 0;
    for (std::size_t n = 0; n < passes.size(); ++n) {
      const PrimaryPass pp = primary(n);
      EventSearchOptions o;
      o.threads = threads;
      EventPassResult r = search_events(par, pp, cache, n == 0, o);
      crossings.insert(crossings.end(), r.scan.begin(), r.scan.end());
      sum += static_cast<float>(pp.iprim);
      full_turn += r.full_turn;
    }
    iprim = static_cast<float>(sum);
    return full_turn;
  }
};

// The YIG example with line 6 asking for every crossing above 0.01 * 0.05 cps.
Searched& yig() {
  static Searched y(bench::yig_text("0.05"));
  return y;
}

Searched& si_full_turn() {
  static Searched s(bench::si_full_turn_text());
  return s;
}

void scan_counters(benchmark::State& state, const Searched& s) {
  state.counters["crossings"] = static_cast<double>(s.crossings.size());
  state.counters["steps"] = s.par.nstep + 1;
  state.counters["evaluations/s"] = benchmark::Counter(
      static_cast<double>(s.crossings.size()) * (s.par.nstep + 1) * double(state.iterations()),
      benchmark::Counter::kIsRate);
}

void BM_EventSearchOfTheRun(benchmark::State& state) {
  Searched& y = yig();
  for (auto _ : state) benchmark::DoNotOptimize(y.search(0));
  state.counters["crossings"] = static_cast<double>(y.crossings.size());
}
BENCHMARK(BM_EventSearchOfTheRun)->Unit(benchmark::kMillisecond)->UseRealTime();

// state.range(0) threads (0: all cores).
void BM_ScanSimulation(benchmark::State& state) {
  Searched& y = yig();
  ScanOptions o;
  o.threads = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(simulate_scan(y.par, y.crossings, y.iprim, o));
  scan_counters(state, y);
}
BENCHMARK(BM_ScanSimulation)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanSimulationPlain(benchmark::State& state) {
  Searched& y = yig();
  for (auto _ : state) benchmark::DoNotOptimize(simulate_scan_plain(y.par, y.crossings, y.iprim));
}
BENCHMARK(BM_ScanSimulationPlain)->Unit(benchmark::kMillisecond)->UseRealTime();


// state.range(0) threads (0: all cores). "evaluations/s": crossings times steps over the
// time, what the plain sum evaluates.
void BM_ScanSimulationSiFullTurn(benchmark::State& state) {
  Searched& s = si_full_turn();
  ScanOptions o;
  o.threads = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(simulate_scan(s.par, s.crossings, s.iprim, o));
  scan_counters(state, s);
}
BENCHMARK(BM_ScanSimulationSiFullTurn)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanSimulationSiFullTurnPlain(benchmark::State& state) {
  Searched& s = si_full_turn();
  for (auto _ : state) benchmark::DoNotOptimize(simulate_scan_plain(s.par, s.crossings, s.iprim));
  scan_counters(state, s);
}
BENCHMARK(BM_ScanSimulationSiFullTurnPlain)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
