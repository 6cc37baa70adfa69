// Whole input files: lines 1 to 12 and the crystal set-up as a run performs them, then
// the scale factor and the reference direction; a run whose search and scan are small
// goes on through the wavelength passes, the event listing, the simulated scan, its
// summaries and file, and the plot (PostScript and SVG, written nowhere). The plot and
// scan-file names are read but never opened. A check that ends the run must say why.
#include <algorithm>
#include <array>

#include "core/constants.hpp"
#include "plot/postscript_plotter.hpp"
#include "plot/recording_plotter.hpp"
#include "plot/scan_page.hpp"
#include "plot/svg_plotter.hpp"
#include "report/event_listing.hpp"
#include "report/run_summary.hpp"
#include "simulation/event_intensity.hpp"
#include "simulation/event_search.hpp"
#include "simulation/reference_direction.hpp"
#include "simulation/scale_factor.hpp"
#include "simulation/scan_simulation.hpp"
#include "tests/fuzz/fuzz_run.hpp"

using namespace kaven;

namespace {

// The search and the scan a fuzzed run may take on: a few thousand index points, a
// thousand steps, a small structure-factor sum (a run of a few milliseconds).
bool small_run(const RunParameters& par) {
  const double shortest = par.isyn == 0 ? std::min(par.alam1, par.alam2) : par.alam1;
  const std::array<int, 3> lim = index_limits(par, shortest);
  const double box = (2.0 * lim[0] + 1) * (2.0 * lim[1] + 1) * (2.0 * lim[2] + 1);
  return box <= 4000 && par.nstep <= 1000 && par.atoms.size() * par.ops.size() <= 400;
}

void passes_scan_and_plot(kaven_fuzz::InputRun& r, const ExtinctionTable& extinction) {
  RunParameters& par = r.par;
  RunResult& result = r.result;
  Listing out(r.listing);
  const ScaleFactor scale = scale_factor(par, result.measured, false);
  par.i0 = scale.i0;
  list_scale_section(out, par, scale);
  result.reference = reference_direction(par);
  if (par.ub_read) par.psid = upsi(par, result.reference[0], result.reference[1], result.reference[2]);
  if (!small_run(par)) return;

  const std::vector<WavelengthPass> passes = wavelength_passes(par);
  const double shortest = par.isyn == 0 ? std::min(par.alam1, par.alam2) : par.alam1;
  const std::array<int, 3> lim = index_limits(par, shortest);
  ReflectionCache cache(par, lim[0], lim[1], lim[2]);
  EventSearchOptions opt;
  opt.threads = 1;
  double iprim = 0;
  for (std::size_t n = 0; n < passes.size(); ++n) {
    par.alam = passes[n].lambda;
    par.dlam = passes[n].dlam;
    PassRecord rec{passes[n], primary_pass(par, extinction, passes[n]), {}};
    rec.events = search_events(par, rec.primary, cache, n == 0, opt);
    if (rec.events.events.size() > 600) return;  // the run stops here
    list_event_pass(out, par, rec.pass, rec.primary, rec.events, result.reference, {});
    result.crossings.insert(result.crossings.end(), rec.events.scan.begin(), rec.events.scan.end());
    iprim += static_cast<float>(rec.primary.iprim);
    result.passes.push_back(std::move(rec));
  }
  ScanOptions sopt;
  sopt.threads = 1;
  result.profile = simulate_scan(par, result.crossings, static_cast<float>(iprim), sopt);
  if (par.zsw1 > 0) list_calculated_summary(out, result.profile);
  list_scan_settings(out, par);
  write_calculated_scan(r.listing, par, result.profile);
  list_event_count(out, par, result.profile);
  if (!plottable(result.profile)) return;
  kaven_fuzz::NullStream ps_file, svg_file;
  PostScriptPlotter postscript(ps_file, &out);
  SvgPlotter svg(svg_file);
  PlotterPair both(postscript, svg);
  uplot(both, par, result, Zeit::Now{9, 9, 2001, 1, 46, 40, 0});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ExtinctionTable extinction = xtab1();
  kaven_fuzz::InputRun r(kaven_fuzz::text_of(data, size));
  if (!r.read_and_set_up()) {
    if (r.stop->records.empty()) __builtin_trap();  // a stop without a message
    return 0;
  }
  try {
    passes_scan_and_plot(r, extinction);
  } catch (const RunStopped& stop) {
    if (stop.records.empty()) __builtin_trap();
  }
  return 0;
}
