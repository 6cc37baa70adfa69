// Multiple-diffraction events of one wavelength: while the crystal turns by psi about
// the primary scattering vector h_p, the Ewald-sphere centre travels on a circle of
// radius cos(theta_p)/lambda about the primary axis. A reciprocal-lattice point h at
// axial component p and distance rho from the axis lies on the sphere at the two
// azimuths phi +- Delta, cos Delta = (rho^2 + R^2 - (1/lambda^2 - t)) / (2 R rho),
// t = (|h_p|/2 - p)^2; then the coupling reflection h_p - h carries intensity between
// the secondary and the primary beam.
#pragma once
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "input/run_parameters.hpp"
#include "scattering/sphere_tables.hpp"
#include "simulation/event_intensity.hpp"

namespace kaven {

// One crossing of a secondary reflection through the Ewald sphere, as listed.
struct MultipleDiffractionEvent {
  float h1, k1, l1;  // secondary reflection h
  float f1;          // |F(h)|
  float theta1;      // radians
  float h2, k2, l2;  // coupling reflection h_p - h
  float f2;
  float theta2;
  float ikaven;  // times K^2
  float iaufhe;  // times K^2
  float p12;
  float abs;
  float crossing;  // 1: Delta added (enters), 2: Delta subtracted
  float fwhm;      // degrees
  float beta;      // Delta, degrees
  float psi;       // degrees
  float phase1, phase2;  // radians
  // first pass only, for the psi-lambda diagram
  float phi_az;  // signed azimuth of h about h_p (radians)
  float h_sq, hp_sq, hq, rho_sq;
  float ext_code;  // 0; 2 |F1| absent; 3 |F2| absent
};

// What the scan simulation needs of one crossing.
struct ScanCrossing {
  float psi, beta, w_in, w_out, eta_m;
  float ikaven, iaufhe;  // without K^2
  float k_block;
  float triplet;  // radians
  float c_int;
  float iprim;  // I-prim of the pass
  int crossing;  // 1 or 2
};

struct EventPassResult {
  int hmax = 0, kmax = 0, lmax = 0;
  long full_turn = 0;  // crossings during a full turn (twice the reflections)
  long in_range = 0;   // crossings with psia - 5 < psi < psie + 5
  int prager = 0;      // number of operative reflections
  std::vector<MultipleDiffractionEvent> events;  // sorted by psi
  std::vector<ScanCrossing> scan;                // in the order of the search
};

// Structure factors of the run, each distinct reflection computed once: F depends only
// on the indices (s = |h|/2 from the metric), so the coupling reflections and the
// second wavelength pass meet the same values again. Safe to use from several threads.
class ReflectionCache {
 public:
  ReflectionCache(const RunParameters& par, int hmax, int kmax, int lmax);
  ~ReflectionCache();
  ReflectionCache(const ReflectionCache&) = delete;
  ReflectionCache& operator=(const ReflectionCache&) = delete;
  struct Entry {
    float fmod, phase;
  };
  // F of (h, k, l) at s, computed with the calling thread's calculator when new.
  Entry get(int h, int k, int l, float s, class StructureFactorCalculator& calc);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

struct EventSearchOptions {
  int threads = 0;  // 0: all cores; 1: serial
  // Fraction of the candidate planes done (0..1), called one call at a time from the
  // worker threads; optional.
  std::function<void(double)> progress;
  // Set by the caller to end the search early; the result is then incomplete.
  const std::atomic<bool>* cancel = nullptr;
};

// The search of one pass with the intensities of every candidate.
EventPassResult search_events(const RunParameters& par, const PrimaryPass& pp,
                              ReflectionCache& cache, bool first_pass,
                              const EventSearchOptions& opt = {});

// The deliberately plain variant: one thread, no cache. Kept to check the fast one
// and to measure it against.
EventPassResult search_events_plain(const RunParameters& par, const PrimaryPass& pp,
                                    bool first_pass);

// The index limits INT(2a/lambda) ...
std::array<int, 3> index_limits(const RunParameters& par, double lambda);

}  // namespace kaven
