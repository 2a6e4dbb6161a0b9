#include "studio/effect_panel.h"

#include "authoring/control_guide.h"
#include "studio/custom_control_view.h"

#include <QCheckBox>
#include <QColor>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QComboBox>
#include <QDial>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QFontComboBox>
#include <QMenu>
#include <QSpinBox>
#include <QMouseEvent>
#include <QTimer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

// The guide's paragraph for a control or group; empty when the guide has none.
QString guideText(const QString& name) {
  const ControlGuide* guide = findControlGuide(name.toStdString());
  return guide ? QString::fromStdString(controlHelpText(*guide)) : QString();
}

constexpr int sliderSteps = 1000;
constexpr int labelWidth = 130;   // pixels, so that the editors line up
constexpr int numberWidth = 96;   // pixels: wide enough for "-1000.00 %"
// Typed emitter text is drawn once typing pauses this long, not at every key.
constexpr int typingPauseMilliseconds = 300;
// A key button's face: filled when the current frame holds a key.
const QString keyMark = QStringLiteral("\u25C6");
const QString noKeyMark = QStringLiteral("\u25C7");

double sliderValueAt(int step, const PF_FloatSliderDef& def) {
  return def.slider_min + (static_cast<double>(def.slider_max) - def.slider_min) * step / sliderSteps;
}

int sliderStepOf(double value, const PF_FloatSliderDef& def) {
  double span = static_cast<double>(def.slider_max) - def.slider_min;
  if (!(span > 0.0) || !std::isfinite(value)) {
    return 0;
  }
  return static_cast<int>(std::lround(std::clamp((value - def.slider_min) / span, 0.0, 1.0) * sliderSteps));
}

// The fully saturated colour of a hue in degrees, any number of turns.
QColor hueColour(double degrees) {
  double turn = std::fmod(degrees, 360.0);
  return QColor::fromHsvF(static_cast<float>((turn < 0.0 ? turn + 360.0 : turn) / 360.0), 1.0f, 1.0f);
}

bool hasKeyAt(const ParamTrack& track, double time) {
  return track.animated &&
         std::any_of(track.keys.begin(), track.keys.end(), [&](const Keyframe& key) { return key.time == time; });
}

}  // namespace

EffectPanel::EffectPanel(HostSession& session, QWidget* parent) : QWidget(parent), session_(session) {
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(2);
  auto* title = new QHBoxLayout;
  title->addWidget(new QLabel(QStringLiteral("<b>%1</b>").arg(QString::fromStdString(session.module.registration.name))));
  title->addStretch();
  if (!session.optionsButtonName.empty()) {
    auto* options = new QPushButton(QString::fromStdString(session.optionsButtonName));
    options->setObjectName(QStringLiteral("optionsButton"));
    connect(options, &QPushButton::clicked, this, &EffectPanel::optionsButtonPressed);
    title->addWidget(options);
  }
  layout->addLayout(title);

  // Groups nest: each start opens a section inside the current one, each end closes it.
  std::vector<QVBoxLayout*> sections{layout};
  std::vector<int> groupStarts{-1};
  for (int position = 1; position < static_cast<int>(session.params.size()); ++position) {
    const PF_ParamDef& def = session.params[position].def;
    if (def.param_type == PF_Param_GROUP_START) {
      groupStarts.push_back(position);
      sections.push_back(addGroup(sections.back(), position, (def.flags & PF_ParamFlag_COLLAPSE_TWIRLY) != 0));
    } else if (def.param_type == PF_Param_GROUP_END) {
      if (sections.size() > 1) {
        sections.pop_back();
        groupStarts.pop_back();
      }
    } else if (!(def.ui_flags & PF_PUI_NO_ECW_UI)) {
      addControl(position, groupStarts.back(), sections.back());
    }
  }
  layout->addStretch();
  // Working on a control selects it, so that the timeline shows the keys being set.
  connect(this, &EffectPanel::valueEdited, this, [this](int position) { selectControlOf(position); });
  connect(this, &EffectPanel::keyToggled, this, [this](int keyedPosition) { selectControlOf(keyedPosition); });
}

// A collapsible section: a header that twirls the body open and shut; its context menu resets
// the group.
QVBoxLayout* EffectPanel::addGroup(QVBoxLayout* parent, int groupStart, bool collapsed) {
  const QString title = QString::fromUtf8(session_.params[groupStart].def.name);
  auto* header = new QToolButton;
  header->setText(title);
  header->setCheckable(true);
  header->setChecked(!collapsed);
  header->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  header->setArrowType(collapsed ? Qt::RightArrow : Qt::DownArrow);
  header->setAutoRaise(true);
  header->setObjectName(title);
  header->setToolTip(guideText(title));
  header->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(header, &QToolButton::customContextMenuRequested, this, [this, header, groupStart](const QPoint& where) {
    showResetMenu({}, groupStart, header->mapToGlobal(where));
  });
  auto* body = new QWidget;
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(16, 0, 0, 0);
  layout->setSpacing(2);
  body->setVisible(!collapsed);
  groupBodies_.push_back(body);
  QObject::connect(header, &QToolButton::toggled, body, [header, body](bool open) {
    header->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    body->setVisible(open);
  });
  parent->addWidget(header);
  parent->addWidget(body);
  return layout;
}

std::vector<int> EffectPanel::groupPositions(int groupStart) const {
  const int count = static_cast<int>(session_.params.size());
  std::vector<int> positions;
  int depth = 0;
  for (int position = groupStart < 0 ? 1 : groupStart + 1; position < count; ++position) {
    const PF_ParamDef& def = session_.params[position].def;
    if (def.param_type == PF_Param_GROUP_START) {
      ++depth;
    } else if (def.param_type == PF_Param_GROUP_END && depth-- == 0 && groupStart >= 0) {
      break;
    } else if (paramValue(def)) {
      positions.push_back(position);
    }
  }
  return positions;
}

void EffectPanel::guardWheel(QWidget* editor) {
  if (editor) {
    editor->setFocusPolicy(Qt::StrongFocus);
    editor->installEventFilter(this);
  }
}

void EffectPanel::showResetMenu(const Control* control, int groupStart, const QPoint& where) {
  QMenu menu;
  if (control) {
    std::vector<int> positions{control->position};
    if (control->keyedPosition != control->position) {
      positions.push_back(control->keyedPosition);
    }
    const QString name = control->name;
    menu.addAction(tr("Reset %1").arg(name), this, [this, positions, name] { emit resetRequested(positions, name); });
  }
  if (groupStart >= 0) {
    const QString group = QString::fromUtf8(session_.params[groupStart].def.name);
    menu.addAction(tr("Reset Group %1").arg(group), this,
                   [this, group, groupStart] { emit resetRequested(groupPositions(groupStart), group); });
  }
  menu.addAction(tr("Reset All Controls"), this,
                 [this] { emit resetRequested(groupPositions(-1), tr("all controls")); });
  menu.exec(where);
}

void EffectPanel::addControl(int position, int groupStart, QVBoxLayout* into) {
  const PF_ParamDef& def = session_.params[position].def;
  Control control;
  control.name = QString::fromStdString(qualifiedName(session_.params, position));
  control.position = position;
  control.keyedPosition = position;
  control.groupStart = groupStart;
  control.row = new QWidget;
  auto* rowLayout = new QHBoxLayout(control.row);
  rowLayout->setContentsMargins(0, 0, 0, 0);
  control.label = new QLabel(QString::fromUtf8(def.name));
  control.label->setFixedWidth(labelWidth);
  rowLayout->addWidget(control.label);

  switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
      addSlider(control, def.u.fs_d);
      break;
    case PF_Param_ANGLE:
      addAngle(control);
      break;
    case PF_Param_POPUP: {
      control.popup = new QComboBox;
      for (const std::string& choice : splitChoices(session_.params[position].choices)) {
        control.popup->addItem(QString::fromStdString(choice));
      }
      connect(control.popup, &QComboBox::currentIndexChanged, this,
              [this, position](int index) { emit valueEdited(position, index + 1); });
      control.editor = control.popup;
      break;
    }
    case PF_Param_CHECKBOX:
      control.checkbox = new QCheckBox(QString::fromStdString(session_.params[position].choices));
      connect(control.checkbox, &QCheckBox::toggled, this,
              [this, position](bool on) { emit valueEdited(position, on ? 1.0 : 0.0); });
      control.editor = control.checkbox;
      break;
    case PF_Param_LAYER:
      // The emitter is the one layer a user gives the effect; the others are the layer itself.
      if (emitterLabel_ || std::string(def.name) != "Emitter Layer") {
        delete control.row;
        return;
      }
      addLayer(control);
      break;
    default:
      delete control.row;
      // The control the effect draws itself (its banner) spans the panel, without a label.
      if (def.ui_flags & PF_PUI_CONTROL) {
        customControl_ = new CustomControlView(session_, position);
        customControl_->setObjectName(QStringLiteral("customControl"));
        into->addWidget(customControl_);
      }
      return;
  }
  if (control.slider) {
    rowLayout->addWidget(control.slider, 1);
    rowLayout->addWidget(control.number);
  } else if (control.dial) {
    rowLayout->addWidget(control.dial);
    rowLayout->addWidget(control.number);
    if (control.swatch) {
      rowLayout->addWidget(control.swatch);
    }
    rowLayout->addStretch(1);
  } else if (control.editor) {
    rowLayout->addWidget(control.editor, 1);
  }
  if (control.key) {
    rowLayout->addWidget(control.key);
  }
  control.editor->setObjectName(control.name);
  control.row->installEventFilter(this);
  control.label->installEventFilter(this);
  control.help = guideText(control.name);
  const QString resetHint = tr("Double-click: back to the default; right-click: reset menu");
  control.label->setToolTip(control.help.isEmpty() ? resetHint : control.help + QStringLiteral("\n\n") + resetHint);
  control.editor->setToolTip(control.help);
  if (control.slider) {
    control.slider->setToolTip(control.help);
  }
  for (QWidget* editor : std::initializer_list<QWidget*>{control.slider, control.number, control.dial, control.popup}) {
    guardWheel(editor);
  }
  into->addWidget(control.row);
  if (def.param_type == PF_Param_LAYER) {
    into->addWidget(emitterExtras_);
  }
  controls_.push_back(control);
}

void EffectPanel::addSlider(Control& control, const PF_FloatSliderDef& def) {
  const int position = control.position;
  control.slider = new QSlider(Qt::Horizontal);
  control.slider->setRange(0, sliderSteps);
  control.number = new QDoubleSpinBox;
  control.number->setRange(def.valid_min, def.valid_max);
  control.number->setDecimals(std::clamp<int>(def.precision, 0, 6));
  control.number->setSingleStep(std::pow(10.0, -std::clamp<int>(def.precision, 0, 6)));
  control.number->setKeyboardTracking(false);
  control.number->setFixedWidth(numberWidth);
  if (def.display_flags & PF_ValueDisplayFlag_PERCENT) {
    control.number->setSuffix(QStringLiteral(" %"));
  }
  QDoubleSpinBox* number = control.number;
  connect(control.slider, &QSlider::sliderPressed, this, &EffectPanel::dragStarted);
  connect(control.slider, &QSlider::valueChanged, this, [this, position, number, def](int step) {
    double value = sliderValueAt(step, def);
    const QSignalBlocker blocker(number);
    number->setValue(value);
    emit valueEdited(position, number->value());
  });
  connect(control.number, &QDoubleSpinBox::valueChanged, this,
          [this, position](double value) { emit valueEdited(position, value); });
  control.editor = control.number;
  control.key = addKeyButton(control);
}

void EffectPanel::addAngle(Control& control) {
  const int position = control.position;
  control.dial = new QDial;
  control.dial->setRange(0, 359);
  control.dial->setWrapping(true);
  control.dial->setNotchesVisible(true);
  control.dial->setFixedSize(48, 48);
  control.number = new QDoubleSpinBox;
  control.number->setRange(-32767.0, 32767.0);
  control.number->setDecimals(1);
  control.number->setSuffix(QStringLiteral("\u00B0"));
  control.number->setFixedWidth(numberWidth);
  control.number->setKeyboardTracking(false);
  connect(control.dial, &QDial::sliderPressed, this, &EffectPanel::dragStarted);
  // The dial's zero points up, as a compass does.
  connect(control.dial, &QDial::valueChanged, this,
          [this, position](int degrees) { emit valueEdited(position, (degrees + 180) % 360); });
  connect(control.number, &QDoubleSpinBox::valueChanged, this,
          [this, position](double degrees) { emit valueEdited(position, degrees); });
  control.editor = control.number;
  // A dial that edits a hidden keyframable slider keys that slider. Such a dial is a colour's hue:
  // it also gets a swatch of that hue, whose picker sets the dial.
  int slider = hueSliderEditedBy(session_.params, position);
  if (slider >= 0) {
    control.swatch = new QToolButton;
    control.swatch->setObjectName(control.name + QStringLiteral(" swatch"));
    control.swatch->setFixedSize(32, 22);
    control.swatch->setToolTip(tr("Pick the colour's hue"));
    QDoubleSpinBox* number = control.number;
    connect(control.swatch, &QToolButton::clicked, this, [this, position, number] {
      QColor picked = QColorDialog::getColor(hueColour(number->value()), this, tr("Hue"));
      if (picked.isValid() && picked.hsvHue() >= 0) {
        emit valueEdited(position, picked.hsvHue());
      }
    });
  }
  if (slider >= 0 || !(session_.params[position].def.flags & PF_ParamFlag_CANNOT_TIME_VARY)) {
    control.keyedPosition = slider >= 0 ? slider : position;
    control.key = addKeyButton(control);
  }
}

void EffectPanel::addLayer(Control& control) {
  emitterLabel_ = new QLabel(tr("This layer"));
  auto* choose = new QPushButton(tr("Image..."));
  auto* clear = new QPushButton(tr("None"));
  connect(choose, &QPushButton::clicked, this, [this] {
    QString path = QFileDialog::getOpenFileName(this, tr("Emitter Layer"), QString(), tr("Images (*.png *.exr)"));
    if (!path.isEmpty()) {
      emit emitterImageChosen(path);
    }
  });
  connect(clear, &QPushButton::clicked, this, [this] { emit emitterImageChosen(QString()); });
  auto* editor = new QWidget;
  auto* layout = new QHBoxLayout(editor);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(emitterLabel_, 1);
  layout->addWidget(choose);
  layout->addWidget(clear);
  control.editor = editor;

  // Flames from a title: the text becomes the layer. It greys out with the layer, as do the
  // text's style and the image's placement.
  emitterExtras_ = new QWidget;
  auto* extras = new QVBoxLayout(emitterExtras_);
  extras->setContentsMargins(0, 0, 0, 0);
  extras->setSpacing(2);
  auto addRow = [&](const QString& label, std::initializer_list<QWidget*> editors) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* name = new QLabel(label);
    name->setFixedWidth(labelWidth);
    layout->addWidget(name);
    for (QWidget* editor : editors) {
      layout->addWidget(editor, qobject_cast<QLineEdit*>(editor) || qobject_cast<QFontComboBox*>(editor) ? 1 : 0);
    }
    extras->addWidget(row);
    return row;
  };
  emitterText_ = new QLineEdit;
  emitterText_->setObjectName(QStringLiteral("emitterText"));
  emitterText_->setPlaceholderText(tr("Text drawn white as the emitter"));
  emitterText_->setToolTip(tr("Applied as you type"));
  emitterTextPause_ = new QTimer(this);
  emitterTextPause_->setSingleShot(true);
  emitterTextPause_->setInterval(typingPauseMilliseconds);
  connect(emitterText_, &QLineEdit::textEdited, emitterTextPause_, qOverload<>(&QTimer::start));
  connect(emitterTextPause_, &QTimer::timeout, this, [this] { emit emitterTextEdited(emitterText_->text()); });
  connect(emitterText_, &QLineEdit::editingFinished, this, [this] {
    emitterTextPause_->stop();
    emit emitterTextEdited(emitterText_->text());
  });
  addRow(tr("Emitter Text"), {emitterText_});

  textFont_ = new QFontComboBox;
  textFont_->setObjectName(QStringLiteral("textFont"));
  // Sized for a font's name, not for the longest name installed.
  textFont_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  textFont_->setMinimumContentsLength(12);
  textBold_ = new QCheckBox(tr("Bold"));
  textSize_ = new QSpinBox;
  textSize_->setObjectName(QStringLiteral("textSize"));
  textSize_->setRange(0, 4000);
  textSize_->setSpecialValueText(tr("Fit"));
  textSize_->setSuffix(tr(" px"));
  textSize_->setToolTip(tr("The text's height in layer pixels; Fit makes it as large as the layer allows"));
  textAlignment_ = new QComboBox;
  textAlignment_->setObjectName(QStringLiteral("textAlignment"));
  textAlignment_->addItems({tr("Left"), tr("Centre"), tr("Right")});
  textX_ = new QDoubleSpinBox;
  textY_ = new QDoubleSpinBox;
  for (QDoubleSpinBox* anchor : {textX_, textY_}) {
    anchor->setRange(-100.0, 200.0);
    anchor->setDecimals(1);
    anchor->setSuffix(QStringLiteral(" %"));
    anchor->setKeyboardTracking(false);
    anchor->setToolTip(tr("Where the text sits, in percent of the layer's width and height from its top left"));
  }
  textX_->setObjectName(QStringLiteral("textX"));
  textY_->setObjectName(QStringLiteral("textY"));
  textStyleRows_ = {addRow(tr("Text Font"), {textFont_, textBold_}),
                    addRow(tr("Text Size"), {textSize_, textAlignment_}),
                    addRow(tr("Text Position"), {textX_, textY_})};
  auto styleEdited = [this] {
    if (!showingEmitter_) {
      emit emitterTextStyleEdited(textStyle());
    }
  };
  connect(textFont_, &QFontComboBox::currentFontChanged, this, styleEdited);
  connect(textBold_, &QCheckBox::toggled, this, styleEdited);
  connect(textSize_, &QSpinBox::valueChanged, this, styleEdited);
  connect(textAlignment_, &QComboBox::currentIndexChanged, this, styleEdited);
  connect(textX_, &QDoubleSpinBox::valueChanged, this, styleEdited);
  connect(textY_, &QDoubleSpinBox::valueChanged, this, styleEdited);

  imageFit_ = new QComboBox;
  imageFit_->setObjectName(QStringLiteral("imageFit"));
  for (EmitterFit fit : {EmitterFit::none, EmitterFit::fit, EmitterFit::fill, EmitterFit::centre}) {
    imageFit_->addItem(QString::fromStdString(emitterFitName(fit)), static_cast<int>(fit));
  }
  imageFit_->setToolTip(tr("none: its own size at the top left; fit: inside the layer; fill: covering the layer; "
                           "centre: its own size, centred"));
  imageScale_ = new QDoubleSpinBox;
  imageScale_->setObjectName(QStringLiteral("imageScale"));
  imageScale_->setRange(0.01, 100.0);
  imageScale_->setSingleStep(0.05);
  imageScale_->setPrefix(QStringLiteral("\u00D7"));
  imageScale_->setToolTip(tr("Scales the image beyond its fit"));
  imageOffsetX_ = new QDoubleSpinBox;
  imageOffsetY_ = new QDoubleSpinBox;
  for (QDoubleSpinBox* offset : {imageOffsetX_, imageOffsetY_}) {
    offset->setRange(-100000.0, 100000.0);
    offset->setDecimals(0);
    offset->setSuffix(tr(" px"));
    offset->setToolTip(tr("Moves the image right and down, in layer pixels"));
  }
  imageOffsetX_->setObjectName(QStringLiteral("imageOffsetX"));
  imageOffsetY_->setObjectName(QStringLiteral("imageOffsetY"));
  for (QDoubleSpinBox* spin : {imageScale_, imageOffsetX_, imageOffsetY_}) {
    spin->setKeyboardTracking(false);
  }
  imagePlacementRows_ = {addRow(tr("Image Fit"), {imageFit_, imageScale_}),
                         addRow(tr("Image Offset"), {imageOffsetX_, imageOffsetY_})};
  auto placementEdited = [this] {
    if (!showingEmitter_) {
      emit emitterPlacementEdited(placement());
    }
  };
  connect(imageFit_, &QComboBox::currentIndexChanged, this, placementEdited);
  connect(imageScale_, &QDoubleSpinBox::valueChanged, this, placementEdited);
  connect(imageOffsetX_, &QDoubleSpinBox::valueChanged, this, placementEdited);
  connect(imageOffsetY_, &QDoubleSpinBox::valueChanged, this, placementEdited);
  for (QWidget* editor : std::initializer_list<QWidget*>{textFont_, textSize_, textAlignment_, textX_, textY_,
                                                         imageFit_, imageScale_, imageOffsetX_, imageOffsetY_}) {
    guardWheel(editor);
  }
}

EmitterTextStyle EffectPanel::textStyle() const {
  EmitterTextStyle style;
  style.family = textFont_->currentFont().family().toStdString();
  style.bold = textBold_->isChecked();
  style.pixelSize = textSize_->value();
  style.anchorX = textX_->value() / 100.0;
  style.anchorY = textY_->value() / 100.0;
  style.alignment = static_cast<TextAlignment>(textAlignment_->currentIndex());
  return style;
}

EmitterPlacement EffectPanel::placement() const {
  EmitterPlacement placement;
  placement.fit = static_cast<EmitterFit>(imageFit_->currentData().toInt());
  placement.scale = imageScale_->value();
  placement.offsetX = imageOffsetX_->value();
  placement.offsetY = imageOffsetY_->value();
  return placement;
}

QToolButton* EffectPanel::addKeyButton(Control& control) {
  auto* key = new QToolButton;
  key->setText(noKeyMark);
  key->setCheckable(true);
  key->setAutoRaise(true);
  key->setToolTip(tr("Keyframe at this frame: set one, or remove the one here"));
  key->setObjectName(control.name + QStringLiteral(" key"));
  const int keyed = control.keyedPosition;
  connect(key, &QToolButton::clicked, this, [this, keyed] { emit keyToggled(keyed); });
  return key;
}

void EffectPanel::showValue(const Control& control, const PF_ParamDef& def) {
  switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER: {
      const QSignalBlocker sliderBlocker(control.slider);
      const QSignalBlocker numberBlocker(control.number);
      control.slider->setValue(sliderStepOf(def.u.fs_d.value, def.u.fs_d));
      control.number->setValue(def.u.fs_d.value);
      break;
    }
    case PF_Param_ANGLE: {
      const QSignalBlocker dialBlocker(control.dial);
      const QSignalBlocker numberBlocker(control.number);
      double degrees = def.u.ad.value / 65536.0;
      control.dial->setValue((static_cast<int>(std::lround(std::fmod(degrees, 360.0) + 360.0)) + 180) % 360);
      control.number->setValue(degrees);
      if (control.swatch) {
        control.swatch->setStyleSheet(QStringLiteral("background-color: %1").arg(hueColour(degrees).name()));
      }
      break;
    }
    case PF_Param_POPUP: {
      const QSignalBlocker blocker(control.popup);
      control.popup->setCurrentIndex(def.u.pd.value - 1);
      break;
    }
    case PF_Param_CHECKBOX: {
      const QSignalBlocker blocker(control.checkbox);
      control.checkbox->setChecked(def.u.bd.value != 0);
      break;
    }
    default:
      break;
  }
}

void EffectPanel::refresh(long frame) {
  if (customControl_) {
    customControl_->setFrame(frame);
  }
  const A_long time = static_cast<A_long>(frame * session_.clock.timeStep);
  for (const Control& control : controls_) {
    showValue(control, definitionAt(session_, control.position, time, session_.clock.timeScale));
    bool enabled = !isGreyedOut(session_, control.position);
    control.row->setEnabled(enabled);
    if (session_.params[control.position].def.param_type == PF_Param_LAYER) {
      emitterExtras_->setEnabled(enabled);
    }
    if (control.key) {
      const QSignalBlocker blocker(control.key);
      const bool keyed = hasKeyAt(session_.tracks[control.keyedPosition], time);
      control.key->setChecked(keyed);
      control.key->setText(keyed ? keyMark : noKeyMark);
    }
  }
}

void EffectPanel::showEmitter(const QString& description, const QString& text, const EmitterTextStyle& style,
                              const EmitterPlacement& placement, bool image) {
  if (!emitterLabel_) {
    return;
  }
  showingEmitter_ = true;
  emitterLabel_->setText(description);
  if (emitterText_->text() != text) {
    emitterText_->setText(text);
  }
  textFont_->setCurrentFont(QFont(QString::fromStdString(style.family)));
  textBold_->setChecked(style.bold);
  textSize_->setValue(style.pixelSize);
  textAlignment_->setCurrentIndex(static_cast<int>(style.alignment));
  textX_->setValue(style.anchorX * 100.0);
  textY_->setValue(style.anchorY * 100.0);
  imageFit_->setCurrentIndex(imageFit_->findData(static_cast<int>(placement.fit)));
  imageScale_->setValue(placement.scale);
  imageOffsetX_->setValue(placement.offsetX);
  imageOffsetY_->setValue(placement.offsetY);
  for (QWidget* row : textStyleRows_) {
    row->setVisible(!text.isEmpty());
  }
  for (QWidget* row : imagePlacementRows_) {
    row->setVisible(image);
  }
  showingEmitter_ = false;
}

int EffectPanel::widestMinimumWidth() {
  std::vector<QWidget*> shut;
  for (const std::vector<QWidget*>* rows : {&groupBodies_, &textStyleRows_, &imagePlacementRows_}) {
    for (QWidget* row : *rows) {
      if (row->isHidden()) {
        shut.push_back(row);
      }
    }
  }
  for (QWidget* row : shut) {
    row->setVisible(true);
  }
  const int width = minimumSizeHint().width();
  for (QWidget* row : shut) {
    row->setVisible(false);
  }
  return width;
}

const EffectPanel::Control* EffectPanel::findControl(const QString& qualifiedName) const {
  auto found = std::find_if(controls_.begin(), controls_.end(),
                            [&](const Control& control) { return control.name == qualifiedName; });
  return found == controls_.end() ? nullptr : &*found;
}

QWidget* EffectPanel::editor(const QString& qualifiedName) const {
  const Control* control = findControl(qualifiedName);
  return control ? control->editor : nullptr;
}

QWidget* EffectPanel::row(const QString& qualifiedName) const {
  const Control* control = findControl(qualifiedName);
  return control ? control->row : nullptr;
}

bool EffectPanel::dragging() const {
  return std::any_of(controls_.begin(), controls_.end(), [](const Control& control) {
    return (control.slider && control.slider->isSliderDown()) || (control.dial && control.dial->isSliderDown());
  });
}

int EffectPanel::selectedKeys() const { return selected_ < 0 ? -1 : controls_[selected_].keyedPosition; }

void EffectPanel::select(int index) {
  if (index == selected_) {
    return;
  }
  if (selected_ >= 0) {
    QLabel* label = controls_[selected_].label;
    label->setAutoFillBackground(false);
    label->setFont(font());
  }
  selected_ = index;
  if (index >= 0) {
    QLabel* label = controls_[index].label;
    QPalette tinted = label->palette();
    QColor tint = tinted.color(QPalette::Highlight);
    tint.setAlpha(70);
    tinted.setColor(QPalette::Window, tint);
    label->setPalette(tinted);
    label->setAutoFillBackground(true);
    QFont bold = font();
    bold.setBold(true);
    label->setFont(bold);
  }
  emit selectionChanged(selectedKeys());
  emit helpChanged(index >= 0 ? controls_[index].help : QString());
}

void EffectPanel::selectControlOf(int position) {
  for (size_t index = 0; index < controls_.size(); ++index) {
    if (controls_[index].position == position || controls_[index].keyedPosition == position) {
      select(static_cast<int>(index));
      return;
    }
  }
}

bool EffectPanel::eventFilter(QObject* watched, QEvent* event) {
  // Ignored, the wheel goes on to the scroll area around the panel.
  if (event->type() == QEvent::Wheel && watched->isWidgetType() && !static_cast<QWidget*>(watched)->hasFocus()) {
    event->ignore();
    return true;
  }
  if (event->type() == QEvent::MouseButtonDblClick || event->type() == QEvent::ContextMenu) {
    for (const Control& control : controls_) {
      if (watched != control.label) {
        continue;
      }
      if (event->type() == QEvent::MouseButtonDblClick) {
        std::vector<int> positions{control.position};
        if (control.keyedPosition != control.position) {
          positions.push_back(control.keyedPosition);
        }
        emit resetRequested(positions, control.name);
      } else {
        showResetMenu(&control, control.groupStart, static_cast<QContextMenuEvent*>(event)->globalPos());
      }
      return true;
    }
  }
  if (event->type() == QEvent::Enter || event->type() == QEvent::Leave) {
    for (const Control& control : controls_) {
      if (watched == control.row) {
        const bool entered = event->type() == QEvent::Enter;
        emit helpChanged(entered ? control.help : selected_ >= 0 ? controls_[selected_].help : QString());
      }
    }
  }
  // A click that no editor took reaches the row: on its label or between its editors. It selects
  // the control, or clears the selection when the control is already selected.
  if (event->type() == QEvent::MouseButtonPress) {
    for (size_t index = 0; index < controls_.size(); ++index) {
      if (watched == controls_[index].row) {
        select(static_cast<int>(index) == selected_ ? -1 : static_cast<int>(index));
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void EffectPanel::mousePressEvent(QMouseEvent* event) {
  select(-1);
  event->accept();
}
