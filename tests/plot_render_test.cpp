// The PostScript page and its SVG copy rendered to pixels by the programs a user opens
// them with (Ghostscript, librsvg) must show the same drawing: the frames, the curves
// and the psi-lambda diagram on the same pixels. Texts are left out of the comparison:
// the two renderers use different fonts of the same family.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef KAVEN_HAVE_PNG
#include <png.h>
#endif

#include "planning/energy_map.hpp"
#include "plot/energy_pages.hpp"
#include "plot/postscript_plotter.hpp"
#include "plot/recording_plotter.hpp"
#include "plot/scan_page.hpp"
#include "plot/svg_plotter.hpp"
#include "plot_fixture.hpp"
#include "run_fixture.hpp"
#include "shell/energy_plan_command.hpp"

namespace {

namespace fs = std::filesystem;

bool have_program(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string read_file(const fs::path& p) {
  std::ifstream is(p);
  std::stringstream ss;
  ss << is.rdbuf();
  return ss.str();
}

struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  const unsigned char* at(int u, int v) const {
    return &rgb[3 * (static_cast<std::size_t>(v) * width + u)];
  }
};

#ifdef KAVEN_HAVE_PNG
Image read_png(const fs::path& path) {
  Image img;
  png_image im;
  std::memset(&im, 0, sizeof im);
  im.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&im, path.c_str())) return img;
  im.format = PNG_FORMAT_RGB;
  img.rgb.resize(PNG_IMAGE_SIZE(im));
  png_color white{255, 255, 255};
  if (!png_image_finish_read(&im, &white, img.rgb.data(), 0, nullptr)) return Image{};
  img.width = static_cast<int>(im.width);
  img.height = static_cast<int>(im.height);
  return img;
}
#endif

// The portrait sheet as Ghostscript renders it, turned so that the drawing is upright
// as on the SVG sheet (the prolog's 90 degree turn undone).
Image upright(const Image& portrait) {
  Image out;
  out.width = portrait.height;
  out.height = portrait.width;
  out.rgb.resize(portrait.rgb.size());
  for (int v = 0; v < out.height; ++v)
    for (int u = 0; u < out.width; ++u)
      std::memcpy(&out.rgb[3 * (static_cast<std::size_t>(v) * out.width + u)],
                  portrait.at(v, portrait.height - 1 - u), 3);
  return out;
}

bool ink(const unsigned char* p) { return p[0] + p[1] + p[2] < 3 * 200; }
bool red(const unsigned char* p) { return p[0] > 150 && p[1] < 130 && p[2] < 130; }
// A colour of the energy map's scale (not black, white or grey).
bool hued(const unsigned char* p) {
  return std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 60;
}

// A rectangle of the page in cm (page coordinates), as pixels of the upright sheet.
struct Box {
  int u0, v0, u1, v1;
};
Box box_cm(double x0, double y0, double x1, double y1, double px_per_pt) {
  auto u = [&](double x) { return static_cast<int>((20 + x * 28.34645) * px_per_pt); };
  auto v = [&](double y) { return static_cast<int>((610 - y * 28.34645) * px_per_pt); };
  return {u(x0), v(y1), u(x1), v(y0)};
}

struct Agreement {
  long a = 0, b = 0;              // marked pixels in each picture
  long a_alone = 0, b_alone = 0;  // marked pixels with no counterpart within the radius
};

// Pixels marked in one picture that have a marked pixel within `radius` in the other.
template <class Mark>
Agreement compare(const Image& a, const Image& b, const Box& box, int radius, Mark mark) {
  Agreement r;
  auto near_mark = [&](const Image& img, int u, int v) {
    for (int dv = -radius; dv <= radius; ++dv)
      for (int du = -radius; du <= radius; ++du) {
        const int uu = u + du, vv = v + dv;
        if (uu >= 0 && vv >= 0 && uu < img.width && vv < img.height && mark(img.at(uu, vv)))
          return true;
      }
    return false;
  };
  for (int v = box.v0; v <= box.v1; ++v)
    for (int u = box.u0; u <= box.u1; ++u) {
      if (mark(a.at(u, v))) {
        ++r.a;
        if (!near_mark(b, u, v)) ++r.a_alone;
      }
      if (mark(b.at(u, v))) {
        ++r.b;
        if (!near_mark(a, u, v)) ++r.b_alone;
      }
    }
  return r;
}

int run(const std::string& command) { return std::system(command.c_str()); }

TEST(PlotRendering, PostScriptAndSvgShowTheSameDrawing) {
#ifndef KAVEN_HAVE_PNG
  GTEST_SKIP() << "built without libpng (Debian package libpng-dev): the rendered pages "
                  "cannot be read back";
#else
  if (!have_program("gs"))
    GTEST_SKIP() << "Ghostscript (gs, Debian package ghostscript) not found: "
                    "the PostScript page is not rendered";
  if (!have_program("rsvg-convert"))
    GTEST_SKIP() << "rsvg-convert (Debian package librsvg2-bin) not found: "
                    "the SVG page is not rendered";

  kaven_test::ScratchDir dir;
  const fs::path ps_path = dir.path() / "page.ps", svg_path = dir.path() / "page.svg";
  {
    const kaven_test::HandMadeRun h = kaven_test::hand_made_run(true);
    std::ofstream ps_file(ps_path), svg_file(svg_path);
    kaven::PostScriptPlotter ps(ps_file);
    kaven::SvgPlotter svg(svg_file);
    kaven::PlotterPair both(ps, svg);
    kaven::uplot(both, h.par, h.result, kaven::Zeit::Now{9, 9, 2001, 1, 46, 40, 0});
  }
  // 144 pixels per inch: two pixels per point.
  const fs::path ps_png = dir.path() / "ps.png", svg_png = dir.path() / "svg.png";
  const fs::path gs_log = dir.path() / "gs.log";
  ASSERT_EQ(run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -sPAPERSIZE=a4 -dFIXEDMEDIA "
                "-r144 -sOutputFile=" +
                ps_png.string() + " " + ps_path.string() + " >" + gs_log.string() + " 2>&1"),
            0)
      << read_file(gs_log);
  EXPECT_EQ(read_file(gs_log), "");  // no error, no warning
  ASSERT_EQ(run("rsvg-convert -d 144 -p 144 -o " + svg_png.string() + " " + svg_path.string()), 0);

  const Image from_ps = upright(read_png(ps_png));
  const Image from_svg = read_png(svg_png);
  ASSERT_GT(from_ps.width, 0);
  ASSERT_EQ(from_ps.width, from_svg.width);
  ASSERT_EQ(from_ps.height, from_svg.height);
  ASSERT_EQ(from_svg.width, 1684);  // A4 landscape

  const double px = 2.0;
  struct Region {
    const char* what;
    Box box;
    bool (*mark)(const unsigned char*);
    long at_least;  // pixels the region's drawing covers at the very least
  };
  const Region regions[] = {
      // frames, band lines, curves and error bars (no text inside the frames)
      {"frames and curves", box_cm(0.95, 2.45, 21.05, 20.35, px), ink, 8000},
      {"calculated curve", box_cm(1.05, 4.6, 20.95, 11.9, px), ink, 1000},
      {"measured curve", box_cm(1.05, 12.7, 20.95, 20.2, px), red, 1000},
      {"psi-lambda diagram", box_cm(1.05, 2.55, 20.95, 4.45, px), ink, 1000},
  };
  for (const Region& r : regions) {
    SCOPED_TRACE(r.what);
    const Agreement a = compare(from_ps, from_svg, r.box, 3, r.mark);
    EXPECT_GT(a.a, r.at_least);
    EXPECT_GT(a.b, r.at_least);
    // Within 3 pixels (half a millimetre) of each other, but for a few end pixels.
    EXPECT_LT(a.a_alone, a.a / 100 + 5) << a.a_alone << " of " << a.a;
    EXPECT_LT(a.b_alone, a.b / 100 + 5) << a.b_alone << " of " << a.b;
  }
  // The text outside the frames is there in both pictures: the page is not blank.
  const Agreement column = compare(from_ps, from_svg, box_cm(21.6, 2.5, 28, 21, px), 0, ink);
  EXPECT_GT(column.a, 2000);
  EXPECT_GT(column.b, 2000);
#endif
}

// The pages of both bundled examples open in Ghostscript and librsvg without a word.
TEST(PlotRendering, ExamplePagesRenderWithoutErrors) {
  if (!have_program("gs") || !have_program("rsvg-convert"))
    GTEST_SKIP() << "Ghostscript (gs) or rsvg-convert not found (Debian packages ghostscript, "
                    "librsvg2-bin): the example pages are not rendered";
  struct Example {
    kaven_test::Lines input;
    std::string plot;
  };
  const Example examples[] = {{kaven_test::yig_lines(), "yig"}, {kaven_test::si_lines(), "si222"}};
  for (const Example& e : examples) {
    SCOPED_TRACE(e.plot);
    kaven_test::Session s;
    ASSERT_TRUE(s.run(e.input).outcome.result.plotted);
    const fs::path base = s.dir.path() / e.plot;
    const fs::path log = s.dir.path() / "render.log";
    EXPECT_EQ(
        run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -sPAPERSIZE=a4 -r72 -sOutputFile=" +
            base.string() + "-ps.png " + base.string() + ".ps >" + log.string() + " 2>&1"),
        0);
    EXPECT_EQ(read_file(log), "");
    EXPECT_EQ(run("rsvg-convert -o " + base.string() + "-svg.png " + base.string() + ".svg >" +
                  log.string() + " 2>&1"),
              0);
    EXPECT_EQ(read_file(log), "");
  }
}

// The energy map's page: its coloured tracks of widths of their own, the grey band of
// the energies out of reach and the dashed line of the input's energy on the same pixels
// in both renderings, and neither renderer has a word to say.
TEST(PlotRendering, EnergyMapPageShowsTheSameTracks) {
#ifndef KAVEN_HAVE_PNG
  GTEST_SKIP() << "built without libpng (Debian package libpng-dev)";
#else
  if (!have_program("gs") || !have_program("rsvg-convert"))
    GTEST_SKIP() << "Ghostscript (gs) or rsvg-convert not found (Debian packages ghostscript, "
                    "librsvg2-bin): the energy map is not rendered";
  kaven_test::ScratchDir dir;
  const fs::path ps_path = dir.path() / "map.ps", svg_path = dir.path() / "map.svg";
  {
    kaven_test::Lines si = kaven_test::si_lines();
    si[5] = "0. 360. 100. 8  1. 0.";  // the full turn
    std::istringstream in(kaven_test::join_lines(si));
    const kaven::EnergyCrystal crystal = kaven::read_energy_crystal(in);
    const kaven::EnergyGrid grid{3.5, 8.5, 41};  // below 3.95 keV out of reach
    const kaven::EnergyPlan plan(crystal, grid.e2_kev);
    kaven::EnergyMapPicture picture(plan.base(), grid, 8.0);
    for (const kaven::EnergyPoint& p : kaven::energy_map(plan, grid)) picture.add(p);
    std::ofstream ps_file(ps_path), svg_file(svg_path);
    kaven::PostScriptPlotter ps(ps_file);
    kaven::SvgPlotter svg(svg_file);
    kaven::PlotterPair both(ps, svg);
    kaven::draw_energy_map(both, picture, kaven::Zeit::Now{9, 9, 2001, 1, 46, 40, 0});
  }
  const fs::path ps_png = dir.path() / "ps.png", svg_png = dir.path() / "svg.png";
  const fs::path log = dir.path() / "render.log";
  ASSERT_EQ(run("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -sPAPERSIZE=a4 -dFIXEDMEDIA -r144 "
                "-sOutputFile=" + ps_png.string() + " " + ps_path.string() + " >" + log.string() + " 2>&1"),
            0);
  EXPECT_EQ(read_file(log), "");
  ASSERT_EQ(run("rsvg-convert -d 144 -p 144 -o " + svg_png.string() + " " + svg_path.string() + " >" +
                log.string() + " 2>&1"),
            0);
  EXPECT_EQ(read_file(log), "");
  const Image from_ps = upright(read_png(ps_png));
  const Image from_svg = read_png(svg_png);
  ASSERT_EQ(from_ps.width, from_svg.width);
  ASSERT_EQ(from_ps.height, from_svg.height);
  // Inside the frame (x 2 to 22, y 2.5 to 18.5 cm).
  const Agreement tracks = compare(from_ps, from_svg, box_cm(2.1, 4.0, 21.9, 18.4, 2.0), 3, hued);
  EXPECT_GT(tracks.a, 20000);
  EXPECT_GT(tracks.b, 20000);
  EXPECT_LT(tracks.a_alone, tracks.a / 100 + 5);
  EXPECT_LT(tracks.b_alone, tracks.b / 100 + 5);
  // The band of the energies out of reach: grey, neither white nor ink, in both.
  auto grey = [](const unsigned char* p) { return p[0] > 190 && p[0] < 230 && p[0] == p[1] && p[1] == p[2]; };
  const Agreement band = compare(from_ps, from_svg, box_cm(2.1, 2.6, 21.9, 2.9, 2.0), 0, grey);
  EXPECT_GT(band.a, 5000);
  EXPECT_GT(band.b, 5000);
#endif
}

}  // namespace
