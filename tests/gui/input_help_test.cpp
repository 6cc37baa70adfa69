// The input description against the input reader: every value list it names is
// written in the description's order with distinct values and read back through the
// reader, every column range and psi limit it states is tried at and beyond its edge,
// and its example input files are read (example b with explicit operators giving the
// same crystal as example a from the table).
#include "gui/input_help.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <regex>
#include <sstream>

#include "input/input_reader.hpp"
#include "shell/run_driver.hpp"
#include "report/record_format.hpp"
#include "run_fixture.hpp"

using namespace kaven_test;
using kaven::RunParameters;

namespace {

Lines description() {
  Lines l;
  for (std::string_view s : kaven::gui::input_description()) l.emplace_back(s);
  return l;
}

// The names of the value list under the first line starting with `anchor`: the
// following lines indented by five blanks, without a trailing "(...)" note.
std::vector<std::string> names_under(const std::string& anchor) {
  const Lines d = description();
  std::size_t i = find_prefix(d, anchor);
  EXPECT_LT(i, d.size()) << anchor;
  std::vector<std::string> names;
  for (++i; i < d.size() && d[i].rfind("     ", 0) == 0 && d[i].size() > 5 && d[i][5] != ' '; ++i) {
    std::string line = d[i];
    if (std::size_t note = line.find('('); note != std::string::npos) line.resize(note);
    std::istringstream is(line);
    for (std::string w; is >> w;) names.push_back(w);
  }
  return names;
}

struct Read {
  RunParameters par;
  bool stopped = false;
  int ierr = 0;
  Lines stop;
};

// Lines 1 to 12 through the reader, as a run reads them.
Read read_input(const Lines& lines) {
  Read r;
  std::istringstream in(join_lines(lines));
  std::ostringstream out;
  kaven::RunContext run(r.par, out);
  kaven::LineSource src(in);
  try {
    kaven::read_title(r.par, src);
    kaven::read_plot_name(r.par, src);
    kaven::read_crystal(run, src);
    kaven::read_primary_and_optional(r.par, src);
  } catch (const kaven::RunStopped& stop) {
    r.stopped = true;
    r.stop = stop.records;
  }
  r.ierr = run.ierr;
  return r;
}

// A value written in the input and where the reader keeps it.
struct Value {
  std::string text;
  std::function<double(const RunParameters&)> stored;
  double expected;
};

// One value list of the description: the line it replaces in the YIG example (or the
// lines it inserts) and a distinct value for every name.
struct ValueList {
  std::string anchor;
  std::size_t yig_line;
  std::map<std::string, Value> values;
  std::map<std::size_t, std::string> also = {};  // other lines the case needs changed
};

double deg(double v) { return v * double(0.0174533f); }

const kaven::Atom& atom0(const RunParameters& p) { return p.atoms.at(0); }

}  // namespace

TEST(InputHelp, EveryValueListIsReadInTheOrderItNames) {
  const std::vector<ValueList> lists = {
      {"3. Lattice constants", 2,
       {{"a", {"7.1", [](auto& p) { return p.a; }, 7.1}},
        {"b", {"8.2", [](auto& p) { return p.b; }, 8.2}},
        {"c", {"9.3", [](auto& p) { return p.c; }, 9.3}},
        {"alpha", {"91.5", [](auto& p) { return p.alpha; }, 91.5}},
        {"beta", {"92.5", [](auto& p) { return p.beta; }, 92.5}},
        {"gamma", {"93.5", [](auto& p) { return p.gamma; }, 93.5}}}},
      {"   digit 1 or 2 in column 1", 3,
       {{"isyn", {"1", [](auto& p) { return p.isyn; }, 1}},
        {"alam1", {"0.6", [](auto& p) { return p.alam1; }, 0.6}},
        {"amono", {"5.43", [](auto& p) { return p.amono; }, 5.43}},
        {"hmono", {"1", [](auto& p) { return p.hmono; }, 1}},
        {"kmono", {"3", [](auto& p) { return p.kmono; }, 3}},
        {"lmono", {"5", [](auto& p) { return p.lmono; }, 5}},
        {"fmono", {"58.19", [](auto& p) { return p.fmono; }, 58.19}}},
       {{5, "1.  16. 50  0  1. 0."}}},  // psi within 0..360
      {"   Any other two wavelengths", 3,
       {{"alam1", {"1.2", [](auto& p) { return p.alam1; }, 1.2}},
        {"dlam1", {"0.0003", [](auto& p) { return p.dlam1; }, 0.0003}},
        {"flam1", {"1.0", [](auto& p) { return p.flam1; }, 1.0}},
        {"alam2", {"1.3", [](auto& p) { return p.alam2; }, 1.3}},
        {"dlam2", {"0.0004", [](auto& p) { return p.dlam2; }, 0.0004}},
        {"flam2", {"0.5", [](auto& p) { return p.flam2; }, 0.5}}}},
      {"5. Beam and crystal", 4,
       {{"diverp", {"0.11", [](auto& p) { return p.diverp; }, 0.11}},
        {"divers", {"0.12", [](auto& p) { return p.divers; }, 0.12}},
        // micrometre in the file, centimetre in the run
        {"rkugel", {"130.", [](auto& p) { return p.rkugel; }, 130e-4}},
        {"radius", {"140.", [](auto& p) { return p.radius; }, 140}},
        {"eta", {"0.015", [](auto& p) { return p.eta; }, 0.015}}}},
      {"6. Psi range", 5,
       {{"psia", {"-60.", [](auto& p) { return p.psia; }, -60}},
        {"psie", {"10.", [](auto& p) { return p.psie; }, 10}},
        {"zsw1", {"20.", [](auto& p) { return p.zsw1; }, 20}},
        {"nnn", {"3", [](auto& p) { return p.nnn; }, 3}},
        {"drumin", {"2.5", [](auto& p) { return p.drumin; }, 2.5}},
        {"zeimax", {"7.", [](auto& p) { return p.zeimax; }, 7}}}},
      {"7. Space group", 6,
       {{"nr", {"230", [](auto& p) { return p.nr; }, 230}},
        // the centring expansion has since multiplied the atoms by the lattice points
        {"na", {"4", [](auto& p) { return p.na / p.ncent; }, 4}},
        {"nf", {"3", [](auto& p) { return p.nf; }, 3}}}},
      {"9. Atoms", 10,
       {{"fnr", {"2", [](auto& p) { return atom0(p).fnr; }, 2}},
        {"afact", {"0.5", [](auto& p) { return atom0(p).afact; }, 0.5}},
        {"x", {"0.11", [](auto& p) { return atom0(p).x; }, 0.11}},
        {"y", {"0.22", [](auto& p) { return atom0(p).y; }, 0.22}},
        {"z", {"0.33", [](auto& p) { return atom0(p).z; }, 0.33}},
        {"b11", {"0.001", [](auto& p) { return atom0(p).bt[0]; }, 0.001}},
        {"b22", {"0.002", [](auto& p) { return atom0(p).bt[1]; }, 0.002}},
        {"b33", {"0.003", [](auto& p) { return atom0(p).bt[2]; }, 0.003}},
        {"b12", {"0.0004", [](auto& p) { return atom0(p).bt[3]; }, 0.0004}},
        {"b13", {"0.0005", [](auto& p) { return atom0(p).bt[4]; }, 0.0005}},
        {"b23", {"0.0006", [](auto& p) { return atom0(p).bt[5]; }, 0.0006}}}},
      {"10. Primary reflection", 18,
       {{"h", {"1", [](auto& p) { return p.h; }, 1}},
        {"k", {"2", [](auto& p) { return p.k; }, 2}},
        {"l", {"3", [](auto& p) { return p.l; }, 3}},
        {"f", {"0.5", [](auto& p) { return p.f; }, 0.5}},
        {"phi", {"30.", [](auto& p) { return p.phi; }, deg(30)}},  // kept in radians
        {"psi1", {"-30.", [](auto& p) { return p.psi1; }, -30}},
        {"psi2", {"-29.", [](auto& p) { return p.psi2; }, -29}}}},
  };
  for (const ValueList& list : lists) {
    SCOPED_TRACE(list.anchor);
    const std::vector<std::string> names = names_under(list.anchor);
    ASSERT_EQ(names.size(), list.values.size());
    std::string line;
    for (const std::string& n : names) {
      ASSERT_TRUE(list.values.count(n)) << "the description names " << n;
      line += list.values.at(n).text + "  ";
    }
    Lines input = yig_lines();
    input.at(list.yig_line) = line;
    for (const auto& [i, text] : list.also) input.at(i) = text;
    // The atom list is one group of eleven values: the second YIG line of the group
    // goes, the whole group is on one line here.
    if (list.yig_line == 10) input.erase(input.begin() + 11);
    const Read r = read_input(input);
    ASSERT_FALSE(r.stopped) << join_lines(r.stop);
    for (const auto& [name, v] : list.values)
      EXPECT_NEAR(v.stored(r.par), v.expected, 1e-6 * std::max(1.0, std::fabs(v.expected))) << name;
  }
}

TEST(InputHelp, ExplicitOperatorsAreReadAsDescribed) {
  EXPECT_EQ(names_under("7a. Symmetry"), (std::vector<std::string>{"ic", "ns"}));
  const std::vector<std::string> op = names_under("7b. Symmetry operators");
  // One operator of distinct values: tx ty tz the translation, s the matrix rows.
  const std::map<std::string, std::string> value = {
      {"tx", "0.1"}, {"sxx", "1"}, {"sxy", "2"}, {"sxz", "3"}, {"ty", "0.2"}, {"syx", "4"},
      {"syy", "5"}, {"syz", "6"}, {"tz", "0.3"}, {"szx", "7"}, {"szy", "8"}, {"szz", "9"}};
  ASSERT_EQ(op.size(), value.size());
  std::string line;
  for (const std::string& n : op) line += value.at(n) + " ";
  Lines input = yig_lines();
  input[6] = "231  4  3";
  input.insert(input.begin() + 7, {"2 1", line});
  const Read r = read_input(input);
  ASSERT_FALSE(r.stopped) << join_lines(r.stop);
  ASSERT_EQ(r.par.ops.size(), 1u);
  EXPECT_EQ(r.par.ic, 2);
  const kaven::SymmetryOperator& s = r.par.ops[0];
  EXPECT_EQ(std::vector<float>(s.t, s.t + 3), (std::vector<float>{0.1f, 0.2f, 0.3f}));
  EXPECT_EQ(std::vector<float>(&s.s[0][0], &s.s[0][0] + 9),
            (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  // At most 24 operators, as the description says.
  input[7] = "1 25";
  EXPECT_EQ(read_input(input).stop,
            (Lines{" The number of symmetry lines is to large", " ( ns <= 24)"}));
}

TEST(InputHelp, ColumnsAndFormatsAreThoseOfTheReader) {
  const Lines d = description();
  // Items read in fixed columns: the text is cut after the last column stated.
  struct Fixed {
    std::string anchor;
    std::size_t yig_line;
    std::function<std::string(const RunParameters&)> stored;
  };
  // A file name is not cut to another file's name: a longer one is refused.
  const Fixed fixed[] = {
      {"1. Text", 0, [](const RunParameters& p) { return p.title; }},
      {"2. Plot file", 1, nullptr},
      {"12. Measured scan", 22, nullptr},
  };
  const std::regex columns(R"(columns 1-(\d+)\))");
  for (const Fixed& f : fixed) {
    SCOPED_TRACE(f.anchor);
    std::size_t i = find_prefix(d, f.anchor);
    ASSERT_LT(i, d.size());
    std::smatch m;
    ASSERT_TRUE(std::regex_search(d[i], m, columns));
    const std::size_t width = std::stoul(m[1]);
    std::string line;
    for (std::size_t c = 0; c < width + 8; ++c) line += char('a' + c % 26);
    Lines input = yig_lines();
    input.resize(22);  // through the orientation matrix, then the scan-file line
    input.push_back("yig.dat");
    input.at(f.yig_line) = line;
    const Read r = read_input(input);
    if (!f.stored) {
      EXPECT_TRUE(r.stopped);
      EXPECT_TRUE(r.stop.back().ends_with(" is longer than " + std::to_string(width) +
                                          " characters )"))
          << join_lines(r.stop);
      continue;
    }
    ASSERT_FALSE(r.stopped) << join_lines(r.stop);
    EXPECT_EQ(f.stored(r.par), line.substr(0, width));
  }

  // Chemical symbols: "(Format: a4,2f10.4)", columns 1-4, 5-14, 15-24; four implied
  // decimals without a decimal point; the table's values with Cu, Mo or Ag.
  const std::size_t symbols = find_prefix(d, "8. Chemical symbols, nf lines");
  ASSERT_LT(symbols, d.size());
  EXPECT_TRUE(d[symbols].ends_with("(Format: a4,2f10.4)"));
  EXPECT_EQ(names_under("8. Chemical symbols"), (std::vector<std::string>{"atn", "fp", "fpp"}));
  Lines si = si_lines();
  si[7] = "Siva" + kaven::rec::F(10, 4, 0.0522) + "       431";
  Read r = read_input(si);
  ASSERT_FALSE(r.stopped) << join_lines(r.stop);
  EXPECT_EQ(r.par.types.at(0).atn, "Siva");
  EXPECT_FLOAT_EQ(r.par.types[0].fp, 0.0522f);
  EXPECT_FLOAT_EQ(r.par.types[0].fpp, 0.0431f);
  Lines yig = yig_lines();
  yig[7] = "Y3+     9.9999    9.9999";  // replaced by the silver values of the table
  r = read_input(yig);
  ASSERT_FALSE(r.stopped) << join_lines(r.stop);
  EXPECT_LT(std::fabs(r.par.types.at(0).fp), 5.0f);
  EXPECT_NE(r.par.types[0].fpp, 9.9999f);
}

TEST(InputHelp, PsiLimitsAreThoseTheReaderChecks) {
  const Lines d = description();
  // The two ranges as the description states them, with the geometry they belong to.
  struct Range {
    std::string text;
    Lines input;
    std::string message;
  };
  const Range ranges[] = {
      {"-180 < psia < psie < 180 for CAD4", yig_lines(), " Psi-range is out of -180. to 180."},
      {"0 < psia < psie < 360 for HUBER (HASYLAB)", si_lines(), " Psi-range is out of 0. to 360."},
  };
  const std::regex limits(R"((-?\d+) < psia < psie < (\d+))");
  for (const Range& range : ranges) {
    SCOPED_TRACE(range.text);
    auto it = std::find_if(d.begin(), d.end(), [&](const std::string& l) {
      return l.find(range.text) != std::string::npos;
    });
    ASSERT_NE(it, d.end());
    std::smatch m;
    ASSERT_TRUE(std::regex_search(*it, m, limits));
    const double lo = std::stod(m[1]), hi = std::stod(m[2]);
    struct Try {
      double psia, psie;
      bool accepted;
    };
    // The limits themselves are accepted (as the description says), half a degree
    // beyond is not.
    const Try tries[] = {{lo, hi, true}, {lo - 0.5, hi, false}, {lo, hi + 0.5, false}};
    for (const Try& t : tries) {
      Lines input = range.input;
      std::ostringstream line;
      line << t.psia << " " << t.psie << " 50. 0 1. 0.";
      input[5] = line.str();
      const Read r = read_input(input);
      EXPECT_EQ(!r.stopped, t.accepted) << line.str();
      if (!t.accepted) {
        EXPECT_EQ(r.stop, (Lines{"", range.message}));
      }
    }
  }
}

namespace {

// The lines of an example input in the description: from the blank line after its
// heading to the next blank line.
Lines example(const std::string& heading) {
  const Lines d = description();
  std::size_t i = find_prefix(d, heading);
  EXPECT_LT(i, d.size()) << heading;
  while (i < d.size() && !d[i].empty()) ++i;
  Lines out;
  for (++i; i < d.size() && !d[i].empty() && d[i][0] != '_'; ++i) out.push_back(d[i]);
  return out;
}

}  // namespace

TEST(InputHelp, TheExampleInputsAreReadAndBGivesTheCrystalOfA) {
  const Lines a = example("a) Example for X-ray-tube, nr <= 230:");
  const Lines b = example("b) The same result is obtained, giving the symmetry information");
  const Lines c = example("c) Example for synchrotron radiation");
  // a) is the YIG example of the repository.
  EXPECT_EQ(a, read_lines(source_path("examples/yig/yig.inp")));

  const Read ra = read_input(a), rb = read_input(b), rc = read_input(c);
  ASSERT_FALSE(ra.stopped || rb.stopped || rc.stopped)
      << join_lines(ra.stop) << join_lines(rb.stop) << join_lines(rc.stop);

  // b) The explicit operators are those of the table, the atoms those of the centred
  // cell, so every atom type counts the same number of atoms in the cell.
  EXPECT_EQ(rb.par.nr, 231);
  EXPECT_EQ(rb.par.ic, ra.par.ic);
  ASSERT_EQ(rb.par.ops.size(), ra.par.ops.size());
  for (std::size_t i = 0; i < ra.par.ops.size(); ++i) {
    const kaven::SymmetryOperator &x = ra.par.ops[i], &y = rb.par.ops[i];
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(x.t[j], y.t[j]) << "operator " << i + 1;
      for (int k = 0; k < 3; ++k) EXPECT_EQ(x.s[j][k], y.s[j][k]) << "operator " << i + 1;
    }
  }
  ASSERT_EQ(rb.par.atoms.size(), ra.par.atoms.size());
  for (std::size_t i = 0; i < ra.par.atoms.size(); ++i) {
    const kaven::Atom &x = ra.par.atoms[i], &y = rb.par.atoms[i];
    EXPECT_EQ(x.fnr, y.fnr);
    EXPECT_EQ(x.afact, y.afact);
    EXPECT_NEAR(x.x, y.x, 1e-6);
    EXPECT_NEAR(x.y, y.y, 1e-6);
    EXPECT_NEAR(x.z, y.z, 1e-6);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(x.bt[k], y.bt[k]);
  }
  for (std::size_t f = 0; f < ra.par.types.size(); ++f)
    EXPECT_NEAR(rb.par.types.at(f).ncell, ra.par.types[f].ncell, 1e-3) << ra.par.types[f].atn;

  // c) synchrotron radiation, orientation matrix and a HUBER (HASYLAB) scan file.
  EXPECT_EQ(rc.par.isyn, 1);
  EXPECT_TRUE(rc.par.ub_read);
  EXPECT_TRUE(rc.par.scan_present);
  EXPECT_EQ(kaven::rec::rtrim(rc.par.dname2), "si222.dat");
  EXPECT_EQ(c.back().substr(0, 5), "2.029");  // 13b after the list ended by 999 0 0
  EXPECT_EQ(*(c.end() - 2), "999 0 0");
}

TEST(InputHelp, TheDescriptionHasItsSectionsInOrderAndFitsATerminal) {
  const Lines d = description();
  const std::vector<std::string> parts = {
      "                              INPUT DESCRIPTION",
      "1. Text", "2. Plot file", "3. Lattice constants", "4. Radiation", "5. Beam and crystal",
      "6. Psi range", "7. Space group", "7a. Symmetry", "7b. Symmetry operators",
      "8. Chemical symbols", "9. Atoms", "10. Primary reflection", "11. Orientation matrix",
      "12. Measured scan", "13a. Reference reflections", "13b. Filter factors",
      "Example si.obs: measured scan with reference reflections, synchrotron",
      "Example zn.obs: measured scan with reference reflections, CuK-alpha 1,2",
      "Additional output file:",
      "The calculated scan-intensities are given in the file \"name\".cal",
      "References:", "Examples for input files", "a) Example for X-ray-tube, nr <= 230:",
      "b) The same result is obtained, giving the symmetry information",
      "c) Example for synchrotron radiation"};
  std::size_t at = 0;
  for (const std::string& p : parts) {
    std::size_t i = find_prefix(d, p, at);
    EXPECT_LT(i, d.size()) << "missing or out of order: " << p;
    at = std::min(i, d.size() - 1);
  }
  for (const std::string& phrase : {std::string("zsw1 < 0: no Renninger-scan calculation"),
                                    std::string("unique axis b, cell"),
                                    std::string("R groups on rhombohedral axes")})
    EXPECT_TRUE(std::any_of(d.begin(), d.end(), [&](const std::string& l) {
      return l.find(phrase) != std::string::npos;
    })) << phrase;
  for (const std::string& l : d) EXPECT_LE(l.size(), 78u) << l;
  EXPECT_EQ(std::count(d.begin(), d.end(), std::string(78, '_')), 7);

  // in_help writes exactly these lines and replaces what the file held.
  ScratchDir dir;
  const fs::path file = dir.path() / "input_help";
  write_lines(file, Lines(500, "old"));
  EXPECT_EQ(kaven::gui::in_help(file), "");
  EXPECT_EQ(read_lines(file), d);
  EXPECT_EQ(kaven::gui::in_help(dir.path() / "no-such-folder" / "input_help"),
            "No such file or directory");
}
