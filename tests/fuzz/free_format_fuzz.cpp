// Free-format and fixed-column reads of any text. The first byte chooses the item list
// (1 to 16 items, integers and reals, read as one list in two parts), the rest is the
// file; what follows the list is read line by line in fixed columns. Every real taken
// must be a number of single precision.
#include <cmath>
#include <span>
#include <vector>

#include "tests/fuzz/fuzz_run.hpp"

using namespace kaven;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const unsigned pattern = data[0];
  std::istringstream is(kaven_fuzz::text_of(data + 1, size - 1));
  LineSource src(is);

  const std::size_t n = 1 + pattern % 16;
  std::vector<float> reals(n, 0.0f);
  std::vector<int> ints(n, 0);
  std::vector<FreeItem> items;
  for (std::size_t i = 0; i < n; ++i)
    items.push_back((pattern >> (i % 8)) & 1 ? FreeItem(&ints[i]) : FreeItem(&reals[i]));
  FreeRead list(src);
  const std::size_t head = (pattern >> 4) % (n + 1);
  const std::span<const FreeItem> all(items);
  if (list.read(all.first(head)) == 0) list.read(all.subspan(head));
  for (float v : reals)
    if (!std::isfinite(v)) __builtin_trap();

  std::string line;
  bool cut = false;
  for (int l = 0; l < 64 && read_text(src, 80, line, &cut) == 0; ++l)
    for (std::size_t c = 0; c + 10 <= line.size(); c += 10) {
      const std::string_view field = std::string_view(line).substr(c, 10);
      float v = 0;
      int k = 0;
      if (parse_fixed_real(field, static_cast<int>(c / 10 % 5), v) == 0 && !std::isfinite(v))
        __builtin_trap();
      parse_fixed_integer(field, k);
    }
  return 0;
}
