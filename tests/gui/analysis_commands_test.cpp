// The commands beside the run on the scripted window: the energy map of a synchrotron
// input (its dialog, its files, its page; a tube input refused before anything runs),
// the fit of a planted measured scan (its dialog, the status bar's R and energy, the
// refined input offered as the current one; the library's word without a measured
// scan) and the peak table.
#include <gtest/gtest.h>

#include "fit_fixture.hpp"
#include "gui/scripted_window_layer.hpp"
#include "gui/shell.hpp"
#include "planning/energy_map.hpp"

using namespace kaven_test;
namespace gui = kaven::gui;

namespace {

gui::WindowMessage command(int id) { return {gui::message_kind::menu, id}; }

struct Rig {
  ScratchDir dir;
  gui::ScriptedWindowLayer layer;
  gui::ScriptedPrograms programs;
  gui::ShellEnvironment env;
  std::string input_name, output_name;

  Rig() {
    setenv("SOURCE_DATE_EPOCH", kEpoch, 1);
    env.path = (dir.path() / "bin").string();
    env.help_dir = dir.path();
    env.threads = 1;
  }
  fs::path path(const std::string& name) const { return dir.path() / name; }
  // One command on the input `name`, its listing beside it; the log of the command.
  Lines play(int id, const std::string& name) {
    layer.messages = {command(id)};
    layer.dialog_answers = {path(name).string(), fs::path(path(name)).replace_extension(".out").string()};
    gui::Shell shell(layer, programs, env);
    EXPECT_EQ(shell.run(), 0);
    input_name = shell.input_name();
    output_name = shell.output_name();
    return layer.log;
  }
};

}  // namespace

TEST(AnalysisCommands, TheEnergyMapAsksForItsEnergiesAndShowsItsPage) {
  Rig rig;
  write_lines(rig.path("si.inp"), si_synchrotron_lines());
  // The dialog comes back with the library's word until the energies make a grid.
  rig.layer.energy_map_answers = {
      [](gui::EnergyMapValues& v) { v.e1_kev = v.e2_kev; },
      [](gui::EnergyMapValues& v) { v.e1_kev = 22.0, v.e2_kev = 22.2, v.n = 5; },
  };
  const Lines log = rig.play(gui::menu_id::energy_map, "si.inp");
  ASSERT_EQ(rig.layer.energy_map_dialog_shown.size(), 2u);
  const gui::EnergyMapValues& first = rig.layer.energy_map_dialog_shown[0];
  // 0.5612 Å is 22.093 keV; 0.5 keV on either side in 10 eV steps.
  EXPECT_NEAR(first.input_kev, 12.398420 / 0.5612, 1e-3);
  EXPECT_NEAR(first.e2_kev - first.e1_kev, 1.0, 1e-9);
  EXPECT_EQ(first.n, 101);
  EXPECT_EQ(first.input, rig.path("si.inp").string());
  // The listing proposed beside the input, as the command line names it by default.
  EXPECT_NE(find_prefix(log, "dialog Print-output file | Output file|*.out;*.aus| mode 2 proposing " +
                                 rig.path("si.out").string()),
            log.size());
  EXPECT_TRUE(contains(log, "energy map dialog '" +
                                kaven::energy_grid_problem({first.e2_kev, first.e2_kev, 101}) + "'"));

  // The run and the map's files as the command line writes them, the page in its tab.
  for (const char* f : {"si.out", "si-map.csv", "si-map.ps", "si-map.svg", "si-syn.ps"})
    EXPECT_TRUE(fs::exists(rig.path(f))) << f;
  EXPECT_EQ(rig.layer.pages[gui::Page::energy_map], rig.path("si-map.svg").string());
  EXPECT_EQ(rig.layer.front_page, gui::Page::energy_map);
  EXPECT_EQ(rig.layer.status.rfind("energy map: 5 energies from 22.0000 to 22.2000 keV, ", 0), 0u)
      << rig.layer.status;
  EXPECT_FALSE(rig.layer.scan.calculated.empty());  // the run's scan is there too
  EXPECT_TRUE(rig.layer.enabled[gui::menu_id::energy_map]);
}

TEST(AnalysisCommands, ATubeInputIsRefusedForTheMapAndACancelledDialogRunsNothing) {
  Rig rig;
  write_lines(rig.path("yig.inp"), yig_lines());
  rig.play(gui::menu_id::energy_map, "yig.inp");
  EXPECT_TRUE(rig.layer.energy_map_dialog_shown.empty());
  EXPECT_EQ(rig.layer.status.rfind("no energy map: the input's radiation (line 4) is an X-ray tube", 0), 0u)
      << rig.layer.status;
  EXPECT_FALSE(fs::exists(rig.path("yig.out")));

  Rig cancelled;
  write_lines(cancelled.path("si.inp"), si_synchrotron_lines());
  cancelled.play(gui::menu_id::energy_map, "si.inp");  // no answer: the dialog is cancelled
  EXPECT_EQ(cancelled.layer.energy_map_dialog_shown.size(), 1u);
  EXPECT_FALSE(fs::exists(cancelled.path("si.out")));
  EXPECT_FALSE(fs::exists(cancelled.path("si-map.svg")));
}

TEST(AnalysisCommands, AFitReportsRAndTheEnergyAndOffersTheRefinedInput) {
  Rig rig;
  const Planted p{0.02, 1.0002, 80.0, 150.0, std::nullopt};  // 22.0887 keV
  write_lines(rig.path("si.inp"), plant_scan(rig.dir.path(), si_synchrotron_lines(), p, "si.obs", 21));
  rig.layer.fit_answers = {
      [](gui::FitDialogValues& v) {
        for (auto& [name, refined] : v.parameters) refined = false;
      },
      [](gui::FitDialogValues& v) {
        for (auto& [name, refined] : v.parameters) refined = name == "scale" || name == "primary" || name == "events";
      },
      [](gui::FitDialogValues& v) {
        for (auto& [name, refined] : v.parameters)
          refined = name == "psi" || name == "lambda_a" || name == "scale" || name == "background";
      },
  };
  rig.layer.answers = {true};  // open the refined input
  const Lines log = rig.play(gui::menu_id::fit, "si.inp");
  // The library's default list checked at first; a list it refuses comes back with its word.
  ASSERT_EQ(rig.layer.fit_dialog_shown.size(), 3u);
  std::string checked;
  for (const auto& [name, refined] : rig.layer.fit_dialog_shown[0].parameters)
    if (refined) checked += name + " ";
  EXPECT_EQ(checked, "psi lambda_a scale background ");
  EXPECT_EQ(rig.layer.fit_dialog_shown[0].parameters.size(), std::size_t(kaven::kFitParameterCount));
  EXPECT_TRUE(contains(log, "fit dialog 'choose at least one parameter to fit'"));
  EXPECT_TRUE(contains(log, "fit dialog '" + kaven::parse_fit_parameters("scale,primary,events").error + "'"));

  const std::string refined = rig.path("si-fit.inp").string();
  const std::string& s = rig.layer.status;
  EXPECT_EQ(s.rfind("fit: R 0.", 0), 0u) << s;
  EXPECT_NE(s.find(", energy 22.08"), std::string::npos) << s;
  EXPECT_NE(s.find("; refined input written: " + refined), std::string::npos) << s;
  EXPECT_TRUE(fs::exists(rig.path("si-fit.json")));
  EXPECT_EQ(rig.input_name, refined);
  EXPECT_EQ(rig.output_name, rig.path("si-fit.out").string());
  // As after a run: the listing with the fit, the scan with the measured one.
  EXPECT_NE(rig.layer.pages[gui::Page::listing].find(" Refined run:"), std::string::npos);
  EXPECT_FALSE(rig.layer.scan.measured.empty());
  EXPECT_EQ(rig.layer.scan.fitted.size(), rig.layer.scan.calculated.size());  // drawn over it
}

TEST(AnalysisCommands, WithoutAMeasuredScanTheFitSaysWhyAndThePeakTableCounts) {
  Rig rig;
  write_lines(rig.path("si.inp"), si_synchrotron_lines());
  rig.layer.fit_answers = {[](gui::FitDialogValues&) {}};
  rig.play(gui::menu_id::fit, "si.inp");
  EXPECT_EQ(rig.layer.status,
            "the fit failed: the run has no measured scan to fit (line 12 of the input names "
            "none); no refined input written");
  EXPECT_FALSE(fs::exists(rig.path("si-fit.inp")));

  Rig index;
  write_lines(index.path("si.inp"), plant_scan(index.dir.path(), si_synchrotron_lines(), Planted{}, "si.obs", 3));
  index.play(gui::menu_id::index, "si.inp");
  EXPECT_EQ(index.layer.status.rfind("peak table: ", 0), 0u) << index.layer.status;
  EXPECT_NE(index.layer.pages[gui::Page::listing].find("peak"), std::string::npos);
}
