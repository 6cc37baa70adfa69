#include "shell/run_driver.hpp"

#include <algorithm>
#include <cstdlib>

#include "crystal/centring.hpp"
#include "crystal/geometry.hpp"
#include "crystal/space_group.hpp"
#include "input/free_format.hpp"
#include "input/input_reader.hpp"
#include "report/listing.hpp"
#include "report/record_format.hpp"
#include "scattering/absorption.hpp"
#include "scattering/linear_absorption.hpp"
#include "scattering/element_table.hpp"
#include "scattering/structure_factor.hpp"
#include "report/event_listing.hpp"
#include "simulation/event_search.hpp"
#include "simulation/reference_direction.hpp"

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

// Releases the per-run work arrays at every exit of the run, normal or early.
struct WorkArrays {
  RunParameters& par;
  ~WorkArrays() {
    std::vector<Atom>().swap(par.atoms);
    std::vector<AtomType>().swap(par.types);
    std::vector<float>().swap(par.scan_calc);
    std::vector<float>().swap(par.scan_meas);
  }
};

[[noreturn]] void cannot_open(RunContext& run, const std::string& name) {
  run.ierr = 1;
  run.stop({"", "", "     " + name, " there is no such file or directory, or the file is empty,",
            " check your input!"});
}

// Stages of the run that this version does not perform yet end the run here, so that
// no listing shows a number that was not computed.
[[noreturn]] void not_built_yet(RunContext& run) {
  run.stop({"", "", " The calculation stages after this point are not built yet: the run ends here."});
}

}  // namespace

std::string calculated_scan_name(const std::string& dname2, const std::string& dname1) {
  bool no_scan = rec::rtrim(dname2).empty();
  std::string base = no_scan ? dname1 : dname2;
  std::size_t b = base.find_first_not_of(' ');
  base = b == std::string::npos ? std::string() : base.substr(b);
  long n = static_cast<long>(rec::rtrim(base).size()) - (no_scan ? 3 : 4);
  n = std::clamp(std::labs(n), 0L, 72L);
  return rec::pad(base.substr(0, static_cast<std::size_t>(n)) + ".cal", 72);
}

void read_crystal(RunContext& run, LineSource& src) {
  // 4. Lines 3 to 7
  read_cell_to_counts(run, src);
  // 5. Symmetry
  read_symmetry(run, src);
  // 6. Elements, 7. atoms, 8. centring
  read_elements(run, src);
  read_atoms(run, src);
  bravai(run.par, run.par.space_group);
}

void set_up_crystal(RunContext& run) {
  RunParameters& par = run.par;
  // 10. Geometry
  allocate_scan(run);
  check_radiation(run);
  wavelength_band(par);
  reciprocal_cell(par);
  check_cell(run);
  primary_reflection(run);
  // 11. Primary structure factor
  sample_constants(par);
  primary_structure_factor(run);
  // 12. Crystal data
  list_lattice_constants(run);
  for (AtomType& t : par.types) tabulate_f0(t);
  list_scattering_factors(run);
  list_atoms(run);
  // 13. Absorption
  absorption_phase(run);
}

RunOutcome kaven(RunParameters& par, RunNames& names, RunFiles& files, std::istream& input,
                 std::ostream& listing, const RunEnvironment& env) {
  RunContext run(par, listing, env.errors);
  WorkArrays work{par};
  LineSource src(input);
  RunOutcome outcome;
  bool primary_line_reached = false;
  try {
    // 1. Entry
    const ExtinctionTable extinction = xtab1();
    long contributing = 0;     // crossings entering the simulated scan
    double theta_sum_deg = 0;  // primary Bragg angle summed over the passes
    std::vector<ScanCrossing> crossings;
    // 2. Banner
    run.out.record(std::string(30, ' ') + "****  KAVEN-99  ****");
    run.out.record(std::string(22, ' ') +
                   "Multiple diffraction in a mosaic crystal: Renninger-scan simulation");
    run.zeit(run.out);
    // 3. Lines 1 and 2, the plot file
    read_title(run, src);
    read_plot_name(run, src);
    names.dname1 = par.dname1;
    files.plot.open(resolve(env, par.dname1), std::ios::out | std::ios::trunc);
    if (!files.plot) cannot_open(run, par.dname1);
    // 4. to 8. Lines 3 to 9 and the centring
    read_crystal(run, src);
    // 9. Lines 10 to 12
    // The scan-file name turns blank once line 10 has been read and takes line 12
    // when that is read; a run that stops before line 10 leaves the caller's name.
    par.dname2 = names.dname2;
    primary_line_reached = true;
    read_primary_and_optional(run, src);
    names.dname2 = par.dname2;
    // 10. to 13. Geometry, primary structure factor, crystal data, absorption
    set_up_crystal(run);
    // 14. Measured scan
    if (par.scan_present) {
      files.scan.open(resolve(env, par.dname2));
      if (!files.scan) cannot_open(run, par.dname2);
      // Reading the measured scans is not built yet.
      not_built_yet(run);
    }
    // 15. Scale factor
    run.zeit(run.out);
    // 16. Reference direction and the psi offset of the diffractometer
    const std::array<float, 3> ref = reference_direction(par);
    if (par.ub_read) par.psid = upsi(par, ref[0], ref[1], ref[2]);
    // 17. Wavelength passes: Kalpha1 and Kalpha2 of a tube, one synchrotron line
    const std::vector<WavelengthPass> passes = wavelength_passes(par);
    const std::array<int, 3> lim = index_limits(par, par.isyn == 0 ? std::min(par.alam1, par.alam2) : par.alam1);
    ReflectionCache cache(par, lim[0], lim[1], lim[2]);
    for (std::size_t n = 0; n < passes.size(); ++n) {
      const WavelengthPass& pass = passes[n];
      par.alam = pass.lambda;
      par.dlam = pass.dlam;
      const PrimaryPass pp = primary_pass(par, extinction, pass);
      theta_sum_deg += pp.theta_p * double(57.29578f);
      EventPassResult result = search_events(par, pp, cache, n == 0, {env.threads});
      if (result.events.size() > 600)
        run.stop({"the number of output lines is to large",
                  "please increase drumin on the seventh input line"});
      list_event_pass(run.out, par, pass, pp, result, ref, MeasuredPrimary{});
      run.zeit(run.out);
      contributing += static_cast<long>(result.scan.size());
      crossings.insert(crossings.end(), result.scan.begin(), result.scan.end());
    }
    (void)theta_sum_deg;
    (void)contributing;
    not_built_yet(run);
  } catch (const RunStopped&) {
    outcome.end = RunEnd::stopped;
    if (primary_line_reached) names.dname2 = par.dname2;
  }
  outcome.ierr = run.ierr;
  return outcome;
}

}  // namespace kaven
