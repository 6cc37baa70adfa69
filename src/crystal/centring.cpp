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

std::vector<std::array<float, 3>> centring_shifts(char letter) {
  switch (letter) {
    case 'I': return {{0.5f, 0.5f, 0.5f}};
    case 'A': return {{0.0f, 0.5f, 0.5f}};
    case 'B': return {{0.5f, 0.0f, 0.5f}};
    case 'C': return {{0.5f, 0.5f, 0.0f}};
    case 'F': return {{0.5f, 0.5f, 0.0f}, {0.5f, 0.0f, 0.5f}, {0.0f, 0.5f, 0.5f}};
    default: return {};
  }
}

void bravai(RunParameters& par, std::string_view name) {
  const std::vector<std::array<float, 3>> shifts = centring_shifts(name.empty() ? ' ' : name[0]);
  if (shifts.empty()) return;
  std::size_t n = static_cast<std::size_t>(par.na);
  // The expanded count is an atom count of the run like na.
  if (n * (shifts.size() + 1) > static_cast<std::size_t>(std::numeric_limits<int>::max()))
    stop_run({"", "", " Dynamical array allocation failed", " Number of atoms is to large",
              " Please contact the author of KAVEN-xx!"});
  par.atoms.resize(n);
  par.atoms.reserve(n * (shifts.size() + 1));
  for (const std::array<float, 3>& t : shifts)
    for (std::size_t i = 0; i < n; ++i) {
      Atom a = par.atoms[i];
      a.x += t[0];
      a.y += t[1];
      a.z += t[2];
      par.atoms.push_back(a);
    }
  par.na = static_cast<int>(par.atoms.size());
}

}  // namespace kaven
