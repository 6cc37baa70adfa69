#include "gui/external_programs.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

extern char** environ;

namespace kaven::gui {
namespace {

std::vector<std::string> split_words(std::string_view s) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::size_t b = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
    if (i > b) words.emplace_back(s.substr(b, i - b));
  }
  return words;
}

std::string quoted_reason(const std::string& program, int err) {
  return "cannot start " + program + ": " + std::generic_category().message(err);
}

// Spawns argv; on success returns 0 and sets pid, else the error number.
int spawn(const std::vector<std::string>& argv, bool own_group, pid_t& pid) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The child starts with no blocked signals and default actions, whatever the
  // windowing toolkit set up in this process.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (own_group) {
    flags = static_cast<short>(flags | POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
  }
  posix_spawnattr_setflags(&attr, flags);
  int err = posix_spawnp(&pid, args[0], nullptr, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  return err;
}

}  // namespace

std::string ending_text(const std::vector<std::string>& argv, int wait_status) {
  if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0) return {};
  std::string how = WIFEXITED(wait_status)
                        ? "exit status " + std::to_string(WEXITSTATUS(wait_status))
                        : "signal " + std::to_string(WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0);
  const std::string& program = argv.empty() ? std::string() : argv.front();
  if (argv.size() < 2) return program + " ended with " + how;
  return program + " failed on " + argv.back() + " (" + how + ")";
}

std::string SystemPrograms::start(const std::vector<std::string>& argv) {
  if (argv.empty()) return "no program to start";
  pid_t pid = 0;
  if (int err = spawn(argv, true, pid)) return quoted_reason(argv.front(), err);
  children_.push_back({pid, argv});
  return {};
}

std::string SystemPrograms::run(const std::vector<std::string>& argv) {
  if (argv.empty()) return "no program to run";
  pid_t pid = 0;
  if (int err = spawn(argv, false, pid)) return quoted_reason(argv.front(), err);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return argv.front() + ": " + std::generic_category().message(errno);
  }
  return ending_text(argv, status);
}

std::vector<std::string> SystemPrograms::failures() {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < children_.size();) {
    int status = 0;
    pid_t r = waitpid(children_[i].pid, &status, WNOHANG);
    if (r == 0) {  // still running
      ++i;
      continue;
    }
    if (r == children_[i].pid) {
      std::string text = ending_text(children_[i].argv, status);
      if (!text.empty()) out.push_back(std::move(text));
    }
    children_.erase(children_.begin() + static_cast<long>(i));
  }
  return out;
}

EditorChoice editor_for(const std::string& file, std::string_view visual,
                        std::string_view editor, bool terminal) {
  std::vector<std::string> words = split_words(visual);
  if (words.empty()) words = split_words(editor);
  if (terminal && !words.empty()) {
    words.push_back(file);
    return {std::move(words), true};
  }
  return {{"xdg-open", file}, false};
}

std::string viewer_names_text() {
  std::string s;
  for (std::string_view n : kViewerNames) {
    if (!s.empty()) s += ", ";
    s += n;
  }
  return s;
}

std::string find_on_path(std::string_view name, std::string_view path_var) {
  std::size_t b = 0;
  while (b <= path_var.size()) {
    std::size_t e = path_var.find(':', b);
    if (e == std::string_view::npos) e = path_var.size();
    std::string_view dir = path_var.substr(b, e - b);
    b = e + 1;
    if (dir.empty()) continue;
    std::string candidate = std::string(dir) + (dir.back() == '/' ? "" : "/") + std::string(name);
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

std::string find_viewer(std::string_view path_var) {
  for (std::string_view n : kViewerNames)
    if (std::string p = find_on_path(n, path_var); !p.empty()) return p;
  return {};
}

}  // namespace kaven::gui
