// Energy maps and energy scans (kaven --energy-map, --energy-scan) of the two synchrotron
// inputs of the examples, over a full turn of psi:
//
// - silicon 2 2 2 (examples/si/si222.inp with psi 0..360): 1001 energies from 7.5 to
//   8.5 keV (target: at most 1 s wall on two cores);
// - YIG 8 8 2 (examples/yig/yig-syn.inp): 51 energies from 17.0 to 17.5 keV, across the
//   yttrium K edge (target: at most 5 s wall and 1 GB on two cores).
//
// "values": the plan (the energy-independent work) and the map kept as values;
// "files": the same with the table and the page written (to a scratch folder), as the
// command line does after its run. The energy scan at one psi, over the same grids.
// Counters: the reflections of the largest sphere, the orbit sums and the per-atom sums
// formed, the storage of the plan (bytes) and the process's peak resident size (bytes).
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "planning/energy_map.hpp"
#include "shell/energy_plan_command.hpp"

namespace {

namespace fs = std::filesystem;

std::string example(const std::string& rel, int psi_line = -1, const std::string& psi = "") {
  std::ifstream in(std::string(KAVEN_SOURCE_DIR) + "/examples/" + rel);
  if (!in) throw std::runtime_error("no example " + rel);
  std::ostringstream text;
  std::string line;
  for (int n = 0; std::getline(in, line); ++n) text << (n == psi_line ? psi : line) << '\n';
  return text.str();
}

kaven::EnergyCrystal crystal_of(const std::string& text) {
  std::istringstream in(text);
  return kaven::read_energy_crystal(in);
}

// Silicon 2 2 2 over the full turn (line 6: psi 0 to 360).
const kaven::EnergyCrystal& silicon() {
  static const kaven::EnergyCrystal c = crystal_of(example("si/si222.inp", 5, "0. 360. 1000. 8  1. 0."));
  return c;
}
const kaven::EnergyCrystal& yig() {
  static const kaven::EnergyCrystal c = crystal_of(example("yig/yig-syn.inp"));
  return c;
}

double peak_rss_bytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_maxrss) * 1024.0;
}

void counters(benchmark::State& state, const kaven::EnergyPlan& plan, long rows) {
  state.counters["reflections"] = double(plan.sums().candidates().size());
  state.counters["orbit_sums"] = double(plan.sums().orbit_sums());
  state.counters["atom_sums"] = double(plan.sums().atom_sum_count());
  state.counters["plan_bytes"] = double(plan.sums().bytes());
  state.counters["events"] = double(rows);
  state.counters["peak_rss"] = peak_rss_bytes();
}

void map_values(benchmark::State& state, const kaven::EnergyCrystal& crystal, kaven::EnergyGrid grid) {
  kaven::EnergyMapOptions opt;
  opt.threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const kaven::EnergyPlan plan(crystal, grid.e2_kev, opt.threads);
    long rows = 0;
    kaven::energy_map(plan, grid, opt, [&](kaven::EnergyPoint&& p) { rows += long(p.pass.events.size()); });
    state.PauseTiming();
    counters(state, plan, rows);
    state.ResumeTiming();
  }
}

void map_files(benchmark::State& state, const kaven::EnergyCrystal& crystal, kaven::EnergyGrid grid) {
  const fs::path dir = fs::temp_directory_path() / "kaven-energy-map-bench";
  fs::create_directories(dir);
  const kaven::EnergyPlanPaths paths = kaven::energy_plan_paths(dir / "map.out");
  kaven::EnergyPlanRequest req;
  req.map = grid;
  req.threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const kaven::EnergyPlanOutcome out = kaven::run_energy_plans(crystal, req, paths);
    if (!out.ok) state.SkipWithError("the map was not written");
  }
  fs::remove_all(dir);
}

void scan_values(benchmark::State& state, const kaven::EnergyCrystal& crystal, kaven::EnergyGrid grid,
                 float psi) {
  kaven::EnergyMapOptions opt;
  opt.threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const kaven::EnergyPlan plan(crystal, grid.e2_kev, opt.threads);
    benchmark::DoNotOptimize(kaven::energy_scan(plan, grid, psi, opt));
  }
}

const kaven::EnergyGrid kSiGrid{7.5, 8.5, 1001};
const kaven::EnergyGrid kYigGrid{17.0, 17.5, 51};

void BM_EnergyMapSilicon(benchmark::State& s) { map_values(s, silicon(), kSiGrid); }
void BM_EnergyMapSiliconFiles(benchmark::State& s) { map_files(s, silicon(), kSiGrid); }
void BM_EnergyMapYig(benchmark::State& s) { map_values(s, yig(), kYigGrid); }
void BM_EnergyMapYigFiles(benchmark::State& s) { map_files(s, yig(), kYigGrid); }
void BM_EnergyScanSilicon(benchmark::State& s) { scan_values(s, silicon(), kSiGrid, 177.5f); }
void BM_EnergyScanYig(benchmark::State& s) { scan_values(s, yig(), kYigGrid, 66.0f); }

}  // namespace

// The argument is the number of threads.
BENCHMARK(BM_EnergyMapSilicon)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EnergyMapSiliconFiles)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EnergyMapYig)->Arg(2)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EnergyMapYigFiles)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EnergyScanSilicon)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EnergyScanYig)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
