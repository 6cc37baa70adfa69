#include "input/input_writer.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/fixed_text.hpp"
#include "core/number_text.hpp"

namespace kaven {

namespace {

std::string join(std::initializer_list<std::string> values) {
  std::string s;
  for (const std::string& v : values) {
    if (!s.empty()) s += "  ";
    s += v;
  }
  return s;
}

std::string integer(int v) { return std::to_string(v); }

// FNV-1a (32 bits) of the title's columns and the lines after the first, as eight
// hexadecimal digits: any edit of the file changes it.
std::string text_check(std::string_view title80, std::string_view rest) {
  std::uint32_t h = 2166136261u;
  auto add = [&h](std::string_view s) {
    for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  };
  add(title80);
  add("\n");
  add(rest);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", h);
  return buf;
}

// A 10-column field with four decimals and the point written (the element lines).
std::string f10_4(float v) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%10.4f", double(v));
  return buf;
}

}  // namespace

std::string input_file_text(const InputDeck& d) {
  std::string out;
  auto line = [&out](const std::string& s) { out += s + '\n'; };
  const std::string title = rec::pad(d.title, 80);
  line(std::string(rec::rtrim(rec::pad(d.plot_file, 72))));
  line(join({shortest(d.cell[0]), shortest(d.cell[1]), shortest(d.cell[2]), shortest(d.cell[3]),
             shortest(d.cell[4]), shortest(d.cell[5])}));
  if (!d.tube.empty())
    line(d.tube);
  else  // the mode digit followed by a blank selects the synchrotron form
    line(integer(d.isyn) + " " +
         join({shortest(d.wavelength), shortest(d.amono), integer(d.hkl_mono[0]),
               integer(d.hkl_mono[1]), integer(d.hkl_mono[2]), shortest(d.fmono)}));
  line(join({shortest(d.diverp), shortest(d.divers), shortest(d.rkugel_um), shortest(d.radius_um),
             shortest(d.eta)}));
  line(join({shortest(d.psia), shortest(d.psie), shortest(d.zsw1), integer(d.nnn),
             shortest(d.drumin), shortest(d.zeimax)}));
  line(join({integer(d.nr), integer(static_cast<int>(d.atoms.size())),
             integer(static_cast<int>(d.elements.size()))}));
  if (d.nr > 230) {
    line(join({integer(d.ic), integer(static_cast<int>(d.ops.size()))}));
    // Per operator one line: tx sxx sxy sxz  ty syx syy syz  tz szx szy szz.
    for (const SymmetryOperator& op : d.ops) {
      std::string s;
      for (int j = 0; j < 3; ++j) {
        if (j > 0) s += "   ";
        s += join({shortest(op.t[j]), shortest(op.s[j][0]), shortest(op.s[j][1]),
                   shortest(op.s[j][2])});
      }
      line(s);
    }
  }
  for (const InputDeck::Element& e : d.elements) {
    std::string s = rec::pad(e.atn, 4);
    if (e.dispersion) s += f10_4(e.fp) + f10_4(e.fpp);
    line(std::string(rec::rtrim(s)));
  }
  for (const Atom& a : d.atoms) {
    line(join({shortest(a.fnr), shortest(a.afact), shortest(a.x), shortest(a.y), shortest(a.z)}));
    line(join({shortest(a.bt[0]), shortest(a.bt[1]), shortest(a.bt[2]), shortest(a.bt[3]),
               shortest(a.bt[4]), shortest(a.bt[5])}));
  }
  line(join({integer(d.hkl[0]), integer(d.hkl[1]), integer(d.hkl[2]), shortest(d.f),
             shortest(d.phi_deg), shortest(d.psi1), shortest(d.psi2)}));
  if (d.ub) {
    const std::array<float, 9>& u = *d.ub;
    for (int r = 0; r < 3; ++r)
      line(join({shortest(u[3 * r]), shortest(u[3 * r + 1]), shortest(u[3 * r + 2])}));
    if (!d.scan_file.empty()) line(std::string(rec::rtrim(rec::pad(d.scan_file, 72))));
  }
  return title + std::string(kWrittenByKaven) + text_check(title, out) + '\n' + out;
}

std::string marked_as_written_by_kaven(std::string_view text) {
  const std::size_t end = std::min(text.find('\n'), text.size());
  const std::string title = rec::pad(text.substr(0, end), 80);
  const std::string_view rest = end < text.size() ? text.substr(end + 1) : std::string_view();
  return title + std::string(kWrittenByKaven) + text_check(title, rest) + '\n' + std::string(rest);
}

bool starts_as_kaven_input(std::istream& is) {
  const std::size_t head = 80 + kWrittenByKaven.size(), width = head + 8;
  std::string first;  // (a file of binary data may hold no line end at all)
  for (char c; first.size() <= width && is.get(c) && c != '\n';) first += c;
  if (first.size() != width || first.substr(80, kWrittenByKaven.size()) != kWrittenByKaven) return false;
  // An input file holds two lines per atom: 64 MB are far beyond any.
  std::string rest;
  char buf[65536];
  while (is.read(buf, sizeof buf) || is.gcount() > 0) {
    rest.append(buf, static_cast<std::size_t>(is.gcount()));
    if (rest.size() > (std::size_t(64) << 20)) return false;
  }
  return text_check(std::string_view(first).substr(0, 80), rest) == first.substr(head);
}

}  // namespace kaven
