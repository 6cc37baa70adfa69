// One simulation run, from the input file to the listing, the calculated-scan file and
// the plot, in a fixed order of phases. Every check that fails ends the run with its
// message (RunStopped), which the driver lists; the work arrays of the run are released
// at every exit.
#pragma once
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "input/free_format.hpp"
#include "input/run_parameters.hpp"
#include "report/listing.hpp"
#include "shell/output_file.hpp"
#include "shell/run_context.hpp"
#include "shell/run_files.hpp"
#include "simulation/run_result.hpp"

namespace kaven {

// The three 72-character names the run shares with its caller.
struct RunNames {
  std::string dname2 = std::string(72, ' ');   // measured-scan file (in/out)
  std::string calname = std::string(72, ' ');  // calculated-scan file (out)
  std::string dname1 = std::string(72, ' ');   // PostScript plot file (out)
};

// The files the run opens; the caller closes them (by destroying this) after the run,
// whether or not they were opened. The files written are whole or absent: each is
// written to a temporary file beside its name and renamed over the name when complete
// (shell/output_file.hpp); what a run leaves uncommitted is discarded with this.
struct RunFiles {
  OutputFile plot;     // unit 7
  OutputFile svg;      // the SVG copy of the page
  std::ifstream scan;  // unit 11
  OutputFile cal;      // unit 12
};

enum class RunEnd {
  complete,  // every phase reached
  stopped,   // a check ended the run with a message in the listing
};

struct RunOutcome {
  int ierr = 0;  // 0 success, >0 malformed value or failed opening, <0 end of file
  RunEnd end = RunEnd::complete;
  std::vector<std::string> stop_message;  // the records of the stop, as listed
  // The file a stop was about (opened, read or written), as the run resolved its name;
  // unset when the stop was not about a file.
  std::optional<std::string> failed_file;
  int failed_errno = 0;  // errno of its failed opening, 0 when none was tried
  RunResult result;                       // what the run produced up to its end
};

// Progress of a long stage, for a progress bar: the stage's name and the fraction done
// (0..1). Called from the thread that runs the stage or from its worker threads, one
// call at a time.
struct RunProgress {
  std::string_view stage;
  double fraction;
};

struct RunEnvironment {
  std::filesystem::path base_dir;  // relative file names in the input are taken from here
  std::filesystem::path input;     // the input file, when the run reads one from a file
  std::filesystem::path listing;   // the print-output file, as the caller opened it (for the result)
  // The files the caller writes after the run (the exports), so that the run's own
  // outputs and the measured-scan file are kept apart from them (shell/run_files.hpp).
  std::vector<ExportFile> exports;
  std::ostream* errors = nullptr;  // stop messages are copied here (standard error)
  int threads = 0;                 // 0 all cores, 1 serial
  // The deliberately plain variants of the search and the scan (one thread, every
  // structure factor formed afresh), to measure and check the others against.
  bool plain = false;
  std::function<void(const RunProgress&)> progress;  // optional
  const std::atomic<bool>* cancel = nullptr;          // optional: set to end the run early
  // Analysis beside the run (the peak table, the fit of a measured scan): called once
  // the simulation has been compared with the measured scan, or would have been, before
  // the calculated-scan summary, with the run record (the crystal still read), the result
  // and the listing, where its sections follow the measured summary. The plot drawn
  // afterwards shows what it leaves in the result. Optional; a run without it writes
  // what it always wrote.
  std::function<void(const RunParameters&, RunResult&, Listing&)> analysis;
  // Optional: takes at once what the user should know before the work is done (that a
  // run will be long), instead of the error stream, which a caller may show only at
  // the end. The text is also in the listing.
  std::function<void(const std::string&)> notice;
};

// Performs one run. `input` is positioned at the first line of the input file and
// `listing` is the print output. The files the run writes are checked first
// (shell/run_files.hpp): a name the run may not write or read ends it with a message
// and the status of a failed opening.
RunOutcome kaven(RunParameters& par, RunNames& names, RunFiles& files, std::istream& input,
                 std::ostream& listing, const RunEnvironment& env);

// Stages of a run, for callers that prepare a crystal without the run's files (tests,
// benchmarks). read_crystal: input lines 3 to 9 and the centring expansion, after the
// title and the plot-file name. set_up_crystal: after lines 10 to 12, the geometry, the
// primary structure factor, the crystal-data listing and the absorption.
void read_crystal(RunContext& run, LineSource& src);
void set_up_crystal(RunContext& run, RunResult& result);

// The SVG copy of the plot: the plot file's name with the extension .svg in place of
// its own (added when it has none, and added to a plot file already named .svg).
std::filesystem::path svg_plot_name(const std::filesystem::path& plot);

// The calculated-scan file name from the scan-file name (when not blank) or the plot
// name: a fixed number of characters is removed whatever the real extension is.
std::string calculated_scan_name(const std::string& dname2, const std::string& dname1);

}  // namespace kaven
