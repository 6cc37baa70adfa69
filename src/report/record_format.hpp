// Fixed-column fields of the print-output listing, in the edit-descriptor notation
// the listing layouts are written in: Iw, Fw.d, Ew.d, Aw and nX.
//
// Every field is exactly w characters wide. A number that does not fit is written
// as w asterisks, never truncated, so a too-wide value is visible as such.
// Rounding is to nearest with ties away from zero, applied to the exact binary value
// (a float 0.125 is exactly a tie; 0.115 is not, it is slightly below).
// A negative value that rounds to zero keeps its minus sign ("-0.00"), and so does a
// negative zero, as the common Fortran run-time libraries write them. The fields agree
// with gfortran's under rounding "compatible" (tests/data/fortran_format_table.txt,
// written by tools/fortran_format_table.f90).
#pragma once
#include <string>
#include <string_view>

#include "core/fixed_text.hpp"  // pad, rtrim

namespace kaven::rec {

// Iw: integer right-justified in w columns.
std::string I(int w, long long v);
// Fw.d: fixed point with d decimals, right-justified in w columns. A leading zero
// is written before the decimal point when there is room for it.
std::string F(int w, int d, double v);
// Ew.d: 0.ddddE+xx; the leading zero only when there is room for it; exponents
// beyond two digits drop the E (0.1234+100), as Fortran does.
std::string E(int w, int d, double v);
// Aw: text in w columns; a shorter text is right-justified, a longer one is cut to
// its first w characters.
std::string A(int w, std::string_view s);
// nX: n blanks.
std::string X(int n);

// Iw, Fw.d and Ew.d appended to a record or a file's text, for writers of many fields.
void append_I(std::string& out, int w, long long v);
void append_F(std::string& out, int w, int d, double v);
void append_E(std::string& out, int w, int d, double v);

}  // namespace kaven::rec
