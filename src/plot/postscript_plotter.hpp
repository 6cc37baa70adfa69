// The pen-plotter primitives written as a PostScript page: plain text, one record per
// drawing step, short procedures defined in a fixed prolog (m moveto, l lineto, s show,
// st stroke, rl rlineto). Every coordinate is centimetres times 28.34645 in a
// fixed-point field; a number too wide for its field is written as asterisks.
#pragma once
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "plot/pen_plotter.hpp"

namespace kaven {

class Listing;

class PostScriptPlotter final : public PenPlotter {
 public:
  // `messages` receives the "number is to large" line of `number` (may be null).
  explicit PostScriptPlotter(std::ostream& out, Listing* messages = nullptr)
      : out_(out), messages_(messages) {}

  void plots() override;
  void transl(float x, float y) override;
  void fonts(float size, std::string_view name) override;
  void newpen(int i) override;
  void dash(int i) override;
  void rgbpen(float r, float g, float b) override;
  void linewidth(float points) override;
  void plot(float x, float y, int ipen) override;
  void symbol(float x, float y, float height, std::string_view text, float angle, int n) override;
  void number(float x, float y, float height, float value, float angle, int ndec) override;
  void frame(int i, float x1, float x2, float y1, float y2) override;
  void line(float dx, std::span<const float> y, int n) override;
  void line1(std::span<const float> x, std::span<const float> y, float w, int n) override;
  void line2(float dx, std::span<const float> y, int k, int n) override;
  void axis(float x, float y, std::string_view text, int n, float length, float angle, float first,
            float delta) override;
  void symbo1(int nshown, int nall, float drumin) override;

 private:
  void record(std::string_view r) { out_ << r << '\n'; }
  // The records of a polyline (tens of thousands of points for a long scan) are
  // formatted into memory and written in pieces of 64 kB, and the rest at its end.
  void write_if_large() {
    if (text_.size() >= 65536) write();
  }
  void write() {
    out_.write(text_.data(), static_cast<std::streamsize>(text_.size()));
    text_.clear();
  }
  template <class Points>
  void lineto_records(const Points& p, std::size_t from, std::size_t to, int w,
                      std::size_t per_record);
  std::ostream& out_;
  std::string text_;
  Listing* messages_;
};

// A text as the body of a PostScript string literal: backslashes and unmatched
// parentheses escaped, so that a title such as "YIG (garnet" or "a\b" cannot end the
// string early or swallow the next record. Balanced parentheses need no escape.
std::string postscript_escape(std::string_view text);

// Whether a file starts with the first records of this plotter's prolog (a plot file
// kaven may replace).
bool starts_as_kaven_postscript(std::istream& is);

}  // namespace kaven
