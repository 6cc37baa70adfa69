// The small dialog of the CIF command: the primary reflection, the radiation (a tube or
// the synchrotron line with its wavelength), the psi range and the name of the new input
// file, with the conversion's defaults filled in. Its fields carry object names (h, k,
// l, radiation, wavelength, psia, psie, input_name, message) for the tests.
#pragma once
#include <string_view>

#include "gui/window_layer.hpp"

class QWidget;

namespace kaven::gui {

// Shows the dialog modally over `parent`; true with `values` as confirmed.
bool run_cif_dialog(QWidget* parent, CifDialogValues& values, std::string_view message);

}  // namespace kaven::gui
