// A CIF turned into an input file, and that input file read back by the run's reader:
// what the conversion writes must never be a line the reader cannot read, nor values the
// run's set-up refuses although the option checks passed them.
//
// The bytes up to the last NUL byte are the CIF; the bytes after it choose the options of
// the conversion (a file without NUL converts with copper radiation and primary 1 1 1):
// each option keeps its default or takes a value from a list of telling ones (NaN,
// infinities, zero, negative, huge) or from four raw bytes, and the texts (title, plot
// and scan-file names) take raw bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "cif/cif_structure.hpp"
#include "cif/input_from_cif.hpp"
#include "tests/fuzz/fuzz_run.hpp"

namespace {

float some_float(FuzzedDataProvider& in, float usual) {
  static constexpr float kTelling[] = {
      0.0f, -1.0f, 1.0f, 0.5f, 1e-30f, 1e30f, 3.4e38f, -180.0f, 180.0f, 360.0f, 0.7f, 1.5406f, 7.0f,
      std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
      -std::numeric_limits<float>::infinity()};
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return usual;
    case 1: return kTelling[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kTelling) - 1)];
    case 2: return std::bit_cast<float>(in.ConsumeIntegral<std::uint32_t>());
    default: return in.ConsumeFloatingPointInRange(-1000.0f, 1000.0f);
  }
}

std::array<float, 2> two(FuzzedDataProvider& in, float a, float b) { return {some_float(in, a), some_float(in, b)}; }

void choose_options(FuzzedDataProvider& in, kaven::CifRunOptions& o) {
  for (int& h : o.hkl) h = in.ConsumeBool() ? h : in.ConsumeIntegralInRange(-40, 40);
  if (in.ConsumeBool()) {
    o.tube.clear();
    o.wavelength = some_float(in, 0.7f);
    o.isyn = in.ConsumeIntegralInRange(0, 3);
    if (in.ConsumeBool()) o.mono = {some_float(in, 5.4309f), {in.ConsumeIntegralInRange(-3, 3), 1, 1}, some_float(in, 58.19f)};
  } else {
    static const char* kTubes[] = {"Cu", "Mo", "Ag", "W", ""};
    o.tube = kTubes[in.ConsumeIntegralInRange(0, 4)];
  }
  if (in.ConsumeBool()) o.divergence = two(in, 0.14f, 0.14f);
  if (in.ConsumeBool()) o.rkugel_um = some_float(in, 150);
  if (in.ConsumeBool()) o.radius_um = some_float(in, 150);
  if (in.ConsumeBool()) o.eta = some_float(in, 0);
  if (in.ConsumeBool()) o.psi_range = two(in, 0, 10);
  if (in.ConsumeBool()) o.zsw1 = some_float(in, 5);
  if (in.ConsumeBool()) o.nnn = in.ConsumeIntegralInRange(-2, 10);
  if (in.ConsumeBool()) o.drumin = some_float(in, 1);
  if (in.ConsumeBool()) o.zeimax = some_float(in, 0);
  if (in.ConsumeBool()) o.primary_interval = two(in, 0, 1);
  if (in.ConsumeBool()) {
    std::array<float, 9> ub{};
    for (float& u : ub) u = some_float(in, 0.1f);
    o.ub = ub;
    if (in.ConsumeBool()) o.scan_file = in.ConsumeRandomLengthString(90);
  }
  if (in.ConsumeBool()) o.title = in.ConsumeRandomLengthString(100);
  if (in.ConsumeBool()) o.plot_file = in.ConsumeRandomLengthString(90);
}

// Stops of the run's set-up that the option checks and the conversion must have
// prevented: radii, widths, the psi range, steps, the wavelength, the Ewald sphere, the
// cell volume, the primary reflection. (A cell too large for the event search is the
// CIF's, and the run says so.)
bool prevented(const kaven::RunStopped& stop) {
  for (const std::string& r : stop.records)
    for (const char* what :
         {" The crystal radius must be positive", " The mosaic-block radius must be positive",
          " The divergences and the mosaic spread", " Psi-range is out of", " The psi range is empty",
          " The number of steps per degree", " Number of steps = ", " The wavelength must be positive",
          " The wavelength is to large", " The monochromator reflection cannot be reached",
          " The cell constants give no cell volume", " The primary reflection 0 0 0"})
      if (r.starts_with(what)) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string all = kaven_fuzz::text_of(data, size);
  const std::size_t nul = all.rfind('\0');
  kaven::CifRunOptions o;
  o.hkl = {1, 1, 1};
  o.tube = "Cu";
  o.plot_file = "fuzz.ps";
  o.cif_name = "fuzz.cif";
  if (nul != std::string::npos) {
    FuzzedDataProvider options(data + nul + 1, size - nul - 1);
    choose_options(options, o);
  }
  const bool valid = kaven::cif_option_problems(o).empty();
  kaven::CifStructure cif;
  try {
    cif = kaven::cif_structure_from_text(all.substr(0, nul));
  } catch (const kaven::CifError&) {
    return 0;
  }
  kaven::CifConversion conv;
  try {
    conv = kaven::input_from_cif(cif, o);
  } catch (const kaven::CifError&) {
    return 0;
  }
  if (!valid) __builtin_trap();  // a conversion with options the checks refuse
  kaven_fuzz::InputRun r(kaven::input_file_text(conv.deck));
  if (!r.read_and_set_up() && (r.stop->status || prevented(*r.stop))) __builtin_trap();
  return 0;
}
