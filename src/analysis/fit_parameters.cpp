#include "analysis/fit_parameters.hpp"

#include <algorithm>

namespace kaven {

namespace {

constexpr FitParameterInfo kTable[kFitParameterCount] = {
    {FitParameter::psi_offset, "psi", "deg", "psi offset added to PsiD"},
    {FitParameter::lambda_a, "lambda_a", "", "relative scale of lambda/a"},
    {FitParameter::scale, "scale", "", "scale of the calculated intensities (I0)"},
    {FitParameter::background, "background", "", "flat background"},
    {FitParameter::slope, "slope", "1/deg", "linear background"},
    {FitParameter::primary, "primary", "", "factor of the primary intensity"},
    {FitParameter::events, "events", "", "factor of the event intensities"},
    {FitParameter::diverp, "diverp", "deg", "divergence parallel to the scattering plane"},
    {FitParameter::divers, "divers", "deg", "divergence normal to the scattering plane"},
    {FitParameter::eta, "eta", "deg", "mosaic spread"},
    {FitParameter::radius, "radius", "um", "mosaic-block radius"},
};

bool has(const std::vector<FitParameter>& v, FitParameter p) {
  return std::find(v.begin(), v.end(), p) != v.end();
}

}  // namespace

std::span<const FitParameterInfo> fit_parameter_table() { return kTable; }

const FitParameterInfo& fit_parameter_info(FitParameter p) {
  return kTable[static_cast<std::size_t>(p)];
}

std::vector<FitParameter> default_fit_parameters() {
  return {FitParameter::psi_offset, FitParameter::lambda_a, FitParameter::scale,
          FitParameter::background};
}

std::string fit_parameter_names() {
  std::string s;
  for (const FitParameterInfo& i : kTable) s += (s.empty() ? "" : ", ") + std::string(i.name);
  return s;
}

FitListResult parse_fit_parameters(std::string_view list) {
  FitListResult r;
  if (list.empty()) {
    r.parameters = default_fit_parameters();
    return r;
  }
  std::size_t pos = 0;
  while (pos <= list.size()) {
    const std::size_t comma = std::min(list.find(',', pos), list.size());
    const std::string_view name = list.substr(pos, comma - pos);
    pos = comma + 1;
    const auto it = std::find_if(std::begin(kTable), std::end(kTable),
                                 [&](const FitParameterInfo& i) { return i.name == name; });
    if (it == std::end(kTable)) {
      r.error = "unknown fit parameter '" + std::string(name) + "' (known: " +
                fit_parameter_names() + ")";
      return r;
    }
    if (has(r.parameters, it->id)) {
      r.error = "the fit parameter " + std::string(name) + " is named twice";
      return r;
    }
    r.parameters.push_back(it->id);
  }
  // Products of factors that only their product determines.
  if (has(r.parameters, FitParameter::scale) && has(r.parameters, FitParameter::primary) &&
      has(r.parameters, FitParameter::events))
    r.error = "scale, primary and events together: the scale is the product of the other two,"
              " refine two of them";
  return r;
}

}  // namespace kaven
