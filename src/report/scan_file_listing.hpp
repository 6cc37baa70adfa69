// The listing of the measured-scan phase: the heading with the scan-file name, the table
// of reference reflections in the layout of the reader that read them (every reference
// of the file, counted or not, in file order), and the message for a file that holds no
// step of the primary reflection in the psi range.
#pragma once
#include <string>
#include <vector>

#include "report/listing.hpp"
#include "scans/measured_scan.hpp"

namespace kaven {

void list_scan_file_heading(Listing& out, const std::string& dname2);

// Header and one record per reference, then the message when no step was found.
void list_reference_table(Listing& out, const MeasuredScan& scan);

// The table's records alone (header first), for the listing and its tests.
std::string reference_table_header(const MeasuredScan& scan);
std::string reference_table_row(const MeasuredScan& scan, const ReferenceReflection& r);

}  // namespace kaven
