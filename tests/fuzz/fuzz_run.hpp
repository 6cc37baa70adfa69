// What the fuzz targets share: the reader phases of a run on an input text, without a
// file of its own (the plot and scan-file names are read, never opened), and a listing
// that formats every record and keeps none.
#pragma once
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>

#include "core/run_stop.hpp"
#include "input/free_format.hpp"
#include "input/input_reader.hpp"
#include "report/input_echo.hpp"
#include "shell/run_context.hpp"
#include "shell/run_driver.hpp"
#include "simulation/run_result.hpp"

namespace kaven_fuzz {

// A stream that takes every character and keeps none.
class NullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

struct NullStream : std::ostream {
  NullStream() : std::ostream(&buffer) {}
  NullBuffer buffer;
};

inline std::string text_of(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

inline std::string file_text(const std::string& path) {
  std::ifstream is(path, std::ios::binary);
  std::stringstream ss;
  ss << is.rdbuf();
  return ss.str();
}

// One run's input text through lines 1 to 12 and the crystal set-up (geometry, primary
// structure factor, crystal-data listing, absorption), as the driver performs them.
struct InputRun {
  explicit InputRun(const std::string& text) : in(text), src(in) {}
  InputRun(const InputRun&) = delete;
  InputRun& operator=(const InputRun&) = delete;

  std::istringstream in;
  kaven::LineSource src;  // after the set-up: the lines that follow line 12
  kaven::RunParameters par;
  kaven::RunResult result;
  NullStream listing;
  std::optional<kaven::RunStopped> stop;  // the stop of a check, when one ended the run

  bool read_and_set_up() {
    kaven::RunContext run(par, listing);
    try {
      kaven::read_title(par, src);
      kaven::list_title(run.out, par.title);
      kaven::read_plot_name(par, src);
      kaven::read_crystal(run, src);
      kaven::read_primary_and_optional(par, src);
      if (par.ub_read) kaven::list_orientation_matrix(run.out, par.ub);
      result.measured.present = par.scan_present;
      kaven::set_up_crystal(run, result);
    } catch (const kaven::RunStopped& s) {
      stop = s;
      return false;
    }
    return true;
  }
};

}  // namespace kaven_fuzz
