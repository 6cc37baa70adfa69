// The listing sections of one wavelength pass: event header, primary-reflection block,
// the sorted event table and the counts.
#pragma once
#include <array>

#include "report/listing.hpp"
#include "simulation/event_search.hpp"
#include "simulation/listed_events.hpp"  // listed_event

namespace kaven {

struct MeasuredPrimary {
  float intensity = 0;  // measured integrated intensity of the primary (cps)
  float error = 0;
};

// A phase (radians) as the table shows it: degrees, brought to at most 180.
double listed_phase_deg(float phase);

void list_event_pass(Listing& out, const RunParameters& par, const WavelengthPass& pass,
                     const PrimaryPass& pp, const EventPassResult& result,
                     const std::array<float, 3>& reference, const MeasuredPrimary& measured);

}  // namespace kaven
