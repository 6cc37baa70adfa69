#include "cif/cif_text.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace kaven {

namespace {

// ---- characters ------------------------------------------------------------------

// The length of the UTF-8 sequence at s[i], or 0 when the bytes there are no UTF-8
// (a lone continuation byte, a cut or overlong sequence, a surrogate).
std::size_t utf8_length(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
  else return 0;
  if (i + n > s.size() || b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
  return n;
}

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::string hex_byte(unsigned char c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", c);
  return buf;
}

// The file as UTF-8 with the same lines and the same characters in each.
std::string file_characters(std::string_view raw, std::vector<std::string>& warnings) {
  if (raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);
  std::string out;
  out.reserve(raw.size());
  std::size_t line = 1;
  bool latin1 = false;
  for (std::size_t i = 0; i < raw.size();) {
    const std::size_t n = utf8_length(raw, i);
    if (n == 0) {
      const auto c = static_cast<unsigned char>(raw[i]);
      if (!latin1)
        warnings.push_back("line " + std::to_string(line) + ": the byte " + hex_byte(c) +
                           " is no UTF-8; bytes that are not are read as Latin-1 characters");
      latin1 = true;
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
      ++i;
      continue;
    }
    if (raw.substr(i, n) == "\xC2\xA0") {
      out += ' ';  // a no-break space (copied from a word processor) is a blank
    } else {
      out.append(raw.substr(i, n));
      if (raw[i] == '\n') ++line;
    }
    i += n;
  }
  return out;
}

// ---- words -----------------------------------------------------------------------

// gemmi's blanks: space, tab, line feed, carriage return.
bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char c = s[i] >= 'A' && s[i] <= 'Z' ? char(s[i] - 'A' + 'a') : s[i];
    if (c != prefix[i]) return false;
  }
  return true;
}

enum class WordKind { tag, loop, block, other_keyword, value };

struct Word {
  std::size_t begin = 0, end = 0;
  WordKind kind = WordKind::value;
  bool bare = true;  // neither quoted nor a text field
  bool text_field = false;
};

WordKind kind_of(std::string_view w) {
  if (w[0] == '_') return WordKind::tag;
  if (starts_with_nocase(w, "data_") || starts_with_nocase(w, "global_")) return WordKind::block;
  if (w.size() == 5 && starts_with_nocase(w, "loop_")) return WordKind::loop;
  if (starts_with_nocase(w, "save_") || (w.size() == 5 && starts_with_nocase(w, "stop_")))
    return WordKind::other_keyword;
  return WordKind::value;
}

// "5.4309", "-0.25(3)", ".5e-2": a CIF number with its standard uncertainty.
bool cif_number(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  const auto digits = [&] {
    const std::size_t from = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    return i - from;
  };
  std::size_t n = digits();
  if (i < s.size() && s[i] == '.') ++i, n += digits();
  if (n == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  if (i < s.size() && s[i] == '(') {
    ++i;
    if (digits() == 0 || i >= s.size() || s[i] != ')') return false;
    ++i;
  }
  return i == s.size();
}

bool ascii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The quote that can enclose `s` as one value: a quote ends a quoted value only where a
// blank or the line's end follows it. 0 when neither can.
char enclosing_quote(std::string_view s) {
  for (char q : {'\'', '"'}) {
    bool ok = true;
    for (std::size_t i = 0; i < s.size() && ok; ++i)
      ok = !(s[i] == q && (i + 1 == s.size() || blank(s[i + 1])));
    if (ok) return q;
  }
  return 0;
}

std::string shown(std::string_view s, std::size_t max_chars = 30) {
  std::string out;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < s.size() && chars < max_chars; ++chars) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F) {
      char buf[12];
      std::snprintf(buf, sizeof buf, "U+%04X", c);
      out += buf;
      ++i;
      continue;
    }
    std::size_t n = 1;
    while (i + n < s.size() && continuation(s[i + n])) ++n;
    out.append(s.substr(i, n));
    i += n;
  }
  return out;
}

// The mends, as edits of the file's characters.
struct Edit {
  std::size_t at = 0;
  std::size_t erase = 0;  // bytes replaced by blanks
  std::string insert;     // inserted before `at`
};

class Mender {
 public:
  explicit Mender(const std::string& s) : s_(s) {}

  void run() {
    std::size_t line_begin = 0;
    for (line_ = 1; line_begin <= s_.size(); ++line_) {
      std::size_t line_end = s_.find('\n', line_begin);
      if (line_end == std::string::npos) line_end = s_.size();
      line(line_begin, line_end);
      line_begin = line_end + 1;
    }
    missing_value();
    end_of_loop();
  }

  std::vector<Edit> edits;
  std::vector<std::string> warnings;

 private:
  enum class Loop { none, tags, values };

  std::string_view word(const Word& w) const { return std::string_view(s_).substr(w.begin, w.end - w.begin); }
  void warn(std::size_t line, const std::string& what) {
    warnings.push_back("line " + std::to_string(line) + ": " + what);
  }

  void line(std::size_t begin, std::size_t end) {
    std::size_t i = begin;
    if (in_text_field_) {
      if (begin < end && s_[begin] == ';') {
        in_text_field_ = false;
        i = begin + 1;
      } else {
        return;
      }
    } else if (begin < end && s_[begin] == ';') {
      // A text field: one value that runs to a line beginning with ';'.
      Word w{begin, end, WordKind::value, false, true};
      in_text_field_ = true;
      if (loop_ != Loop::none) loop_ = Loop::values;
      else value(w);
      end_of_line();
      return;
    }
    std::vector<Word> loop_values;
    while (i < end) {
      if (blank(s_[i])) {
        ++i;
        continue;
      }
      if (s_[i] == '#') break;
      Word w{i, end};
      if (s_[i] == '\'' || s_[i] == '"') {
        w.bare = false;
        for (std::size_t j = i + 1; j < end; ++j)
          if (s_[j] == s_[i] && (j + 1 == end || blank(s_[j + 1]))) {
            w.end = j + 1;
            break;
          }
      } else {
        std::size_t j = i;
        while (j < end && !blank(s_[j])) ++j;
        w.end = j;
        w.kind = kind_of(word(w));
      }
      i = w.end;
      if (w.kind != WordKind::value) {
        keyword_or_tag(w);
        continue;
      }
      if (loop_ != Loop::none) {
        loop_ = Loop::values;
        loop_values.push_back(w);
        continue;
      }
      value(w);
    }
    if (!loop_values.empty()) loop_line(loop_values);
    end_of_line();
  }

  void keyword_or_tag(const Word& w) {
    if (w.kind == WordKind::tag && loop_ == Loop::tags) {
      loop_tags_.push_back(std::string(word(w)));
      return;
    }
    missing_value();
    end_of_pair();
    end_of_loop();
    loop_ = Loop::none;
    if (w.kind == WordKind::tag) {
      pending_tag_ = w;
      pending_line_ = line_;
    } else if (w.kind == WordKind::loop) {
      loop_ = Loop::tags;
      loop_tags_.clear();
    }
  }

  void value(const Word& w) {
    if (pending_tag_) {
      pair_tag_ = std::string(word(*pending_tag_));
      pending_tag_.reset();
      pair_value_ = w;
      extra_.clear();
      if (w.text_field) pair_value_.reset();
      else quote_if_not_ascii(w);
      return;
    }
    if (pair_value_) {
      extra_.push_back(w);  // a word after the value, on its line
      return;
    }
    quote_if_not_ascii(w);  // a value without a tag: gemmi says where
  }

  void quote_if_not_ascii(const Word& w) {
    if (!w.bare || ascii(word(w))) return;
    if (const char q = enclosing_quote(word(w))) {
      edits.push_back({w.begin, 0, std::string(1, q)});
      edits.push_back({w.end, 0, std::string(1, q)});
    }
  }

  // A tag followed by another tag, a reserved word or the end: its value is unknown.
  void missing_value() {
    if (!pending_tag_) return;
    edits.push_back({pending_tag_->end, 0, " ?"});
    warn(pending_line_, std::string(word(*pending_tag_)) + " has no value; it is read as unknown (?)");
    pending_tag_.reset();
  }

  void end_of_line() { end_of_pair(); }

  void end_of_loop() {
    if (joined_operators_ == 1)
      warn(first_operator_line_, "the symmetry operator written with blanks ('" + first_operator_ +
                                     "') is read as one value");
    else if (joined_operators_ > 1)
      warn(first_operator_line_, "the symmetry operators written with blanks ('" + first_operator_ +
                                     "' and " + std::to_string(joined_operators_ - 1) +
                                     " more) are read as one value each");
    joined_operators_ = 0;
  }

  // Words after the value of a tag on its line: one value of several words written
  // without quotes, or a unit or remark after a number.
  void end_of_pair() {
    if (!pair_value_) return;
    const Word v = *pair_value_;
    pair_value_.reset();
    if (extra_.empty()) return;
    const Word last = extra_.back();
    const std::string_view joined = std::string_view(s_).substr(v.begin, last.end - v.begin);
    const bool all_bare =
        v.bare && std::all_of(extra_.begin(), extra_.end(), [](const Word& w) { return w.bare; });
    const char q = all_bare && !cif_number(word(v)) ? enclosing_quote(joined) : 0;
    if (q != 0) {
      // (the value itself may hold non-ASCII characters: the quotes cover it as well)
      while (!edits.empty() && (edits.back().at == v.begin || edits.back().at == v.end)) edits.pop_back();
      edits.push_back({v.begin, 0, std::string(1, q)});
      edits.push_back({last.end, 0, std::string(1, q)});
      warn(line_, "the words after " + pair_tag_ + " are read as one value, " + q +
                      shown(joined, 60) + q + " (a value of several words belongs in quotes)");
    } else {
      const std::string_view rest = std::string_view(s_).substr(extra_.front().begin,
                                                                last.end - extra_.front().begin);
      for (const Word& w : extra_) edits.push_back({w.begin, w.end - w.begin, {}});
      warn(line_, "the text '" + shown(rest, 60) + "' after the value " + shown(word(v)) + " of " +
                      pair_tag_ + " is left out");
    }
    extra_.clear();
  }

  // Loop values of one line. In a loop of symmetry operators, a triplet written with
  // blanks ("x, y, z" or "x ,y ,z") is one value: its words are joined while a comma
  // ends one or begins the next, up to two commas.
  void loop_line(const std::vector<Word>& words) {
    const bool operators = std::any_of(loop_tags_.begin(), loop_tags_.end(), [](const std::string& t) {
      return t.size() > 4 && starts_with_nocase(std::string_view(t).substr(t.size() - 4), "_xyz");
    });
    for (std::size_t k = 0; k < words.size(); ++k) {
      if (operators && words[k].bare) {
        auto commas = [&](const Word& w) { return std::count(s_.begin() + long(w.begin), s_.begin() + long(w.end), ','); };
        long n = commas(words[k]);
        std::size_t m = k;
        while (m + 1 < words.size() && words[m + 1].bare &&
               (s_[words[m].end - 1] == ',' || s_[words[m + 1].begin] == ',')) {
          ++m;
          n += commas(words[m]);
        }
        if (m > k && n == 2) {
          const std::string_view joined =
              std::string_view(s_).substr(words[k].begin, words[m].end - words[k].begin);
          if (const char q = enclosing_quote(joined)) {
            edits.push_back({words[k].begin, 0, std::string(1, q)});
            edits.push_back({words[m].end, 0, std::string(1, q)});
            if (joined_operators_++ == 0) {
              first_operator_line_ = line_;
              first_operator_ = shown(joined, 60);
            }
            k = m;
            continue;
          }
        }
      }
      quote_if_not_ascii(words[k]);
    }
  }

  const std::string& s_;
  std::size_t line_ = 1;
  bool in_text_field_ = false;
  Loop loop_ = Loop::none;
  std::vector<std::string> loop_tags_;
  std::optional<Word> pending_tag_;  // a tag outside a loop, waiting for its value
  std::size_t pending_line_ = 0;
  std::string pair_tag_;
  std::optional<Word> pair_value_;  // the value of the last tag, while on its line
  std::vector<Word> extra_;         // words after it
  int joined_operators_ = 0;        // operators written with blanks in the current loop
  std::size_t first_operator_line_ = 0;
  std::string first_operator_;
};

}  // namespace

CifText mend_cif_text(std::string_view raw) {
  CifText cif;
  cif.file = file_characters(raw, cif.warnings);
  Mender m(cif.file);
  m.run();
  cif.warnings.insert(cif.warnings.end(), m.warnings.begin(), m.warnings.end());
  std::vector<Edit> edits = std::move(m.edits);
  std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at < b.at; });
  std::size_t from = 0;
  cif.text.reserve(cif.file.size() + 2 * edits.size());
  for (const Edit& e : edits) {
    cif.text.append(cif.file, from, e.at - from);
    cif.anchors.emplace_back(cif.text.size(), e.at);
    cif.text += e.insert;
    cif.text.append(e.erase, ' ');
    from = e.at + e.erase;
    cif.anchors.emplace_back(cif.text.size(), from);
  }
  cif.text.append(cif.file, from);
  return cif;
}

namespace {

// The place of an offset of the file itself.
CifPlace place_in_text_of_file(const CifText& cif, std::size_t file_at) {
  file_at = std::min(file_at, cif.file.size());
  CifPlace p;
  const std::string_view f = cif.file;
  const std::size_t line_begin = f.rfind('\n', file_at == 0 ? 0 : file_at - 1);
  const std::size_t from = (line_begin == std::string_view::npos || file_at == 0) ? 0 : line_begin + 1;
  p.line = 1 + static_cast<std::size_t>(std::count(f.begin(), f.begin() + long(from), '\n'));
  for (std::size_t i = from; i < file_at; ++i)
    if (!continuation(f[i])) ++p.column;
  std::size_t end = file_at;
  while (end < f.size() && !blank(f[end])) ++end;
  p.word = shown(f.substr(file_at, end - file_at));
  p.offset = file_at;
  return p;
}

}  // namespace

CifPlace place_in_file(const CifText& cif, std::size_t offset) {
  // The offset in the file: from the last anchor at or before it, not beyond the next.
  std::size_t at = std::min(offset, cif.text.size());
  std::size_t file_at = at;
  for (std::size_t k = cif.anchors.size(); k-- > 0;)
    if (cif.anchors[k].first <= at) {
      file_at = cif.anchors[k].second + (at - cif.anchors[k].first);
      if (k + 1 < cif.anchors.size()) file_at = std::min(file_at, cif.anchors[k + 1].second);
      break;
    }
  return place_in_text_of_file(cif, file_at);
}

std::string cif_parse_error(const CifText& cif, std::string_view message, std::size_t offset,
                            const CifLoopCount* loop) {
  if (loop && message.find("number of values") != std::string_view::npos) {
    std::string tags;
    for (std::size_t i = 0; i < loop->tags.size() && i < 3; ++i) tags += (i ? ", " : "") + loop->tags[i];
    if (loop->tags.size() > 3) tags += ", ...";
    return "line " + std::to_string(loop->line) + ": the loop of " + std::to_string(loop->tags.size()) +
           " tags (" + tags + ") holds " + std::to_string(loop->values) +
           " values, which do not fill its rows: a value is missing or one too many (a value "
           "of several words belongs in quotes)";
  }
  CifPlace p = place_in_file(cif, offset);
  auto at = [&](const CifPlace& q) {
    return "line " + std::to_string(q.line) + ", column " + std::to_string(q.column) + ": ";
  };
  const std::string_view f = cif.file;
  if (message.starts_with("unterminated text field")) {
    // gemmi names the end of the file: the field opens at the last line beginning
    // with ';' before it.
    std::size_t open = std::min(p.offset, f.empty() ? 0 : f.size() - 1);
    while (open > 0 && !(f[open] == ';' && f[open - 1] == '\n')) --open;
    return "line " + std::to_string(place_in_text_of_file(cif, open).line) +
           ": the text field opened by ';' at the start of this line is never closed (a line "
           "beginning with ';' closes it)";
  }
  if (message.starts_with("unterminated")) {
    // gemmi names the end of the line: the value opens at the last quote on it that
    // begins a word.
    const char q = message.find('\'') != std::string_view::npos ? '\'' : '"';
    std::size_t open = std::min(p.offset, f.empty() ? 0 : f.size() - 1);
    while (open > 0 && f[open - 1] != '\n' && !(f[open] == q && blank(f[open - 1]))) --open;
    return at(place_in_text_of_file(cif, open)) + "the value opened by " + q +
           " is not closed on its line (a quote closes a value only where a blank or the end of "
           "the line follows it)";
  }
  const std::size_t word_at = std::min(p.offset, f.size());
  const bool word_begins = word_at == 0 || blank(f[word_at - 1]);
  if (message.starts_with("expected block header") && word_begins)
    return at(p) + "'" + p.word + "' stands where the first data block should begin (a line data_NAME)";
  if (word_at < f.size()) {
    const auto ch = static_cast<unsigned char>(f[word_at]);
    if (ch >= 0x80 || ch < 0x20 || ch == 0x7F) {
      std::size_t n = 1;
      while (word_at + n < f.size() && continuation(f[word_at + n])) ++n;
      const std::string which = ch >= 0x80 ? "the character '" + std::string(f.substr(word_at, n)) + "'"
                                           : "the control character " + shown(f.substr(word_at, 1));
      return at(p) + which +
             " cannot stand in a tag, a block name or an unquoted value (a CIF 1.1 file holds "
             "other than ASCII characters only in quoted values, text fields and comments)";
    }
  }
  // The word before the place: loop_ must be followed by its tags.
  std::size_t before = word_at;
  while (before > 0 && blank(f[before - 1])) --before;
  if (before >= 5 && starts_with_nocase(f.substr(before - 5, 5), "loop_") &&
      (before == 5 || blank(f[before - 6])))
    return at(p) + "'" + p.word + "' follows loop_, which must be followed by its tags (_name)";
  if (p.word.empty()) return at(p) + "the file ends where a value was expected";
  if (p.word[0] == '_' || starts_with_nocase(p.word, "loop_") || starts_with_nocase(p.word, "data_"))
    return at(p) + "'" + p.word + "' stands where a value was expected (a tag or loop_ after loop_ "
           "needs its tags first)";
  return at(p) + "'" + p.word + "' stands where a tag (_name), loop_ or data_NAME was expected: a "
         "value without its tag, or a value of several words without quotes";
}

}  // namespace kaven
