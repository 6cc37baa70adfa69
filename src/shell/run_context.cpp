#include "shell/run_context.hpp"

#include "report/record_format.hpp"

namespace kaven {
namespace {

void write_record(Listing& out, std::ostream* err, std::string_view r) {
  out.record(r);
  std::string_view text = rec::rtrim(r);
  if (std::size_t b = text.find_first_not_of(' '); err && b != std::string_view::npos)
    *err << "kaven: " << text.substr(b) << '\n';
}

}  // namespace

void RunContext::message(std::initializer_list<std::string_view> records) {
  for (std::string_view r : records) write_record(out, err, r);
}

void RunContext::stop(std::initializer_list<std::string_view> records) { stop_run(records); }

void RunContext::list_stop(const RunStopped& stop) {
  for (const std::string& r : stop.records) write_record(out, err, r);
  if (stop.status) ierr = *stop.status;
}

}  // namespace kaven
