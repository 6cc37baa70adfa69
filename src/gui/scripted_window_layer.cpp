#include "gui/scripted_window_layer.hpp"

#include <algorithm>

#include "report/record_format.hpp"

namespace kaven::gui {
namespace {

const char* page_name(Page p) {
  switch (p) {
    case Page::plot: return "plot";
    case Page::listing: return "listing";
    case Page::input_help: return "input_help";
    case Page::scan: return "scan";
    case Page::events: return "events";
    case Page::energy_map: return "energy_map";
  }
  return "?";
}

bool named(const std::vector<std::string>& names, const std::vector<std::string>& argv) {
  return !argv.empty() && std::find(names.begin(), names.end(), argv.front()) != names.end();
}

}  // namespace

void ScriptedWindowLayer::winitialise(std::string_view config) {
  log.push_back("initialise '" + std::string(config) + "'");
}

void ScriptedWindowLayer::windowopen(const WindowStyle& s, int colours) {
  if (open) return;
  open = true;
  style = s;
  for (const MenuItem& item : menu_resource(s.menu)) {
    menu_order.push_back(item.id);
    enabled[item.id] = true;
    checked[item.id] = false;
  }
  log.push_back("open " + std::string(rec::rtrim(s.title)) + " menu " + std::to_string(s.menu) +
                " colours " + std::to_string(colours));
}

void ScriptedWindowLayer::wmenusetstate(int item, int property, int value) {
  if (value != 0 && value != 1) return;
  auto it = enabled.find(item);
  if (it == enabled.end()) return;
  if (property == menu_property::enabled) {
    it->second = value == 1;
  } else if (property == menu_property::checked) {
    checked[item] = value == 1;
  } else {
    return;
  }
  log.push_back("menu " + std::to_string(item) + " " + std::to_string(property) + " " +
                std::to_string(value));
}

void ScriptedWindowLayer::windowoutstatusbar(int field, std::string_view text) {
  if (field >= 256) return;
  std::string t(rec::rtrim(text));
  if (field == 1) status = t;
  log.push_back("status " + t);
}

WindowMessage ScriptedWindowLayer::wmessage() {
  if (before_message) before_message(delivered_);
  ++delivered_;
  WindowMessage m{message_kind::close, 0};
  if (!messages.empty()) {
    m = messages.front();
    messages.pop_front();
  }
  log.push_back("message " + std::to_string(m.kind) + " " + std::to_string(m.value));
  return m;
}

void ScriptedWindowLayer::windowclear() {
  texts.clear();
  log.push_back("clear");
}

void ScriptedWindowLayer::windowoutstring(int x, int y, std::string_view text) {
  texts.push_back({x, y, std::string(text)});
  log.push_back("text " + std::to_string(x) + " " + std::to_string(y) + " " + std::string(text));
}

void ScriptedWindowLayer::wselectfile2(std::string_view filter, int mode, std::string& name,
                                       std::string_view title) {
  const std::string proposed = name;
  std::optional<std::string> answer;
  if (!dialog_answers.empty()) {
    answer = dialog_answers.front();
    dialog_answers.pop_front();
  }
  confirmed_ = answer.has_value();
  if (confirmed_) name = *answer;
  log.push_back("dialog " + std::string(title) + " | " + std::string(filter) + " mode " +
                std::to_string(mode) + (proposed.empty() ? "" : " proposing " + proposed) +
                (confirmed_ ? " -> " + name : " cancelled"));
}

int ScriptedWindowLayer::winfodialog(int query) { return query == 4 && confirmed_ ? 1 : 0; }

void ScriptedWindowLayer::windowbell(std::string_view text) {
  if (text.starts_with("ON ")) {
    bell_on_ = true;
  } else if (text.starts_with("OFF")) {
    bell_on_ = false;
  } else if (bell_on_) {
    ++bells;
    log.push_back("bell");
  }
}

void ScriptedWindowLayer::windowclose() {
  closed = true;
  open = false;
  log.push_back("close");
}

void ScriptedWindowLayer::show_page(Page page, const std::string& content) {
  pages[page] = content;
  front_page = page;
  log.push_back(std::string("page ") + page_name(page));
}

void ScriptedWindowLayer::clear_pages() {
  pages.clear();
  front_page.reset();
  scan = ScanData{};
  log.push_back("pages cleared");
}

void ScriptedWindowLayer::run_task(const std::function<void()>& work, std::atomic<bool>&) {
  log.push_back("task");
  task_running = true;
  try {
    work();
  } catch (...) {
    task_running = false;
    throw;
  }
  task_running = false;
}

void ScriptedWindowLayer::show_progress(std::string_view stage, double fraction) {
  std::lock_guard<std::mutex> lock(progress_mutex_);
  progress.emplace_back(std::string(stage), fraction);
}

void ScriptedWindowLayer::show_scan(const ScanData& data) {
  scan = data;
  log.push_back("scan " + std::to_string(data.calculated.size()) + " steps " +
                std::to_string(data.events.size()) + " events");
}

bool ScriptedWindowLayer::cif_dialog(CifDialogValues& values, std::string_view message) {
  log.push_back("cif dialog" + (message.empty() ? std::string() : " '" + std::string(message) + "'"));
  cif_dialog_shown.push_back(values);
  if (cif_answers.empty() || !cif_answers.front()) {
    if (!cif_answers.empty()) cif_answers.pop_front();
    return false;
  }
  cif_answers.front()(values);
  cif_answers.pop_front();
  return true;
}

namespace {

// One scripted dialog: the answer at the front changes the values and confirms them;
// an empty function, or none left, cancels.
template <class Values>
bool answer_dialog(std::deque<std::function<void(Values&)>>& answers, Values& values) {
  if (answers.empty() || !answers.front()) {
    if (!answers.empty()) answers.pop_front();
    return false;
  }
  answers.front()(values);
  answers.pop_front();
  return true;
}

}  // namespace

bool ScriptedWindowLayer::energy_map_dialog(EnergyMapValues& values, std::string_view message) {
  log.push_back("energy map dialog" + (message.empty() ? std::string() : " '" + std::string(message) + "'"));
  energy_map_dialog_shown.push_back(values);
  return answer_dialog(energy_map_answers, values);
}

bool ScriptedWindowLayer::fit_dialog(FitDialogValues& values, std::string_view message) {
  log.push_back("fit dialog" + (message.empty() ? std::string() : " '" + std::string(message) + "'"));
  fit_dialog_shown.push_back(values);
  return answer_dialog(fit_answers, values);
}

bool ScriptedWindowLayer::question(std::string_view title, std::string_view text) {
  log.push_back("question " + std::string(title) + ": " + std::string(text));
  if (answers.empty()) return false;
  const bool yes = answers.front();
  answers.pop_front();
  return yes;
}

std::string ScriptedPrograms::start(const std::vector<std::string>& argv) {
  if (named(missing, argv)) return "cannot start " + argv.front() + ": No such file or directory";
  started.push_back(argv);
  if (named(failing, argv)) pending_failures_.push_back(ending_text(argv, 3 << 8));
  return {};
}

std::string ScriptedPrograms::run(const std::vector<std::string>& argv) {
  if (named(missing, argv)) return "cannot start " + argv.front() + ": No such file or directory";
  waited.push_back(argv);
  if (named(failing, argv)) return ending_text(argv, 1 << 8);
  return {};
}

std::vector<std::string> ScriptedPrograms::failures() {
  std::vector<std::string> out;
  out.swap(pending_failures_);
  return out;
}

}  // namespace kaven::gui
