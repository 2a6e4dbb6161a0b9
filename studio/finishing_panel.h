// The finishing controls' panel (Glow, Flicker, Emitter Key), built from the finishing table as the
// effect's panel is built from the effect's declarations: each group a collapsible section, sliders
// with value fields and the key's popup; a double-click on a label resets its control. Edits go out
// as signals; the window keeps the values.
#pragma once

#include <QWidget>
#include <vector>

#include "finishing/finishing_controls.h"

class QComboBox;
class QDoubleSpinBox;
class QSlider;
class QToolButton;

class FinishingPanel : public QWidget {
  Q_OBJECT

 public:
  explicit FinishingPanel(QWidget* parent = nullptr);

  // Shows the values, opening the groups that are in use; sends no edits.
  void show(const FinishingValues& finishing);
  // The editor of a control by its name ("Glow/Amount"), or nullptr.
  QWidget* editor(const QString& name) const;
  // Whether a slider is being dragged: its edits are one change.
  bool dragging() const;

 signals:
  void valueEdited(int id, double value);
  void dragStarted();
  void helpChanged(const QString& help);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Control {
    QSlider* slider = nullptr;
    QDoubleSpinBox* number = nullptr;
    QComboBox* popup = nullptr;
  };
  std::vector<Control> controls_;
  // Each group's header, by the id of its first control.
  std::vector<std::pair<int, QToolButton*>> headers_;
};
