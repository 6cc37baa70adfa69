// The windowing operations the desktop shell is written against: one main window with
// a bar of menu commands and a status bar, texts placed on a 0..9999 grid of its
// drawing area, the common file dialog, the bell and a blocking message queue.
//
// Two implementations: the Qt window of kaven-gui (qt_window_layer.hpp) and a scripted
// one that replays a user's choices and records what the shell did, for the tests
// (scripted_window_layer.hpp). The shell never sees which one it talks to.
//
// Beyond the eleven classic operations the window shows a run's results itself (the
// plot, the listing, the input description) and runs long work away from the interface
// thread, so that it keeps repainting and can show progress.
#pragma once
#include <array>
#include <atomic>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gui/scan_data.hpp"

namespace kaven::gui {

struct WindowStyle {
  int flags = 0;
  int left = 0, top = 0;      // negative: centred on the screen in that direction
  int width = 0, height = 0;  // below 1: 80 % of the screen's width or height
  int menu = 0;               // the menu resource to attach
  std::string title;          // trailing blanks are dropped
};

// Message kinds the shell acts on; every other kind is ignored by it.
namespace message_kind {
inline constexpr int menu = 2;   // a menu command was chosen; value = its identifier
inline constexpr int close = 9;  // the user asked to close the window
}  // namespace message_kind

struct WindowMessage {
  int kind = 0;
  int value = 0;  // the first message value
};

// wmenusetstate properties.
namespace menu_property {
inline constexpr int enabled = 1;
inline constexpr int checked = 2;
}  // namespace menu_property

// wselectfile2 mode bits.
namespace file_dialog {
inline constexpr int save = 1;     // set: save dialog; clear: open dialog
inline constexpr int confirm = 2;  // ask before creating a missing / replacing an existing file
inline constexpr int any_folder = 4;  // clear: the chosen folder must exist
}  // namespace file_dialog

// One command of a menu bar.
struct MenuItem {
  int id;
  const char* caption;  // '&' marks the keyboard shortcut letter
};

// The program's menu resources: the commands of bar `resource` in their order (empty
// for an unknown resource).
std::span<const MenuItem> menu_resource(int resource);

// A text of the drawing area at its place on the 0..9999 grid.
struct PlacedText {
  int x, y;
  std::string text;
  bool operator==(const PlacedText&) const = default;
};

// The pages below the texts of the main window.
enum class Page {
  plot,        // content: the path of an SVG drawing; empty when the run drew none
  listing,     // content: the print-output listing
  input_help,  // content: the input description
  scan,        // the run's scan to explore (show_scan); content unused
  events,      // the run's listed events as a table (show_scan); content unused
  energy_map,  // content: the path of the energy map's SVG page
};

// What the dialog of the CIF command asks: the experiment the CIF does not give.
struct CifDialogValues {
  std::string cif;      // the CIF (shown, not edited)
  std::string formula;  // its formula, for the heading
  std::vector<std::string> warnings;  // what was mended while reading it ("line 9: ...")
  std::array<int, 3> hkl{};
  std::string radiation = "Cu";  // "Cu", "Mo", "Ag" or "synchrotron"
  float wavelength = 0;          // Å, the synchrotron line
  std::array<float, 2> psi{};    // psia, psie (degrees)
  std::string input_name;        // the new input file, in the folder of the CIF
};

// What the dialog of the energy map asks: the energies to map (keV, evenly spaced, both
// included), for the input named.
struct EnergyMapValues {
  std::string input;     // the input (shown, not edited)
  double input_kev = 0;  // its own energy (shown)
  double e1_kev = 0, e2_kev = 0;
  int n = 0;
};

// What the dialog of the fit asks: the parameters to refine (every parameter by name,
// checked when refined) and the options of the fit.
struct FitDialogValues {
  std::string input;  // the input (shown, not edited)
  std::vector<std::pair<std::string, bool>> parameters;
  bool dispersion = false;  // f', f'' at the fitted energy (synchrotron)
  bool readings = false;    // every reading of the measured psi axis
  int nnn = -1;             // the interference term; -1 the input's
};

class WindowLayer {
 public:
  virtual ~WindowLayer() = default;

  // Readies the layer; called once, first. `config` names a configuration (blank: none).
  virtual void winitialise(std::string_view config) = 0;
  // Shows the main window with its menu bar, title and status bar; a second call does
  // nothing. `colours` is 16, 32, 64 or 128.
  virtual void windowopen(const WindowStyle& style, int colours = 16) = 0;
  // Property 1 enables (value 1) or disables and greys (0) a menu item, property 2 sets
  // its check mark; any other property or value is ignored.
  virtual void wmenusetstate(int item, int property, int value) = 0;
  // The text without its trailing blanks replaces the field's text; fields from 256 on
  // are ignored.
  virtual void windowoutstatusbar(int field, std::string_view text) = 0;
  // Blocks until the next message.
  virtual WindowMessage wmessage() = 0;
  // Clears the drawing area.
  virtual void windowclear() = 0;
  // Draws the text, every character given, with its top left corner at (x, y) on the
  // 0..9999 scale across the drawing area's width and height.
  virtual void windowoutstring(int x, int y, std::string_view text) = 0;
  // The common file dialog: `filter` as "Description|*.a;*.b|" (description and pattern
  // list, each followed by a bar), `mode` of file_dialog bits. On confirmation `name`
  // holds the chosen path (the whole path: no length limit); on cancellation it is left
  // as it was. The outcome is remembered for winfodialog.
  virtual void wselectfile2(std::string_view filter, int mode, std::string& name,
                            std::string_view title) = 0;
  // Query 4: 1 when the last common dialog was confirmed, 0 when it was cancelled.
  virtual int winfodialog(int query) = 0;
  // "ON " switches the bell on, "OFF" off; any other text sounds it once.
  virtual void windowbell(std::string_view text) = 0;
  // Closes the main window before the program stops.
  virtual void windowclose() = 0;

  // Shows a page and brings it to the front.
  virtual void show_page(Page page, const std::string& content) = 0;
  // Empties every page (a new run starts).
  virtual void clear_pages() = 0;
  // Runs `work` away from the interface thread and returns when it is done (rethrowing
  // what it threw). Meanwhile the window repaints and takes no menu commands; a close
  // request sets `cancel` and is delivered by the next wmessage.
  virtual void run_task(const std::function<void()>& work, std::atomic<bool>& cancel) = 0;
  // Progress of the running task (stage name, fraction 0..1) for the status bar. May be
  // called from any thread while run_task runs.
  virtual void show_progress(std::string_view stage, double fraction) = 0;

  // Loads a run's scan into the scan view and its events into the table (empty data
  // clears them); show_page(Page::scan) brings the view to the front.
  virtual void show_scan(const ScanData& data) = 0;
  // The dialog of the CIF command with `values` filled in and, when not empty, a
  // message saying what was wrong with the values last given. True with the values the
  // user confirmed; false when cancelled (`values` then as they were).
  virtual bool cif_dialog(CifDialogValues& values, std::string_view message) = 0;
  // The dialogs of the energy map and of the fit, as the CIF dialog: `values` filled
  // in, `message` what was wrong with the values last given; true with the values the
  // user confirmed.
  virtual bool energy_map_dialog(EnergyMapValues& values, std::string_view message) = 0;
  virtual bool fit_dialog(FitDialogValues& values, std::string_view message) = 0;
  // A question answered yes (true) or no.
  virtual bool question(std::string_view title, std::string_view text) = 0;
};

}  // namespace kaven::gui
