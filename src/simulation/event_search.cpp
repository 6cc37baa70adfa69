#include "simulation/event_search.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <string>

#include "core/constants.hpp"
#include "core/parallel.hpp"
#include "core/run_stop.hpp"
#include "scattering/structure_factor.hpp"
#include "simulation/reference_direction.hpp"

namespace kaven {
namespace {

// 2x/lambda, truncated; limits beyond any box the search takes are held at the largest
// such box (check_search_size ends those runs first).
int index_limit(float edge, double lambda) {
  const double v = std::trunc(2 * double(edge) / lambda);
  return v >= 0 && v <= kMaxSearchPoints ? static_cast<int>(v) : static_cast<int>(kMaxSearchPoints / 2);
}

}  // namespace

std::array<int, 3> index_limits(const RunParameters& p, double lambda) {
  return {index_limit(p.a, lambda), index_limit(p.b, lambda), index_limit(p.c, lambda)};
}

void check_search_size(const RunParameters& p, double lambda) {
  double points = 1;
  std::string limits;
  for (float edge : {p.a, p.b, p.c}) {
    const double v = std::trunc(2 * double(edge) / lambda);
    points *= 2 * v + 1;
    char buf[32];
    std::snprintf(buf, sizeof buf, " %.0f", v);
    limits += buf;
  }
  if (!(points <= kMaxSearchPoints))
    stop_run({"", "", " The cell is too large for the event search: the index limits",
              " 2a/lambda, 2b/lambda, 2c/lambda =" + limits,
              " give more than 2147483647 index triples to search. Check the cell constants",
              " on the third input line and the wavelength on the fourth!"});
}

namespace {

// Everything of a pass that every candidate reads.
struct PassSetup {
  const RunParameters& p;
  const PrimaryPass& pp;
  bool first_pass;
  double lam = 0, inv_lam = 0, sp = 0, hp = 0, R = 0;
  ReciprocalMetric g{};
  double q1 = 0, q2 = 0, q3 = 0;
  std::array<double, 3> gr{};  // G* r
  double r_len = 0;
  std::array<double, 3> rxh{};  // r x h_p on the plain index components
  bool scan_requested = false;
  bool skip_weak = true;  // the plain search forms every event's values
};

PassSetup make_setup(const RunParameters& p, const PrimaryPass& pp, bool first_pass) {
  PassSetup s{p, pp, first_pass};
  s.lam = pp.lambda;
  s.inv_lam = 1 / s.lam;
  s.sp = p.sp;
  s.R = std::cos(pp.theta_p) / s.lam;
  s.g = p.gstar;
  // q = G* h_p and |h_p| formed again in double from the stored metric. The single-
  // precision q and |h_p| of the record are off by a few 1e-8, which rho^2 = |h|^2 - p^2
  // of a point near the primary axis and the acos of a point near the reference plane
  // magnify to hundredths of a degree in psi.
  const std::array<double, 3> q = s.g.times(p.h, p.k, p.l);
  s.q1 = q[0], s.q2 = q[1], s.q3 = q[2];
  s.hp = std::sqrt(p.h * s.q1 + p.k * s.q2 + p.l * s.q3);
  // r is perpendicular to h_p only to single precision: its part along h_p goes.
  const std::array<float, 3> r = reference_direction(p);
  const double along = (r[0] * s.q1 + r[1] * s.q2 + r[2] * s.q3) / (s.hp * s.hp);
  const std::array<double, 3> rp{r[0] - along * p.h, r[1] - along * p.k, r[2] - along * p.l};
  s.gr = s.g.times(rp[0], rp[1], rp[2]);
  s.r_len = std::sqrt(rp[0] * s.gr[0] + rp[1] * s.gr[1] + rp[2] * s.gr[2]);
  s.rxh = {double(r[1]) * p.l - double(r[2]) * p.k, double(r[2]) * p.h - double(r[0]) * p.l,
           double(r[0]) * p.k - double(r[1]) * p.h};
  s.scan_requested = p.zsw1 > 0;
  return s;
}

// Output of a stretch of the search (one h1 plane, or the whole pass).
struct SearchChunk {
  long full_turn = 0, in_range = 0;
  std::vector<MultipleDiffractionEvent> events;
  std::vector<ScanCrossing> scan;
};

double wrap_psi(double psi, int isyn) {
  if (std::fabs(psi) > 180.0) psi -= 360.0 * (psi > 0 ? 1 : -1);
  if (isyn > 0 && psi < 0) psi += 360.0;
  return psi;
}

// The part of a candidate's geometry that does not depend on the wavelength; false for
// a point on the primary axis. The azimuth phi is left for later (NaN): most points of
// the index box never reach the sphere.
bool axial_geometry(const PassSetup& s, int h1, int k1, int l1, CandidateGeometry& g) {
  g.h1 = h1, g.k1 = k1, g.l1 = l1;
  g.hq = h1 * s.q1 + k1 * s.q2 + l1 * s.q3;
  g.pax = g.hq / s.hp;  // component of h along the primary axis
  g.hsq = s.g.length_sq(h1, k1, l1);
  g.rho2 = g.hsq - g.pax * g.pax;
  if (g.rho2 < 1e-6) return false;  // on the primary axis
  g.rho = std::sqrt(g.rho2);
  g.t = (s.hp / 2 - g.pax) * (s.hp / 2 - g.pax);
  g.phi = std::numeric_limits<double>::quiet_NaN();
  return true;
}

// Signed azimuth of h about the primary axis, from the reference direction: with chi
// the angle between h and the axis, cos phi = h . G* r / (|r| |h| sin chi), and
// |h| sin chi is the distance rho from the axis.
double azimuth(const PassSetup& s, const CandidateGeometry& g) {
  const double hgr = g.h1 * s.gr[0] + g.k1 * s.gr[1] + g.l1 * s.gr[2];
  double cos_phi = hgr / (s.r_len * g.rho);
  cos_phi = std::clamp(cos_phi, -1.0, 1.0);
  double phi = std::fabs(std::acos(cos_phi));
  if (s.rxh[0] * g.h1 + s.rxh[1] * g.k1 + s.rxh[2] * g.l1 < 0) phi = -phi;
  return phi;
}

// The roles of a candidate's two reflections, for structure factors kept per candidate.
enum class Role { secondary, coupling };

// One candidate h = (h1, k1, l1) at the pass's wavelength; structure factors from `sf`:
// sf.exact(role, h, k, l, s) the value of the direct sum, and where weak crossings are
// skipped sf.screening(role, h, k, l), within sf.margin() of it.
template <class StructureFactors>
void candidate(const PassSetup& s, const CandidateGeometry& g, StructureFactors& sf, SearchChunk& out) {
  const RunParameters& p = s.p;
  const int h1 = g.h1, k1 = g.k1, l1 = g.l1;
  const double pax = g.pax, hsq = g.hsq, rho2 = g.rho2, rho = g.rho, t = g.t;
  if (pax < -(s.inv_lam - s.sp) || pax > s.inv_lam + s.sp) return;
  if (hsq > 4 * s.inv_lam * s.inv_lam) return;  // outside the limiting sphere
  const double cos_delta = (rho2 + s.R * s.R - (s.inv_lam * s.inv_lam - t)) / (2 * s.R * rho);
  if (std::fabs(cos_delta) > 1) return;  // never reaches the sphere
  const double delta = std::acos(cos_delta);
  const double hlen = std::sqrt(hsq);
  const double phi = std::isnan(g.phi) ? azimuth(s, g) : g.phi;
  const double psid = p.psid;
  const double psi_pos[2] = {wrap_psi((phi + delta) * 180 / kPi + psid, p.isyn),
                             wrap_psi((phi - delta) * 180 / kPi + psid, p.isyn)};
  ++out.full_turn;
  // Secondary and coupling reflection.
  const int h2 = p.h - h1, k2 = p.k - k1, l2 = p.l - l1;
  const double s1 = hlen / 2;
  const double beta_deg = delta * 180 / kPi;
  const double h2sq = s.g.length_sq(h2, k2, l2);
  const double s2 = std::sqrt(std::max(0.0, h2sq)) / 2;
  // Out of the thousands of crossings of a turn only a few are strong enough to be
  // listed or to enter the scan: the others are counted, and their values are not
  // formed when a bound of their peak value already stays below both thresholds. The
  // bound takes the screening moduli within their margin; its own margin covers what a
  // change of |F| that small does to the profile.
  if (s.skip_weak) {
    const double bound =
        screening_peak_bound(p, s.pp, rho, t, beta_deg, sf.screening(Role::secondary, h1, k1, l1).fmod,
                             sf.screening(Role::coupling, h2, k2, l2).fmod, sf.margin());
    const bool listable = p.drumin > 0 && !(bound < p.drumin) &&
                          std::any_of(psi_pos, psi_pos + 2, [&](double psi) {
                            return psi > p.psia - 5.0 && psi < p.psie + 5.0;
                          });
    const bool scanned = s.scan_requested && !(bound <= p.drumin_scan);
    if (!listable && !scanned) {
      for (double psi : psi_pos)
        if (psi > p.psia - 5.0 && psi < p.psie + 5.0) ++out.in_range;
      return;
    }
  }
  const auto F1 = sf.exact(Role::secondary, h1, k1, l1, static_cast<float>(s1));
  const auto F2 = sf.exact(Role::coupling, h2, k2, l2, static_cast<float>(s2));
  const float ext_code = F1.fmod < kAbsentF ? 2.0f : (F2.fmod < kAbsentF ? 3.0f : 0.0f);
  EventGeometry eg{rho, t, beta_deg, cos_delta, F1.fmod, F2.fmod, F1.phase, F2.phase, 0, 0};
  const EventProfile profile = event_profile(p, s.pp, eg);
  const double theta1 = std::asin(std::min(1.0, s.lam * s1));
  const double theta2 = std::asin(std::min(1.0, s.lam * s2));
  eg.theta1 = theta1;
  eg.theta2 = theta2;
  const EventValues v = event_values(p, s.pp, eg, profile);
  const double kk = s.pp.k_block * s.pp.k_block;
  for (int c = 0; c < 2; ++c) {
    const Crossing crossing = c == 0 ? Crossing::first : Crossing::second;
    const double psi = psi_pos[c];
    if (psi > p.psia - 5.0 && psi < p.psie + 5.0) {
      ++out.in_range;
      if (p.drumin > 0 && v.peak >= p.drumin) {
        MultipleDiffractionEvent e{};
        e.h1 = float(h1), e.k1 = float(k1), e.l1 = float(l1);
        e.f1 = F1.fmod;
        e.theta1 = static_cast<float>(theta1);
        e.h2 = float(h2), e.k2 = float(k2), e.l2 = float(l2);
        e.f2 = F2.fmod;
        e.theta2 = static_cast<float>(theta2);
        e.ikaven = static_cast<float>(v.ikaven * kk);
        e.iaufhe = static_cast<float>(v.iaufhe * kk);
        e.p12 = static_cast<float>(v.p12);
        e.abs = static_cast<float>(v.abs);
        e.crossing = static_cast<float>(crossing);
        e.fwhm = static_cast<float>(v.fwhm);
        e.beta = static_cast<float>(beta_deg);
        e.psi = static_cast<float>(psi);
        e.phase1 = F1.phase;
        e.phase2 = F2.phase;
        if (s.first_pass) {
          e.phi_az = static_cast<float>(phi);
          e.h_sq = static_cast<float>(hsq);
          e.hp_sq = static_cast<float>(s.hp * s.hp);
          e.hq = static_cast<float>(g.hq);
          e.rho_sq = static_cast<float>(rho2);
          e.ext_code = ext_code;
        }
        out.events.push_back(e);
      }
    }
    if (s.scan_requested && v.peak > p.drumin_scan) {
      ScanCrossing sc{static_cast<float>(psi), static_cast<float>(beta_deg),
                      static_cast<float>(v.w_in), static_cast<float>(v.w_out),
                      static_cast<float>(v.eta_m), static_cast<float>(v.ikaven),
                      static_cast<float>(v.iaufhe), static_cast<float>(s.pp.k_block),
                      static_cast<float>(v.triplet), static_cast<float>(v.c_int),
                      static_cast<float>(s.pp.iprim), crossing};
      sc.secondary = {h1, k1, l1};
      out.scan.push_back(sc);
    }
  }
}

template <class StructureFactors>
void search_plane(const PassSetup& s, int h1, int kmax, int lmax, StructureFactors& sf,
                  SearchChunk& out) {
  CandidateGeometry g;
  for (int k1 = -kmax; k1 <= kmax; ++k1)
    for (int l1 = -lmax; l1 <= lmax; ++l1) {
      if (h1 == 0 && k1 == 0 && l1 == 0) continue;
      if (axial_geometry(s, h1, k1, l1, g)) candidate(s, g, sf, out);
    }
}

EventPassResult finish(const RunParameters& p, const PrimaryPass& pp, std::array<int, 3> lim,
                       SearchChunk&& all) {
  EventPassResult r;
  r.hmax = lim[0], r.kmax = lim[1], r.lmax = lim[2];
  r.full_turn = 2 * all.full_turn;
  r.in_range = all.in_range;
  // Operative reflections by Prager's formula.
  const double lam = pp.lambda;
  // (at most about 5 times the searched box: a long holds it)
  r.prager = static_cast<long>(4 * double(kPiSingle) * double(kPiSingle) * p.vol *
                               std::cos(pp.theta_p) / (lam * lam * lam));
  r.events = std::move(all.events);
  r.scan = std::move(all.scan);
  // Ascending psi; stable, as the exchange of neighbours while any exchange happens.
  if (p.drumin > 0)
    std::stable_sort(r.events.begin(), r.events.end(),
                     [](const MultipleDiffractionEvent& a, const MultipleDiffractionEvent& b) {
                       return a.psi < b.psi;
                     });
  return r;
}

// The structure factors of the search from the run's cache.
struct CachedFactors {
  explicit CachedFactors(ReflectionCache& cache) : reader(cache), m(cache.screening_margin()) {}
  ReflectionCache::Reader reader;
  double m;
  double margin() const { return m; }
  ReflectionCache::Entry screening(Role, int h, int k, int l) { return reader.screening(h, k, l); }
  ReflectionCache::Entry exact(Role, int h, int k, int l, float sv) { return reader.exact(h, k, l, sv); }
};

// Every F formed afresh: the plain search, which skips nothing.
struct PlainFactors {
  const RunParameters& par;
  StructureFactorCalculator calc;
  double margin() const { return 0; }
  ReflectionCache::Entry exact(Role, int h, int k, int l, float sv) {
    const StructureFactor f = calc(h, k, l, sv);
    return {f.fmod, f.phase};
  }
  ReflectionCache::Entry screening(Role role, int h, int k, int l) {
    return exact(role, h, k, l, reflection_s(par, h, k, l));
  }
};

void append(SearchChunk& into, SearchChunk&& part) {
  into.full_turn += part.full_turn;
  into.in_range += part.in_range;
  into.events.insert(into.events.end(), part.events.begin(), part.events.end());
  into.scan.insert(into.scan.end(), part.scan.begin(), part.scan.end());
}

// The structure factors of a search over given candidates, kept by their caller per
// candidate: the candidate's index in the list and the role pick the value.
struct ListFactors {
  CandidateStructureFactors& sf;
  std::size_t j = 0;
  double margin() const { return sf.margin(); }
  ReflectionCache::Entry screening(Role role, int, int, int) {
    return sf.screening(j, role == Role::coupling);
  }
  ReflectionCache::Entry exact(Role role, int, int, int, float sv) {
    return sf.exact(j, role == Role::coupling, sv);
  }
};

}  // namespace

std::vector<CandidateGeometry> candidate_reflections(const RunParameters& p, double shortest_lambda) {
  // The set-up of a pass at the shortest wavelength: the frame (q, |h_p|, the reference
  // direction) is the same at every wavelength, and the band filters of the search are
  // widest there.
  PrimaryPass pp{};
  pp.lambda = shortest_lambda;
  pp.theta_p = std::asin(std::min(1.0, shortest_lambda * double(p.hp_len) / 2));
  const PassSetup s = make_setup(p, pp, false);
  const std::array<int, 3> lim = index_limits(p, shortest_lambda);
  std::vector<CandidateGeometry> list;
  CandidateGeometry g;
  for (int h1 = -lim[0]; h1 <= lim[0]; ++h1)
    for (int k1 = -lim[1]; k1 <= lim[1]; ++k1)
      for (int l1 = -lim[2]; l1 <= lim[2]; ++l1) {
        if (h1 == 0 && k1 == 0 && l1 == 0) continue;
        if (!axial_geometry(s, h1, k1, l1, g)) continue;
        if (g.pax < -(s.inv_lam - s.sp) || g.pax > s.inv_lam + s.sp) continue;
        if (g.hsq > 4 * s.inv_lam * s.inv_lam) continue;
        g.phi = azimuth(s, g);
        list.push_back(g);
      }
  return list;
}

EventPassResult search_candidates(const RunParameters& p, const PrimaryPass& pp,
                                  std::span<const CandidateGeometry> candidates,
                                  CandidateStructureFactors& sf, bool first_pass,
                                  const EventSearchOptions& opt) {
  const PassSetup s = make_setup(p, pp, first_pass);
  const std::array<int, 3> lim = index_limits(p, pp.lambda);
  ListFactors list{sf};
  SearchChunk all;
  for (std::size_t j = 0; j < candidates.size(); ++j) {
    if ((j & 4095) == 0 && opt.cancel && opt.cancel->load(std::memory_order_relaxed)) break;
    const CandidateGeometry& c = candidates[j];
    // Within the box of this wavelength, as the search of a pass takes it.
    if (std::abs(c.h1) > lim[0] || std::abs(c.k1) > lim[1] || std::abs(c.l1) > lim[2]) continue;
    list.j = j;
    candidate(s, c, list, all);
  }
  return finish(p, pp, lim, std::move(all));
}

EventPassResult search_events(const RunParameters& p, const PrimaryPass& pp,
                              ReflectionCache& cache, bool first_pass,
                              const EventSearchOptions& opt) {
  const PassSetup s = make_setup(p, pp, first_pass);
  const std::array<int, 3> lim = index_limits(p, pp.lambda);
  const int hmax = lim[0];
  const int n_planes = 2 * hmax + 1;
  std::vector<SearchChunk> planes(static_cast<std::size_t>(n_planes));
  int threads = thread_count(opt.threads);
  threads = std::min(threads, n_planes);
  // The h1 planes are handed out one at a time; each plane's results are kept apart
  // and joined in h1 order afterwards, so the result equals the serial search.
  std::atomic<int> next{0};
  std::mutex progress_mutex;
  int planes_done = 0;
  auto work = [&]() {
    CachedFactors sf{cache};
    for (int i = next.fetch_add(1); i < n_planes; i = next.fetch_add(1)) {
      if (opt.cancel && opt.cancel->load(std::memory_order_relaxed)) break;
      search_plane(s, i - hmax, lim[1], lim[2], sf, planes[static_cast<std::size_t>(i)]);
      if (opt.progress) {
        std::lock_guard<std::mutex> lock(progress_mutex);
        opt.progress(double(++planes_done) / n_planes);
      }
    }
  };
  run_on_threads(threads, work);
  SearchChunk all;
  for (auto& pl : planes) append(all, std::move(pl));
  return finish(p, pp, lim, std::move(all));
}

EventPassResult search_events_plain(const RunParameters& p, const PrimaryPass& pp,
                                    bool first_pass) {
  PassSetup s = make_setup(p, pp, first_pass);
  s.skip_weak = false;
  const std::array<int, 3> lim = index_limits(p, pp.lambda);
  PlainFactors sf{p, StructureFactorCalculator(p)};
  SearchChunk all;
  for (int h1 = -lim[0]; h1 <= lim[0]; ++h1) search_plane(s, h1, lim[1], lim[2], sf, all);
  return finish(p, pp, lim, std::move(all));
}

}  // namespace kaven
