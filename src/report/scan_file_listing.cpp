#include "report/scan_file_listing.hpp"

#include <initializer_list>
#include <utility>

#include "report/record_format.hpp"

namespace kaven {
namespace {

enum class Layout { cad4, huber, huber_obs };

Layout layout_of(const MeasuredScan& scan) {
  if (scan.reader != ScanReader::hasyl4) return Layout::cad4;
  return scan.format == ScanFormat::obs ? Layout::huber_obs : Layout::huber;
}

// Column words, each preceded by its number of blanks.
std::string words(std::initializer_list<std::pair<int, const char*>> w) {
  std::string s = "   h  k  l";
  for (const auto& [blanks, word] : w) s += rec::X(blanks) + word;
  return s;
}

}  // namespace

void list_scan_file_heading(Listing& out, const std::string& dname2) {
  out.record(std::string(" Calculation of the scale factor using the reference") +
             " reflections of the file:");
  out.record(rec::X(3) + rec::pad(dname2, 72));
}

std::string reference_table_header(const MeasuredScan& scan) {
  switch (layout_of(scan)) {
    case Layout::cad4:
      return words({{3, "theta"}, {2, "sinthl"}, {5, "sum"}, {7, "   fc"}, {4, "abs*"},
                    {4, "alor"}, {5, "pol"}, {2, "lext  "}, {4, "ypsil"}, {5, "  text"},
                    {4, "an   "}, {5, "I0*q"}});
    case Layout::huber:
      return words({{3, "theta"}, {2, "sinthl"}, {7, "sum1"}, {7, "sum"}, {6, "   fc"},
                    {3, "abs*"}, {3, "alor"}, {4, "pol"}, {4, "lext"}, {1, "ypsil"},
                    {1, "  text"}, {3, "an"}, {6, "I0*q"}});
    case Layout::huber_obs:
      return words({{3, "theta"}, {2, "sinthl"}, {7, "sum"}, {6, "   fc"}, {3, "abs*"},
                    {3, "alor"}, {4, "pol"}, {4, "lext"}, {1, "ypsil"}, {1, "text  "},
                    {3, "an"}, {6, "I0*q"}});
  }
  return {};
}

std::string reference_table_row(const MeasuredScan& scan, const ReferenceReflection& r) {
  using namespace rec;
  std::string s = " " + I(3, r.h) + I(3, r.k) + I(3, r.l) + F(8, 3, r.theta_deg) +
                  F(8, 3, r.sinthl);
  const Layout layout = layout_of(scan);
  if (layout == Layout::cad4)
    return s + F(10, 2, r.sum) + F(10, 2, r.fc) + F(8, 4, r.inv_abs) + F(8, 2, r.lorentz) +
           F(8, 2, r.pol) + F(8, 2, r.lext_um) + F(10, 4, r.ypsil) + F(10, 2, r.text_um) +
           F(10, 2, r.an) + E(10, 2, r.i0q);
  s += X(2);
  if (layout == Layout::huber) s += F(10, 0, r.sum1);
  return s + F(10, 0, r.sum) + F(10, 2, r.fc) + F(7, 3, r.inv_abs) + F(7, 3, r.lorentz) +
         F(7, 2, r.pol) + F(8, 2, r.lext_um) + F(6, 3, r.ypsil) + F(7, 2, r.text_um) +
         F(6, 0, r.an) + E(10, 2, r.i0q);
}

void list_reference_table(Listing& out, const MeasuredScan& scan) {
  out.blank();
  out.record(reference_table_header(scan));
  out.blank();
  for (const ReferenceReflection& r : scan.references) out.record(reference_table_row(scan, r));
  if (scan.no_primary_step) {
    out.blank(2);
    out.record(scan.reader == ScanReader::hasyl4 ? " The scan file is missing,or"
                                                 : " The scan file is missing, or");
    out.record(" the indices or the psi-range input by the user");
    out.record(" do not correspond to the measured primary reflection");
    out.record(" of the scan file, please check your input");
  }
}

}  // namespace kaven
