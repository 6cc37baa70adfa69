// Which files a run may write, so that no run destroys data.
//
// A run reads the input file and, when line 12 names one, the measured-scan file. It
// writes the listing (named by its caller), the plot and its SVG copy (named on line 2),
// the calculated scan (named after the scan or the plot file) and, when asked, the
// exports beside the listing. Files are compared as the system resolves them (symbolic
// and hard links, "..", relative and absolute spellings), never by how they are spelt:
//  - no output is the input file, the measured-scan file or another output of the run;
//  - a folder is neither read nor written as a file;
//  - an output replaces an existing file only when that file is empty or is kaven's own
//    output of the same kind, recognised by its first lines: a listing beginning with
//    kaven's banner, a PostScript plot with kaven's prolog, an SVG page with kaven's
//    document head, a calculated scan whose lines are psi and intensity in their two
//    columns, an export with its header row or the summary's opening, the fit's JSON
//    file with its opening, a refined input with the mark on its title line.
// So wherever the names in an input file point, its run replaces no unrelated file.
#pragma once
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kaven {

enum class FileRole {
  input,  // read
  measured_scan,  // read
  listing,
  plot,
  plot_svg,
  calculated_scan,
  events_csv,
  scan_csv,
  summary_json,
  fit_json,       // the fit's results (OUTPUT-fit.json)
  refined_input,  // the input with the fitted values (OUTPUT-fit.inp)
  converted_input,  // an input file written from a CIF
  map_csv,    // the energy map's table
  map_plot,   // its PostScript page
  map_svg,    // its SVG copy
  escan_csv,  // the energy scan's table
  escan_svg,  // its plot
};

// "the input file", "the plot file", ...
std::string_view role_name(FileRole role);

// The same file, as the system resolves the two names (neither need exist).
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

// Whether a run may replace `file` by its output of `role`: the file does not exist, is
// empty, or starts as kaven's own output of that kind.
bool replaceable_by(const std::filesystem::path& file, FileRole role);

// The files of one run, read and written.
class RunFileGuard {
 public:
  // A file the caller has opened already, remembered without a check.
  void add(const std::filesystem::path& file, FileRole role);
  // Why `file` cannot be read in `role` (a folder; an output of this run), or empty.
  // An accepted file is remembered.
  std::string read(const std::filesystem::path& file, FileRole role);
  // Why `file` cannot be written in `role` (no name; a folder; a file this run reads
  // or writes; an existing file that is not kaven's own output of that kind), or empty.
  // An accepted file is remembered.
  std::string write(const std::filesystem::path& file, FileRole role);

 private:
  struct Entry {
    std::filesystem::path file;
    FileRole role;
  };
  std::string conflict(const std::filesystem::path& file) const;
  std::vector<Entry> files_;
};

// The caller's check before it opens the listing: the input file (none for a run of an
// input text: an empty name), the listing and the exports asked for. Returns "NAME
// REASON" for the first file refused, or empty.
struct ExportFile {
  std::filesystem::path file;
  FileRole role;
};
std::string caller_file_refusal(const std::filesystem::path& input,
                                const std::filesystem::path& listing,
                                const std::vector<ExportFile>& exports = {});

// The files of a conversion from a CIF (kaven --from-cif, the desktop program's "open a
// CIF"): the CIF is read, a regular file (neither a folder, a device nor a pipe); the
// input file is written, and is neither the CIF, a folder nor a device, and replaces
// only an empty file or an input file kaven wrote (input/input_writer.hpp). The plot and
// measured-scan files the input names, taken from its folder as the run takes them, may
// be neither the input file nor each other. Returns "NAME REASON" for the first file
// refused, or empty.
std::string conversion_file_refusal(const std::filesystem::path& cif,
                                    const std::filesystem::path& input,
                                    const std::string& plot_file, const std::string& scan_file);

}  // namespace kaven
