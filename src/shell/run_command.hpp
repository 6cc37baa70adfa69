// One run as the command line performs it: the caller's files checked, the listing opened,
// the run, the exports asked for beside the listing, and the exit status. The command-line
// program and the bindings for scripts call this same function, so that a run writes the
// same files whoever starts it.
#pragma once
#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "input/run_parameters.hpp"
#include "shell/run_driver.hpp"

namespace kaven {

struct RunRequest {
  std::filesystem::path input;
  std::filesystem::path output;  // the listing; empty: the input with the extension .out
  bool csv = false;              // OUTPUT-events.csv and OUTPUT-scan.csv
  bool json = false;             // OUTPUT.json
  int threads = 0;               // 0: all cores
  std::function<void(const RunProgress&)> progress;  // optional
  const std::atomic<bool>* cancel = nullptr;          // optional
};

// Exit status of a run: 0 complete, 1 finished with an error (a malformed input value,
// a file that could not be opened or written), 3 stopped early with a message in the
// listing.
struct RunCommandResult {
  int status = 0;
  // Messages for standard error, each without the program's name: the caller's files
  // refused, files that could not be written, what the run itself reported (stop
  // messages, passed-over records), in that order of occurrence.
  std::vector<std::string> messages;
  bool ran = false;  // the run itself took place (the listing was opened)
  std::filesystem::path listing;
  RunParameters par;
  RunNames names;
  RunOutcome outcome;
};

// The listing's name when none is given: the input with the extension .out.
std::filesystem::path default_listing_name(const std::filesystem::path& input);

RunCommandResult run_command(const RunRequest& request);

}  // namespace kaven
