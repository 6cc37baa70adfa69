// One run as the command line performs it: the caller's files checked, the listing opened,
// the run, the exports asked for beside the listing, and the exit status. The command-line
// program and the bindings for scripts call this same function, so that a run writes the
// same files whoever starts it.
#pragma once
#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "input/run_parameters.hpp"
#include "report/results_export.hpp"
#include "shell/run_driver.hpp"

namespace kaven {

struct RunCommandResult;

struct RunRequest {
  std::filesystem::path input;
  // The input as text instead of a file (a script builds it): `input` is then not read,
  // relative names in the text are taken from `folder`, and the listing is by default
  // `folder`/kaven.out (text_listing_name).
  std::optional<std::string> input_text;
  std::filesystem::path folder;
  std::filesystem::path output;  // the listing; empty: the input with the extension .out
  bool csv = false;              // OUTPUT-events.csv and OUTPUT-scan.csv
  bool json = false;             // OUTPUT.json
  int threads = 0;               // 0: all cores
  std::function<void(const RunProgress&)> progress;  // optional
  const std::atomic<bool>* cancel = nullptr;          // optional
  // Analysis beside the run (RunEnvironment::analysis); optional.
  std::function<void(const RunParameters&, RunResult&, Listing&)> analysis;
  // Optional: what the user should hear before the work is done (that the run will be
  // long), at once; without it such a text joins the messages.
  std::function<void(const std::string&)> notice;
  // Files the caller writes beside the run's (an energy map, the fit's files): checked
  // with the exports before the listing is opened, and kept apart from the files the
  // input names.
  std::vector<ExportFile> more_files;
  // Work after the run and before the exports (the energy plans), with the run's result
  // and the status the summary takes: it adds its messages and summary parts; false when
  // it failed (the status is then 1).
  std::function<bool(RunCommandResult&, RunStatus&)> after_run;
};

// Exit status of a run: 0 complete, 1 finished with an error (a malformed input value,
// a file that could not be opened or written), 3 stopped early with a message in the
// listing.
struct RunCommandResult {
  int status = 0;
  // What a status of 1 was about, for callers that tell the two apart (the Python module
  // raises OSError or InputError): a file or a value of the input. A file that could not
  // be opened is named in failed_file, with the system's error number (errno); a file
  // refused by the rules of run_files.hpp or not written whole only in the message.
  enum class Failure { none, file, input_value };
  Failure failure = Failure::none;
  std::string failed_file;
  int failed_errno = 0;
  // Messages for standard error, each without the program's name: the caller's files
  // refused, files that could not be written, what the run itself reported (stop
  // messages, passed-over records), in that order of occurrence.
  std::vector<std::string> messages;
  bool ran = false;  // the run itself took place (the listing was opened)
  std::filesystem::path listing;
  RunParameters par;
  RunNames names;
  RunOutcome outcome;
  RunStatus summary;  // what the summary says of the run besides its result
};

// The listing's name when none is given: the input with the extension .out.
std::filesystem::path default_listing_name(const std::filesystem::path& input);
// The listing's name of a run of an input text when none is given: kaven.out in the
// folder its relative names are taken from.
std::filesystem::path text_listing_name(const std::filesystem::path& folder);

// Every file a run writes is whole or absent (shell/output_file.hpp), and a run leaves
// under its names only files of its own: an earlier run's file under a name this run
// claimed but did not write is removed. Two runs writing the same names at once each
// write whole files; the one that finishes a file last leaves it.
RunCommandResult run_command(const RunRequest& request);

// Writes the exports asked for beside the listing and names them in result.files: the
// events CSV (the passes the run listed), the scan CSV (only when the run reached its
// end, so that every step holds a simulated value; an earlier run's scan CSV is removed
// otherwise) and, last, the summary that names them all. Returns a message for each file
// that could not be written (the name then keeps no file of an earlier run either).
std::vector<std::string> write_exports(const std::filesystem::path& listing, bool csv, bool json,
                                       const RunParameters& par, RunResult& result,
                                       const RunStatus& status);

}  // namespace kaven
