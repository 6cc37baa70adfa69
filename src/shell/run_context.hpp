// What the run driver carries through the phases of one run: the run record, the
// listing with its clock, the error stream and the run status.
//
// Checks anywhere below the driver end a run by throwing RunStopped (core/run_stop.hpp)
// with their message; the driver's phases may do the same through stop(). The driver
// alone catches the stop and lists it with list_stop, so that the message stands in the
// listing exactly where the run ended.
#pragma once
#include <initializer_list>
#include <ostream>
#include <string_view>

#include "core/run_stop.hpp"
#include "input/run_parameters.hpp"
#include "report/listing.hpp"

namespace kaven {

struct RunContext {
  RunContext(RunParameters& p, std::ostream& listing, std::ostream* errors = nullptr)
      : par(p), out(listing), err(errors), zeit(Zeit::from_environment()) {}

  RunParameters& par;
  Listing out;
  std::ostream* err;  // a copy of every stop message goes here (standard error)
  Zeit zeit;
  int ierr = 0;  // 0 success, >0 malformed value or failed opening, <0 end of file

  // Writes message records to the listing and copies their text, without the leading
  // blanks, to the error stream (blank records are not copied).
  void message(std::initializer_list<std::string_view> records);
  // Ends the run with the message records (the run status stays as it is).
  [[noreturn]] void stop(std::initializer_list<std::string_view> records);
  // The driver's end of a stop: lists its records and sets the run status it carries.
  void list_stop(const RunStopped& stop);
};

}  // namespace kaven
