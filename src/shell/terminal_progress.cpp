#include "shell/terminal_progress.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kaven {

TerminalProgress::TerminalProgress(std::ostream& os, bool terminal, Timing timing,
                                   std::function<Clock::time_point()> now)
    : os_(os), terminal_(terminal), timing_(timing), now_(std::move(now)), start_(now_()) {}

TerminalProgress::~TerminalProgress() { finish(); }

std::string TerminalProgress::line(std::string_view stage, double fraction) {
  const double f = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
  const int filled = static_cast<int>(std::floor(f * kBarWidth + 1e-9));
  std::string s = "kaven: ";
  s += stage;
  if (s.size() < 24) s.append(24 - s.size(), ' ');
  s += " [";
  s.append(static_cast<std::size_t>(filled), '#');
  s.append(static_cast<std::size_t>(kBarWidth - filled), '-');
  char pct[8];
  std::snprintf(pct, sizeof pct, "] %3d%%", static_cast<int>(std::floor(f * 100 + 1e-9)));
  return s + pct;
}

void TerminalProgress::report(const RunProgress& progress) {
  if (!terminal_) return;
  const Clock::time_point t = now_();
  if (t - start_ < timing_.delay) return;
  const double f = std::isfinite(progress.fraction) ? std::clamp(progress.fraction, 0.0, 1.0) : 0.0;
  const int percent = static_cast<int>(std::floor(f * 100 + 1e-9));
  const bool new_stage = progress.stage != stage_;
  if (!new_stage && (percent == percent_ || (drawn_width_ > 0 && t - last_draw_ < timing_.interval)))
    return;
  stage_ = progress.stage;
  percent_ = percent;
  last_draw_ = t;
  std::string s = line(stage_, f);
  const std::size_t width = s.size();
  // a shorter line than the last covers its end with blanks
  if (width < drawn_width_) s.append(drawn_width_ - width, ' ');
  os_ << '\r' << s << std::flush;
  drawn_width_ = std::max(drawn_width_, width);
}

void TerminalProgress::finish() {
  if (drawn_width_ == 0) return;
  os_ << '\r' << std::string(drawn_width_, ' ') << '\r' << std::flush;
  drawn_width_ = 0;
}

}  // namespace kaven
