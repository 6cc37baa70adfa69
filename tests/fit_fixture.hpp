// Measured scans made from kaven's own simulation with planted values, for the tests of
// the fit: the planted run is an ordinary run of an input whose wavelength (or cell),
// orientation matrix and line 5 carry the planted values, so that what the fit recovers
// is checked against the run itself, not against the fit's own model. Its scan, scaled,
// with a background and counting noise of a fixed seed, is written as an "obs" list that
// the nominal input names.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "analysis/scan_fit.hpp"
#include "core/number_text.hpp"
#include "run_fixture.hpp"
#include "simulation/reference_direction.hpp"

namespace kaven_test {

// A small tube case: Si 2 2 2 with Cu K-alpha (the primary reflection is absent, the
// scan shows the events alone), psi 3 to 14.5 degrees with five events of different
// rates of motion with lambda/a; an orientation matrix, so that line 12 is read.
inline Lines si_cu_lines() {
  return {"Si 222 - Cu K-alpha, synthetic scan",
          "si-cu.ps",
          "5.4309  5.4309  5.4309  90. 90. 90.",
          "Cu",
          "0.02  0.02  100.  20.  0.01",
          "3. 14.5 40. 0  0.5 0.",
          "2  4  1",
          "Siva",
          "   1  1.  0.125  0.125  0.125",
          "0.0039  0.0039  0.0039  0.  0.  0.",
          "   1  1.  0.125  0.625  0.625",
          "0.0039  0.0039  0.0039  0.  0.  0.",
          "   1  1.  0.625  0.125  0.625",
          "0.0039  0.0039  0.0039  0.  0.  0.",
          "   1  1.  0.625  0.625  0.125",
          "0.0039  0.0039  0.0039  0.  0.  0.",
          "2  2  2   0.    0. 3.0   3.1",
          "0.18413  0.  0.",
          "0.  0.18413  0.",
          "0.  0.  0.18413"};
}

// A small synchrotron case: Si 2 2 2 at 0.5612 Å behind Si 111 with |F| = 1.5 given (as
// the example does), psi 7 to 9.5 degrees with four events, the interference term on
// (nnn = 2).
inline Lines si_synchrotron_lines() {
  Lines in = si_cu_lines();
  in[0] = "Si 222 - synchrotron, synthetic scan";
  in[1] = "si-syn.ps";
  in[3] = "1 0.5612  5.43 1 1 1 58.19";
  in[4] = "0.005  0.01  250.  20.  0.001";
  in[5] = "7. 9.5 100. 2  20. 0.";
  in[7] = "Siva 0.0522    0.0431";
  in[16] = "2  2  2   1.5    0. 7.0   7.1";  // |F| given: a primary beam to interfere with
  return in;
}

struct Planted {
  double psi_offset = 0;  // degrees added to PsiD
  double lambda_a = 1;    // lambda/a relative to the nominal input's
  double scale = 1;
  double background = 0;
  std::optional<float> eta;  // mosaic spread, when planted
};

// Line numbers of the inputs above.
inline constexpr std::size_t kCellLine = 2, kRadiationLine = 3, kBeamLine = 4, kScanLine = 5,
                             kUbLine = 17;

// Normal deviates of a fixed sequence (xorshift and Box-Muller: the same on every
// platform, unlike the library's distributions).
class Noise {
 public:
  explicit Noise(std::uint64_t seed) : s_(seed * 2654435761u + 1) {}
  double normal() {
    const double u1 = (double(next() >> 11) + 0.5) / 9007199254740992.0;
    const double u2 = (double(next() >> 11) + 0.5) / 9007199254740992.0;
    return std::sqrt(-2 * std::log(u1)) * std::cos(2 * M_PI * u2);
  }

 private:
  std::uint64_t next() {
    s_ ^= s_ << 13, s_ ^= s_ >> 7, s_ ^= s_ << 17;
    return s_;
  }
  std::uint64_t s_;
};

inline std::vector<std::string> numbers(const std::string& line) {
  std::istringstream is(line);
  std::vector<std::string> v;
  for (std::string t; is >> t;) v.push_back(t);
  return v;
}

// The nominal input `nominal` with a measured scan `scan_name` in the folder `dir`, made
// by the planted run. Returns the input to fit.
inline Lines plant_scan(const fs::path& dir, const Lines& nominal, const Planted& p,
                        const std::string& scan_name, std::uint64_t seed) {
  // The nominal run gives PsiD and the orientation matrix turned by the planted offset.
  Session nominal_run;
  const ListedRun n = nominal_run.run(nominal);
  if (n.stopped()) throw std::runtime_error("the nominal input does not run");
  const kaven::RunParameters& par = nominal_run.par;
  Lines planted = nominal;
  const std::array<float, 9> ub = kaven::ub_turned(par, p.psi_offset);
  for (int r = 0; r < 3; ++r)
    planted[kUbLine + static_cast<std::size_t>(r)] = kaven::shortest(ub[3 * r]) + " " +
                                                     kaven::shortest(ub[3 * r + 1]) + " " +
                                                     kaven::shortest(ub[3 * r + 2]);
  if (par.isyn > 0) {
    std::vector<std::string> v = numbers(planted[kRadiationLine]);
    v[1] = kaven::shortest(static_cast<float>(par.alam1 * p.lambda_a));
    planted[kRadiationLine] = v[0] + " " + v[1] + " " + v[2] + " " + v[3] + " " + v[4] + " " + v[5] + " " + v[6];
  } else {
    const std::string a = kaven::shortest(static_cast<float>(par.a / p.lambda_a));
    planted[kCellLine] = a + " " + a + " " + a + " 90. 90. 90.";
  }
  if (p.eta) {
    std::vector<std::string> v = numbers(planted[kBeamLine]);
    v[4] = kaven::shortest(*p.eta);
    planted[kBeamLine] = v[0] + " " + v[1] + " " + v[2] + " " + v[3] + " " + v[4];
  }
  Session planted_run;
  const ListedRun r = planted_run.run(planted);
  if (r.stopped()) throw std::runtime_error("the planted input does not run");
  const std::vector<float>& prof = r.outcome.result.profile.intensity;
  // Counting noise as the fit weighs it: rates of counts over 60 s on the tube.
  const bool tube = par.isyn == 0;
  const double c = tube ? 0.1291 : 1.0;
  Noise noise(seed);
  Lines obs;
  for (std::size_t i = 0; i < prof.size(); ++i) {
    const double y = p.scale * prof[i] + p.background;
    const double measured = y + c * std::sqrt(std::max(y, tube ? c * c : 1.0)) * noise.normal();
    char buf[160];
    std::snprintf(buf, sizeof buf, "%d %d %d %.3f %.4f %.6f%s", par.h, par.k, par.l, 14.0,
                  par.psia + double(i) / par.zsw, measured, tube ? "" : " 1.0");
    obs.push_back(buf);
  }
  write_lines(dir / scan_name, obs);
  Lines fit = nominal;
  fit.push_back(scan_name);
  return fit;
}

struct FitRun {
  kaven::RunOutcome outcome;
  kaven::ScanFitResult fit;
  Lines records;
};

// A run of `lines` in the session with the fit of its measured scan.
inline FitRun run_fit(Session& s, const Lines& lines, const kaven::FitOptions& options) {
  std::istringstream in(join_lines(lines));
  std::ostringstream out;
  FitRun r;
  kaven::RunFiles files;
  kaven::RunEnvironment env;
  env.base_dir = s.dir.path();
  env.analysis = [&](const kaven::RunParameters& par, kaven::RunResult& result, kaven::Listing&) {
    r.fit = kaven::fit_measured_scan(par, result, options);
  };
  r.outcome = kaven::kaven(s.par, s.names, files, in, out, env);
  r.records = split_records(out.str());
  return r;
}

}  // namespace kaven_test
