// Numbers as text for files that programs read back: the shortest decimal form that
// reads back as the same value ("0.25", "1e-05", "-65.98"). A float is written as the
// float it is, not as the double it widens to (0.1f gives "0.1", not
// "0.10000000149011612"). Zero is written "0", also when it is -0.
#pragma once
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kaven {

inline std::string shortest(float v) {
  if (v == 0) return "0";
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, res.ptr);
  // A reader that converts through double would round a form right at a float rounding
  // boundary the other way; such a value is written with nine digits instead.
  double back = 0;
  std::from_chars(buf, res.ptr, back);
  if (static_cast<float>(back) != v) {
    std::snprintf(buf, sizeof buf, "%.9g", double(v));
    s = buf;
  }
  return s;
}

inline std::string shortest(double v) {
  if (v == 0) return "0";
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

}  // namespace kaven
