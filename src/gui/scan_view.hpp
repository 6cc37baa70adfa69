// The scan of a run to explore: the measured scan in a panel above the calculated one
// (as the plot page draws them), both along one psi axis that the user zooms (wheel,
// + and -) and pans (dragging, the arrow keys); a double click or Home shows the whole
// scan. Each panel scales its intensity to the part of its curve in view. Short ticks on
// the psi axis mark the listed events. The pointer's psi and intensities go to the
// status bar; over a peak a tooltip lists the events there.
#pragma once
#include <QPointF>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

#include "gui/scan_data.hpp"

namespace kaven::gui {

class ScanView final : public QWidget {
 public:
  explicit ScanView(QWidget* parent = nullptr);

  void set_data(ScanData data);  // shows the whole scan
  const ScanData& data() const { return data_; }

  // The psi range in view (degrees).
  double low() const { return lo_; }
  double high() const { return hi_; }
  // Sets the range, kept within the scan and at least a few steps wide.
  void set_range(double lo, double hi);
  // Zooms by `factor` (below 1 in, above 1 out) keeping psi `about` where it is.
  void zoom(double factor, double about);
  // Centres the view on psi and marks it; a view wider than `width` narrows to it.
  void centre_on(double psi, double width);
  void show_all();

  // Between the widget's x and psi.
  double psi_at(double x) const;
  double x_at(double psi) const;

  // What the status bar says for the pointer at `pos` ("" outside the panels), and the
  // tooltip of the events there ("" without events).
  QString pointer_text(QPointF pos) const;
  QString tooltip_at(QPointF pos) const;
  QString last_tooltip() const { return last_tooltip_; }  // the tooltip shown last

  // Called with the pointer's text as the pointer moves.
  std::function<void(const QString&)> on_pointer;

 protected:
  void paintEvent(QPaintEvent*) override;
  void wheelEvent(QWheelEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void mouseDoubleClickEvent(QMouseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  struct Panel {
    QRectF area;
    const std::vector<float>* values;
    int shift;  // steps the curve is drawn further
    QString name;
  };
  std::vector<Panel> panels() const;
  QRectF plot_area() const;
  // Intensity at psi of a panel's curve: linear between the calculated steps, the
  // nearest measured step (none in a gap).
  std::optional<double> value_at(const Panel& panel, double psi) const;
  void point_at(QPointF pos);

  ScanData data_;
  double lo_ = 0, hi_ = 1;  // psi in view
  std::optional<double> marked_;
  std::optional<QPointF> drag_from_;
  double drag_lo_ = 0, drag_hi_ = 0;
  QString last_tooltip_;
};

}  // namespace kaven::gui
