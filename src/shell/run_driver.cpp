#include "shell/run_driver.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <thread>

#include "core/constants.hpp"
#include "core/parallel.hpp"
#include "crystal/centring.hpp"
#include "crystal/geometry.hpp"
#include "crystal/operator_group.hpp"
#include "crystal/space_group.hpp"
#include "input/free_format.hpp"
#include "input/input_reader.hpp"
#include "plot/postscript_plotter.hpp"
#include "plot/recording_plotter.hpp"
#include "plot/scan_page.hpp"
#include "plot/svg_plotter.hpp"
#include "report/crystal_data.hpp"
#include "report/event_listing.hpp"
#include "report/input_echo.hpp"
#include "report/listing.hpp"
#include "report/record_format.hpp"
#include "report/run_summary.hpp"
#include "report/scan_file_listing.hpp"
#include "scans/scan_readers.hpp"
#include "scattering/element_table.hpp"
#include "scattering/linear_absorption.hpp"
#include "scattering/sphere_tables.hpp"
#include "scattering/structure_factor.hpp"
#include "simulation/event_search.hpp"
#include "simulation/run_phases.hpp"
#include "simulation/scale_factor.hpp"
#include "simulation/scan_simulation.hpp"

namespace kaven {
namespace {

std::string trim(std::string_view s) {
  std::size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  std::size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

std::filesystem::path resolve(const RunEnvironment& env, std::string_view name) {
  std::filesystem::path p(trim(name));
  return p.is_relative() ? env.base_dir / p : p;
}

// Releases the per-run work arrays at every exit of the run, normal or early: the
// per-atom and per-element arrays of the run record. The scan arrays belong to the
// run's result and go with it.
struct WorkArrays {
  RunParameters& par;
  ~WorkArrays() {
    std::vector<Atom>().swap(par.atoms);
    std::vector<AtomType>().swap(par.types);
  }
};

// The output names the run has claimed (shell/run_files.hpp): each held nothing, an
// empty file or kaven's own output of its kind when it was claimed.
struct ClaimedOutputs {
  std::filesystem::path plot, svg, cal;
};

// A file of the input that the run may not write (or read): it names the file and why.
// `file` is the name as resolved, for the caller.
[[noreturn]] void refuse_output(const std::string& name, const std::filesystem::path& file,
                                const std::string& why, FileRole role) {
  throw RunStopped{{"", "", "     " + name, " " + why + ":",
                    " kaven does not replace it with " + std::string(role_name(role)) + ", check your input!"},
                   1, file.string(), 0};
}

[[noreturn]] void refuse_input(const std::string& name, const std::filesystem::path& file,
                               const std::string& why, FileRole role) {
  throw RunStopped{{"", "", "     " + name, " " + why + ":",
                    " it cannot be read as " + std::string(role_name(role)) + ", check your input!"},
                   1, file.string(), 0};
}

// `error_number`: errno of the failed opening, 0 when no opening was tried.
[[noreturn]] void cannot_open(const std::string& name, const std::filesystem::path& file,
                              int error_number) {
  throw RunStopped{{"", "", "     " + name, " there is no such file or directory, or the file is empty,",
                    " check your input!"},
                   1, file.string(), error_number};
}

// Work far beyond an ordinary run is said before it starts, in the listing and to the
// user at once, so that a run of many minutes is not taken for a hung one. An ordinary
// search visits up to some ten million index triples and an ordinary scan sums some
// ten million profile values (steps times crossings); these bounds are some fifty
// times that, a minute or more of work on a desktop machine.
constexpr double kLongSearchTriples = 5.0e8;
constexpr double kLongScanValues = 5.0e9;

std::string sci(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1E", v);
  return buf;
}

void announce(RunContext& run, const RunEnvironment& env, const std::string& text) {
  run.out.blank();
  run.out.record(" " + text);
  if (env.notice) env.notice(text);
  else if (run.err) *run.err << "kaven: " << text << '\n';
}

void check_cancel(RunContext& run, const RunEnvironment& env) {
  if (env.cancel && env.cancel->load()) run.stop({"", "", " The run was cancelled."});
}

// ---- the phases of a run, in their order ----------------------------------------

// 2. The banner and the date block.
void write_banner(RunContext& run) {
  run.out.record(kBannerRecord);
  run.out.record(std::string(22, ' ') +
                 "Multiple diffraction in a mosaic crystal: Renninger-scan simulation");
  run.zeit(run.out);
}

// 3. Lines 1 and 2; the plot file is opened at once.
void read_title_and_plot_file(RunContext& run, LineSource& src, RunNames& names,
                              RunFiles& files, const RunEnvironment& env, RunFileGuard& guard,
                              ClaimedOutputs& claims, RunResult& result) {
  // Every file the run writes is claimed before it is opened (shell/run_files.hpp).
  read_title(run.par, src);
  list_title(run.out, run.par.title);
  read_plot_name(run.par, src);
  names.dname1 = run.par.dname1;
  const std::filesystem::path plot = resolve(env, run.par.dname1);
  if (trim(run.par.dname1).empty()) cannot_open(run.par.dname1, plot, 0);
  if (std::string why = guard.write(plot, FileRole::plot); !why.empty())
    refuse_output(run.par.dname1, plot, why, FileRole::plot);
  claims.plot = plot;
  // The page goes to a file beside the name, renamed over it once it is whole; opening
  // it here tells at once whether the folder can take the plot.
  if (!files.plot.open(plot)) cannot_open(run.par.dname1, plot, files.plot.error_number());
  result.files.plot = plot.string();
}

// Operators given explicitly are checked as a space group's: what may be intended (a
// subgroup, an operator given twice) is a warning and the run goes on; a rotation that
// is all zero leaves no structure factor with a meaning and ends the run.
void check_explicit_operators(RunContext& run) {
  const OperatorSetCheck check = check_operator_set(run.par.ops, run.par.ic);
  if (check.zero_rotation > 0)
    stop_run({"", "", "read-error in the symmetry information lines of the input-file",
              " ( the rotation of symmetry operator " + std::to_string(check.zero_rotation) +
                  " is all zero: no symmetry operation )"},
             kStatusMalformed);
  for (const std::string& w : check.warnings) run.message({" Warning: " + w});
}

// 5. The operators: from the table (with the lattice points of its lattice letter) or
// from explicit lines, listed either way.
void symmetry_phase(RunContext& run, LineSource& src) {
  RunParameters& par = run.par;
  if (symmetry_source(par) == SymmetrySource::table) {
    raumgr(par, par.nr);
    par.ncent = lattice_points(par.space_group[0]);
    list_space_group(run.out, par, par.nr);
  } else {
    read_explicit_operators(par, src);
    list_explicit_operators(run.out, par);
    check_explicit_operators(run);
  }
}

// 6. The element lines, each resolved in the element table before the next is read.
void elements_phase(RunParameters& par, LineSource& src) {
  for (int f = 0; f < par.nf; ++f) {
    read_element_line(par, src, f);
    upform(par, f);
  }
}

// 9. Lines 10 to 12. The scan-file name turns blank once line 10 has been read and
// takes line 12 when that is read; a run that stops before line 10 leaves the caller's
// name. A file that ends before line 11 leaves its end-of-file status as the run's.
void read_primary_lines(RunContext& run, LineSource& src, RunNames& names, RunResult& result) {
  run.par.dname2 = names.dname2;
  try {
    run.ierr = read_primary_and_optional(run.par, src);
  } catch (const RunStopped&) {
    names.dname2 = run.par.dname2;
    throw;
  }
  names.dname2 = run.par.dname2;
  if (run.par.ub_read) list_orientation_matrix(run.out, run.par.ub);
  result.measured.present = run.par.scan_present;
}

// With the scan-file name known: the measured-scan file is none of the run's outputs,
// and the calculated-scan file named after it (or the plot file) may be written.
void claim_scan_files(RunContext& run, const RunNames& names, const RunEnvironment& env,
                      RunFileGuard& guard, ClaimedOutputs& claims) {
  if (run.par.scan_present) {
    const std::filesystem::path scan = resolve(env, run.par.dname2);
    if (std::string why = guard.read(scan, FileRole::measured_scan); !why.empty())
      refuse_input(run.par.dname2, scan, why, FileRole::measured_scan);
  }
  const std::string calname = calculated_scan_name(names.dname2, names.dname1);
  const std::filesystem::path cal = resolve(env, calname);
  if (std::string why = guard.write(cal, FileRole::calculated_scan); !why.empty())
    refuse_output(calname, cal, why, FileRole::calculated_scan);
  claims.cal = cal;
}

// 10. and 11. Scan steps and arrays, wavelength band, cell, the primary reflection with
// the Ewald-sphere test, sample constants, the primary structure factor.
void geometry_phase(RunContext& run, RunResult& result) {
  RunParameters& par = run.par;
  allocate_scan(par, result.profile.intensity, result.measured.intensity);
  result.primary_f_computed = par.f == 0.0f;
  derive_geometry(par);
  list_primary_warning(run.out, par);
}

// 12. The crystal data: lattice constants, scattering-factor tables with F(000), atoms.
void list_crystal_data(RunContext& run) {
  RunParameters& par = run.par;
  list_lattice_constants(run.out, par);
  for (AtomType& t : par.types) tabulate_f0(t);
  list_scattering_factors(run.out, par.types);
  list_atoms(run.out, par);
  for (const std::string& note : unphysical_atom_values(par)) run.message({" Note: " + note});
}

// 13. Density and linear absorption coefficient, then the one from the dispersion terms
// (the steps of derive_absorption, each listed as it is formed).
void absorption_phase(RunContext& run) {
  RunParameters& par = run.par;
  const AbsorptionResult tabulated = tabulated_absorption(par);
  list_absorption(run.out, par, tabulated);
  if (dispersion_gives_absorption(par)) {
    dispersion_absorption(par);
    list_dispersion_absorption(run.out, par);
  }
}

// 14. The measured scan, when line 12 named one: opened as an existing file, read by
// the reader its extension and the radiation mode choose (the synchrotron reader takes
// its reference list and counting corrections from the input lines after line 12), its
// reference reflections listed. The counting corrections stay in the run record for the
// runs that follow.
void read_measured_scan(RunContext& run, LineSource& src, RunFiles& files,
                        const ExtinctionTable& extinction, const RunEnvironment& env,
                        RunResult& result) {
  MeasuredScan& scan = result.measured;
  if (!scan.present) return;
  RunParameters& par = run.par;
  const std::filesystem::path path = resolve(env, par.dname2);
  std::error_code ec;
  errno = 0;
  if (!std::filesystem::is_directory(path, ec)) files.scan.open(path);
  if (!files.scan.is_open()) cannot_open(par.dname2, path, errno);
  list_scan_file_heading(run.out, par.dname2);
  scan.minimum = 1.0e6f;
  StructureFactorCalculator calc(par);
  const ScanReaderContext ctx{
      par, extinction, [&calc](int h, int k, int l, float s) { return calc(h, k, l, s).fmod; }};
  read_scan_file(files.scan, scan_file_extension(par.dname2), src, counting_corrections(par),
                 ctx, scan);
  keep_counting_corrections(par, scan.corrections);
  if (scan.minimum < 0) scan.minimum = 0;
  list_reference_table(run.out, scan);
  if (run.err && scan.no_primary_step)
    *run.err << "kaven: no step of the primary reflection in the psi range in "
             << trim(par.dname2) << "; the run goes on without a measured scan\n";
  if (run.err && scan.skipped_records > 0)
    *run.err << "kaven: " << scan.skipped_records << " unreadable record(s) of "
             << trim(par.dname2) << " passed over\n";
}

// 15. Scale factor and the statistics of the measured scan. I0 of the run is replaced
// here, before the passes compute their intensities with it.
void scale_factor_phase(RunContext& run, RunResult& result) {
  RunParameters& par = run.par;
  const bool file_read = par.scan_present && result.measured.format != ScanFormat::none;
  const ScaleFactor scale = scale_factor(par, result.measured, file_read);
  par.i0 = scale.i0;
  result.scale_source = scale.source;
  list_scale_section(run.out, par, scale);
  if (result.measured.present) result.reduction = reduce_measured_scan(par, result.measured);
  run.zeit(run.out);
}

// More than 600 events of a pass above drumin. Usually drumin is too small for the
// crystal; but every intensity grows with the crystal's cross section, so a crystal
// radius beyond any real crystal (1 cm) is the value to correct, and the stop says so.
[[noreturn]] void too_many_events(const RunParameters& par, std::size_t count) {
  const double radius_um = double(par.rkugel) * kMicronPerCm;
  std::vector<std::string> records{"the number of output lines is to large"};
  if (!(radius_um <= 1.0e4))
    records.push_back(" the crystal radius of " + sci(radius_um) +
                      " muemeter on the fifth input line makes every intensity that large:"
                      " check it!");
  else
    records.push_back("please increase drumin on the sixth input line");
  records.push_back(" ( " + std::to_string(count) + " events of the pass above drumin =" +
                    rec::E(11, 4, par.drumin) + " cps, at most 600 )");
  stop_run(std::move(records));
}

// 17. The wavelength passes: Kalpha1 and Kalpha2 of a tube, one synchrotron line.
void wavelength_passes_phase(RunContext& run, const ExtinctionTable& extinction,
                             const RunEnvironment& env, RunResult& result) {
  RunParameters& par = run.par;
  const std::vector<WavelengthPass> passes = wavelength_passes(par);
  const std::array<int, 3> lim = search_limits(par);
  ReflectionCache cache(par, lim[0], lim[1], lim[2]);
  // The index box of each pass, that of the shortest wavelength at most.
  const double triples = double(passes.size()) * (2.0 * lim[0] + 1) * (2.0 * lim[1] + 1) *
                         (2.0 * lim[2] + 1);
  const bool long_search = triples > kLongSearchTriples;
  if (long_search)
    announce(run, env,
             "This run is long: its event search visits " + sci(triples) +
                 " index triples; it may take minutes.");
  for (std::size_t n = 0; n < passes.size(); ++n) {
    PassOptions opt;
    opt.threads = env.threads;
    opt.plain = env.plain;
    opt.cancel = env.cancel;
    if (env.progress) {
      const double share = 1.0 / double(passes.size());
      opt.progress = [&env, n, share, long_search](double f) {
        env.progress({long_search ? "event search (long)" : "event search", (double(n) + f) * share});
      };
    }
    PassRecord rec = compute_pass(par, extinction, passes, n, &cache, opt);
    result.theta_prim_deg += rec.primary.theta_p * double(kRadToDeg);
    check_cancel(run, env);
    if (rec.events.events.size() > 600) too_many_events(par, rec.events.events.size());
    MeasuredPrimary measured;
    if (result.measured.present) {
      const MeasuredShare share = measured_share(par, result.reduction, static_cast<int>(n));
      measured = {share.intensity, share.error};
    }
    list_event_pass(run.out, par, rec.pass, rec.primary, rec.events, result.reference, measured);
    run.zeit(run.out);
    result.crossings.insert(result.crossings.end(), rec.events.scan.begin(),
                            rec.events.scan.end());
    result.passes.push_back(std::move(rec));
  }
  if (par.isyn == 0) result.theta_prim_deg *= 0.5;  // the mean of the two passes
  result.structure_factors = cache.counts();
}

// 18. The simulated scan, the summaries and the calculated-scan file.
void simulation_and_summaries(RunContext& run, RunNames& names, RunFiles& files,
                              const RunEnvironment& env, RunResult& result) {
  RunParameters& par = run.par;
  const float iprim = iprim_of_passes(result.passes);  // the passes' I-prim as they were listed
  ScanOptions opt;
  opt.threads = env.threads;
  opt.cancel = env.cancel;
  // Every crossing adds its profile at every step.
  const double values = double(par.nstep + 1) * double(result.crossings.size());
  const bool long_scan = par.zsw1 > 0 && values > kLongScanValues;
  if (long_scan)
    announce(run, env,
             "This run is long: its scan sums " + std::to_string(par.nstep + 1) + " steps x " +
                 std::to_string(result.crossings.size()) + " crossings = " + sci(values) +
                 " profile values; it may take minutes.");
  if (env.progress)
    opt.progress = [&env, long_scan](double f) {
      env.progress({long_scan ? "scan simulation (long)" : "scan simulation", f});
    };
  result.profile = ScanProfile{};  // the storage of the setup goes before the scan takes its own
  result.profile = env.plain ? simulate_scan_plain(par, result.crossings, iprim)
                             : simulate_scan(par, result.crossings, iprim, opt);
  check_cancel(run, env);

  if (result.measured.present) {
    result.deviation = find_deviation(par, result.measured, result.reduction, result.profile);
    list_measured_summary(run.out, result.reduction, result.deviation);
    run.zeit(run.out);
  }
  if (env.analysis) {
    env.analysis(par, result, run.out);
    check_cancel(run, env);
    run.zeit(run.out);
  }
  if (par.zsw1 > 0) list_calculated_summary(run.out, result.profile);
  list_scan_settings(run.out, par);

  names.calname = calculated_scan_name(names.dname2, names.dname1);
  const std::filesystem::path cal = resolve(env, names.calname);
  if (!files.cal.open(cal)) cannot_open(names.calname, cal, files.cal.error_number());
  write_calculated_scan(files.cal.stream(), par, result.profile);
  if (!files.cal.commit())
    throw RunStopped{{"", "", "     " + names.calname,
                      " the calculated-scan file could not be written completely",
                      " ( " + files.cal.error() + " )"},
                     1, cal.string(), files.cal.error_number()};
  result.files.cal = cal.string();

  list_event_count(run.out, par, result.profile);
  result.plotted = plottable(result.profile);
}

// 19. The plot, when the scan is plottable: the PostScript page in the plot file and
// the same page as SVG beside it. The SVG cannot replace the plot file itself: a plot
// file already named .svg gets a second extension.
// Each page is renamed over its name only when it is whole: the PostScript page first,
// whose failure ends the run (status 1), then the SVG copy, whose failure is said.
void plot_phase(RunContext& run, RunFiles& files, RunFileGuard& guard, const RunEnvironment& env,
                ClaimedOutputs& claims, RunResult& result) {
  if (!result.plotted) return;
  // The SVG copy is a second view of the page: when its name is refused (a folder, a
  // file of the run, a file kaven did not write) the PostScript page is drawn alone.
  const std::filesystem::path svg_path = svg_plot_name(result.files.plot);
  const std::string refused = guard.write(svg_path, FileRole::plot_svg);
  if (refused.empty()) {
    claims.svg = svg_path;
    files.svg.open(svg_path);  // when the folder refuses it, the stream takes nothing
  }
  PostScriptPlotter postscript(files.plot.stream(), &run.out);
  SvgPlotter svg_page(files.svg.stream());
  const Zeit::Now now = run.zeit.now();
  if (thread_count(env.threads) > 1) {
    // The two pages drawn at once, each on a thread of its own: formatting the
    // coordinates of a long scan is most of the work of writing them.
    std::exception_ptr svg_failure;
    std::thread svg_thread([&] {
      try {
        uplot(svg_page, run.par, result, now);
      } catch (...) {
        svg_failure = std::current_exception();
      }
    });
    try {
      uplot(postscript, run.par, result, now);
    } catch (...) {
      svg_thread.join();
      throw;
    }
    svg_thread.join();
    if (svg_failure) std::rethrow_exception(svg_failure);
  } else {
    PlotterPair both(postscript, svg_page);
    uplot(both, run.par, result, now);
  }
  if (!files.plot.commit()) {
    result.plotted = false;
    throw RunStopped{{"", "", "     " + trim(run.par.dname1),
                      " the plot file could not be written completely",
                      " ( " + files.plot.error() + " )"},
                     1, claims.plot.string(), files.plot.error_number()};
  }
  if (refused.empty() && files.svg.commit()) {
    result.files.plot_svg = svg_path.string();
  } else {
    run.message({" The SVG copy of the plot could not be written: " + svg_path.string()});
    if (!refused.empty()) run.message({" ( it " + refused + " )"});
    else if (!files.svg.error().empty()) run.message({" ( " + files.svg.error() + " )"});
  }
}

// A run leaves under each of its output names its own whole file or nothing. A name
// claimed but not written by this run (the run stopped, drew no page, or could not
// finish a file) holds an earlier run's result or an empty file, which the claim made
// sure of: it is removed, so that no page or scan of another run stands beside this
// run's listing as if it were this run's.
void remove_stale_outputs(RunContext& run, RunFiles& files, RunFileGuard& guard,
                          const ClaimedOutputs& claims) {
  std::vector<std::filesystem::path> stale;
  if (!claims.plot.empty() && !files.plot.committed()) {
    files.plot.discard();
    stale.push_back(claims.plot);
  }
  if (!claims.svg.empty() && !files.svg.committed()) {
    files.svg.discard();
    stale.push_back(claims.svg);
  } else if (claims.svg.empty() && !claims.plot.empty()) {
    // Not claimed by the plot phase: removed only where the run could have written it.
    const std::filesystem::path svg = svg_plot_name(claims.plot);
    if (guard.write(svg, FileRole::plot_svg).empty()) stale.push_back(svg);
  }
  if (!claims.cal.empty() && !files.cal.committed()) {
    files.cal.discard();
    stale.push_back(claims.cal);
  }
  for (const std::filesystem::path& p : stale) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(p, ec)) continue;
    std::filesystem::remove(p, ec);
    if (ec)
      run.message({" The file " + p.string() + " of an earlier run could not be removed:",
                   " ( " + ec.message() + " )"});
  }
}

// 20. The last elapsed-time line.
void finish_run(RunContext& run) { run.zeit(run.out); }

}  // namespace

std::filesystem::path svg_plot_name(const std::filesystem::path& plot) {
  std::filesystem::path svg = plot;
  svg.replace_extension(".svg");
  if (svg == plot) svg += ".svg";
  return svg;
}

std::string calculated_scan_name(const std::string& dname2, const std::string& dname1) {
  bool no_scan = rec::rtrim(dname2).empty();
  std::string base = no_scan ? dname1 : dname2;
  std::size_t b = base.find_first_not_of(' ');
  base = b == std::string::npos ? std::string() : base.substr(b);
  long n = static_cast<long>(rec::rtrim(base).size()) - (no_scan ? 3 : 4);
  n = std::clamp(std::labs(n), 0L, 72L);
  return rec::pad(base.substr(0, static_cast<std::size_t>(n)) + ".cal", 72);
}

// 4. to 8. Lines 3 to 7, the symmetry, the elements, the atoms and the centring.
void read_crystal(RunContext& run, LineSource& src) {
  read_cell_to_counts(run.par, src);
  symmetry_phase(run, src);
  elements_phase(run.par, src);
  read_atoms(run.par, src);
  bravai(run.par, run.par.space_group);
}

// 10. to 13. Geometry and scan arrays, primary structure factor, crystal data,
// absorption.
void set_up_crystal(RunContext& run, RunResult& result) {
  geometry_phase(run, result);
  list_crystal_data(run);
  absorption_phase(run);
}

RunOutcome kaven(RunParameters& par, RunNames& names, RunFiles& files, std::istream& input,
                 std::ostream& listing, const RunEnvironment& env) {
  RunContext run(par, listing, env.errors);
  WorkArrays work{par};
  LineSource src(input);
  RunOutcome outcome;
  RunResult& result = outcome.result;
  result.files.listing = env.listing.string();
  // The files the caller has opened or will write, checked by the caller.
  RunFileGuard guard;
  ClaimedOutputs claims;
  guard.add(env.input, FileRole::input);
  guard.add(env.listing, FileRole::listing);
  for (const ExportFile& e : env.exports) guard.add(e.file, e.role);
  try {
    const ExtinctionTable extinction = xtab1();                            // 1
    write_banner(run);                                                     // 2
    read_title_and_plot_file(run, src, names, files, env, guard, claims, result);  // 3
    read_crystal(run, src);                                                // 4 to 8
    read_primary_lines(run, src, names, result);                           // 9
    claim_scan_files(run, names, env, guard, claims);                      // 9
    set_up_crystal(run, result);                                           // 10 to 13
    read_measured_scan(run, src, files, extinction, env, result);          // 14
    scale_factor_phase(run, result);                                       // 15
    derive_reference(par, result);                                         // 16
    wavelength_passes_phase(run, extinction, env, result);                 // 17
    simulation_and_summaries(run, names, files, env, result);              // 18
    plot_phase(run, files, guard, env, claims, result);                    // 19
    finish_run(run);                                                       // 20
  } catch (const RunStopped& stop) {
    run.list_stop(stop);
    outcome.end = RunEnd::stopped;
    outcome.stop_message = stop.records;
    outcome.failed_file = stop.file;
    outcome.failed_errno = stop.error_number;
  }
  remove_stale_outputs(run, files, guard, claims);
  outcome.ierr = run.ierr;
  return outcome;
}

}  // namespace kaven
