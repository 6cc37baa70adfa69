// The pages of a measurement plan, drawn on the pen-plotter interface in the style of
// the scan page (landscape, title on top, information column on the right):
//
// - the energy map: psi across (the input's psi range), energy up; every listed event is
//   a track through the energies at which the listing would list it, coloured by its
//   peak height on a logarithmic scale from drumin to the strongest event, red for a
//   peak (Ikaven > Iaufhe), blue for a dip (Iaufhe > Ikaven), stronger ones darker and
//   wider; energies whose wavelength cannot reach the primary reflection are a grey
//   band; the input's own energy is a dashed line. A clean window is a white area.
// - the energy scan: the intensity of the primary reflection at one psi against the
//   energy, with I-prim dashed beneath it; the strongest features are labelled with the
//   secondary reflection of the crossing that makes most of them.
//
// The pictures are gathered energy by energy as the plan delivers them; the map keeps
// at most kMapRows energies (evenly spaced through the grid), more than a page can
// resolve, so that its memory does not grow with the grid.
#pragma once
#include <array>
#include <string>
#include <vector>

#include "input/run_parameters.hpp"
#include "planning/energy_map.hpp"
#include "plot/pen_plotter.hpp"
#include "report/listing.hpp"

namespace kaven {

class EnergyMapPicture {
 public:
  static constexpr int kMapRows = 2001;
  EnergyMapPicture(const RunParameters& base, const EnergyGrid& grid, double input_kev);
  void add(const EnergyPoint& point);

  struct Mark {
    std::array<int, 3> h;  // secondary reflection
    Crossing crossing;
    float psi;   // degrees
    float peak;  // peak height max(Ikaven, Iaufhe)/FWHM (cps)
    bool dip;    // Iaufhe > Ikaven
  };
  struct Row {
    int index;  // in the grid
    double energy_kev;
    EnergyStatus status;
    std::vector<Mark> marks;
  };

  const RunParameters& base() const { return base_; }
  const EnergyGrid& grid() const { return grid_; }
  double input_kev() const { return input_kev_; }
  int stride() const { return stride_; }
  const std::vector<Row>& rows() const { return rows_; }
  long events() const { return events_; }
  long out_of_reach() const { return out_of_reach_; }

 private:
  RunParameters base_;  // the settings the page shows (no atoms kept)
  EnergyGrid grid_;
  double input_kev_;
  int stride_ = 1;
  std::vector<Row> rows_;
  long events_ = 0, out_of_reach_ = 0;
};

void draw_energy_map(PenPlotter& p, const EnergyMapPicture& picture, const Zeit::Now& when);

class EnergyScanPicture {
 public:
  EnergyScanPicture(const RunParameters& base, const EnergyGrid& grid, float psi, double input_kev);
  void add(const EnergyScanPoint& point);

  struct Point {
    double energy_kev;
    EnergyStatus status;
    float intensity, iprim;
    bool has_share;
    ScanShare strongest;  // the crossing that adds or takes most
  };
  const RunParameters& base() const { return base_; }
  const EnergyGrid& grid() const { return grid_; }
  float psi() const { return psi_; }
  double input_kev() const { return input_kev_; }
  const std::vector<Point>& points() const { return points_; }

 private:
  RunParameters base_;
  EnergyGrid grid_;
  float psi_;
  double input_kev_;
  std::vector<Point> points_;
};

void draw_energy_scan(PenPlotter& p, const EnergyScanPicture& picture, const Zeit::Now& when);

// The colour of a level of the map's scale (t from 0, weakest, to 1, strongest), for
// a peak or a dip: red, green and blue shares.
std::array<float, 3> map_level_colour(double t, bool dip);

}  // namespace kaven
