#include "gui/qt_window_layer.hpp"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

#include "gui/analysis_dialogs.hpp"
#include "gui/cif_dialog.hpp"
#include "gui/scan_view.hpp"
#include "report/record_format.hpp"

namespace kaven::gui {
namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The window's close button asks the layer; the window closes only when the shell
// closes it.
class MainWindow final : public QMainWindow {
 public:
  std::function<bool()> may_close;  // false: the close is turned into a message
  std::function<void()> close_requested;

 protected:
  void closeEvent(QCloseEvent* e) override {
    if (may_close && may_close()) {
      e->accept();
      return;
    }
    e->ignore();
    if (close_requested) close_requested();
  }
};

// Texts placed on the 0..9999 grid; (x, y) is the top left corner of a text.
class DrawingArea final : public QWidget {
 public:
  std::vector<PlacedText> texts;

  // Tall enough that texts 1000 apart on the grid (the report's lines) do not overlap.
  int text_height() const { return fontMetrics().lineSpacing() * 21 / 2; }
  QSize sizeHint() const override { return {800, text_height()}; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    p.setPen(palette().text().color());
    const int ascent = fontMetrics().ascent();
    for (const PlacedText& t : texts) {
      const int px = static_cast<int>(static_cast<long long>(width()) * t.x / 9999);
      const int py = static_cast<int>(static_cast<long long>(height()) * t.y / 9999);
      p.drawText(px, py + ascent, qs(t.text));
    }
  }
};

// An SVG drawing scaled to the page, keeping its proportions, on white paper.
class PlotView final : public QWidget {
 public:
  QSvgRenderer renderer;
  QString path;
  bool shown = false;  // a drawing was loaded

  void load(const QString& file) {
    path = file;
    shown = !file.isEmpty() && renderer.load(file);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    if (!shown) {
      p.setPen(palette().text().color());
      p.drawText(rect(), Qt::AlignCenter,
                 path.isEmpty() ? QStringLiteral("No plot: the last run drew none.")
                                : QStringLiteral("The plot %1 cannot be shown.").arg(path));
      return;
    }
    QSizeF size = renderer.viewBoxF().size();
    if (size.isEmpty()) size = renderer.defaultSize();
    QSizeF fit = size.scaled(QSizeF(rect().size()), Qt::KeepAspectRatio);
    QRectF target(QPointF((width() - fit.width()) / 2, (height() - fit.height()) / 2), fit);
    p.fillRect(target, Qt::white);
    p.setRenderHint(QPainter::Antialiasing);
    renderer.render(&p, target);
  }
};

// The psi range a scan centred on a chosen event shows at most (degrees): wide enough
// for the neighbouring events, narrow enough to separate them.
constexpr double kCentredWidthDeg = 2.0;

QPlainTextEdit* make_text_page() {
  auto* e = new QPlainTextEdit;
  e->setReadOnly(true);
  e->setLineWrapMode(QPlainTextEdit::NoWrap);
  e->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  return e;
}

}  // namespace

std::vector<std::string> qt_name_filters(std::string_view filter) {
  std::vector<std::string> parts;
  std::size_t b = 0;
  while (b < filter.size()) {
    std::size_t e = filter.find('|', b);
    if (e == std::string_view::npos) e = filter.size();
    parts.emplace_back(filter.substr(b, e - b));
    b = e + 1;
  }
  std::vector<std::string> out;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string patterns = parts[i + 1];
    for (char& c : patterns)
      if (c == ';') c = ' ';
    out.push_back(parts[i] + " (" + patterns + ")");
  }
  return out;
}

struct QtWindowLayer::Impl {
  MainWindow* window = nullptr;
  DrawingArea* area = nullptr;
  QTabWidget* tabs = nullptr;
  PlotView* plot = nullptr;
  PlotView* energy_map = nullptr;  // its tab appears with the first map
  ScanView* scan = nullptr;
  QTableView* events = nullptr;
  QStandardItemModel* event_model = nullptr;
  QLabel* pointer = nullptr;
  QPlainTextEdit* listing = nullptr;
  QPlainTextEdit* help = nullptr;
  QLabel* progress_label = nullptr;
  QProgressBar* progress_bar = nullptr;
  QTimer* progress_timer = nullptr;
  std::map<int, QLabel*> fields;
  std::map<int, QAction*> actions;

  std::deque<WindowMessage> queue;
  QEventLoop* waiting = nullptr;  // the loop of wmessage, while it waits
  bool opened = false;
  bool closing = false;
  bool confirmed = false;
  bool bell_on = true;
  int bells = 0;
  QString last_folder;
  bool grown = false;

  bool task_running = false;
  std::atomic<bool>* cancel = nullptr;
  std::mutex progress_mutex;
  std::string progress_stage;
  double progress_fraction = -1;  // below 0: nothing reported yet

  void post(WindowMessage m) {
    queue.push_back(m);
    if (waiting) waiting->quit();
  }

  QLabel* field(int n) {
    auto it = fields.find(n);
    if (it != fields.end()) return it->second;
    auto* label = new QLabel;
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (n == 1)
      window->statusBar()->addWidget(label, 1);
    else
      window->statusBar()->addPermanentWidget(label);
    fields[n] = label;
    return label;
  }

  void update_progress() {
    std::string stage;
    double fraction;
    {
      std::lock_guard<std::mutex> lock(progress_mutex);
      stage = progress_stage;
      fraction = progress_fraction;
    }
    if (fraction < 0) return;
    progress_label->setText(qs(stage));
    progress_bar->setValue(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 1000));
    progress_label->show();
    progress_bar->show();
  }

  // The window grows to show the pages the first time it has any.
  void show_pages() {
    if (tabs->isVisible()) return;
    area->setFixedHeight(area->text_height());
    tabs->show();
    if (grown) return;
    grown = true;
    const QRect screen = window->screen()->availableGeometry();
    const int h = std::max(window->height(), screen.height() * 4 / 5);
    window->resize(window->width(), h);
  }
};

QtWindowLayer::QtWindowLayer() : d_(std::make_unique<Impl>()) {}

QtWindowLayer::~QtWindowLayer() { delete d_->window; }

void QtWindowLayer::winitialise(std::string_view) {
  QApplication::setApplicationName(QStringLiteral("kaven-gui"));
}

void QtWindowLayer::windowopen(const WindowStyle& style, int) {
  Impl& d = *d_;
  if (d.opened) return;
  d.opened = true;
  d.window = new MainWindow;
  d.window->setWindowTitle(qs(rec::rtrim(style.title)));
  d.window->may_close = [&d] { return d.closing; };
  d.window->close_requested = [&d] {
    if (d.task_running && d.cancel) {
      d.cancel->store(true);
      d.field(1)->setText(QStringLiteral("closing: the run is being stopped"));
    }
    d.post({message_kind::close, 0});
  };

  for (const MenuItem& item : menu_resource(style.menu)) {
    QAction* a = d.window->menuBar()->addAction(QString::fromUtf8(item.caption));
    const int id = item.id;
    QObject::connect(a, &QAction::triggered, d.window, [&d, id] {
      if (!d.task_running) d.post({message_kind::menu, id});
    });
    d.actions[id] = a;
  }

  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  d.area = new DrawingArea;
  d.area->setMinimumHeight(d.area->text_height());
  layout->addWidget(d.area, 1);  // the whole window until there are pages
  d.tabs = new QTabWidget;
  d.scan = new ScanView;
  d.events = new QTableView;
  d.event_model = new QStandardItemModel(d.events);
  d.event_model->setSortRole(Qt::UserRole);
  d.events->setModel(d.event_model);
  d.events->setSortingEnabled(true);
  d.events->setSelectionBehavior(QAbstractItemView::SelectRows);
  d.events->setSelectionMode(QAbstractItemView::SingleSelection);
  d.events->setEditTriggers(QAbstractItemView::NoEditTriggers);
  d.events->verticalHeader()->hide();
  d.plot = new PlotView;
  d.listing = make_text_page();
  d.help = make_text_page();
  d.tabs->addTab(d.scan, QStringLiteral("Scan"));
  d.tabs->addTab(d.events, QStringLiteral("Events"));
  d.tabs->addTab(d.plot, QStringLiteral("Plot page"));
  d.tabs->addTab(d.listing, QStringLiteral("Listing"));
  d.tabs->addTab(d.help, QStringLiteral("Input description"));
  d.energy_map = new PlotView;
  d.tabs->setTabVisible(d.tabs->addTab(d.energy_map, QStringLiteral("Energy map")), false);
  d.tabs->hide();
  layout->addWidget(d.tabs, 1);
  d.window->setCentralWidget(central);

  d.field(1);
  // The pointer's place on the scan, beside the shell's texts.
  d.pointer = new QLabel;
  d.pointer->setObjectName(QStringLiteral("pointer"));
  d.window->statusBar()->addPermanentWidget(d.pointer);
  d.scan->on_pointer = [&d](const QString& text) { d.pointer->setText(text); };
  // Choosing an event centres the scan on its psi; a double click or Enter shows it.
  QObject::connect(d.events->selectionModel(), &QItemSelectionModel::currentRowChanged, d.window,
                   [&d](const QModelIndex& current) {
                     if (!current.isValid()) return;
                     const QModelIndex psi = current.siblingAtColumn(static_cast<int>(EventColumn::psi));
                     d.scan->centre_on(psi.data(Qt::UserRole).toDouble(), kCentredWidthDeg);
                   });
  QObject::connect(d.events, &QTableView::activated, d.window,
                   [&d](const QModelIndex&) { d.tabs->setCurrentWidget(d.scan); });
  d.progress_label = new QLabel;
  d.progress_bar = new QProgressBar;
  d.progress_bar->setRange(0, 1000);
  d.progress_bar->setMaximumWidth(200);
  d.window->statusBar()->addPermanentWidget(d.progress_label);
  d.window->statusBar()->addPermanentWidget(d.progress_bar);
  d.progress_label->hide();
  d.progress_bar->hide();
  d.progress_timer = new QTimer(d.window);
  d.progress_timer->setInterval(100);
  QObject::connect(d.progress_timer, &QTimer::timeout, d.window, [&d] { d.update_progress(); });

  // Place and size: negative positions centre, sizes below 1 take 80 % of the screen.
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const int w = style.width >= 1 ? style.width : screen.width() * 4 / 5;
  const int h = style.height >= 1 ? style.height : screen.height() * 4 / 5;
  const int x = style.left >= 0 ? style.left : (screen.width() - w) / 2;
  const int y = style.top >= 0 ? style.top : (screen.height() - h) / 2;
  d.window->resize(w, h);
  d.window->move(screen.x() + x, screen.y() + y);
  d.window->show();
}

void QtWindowLayer::wmenusetstate(int item, int property, int value) {
  if (value != 0 && value != 1) return;
  auto it = d_->actions.find(item);
  if (it == d_->actions.end()) return;
  if (property == menu_property::enabled) {
    it->second->setEnabled(value == 1);
  } else if (property == menu_property::checked) {
    it->second->setCheckable(true);
    it->second->setChecked(value == 1);
  }
}

void QtWindowLayer::windowoutstatusbar(int field, std::string_view text) {
  if (field < 1 || field >= 256 || !d_->window) return;
  d_->field(field)->setText(qs(rec::rtrim(text)));
}

WindowMessage QtWindowLayer::wmessage() {
  Impl& d = *d_;
  while (d.queue.empty()) {
    if (!d.window || !d.window->isVisible()) return {message_kind::close, 0};
    QEventLoop loop;
    d.waiting = &loop;
    loop.exec();
    d.waiting = nullptr;
  }
  WindowMessage m = d.queue.front();
  d.queue.pop_front();
  return m;
}

void QtWindowLayer::windowclear() {
  if (!d_->area) return;
  d_->area->texts.clear();
  d_->area->update();
}

void QtWindowLayer::windowoutstring(int x, int y, std::string_view text) {
  if (!d_->area) return;
  d_->area->texts.push_back({x, y, std::string(text)});
  d_->area->update();
}

void QtWindowLayer::wselectfile2(std::string_view filter, int mode, std::string& name,
                                 std::string_view title) {
  Impl& d = *d_;
  QFileDialog dialog(d.window, qs(title), d.last_folder);
  dialog.setObjectName(QStringLiteral("kaven-file-dialog"));
  QStringList filters;
  for (const std::string& f : qt_name_filters(filter)) filters << qs(f);
  dialog.setNameFilters(filters);
  const bool save = (mode & file_dialog::save) != 0;
  const bool confirm = (mode & file_dialog::confirm) != 0;
  if (save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !confirm);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // With confirmation a missing file may be named; it is offered for creation below.
    dialog.setFileMode(confirm ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  }
  const std::string given(rec::rtrim(name));
  if (!given.empty()) dialog.selectFile(qs(given));

  d.confirmed = false;
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  // One file is chosen. A name typed over the proposed one can leave the proposed
  // file selected in the list beside it; the name field, which the dialog lists last,
  // holds what the user sees as the choice.
  const QString chosen = dialog.selectedFiles().back();
  if (!save && confirm && !QFileInfo::exists(chosen)) {
    const auto answer = QMessageBox::question(
        d.window, qs(title),
        QStringLiteral("%1\ndoes not exist. Create it?").arg(QDir::toNativeSeparators(chosen)));
    if (answer != QMessageBox::Yes) return;
  }
  d.confirmed = true;
  d.last_folder = QFileInfo(chosen).absolutePath();
  name = chosen.toStdString();
}

int QtWindowLayer::winfodialog(int query) { return query == 4 && d_->confirmed ? 1 : 0; }

void QtWindowLayer::windowbell(std::string_view text) {
  if (text.starts_with("ON ")) {
    d_->bell_on = true;
  } else if (text.starts_with("OFF")) {
    d_->bell_on = false;
  } else if (d_->bell_on) {
    ++d_->bells;
    QApplication::beep();
  }
}

void QtWindowLayer::windowclose() {
  Impl& d = *d_;
  if (!d.window) return;
  d.closing = true;
  d.window->close();
}

void QtWindowLayer::show_page(Page page, const std::string& content) {
  Impl& d = *d_;
  if (!d.tabs) return;
  d.show_pages();
  switch (page) {
    case Page::plot:
      d.plot->load(qs(content));
      d.tabs->setCurrentWidget(d.plot);
      break;
    case Page::energy_map:
      d.energy_map->load(qs(content));
      d.tabs->setTabVisible(d.tabs->indexOf(d.energy_map), true);
      d.tabs->setCurrentWidget(d.energy_map);
      break;
    case Page::scan: d.tabs->setCurrentWidget(d.scan); break;
    case Page::events: d.tabs->setCurrentWidget(d.events); break;
    case Page::listing:
    case Page::input_help: {
      QPlainTextEdit* e = page == Page::listing ? d.listing : d.help;
      e->setPlainText(qs(content));
      // The listing ends with the run's last words: its summary or its message.
      QScrollBar* bar = e->verticalScrollBar();
      bar->setValue(page == Page::listing ? bar->maximum() : 0);
      d.tabs->setCurrentWidget(e);
      break;
    }
  }
}

void QtWindowLayer::clear_pages() {
  Impl& d = *d_;
  if (!d.tabs) return;
  d.plot->load(QString());
  d.listing->clear();
  show_scan(ScanData{});
}

void QtWindowLayer::show_scan(const ScanData& data) {
  Impl& d = *d_;
  if (!d.tabs) return;
  d.scan->set_data(data);
  d.pointer->clear();
  QStandardItemModel& m = *d.event_model;
  m.clear();
  const int columns = static_cast<int>(EventColumn::count);
  QStringList heads;
  for (int c = 0; c < columns; ++c) heads << QString::fromUtf8(event_column_name(static_cast<EventColumn>(c)));
  m.setHorizontalHeaderLabels(heads);
  for (const ListedEvent& e : data.events) {
    QList<QStandardItem*> row;
    for (int c = 0; c < columns; ++c) {
      const auto column = static_cast<EventColumn>(c);
      auto* item = new QStandardItem(qs(event_cell(e, column)));
      item->setData(event_sort_key(e, column), Qt::UserRole);
      if (column != EventColumn::secondary && column != EventColumn::coupling &&
          column != EventColumn::crossing)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      row << item;
    }
    m.appendRow(row);
  }
  d.events->setColumnHidden(static_cast<int>(EventColumn::pass), data.passes < 2);
  d.events->horizontalHeader()->setSortIndicator(static_cast<int>(EventColumn::psi), Qt::AscendingOrder);
  d.events->resizeColumnsToContents();
}

bool QtWindowLayer::cif_dialog(CifDialogValues& values, std::string_view message) {
  return run_cif_dialog(d_->window, values, message);
}

bool QtWindowLayer::energy_map_dialog(EnergyMapValues& values, std::string_view message) {
  return run_energy_map_dialog(d_->window, values, message);
}

bool QtWindowLayer::fit_dialog(FitDialogValues& values, std::string_view message) {
  return run_fit_dialog(d_->window, values, message);
}

bool QtWindowLayer::question(std::string_view title, std::string_view text) {
  return QMessageBox::question(d_->window, qs(title), qs(text)) == QMessageBox::Yes;
}

void QtWindowLayer::run_task(const std::function<void()>& work, std::atomic<bool>& cancel) {
  Impl& d = *d_;
  {
    std::lock_guard<std::mutex> lock(d.progress_mutex);
    d.progress_fraction = -1;
  }
  d.task_running = true;
  d.cancel = &cancel;
  if (d.progress_timer) d.progress_timer->start();

  QEventLoop loop;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();

  if (d.progress_timer) {
    d.progress_timer->stop();
    d.progress_label->hide();
    d.progress_bar->hide();
  }
  d.task_running = false;
  d.cancel = nullptr;
  if (failure) std::rethrow_exception(failure);
}

void QtWindowLayer::show_progress(std::string_view stage, double fraction) {
  std::lock_guard<std::mutex> lock(d_->progress_mutex);
  d_->progress_stage.assign(stage);
  d_->progress_fraction = fraction;
}

QMainWindow* QtWindowLayer::main_window() const { return d_->window; }

QAction* QtWindowLayer::menu_action(int id) const {
  auto it = d_->actions.find(id);
  return it == d_->actions.end() ? nullptr : it->second;
}

QString QtWindowLayer::status_text(int field) const {
  auto it = d_->fields.find(field);
  return it == d_->fields.end() ? QString() : it->second->text();
}

std::vector<PlacedText> QtWindowLayer::texts() const {
  return d_->area ? d_->area->texts : std::vector<PlacedText>{};
}

std::optional<Page> QtWindowLayer::current_page() const {
  const Impl& d = *d_;
  if (!d.tabs || !d.tabs->isVisible()) return std::nullopt;
  QWidget* w = d.tabs->currentWidget();
  if (w == d.plot) return Page::plot;
  if (w == d.scan) return Page::scan;
  if (w == d.events) return Page::events;
  if (w == d.listing) return Page::listing;
  if (w == d.energy_map) return Page::energy_map;
  return Page::input_help;
}

QString QtWindowLayer::page_text(Page page) const {
  const Impl& d = *d_;
  if (!d.tabs) return {};
  switch (page) {
    case Page::plot: return d.plot->path;
    case Page::energy_map: return d.energy_map->path;
    case Page::listing: return d.listing->toPlainText();
    case Page::input_help: return d.help->toPlainText();
    case Page::scan:
    case Page::events: return {};
  }
  return {};
}

bool QtWindowLayer::plot_valid() const { return d_->plot && d_->plot->shown; }

bool QtWindowLayer::energy_map_shown() const {
  const Impl& d = *d_;
  return d.energy_map && d.tabs->isTabVisible(d.tabs->indexOf(d.energy_map)) && d.energy_map->shown;
}

QString QtWindowLayer::progress_text() const {
  const Impl& d = *d_;
  if (!d.progress_bar || !d.progress_bar->isVisible()) return {};
  return d.progress_label->text() + QStringLiteral(" %1%").arg(d.progress_bar->value() / 10);
}

int QtWindowLayer::bells() const { return d_->bells; }

ScanView* QtWindowLayer::scan_view() const { return d_->scan; }

QTableView* QtWindowLayer::events_table() const { return d_->events; }

QString QtWindowLayer::pointer_text() const { return d_->pointer ? d_->pointer->text() : QString(); }

}  // namespace kaven::gui
