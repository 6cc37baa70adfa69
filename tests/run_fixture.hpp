// Shared by the reader and driver tests: an input given as lines runs through the run
// driver in a scratch folder (where its plot file is created) and the listing comes
// back as records. The example inputs of the repository are the starting point; a test
// changes the lines it is about.
#pragma once
#include <stdlib.h>  // mkdtemp, setenv

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "shell/run_driver.hpp"

namespace kaven_test {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Whether this build runs under AddressSanitizer: its shadow memory and checks make
// every run several times slower, so the longest tests take a sample of their cases.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// 2001-09-09 01:46:40 UTC: the date block of every listing below.
inline constexpr const char* kEpoch = "1000000000";

// A folder of its own for one test, removed with everything in it afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (fs::temp_directory_path() / "kaven-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a scratch folder");
    path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Records of a listing (or lines of a file): the final end of line closes the last one.
inline Lines split_records(const std::string& text) {
  Lines out;
  std::istringstream is(text);
  for (std::string line; std::getline(is, line);) out.push_back(line);
  return out;
}

inline std::string join_lines(const Lines& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + '\n';
  return s;
}

inline Lines read_lines(const fs::path& p) {
  std::ifstream is(p);
  if (!is) throw std::runtime_error("cannot read " + p.string());
  std::stringstream ss;
  ss << is.rdbuf();
  return split_records(ss.str());
}

inline void write_lines(const fs::path& p, const Lines& lines) {
  std::ofstream os(p);
  os << join_lines(lines);
}

inline fs::path source_path(const std::string& rel) { return fs::path(KAVEN_SOURCE_DIR) / rel; }

// The example inputs, line by line. YIG: 0 title, 1 plot file, 2 cell, 3 radiation,
// 4 beam and crystal, 5 psi range, 6 nr na nf, 7-9 elements, 10-17 atoms (two lines
// each), 18 primary reflection, 19-21 orientation matrix.
inline Lines yig_lines() { return read_lines(source_path("examples/yig/yig-sim.inp")); }
// Si 222, synchrotron: 3 radiation, 5 psi range, 6 nr na nf, 7 element, 8-15 atoms,
// 16 primary reflection; no orientation matrix.
inline Lines si_lines() { return read_lines(source_path("examples/si/si222.inp")); }

// The last n records (all of them when there are fewer).
inline Lines tail(const Lines& v, std::size_t n) {
  return Lines(v.end() - static_cast<long>(std::min(n, v.size())), v.end());
}

inline bool contains(const Lines& v, const std::string& record) {
  return std::find(v.begin(), v.end(), record) != v.end();
}

// Index of the first record starting with `prefix`, or v.size().
inline std::size_t find_prefix(const Lines& v, const std::string& prefix, std::size_t from = 0) {
  for (std::size_t i = from; i < v.size(); ++i)
    if (v[i].rfind(prefix, 0) == 0) return i;
  return v.size();
}

struct ListedRun {
  kaven::RunOutcome outcome;
  Lines records;
  bool stopped() const { return outcome.end == kaven::RunEnd::stopped; }
  int ierr() const { return outcome.ierr; }
};

// One program session: the run record and the name buffers persist from run to run,
// as they do while the desktop program stays open. Relative file names of the input
// are taken from the session's scratch folder.
struct Session {
  Session() { setenv("SOURCE_DATE_EPOCH", kEpoch, 1); }
  ScratchDir dir;
  kaven::RunParameters par;
  kaven::RunNames names;
  int threads = 0;  // of the run: 0 all cores, 1 serial

  ListedRun run(const Lines& lines) { return run_text(join_lines(lines)); }
  ListedRun run_text(const std::string& text) {
    std::istringstream in(text);
    std::ostringstream out;
    ListedRun r;
    {
      kaven::RunFiles files;  // closed when the run is over, whether opened or not
      kaven::RunEnvironment env;
      env.base_dir = dir.path();
      env.threads = threads;
      r.outcome = kaven::kaven(par, names, files, in, out, env);
    }
    r.records = split_records(out.str());
    return r;
  }
};

// A text blank-padded to n columns, as the fixed-length buffers are written.
inline std::string padded(const std::string& s, std::size_t n) {
  std::string r = s;
  r.resize(std::max(n, s.size()), ' ');
  return r;
}

}  // namespace kaven_test
