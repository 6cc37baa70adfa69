// The run record of the YIG example (examples/yig/yig-sim.inp: Ia-3d, Ag K-alpha1 and
// K-alpha2, 8 8 2) as the driver sets it up before its wavelength passes, for the
// benchmarks of single stages.
#pragma once
#include <array>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "input/free_format.hpp"
#include "input/input_reader.hpp"
#include "shell/run_driver.hpp"
#include "simulation/event_intensity.hpp"
#include "simulation/reference_direction.hpp"

namespace kaven::bench {

// The example's text; drumin, when given, replaces line 6 with that threshold.
inline std::string yig_text(const char* drumin = nullptr) {
  std::ifstream in(std::string(KAVEN_SOURCE_DIR) + "/examples/yig/yig-sim.inp");
  if (!in) throw std::runtime_error("no YIG example");
  std::ostringstream text;
  std::string line;
  for (int n = 0; std::getline(in, line); ++n)
    text << (n == 5 && drumin ? std::string("-66.   16. 50  0  ") + drumin + " 0." : line) << '\n';
  return text.str();
}

// Reads the input into par and sets the crystal up as the driver does; returns the
// wavelength passes.
inline std::vector<WavelengthPass> set_up_for_passes(RunParameters& par, const std::string& text) {
  std::istringstream input(text);
  std::ostringstream sink;
  RunContext run(par, sink);
  LineSource src(input);
  read_title(par, src);
  read_plot_name(par, src);
  read_crystal(run, src);
  read_primary_and_optional(par, src);
  RunResult scratch;
  set_up_crystal(run, scratch);
  const std::array<float, 3> r = reference_direction(par);
  par.psid = upsi(par, r[0], r[1], r[2]);
  return wavelength_passes(par);
}

}  // namespace kaven::bench
