// The CIF command of the desktop program: from the values of its dialog to the options
// of the conversion, which the library checks and whose defaults it keeps (the dialog
// shows them; nothing here holds a default of its own).
#pragma once
#include <array>
#include <filesystem>
#include <string>

#include "cif/input_from_cif.hpp"
#include "gui/window_layer.hpp"

namespace kaven::gui {

// The radiations the dialog offers, in its order.
inline constexpr std::array<const char*, 4> kCifRadiations = {"Cu", "Mo", "Ag", "synchrotron"};

// The psi range a conversion takes by default for a radiation of the dialog.
std::array<float, 2> default_psi_range(const std::string& radiation);

// The dialog's first values for a CIF: the psi range of the first radiation, the new
// input named after the CIF (NAME.cif -> NAME.inp).
CifDialogValues cif_dialog_defaults(const std::filesystem::path& cif, const std::string& formula);

// The conversion options of the dialog's values, for a new input at `input`: the plot
// file named after it (NAME.inp -> NAME.ps), every other option at its default.
// input_from_cif checks them.
CifRunOptions cif_run_options(const CifDialogValues& values, const std::filesystem::path& input);

}  // namespace kaven::gui
