// The listed events of a run over its passes, and the events a pointer or a measured
// peak finds at a psi.
#include "simulation/listed_events.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

kaven::MultipleDiffractionEvent event(float psi, float fwhm, float ikaven, float iaufhe) {
  kaven::MultipleDiffractionEvent e{};
  e.psi = psi;
  e.fwhm = fwhm;
  e.ikaven = ikaven;
  e.iaufhe = iaufhe;
  return e;
}

kaven::ListedEvent listed(float psi, float fwhm, double ikaven_peak, double iaufhe_peak) {
  kaven::ListedEvent le;
  le.event = event(psi, fwhm, 0, 0);
  le.ikaven_peak = ikaven_peak;
  le.iaufhe_peak = iaufhe_peak;
  return le;
}

TEST(ListedEvents, EveryPassInPsiOrderWithTheListingsRangeAndTheTripletPhase) {
  kaven::RunParameters par;
  par.psia = -10;
  par.psie = 10;
  par.drumin = 1;
  par.phi = 0.5f;  // radians
  kaven::RunResult r;
  r.passes.resize(2);
  r.passes[0].pass.lambda = 0.5594f;
  r.passes[1].pass.lambda = 0.5638f;
  r.passes[0].events.events = {event(-12, 0.1f, 1, 0), event(-3, 0.2f, 4, 1), event(10, 0.1f, 1, 0)};
  r.passes[1].events.events = {event(-3, 0.1f, 2, 0), event(-5, 0.1f, 1, 0), event(10.5f, 0.1f, 1, 0)};
  r.passes[1].events.events[0].phase1 = 3.0f;
  r.passes[1].events.events[0].phase2 = 1.0f;
  const std::vector<kaven::ListedEvent> all = kaven::listed_events(par, r);
  ASSERT_EQ(all.size(), 4u);  // -12 and 10.5 lie outside psia..psie
  std::vector<std::pair<int, float>> order;
  for (const kaven::ListedEvent& e : all) order.emplace_back(e.pass, e.event.psi);
  EXPECT_EQ(order, (std::vector<std::pair<int, float>>{{2, -5}, {1, -3}, {2, -3}, {1, 10}}));
  EXPECT_FLOAT_EQ(all[1].lambda, 0.5594f);
  EXPECT_DOUBLE_EQ(all[1].ikaven_peak, 4 / double(0.2f));
  EXPECT_DOUBLE_EQ(all[1].iaufhe_peak, 1 / double(0.2f));
  // 3 + 1 - 0.5 rad = 200.5 degrees, brought into (-180, 180].
  EXPECT_NEAR(all[2].triplet_deg, 3.5 * 57.29578 - 360, 1e-3);
  EXPECT_DOUBLE_EQ(kaven::triplet_phase_deg(par, event(0, 0, 0, 0)), -0.5 * double(57.29578f));
  // The listing lists nothing with drumin = 0.
  par.drumin = 0;
  EXPECT_TRUE(kaven::listed_events(par, r).empty());
}

TEST(ListedEvents, AtAPsiTheEventsWithinHalfTheirWidthOrTheToleranceStrongestFirst) {
  const std::vector<kaven::ListedEvent> events = {
      listed(14.188f, 0.198f, 1.1, 0),   // 0: reach 0.099
      listed(14.2505f, 0.157f, 7.2, 0),  // 1: reach 0.0785
      listed(14.033f, 0.158f, 3.6, 0),   // 2
      listed(14.30f, 0.02f, 0, 9.0),     // 3: a dip, narrow
      listed(14.25f, NAN, 0.5, 0),       // 4: no width: the tolerance alone
  };
  using V = std::vector<std::size_t>;
  EXPECT_EQ(kaven::events_at_psi(events, 14.25, 0.001), (V{1, 0, 4}));
  // A wider tolerance (a pixel of a zoomed-out view) takes the neighbours too; equal
  // strength goes to the nearer.
  EXPECT_EQ(kaven::events_at_psi(events, 14.25, 0.3), (V{3, 1, 2, 0, 4}));
  EXPECT_EQ(kaven::events_at_psi(events, 14.30, 0.0), (V{3, 1}));
  EXPECT_TRUE(kaven::events_at_psi(events, 13.5, 0.1).empty());
  std::vector<kaven::ListedEvent> equal = {listed(1.0f, 0.1f, 2, 0), listed(1.04f, 0.1f, 2, 0)};
  EXPECT_EQ(kaven::events_at_psi(equal, 1.03, 0), (V{1, 0}));
}

}  // namespace
