// The print-output listing: a sequence of records (lines), and the date block and
// elapsed-time lines of a run.
#pragma once
#include <chrono>
#include <ctime>
#include <istream>
#include <optional>
#include <ostream>
#include <string_view>

namespace kaven {

class Listing {
 public:
  explicit Listing(std::ostream& os) : os_(os) {}
  void record(std::string_view text) { os_ << text << '\n'; }
  void blank(int n = 1) {
    for (int i = 0; i < n; ++i) os_ << '\n';
  }
  std::ostream& stream() { return os_; }

 private:
  std::ostream& os_;
};

// The first record of every listing: the program's banner.
inline constexpr std::string_view kBannerRecord = "                              ****  KAVEN-99  ****";
// Whether a file starts with that record (a listing kaven may replace).
bool starts_as_kaven_listing(std::istream& is);

// Date block and elapsed-time lines. With SOURCE_DATE_EPOCH set the instant printed is
// that one (in UTC) and elapsed times print as zero, so whole listings compare.
class Zeit {
 public:
  static Zeit from_environment();
  explicit Zeit(std::optional<std::time_t> fixed_epoch = std::nullopt) : fixed_(fixed_epoch) {}
  // First call of a run: the date block; later calls: an elapsed-time line.
  void operator()(Listing& out);

  // The calendar date and time this clock shows (the fixed instant in UTC, or the local
  // time now) and a steady clock reading in seconds (0 for the fixed instant). The plot
  // shows the same date and time as the listing.
  struct Now {
    int day, month, year, hour, minute, second;
    double clock_s;
  };
  Now now() const;
  // Whether the instant is fixed (SOURCE_DATE_EPOCH): elapsed times then print as zero.
  bool fixed() const { return fixed_.has_value(); }

 private:
  void write_date_block(Listing& out, const Now& n);
  std::optional<std::time_t> fixed_;
  bool first_ = true;
  int start_day_ = 0;
  long start_seconds_ = 0;
  double start_clock_ = 0;
};

}  // namespace kaven
