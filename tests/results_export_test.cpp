// The files for scripts. Python's csv and json modules load them (a script run by
// Debian's python3 checks the header names, the row counts and the summary); every row
// of the events CSV, formatted as the listing formats an event, gives back the listing's
// own record; and the listing and the calculated scan do not change when the exports
// are asked for.
#include "report/results_export.hpp"
#include "shell/run_command.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>

#include <sys/wait.h>

#include "core/number_text.hpp"
#include "report/event_listing.hpp"
#include "report/json_writer.hpp"
#include "report/record_format.hpp"
#include "tests/run_fixture.hpp"

using namespace kaven_test;

namespace {

std::vector<std::string> split(const std::string& line, char sep = ',') {
  std::vector<std::string> out;
  std::string cur;
  std::istringstream is(line);
  while (std::getline(is, cur, sep)) out.push_back(cur);
  if (!line.empty() && line.back() == sep) out.push_back("");
  return out;
}

// The event records of every event table of a listing, in order.
Lines listed_event_records(const Lines& listing) {
  Lines out;
  for (std::size_t i = find_prefix(listing, "   H   K   L      F"); i < listing.size();
       i = find_prefix(listing, "   H   K   L      F", i + 1))
    for (std::size_t k = i + 2; k < listing.size() && !listing[k].empty(); ++k)
      out.push_back(listing[k]);
  return out;
}

// Runs a python script with arguments; its output (checks that failed) and status.
struct Script {
  int status;
  std::string output;
};

Script python(const ScratchDir& dir, const std::string& script, const std::string& args) {
  const fs::path py = dir.path() / "check.py", out = dir.path() / "check.txt";
  std::ofstream(py) << script;
  const std::string cmd = std::string("'") + KAVEN_PYTHON3 + "' '" + py.string() + "' " + args +
                          " >'" + out.string() + "' 2>&1";
  const int raw = std::system(cmd.c_str());
  std::ifstream is(out);
  std::stringstream ss;
  ss << is.rdbuf();
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ss.str()};
}

// Loads the three files as a script would and checks them against the counts the test
// passes: events rows, scan rows.
const char* kLoadScript = R"(
import csv, json, sys
events_path, scan_path, json_path, n_events, n_steps = sys.argv[1:6]
problems = []
with open(events_path, newline='') as f:
    r = csv.DictReader(f)
    want = ['pass', 'wavelength', 'h1', 'k1', 'l1', 'f1', 'phase1', 'theta1', 'h2', 'k2', 'l2',
            'f2', 'phase2', 'theta2', 'triplet_phase', 'ikaven', 'iaufhe', 'ikaven_peak',
            'iaufhe_peak', 'p12', 'absorption', 'inverse_absorption', 'crossing', 'fwhm',
            'beta', 'psi']
    if r.fieldnames != want: problems.append('event header %s' % r.fieldnames)
    rows = list(r)
    if len(rows) != int(n_events): problems.append('%d event rows' % len(rows))
    for row in rows:
        if row['crossing'] not in ('in-out', 'out-in'): problems.append('crossing ' + row['crossing'])
        if int(row['h1']) + int(row['h2']) != int(sys.argv[6]): problems.append('h1 + h2')
        float(row['psi']); float(row['triplet_phase'])
with open(scan_path, newline='') as f:
    r = csv.DictReader(f)
    if r.fieldnames != ['psi', 'calculated', 'measured']: problems.append('scan header')
    rows = list(r)
    if len(rows) != int(n_steps): problems.append('%d scan rows' % len(rows))
    if any(row['measured'] != '' for row in rows): problems.append('a measured value')
    psi = [float(row['psi']) for row in rows]
    if any(b <= a for a, b in zip(psi, psi[1:])): problems.append('psi not rising')
with open(json_path) as f:
    s = json.load(f)
if s['status'] != 'complete': problems.append('status ' + s['status'])
if s['counts']['events_listed'] != int(n_events): problems.append('events_listed')
if sum(p['events_listed'] for p in s['passes']) != int(n_events): problems.append('pass counts')
if s['psi']['steps'] != int(n_steps): problems.append('steps')
if s['files']['events_csv'] != events_path or s['files']['summary_json'] != json_path:
    problems.append('files %s' % s['files'])
print(json.dumps({'hkl': s['primary']['hkl'], 'psid': s['psi']['psid_deg'],
                  'passes': len(s['passes']), 'max': s['extremes']['calculated']['max_cps']}))
for p in problems: print('PROBLEM', p)
sys.exit(1 if problems else 0)
)";

}  // namespace

TEST(ResultsExport, CompleteRunLoadsInPythonAndEveryEventRowIsTheListedRecord) {
  Session s;
  Lines yig = yig_lines();
  yig[5] = "-66.   16. 50  0  0.1 0.";  // events in both passes
  const ListedRun r = s.run(yig);
  ASSERT_EQ(r.outcome.end, kaven::RunEnd::complete) << join_lines(r.records);
  kaven::RunResult result = r.outcome.result;
  const fs::path listing = s.dir.path() / "yig-sim.out";
  const kaven::RunStatus status{"yig-sim.inp", true, {}, 0};
  EXPECT_TRUE(kaven::write_exports(listing, true, true, s.par, result, status).empty());
  const kaven::ExportPaths paths = kaven::export_paths(listing);
  EXPECT_EQ(paths.events_csv, s.dir.path() / "yig-sim-events.csv");
  EXPECT_EQ(result.files.scan_csv, (s.dir.path() / "yig-sim-scan.csv").string());

  // Each CSV row through the listing's formats is the listing's record.
  const Lines events = read_lines(paths.events_csv);
  const Lines want = listed_event_records(r.records);
  ASSERT_GE(want.size(), 8u);
  ASSERT_EQ(events.size(), want.size() + 1);
  using namespace kaven::rec;
  for (std::size_t i = 0; i < want.size(); ++i) {
    const std::vector<std::string> v = split(events[i + 1]);
    ASSERT_EQ(v.size(), 26u) << events[i + 1];
    auto f = [&](int c) { return std::stod(v[c]); };
    auto n = [&](int c) { return std::stoll(v[c]); };
    const std::string rebuilt =
        I(4, n(2)) + I(4, n(3)) + I(4, n(4)) + F(8, 2, f(5)) + F(7, 1, f(6)) + F(7, 2, f(7)) +
        I(4, n(8)) + I(4, n(9)) + I(4, n(10)) + F(8, 2, f(11)) + F(7, 1, f(12)) + F(7, 2, f(13)) +
        F(12, 2, f(17)) + F(12, 2, f(18)) + F(6, 2, f(19)) + F(6, 2, f(21)) +
        A(5, v[22] == "in-out" ? "i-o" : "o-i") + F(6, 3, f(23)) + F(8, 2, f(24)) + F(9, 3, f(25));
    EXPECT_EQ(rebuilt, want[i]) << "event " << i + 1;
    // the integrated intensities are the peaks times the width; 1/A is the listed abs*
    EXPECT_NEAR(f(15) / f(23), f(17), 1e-5 * (1 + f(17)));
    EXPECT_NEAR(f(20) * f(21), 1.0, 1e-6);
    // the triplet phase from the two phases and the primary's (0 here)
    EXPECT_NEAR(std::remainder(f(6) + f(12) - f(14), 360.0), 0.0, 1e-3);
  }

  ScratchDir py;
  const Script check = python(
      py, kLoadScript,
      paths.events_csv.string() + " " + paths.scan_csv.string() + " " +
          paths.summary_json.string() + " " + std::to_string(want.size()) + " " +
          std::to_string(s.par.nstep + 1) + " 8");
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(check.output.substr(0, check.output.find('\n')),
            "{\"hkl\": [8, 8, 2], \"psid\": " + kaven::shortest(s.par.psid) +
                ", \"passes\": 2, \"max\": " + kaven::shortest(result.profile.max) + "}");
}

TEST(ResultsExport, ScanRowsHoldEmptyFieldsWhereNothingWasMeasured) {
  kaven::RunParameters par;
  par.psia = 10;
  par.zsw = 2;
  kaven::RunResult r;
  r.profile.intensity = {1.5f, 2.25f, 1e-6f, std::numeric_limits<float>::quiet_NaN()};
  r.measured.intensity = {kaven::kNoMeasurement, 0.0f, 12.5f, kaven::kNoMeasurement};
  std::ostringstream os;
  kaven::write_scan_csv(os, par, r);
  EXPECT_EQ(os.str(),
            "psi,calculated,measured\n"
            "10,1.5,\n"
            "10.5,2.25,0\n"
            "11,1e-06,12.5\n"
            "11.5,,\n");
}

TEST(ResultsExport, ALongScanIsWrittenWholeAndEveryNumberReadsBack) {
  // 50 001 rows, more than a megabyte (the pieces the file is written in); every number read back
  // through double is the value written (float values as floats).
  kaven::RunParameters par;
  par.psia = -180;
  par.zsw = 555.5f;
  kaven::RunResult r;
  r.profile.intensity.resize(50001);
  r.measured.intensity.assign(50001, kaven::kNoMeasurement);
  std::uint32_t bits = 0x3f800000;
  for (std::size_t i = 0; i < r.profile.intensity.size(); ++i) {
    bits = bits * 1664525u + 1013904223u;
    float v = 0;
    std::memcpy(&v, &bits, sizeof v);
    r.profile.intensity[i] = std::isfinite(v) ? v : 0.0f;
    if (i % 3 == 0) r.measured.intensity[i] = float(i) * 0.37f;
  }
  std::ostringstream os;
  kaven::write_scan_csv(os, par, r);
  const Lines rows = split_records(os.str());
  ASSERT_EQ(rows.size(), 50002u);
  for (std::size_t i = 0; i < 50001; ++i) {
    const std::string& row = rows[i + 1];
    const std::size_t a = row.find(','), b = row.find(',', a + 1);
    ASSERT_NE(b, std::string::npos) << row;
    ASSERT_EQ(std::strtod(row.substr(0, a).c_str(), nullptr), kaven::step_psi(par, long(i))) << row;
    ASSERT_EQ(static_cast<float>(std::strtod(row.substr(a + 1, b - a - 1).c_str(), nullptr)),
              r.profile.intensity[i])
        << row;
    if (i % 3 == 0)
      ASSERT_EQ(static_cast<float>(std::strtod(row.substr(b + 1).c_str(), nullptr)), r.measured.intensity[i]) << row;
    else
      ASSERT_EQ(b + 1, row.size()) << row;
  }
}

TEST(ResultsExport, ReferenceDirectionIsWrittenWithoutTheNoiseOfTheSinglePrecisionMetric) {
  // 0 0 2 of a cubic cell: the component that is zero in the crystal's metric comes out
  // of the single-precision metric as -6.58e-07. A ratio that is not zero keeps its
  // digits, a float just off a short decimal gets the decimal.
  const std::pair<std::array<float, 3>, std::string> cases[] = {
      {{1.0f, 0.0f, -6.58e-07f}, "[1, 0, 0]"},
      {{-0.49999997f, 1.0f, 0.0f}, "[-0.5, 1, 0]"},
      {{1.0f, -0.3333333f, 0.0f}, "[1, -0.33333, 0]"},
      {{1.0f, 0.0f, 4e-6f}, "[1, 0, 0]"},
  };
  for (const auto& [reference, expected] : cases) {
    kaven::RunParameters par;
    kaven::RunResult r;
    r.reference = reference;
    std::ostringstream os;
    kaven::write_summary_json(os, par, r, {});
    EXPECT_NE(os.str().find("\"reference_direction\": " + expected), std::string::npos) << expected;
  }
}

TEST(ResultsExport, StoppedRunGivesItsStatusAndNoScan) {
  Session s;
  Lines yig = yig_lines();
  yig[5] = "-66.   186. 50  0  0.1 0.";  // psi range beyond 180: the run stops
  const ListedRun r = s.run(yig);
  ASSERT_TRUE(r.stopped());
  kaven::RunResult result = r.outcome.result;
  const fs::path listing = s.dir.path() / "stopped.out";
  const kaven::RunStatus status{"stopped.inp", false, r.outcome.stop_message, r.outcome.ierr};
  EXPECT_TRUE(kaven::write_exports(listing, true, true, s.par, result, status).empty());
  EXPECT_FALSE(fs::exists(s.dir.path() / "stopped-scan.csv"));
  EXPECT_TRUE(result.files.scan_csv.empty());
  EXPECT_EQ(read_lines(s.dir.path() / "stopped-events.csv").size(), 1u);  // the header

  ScratchDir py;
  const Script check = python(py, R"(
import json, sys
s = json.load(open(sys.argv[1]))
print(s['status'], s['stop_message'], s['passes'], s['extremes'], s['files']['scan_csv'],
      s['files']['measured_scan'], s['files']['plot'])
)",
                              (s.dir.path() / "stopped.json").string());
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(check.output,
            "stopped ['Psi-range is out of -180. to 180.'] [] {'calculated': None, 'measured': "
            "None} None None None\n");
}

TEST(ResultsExport, JsonStringsAndNumbersParseWhateverTheyHold) {
  std::ostringstream os;
  {
    kaven::JsonWriter j(os);
    j.begin_object();
    j.key("quote \" backslash \\").value(std::string("tab\tnew line\nbell\x07 del\x7f"));
    j.key("utf8").value("12.38 \xc3\x85, \xe2\x80\x94 \xf0\x9f\x98\x80");
    j.key("latin1").value("\xc5ngstr\xf6m \xc0\x80 \xed\xa0\x80 end");  // invalid UTF-8
    j.key("numbers").begin_array(true);
    j.value(0.1f).value(-0.0f).value(1e-30f).value(3.0e38f).value(1.0 / 3.0);
    j.value(std::numeric_limits<float>::quiet_NaN()).value(std::numeric_limits<double>::infinity());
    j.value(-std::numeric_limits<float>::infinity()).value(-2147483647LL - 1);
    j.end_array();
    j.key("empty").begin_object().end_object();
    j.key("nested").begin_array().begin_object().key("a").begin_array().end_array().end_object();
    j.value(true).null().end_array();
    j.end_object();
  }
  ScratchDir dir;
  std::ofstream(dir.path() / "t.json") << os.str();
  const Script check = python(dir, R"(
import json, sys
s = json.load(open(sys.argv[1], encoding='utf-8'))
for k in s: print(repr(k), '=', repr(s[k]))
)",
                              (dir.path() / "t.json").string());
  EXPECT_EQ(check.status, 0) << check.output << os.str();
  EXPECT_EQ(split_records(check.output),
            (Lines{"'quote \" backslash \\\\' = 'tab\\tnew line\\nbell\\x07 del\\x7f'",
                   "'utf8' = '12.38 \xc3\x85, \xe2\x80\x94 \xf0\x9f\x98\x80'",
                   "'latin1' = '\xef\xbf\xbdngstr\xef\xbf\xbdm \xef\xbf\xbd\xef\xbf\xbd "
                   "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd end'",
                   "'numbers' = [0.1, 0, 1e-30, 3e+38, 0.3333333333333333, None, None, None, "
                   "-2147483648]",
                   "'empty' = {}", "'nested' = [{'a': []}, True, None]"}))
      << os.str();
}

TEST(ResultsExport, CommandLineWritesTheFilesBesideTheListingAndTheListingStaysTheSame) {
  ScratchDir dir;
  for (const char* sub : {"plain", "exported"}) {
    fs::create_directory(dir.path() / sub);
    write_lines(dir.path() / sub / "si222.inp", si_lines());
  }
  auto run = [&](const std::string& sub, const std::string& args) {
    const std::string cmd = "cd '" + (dir.path() / sub).string() +
                            "' && SOURCE_DATE_EPOCH=1000000000 '" + KAVEN_BINARY + "' " + args +
                            " > stdout.txt 2> stderr.txt";
    const int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  ASSERT_EQ(run("plain", "si222.inp"), 0);
  ASSERT_EQ(run("exported", "--json si222.inp result.lst --csv"), 0);
  const fs::path plain = dir.path() / "plain", exported = dir.path() / "exported";
  EXPECT_EQ(read_lines(plain / "si222.out"), read_lines(exported / "result.lst"));
  EXPECT_EQ(read_lines(plain / "si222.cal"), read_lines(exported / "si222.cal"));
  for (const char* name : {"result-events.csv", "result-scan.csv", "result.json"})
    EXPECT_TRUE(fs::exists(exported / name)) << name;
  EXPECT_FALSE(fs::exists(plain / "si222.json"));
  const Lines out = read_lines(exported / "stdout.txt");
  EXPECT_TRUE(contains(out, "  events (CSV):         result-events.csv"));
  EXPECT_TRUE(contains(out, "  summary (JSON):       result.json"));
  // one row per step, as the calculated-scan file
  EXPECT_EQ(read_lines(exported / "result-scan.csv").size(), read_lines(plain / "si222.cal").size() + 1);
  EXPECT_EQ(run("exported", "si222.inp --xml"), 2);
}
