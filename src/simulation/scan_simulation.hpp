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
//
// The sum is formed in time that grows with steps plus crossings, not with their
// product. Near its crossing a side is evaluated at every step, its Gaussian part as far
// as that can change the double value of the profile (to 2^-54 of the Lorentzian part;
// 40 sigma, where exp underflows, without a Lorentzian part). Further out a side is a
// smooth function of psi: the Lorentzian with the interference term, or a constant on
// a plateau. These far sides are summed on a binary tree of step blocks (leaves of 32
// steps, more beyond two million steps): a block at least twice its length away from a crossing takes the crossing's
// side at the 20 Chebyshev points of the block (interpolation of degree 19), blocks as
// large as their distance allows, so that a crossing meets O(log steps) of them; each
// block's interpolant is passed to its two halves (exactly: on half its interval a
// polynomial is the same polynomial) and the leaves evaluate it at their steps.
//
// Error bound. A far side is interpolated only at distances d of at least four times
// the radius rho of its singularities (rho = max(w, |nnn| sigma, w sqrt|Iaufhe L0/Ip - 1|):
// the poles of the Lorentzian at +-i w, the branch points of the interference phase at
// +-i nnn sigma and of the square root where the removed intensity reaches Ip = I-prim/K;
// L0 the Lorentzian part of the side at its peak). A block of length S at distance
// d >= 2S lies in a Bernstein ellipse of parameter 3 + sqrt 8 = 5.83 whose points stay
// d/2 >= 2 rho from the crossing, where the side is at most its amplitude
// A = K^2 (Ikaven + Iaufhe) L0 + 2 K |c_int| sqrt((Ip + Iaufhe L0) Ikaven L0) (constants
// aside, which interpolate exactly). Interpolation of degree 19 is then within
// 4 A 5.83^-19 / 4.83 < 3e-15 A of the side (Trefethen, Approximation Theory and
// Approximation Practice, Theorem 8.2); passing it down and evaluating it add rounding
// only. Every step is therefore within 3e-15 times the sum of the crossings' amplitudes
// (and rounding) of the exact sum: far below a float's resolution in practice, and
// within 1e-6 of the scan's maximum, which the tests check against the plain variant.
// Crossings with values that are not finite, intensities or mixing outside their
// physical ranges or a block factor that is not positive are evaluated at every step.
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
// step holds I-prim total. Each step sums its direct terms in the order of the
// crossings and each block its crossings in that order, in double, so the result is
// the same for every thread count.
ScanProfile simulate_scan(const RunParameters& par, const std::vector<ScanCrossing>& crossings,
                          float iprim_total, const ScanOptions& opt = {});

// What each crossing adds at step `step` of the scan (cps, I-prim not included), in the
// order given: the terms of the plain scan at that step (simulate_scan_plain), whose sum
// with I-prim total is its value there.
std::vector<double> step_contributions(const RunParameters& par,
                                       const std::vector<ScanCrossing>& crossings, long step);

// The deliberately plain variant: one thread, every step of every crossing evaluated
// with the formula as written (atan and cos for the interference term, the Gaussian
// at every distance): the exact sum, in time of steps times crossings. Kept to check
// the fast one and to measure it against.
ScanProfile simulate_scan_plain(const RunParameters& par,
                                const std::vector<ScanCrossing>& crossings, float iprim_total);

}  // namespace kaven
