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
#include <span>
#include <vector>

#include "input/run_parameters.hpp"
#include "simulation/reflection_cache.hpp"
#include "scattering/sphere_tables.hpp"
#include "simulation/event_intensity.hpp"

namespace kaven {

// The two crossings of a reciprocal-lattice point through the Ewald sphere during the
// turn, at psi = phi + Delta and psi = phi - Delta; the listing marks them "i-o" and
// "o-i". The inner side of a crossing's profile faces its partner: below psi for the
// first, above psi for the second.
enum class Crossing : int {
  first = 1,   // psi = phi + Delta, listed "i-o"
  second = 2,  // psi = phi - Delta, listed "o-i"
};

// One crossing of a secondary reflection through the Ewald sphere, as listed. The
// values are single precision as the listing shows them (indices too).
struct MultipleDiffractionEvent {
  float h1, k1, l1;  // secondary reflection h
  float f1;          // |F(h)| (electrons)
  float theta1;      // Bragg angle of h (radians)
  float h2, k2, l2;  // coupling reflection h_p - h
  float f2;          // |F(h_p - h)| (electrons)
  float theta2;      // its Bragg angle (radians)
  float ikaven;      // Ikaven K^2 (cps times degrees of psi)
  float iaufhe;      // Iaufhe K^2 (cps times degrees of psi)
  float p12;         // polarisation factor
  float abs;         // absorption value sqrt(A1 A2)
  float crossing;    // 1.0 the first crossing, 2.0 the second (Crossing)
  float fwhm;        // full width of the psi profile (degrees)
  float beta;        // Delta (degrees)
  float psi;         // psi of this crossing (degrees)
  float phase1, phase2;  // phases of h and h_p - h (radians)
  // first pass only, for the psi-lambda diagram
  float phi_az;    // signed azimuth of h about h_p (radians)
  float h_sq;      // |h|^2 (Å^-2)
  float hp_sq;     // |h_p|^2 (Å^-2)
  float hq;        // h . h_p (Å^-2)
  float rho_sq;    // squared distance of h from the primary axis (Å^-2)
  float ext_code;  // 0; 2 |F1| absent; 3 |F2| absent
};

// What the scan simulation needs of one crossing.
struct ScanCrossing {
  float psi;      // psi of the crossing (degrees)
  float beta;     // Delta, half the distance to the partner crossing (degrees)
  float w_in;     // half width on the inner side (degrees)
  float w_out;    // half width on the outer side (degrees)
  float eta_m;    // pseudo-Voigt mixing parameter (0..1)
  float ikaven;   // integrated intensity added, without K^2 (cps times degrees of psi)
  float iaufhe;   // integrated intensity taken out, without K^2 (cps times degrees of psi)
  float k_block;  // block factor K of the pass
  float triplet;  // triplet phase (radians)
  float c_int;    // interference polarisation
  float iprim;    // I-prim of the pass (cps)
  Crossing crossing;
  std::array<int, 3> secondary{};  // the secondary reflection h
};

struct EventPassResult {
  int hmax = 0, kmax = 0, lmax = 0;
  long full_turn = 0;  // crossings during a full turn (twice the reflections)
  long in_range = 0;   // crossings with psia - 5 < psi < psie + 5
  long prager = 0;     // number of operative reflections
  std::vector<MultipleDiffractionEvent> events;  // sorted by psi
  std::vector<ScanCrossing> scan;                // in the order of the search
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

// Many searches over one list of reflections (one at each of many wavelengths): the
// geometry of a candidate that does not depend on the wavelength, formed once.
struct CandidateGeometry {
  int h1 = 0, k1 = 0, l1 = 0;  // the secondary reflection h
  double hq = 0;    // h . G* h_p (Å^-2)
  double pax = 0;   // component of h along the primary axis (Å^-1)
  double hsq = 0;   // |h|^2 (Å^-2)
  double rho2 = 0;  // squared distance of h from the primary axis (Å^-2)
  double rho = 0;   // its distance (Å^-1)
  double t = 0;     // (|h_p|/2 - p)^2 (Å^-2)
  double phi = 0;   // signed azimuth about the primary axis from the reference direction (radians)
};

// The reflections that a search at any wavelength from `shortest_lambda` up may meet
// (inside the limiting sphere and the axial band of that wavelength, off the primary
// axis), in the order of the search, with their geometry as the search forms it.
std::vector<CandidateGeometry> candidate_reflections(const RunParameters& par, double shortest_lambda);

// The structure factors of a search over such a list, kept by the caller per candidate
// j: of its secondary reflection h or its coupling reflection h_p - h (`coupling`).
// The values are those of the direct sum at the run record's f' and f''; screening
// values need only lie within margin() of them.
class CandidateStructureFactors {
 public:
  virtual ~CandidateStructureFactors() = default;
  virtual double margin() const = 0;
  virtual ReflectionCache::Entry screening(std::size_t j, bool coupling) = 0;
  // s: sin(theta)/lambda of the reflection as the search forms it (|h|/2).
  virtual ReflectionCache::Entry exact(std::size_t j, bool coupling, float s) = 0;
};

// The search of one pass over the candidates given, on the calling thread (the
// options' thread count is not used): what search_events gives at that wavelength when
// the list holds every reflection the pass can meet.
EventPassResult search_candidates(const RunParameters& par, const PrimaryPass& pp,
                                  std::span<const CandidateGeometry> candidates,
                                  CandidateStructureFactors& sf, bool first_pass,
                                  const EventSearchOptions& opt = {});

// The index limits INT(2a/lambda), INT(2b/lambda), INT(2c/lambda): every reciprocal-lattice
// point inside the limiting sphere |h| <= 2/lambda has |h| <= 2a/lambda and so on.
std::array<int, 3> index_limits(const RunParameters& par, double lambda);

// The search covers the box of the index limits, (2 hmax + 1)(2 kmax + 1)(2 lmax + 1)
// points; beyond kMaxSearchPoints (the box of a cell some 270 wavelengths wide, hours
// of searching and more) the run ends with a message before the first pass, instead
// of limits that overflow their integers and a search that covers a wrong box.
inline constexpr double kMaxSearchPoints = 2147483647.0;
// Stops the run (RunStopped) when the box of the shortest wavelength `lambda` is larger.
void check_search_size(const RunParameters& par, double lambda);

}  // namespace kaven
