#include "report/results_export.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <sstream>

#include "core/constants.hpp"
#include "core/fixed_text.hpp"
#include "core/number_text.hpp"
#include "report/energy_map_export.hpp"
#include "report/event_listing.hpp"
#include "report/json_writer.hpp"

namespace kaven {

namespace {

constexpr double kDeg = double(kRadToDeg);

// A CSV field of a cell appended to a text; a number that is not finite is an empty
// field.
struct CsvField {
  std::string& text;
  void operator()(int v) const {
    char buf[16];
    text.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
  }
  void operator()(float v) const {
    if (std::isfinite(v)) append_shortest(text, v);
  }
  void operator()(double v) const {
    if (std::isfinite(v)) append_shortest(text, v);
  }
  void operator()(const std::string& v) const { text += v; }
};

void append_csv_row(std::string& text, const std::vector<ResultCell>& cells) {
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i) text += ',';
    std::visit(CsvField{text}, cells[i]);
  }
  text += '\n';
}

// Rows formatted into memory and written in blocks of about a megabyte: a scan of a
// full turn at a fine step has hundreds of thousands.
class CsvRows {
 public:
  explicit CsvRows(std::ostream& os) : os_(os) { text_.reserve(kBlock + 4096); }
  ~CsvRows() { write(); }
  void operator()(const std::vector<ResultCell>& cells) {
    append_csv_row(text_, cells);
    if (text_.size() >= kBlock) write();
  }

 private:
  static constexpr std::size_t kBlock = std::size_t(1) << 20;
  void write() {
    os_.write(text_.data(), static_cast<std::streamsize>(text_.size()));
    text_.clear();
  }
  std::ostream& os_;
  std::string text_;
};

void csv_header(std::ostream& os, const std::vector<ResultColumn>& columns) {
  for (std::size_t i = 0; i < columns.size(); ++i) os << (i ? "," : "") << columns[i].name;
  os << '\n';
}

int index(float v) { return static_cast<int>(std::lround(v)); }

std::string trimmed(std::string_view s) {
  s = rec::rtrim(s);
  const std::size_t b = s.find_first_not_of(' ');
  return b == std::string_view::npos ? std::string() : std::string(s.substr(b));
}

const char* radiation_kind(const RunParameters& p) {
  if (p.isyn > 0) return "synchrotron";
  return p.clam == "dl" ? "explicit wavelengths" : "tube";
}

const char* scale_source(ScaleSource s) {
  switch (s) {
    case ScaleSource::references: return "reference reflections";
    case ScaleSource::no_references: return "default I0 (the scan file held no reference reflection)";
    case ScaleSource::default_i0: return "default I0";
  }
  return "";
}

template <class T, std::size_t N>
void array(JsonWriter& j, const std::array<T, N>& a) {
  j.begin_array(true);
  for (const T& v : a) j.value(v);
  j.end_array();
}

// The reference direction as the run used it, each component rounded to 1e-5. One
// component is exactly 1 and the others are ratios of components of G* h_p; a ratio
// that is zero in the crystal's metric comes out of the single-precision metric as a
// few 1e-7 (0 0 2 of a cubic cell gives 1 0 -6.58e-07). The rounding turns the
// direction by at most 1e-5 rad (6e-4 degrees, below the psi the listing prints) and
// writes the direction a reader expects.
std::array<float, 3> reference_without_noise(const std::array<float, 3>& r) {
  std::array<float, 3> out{};
  for (std::size_t i = 0; i < 3; ++i) {
    const double v = std::round(double(r[i]) * 1e5) / 1e5;
    out[i] = static_cast<float>(v == 0 ? 0.0 : v);  // no -0
  }
  return out;
}

// The events that the listing lists, over all passes.
std::size_t listed_count(const RunParameters& par, const RunResult& r) {
  std::size_t n = 0;
  for (const PassRecord& rec : r.passes)
    for (const MultipleDiffractionEvent& e : rec.events.events) n += listed_event(par, e);
  return n;
}

}  // namespace

ExportPaths export_paths(const std::filesystem::path& listing) {
  const std::filesystem::path dir = listing.parent_path();
  const std::string stem = listing.stem().string();
  return {dir / (stem + "-events.csv"), dir / (stem + "-scan.csv"), dir / (stem + ".json")};
}

const std::vector<ResultColumn>& events_columns() {
  using enum ColumnKind;
  static const std::vector<ResultColumn> c{
      {"pass", integer}, {"wavelength", real32}, {"h1", integer}, {"k1", integer},
      {"l1", integer}, {"f1", real32}, {"phase1", real32}, {"theta1", real32},
      {"h2", integer}, {"k2", integer}, {"l2", integer}, {"f2", real32}, {"phase2", real32},
      {"theta2", real32}, {"triplet_phase", real32}, {"ikaven", real32}, {"iaufhe", real32},
      {"ikaven_peak", real32}, {"iaufhe_peak", real32}, {"p12", real32},
      {"absorption", real32}, {"inverse_absorption", real32}, {"crossing", text},
      {"fwhm", real32}, {"beta", real32}, {"psi", real32}};
  return c;
}

const std::vector<ResultColumn>& scan_columns() {
  using enum ColumnKind;
  static const std::vector<ResultColumn> c{{"psi", real64}, {"calculated", real32}, {"measured", real32}};
  return c;
}

void event_rows(const RunParameters& par, const RunResult& r, const RowSink& sink) {
  std::vector<ResultCell> cells;
  for (std::size_t n = 0; n < r.passes.size(); ++n) {
    const PassRecord& rec = r.passes[n];
    for (const MultipleDiffractionEvent& e : rec.events.events) {
      if (!listed_event(par, e)) continue;
      cells = event_cells(static_cast<int>(n + 1), rec.pass.lambda, triplet_phase_deg(par, e), e);
      sink(cells);
    }
  }
}

std::vector<ResultCell> event_cells(int pass, float wavelength, double triplet,
                                    const MultipleDiffractionEvent& e) {
  return {pass, wavelength, index(e.h1), index(e.k1), index(e.l1), e.f1,
          static_cast<float>(listed_phase_deg(e.phase1)), static_cast<float>(e.theta1 * kDeg),
          index(e.h2), index(e.k2), index(e.l2), e.f2,
          static_cast<float>(listed_phase_deg(e.phase2)), static_cast<float>(e.theta2 * kDeg),
          static_cast<float>(triplet), e.ikaven, e.iaufhe, e.ikaven / e.fwhm, e.iaufhe / e.fwhm,
          e.p12, e.abs, static_cast<float>(1.0 / e.abs),
          std::string(e.crossing == static_cast<float>(Crossing::first) ? "in-out" : "out-in"),
          e.fwhm, e.beta, e.psi};
}

void write_csv_header(std::ostream& os, const std::vector<ResultColumn>& columns) { csv_header(os, columns); }
void write_csv_row(std::ostream& os, const std::vector<ResultCell>& cells) {
  // One write of the whole line (the table of an energy map has hundreds of thousands).
  std::string line;
  append_csv_row(line, cells);
  os.write(line.data(), static_cast<std::streamsize>(line.size()));
}

void scan_rows(const RunParameters& par, const RunResult& r, const RowSink& sink) {
  const std::vector<float>& calc = r.profile.intensity;
  const std::vector<float>& meas = r.measured.intensity;
  std::vector<ResultCell> cells(3);
  for (std::size_t i = 0; i < calc.size(); ++i) {
    const bool measured = i < meas.size() && meas[i] != kNoMeasurement;
    cells[0] = step_psi(par, static_cast<long>(i));
    cells[1] = calc[i];
    cells[2] = measured ? meas[i] : std::numeric_limits<float>::quiet_NaN();
    sink(cells);
  }
}

namespace {

// The first characters of the summary: its opening and the program's name.
std::string summary_head() {
  std::ostringstream os;
  JsonWriter j(os);
  j.begin_object();
  j.key("program").value("kaven");
  return os.str();
}

}  // namespace

bool starts_as_kaven_export(std::istream& is, ExportKind kind) {
  std::ostringstream expected;
  if (kind == ExportKind::events_csv) csv_header(expected, events_columns());
  if (kind == ExportKind::scan_csv) csv_header(expected, scan_columns());
  const std::string head = kind == ExportKind::summary_json ? summary_head() : expected.str();
  std::string start(head.size(), '\0');
  is.read(start.data(), static_cast<std::streamsize>(start.size()));
  return is.gcount() == static_cast<std::streamsize>(head.size()) && start == head;
}

std::vector<std::string> message_lines(const std::vector<std::string>& records) {
  std::vector<std::string> lines;
  for (const std::string& rec : records)
    if (std::string line = trimmed(rec); !line.empty()) lines.push_back(std::move(line));
  return lines;
}

void write_events_csv(std::ostream& os, const RunParameters& par, const RunResult& r) {
  csv_header(os, events_columns());
  CsvRows rows(os);
  event_rows(par, r, [&rows](const std::vector<ResultCell>& cells) { rows(cells); });
}

void write_scan_csv(std::ostream& os, const RunParameters& par, const RunResult& r) {
  csv_header(os, scan_columns());
  CsvRows rows(os);
  scan_rows(par, r, [&rows](const std::vector<ResultCell>& cells) { rows(cells); });
}

void write_summary_json(std::ostream& os, const RunParameters& p, const RunResult& r,
                        const RunStatus& status) {
  JsonWriter j(os);
  j.begin_object();
  j.key("program").value("kaven");
  j.key("version").value(KAVEN_VERSION);
  j.key("input_file");  // none for a run of an input text
  if (status.input_file.empty()) j.null();
  else j.value(status.input_file);
  j.key("title").value(trimmed(p.title));
  j.key("status").value(status.complete ? "complete" : "stopped");
  j.key("stop_message").begin_array();
  for (const std::string& line : message_lines(status.stop_message)) j.value(line);
  j.end_array();
  j.key("ierr").value(status.ierr);

  j.key("radiation").begin_object();
  j.key("kind").value(radiation_kind(p));
  j.key("indicator").value(p.clam);
  j.key("mode").value(p.isyn);
  j.key("polarisation_sign").value(p.polsgn);
  if (p.isyn > 0) {
    j.key("wavelength").value(p.alam1);
    j.key("monochromator").begin_object();
    j.key("cell").value(p.amono);
    j.key("hkl").begin_array(true).value(p.hmono).value(p.kmono).value(p.lmono).end_array();
    j.key("structure_factor").value(p.fmono);
    j.key("bragg_angle_deg").value(static_cast<float>(p.thmono * kDeg));
    j.end_object();
  } else {
    j.key("wavelengths").begin_array(true).value(p.alam1).value(p.alam2).end_array();
    j.key("weights").begin_array(true).value(p.flam1).value(p.flam2).end_array();
  }
  j.end_object();

  j.key("passes").begin_array();
  for (std::size_t n = 0; n < r.passes.size(); ++n) {
    const PassRecord& rec = r.passes[n];
    std::size_t listed = 0;
    for (const MultipleDiffractionEvent& e : rec.events.events) listed += listed_event(p, e);
    j.begin_object();
    j.key("pass").value(static_cast<int>(n + 1));
    j.key("wavelength").value(rec.pass.lambda);
    j.key("relative_width").value(rec.pass.dlam);
    j.key("weight").value(rec.pass.weight);
    j.key("primary_theta_deg").value(static_cast<float>(rec.primary.theta_p * kDeg));
    j.key("primary_intensity_cps").value(static_cast<float>(rec.primary.iprim));
    j.key("primary_fwhm_theta_deg").value(static_cast<float>(rec.primary.fwhm_theta_deg));
    j.key("index_limits").begin_array(true).value(rec.events.hmax).value(rec.events.kmax).value(rec.events.lmax).end_array();
    j.key("events_listed").value(static_cast<long long>(listed));
    j.key("crossings_full_turn").value(rec.events.full_turn);
    j.key("crossings_in_range").value(rec.events.in_range);
    j.key("operative_reflections").value(rec.events.prager);
    j.end_object();
  }
  j.end_array();

  j.key("primary").begin_object();
  j.key("hkl").begin_array(true).value(p.h).value(p.k).value(p.l).end_array();
  j.key("d_spacing").value(p.dp);
  j.key("sin_theta_over_lambda").value(p.sp);
  j.key("structure_factor").value(p.f);
  j.key("phase_deg").value(p.phi_deg);
  j.key("theta_deg").value(static_cast<float>(r.theta_prim_deg));
  j.key("intensity_cps").value(r.profile.iprim_total);
  j.end_object();

  j.key("psi").begin_object();
  j.key("reference_direction");
  array(j, reference_without_noise(r.reference));
  j.key("psid_deg").value(p.psid);
  j.key("orientation_matrix");
  if (p.ub_read) array(j, p.ub);
  else j.null();
  j.key("convention").value(
      "psi of an event is the azimuth of its secondary reflection h about the primary "
      "scattering vector h_p, counted from the reference direction r (perpendicular to h_p) "
      "and positive towards r x h_p (cross product of the index triples), plus PsiD, the "
      "offset of the diffractometer's psi = 0 from r (0 without an orientation matrix)");
  j.key("axis_range_deg").begin_array(true).value(p.isyn > 0 ? 0 : -180).value(p.isyn > 0 ? 360 : 180).end_array();
  j.key("scan_range_deg").begin_array(true).value(p.psia).value(p.psie).end_array();
  j.key("steps_per_degree").value(p.zsw);
  j.key("steps").value(r.profile.intensity.empty() ? 0 : p.nstep + 1);
  j.key("scan_simulated").value(p.zsw1 > 0);
  j.key("interference_term").value(p.nnn);
  j.key("drumin").value(p.drumin);
  j.end_object();

  j.key("counts").begin_object();
  j.key("events_listed").value(static_cast<long long>(listed_count(p, r)));
  j.key("crossings_entered_scan").value(r.profile.entered);
  j.end_object();

  j.key("extremes").begin_object();
  j.key("calculated");
  if (status.complete && p.zsw1 > 0) {
    j.begin_object();
    j.key("max_cps").value(r.profile.max);
    j.key("psi_max_deg").value(r.profile.psi_max);
    j.key("min_cps").value(r.profile.min);
    j.key("psi_min_deg").value(r.profile.psi_min);
    j.end_object();
  } else {
    j.null();
  }
  j.key("measured");
  if (r.measured.present && status.complete) {
    const ScanReduction& m = r.reduction;
    j.begin_object();
    j.key("max_cps").value(m.mmax);
    j.key("max_error_cps").value(m.s_max);
    j.key("psi_max_deg").value(m.psi_mmax);
    j.key("min_cps").value(m.mmin);
    j.key("min_error_cps").value(m.s_min);
    j.key("psi_min_deg").value(m.psi_mmin);
    j.key("primary_cps").value(m.imeas);
    j.key("primary_error_cps").value(m.s_i);
    j.key("background_cps").value(m.background);
    j.key("background_error_cps").value(m.s_b);
    j.end_object();
  } else {
    j.null();
  }
  j.end_object();

  j.key("scale").begin_object();
  j.key("source").value(scale_source(r.scale_source));
  // I0 as the listing gives it, per mm^2 (the run holds it per cm^2). The CAD4 estimates
  // of the reference reflections are of K-alpha1 alone; the listing then gives both lines
  // (K-alpha2 half as strong), and so does this, with the two shares.
  const float i0_mm2 = static_cast<float>(0.01 * double(p.i0));
  const bool both_lines = r.scale_source == ScaleSource::references && p.isyn == 0;
  j.key("i0_counts_per_mm2_s").value(both_lines ? static_cast<float>(double(i0_mm2) * 1.5) : i0_mm2);
  j.key("i0_kalpha_shares_counts_per_mm2_s");
  if (both_lines)
    j.begin_array(true).value(i0_mm2).value(static_cast<float>(double(i0_mm2) * 0.5)).end_array();
  else
    j.null();
  j.key("reference_reflections").value(r.measured.nref);
  j.end_object();

  j.key("deviation");
  if (r.deviation.searched) {
    j.begin_object();
    j.key("shift_steps").value(r.deviation.shift);
    j.key("deg").value(r.deviation.dev);
    j.key("best_shift_found_steps").value(r.deviation.found);
    j.key("relative_misfit").value(r.deviation.best_r);
    j.end_object();
  } else {
    j.null();
  }

  if (status.energy_map) write_energy_map_summary(j, *status.energy_map);
  if (status.energy_scan) write_energy_scan_summary(j, *status.energy_scan);

  j.key("files").begin_object();
  // The measured scan is read, not written; named here for completeness.
  j.key("measured_scan");
  if (p.scan_present) j.value(trimmed(p.dname2));
  else j.null();
  const RunFilesWritten& f = r.files;
  // The plot file is opened at the start of every run but holds a page only when the
  // scan was drawn.
  const std::string none;
  for (const auto& [name, path] :
       {std::pair{"listing", &f.listing}, {"plot", r.plotted ? &f.plot : &none},
        {"plot_svg", r.plotted ? &f.plot_svg : &none},
        {"calculated_scan", &f.cal}, {"events_csv", &f.events_csv}, {"scan_csv", &f.scan_csv},
        {"summary_json", &f.summary_json}}) {
    j.key(name);
    if (path->empty()) j.null();
    else j.value(*path);
  }
  j.end_object();
  j.end_object();
}

}  // namespace kaven
