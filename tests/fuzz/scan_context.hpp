// The crystal a measured scan is read against, set up once from an example input, and
// what a run does with a scan after reading it: the reference table, the scale factor,
// the reduction of the measured primary intensity, its comparison with a calculated
// scan (a ramp), the summary and the plot page with both scans (written nowhere).
#pragma once
#include <cstdlib>
#include <memory>

#include "plot/postscript_plotter.hpp"
#include "plot/recording_plotter.hpp"
#include "plot/scan_page.hpp"
#include "plot/svg_plotter.hpp"
#include "report/run_summary.hpp"
#include "report/scan_file_listing.hpp"
#include "scans/scan_readers.hpp"
#include "scattering/structure_factor.hpp"
#include "simulation/scale_factor.hpp"
#include "tests/fuzz/fuzz_run.hpp"

namespace kaven_fuzz {

class ScanContext {
 public:
  // `example`: an input file of the repository, relative to its root; `line6`, when
  // given, replaces its sixth line (the psi range and the steps per degree: the search
  // for the psi shift of the scan takes steps per degree times steps).
  explicit ScanContext(const char* example, const char* line6 = nullptr)
      : run_(with_line6(file_text(std::string(KAVEN_SOURCE_DIR) + "/" + example), line6)),
        extinction_(kaven::xtab1()) {
    if (!run_.read_and_set_up()) std::abort();
    calc_ = std::make_unique<kaven::StructureFactorCalculator>(run_.par);
    const auto n = static_cast<std::size_t>(run_.par.nstep) + 1;
    for (std::size_t i = 0; i < n; ++i) ramp_.intensity.push_back(100.0f + float(i % 50));
    ramp_.min = 100.0f, ramp_.max = 149.0f;
    ramp_.iprim_total = 120.0f;
    ramp_.entered = 1;
  }

  const kaven::RunParameters& par() const { return run_.par; }
  kaven::ScanReaderContext reader() {
    return {run_.par, extinction_,
            [this](int h, int k, int l, float s) { return (*calc_)(h, k, l, s).fmod; }};
  }
  // An empty step grid, as the driver hands it to a reader.
  kaven::MeasuredScan fresh_scan() const {
    kaven::MeasuredScan s;
    s.present = true;
    s.intensity.assign(static_cast<std::size_t>(run_.par.nstep) + 1, kaven::kNoMeasurement);
    s.minimum = 1.0e6f;
    return s;
  }
  // What the run does with the scan it read.
  void use(kaven::MeasuredScan& scan) {
    if (scan.minimum < 0) scan.minimum = 0;
    kaven::Listing out(run_.listing);
    kaven::list_reference_table(out, scan);
    const kaven::ScaleFactor scale = kaven::scale_factor(run_.par, scan, true);
    kaven::list_scale_section(out, run_.par, scale);
    if (!scan.present) return;
    kaven::RunResult r;
    r.measured = scan;
    r.profile = ramp_;
    r.reduction = kaven::reduce_measured_scan(run_.par, scan);
    r.deviation = kaven::find_deviation(run_.par, scan, r.reduction, ramp_);
    kaven::list_measured_summary(out, r.reduction, r.deviation);
    NullStream ps_file, svg_file;
    kaven::PostScriptPlotter postscript(ps_file, &out);
    kaven::SvgPlotter svg(svg_file);
    kaven::PlotterPair both(postscript, svg);
    kaven::uplot(both, run_.par, r, kaven::Zeit::Now{9, 9, 2001, 1, 46, 40, 0});
  }

 private:
  static std::string with_line6(std::string text, const char* line6) {
    if (!line6) return text;
    std::size_t b = 0;
    for (int i = 0; i < 5; ++i) b = text.find('\n', b) + 1;
    return text.replace(b, text.find('\n', b) - b, line6);
  }

  InputRun run_;
  kaven::ExtinctionTable extinction_;
  std::unique_ptr<kaven::StructureFactorCalculator> calc_;
  kaven::ScanProfile ramp_;
};

}  // namespace kaven_fuzz
