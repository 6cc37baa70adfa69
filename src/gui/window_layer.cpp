#include "gui/window_layer.hpp"

#include "gui/shell.hpp"

namespace kaven::gui {

std::span<const MenuItem> menu_resource(int resource) {
  // The bar of the main window: the six commands and the CIF command, no drop-down
  // menus.
  static constexpr MenuItem bar[] = {
      {menu_id::start, "&Start KAVEN-99"},     {menu_id::open_cif, "Open &CIF"},
      {menu_id::viewer, "&Ghostview"},
      {menu_id::edit_input, "&Edit input-file"}, {menu_id::help, "&Help input-file"},
      {menu_id::edit_output, "&Edit output-file"}, {menu_id::exit, "&Exit"},
  };
  if (resource == menu_id::bar) return bar;
  return {};
}

}  // namespace kaven::gui
