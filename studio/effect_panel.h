// The effect's control panel, built from what the module declared at parameter set-up: groups as
// collapsible sections, sliders with value fields, angle dials, popups, checkboxes, the emitter
// layer as an image chooser or a text, and the effect's options button. It shows the session's
// values and the state the effect last drew; edits go out as signals. One control at a time can be
// selected (its label is highlighted): the timeline shows that control's keys. The wheel turns
// only the editor that has the keyboard focus; elsewhere it scrolls the panel. A label's context
// menu resets its control, its group or every control; a double-click resets the control.
#pragma once

#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "authoring/emitter_placement.h"
#include "session/host_session.h"
#include "drawing/emitter_text.h"

class CustomControlView;
class QCheckBox;
class QColor;
class QComboBox;
class QDial;
class QDoubleSpinBox;
class QFontComboBox;
class QSpinBox;
class QLabel;
class QLineEdit;
class QMouseEvent;
class QSlider;
class QTimer;
class QToolButton;
class QVBoxLayout;

class EffectPanel : public QWidget {
  Q_OBJECT

 public:
  EffectPanel(HostSession& session, QWidget* parent = nullptr);

  // Shows the values at the frame and the controls the effect greys out.
  void refresh(long frame);
  // What the emitter layer shows: a file name (image: its placement applies), a text in a style,
  // or the layer itself.
  void showEmitter(const QString& description, const QString& text, const EmitterTextStyle& style,
                   const EmitterPlacement& placement, bool image);

  // The editor of a control by its qualified name ("Emitter/Source"), or nullptr.
  QWidget* editor(const QString& qualifiedName) const;
  // The row holding a control's label and editors.
  QWidget* row(const QString& qualifiedName) const;
  // The position whose keys the selected control shows (a hue dial's hidden slider), or -1.
  int selectedKeys() const;
  // Whether a slider or dial is being dragged: its edits are one change.
  bool dragging() const;
  // The value controls of the group that starts at a position, hidden ones too; every value
  // control for -1.
  std::vector<int> groupPositions(int groupStart) const;
  // The least width with every group open and every row of the emitter shown: the panel's width
  // when it never changes as groups open and shut.
  int widestMinimumWidth();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // A click on the panel outside every control clears the selection.
  void mousePressEvent(QMouseEvent* event) override;

 signals:
  void valueEdited(int position, double value);
  void keyToggled(int position);
  void emitterImageChosen(const QString& path);  // empty: the layer itself
  // While typing, once the typing pauses.
  void emitterTextEdited(const QString& text);
  // Back to the declared values; what names the reset for the undo history.
  void resetRequested(const std::vector<int>& positions, const QString& what);
  void dragStarted();
  void emitterTextStyleEdited(const EmitterTextStyle& style);
  void emitterPlacementEdited(const EmitterPlacement& placement);
  // What the control under the pointer (else the selected one) does, from the control guide.
  void helpChanged(const QString& help);
  void optionsButtonPressed();
  void selectionChanged(int keyedPosition);  // -1: none selected

 private:
  struct Control {
    QString name;  // qualified: "Group/Name"
    QString help;  // from the control guide; empty when it has no entry
    int position = 0;
    int keyedPosition = 0;  // the control whose keys the key button sets (a dial's hidden slider)
    int groupStart = -1;    // the position of its group's start, -1 outside every group
    QWidget* row = nullptr;
    QLabel* label = nullptr;
    QWidget* editor = nullptr;
    QSlider* slider = nullptr;
    QDoubleSpinBox* number = nullptr;
    QDial* dial = nullptr;
    QComboBox* popup = nullptr;
    QCheckBox* checkbox = nullptr;
    QToolButton* key = nullptr;
    QToolButton* swatch = nullptr;  // a hue dial's colour, with a colour picker
  };

  QVBoxLayout* addGroup(QVBoxLayout* parent, int groupStart, bool collapsed);
  void addControl(int position, int groupStart, QVBoxLayout* into);
  // Only the focused editor takes the wheel.
  void guardWheel(QWidget* editor);
  // Resets for the control (if any), its group (if any) and every control.
  void showResetMenu(const Control* control, int groupStart, const QPoint& where);
  void addSlider(Control& control, const PF_FloatSliderDef& def);
  void addAngle(Control& control);
  void addLayer(Control& control);
  QToolButton* addKeyButton(Control& control);
  void showValue(const Control& control, const PF_ParamDef& def);
  const Control* findControl(const QString& qualifiedName) const;
  // Selects the control at the index into controls_ (-1: none) and highlights its label.
  void select(int index);
  void selectControlOf(int position);

  HostSession& session_;
  std::vector<Control> controls_;
  int selected_ = -1;
  QLabel* emitterLabel_ = nullptr;
  EmitterTextStyle textStyle() const;
  EmitterPlacement placement() const;

  QLineEdit* emitterText_ = nullptr;
  QTimer* emitterTextPause_ = nullptr;
  QWidget* emitterExtras_ = nullptr;  // text, its style and the image's placement, below the layer
  std::vector<QWidget*> groupBodies_;
  std::vector<QWidget*> textStyleRows_;
  std::vector<QWidget*> imagePlacementRows_;
  QFontComboBox* textFont_ = nullptr;
  QCheckBox* textBold_ = nullptr;
  QSpinBox* textSize_ = nullptr;
  QComboBox* textAlignment_ = nullptr;
  QDoubleSpinBox* textX_ = nullptr;
  QDoubleSpinBox* textY_ = nullptr;
  QComboBox* imageFit_ = nullptr;
  QDoubleSpinBox* imageScale_ = nullptr;
  QDoubleSpinBox* imageOffsetX_ = nullptr;
  QDoubleSpinBox* imageOffsetY_ = nullptr;
  bool showingEmitter_ = false;  // editors set to show the state send no edits
  CustomControlView* customControl_ = nullptr;
};
