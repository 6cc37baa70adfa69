// Back ends that do not write a file: one that keeps every call with its arguments (for
// tests of the page), and one that draws on two back ends at once (the PostScript page
// and its SVG copy from a single pass over the run's values).
#pragma once
#include <string>
#include <vector>

#include "plot/pen_plotter.hpp"

namespace kaven {

// One primitive call. `args` holds the numeric arguments in the order of the call:
//   plots {}            transl {x, y}          fonts {size} text=name
//   newpen {i}          dash {i}               plot {x, y, ipen}
//   rgbpen {r, g, b}    linewidth {points}
//   symbol {x, y, height, angle, n} text       number {x, y, height, value, angle, ndec}
//   frame {i, x1, x2, y1, y2}                  line {dx, n} y
//   line1 {w, n} x y    line2 {dx, k, n} y     axis {x, y, n, length, angle, first, delta} text
//   symbo1 {nshown, nall, drumin}
struct PlotCall {
  std::string op;
  std::vector<double> args;
  std::string text;
  std::vector<float> x, y;
};

class RecordingPlotter final : public PenPlotter {
 public:
  std::vector<PlotCall> calls;

  void plots() override { add("plots", {}); }
  void transl(float x, float y) override { add("transl", {x, y}); }
  void fonts(float size, std::string_view name) override { add("fonts", {size}, name); }
  void newpen(int i) override { add("newpen", {double(i)}); }
  void dash(int i) override { add("dash", {double(i)}); }
  void rgbpen(float r, float g, float b) override { add("rgbpen", {r, g, b}); }
  void linewidth(float points) override { add("linewidth", {points}); }
  void plot(float x, float y, int ipen) override { add("plot", {x, y, double(ipen)}); }
  void symbol(float x, float y, float height, std::string_view text, float angle, int n) override {
    add("symbol", {x, y, height, angle, double(n)}, text);
  }
  void number(float x, float y, float height, float value, float angle, int ndec) override {
    add("number", {x, y, height, value, angle, double(ndec)});
  }
  void frame(int i, float x1, float x2, float y1, float y2) override {
    add("frame", {double(i), x1, x2, y1, y2});
  }
  void line(float dx, std::span<const float> y, int n) override {
    add("line", {dx, double(n)}).y.assign(y.begin(), y.end());
  }
  void line1(std::span<const float> x, std::span<const float> y, float w, int n) override {
    PlotCall& c = add("line1", {w, double(n)});
    c.x.assign(x.begin(), x.end());
    c.y.assign(y.begin(), y.end());
  }
  void line2(float dx, std::span<const float> y, int k, int n) override {
    add("line2", {dx, double(k), double(n)}).y.assign(y.begin(), y.end());
  }
  void axis(float x, float y, std::string_view text, int n, float length, float angle, float first,
            float delta) override {
    add("axis", {x, y, double(n), length, angle, first, delta}, text);
  }
  void symbo1(int nshown, int nall, float drumin) override {
    add("symbo1", {double(nshown), double(nall), drumin});
  }

 private:
  PlotCall& add(std::string op, std::vector<double> args, std::string_view text = {}) {
    calls.push_back({std::move(op), std::move(args), std::string(text), {}, {}});
    return calls.back();
  }
};

class PlotterPair final : public PenPlotter {
 public:
  PlotterPair(PenPlotter& a, PenPlotter& b) : a_(a), b_(b) {}

  void plots() override {
    a_.plots();
    b_.plots();
  }
  void transl(float x, float y) override {
    a_.transl(x, y);
    b_.transl(x, y);
  }
  void fonts(float size, std::string_view name) override {
    a_.fonts(size, name);
    b_.fonts(size, name);
  }
  void newpen(int i) override {
    a_.newpen(i);
    b_.newpen(i);
  }
  void dash(int i) override {
    a_.dash(i);
    b_.dash(i);
  }
  void rgbpen(float r, float g, float b) override {
    a_.rgbpen(r, g, b);
    b_.rgbpen(r, g, b);
  }
  void linewidth(float points) override {
    a_.linewidth(points);
    b_.linewidth(points);
  }
  void plot(float x, float y, int ipen) override {
    a_.plot(x, y, ipen);
    b_.plot(x, y, ipen);
  }
  void symbol(float x, float y, float height, std::string_view text, float angle, int n) override {
    a_.symbol(x, y, height, text, angle, n);
    b_.symbol(x, y, height, text, angle, n);
  }
  void number(float x, float y, float height, float value, float angle, int ndec) override {
    a_.number(x, y, height, value, angle, ndec);
    b_.number(x, y, height, value, angle, ndec);
  }
  void frame(int i, float x1, float x2, float y1, float y2) override {
    a_.frame(i, x1, x2, y1, y2);
    b_.frame(i, x1, x2, y1, y2);
  }
  void line(float dx, std::span<const float> y, int n) override {
    a_.line(dx, y, n);
    b_.line(dx, y, n);
  }
  void line1(std::span<const float> x, std::span<const float> y, float w, int n) override {
    a_.line1(x, y, w, n);
    b_.line1(x, y, w, n);
  }
  void line2(float dx, std::span<const float> y, int k, int n) override {
    a_.line2(dx, y, k, n);
    b_.line2(dx, y, k, n);
  }
  void axis(float x, float y, std::string_view text, int n, float length, float angle, float first,
            float delta) override {
    a_.axis(x, y, text, n, length, angle, first, delta);
    b_.axis(x, y, text, n, length, angle, first, delta);
  }
  void symbo1(int nshown, int nall, float drumin) override {
    a_.symbo1(nshown, nall, drumin);
    b_.symbo1(nshown, nall, drumin);
  }

 private:
  PenPlotter& a_;
  PenPlotter& b_;
};

}  // namespace kaven
