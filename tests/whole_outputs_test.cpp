// What a run leaves in its folder: every file whole or absent, whatever stops the run
// (a full disk, a check, a cancel), no result of an earlier run beside a new listing,
// two runs at once each leaving whole files, long work announced before it starts, and
// the summary's I0 the listing's.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "shell/run_command.hpp"
#include "tests/run_fixture.hpp"

using namespace kaven_test;

namespace {

std::string file_text(const fs::path& p) {
  std::ifstream is(p, std::ios::binary);
  std::stringstream ss;
  ss << is.rdbuf();
  return ss.str();
}

std::map<std::string, std::string> folder(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(dir))
    files[e.path().filename().string()] = file_text(e.path());
  return files;
}

// The command-line program in `dir`, each file it writes limited to `max_file_bytes`
// (as a full disk would stop it; SIGXFSZ ignored, so that writes fail with EFBIG).
// Returns the exit status and standard error.
std::pair<int, Lines> run_limited(const fs::path& dir, const std::vector<std::string>& args,
                                  rlim_t max_file_bytes) {
  const fs::path err = dir.parent_path() / "stderr";
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (e < 0 || dup2(e, 2) < 0) _exit(126);
    close(e);
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull < 0 || dup2(devnull, 1) < 0) _exit(126);
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit lim{max_file_bytes, max_file_bytes};
    if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(126);
    std::vector<char*> argv{const_cast<char*>(KAVEN_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(KAVEN_BINARY, argv.data());
    _exit(127);
  }
  int st = 0;
  waitpid(pid, &st, 0);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), read_lines(err)};
}

bool mentions(const Lines& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

// YIG without a measured scan, with `title` and `steps_line` (line 6) as given.
Lines yig_input(const std::string& title, const std::string& steps_line = "") {
  Lines l = yig_lines();
  l[0] = title;
  if (!steps_line.empty()) l[5] = steps_line;
  return l;
}

kaven::RunCommandResult run_in(const fs::path& dir, const std::string& input, bool exports = false,
                               std::function<void(kaven::RunRequest&)> adjust = nullptr) {
  kaven::RunRequest request;
  request.input = dir / input;
  request.csv = request.json = exports;
  request.threads = 1;
  if (adjust) adjust(request);
  return kaven::run_command(request);
}

}  // namespace

TEST(WholeOutputs, AFullDiskLeavesEveryFileWholeOrAbsentAndNamesTheOneThatFailed) {
  setenv("SOURCE_DATE_EPOCH", kEpoch, 1);
  // YIG with its CAD4 scan writes a listing of 13 KB, a calculated scan of 127 KB and
  // pages of 250 KB (PostScript) and 233 KB (SVG).
  const std::vector<std::pair<rlim_t, std::string>> limits{
      {4096, "run.out"},     // not even the listing fits
      {16384, "yig.cal"},    // the calculated scan is cut
      {204800, "yig.ps"}};  // the PostScript page is cut
  for (const auto& [bytes, failed] : limits) {
    SCOPED_TRACE(failed);
    ScratchDir scratch;
    const fs::path dir = scratch.path() / "run";
    fs::create_directories(dir);
    fs::copy_file(source_path("examples/yig/yig.inp"), dir / "run.inp");
    fs::copy_file(source_path("examples/yig/yig.dat"), dir / "yig.dat");
    ASSERT_EQ(run_limited(dir, {"run.inp"}, RLIM_INFINITY).first, 0);
    const std::map<std::string, std::string> whole = folder(dir);
    ASSERT_EQ(whole.size(), 6u);  // run.inp, yig.dat, run.out, yig.cal, yig.ps, yig.svg

    const auto [status, err] = run_limited(dir, {"run.inp"}, bytes);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(mentions(err, failed)) << join_lines(err);
    // Each name holds the whole file of a run or nothing; no temporary file stays.
    for (const auto& [name, text] : folder(dir)) {
      ASSERT_TRUE(whole.contains(name)) << name << " left behind";
      if (name != "run.out") {
        EXPECT_EQ(text, whole.at(name)) << name << " is not whole";
      }
    }
    // The listing is this run's, with the reason at its end, or absent.
    if (fs::exists(dir / "run.out")) {
      const Lines listing = read_lines(dir / "run.out");
      EXPECT_TRUE(mentions(listing, "could not be written completely")) << join_lines(tail(listing, 5));
      EXPECT_TRUE(mentions(listing, "File too large"));
    }
    EXPECT_FALSE(fs::exists(dir / "yig.svg") && !fs::exists(dir / "yig.ps"));
  }
}

TEST(WholeOutputs, TwoRunsAtOnceEachLeaveWholeFilesAndTheLastToFinishWins) {
  setenv("SOURCE_DATE_EPOCH", kEpoch, 1);
  ScratchDir scratch;
  const fs::path dir = scratch.path();
  // Two inputs of one folder that name the same plot file (and so the same calculated
  // scan), told apart by their titles.
  write_lines(dir / "a.inp", yig_input("YIG run A"));
  write_lines(dir / "b.inp", yig_input("YIG run B"));
  std::map<std::string, std::map<std::string, std::string>> alone;
  for (const std::string run : {"a", "b"}) {
    ASSERT_EQ(run_in(dir, run + ".inp").status, 0);
    alone[run] = folder(dir);
  }
  ASSERT_NE(alone["a"]["yig.ps"], alone["b"]["yig.ps"]);

  // The run held in its event search until the other has finished is the last to
  // finish: both orders.
  for (const std::string held : {"a", "b"}) {
    SCOPED_TRACE("held: " + held);
    const std::string other = held == "a" ? "b" : "a";
    std::mutex m;
    std::condition_variable cv;
    bool other_done = false;
    kaven::RunCommandResult held_result, other_result;
    std::thread t([&] {
      held_result = run_in(dir, held + ".inp", false, [&](kaven::RunRequest& r) {
        r.progress = [&](const kaven::RunProgress&) {
          std::unique_lock lock(m);
          cv.wait(lock, [&] { return other_done; });
        };
      });
    });
    other_result = run_in(dir, other + ".inp");
    {
      std::lock_guard lock(m);
      other_done = true;
    }
    cv.notify_all();
    t.join();
    EXPECT_EQ(held_result.status, 0);
    EXPECT_EQ(other_result.status, 0);
    const std::map<std::string, std::string> now = folder(dir);
    for (const std::string shared : {"yig.ps", "yig.svg", "yig.cal"})
      EXPECT_EQ(now.at(shared), alone[held].at(shared)) << shared;
    EXPECT_EQ(now.at(held + ".out"), alone[held].at(held + ".out"));
    EXPECT_EQ(now.at(other + ".out"), alone[other].at(other + ".out"));
    EXPECT_EQ(now.size(), 7u);  // two inputs, two listings, the shared three: no temporary file
  }
}

TEST(WholeOutputs, AStoppedOrPagelessRunLeavesNoResultOfAnEarlierRun) {
  setenv("SOURCE_DATE_EPOCH", kEpoch, 1);
  ScratchDir scratch;
  const fs::path dir = scratch.path();
  write_lines(dir / "good.inp", yig_input("YIG"));
  ASSERT_EQ(run_in(dir, "good.inp", true).status, 0);
  EXPECT_EQ(folder(dir).size(), 8u);  // input, listing, .cal, .ps, .svg, two CSV, JSON

  // Another input, the same plot file and listing: its crystal is too large for the
  // listing, and the stop says so.
  Lines huge = yig_input("YIG, crystal of 1e30 um");
  huge[4] = "0.14  0.14 1e30 150.  0.0";
  write_lines(dir / "huge.inp", huge);
  kaven::RunCommandResult r = run_in(dir, "huge.inp", true, [&](kaven::RunRequest& q) {
    q.output = dir / "good.out";
  });
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(mentions(r.messages, "the crystal radius of 1.0E+30 muemeter on the fifth input line"))
      << join_lines(r.messages);
  std::map<std::string, std::string> now = folder(dir);
  std::set<std::string> names;
  for (const auto& [name, text] : now) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"good.inp", "huge.inp", "good.out", "good-events.csv",
                                          "good.json"}));
  EXPECT_NE(now["good.json"].find("\"status\": \"stopped\""), std::string::npos);
  EXPECT_NE(now["good.out"].find("crystal radius of 1.0E+30"), std::string::npos);

  // A complete run whose events all stay below 0.01 drumin draws no page: the pages of
  // the earlier run go, its own calculated scan stays.
  ASSERT_EQ(run_in(dir, "good.inp", true).status, 0);
  Lines quiet = yig_input("YIG, nothing above drumin");
  quiet[5] = "-66.   16. 50  0  1e30 0.";
  write_lines(dir / "quiet.inp", quiet);
  r = run_in(dir, "quiet.inp", false, [&](kaven::RunRequest& q) { q.output = dir / "good.out"; });
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(r.outcome.result.plotted);
  EXPECT_FALSE(fs::exists(dir / "yig.ps"));
  EXPECT_FALSE(fs::exists(dir / "yig.svg"));
  EXPECT_TRUE(fs::exists(dir / "yig.cal"));
}

TEST(WholeOutputs, ALongRunIsAnnouncedBeforeItsWorkAndCanBeCancelled) {
  setenv("SOURCE_DATE_EPOCH", kEpoch, 1);
  ScratchDir scratch;
  const fs::path dir = scratch.path();
  // An ordinary run says nothing of its length.
  write_lines(dir / "short.inp", yig_input("YIG"));
  std::vector<std::string> notices;
  auto listen = [&](kaven::RunRequest& q) {
    q.notice = [&](const std::string& text) { notices.push_back(text); };
  };
  ASSERT_EQ(run_in(dir, "short.inp", false, listen).status, 0);
  EXPECT_TRUE(notices.empty());

  // 5 million steps times some thousand crossings: minutes of work, announced, shown in
  // the progress, and ended by the cancel flag as the desktop program's close ends it.
  write_lines(dir / "long.inp", yig_input("YIG, long", "-66.   -26. 125000  0  1. 0."));
  std::atomic<bool> cancel{false};
  std::vector<std::string> stages;
  const kaven::RunCommandResult r = run_in(dir, "long.inp", false, [&](kaven::RunRequest& q) {
    listen(q);
    q.cancel = &cancel;
    q.progress = [&](const kaven::RunProgress& p) {
      if (stages.empty() || stages.back() != p.stage) stages.emplace_back(p.stage);
      if (p.stage == "scan simulation (long)") cancel = true;
    };
  });
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_TRUE(notices[0].starts_with("This run is long: its scan sums 5000001 steps x ")) << notices[0];
  EXPECT_EQ(stages.back(), "scan simulation (long)");
  EXPECT_EQ(r.status, 3);
  const Lines listing = read_lines(dir / "long.out");
  const std::size_t said = find_prefix(listing, " This run is long:");
  ASSERT_LT(said, listing.size());
  EXPECT_EQ(listing.back(), " The run was cancelled.");
  EXPECT_FALSE(fs::exists(dir / "yig.cal"));  // the earlier run's scan does not stay either
}

TEST(WholeOutputs, TheSummaryGivesI0AsTheListingDoes) {
  setenv("SOURCE_DATE_EPOCH", kEpoch, 1);
  ScratchDir scratch;
  const fs::path dir = scratch.path();
  for (const char* f : {"yig.inp", "yig.dat", "yig-sim.inp"})
    fs::copy_file(source_path(std::string("examples/yig/") + f), dir / f);
  auto json_number = [](const std::string& json, const std::string& key, std::size_t nth = 0) {
    std::size_t at = json.find("\"" + key + "\": ");
    EXPECT_NE(at, std::string::npos) << key;
    at += key.size() + 4;
    if (json[at] == '[') ++at;
    for (std::size_t i = 0; i < nth; ++i) at = json.find(',', at) + 1;
    return std::stod(json.substr(at));
  };
  auto listed_i0 = [](const Lines& listing, const std::string& label) {
    const std::size_t i = find_prefix(listing, label);
    EXPECT_LT(i, listing.size()) << label;
    return i < listing.size() ? std::stod(listing[i].substr(listing[i].find(':') + 1)) : 0.0;
  };
  // CAD4 references: the estimate is of K-alpha1 alone; the listing gives both lines.
  ASSERT_NE(run_in(dir, "yig.inp", true).status, 1);
  std::string json = file_text(dir / "yig.json");
  const double both = listed_i0(read_lines(dir / "yig.out"), " I0(K-alpha1+2; counts * mm-2 * sec-1)");
  EXPECT_NEAR(json_number(json, "i0_counts_per_mm2_s"), both, 1e-4 * both);
  EXPECT_NEAR(json_number(json, "i0_kalpha_shares_counts_per_mm2_s", 0), both / 1.5, 1e-4 * both);
  EXPECT_NEAR(json_number(json, "i0_kalpha_shares_counts_per_mm2_s", 1), both / 3, 1e-4 * both);
  // The default I0 of a tube, per mm^2 as listed.
  ASSERT_EQ(run_in(dir, "yig-sim.inp", true).status, 0);
  json = file_text(dir / "yig-sim.json");
  EXPECT_EQ(json_number(json, "i0_counts_per_mm2_s"),
            listed_i0(read_lines(dir / "yig-sim.out"), " I0 (counts * mm-2 * sec-1)"));
  EXPECT_NE(json.find("\"i0_kalpha_shares_counts_per_mm2_s\": null"), std::string::npos);
}
