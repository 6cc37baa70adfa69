// Writing an input file: the lines a run reads, from values in the units of the file.
// Free-format values are written in the shortest form that reads back as the same
// single-precision number (core/number_text.hpp), so a written file gives the run
// exactly these values.
#pragma once
#include <array>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/run_parameters.hpp"

namespace kaven {

struct InputDeck {
  std::string title;      // line 1, at most 80 characters
  std::string plot_file;  // line 2, at most 72 characters
  std::array<float, 6> cell{};  // line 3: a, b, c (Å), alpha, beta, gamma (degrees)

  // line 4: a tube ("Cu", "Mo" or "Ag"), or, when `tube` is empty, the synchrotron line
  // behind a cubic monochromator crystal
  std::string tube;
  int isyn = 1;  // 1: polarisation normal to the primary scattering plane, 2: in it
  float wavelength = 0;
  float amono = 0;
  std::array<int, 3> hkl_mono{};
  float fmono = 0;

  // line 5
  float diverp = 0, divers = 0;       // degrees
  float rkugel_um = 0, radius_um = 0;  // crystal and mosaic-block radius
  float eta = 0;                      // mosaic spread, degrees
  // line 6
  float psia = 0, psie = 0, zsw1 = 0;
  int nnn = 0;
  float drumin = 0, zeimax = 0;

  // line 7 and, for nr > 230, lines 7a/7b
  int nr = 0;
  int ic = 2;
  std::vector<SymmetryOperator> ops;

  struct Element {
    std::string atn;  // key of the element table
    float fp = 0, fpp = 0;
    bool dispersion = false;  // written in columns 5-24; blank for a tube (table values)
  };
  std::vector<Element> elements;  // lines 8
  std::vector<Atom> atoms;        // lines 9

  // line 10
  std::array<int, 3> hkl{};
  float f = 0, phi_deg = 0;
  float psi1 = 0, psi2 = 0;
  std::optional<std::array<float, 9>> ub;  // line 11
  std::string scan_file;                   // line 12 (only after line 11)
};

// The whole file, lines ended by '\n'. The first line is the title in its 80 columns
// followed by kWrittenByKaven and a check of the file's text (eight hexadecimal digits,
// FNV-1a of the title's 80 columns and the lines after the first), which the reader
// never reads (it takes columns 1-80): so an input file kaven wrote and nobody changed
// since can be told from any other, and replaced.
std::string input_file_text(const InputDeck& deck);

inline constexpr std::string_view kWrittenByKaven = "  | written by kaven #";

// Whether the stream holds an input file kaven wrote, unchanged: the first line of 80
// columns, kWrittenByKaven and the check of the text that follows.
bool starts_as_kaven_input(std::istream& is);

// An input file's text (lines ended by '\n') with its first line marked as above: the
// title's 80 columns, kWrittenByKaven and the check of the lines after it. For an input
// kaven writes by changing another (the refined input of a fit).
std::string marked_as_written_by_kaven(std::string_view text);

}  // namespace kaven
