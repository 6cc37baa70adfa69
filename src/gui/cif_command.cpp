#include "gui/cif_command.hpp"

namespace kaven::gui {

namespace fs = std::filesystem;

namespace {

// The options of a radiation alone, before the library fills in its defaults.
CifRunOptions radiation_options(const std::string& radiation, float wavelength) {
  CifRunOptions o;
  if (radiation == "synchrotron") o.wavelength = wavelength;
  else o.tube = radiation;
  return o;
}

}  // namespace

std::array<float, 2> default_psi_range(const std::string& radiation) {
  const CifRunOptions o = with_defaults(radiation_options(radiation, 1.0f));
  return o.psi_range.value_or(std::array<float, 2>{0, 0});
}

CifDialogValues cif_dialog_defaults(const fs::path& cif, const std::string& formula) {
  CifDialogValues v;
  v.cif = cif.string();
  v.formula = formula;
  v.radiation = kCifRadiations[0];
  v.psi = default_psi_range(v.radiation);
  v.input_name = default_input_file(cif).filename().string();
  return v;
}

CifRunOptions cif_run_options(const CifDialogValues& v, const fs::path& input) {
  CifRunOptions o = radiation_options(v.radiation, v.wavelength);
  o.hkl = v.hkl;
  o.psi_range = v.psi;
  o.plot_file = default_plot_file(input);
  o.cif_name = fs::path(v.cif).filename().string();
  return o;
}

}  // namespace kaven::gui
