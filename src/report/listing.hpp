// The print-output listing and the run's one message path.
//
// A listing is a sequence of records (lines). Every check of a run that fails writes
// its message records here through RunContext::stop, which ends the run: the driver
// catches the stop, releases the run's work arrays and returns to the caller.
#pragma once
#include <chrono>
#include <ctime>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "input/run_parameters.hpp"

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

// Date block and elapsed-time lines. With SOURCE_DATE_EPOCH set the instant printed is
// that one (in UTC) and elapsed times print as zero, so whole listings compare.
class Zeit {
 public:
  static Zeit from_environment();
  explicit Zeit(std::optional<std::time_t> fixed_epoch = std::nullopt) : fixed_(fixed_epoch) {}
  // First call of a run: the date block; later calls: an elapsed-time line.
  void operator()(Listing& out);

 private:
  struct Now {
    int day, month, year, hour, minute, second;
    double clock_s;
  };
  Now now() const;
  void write_date_block(Listing& out, const Now& n);
  std::optional<std::time_t> fixed_;
  bool first_ = true;
  int start_day_ = 0;
  long start_seconds_ = 0;
  double start_clock_ = 0;
};

// Thrown by RunContext::stop and caught by the run driver only.
struct RunStopped {};

struct RunContext {
  RunContext(RunParameters& p, std::ostream& listing, std::ostream* errors = nullptr)
      : par(p), out(listing), err(errors), zeit(Zeit::from_environment()) {}

  RunParameters& par;
  Listing out;
  std::ostream* err;  // a copy of every stop message goes here (standard error)
  Zeit zeit;
  int ierr = 0;                // 0 success, >0 malformed value or failed opening, <0 end of file
  bool element_error = false;  // set by the scattering routines
  std::vector<std::string> stop_records;  // the records of the stop that ended the run

  // Writes message records to the listing and copies them to the error stream.
  void message(std::initializer_list<std::string_view> records);
  // Writes the message records and ends the run.
  [[noreturn]] void stop(std::initializer_list<std::string_view> records);
};

}  // namespace kaven
