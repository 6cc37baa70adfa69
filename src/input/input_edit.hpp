// Changing values in an existing input file while keeping the rest of it as written:
// the lines are located by reading the file as a run reads it (the free-format groups
// may span lines), and only the groups that change are written anew, each on one line
// with every value of the group, unchanged ones in the shortest form that reads back as
// the same single-precision number. Lines after line 12 (the reference list of a
// HUBER-HASYLAB scan) stay as they are.
//
// A group written with a slash, a repeat count (r*v) or an empty value between two
// commas leaves values to earlier runs or spells them in a way that cannot be rewritten
// value by value: such a group is not edited, and the edit fails naming its line.
#pragma once
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kaven {

struct InputEdits {
  std::optional<std::string> plot_file;       // line 2 (at most 72 characters)
  std::optional<std::array<float, 3>> edges;  // line 3: a, b, c (Å)
  std::optional<float> wavelength;            // line 4, the synchrotron form: alam1 (Å)
  std::optional<float> diverp, divers;        // line 5 (degrees)
  std::optional<float> radius_um, eta;        // line 5
  std::optional<int> nnn;                     // line 6
  // Lines 8, by element line (0-based): f' and f''; nullopt leaves a line as it is.
  std::vector<std::optional<std::pair<float, float>>> dispersion;
  std::optional<std::array<float, 9>> ub;     // line 11, row by row
  std::optional<std::string> scan_file;       // line 12 (at most 72 characters)
};

struct InputEditResult {
  std::string text;   // the edited file (lines ended by '\n')
  std::string error;  // empty on success
};

InputEditResult edit_input(std::string_view text, const InputEdits& edits);

}  // namespace kaven
