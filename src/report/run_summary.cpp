#include "report/run_summary.hpp"

#include <algorithm>
#include <string>
#include <string_view>

#include "core/constants.hpp"
#include "input/free_format.hpp"
#include "report/record_format.hpp"

namespace kaven {

using namespace rec;

void list_scale_section(Listing& out, const RunParameters& p, const ScaleFactor& s) {
  const float i0_print = static_cast<float>(0.01 * double(s.i0));
  if (s.source == ScaleSource::references) {
    const float r_um = static_cast<float>(double(p.rkugel) * kMicronPerCm);
    const float r_mm = static_cast<float>(double(p.rkugel) * 10);
    out.blank();
    out.record(" Radius of the crystal (muemeter)       :" + F(10, 5, r_um));
    out.record(" crystal cross section (mm**2)          :" +
               F(10, 5, static_cast<float>(double(kPiSingle) * r_mm * r_mm)));
    if (p.isyn == 0)  // the CAD4 estimates are of K-alpha1 alone
      out.record(" I0(K-alpha1+2; counts * mm-2 * sec-1)  :" +
                 E(10, 4, static_cast<float>(double(i0_print) * 1.5)));
    else
      out.record(" I0(counts * mm-2 * sec-1)              :" + E(10, 4, i0_print));
    return;
  }
  if (s.source == ScaleSource::no_references) {
    out.blank();
    out.record(" There are no reference reflections in the file");
    out.blank();
  }
  out.record(" Scale factor estimated from the incident intensity I0:");
  out.record(" I0 (counts * mm-2 * sec-1)        :" + E(10, 4, i0_print));
  out.record(" Volume of the sample (mm-3)       :" +
             E(10, 4, static_cast<float>(double(p.volume) * 0.001)));
  out.record(X(5) + " (Radius of the sample (mm):" +
             F(10, 4, static_cast<float>(double(p.rkugel) * 10)) + " )");
}

void list_measured_summary(Listing& out, const ScanReduction& r, const Deviation& d) {
  auto pm = [](float v, float e) { return F(10, 2, v) + "  +/-  " + F(7, 2, e); };
  out.blank(2);
  out.record(" Deviation between calculated and measured psi    :" + F(8, 3, d.dev));
  out.blank();
  out.record(" Maximum measured intensity - background (cps)    :" + pm(r.mmax, r.s_max) +
             "    at psi =" + F(8, 3, r.psi_mmax));
  out.record(" Maximum measured intensity - I-prim     (cps)    :" +
             pm(r.mmax - r.imeas, r.s_maxi));
  out.blank();
  out.record(" Measured I-prim                         (cps)    :" + pm(r.imeas, r.s_i));
  out.blank();
  out.record(" Minimum measured intensity - background (cps)    :" + pm(r.mmin, r.s_min) +
             "    at psi =" + F(8, 3, r.psi_mmin));
  out.record(" I-prim - Minimum measured intensity     (cps)    :" +
             pm(r.imeas - r.mmin, r.s_mini));
  out.blank();
  out.record(" Background                              (cps)    :" + pm(r.background, r.s_b));
  out.blank(2);
}

void list_calculated_summary(Listing& out, const ScanProfile& p) {
  out.blank();
  out.record(" Maximum calculated intensity (cps)               :" + F(10, 2, p.max) +
             "    at psi =" + F(8, 3, p.psi_max));
  out.record(" I-prim                       (cps)               :" + F(10, 2, p.iprim_total));
  out.record(" Minimum calculated intensity (cps)               :" + F(10, 2, p.min) +
             "    at psi =" + F(8, 3, p.psi_min));
  out.blank();
}

void list_scan_settings(Listing& out, const RunParameters& p) {
  out.record(" Scan calculated for");
  out.blank();
  out.record(" psia                        :" + F(8, 3, p.psia));
  out.record(" psie                        :" + F(8, 3, p.psie));
  out.record(" number of steps per degree  :" + F(8, 3, p.zsw));
  out.record(" phase shift interval factor :" + I(5, p.nnn));
}

void list_event_count(Listing& out, const RunParameters& p, const ScanProfile& profile) {
  out.blank(2);
  if (plottable(profile)) {
    out.record(" Number of multiple diffraction events in the 360 degree psi-scan");
    out.record(std::string(p.isyn == 0 ? " (K-alpha1 + K-alpha2) with intensity > "
                                       : " with intensity > ") +
               E(10, 2, p.drumin_scan) + " : " + I(10, profile.entered));
  } else {
    out.record(" The number of multiple diffraction events with intensities > 0.01 times drumin is zero!");
    out.record(" No graphical output is produced.");
    out.record(" Please decrease drumin on the sixth input line");
  }
}

void write_calculated_scan(std::ostream& os, const RunParameters& p, const ScanProfile& profile) {
  // 31 characters a step, formatted into memory and written in blocks of about a
  // megabyte (the whole file when it is smaller)
  constexpr std::size_t kRecord = 31, kBlock = std::size_t(1) << 20;
  std::string text;
  text.reserve(std::min(profile.intensity.size() * kRecord, kBlock) + kRecord);
  for (std::size_t i = 0; i < profile.intensity.size(); ++i) {
    rec::append_F(text, 10, 3, step_psi(p, static_cast<long>(i)));
    rec::append_F(text, 20, 4, profile.intensity[i]);
    text += '\n';
    if (text.size() >= kBlock) {
      os.write(text.data(), static_cast<std::streamsize>(text.size()));
      text.clear();
    }
  }
  os.write(text.data(), static_cast<std::streamsize>(text.size()));
}

namespace {

bool calculated_scan_field(std::string_view field) {
  float v = 0;
  return field.find_first_not_of('*') == std::string_view::npos ||
         (field.find_first_not_of(' ') != std::string_view::npos &&
          parse_fixed_real(field, 0, v) == 0);
}

}  // namespace

bool holds_calculated_scan(std::istream& is) {
  constexpr std::size_t kLook = 64 * 1024;
  std::string text(kLook, '\0');
  is.read(text.data(), static_cast<std::streamsize>(kLook));
  text.resize(static_cast<std::size_t>(is.gcount()));
  std::size_t lines = 0;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string_view line = std::string_view(text).substr(start, end - start);
    if (line.size() != 30 || !calculated_scan_field(line.substr(0, 10)) ||
        !calculated_scan_field(line.substr(10, 20)))
      return false;
    ++lines;
  }
  return lines > 0;
}

}  // namespace kaven
