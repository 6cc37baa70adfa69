// Synthetic measured-scan files in the three forms kaven reads, for tests and examples:
// a known psi scan of the primary reflection and known reference reflections written the
// way the diffractometer programs lay them out, with the awkward parts of real files
// (page headers and notes between CAD4 blocks, records of other kinds, several speed
// divisors and the attenuator, filters and dead times, psi written below zero on the
// HUBER circle, lines a reader has to pass over).
//
// Counts are integers and intensities are rounded to their fields, so what a reader can
// recover is what the written numbers imply; each writer returns those values, computed
// here in double from the numbers as written, beside the text.
#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace kaven::synthetic {

// A psi step of the primary reflection to encode: integrated intensity in cps.
struct PrimaryStep {
  double psi;
  double intensity;
};

// A reference reflection to encode: Bragg angle, integrated intensity (cps) and, for
// synchrotron radiation, the polarisation ratio of its measurement.
struct Reference {
  int h, k, l;
  double theta_deg;
  double intensity;
  double ratio = 1;
};

// What a reader must find in one record of the primary reflection.
struct EncodedStep {
  float psi;         // as written (HUBER: before a negative psi is turned by 360)
  double intensity;  // cps
  // CAD4: the first and the last profile point in cps.
  double left = 0, right = 0;
  // HUBER: what the edge values are formed from.
  int points = 0;
  int filter = 0;
  double time = 0, weight = 0;
  double c_first = 0, c_last = 0, m_first = 0, m_last = 0;
};

struct EncodedReference {
  int h, k, l;
  float theta_deg;
  double intensity;  // cps
  float ratio;
};

struct EncodedFile {
  std::string text;
  std::vector<EncodedStep> steps;            // file order
  std::vector<EncodedReference> references;  // file order, every reference record
  int unreadable = 0;                        // records a reader has to pass over
};

// ---- helpers ---------------------------------------------------------------------------

template <class... Args>
std::string fmt(const char* format, Args... args) {
  char buf[256];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}

// Lines joined into the text of a file.
inline std::string join(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

// The lines of a text.
inline std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t b = 0;
  for (std::size_t e; (e = text.find('\n', b)) != std::string::npos; b = e + 1)
    lines.push_back(text.substr(b, e - b));
  if (b < text.size()) lines.push_back(text.substr(b));
  return lines;
}

// The value a field holds once written with `format`.
inline double as_written(const char* format, double v) { return std::stod(fmt(format, v)); }

// A small deterministic generator (splitmix64) with normal deviates, the same on every
// platform; counting noise is approximated by a normal deviate of variance n.
class Noise {
 public:
  explicit Noise(std::uint64_t seed) : s_(seed) {}
  double uniform() {
    std::uint64_t z = (s_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    return (static_cast<double>(z >> 11) + 0.5) / 9007199254740992.0;
  }
  double normal() {
    return std::sqrt(-2 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
  }
  long counts(double mean) {
    if (mean <= 0) return 0;
    return std::max(0L, std::lround(mean + std::sqrt(mean) * normal()));
  }

 private:
  std::uint64_t s_;
};

// A peak across the points of a profile, normalised to a sum of 1.
inline std::vector<double> profile_shape(int n, double sigma_points) {
  std::vector<double> s(static_cast<std::size_t>(n));
  double sum = 0;
  for (int i = 0; i < n; ++i) {
    double x = (i - (n - 1) / 2.0) / sigma_points;
    s[static_cast<std::size_t>(i)] = std::exp(-0.5 * x * x);
    sum += s[static_cast<std::size_t>(i)];
  }
  for (double& v : s) v /= sum;
  return s;
}

// ---- CAD4 output -------------------------------------------------------------------------

struct Cad4Options {
  std::vector<int> divisors{1, 2, 4};  // speed divisors, taken in turn
  float tubefac = 12.179f;              // the run's tube constant (D <= 0)
  double background_cps = 0.2;          // per profile point
  bool noise = false;
  std::uint64_t seed = 1;
  bool junk = true;          // page headers, notes, records of other kinds
  bool unreadable = true;    // with them, now and then a line a reader passes over
  int references_every = 7;  // a reference block after this many psi steps
  double primary_theta = 10.0;  // Bragg angle written in the primary blocks (degrees)
};

// cps per count of a block measured with speed divisor D.
inline double cad4_factor(int divisor, float tubefac) {
  return divisor >= 1 ? double(16.48f) / divisor : double(16.48f) * tubefac / std::abs(divisor);
}

inline std::string cad4_count_line(const std::array<long, 12>& c, int line) {
  std::string s = fmt("%11s", fmt("PROF%02d", line).c_str());
  for (int g = 0; g < 4; ++g) {
    for (int j = 0; j < 3; ++j) s += fmt("%4ld", c[static_cast<std::size_t>(3 * g + j)]);
    if (g < 3) s += ' ';
  }
  return s;
}

// A ten-line block. Primary layout: psi F7.2 in columns 33-39 and D I4 in 40-43;
// reference layout: an angle F8.3 in 33-40 and D I3 in 41-43.
inline std::string cad4_block(int serial, int h, int k, int l, char letter, bool primary,
                              double psi, int divisor, long cl, long cp, long cr,
                              double theta, const std::array<long, 96>& profile) {
  std::string s = fmt("%10d%5d%5d%5d %c   **", serial, h, k, l, letter);
  s += primary ? fmt("%7.2f%4d", psi, divisor) : fmt("%8.3f%3d", psi, divisor);
  s += fmt("%5ld.%6ld.%5ld.", cl, cp, cr) + "  0.0312\n";
  s += fmt("%10s%8.3f  %8.3f%8.3f%8.3f\n", "", theta, 2 * theta, 12.5, -33.75);
  for (int line = 0; line < 8; ++line) {
    std::array<long, 12> c{};
    for (int j = 0; j < 12; ++j) c[static_cast<std::size_t>(j)] = profile[static_cast<std::size_t>(12 * line + j)];
    s += cad4_count_line(c, line + 1) + "\n";
  }
  return s;
}

// A psi scan of (h k l) with reference blocks between its steps.
inline EncodedFile write_cad4(int h, int k, int l, const std::vector<PrimaryStep>& steps,
                              const std::vector<Reference>& refs, const Cad4Options& o) {
  EncodedFile out;
  Noise noise(o.seed);
  const std::vector<double> shape = profile_shape(96, 9.0);
  int serial = 0;
  std::size_t next_ref = 0;
  if (o.junk) {
    out.text += "1  ENRAF-NONIUS CAD4   PSI-SCAN OUTPUT        SYNTHETIC DATA, NOT A MEASUREMENT\n";
    out.text += fmt("   REFLECTION%5d%5d%5d   *** PSI SCAN ***\n\n", h, k, l);
  }
  auto write_reference = [&](const Reference& r) {
    // Background counts on both sides, the peak count made up to the intensity.
    static constexpr int kDivisors[] = {1, 2, 3, 4, -1, -2};
    for (int d : kDivisors) {
      const double f = cad4_factor(d, o.tubefac);
      const long cl = std::lround(60 * o.background_cps * 24 / f);
      const long cr = std::lround(60 * o.background_cps * 24 / f) + 1;
      const long cp = std::lround(60 * r.intensity / f) + 2 * (cl + cr);
      if (cp > 999999) continue;
      std::array<long, 96> profile{};
      for (std::size_t i = 0; i < 96; ++i) profile[i] = std::min(9999L, std::lround(static_cast<double>(cp) * shape[i]));
      out.text += cad4_block(++serial, r.h, r.k, r.l, 'I', false, 0.0, d, cl, cp, cr,
                             r.theta_deg, profile);
      out.references.push_back({r.h, r.k, r.l, static_cast<float>(as_written("%8.3f", r.theta_deg)),
                                static_cast<double>(cp - 2 * (cl + cr)) / 60.0 * f, 1.0f});
      return;
    }
    throw std::runtime_error("reference too strong for a CAD4 block");
  };
  for (std::size_t n = 0; n < steps.size(); ++n) {
    const PrimaryStep& st = steps[n];
    int d = o.divisors[n % o.divisors.size()];
    std::array<long, 96> c{};
    for (int attempt = 0; attempt < 2; ++attempt) {
      const double f = cad4_factor(d, o.tubefac);
      const double total = 60 * st.intensity / f;
      const double bg = std::min(60 * o.background_cps / f, total / 96);
      const double peak = total - 96 * bg;
      long top = 0;
      for (std::size_t i = 0; i < 96; ++i) {
        const double mean = bg + peak * shape[i];
        c[i] = o.noise ? noise.counts(mean) : std::lround(mean);
        top = std::max(top, c[i]);
      }
      if (top <= 9999) break;
      d = -1;  // too strong for the counter: the attenuated setting
    }
    const double f = cad4_factor(d, o.tubefac);
    long sum = 0, cl = 0, cr = 0;
    for (std::size_t i = 0; i < 96; ++i) {
      if (c[i] > 9999) throw std::runtime_error("step too strong for a CAD4 block");
      sum += c[i];
      if (i < 16) cl += c[i];
      if (i >= 80) cr += c[i];
    }
    out.text += cad4_block(++serial, h, k, l, 'P', true, st.psi, d, cl, sum, cr, o.primary_theta, c);
    EncodedStep e{};
    e.psi = static_cast<float>(as_written("%7.2f", st.psi));
    e.intensity = f * static_cast<double>(sum) / 60.0;
    e.left = f * static_cast<double>(c[0]) / 60.0;
    e.right = f * static_cast<double>(c[95]) / 60.0;
    e.points = 96;
    out.steps.push_back(e);
    if (o.junk && n % 11 == 5) {
      // A page break, a note with stars elsewhere, and a record of another kind.
      out.text += "1  ENRAF-NONIUS CAD4   PSI-SCAN OUTPUT                      PAGE" +
                  fmt("%4zu\n", n / 11 + 2);
      out.text += "   *** intensity control ***  (no ** in columns 31-32)\n";
      out.text += cad4_block(++serial, 2, 0, 0, 'C', false, 0.0, 1, 10, 20, 10, 5.0, {});
    }
    if (o.junk && o.unreadable && n % 23 == 17) {
      // Stars in columns 31-32 but no indices in columns 11-25.
      out.text += fmt("%10s%15s%5s** unreadable reflection\n", "", "???  ????  ???", "");
      ++out.unreadable;
    }
    if (next_ref < refs.size() && o.references_every > 0 &&
        (n + 1) % static_cast<std::size_t>(o.references_every) == 0)
      write_reference(refs[next_ref++]);
  }
  while (next_ref < refs.size()) write_reference(refs[next_ref++]);
  if (o.junk) out.text += "\n   END OF PSI SCAN\n";
  return out;
}

// ---- HUBER-HASYLAB output -------------------------------------------------------------

struct HuberOptions {
  // The "Filter factors" header: filter factors, dead times in µs, beam count multiplier.
  bool header = true;
  std::array<double, 3> ff{2.029, 4.065, 16.756};
  std::array<double, 3> tau_us{2.9, 5.0, 5.0};
  double bcm = 10000;
  int points = 10;
  double time = 10.0;          // s per point
  double background = 0.2;     // normalised value of a point away from the peak
  double monitor_cps = 10000;  // monitor rate
  // Filter codes, taken in turn; with `filter_by_intensity` the weakest filter that keeps
  // the detector below 20000 cps is chosen instead.
  std::vector<int> filters{0, 0, 1, 2, 3, 4, 5, 6, 7, 9};
  bool filter_by_intensity = false;
  bool negative_psi = true;  // psi above 260 written as psi - 360 on every other record
  bool noise = false;
  std::uint64_t seed = 7;
  int references_every = 5;
};

// Attenuation of a filter code; codes outside 0..7 leave the one before.
inline double filter_attenuation(int code, const HuberOptions& o, double previous) {
  if (code < 0 || code > 7) return previous;
  double g = 1;
  if (code & 1) g *= o.ff[0];
  if (code & 2) g *= o.ff[1];
  if (code & 4) g *= o.ff[2];
  return g;
}

inline std::string huber_header(const HuberOptions& o) {
  std::string s = "        Filter factors  " +
                  fmt("%8.3f%8.3f%8.3f\n", o.ff[0], o.ff[1], o.ff[2]);
  s += "        Dead times (mus)" + fmt("%8.3f%8.3f%8.3f\n", o.tau_us[0], o.tau_us[1], o.tau_us[2]);
  s += "        Monitor counter      2\n";
  s += "        Beam count mult." + fmt("%7.0f.\n", o.bcm);
  return s;
}

inline void huber_arrays(std::string& s, const std::vector<long>& v) {
  for (std::size_t j = 0; j < v.size(); j += 10) {
    for (std::size_t m = j; m < std::min(v.size(), j + 10); ++m) s += fmt("%7ld.", v[m]);
    s += "\n";
  }
}

inline std::string huber_record(int h, int k, int l, double intensity, int filter, double f1,
                                double f2, int points, double time, double psi, bool primary,
                                double weight, const std::vector<long>& c,
                                const std::vector<long>& m, const std::vector<long>& third) {
  std::string s = fmt("%4d%4d%4d%9.2f%9.2f%3d", h, k, l, intensity, std::sqrt(std::fabs(intensity)), filter);
  s += fmt("%8.3f%8.3f%8.3f%8.3f%8.3f%7d\n", f1, f2, f2 / 2, 0.5, -12.25, 1234);
  s += fmt("%20s%3d%5.1f%6.2f", "  point scan  ", points, 0.5, time);
  s += primary ? fmt("%7.3f", psi) : fmt("%7.2f", psi);
  s += fmt("%8.3f%8.3f%8.3f%8.3f%7d\n", 0.001, weight, 0.0, 1.0, 42);
  s += fmt("%8.1f%8.1f%8.1f\n", 293.2, 101.3, 0.0);
  huber_arrays(s, c);
  huber_arrays(s, m);
  huber_arrays(s, third);
  return s;
}

// A psi scan of (h k l) with reference records between its steps. `primary_two_theta`:
// 2 theta of the primary, written where references hold theirs.
inline EncodedFile write_huber(int h, int k, int l, const std::vector<PrimaryStep>& steps,
                               const std::vector<Reference>& refs, double primary_two_theta,
                               const HuberOptions& o) {
  EncodedFile out;
  Noise noise(o.seed);
  const std::vector<double> shape = profile_shape(o.points, o.points / 6.0);
  out.text += "! SYNTHETIC HUBER-HASYLAB psi scan, not a measurement\n";
  if (o.header) out.text += huber_header(o);
  out.text += "! scan " + fmt("%4d%4d%4d", h, k, l) + "\n";
  std::size_t next_ref = 0;
  // Counts of the points: the normalised value v = bcm g C / M of a point is the
  // background plus its share of the integrated intensity; the filter attenuates C.
  auto arrays = [&](double intensity, double g, std::vector<long>& c, std::vector<long>& m,
                    std::vector<long>& third) {
    c.clear();
    m.clear();
    third.clear();
    for (int j = 0; j < o.points; ++j) {
      const double v = o.background + intensity * shape[static_cast<std::size_t>(j)];
      const double mon = o.monitor_cps * o.time;
      const long mj = o.noise ? noise.counts(mon) : std::lround(mon);
      const double cj = v * static_cast<double>(mj) / (o.bcm * g);
      c.push_back(o.noise ? noise.counts(cj) : std::lround(cj));
      m.push_back(mj);
      third.push_back(std::lround(o.time * 1000));
    }
  };
  double g_previous = 1;
  auto write_reference = [&](const Reference& r, std::size_t n) {
    std::vector<long> c, m, third;
    arrays(r.intensity, 1.0, c, m, third);
    // Every third reference is written with its 2 theta below zero.
    const double two_theta = (n % 3 == 2 ? -2 : 2) * r.theta_deg;
    out.text += huber_record(r.h, r.k, r.l, r.intensity, 0, r.ratio, two_theta, o.points,
                             o.time, 0.0, false, 1.0, c, m, third);
    out.references.push_back({r.h, r.k, r.l,
                              static_cast<float>(std::fabs(as_written("%8.3f", two_theta)) / 2),
                              as_written("%9.2f", r.intensity),
                              static_cast<float>(as_written("%8.3f", r.ratio))});
  };
  for (std::size_t n = 0; n < steps.size(); ++n) {
    const PrimaryStep& st = steps[n];
    int filter = o.filters[n % o.filters.size()];
    if (o.filter_by_intensity) {
      const double peak_rate = (o.background + st.intensity * shape[shape.size() / 2]) *
                               o.monitor_cps / o.bcm;
      filter = 0;
      for (int code : {0, 1, 2, 3, 4, 5, 6, 7})
        if (peak_rate / filter_attenuation(code, o, 1) < 20000) {
          filter = code;
          break;
        }
    }
    const double g = filter_attenuation(filter, o, g_previous);
    g_previous = g;
    std::vector<long> c, m, third;
    arrays(st.intensity, g, c, m, third);
    double psi = st.psi;
    if (o.negative_psi && psi > 260 && n % 2 == 1) psi -= 360;
    const double weight = 1.0 + 0.25 * static_cast<double>(n % 3);
    out.text += huber_record(h, k, l, st.intensity, filter, 1.0, primary_two_theta, o.points,
                             o.time, psi, true, weight, c, m, third);
    EncodedStep e{};
    e.psi = static_cast<float>(as_written("%7.3f", psi));
    e.intensity = as_written("%9.2f", st.intensity);
    e.points = o.points;
    e.filter = filter;
    e.time = as_written("%6.2f", o.time);
    e.weight = as_written("%8.3f", weight);
    e.c_first = static_cast<double>(c.front());
    e.c_last = static_cast<double>(c.back());
    e.m_first = static_cast<double>(m.front());
    e.m_last = static_cast<double>(m.back());
    out.steps.push_back(e);
    if (n % 13 == 6) out.text += "! counter reset\n";
    if (next_ref < refs.size() && o.references_every > 0 &&
        (n + 1) % static_cast<std::size_t>(o.references_every) == 0) {
      write_reference(refs[next_ref], next_ref);
      ++next_ref;
    }
  }
  while (next_ref < refs.size()) {
    write_reference(refs[next_ref], next_ref);
    ++next_ref;
  }
  return out;
}

// Input lines after the scan-file name: one reference a line, the closing line and the
// counting line (filter factors, dead times in s, beam count multiplier, point weight).
inline std::vector<std::string> huber_input_lines(const std::vector<Reference>& refs,
                                                  const HuberOptions& o, bool counting_line) {
  std::vector<std::string> lines;
  for (const Reference& r : refs) lines.push_back(fmt("%4d%4d%4d", r.h, r.k, r.l));
  lines.push_back("999 0 0");
  if (counting_line)
    lines.push_back(fmt("%.3f %.3f %.3f %.7f %.6f %.6f %.0f. 0.", o.ff[0], o.ff[1], o.ff[2],
                        o.tau_us[0] * 1e-6, o.tau_us[1] * 1e-6, o.tau_us[2] * 1e-6, o.bcm));
  return lines;
}

// ---- the "obs" list ------------------------------------------------------------------

// h k l theta psi I, and p in the synchrotron modes; references among the steps, one
// line written with commas, an empty line and a note a reader passes over.
inline EncodedFile write_obs(int h, int k, int l, double primary_theta,
                             const std::vector<PrimaryStep>& steps,
                             const std::vector<Reference>& refs, bool synchrotron) {
  EncodedFile out;
  out.text += "h k l theta psi intensity" + std::string(synchrotron ? " p" : "") + "\n";
  ++out.unreadable;
  std::size_t next_ref = 0;
  auto write_reference = [&](const Reference& r) {
    out.text += fmt("%4d%4d%4d%10.4f%10.4f%14.4f", r.h, r.k, r.l, r.theta_deg, 0.0, r.intensity);
    out.text += synchrotron ? fmt("%7.2f\n", r.ratio) : "\n";
    out.references.push_back({r.h, r.k, r.l, static_cast<float>(as_written("%.4f", r.theta_deg)),
                              as_written("%.4f", r.intensity),
                              static_cast<float>(synchrotron ? as_written("%.2f", r.ratio) : 1.0)});
  };
  for (std::size_t n = 0; n < steps.size(); ++n) {
    const PrimaryStep& st = steps[n];
    const char* format = n % 17 == 3 ? "%d,%d,%d,%.4f,%.4f,%.4f" : "%4d%4d%4d%10.4f%10.4f%14.4f";
    out.text += fmt(format, h, k, l, primary_theta, st.psi, st.intensity);
    out.text += synchrotron ? "   1.00\n" : "\n";
    out.steps.push_back({static_cast<float>(as_written("%.4f", st.psi)),
                         as_written("%.4f", st.intensity)});
    if (n % 29 == 11) out.text += "\n";
    if (next_ref < refs.size() && n % 5 == 4) write_reference(refs[next_ref++]);
  }
  while (next_ref < refs.size()) write_reference(refs[next_ref++]);
  return out;
}

}  // namespace kaven::synthetic
