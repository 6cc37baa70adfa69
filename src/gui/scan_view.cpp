#include "gui/scan_view.hpp"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "scans/measured_scan.hpp"
#include "simulation/listed_events.hpp"

namespace kaven::gui {

namespace {

constexpr double kMarginLeft = 78, kMarginRight = 16, kMarginTop = 24, kMarginBottom = 44;
constexpr double kPanelGap = 22;
constexpr double kPointerReachPx = 4;  // an event this close to the pointer is "there"

// 1, 2 or 5 times a power of ten, at least `raw`.
double nice_step(double raw) {
  if (!(raw > 0) || !std::isfinite(raw)) return 1;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * p >= raw) return m * p;
  return 10 * p;
}

int decimals(double step) { return std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9))); }

QString number(double v, int places) { return QString::number(v, 'f', places); }

QString html_escaped(const std::string& s) { return QString::fromStdString(s).toHtmlEscaped(); }

}  // namespace

ScanView::ScanView(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(400, 250);
}

void ScanView::set_data(ScanData data) {
  data_ = std::move(data);
  marked_.reset();
  last_tooltip_.clear();
  show_all();
}

void ScanView::show_all() {
  if (data_.psi.empty()) {
    lo_ = 0, hi_ = 1;
  } else {
    lo_ = data_.psi.front();
    hi_ = data_.psi.back();
    if (!(hi_ > lo_)) lo_ -= 0.5, hi_ += 0.5;
  }
  update();
}

void ScanView::set_range(double lo, double hi) {
  if (data_.psi.empty() || !std::isfinite(lo) || !std::isfinite(hi)) return;
  double first = data_.psi.front(), last = data_.psi.back();
  if (!(last > first)) first -= 0.5, last += 0.5;
  const double full = last - first;
  const double step = data_.psi.size() > 1 ? full / double(data_.psi.size() - 1) : full;
  const double narrowest = std::min(full, std::max(4 * step, 1e-3));
  const double width = std::clamp(hi - lo, narrowest, full);
  lo_ = std::clamp(lo, first, last - width);
  hi_ = lo_ + width;
  update();
}

void ScanView::zoom(double factor, double about) {
  if (!(factor > 0)) return;
  set_range(about - (about - lo_) * factor, about + (hi_ - about) * factor);
}

void ScanView::centre_on(double psi, double width) {
  marked_ = psi;
  const double w = std::min(hi_ - lo_, width);
  set_range(psi - w / 2, psi + w / 2);
}

QRectF ScanView::plot_area() const {
  return QRectF(kMarginLeft, kMarginTop, std::max(10.0, width() - kMarginLeft - kMarginRight),
                std::max(10.0, height() - kMarginTop - kMarginBottom));
}

std::vector<ScanView::Panel> ScanView::panels() const {
  const QRectF a = plot_area();
  std::vector<Panel> out;
  if (data_.has_measured()) {
    const double h = (a.height() - kPanelGap) / 2;
    out.push_back({QRectF(a.left(), a.top(), a.width(), h), &data_.measured, data_.measured_shift,
                   QStringLiteral("I-obs")});
    out.push_back({QRectF(a.left(), a.top() + h + kPanelGap, a.width(), h), &data_.calculated, 0,
                   QStringLiteral("I-calc")});
  } else {
    out.push_back({a, &data_.calculated, 0, QStringLiteral("I-calc")});
  }
  return out;
}

double ScanView::psi_at(double x) const {
  const QRectF a = plot_area();
  return lo_ + (x - a.left()) / a.width() * (hi_ - lo_);
}

double ScanView::x_at(double psi) const {
  const QRectF a = plot_area();
  return a.left() + (psi - lo_) / (hi_ - lo_) * a.width();
}

std::optional<double> ScanView::value_at(const Panel& panel, double psi) const {
  const std::vector<double>& grid = data_.psi;
  const std::vector<float>& v = *panel.values;
  if (grid.empty() || v.empty()) return std::nullopt;
  // Step j of the grid shows value j - shift; a measured scan has gaps.
  auto value = [&](long j) -> std::optional<double> {
    const long i = j - panel.shift;
    if (i < 0 || i >= static_cast<long>(v.size()) || v[i] >= kNoMeasurement) return std::nullopt;
    return v[i];
  };
  const long n = static_cast<long>(grid.size());
  const long upper = std::upper_bound(grid.begin(), grid.end(), psi) - grid.begin();
  if (upper == 0 || upper == n) return value(upper == 0 ? 0 : n - 1);
  // Linear between the drawn points on either side, as the curve joins them (over the
  // gaps of a measured scan too).
  long a = upper - 1, b = upper;
  while (a >= 0 && !value(a)) --a;
  while (b < n && !value(b)) ++b;
  if (a < 0 || b >= n) return std::nullopt;
  const double t = (psi - grid[a]) / (grid[b] - grid[a]);
  return *value(a) + t * (*value(b) - *value(a));
}

QString ScanView::pointer_text(QPointF pos) const {
  if (data_.psi.empty()) return {};
  const QRectF a = plot_area();
  if (pos.x() < a.left() || pos.x() > a.right() || pos.y() < a.top() || pos.y() > a.bottom())
    return {};
  const double psi = psi_at(pos.x());
  QString text = QStringLiteral("psi %1").arg(number(psi, 3));
  for (const Panel& p : panels()) {
    const auto v = value_at(p, psi);
    text += QStringLiteral("   %1 %2").arg(p.name, v ? number(*v, 1) + QStringLiteral(" cps")
                                                      : QStringLiteral("-"));
  }
  return text;
}

QString ScanView::tooltip_at(QPointF pos) const {
  if (data_.events.empty()) return {};
  const QRectF a = plot_area();
  if (pos.x() < a.left() || pos.x() > a.right() || pos.y() < a.top() || pos.y() > a.bottom())
    return {};
  const double psi = psi_at(pos.x());
  const double reach = kPointerReachPx * (hi_ - lo_) / a.width();
  const std::vector<std::size_t> at = events_at_psi(data_.events, psi, reach);
  QString text;
  for (const std::string& line : event_tooltip_lines(data_, at, psi)) {
    if (!text.isEmpty()) text += '\n';
    text += QString::fromStdString(line);
  }
  return text;
}

void ScanView::point_at(QPointF pos) {
  if (on_pointer) on_pointer(pointer_text(pos));
  const QString tip = tooltip_at(pos);
  if (tip.isEmpty()) {
    if (!last_tooltip_.isEmpty()) QToolTip::hideText();
    last_tooltip_.clear();
    return;
  }
  if (tip == last_tooltip_ && QToolTip::isVisible()) return;
  last_tooltip_ = tip;
  QString html = QStringLiteral("<pre style=\"margin:0\">");
  for (const QString& line : tip.split('\n'))
    html += html_escaped(line.toStdString()) + '\n';
  html.chop(1);
  html += QStringLiteral("</pre>");
  QToolTip::showText(mapToGlobal(pos.toPoint()), html, this);
}

void ScanView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  p.setPen(Qt::black);
  if (!data_.has_scan()) {
    p.drawText(rect(), Qt::AlignCenter,
               data_.events.empty() ? QStringLiteral("No scan: the last run simulated none.")
                                    : QStringLiteral("No scan was simulated (zsw1 < 0); the "
                                                     "events are on the Events page."));
    return;
  }
  p.setRenderHint(QPainter::Antialiasing);
  const QFontMetricsF fm(font());
  const QRectF a = plot_area();

  // Heading: how to move, and what is shown.
  p.setPen(Qt::darkGray);
  p.drawText(QRectF(a.left(), 2, a.width(), kMarginTop - 4), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("wheel or +/-: zoom   drag or arrows: pan   double click: whole scan"));
  p.setPen(Qt::black);
  p.drawText(QRectF(a.left(), 2, a.width(), kMarginTop - 4), Qt::AlignRight | Qt::AlignVCenter,
             QStringLiteral("%1   primary %2 %3 %4")
                 .arg(QString::fromStdString(data_.title).trimmed())
                 .arg(data_.primary[0])
                 .arg(data_.primary[1])
                 .arg(data_.primary[2]));

  // The steps in view, one beyond on each side so that the curves reach the frame.
  const std::vector<double>& grid = data_.psi;
  const long n = static_cast<long>(grid.size());
  const long first = std::max(0L, static_cast<long>(std::lower_bound(grid.begin(), grid.end(), lo_) - grid.begin()) - 1);
  const long last = std::min(n - 1, static_cast<long>(std::upper_bound(grid.begin(), grid.end(), hi_) - grid.begin()));

  const double psi_step = nice_step((hi_ - lo_) / std::max(1.0, a.width() / 90));
  for (const Panel& panel : panels()) {
    const std::vector<float>& v = *panel.values;
    auto value = [&](long j) -> std::optional<double> {
      const long i = j - panel.shift;
      if (i < 0 || i >= static_cast<long>(v.size()) || v[i] >= kNoMeasurement) return std::nullopt;
      return v[i];
    };
    double ymin = INFINITY, ymax = -INFINITY;
    for (long j = first; j <= last; ++j)
      if (const auto y = value(j)) ymin = std::min(ymin, *y), ymax = std::max(ymax, *y);
    if (!(ymax >= ymin)) ymin = 0, ymax = 1;
    const double pad = ymax > ymin ? 0.05 * (ymax - ymin) : std::max(1.0, 0.05 * std::fabs(ymax));
    ymin -= pad, ymax += pad;
    const QRectF r = panel.area;
    auto y_at = [&](double y) { return r.bottom() - (y - ymin) / (ymax - ymin) * r.height(); };

    // Frame, intensity ticks and grid.
    p.setPen(QPen(QColor(235, 235, 235), 1));
    const double y_step = nice_step((ymax - ymin) / std::max(1.0, r.height() / 40));
    for (double y = std::ceil(ymin / y_step) * y_step; y <= ymax; y += y_step) {
      p.setPen(QPen(QColor(235, 235, 235), 1));
      p.drawLine(QPointF(r.left(), y_at(y)), QPointF(r.right(), y_at(y)));
      p.setPen(Qt::black);
      p.drawLine(QPointF(r.left() - 4, y_at(y)), QPointF(r.left(), y_at(y)));
      p.drawText(QRectF(0, y_at(y) - fm.height() / 2, r.left() - 7, fm.height()),
                 Qt::AlignRight | Qt::AlignVCenter, number(y, decimals(y_step)));
    }
    for (double x = std::ceil(lo_ / psi_step) * psi_step; x <= hi_; x += psi_step) {
      p.setPen(QPen(QColor(235, 235, 235), 1));
      p.drawLine(QPointF(x_at(x), r.top()), QPointF(x_at(x), r.bottom()));
    }
    p.setPen(Qt::black);
    p.drawText(QRectF(r.left() + 6, r.top() + 2, r.width() - 12, fm.height()),
               Qt::AlignLeft | Qt::AlignTop, panel.name + QStringLiteral(" (cps)"));

    p.save();
    p.setClipRect(r);
    // The primary's level on the calculated panel.
    if (panel.values == &data_.calculated && data_.iprim > ymin && data_.iprim < ymax) {
      p.setPen(QPen(Qt::darkGray, 1, Qt::DashLine));
      p.drawLine(QPointF(r.left(), y_at(data_.iprim)), QPointF(r.right(), y_at(data_.iprim)));
      p.drawText(QPointF(r.right() - fm.horizontalAdvance(QStringLiteral("Iprim")) - 4,
                         y_at(data_.iprim) - 3),
                 QStringLiteral("Iprim"));
    }
    // The curve: every step, or the lowest and highest of each pixel column when the
    // steps are denser than the pixels. Gaps of a measured scan are joined over.
    auto curve = [&](auto&& at) {
      QPolygonF line;
      const bool dense = double(last - first) > 2 * r.width();
      long column = -1;
      double cmin = 0, cmax = 0, cx = 0;
      auto flush = [&] {
        if (column < 0) return;
        line << QPointF(cx, y_at(cmin));
        if (cmax != cmin) line << QPointF(cx, y_at(cmax));
      };
      for (long j = first; j <= last; ++j) {
        const auto y = at(j);
        if (!y) continue;
        const double x = x_at(grid[j]);
        if (!dense) {
          line << QPointF(x, y_at(*y));
          continue;
        }
        const long c = std::lround(x);
        if (c != column) {
          flush();
          column = c, cx = static_cast<double>(c), cmin = cmax = *y;
        } else {
          cmin = std::min(cmin, *y), cmax = std::max(cmax, *y);
        }
      }
      if (dense) flush();
      return line;
    };
    const QPolygonF line = curve(value);
    p.setPen(QPen(panel.values == &data_.measured ? QColor(200, 0, 0) : QColor(Qt::black), 1.2));
    p.drawPolyline(line);
    // The fitted simulation over the measured scan, blue as on the plot page.
    if (panel.values == &data_.measured && !data_.fitted.empty()) {
      const std::vector<float>& f = data_.fitted;
      p.setPen(QPen(QColor(40, 40, 230), 1.2));
      p.drawPolyline(curve([&](long j) -> std::optional<double> {
        const long i = j - panel.shift;
        if (i < 0 || i >= static_cast<long>(f.size()) || f[i] >= kNoMeasurement) return std::nullopt;
        return f[i];
      }));
    }
    p.restore();
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);
  }

  // The psi axis under the lowest panel, with a tick for every listed event in view.
  const QRectF bottom = panels().back().area;
  p.setPen(QColor(90, 90, 220));
  for (const ListedEvent& e : data_.events) {
    if (e.event.psi < lo_ || e.event.psi > hi_) continue;
    const double x = x_at(e.event.psi);
    p.drawLine(QPointF(x, bottom.bottom()), QPointF(x, bottom.bottom() - 6));
  }
  p.setPen(Qt::black);
  const int places = decimals(psi_step);
  for (double x = std::ceil(lo_ / psi_step) * psi_step; x <= hi_ + 1e-9 * psi_step; x += psi_step) {
    const double px = x_at(x);
    p.drawLine(QPointF(px, bottom.bottom()), QPointF(px, bottom.bottom() + 4));
    p.drawText(QRectF(px - 40, bottom.bottom() + 5, 80, fm.height()), Qt::AlignHCenter | Qt::AlignTop,
               number(std::fabs(x) < 1e-9 * psi_step ? 0.0 : x, places));
  }
  p.drawText(QRectF(bottom.left(), bottom.bottom() + 6 + fm.height(), bottom.width(), fm.height()),
             Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("psi (degrees)"));

  // The psi chosen in the event table.
  if (marked_ && *marked_ >= lo_ && *marked_ <= hi_) {
    p.setPen(QPen(QColor(0, 90, 200), 1, Qt::DashLine));
    p.drawLine(QPointF(x_at(*marked_), a.top()), QPointF(x_at(*marked_), a.bottom()));
  }
}

void ScanView::wheelEvent(QWheelEvent* e) {
  const double notches = e->angleDelta().y() / 120.0;
  if (notches != 0) zoom(std::pow(0.8, notches), psi_at(e->position().x()));
  point_at(e->position());
  e->accept();
}

void ScanView::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) {
    drag_from_ = e->position();
    drag_lo_ = lo_, drag_hi_ = hi_;
    setCursor(Qt::ClosedHandCursor);
  }
}

void ScanView::mouseMoveEvent(QMouseEvent* e) {
  if (drag_from_ && (e->buttons() & Qt::LeftButton)) {
    const double shift = (e->position().x() - drag_from_->x()) * (drag_hi_ - drag_lo_) / plot_area().width();
    set_range(drag_lo_ - shift, drag_hi_ - shift);
  }
  point_at(e->position());
}

void ScanView::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) {
    drag_from_.reset();
    unsetCursor();
  }
}

void ScanView::mouseDoubleClickEvent(QMouseEvent*) { show_all(); }

void ScanView::keyPressEvent(QKeyEvent* e) {
  const double centre = (lo_ + hi_) / 2, width = hi_ - lo_;
  switch (e->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: zoom(0.8, centre); break;
    case Qt::Key_Minus: zoom(1.25, centre); break;
    case Qt::Key_Left: set_range(lo_ - width / 10, hi_ - width / 10); break;
    case Qt::Key_Right: set_range(lo_ + width / 10, hi_ + width / 10); break;
    case Qt::Key_Home:
    case Qt::Key_0: show_all(); break;
    default: QWidget::keyPressEvent(e); return;
  }
  e->accept();
}

void ScanView::leaveEvent(QEvent*) {
  if (on_pointer) on_pointer(QString());
}

}  // namespace kaven::gui
