// The simulated Renninger scan: the primary intensity I-prim plus, at each psi step,
// the profiles of every crossing that entered (asymmetric pseudo-Voigt, area 1), each
// carrying the intensity the double reflection adds (Ikaven), the intensity taken out
// of the primary beam (Iaufhe) and, when asked for, the interference term of the
// triplet phase.
//
// Profile of one crossing over psi (degrees), x the distance from the crossing:
//   P(w)  = eta_m/(pi w) + (1 - eta_m) sqrt(ln2/pi)/w     peak of an area-1 half
//   F(x)  = lead [eta_m/(pi w)/(1 + (x/w)^2) + (1 - eta_m) sqrt(ln2/pi)/w exp(-x^2/2 sigma^2)]
// with w = w_in on the inner side (towards the partner crossing of the same
// reflection, cut at BETA) and w = w_out on the outer side (no cut); the leading
// factors 2 P_out/(P_in + P_out) inside and 2 P_in/(P_in + P_out) outside join the two
// halves at the peak. A crossing without inner width (w_in = 0) has a plateau of
// height P(w_out) up to BETA. At a step with profile value f the crossing adds
//   K J + K^2 (Ikaven f - Iaufhe f),
//   J = 2 sqrt((I-prim/K - Iaufhe f) Ikaven f) cos(Phi + pi/2 + atan(x/(nnn sigma))) c_int,
// the removed intensity being capped at I-prim/K (and J dropped there).
#pragma once
#include <atomic>
#include <functional>
#include <vector>

#include "input/run_parameters.hpp"
#include "simulation/event_search.hpp"

namespace kaven {

struct ScanProfile {
  std::vector<float> intensity;  // cps per step i = 0..nstep at psi = psia + i/zsw
  float iprim_total = 0;         // sum of the passes' I-prim (cps)
  float max = 0, min = 1.0e9f;   // calculated extremes (cps); later steps win ties
  float psi_max = 0, psi_min = 0;  // degrees
  long entered = 0;              // crossings that entered the scan
};

// A scan worth drawing: crossings entered and the maximum rises above the minimum.
inline bool plottable(const ScanProfile& p) { return p.entered > 0 && p.max > p.min; }

struct ScanOptions {
  int threads = 0;  // 0: all cores; 1: serial. The profile does not depend on it.
  // Fraction of the scan done (0..1), called one call at a time; optional.
  std::function<void(double)> progress;
  // Set by the caller to end the simulation early; the profile is then incomplete.
  const std::atomic<bool>* cancel = nullptr;
};

// psi of step i (degrees).
inline double step_psi(const RunParameters& par, long i) {
  return par.zsw > 0 ? double(i) / par.zsw + par.psia : double(par.psia);
}

// The profile on the steps 0..par.nstep from the crossings in the order given (the
// order of the search, pass 1 before pass 2), I-prim total added to every step, and
// its extremes. Every crossing given has entered the scan; without crossings every
// step holds I-prim total. Each step sums its
// crossings in the given order in double and is stored once, so the result is the
// same for every thread count.
ScanProfile simulate_scan(const RunParameters& par, const std::vector<ScanCrossing>& crossings,
                          float iprim_total, const ScanOptions& opt = {});

// What each crossing adds at step `step` of the scan (cps, I-prim not included), in the
// order given: the terms simulate_scan sums at that step, so that I-prim total plus
// their sum in this order, stored in single precision, is its value there.
std::vector<double> step_contributions(const RunParameters& par,
                                       const std::vector<ScanCrossing>& crossings, long step);

// The deliberately plain variant: one thread, every step of every crossing evaluated
// with the formula as written (atan and cos for the interference term, the Gaussian
// at every distance). Kept to check the fast one and to measure it against.
ScanProfile simulate_scan_plain(const RunParameters& par,
                                const std::vector<ScanCrossing>& crossings, float iprim_total);

}  // namespace kaven
