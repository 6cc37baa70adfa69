// The fixed constants of the computation.
//
// Most are single-precision values: the results are defined with exactly these floats,
// promoted to double where they enter the arithmetic (double(kRadToDeg)), so a result
// does not change when the arithmetic around it is done in double. Several are written
// to fewer digits than a float holds, and then they are distinct floats: 6.283185 (the
// structure-factor argument) is not 6.2831855 (2 pi to float precision), and upsi has
// its own 6.28318 and 57.2958. Each name says where its value belongs.
//
// kPi and kDegree are the exact double values, used by the intensity and event-search
// arithmetic, which is not tied to a single-precision constant.
#pragma once
#include <numbers>

namespace kaven {

// ---- exact, double precision ----------------------------------------------------
inline constexpr double kPi = std::numbers::pi;
inline constexpr double kDegree = kPi / 180.0;  // one degree in radians

// ---- angles, single precision ---------------------------------------------------
inline constexpr float kDegToRad = 0.0174533f;   // degrees to radians (not pi/180)
inline constexpr float kRadToDeg = 57.29578f;    // radians to degrees (180/pi)
inline constexpr float kPiSingle = 3.1415927f;   // pi
inline constexpr float kTwoPiSingle = 6.2831855f;  // 2 pi: a phase below -0.001 is lifted by it
inline constexpr float kHalfPiSingle = 1.5707963f;  // pi/2: the phase of a purely imaginary F
inline constexpr float kTwoPiArgument = 6.283185f;  // 2 pi of the structure-factor argument
inline constexpr float kTwoPiUpsi = 6.28318f;      // 2 pi of upsi's azimuth
inline constexpr float kRadToDegUpsi = 57.2958f;   // 180/pi of upsi's psi

// ---- crystal and sample ---------------------------------------------------------
inline constexpr float kBetaToU = 0.05066059f;         // 1/(2 pi^2): U = kBetaToU beta / (a*_i a*_j)
inline constexpr float kFourPiOverThree = 4.18879f;    // sphere volume 4 pi R^3 / 3
inline constexpr float kElectronRadiusFm = 2.817938f;  // classical electron radius r_e (fm)
// r_e in Å (2.817938e-5) times 1e8: Gamma = kGamma lambda / V is the inverse extinction
// length in cm^-1 per electron of |F| (lambda in Å, V in Å^3).
inline constexpr float kGamma = 2817.938f;
// The unit bookkeeping of the scale constant S = pi R^2 kScale w I0 (R in cm, I0 per mm^2
// and second): intensities come out in counts per second.
inline constexpr float kScale = 3282.8064f;

// ---- thresholds -----------------------------------------------------------------
inline constexpr float kAbsentF = 0.001f;  // |F| at or below: the reflection is absent
inline constexpr float kMaxMuR = 31.5f;    // mu R beyond: no absorption factor (set to 1)

// ---- the plot -------------------------------------------------------------------
inline constexpr float kPointsPerCm = 28.34645f;       // PostScript points per centimetre
inline constexpr float kRadToDegDiagram = 57.295757f;  // 180/pi of the psi-lambda diagram

// ---- units ----------------------------------------------------------------------
inline constexpr double kCmPerAngstrom = 1e-8;
inline constexpr double kAngstromPerCm = 1e8;
inline constexpr double kCmPerMicron = 1e-4;
inline constexpr double kMicronPerCm = 1e4;

}  // namespace kaven
