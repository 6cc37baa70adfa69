// A window without a screen: it hands the shell the messages and file-dialog answers
// of a script, keeps the state a real window would show (menu states, status text,
// texts of the drawing area, pages) and logs every operation in order, one line each,
// so that a test can compare what the shell did as a whole. Work given to run_task
// runs at once on the calling thread. Programs are recorded by ScriptedPrograms.
#pragma once
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gui/external_programs.hpp"
#include "gui/window_layer.hpp"

namespace kaven::gui {

class ScriptedWindowLayer final : public WindowLayer {
 public:
  // The user's part, taken from the front. When the messages run out, wmessage
  // delivers a close request; when the answers run out, a dialog is cancelled.
  std::deque<WindowMessage> messages;
  std::deque<std::optional<std::string>> dialog_answers;  // nullopt: cancelled
  // Called before each message is handed over (with its index), to change the world
  // between two commands.
  std::function<void(std::size_t)> before_message;
  // Answers of the CIF dialog: each changes the values shown and confirms them; an
  // empty function (or none left) cancels.
  std::deque<std::function<void(CifDialogValues&)>> cif_answers;
  std::deque<std::function<void(EnergyMapValues&)>> energy_map_answers;  // as cif_answers
  std::deque<std::function<void(FitDialogValues&)>> fit_answers;
  std::deque<bool> answers;  // yes or no to questions; none left: no

  // What the window shows.
  std::vector<int> menu_order;       // the bar's commands, as opened
  std::map<int, bool> enabled;       // menu states
  std::map<int, bool> checked;
  std::string status;                // status-bar field 1
  std::vector<PlacedText> texts;     // the drawing area
  std::map<Page, std::string> pages;
  std::optional<Page> front_page;
  ScanData scan;                               // the scan view and the event table
  std::vector<CifDialogValues> cif_dialog_shown;  // the values each dialog opened with
  std::vector<EnergyMapValues> energy_map_dialog_shown;
  std::vector<FitDialogValues> fit_dialog_shown;
  int bells = 0;
  bool open = false, closed = false;
  bool task_running = false;

  // Every operation, in order ("status searching for ...", "menu 30006 0", ...).
  std::vector<std::string> log;
  // Every progress report of the tasks (stage and fraction).
  std::vector<std::pair<std::string, double>> progress;

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

  WindowStyle style;  // as opened

 private:
  bool confirmed_ = false;
  bool bell_on_ = true;
  std::size_t delivered_ = 0;
  std::mutex progress_mutex_;
};

// Records the programs the shell starts; a program named in `missing` cannot be
// started, and one named in `failing` is reported as failed by the next failures().
class ScriptedPrograms final : public ProgramStarter {
 public:
  std::vector<std::string> missing;
  std::vector<std::string> failing;
  std::vector<std::vector<std::string>> started;  // by start()
  std::vector<std::vector<std::string>> waited;   // by run()

  std::string start(const std::vector<std::string>& argv) override;
  std::string run(const std::vector<std::string>& argv) override;
  std::vector<std::string> failures() override;

 private:
  std::vector<std::string> pending_failures_;
};

}  // namespace kaven::gui
