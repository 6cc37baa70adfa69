#include "gui/window_layer.hpp"

#include "gui/shell.hpp"

namespace kaven::gui {

std::span<const MenuItem> menu_resource(int resource) {
  // The bar of the main window: the six commands, and beside the run command those of
  // the CIF, the energy map and the analysis of the measured scan; no drop-down menus.
  static constexpr MenuItem bar[] = {
      {menu_id::start, "&Start KAVEN-99"},     {menu_id::open_cif, "Open &CIF"},
      {menu_id::energy_map, "Energy &map..."}, {menu_id::fit, "&Fit measured scan..."},
      {menu_id::index, "&Index peaks"},
      {menu_id::viewer, "&Ghostview"},
      {menu_id::edit_input, "&Edit input-file"}, {menu_id::help, "&Help input-file"},
      {menu_id::edit_output, "&Edit output-file"}, {menu_id::exit, "&Exit"},
  };
  if (resource == menu_id::bar) return bar;
  return {};
}

}  // namespace kaven::gui
