// The measured-scan phase of a run: the scan file named on line 12 is opened, announced
// in the listing and read by the reader its extension and the radiation mode choose; the
// HUBER-HASYLAB reader takes its reference list and counting corrections from the input
// lines after the file name, and those corrections stay with the session. Silicon 2 2 2
// serves in all three radiation modes (its event search is short).
#include <gtest/gtest.h>

#include <sstream>

#include "report/scan_file_listing.hpp"
#include "run_fixture.hpp"
#include "tools/synthetic_scans.hpp"

using namespace kaven_test;
namespace syn = kaven::synthetic;

namespace {

// Si 2 2 2 with a diagonal orientation matrix, so that line 12 is read.
Lines silicon(const std::string& radiation, const std::string& psi_line, const std::string& scan,
              const Lines& after = {}) {
  Lines l = si_lines();
  l.at(3) = radiation;
  l.at(5) = psi_line;
  for (const char* ub : {"0.184132 0. 0.", "0. 0.184132 0.", "0. 0. 0.184132"}) l.push_back(ub);
  l.push_back(scan);
  l.insert(l.end(), after.begin(), after.end());
  return l;
}

const std::string kMolybdenum = "Mo";
const std::string kSynchrotron1 = "1 0.5612  5.43 1 1 1 58.19";
const std::string kSynchrotron2 = "2 0.5612  5.43 1 1 1 58.19";

std::vector<syn::PrimaryStep> steps(double from, double to, double step, double level) {
  std::vector<syn::PrimaryStep> s;
  for (double psi = from; psi <= to + 1e-9; psi += step)
    s.push_back({psi, level * (1 + 5 / (1 + std::pow((psi - (from + to) / 2) / (0.05 * (to - from)), 2)))});
  return s;
}

const std::vector<syn::Reference> kRefs = {
    {1, 1, 1, 5.135, 52000, 1.0}, {2, 2, 0, 8.403, 61000, 0.98}, {4, 0, 0, 11.9, 24000, 1.0}};

void write_file(const Session& s, const std::string& name, const std::string& text) {
  std::ofstream(s.dir.path() / name) << text;
}

// The records from the scan-file heading on, `n` of them.
Lines from_heading(const Lines& rec, std::size_t n) {
  const std::size_t i = find_prefix(rec, " Calculation of the scale factor using the reference");
  if (i + n > rec.size()) return {};
  return Lines(rec.begin() + static_cast<long>(i), rec.begin() + static_cast<long>(i + n));
}

}  // namespace

TEST(MeasuredScanPhase, TubeRadiationReadsCad4OutputAndListsItsReferences) {
  Session s;
  syn::Cad4Options o;
  o.tubefac = 16.68f;  // molybdenum
  const syn::EncodedFile f = syn::write_cad4(2, 2, 2, steps(-20, 20, 0.1, 8.0), kRefs, o);
  write_file(s, "si.dat", f.text);
  const ListedRun r = s.run(silicon(kMolybdenum, "-20. 20. 50  0  1. 0.", "si.dat"));
  const kaven::MeasuredScan& m = r.outcome.result.measured;
  EXPECT_EQ(m.format, kaven::ScanFormat::cad4);
  EXPECT_EQ(m.reader, kaven::ScanReader::cad4);
  EXPECT_EQ(m.extension, "dat");
  EXPECT_TRUE(m.present);
  EXPECT_EQ(m.references.size(), 3u);
  EXPECT_EQ(m.skipped_records, f.unreadable);
  long stored = 0;
  for (float v : m.intensity) stored += v != kaven::kNoMeasurement;
  EXPECT_EQ(stored, 401);
  EXPECT_NEAR(m.intensity[1000], f.steps[200].intensity, 1e-4 * f.steps[200].intensity);
  const Lines head = from_heading(r.records, 8);
  ASSERT_EQ(head.size(), 8u);
  EXPECT_EQ(head[0], " Calculation of the scale factor using the reference reflections of the file:");
  EXPECT_EQ(head[1], "   " + padded("si.dat", 72));
  EXPECT_EQ(head[2], "");
  EXPECT_EQ(head[3], kaven::reference_table_header(m));
  EXPECT_EQ(head[4], "");
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(head[5 + i], kaven::reference_table_row(m, m.references[i]));
  // The heading follows the absorption section.
  const std::size_t i = find_prefix(r.records, " Calculation of the scale factor");
  ASSERT_GE(i, 3u);
  EXPECT_EQ(r.records[i - 3].rfind(" Linear absorption coefficient (dispersion correction) :", 0), 0u);
  EXPECT_EQ(Lines(r.records.begin() + static_cast<long>(i) - 2, r.records.begin() + static_cast<long>(i)),
            (Lines{"", ""}));
}

TEST(MeasuredScanPhase, ExtensionObsChoosesTheListInEveryMode) {
  // Only "obs" exactly: "OBS" is a diffractometer file like any other.
  struct Case {
    std::string radiation, psi_line, name;
    kaven::ScanFormat format;
    kaven::ScanReader reader;
  };
  const Case cases[] = {
      {kMolybdenum, "-20. 20. 50  0  1. 0.", "si.obs", kaven::ScanFormat::obs, kaven::ScanReader::cad4},
      {kSynchrotron1, "176. 179. 100. 0  1. 0.", "si.obs", kaven::ScanFormat::obs, kaven::ScanReader::hasyl4},
      {kMolybdenum, "-20. 20. 50  0  1. 0.", "si.OBS", kaven::ScanFormat::cad4, kaven::ScanReader::cad4},
  };
  for (const Case& c : cases) {
    Session s;
    const bool sync = c.radiation != kMolybdenum;
    const syn::EncodedFile f = syn::write_obs(2, 2, 2, 10.3, sync ? steps(176, 179, 0.01, 10) : steps(-20, 20, 0.1, 8),
                                              kRefs, sync);
    write_file(s, c.name, f.text);
    // Lines after the file name are not read for a list.
    const ListedRun r = s.run(silicon(c.radiation, c.psi_line, c.name, {"this is no reference line"}));
    const kaven::MeasuredScan& m = r.outcome.result.measured;
    EXPECT_EQ(m.format, c.format) << c.name;
    EXPECT_EQ(m.reader, c.reader) << c.name;
    if (c.format == kaven::ScanFormat::obs) {
      EXPECT_TRUE(m.present) << c.name;
      EXPECT_EQ(m.references.size(), 3u) << c.name;
      EXPECT_EQ(m.background, 0.0f);
    } else {
      // a list read as CAD4 output holds no block: no step, and the message
      EXPECT_FALSE(m.present) << c.name;
      EXPECT_TRUE(contains(r.records, " The scan file is missing, or"));
    }
  }
}

TEST(MeasuredScanPhase, SynchrotronReadsHuberOutputWithTheInputReferenceList) {
  // Mode 1 and mode 2 (the other polarisation of the beam) read the same file alike:
  // the file's references carry their own polarisation ratio.
  syn::HuberOptions o;
  const syn::EncodedFile f = syn::write_huber(2, 2, 2, steps(176, 179, 0.01, 12), kRefs, 20.62, o);
  std::vector<syn::Reference> listed = kRefs;
  listed.push_back({3, 1, 1, 9.86, 1, 1});  // listed in the input, not measured
  const Lines after = syn::split(syn::join(syn::huber_input_lines(listed, o, true)));
  kaven::MeasuredScan first;
  for (const std::string& radiation : {kSynchrotron1, kSynchrotron2}) {
    Session s;
    write_file(s, "si222ag2.dat", f.text);
    const ListedRun r = s.run(silicon(radiation, "176. 179. 100. 0  1. 0.", "si222ag2.dat", after));
    const kaven::MeasuredScan& m = r.outcome.result.measured;
    EXPECT_EQ(m.format, kaven::ScanFormat::huber);
    EXPECT_EQ(m.reader, kaven::ScanReader::hasyl4);
    EXPECT_TRUE(m.present);
    EXPECT_EQ(m.nref, 3);
    EXPECT_FLOAT_EQ(s.par.ff2, 4.065f);
    EXPECT_FLOAT_EQ(s.par.tau1, 2.9e-6f);
    EXPECT_GT(m.background, 0.0f);
    EXPECT_EQ(from_heading(r.records, 4).at(3), kaven::reference_table_header(m));
    if (radiation == kSynchrotron1) {
      first = m;
      continue;
    }
    EXPECT_EQ(m.intensity, first.intensity);
    EXPECT_EQ(m.background, first.background);
    EXPECT_EQ(m.refsum, first.refsum);
    EXPECT_EQ(m.minimum, first.minimum);
  }
}

TEST(MeasuredScanPhase, CountingCorrectionsStayWithTheSession) {
  // The first run sets filter factors and dead times; the second leaves them out (null
  // values) and still reads with them; a third that reads none keeps them too.
  syn::HuberOptions o;
  o.header = false;
  const syn::EncodedFile f = syn::write_huber(2, 2, 2, steps(176, 179, 0.01, 12), kRefs, 20.62, o);
  Session s;
  write_file(s, "si.dat", f.text);
  const std::string psi = "176. 179. 100. 0  1. 0.";
  const ListedRun a = s.run(silicon(kSynchrotron1, psi, "si.dat",
                                    {"1 1 1", "999 0 0", "2.5 5.0 20.0 0.000001 0.000002 0.000003 10000. 0."}));
  const ListedRun b = s.run(silicon(kSynchrotron1, psi, "si.dat", {"1 1 1", "999 0 0", ",,,,,,10000. 0."}));
  const ListedRun c = s.run(silicon(kSynchrotron1, psi, "si.dat", {"1 1 1"}));
  EXPECT_FLOAT_EQ(s.par.ff1, 2.5f);
  EXPECT_FLOAT_EQ(s.par.ff3, 20.0f);
  EXPECT_FLOAT_EQ(s.par.tau3, 3e-6f);
  const kaven::MeasuredScan& ma = a.outcome.result.measured;
  const kaven::MeasuredScan& mb = b.outcome.result.measured;
  EXPECT_EQ(mb.corrections.ff2, ma.corrections.ff2);
  EXPECT_EQ(mb.background, ma.background);
  EXPECT_GT(ma.background, 0.0f);
  // Without bcm the normalised counts are 0: no background.
  EXPECT_EQ(c.outcome.result.measured.background, 0.0f);
  EXPECT_FLOAT_EQ(s.par.ff1, 2.5f);
}

TEST(MeasuredScanPhase, FilesThatCannotBeOpenedOrHoldNoPrimaryStep) {
  {
    // a folder is no scan file
    Session s;
    fs::create_directory(s.dir.path() / "scans");
    const ListedRun r = s.run(silicon(kMolybdenum, "-20. 20. 50  0  1. 0.", "scans"));
    EXPECT_TRUE(r.stopped());
    EXPECT_EQ(r.ierr(), 1);
    EXPECT_EQ(tail(r.records, 4),
              (Lines{"", "     " + padded("scans", 72), " is a folder, not a file:",
                     " it cannot be read as the measured-scan file, check your input!"}));
  }
  {
    // CAD4 output of another primary reflection: the references are listed, the message
    // follows and the run goes on without a measured scan
    Session s;
    const syn::EncodedFile f = syn::write_cad4(1, 1, 1, steps(-20, 20, 1, 8.0), kRefs, {});
    write_file(s, "si.dat", f.text);
    const ListedRun r = s.run(silicon(kMolybdenum, "-20. 20. 50  0  1. 0.", "si.dat"));
    const kaven::MeasuredScan& m = r.outcome.result.measured;
    EXPECT_FALSE(m.present);
    EXPECT_TRUE(m.no_primary_step);
    const Lines head = from_heading(r.records, 14);
    ASSERT_EQ(head.size(), 14u);
    EXPECT_EQ(Lines(head.begin() + 8, head.end()),
              (Lines{"", "", " The scan file is missing, or", " the indices or the psi-range input by the user",
                     " do not correspond to the measured primary reflection",
                     " of the scan file, please check your input"}));
    EXPECT_NE(find_prefix(r.records, " Multiple diffraction-events"), r.records.size());
  }
}
