// The "obs" list of measured values, read with the rules of a tube (six values a line,
// YIG at 1 step per degree) and of a synchrotron (seven, silicon at 10): few steps,
// so that a run is fast.
#include "tests/fuzz/scan_context.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kaven_fuzz::ScanContext tube("examples/yig/yig-obs.inp", "-66.   16. 1  0  1. 0.");
  static kaven_fuzz::ScanContext synchrotron("examples/si/si222-scan.inp", "176. 179. 10. 8  1. 0.");
  const std::string text = kaven_fuzz::text_of(data, size);
  for (kaven_fuzz::ScanContext* c : {&tube, &synchrotron}) {
    std::istringstream file(text);
    kaven::MeasuredScan scan = c->fresh_scan();
    kaven::read_obs_list(file, c->reader(), scan);
    c->use(scan);
  }
  return 0;
}
