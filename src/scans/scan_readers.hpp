// Readers of measured psi scans: the free "obs" list, CAD4 output and HUBER-HASYLAB
// output. Each puts the measured intensity of the primary reflection on the step grid of
// the simulation (step i = nint((psi - psia) zsw), psia <= psi <= psie, a later record
// of the same step overwriting an earlier one) and turns every reference reflection of
// the file into an estimate I0*q of the incident intensity:
//   I0*q = I A / (an 57.29578 Q),  Q = lambda L E / Lambda_P  (lambda in cm),
// the integrated intensity I corrected for absorption A, the block number an along the
// path and the reflectivity Q of a mosaic block with secondary extinction y.
// The readers write nothing: the reference table and the messages are listed from the
// MeasuredScan they fill (report/scan_file_listing.hpp).
#pragma once
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "input/free_format.hpp"
#include "input/run_parameters.hpp"
#include "scans/measured_scan.hpp"
#include "scattering/sphere_tables.hpp"

namespace kaven {

// |F(h k l)| at s = sin(theta)/lambda (Å^-1).
using StructureFactorModulus = std::function<float(int h, int k, int l, float s)>;

// What the readers take from the run besides the file: the run record (primary indices,
// step grid, crystal and block sizes, absorption, radiation), the extinction table and
// the structure factors of the crystal.
struct ScanReaderContext {
  const RunParameters& par;
  const ExtinctionTable& extinction;
  StructureFactorModulus fc;
};

// Polarisation of a reference measurement: the tube's monochromator term K = cos2tm, or a
// synchrotron beam with the polarisation ratio p of the record.
struct ReferencePolarisation {
  bool synchrotron = false;
  float p = 1;
};

// The quantities of one reference reflection (theta in degrees from the file, I in cps);
// `cad4_rules` divides I0*q by 1.5 and accepts only |F| >= 2. A reflection whose |F| is
// at most 0.001 (absent) or whose estimate is not a finite number is never accepted.
ReferenceReflection reference_quantities(const ScanReaderContext& ctx, int h, int k, int l,
                                         float theta_deg, float intensity,
                                         ReferencePolarisation pol, bool cad4_rules);

// The reference keys and counting corrections of the input lines after the scan-file
// name: up to 100 lines "ihr ikr ilr" ended by a line whose first index is 999 (or by
// the end of the file), then, unless the file ended, one free-format list ff1 ff2 ff3
// tau1 tau2 tau3 bcm w (dead times in s; w is read and has no effect).
struct ReferenceList {
  std::vector<std::string> keys;  // "ihr ikr ilr" as three I4 fields
  CountingCorrections corrections;
  bool counting_line_read = false;
};
// `start` holds the run's filter factors and dead times with bcm = 0.
ReferenceList read_reference_list(LineSource& input, CountingCorrections start);

// The key of a reflection as the HUBER-HASYLAB records write it: three I4 fields.
std::string reflection_key(int h, int k, int l);

// The entry points. `scan` comes with its grid (nstep + 1 steps holding kNoMeasurement)
// and its minimum at 1e6; each reader clears `present` and sets `no_primary_step` when
// the file holds no step of the primary reflection in the psi range.
//
// The "obs" list: h k l theta psi I, and the polarisation ratio p as a seventh value in
// the synchrotron modes; background-corrected intensities, so the background stays 0.
void read_obs_list(std::istream& file, const ScanReaderContext& ctx, MeasuredScan& scan);
// CAD4 output: ten-line blocks of theta scans (96 counts) at each psi, and "I" blocks of
// reference reflections, among other lines.
void cad4(std::istream& file, const ScanReaderContext& ctx, MeasuredScan& scan);
// HUBER-HASYLAB output: a "Filter factors" header (used while bcm is 0), records of the
// primary reflection and of the reflections of `refs`; the corrections in effect at the
// end are left in scan.corrections.
void hasyl4(std::istream& file, const ReferenceList& refs, const ScanReaderContext& ctx,
            MeasuredScan& scan);

// The filter factors and dead times a run starts with (bcm 0), and those it leaves to
// the runs that follow.
CountingCorrections counting_corrections(const RunParameters& par);
void keep_counting_corrections(RunParameters& par, const CountingCorrections& c);

// The last three characters of the trimmed file name.
std::string scan_file_extension(std::string_view name);

// Chooses the reader: the "obs" list by the extension (exactly "obs"), otherwise CAD4
// output for tube radiation and HUBER-HASYLAB output for synchrotron radiation (both
// polarisations), whose reference list and corrections are read from `input` first.
// scan.extension, format and reader are set; `start` are the run's corrections.
void read_scan_file(std::istream& file, std::string_view extension, LineSource& input,
                    CountingCorrections start, const ScanReaderContext& ctx,
                    MeasuredScan& scan);

}  // namespace kaven
