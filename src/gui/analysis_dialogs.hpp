// The small dialogs of the energy map (E1, E2 in keV and the number of energies) and of
// the fit (the parameters as check boxes, f', f'' at the fitted energy, the readings of
// the psi axis, the interference term), with the values the shell proposes filled in.
// Their fields carry object names for the tests: e1, e2, n, message; one check box per
// parameter named after it, dispersion, readings, interference (-1: the input's).
#pragma once
#include <string_view>

#include "gui/window_layer.hpp"

class QWidget;

namespace kaven::gui {

// Each shown modally over `parent`; true with `values` as confirmed.
bool run_energy_map_dialog(QWidget* parent, EnergyMapValues& values, std::string_view message);
bool run_fit_dialog(QWidget* parent, FitDialogValues& values, std::string_view message);

}  // namespace kaven::gui
