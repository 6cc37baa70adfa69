// Inputs of the benchmarks beside the YIG example (yig_setup.hpp):
// - Si 2 2 2 at the synchrotron over a full turn at 1000 steps per degree with the
//   interference term (examples/si/si222.inp with line 6 "0. 360. 1000. 8 1. 0."), as
//   measured at a beamline: 360 001 steps and about 1600 crossings, whose far Lorentzian
//   sides reach every step;
// - Al 0 0 2 with Cu K-alpha from a small CIF (benchmarks/data/al.cif, converted as
//   `kaven --from-cif al.cif --hkl 0 0 2 --radiation Cu` converts it): a full turn at
//   50 steps per degree, where writing the files is most of the work.
#pragma once
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "cif/cif_structure.hpp"
#include "cif/input_from_cif.hpp"
#include "input/input_writer.hpp"

namespace kaven::bench {

inline std::string si_full_turn_text() {
  std::ifstream in(std::string(KAVEN_SOURCE_DIR) + "/examples/si/si222.inp");
  if (!in) throw std::runtime_error("no Si example");
  std::ostringstream text;
  std::string line;
  for (int n = 0; std::getline(in, line); ++n) text << (n == 5 ? "0. 360. 1000. 8  1. 0." : line) << '\n';
  return text.str();
}

inline std::string al_text() {
  CifRunOptions o;
  o.hkl = {0, 0, 2};
  o.tube = "Cu";
  o.plot_file = "al002.ps";
  o.cif_name = "al.cif";
  const CifConversion c =
      input_from_cif(read_cif_structure(std::string(KAVEN_SOURCE_DIR) + "/benchmarks/data/al.cif"), o);
  return input_file_text(c.deck);
}

}  // namespace kaven::bench
