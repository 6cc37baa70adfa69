// The event search of the YIG example (Ag K-alpha1, 8 8 2, 413 488 crossings in a full
// turn): the cached search on all cores and on one, against the plain serial search
// that computes every structure factor afresh. The first-pass figure of the cached
// search includes filling the cache; the second pass meets the same reflections again.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "crystal/centring.hpp"
#include "crystal/geometry.hpp"
#include "crystal/space_group.hpp"
#include "input/free_format.hpp"
#include "input/input_reader.hpp"
#include "scattering/sphere_tables.hpp"
#include "scattering/structure_factor.hpp"
#include "simulation/event_intensity.hpp"
#include "simulation/event_search.hpp"
#include "simulation/reference_direction.hpp"
#include "shell/run_driver.hpp"
#include "yig_setup.hpp"

namespace {

using namespace kaven;

EventSearchOptions options(int threads) {
  EventSearchOptions o;
  o.threads = threads;
  return o;
}

// The run record of the YIG example as the driver sets it up for the passes.
struct Yig {
  RunParameters par;
  ExtinctionTable ext = xtab1();
  WavelengthPass pass[2];
  Yig() {
    const std::vector<WavelengthPass> passes = bench::set_up_for_passes(par, bench::yig_text());
    pass[0] = passes.at(0);
    pass[1] = passes.at(1);
  }
  PrimaryPass primary(int n) {
    par.alam = pass[n].lambda;
    par.dlam = pass[n].dlam;
    return primary_pass(par, ext, pass[n]);
  }
};

Yig& yig() {
  static Yig y;
  return y;
}

// Both passes with one cache, as a run does them; state.range(0) threads (0: all cores).
void BM_SearchCachedBothPasses(benchmark::State& state) {
  Yig& y = yig();
  const int threads = static_cast<int>(state.range(0));
  long crossings = 0;
  for (auto _ : state) {
    const std::array<int, 3> lim = index_limits(y.par, std::min(y.pass[0].lambda, y.pass[1].lambda));
    ReflectionCache cache(y.par, lim[0], lim[1], lim[2]);
    for (int n = 0; n < 2; ++n) {
      const PrimaryPass pp = y.primary(n);
      EventPassResult r = search_events(y.par, pp, cache, n == 0, options(threads));
      crossings += r.full_turn;
      benchmark::DoNotOptimize(r);
    }
  }
  state.counters["crossings/s"] =
      benchmark::Counter(static_cast<double>(crossings), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SearchCachedBothPasses)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SearchPlainBothPasses(benchmark::State& state) {
  Yig& y = yig();
  long crossings = 0;
  for (auto _ : state) {
    for (int n = 0; n < 2; ++n) {
      const PrimaryPass pp = y.primary(n);
      EventPassResult r = search_events_plain(y.par, pp, n == 0);
      crossings += r.full_turn;
      benchmark::DoNotOptimize(r);
    }
  }
  state.counters["crossings/s"] =
      benchmark::Counter(static_cast<double>(crossings), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SearchPlainBothPasses)->Unit(benchmark::kMillisecond)->UseRealTime();

// One pass, the first: the cached figure includes filling the cache.
void BM_SearchFirstPass(benchmark::State& state) {
  Yig& y = yig();
  const int threads = static_cast<int>(state.range(0));  // -1: the plain search
  const PrimaryPass pp = y.primary(0);
  for (auto _ : state) {
    if (threads < 0) {
      benchmark::DoNotOptimize(search_events_plain(y.par, pp, true));
    } else {
      const std::array<int, 3> lim = index_limits(y.par, y.pass[0].lambda);
      ReflectionCache cache(y.par, lim[0], lim[1], lim[2]);
      benchmark::DoNotOptimize(search_events(y.par, pp, cache, true, options(threads)));
    }
  }
}
BENCHMARK(BM_SearchFirstPass)->Arg(0)->Arg(1)->Arg(-1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
