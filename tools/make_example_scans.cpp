// Writes the synthetic measured scans of the bundled examples: kaven's own simulated
// scan of each example input (run without its scan file), scaled to the incident
// intensity the reference reflections are made to give, moved by a small psi offset,
// with a background and counting noise, encoded by tools/synthetic_scans.hpp.
//
//   make_example_scans SOURCE_DIR
//
// writes examples/yig/yig.dat (CAD4 output), examples/yig/yig-list.obs (a six-value
// "obs" list) and examples/si/si222ag2.dat (HUBER-HASYLAB output for the reference
// lines of examples/si/si222-scan.inp). The files are not measurements; their first
// line or the README beside them says so.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "input/free_format.hpp"
#include "input/input_reader.hpp"
#include "scans/scan_readers.hpp"
#include "scattering/sphere_tables.hpp"
#include "scattering/structure_factor.hpp"
#include "shell/run_driver.hpp"
#include "tools/synthetic_scans.hpp"

namespace fs = std::filesystem;
using namespace kaven;
namespace syn = kaven::synthetic;

namespace {

std::vector<std::string> read_lines(const fs::path& p) {
  std::ifstream in(p);
  if (!in) throw std::runtime_error("cannot read " + p.string());
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// An example input set up as far as the crystal: the run record with atoms and types,
// the lines before the scan-file name and those after it.
struct Example {
  RunParameters par;
  std::vector<std::string> before_scan_name, after_scan_name;
};

Example load(const fs::path& input) {
  Example e;
  const std::vector<std::string> lines = read_lines(input);
  std::istringstream in(syn::join(lines));
  LineSource src(in);
  std::ostringstream sink;
  RunContext run(e.par, sink);
  read_title(e.par, src);
  read_plot_name(e.par, src);
  read_crystal(run, src);
  read_primary_and_optional(e.par, src);
  if (!e.par.scan_present) throw std::runtime_error(input.string() + " names no scan file");
  const std::size_t n = static_cast<std::size_t>(src.line_number());  // line 12 included
  e.before_scan_name.assign(lines.begin(), lines.begin() + static_cast<long>(n) - 1);
  e.after_scan_name.assign(lines.begin() + static_cast<long>(n), lines.end());
  RunResult scratch;
  set_up_crystal(run, scratch);
  return e;
}

// The simulated scan of the input without its scan file, at the run's default I0.
struct Simulated {
  std::vector<float> profile;
  float i0;
};

Simulated simulate(const Example& e) {
  const fs::path dir = fs::temp_directory_path() / "kaven-example-scans";
  fs::create_directories(dir);
  RunParameters par;
  RunNames names;
  std::istringstream in(syn::join(e.before_scan_name));
  std::ostringstream listing;
  RunOutcome out;
  {
    RunFiles files;
    RunEnvironment env;
    env.base_dir = dir;
    out = kaven::kaven(par, names, files, in, listing, env);
  }
  fs::remove_all(dir);
  if (out.end != RunEnd::complete) throw std::runtime_error("the simulation did not complete");
  return {out.result.profile.intensity, par.i0};
}

// The simulated intensity at psi, linear between the steps.
double at(const Simulated& s, const RunParameters& p, double psi) {
  const double x = (psi - p.psia) * p.zsw;
  const long i = static_cast<long>(std::floor(x));
  if (i < 0) return s.profile.front();
  if (i + 1 >= static_cast<long>(s.profile.size())) return s.profile.back();
  const double w = x - static_cast<double>(i);
  return (1 - w) * s.profile[static_cast<std::size_t>(i)] + w * s.profile[static_cast<std::size_t>(i + 1)];
}

double theta_of(const RunParameters& p, int h, int k, int l) {
  const double q = p.gstar.length_sq(h, k, l);
  return std::asin(p.alam1 * std::sqrt(q) / 2) * double(57.29578f);
}

// Reference intensities that give I0 = `i0` (per reflection within a few per cent).
std::vector<syn::Reference> references(Example& e, const std::vector<std::array<int, 3>>& hkl,
                                       double i0, bool cad4_rules, syn::Noise& noise) {
  const ExtinctionTable ext = xtab1();
  StructureFactorCalculator calc(e.par);
  const ScanReaderContext ctx{e.par, ext, [&calc](int h, int k, int l, float s) {
                                return calc(h, k, l, s).fmod;
                              }};
  std::vector<syn::Reference> out;
  for (const auto& [h, k, l] : hkl) {
    const double theta = theta_of(e.par, h, k, l);
    const ReferenceReflection one = reference_quantities(
        ctx, h, k, l, static_cast<float>(theta), 1.0f, {e.par.isyn != 0, 1.0f}, cad4_rules);
    const double target = i0 * double(3.1415927f) * e.par.rkugel * e.par.rkugel;
    const double scatter = 1 + 0.03 * noise.normal();
    // A reflection that cannot be counted (absent, or below |F| 2 on the CAD4) was
    // measured all the same: a weak intensity from the events around it.
    const bool counted = one.accepted;
    out.push_back({h, k, l, theta, counted ? target * scatter / one.i0q : 30.0, 1.0});
    std::cout << "  " << h << " " << k << " " << l << "  |F| " << one.fc << "  I "
              << out.back().intensity << " cps\n";
  }
  return out;
}

void write(const fs::path& p, const std::string& text) {
  std::ofstream(p) << text;
  std::cout << "wrote " << p.string() << "\n";
}

// YIG 8 8 2 on the CAD4 (Ag radiation), and the same scan as an "obs" list.
void yig(const fs::path& root) {
  Example e = load(root / "examples/yig/yig.inp");
  const Simulated s = simulate(e);
  const double i0 = 3.0e10;  // 15 times the tube default: the events pass drumin 1
  const double scale = i0 / s.i0;
  const double shift = 0.04;
  syn::Noise noise(20240611);
  // Strong reflections of the garnet, and 1 0 1 (absent: listed, never counted).
  const std::vector<std::array<int, 3>> hkl = {
      {4, 0, 0}, {4, 2, 0}, {4, 2, 2}, {6, 4, 0}, {4, 4, 4}, {8, 0, 0}, {6, 4, 2}, {8, 4, 0}, {1, 0, 1}};
  std::cout << "YIG references (CAD4 rules):\n";
  const std::vector<syn::Reference> refs = references(e, hkl, i0, true, noise);
  std::vector<syn::PrimaryStep> steps;
  for (int n = 0; n <= 820; ++n) {
    const double psi = -66.0 + 0.1 * n;
    steps.push_back({psi, scale * at(s, e.par, psi - shift)});
  }
  syn::Cad4Options o;
  o.tubefac = e.par.tubefac;
  o.divisors = {4, 4, 4, 3, 4};
  o.background_cps = 0.05;
  o.noise = true;
  o.seed = 882;
  o.unreadable = false;
  o.primary_theta = theta_of(e.par, 8, 8, 2);
  std::vector<syn::PrimaryStep> measured = steps;
  for (syn::PrimaryStep& st : measured) st.intensity += 96 * o.background_cps;
  write(root / "examples/yig/yig.dat", syn::write_cad4(8, 8, 2, measured, refs, o).text);

  // The list holds background-corrected intensities with their counting noise.
  std::vector<syn::PrimaryStep> listed = steps;
  for (syn::PrimaryStep& st : listed)
    st.intensity = std::max(0.0, st.intensity + std::sqrt(std::max(st.intensity, 1.0) * 0.25) * noise.normal());
  std::string text = syn::write_obs(8, 8, 2, theta_of(e.par, 8, 8, 2), listed, refs, false).text;
  text = text.substr(text.find('\n') + 1);  // without the column note: see the README
  write(root / "examples/yig/yig-list.obs", text);
}

// Si 2 2 2 behind the Si 111 monochromator on the HUBER circle.
void silicon(const fs::path& root) {
  Example e = load(root / "examples/si/si222-scan.inp");
  const Simulated s = simulate(e);
  const double i0 = 1.2e10;
  const double scale = i0 / s.i0;
  const double shift = 0.003;
  syn::Noise noise(222);
  std::istringstream after(syn::join(e.after_scan_name));
  LineSource src(after);
  const ReferenceList list = read_reference_list(src, {});
  std::vector<std::array<int, 3>> hkl;
  for (const std::string& key : list.keys)
    hkl.push_back({std::stoi(key.substr(0, 4)), std::stoi(key.substr(4, 4)), std::stoi(key.substr(8, 4))});
  std::cout << "Si references (synchrotron rules):\n";
  std::vector<syn::Reference> refs = references(e, hkl, i0, false, noise);
  for (std::size_t i = 0; i < refs.size(); ++i) refs[i].ratio = i % 4 == 3 ? 0.96 : 1.0;
  std::vector<syn::PrimaryStep> steps;
  for (int n = 0; n <= 600; ++n) {
    const double psi = 176.0 + 0.005 * n;
    const double v = scale * at(s, e.par, psi - shift);
    steps.push_back({psi, std::max(0.0, v + std::sqrt(std::max(v, 1.0) * 0.1) * noise.normal())});
  }
  syn::HuberOptions o;
  o.ff = {list.corrections.ff1, list.corrections.ff2, list.corrections.ff3};
  o.tau_us = {list.corrections.tau1 * 1e6, list.corrections.tau2 * 1e6, list.corrections.tau3 * 1e6};
  o.bcm = list.corrections.bcm;
  o.filter_by_intensity = true;
  o.noise = true;
  o.references_every = 20;
  const double two_theta = 2 * theta_of(e.par, 2, 2, 2);
  write(root / "examples/si/si222ag2.dat", syn::write_huber(2, 2, 2, steps, refs, two_theta, o).text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_example_scans SOURCE_DIR\n";
    return 2;
  }
  setenv("SOURCE_DATE_EPOCH", "1000000000", 1);
  try {
    const fs::path root = argv[1];
    yig(root);
    silicon(root);
  } catch (const std::exception& ex) {
    std::cerr << "make_example_scans: " << ex.what() << "\n";
    return 1;
  }
  return 0;
}
