#include "report/listing.hpp"

#include <cstdlib>

#include "report/record_format.hpp"

namespace kaven {

bool starts_as_kaven_listing(std::istream& is) {
  std::string start(kBannerRecord.size() + 1, '\0');
  is.read(start.data(), static_cast<std::streamsize>(start.size()));
  return is.gcount() == static_cast<std::streamsize>(start.size()) &&
         start == std::string(kBannerRecord) + '\n';
}

Zeit Zeit::from_environment() {
  if (const char* e = std::getenv("SOURCE_DATE_EPOCH"); e && *e) {
    char* end = nullptr;
    long long v = std::strtoll(e, &end, 10);
    if (end && *end == '\0') return Zeit(static_cast<std::time_t>(v));
  }
  return Zeit();
}

Zeit::Now Zeit::now() const {
  std::tm tm{};
  double clock_s = 0;
  if (fixed_) {
    std::time_t t = *fixed_;
    gmtime_r(&t, &tm);
  } else {
    std::time_t t = std::time(nullptr);
    localtime_r(&t, &tm);
    clock_s = std::chrono::duration<double>(
                  std::chrono::steady_clock::now().time_since_epoch())
                  .count();
  }
  return {tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec,
          clock_s};
}

void Zeit::write_date_block(Listing& out, const Now& n) {
  using namespace rec;
  out.record(X(31) + "Date: " + I(2, n.day) + " . " + I(2, n.month) + " . " + I(2, n.year % 100));
  out.record(X(31) + "Time: " + I(2, n.hour) + " . " + I(2, n.minute) + " . " + I(2, n.second));
  start_day_ = n.day;
  start_seconds_ = n.hour * 3600L + n.minute * 60L + n.second;
  start_clock_ = n.clock_s;
}

void Zeit::operator()(Listing& out) {
  using namespace rec;
  Now n = now();
  if (first_) {
    first_ = false;
    write_date_block(out, n);
    return;
  }
  if (n.day < start_day_) {  // a new month began: start again
    write_date_block(out, n);
    return;
  }
  long e = (n.day - start_day_) * 86400L + n.hour * 3600L + n.minute * 60L + n.second -
           start_seconds_;
  long hours = e / 3600;
  long minutes = (e - hours * 3600) / 60;
  double seconds = (n.clock_s - start_clock_) + (n.day - start_day_) * 86400.0 -
                   static_cast<double>(hours * 3600 + minutes * 60);
  if (fixed_) seconds = 0;
  out.blank();
  out.record(" CPU-time since program start:" + I(3, hours) + "  hours" + I(5, minutes) +
             "  minutes" + F(7, 2, seconds) + "  seconds");
}

}  // namespace kaven
