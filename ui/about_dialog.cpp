#include "ui/about_dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "ui/about_information.h"

namespace {

// The dialog's layout in dialog units: a horizontal unit is a quarter of the dialog font's average
// character width, a vertical unit an eighth of its height, so the layout follows the font.
constexpr int dialogWidthUnits = 310;
constexpr int dialogHeightUnits = 132;

struct StaticText {
  QRect units;
  const char* text;
};

const StaticText titleText{{12, 9, 286, 14}, "Vortelline"};
const StaticText staticTexts[] = {
    {{12, 29, 286, 10}, "make by Ternwick"},
    {{12, 42, 286, 10}, makerWebsite},
    {{12, 64, 286, 10}, "Flame shader by the Vortelline authors, ported to a compute kernel by Ternwick"},
    {{12, 74, 286, 10}, "Plug-in code and value noise by Ternwick"},
    {{12, 84, 286, 10}, "Shader source: https://www.ternwick.com/vortelline/source"},
    {{12, 94, 286, 10}, "Shader code licensed under the MIT License"},
};
const QRect visitButtonUnits{140, 112, 76, 12};
const QRect closeButtonUnits{222, 112, 76, 12};

// The font the dialog is laid out in: Segoe UI where it exists, else the platform's UI font, 8 pt.
QFont dialogFont() {
  QFont font = QFontDatabase::hasFamily("Segoe UI") ? QFont("Segoe UI") : QApplication::font();
  font.setPointSize(8);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  return font;
}

// Pixels per four horizontal and eight vertical dialog units: the average width of the 52 Latin
// letters, rounded, and the font's height.
QSize dialogBaseUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  return QSize((letters / 26 + 1) / 2, metrics.height());
}

QRect toPixels(const QRect& units, QSize base) {
  return QRect(mulDiv(units.x(), base.width(), 4), mulDiv(units.y(), base.height(), 8),
               mulDiv(units.width(), base.width(), 4), mulDiv(units.height(), base.height(), 8));
}

// Whether the keyboard has been used in the dialog; until then focus cues stay hidden, as the
// platform does for dialogs opened with the mouse.
struct FocusCues {
  bool shown = false;
};

class DialogButton : public QAbstractButton {
 public:
  DialogButton(const QString& text, const QColor& background, const FocusCues& cues, QWidget* parent)
      : QAbstractButton(parent), background_(background), cues_(cues) {
    setText(text);
    setFocusPolicy(Qt::StrongFocus);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const ButtonState state{isDown(), hasFocus(), !cues_.shown, !isEnabled()};
    drawDialogButton(painter, rect(), text(), font(), state, logicalDpiX(), background_);
  }

 private:
  QColor background_;
  const FocusCues& cues_;
};

class AboutDialog : public QDialog {
 public:
  AboutDialog(QWidget* owner, const AboutColours& colours) : QDialog(owner) {
    setWindowTitle("About");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    const QFont font = dialogFont();
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, colours.background);
    palette.setColor(QPalette::WindowText, colours.text);
    setPalette(palette);
    setAutoFillBackground(true);

    const QSize base = dialogBaseUnits(font);
    setFixedSize(toPixels(QRect(0, 0, dialogWidthUnits, dialogHeightUnits), base).size());

    QLabel* title = addText(titleText, base);
    QFont titleFont = font;
    titleFont.setWeight(QFont::DemiBold);  // 600
    titleFont.setPixelSize(mulDiv(QFontInfo(font).pixelSize(), 10, 8));
    title->setFont(titleFont);
    for (const StaticText& text : staticTexts) addText(text, base);

    auto* visit = new DialogButton("Visit Website", colours.background, cues_, this);
    visit->setGeometry(toPixels(visitButtonUnits, base));
    auto* close = new DialogButton("Close", colours.background, cues_, this);
    close->setGeometry(toPixels(closeButtonUnits, base));
    for (QAbstractButton* button : {visit, close}) button->installEventFilter(this);
    connect(visit, &QAbstractButton::clicked, this, [this] { openWebsite(); });
    connect(close, &QAbstractButton::clicked, this, [this] { done(0); });
    close->setFocus();
    placeOver(owner);
  }

 protected:
  // Enter and Escape close the dialog from any button, as the platform's dialogs do.
  void keyPressEvent(QKeyEvent* event) override {
    showFocusCues();
    switch (event->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
      case Qt::Key_Escape:
        done(0);
        return;
      default:
        QDialog::keyPressEvent(event);
    }
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) showFocusCues();
    return QDialog::eventFilter(watched, event);
  }

 private:
  QLabel* addText(const StaticText& text, QSize base) {
    auto* label = new QLabel(QString::fromUtf8(text.text), this);
    label->setGeometry(toPixels(text.units, base));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    return label;
  }

  void showFocusCues() {
    if (cues_.shown) return;
    cues_.shown = true;
    for (QWidget* child : findChildren<DialogButton*>()) child->update();
  }

  void openWebsite() {
    if (QDesktopServices::openUrl(QUrl(QString::fromUtf8(makerWebsite)))) return;
    QMessageBox::information(this, "Vortelline",
                             QString("Please open %1 in your browser.").arg(QString::fromUtf8(makerWebsite)));
  }

  // The frame around the dialog is not known before the window manager has shown it; the owner's
  // frame is the best estimate of its size.
  void placeOver(QWidget* owner) {
    if (owner == nullptr || owner->screen() == nullptr) return;
    const QRect ownerFrame = owner->frameGeometry();
    const QRect ownerClient = owner->geometry();
    const QMargins frame(ownerClient.left() - ownerFrame.left(), ownerClient.top() - ownerFrame.top(),
                         ownerFrame.right() - ownerClient.right(), ownerFrame.bottom() - ownerClient.bottom());
    move(placeOverOwner(size().grownBy(frame), ownerFrame, owner->screen()->availableGeometry()));
  }

  FocusCues cues_;
};

// The host's main window, when it is a widget of a QApplication running on this thread. The
// pointer is compared with Qt's own widgets before it is used as one.
QWidget* hostMainWindow(void* window) {
  const auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (window == nullptr || application == nullptr || QThread::currentThread() != application->thread()) return nullptr;
  const QWidgetList widgets = QApplication::allWidgets();
  const auto found = std::find(widgets.begin(), widgets.end(), static_cast<QWidget*>(window));
  return found != widgets.end() ? (*found)->window() : nullptr;
}

}  // namespace

int mulDiv(int number, int numerator, int denominator) {
  if (denominator == 0) return -1;
  const int64_t product = int64_t(number) * numerator;
  const bool negative = (product < 0) != (denominator < 0);
  const uint64_t magnitude = product < 0 ? uint64_t(-product) : uint64_t(product);
  const uint64_t divisor = denominator < 0 ? uint64_t(-int64_t(denominator)) : uint64_t(denominator);
  const uint64_t rounded = (magnitude + divisor / 2) / divisor;
  if (rounded > uint64_t(std::numeric_limits<int>::max())) return -1;
  return negative ? -int(rounded) : int(rounded);
}

QColor colourFromHost(const PF_App_Color& colour) {
  return QColor((colour.red + 128) / 257, (colour.green + 128) / 257, (colour.blue + 128) / 257);
}

QPoint placeOverOwner(QSize frameSize, const QRect& ownerFrame, const QRect& workArea) {
  // Edges as the platform counts them: right and bottom one past the last pixel. Integer halves
  // round toward zero, also left of or above the primary screen.
  const int ownerRight = ownerFrame.x() + ownerFrame.width();
  const int ownerBottom = ownerFrame.y() + ownerFrame.height();
  const int workRight = workArea.x() + workArea.width();
  const int workBottom = workArea.y() + workArea.height();
  const int x = (ownerFrame.x() + ownerRight - frameSize.width()) / 2;
  const int y = (ownerFrame.y() + ownerBottom - frameSize.height()) / 2;
  return QPoint(std::clamp(x, workArea.x(), std::max(workArea.x(), workRight - frameSize.width())),
                std::clamp(y, workArea.y(), std::max(workArea.y(), workBottom - frameSize.height())));
}

ButtonMetrics buttonMetricsAt(int dpi) { return ButtonMetrics{mulDiv(1, dpi, 96), mulDiv(8, dpi, 96)}; }

void drawDialogButton(QPainter& painter, const QRect& rect, const QString& text, const QFont& font,
                      const ButtonState& state, int dpi, const QColor& background) {
  painter.save();
  painter.fillRect(rect, background);
  const ButtonMetrics metrics = buttonMetricsAt(dpi);
  const QColor face = state.pressed ? QColor(26, 26, 26) : QColor(14, 14, 14);
  const bool focusCue = state.focused && !state.focusCuesHidden;
  const QColor border = focusCue ? QColor(105, 105, 105) : QColor(54, 54, 54);
  // The stroke is centred on the outline: inset by half the border width it stays inside rect.
  const double inset = metrics.borderWidth / 2.0;
  const QRectF outline = QRectF(rect).adjusted(inset, inset, -inset, -inset);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(border, metrics.borderWidth, Qt::SolidLine));
  painter.setBrush(face);
  painter.drawRoundedRect(outline, metrics.cornerSize / 2.0, metrics.cornerSize / 2.0);
  painter.setFont(font);
  painter.setPen(state.disabled ? QColor(115, 115, 115) : QColor(195, 195, 195));
  painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, text);
  painter.restore();
}

std::unique_ptr<QDialog> makeAboutDialog(QWidget* owner, const AboutColours& colours) {
  return std::make_unique<AboutDialog>(owner != nullptr ? owner->window() : nullptr, colours);
}

bool showAboutDialogOver(void* window, const AboutColours& colours) {
  QWidget* mainWindow = hostMainWindow(window);
  if (mainWindow == nullptr) return false;
  makeAboutDialog(mainWindow, colours)->exec();
  return true;
}
