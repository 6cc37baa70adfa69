#include "shell/run_command.hpp"

#include <cerrno>
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
  errno = 0;
  std::ofstream listing(output_path, std::ios::out | std::ios::trunc);
  if (!listing)
    return fail(RunCommandResult::Failure::file, "cannot write the print-output file " + output_path.string(),
                output_path, errno);
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
    std::ostringstream errors;
    env.errors = &errors;
    r.outcome = kaven(r.par, r.names, files, input, listing, env);
    append_lines(r.messages, errors.str());
  }
  r.summary.input_file = input_path.string();
  r.summary.complete = r.outcome.end == RunEnd::complete;
  r.summary.stop_message = r.outcome.stop_message;
  r.summary.ierr = r.outcome.ierr;
  listing.flush();
  if (!listing)
    return fail(RunCommandResult::Failure::file, "writing " + output_path.string() + " failed", output_path);
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
  r.status = r.outcome.end == RunEnd::stopped ? 3 : 0;
  return r;
}

}  // namespace kaven
