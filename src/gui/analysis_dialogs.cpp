#include "gui/analysis_dialogs.hpp"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <vector>

namespace kaven::gui {

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// The heading (the input), the form, the message of the last try and the buttons.
struct DialogFrame {
  QDialog dialog;
  QVBoxLayout* layout;
  QFormLayout* form;

  DialogFrame(QWidget* parent, const char* name, const QString& title, const std::string& input)
      : dialog(parent), layout(new QVBoxLayout(&dialog)), form(new QFormLayout) {
    dialog.setObjectName(QString::fromLatin1(name));
    dialog.setWindowTitle(title);
    auto* head = new QLabel(QStringLiteral("Input: %1").arg(qs(input)));
    head->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(head);
    layout->addLayout(form);
  }

  bool exec(std::string_view message, const QString& ok) {
    auto* problem = new QLabel(qs(message));
    problem->setObjectName(QStringLiteral("message"));
    problem->setWordWrap(true);
    problem->setStyleSheet(QStringLiteral("color: #b00000"));
    problem->setVisible(!message.empty());
    layout->addWidget(problem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(ok);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    return dialog.exec() == QDialog::Accepted;
  }
};

QDoubleSpinBox* energy_box(const char* name, double value) {
  auto* b = new QDoubleSpinBox;
  b->setObjectName(QString::fromLatin1(name));
  b->setRange(0, 1000);
  b->setDecimals(4);
  b->setSingleStep(0.1);
  b->setSuffix(QStringLiteral(" keV"));
  b->setValue(value);
  return b;
}

}  // namespace

bool run_energy_map_dialog(QWidget* parent, EnergyMapValues& values, std::string_view message) {
  DialogFrame f(parent, "kaven-energy-map-dialog", QStringLiteral("Energy map"), values.input);
  f.form->addRow(QStringLiteral("Energy of the input"),
                 new QLabel(QStringLiteral("%1 keV").arg(values.input_kev, 0, 'f', 4)));
  QDoubleSpinBox* e1 = energy_box("e1", values.e1_kev);
  QDoubleSpinBox* e2 = energy_box("e2", values.e2_kev);
  f.form->addRow(QStringLiteral("From E1"), e1);
  f.form->addRow(QStringLiteral("to E2"), e2);
  auto* n = new QSpinBox;
  n->setObjectName(QStringLiteral("n"));
  n->setRange(0, 1000000);
  n->setValue(values.n);
  f.form->addRow(QStringLiteral("Energies N (both ends included)"), n);
  if (!f.exec(message, QStringLiteral("Map"))) return false;
  values.e1_kev = e1->value();
  values.e2_kev = e2->value();
  values.n = n->value();
  return true;
}

bool run_fit_dialog(QWidget* parent, FitDialogValues& values, std::string_view message) {
  DialogFrame f(parent, "kaven-fit-dialog", QStringLiteral("Fit measured scan"), values.input);
  auto* group = new QGroupBox(QStringLiteral("Parameters to refine"));
  auto* grid = new QGridLayout(group);
  std::vector<QCheckBox*> boxes;
  for (const auto& [name, refined] : values.parameters) {
    auto* b = new QCheckBox(qs(name));
    b->setObjectName(qs(name));
    b->setChecked(refined);
    const int i = static_cast<int>(boxes.size());
    grid->addWidget(b, i / 4, i % 4);
    boxes.push_back(b);
  }
  f.layout->insertWidget(1, group);
  auto* dispersion = new QCheckBox(QStringLiteral("f', f'' at the fitted energy, and the fit again (synchrotron)"));
  dispersion->setObjectName(QStringLiteral("dispersion"));
  dispersion->setChecked(values.dispersion);
  auto* readings = new QCheckBox(QStringLiteral("every reading of the measured psi axis"));
  readings->setObjectName(QStringLiteral("readings"));
  readings->setChecked(values.readings);
  auto* nnn = new QSpinBox;
  nnn->setObjectName(QStringLiteral("interference"));
  nnn->setRange(-1, 1000);
  nnn->setSpecialValueText(QStringLiteral("the input's"));
  nnn->setValue(values.nnn);
  f.form->addRow(dispersion);
  f.form->addRow(readings);
  f.form->addRow(QStringLiteral("Interference term nnn"), nnn);
  if (!f.exec(message, QStringLiteral("Fit"))) return false;
  for (std::size_t i = 0; i < boxes.size(); ++i) values.parameters[i].second = boxes[i]->isChecked();
  values.dispersion = dispersion->isChecked();
  values.readings = readings->isChecked();
  values.nnn = nnn->value();
  return true;
}

}  // namespace kaven::gui
