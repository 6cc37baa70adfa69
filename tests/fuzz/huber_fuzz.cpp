// HUBER-HASYLAB output, read against silicon with synchrotron radiation (10 steps per
// degree). The input lines after the scan-file name (reference reflections, counting
// corrections) come first, ended by a line "@@@"; the rest is the scan file (without
// such a line, all of it is the scan file and the input ends at line 12).
#include "tests/fuzz/scan_context.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kaven_fuzz::ScanContext si("examples/si/si222-scan.inp", "176. 179. 10. 8  1. 0.");
  const std::string text = kaven_fuzz::text_of(data, size);
  const std::size_t split = text.find("@@@\n");
  std::istringstream input(split == std::string::npos ? std::string() : text.substr(0, split));
  std::istringstream file(split == std::string::npos ? text : text.substr(split + 4));
  kaven::LineSource rest(input);
  kaven::MeasuredScan scan = si.fresh_scan();
  const kaven::ReferenceList refs = kaven::read_reference_list(rest, kaven::CountingCorrections{});
  kaven::hasyl4(file, refs, si.reader(), scan);
  si.use(scan);
  return 0;
}
