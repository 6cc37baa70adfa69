#include "shell/energy_plan_command.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "core/run_stop.hpp"
#include "input/free_format.hpp"
#include "input/input_reader.hpp"
#include "plot/energy_pages.hpp"
#include "plot/postscript_plotter.hpp"
#include "plot/recording_plotter.hpp"
#include "plot/svg_plotter.hpp"
#include "shell/output_file.hpp"
#include "shell/run_context.hpp"

namespace kaven {

namespace fs = std::filesystem;

EnergyPlanPaths energy_plan_paths(const fs::path& listing) {
  const fs::path dir = listing.parent_path();
  const std::string stem = listing.stem().string();
  return {dir / (stem + "-map.csv"), dir / (stem + "-map.ps"), dir / (stem + "-map.svg"),
          dir / (stem + "-escan.csv"), dir / (stem + "-escan.svg")};
}

EnergyCrystal read_energy_crystal(std::istream& input) {
  EnergyCrystal c;
  std::ostream nowhere(nullptr);  // the lines are not listed
  RunContext run(c.par, nowhere);
  LineSource src(input);
  read_title(c.par, src);
  read_plot_name(c.par, src);
  read_crystal(run, src);
  read_primary_and_optional(c.par, src);
  c.f_input = c.par.f;
  c.phi_input = c.par.phi;
  return c;
}

std::string energy_request_problem(const EnergyPlanRequest& request, const EnergyCrystal& crystal) {
  if (std::string why = energy_input_problem(crystal.par); !why.empty()) return why;
  if (request.scan && !(request.scan->psi >= 0 && request.scan->psi <= 360))
    return "the psi of an energy scan lies in 0 .. 360 degrees, the psi axis of the synchrotron geometry";
  return {};
}

std::vector<ExportFile> energy_plan_files(const EnergyPlanRequest& request, const EnergyPlanPaths& paths) {
  std::vector<ExportFile> f;
  if (request.map) {
    f.push_back({paths.map_csv, FileRole::map_csv});
    f.push_back({paths.map_ps, FileRole::map_plot});
    f.push_back({paths.map_svg, FileRole::map_svg});
  }
  if (request.scan) {
    f.push_back({paths.escan_csv, FileRole::escan_csv});
    f.push_back({paths.escan_svg, FileRole::escan_svg});
  }
  return f;
}

namespace {

double input_energy(const EnergyPlan& plan) { return energy_of_wavelength(plan.base().alam1); }

// The files of a map: the table written energy by energy, the page at the end.
class MapFiles {
 public:
  MapFiles(const EnergyPlanPaths& paths, const EnergyPlan& plan, const EnergyGrid& grid,
           EnergyMapSummary& summary)
      : paths_(paths), picture_(plan.base(), grid, input_energy(plan)), summary_(summary) {
    summary_.grid = grid;
    summary_.input_kev = input_energy(plan);
    summary_.candidates = static_cast<long>(plan.sums().candidates().size());
  }
  std::string open() {
    for (auto [file, path] : {std::pair{&csv_, &paths_.map_csv}, {&ps_, &paths_.map_ps}, {&svg_, &paths_.map_svg}})
      if (!file->open(*path)) return "cannot write " + path->string() + ": " + file->error();
    write_map_csv_header(csv_.stream());
    return {};
  }
  void add(const EnergyPoint& p) {
    write_map_csv_rows(csv_.stream(), p);
    picture_.add(p);
    summary_.add(p);
  }
  std::string finish() {
    PostScriptPlotter ps(ps_.stream());
    SvgPlotter svg(svg_.stream());
    PlotterPair both(ps, svg);
    draw_energy_map(both, picture_, Zeit::from_environment().now());
    for (auto [file, kind] : {std::pair{&csv_, "table"}, {&ps_, "page"}, {&svg_, "page_svg"}}) {
      if (!file->commit()) return "cannot write " + file->path().string() + ": " + file->error();
      summary_.files.emplace_back(kind, file->path().string());
    }
    return {};
  }

 private:
  const EnergyPlanPaths& paths_;
  EnergyMapPicture picture_;
  EnergyMapSummary& summary_;
  OutputFile csv_, ps_, svg_;
};

class ScanFiles {
 public:
  ScanFiles(const EnergyPlanPaths& paths, const EnergyPlan& plan, const EnergyScanRequest& scan,
            EnergyScanSummary& summary)
      : paths_(paths), picture_(plan.base(), scan.grid, scan.psi, input_energy(plan)), summary_(summary) {
    summary_.grid = scan.grid;
    summary_.psi = scan.psi;
    summary_.input_kev = input_energy(plan);
  }
  std::string open() {
    for (auto [file, path] : {std::pair{&csv_, &paths_.escan_csv}, {&svg_, &paths_.escan_svg}})
      if (!file->open(*path)) return "cannot write " + path->string() + ": " + file->error();
    write_escan_csv_header(csv_.stream());
    return {};
  }
  void add(const EnergyScanPoint& p) {
    write_escan_csv_row(csv_.stream(), p);
    picture_.add(p);
    summary_.add(p);
  }
  std::string finish() {
    SvgPlotter svg(svg_.stream());
    draw_energy_scan(svg, picture_, Zeit::from_environment().now());
    for (auto [file, kind] : {std::pair{&csv_, "table"}, {&svg_, "plot"}}) {
      if (!file->commit()) return "cannot write " + file->path().string() + ": " + file->error();
      summary_.files.emplace_back(kind, file->path().string());
    }
    return {};
  }

 private:
  const EnergyPlanPaths& paths_;
  EnergyScanPicture picture_;
  EnergyScanSummary& summary_;
  OutputFile csv_, svg_;
};

// How the command names a file it wrote.
std::string written_label(const std::string& plan, const std::string& kind) {
  if (kind == "table") return plan + " (CSV)";
  if (kind == "page") return plan + " page";
  return plan + " (SVG)";
}

std::string stop_text(const RunStopped& stop) {
  std::string s;
  for (const std::string& r : stop.records) {
    const std::size_t b = r.find_first_not_of(' ');
    if (b == std::string::npos) continue;
    s += (s.empty() ? "" : " ") + r.substr(b);
  }
  return s;
}

EnergyMapOptions options(const EnergyPlanRequest& req, std::string_view stage) {
  EnergyMapOptions o;
  o.threads = req.threads;
  o.cancel = req.cancel;
  if (req.progress) o.progress = [&req, stage](double f) { req.progress({stage, f}); };
  return o;
}

}  // namespace

EnergyPlanOutcome run_energy_plans(const EnergyCrystal& crystal, const EnergyPlanRequest& req,
                                   const EnergyPlanPaths& paths) {
  EnergyPlanOutcome out;
  if (!req.map && !req.scan) return out;
  auto fail = [&](const std::string& why) {
    out.ok = false;
    out.messages.push_back(why);
    return out;
  };
  if (std::string why = energy_request_problem(req, crystal); !why.empty()) return fail("no energy plan: " + why);
  if (req.map && !(crystal.par.drumin > 0))
    out.messages.push_back("note: drumin on the sixth input line is 0: the listing lists no event, and the "
                           "energy map shows none");
  double highest = 0;
  if (req.map) highest = std::max(highest, req.map->e2_kev);
  if (req.scan) highest = std::max(highest, req.scan->grid.e2_kev);
  std::optional<EnergyPlan> plan;
  try {
    plan.emplace(crystal, highest, req.threads);
  } catch (const RunStopped& stop) {
    return fail("no energy plan: " + stop_text(stop));
  }
  try {
    if (req.map) {
      out.map.emplace();
      MapFiles files(paths, *plan, *req.map, *out.map);
      if (std::string why = files.open(); !why.empty()) return fail(why);
      auto add = [&](EnergyPoint&& p) {
        files.add(p);
        if (req.map_point) req.map_point(p);
      };
      if (!energy_map(*plan, *req.map, options(req, "energy map"), add))
        return fail("the energy map was cancelled: no map written");
      if (std::string why = files.finish(); !why.empty()) return fail(why);
      for (const auto& f : out.map->files) out.written.emplace_back(written_label("energy map", f.first), f.second);
    }
    if (req.scan) {
      out.scan.emplace();
      ScanFiles files(paths, *plan, *req.scan, *out.scan);
      if (std::string why = files.open(); !why.empty()) return fail(why);
      auto add = [&](EnergyScanPoint&& p) {
        files.add(p);
        if (req.scan_point) req.scan_point(p);
      };
      if (!energy_scan(*plan, req.scan->grid, req.scan->psi, options(req, "energy scan"), add))
        return fail("the energy scan was cancelled: no scan written");
      if (std::string why = files.finish(); !why.empty()) return fail(why);
      for (const auto& f : out.scan->files) out.written.emplace_back(written_label("energy scan", f.first), f.second);
    }
  } catch (const RunStopped& stop) {
    return fail("no energy plan: " + stop_text(stop));
  }
  return out;
}

std::string write_energy_map_files(const EnergyPlanPaths& paths, const EnergyPlan& plan, const EnergyGrid& grid,
                                   const std::vector<EnergyPoint>& points, EnergyMapSummary* summary) {
  EnergyMapSummary own;
  MapFiles files(paths, plan, grid, summary ? *summary : own);
  if (std::string why = files.open(); !why.empty()) return why;
  for (const EnergyPoint& p : points) files.add(p);
  return files.finish();
}

std::string write_energy_scan_files(const EnergyPlanPaths& paths, const EnergyPlan& plan,
                                    const EnergyScanRequest& scan, const std::vector<EnergyScanPoint>& points,
                                    EnergyScanSummary* summary) {
  EnergyScanSummary own;
  ScanFiles files(paths, plan, scan, summary ? *summary : own);
  if (std::string why = files.open(); !why.empty()) return why;
  for (const EnergyScanPoint& p : points) files.add(p);
  return files.finish();
}

std::string read_plan_crystal(const fs::path& input, EnergyPlansBesideRun& beside) {
  beside.crystal.reset();
  std::ifstream in(input);
  try {
    if (in) beside.crystal = read_energy_crystal(in);
  } catch (const RunStopped&) {
    return {};  // the run lists the read error
  }
  if (!beside.crystal) return {};
  return energy_request_problem(beside.plan, *beside.crystal);
}

void add_energy_plans(RunRequest& request, EnergyPlansBesideRun& beside) {
  const EnergyPlanPaths paths = energy_plan_paths(request.output);
  const std::vector<ExportFile> files = energy_plan_files(beside.plan, paths);
  request.more_files.insert(request.more_files.end(), files.begin(), files.end());
  request.after_run = [paths, &beside, &request](RunCommandResult& r, RunStatus& status) {
    if (!beside.crystal) {
      r.messages.push_back("no energy plan: the input could not be read (see the listing)");
      return false;
    }
    EnergyPlanRequest plan = beside.plan;
    plan.threads = request.threads;
    plan.progress = request.progress;
    plan.cancel = request.cancel;  // a cancel ends the plans as it ends the run
    beside.outcome = run_energy_plans(*beside.crystal, plan, paths);
    const EnergyPlanOutcome& out = beside.outcome;
    r.messages.insert(r.messages.end(), out.messages.begin(), out.messages.end());
    if (out.map) {
      beside.map_summary = *out.map;
      status.energy_map = &beside.map_summary;
    }
    if (out.scan) {
      beside.scan_summary = *out.scan;
      status.energy_scan = &beside.scan_summary;
    }
    return out.ok;
  };
}

void energy_run_command(const EnergyRunRequest& request, EnergyRunResult& out) {
  RunRequest run = request.run;
  if (run.output.empty()) run.output = default_listing_name(run.input);
  EnergyPlanRequest& plan = out.plans.plan;
  plan.map = request.map;
  plan.scan = request.scan;
  plan.map_point = request.map_point;
  plan.scan_point = request.scan_point;
  if (plan.map || plan.scan) {
    if (std::string why = read_plan_crystal(run.input, out.plans); !why.empty()) {
      out.refused = run.input.string() + ": " + why;
      return;
    }
    add_energy_plans(run, out.plans);
  }
  out.run = run_command(run);
}

}  // namespace kaven
