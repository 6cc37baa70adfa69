#include "input/free_format.hpp"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kaven {

bool LineSource::next(std::string& line) {
  overlong_ = false;
  line.clear();
  if (is_) {
    std::streambuf* buf = is_->rdbuf();
    if (!buf || !*is_) return false;
    using Traits = std::streambuf::traits_type;
    Traits::int_type c = buf->sbumpc();
    if (Traits::eq_int_type(c, Traits::eof())) {
      is_->setstate(std::ios::eofbit | std::ios::failbit);
      return false;
    }
    while (!Traits::eq_int_type(c, Traits::eof()) && Traits::to_char_type(c) != '\n') {
      if (line.size() < kMaxLineLength)
        line.push_back(Traits::to_char_type(c));
      else
        overlong_ = true;
      c = buf->sbumpc();
    }
    if (Traits::eq_int_type(c, Traits::eof())) is_->setstate(std::ios::eofbit);
  } else {
    if (pos_ >= lines_.size()) return false;
    line = lines_[pos_++];
  }
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  ++line_number_;
  return true;
}

int read_text(LineSource& src, std::size_t width, std::string& out, bool* cut) {
  std::string line;
  if (!src.next(line)) return kStatusEndOfFile;
  for (char& ch : line)
    if (ch == '\t') ch = ' ';
  if (cut)
    *cut = src.overlong() || (line.size() > width &&
                              line.find_first_not_of(' ', width) != std::string::npos);
  line.resize(width, ' ');
  out = line;
  return 0;
}

namespace {

bool is_blank(char ch) { return ch == ' ' || ch == '\t'; }

// A fixed-column field with its blanks dropped, as a Fortran I or F edit reads it.
std::string without_blanks(std::string_view field) {
  std::string s;
  for (char ch : field)
    if (!is_blank(ch)) s += ch;
  return s;
}

// Mantissa and exponent of a Fortran real: [+-] digits [. digits] [(e|d|q)[+-]digits |
// [+-]digits]. Returns false when the text is not such a number.
bool parse_fortran_real(std::string_view t, double& value, bool& has_point) {
  std::string s;
  std::size_t i = 0;
  has_point = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) s += t[i++];
  std::size_t digits = 0;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) s += t[i++], ++digits;
  if (i < t.size() && t[i] == '.') {
    has_point = true;
    s += t[i++];
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) s += t[i++], ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size()) {
    char ch = static_cast<char>(std::tolower(static_cast<unsigned char>(t[i])));
    if (ch == 'e' || ch == 'd' || ch == 'q') {
      ++i;
    } else if (ch != '+' && ch != '-') {
      return false;
    }
    s += 'e';
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) s += t[i++];
    std::size_t ed = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) s += t[i++], ++ed;
    if (ed == 0 || i != t.size()) return false;
  }
  if (i != t.size()) return false;
  value = std::strtod(s.c_str(), nullptr);
  return std::isfinite(value);
}

// A real is stored in single precision: beyond its range the value is malformed (the
// overflow of a formatted read), not infinity.
bool fits_single(double v) { return std::fabs(v) <= double(std::numeric_limits<float>::max()); }

struct Token {
  std::string text;  // empty: a null value
  bool null = false;
};

// Splits one line into value tokens. Returns true when a slash ended the list.
bool tokenize(std::string line, std::vector<Token>& tokens) {
  bool slash = false;
  if (std::size_t p = line.find('/'); p != std::string::npos) {
    line.resize(p);
    slash = true;
  }
  // Comma-separated fields; each field holds blank-separated values; an empty field
  // between two commas (or before a first comma) is a null value.
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (true) {
    std::size_t c = line.find(',', start);
    fields.push_back(line.substr(start, c == std::string::npos ? std::string::npos : c - start));
    if (c == std::string::npos) break;
    start = c + 1;
  }
  for (std::size_t f = 0; f < fields.size(); ++f) {
    const std::string& fld = fields[f];
    std::size_t i = 0, n_vals = 0;
    while (i < fld.size()) {
      while (i < fld.size() && is_blank(fld[i])) ++i;
      if (i >= fld.size()) break;
      std::size_t j = i;
      while (j < fld.size() && !is_blank(fld[j])) ++j;
      tokens.push_back({fld.substr(i, j - i), false});
      ++n_vals;
      i = j;
    }
    bool last = f + 1 == fields.size();
    if (n_vals == 0 && !last) tokens.push_back({"", true});
  }
  return slash;
}

}  // namespace

int parse_real(std::string_view token, float& out) {
  double v;
  bool point;
  if (!parse_fortran_real(token, v, point) || !fits_single(v)) return kStatusMalformed;
  out = static_cast<float>(v);
  return 0;
}

int parse_integer(std::string_view token, int& out) {
  std::size_t i = 0;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
  if (i == token.size()) return kStatusMalformed;
  for (std::size_t j = i; j < token.size(); ++j)
    if (!std::isdigit(static_cast<unsigned char>(token[j]))) return kStatusMalformed;
  errno = 0;
  long long v = std::strtoll(std::string(token).c_str(), nullptr, 10);
  if (errno == ERANGE || v > INT_MAX || v < INT_MIN) return kStatusMalformed;
  out = static_cast<int>(v);
  return 0;
}

int FreeRead::read(std::span<const FreeItem> items) {
  std::size_t next_item = 0;
  std::string line;
  while (next_item < items.size()) {
    if (next_ >= pending_.size()) {
      // The values before a slash are taken; after them the rest of the list stays
      // unchanged.
      if (slash_) return 0;
      if (!src_.next(line)) return kStatusEndOfFile;
      if (src_.overlong()) return kStatusMalformed;
      std::vector<kaven::Token> tokens;
      slash_ = tokenize(line, tokens);
      pending_.clear();
      for (auto& t : tokens) pending_.push_back({std::move(t.text), t.null});
      next_ = 0;
      continue;
    }
    Token& tok = pending_[next_];
    // r*v repeats v r times; r* is r null values
    if (std::size_t star = tok.text.find('*'); !tok.counted && !tok.null && star != std::string::npos) {
      int r;
      if (parse_integer(std::string_view(tok.text).substr(0, star), r) != 0 || r < 1)
        return kStatusMalformed;
      tok.repeat = r;
      tok.text.erase(0, star + 1);
      tok.null = tok.text.empty();
    }
    tok.counted = true;
    // As many of the repeated values as the list still needs; the rest belongs to the
    // next part of the same list.
    for (; tok.repeat > 0 && next_item < items.size(); --tok.repeat) {
      const FreeItem& item = items[next_item++];
      if (tok.null) continue;
      int st = std::holds_alternative<float*>(item) ? parse_real(tok.text, *std::get<float*>(item))
                                                    : parse_integer(tok.text, *std::get<int*>(item));
      if (st != 0) return st;
    }
    if (tok.repeat == 0) ++next_;
  }
  return 0;
}

int read_free(LineSource& src, std::span<const FreeItem> items) {
  FreeRead r(src);
  return r.read(items);
}

int parse_fixed_real(std::string_view field, int decimals, float& out) {
  const std::string s = without_blanks(field);
  if (s.empty()) {
    out = 0;
    return 0;
  }
  double v;
  bool point;
  if (!parse_fortran_real(s, v, point)) return kStatusMalformed;
  if (!point) v /= std::pow(10.0, decimals);
  if (!fits_single(v)) return kStatusMalformed;
  out = static_cast<float>(v);
  return 0;
}

int parse_fixed_integer(std::string_view field, int& out) {
  const std::string s = without_blanks(field);
  if (s.empty()) {
    out = 0;
    return 0;
  }
  return parse_integer(s, out);
}

}  // namespace kaven
