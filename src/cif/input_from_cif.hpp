// From a structure read from a CIF to a complete input file: the crystal from the CIF,
// the experiment from options with defaults a user can start from.
//
// Space group: when the whole group of the file equals that of a table entry, its
// number; otherwise the operators are written explicitly (nr > 230) in the setting of
// the file, so that the atoms keep their coordinates. Atoms: one input atom per CIF site
// with afact = occupancy x site multiplicity / order of the group, so that every image
// of the general position carrying afact counts each atom once; betas
// beta_ij = 2 pi^2 a*_i a*_j U_ij (isotropic U: U G*_ij).
#pragma once
#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cif/cif_structure.hpp"
#include "input/input_writer.hpp"

namespace kaven {

struct Monochromator {
  float a = 5.4309f;                // cubic cell constant (Å); silicon
  std::array<int, 3> hkl{1, 1, 1};  // reflection
  float f = 58.19f;                 // its structure factor
};

// What the CIF does not say. Unset values take the defaults listed in
// `kaven --help` (see cif_run_defaults).
struct CifRunOptions {
  std::array<int, 3> hkl{};  // the primary reflection (required)

  std::string tube;   // "Cu", "Mo" or "Ag"; empty for the synchrotron line
  float wavelength = 0;  // synchrotron wavelength (Å)
  int isyn = 1;          // 1: polarisation normal to the primary scattering plane, 2: in it
  Monochromator mono;

  std::optional<std::array<float, 2>> divergence;  // diverp, divers (degrees)
  float rkugel_um = 150;  // crystal radius
  float radius_um = 150;  // mosaic-block radius
  float eta = 0;          // mosaic spread (degrees)

  std::optional<std::array<float, 2>> psi_range;  // psia, psie (degrees)
  float zsw1 = 50;  // steps per degree; negative: no simulated scan
  int nnn = 0;      // interference term
  float drumin = 1, zeimax = 0;

  std::optional<std::array<float, 2>> primary_interval;  // psi1, psi2 (default psia, psia)
  std::optional<std::array<float, 9>> ub;                 // orientation matrix
  std::string scan_file;                                  // needs the orientation matrix

  std::string title;      // default: formula, space group, primary, CIF file
  std::string plot_file;  // required: relative to the input file's folder
  std::string cif_name;   // for the default title
};

// Defaults that depend on the radiation: divergences 0.14 0.14 degrees and psi -180 to
// 180 for a tube; 0.005 0.01 degrees and psi 0 to 360 for the synchrotron line.
CifRunOptions with_defaults(const CifRunOptions& options);

// The default plot file of an input file: its name with the extension .ps (taken from
// the input's folder, as the run takes it).
std::string default_plot_file(const std::filesystem::path& input_file);
// The default input file of a CIF: beside it, with the extension .inp.
std::filesystem::path default_input_file(const std::filesystem::path& cif_file);

// Every option value the run would refuse or that means nothing (not finite, negative
// radii, a psi range the radiation cannot have, a title or file name its line cannot
// hold, ...), one message each, with the option as the command line writes it
// ("--wavelength": "the wavelength nan is not a positive number of Å"); empty when the
// options can be converted. Nothing here depends on the CIF.
struct CifOptionProblem {
  std::string option;
  std::string message;
};
std::vector<CifOptionProblem> cif_option_problems(const CifRunOptions& options);

struct CifConversion {
  InputDeck deck;
  int group_order = 0;  // order of the whole group (the afact denominator)
  std::vector<std::string> notes;  // what was assumed, for the user
};

// Throws CifError with one clear message: an element the table does not know, a primary
// reflection the wavelength cannot reach, a group with more operators than an input can
// hold, an occupancy or a displacement parameter no crystal has (negative occupancies,
// |U| > 1 Å^2; a negative U is noted and replaced), the first of cif_option_problems.
CifConversion input_from_cif(const CifStructure& cif, const CifRunOptions& options);

// The element-table key for a CIF type symbol: the key itself when the table has it
// ("Siva", "Fe3+"), else the ion written as the table writes ions ("Fe+3" -> "Fe3+",
// "Na+" -> "Na1+"), else the neutral element ("O2-" -> "O", "Si" -> "Siv"). Empty when
// the symbol names no element of the table.
std::string element_key(const std::string& type_symbol);

}  // namespace kaven
