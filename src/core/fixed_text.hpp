// Fixed-length texts of the run: the 80-character title and the 72-character file
// names are blank-padded buffers, and a chemical symbol is a 4-character field.
// Shared by the reader, the tables and the listing writers (report/record_format.hpp).
#pragma once
#include <algorithm>
#include <string>
#include <string_view>

namespace kaven::rec {

// Text padded with blanks (or cut) to exactly n characters, left-justified.
inline std::string pad(std::string_view s, std::size_t n) {
  std::string r(s.substr(0, std::min(n, s.size())));
  r.resize(n, ' ');
  return r;
}

// Text without its trailing blanks.
inline std::string_view rtrim(std::string_view s) {
  std::size_t e = s.find_last_not_of(' ');
  return e == std::string_view::npos ? std::string_view() : s.substr(0, e + 1);
}

}  // namespace kaven::rec
