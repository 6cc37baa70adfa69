// The windowing operations on Qt 6 Widgets: a QMainWindow with the commands of the
// menu resource on its menu bar, a status bar (fields as labels, and a progress bar
// while a task runs), a drawing area for the placed texts and, below it, the pages of
// the results: the scan to explore (zoom, pan, the events under the pointer), the
// listed events as a sortable table, the plot page (SVG, drawn keeping its
// proportions), the listing and the input description. More pages can join them. wmessage and run_task run local event loops, so the window repaints
// while the shell waits for a command or for a run on another thread.
//
// A QApplication must exist before the layer is made.
#pragma once
#include <memory>
#include <optional>
#include <vector>

#include "gui/window_layer.hpp"

class QAction;
class QMainWindow;
class QString;
class QTableView;
class QWidget;

namespace kaven::gui {

class ScanView;

class QtWindowLayer final : public WindowLayer {
 public:
  QtWindowLayer();
  ~QtWindowLayer() override;
  QtWindowLayer(const QtWindowLayer&) = delete;
  QtWindowLayer& operator=(const QtWindowLayer&) = delete;

  void winitialise(std::string_view config) override;
  void windowopen(const WindowStyle& style, int colours = 16) override;
  void wmenusetstate(int item, int property, int value) override;
  void windowoutstatusbar(int field, std::string_view text) override;
  WindowMessage wmessage() override;
  void windowclear() override;
  void windowoutstring(int x, int y, std::string_view text) override;
  void wselectfile2(std::string_view filter, int mode, std::string& name,
                    std::string_view title) override;
  int winfodialog(int query) override;
  void windowbell(std::string_view text) override;
  void windowclose() override;
  void show_page(Page page, const std::string& content) override;
  void clear_pages() override;
  void run_task(const std::function<void()>& work, std::atomic<bool>& cancel) override;
  void show_progress(std::string_view stage, double fraction) override;
  void show_scan(const ScanData& data) override;
  bool cif_dialog(CifDialogValues& values, std::string_view message) override;
  bool energy_map_dialog(EnergyMapValues& values, std::string_view message) override;
  bool fit_dialog(FitDialogValues& values, std::string_view message) override;
  bool question(std::string_view title, std::string_view text) override;

  // What the window shows, for tests and for checking the program by eye.
  QMainWindow* main_window() const;
  QAction* menu_action(int id) const;
  QString status_text(int field = 1) const;
  std::vector<PlacedText> texts() const;
  std::optional<Page> current_page() const;
  QString page_text(Page page) const;  // plot, energy map: the SVG path shown ("" none)
  bool plot_valid() const;             // an SVG drawing is shown
  bool energy_map_shown() const;       // the tab of the energy map is there, its page drawn
  QString progress_text() const;       // "event search 40%" while shown, else ""
  int bells() const;
  ScanView* scan_view() const;  // the page of the scan to explore
  QTableView* events_table() const;   // the page of the events
  QString pointer_text() const;       // the status bar's text of the pointer on the scan

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// Qt's name-filter list from a dialog filter "Description|*.a;*.b|" (pairs of
// description and pattern list, each followed by a bar): {"Description (*.a *.b)"}.
std::vector<std::string> qt_name_filters(std::string_view filter);

}  // namespace kaven::gui
