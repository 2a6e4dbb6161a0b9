// The About dialog itself, in Qt: what the companion object shows over a Qt host's main window,
// and its parts, for the tests and screenshots.
#pragma once

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QRect>
#include <QString>

#include <memory>

#include "sdk/suites_sdk.h"

class QDialog;
class QPainter;
class QWidget;

struct AboutColours {
  QColor background{32, 32, 32};
  QColor text{195, 195, 195};
};

// Shows the modal dialog over the window when it is a widget of a QApplication running on this
// thread, and returns true; otherwise returns false without touching the window.
bool showAboutDialogOver(void* window, const AboutColours& colours);

// ---- The dialog's parts, for the hosts' tests and screenshots ----

// The platform's MulDiv: number * numerator / denominator rounded to the nearest integer, halves
// away from zero, with a 64-bit product; -1 when the denominator is 0 or the result overflows.
int mulDiv(int number, int numerator, int denominator);

// A host colour of three 16-bit channels as 8 bits each: (c + 128) / 257, the nearest step.
QColor colourFromHost(const PF_App_Color& colour);

// Where a dialog of frameSize goes: centred on the owner's frame, then moved into the work area
// (a dialog wider or higher than the work area keeps its left or top edge on the work area's).
QPoint placeOverOwner(QSize frameSize, const QRect& ownerFrame, const QRect& workArea);

struct ButtonMetrics {
  int borderWidth;  // pixels
  int cornerSize;   // width and height of the corner ellipse, pixels
};
ButtonMetrics buttonMetricsAt(int dpi);

struct ButtonState {
  bool pressed = false;
  bool focused = false;
  bool focusCuesHidden = true;  // until the keyboard is used in the dialog
  bool disabled = false;
};

// Paints one of the dialog's dark rounded buttons over rect.
void drawDialogButton(QPainter& painter, const QRect& rect, const QString& text, const QFont& font,
                      const ButtonState& state, int dpi, const QColor& background);

// The dialog, owned by owner's window and placed over it; needs a QApplication.
std::unique_ptr<QDialog> makeAboutDialog(QWidget* owner, const AboutColours& colours);
