// Whole listings of the two example runs, record by record, against listings kept in
// tests/data. Every number of the echo, the geometry, the absorption, the reference
// tables of the measured scans, the event tables and the summaries is in them, so any
// change of a result shows here as the first record that differs. After a deliberate
// change, write them anew by running build/kaven with SOURCE_DATE_EPOCH=1000000000 on
// the inputs below (the YIG simulation with its line 6 edited as here) and read the
// difference before committing it.
#include <gtest/gtest.h>

#include "tests/run_fixture.hpp"

using namespace kaven_test;

namespace {

void expect_same_listing(const Lines& input, const std::string& kept,
                         const std::vector<std::string>& data_files = {}) {
  Session session;
  // The measured-scan file beside the input, copied into the run's scratch folder.
  for (const std::string& f : data_files)
    fs::copy_file(source_path(f), session.dir.path() / fs::path(f).filename());
  const ListedRun r = session.run(input);
  const Lines expected = read_lines(source_path("tests/data/" + kept));
  const std::size_t n = std::min(r.records.size(), expected.size());
  for (std::size_t i = 0; i < n; ++i)
    ASSERT_EQ(r.records[i], expected[i]) << "first difference in record " << i + 1;
  EXPECT_EQ(r.records.size(), expected.size());
}

}  // namespace

TEST(ExampleListings, TubeRadiationWithTwoWavelengthPasses) {
  // drumin lowered so that the event tables hold events.
  Lines yig = yig_lines();
  yig[5] = "-66.   16. 50  0  0.1 0.";
  expect_same_listing(yig, "yig-sim.listing");
}

TEST(ExampleListings, SynchrotronRadiationWithOnePass) {
  expect_same_listing(si_lines(), "si222.listing");
}

TEST(ExampleListings, TubeRadiationWithCad4Output) {
  expect_same_listing(read_lines(source_path("examples/yig/yig.inp")), "yig.listing",
                      {"examples/yig/yig.dat"});
}

TEST(ExampleListings, TubeRadiationWithAnObsList) {
  expect_same_listing(read_lines(source_path("examples/yig/yig-obs.inp")), "yig-obs.listing",
                      {"examples/yig/yig-list.obs"});
}

TEST(ExampleListings, SynchrotronRadiationWithHuberHasylabOutput) {
  expect_same_listing(read_lines(source_path("examples/si/si222-scan.inp")), "si222-scan.listing",
                      {"examples/si/si222ag2.dat"});
}
