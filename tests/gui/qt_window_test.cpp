// The Qt window under Qt's offscreen platform (no display needed): menu captions and
// states, status-bar texts, the file dialog's outcome, placed texts and pages, the
// message queue, a task off the interface thread with its progress, and whole runs of
// the shell on the example input, driven the way a user drives them: by the menu and
// by answering the file dialogs.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHeaderView>
#include <QSpinBox>
#include <QTableView>
#include <QToolTip>
#include <QCheckBox>
#include <QWheelEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "gui/qt_window_layer.hpp"
#include "gui/scan_view.hpp"
#include "gui/scripted_window_layer.hpp"
#include "gui/shell.hpp"
#include "report/record_format.hpp"
#include "fit_fixture.hpp"
#include "run_fixture.hpp"

using namespace kaven_test;
namespace gui = kaven::gui;

namespace {

gui::WindowStyle shell_style() {
  gui::WindowStyle s;
  s.flags = 39;
  s.left = 10;
  s.top = 10;
  s.width = 0;
  s.height = 250;
  s.menu = gui::menu_id::bar;
  s.title = kaven::rec::pad("kaven-99", 80);
  return s;
}

// Calls `act` with the next modal dialog once one is shown (polling the event loop
// that the dialog itself runs). A dialog that `act` leaves open (a failed check) is
// cancelled, so that a failure cannot leave the test waiting.
void when_modal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) return;
    timer->stop();
    timer->deleteLater();
    QPointer<QWidget> guard(w);
    act(w);
    if (guard && guard->isVisible())
      if (auto* d = qobject_cast<QDialog*>(guard.data())) d->reject();
  });
  timer->start();
}

// Types the path into the dialog's name field and presses its Open button.
void choose_file(QWidget* w, const QString& path) {
  auto* dialog = qobject_cast<QFileDialog*>(w);
  QVERIFY(dialog);
  auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  QVERIFY(name);
  name->setText(path);
  static_cast<QDialog*>(dialog)->accept();
}

void press(QWidget* w, QMessageBox::StandardButton which) {
  auto* box = qobject_cast<QMessageBox*>(w);
  QVERIFY(box);
  box->button(which)->click();
}

QString q(const std::string& s) { return QString::fromStdString(s); }

void send_mouse(QWidget* w, QEvent::Type type, QPointF pos, Qt::MouseButton button,
                Qt::MouseButtons buttons) {
  QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void send_wheel(QWidget* w, QPointF pos, int notches) {
  QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &e);
}

// The YIG example with its measured scan, run to its end in a session of its own.
struct YigRun {
  Session session;
  ListedRun run;
  YigRun() {
    fs::copy_file(source_path("examples/yig/yig.dat"), session.dir.path() / "yig.dat");
    run = session.run(read_lines(source_path("examples/yig/yig.inp")));
  }
};

std::string file_text(const fs::path& p) {
  std::ifstream is(p, std::ios::binary);
  std::ostringstream ss;
  ss << is.rdbuf();
  return ss.str();
}

}  // namespace

class QtWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { setenv("SOURCE_DATE_EPOCH", kEpoch, 1); }

  void menuCaptionsAndStates() {
    gui::QtWindowLayer layer;
    layer.winitialise(" ");
    layer.windowopen(shell_style());
    layer.windowopen(shell_style());  // a second call does nothing
    QMainWindow* w = layer.main_window();
    QVERIFY(w && w->isVisible());
    QCOMPARE(w->windowTitle(), QStringLiteral("kaven-99"));
    QStringList captions;
    for (QAction* a : w->menuBar()->actions()) captions << a->text();
    QCOMPARE(captions, QStringList({"&Start KAVEN-99", "Open &CIF", "Energy &map...",
                                    "&Fit measured scan...", "&Index peaks", "&Ghostview",
                                    "&Edit input-file", "&Help input-file", "&Edit output-file",
                                    "&Exit"}));
    // Width 0: 80 % of the screen; height as given.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(w->width(), screen.width() * 4 / 5);
    QCOMPARE(w->height(), 250);

    QAction* viewer = layer.menu_action(gui::menu_id::viewer);
    layer.wmenusetstate(gui::menu_id::viewer, 1, 0);
    layer.wmenusetstate(gui::menu_id::viewer, 1, 0);  // disabling twice changes nothing
    QVERIFY(!viewer->isEnabled());
    layer.wmenusetstate(gui::menu_id::viewer, 1, 2);  // not a state
    layer.wmenusetstate(gui::menu_id::viewer, 3, 1);  // not a property
    QVERIFY(!viewer->isEnabled());
    layer.wmenusetstate(gui::menu_id::viewer, 1, 1);
    layer.wmenusetstate(gui::menu_id::viewer, 1, 1);
    QVERIFY(viewer->isEnabled());
    layer.wmenusetstate(gui::menu_id::help, 2, 1);
    QVERIFY(layer.menu_action(gui::menu_id::help)->isChecked());
    layer.wmenusetstate(12345, 1, 0);  // no such item
  }

  void statusBarTexts() {
    gui::QtWindowLayer layer;
    layer.windowopen(shell_style());
    const std::string text = "kaven-99 running";
    layer.windowoutstatusbar(1, kaven::rec::pad(text, 100));
    QCOMPARE(layer.status_text(), q(text));
    layer.windowoutstatusbar(256, "ignored");
    QCOMPARE(layer.status_text(256), QString());
    layer.windowoutstatusbar(2, "second field  ");
    QCOMPARE(layer.status_text(2), QStringLiteral("second field"));
    QCOMPARE(layer.status_text(), q(text));
  }

  void fileDialogOutcome() {
    ScratchDir dir;
    const fs::path existing = dir.path() / "yig.inp";
    write_lines(existing, yig_lines());
    const fs::path missing = dir.path() / "new.out";
    gui::QtWindowLayer layer;
    layer.windowopen(shell_style());
    const QStringList filter = {"Input file (*.inp *.in *.ein *.txt)"};

    // Confirmed: the whole path is handed back, however long.
    std::string name;
    when_modal([&](QWidget* w) {
      auto* d = qobject_cast<QFileDialog*>(w);
      QVERIFY(d);
      QCOMPARE(d->windowTitle(), QStringLiteral("inut file"));
      QCOMPARE(d->nameFilters(), filter);
      choose_file(w, q(existing.string()));
    });
    layer.wselectfile2("Input file|*.inp;*.in;*.ein;*.txt|", 2, name, "inut file");
    QCOMPARE(layer.winfodialog(4), 1);
    QCOMPARE(name, existing.string());

    // Cancelled: the name stays, the outcome says so.
    when_modal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    layer.wselectfile2("Input file|*.inp;*.in;*.ein;*.txt|", 2, name, "inut file");
    QCOMPARE(layer.winfodialog(4), 0);
    QCOMPARE(name, existing.string());

    // A missing file is offered for creation: yes confirms, no cancels.
    for (auto [answer, outcome] : {std::pair{QMessageBox::Yes, 1}, std::pair{QMessageBox::No, 0}}) {
      std::string out;
      when_modal([&, a = answer](QWidget* w) {
        when_modal([a](QWidget* box) { press(box, a); });
        choose_file(w, q(missing.string()));
      });
      layer.wselectfile2("Output file|*.out;*.aus|", 2, out, "Print-output file");
      QCOMPARE(layer.winfodialog(4), outcome);
      QCOMPARE(out, outcome == 1 ? missing.string() : std::string());
    }
    QVERIFY(!fs::exists(missing));  // the dialog creates nothing itself
    QCOMPARE(gui::qt_name_filters("Output file|*.out;*.aus|"),
             std::vector<std::string>{"Output file (*.out *.aus)"});
  }

  void textsPagesAndBell() {
    ScratchDir dir;
    gui::QtWindowLayer layer;
    layer.windowopen(shell_style());
    layer.windowoutstring(100, 2000, "Intput file: /a/b.inp");
    layer.windowoutstring(100, 4000, "Observed-scan file: undefined");
    QCOMPARE(layer.texts(), (std::vector<gui::PlacedText>{{100, 2000, "Intput file: /a/b.inp"},
                                                          {100, 4000, "Observed-scan file: undefined"}}));
    QVERIFY(!layer.main_window()->grab().isNull());
    layer.windowclear();
    QVERIFY(layer.texts().empty());

    QVERIFY(!layer.current_page());  // no pages before there is something to show
    layer.show_page(gui::Page::listing, "line 1\nline 2\n");
    QCOMPARE(layer.current_page(), std::optional<gui::Page>(gui::Page::listing));
    QCOMPARE(layer.page_text(gui::Page::listing), QStringLiteral("line 1\nline 2\n"));
    const fs::path svg = dir.path() / "p.svg";
    std::ofstream(svg) << "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 200 100'>"
                          "<rect x='10' y='10' width='50' height='30'/></svg>\n";
    layer.show_page(gui::Page::plot, svg.string());
    QCOMPARE(layer.current_page(), std::optional<gui::Page>(gui::Page::plot));
    QVERIFY(layer.plot_valid());
    layer.show_page(gui::Page::plot, (dir.path() / "none.svg").string());
    QVERIFY(!layer.plot_valid());
    layer.clear_pages();
    QCOMPARE(layer.page_text(gui::Page::listing), QString());
    QCOMPARE(layer.page_text(gui::Page::plot), QString());

    layer.windowbell(" ");
    layer.windowbell("OFF");
    layer.windowbell(" ");
    layer.windowbell("ON ");
    layer.windowbell(" ");
    QCOMPARE(layer.bells(), 2);
  }

  void messagesAndTasks() {
    gui::QtWindowLayer layer;
    layer.windowopen(shell_style());
    QTimer::singleShot(10, [&] { layer.menu_action(gui::menu_id::help)->trigger(); });
    gui::WindowMessage m = layer.wmessage();
    QCOMPARE(m.kind, gui::message_kind::menu);
    QCOMPARE(m.value, gui::menu_id::help);

    // A close request is a message; the window stays until the shell closes it.
    QTimer::singleShot(10, [&] { layer.main_window()->close(); });
    m = layer.wmessage();
    QCOMPARE(m.kind, gui::message_kind::close);
    QVERIFY(layer.main_window()->isVisible());

    // A task runs on another thread while the window goes on: its timers fire, the
    // progress shows, menu commands are not taken, and a close request cancels.
    std::atomic<bool> cancel{false};
    std::atomic<bool> release{false};
    const std::thread::id ui = std::this_thread::get_id();
    std::thread::id worker;
    QString seen_progress;
    QTimer::singleShot(300, [&] {
      seen_progress = layer.progress_text();
      layer.menu_action(gui::menu_id::start)->trigger();
      layer.main_window()->close();
      release = true;
    });
    layer.run_task(
        [&] {
          worker = std::this_thread::get_id();
          layer.show_progress("event search", 0.5);
          while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        },
        cancel);
    QVERIFY(worker != ui);
    QCOMPARE(seen_progress, QStringLiteral("event search 50%"));
    QVERIFY(cancel.load());
    QCOMPARE(layer.progress_text(), QString());  // hidden once the task is over
    m = layer.wmessage();
    QCOMPARE(m.kind, gui::message_kind::close);  // the close, not the start command

    // What the task throws comes back to the caller.
    bool thrown = false;
    try {
      layer.run_task([] { throw std::runtime_error("failed"); }, cancel);
    } catch (const std::runtime_error&) {
      thrown = true;
    }
    QVERIFY(thrown);
    layer.windowclose();
    QVERIFY(!layer.main_window()->isVisible());
    QCOMPARE(layer.wmessage().kind, gui::message_kind::close);
  }

  // The shell on the Qt window: the example run, then a run that stops at once, as a
  // user does them, then the exit.
  void wholeRunsOfTheShell() {
    ScratchDir dir;
    const fs::path inp = dir.path() / "yig-sim.inp";
    write_lines(inp, yig_lines());
    Lines psi = yig_lines();
    psi[5] = "-66.   181. 50  0  1. 0.";
    const fs::path inp2 = dir.path() / "psi.inp";
    write_lines(inp2, psi);
    const fs::path out = dir.path() / "yig-sim.out", out2 = dir.path() / "psi.out";
    std::ofstream(out).flush();  // existing: no question about creating it
    std::ofstream(out2).flush();

    gui::QtWindowLayer layer;
    gui::ScriptedPrograms programs;
    gui::ShellEnvironment env;
    env.help_dir = dir.path();
    gui::Shell shell(layer, programs, env);

    struct Seen {
      std::vector<gui::PlacedText> texts;
      QString status;
      std::optional<gui::Page> page;
      bool plot_valid = false;
      QString listing;
      bool menu_enabled = false;
    };
    std::vector<Seen> seen;
    bool disabled_while_running = false;
    // One run: the command, the two dialogs, then wait for the report.
    auto run = [&](const fs::path& input, const fs::path& output, std::function<void()> next) {
      layer.menu_action(gui::menu_id::start)->trigger();
      when_modal([&, input, output, next](QWidget* w) {
        choose_file(w, q(input.string()));
        when_modal([&, output, next](QWidget* w2) {
          choose_file(w2, q(output.string()));
          auto* poll = new QTimer;
          poll->setInterval(20);
          QObject::connect(poll, &QTimer::timeout, [&, poll, next] {
            const QString s = layer.status_text();
            if (s == QStringLiteral("kaven-99 running")) {
              disabled_while_running = !layer.menu_action(gui::menu_id::exit)->isEnabled() &&
                                       !layer.menu_action(gui::menu_id::start)->isEnabled();
              return;
            }
            if (!s.startsWith(QStringLiteral("kaven-99 stopped")) &&
                !s.startsWith(QStringLiteral("kaven-99 finished")))
              return;
            poll->stop();
            poll->deleteLater();
            seen.push_back({layer.texts(), s, layer.current_page(), layer.plot_valid(),
                            layer.page_text(gui::Page::listing),
                            layer.menu_action(gui::menu_id::start)->isEnabled()});
            QTimer::singleShot(0, next);
          });
          poll->start();
        });
      });
    };
    QTimer::singleShot(0, [&] {
      run(inp, out, [&] {
        run(inp2, out2, [&] { layer.menu_action(gui::menu_id::exit)->trigger(); });
      });
    });
    QCOMPARE(shell.run(), 0);
    QVERIFY(!layer.main_window()->isVisible());
    QCOMPARE(seen.size(), std::size_t(2));
    QVERIFY(disabled_while_running);

    // The example: complete, or stopped where this version's run ends, with the report
    // that belongs to the ending.
    const Seen& a = seen[0];
    QCOMPARE(a.texts.front(), (gui::PlacedText{100, 2000, "Intput file: " + inp.string()}));
    QCOMPARE(a.listing, q(file_text(out)));
    QVERIFY(a.menu_enabled);
    if (a.status.startsWith(QStringLiteral("kaven-99 finished"))) {
      QCOMPARE(a.status, q("kaven-99 finished:  graphical output file: yig.ps;  print output file:" +
                           out.string()));
      QCOMPARE(std::vector<gui::PlacedText>(a.texts.begin() + 1, a.texts.end()),
               (std::vector<gui::PlacedText>{{100, 4000, "Observed-scan file: undefined"},
                                             {100, 5000, "Calculated-scan file: yig.cal"}}));
      QVERIFY(fs::exists(dir.path() / "yig.cal"));
      if (fs::exists(dir.path() / "yig.svg")) {
        QVERIFY(a.plot_valid);
        QCOMPARE(a.page, std::optional<gui::Page>(gui::Page::scan));
      }
    } else {
      QCOMPARE(a.texts.size(), std::size_t(4));
      QCOMPARE(a.texts[1], (gui::PlacedText{100, 4000, "kaven-99 stopped before the end of the run:"}));
      QCOMPARE(a.status, q("kaven-99 stopped: " + a.texts[2].text));
      QCOMPARE(a.texts[3], (gui::PlacedText{100, 6000, "see output file:" + out.string()}));
      QCOMPARE(a.page, std::optional<gui::Page>(gui::Page::listing));
    }
    // The psi range: stopped, with its message.
    const Seen& b = seen[1];
    QCOMPARE(b.status, QStringLiteral("kaven-99 stopped: Psi-range is out of -180. to 180."));
    QCOMPARE(b.texts, (std::vector<gui::PlacedText>{
                          {100, 2000, "Intput file: " + inp2.string()},
                          {100, 4000, "kaven-99 stopped before the end of the run:"},
                          {100, 5000, "Psi-range is out of -180. to 180."},
                          {100, 6000, "see output file:" + out2.string()}}));
    QVERIFY(programs.started.empty());
  }

  void scanViewZoomsPansAndNamesTheEventsOfAPeak() {
    YigRun yig;
    QVERIFY(!yig.run.stopped());
    gui::QtWindowLayer layer;
    layer.winitialise(" ");
    layer.windowopen(shell_style());
    layer.main_window()->resize(1200, 800);
    layer.show_scan(gui::scan_data(yig.session.par, yig.run.outcome.result));
    layer.show_page(gui::Page::scan, std::string());
    QCOMPARE(layer.current_page(), std::optional<gui::Page>(gui::Page::scan));
    gui::ScanView* v = layer.scan_view();
    QVERIFY(v->isVisible() && v->width() > 600);
    QCOMPARE(v->low(), -66.0);
    QCOMPARE(v->high(), 16.0);
    const double y = v->height() * 0.75;  // on the calculated panel, below the measured one

    // The wheel zooms about the pointer: the psi under it stays where it is.
    const double x = v->x_at(-20.0);
    send_wheel(v, QPointF(x, y), 5);
    QVERIFY(std::fabs((v->high() - v->low()) - 82 * std::pow(0.8, 5)) < 1e-6);
    QVERIFY(std::fabs(v->psi_at(x) + 20.0) < 1e-6);
    send_wheel(v, QPointF(x, y), -100);  // out to no more than the whole scan
    QCOMPARE(v->low(), -66.0);
    QCOMPARE(v->high(), 16.0);
    // Dragging pans by the psi the pointer moved over, and stops at the scan's ends.
    v->set_range(-40, -30);
    const double per_px = 10 / (v->x_at(-30) - v->x_at(-40));
    send_mouse(v, QEvent::MouseButtonPress, QPointF(400, y), Qt::LeftButton, Qt::LeftButton);
    send_mouse(v, QEvent::MouseMove, QPointF(300, y), Qt::NoButton, Qt::LeftButton);
    send_mouse(v, QEvent::MouseButtonRelease, QPointF(300, y), Qt::LeftButton, Qt::NoButton);
    QVERIFY(std::fabs(v->low() - (-40 + 100 * per_px)) < 1e-6);
    v->set_range(10, 30);
    QCOMPARE(v->high(), 16.0);
    QCOMPARE(v->low(), -4.0);
    QTest::keyClick(v, Qt::Key_Home);
    QCOMPARE(v->low(), -66.0);

    // Over the strongest calculated peak (psi 14.25): the events there, strongest first,
    // in the tooltip; psi and intensities in the status bar.
    v->set_range(13.75, 14.75);
    const QPointF peak(v->x_at(14.2505), y);
    send_mouse(v, QEvent::MouseMove, peak, Qt::NoButton, Qt::NoButton);
    const QStringList tip = v->last_tooltip().split('\n');
    QCOMPARE(tip.size(), 3);
    QVERIFY2(tip[0].startsWith(QStringLiteral("psi 14.25")) && tip[0].endsWith(": 2 events"),
             qPrintable(tip[0]));
    QCOMPARE(tip[1], QStringLiteral("4 6 2 / 4 2 0  o-i  psi 14.251  Phi -173.7  Ikaven 7.217  "
                                    "Iaufhe 0 cps  pass 1"));
    QCOMPARE(tip[2], QStringLiteral("-4 -6 2 / 12 14 0  o-i  psi 14.188  Phi -170.3  Ikaven 1.113  "
                                    "Iaufhe 0 cps  pass 1"));
    QVERIFY(QToolTip::isVisible());
    QVERIFY2(layer.pointer_text().startsWith(QStringLiteral("psi 14.25")) &&
                 layer.pointer_text().contains(QStringLiteral("I-obs")) &&
                 layer.pointer_text().contains(QStringLiteral("I-calc")),
             qPrintable(layer.pointer_text()));
    // Between peaks: no tooltip.
    send_mouse(v, QEvent::MouseMove, QPointF(v->x_at(13.9), y), Qt::NoButton, Qt::NoButton);
    QVERIFY(v->last_tooltip().isEmpty());

    // A picture of the view with the tooltip, when asked for (under a real display).
    if (const char* shot = std::getenv("KAVEN_SCREENSHOT")) {
      QCursor::setPos(v->mapToGlobal(peak.toPoint()));
      QTest::qWait(300);
      send_mouse(v, QEvent::MouseMove, peak, Qt::NoButton, Qt::NoButton);
      QTest::qWait(700);
      qInfo("tooltip shown: %d", QToolTip::isVisible());
      QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(shot));
    }
  }

  void eventTableSortsAndCentresTheScan() {
    YigRun yig;
    gui::QtWindowLayer layer;
    layer.winitialise(" ");
    layer.windowopen(shell_style());
    layer.main_window()->resize(1200, 800);
    const gui::ScanData data = gui::scan_data(yig.session.par, yig.run.outcome.result);
    layer.show_scan(data);
    layer.show_page(gui::Page::events, std::string());
    QTableView* t = layer.events_table();
    QAbstractItemModel* m = t->model();
    QCOMPARE(m->rowCount(), 16);  // the events the listing lists, both K-alpha lines
    const int psi = static_cast<int>(gui::EventColumn::psi);
    const int ikaven = static_cast<int>(gui::EventColumn::ikaven);
    const int secondary = static_cast<int>(gui::EventColumn::secondary);
    auto cell = [&](int row, int column) { return m->index(row, column).data().toString(); };
    // By psi as listed; numbers sort as numbers ("-0.681" between "-20.125" and "4.401").
    QCOMPARE(cell(0, psi), QStringLiteral("-62.115"));
    QCOMPARE(cell(9, psi), QStringLiteral("-0.681"));
    QCOMPARE(cell(15, psi), QStringLiteral("14.251"));
    t->sortByColumn(ikaven, Qt::DescendingOrder);
    QCOMPARE(cell(0, ikaven), QStringLiteral("7.217"));
    QCOMPARE(cell(15, ikaven), QStringLiteral("1.113"));
    t->sortByColumn(secondary, Qt::AscendingOrder);  // by h, then k, then l
    QCOMPARE(cell(0, secondary), QStringLiteral("-4 -6 2"));
    QCOMPARE(cell(15, secondary), QStringLiteral("14 12 0"));
    QVERIFY(!t->isColumnHidden(static_cast<int>(gui::EventColumn::pass)));  // two passes

    // Choosing a row centres the scan on the event's psi (two degrees in view) and marks
    // it; Enter brings the scan to the front.
    t->sortByColumn(psi, Qt::AscendingOrder);
    t->setFocus();
    t->setCurrentIndex(m->index(9, 0));
    gui::ScanView* v = layer.scan_view();
    QVERIFY(std::fabs((v->low() + v->high()) / 2 - (-0.6808915)) < 1e-4);
    QVERIFY(std::fabs(v->high() - v->low() - 2.0) < 1e-9);
    v->set_range(-20, 16);  // a view narrower than the scan but wider than two degrees
    t->setCurrentIndex(m->index(15, 0));
    QVERIFY(std::fabs((v->low() + v->high()) / 2 - 14.2505435944) < 1e-4);
    QCOMPARE(layer.current_page(), std::optional<gui::Page>(gui::Page::events));
    QTest::keyClick(t, Qt::Key_Return);
    QCOMPARE(layer.current_page(), std::optional<gui::Page>(gui::Page::scan));
    // A new run empties the view and the table.
    layer.clear_pages();
    QCOMPARE(t->model()->rowCount(), 0);
    QVERIFY(!v->data().has_scan());
  }

  // The energy map of a synchrotron input: the files proposed, the dialog's energies
  // given, the map page in a tab of its own; a tube input is refused with the library's
  // reason before any dialog.
  void energyMapDialogAndItsTab() {
    ScratchDir dir;
    const fs::path syn = dir.path() / "si.inp", tube = dir.path() / "yig.inp";
    write_lines(syn, si_synchrotron_lines());
    write_lines(tube, yig_lines());
    std::ofstream(dir.path() / "si.out").flush();  // existing: no question about creating it
    std::ofstream(dir.path() / "yig.out").flush();
    gui::QtWindowLayer layer;
    gui::ScriptedPrograms programs;
    gui::ShellEnvironment env;
    env.help_dir = dir.path();
    env.threads = 1;
    gui::Shell shell(layer, programs, env);
    QString refused;
    bool tab_before = true, shown = false;
    std::optional<gui::Page> page;
    // Chooses the input and accepts the proposed listing, then calls `next` with the
    // window's next modal dialog, or after `status_prefix` is in the status bar.
    auto command = [&](int id, const fs::path& input, std::function<void()> then) {
      layer.menu_action(id)->trigger();
      when_modal([&, input, then](QWidget* w) {
        choose_file(w, q(input.string()));
        when_modal([&, input, then](QWidget* w2) {
          choose_file(w2, q(fs::path(input).replace_extension(".out").string()));
          QTimer::singleShot(0, then);
        });
      });
    };
    auto wait_status = [&](const QString& prefix, std::function<void()> then) {
      auto* poll = new QTimer;
      poll->setInterval(20);
      QObject::connect(poll, &QTimer::timeout, [&, poll, prefix, then] {
        if (!layer.status_text().startsWith(prefix)) return;
        poll->stop();
        poll->deleteLater();
        then();
      });
      poll->start();
    };
    QTimer::singleShot(0, [&] {
      tab_before = layer.energy_map_shown();
      command(gui::menu_id::energy_map, tube, [&] {
        wait_status(QStringLiteral("no energy map: "), [&] {
          refused = layer.status_text();
          command(gui::menu_id::energy_map, syn, [&] {
            when_modal([&](QWidget* d) {
              QCOMPARE(d->objectName(), QStringLiteral("kaven-energy-map-dialog"));
              auto* e1 = d->findChild<QDoubleSpinBox*>(QStringLiteral("e1"));
              auto* e2 = d->findChild<QDoubleSpinBox*>(QStringLiteral("e2"));
              auto* n = d->findChild<QSpinBox*>(QStringLiteral("n"));
              QVERIFY(e1 && e2 && n);
              QCOMPARE(n->value(), 101);
              e1->setValue(22.0);
              e2->setValue(22.2);
              n->setValue(5);
              static_cast<QDialog*>(d)->accept();
              wait_status(QStringLiteral("energy map: "), [&] {
                shown = layer.energy_map_shown();
                page = layer.current_page();
                layer.menu_action(gui::menu_id::exit)->trigger();
              });
            });
          });
        });
      });
    });
    QCOMPARE(shell.run(), 0);
    QVERIFY(!tab_before);
    QVERIFY2(refused.contains(QStringLiteral("X-ray tube")), qPrintable(refused));
    QCOMPARE(q(shell.output_name()), q((dir.path() / "si.out").string()));
    QVERIFY(shown);
    QCOMPARE(page, std::optional<gui::Page>(gui::Page::energy_map));
    QCOMPARE(layer.page_text(gui::Page::energy_map), q((dir.path() / "si-map.svg").string()));
    QVERIFY(!fs::exists(dir.path() / "yig-map.svg"));
  }

  // The fit of a planted scan, driven through its dialog: the library's default
  // parameters checked, R and the fitted energy in the status bar, the refined input
  // taken as the current one on the user's word.
  void fitDialogRunsTheFitAndOffersTheRefinedInput() {
    ScratchDir dir;
    const Planted p{0.02, 1.0002, 80.0, 150.0, std::nullopt};
    const fs::path inp = dir.path() / "si.inp";
    write_lines(inp, plant_scan(dir.path(), si_synchrotron_lines(), p, "si.obs", 21));
    std::ofstream(dir.path() / "si.out").flush();
    gui::QtWindowLayer layer;
    gui::ScriptedPrograms programs;
    gui::ShellEnvironment env;
    env.help_dir = dir.path();
    env.threads = 1;
    gui::Shell shell(layer, programs, env);
    QStringList checked;
    QString status_at_question;
    QTimer::singleShot(0, [&] {
      layer.menu_action(gui::menu_id::fit)->trigger();
      when_modal([&](QWidget* w) {
        choose_file(w, q(inp.string()));
        when_modal([&](QWidget* w2) {
          choose_file(w2, q((dir.path() / "si.out").string()));
          when_modal([&](QWidget* d) {
            QCOMPARE(d->objectName(), QStringLiteral("kaven-fit-dialog"));
            for (QCheckBox* b : d->findChildren<QCheckBox*>())
              if (b->isChecked()) checked << b->objectName();
            auto* nnn = d->findChild<QSpinBox*>(QStringLiteral("interference"));
            QVERIFY(nnn);
            QCOMPARE(nnn->value(), -1);  // the input's
            static_cast<QDialog*>(d)->accept();
            when_modal([&](QWidget* box) {
              status_at_question = layer.status_text();
              press(box, QMessageBox::Yes);
              QTimer::singleShot(0, [&] { layer.menu_action(gui::menu_id::exit)->trigger(); });
            });
          });
        });
      });
    });
    QCOMPARE(shell.run(), 0);
    checked.sort();
    QCOMPARE(checked, (QStringList{"background", "lambda_a", "psi", "scale"}));
    QVERIFY2(status_at_question.startsWith(QStringLiteral("fit: R 0.")), qPrintable(status_at_question));
    QVERIFY2(status_at_question.contains(QStringLiteral(", energy 22.08")), qPrintable(status_at_question));
    QVERIFY(status_at_question.endsWith(q("refined input written: " + (dir.path() / "si-fit.inp").string())));
    QCOMPARE(q(shell.input_name()), q((dir.path() / "si-fit.inp").string()));
    QVERIFY(layer.plot_valid());
  }

  void cifDialogWritesAnInputBesideTheCif() {
    ScratchDir dir;
    const fs::path cif = dir.path() / "si.cif";
    fs::copy_file(source_path("examples/si/si.cif"), cif);
    gui::QtWindowLayer layer;
    gui::ScriptedPrograms programs;
    gui::ShellEnvironment env;
    env.help_dir = dir.path();
    gui::Shell shell(layer, programs, env);
    QString psi_shown, psi_synchrotron;
    bool wavelength_for_tube = true;
    QTimer::singleShot(0, [&] {
      layer.menu_action(gui::menu_id::open_cif)->trigger();
      when_modal([&](QWidget* w) {
        choose_file(w, q(cif.string()));
        when_modal([&](QWidget* d) {
          QCOMPARE(d->objectName(), QStringLiteral("kaven-cif-dialog"));
          auto spin = [&](const char* name) { return d->findChild<QSpinBox*>(QString::fromLatin1(name)); };
          auto real = [&](const char* name) { return d->findChild<QDoubleSpinBox*>(QString::fromLatin1(name)); };
          auto* radiation = d->findChild<QComboBox*>(QStringLiteral("radiation"));
          QVERIFY(spin("h") && spin("k") && spin("l") && radiation && real("wavelength"));
          spin("h")->setValue(2);
          spin("k")->setValue(2);
          spin("l")->setValue(0);
          // The defaults of the conversion: the tube's psi range; the synchrotron's
          // when the line is chosen, with its wavelength to give.
          psi_shown = QStringLiteral("%1 %2").arg(real("psia")->value()).arg(real("psie")->value());
          wavelength_for_tube = real("wavelength")->isEnabled();
          radiation->setCurrentIndex(radiation->findData(QStringLiteral("synchrotron")));
          psi_synchrotron = QStringLiteral("%1 %2").arg(real("psia")->value()).arg(real("psie")->value());
          QVERIFY(real("wavelength")->isEnabled());
          real("wavelength")->setValue(1.0);
          real("psia")->setValue(10);
          real("psie")->setValue(20);
          d->findChild<QLineEdit*>(QStringLiteral("input_name"))->setText(QStringLiteral("si220.inp"));
          static_cast<QDialog*>(d)->accept();
          when_modal([&](QWidget* box) {
            press(box, QMessageBox::No);  // not now
            QTimer::singleShot(0, [&] { layer.menu_action(gui::menu_id::exit)->trigger(); });
          });
        });
      });
    });
    QCOMPARE(shell.run(), 0);
    QCOMPARE(psi_shown, QStringLiteral("-180 180"));
    QCOMPARE(psi_synchrotron, QStringLiteral("0 360"));
    QVERIFY(!wavelength_for_tube);
    const fs::path written = dir.path() / "si220.inp";
    QVERIFY(fs::exists(written));
    const Lines lines = read_lines(written);
    QCOMPARE(q(lines[1]), QStringLiteral("si220.ps"));
    QVERIFY2(layer.status_text().startsWith(q("Input file written: " + written.string())),
             qPrintable(layer.status_text()));
    QVERIFY(!fs::exists(dir.path() / "si220.out"));  // not run
  }
};

QTEST_MAIN(QtWindowTest)
#include "qt_window_test.moc"
