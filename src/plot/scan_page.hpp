// The run's page of graphical output: the simulated Renninger scan of the primary
// reflection, the measured scan above it when one was read, the psi-lambda diagram of
// the listed events underneath, and a column of run information on the right.
//
// The psi-lambda diagram shows, for each listed event of the first wavelength pass, the
// two psi positions at which its secondary reflection h lies on the Ewald sphere as a
// function of the wavelength over the run's band lamin..lamax: with u = 1/lambda,
//   cos Delta = (|h|^2 - h.q) / (2 sqrt(rho^2 (u^2 - |h_p|^2/4))),  psi = phi +- Delta,
// the same condition the event search solves at the pass's own wavelength. A crossing
// listed at psi therefore lies on its curve at the height of that wavelength.
//
// The page is drawn on any PenPlotter from the run's values; the scan intensities are
// mapped onto the page on copies.
#pragma once
#include <vector>

#include "input/run_parameters.hpp"
#include "plot/pen_plotter.hpp"
#include "report/listing.hpp"
#include "simulation/event_search.hpp"
#include "simulation/run_result.hpp"

namespace kaven {

// The two branches of one event's curve in the psi-lambda diagram (page cm, x from
// 1 at psia to 21 at psie, y from 2.5 at lamin to 4.5 at lamax), before their ends are
// closed: branch 1 from psi = phi + Delta, branch 2 from phi - Delta.
struct DiagramBranches {
  std::vector<float> x1, y1, x2, y2;
};
DiagramBranches diagram_branches(const MultipleDiffractionEvent& e, const RunParameters& par);

// Draws the page, ending it with plot(0, 0, 999). `when` is the date and time shown.
void uplot(PenPlotter& p, const RunParameters& par, const RunResult& result, const Zeit::Now& when);

}  // namespace kaven
