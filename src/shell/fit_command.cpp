#include "shell/fit_command.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "core/fixed_text.hpp"
#include "input/input_writer.hpp"
#include "report/fit_report.hpp"
#include "scans/measured_scan.hpp"
#include "shell/output_file.hpp"
#include "shell/run_files.hpp"

namespace kaven {

namespace fs = std::filesystem;

namespace {

std::string trimmed(std::string_view s) {
  s = rec::rtrim(s);
  const std::size_t b = s.find_first_not_of(' ');
  return b == std::string_view::npos ? std::string() : std::string(s.substr(b));
}

// The fitted curve for the plot: over the measured span of the scan only.
std::vector<float> overlay(const ScanFitSolution& s, const std::vector<MeasuredPoint>& pts) {
  std::vector<float> y(s.fitted_steps.size(), kNoMeasurement);
  if (pts.empty()) return y;
  const auto first = static_cast<std::size_t>(pts.front().step);
  const auto last = static_cast<std::size_t>(pts.back().step);
  for (std::size_t i = first; i <= last && i < y.size(); ++i) y[i] = static_cast<float>(s.fitted_steps[i]);
  return y;
}

// The input file's text (no input of a run is larger than a few megabytes).
bool read_text_file(const fs::path& path, std::string& text) {
  std::ifstream is(path, std::ios::binary);
  if (!is) return false;
  std::ostringstream os;
  os << is.rdbuf();
  text = os.str();
  return static_cast<bool>(is) || is.eof();
}

// `target` named from the folder `from`, as written (links are not followed: a measured
// scan linked into the folder stays that link, and the calculated scan the refined run
// writes beside it stays in the folder): relative when the two share a root, else
// absolute.
std::string name_from(const fs::path& target, const fs::path& from) {
  std::error_code ec;
  const fs::path t = fs::absolute(target, ec).lexically_normal();
  const fs::path f = fs::absolute(from, ec).lexically_normal();
  const fs::path rel = t.lexically_relative(f);
  return rel.empty() ? t.string() : rel.string();
}

// A refined input an earlier fit left, removed when this fit wrote none (unless someone
// changed it since: then it is theirs).
void remove_stale(const fs::path& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return;
  std::ifstream is(path, std::ios::binary);
  if (is && starts_as_kaven_input(is)) {
    is.close();
    fs::remove(path, ec);
  }
}

}  // namespace

FitPaths fit_paths(const fs::path& listing) {
  const fs::path dir = listing.parent_path();
  const std::string stem = listing.stem().string();
  return {dir / (stem + "-fit.json"), dir / (stem + "-fit.inp"), dir / (stem + "-fit.ps")};
}

std::vector<std::string> write_fit_files(const fs::path& listing, const fs::path& input,
                                         const RunParameters& par, const ScanFitResult& fit,
                                         AnalysisResult& written) {
  std::vector<std::string> failed;
  const FitPaths paths = fit_paths(listing);
  auto refused = [&](const fs::path& p, FileRole role) -> std::string {
    if (same_file(p, input) || same_file(p, listing)) return p.string() + " is a file of the run";
    if (!replaceable_by(p, role))
      return p.string() + " exists and is not " + std::string(role_name(role)) + " kaven wrote";
    return {};
  };

  bool refined = false;
  if (fit.ok) {
    std::string text, why;
    if (!read_text_file(input, text)) {
      why = "the input file " + input.string() + " could not be read again";
    } else if (why = refused(paths.refined_input, FileRole::refined_input); why.empty()) {
      const fs::path dir = paths.refined_input.parent_path().empty() ? fs::path(".") : paths.refined_input.parent_path();
      const fs::path scan = input.parent_path() / trimmed(par.dname2);
      const InputEditResult edit =
          refined_input_text(text, par, fit, paths.refined_plot.filename().string(), name_from(scan, dir));
      if (!edit.error.empty()) why = "no refined input: " + edit.error;
      else if (std::string e = write_file_atomically(paths.refined_input, edit.text); !e.empty())
        why = "cannot write " + paths.refined_input.string() + ": " + e;
      else refined = true;
    }
    if (!why.empty()) failed.push_back(why);
  }
  if (refined) written.refined_input = paths.refined_input;
  else remove_stale(paths.refined_input);

  if (std::string why = refused(paths.json, FileRole::fit_json); !why.empty()) {
    failed.push_back(why);
  } else {
    std::ostringstream os;
    write_fit_json(os, par, fit, {input.string(), refined ? paths.refined_input.string() : std::string()});
    if (std::string e = write_file_atomically(paths.json, os.str()); !e.empty())
      failed.push_back("cannot write " + paths.json.string() + ": " + e);
    else
      written.fit_json = paths.json;
  }
  return failed;
}

AnalysisResult analysis_command(const AnalysisRequest& request) {
  AnalysisResult out;
  RunRequest run = request.run;
  const fs::path listing = run.output.empty() ? default_listing_name(run.input) : run.output;
  const FitPaths paths = fit_paths(listing);
  if (request.fit) {
    run.more_files.push_back({paths.json, FileRole::fit_json});
    run.more_files.push_back({paths.refined_input, FileRole::refined_input});
  }
  std::string not_made;  // why the analysis asked for could not be made
  run.analysis = [&](const RunParameters& par, RunResult& result, Listing& lst) {
    if (request.fit) {
      FitOptions o = request.options;
      o.threads = run.threads;
      o.cancel = run.cancel;
      if (run.progress)
        o.progress = [&run](const FitProgress& p) {
          run.progress({p.stage, p.max_iterations > 0 ? std::min(1.0, double(p.iteration) / p.max_iterations) : 0.0});
        };
      out.fit = fit_measured_scan(par, result, o);
      // The fit's time is an elapsed time: zero with a fixed instant, as the listing's.
      if (Zeit::from_environment().fixed()) out.fit->seconds = 0;
      list_fit(lst, par, *out.fit);
      if (out.fit->ok) {
        const ScanFitSolution& s = written_solution(*out.fit);
        result.fitted = overlay(s, out.fit->points);
        result.fitted_r = static_cast<float>(s.quality.r);
      } else {
        not_made = "the fit failed: " + out.fit->message + "; no refined input written";
      }
    } else if (request.index) {
      if (!result.measured.present) {
        lst.blank(2);
        lst.record(" No peak table: the run has no measured scan.");
        not_made = "no peak table: the run has no measured scan";
        return;
      }
      out.peaks = index_measured_scan(par, result, run.threads);
      list_peak_table(lst, par, *out.peaks);
    }
  };
  out.run = run_command(run);
  if (!out.run.ran || out.run.status == 1) return out;
  if (request.fit && out.fit) {
    for (const std::string& m :
         write_fit_files(out.run.listing, run.input, out.run.par, *out.fit, out)) {
      out.run.messages.push_back(m);
      out.run.status = 1;
    }
  }
  if (!not_made.empty()) {
    out.run.messages.push_back(not_made);
    if (out.run.status == 0) out.run.status = 3;
  }
  return out;
}

}  // namespace kaven
