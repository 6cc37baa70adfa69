#include "scans/scan_readers.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "core/constants.hpp"

namespace kaven {
namespace {

const double kRad = double(kDegToRad);
const double kDeg = double(kRadToDeg);

// One record line read in fixed columns (1-based), padded with blanks; a field that
// cannot be converted marks the line as unusable.
class Columns {
 public:
  explicit Columns(std::string line) : line_(std::move(line)) {
    if (line_.size() < 132) line_.resize(132, ' ');
  }
  std::string_view text(int first, int width) const {
    return std::string_view(line_).substr(static_cast<std::size_t>(first - 1),
                                           static_cast<std::size_t>(width));
  }
  int integer(int first, int width) {
    int v = 0;
    if (parse_fixed_integer(text(first, width), v) != 0) ok_ = false;
    return v;
  }
  float real(int first, int width, int decimals) {
    float v = 0;
    if (parse_fixed_real(text(first, width), decimals, v) != 0) ok_ = false;
    return v;
  }
  bool ok() const { return ok_; }

 private:
  std::string line_;
  bool ok_ = true;
};

// What the formats share: the step grid, the reference sums and the edges of the
// theta-scan or point profiles from which the background is estimated.
class ScanAccumulator {
 public:
  ScanAccumulator(const ScanReaderContext& ctx, MeasuredScan& scan, ScanReader reader)
      : ctx_(ctx), scan_(scan), cad4_rules_(reader == ScanReader::cad4) {
    scan_.reader = reader;
    scan_.refsum = 0;
    scan_.nref = 0;
    scan_.background = 0;
    scan_.references.clear();
    scan_.no_primary_step = false;
  }

  bool in_range(float psi) const { return psi >= ctx_.par.psia && psi <= ctx_.par.psie; }

  // A step of the primary reflection, stored when psi lies in the scan range. Counts
  // so large that their rate leaves single precision make no step.
  bool store_step(float psi, float intensity) {
    if (!in_range(psi)) return false;
    if (!std::isfinite(intensity)) {
      ++scan_.skipped_records;
      return false;
    }
    const long i = std::lround((double(psi) - ctx_.par.psia) * ctx_.par.zsw);
    if (i < 0 || i >= static_cast<long>(scan_.intensity.size())) return false;
    scan_.intensity[static_cast<std::size_t>(i)] = intensity;
    scan_.minimum = std::min(scan_.minimum, intensity);
    ++stored_;
    return true;
  }

  // Edge values of a stored step: the first and the last point of its profile (cps).
  void add_edges(double left, double right) {
    left_ += left;
    right_ += right;
  }

  void add_reference(int h, int k, int l, float theta_deg, float intensity,
                     ReferencePolarisation pol, float sum1) {
    ReferenceReflection r =
        reference_quantities(ctx_, h, k, l, theta_deg, intensity, pol, cad4_rules_);
    r.sum1 = sum1;
    if (r.accepted) {
      const double R = ctx_.par.rkugel;
      refsum_ += r.i0q / (double(kPiSingle) * R * R);
      ++scan_.nref;
    }
    scan_.references.push_back(r);
  }

  // End of the file. `points`: profile points per step for the edge background (0: the
  // intensities are background-corrected and the background stays 0).
  void finish(int points, bool clamp_negative_background) {
    scan_.refsum = static_cast<float>(refsum_);
    if (stored_ == 0) {
      scan_.present = false;
      scan_.no_primary_step = true;
      return;
    }
    if (points > 0) {
      const double n = static_cast<double>(stored_);
      double b = std::min(right_ * points / n, left_ * points / n);
      b = std::min(b, double(scan_.minimum));
      if (clamp_negative_background && b < 0) b = 0;
      scan_.background = static_cast<float>(b);
    }
  }

 private:
  const ScanReaderContext& ctx_;
  MeasuredScan& scan_;
  bool cad4_rules_;
  long stored_ = 0;
  double left_ = 0, right_ = 0;
  double refsum_ = 0;
};

bool same_reflection(const RunParameters& p, int h, int k, int l) {
  return h == p.h && k == p.k && l == p.l;
}

// ---- CAD4 output --------------------------------------------------------------------

// The factor that turns the counts of a CAD4 block (scaled by 1/60) into cps: the
// scan speed, 16.48 degrees per minute over the speed divisor D >= 1; D <= 0 marks the
// attenuated setting, whose attenuation is the tube constant. D = 0 has no speed.
std::optional<double> cad4_speed_factor(int divisor, float tubefac) {
  if (divisor == 0) return std::nullopt;
  if (divisor >= 1) return double(16.48f) / divisor;
  return double(16.48f) * tubefac / std::abs(divisor);
}

// The 96 counts of a theta-scan profile on block lines 3 to 10: four groups of three
// I4-wide counts per line.
bool read_profile(const std::vector<std::string>& block, std::array<float, 96>& counts) {
  static constexpr int group[4] = {12, 25, 38, 51};
  std::size_t n = 0;
  for (int line = 2; line < 10; ++line) {
    Columns c(block[static_cast<std::size_t>(line)]);
    for (int g : group)
      for (int j = 0; j < 3; ++j) counts[n++] = c.real(g + 4 * j, 4, 0);
    if (!c.ok()) return false;
  }
  return true;
}

}  // namespace

ReferenceReflection reference_quantities(const ScanReaderContext& ctx, int h, int k, int l,
                                         float theta_deg, float intensity,
                                         ReferencePolarisation pol, bool cad4_rules) {
  const RunParameters& p = ctx.par;
  ReferenceReflection r;
  r.h = h;
  r.k = k;
  r.l = l;
  r.theta_deg = theta_deg;
  r.sum = intensity;
  r.sum1 = intensity;
  const double th = theta_deg * kRad;
  const double c2 = std::cos(2 * th);
  const double c2sq = c2 * c2;
  const double lorentz = 1 / std::sin(2 * th);
  const double K = p.cos2tm;
  const double P = pol.synchrotron ? 0.5 * ((1 + double(pol.p)) + (1 - double(pol.p)) * c2sq)
                                   : (c2sq + K) / (1 + K);
  const float s = static_cast<float>(std::sin(th) / p.alam1);
  const float fc = ctx.fc(h, k, l, s);
  const double A = p.mur < kMaxMuR ? double(absor1(p.mur, theta_deg)) : 1.0;
  // Extinction in a block of mean path t for the two polarisation components, each
  // capped so that y t / Lambda stays below 0.9.
  const double t = p.block_path_cm;
  const double rb = p.radius * kCmPerMicron;
  const double c = p.gamma_sc;
  auto component = [&](double lambda_ext) {
    double y = xtab(ctx.extinction, static_cast<float>(rb / lambda_ext), theta_deg);
    return std::min(y, 0.9 * lambda_ext / t);
  };
  const double y1 = component(1 / (c * fc));
  const double y2 = component(1 / (std::fabs(c2) * c * fc));
  const double y = pol.synchrotron ? (0.5 * (1 + double(pol.p)) * y1 +
                                      0.5 * (1 - double(pol.p)) * c2sq * y2) / P
                                   : (K * y1 + c2sq * y2) / (c2sq + K);
  const double lambda_p = 1 / (c * fc * std::sqrt(P));
  // Blocks along the path: the sphere's diameter over the block size, reduced when the
  // mosaic spread exceeds the angular width of a block's reflection.
  const double w = p.alam1 * kCmPerAngstrom / t;
  const double an =
      std::max(1.0, ((2.0 / 3.0) * p.rkugel / rb) * w / (p.eta * kRad + w));
  const double E = t / lambda_p * y;
  const double Q = p.alam1 * kCmPerAngstrom * lorentz * E / lambda_p;
  double i0q = intensity * A / (an * kDeg * Q);
  if (cad4_rules) i0q /= 1.5;

  r.sinthl = s;
  r.fc = fc;
  r.inv_abs = static_cast<float>(1 / A);
  r.lorentz = static_cast<float>(lorentz);
  r.pol = static_cast<float>(P);
  r.lext_um = static_cast<float>(lambda_p * kMicronPerCm);
  r.ypsil = static_cast<float>(y);
  r.text_um = static_cast<float>(E * lambda_p * kMicronPerCm);
  r.an = static_cast<float>(an);
  r.i0q = static_cast<float>(i0q);
  const bool usable = fc > kAbsentF && std::isfinite(r.i0q);
  r.accepted = usable && (!cad4_rules || fc >= 2.0f);
  return r;
}

std::string reflection_key(int h, int k, int l) {
  std::string key;
  for (int v : {h, k, l}) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%4d", v);
    key += std::string_view(buf).size() == 4 ? std::string(buf) : std::string(4, '*');
  }
  return key;
}

CountingCorrections counting_corrections(const RunParameters& p) {
  CountingCorrections c;
  c.ff1 = p.ff1, c.ff2 = p.ff2, c.ff3 = p.ff3;
  c.tau1 = p.tau1, c.tau2 = p.tau2, c.tau3 = p.tau3;
  return c;
}

void keep_counting_corrections(RunParameters& p, const CountingCorrections& c) {
  p.ff1 = c.ff1, p.ff2 = c.ff2, p.ff3 = c.ff3;
  p.tau1 = c.tau1, p.tau2 = c.tau2, p.tau3 = c.tau3;
}

std::string scan_file_extension(std::string_view name) {
  std::size_t e = name.find_last_not_of(' ');
  if (e == std::string_view::npos) return {};
  name = name.substr(0, e + 1);
  return std::string(name.size() > 3 ? name.substr(name.size() - 3) : name);
}

void read_obs_list(std::istream& file, const ScanReaderContext& ctx, MeasuredScan& scan) {
  const bool synchrotron = ctx.par.isyn != 0;
  ScanAccumulator acc(ctx, scan, synchrotron ? ScanReader::hasyl4 : ScanReader::cad4);
  LineSource src(file);
  std::string line;
  while (src.next(line)) {
    int h = 0, k = 0, l = 0;
    float theta = 0, psi = 0, intensity = 0, ratio = 0;
    std::vector<FreeItem> items{&h, &k, &l, &theta, &psi, &intensity};
    if (synchrotron) items.push_back(&ratio);
    LineSource record(line);
    const int status = src.overlong() ? kStatusMalformed : read_free(record, items);
    if (status != 0) {
      // A line without a complete record (a note, a short line) is passed over; an
      // empty line is no record at all.
      if (line.find_first_not_of(" \t,") != std::string::npos) ++scan.skipped_records;
      continue;
    }
    if (same_reflection(ctx.par, h, k, l))
      acc.store_step(psi, intensity);
    else
      acc.add_reference(h, k, l, theta, intensity, {synchrotron, ratio}, intensity);
  }
  acc.finish(0, false);
}

void cad4(std::istream& file, const ScanReaderContext& ctx, MeasuredScan& scan) {
  const RunParameters& p = ctx.par;
  ScanAccumulator acc(ctx, scan, ScanReader::cad4);
  LineSource src(file);
  std::string line;
  bool more = src.next(line);
  while (more) {
    Columns first(line);
    if (first.text(31, 2) != "**") {
      more = src.next(line);
      continue;
    }
    const int h = first.integer(11, 5), k = first.integer(16, 5), l = first.integer(21, 5);
    if (!first.ok()) {
      ++scan.skipped_records;
      more = src.next(line);
      continue;
    }
    if (same_reflection(p, h, k, l)) {
      // A psi step: the ten lines of the block, its theta-scan profile summed.
      std::vector<std::string> block{line};
      while (block.size() < 10 && src.next(line)) block.push_back(line);
      if (block.size() < 10) break;  // the file ends inside the block
      more = src.next(line);
      const float psi = first.real(33, 7, 2);
      const int divisor = first.integer(40, 4);
      first.real(44, 6, 0);
      first.real(50, 7, 0);
      first.real(57, 6, 0);
      Columns second(block[1]);
      second.real(11, 8, 3);
      std::array<float, 96> counts{};
      if (!first.ok() || !second.ok() || !read_profile(block, counts)) {
        ++scan.skipped_records;
        continue;
      }
      if (!acc.in_range(psi)) continue;
      const std::optional<double> f = cad4_speed_factor(divisor, p.tubefac);
      if (!f) {
        ++scan.skipped_records;
        continue;
      }
      double sum = 0;
      for (float c : counts) sum += c / 60.0;
      acc.store_step(psi, static_cast<float>(*f * sum));
      acc.add_edges(*f * counts[0] / 60.0, *f * counts[95] / 60.0);
    } else {
      // Another reflection: a reference measurement when the record letter is "I";
      // its peak count less twice the two background counts.
      std::string theta_line;
      if (!src.next(theta_line)) break;
      more = src.next(line);
      if (first.text(27, 1) != "I") continue;
      const int divisor = first.integer(41, 3);
      const float cl = first.real(44, 6, 0), cp = first.real(50, 7, 0),
                  cr = first.real(57, 6, 0);
      Columns second(theta_line);
      const float theta = second.real(11, 8, 3);
      const std::optional<double> f = cad4_speed_factor(divisor, p.tubefac);
      if (!first.ok() || !second.ok() || !f) {
        ++scan.skipped_records;
        continue;
      }
      const double net = (double(cp) - 2.0 * (double(cl) + cr)) / 60.0 * *f;
      acc.add_reference(h, k, l, theta, static_cast<float>(net), {false, 1}, static_cast<float>(net));
    }
  }
  acc.finish(96, false);
}

namespace {

// One record of a HUBER-HASYLAB file: a header line with the reflection, its integrated
// intensity and the filter, a line with the point count, counting time, psi and point
// weight, a third line, and the detector, monitor and third counts of every point.
struct HuberRecord {
  int h = 0, k = 0, l = 0;
  float intensity = 0;
  int filter = 0;
  float ratio = 0, two_theta = 0;  // reference records: polarisation ratio and 2 theta
  int points = 0;
  float time = 0;  // s per point
  float psi = 0;   // degrees
  float weight = 0;
  std::vector<float> detector, monitor;
};

enum class RecordRead { ok, malformed, end_of_file };

// Reads the rest of a record whose header line is `first`. Primary records give psi to
// three decimals, reference records to two.
RecordRead read_huber_record(LineSource& src, const std::string& first, bool primary,
                             HuberRecord& r) {
  Columns l1(first);
  r.h = l1.integer(1, 4);
  r.k = l1.integer(5, 4);
  r.l = l1.integer(9, 4);
  r.intensity = l1.real(13, 9, 2);
  l1.real(22, 9, 2);
  r.filter = l1.integer(31, 3);
  r.ratio = l1.real(34, 8, 3);
  r.two_theta = l1.real(42, 8, 3);
  for (int c : {50, 58, 66}) l1.real(c, 8, 3);
  l1.integer(74, 7);
  std::string text;
  if (!src.next(text)) return RecordRead::end_of_file;
  Columns l2(text);
  r.points = l2.integer(21, 3);
  l2.real(24, 5, 1);
  r.time = l2.real(29, 6, 2);
  r.psi = l2.real(35, 7, primary ? 3 : 2);
  l2.real(42, 8, 3);
  r.weight = l2.real(50, 8, 3);
  for (int c : {58, 66}) l2.real(c, 8, 3);
  l2.integer(74, 7);
  if (!src.next(text)) return RecordRead::end_of_file;
  Columns l3(text);
  for (int c : {1, 9, 17}) l3.real(c, 8, 1);
  bool ok = l1.ok() && l2.ok() && l3.ok() && r.points >= 0;
  // Three arrays of N values, ten to a line, each starting on a line of its own.
  std::vector<float> third;
  for (std::vector<float>* values : {&r.detector, &r.monitor, &third}) {
    values->clear();
    for (int j = 0; ok && j < r.points; j += 10) {
      if (!src.next(text)) return RecordRead::end_of_file;
      Columns c(text);
      for (int m = 0; m < 10 && j + m < r.points; ++m) values->push_back(c.real(1 + 8 * m, 8, 0));
      ok = c.ok();
    }
  }
  return ok ? RecordRead::ok : RecordRead::malformed;
}

// Attenuation of the filter combination: bit 0 filter 1, bit 1 filter 2, bit 2 filter 3.
std::optional<double> filter_factor(int code, const CountingCorrections& c) {
  if (code < 0 || code > 7) return std::nullopt;
  double g = 1;
  if (code & 1) g *= c.ff1;
  if (code & 2) g *= c.ff2;
  if (code & 4) g *= c.ff3;
  return g;
}

// Detector rate of one point, dead-time corrected and scaled by G, over the dead-time
// corrected monitor rate.
double normalised_point(double counts, double monitor, double time, double G,
                        const CountingCorrections& c) {
  const double rate = counts / time;
  const double corrected = G * rate / (1 - rate * c.tau1);
  const double mrate = monitor / time;
  return corrected / (mrate / (1 - c.tau2 * mrate));
}

}  // namespace

ReferenceList read_reference_list(LineSource& input, CountingCorrections start) {
  ReferenceList list;
  list.corrections = start;
  list.corrections.bcm = 0;
  // One reflection a line; after 100 lines the next one is the counting line.
  std::string line;
  for (int n = 0; n < 100; ++n) {
    if (!input.next(line)) return list;  // the file ended: no counting line
    int h = 0, k = 0, l = 0;
    LineSource record(line);
    const FreeItem items[] = {&h, &k, &l};
    const int status = read_free(record, items);
    if (h == 999) break;
    if (status == 0) list.keys.push_back(reflection_key(h, k, l));
  }
  CountingCorrections& c = list.corrections;
  float weight = 0;  // every record reads its own point weight
  const FreeItem items[] = {&c.ff1, &c.ff2, &c.ff3, &c.tau1, &c.tau2, &c.tau3, &c.bcm, &weight};
  list.counting_line_read = read_free(input, items) == 0;
  return list;
}

void hasyl4(std::istream& file, const ReferenceList& refs, const ScanReaderContext& ctx,
            MeasuredScan& scan) {
  const RunParameters& p = ctx.par;
  ScanAccumulator acc(ctx, scan, ScanReader::hasyl4);
  scan.corrections = refs.corrections;
  CountingCorrections& cc = scan.corrections;
  const std::string primary_key = reflection_key(p.h, p.k, p.l);
  double g = 1;    // filter factor of the last primary record in range
  int points = 0;  // point count of the last primary record
  LineSource src(file);
  std::string line;
  HuberRecord r;
  while (src.next(line)) {
    Columns c(line);
    if (cc.bcm == 0 && c.text(9, 14) == "Filter factors") {
      // Filter factors, dead times (µs), one line passed over, the beam count multiplier.
      std::string l2, l3, l4;
      if (!src.next(l2) || !src.next(l3) || !src.next(l4)) break;
      Columns c2(l2), c4(l4);
      const float ff[3] = {c.real(25, 8, 3), c.real(33, 8, 3), c.real(41, 8, 3)};
      const float tau[3] = {c2.real(25, 8, 3), c2.real(33, 8, 3), c2.real(41, 8, 3)};
      const float bcm = c4.real(25, 8, 0);
      if (!c.ok() || !c2.ok() || !c4.ok()) {
        ++scan.skipped_records;
        continue;
      }
      cc.ff1 = ff[0];
      cc.ff2 = ff[1];
      cc.ff3 = ff[2];
      cc.tau1 = static_cast<float>(tau[0] * 1e-6);
      cc.tau2 = static_cast<float>(tau[1] * 1e-6);
      cc.tau3 = static_cast<float>(tau[2] * 1e-6);
      cc.bcm = bcm;
      continue;
    }
    const std::string_view key = c.text(1, 12);
    const bool primary = key == primary_key;
    if (!primary && std::find(refs.keys.begin(), refs.keys.end(), key) == refs.keys.end())
      continue;
    const RecordRead read = read_huber_record(src, line, primary, r);
    if (read == RecordRead::end_of_file) break;
    if (read == RecordRead::malformed) {
      ++scan.skipped_records;
      continue;
    }
    if (!primary) {
      const float theta = std::fabs(r.two_theta) / 2;
      acc.add_reference(r.h, r.k, r.l, theta, r.intensity, {true, r.ratio}, r.intensity);
      continue;
    }
    points = r.points;
    float psi = r.psi;
    if (psi < 0) psi += 360.0f;
    if (!acc.in_range(psi)) continue;
    if (std::optional<double> f = filter_factor(r.filter, cc)) g = *f;
    const double G = cc.bcm * g;
    if (r.points < 1) {
      ++scan.skipped_records;
      continue;
    }
    const double left = normalised_point(r.detector.front(), r.monitor.front(), r.time, G, cc);
    const double right = normalised_point(r.detector.back(), r.monitor.back(), r.time, G, cc);
    if (!std::isfinite(left) || !std::isfinite(right)) {
      // No counting time or no monitor counts: the record cannot be normalised.
      ++scan.skipped_records;
      continue;
    }
    acc.add_edges(left * r.weight, right * r.weight);
    acc.store_step(psi, r.intensity);
  }
  acc.finish(points, true);
}

void read_scan_file(std::istream& file, std::string_view extension, LineSource& input,
                    CountingCorrections start, const ScanReaderContext& ctx,
                    MeasuredScan& scan) {
  scan.extension = std::string(extension);
  scan.corrections = start;
  if (extension == "obs") {
    scan.format = ScanFormat::obs;
    read_obs_list(file, ctx, scan);
  } else if (ctx.par.isyn == 0) {
    scan.format = ScanFormat::cad4;
    cad4(file, ctx, scan);
  } else {
    scan.format = ScanFormat::huber;
    const ReferenceList refs = read_reference_list(input, start);
    hasyl4(file, refs, ctx, scan);
  }
}

}  // namespace kaven
