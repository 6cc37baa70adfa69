#include "scattering/linear_absorption.hpp"

#include "core/constants.hpp"
#include "scattering/structure_factor.hpp"

namespace kaven {

AbsorptionResult tabulated_absorption(RunParameters& p) {
  AbsorptionResult r = mue(p.alam1, p.vol, p.types);
  p.mue = r.mu;
  p.density = r.density;
  p.mur = static_cast<float>(double(p.mue) * p.rkugel);
  return r;
}

bool dispersion_gives_absorption(const RunParameters& p) {
  if (p.types.empty()) return false;
  for (const AtomType& t : p.types)
    if (t.fpp == 0.0f) return false;
  return true;
}

void dispersion_absorption(RunParameters& p) {
  // mu = 2 Gamma Im F(000): the absorption from the imaginary dispersion terms.
  const StructureFactor f000 = fcalc1(p, 0, 0, 0, 0.0f);
  p.mue = static_cast<float>(2.0 * p.alam1 * double(kElectronRadiusFm) * (1.0 / double(p.vol)) * 1000.0 *
                             f000.im);
  p.mur = static_cast<float>(double(p.mue) * p.rkugel);
}

}  // namespace kaven
