// What the files of the Python module share: the parts that add their calls to the
// module, and the raising of kaven's errors as Python exceptions.
#pragma once
#include <pybind11/pybind11.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "report/results_export.hpp"
#include "shell/run_command.hpp"

namespace kaven::python {

void add_errors(pybind11::module_& m);  // InputError, CifError
void add_run(pybind11::module_& m);     // run, run_text, Result
void add_cif(pybind11::module_& m);     // from_cif
void add_fit(pybind11::module_& m);     // fit, index_peaks, FitResult, PeakTable
void add_energy(pybind11::module_& m);  // energy_map, energy_scan, EnergyMap, EnergyScan

// An instance of kaven.<name> (InputError, CifError) with the message.
pybind11::object kaven_error(const char* name, const std::string& message);
// OSError(errno, strerror, file) when the system gave an error number (Python makes it
// FileNotFoundError, PermissionError, ...), otherwise OSError(message), the message
// naming the file (a file refused by the rules of a run, a blank name).
pybind11::object os_error(const std::string& message, const std::string& file, int error_number);
// Raises the exception instance in Python.
[[noreturn]] void raise(const pybind11::object& exception);

// What one run produced (kaven.Result).
struct Result {
  std::string status;        // "complete" or "stopped"
  std::string stop_message;  // the stop's lines; empty for a complete run
  pybind11::dict events, scan, summary;
  std::string listing;
  std::vector<std::string> messages;
};

// The columns of a results table as NumPy arrays (int32, float32, float64, str), keyed
// by their names.
pybind11::dict table(const std::vector<ResultColumn>& columns,
                     const std::function<void(const RowSink&)>& rows);

// Runs `work` with the GIL released, the request's progress and cancel going through
// Python: the callback `progress(stage, fraction)` (None for none) and Ctrl-C, either of
// which cancels the work; the callback's exception or KeyboardInterrupt is raised once
// the work has ended. TypeError for a progress that cannot be called.
void run_without_gil(RunRequest& request, const pybind11::object& progress,
                     const std::function<void(const RunRequest&)>& work);

// The run of the input file `input` as the keywords the calls share ask for it: the
// listing `output` (None: beside the input), the CSV and JSON exports, the threads.
RunRequest file_run_request(const std::filesystem::path& input,
                            const std::optional<std::filesystem::path>& output, bool csv, bool json,
                            int threads);

// The Result of a finished run; raises InputError or OSError for a run that finished
// with an error (status 1).
Result run_result(const RunCommandResult& r);

// A run's stop message, its lines joined by newlines.
std::string stop_text(const RunCommandResult& r);

}  // namespace kaven::python
