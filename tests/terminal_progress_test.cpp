// The progress bar of the command line: silent when standard error is no terminal and
// during the first second, then one line redrawn in place, cleared at the end.
#include "shell/terminal_progress.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using kaven::RunProgress;
using kaven::TerminalProgress;
using namespace std::chrono_literals;

// A clock the test moves by hand.
struct FakeClock {
  TerminalProgress::Clock::time_point t{};
  std::function<TerminalProgress::Clock::time_point()> fn() {
    return [this] { return t; };
  }
};

TEST(TerminalProgress, TheBarLineShowsStageFractionAndPercent) {
  struct Case {
    const char* stage;
    double fraction;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"event search", 0.0, "kaven: event search      [------------------------------]   0%"},
      {"event search", 0.47, "kaven: event search      [##############----------------]  47%"},
      {"scan simulation", 1.0, "kaven: scan simulation   [##############################] 100%"},
      // out of range or not a number: held within the bar
      {"scan simulation", 1.5, "kaven: scan simulation   [##############################] 100%"},
      {"event search", -0.2, "kaven: event search      [------------------------------]   0%"},
      {"event search", std::nan(""), "kaven: event search      [------------------------------]   0%"},
  };
  for (const Case& c : cases) EXPECT_EQ(TerminalProgress::line(c.stage, c.fraction), c.expected);
}

TEST(TerminalProgress, DrawsOnlyOnATerminalAfterTheDelayAndClearsTheLine) {
  // Not a terminal: nothing at any time.
  {
    std::ostringstream os;
    FakeClock clock;
    TerminalProgress p(os, false, {}, clock.fn());
    clock.t += 5s;
    p.report({"event search", 0.5});
    p.finish();
    EXPECT_EQ(os.str(), "");
  }
  // A run of less than a second: nothing.
  {
    std::ostringstream os;
    FakeClock clock;
    {
      TerminalProgress p(os, true, {}, clock.fn());
      for (double f : {0.1, 0.5, 1.0}) {
        clock.t += 300ms;
        p.report({"event search", f});
      }
    }
    EXPECT_EQ(os.str(), "");
  }
  // A long run: drawn after one second, redrawn at most every 100 ms unless the stage
  // changes, cleared at the end with blanks over the widest line drawn.
  {
    std::ostringstream os;
    FakeClock clock;
    TerminalProgress p(os, true, {}, clock.fn());
    clock.t += 900ms;
    p.report({"event search", 0.10});  // too early
    clock.t += 200ms;
    p.report({"event search", 0.20});  // drawn
    clock.t += 50ms;
    p.report({"event search", 0.30});  // too soon after the last
    p.report({"scan simulation", 0.0});  // a new stage: drawn at once
    clock.t += 150ms;
    p.report({"scan simulation", 0.001});  // the same percent: not drawn again
    p.report({"scan simulation", 0.5});
    p.finish();
    p.finish();  // once only
    const std::string blank(TerminalProgress::line("scan simulation", 0).size(), ' ');
    EXPECT_EQ(os.str(), "\r" + TerminalProgress::line("event search", 0.2) + "\r" +
                            TerminalProgress::line("scan simulation", 0.0) + "\r" +
                            TerminalProgress::line("scan simulation", 0.5) + "\r" + blank + "\r");
  }
}

}  // namespace
