#include "scattering/linear_absorption.hpp"

#include "report/record_format.hpp"
#include "scattering/absorption.hpp"
#include "scattering/structure_factor.hpp"

namespace kaven {

void absorption_phase(RunContext& run) {
  using namespace rec;
  RunParameters& p = run.par;
  AbsorptionResult r = mue(run.out, p.alam1, p.vol, p.types);
  p.mue = r.mu;
  p.density = r.density;
  p.mur = static_cast<float>(double(p.mue) * p.rkugel);
  run.out.blank(2);
  run.out.record(" Density                                               :" + F(10, 3, p.density) +
                 " g/cm -3");
  run.out.record(" Linear absorption coefficient (I.T., 1962, III, 157ff):" + F(10, 3, p.mue) +
                 " cm -1");
  if (p.mur > 31.5f) {
    run.out.blank(2);
    run.out.record(" mue*radius is greater than 31.5,");
    run.out.record(" the absorption factor cannot be calculated");
    run.out.record(" the absorption factor is set to 1.");
    run.out.blank(2);
  }
  bool all_dispersive = !p.types.empty();
  for (const AtomType& t : p.types)
    if (t.fpp == 0.0f) all_dispersive = false;
  if (all_dispersive) {
    // mu = 2 Gamma Im F(000): the absorption from the imaginary dispersion terms.
    float f000 = 0, ph = 0, im = 0;
    fcalc1(run, 0, 0, 0, 0.0f, f000, ph, &im);
    if (run.element_error) run.stop({});
    p.mue = static_cast<float>(2.0 * p.alam1 * double(2.817938f) * (1.0 / double(p.vol)) * 1000.0 * im);
    p.mur = static_cast<float>(double(p.mue) * p.rkugel);
    run.out.record(" Linear absorption coefficient (dispersion correction) :" + F(10, 3, p.mue) +
                   " cm -1");
    run.out.blank(2);
  }
}

}  // namespace kaven
