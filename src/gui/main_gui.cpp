// kaven-gui: the desktop program. The main window offers the run cycle (choose the
// input and print-output files, run, see the plot and the listing), the external
// editor and PostScript viewer, and the input description; see gui/shell.hpp.
#include <QApplication>
#include <QTimer>
#include <cstring>
#include <iostream>

#include "gui/qt_window_layer.hpp"
#include "gui/shell.hpp"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "kaven-gui " << KAVEN_VERSION << '\n';
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << "usage: kaven-gui\n"
                   "  The desktop program of kaven: \"Start KAVEN-99\" asks for the input file\n"
                   "  and the print-output file, runs the simulation and shows the plot and\n"
                   "  the listing; \"Energy map...\", \"Fit measured scan...\" and \"Index peaks\"\n"
                   "  run the same with --energy-map, --fit or --index. The editor is\n"
                   "  $VISUAL or $EDITOR when started from a\n"
                   "  terminal, otherwise the desktop's application for text (xdg-open).\n";
      return 0;
    }
  }
  QApplication app(argc, argv);
  kaven::gui::QtWindowLayer layer;
  kaven::gui::SystemPrograms programs;
  kaven::gui::Shell shell(layer, programs, kaven::gui::ShellEnvironment::from_process());
  // Editors and viewers started earlier may fail later (no application for the file).
  QTimer watch;
  watch.setInterval(1000);
  QObject::connect(&watch, &QTimer::timeout, [&shell] { shell.report_program_failures(); });
  watch.start();
  return shell.run();
}
