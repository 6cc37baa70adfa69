// A CIF turned into an input file (copper radiation, primary 1 1 1), and that input
// file read back by the run's reader: what the conversion writes must never be a line
// the reader cannot read.
#include "cif/cif_structure.hpp"
#include "cif/input_from_cif.hpp"
#include "tests/fuzz/fuzz_run.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kaven::CifStructure cif;
  try {
    cif = kaven::cif_structure_from_text(kaven_fuzz::text_of(data, size));
  } catch (const kaven::CifError&) {
    return 0;
  }
  kaven::CifRunOptions o;
  o.hkl = {1, 1, 1};
  o.tube = "Cu";
  o.plot_file = "fuzz.ps";
  o.cif_name = "fuzz.cif";
  kaven::CifConversion conv;
  try {
    conv = kaven::input_from_cif(cif, o);
  } catch (const kaven::CifError&) {
    return 0;
  }
  kaven_fuzz::InputRun r(kaven::input_file_text(conv.deck));
  if (!r.read_and_set_up() && r.stop->status) __builtin_trap();  // a read error
  return 0;
}
