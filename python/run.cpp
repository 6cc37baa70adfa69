// kaven.run and kaven.run_text: the run of the command line (shell/run_command.hpp), with
// the GIL released while it runs so that other Python threads go on. Its events and scan
// come back as NumPy arrays from the same rows as the CSV files (report/results_export),
// its summary as the dict of the JSON summary's text.
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <atomic>
#include <optional>
#include <sstream>

#include "python/module.hpp"
#include "report/results_export.hpp"
#include "shell/run_command.hpp"

namespace py = pybind11;
namespace fs = std::filesystem;

namespace kaven::python {

namespace {

// The progress path of a run as Python sees it. The run calls it without the GIL, from
// any of its threads, one call at a time; the GIL is taken for the caller's callback and
// for the signal check. Ctrl-C is noticed there (on the main thread, where Python's
// handlers run): the run is cancelled as the desktop program cancels it, ends with its
// files in order, and KeyboardInterrupt is raised afterwards. An exception of the
// callback ends the run the same way and is raised in its place.
class PythonProgress {
 public:
  explicit PythonProgress(py::object callback) : callback_(std::move(callback)) {}

  void operator()(const RunProgress& p) {
    if (cancel.load()) return;
    py::gil_scoped_acquire gil;
    try {
      if (!callback_.is_none()) callback_(std::string(p.stage), p.fraction);
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    } catch (const py::error_already_set& e) {
      error_ = e;
      cancel = true;
    }
  }

  // With the GIL held, after the run.
  void raise_if_interrupted() const {
    if (error_) throw *error_;
  }

  std::atomic<bool> cancel{false};

 private:
  py::object callback_;
  std::optional<py::error_already_set> error_;
};

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

std::string joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& line : lines) s += (s.empty() ? "" : "\n") + line;
  return s;
}

// The exception of a run that finished with an error: OSError for a file, InputError
// with the listing's message for a value of the input.
[[noreturn]] void raise_failure(const RunCommandResult& r) {
  // The stop's message as the listing has it when the run itself ended on the error;
  // otherwise (a file refused or not opened before the run, an export not written) the
  // command line's message.
  const bool in_run = r.failure == RunCommandResult::Failure::input_value || r.outcome.failed_file;
  std::string message = in_run ? joined(message_lines(r.outcome.stop_message)) : std::string();
  if (message.empty() && !r.messages.empty()) message = r.messages.back();
  py::object e = r.failure == RunCommandResult::Failure::input_value
                     ? kaven_error("InputError", message)
                     : os_error(message, r.failed_file, r.failed_errno);
  if (r.ran) e.attr("listing") = r.listing.string();
  raise(e);
}

}  // namespace

py::dict table(const std::vector<ResultColumn>& columns,
               const std::function<void(const RowSink&)>& rows) {
  struct Values {
    std::vector<int> integer;
    std::vector<float> real32;
    std::vector<double> real64;
    std::vector<std::string> text;
  };
  std::vector<Values> values(columns.size());
  rows([&values](const std::vector<ResultCell>& cells) {
    for (std::size_t c = 0; c < cells.size(); ++c) {
      Values& v = values[c];
      std::visit(Overloaded{[&v](int x) { v.integer.push_back(x); },
                            [&v](float x) { v.real32.push_back(x); },
                            [&v](double x) { v.real64.push_back(x); },
                            [&v](const std::string& x) { v.text.push_back(x); }},
                 cells[c]);
    }
  });
  py::dict d;
  const py::object numpy_array = py::module_::import("numpy").attr("array");
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const Values& v = values[c];
    const py::str name(std::string(columns[c].name));
    switch (columns[c].kind) {
      case ColumnKind::integer: d[name] = py::array_t<int>(py::ssize_t(v.integer.size()), v.integer.data()); break;
      case ColumnKind::real32: d[name] = py::array_t<float>(py::ssize_t(v.real32.size()), v.real32.data()); break;
      case ColumnKind::real64: d[name] = py::array_t<double>(py::ssize_t(v.real64.size()), v.real64.data()); break;
      case ColumnKind::text: d[name] = numpy_array(py::cast(v.text), py::arg("dtype") = "str"); break;
    }
  }
  return d;
}

void run_without_gil(RunRequest& request, const py::object& progress_callback,
                     const std::function<void(const RunRequest&)>& work) {
  if (!progress_callback.is_none() && !PyCallable_Check(progress_callback.ptr()))
    throw py::type_error("progress must be callable as progress(stage, fraction)");
  PythonProgress progress(progress_callback);
  request.progress = [&progress](const RunProgress& p) { progress(p); };
  request.cancel = &progress.cancel;
  {
    py::gil_scoped_release release;
    work(request);
  }
  progress.raise_if_interrupted();
}

std::string stop_text(const RunCommandResult& r) { return joined(message_lines(r.outcome.stop_message)); }

RunRequest file_run_request(const fs::path& input, const std::optional<fs::path>& output, bool csv,
                            bool json, int threads) {
  RunRequest request;
  request.input = input;
  request.output = output.value_or(fs::path());
  request.csv = csv;
  request.json = json;
  request.threads = threads;
  return request;
}

Result run_result(const RunCommandResult& r) {
  if (r.status == 1) raise_failure(r);
  Result out;
  const bool complete = r.outcome.end == RunEnd::complete;
  out.status = complete ? "complete" : "stopped";
  out.listing = r.listing.string();
  out.messages = r.messages;
  const RunResult& result = r.outcome.result;
  out.events = table(events_columns(), [&](const RowSink& sink) { event_rows(r.par, result, sink); });
  // The scan only of a run that reached its end, as the scan CSV.
  out.scan = table(scan_columns(), [&](const RowSink& sink) {
    if (complete) scan_rows(r.par, result, sink);
  });
  std::ostringstream json;
  write_summary_json(json, r.par, result, r.summary);
  out.summary = py::module_::import("json").attr("loads")(json.str());
  out.stop_message = stop_text(r);
  return out;
}

namespace {

Result run_request(RunRequest request, const py::object& progress) {
  RunCommandResult r;
  run_without_gil(request, progress, [&r](const RunRequest& req) { r = run_command(req); });
  return run_result(r);
}

std::string result_repr(const Result& r) {
  std::ostringstream os;
  os << "<kaven.Result " << r.status << ": " << py::len(r.events["psi"]) << " events, "
     << py::len(r.scan["psi"]) << " scan steps, listing '" << r.listing << "'>";
  return os.str();
}

constexpr const char* kRunDoc = R"(Runs the input file `input` as the command line `kaven INPUT [OUTPUT] [--csv] [--json]`
does and writes the same files: the listing `output` (default: the input with the
extension .out), the calculated scan (.cal), the PostScript plot named in the input with
its SVG copy, and, when asked, OUTPUT-events.csv and OUTPUT-scan.csv (`csv`) and
OUTPUT.json (`json`). File names in the input are taken from the input's folder; no file
kaven did not write is replaced.

progress: called as progress(stage, fraction) during the long stages ('event search',
  'scan simulation'; fraction 0..1), from the thread that runs the stage with the GIL
  held. An exception it raises cancels the run and is raised once the run has ended.
threads: the threads of the run, 0 for every core; the results do not depend on it.

The GIL is released while the run computes. Ctrl-C (KeyboardInterrupt) cancels the run
as the desktop program's cancel does: the listing ends with the cancel message and
KeyboardInterrupt is raised once the run has ended.

A run that stops early with a message in its listing is not an exception: its Result
has status 'stopped' and the message in stop_message.

Raises InputError (the listing's message) for a malformed input value and OSError for
a file that may not or cannot be read or written (FileNotFoundError for a missing input
file, ...). Both carry the listing's name in `listing` when the listing was written.)";

constexpr const char* kRunTextDoc = R"(Runs an input file given as text, as run() runs a file. Relative file names in the text
(the plot file on line 2, the measured-scan file on line 12) are taken from `folder`,
where the calculated scan and the plot are written too. The listing is `output`
(default: kaven.out in `folder`), and the exports are named after it (kaven-events.csv,
kaven-scan.csv, kaven.json). The summary's input_file is None.

Everything else (progress, threads, Ctrl-C, exceptions) as in run().)";

}  // namespace

void add_run(py::module_& m) {
  py::class_<Result>(m, "Result",
                     "What one run produced, as the command line's files hold it.\n"
                     "\n"
                     "status: 'complete' (every phase reached) or 'stopped' (the run ended\n"
                     "  early with a message in the listing)\n"
                     "stop_message: the stop's message, its lines joined by newlines ('' when\n"
                     "  complete)\n"
                     "events: dict of NumPy arrays keyed by the events CSV's column names, one\n"
                     "  element per listed event in the CSV's order (pass, then psi)\n"
                     "scan: dict of the arrays psi (degrees), calculated and measured (cps),\n"
                     "  one element per scan step; measured is NaN where nothing was measured;\n"
                     "  empty arrays for a stopped run\n"
                     "summary: the JSON summary as a dict (what OUTPUT.json holds)\n"
                     "listing: the listing's path\n"
                     "messages: what the command line writes on standard error (passed-over\n"
                     "  records of a measured scan, the stop message, ...)")
      .def_readonly("status", &Result::status)
      .def_readonly("stop_message", &Result::stop_message)
      .def_readonly("events", &Result::events)
      .def_readonly("scan", &Result::scan)
      .def_readonly("summary", &Result::summary)
      .def_readonly("listing", &Result::listing)
      .def_readonly("messages", &Result::messages)
      .def("__repr__", &result_repr);

  m.def(
      "run",
      [](const fs::path& input, const std::optional<fs::path>& output, bool csv, bool json,
         const py::object& progress, int threads) {
        return run_request(file_run_request(input, output, csv, json, threads), progress);
      },
      kRunDoc, py::arg("input"), py::arg("output") = py::none(), py::arg("csv") = false,
      py::arg("json") = false, py::arg("progress") = py::none(), py::arg("threads") = 0);

  m.def(
      "run_text",
      [](const std::string& text, const fs::path& folder, const std::optional<fs::path>& output,
         bool csv, bool json, const py::object& progress, int threads) {
        RunRequest request = file_run_request(fs::path(), output, csv, json, threads);
        request.input_text = text;
        request.folder = folder;
        return run_request(std::move(request), progress);
      },
      kRunTextDoc, py::arg("text"), py::arg("folder"), py::arg("output") = py::none(),
      py::arg("csv") = false, py::arg("json") = false, py::arg("progress") = py::none(),
      py::arg("threads") = 0);
}

}  // namespace kaven::python
