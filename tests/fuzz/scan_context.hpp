// The crystal a measured scan is read against, set up once from an example input, and
// what a run does with a scan after reading it: the reference table, the scale factor,
// the reduction of the measured primary intensity and its comparison with a flat scan.
#pragma once
#include <cstdlib>
#include <memory>

#include "report/run_summary.hpp"
#include "report/scan_file_listing.hpp"
#include "scans/scan_readers.hpp"
#include "scattering/structure_factor.hpp"
#include "simulation/scale_factor.hpp"
#include "tests/fuzz/fuzz_run.hpp"

namespace kaven_fuzz {

class ScanContext {
 public:
  // `example`: an input file of the repository, relative to its root.
  explicit ScanContext(const char* example)
      : run_(file_text(std::string(KAVEN_SOURCE_DIR) + "/" + example)),
        extinction_(kaven::xtab1()) {
    if (!run_.read_and_set_up()) std::abort();
    calc_ = std::make_unique<kaven::StructureFactorCalculator>(run_.par);
    flat_.intensity.assign(static_cast<std::size_t>(run_.par.nstep) + 1, 100.0f);
    flat_.max = 100.0f, flat_.min = 100.0f;
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
    const kaven::ScanReduction red = kaven::reduce_measured_scan(run_.par, scan);
    const kaven::Deviation dev = kaven::find_deviation(run_.par, scan, red, flat_);
    kaven::list_measured_summary(out, red, dev);
  }

 private:
  InputRun run_;
  kaven::ExtinctionTable extinction_;
  std::unique_ptr<kaven::StructureFactorCalculator> calc_;
  kaven::ScanProfile flat_;
};

}  // namespace kaven_fuzz
