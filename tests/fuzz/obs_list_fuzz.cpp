// The "obs" list of measured values, read with the rules of a tube (six values a line,
// YIG) and of a synchrotron (seven, silicon).
#include "tests/fuzz/scan_context.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kaven_fuzz::ScanContext tube("examples/yig/yig-obs.inp");
  static kaven_fuzz::ScanContext synchrotron("examples/si/si222-scan.inp");
  const std::string text = kaven_fuzz::text_of(data, size);
  for (kaven_fuzz::ScanContext* c : {&tube, &synchrotron}) {
    std::istringstream file(text);
    kaven::MeasuredScan scan = c->fresh_scan();
    kaven::read_obs_list(file, c->reader(), scan);
    c->use(scan);
  }
  return 0;
}
