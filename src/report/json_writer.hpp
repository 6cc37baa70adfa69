// A small JSON writer for the run summary: objects, arrays, strings, numbers, true,
// false and null, indented by two blanks, arrays of numbers on one line when asked.
//
// Strings are escaped (quote, backslash, control characters as \uXXXX) and must be
// UTF-8: a byte that does not belong to a valid UTF-8 sequence (a Latin-1 title, say)
// is written as U+FFFD, so the file always parses. Numbers are written in their
// shortest exact form; JSON has no NaN or infinity, so a value that is not finite is
// written as null.
#pragma once
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kaven {

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& os) : os_(os) {}
  ~JsonWriter();  // ends the document with a newline when it is complete

  JsonWriter& begin_object();
  JsonWriter& end_object();
  // `one_line`: the elements follow each other on the line of the key.
  JsonWriter& begin_array(bool one_line = false);
  JsonWriter& end_array();
  JsonWriter& key(std::string_view name);

  JsonWriter& value(std::string_view s);
  JsonWriter& value(const char* s) { return value(std::string_view(s)); }
  JsonWriter& value(const std::string& s) { return value(std::string_view(s)); }
  JsonWriter& value(double v);
  JsonWriter& value(float v);
  JsonWriter& value(long long v);
  JsonWriter& value(int v) { return value(static_cast<long long>(v)); }
  JsonWriter& value(long v) { return value(static_cast<long long>(v)); }
  JsonWriter& value(bool v);
  JsonWriter& null();

 private:
  struct Level {
    bool object;
    bool one_line;
    int count = 0;
  };
  void before_value();  // the comma and line break before an element or a key
  void raw(std::string_view text);
  std::ostream& os_;
  std::vector<Level> stack_;
  bool after_key_ = false;
  bool done_ = false;
};

// s as a JSON string literal, quotes included.
std::string json_string(std::string_view s);

}  // namespace kaven
