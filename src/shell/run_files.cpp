#include "shell/run_files.hpp"

#include <fstream>

#include "input/input_writer.hpp"
#include "plot/postscript_plotter.hpp"
#include "plot/svg_plotter.hpp"
#include "report/fit_report.hpp"
#include "report/energy_map_export.hpp"
#include "report/listing.hpp"
#include "report/results_export.hpp"
#include "report/run_summary.hpp"

namespace kaven {

namespace fs = std::filesystem;

namespace {

bool is_folder(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

std::string_view kind_of_output(FileRole role) {
  switch (role) {
    case FileRole::listing: return "a listing";
    case FileRole::plot: return "a PostScript plot";
    case FileRole::plot_svg: return "an SVG plot";
    case FileRole::calculated_scan: return "a calculated scan";
    case FileRole::events_csv: return "an events table";
    case FileRole::scan_csv: return "a scan table";
    case FileRole::summary_json: return "a run summary";
    case FileRole::fit_json: return "a fit summary";
    case FileRole::refined_input: return "an input file";
    case FileRole::converted_input: return "an input file";
    case FileRole::map_csv: return "an energy-map table";
    case FileRole::map_plot: return "a PostScript energy map";
    case FileRole::map_svg: return "an SVG energy map";
    case FileRole::escan_csv: return "an energy-scan table";
    case FileRole::escan_svg: return "an SVG energy scan";
    default: return "an output";
  }
}

bool starts_as(std::istream& is, FileRole role) {
  switch (role) {
    case FileRole::listing: return starts_as_kaven_listing(is);
    case FileRole::plot: return starts_as_kaven_postscript(is);
    case FileRole::plot_svg: return starts_as_kaven_svg(is);
    case FileRole::calculated_scan: return holds_calculated_scan(is);
    case FileRole::events_csv: return starts_as_kaven_export(is, ExportKind::events_csv);
    case FileRole::scan_csv: return starts_as_kaven_export(is, ExportKind::scan_csv);
    case FileRole::summary_json: return starts_as_kaven_export(is, ExportKind::summary_json);
    case FileRole::fit_json: return starts_as_kaven_fit_json(is);
    case FileRole::refined_input: return starts_as_kaven_input(is);
    case FileRole::converted_input: return starts_as_kaven_input(is);
    case FileRole::map_csv: return starts_as_kaven_map_csv(is);
    case FileRole::map_plot: return starts_as_kaven_postscript(is);
    case FileRole::map_svg: return starts_as_kaven_svg(is);
    case FileRole::escan_csv: return starts_as_kaven_escan_csv(is);
    case FileRole::escan_svg: return starts_as_kaven_svg(is);
    default: return false;
  }
}

}  // namespace

std::string_view role_name(FileRole role) {
  switch (role) {
    case FileRole::input: return "the input file";
    case FileRole::measured_scan: return "the measured-scan file";
    case FileRole::listing: return "the print-output file";
    case FileRole::plot: return "the plot file";
    case FileRole::plot_svg: return "the SVG copy of the plot";
    case FileRole::calculated_scan: return "the calculated-scan file";
    case FileRole::events_csv: return "the events table";
    case FileRole::scan_csv: return "the scan table";
    case FileRole::summary_json: return "the run summary";
    case FileRole::fit_json: return "the fit summary";
    case FileRole::refined_input: return "the refined input";
    case FileRole::converted_input: return "the new input file";
    case FileRole::map_csv: return "the energy-map table";
    case FileRole::map_plot: return "the energy-map page";
    case FileRole::map_svg: return "the SVG copy of the energy-map page";
    case FileRole::escan_csv: return "the energy-scan table";
    case FileRole::escan_svg: return "the energy-scan plot";
  }
  return "a file";
}

bool same_file(const fs::path& a, const fs::path& b) {
  std::error_code ea, eb;
  if (fs::exists(a, ea) && fs::exists(b, eb)) return fs::equivalent(a, b, ea);
  // A file that does not exist yet: the resolved names decide (weakly_canonical
  // resolves the part of each name that exists, links included).
  const fs::path ca = fs::weakly_canonical(fs::absolute(a, ea), ea);
  const fs::path cb = fs::weakly_canonical(fs::absolute(b, eb), eb);
  return !ea && !eb && ca == cb;
}

bool replaceable_by(const fs::path& file, FileRole role) {
  std::error_code ec;
  const fs::file_status st = fs::status(file, ec);
  if (!fs::exists(st)) return true;
  if (!fs::is_regular_file(st)) return false;
  if (fs::file_size(file, ec) == 0 && !ec) return true;
  std::ifstream is(file, std::ios::binary);
  return is && starts_as(is, role);
}

void RunFileGuard::add(const fs::path& file, FileRole role) {
  if (!file.empty()) files_.push_back({file, role});
}

std::string RunFileGuard::conflict(const fs::path& file) const {
  for (const Entry& e : files_)
    if (same_file(file, e.file)) return "is " + std::string(role_name(e.role)) + " of this run";
  return {};
}

std::string RunFileGuard::read(const fs::path& file, FileRole role) {
  if (is_folder(file)) return "is a folder, not a file";
  // A device or a pipe may never end a line or the file (/dev/zero, a FIFO): a run
  // reads files.
  std::error_code ec;
  const fs::file_status st = fs::status(file, ec);
  if (fs::exists(st) && !fs::is_regular_file(st)) return "is not a regular file";
  if (std::string why = conflict(file); !why.empty()) return why;
  add(file, role);
  return {};
}

std::string RunFileGuard::write(const fs::path& file, FileRole role) {
  if (file.empty() || !file.has_filename()) return "is no file name";
  if (is_folder(file)) return "is a folder, not a file";
  if (std::string why = conflict(file); !why.empty()) return why;
  if (!replaceable_by(file, role))
    return "exists and is not " + std::string(kind_of_output(role)) + " written by kaven";
  add(file, role);
  return {};
}

std::string caller_file_refusal(const fs::path& input, const fs::path& listing,
                                const std::vector<ExportFile>& exports) {
  RunFileGuard guard;
  if (!input.empty())
    if (std::string why = guard.read(input, FileRole::input); !why.empty())
      return input.string() + " " + why;
  if (std::string why = guard.write(listing, FileRole::listing); !why.empty())
    return listing.string() + " " + why;
  for (const ExportFile& e : exports)
    if (std::string why = guard.write(e.file, e.role); !why.empty())
      return e.file.string() + " " + why;
  return {};
}

std::string conversion_file_refusal(const fs::path& cif, const fs::path& input,
                                    const std::string& plot_file, const std::string& scan_file) {
  std::error_code ec;
  if (is_folder(cif)) return cif.string() + " is a folder, not a CIF";
  if (fs::exists(cif, ec) && !fs::is_regular_file(cif, ec))
    return cif.string() + " is not a regular file";  // a device or a pipe may never end
  if (input.empty() || !input.has_filename() || is_folder(input))
    return input.string() + " is a folder, not a file";
  if (fs::exists(input, ec) && !fs::is_regular_file(input, ec))
    return input.string() + " is not a regular file";  // /dev/null would swallow the input
  if (same_file(input, cif)) return input.string() + " is the CIF itself";
  if (!replaceable_by(input, FileRole::converted_input))
    return input.string() + " exists and is not an input file written by kaven (or it was changed since)";
  // The names of lines 2 and 12, as the run will take them.
  const fs::path folder = input.parent_path();
  if (!plot_file.empty() && same_file(folder / plot_file, input))
    return input.string() + " is also the plot file the input names";
  if (!scan_file.empty() && same_file(folder / scan_file, input))
    return input.string() + " is also the measured-scan file the input names";
  if (!plot_file.empty() && !scan_file.empty() && same_file(folder / plot_file, folder / scan_file))
    return (folder / scan_file).string() + " is both the plot file and the measured-scan file";
  return {};
}

}  // namespace kaven
