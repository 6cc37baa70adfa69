#include "report/json_writer.hpp"

#include <cmath>
#include <cstdio>

#include "core/number_text.hpp"

namespace kaven {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when the byte starts none (overlong
// forms and surrogates included).
std::size_t utf8_length(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  std::size_t n;
  unsigned min;
  unsigned cp;
  if (c >= 0xC2 && c <= 0xDF) n = 2, min = 0x80, cp = c & 0x1Fu;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, min = 0x800, cp = c & 0x0Fu;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, min = 0x10000, cp = c & 0x07u;
  else return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string json_string(std::string_view s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(c));
      out += buf;
      ++i;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else if (const std::size_t n = utf8_length(s, i)) {
      out.append(s.substr(i, n));
      i += n;
    } else {
      out += "\\ufffd";
      ++i;
    }
  }
  return out + "\"";
}

JsonWriter::~JsonWriter() {
  if (done_) os_ << '\n';
}

void JsonWriter::raw(std::string_view text) { os_ << text; }

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (stack_.empty()) return;
  Level& l = stack_.back();
  if (l.count++ > 0) raw(",");
  if (l.one_line) {
    if (l.count > 1) raw(" ");
  } else {
    raw("\n" + std::string(2 * stack_.size(), ' '));
  }
}

JsonWriter& JsonWriter::begin_object() {
  before_value();
  raw("{");
  stack_.push_back({true, false});
  return *this;
}

JsonWriter& JsonWriter::end_object() {
  const Level l = stack_.back();
  stack_.pop_back();
  if (l.count > 0) raw("\n" + std::string(2 * stack_.size(), ' '));
  raw("}");
  done_ = stack_.empty();
  return *this;
}

JsonWriter& JsonWriter::begin_array(bool one_line) {
  const bool inline_parent = !stack_.empty() && stack_.back().one_line;
  before_value();
  raw("[");
  stack_.push_back({false, one_line || inline_parent});
  return *this;
}

JsonWriter& JsonWriter::end_array() {
  const Level l = stack_.back();
  stack_.pop_back();
  if (l.count > 0 && !l.one_line) raw("\n" + std::string(2 * stack_.size(), ' '));
  raw("]");
  done_ = stack_.empty();
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  before_value();
  raw(json_string(name) + ": ");
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view s) {
  before_value();
  raw(json_string(s));
  return *this;
}

JsonWriter& JsonWriter::value(double v) {
  before_value();
  raw(std::isfinite(v) ? shortest(v) : "null");
  return *this;
}

JsonWriter& JsonWriter::value(float v) {
  before_value();
  raw(std::isfinite(v) ? shortest(v) : "null");
  return *this;
}

JsonWriter& JsonWriter::value(long long v) {
  before_value();
  raw(std::to_string(v));
  return *this;
}

JsonWriter& JsonWriter::value(bool v) {
  before_value();
  raw(v ? "true" : "false");
  return *this;
}

JsonWriter& JsonWriter::null() {
  before_value();
  raw("null");
  return *this;
}

}  // namespace kaven
