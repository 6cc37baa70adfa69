#include "input/input_edit.hpp"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "core/fixed_text.hpp"
#include "core/number_text.hpp"
#include "input/free_format.hpp"

namespace kaven {

namespace {

// The physical lines (0-based, inclusive) a read took.
struct Span {
  int first = -1, last = -1;
  bool found() const { return first >= 0; }
};

std::string join(const std::vector<std::string>& values) {
  std::string s;
  for (const std::string& v : values) s += (s.empty() ? "" : "  ") + v;
  return s;
}

std::string f10_4(float v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%10.4f", double(v));
  return buf;
}

// The lines of the file and the groups of the reads a run makes.
class Layout {
 public:
  explicit Layout(std::string_view text) {
    std::string line;
    std::istringstream is{std::string(text)};
    while (std::getline(is, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
  }

  // Reads the groups of lines 1 to 12 as the run does; false when the file does not
  // read (the run itself would have stopped: nothing to edit).
  bool locate(std::string& error) {
    std::string joined;
    for (const std::string& l : lines) joined += l + '\n';
    std::istringstream is(joined);
    LineSource src(is);
    auto free = [&](std::initializer_list<FreeItem> items, Span& span, const char* which) {
      span.first = src.line_number();
      const int st = read_free(src, std::vector<FreeItem>(items));
      span.last = src.line_number() - 1;
      if (st != 0) error = std::string("the ") + which + " does not read";
      return st == 0;
    };
    auto fixed = [&](std::size_t width, std::string& out, Span& span) {
      span.first = src.line_number();
      const int st = read_text(src, width, out);
      span.last = src.line_number() - 1;
      return st == 0;
    };
    std::string text;
    Span s;
    if (!fixed(80, text, title) || !fixed(72, text, plot)) return (error = "the file ends before line 3"), false;
    if (!free({&a, &b, &c, &alpha, &beta, &gamma}, cell, "third line")) return false;
    if (!fixed(72, line4, radiation)) return (error = "the file ends before line 4"), false;
    const std::string ind = line4.substr(0, 2);
    synchrotron = ind == "1 " || ind == "2 ";
    if (synchrotron) {
      LineSource again(line4);
      const FreeItem items[] = {&isyn, &alam1, &amono, &hmono, &kmono, &lmono, &fmono};
      if (read_free(again, items) != 0) return (error = "the fourth line does not read"), false;
    }
    if (!free({&diverp, &divers, &rkugel, &radius, &eta}, beam, "fifth line")) return false;
    if (!free({&psia, &psie, &zsw1, &nnn, &drumin, &zeimax}, scan, "sixth line")) return false;
    int nr = 0, na = 0, nf = 0;
    if (!free({&nr, &na, &nf}, s, "seventh line")) return false;
    if (nr > 230) {
      FreeRead list(src);
      int ic = 0, ns = 0;
      const FreeItem head[] = {&ic, &ns};
      if (list.read(head) != 0 || ns < 1 || ns > 24) return (error = "the symmetry lines do not read"), false;
      std::vector<float> v(static_cast<std::size_t>(12 * ns));
      std::vector<FreeItem> items;
      for (float& x : v) items.push_back(&x);
      if (list.read(items) != 0) return (error = "the symmetry lines do not read"), false;
    }
    for (int f = 0; f < nf; ++f) {
      Span e;
      if (!fixed(24, text, e)) return (error = "the file ends in the element lines"), false;
      elements.push_back(e);
    }
    for (int i = 0; i < na; ++i) {
      float v[11];
      if (!free({&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10]}, s,
                "atom lines"))
        return false;
    }
    int h = 0, k = 0, l = 0;
    float f = 0, phi = 0, p1 = 0, p2 = 0;
    if (!free({&h, &k, &l, &f, &phi, &p1, &p2}, s, "primary reflection line")) return false;
    {
      ub_span.first = src.line_number();
      const FreeItem items[] = {&ub[0], &ub[1], &ub[2], &ub[3], &ub[4], &ub[5], &ub[6], &ub[7], &ub[8]};
      const int st = read_free(src, items);
      ub_span.last = src.line_number() - 1;
      if (st != 0) {
        ub_span = {};
        return true;  // no orientation matrix, no scan file
      }
    }
    std::string name;
    if (!fixed(72, name, scan_file)) scan_file = {};
    return true;
  }

  // A group spelt so that values are left to earlier runs or repeated.
  std::string unsafe(const Span& span, const char* which) const {
    for (int i = span.first; i <= span.last; ++i) {
      const std::string& l = lines[static_cast<std::size_t>(i)];
      if (l.find('/') != std::string::npos || l.find('*') != std::string::npos ||
          l.find(",,") != std::string::npos)
        return std::string("the ") + which + " holds a slash, a repeat count or an empty value";
    }
    return {};
  }

  std::vector<std::string> lines;
  Span title, plot, cell, radiation, beam, scan, ub_span, scan_file;
  std::vector<Span> elements;
  std::string line4;
  bool synchrotron = false;
  float a = 0, b = 0, c = 0, alpha = 0, beta = 0, gamma = 0;
  int isyn = 0, hmono = 0, kmono = 0, lmono = 0;
  float alam1 = 0, amono = 0, fmono = 0;
  float diverp = 0, divers = 0, rkugel = 0, radius = 0, eta = 0;
  float psia = 0, psie = 0, zsw1 = 0, drumin = 0, zeimax = 0;
  int nnn = 0;
  float ub[9] = {};
};

}  // namespace

InputEditResult edit_input(std::string_view text, const InputEdits& e) {
  InputEditResult r;
  Layout in(text);
  if (!in.locate(r.error)) return r;
  // Replacements, each of a span of lines by one line.
  std::vector<std::pair<Span, std::string>> repl;
  auto fail = [&](std::string why) {
    r.error = std::move(why);
    r.text.clear();
    return r;
  };
  if (e.plot_file) {
    if (e.plot_file->size() > 72) return fail("the plot-file name " + *e.plot_file + " is longer than 72 characters");
    repl.push_back({in.plot, *e.plot_file});
  }
  if (e.edges) {
    if (std::string u = in.unsafe(in.cell, "third line"); !u.empty()) return fail(u);
    const std::array<float, 3>& x = *e.edges;
    repl.push_back({in.cell, join({shortest(x[0]), shortest(x[1]), shortest(x[2]), shortest(in.alpha),
                                   shortest(in.beta), shortest(in.gamma)})});
  }
  if (e.wavelength) {
    if (!in.synchrotron) return fail("the fourth line names no synchrotron wavelength");
    if (std::string u = in.unsafe(in.radiation, "fourth line"); !u.empty()) return fail(u);
    // The mode digit and a blank select the synchrotron form.
    repl.push_back({in.radiation, std::to_string(in.isyn) + " " +
                                      join({shortest(*e.wavelength), shortest(in.amono),
                                            std::to_string(in.hmono), std::to_string(in.kmono),
                                            std::to_string(in.lmono), shortest(in.fmono)})});
  }
  if (e.diverp || e.divers || e.radius_um || e.eta) {
    if (std::string u = in.unsafe(in.beam, "fifth line"); !u.empty()) return fail(u);
    repl.push_back({in.beam, join({shortest(e.diverp.value_or(in.diverp)), shortest(e.divers.value_or(in.divers)),
                                   shortest(in.rkugel), shortest(e.radius_um.value_or(in.radius)),
                                   shortest(e.eta.value_or(in.eta))})});
  }
  if (e.nnn && *e.nnn != in.nnn) {
    if (std::string u = in.unsafe(in.scan, "sixth line"); !u.empty()) return fail(u);
    repl.push_back({in.scan, join({shortest(in.psia), shortest(in.psie), shortest(in.zsw1),
                                   std::to_string(*e.nnn), shortest(in.drumin), shortest(in.zeimax)})});
  }
  for (std::size_t f = 0; f < e.dispersion.size() && f < in.elements.size(); ++f) {
    if (!e.dispersion[f]) continue;
    const Span& sp = in.elements[f];
    const std::string& old = in.lines[static_cast<std::size_t>(sp.first)];
    // Columns 1-4 the symbol, 5-14 f', 15-24 f''; what follows column 24 stays.
    std::string l = rec::pad(old, 4) + f10_4(e.dispersion[f]->first) + f10_4(e.dispersion[f]->second);
    if (old.size() > 24) l += old.substr(24);
    repl.push_back({sp, l});
  }
  if (e.ub) {
    if (!in.ub_span.found()) return fail("the input has no orientation matrix (line 11)");
    if (std::string u = in.unsafe(in.ub_span, "orientation matrix"); !u.empty()) return fail(u);
    const std::array<float, 9>& u = *e.ub;
    std::string rows;
    for (int i = 0; i < 3; ++i)
      rows += (i ? "\n" : "") + join({shortest(u[3 * i]), shortest(u[3 * i + 1]), shortest(u[3 * i + 2])});
    repl.push_back({in.ub_span, rows});
  }
  if (e.scan_file) {
    if (!in.scan_file.found()) return fail("the input names no measured scan (line 12)");
    if (e.scan_file->size() > 72)
      return fail("the measured-scan file name " + *e.scan_file + " is longer than 72 characters");
    repl.push_back({in.scan_file, *e.scan_file});
  }

  std::vector<std::string> out;
  for (int i = 0; i < static_cast<int>(in.lines.size());) {
    const auto it = std::find_if(repl.begin(), repl.end(), [&](const auto& p) { return p.first.first == i; });
    if (it != repl.end()) {
      out.push_back(it->second);
      i = it->first.last + 1;
    } else {
      out.push_back(in.lines[static_cast<std::size_t>(i)]);
      ++i;
    }
  }
  for (const std::string& l : out) r.text += l + '\n';
  return r;
}

}  // namespace kaven
