// CAD4 output, read against the YIG crystal with silver radiation (1 step per degree: a fast run).
#include "tests/fuzz/scan_context.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kaven_fuzz::ScanContext yig("examples/yig/yig-obs.inp", "-66.   16. 1  0  1. 0.");
  std::istringstream file(kaven_fuzz::text_of(data, size));
  kaven::MeasuredScan scan = yig.fresh_scan();
  kaven::cad4(file, yig.reader(), scan);
  yig.use(scan);
  return 0;
}
