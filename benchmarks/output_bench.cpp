// Writing the files of a run, apart from computing it: the calculated-scan file and the
// plot page (PostScript and SVG at once) of Si 2 2 2 over a full turn at 1000 steps per
// degree (example_inputs.hpp: 360 001 records of the scan file, a curve of as many
// points on both pages, the psi-lambda curves of the listed events), formatted into a
// stream that keeps nothing. The counter gives the bytes formatted per second.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "plot/postscript_plotter.hpp"
#include "plot/recording_plotter.hpp"
#include "plot/scan_page.hpp"
#include "plot/svg_plotter.hpp"
#include "report/listing.hpp"
#include "report/run_summary.hpp"
#include "shell/run_driver.hpp"
#include "example_inputs.hpp"

namespace {

namespace fs = std::filesystem;

// Counts what is written and keeps nothing.
class CountingBuffer : public std::streambuf {
 public:
  std::size_t bytes = 0;

 protected:
  int_type overflow(int_type c) override {
    ++bytes;
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char*, std::streamsize n) override {
    bytes += static_cast<std::size_t>(n);
    return n;
  }
};

struct FinishedRun {
  kaven::RunParameters par;
  kaven::RunOutcome outcome;
  FinishedRun() {
    const fs::path dir = fs::temp_directory_path() / "kaven-bench-output";
    fs::create_directories(dir);
    std::istringstream input(kaven::bench::si_full_turn_text());
    std::ostringstream listing;
    kaven::RunNames names;
    kaven::RunFiles files;
    kaven::RunEnvironment env;
    env.base_dir = dir;
    outcome = kaven::kaven(par, names, files, input, listing, env);
    fs::remove_all(dir);
  }
};

const FinishedRun& si_full_turn() {
  static const FinishedRun run;
  return run;
}

void BM_CalculatedScanFile(benchmark::State& state) {
  const FinishedRun& r = si_full_turn();
  CountingBuffer counted;
  std::ostream os(&counted);
  for (auto _ : state) kaven::write_calculated_scan(os, r.par, r.outcome.result.profile);
  state.counters["bytes/s"] = benchmark::Counter(double(counted.bytes), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CalculatedScanFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlotPage(benchmark::State& state) {
  const FinishedRun& r = si_full_turn();
  CountingBuffer counted, listed;
  std::ostream ps_file(&counted), svg_file(&counted), listing_file(&listed);
  kaven::Listing messages(listing_file);
  for (auto _ : state) {
    kaven::PostScriptPlotter postscript(ps_file, &messages);
    kaven::SvgPlotter svg(svg_file);
    kaven::PlotterPair both(postscript, svg);
    kaven::uplot(both, r.par, r.outcome.result, kaven::Zeit::Now{9, 9, 2001, 1, 46, 40, 0});
  }
  state.counters["bytes/s"] = benchmark::Counter(double(counted.bytes), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlotPage)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
