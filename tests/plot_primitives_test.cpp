// The PostScript page is a sequence of fixed-column records: a coordinate one column
// too wide, a stroke missing its move or an unescaped parenthesis breaks the page for
// every viewer. Each case compares the whole records a call writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "plot/postscript_plotter.hpp"
#include "plot/svg_plotter.hpp"
#include "report/listing.hpp"
#include "report/record_format.hpp"

namespace {

using kaven::Listing;
using kaven::PostScriptPlotter;
using Records = std::vector<std::string>;

Records split(const std::string& text) {
  Records out;
  std::istringstream is(text);
  for (std::string line; std::getline(is, line);) out.push_back(line);
  return out;
}

// Records written by `draw` on a fresh PostScript page, and the listing lines.
struct Written {
  Records page, listing;
};
template <class Draw>
Written written(Draw draw) {
  std::ostringstream page, listing;
  Listing messages(listing);
  PostScriptPlotter ps(page, &messages);
  draw(ps);
  return {split(page.str()), split(listing.str())};
}

TEST(PostScriptPrimitives, PrologDefinesTheProceduresAndTurnsThePageToLandscape) {
  const Records r = written([](PostScriptPlotter& p) { p.plots(); }).page;
  const Records expected = {
      "%!" + std::string(68, ' '),
      "/m  {moveto} def /l  {lineto} def /s  {show  } def /st {stroke} def ",
      "/rl {rlineto} def" + std::string(53, ' '),
      "/s  {show  } def" + std::string(54, ' '),
      "610 20 translate 90 rotate" + std::string(44, ' '),
  };
  EXPECT_EQ(r, expected);
}

TEST(PostScriptPrimitives, NumberFieldsThatFitOverflowOrFailTheLimit) {
  struct Case {
    float value;
    int ndec;
    std::string shown;  // empty: nothing drawn, the listing says why
  };
  const Case cases[] = {
      {999.9f, 52, "(*****) s"},        // passes the limit, needs six columns
      {1000.0f, 52, "(*****) s"},       // the limit itself passes
      {1000.5f, 52, ""},                // above 10^(5-2)
      {-12345.67f, 72, "(*******) s"},  // negative values always pass the limit test
      {0.5612f, 64, "(0.5612) s"},
      {100.0f, 92, "(   100.00) s"},
      {0.4f, 0, "( 0) s"},  // integers: one column more than the digits
      {-3.2f, 0, "(-3) s"},
      {2.5f, -1, "( 3) s"},  // halves away from zero
      {-2.5f, -1, "(-3) s"},
      {-12.0f, -1, "(-12) s"},
      {8.0f, 50, "(   8.) s"},  // five wide, no decimals
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " ndec " + std::to_string(c.ndec));
    const Written w =
        written([&](PostScriptPlotter& p) { p.number(25.3f, 6.2f, 0.3f, c.value, 0, c.ndec); });
    Records expected = {" 717.2 175.7 m"};
    if (!c.shown.empty()) expected.push_back(c.shown);
    EXPECT_EQ(w.page, expected);
    EXPECT_EQ(w.listing, c.shown.empty() ? Records{"the number is to large"} : Records{});
  }
}

TEST(PostScriptPrimitives, Line1SplitsOnceAtAWrapAround) {
  // A branch leaving the right edge and coming back at the left: two strokes, the
  // second starting at the first point after the jump.
  const std::vector<float> x = {18, 19, 0.5f, 1.5f}, y = {2.5f, 3, 3.5f, 4};
  EXPECT_EQ(written([&](PostScriptPlotter& p) { p.line1(x, y, 20, 4); }).page,
            (Records{" 510.2  70.9 m", " 510.2  70.9 l 538.6  85.0 l", "st", "  14.2  99.2 m",
                     "  14.2  99.2 l  42.5 113.4 l", "st"}));
  // The same jump only at the last point: one stroke, the first point drawn again.
  const std::vector<float> x2 = {1.5f, 2, 2.5f, 19};
  EXPECT_EQ(written([&](PostScriptPlotter& p) { p.line1(x2, y, 20, 4); }).page,
            (Records{"  42.5  70.9 m", "  42.5  70.9 l  56.7  85.0 l  70.9  99.2 l 538.6 113.4 l",
                     "st"}));
  // Five points to a record; a coordinate too wide for its field shows as asterisks.
  const std::vector<float> x3 = {1, 2, 3, 4, 5, 358}, y3 = {1, 1, 1, 1, 1, 1};
  EXPECT_EQ(written([&](PostScriptPlotter& p) { p.line1(x3, y3, 360, 6); }).page,
            (Records{"  28.3  28.3 m",
                     "  28.3  28.3 l  56.7  28.3 l  85.0  28.3 l 113.4  28.3 l 141.7  28.3 l",
                     "******  28.3 l", "st"}));
}

TEST(PostScriptPrimitives, Line2ShiftsTheArrayAndLeavesGapsOut) {
  const std::vector<float> y = {10, 11, 12, 13, 14};
  // Shifted two steps left: y(3), y(4), y(5) at x = 1, 1 + dx, 1 + 2 dx.
  EXPECT_EQ(written([&](PostScriptPlotter& p) { p.line2(1, y, -2, 5); }).page,
            (Records{"    28.3   340.2 m", "    56.7   368.5 l", "    85.0   396.9 l", "st"}));
  // Shifted right: the points pushed beyond the grid are not drawn.
  EXPECT_EQ(written([&](PostScriptPlotter& p) { p.line2(0.5f, y, 3, 5); }).page,
            (Records{"    70.9   283.5 m", "    85.0   311.8 l", "st"}));
  // A step without a measurement is left out and its neighbours joined; a first point
  // in a gap makes the next one the move.
  const std::vector<float> gaps = {1e20f, 11, 1e20f, 13, 2e20f};
  EXPECT_EQ(written([&](PostScriptPlotter& p) { p.line2(1, gaps, 0, 5); }).page,
            (Records{"    56.7   311.8 m", "   113.4   368.5 l", "st"}));
  const std::vector<float> none = {1e20f, 1e20f};
  EXPECT_EQ(written([&](PostScriptPlotter& p) { p.line2(1, none, 0, 2); }).page, Records{"st"});
}

TEST(PostScriptPrimitives, LineWritesFourPointsToARecord) {
  const std::vector<float> y = {5, 6, 7, 8, 9, 10};
  EXPECT_EQ(written([&](PostScriptPlotter& p) { p.line(0.1f, y, 6); }).page,
            (Records{"    28.3   141.7 m",
                     "    31.2   170.1 l    34.0   198.4 l    36.9   226.8 l    39.7   255.1 l",
                     "    42.5   283.5 l", "st"}));
}

TEST(PostScriptPrimitives, ALongCurveIsWrittenWholeThoughInPieces) {
  // 30001 points (the scan of a full turn at a fine step, more than the 64 kB pieces the
  // page is written in): every point once, four to a record, in order.
  std::vector<float> y(30001);
  for (std::size_t i = 0; i < y.size(); ++i) y[i] = static_cast<float>(5 + 4 * std::sin(0.01 * double(i)));
  const float dx = 20.0f / 30000;
  const Records r = written([&](PostScriptPlotter& p) { p.line(dx, y, 30001); }).page;
  ASSERT_EQ(r.size(), 2u + 7500u);
  auto point = [&](std::size_t i) {
    return kaven::rec::F(8, 1, (1.0 + double(i) * dx) * double(kaven::kPointsPerCm)) +
           kaven::rec::F(8, 1, double(y[i]) * double(kaven::kPointsPerCm));
  };
  EXPECT_EQ(r.front(), point(0) + " m");
  for (std::size_t k = 1; k + 1 < r.size(); ++k) {
    std::string expected;
    for (std::size_t i = 4 * k - 3; i <= 4 * k; ++i) expected += point(i) + " l";
    ASSERT_EQ(r[k], expected) << "record " << k;
  }
  EXPECT_EQ(r.back(), "st");
}

TEST(PostScriptPrimitives, FrameGoesRoundTheRectangleEvenWithNegativeWidth) {
  EXPECT_EQ(written([](PostScriptPlotter& p) { p.frame(1, 1, 21, 2.5f, 4.5f); }).page,
            (Records{"newpath   28.3  70.9 m  0   56.7 rl  566.9 0 rl 0  -56.7 rl closepath ",
                     "  0.5 setlinewidth st"}));
  EXPECT_EQ(written([](PostScriptPlotter& p) { p.frame(1, 21, 1, 2.5f, 4.5f); }).page,
            (Records{"newpath  595.3  70.9 m  0   56.7 rl -566.9 0 rl 0  -56.7 rl closepath ",
                     "  0.5 setlinewidth st"}));
}

TEST(PostScriptPrimitives, FontsTranslationPensAndDashes) {
  const Records r = written([](PostScriptPlotter& p) {
                      p.fonts(0.5f, "Times-Bold");
                      p.fonts(0.4f, "Times-Roman");
                      p.fonts(0.3f, "Symbol");
                      p.fonts(0.35f, "Courier");
                      p.transl(-0.5f, 0);
                      p.newpen(1);
                      p.newpen(4);  // not a pen: nothing
                      p.dash(3);
                      p.dash(-1);  // not a pattern: nothing
                      p.plot(1, 2, 3);
                      p.plot(21, 2, 2);
                      p.plot(5, 5, 1);  // not a pen code: nothing
                      p.plot(0, 0, 999);
                    }).page;
  EXPECT_EQ(r,
            (Records{"/Times-Bold           findfont  14 scalefont setfont",
                     "/Times-Roman          findfont  11 scalefont setfont",
                     "/Symbol               findfont   8 scalefont setfont",
                     "/Courier              findfont   9 scalefont setfont",
                     "    -14.17      0.00  translate", " 1 0 0 setrgbcolor", "[6 4 2 4] 0 setdash",
                     "    28.3    56.7 m", "   595.3    56.7 l st ", "showpage"}));
}

TEST(PostScriptPrimitives, SymbolTurnsTextAndEscapesIt) {
  // Turned by 90 degrees: the turn is undone after the text.
  EXPECT_EQ(written([](PostScriptPlotter& p) {
              p.symbol(0.7f, 15.5f, 0.5f, "I-calc (cps)", 90, 12);
            }).page,
            (Records{"    19.8   439.4 m", "   90.00 rotate", "(I-calc (cps)) s",
                     "  19.8 439.4 m  -90.00 rotate"}));
  // Negative angles are ignored; the text is cut or blank-padded to n characters; an
  // unbalanced parenthesis and a backslash cannot end the string early.
  EXPECT_EQ(
      written([](PostScriptPlotter& p) { p.symbol(1, 20.5f, 0.4f, "YIG (a\\b", -30, 12); }).page,
      (Records{"    28.3   581.1 m", "(YIG \\(a\\\\b    ) s"}));
  EXPECT_EQ(written([](PostScriptPlotter& p) { p.symbol(22, 20, 0.3f, "Date: now", 0, 5); }).page,
            (Records{"   623.6   566.9 m", "(Date:) s"}));
  EXPECT_EQ(kaven::postscript_escape("a)(b (c) d\\"), "a\\)\\(b (c) d\\\\");
}

TEST(PostScriptPrimitives, AxisTicksEveryCentimetreLabelsEveryFifth) {
  const Records r =
      written([](PostScriptPlotter& p) { p.axis(1, 2.5f, "y", 1, 20, 0, -66, 4.1f); }).page;
  ASSERT_EQ(r.size(), 3u + 21u + 5u * 2u);
  EXPECT_EQ(r[0], "  28.3  70.9 m  595.3  70.9 l st  297.6  28.3 m ");
  EXPECT_EQ(r[1], "(y) s");
  EXPECT_EQ(r[2], "/Courier-Bold findfont [10 0 0 12 0 0] makefont setfont");
  EXPECT_EQ(r[3], "  28.3  70.9 m  28.3  62.4 l st ");  // t = 0, then its label
  EXPECT_EQ(r[4], "   1.4  48.2 m");
  EXPECT_EQ(r[5], "( -66.00) s");
  EXPECT_EQ(r[6], "  56.7  70.9 m  56.7  62.4 l st ");             // t = 1, no label
  EXPECT_EQ(r[r.size() - 3], " 595.3  70.9 m 595.3  62.4 l st ");  // t = 20
  EXPECT_EQ(r[r.size() - 2], " 568.3  48.2 m");
  EXPECT_EQ(r[r.size() - 1], "(  16.00) s");
}

TEST(PostScriptPrimitives, LegendOfTheDiagram) {
  auto legend = [](int nshown, int nall) {
    return written([&](PostScriptPlotter& p) { p.symbo1(nshown, nall, 1.0f); }).page;
  };
  const Records tail = {"   623.6    93.5 m",
                        "(are plotted in the) s",
                        "   623.6    76.5 m",
                        "/Symbol findfont [14 0 0 14 0 0] makefont setfont",
                        "(y-l) s",
                        "/Times-Roman findfont [14 0 0 14 0 0] makefont setfont",
                        "(-diagram) s"};
  Records all = {"/Times-Roman findfont [14 0 0 14 0 0] makefont setfont", "   623.6   110.6 m",
                 "(All events) s"};
  all.insert(all.end(), tail.begin(), tail.end());
  EXPECT_EQ(legend(7, 7), all);
  Records some = {"/Times-Roman findfont [14 0 0 14 0 0] makefont setfont", "   623.6   110.6 m",
                  "(Events with I(cps) >) s", " 737.0 110.6 m", "(     1.00) s"};
  some.insert(some.end(), tail.begin(), tail.end());
  EXPECT_EQ(legend(3, 7), some);
  Records none = {"/Times-Roman findfont [14 0 0 14 0 0] makefont setfont", "   623.6   110.6 m",
                  "(No events) s"};
  none.insert(none.end(), tail.begin(), tail.end());
  EXPECT_EQ(legend(0, 7), none);
}

// ---- the SVG page -----------------------------------------------------------------

std::string svg_of(auto draw) {
  std::ostringstream os;
  kaven::SvgPlotter svg(os);
  svg.plots();
  draw(svg);
  svg.plot(0, 0, 999);
  return os.str();
}

TEST(SvgPrimitives, SameSheetCoordinatesPensAndDashesAsThePostScriptPage) {
  const std::string s = svg_of([](kaven::SvgPlotter& p) {
    p.newpen(1);
    p.dash(1);
    p.plot(1, 1, 3);
    p.plot(2, 1, 2);
    p.frame(1, 1, 21, 2.5f, 4.5f);
  });
  EXPECT_NE(s.find("viewBox=\"0 0 842 595\""), std::string::npos) << s;
  // x from 20 points at the left, y up from 610 points below the top edge.
  EXPECT_NE(s.find("<path d=\"M48.35 581.65L76.69 581.65\" stroke=\"#ff0000\" "
                   "stroke-width=\"1.00\" stroke-dasharray=\"5 3\"/>"),
            std::string::npos)
      << s;
  EXPECT_NE(s.find("<path d=\"M48.35 539.13L48.35 482.44L615.28 482.44L615.28 539.13Z\" "
                   "stroke=\"#ff0000\" stroke-width=\"0.50\" stroke-dasharray=\"5 3\"/>"),
            std::string::npos)
      << s;
}

TEST(SvgPrimitives, ALongCurveIsOnePathWrittenWhole) {
  // 30001 points, written in pieces of 64 kB: one path through all of them, the page
  // closed after it.
  std::vector<float> y(30001);
  for (std::size_t i = 0; i < y.size(); ++i) y[i] = static_cast<float>(5 + 4 * std::sin(0.01 * double(i)));
  const std::string s = svg_of([&](kaven::SvgPlotter& p) { p.line(20.0f / 30000, y, 30001); });
  const std::size_t path = s.find("<path d=\"M48.35 ");
  ASSERT_NE(path, std::string::npos);
  EXPECT_EQ(s.find("<path", path + 1), std::string::npos);
  const std::size_t end = s.find('"', path + 9);
  const std::string d = s.substr(path + 9, end - path - 9);
  EXPECT_EQ(std::count(d.begin(), d.end(), 'L'), 30000);
  EXPECT_EQ(std::count(d.begin(), d.end(), 'M'), 1);
  // the last point: x = 1 + 20 cm, y(30000), on the sheet
  char last[64];
  std::snprintf(last, sizeof last, "L%.2f %.2f", 20 + 21 * double(kaven::kPointsPerCm),
                610 - double(y.back()) * double(kaven::kPointsPerCm));
  EXPECT_TRUE(d.ends_with(last)) << d.substr(d.size() - 40) << " " << last;
  EXPECT_TRUE(s.ends_with("</g>\n</svg>\n"));
}

TEST(SvgPrimitives, TextsTurnContinueAndShowGreekLetters) {
  const std::string s = svg_of([](kaven::SvgPlotter& p) {
    p.fonts(0.5f, "Times-Roman");
    p.symbol(0.7f, 15.5f, 0.5f, "I<obs> & (cps)", 90, 14);
    p.symbo1(1, 1, 1.0f);
  });
  EXPECT_NE(s.find("<text transform=\"translate(39.84 170.63) rotate(-90.00)\" stroke=\"none\">"
                   "<tspan class=\"serif\" font-family=\"Times\" font-size=\"14.00\" "
                   "fill=\"#000000\">I&lt;obs&gt; &amp; (cps)</tspan></text>"),
            std::string::npos)
      << s;
  // psi-lambda and "-diagram" on one line: the second text goes on where the first ended.
  EXPECT_NE(s.find(">ψ−λ</tspan><tspan class=\"serif\" font-family=\"Times\" "
                   "font-size=\"14.00\" fill=\"#000000\">-diagram</tspan></text>"),
            std::string::npos)
      << s;
  EXPECT_EQ(kaven::symbol_font_text("q-j: Y"), "θ−ϕ: Ψ");
}

}  // namespace
