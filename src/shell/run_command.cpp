#include "shell/run_command.hpp"

#include <cerrno>
#include <fstream>
#include <sstream>

#include "report/results_export.hpp"
#include "shell/output_file.hpp"
#include "shell/run_files.hpp"

namespace kaven {

namespace fs = std::filesystem;

namespace {

// The run's own error stream (stop messages, passed-over records) split into lines.
void append_lines(std::vector<std::string>& out, const std::string& text) {
  std::istringstream is(text);
  for (std::string line; std::getline(is, line);) {
    constexpr std::string_view prefix = "kaven: ";
    if (line.starts_with(prefix)) line.erase(0, prefix.size());
    out.push_back(line);
  }
}

// Removes an earlier run's file under a name this run could not write: the name was
// checked to hold kaven's own output of its kind (or nothing) before the run.
void remove_earlier(const fs::path& name) {
  std::error_code ec;
  if (fs::is_regular_file(name, ec)) fs::remove(name, ec);
}

// Writes one file whole through `body`, or leaves nothing under its name. Returns
// an empty string, or why the file could not be written.
template <class Body>
std::string write_whole(const fs::path& name, Body&& body) {
  OutputFile file;
  if (file.open(name)) {
    body(file.stream());
    if (file.commit()) return {};
  }
  remove_earlier(name);
  return "cannot write " + name.string() + ": " + file.error();
}

}  // namespace

std::vector<std::string> write_exports(const fs::path& listing, bool csv, bool json,
                                       const RunParameters& par, RunResult& result,
                                       const RunStatus& status) {
  std::vector<std::string> failed;
  const ExportPaths paths = export_paths(listing);
  auto write = [&](const fs::path& path, auto&& body) {
    const std::string why = write_whole(path, body);
    if (!why.empty()) failed.push_back(why);
    return why.empty();
  };
  if (csv) {
    if (write(paths.events_csv, [&](std::ostream& os) { write_events_csv(os, par, result); }))
      result.files.events_csv = paths.events_csv.string();
    if (!status.complete)
      remove_earlier(paths.scan_csv);  // no step of this run to list
    else if (write(paths.scan_csv, [&](std::ostream& os) { write_scan_csv(os, par, result); }))
      result.files.scan_csv = paths.scan_csv.string();
  }
  if (json) {
    // The summary names itself among the files written.
    result.files.summary_json = paths.summary_json.string();
    if (!write(paths.summary_json,
               [&](std::ostream& os) { write_summary_json(os, par, result, status); }))
      result.files.summary_json.clear();
  }
  return failed;
}

fs::path default_listing_name(const fs::path& input) {
  return fs::path(input).replace_extension(".out");
}

fs::path text_listing_name(const fs::path& folder) { return folder / "kaven.out"; }

RunCommandResult run_command(const RunRequest& request) {
  RunCommandResult r;
  const bool from_text = request.input_text.has_value();
  const fs::path input_path = from_text ? fs::path() : request.input;
  const fs::path output_path = !request.output.empty() ? request.output
                               : from_text             ? text_listing_name(request.folder)
                                                       : default_listing_name(input_path);
  r.listing = output_path;
  auto fail = [&r](RunCommandResult::Failure failure, std::string message, const fs::path& file,
                   int error_number = 0) {
    r.messages.push_back(std::move(message));
    r.status = 1;
    r.failure = failure;
    r.failed_file = file.string();
    r.failed_errno = error_number;
    return std::move(r);  // the caller returns at once
  };
  // The files this command writes besides those the input names; none may replace the
  // input file, another of them or a file kaven did not write (shell/run_files.hpp).
  std::vector<ExportFile> exports;
  const ExportPaths paths = export_paths(output_path);
  if (request.csv) {
    exports.push_back({paths.events_csv, FileRole::events_csv});
    exports.push_back({paths.scan_csv, FileRole::scan_csv});
  }
  if (request.json) exports.push_back({paths.summary_json, FileRole::summary_json});
  exports.insert(exports.end(), request.more_files.begin(), request.more_files.end());
  if (std::string refused = caller_file_refusal(input_path, output_path, exports); !refused.empty())
    return fail(RunCommandResult::Failure::file, refused + ": nothing written", fs::path());
  std::ifstream input_file;
  std::istringstream input_text;
  if (!from_text) {
    errno = 0;
    input_file.open(input_path);
    if (!input_file)
      return fail(RunCommandResult::Failure::file, "cannot open the input file " + input_path.string(),
                  input_path, errno);
  } else {
    input_text.str(*request.input_text);
  }
  std::istream& input = from_text ? static_cast<std::istream&>(input_text) : input_file;
  // The listing is renamed over its name when the run is over and it is whole.
  OutputFile listing(output_path);
  if (!listing.is_open())
    return fail(RunCommandResult::Failure::file,
                "cannot write the print-output file " + output_path.string() + ": " + listing.error(),
                output_path, listing.error_number());
  r.ran = true;
  {
    RunFiles files;
    RunEnvironment env;
    env.base_dir = from_text ? request.folder : input_path.parent_path();
    env.input = input_path;
    env.listing = output_path;
    env.exports = exports;
    env.threads = request.threads;
    env.progress = request.progress;
    env.cancel = request.cancel;
    env.analysis = request.analysis;
    std::ostringstream errors;
    env.errors = &errors;
    env.notice = request.notice;
    if (!env.notice)
      env.notice = [&errors](const std::string& text) { errors << "kaven: " << text << '\n'; };
    r.outcome = kaven(r.par, r.names, files, input, listing.stream(), env);
    append_lines(r.messages, errors.str());
  }
  r.summary.input_file = input_path.string();
  r.summary.complete = r.outcome.end == RunEnd::complete;
  r.summary.stop_message = r.outcome.stop_message;
  r.summary.ierr = r.outcome.ierr;
  if (!listing.commit()) {
    // No listing of an earlier run may stand for this one.
    remove_earlier(output_path);
    return fail(RunCommandResult::Failure::file, "the listing could not be written: " + listing.error(),
                output_path, listing.error_number());
  }
  const bool after_ok = !request.after_run || request.after_run(r, r.summary);
  if (request.csv || request.json) {
    const std::vector<std::string> failures =
        write_exports(output_path, request.csv, request.json, r.par, r.outcome.result, r.summary);
    if (!failures.empty()) {
      r.messages.insert(r.messages.end(), failures.begin(), failures.end() - 1);
      return fail(RunCommandResult::Failure::file, failures.back(), fs::path());
    }
  }
  if (r.outcome.ierr > 0) {
    const RunCommandResult::Failure failure = r.outcome.failed_file
                                                  ? RunCommandResult::Failure::file
                                                  : RunCommandResult::Failure::input_value;
    return fail(failure, "finished with an error, see " + output_path.string(),
                r.outcome.failed_file.value_or(std::string()), r.outcome.failed_errno);
  }
  if (!after_ok) {  // its messages are given
    r.status = 1;
    r.failure = RunCommandResult::Failure::file;
    return r;
  }
  r.status = r.outcome.end == RunEnd::stopped ? 3 : 0;
  return r;
}

}  // namespace kaven
