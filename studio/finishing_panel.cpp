#include "studio/finishing_panel.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "session/parameter_settings.h"

namespace {

constexpr int sliderSteps = 1000;

double sliderValueAt(int step, const FinishingControl& control) {
  return control.sliderMin + (control.sliderMax - control.sliderMin) * step / sliderSteps;
}

int sliderStepOf(double value, const FinishingControl& control) {
  const double share = (value - control.sliderMin) / (control.sliderMax - control.sliderMin);
  return static_cast<int>(std::lround(std::clamp(share, 0.0, 1.0) * sliderSteps));
}

}  // namespace

FinishingPanel::FinishingPanel(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(9, 6, 9, 0);
  layout->setSpacing(2);
  auto* title = new QLabel(tr("<b>Finishing</b>: the host's, on the effect's frames"));
  layout->addWidget(title);
  QVBoxLayout* section = nullptr;
  QString group;
  controls_.resize(finishingControlCount);
  for (int id = 0; id < finishingControlCount; ++id) {
    const FinishingControl& control = finishingControls[id];
    if (group != control.group) {
      group = control.group;
      // Shut until opened, as the effect's groups of less-used controls are.
      auto* header = new QToolButton;
      header->setText(group);
      header->setObjectName(group);
      header->setCheckable(true);
      header->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
      header->setArrowType(Qt::RightArrow);
      header->setAutoRaise(true);
      auto* body = new QWidget;
      section = new QVBoxLayout(body);
      section->setContentsMargins(16, 0, 0, 0);
      section->setSpacing(2);
      body->setVisible(false);
      connect(header, &QToolButton::toggled, body, [header, body](bool open) {
        header->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        body->setVisible(open);
      });
      layout->addWidget(header);
      layout->addWidget(body);
      headers_.emplace_back(id, header);
    }
    const QString name = QString::fromStdString(finishingControlName(id));
    auto* row = new QWidget;
    row->setToolTip(QString::fromUtf8(control.description));
    row->installEventFilter(this);
    row->setProperty("finishingId", id);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QString::fromUtf8(control.name));
    label->setMinimumWidth(90);
    // A double-click on the label sets the control back to its default, as on the effect's panel.
    label->setProperty("finishingId", id);
    label->installEventFilter(this);
    rowLayout->addWidget(label);
    Control& editors = controls_[id];
    if (control.kind == FinishingKind::choice) {
      editors.popup = new QComboBox;
      editors.popup->setObjectName(name);
      for (const std::string& choice : splitChoices(control.choices)) {
        editors.popup->addItem(QString::fromStdString(choice));
      }
      connect(editors.popup, &QComboBox::currentIndexChanged, this, [this, id](int index) {
        emit valueEdited(id, index + 1);
      });
      rowLayout->addWidget(editors.popup, 1);
    } else {
      editors.slider = new QSlider(Qt::Horizontal);
      editors.slider->setRange(0, sliderSteps);
      editors.number = new QDoubleSpinBox;
      editors.number->setObjectName(name);
      editors.number->setRange(control.validMin, control.validMax);
      editors.number->setDecimals(control.sliderMax - control.sliderMin > 20 ? 1 : 2);
      editors.number->setKeyboardTracking(false);
      editors.number->setFixedWidth(90);
      if (*control.unit) {
        editors.number->setSuffix(QStringLiteral(" ") + QString::fromUtf8(control.unit));
      }
      QDoubleSpinBox* number = editors.number;
      connect(editors.slider, &QSlider::sliderPressed, this, &FinishingPanel::dragStarted);
      connect(editors.slider, &QSlider::valueChanged, this, [this, id, number](int step) {
        const QSignalBlocker blocker(number);
        number->setValue(sliderValueAt(step, finishingControls[id]));
        emit valueEdited(id, number->value());
      });
      connect(editors.number, &QDoubleSpinBox::valueChanged, this, [this, id](double value) {
        emit valueEdited(id, value);
      });
      rowLayout->addWidget(editors.slider, 1);
      rowLayout->addWidget(editors.number);
    }
    section->addWidget(row);
  }
}

void FinishingPanel::show(const FinishingValues& finishing) {
  for (size_t group = 0; group < headers_.size(); ++group) {
    const int end = group + 1 < headers_.size() ? headers_[group + 1].first : finishingControlCount;
    for (int id = headers_[group].first; id < end; ++id) {
      if (finishing[id] != finishingControls[id].defaultValue) {
        headers_[group].second->setChecked(true);
      }
    }
  }
  for (int id = 0; id < finishingControlCount; ++id) {
    const Control& editors = controls_[id];
    if (editors.popup) {
      const QSignalBlocker blocker(editors.popup);
      editors.popup->setCurrentIndex(static_cast<int>(finishing[id]) - 1);
      continue;
    }
    const QSignalBlocker sliderBlocker(editors.slider);
    const QSignalBlocker numberBlocker(editors.number);
    editors.number->setValue(finishing[id]);
    if (!editors.slider->isSliderDown()) {
      editors.slider->setValue(sliderStepOf(finishing[id], finishingControls[id]));
    }
  }
}

QWidget* FinishingPanel::editor(const QString& name) const {
  for (int id = 0; id < finishingControlCount; ++id) {
    if (QString::fromStdString(finishingControlName(id)) == name) {
      return controls_[id].popup ? static_cast<QWidget*>(controls_[id].popup) : controls_[id].number;
    }
  }
  return nullptr;
}

bool FinishingPanel::dragging() const {
  return std::any_of(controls_.begin(), controls_.end(),
                     [](const Control& editors) { return editors.slider && editors.slider->isSliderDown(); });
}

bool FinishingPanel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    const int id = watched->property("finishingId").toInt();
    emit valueEdited(id, finishingControls[id].defaultValue);
    return true;
  }
  if (event->type() == QEvent::Enter && watched->isWidgetType() && !qobject_cast<QLabel*>(watched)) {
    const int id = watched->property("finishingId").toInt();
    emit helpChanged(QString::fromStdString(finishingControlName(id)) + QStringLiteral(": ") +
                     QString::fromUtf8(finishingControls[id].description));
  }
  return QWidget::eventFilter(watched, event);
}
