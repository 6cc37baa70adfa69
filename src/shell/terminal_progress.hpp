// The progress of a long run as a bar on a terminal (standard error of the command
// line): the stage the run reports and the fraction of it done,
//   kaven: event search     [##############----------------]  47%
// drawn over itself with a carriage return. Nothing is drawn when the stream is no
// terminal (a listing or a test that captures standard error stays clean), nor before
// the run has lasted `delay` (a short run shows nothing), and the line is cleared at the
// end. Redrawn when the stage or the whole percent changes, at most every `interval`.
#pragma once
#include <chrono>
#include <functional>
#include <ostream>
#include <string>

#include "shell/run_driver.hpp"

namespace kaven {

// When the bar appears, and how often it is redrawn at most.
struct ProgressTiming {
  std::chrono::steady_clock::duration delay = std::chrono::seconds(1);
  std::chrono::steady_clock::duration interval = std::chrono::milliseconds(100);
};

class TerminalProgress {
 public:
  using Clock = std::chrono::steady_clock;
  using Timing = ProgressTiming;
  // `now` is the clock (replaceable for tests); the run starts at construction.
  TerminalProgress(std::ostream& os, bool terminal, Timing timing = {},
                   std::function<Clock::time_point()> now = Clock::now);
  ~TerminalProgress();
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  // The hook of RunEnvironment::progress (called one call at a time).
  void report(const RunProgress& progress);
  // Clears the bar if one is drawn; also done by the destructor.
  void finish();

  static constexpr int kBarWidth = 30;
  // The line of the bar, without the carriage return.
  static std::string line(std::string_view stage, double fraction);

 private:
  std::ostream& os_;
  bool terminal_;
  Timing timing_;
  std::function<Clock::time_point()> now_;
  Clock::time_point start_, last_draw_{};
  std::string stage_;
  int percent_ = -1;
  std::size_t drawn_width_ = 0;  // 0: nothing on the line
};

}  // namespace kaven
