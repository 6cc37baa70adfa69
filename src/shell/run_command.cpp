#include "shell/run_command.hpp"

#include <fstream>
#include <sstream>

#include "report/results_export.hpp"
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

}  // namespace

fs::path default_listing_name(const fs::path& input) {
  return fs::path(input).replace_extension(".out");
}

RunCommandResult run_command(const RunRequest& request) {
  RunCommandResult r;
  const fs::path& input_path = request.input;
  const fs::path output_path =
      request.output.empty() ? default_listing_name(input_path) : request.output;
  r.listing = output_path;
  // The files this command writes besides those the input names; none may replace the
  // input file, another of them or a file kaven did not write (shell/run_files.hpp).
  std::vector<ExportFile> exports;
  const ExportPaths paths = export_paths(output_path);
  if (request.csv) {
    exports.push_back({paths.events_csv, FileRole::events_csv});
    exports.push_back({paths.scan_csv, FileRole::scan_csv});
  }
  if (request.json) exports.push_back({paths.summary_json, FileRole::summary_json});
  if (std::string refused = caller_file_refusal(input_path, output_path, exports);
      !refused.empty()) {
    r.messages.push_back(refused + ": nothing written");
    r.status = 1;
    return r;
  }
  std::ifstream input(input_path);
  if (!input) {
    r.messages.push_back("cannot open the input file " + input_path.string());
    r.status = 1;
    return r;
  }
  std::ofstream listing(output_path, std::ios::out | std::ios::trunc);
  if (!listing) {
    r.messages.push_back("cannot write the print-output file " + output_path.string());
    r.status = 1;
    return r;
  }
  r.ran = true;
  {
    RunFiles files;
    RunEnvironment env;
    env.base_dir = input_path.parent_path();
    env.input = input_path;
    env.listing = output_path;
    env.exports = exports;
    env.threads = request.threads;
    env.progress = request.progress;
    env.cancel = request.cancel;
    std::ostringstream errors;
    env.errors = &errors;
    r.outcome = kaven(r.par, r.names, files, input, listing, env);
    append_lines(r.messages, errors.str());
  }
  listing.flush();
  if (!listing) {
    r.messages.push_back("writing " + output_path.string() + " failed");
    r.status = 1;
    return r;
  }
  if (request.csv || request.json) {
    RunStatus status;
    status.input_file = input_path.string();
    status.complete = r.outcome.end == RunEnd::complete;
    status.stop_message = r.outcome.stop_message;
    status.ierr = r.outcome.ierr;
    const std::vector<std::string> failures =
        write_exports(output_path, request.csv, request.json, r.par, r.outcome.result, status);
    if (!failures.empty()) {
      r.messages.insert(r.messages.end(), failures.begin(), failures.end());
      r.status = 1;
      return r;
    }
  }
  if (r.outcome.ierr > 0) {
    r.messages.push_back("finished with an error, see " + output_path.string());
    r.status = 1;
    return r;
  }
  r.status = r.outcome.end == RunEnd::stopped ? 3 : 0;
  return r;
}

}  // namespace kaven
