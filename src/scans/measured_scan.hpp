// A measured psi scan of the primary reflection on the step grid of the simulation, and
// the reference reflections (strong ordinary Bragg reflections of the same crystal)
// whose integrated intensities fix the absolute scale of the simulation.
//
// Three file forms exist: the free "obs" list, CAD4 output and HUBER-HASYLAB output.
// Their readers all fill this one record.
#pragma once
#include <string>
#include <vector>

namespace kaven {

// A step of the grid that holds no measurement.
inline constexpr float kNoMeasurement = 1.0e20f;

enum class ScanFormat { none, obs, cad4, huber };

// Whose rules were applied: the tube reader (CAD4 output or a six-value "obs" list; the
// monochromator polarisation, references with |F| >= 2 only, I0*q over 1.5) or the
// synchrotron reader (HUBER-HASYLAB output or a seven-value "obs" list with the
// polarisation ratio of each line; every reference counted).
enum class ScanReader { none, cad4, hasyl4 };

// The counting chain of the HUBER-HASYLAB diffractometer: the attenuation factors of
// the three filters, the dead times of detector, monitor and a third counter (s), and
// the beam count multiplier that scales the normalised counts.
struct CountingCorrections {
  float ff1 = 0, ff2 = 0, ff3 = 0;
  float tau1 = 0, tau2 = 0, tau3 = 0;
  float bcm = 0;
};

// One reference reflection as the readers list it (every one, accepted or not).
struct ReferenceReflection {
  int h = 0, k = 0, l = 0;
  float theta_deg = 0;    // Bragg angle from the file
  float sinthl = 0;       // sin(theta)/lambda (Å^-1)
  float sum1 = 0;         // integrated intensity as the first header value (HUBER only)
  float sum = 0;          // integrated intensity I (cps)
  float fc = 0;           // |F| at sinthl
  float inv_abs = 0;      // 1/A of the sphere absorption
  float lorentz = 0;      // 1/sin 2theta
  float pol = 0;          // polarisation factor
  float lext_um = 0;      // extinction length Lambda_P (µm)
  float ypsil = 0;        // extinction value y
  float text_um = 0;      // effective thickness E Lambda_P (µm)
  float an = 0;           // number of blocks along the path, at least 1
  float i0q = 0;          // incident-intensity estimate I0*q
  bool accepted = false;  // counted in refsum and nref
};

struct MeasuredScan {
  // Set from the input: a scan file was named on line 12. The readers clear it when the
  // file yields no step of the primary reflection in the psi range.
  bool present = false;
  ScanFormat format = ScanFormat::none;
  ScanReader reader = ScanReader::none;
  std::string extension;  // last three characters of the trimmed file name
  // cps per step i = 0..nstep at psi = psia + i/zsw; kNoMeasurement where none.
  std::vector<float> intensity;
  float minimum = 1.0e6f;  // smallest stored intensity (0 when it came back negative)
  float background = 0;    // cps
  float refsum = 0;        // sum of I0*q / (pi R^2) over the accepted references
  int nref = 0;            // accepted reference reflections
  std::vector<ReferenceReflection> references;  // in file order
  // The file held no step of the primary reflection in the psi range: the listing
  // says so and the run goes on as one without a measured scan.
  bool no_primary_step = false;
  // Corrections in effect at the end of a HUBER-HASYLAB reading (from the input lines
  // after the file name or from the file's own header).
  CountingCorrections corrections;
  // Lines, blocks or records that could not be converted and were passed over.
  int skipped_records = 0;
};

}  // namespace kaven
