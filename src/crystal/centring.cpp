#include "crystal/centring.hpp"

#include <limits>
#include <vector>

#include "core/run_stop.hpp"

namespace kaven {

int lattice_points(char letter) {
  switch (letter) {
    case 'A': case 'B': case 'C': case 'I': return 2;
    case 'F': return 4;
    default: return 1;
  }
}

void bravai(RunParameters& par, std::string_view name) {
  struct Shift {
    float x, y, z;
  };
  std::vector<Shift> shifts;
  switch (name.empty() ? ' ' : name[0]) {
    case 'I': shifts = {{0.5f, 0.5f, 0.5f}}; break;
    case 'A': shifts = {{0.0f, 0.5f, 0.5f}}; break;
    case 'B': shifts = {{0.5f, 0.0f, 0.5f}}; break;
    case 'C': shifts = {{0.5f, 0.5f, 0.0f}}; break;
    case 'F': shifts = {{0.5f, 0.5f, 0.0f}, {0.5f, 0.0f, 0.5f}, {0.0f, 0.5f, 0.5f}}; break;
    default: return;
  }
  std::size_t n = static_cast<std::size_t>(par.na);
  // The expanded count is an atom count of the run like na.
  if (n * (shifts.size() + 1) > static_cast<std::size_t>(std::numeric_limits<int>::max()))
    stop_run({"", "", " Dynamical array allocation failed", " Number of atoms is to large",
              " Please contact the author of KAVEN-xx!"});
  par.atoms.resize(n);
  par.atoms.reserve(n * (shifts.size() + 1));
  for (const Shift& t : shifts)
    for (std::size_t i = 0; i < n; ++i) {
      Atom a = par.atoms[i];
      a.x += t.x;
      a.y += t.y;
      a.z += t.z;
      par.atoms.push_back(a);
    }
  par.na = static_cast<int>(par.atoms.size());
}

}  // namespace kaven
