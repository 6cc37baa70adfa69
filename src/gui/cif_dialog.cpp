#include "gui/cif_dialog.hpp"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/cif_command.hpp"

namespace kaven::gui {

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QDoubleSpinBox* angle_box(const char* name, double value) {
  auto* b = new QDoubleSpinBox;
  b->setObjectName(QString::fromLatin1(name));
  b->setRange(-180, 360);
  b->setDecimals(2);
  b->setSuffix(QStringLiteral(" °"));
  b->setValue(value);
  return b;
}

}  // namespace

bool run_cif_dialog(QWidget* parent, CifDialogValues& values, std::string_view message) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("kaven-cif-dialog"));
  dialog.setWindowTitle(QStringLiteral("Input file from a CIF"));
  auto* layout = new QVBoxLayout(&dialog);

  QString heading = QStringLiteral("CIF: %1").arg(qs(values.cif));
  if (!values.formula.empty()) heading += QStringLiteral("\nFormula: %1").arg(qs(values.formula));
  auto* head = new QLabel(heading);
  head->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(head);
  if (!values.warnings.empty()) {
    // What was mended while reading the CIF: the user should know what was assumed.
    QString text = QStringLiteral("Mended while reading:");
    for (const std::string& w : values.warnings) text += QStringLiteral("\n  ") + qs(w);
    auto* mended = new QLabel(text);
    mended->setObjectName(QStringLiteral("warnings"));
    mended->setTextInteractionFlags(Qt::TextSelectableByMouse);
    mended->setStyleSheet(QStringLiteral("color: #8a5a00"));
    layout->addWidget(mended);
  }

  auto* form = new QFormLayout;
  auto* hkl_row = new QHBoxLayout;
  QSpinBox* hkl[3];
  const char* names[3] = {"h", "k", "l"};
  for (int i = 0; i < 3; ++i) {
    hkl[i] = new QSpinBox;
    hkl[i]->setObjectName(QString::fromLatin1(names[i]));
    hkl[i]->setRange(-99, 99);
    hkl[i]->setValue(values.hkl[static_cast<std::size_t>(i)]);
    hkl_row->addWidget(hkl[i]);
  }
  form->addRow(QStringLiteral("Primary reflection h k l"), hkl_row);

  auto* radiation = new QComboBox;
  radiation->setObjectName(QStringLiteral("radiation"));
  for (const char* r : kCifRadiations)
    radiation->addItem(std::string_view(r) == "synchrotron" ? QStringLiteral("Synchrotron")
                                                            : QStringLiteral("%1 K-alpha").arg(QString::fromLatin1(r)),
                       QString::fromLatin1(r));
  radiation->setCurrentIndex(std::max(0, radiation->findData(qs(values.radiation))));
  form->addRow(QStringLiteral("Radiation"), radiation);

  auto* wavelength = new QDoubleSpinBox;
  wavelength->setObjectName(QStringLiteral("wavelength"));
  wavelength->setRange(0, 10);
  wavelength->setDecimals(5);
  wavelength->setSuffix(QStringLiteral(" Å"));
  wavelength->setValue(values.wavelength);
  form->addRow(QStringLiteral("Synchrotron wavelength"), wavelength);

  auto* psi_row = new QHBoxLayout;
  QDoubleSpinBox* psia = angle_box("psia", values.psi[0]);
  QDoubleSpinBox* psie = angle_box("psie", values.psi[1]);
  psi_row->addWidget(psia);
  psi_row->addWidget(new QLabel(QStringLiteral("to")));
  psi_row->addWidget(psie);
  form->addRow(QStringLiteral("Psi range"), psi_row);

  auto* input = new QLineEdit(qs(values.input_name));
  input->setObjectName(QStringLiteral("input_name"));
  form->addRow(QStringLiteral("New input file (beside the CIF)"), input);
  layout->addLayout(form);

  auto* problem = new QLabel(qs(message));
  problem->setObjectName(QStringLiteral("message"));
  problem->setWordWrap(true);
  problem->setStyleSheet(QStringLiteral("color: #b00000"));
  problem->setVisible(!message.empty());
  layout->addWidget(problem);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Write input file"));
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(buttons);

  // The wavelength belongs to the synchrotron line; the psi range follows the radiation
  // until the user sets it.
  bool psi_edited = values.psi != default_psi_range(values.radiation);
  auto follow = [&] {
    const std::string r = radiation->currentData().toString().toStdString();
    wavelength->setEnabled(r == "synchrotron");
    if (psi_edited) return;
    const std::array<float, 2> range = default_psi_range(r);
    const QSignalBlocker ba(psia), be(psie);
    psia->setValue(range[0]);
    psie->setValue(range[1]);
  };
  QObject::connect(radiation, &QComboBox::currentIndexChanged, &dialog, follow);
  auto edited = [&] { psi_edited = true; };
  QObject::connect(psia, &QDoubleSpinBox::valueChanged, &dialog, edited);
  QObject::connect(psie, &QDoubleSpinBox::valueChanged, &dialog, edited);
  follow();

  if (dialog.exec() != QDialog::Accepted) return false;
  for (int i = 0; i < 3; ++i) values.hkl[static_cast<std::size_t>(i)] = hkl[i]->value();
  values.radiation = radiation->currentData().toString().toStdString();
  values.wavelength = static_cast<float>(wavelength->value());
  values.psi = {static_cast<float>(psia->value()), static_cast<float>(psie->value())};
  values.input_name = input->text().trimmed().toStdString();
  return true;
}

}  // namespace kaven::gui
