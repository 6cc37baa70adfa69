// How a check ends a run. The check throws RunStopped with the records of its message
// (blank records included, exactly as they are to be listed); only the run driver
// catches it, writes the records to the listing with a copy on standard error, sets the
// run status and returns to its caller. Code below the driver (input, crystal,
// scattering, simulation, scans) therefore writes nothing itself and never needs the
// listing to stop a run.
#pragma once
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kaven {

struct RunStopped {
  // The message, record by record.
  std::vector<std::string> records;
  // The run status the stop sets: the outcome of a failed read, 1 for a file that could
  // not be opened. Empty for every other check: the status of the last read stands.
  std::optional<int> status;
  // The file the stop is about when one could not be opened, read or written (its name
  // as the run resolved it, blank when the input gave none); unset for every other
  // check, so that a caller can tell a file's failure from a value's.
  std::optional<std::string> file;
  int error_number = 0;  // the system's error number (errno) of a failed opening, or 0
};

// Ends the run with the message records; `status` as above.
[[noreturn]] inline void stop_run(std::initializer_list<std::string_view> records,
                                  std::optional<int> status = std::nullopt) {
  RunStopped stop;
  stop.records.assign(records.begin(), records.end());
  stop.status = status;
  throw stop;
}

[[noreturn]] inline void stop_run(std::vector<std::string> records,
                                  std::optional<int> status = std::nullopt) {
  throw RunStopped{std::move(records), status, std::nullopt, 0};
}

}  // namespace kaven
