// The parameters a fit of the simulated scan to a measured one can refine, by name.
//
// The model of the measured intensity at psi is
//   y(psi) = scale * I_sim(psi; offset, lambda/a, beam and crystal, primary, events)
//            + background + slope * (psi - psi_centre),
// where I_sim is the run's simulated scan (cps) with
//   - the psi offset (degrees) added to PsiD, the psi = 0 offset of the diffractometer;
//   - lambda/a as one relative scale r: the event positions depend on the wavelength
//     and the cell only through lambda/a. It is written back as the wavelength r lambda
//     for a synchrotron input and as the cell edges a/r, b/r, c/r for a tube, whose
//     K-alpha lines are known;
//   - the incident intensity split into the primary beam's share (I-prim of the passes
//     times `primary`) and the events' share (Ikaven and Iaufhe times `events`): their
//     kinematical ratio is where the model is weakest (extinction);
//   - the beam divergences diverp and divers, the mosaic spread eta (degrees) and the
//     mosaic-block radius (µm), as on input line 5.
// psi_centre is the middle of the measured psi range.
#pragma once
#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kaven {

enum class FitParameter : int {
  psi_offset,  // degrees, added to PsiD
  lambda_a,    // relative scale of lambda/a (1 = the input)
  scale,       // factor of every calculated intensity (the incident intensity I0)
  background,  // flat background (units of the measured scan)
  slope,       // linear background (units of the measured scan per degree)
  primary,     // factor of the primary intensity I-prim
  events,      // factor of the event intensities Ikaven and Iaufhe
  diverp,      // divergence parallel to the primary scattering plane (degrees)
  divers,      // divergence normal to it (degrees)
  eta,         // mosaic spread (degrees)
  radius,      // mosaic-block radius (µm)
};
inline constexpr int kFitParameterCount = 11;

struct FitParameterInfo {
  FitParameter id;
  std::string_view name;     // as the command line and the files name it
  std::string_view unit;     // "" for a pure number
  std::string_view meaning;  // a few words for the listing
};
// In the order of the enumeration.
std::span<const FitParameterInfo> fit_parameter_table();
const FitParameterInfo& fit_parameter_info(FitParameter p);

// One value per parameter, indexed by the enumeration.
struct ParameterValues {
  std::array<double, kFitParameterCount> v{};
  double& operator[](FitParameter p) { return v[static_cast<std::size_t>(p)]; }
  double operator[](FitParameter p) const { return v[static_cast<std::size_t>(p)]; }
};

// psi offset, lambda/a, scale and background.
std::vector<FitParameter> default_fit_parameters();

// A list "psi,lambda_a,scale" (names separated by commas, each at most once) as
// parameters. An empty list is the default one. An unknown or repeated name, or a set
// whose members are one parameter in disguise, is refused: the message names it.
struct FitListResult {
  std::vector<FitParameter> parameters;
  std::string error;  // empty when the list is good
};
FitListResult parse_fit_parameters(std::string_view list);

// The names of every parameter, "psi, lambda_a, ..." (for messages and the help).
std::string fit_parameter_names();

}  // namespace kaven
